// Tests of the game double's renderer: the fake DirectDraw objects and the rasteriser's rules on hand-worked pictures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <tuple>

#include <hack/testing/GameDouble.h>

namespace {

using namespace gamedouble;

template <typename R, typename... A>
R Slot(std::uint32_t object, std::uint32_t slot, A... arguments) {
  const auto* table = *reinterpret_cast<void* const* const*>(std::uintptr_t(object));
  using Entry = R(__attribute__((stdcall)) *)(std::uint32_t, A...);
  return reinterpret_cast<Entry>(table[slot])(object, arguments...);
}

std::uint32_t Address(const void* pointer) { return std::uint32_t(std::uintptr_t(pointer)); }

DdSurfaceDesc2 TextureDesc(std::uint32_t width, std::uint32_t height) {
  DdSurfaceDesc2 desc{};
  desc.size = sizeof desc;
  desc.flags = kDdsdCaps | kDdsdWidth | kDdsdHeight | kDdsdPixelFormat;
  desc.width = width;
  desc.height = height;
  return desc;
}

TEST(RendererDouble, SurfacesLockWithAPaddedPitchAndCountReferences) {
  CRendererDouble renderer;
  DdSurfaceDesc2 desc = TextureDesc(3, 2);
  std::uint32_t surface = 0;
  ASSERT_EQ(Slot<HRESULT32>(renderer.DirectDraw(), kSlotDirectDrawCreateSurface, &desc, &surface, nullptr), kDdOk);
  std::uint32_t texture = 0;
  ASSERT_EQ(Slot<HRESULT32>(surface, kSlotQueryInterface, &kIidDirect3DTexture2, &texture), kDdOk);
  EXPECT_EQ(texture, renderer.TextureOf(surface));
  DdSurfaceDesc2 locked{};
  locked.size = sizeof locked;
  ASSERT_EQ(Slot<HRESULT32>(surface, kSlotSurfaceLock, nullptr, &locked, kDdLockNoSysLock, 0u), kDdOk);
  // Padded past the row, and a second lock refused as busy.
  EXPECT_TRUE(std::uint32_t(locked.pitch) > 3u * 4 &&
              Slot<HRESULT32>(surface, kSlotSurfaceLock, nullptr, &locked, 0u, 0u) == std::int32_t(0x887601AEu));
  const std::uint32_t pixel = 0x80402010;
  std::memcpy(reinterpret_cast<std::uint8_t*>(std::uintptr_t(locked.surface)) + locked.pitch + 2 * 4, &pixel, 4);
  EXPECT_EQ((std::tuple{Slot<HRESULT32>(surface, kSlotSurfaceUnlock, nullptr), renderer.Pixel(surface, 2, 1),
                        renderer.PaddingIntact(surface), renderer.Find(texture)->lockFlags}),
            (std::tuple{kDdOk, pixel, true, kDdLockNoSysLock}));
  EXPECT_EQ((std::tuple{Slot<std::uint32_t>(texture, kSlotRelease), Slot<std::uint32_t>(surface, kSlotRelease),
                        renderer.LiveSurfaces(), renderer.DirectDrawReferences()}),
            (std::tuple{1u, 0u, 0u, 1u}));
}

TEST(RendererDouble, InjectedFailuresAnswerTheirCodeOnce) {
  CRendererDouble renderer;
  DdSurfaceDesc2 desc = TextureDesc(1, 1);
  std::uint32_t surface = 0, texture = 0;
  renderer.InjectFailure(Method::CreateSurface);
  EXPECT_EQ(Slot<HRESULT32>(renderer.DirectDraw(), kSlotDirectDrawCreateSurface, &desc, &surface, nullptr), kEFail);
  EXPECT_EQ(renderer.Surfaces().size(), 0u);
  ASSERT_EQ(Slot<HRESULT32>(renderer.DirectDraw(), kSlotDirectDrawCreateSurface, &desc, &surface, nullptr), kDdOk);
  renderer.InjectFailure(Method::QueryInterface, kENoInterface);
  EXPECT_EQ(Slot<HRESULT32>(surface, kSlotQueryInterface, &kIidDirect3DTexture2, &texture), kENoInterface);
  EXPECT_EQ(renderer.Find(surface)->references, 1u);
  renderer.InjectFailure(Method::SetRenderState);
  EXPECT_EQ(Slot<HRESULT32>(renderer.Device(), kSlotDeviceSetRenderState, kRenderStateTextureAddressU,
                            kTextureAddressClamp), kEFail);
  EXPECT_EQ(Slot<HRESULT32>(renderer.Device(), kSlotDeviceSetRenderState, kRenderStateTextureAddressU,
                            kTextureAddressClamp), kDdOk);
  EXPECT_EQ((std::tuple{renderer.RenderStates().size(), renderer.CallCount(Method::SetRenderState)}),
            (std::tuple{1u, 2u}));
}

// A quad of the bridge's shape: corners (x0, y0) .. (x1, y1) in the engine quad's order, one colour, UV 0..1.
QuadRecord Quad(float x0, float y0, float x1, float y1, std::uint32_t colour, float uv1 = 1) {
  QuadRecord quad{kQuadModeFlagFalse, 0, {}};
  const float xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1}, us[4] = {0, uv1, 0, uv1}, vs[4] = {0, 0, uv1, uv1};
  for (int i = 0; i < 4; ++i) quad.vertices[i] = {xs[i], ys[i], 0.5f, 0.5f, colour, 0xFF000000, us[i], vs[i]};
  return quad;
}

TEST(RendererDouble, RasterRulesOnHandWorkedPictures) {
  constexpr std::uint32_t kBlack = 0xFF000000;
  struct Case {
    const char* name;
    QuadRecord quad;
    std::vector<std::uint32_t> texels;  // 2 × 2, empty: untextured
    CPicture expected;
  };
  struct Rect {
    std::int32_t x, y, w, h;
    std::uint32_t colour;
  };
  const auto filled = [](std::uint32_t w, std::uint32_t h, std::initializer_list<Rect> rects) {
    CPicture picture(w, h, kBlack);
    for (const Rect& r : rects) picture.FillRect(r.x, r.y, r.w, r.h, r.colour);
    return picture;
  };
  std::vector<Case> cases = {
      // Edges through pixel centres (integers): top and left edges take them, right and bottom do not.
      {"topleft", Quad(1, 0, 3, 2, 0xFF00FF00), {}, filled(4, 4, {{1, 0, 2, 2, 0xFF00FF00}})},
      // The bridge's −0.5: a quad at (1, 1) of size 2 × 3 covers exactly those pixels.
      {"bridge", Quad(0.5f, 0.5f, 2.5f, 3.5f, 0xFF00FF00), {}, filled(4, 5, {{1, 1, 2, 3, 0xFF00FF00}})},
      // Nearest texel, clamped beyond the texture; texel × colour.
      {"clamp", Quad(0, 0, 4, 4, 0xFFFFFFFF, 2), {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF7F7F7F},
       filled(4, 4, {{0, 0, 1, 1, 0xFF0000FF}, {1, 0, 3, 1, 0xFF00FF00}, {0, 1, 1, 3, 0xFFFF0000},
                     {1, 1, 3, 3, 0xFF7F7F7F}})},
      // Source alpha over the frame; the shared diagonal is drawn once.
      {"blend", Quad(1, 1, 3, 3, 0x80FF0000), {}, filled(4, 4, {{1, 1, 2, 2, 0xFF800000}})},
  };
  {  // Corners in the engine quad's order, Gouraud over (top left, top right, bottom left) and
     // (top right, bottom right, bottom left); the diagonal belongs to the second.
    QuadRecord corners = Quad(-0.5f, -0.5f, 1.5f, 1.5f, 0);
    const std::uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    for (int i = 0; i < 4; ++i) corners.vertices[i].colour = colours[i];
    cases.push_back({"corners", corners, {}, filled(2, 2, {{0, 0, 1, 1, 0xFF804040}, {1, 0, 1, 1, 0xFF00BF40},
                                                           {0, 1, 1, 1, 0xFF0040BF}, {1, 1, 1, 1, 0xFF80BFBF}})});
  }
  {  // Colour interpolated at the centres: 0.25 and 0.75 of the way.
    QuadRecord ramp = Quad(-0.5f, -0.5f, 1.5f, 0.5f, 0xFF000000);
    ramp.vertices[kCornerTopRight].colour = ramp.vertices[kCornerBottomRight].colour = 0xFFFFFFFF;
    cases.push_back({"ramp", ramp, {}, filled(2, 1, {{0, 0, 1, 1, 0xFF404040}, {1, 0, 1, 1, 0xFFBFBFBF}})});
  }
  {  // Texture coordinates that are no number take the first texel (a fuzzed script may hand them in).
    QuadRecord wild = Quad(-0.5f, -0.5f, 3.5f, 3.5f, 0xFFFFFFFF);
    wild.vertices[kCornerTopLeft].u = wild.vertices[kCornerBottomLeft].u = std::numeric_limits<float>::quiet_NaN();
    wild.vertices[kCornerTopRight].u = wild.vertices[kCornerBottomRight].u = 1e30f;
    for (TLVertex& vertex : wild.vertices) vertex.v = 0;
    cases.push_back(
        {"wild", wild, {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF7F7F7F}, filled(4, 4, {{0, 0, 4, 4, 0xFF0000FF}})});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRendererDouble renderer;
    CPicture frame(c.expected.Width(), c.expected.Height(), kBlack);
    TextureRecord record{0, 0};
    if (!c.texels.empty()) record.surface = renderer.MakeTexture(2, 2, c.texels);
    renderer.Queue(c.quad);
    renderer.Flush(&record, frame);
    const PictureComparison comparison = ComparePictures(frame, c.expected, std::string("raster-") + c.name);
    EXPECT_TRUE(comparison.same) << comparison.report;
    EXPECT_TRUE(renderer.Queued().empty());
  }
}

// The quad routine draws with the texture its record's index names in the table current at the flush; a value
// left where no game looks draws untextured; each frame starts cleared.
TEST(GameDoubleDrawing, QuadsFindTheirTextureWhereTheGameKeepsIt) {
  constexpr std::uint32_t kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kWhite = 0xFFFFFFFF;
  for (Build build : kBuilds) {
    SCOPED_TRACE(NameOf(build));
    CGameDouble game(build);
    ASSERT_TRUE(game.IsReady());
    game.SetScreenSize(8, 4);
    CRendererDouble& renderer = game.Renderer();
    EXPECT_EQ(game.AddGameTexture(renderer.MakeTexture(1, 1, {kRed})), 0u);
    EXPECT_EQ(game.AddGameTexture(renderer.MakeTexture(1, 1, {kBlue})), 1u);
    const std::uint32_t green = renderer.MakeTexture(1, 1, {kGreen});
    std::uint8_t block[kStateBlockSize] = {};
    const TextureRecord ours{green, renderer.TextureOf(green)};
    std::memcpy(block, &ours, sizeof ours);
    const bool v = build == Build::VReleasePatched;
    const std::uint32_t quadRoutine = game.Read<std::uint32_t>(Place{0x5339A4, 0x533AD4, 0x533B14, 0x876C04});
    struct Row {
      std::uint16_t index;
      bool swapped;  // the DLL's record in the global (A-C) or the state block (D)
      std::uint32_t pixel;
      std::uint32_t badTextures;
    };
    const Row rows[] = {{1, false, kBlue, 0}, {0, false, kRed, 0}, {2, false, kWhite, 1},
                        {0, true, kGreen, 1}, {1, true, v ? kBlue : kWhite, v ? 1u : 2u}};
    for (const Row& row : rows) {
      SCOPED_TRACE(row.index);
      const std::uint32_t saved = v ? 0 : game.Read<std::uint32_t>(Place{0x7537C8, 0x7538F4, 0x753934, 0});
      std::uint8_t savedBlock[kStateBlockSize] = {};
      auto* stateBlock = reinterpret_cast<std::uint8_t*>(std::uintptr_t(game.At(0xD99DA8)));
      if (row.swapped && v) {
        std::memcpy(savedBlock, stateBlock, sizeof savedBlock);
        std::memcpy(stateBlock, block, sizeof block);
      } else if (row.swapped) {
        game.Write<std::uint32_t>(Place{0x7537C8, 0x7538F4, 0x753934, 0}, Address(block));
      }
      QuadRecord quad = Quad(-0.5f, -0.5f, 3.5f, 3.5f, kWhite);
      quad.textureIndex = row.index;
      game.CallAddress(quadRoutine, {Address(&quad)});
      game.Run(Routine::FrameRoutine3);
      EXPECT_EQ(game.Frame().At(3, 3), row.pixel);
      EXPECT_EQ(game.Frame().At(4, 3), 0xFF000000u);
      EXPECT_EQ(renderer.BadTextures(), row.badTextures);
      if (row.swapped && v) std::memcpy(stateBlock, savedBlock, sizeof savedBlock);
      if (row.swapped && !v) game.Write<std::uint32_t>(Place{0x7537C8, 0x7538F4, 0x753934, 0}, saved);
    }
    game.Run(Routine::Frame);
    EXPECT_EQ(game.Frame(), CPicture(8, 4, 0xFF000000));
  }
}

TEST(GameDoubleDrawing, AMismatchWritesActualAndDifferencePictures) {
  CPicture actual(2, 2, 0xFF000000), expected(2, 2, 0xFF000000);
  actual.Set(1, 0, 0xFF010101);
  EXPECT_TRUE(ComparePictures(actual, expected, "tolerated", 1).same);
  actual.Set(0, 1, 0xFF030303);
  EXPECT_TRUE(ComparePictures(actual, expected, "fraction", {0, 0.5}).same);
  EXPECT_FALSE(ComparePictures(actual, expected, "fraction", kTransformedPicture).same);
  std::remove((PictureOutputDirectory() + "/fraction.actual.png").c_str());
  std::remove((PictureOutputDirectory() + "/fraction.difference.png").c_str());
  actual.Set(0, 1, 0xFF000000);
  const PictureComparison comparison = ComparePictures(actual, expected, "mismatch");
  EXPECT_EQ((std::tuple{comparison.differingPixels, comparison.firstX}), (std::tuple{1u, 1u}));
  CPicture difference, written;
  const std::string base = PictureOutputDirectory() + "/mismatch";
  ASSERT_TRUE(LoadPng(base + ".difference.png", difference) && LoadPng(base + ".actual.png", written));
  EXPECT_EQ((std::tuple{difference.At(1, 0), difference.At(0, 0), written}),
            (std::tuple{0xFFFF0000u, 0xFF000000u, actual}));
  std::remove((base + ".difference.png").c_str());
  std::remove((base + ".actual.png").c_str());
  EXPECT_FALSE(ComparePictureWithFile(actual, base + ".missing.png", "missing").same);
  std::remove((PictureOutputDirectory() + "/missing.actual.png").c_str());
}

}  // namespace
