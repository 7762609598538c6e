// Tests of the game double's renderer: the fake DirectDraw objects and the rasteriser's rules on hand-worked pictures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

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
  EXPECT_GT(std::uint32_t(locked.pitch), 3u * 4);
  EXPECT_EQ(Slot<HRESULT32>(surface, kSlotSurfaceLock, nullptr, &locked, 0u, 0u), std::int32_t(0x887601AEu));
  const std::uint32_t pixel = 0x80402010;
  std::memcpy(reinterpret_cast<std::uint8_t*>(std::uintptr_t(locked.surface)) + locked.pitch + 2 * 4, &pixel, 4);
  EXPECT_EQ(Slot<HRESULT32>(surface, kSlotSurfaceUnlock, nullptr), kDdOk);
  EXPECT_EQ(renderer.Pixel(surface, 2, 1), pixel);
  EXPECT_TRUE(renderer.PaddingIntact(surface));
  EXPECT_EQ(renderer.Find(texture)->lockFlags, kDdLockNoSysLock);
  EXPECT_EQ(Slot<std::uint32_t>(texture, kSlotRelease), 1u);
  EXPECT_EQ(Slot<std::uint32_t>(surface, kSlotRelease), 0u);
  EXPECT_EQ(renderer.LiveSurfaces(), 0u);
  EXPECT_EQ(renderer.DirectDrawReferences(), 1u);
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
  EXPECT_EQ(renderer.RenderStates().size(), 1u);
  EXPECT_EQ(renderer.CallCount(Method::SetRenderState), 2u);
}

// A quad of the bridge's shape: corners (x0, y0) .. (x1, y1), one colour, UV 0..1.
QuadRecord Quad(float x0, float y0, float x1, float y1, std::uint32_t colour, float uv1 = 1) {
  QuadRecord quad{kQuadModeFlagFalse, 0, {}};
  const float xs[4] = {x0, x1, x1, x0}, ys[4] = {y0, y0, y1, y1}, us[4] = {0, uv1, uv1, 0}, vs[4] = {0, 0, uv1, uv1};
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
  std::vector<Case> cases;
  {  // Edges through pixel centres: top and left edges take them, right and bottom do not.
    CPicture expected(4, 4, kBlack);
    expected.FillRect(0, 0, 2, 2, 0xFF00FF00);
    cases.push_back({"topleft", Quad(0.5f, 0.5f, 2.5f, 2.5f, 0xFF00FF00), {}, expected});
  }
  {  // Nearest texel, clamped beyond the texture; texel × colour.
    CPicture expected(4, 4, kBlack);
    expected.FillRect(0, 0, 1, 1, 0xFF0000FF);
    expected.FillRect(1, 0, 3, 1, 0xFF00FF00);
    expected.FillRect(0, 1, 1, 3, 0xFFFF0000);
    expected.FillRect(1, 1, 3, 3, 0xFF7F7F7F);
    cases.push_back({"clamp", Quad(0, 0, 4, 4, 0xFFFFFFFF, 2), {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFF7F7F7F},
                     expected});
  }
  {  // Source alpha over the frame; the shared diagonal is drawn once.
    CPicture expected(4, 4, kBlack);
    expected.FillRect(1, 1, 2, 2, 0xFF800000);
    cases.push_back({"blend", Quad(1, 1, 3, 3, 0x80FF0000), {}, expected});
  }
  {  // Colour interpolated at the centres: 0.25 and 0.75 of the way.
    CPicture expected(2, 1, kBlack);
    expected.Set(0, 0, 0xFF404040);
    expected.Set(1, 0, 0xFFBFBFBF);
    QuadRecord ramp = Quad(0, 0, 2, 1, 0xFF000000);
    ramp.vertices[1].colour = ramp.vertices[2].colour = 0xFFFFFFFF;
    cases.push_back({"ramp", ramp, {}, expected});
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

TEST(GameDoubleDrawing, FlushDrawsWithTheTextureCurrentThenAndPicturesRoundTrip) {
  for (Build build : {Build::IVReleasePatched, Build::VReleasePatched}) {
    SCOPED_TRACE(NameOf(build));
    CGameDouble game(build);
    ASSERT_TRUE(game.IsReady());
    game.SetScreenSize(8, 4);
    const std::uint32_t surface = game.Renderer().MakeTexture(1, 1, {0xFF0000FF});
    TextureRecord record{surface, game.Renderer().TextureOf(surface)};
    const bool v = build == Build::VReleasePatched;
    std::uint8_t block[kStateBlockSize] = {};
    std::memcpy(block, &record, sizeof record);
    if (v) {
      std::memcpy(reinterpret_cast<void*>(std::uintptr_t(game.At(0xD99DA8))), block, sizeof block);
    } else {
      game.Write<std::uint32_t>(0x7538F4, Address(&record));
    }
    QuadRecord quad = Quad(0, 0, 4, 4, 0xFFFFFFFF);
    game.CallAddress(game.Read<std::uint32_t>(Place{0, 0x533AD4, 0, 0x876C04}), {Address(&quad)});
    EXPECT_EQ(game.Renderer().Queued().size(), 1u);
    game.Run(Routine::FrameRoutine3);
    CPicture expected(8, 4, 0xFF000000);
    expected.FillRect(0, 0, 4, 4, 0xFF0000FF);
    const std::string path = PictureOutputDirectory() + "/roundtrip-" + NameOf(build) + ".png";
    ASSERT_TRUE(SavePng(game.Frame(), path));
    const PictureComparison comparison = ComparePictureWithFile(expected, path, std::string("flush-") + NameOf(build));
    EXPECT_TRUE(comparison.same) << comparison.report;
    std::remove(path.c_str());
    // A record whose two interfaces belong to different surfaces draws untextured and is counted.
    const std::uint32_t other = game.Renderer().MakeTexture(1, 1, {0xFF00FF00});
    record.texture = game.Renderer().TextureOf(other);
    std::memcpy(block, &record, sizeof record);
    if (v) std::memcpy(reinterpret_cast<void*>(std::uintptr_t(game.At(0xD99DA8))), block, sizeof block);
    game.Renderer().Queue(quad);
    game.Run(Routine::FrameRoutine1);
    EXPECT_EQ(game.Renderer().BadTextures(), 1u);
    EXPECT_EQ(game.Frame().At(1, 1), 0xFFFFFFFFu);
  }
}

TEST(GameDoubleDrawing, AMismatchWritesActualAndDifferencePictures) {
  CPicture actual(2, 2, 0xFF000000), expected(2, 2, 0xFF000000);
  actual.Set(1, 0, 0xFF010101);
  EXPECT_TRUE(ComparePictures(actual, expected, "tolerated", 1).same);
  const PictureComparison comparison = ComparePictures(actual, expected, "mismatch");
  EXPECT_EQ(comparison.differingPixels, 1u);
  EXPECT_EQ(comparison.firstX, 1u);
  CPicture difference;
  const std::string base = PictureOutputDirectory() + "/mismatch";
  ASSERT_TRUE(LoadPng(base + ".difference.png", difference));
  EXPECT_EQ(difference.At(1, 0), 0xFFFF0000u);
  EXPECT_EQ(difference.At(0, 0), 0xFF000000u);
  CPicture written;
  ASSERT_TRUE(LoadPng(base + ".actual.png", written));
  EXPECT_EQ(written, actual);
  std::remove((base + ".difference.png").c_str());
  std::remove((base + ".actual.png").c_str());
  EXPECT_FALSE(ComparePictureWithFile(actual, base + ".missing.png", "missing").same);
  std::remove((PictureOutputDirectory() + "/missing.actual.png").c_str());
}

}  // namespace
