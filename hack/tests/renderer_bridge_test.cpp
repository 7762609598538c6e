// The renderer bridge on the game double of each build: texture surfaces, failures that release everything,
// quad corners, and pictures drawn by the double's rasteriser compared with expected PNG files.
#include <base/ImageData.h>
#include <hack/RendererBridge.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>

#include "GameDoubleFixture.h"

namespace hacktest {
namespace {

using Game::FloatPair;
using gamedouble::Method;
using gamedouble::Place;
using gamedouble::Routine;

class PixelImage : public CImageData {
 public:
  PixelImage(std::uint32_t width, std::uint32_t height, std::vector<std::uint32_t> pixels)
      : m_Width(width), m_Height(height), m_Pixels(std::move(pixels)) {}
  std::uint32_t GetWidth() override { return m_Width; }
  std::uint32_t GetHeight() override { return m_Height; }
  bool HasAlpha() override { return true; }
  std::uint32_t GetPixel(std::uint32_t x, std::uint32_t y) override { return m_Pixels[y * m_Width + x]; }

 private:
  std::uint32_t m_Width, m_Height;
  std::vector<std::uint32_t> m_Pixels;
};

constexpr std::uint32_t kOpaqueBlack = 0xFF000000;
const Place kTextureGlobal{0x7537C8, 0x7538F4, 0x753934, 0};
const Place kStateBlock{0, 0, 0, 0xD99DA8};

class RendererBridgeTest : public GameDoubleTest {
 protected:
  void SetUp() override {
    GameDoubleTest::SetUp();
    if (HasFatalFailure()) return;
    game->SetRendererPresent(true, true);
    game->SetScreenSize(64, 48);
  }
  // One quad through the build's own drawing call (DrawQuadV on game V).
  void Draw(const Game::GameTexture* texture, FloatPair position, FloatPair size, std::uint32_t colour, float angle = 0,
            FloatPair pivot = {0, 0}, FloatPair scale = {1, 1}) {
    const FloatPair uvOrigin{0, 0}, uvSize{1, 1};
    if (V()) {
      std::uint8_t block[Game::kRenderStateBlockSize] = {};
      if (texture != nullptr) std::memcpy(block, texture, 8);
      Game::DrawQuadV(texture != nullptr ? block : nullptr, &position, &size, &uvOrigin, &uvSize, colour, colour,
                      colour, colour, &pivot, angle, &scale, false);
    } else {
      Game::DrawQuad(texture, &position, &size, &uvOrigin, &uvSize, colour, colour, colour, colour, &pivot, angle,
                     &scale, false);
    }
  }
  void ExpectPicture(const char* name) {
    const std::string file = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/pictures/" + name;
    const auto result = gamedouble::ComparePictureWithFile(game->Frame(), file + ".png",
                                                           std::string(name) + "." + DoubleCaseName({GetParam(), 0}));
    EXPECT_TRUE(result.same) << result.report;
  }
};

TEST_P(RendererBridgeTest, TextureSurfaceHoldsTheImageAtThePitch) {
  std::vector<std::uint32_t> pixels(5 * 3);
  for (std::uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = 0x80102030u + i * 0x01010101u;
  PixelImage image(5, 3, pixels);
  IDirect3DTexture2* texture = nullptr;
  std::uint32_t width = 0, height = 0;
  IDirectDrawSurface7* surface = Game::CreateTextureSurface(&image, &texture, &width, &height);
  ASSERT_NE(surface, nullptr);
  const gamedouble::SurfaceInfo* info = game->Renderer().Find(Address(surface));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ((std::tuple{Address(texture), width, height, info->desc.flags, info->desc.width, info->desc.height}),
            (std::tuple{info->texture, 5u, 3u, 0x1007u, 5u, 3u}));
  const auto& format = info->desc.pixelFormat;
  EXPECT_EQ((std::vector<std::uint32_t>{format.size, format.flags, format.rgbBitCount, format.redMask, format.greenMask,
                                        format.blueMask, format.alphaMask}),
            (std::vector<std::uint32_t>{32, 0x41, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}));
  EXPECT_EQ((std::tuple{info->desc.caps, info->desc.caps2, info->lockFlags, info->lockedWhole, info->locked}),
            (std::tuple{0x1000u, 0x10u, 0x800u, true, false}));
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(game->Renderer().Pixel(Address(surface), x, y), pixels[y * 5 + x]);
  }
  EXPECT_EQ((std::tuple{game->Renderer().PaddingIntact(Address(surface)), info->references}), (std::tuple{true, 2u}));
  ComRelease(texture);
  ComRelease(surface);
  EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);

  // Without a texture pointer the caller holds the surface alone.
  Game::GameTexture record{};
  ASSERT_TRUE(Game::CreateTexture(&image, &record));
  EXPECT_EQ(game->Renderer().Find(Address(record.surface))->references, 2u);
  surface = Game::CreateTextureSurface(&image, nullptr, nullptr, nullptr);
  EXPECT_EQ(game->Renderer().Find(Address(surface))->references, 1u);
}

TEST_P(RendererBridgeTest, EveryFailureReleasesWhatWasMade) {
  PixelImage image(2, 2, {1, 2, 3, 4});
  for (Method method : {Method::CreateSurface, Method::QueryInterface, Method::Lock}) {
    SCOPED_TRACE(int(method));
    game->Renderer().InjectFailure(method);
    IDirect3DTexture2* texture = reinterpret_cast<IDirect3DTexture2*>(1);
    EXPECT_EQ(Game::CreateTextureSurface(&image, &texture, nullptr, nullptr), nullptr);
    EXPECT_EQ((std::tuple{texture, game->Renderer().LiveSurfaces(), game->Renderer().DirectDrawReferences()}),
              (std::tuple{nullptr, 0u, 1u}));
  }
  // Before the game made its renderer nothing is asked of it.
  game->SetRendererPresent(false, true);
  Game::GameTexture record{};
  EXPECT_FALSE(Game::CreateTexture(&image, &record));
  EXPECT_EQ(game->Renderer().CallCount(Method::CreateSurface), 3u);
  game->SetRendererPresent(true, false);
  Draw(nullptr, {1, 1}, {4, 4}, 0xFFFFFFFF);
  EXPECT_TRUE(game->Renderer().Submitted().empty() && game->Calls().empty());
}

TEST_P(RendererBridgeTest, CornersFollowPivotRotationAndScale) {
  const float depth = 0.25f;
  game->Write(Place{0x753C28, 0x753CC0, 0x753D00, 0x55D25C}, depth);
  std::uint32_t state[2] = {7, 7};
  game->Write(Place{0x753854, 0x75397C, 0x7539BC, 0xD9AB34}, Address(state));
  const FloatPair position{100, 50}, size{40, 20}, uvOrigin{0.25f, 0.5f}, uvSize{0.5f, 0.25f}, pivot{0.5f, 0.5f};
  struct Row {
    float angle;
    FloatPair scale;
    std::uint16_t textureIndex;
    bool flag;         // the game's quad mode: 2 when set, 3 when not
    float corners[8];  // x, y of top left, top right, bottom left, bottom right
  };
  const float half = std::numbers::pi_v<float> / 2;
  for (const Row& row : {Row{0, {1, 1}, 0, true, {79.5f, 39.5f, 119.5f, 39.5f, 79.5f, 59.5f, 119.5f, 59.5f}},
                         Row{half, {2, 1}, 513, true, {119.5f, 29.5f, 119.5f, 69.5f, 79.5f, 29.5f, 79.5f, 69.5f}},
                         Row{0, {1, 1}, 0, false, {79.5f, 39.5f, 119.5f, 39.5f, 79.5f, 59.5f, 119.5f, 59.5f}}}) {
    SCOPED_TRACE(std::to_string(row.angle) + (row.flag ? " mode 2" : " mode 3"));
    Game::DrawRotatedQuad(&position, &size, &uvOrigin, &uvSize, 1, 2, 3, 4, &pivot, row.angle, &row.scale, row.flag,
                          row.textureIndex);
    const auto& quad = game->Renderer().Submitted().back();
    EXPECT_EQ((std::tuple{quad.mode, quad.textureIndex}), (std::tuple{row.flag ? 2 : 3, row.textureIndex}));
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(i);
      const auto& v = quad.vertices[i];
      EXPECT_NEAR(v.x, row.corners[2 * i], 1e-4);
      EXPECT_NEAR(v.y, row.corners[2 * i + 1], 1e-4);
      EXPECT_EQ((std::tuple{v.z, v.rhw, v.colour, v.specular, v.u, v.v}),
                (std::tuple{depth, depth, std::uint32_t(i + 1), 0xFF000000u, i == 1 || i == 3 ? 0.75f : 0.25f,
                            i >= 2 ? 0.75f : 0.5f}));
    }
  }
  EXPECT_EQ((std::tuple{state[0] + state[1], game->Read<std::uint32_t>(Place{0x7E70D0, 0x7E71E0, 0x7E7220, 0xE4B100})}),
            (std::tuple{0u, 4u}));
  const auto& states = game->Renderer().RenderStates();
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ((std::vector{states[0], states[1]}), (std::vector<std::array<std::uint32_t, 2>>{{44, 3}, {45, 3}}));
}

// A flush runs the game's frame routines 2 (with the queue's count and address), 3 and then 1; a quad of the build's
// own drawing call has one flush before and one after it.
TEST_P(RendererBridgeTest, FlushingRunsTheGamesRoutinesTwoThreeThenOne) {
  const Place kQueueCount{0x660B50, 0x660C88, 0x660CC8, 0xBA4384}, kQueue{0x660B60, 0x660C94, 0x660CD4, 0xBA4390};
  game->Write(kQueueCount, 0x1234u);
  using Seen = std::vector<std::pair<Routine, std::vector<std::uint32_t>>>;
  const auto seen = [&] {
    Seen calls;
    for (const gamedouble::StubCall& call : game->Calls())
      if (call.routine != Routine::QuadRoutine) calls.emplace_back(call.routine, call.arguments);
    return calls;
  };
  const Seen flush{
      {Routine::FrameRoutine2, {0x1234, game->At(kQueue)}}, {Routine::FrameRoutine3, {}}, {Routine::FrameRoutine1, {}}};
  game->ClearCalls();
  Game::FlushGameDrawing();
  EXPECT_EQ(seen(), flush);
  game->ClearCalls();
  Draw(nullptr, {1, 1}, {4, 4}, 0xFFFFFFFF);
  Seen twice = flush;
  twice.insert(twice.end(), flush.begin(), flush.end());
  EXPECT_EQ((std::tuple{seen(), game->Renderer().Submitted().size()}), (std::tuple{twice, std::size_t(1)}));
}

// A tinted quad of a white texture covers exactly the pixels whose centres lie
// inside it (top-left rule), in the tint.
TEST_P(RendererBridgeTest, TintedQuadCoversItsPixels) {
  PixelImage white(1, 1, {0xFFFFFFFF});
  Game::GameTexture texture{};
  ASSERT_TRUE(Game::CreateTexture(&white, &texture));
  Draw(&texture, {10, 10}, {20, 10}, 0xFF3366CC);
  for (std::uint32_t y = 0; y < 48; ++y) {
    for (std::uint32_t x = 0; x < 64; ++x) {
      const bool inside = x >= 10 && x < 30 && y >= 10 && y < 20;
      ASSERT_EQ(game->Frame().At(x, y), inside ? 0xFF3366CCu : kOpaqueBlack) << x << "," << y;
    }
  }
  ExpectPicture("tinted_quad");
}

TEST_P(RendererBridgeTest, PicturesOfRotatedTexturedAndBlendedQuads) {
  std::vector<std::uint32_t> checker(16);
  for (std::uint32_t i = 0; i < 16; ++i) checker[i] = ((i ^ (i / 4)) & 1) ? 0xFFFFD040 : 0xFF2060FF;
  PixelImage image(4, 4, checker);
  Game::GameTexture texture{};
  ASSERT_TRUE(Game::CreateTexture(&image, &texture));
  Draw(&texture, {32, 24}, {30, 20}, 0xFFFFFFFF, 0.5f, {0.5f, 0.5f});
  ExpectPicture("rotated_textured_quad");

  game->Frame().Fill(kOpaqueBlack);
  Draw(nullptr, {8, 8}, {32, 24}, 0xFF20C040);
  Draw(nullptr, {24, 16}, {32, 24}, 0x80FF2020);
  ExpectPicture("blended_quads");
  EXPECT_EQ(game->Renderer().BadTextures(), 0u);
}

// The game's own texture (global or state block) is back after the quad, and
// the quad was drawn with the caller's.
TEST_P(RendererBridgeTest, DrawingPutsTheGamesTextureBack) {
  PixelImage red(1, 1, {0xFFFF0000}), blue(1, 1, {0xFF0000FF});
  Game::GameTexture ours{}, games{};
  ASSERT_TRUE(Game::CreateTexture(&red, &ours));
  ASSERT_TRUE(Game::CreateTexture(&blue, &games));
  std::vector<std::uint8_t> gameBlock(Game::kRenderStateBlockSize, 0xEE);
  std::memcpy(gameBlock.data(), &games, 8);
  const std::uint32_t where = V() ? game->At(kStateBlock) : game->At(kTextureGlobal);
  if (V()) {
    std::memcpy(reinterpret_cast<void*>(std::uintptr_t(where)), gameBlock.data(), gameBlock.size());
  } else {
    game->Write(kTextureGlobal, Address(&games));
  }
  const Bytes before = ReadBytes(where, V() ? Game::kRenderStateBlockSize : 4);
  Draw(&ours, {0, 0}, {4, 4}, 0xFFFFFFFF);
  // Flushed before and after: the quad never waits for the game's next frame.
  EXPECT_EQ((std::tuple{ReadBytes(where, V() ? Game::kRenderStateBlockSize : 4), game->Frame().At(1, 1),
                        game->CallsOf(Routine::FrameRoutine1).size(), game->Renderer().Queued().empty()}),
            (std::tuple{before, 0xFFFF0000u, 2u, true}));
}

INSTANTIATE_TEST_SUITE_P(Builds, RendererBridgeTest, ::testing::ValuesIn(AllBuilds()), DoubleCaseName);

}  // namespace
}  // namespace hacktest
