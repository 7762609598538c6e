#pragma once
// Single-precision vectors (tVector1D to tVector4D) and the 4x4 matrix (tMatrix4x4) of the script classes, with
// the matrix transforms of a 3-D camera and scene: product, translation, scale, rotations, projections, look-at
// views, vector transforms and the inverse.
//
// Conventions: row-major, element m[r][c] is float number 4r + c; vectors are row vectors multiplied from the
// left (v x M); the translation stands in the fourth row; angles are in radians. Arithmetic is IEEE single
// precision; cosines, sines, tangents and square roots are taken in double precision and rounded to float.
// Errors: none; degenerate input (a singular matrix, a zero-length vector, r = l, zn = zf, fovy = 0, eye = at)
// divides by zero and gives infinite or not-a-number elements.
// Every function that writes a matrix may be given one of its operands as the result.
// Locking: none; plain values.
#include <cmath>
#include <cstdint>

// N components, in the order X, Y, Z, W.
template <typename T, std::uint32_t N>
struct tVector {
  static constexpr std::uint32_t kSize = N;
  T m[N];
  T& operator[](std::uint32_t i) { return m[i]; }
  const T& operator[](std::uint32_t i) const { return m[i]; }
};
template <typename T>
using tVector1D = tVector<T, 1>;
template <typename T>
using tVector2D = tVector<T, 2>;
template <typename T>
using tVector3D = tVector<T, 3>;
template <typename T>
using tVector4D = tVector<T, 4>;

template <typename T>
struct tMatrix4x4 {
  static constexpr std::uint32_t kRows = 4;
  static constexpr std::uint32_t kElements = 16;
  tVector4D<T> m[kRows];
  tVector4D<T>& operator[](std::uint32_t r) { return m[r]; }
  const tVector4D<T>& operator[](std::uint32_t r) const { return m[r]; }
  // Element number i in storage order.
  T& Element(std::uint32_t i) { return m[i / kRows].m[i % kRows]; }
  const T& Element(std::uint32_t i) const { return m[i / kRows].m[i % kRows]; }
};

using Vector3 = tVector3D<float>;
using Matrix4 = tMatrix4x4<float>;

// Square root of the sum of the squared components: the sum in single precision, the root in double.
template <std::uint32_t N>
float VectorLength(const float* v) {
  float sum = 0.0f;
  for (std::uint32_t i = 0; i < N; ++i) sum += v[i] * v[i];
  return float(std::sqrt(double(sum)));
}
template <std::uint32_t N>
float VectorDot(const float* a, const float* b) {
  float sum = 0.0f;
  for (std::uint32_t i = 0; i < N; ++i) sum += a[i] * b[i];
  return sum;
}
// out = a x b; out may be a or b.
void VectorCross(float* out, const float* a, const float* b);

void MatrixIdentity(Matrix4& out);
// out = a x b.
void MatrixMultiply(Matrix4& out, const Matrix4& a, const Matrix4& b);
void MatrixTranslate(Matrix4& out, const float* t);
void MatrixScale(Matrix4& out, const float* s);
void MatrixRotateX(Matrix4& out, float angle);
void MatrixRotateY(Matrix4& out, float angle);
void MatrixRotateZ(Matrix4& out, float angle);
void MatrixOrthoOffCentreRH(Matrix4& out, float l, float r, float b, float t, float zn, float zf);
void MatrixPerspectiveFOVLH(Matrix4& out, float fovy, float aspect, float zn, float zf);
void MatrixPerspectiveFOVRH(Matrix4& out, float fovy, float aspect, float zn, float zf);
void MatrixLookAtLH(Matrix4& out, const float* eye, const float* at, const float* up);
void MatrixLookAtRH(Matrix4& out, const float* eye, const float* at, const float* up);
// v x the upper 3x3 part; TransformCoordinate adds m[3][0..2] (no division by a fourth coordinate).
void MatrixTransformNormal(float* out, const Matrix4& m, const float* v);
void MatrixTransformCoordinate(float* out, const Matrix4& m, const float* v);
// out = the adjugate of in times 1 / determinant, with no test for a zero determinant; the reciprocal is stored
// when asked for.
void MatrixInverse(Matrix4& out, const Matrix4& in, float* reciprocal);
