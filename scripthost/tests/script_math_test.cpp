// The product, transforms and rotations against double-precision references on random input, and what degenerate
// input, NaN and aliased operands give (projections, look-at and the inverse times its matrix have exact expected
// values in the script corpus's matrix.nut).
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

// Every element of a rotation is one term: its own size is the scale.
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

TEST(ScriptMath, FormulasAgreeWithDoublePrecisionReferences) {
  const std::pair<const char*, std::function<Sample(std::mt19937&)>> formulas[] = {
      {"product", Multiply},
      {"normal", [](std::mt19937& r) { return Transform(r, false); }},
      {"coordinate", [](std::mt19937& r) { return Transform(r, true); }},
      {"rotate X", [](std::mt19937& r) { return Rotate(r, 0); }},
      {"rotate Y", [](std::mt19937& r) { return Rotate(r, 1); }},
      {"rotate Z", [](std::mt19937& r) { return Rotate(r, 2); }},
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

// Views whose basis is no axis and whose up is neither unit nor square to the view, worked by hand in
// sevenths and thirds (Pythagorean triples keep every axis rational): m[0..2][c] holds axis c, row 3 the
// negated dot products with the eye. A transposed basis, swapped axes or a dropped normalisation fails here,
// which the axis-aligned views (identity bases) let through.
struct LookAtCase {
  bool leftHanded;
  float eye[3], at[3], up[3];
  float expected[16];
  float divisor;  // of every expected element but m[3][3]
};

TEST(ScriptMath, LookAtOfSkewedViewsMatchesTheHandWorkedBasis) {
  const LookAtCase cases[] = {
      // at - eye = (2, 1, 2): z = (2, 1, 2) / 3, up x z = (1, 2, -2), y = (-2, 2, 1) / 3.
      {true, {1, 2, 3}, {3, 3, 5}, {0, 3, 3}, {1, -2, 2, 0, 2, 2, 1, 0, -2, 1, 2, 0, 1, -5, -10, 3}, 3},
      // z = (eye - at) / 3 = -(2, 1, 2) / 3: x flips with z, y stays.
      {false, {1, 2, 3}, {3, 3, 5}, {0, 3, 3}, {-1, -2, -2, 0, -2, 2, -1, 0, 2, 1, -2, 0, -1, -5, 10, 3}, 3},
      // at - eye = 2 x (-6, 3, 2): z = (-6, 3, 2) / 7, up x z = (2, 6, -3), y = (-3, -2, -6) / 7.
      {true, {-4, 5, -1}, {-16, 11, 3}, {3, -5, -8}, {2, -3, -6, 0, 6, -2, 3, 0, -3, -6, 2, 0, -25, -8, -37, 7}, 7},
      {false, {-4, 5, -1}, {-16, 11, 3}, {3, -5, -8}, {-2, -3, 6, 0, -6, -2, -3, 0, 3, -6, -2, 0, 25, -8, 37, 7}, 7},
  };
  for (const LookAtCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    Matrix4 m;
    (c.leftHanded ? MatrixLookAtLH : MatrixLookAtRH)(m, c.eye, c.at, c.up);
    for (std::uint32_t i = 0; i < Matrix4::kElements; ++i) {
      const float expected = i == 15 ? 1.0f : c.expected[i] / c.divisor;
      EXPECT_NEAR(m.Element(i), expected, 2e-6) << "element " << i;
    }
    // The eye goes to the origin and the target onto the view axis, ahead (LH) or behind (RH).
    float eye[3], at[3];
    MatrixTransformCoordinate(eye, m, c.eye);
    MatrixTransformCoordinate(at, m, c.at);
    const float distance =
        std::sqrt((c.at[0] - c.eye[0]) * (c.at[0] - c.eye[0]) + (c.at[1] - c.eye[1]) * (c.at[1] - c.eye[1]) +
                  (c.at[2] - c.eye[2]) * (c.at[2] - c.eye[2]));
    const float viewed[3] = {0, 0, c.leftHanded ? distance : -distance};
    for (std::uint32_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(eye[k], 0.0f, 1e-5) << k;
      EXPECT_NEAR(at[k], viewed[k], 1e-5) << k;
    }
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
