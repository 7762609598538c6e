// The matrix and vector formulas against double-precision references on random input, the inverse against the
// identity, and what degenerate input, NaN and aliased operands give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <scripthost/ScriptMath.h>

namespace {

constexpr int kSamples = 10000;
constexpr double kRelative = 1e-6;
constexpr std::uint32_t kN = 4;

struct Sample {
  std::vector<float> actual;
  std::vector<double> expected;
  // Per element: the sum of the absolute values of the terms that make it.
  std::vector<double> scale;
};

float Random(std::mt19937& random, float range = 10.0f) {
  return std::uniform_real_distribution<float>(-range, range)(random);
}

Matrix4 RandomMatrix(std::mt19937& random) {
  Matrix4 m;
  for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) m.Element(i) = Random(random);
  return m;
}

// Appends one element: its value, the double-precision sum of bias and terms, and the sizes of what was summed.
template <typename Term>
void AddSum(Sample& s, float actual, std::uint32_t terms, Term term, double bias = 0) {
  double sum = bias, scale = std::fabs(bias);
  for (std::uint32_t k = 0; k < terms; ++k) sum += term(k), scale += std::fabs(term(k));
  s.actual.push_back(actual);
  s.expected.push_back(sum);
  s.scale.push_back(scale);
}

Sample Multiply(std::mt19937& random) {
  const Matrix4 a = RandomMatrix(random), b = RandomMatrix(random);
  Matrix4 out;
  MatrixMultiply(out, a, b);
  Sample s;
  for (std::uint32_t i = 0; i < kN; ++i) {
    for (std::uint32_t j = 0; j < kN; ++j) {
      AddSum(s, out[i][j], kN, [&](std::uint32_t k) { return double(a[i][k]) * b[k][j]; });
    }
  }
  return s;
}

Sample Transform(std::mt19937& random, bool coordinate) {
  const Matrix4 m = RandomMatrix(random);
  const float v[3] = {Random(random), Random(random), Random(random)};
  float out[3];
  coordinate ? MatrixTransformCoordinate(out, m, v) : MatrixTransformNormal(out, m, v);
  Sample s;
  for (std::uint32_t j = 0; j < 3; ++j) {
    AddSum(s, out[j], 3, [&](std::uint32_t k) { return double(v[k]) * m[k][j]; }, coordinate ? m[3][j] : 0.0);
  }
  return s;
}

// Every element of a projection or rotation is one term: its own size is the scale.
Sample Single(const Matrix4& actual, const std::vector<double>& expected) {
  Sample s{{}, expected, {}};
  for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) s.actual.push_back(actual.Element(i));
  for (double e : expected) s.scale.push_back(std::fabs(e) + 1.0);
  return s;
}

// Turning about one axis: its own diagonal element stays 1, the two others are the cosine, and the sines sit
// between them (the sign flipped about Y).
Sample Rotate(std::mt19937& random, int axis) {
  const float angle = Random(random, 7.0f);
  const double c = std::cos(double(angle)), s = std::sin(double(angle)) * (axis == 1 ? -1 : 1);
  Matrix4 m;
  (axis == 0 ? MatrixRotateX : axis == 1 ? MatrixRotateY : MatrixRotateZ)(m, angle);
  const int a = axis == 0 ? 1 : 0, b = axis == 2 ? 1 : 2;
  std::vector<double> e(Matrix4::kElements, 0.0);
  e[15] = e[axis * 5] = 1;
  e[a * 5] = e[b * 5] = c;
  e[a * 4 + b] = s, e[b * 4 + a] = -s;
  return Single(m, e);
}

Sample Perspective(std::mt19937& random, bool leftHanded) {
  const float fovy = std::uniform_real_distribution<float>(0.1f, 3.0f)(random);
  const float aspect = std::uniform_real_distribution<float>(0.5f, 2.0f)(random);
  const float zn = std::uniform_real_distribution<float>(0.1f, 10.0f)(random);
  const float zf = zn + std::uniform_real_distribution<float>(1.0f, 1000.0f)(random);
  const double h = 1.0 / std::tan(double(fovy) / 2.0);
  std::vector<double> e(Matrix4::kElements, 0.0);
  e[0] = h / aspect, e[5] = h;
  Matrix4 m;
  if (leftHanded) {
    MatrixPerspectiveFOVLH(m, fovy, aspect, zn, zf);
    e[10] = zf / (double(zf) - zn), e[11] = 1, e[14] = -double(zn) * zf / (double(zf) - zn);
  } else {
    MatrixPerspectiveFOVRH(m, fovy, aspect, zn, zf);
    e[10] = zf / (double(zn) - zf), e[11] = -1, e[14] = double(zn) * zf / (double(zn) - zf);
  }
  return Single(m, e);
}

Sample Ortho(std::mt19937& random) {
  const float l = Random(random), r = l + 1 + Random(random, 5) + 5, b = Random(random), t = b + 7;
  const float zn = Random(random), zf = zn - 3;
  Matrix4 m;
  MatrixOrthoOffCentreRH(m, l, r, b, t, zn, zf);
  std::vector<double> e(Matrix4::kElements, 0.0);
  e[0] = 2 / (double(r) - l), e[5] = 2 / (double(t) - b), e[10] = 1 / (double(zn) - zf);
  e[12] = (double(l) + r) / (double(l) - r), e[13] = (double(t) + b) / (double(b) - t);
  e[14] = zn / (double(zn) - zf), e[15] = 1;
  return Single(m, e);
}

Sample LookAt(std::mt19937& random) {
  const float eye[3] = {Random(random), Random(random), Random(random)};
  const float at[3] = {eye[0] + Random(random) + 11, eye[1] + Random(random), eye[2] + Random(random)};
  const float up[3] = {0, 1, 0};
  Matrix4 m;
  MatrixLookAtLH(m, eye, at, up);
  double z[3], x[3], y[3];
  const auto normalise = [](double* v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int i = 0; i < 3; ++i) v[i] /= length;
  };
  const auto cross = [](double* out, const double* a, const double* b) {
    out[0] = a[1] * b[2] - b[1] * a[2], out[1] = b[0] * a[2] - a[0] * b[2], out[2] = b[1] * a[0] - b[0] * a[1];
  };
  for (int i = 0; i < 3; ++i) z[i] = double(at[i]) - eye[i];
  normalise(z);
  const double u[3] = {0, 1, 0};
  cross(x, u, z);
  normalise(x);
  cross(y, z, x);
  std::vector<double> e(Matrix4::kElements, 0.0);
  const double* axes[3] = {x, y, z};
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) e[r * 4 + c] = axes[c][r];
    e[12 + c] = -(axes[c][0] * eye[0] + axes[c][1] * eye[1] + axes[c][2] * eye[2]);
  }
  e[15] = 1;
  Sample s = Single(m, e);
  // The view's translation sums three products with the eye.
  for (int c = 0; c < 3; ++c) s.scale[12 + c] += std::fabs(eye[0]) + std::fabs(eye[1]) + std::fabs(eye[2]);
  return s;
}

TEST(ScriptMath, FormulasAgreeWithDoublePrecisionReferences) {
  const std::pair<const char*, std::function<Sample(std::mt19937&)>> formulas[] = {
      {"product", Multiply},
      {"normal", [](std::mt19937& r) { return Transform(r, false); }},
      {"coordinate", [](std::mt19937& r) { return Transform(r, true); }},
      {"rotate X", [](std::mt19937& r) { return Rotate(r, 0); }},
      {"rotate Y", [](std::mt19937& r) { return Rotate(r, 1); }},
      {"rotate Z", [](std::mt19937& r) { return Rotate(r, 2); }},
      {"perspective LH", [](std::mt19937& r) { return Perspective(r, true); }},
      {"perspective RH", [](std::mt19937& r) { return Perspective(r, false); }},
      {"ortho", Ortho},
      {"look-at", LookAt},
  };
  for (const auto& [name, make] : formulas) {
    SCOPED_TRACE(name);
    std::mt19937 random(7);
    for (int n = 0; n < kSamples; ++n) {
      const Sample s = make(random);
      ASSERT_EQ(s.actual.size(), s.expected.size());
      for (std::size_t i = 0; i < s.actual.size(); ++i) {
        ASSERT_NEAR(s.actual[i], s.expected[i], kRelative * s.scale[i] + 1e-30) << "sample " << n << " element " << i;
      }
    }
  }
}

TEST(ScriptMath, InverseTimesMatrixIsTheIdentityForWellConditionedMatrices) {
  constexpr double kTolerance = 1e-4;
  std::mt19937 random(11);
  for (int n = 0; n < kSamples; ++n) {
    // Diagonally dominant: every eigenvalue lies well away from zero, so the condition stays far below 100.
    Matrix4 m;
    for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) m.Element(i) = Random(random, 1.0f);
    for (std::uint32_t i = 0; i < kN; ++i) m[i][i] = 5.0f + Random(random, 1.0f);
    Matrix4 inverse, product;
    float reciprocal = 0;
    MatrixInverse(inverse, m, &reciprocal);
    MatrixMultiply(product, m, inverse);
    for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) {
      ASSERT_NEAR(product.Element(i), i % 5 == 0 ? 1.0 : 0.0, kTolerance) << "sample " << n;
    }
    EXPECT_TRUE(std::isfinite(reciprocal));
  }
}

TEST(ScriptMath, DegenerateInputGivesNonFiniteElementsWithoutError) {
  const auto anyNonFinite = [](const Matrix4& m) {
    for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) {
      if (!std::isfinite(m.Element(i))) return true;
    }
    return false;
  };
  const float nan = std::nanf(""), same[3] = {1, 2, 3}, up[3] = {0, 1, 0}, alongUp[3] = {1, 7, 3};
  Matrix4 m, singular;
  for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) singular.Element(i) = float(i);
  const std::vector<std::pair<const char*, std::function<void(Matrix4&)>>> cases = {
      {"singular inverse", [&](Matrix4& out) { MatrixInverse(out, singular, nullptr); }},
      {"ortho r = l", [](Matrix4& out) { MatrixOrthoOffCentreRH(out, 1, 1, 0, 1, 0, 1); }},
      {"ortho zn = zf", [](Matrix4& out) { MatrixOrthoOffCentreRH(out, 0, 1, 0, 1, 2, 2); }},
      {"perspective fovy = 0", [](Matrix4& out) { MatrixPerspectiveFOVLH(out, 0, 1, 1, 2); }},
      {"perspective zn = zf", [](Matrix4& out) { MatrixPerspectiveFOVRH(out, 1, 1, 2, 2); }},
      {"look-at eye = at", [&](Matrix4& out) { MatrixLookAtLH(out, same, same, up); }},
      {"look-at up along the view", [&](Matrix4& out) { MatrixLookAtRH(out, same, alongUp, up); }},
      {"NaN in a product", [&](Matrix4& out) {
         Matrix4 withNaN;
         MatrixIdentity(withNaN);
         withNaN[2][1] = nan;
         MatrixMultiply(out, withNaN, withNaN);
       }},
  };
  for (const auto& [name, make] : cases) {
    SCOPED_TRACE(name);
    MatrixIdentity(m);
    make(m);
    EXPECT_TRUE(anyNonFinite(m));
  }
  float reciprocal = 0;
  MatrixInverse(m, singular, &reciprocal);
  EXPECT_TRUE(std::isinf(reciprocal));
}

TEST(ScriptMath, ResultsMayOverwriteTheirOperands) {
  std::mt19937 random(3);
  const Matrix4 a = RandomMatrix(random), b = RandomMatrix(random);
  const auto same = [](const void* x, const void* y, std::size_t size) { EXPECT_EQ(std::memcmp(x, y, size), 0); };
  Matrix4 expected, aliased = a;
  MatrixMultiply(expected, a, b);
  MatrixMultiply(aliased, aliased, b);
  same(&aliased, &expected, sizeof expected);
  aliased = b;
  MatrixMultiply(aliased, a, aliased);
  same(&aliased, &expected, sizeof expected);
  MatrixInverse(expected, a, nullptr);
  aliased = a;
  MatrixInverse(aliased, aliased, nullptr);
  same(&aliased, &expected, sizeof expected);
  // A row of the matrix itself as the vector operand.
  const float row[3] = {a[1][0], a[1][1], a[1][2]};
  MatrixTranslate(expected, row);
  aliased = a;
  MatrixTranslate(aliased, aliased[1].m);
  same(&aliased, &expected, sizeof expected);
  float v[3] = {1, 2, 3}, w[3] = {4, 5, 6}, crossed[3];
  VectorCross(crossed, v, w);
  VectorCross(v, v, w);
  same(v, crossed, sizeof crossed);
}

}  // namespace
