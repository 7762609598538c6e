#pragma once
// Plain vector and matrix values of the engine (floats; matrices row after row, points as row vectors,
// the translation in the fourth row). Nothing fails but the inverse of a singular matrix; no locking.
namespace Vexil3D {

struct CVector2D {
  float x = 0.0f;
  float y = 0.0f;
};

struct CVector3D {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

struct CVector4D {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 0.0f;
};

struct CMatrix4x4 {
  float m[16] = {};

  void SetIdentity();
  // Identity with v in elements 12, 13 and 14.
  void SetTranslate(const CVector3D& v);
  void SetRotateX(float angle);
  void SetRotateY(float angle);
  void SetRotateZ(float angle);
  // RotateX(x) x RotateY(y) x RotateZ(z).
  void SetRotate(float x, float y, float z);
  // out = a x b; out may be a or b.
  static void Multiply(CMatrix4x4* out, const CMatrix4x4& a, const CMatrix4x4& b);
  // This matrix becomes the inverse of m (which may be this matrix), computed in double precision.
  // A determinant of exactly 0 gives false and changes nothing; else the determinant goes to
  // *determinant when asked.
  bool SetInverse(const CMatrix4x4& m, float* determinant);
};

static_assert(sizeof(CVector2D) == 8 && sizeof(CVector3D) == 12 && sizeof(CMatrix4x4) == 64,
              "serialised as packed floats");

}  // namespace Vexil3D
