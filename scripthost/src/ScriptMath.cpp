// Matrix and vector formulas of the script math classes, in single precision.
#include <scripthost/ScriptMath.h>

namespace {

constexpr std::uint32_t kX = 0, kY = 1, kZ = 2, kW = 3;
constexpr std::uint32_t kAxes = 3;

void Clear(Matrix4& out) {
  for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) out.Element(i) = 0.0f;
}

void Normalise(float* v) {
  const float length = VectorLength<kAxes>(v);
  for (std::uint32_t i = 0; i < kAxes; ++i) v[i] /= length;
}

// The determinant of in without row `row` and column `column`.
float Minor(const Matrix4& in, std::uint32_t row, std::uint32_t column) {
  std::uint32_t r[kAxes], c[kAxes];
  for (std::uint32_t i = 0, n = 0; i < Matrix4::kRows; ++i) {
    if (i != row) r[n++] = i;
  }
  for (std::uint32_t i = 0, n = 0; i < Matrix4::kRows; ++i) {
    if (i != column) c[n++] = i;
  }
  const auto at = [&](std::uint32_t i, std::uint32_t j) { return in[r[i]][c[j]]; };
  return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
         at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
         at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
}

void LookAt(Matrix4& out, const float* eye, const float* z, const float* up) {
  float x[kAxes], y[kAxes];
  VectorCross(x, up, z);
  Normalise(x);
  VectorCross(y, z, x);
  const float* axes[kAxes] = {x, y, z};
  for (std::uint32_t column = 0; column < kAxes; ++column) {
    for (std::uint32_t row = 0; row < kAxes; ++row) out[row][column] = axes[column][row];
    out[kW][column] = -VectorDot<kAxes>(axes[column], eye);
    out[column][kW] = 0.0f;
  }
  out[kW][kW] = 1.0f;
}

}  // namespace

void VectorCross(float* out, const float* a, const float* b) {
  const float x = a[kY] * b[kZ] - b[kY] * a[kZ];
  const float y = b[kX] * a[kZ] - a[kX] * b[kZ];
  const float z = b[kY] * a[kX] - b[kX] * a[kY];
  out[kX] = x;
  out[kY] = y;
  out[kZ] = z;
}

void MatrixIdentity(Matrix4& out) {
  Clear(out);
  for (std::uint32_t i = 0; i < Matrix4::kRows; ++i) out[i][i] = 1.0f;
}

void MatrixMultiply(Matrix4& out, const Matrix4& a, const Matrix4& b) {
  // Into a temporary: out may be a or b.
  Matrix4 product;
  for (std::uint32_t i = 0; i < Matrix4::kRows; ++i) {
    for (std::uint32_t j = 0; j < Matrix4::kRows; ++j) {
      float sum = 0.0f;
      for (std::uint32_t k = 0; k < Matrix4::kRows; ++k) sum += a[i][k] * b[k][j];
      product[i][j] = sum;
    }
  }
  out = product;
}

void MatrixTranslate(Matrix4& out, const float* t) {
  const float x = t[kX], y = t[kY], z = t[kZ];
  MatrixIdentity(out);
  out[kW][kX] = x;
  out[kW][kY] = y;
  out[kW][kZ] = z;
}

void MatrixScale(Matrix4& out, const float* s) {
  const float x = s[kX], y = s[kY], z = s[kZ];
  Clear(out);
  out[kX][kX] = x;
  out[kY][kY] = y;
  out[kZ][kZ] = z;
  out[kW][kW] = 1.0f;
}

void MatrixRotateX(Matrix4& out, float angle) {
  const float c = float(std::cos(double(angle))), s = float(std::sin(double(angle)));
  Clear(out);
  out[kX][kX] = 1.0f;
  out[kY][kY] = c;
  out[kY][kZ] = s;
  out[kZ][kY] = -s;
  out[kZ][kZ] = c;
  out[kW][kW] = 1.0f;
}

void MatrixRotateY(Matrix4& out, float angle) {
  const float c = float(std::cos(double(angle))), s = float(std::sin(double(angle)));
  Clear(out);
  out[kX][kX] = c;
  out[kX][kZ] = -s;
  out[kY][kY] = 1.0f;
  out[kZ][kX] = s;
  out[kZ][kZ] = c;
  out[kW][kW] = 1.0f;
}

void MatrixRotateZ(Matrix4& out, float angle) {
  const float c = float(std::cos(double(angle))), s = float(std::sin(double(angle)));
  Clear(out);
  out[kX][kX] = c;
  out[kX][kY] = s;
  out[kY][kX] = -s;
  out[kY][kY] = c;
  out[kZ][kZ] = 1.0f;
  out[kW][kW] = 1.0f;
}

void MatrixOrthoOffCentreRH(Matrix4& out, float l, float r, float b, float t, float zn, float zf) {
  Clear(out);
  out[kX][kX] = 2.0f / (r - l);
  out[kY][kY] = 2.0f / (t - b);
  out[kZ][kZ] = 1.0f / (zn - zf);
  out[kW][kX] = (l + r) / (l - r);
  out[kW][kY] = (t + b) / (b - t);
  out[kW][kZ] = zn / (zn - zf);
  out[kW][kW] = 1.0f;
}

void MatrixPerspectiveFOVLH(Matrix4& out, float fovy, float aspect, float zn, float zf) {
  const float h = float(1.0 / std::tan(double(fovy) / 2.0));
  Clear(out);
  out[kX][kX] = h / aspect;
  out[kY][kY] = h;
  out[kZ][kZ] = zf / (zf - zn);
  out[kZ][kW] = 1.0f;
  out[kW][kZ] = -zn * zf / (zf - zn);
}

void MatrixPerspectiveFOVRH(Matrix4& out, float fovy, float aspect, float zn, float zf) {
  const float h = float(1.0 / std::tan(double(fovy) / 2.0));
  Clear(out);
  out[kX][kX] = h / aspect;
  out[kY][kY] = h;
  out[kZ][kZ] = zf / (zn - zf);
  out[kZ][kW] = -1.0f;
  out[kW][kZ] = zn * zf / (zn - zf);
}

void MatrixLookAtLH(Matrix4& out, const float* eye, const float* at, const float* up) {
  float z[kAxes];
  for (std::uint32_t i = 0; i < kAxes; ++i) z[i] = at[i] - eye[i];
  Normalise(z);
  float e[kAxes] = {eye[kX], eye[kY], eye[kZ]}, u[kAxes] = {up[kX], up[kY], up[kZ]};
  LookAt(out, e, z, u);
}

void MatrixLookAtRH(Matrix4& out, const float* eye, const float* at, const float* up) {
  float z[kAxes];
  for (std::uint32_t i = 0; i < kAxes; ++i) z[i] = eye[i] - at[i];
  Normalise(z);
  float e[kAxes] = {eye[kX], eye[kY], eye[kZ]}, u[kAxes] = {up[kX], up[kY], up[kZ]};
  LookAt(out, e, z, u);
}

void MatrixTransformNormal(float* out, const Matrix4& m, const float* v) {
  float result[kAxes];
  for (std::uint32_t j = 0; j < kAxes; ++j) result[j] = v[kX] * m[kX][j] + v[kY] * m[kY][j] + v[kZ] * m[kZ][j];
  for (std::uint32_t j = 0; j < kAxes; ++j) out[j] = result[j];
}

void MatrixTransformCoordinate(float* out, const Matrix4& m, const float* v) {
  float result[kAxes];
  for (std::uint32_t j = 0; j < kAxes; ++j) {
    result[j] = v[kX] * m[kX][j] + v[kY] * m[kY][j] + v[kZ] * m[kZ][j] + m[kW][j];
  }
  for (std::uint32_t j = 0; j < kAxes; ++j) out[j] = result[j];
}

void MatrixInverse(Matrix4& out, const Matrix4& in, float* reciprocal) {
  // Into a temporary: out may be in.
  Matrix4 adjugate;
  for (std::uint32_t r = 0; r < Matrix4::kRows; ++r) {
    for (std::uint32_t c = 0; c < Matrix4::kRows; ++c) {
      const float cofactor = Minor(in, r, c);
      adjugate[c][r] = (r + c) % 2 == 0 ? cofactor : -cofactor;
    }
  }
  const float inv =
      1.0f / (in[0][0] * adjugate[0][0] + in[0][1] * adjugate[1][0] + in[0][2] * adjugate[2][0] +
              in[0][3] * adjugate[3][0]);
  for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) out.Element(i) = adjugate.Element(i) * inv;
  if (reciprocal != nullptr) *reciprocal = inv;
}
