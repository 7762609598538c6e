// Matrix operations of CMatrix4x4: identity, translation, rotations, product and inverse.
#include <engine/VexilMath.h>

#include <cmath>

namespace Vexil3D {

namespace {

constexpr int kSide = 4;
constexpr int kElements = kSide * kSide;
constexpr int kTranslateX = 12;
constexpr int kTranslateY = 13;
constexpr int kTranslateZ = 14;

// Sets the three-by-three rotation block at rows and columns i, j (the third axis untouched).
void SetPlaneRotation(CMatrix4x4* matrix, int i, int j, float c, float s) {
  matrix->SetIdentity();
  matrix->m[i * kSide + i] = c;
  matrix->m[i * kSide + j] = s;
  matrix->m[j * kSide + i] = -s;
  matrix->m[j * kSide + j] = c;
}

}  // namespace

void CMatrix4x4::SetIdentity() {
  for (int i = 0; i < kElements; ++i) m[i] = (i % (kSide + 1) == 0) ? 1.0f : 0.0f;
}

void CMatrix4x4::SetTranslate(const CVector3D& v) {
  SetIdentity();
  m[kTranslateX] = v.x;
  m[kTranslateY] = v.y;
  m[kTranslateZ] = v.z;
}

// Rows (1,0,0,0), (0,c,s,0), (0,-s,c,0), (0,0,0,1).
void CMatrix4x4::SetRotateX(float angle) { SetPlaneRotation(this, 1, 2, std::cos(angle), std::sin(angle)); }

// Rows (c,0,-s,0), (0,1,0,0), (s,0,c,0), (0,0,0,1).
void CMatrix4x4::SetRotateY(float angle) { SetPlaneRotation(this, 0, 2, std::cos(angle), -std::sin(angle)); }

// Rows (c,s,0,0), (-s,c,0,0), (0,0,1,0), (0,0,0,1).
void CMatrix4x4::SetRotateZ(float angle) { SetPlaneRotation(this, 0, 1, std::cos(angle), std::sin(angle)); }

void CMatrix4x4::SetRotate(float x, float y, float z) {
  CMatrix4x4 rx, ry, rz;
  rx.SetRotateX(x);
  ry.SetRotateY(y);
  rz.SetRotateZ(z);
  Multiply(this, rx, ry);
  Multiply(this, *this, rz);
}

void CMatrix4x4::Multiply(CMatrix4x4* out, const CMatrix4x4& a, const CMatrix4x4& b) {
  CMatrix4x4 product;  // through a temporary: out may be a or b
  for (int row = 0; row < kSide; ++row) {
    for (int col = 0; col < kSide; ++col) {
      float sum = 0.0f;
      for (int k = 0; k < kSide; ++k) sum += a.m[row * kSide + k] * b.m[k * kSide + col];
      product.m[row * kSide + col] = sum;
    }
  }
  *out = product;
}

bool CMatrix4x4::SetInverse(const CMatrix4x4& source, float* determinant) {
  double a[kElements];
  for (int i = 0; i < kElements; ++i) a[i] = source.m[i];
  // Cofactors by two-by-two minors of the upper and lower row pairs.
  const double s0 = a[0] * a[5] - a[4] * a[1];
  const double s1 = a[0] * a[6] - a[4] * a[2];
  const double s2 = a[0] * a[7] - a[4] * a[3];
  const double s3 = a[1] * a[6] - a[5] * a[2];
  const double s4 = a[1] * a[7] - a[5] * a[3];
  const double s5 = a[2] * a[7] - a[6] * a[3];
  const double c5 = a[10] * a[15] - a[14] * a[11];
  const double c4 = a[9] * a[15] - a[13] * a[11];
  const double c3 = a[9] * a[14] - a[13] * a[10];
  const double c2 = a[8] * a[15] - a[12] * a[11];
  const double c1 = a[8] * a[14] - a[12] * a[10];
  const double c0 = a[8] * a[13] - a[12] * a[9];
  const auto det = static_cast<float>(s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0);
  if (det == 0.0f) return false;
  const double inv = 1.0 / det;
  double r[kElements];
  r[0] = (a[5] * c5 - a[6] * c4 + a[7] * c3) * inv;
  r[1] = (-a[1] * c5 + a[2] * c4 - a[3] * c3) * inv;
  r[2] = (a[13] * s5 - a[14] * s4 + a[15] * s3) * inv;
  r[3] = (-a[9] * s5 + a[10] * s4 - a[11] * s3) * inv;
  r[4] = (-a[4] * c5 + a[6] * c2 - a[7] * c1) * inv;
  r[5] = (a[0] * c5 - a[2] * c2 + a[3] * c1) * inv;
  r[6] = (-a[12] * s5 + a[14] * s2 - a[15] * s1) * inv;
  r[7] = (a[8] * s5 - a[10] * s2 + a[11] * s1) * inv;
  r[8] = (a[4] * c4 - a[5] * c2 + a[7] * c0) * inv;
  r[9] = (-a[0] * c4 + a[1] * c2 - a[3] * c0) * inv;
  r[10] = (a[12] * s4 - a[13] * s2 + a[15] * s0) * inv;
  r[11] = (-a[8] * s4 + a[9] * s2 - a[11] * s0) * inv;
  r[12] = (-a[4] * c3 + a[5] * c1 - a[6] * c0) * inv;
  r[13] = (a[0] * c3 - a[1] * c1 + a[2] * c0) * inv;
  r[14] = (-a[12] * s3 + a[13] * s1 - a[14] * s0) * inv;
  r[15] = (a[8] * s3 - a[9] * s1 + a[10] * s0) * inv;
  for (int i = 0; i < kElements; ++i) m[i] = static_cast<float>(r[i]);
  if (determinant) *determinant = det;
  return true;
}

}  // namespace Vexil3D
