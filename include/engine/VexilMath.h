#pragma once
// Plain vector and matrix values of the engine (floats; matrices row after row).
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
};

static_assert(sizeof(CVector2D) == 8 && sizeof(CVector3D) == 12 && sizeof(CMatrix4x4) == 64,
              "serialised as packed floats");

}  // namespace Vexil3D
