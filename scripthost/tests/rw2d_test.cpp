// The 2-D renderer on the game double of each build: engine quads and textures as the double's rasteriser
// draws them, the game texture made once per engine texture, refusals, and every COM reference given back.
#include <algorithm>
#include <cmath>
#include <numbers>

#include <engine/Material.h>
#include <scripthost/Rw2D.h>

#include "game_double_fixture.h"

namespace doubletest {
namespace {

using gamedouble::Method;
using Vexil3D::CARGB;
using Vexil3D::CQuad;
using Vexil3D::CVector2D;

struct QuadSpec {
  CVector2D position, size;
  std::uint32_t colours[CQuad::kCorners] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  float angle = 0;
  CVector2D centre{0, 0}, origin{0, 0}, extent{1, 1}, scale{1, 1};
};

CQuad MakeQuad(const QuadSpec& s) {
  const CARGB colours[CQuad::kCorners] = {s.colours[0], s.colours[1], s.colours[2], s.colours[3]};
  return CQuad(s.position, s.size, colours, s.angle, s.centre, s.origin, s.extent, s.scale);
}

// A material over a new texture of the given pixels, which `texture` holds too.
Vexil3D::Strong<Vexil3D::Material> Textured(std::uint32_t width, std::uint32_t height,
                                            const std::vector<std::uint32_t>& pixels,
                                            Vexil3D::Strong<Vexil3D::Texture>& texture) {
  texture.Attach(new Vexil3D::Texture(1));
  Vexil3D::CMipLevel* level = texture->GetMipLevel(0);
  EXPECT_TRUE(level->Create(width, height));
  std::copy(pixels.begin(), pixels.end(), level->GetPixels());
  Vexil3D::Strong<Vexil3D::Material> material;
  material.Attach(new Vexil3D::Material);
  material->SetTexture(texture);
  return material;
}

class Rw2DTest : public GameDoubleTest {
 protected:
  void SetUp() override {
    GameDoubleTest::SetUp();
    if (HasFatalFailure()) return;
    renderer = new CRw2D;
  }
  void TearDown() override {
    if (renderer != nullptr) renderer->Release();
    // Every surface the renderer made went with its texture.
    if (game) {
      EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);
    }
    GameDoubleTest::TearDown();
  }
  void Draw(Vexil3D::Material* material, const QuadSpec& spec) {
    const CQuad quad = MakeQuad(spec);
    EXPECT_TRUE(renderer->DrawQuad(material, &quad));
  }
  std::uint32_t Surfaces() const { return std::uint32_t(game->Renderer().Surfaces().size()); }

  CRw2D* renderer = nullptr;
};

// Without material the white 1 by 1 texture leaves the colour alone; axis-aligned quads cover exactly their
// pixels, also rotated by 90 degrees about their middle and scaled.
TEST_P(Rw2DTest, QuadsWithoutMaterialShowTheirColourOverExactlyTheirPixels) {
  struct Row {
    const char* name;
    QuadSpec quad;
    std::int32_t x, y, w, h;
  };
  const float quarter = std::numbers::pi_v<float> / 2;
  const std::uint32_t blue = 0xFF336699, green = 0xFF00FF00, red = 0xFFFF0000;
  const Row rows[] = {
      {"plain", {{10, 12}, {8, 6}, {blue, blue, blue, blue}}, 10, 12, 8, 6},
      {"rotated", {{20, 20}, {8, 4}, {green, green, green, green}, quarter, {0.5f, 0.5f}}, 18, 16, 4, 8},
      {"scaled", {{5, 30}, {6, 4}, {red, red, red, red}, 0, {0, 0}, {0, 0}, {1, 1}, {2, 1}}, 5, 30, 12, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ClearFrame();
    Draw(nullptr, row.quad);
    // Rotation leaves the edges within the tolerance of rotated quads.
    ExpectFrame(Filled(row.x, row.y, row.w, row.h, row.quad.colours[0]), std::string("rw2d-") + row.name,
                row.quad.angle != 0 ? 2 : 0);
  }
  EXPECT_EQ(Surfaces(), 1u);  // the default texture, once
  // The viewport is the game's screen, whatever its size.
  game->SetScreenSize(640, 480);
  Vexil3D::CViewport viewport;
  viewport.x = viewport.y = 9;
  renderer->GetViewport(&viewport);
  EXPECT_EQ(std::vector<float>({viewport.x, viewport.y, viewport.width, viewport.height}),
            std::vector<float>({0, 0, 640, 480}));
}

// Pixels keep their channels (0xAARRGGBB words, no red-blue swap) and rows their pitch.
TEST_P(Rw2DTest, TextureDrawnOneToOneIsExact) {
  std::vector<std::uint32_t> pixels(16);
  for (std::uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | (i * 16) << 16 | (255 - i * 16);
  Vexil3D::Strong<Vexil3D::Texture> texture;
  const auto material = Textured(4, 4, pixels, texture);
  Draw(material, {{7, 9}, {4, 4}});
  gamedouble::CPicture expected = Filled(0, 0, 0, 0, 0);
  for (std::uint32_t y = 0; y < 4; ++y)
    for (std::uint32_t x = 0; x < 4; ++x) expected.Set(7 + x, 9 + y, pixels[y * 4 + x]);
  ExpectFrame(expected, "rw2d-texture");
  const auto& surface = game->Renderer().Surfaces().back();
  EXPECT_TRUE(game->Renderer().PaddingIntact(surface.surface));
  EXPECT_EQ(game->Renderer().Pixel(surface.surface, 1, 2), pixels[9]);
}

// Colours run between the corners: each corner pixel is near its colour, the middle near their mean.
TEST_P(Rw2DTest, CornerColoursBlendAcrossTheQuad) {
  QuadSpec spec{{0, 0}, {33, 33}, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}};
  Draw(nullptr, spec);
  // {x, y, colour, tolerance}: the middle lies on the diagonal between the top-right and bottom-left corners.
  const std::uint32_t points[][4] = {
      {0, 0, 0xFFFF0000, 8}, {32, 0, 0xFF00FF00, 8}, {0, 32, 0xFF0000FF, 8}, {32, 32, 0xFFFFFFFF, 8},
      {16, 16, 0xFF007F7F, 6}};
  for (const auto [x, y, expected, tolerance] : points) {
    const std::uint32_t actual = game->Frame().At(x, y);
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(int(actual >> shift & 0xFF), int(expected >> shift & 0xFF), int(tolerance))
          << std::hex << actual << " at " << std::dec << x << "," << y;
    }
  }
}

// A refused surface (or interface, or lock) draws untextured, leaks nothing, and the next draw tries again.
TEST_P(Rw2DTest, RefusedTextureDrawsUntexturedAndIsTriedAgain) {
  Vexil3D::Strong<Vexil3D::Texture> texture;
  const auto material = Textured(1, 1, {0xFF204060}, texture);
  for (Method method : {Method::CreateSurface, Method::QueryInterface, Method::Lock}) {
    SCOPED_TRACE(int(method));
    ClearFrame();
    game->Renderer().InjectFailure(method);
    Draw(material, {{3, 3}, {2, 2}, {0xFF808080, 0xFF808080, 0xFF808080, 0xFF808080}});
    EXPECT_EQ(texture->GetHWResource(), nullptr);
    EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);
    ExpectFrame(Filled(3, 3, 2, 2, 0xFF808080), "rw2d-refused");
  }
  Draw(material, {{3, 3}, {2, 2}});
  ASSERT_NE(texture->GetHWResource(), nullptr);
  EXPECT_EQ(game->Frame().At(4, 4), 0xFF204060u);
}

// An empty level 0 is never handed to the game; pixels outside the level read as 0.
TEST_P(Rw2DTest, EmptyLevelsAreNotMadeAndOutsidePixelsReadZero) {
  for (std::uint32_t mips : {0u, 1u}) {
    SCOPED_TRACE(mips);
    Vexil3D::Strong<Vexil3D::Texture> texture;
    texture.Attach(new Vexil3D::Texture(mips));
    CRwTexture hardware(texture);
    EXPECT_FALSE(hardware.Create());
    EXPECT_FALSE(hardware.IsCreated());
  }
  EXPECT_EQ(game->Renderer().CallCount(Method::CreateSurface), 0u);

  Vexil3D::CMipLevel level;
  ASSERT_TRUE(level.Create(2, 1));
  level.GetPixels()[1] = 0x80FF0102;
  auto* view = new CTextureImageData(&level);
  EXPECT_EQ(view->GetPixel(1, 0), 0x80FF0102u);
  for (auto [x, y] : {std::pair{2u, 0u}, {0u, 1u}, {0xFFFFFFFFu, 0xFFFFFFFFu}}) EXPECT_EQ(view->GetPixel(x, y), 0u);
  view->Release();
}

INSTANTIATE_TEST_SUITE_P(Builds, Rw2DTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
}  // namespace doubletest
