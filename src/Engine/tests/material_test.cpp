// Quads (corners, rotation, scale, translucency), materials, and the matrix operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <tuple>

#include <engine/Material.h>

using namespace Vexil3D;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

TEST(Quad, CornersRotationAndScale) {
  const struct {
    const char* what;
    CVector2D centre;
    float angle;
    CVector2D scale;
    CVector2D topLeft, bottomRight;
  } cases[] = {
      {"plain", {0, 0}, 0, {1, 1}, {100, 50}, {120, 60}},
      {"about the middle", {0.5f, 0.5f}, kPi / 2, {1, 1}, {105, 40}, {95, 60}},
      {"about the corner", {0, 0}, kPi / 2, {1, 1}, {100, 50}, {90, 70}},
      {"doubled width", {0, 0}, 0, {2, 1}, {100, 50}, {140, 60}},
  };
  const CARGB colours[CQuad::kCorners] = {COLOUR_WHITE, COLOUR_RED, COLOUR_LIME, COLOUR_BLUE};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CQuad quad({100, 50}, {20, 10}, colours, c.angle, c.centre, {0.25f, 0.5f}, {0.5f, 0.25f}, c.scale);
    ASSERT_EQ(quad.GetVertexCount(), 4u);
    const CQuadVertex* tl = quad.GetVertex(CQuad::TOP_LEFT);
    const CQuadVertex* br = quad.GetVertex(CQuad::BOTTOM_RIGHT);
    for (auto [got, want] : {std::pair{tl->x, c.topLeft.x}, {tl->y, c.topLeft.y}, {br->x, c.bottomRight.x},
                             {br->y, c.bottomRight.y}})
      EXPECT_NEAR(got, want, 1e-4);
    EXPECT_EQ((std::tuple{br->colour, br->u, br->v, quad.GetVertex(4), quad.IsTranslucent()}),
              (std::tuple{COLOUR_BLUE, 0.75f, 0.75f, nullptr, false}));
  }
  const CARGB almost[CQuad::kCorners] = {COLOUR_WHITE, COLOUR_WHITE, COLOUR_WHITE, 0xFEFFFFFFu};
  EXPECT_TRUE(CQuad({0, 0}, {1, 1}, almost, 0, {0, 0}, {0, 0}, {1, 1}, {1, 1}).IsTranslucent());
}

TEST(MaterialTexture, SetTextureCountsAndMarksChanges) {
  Strong<Texture> texture;
  texture.Attach(new Texture(1));
  {
    Strong<Material> material;
    material.Attach(new Material);
    EXPECT_EQ(material->GetSettings().colour, COLOUR_WHITE);
    material->SetTexture(texture);
    EXPECT_EQ((std::tuple{material->IsChanged(), texture->GetRefCount()}), (std::tuple{true, 2}));
    material->ClearChanged();
    material->SetTexture(texture);  // the same texture again: no change
    EXPECT_EQ((std::tuple{material->IsChanged(), texture->GetRefCount()}), (std::tuple{false, 2}));
  }
  EXPECT_EQ(texture->GetRefCount(), 1);
}

CMatrix4x4 Random(std::mt19937* random) {
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  CMatrix4x4 m;
  for (int i = 0; i < 16; ++i) m.m[i] = value(*random) + (i % 5 == 0 ? 4.0f : 0.0f);  // diagonally dominant
  return m;
}

TEST(Matrix, InverseTimesMatrixIsIdentity) {
  std::mt19937 random(15);
  for (int round = 0; round < 100; ++round) {
    CMatrix4x4 m = Random(&random);
    CMatrix4x4 inverse = m;
    float determinant = 0.0f;
    ASSERT_TRUE(inverse.SetInverse(inverse, &determinant));  // in place
    EXPECT_NE(determinant, 0.0f);
    CMatrix4x4 product;
    CMatrix4x4::Multiply(&product, m, inverse);
    for (int i = 0; i < 16; ++i) ASSERT_NEAR(product.m[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-5) << round;
  }
  CMatrix4x4 singular = Random(&random);
  for (int col = 0; col < 4; ++col) singular.m[8 + col] = 0.0f;
  CMatrix4x4 target = Random(&random);
  const CMatrix4x4 before = target;
  float determinant = 7.0f;
  EXPECT_EQ((std::tuple{target.SetInverse(singular, &determinant), std::memcmp(&target, &before, sizeof(target)),
                        determinant}),
            (std::tuple{false, 0, 7.0f}));
}

TEST(Matrix, ProductsAliasAndRotationsCompose) {
  std::mt19937 random(16);
  const CMatrix4x4 a = Random(&random), b = Random(&random);
  CMatrix4x4 expected, left = a, right = b;
  CMatrix4x4::Multiply(&expected, a, b);
  CMatrix4x4::Multiply(&left, left, b);
  CMatrix4x4::Multiply(&right, a, right);
  EXPECT_EQ(std::memcmp(&left, &expected, sizeof(expected)) | std::memcmp(&right, &expected, sizeof(expected)), 0);

  CMatrix4x4 x, y, z, xyz, rotate;
  x.SetRotateX(0.3f);
  y.SetRotateY(0.5f);
  z.SetRotateZ(kPi / 2);
  EXPECT_NEAR(z.m[1], 1.0f, 1e-6);  // row (c, s, 0, 0)
  EXPECT_NEAR(y.m[2], -std::sin(0.5f), 1e-6);
  CMatrix4x4::Multiply(&xyz, x, y);
  CMatrix4x4::Multiply(&xyz, xyz, z);
  rotate.SetRotate(0.3f, 0.5f, kPi / 2);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(rotate.m[i], xyz.m[i], 1e-6);
}

}  // namespace
