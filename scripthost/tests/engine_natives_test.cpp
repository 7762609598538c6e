// Debug and Engine natives, Engine.QVUtil.DrawRectangle and the Texture class, run from scripts on the game
// double of each build: defaults, index bounds, every error text, and what reaches the game's quad routine.
#include <cstring>

#include <scripthost/EngineNatives.h>
#include <scripthost/ScriptTexture.h>

#include "game_double_fixture.h"

namespace doubletest {
namespace {

using gamedouble::Method;
using gamedouble::Place;

const Place kTextureCount{0x7537C4, 0x7538F0, 0x753930, 0xD9A868};
constexpr std::uint32_t kRecordIndexOffset = 2;  // the quad record's second u16

std::uint16_t TextureIndexOf(const gamedouble::QuadRecord& record) {
  std::uint16_t index;
  std::memcpy(&index, reinterpret_cast<const std::uint8_t*>(&record) + kRecordIndexOffset, sizeof index);
  return index;
}

class EngineNativesTest : public ScriptDoubleTest {
 protected:
  const std::vector<gamedouble::QuadRecord>& Submitted() { return game->Renderer().Submitted(); }
  void AddPng(const char16_t* name, std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint32_t> pixels(std::size_t(width) * height);
    for (std::uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | i * 0x030507u;
    files[name] = EncodePng(width, height, pixels);
  }
};

// Omitted arguments take the values that written-out ones give: the same record reaches the game.
TEST_P(EngineNativesTest, DrawRectangleDefaultsEqualExplicitValues) {
  game->Write<std::uint32_t>(kTextureCount, 3);
  const Outcome outcome =
      Run(u"local Q = Engine.QVUtil;"
          u"Q.DrawRectangle(1, 10, 12, 8, 6);"
          u"Q.DrawRectangle(1, 10.0, 12.0, 8.0, 6.0, 0, 0, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,"
          u"  0, 0, 0.0, 1, 1, false);"
          u"Q.DrawRectangle(65538, 1, 2, 3, 4, 0.25, 0.5, 0.5, 0.25, 1, 2, 3, 4, 0.5, 0.5, 1.5, 2, 3, true);");
  ASSERT_TRUE(outcome.ok) << outcome.err;
  ASSERT_EQ(Submitted().size(), 3u);
  EXPECT_EQ(std::memcmp(&Submitted()[0], &Submitted()[1], sizeof(gamedouble::QuadRecord)), 0);
  EXPECT_EQ(TextureIndexOf(Submitted()[0]), 1u);
  const auto& last = Submitted()[2];
  EXPECT_EQ(TextureIndexOf(last), 2u);  // 65536 + 2: the low 16 bits count
  EXPECT_EQ(last.mode, gamedouble::kQuadModeFlagTrue);
  EXPECT_EQ(last.vertices[0].colour, 1u);
  EXPECT_EQ(last.vertices[3].colour, 4u);
  EXPECT_EQ(last.vertices[0].u, 0.25f);
  EXPECT_EQ(last.vertices[3].v, 0.75f);
}

TEST_P(EngineNativesTest, DrawRectangleRefusals) {
  game->Write<std::uint32_t>(kTextureCount, 3);
  ExpectErrors({
      {u"Engine.QVUtil.DrawRectangle(3, 0, 0, 1, 1);", "sqvm: texture index out of bounds."},
      {u"Engine.QVUtil.DrawRectangle(0x7FFFFFFF, 0, 0, 1, 1);", "sqvm: texture index out of bounds."},
      {u"Engine.QVUtil.DrawRectangle(Engine.Texture.instance(), 0, 0, 1, 1);",
       "sqvm: the instance is not bound to an object."},
      {u"Engine.QVUtil.DrawRectangle(Engine.Vector2D(1, 2), 0, 0, 1, 1);", "sqvm: invalid type tag."},
      {u"Engine.QVUtil.DrawRectangle(0, 0, 0, 1);", nullptr},
  });
  EXPECT_TRUE(Submitted().empty());
  // Without the game's device nothing is drawn and nothing is wrong.
  game->SetRendererPresent(true, false);
  EXPECT_TRUE(Run(u"Engine.QVUtil.DrawRectangle(40000, 0, 0, 1, 1);").ok);
  EXPECT_TRUE(Submitted().empty());
}

TEST_P(EngineNativesTest, TextureErrorTexts) {
  AddPng(u"ok.png", 3, 2);
  std::vector<std::uint8_t> corrupt = EncodePng(4, 4, std::vector<std::uint32_t>(16, 0xFF00FF00));
  for (std::size_t i = corrupt.size() / 2; i < corrupt.size() - 12; ++i) corrupt[i] ^= 0x5A;  // the pixel data
  files[u"corrupt.png"] = corrupt;
  files[u"text.png"] = {'n', 'o', 't', ' ', 'p', 'n', 'g'};
  // A missing file and an unbound instance's GetWidth are natives.nut's cases.
  ExpectErrors({
      {u"Engine.Texture(\"text.png\")", "sqvm: failed to load texture."},
      {u"Engine.Texture(\"corrupt.png\")", "sqvm: failed to load texture."},
      {u"Engine.Texture(\"ok.png\").constructor(\"ok.png\")", "sqvm: the instance is already bound to an object."},
      {u"Engine.Texture.GetWidth.call(Engine.Vector1D(1))", "sqvm: invalid type tag."},
      {u"Engine.Texture(\"ok.png\").GetHeight.call(Engine.Texture.instance())",
       "sqvm: the instance is not bound to an object."},
      {u"clone Engine.Texture(\"ok.png\")", "sqvm: instances of this class cannot be cloned."},
      {u"Engine.Texture.constructor.call(Engine.Vector1D.instance(), \"ok.png\")", "sqvm: invalid type tag."},
  });
  game->Renderer().InjectFailure(Method::CreateSurface);
  EXPECT_EQ(Error(u"Engine.Texture(\"ok.png\")"), "sqvm: failed to create texture.");
  game->SetRendererPresent(false, true);
  EXPECT_EQ(Error(u"Engine.Texture(\"ok.png\")"), "sqvm: DirectDraw is not initialised.");
  EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);
}

// A texture drawn by DrawRectangle reaches the quad routine in the build's own place; its surfaces go with
// the last script reference.
TEST_P(EngineNativesTest, TextureDrawnByDrawRectangle) {
  AddPng(u"tile.png", 3, 2);
  const Outcome outcome =
      Run(u"local t = Engine.Texture(\"tile.png\");"
          u"print(t.GetWidth() + \"x\" + t.GetHeight() + \" \" + typeof t + \"\\n\");"
          u"Engine.QVUtil.DrawRectangle(t, 5, 6, 3, 2);");
  ASSERT_TRUE(outcome.ok) << outcome.err;
  EXPECT_EQ(outcome.out, "3x2 Texture\n");
  ASSERT_EQ(Submitted().size(), 1u);
  EXPECT_EQ(TextureIndexOf(Submitted()[0]), 0u);
  EXPECT_EQ(game->Renderer().BadTextures(), 0u);
  EXPECT_EQ(game->Frame().At(5 + 2, 6 + 1), 0xFF000000u | 5 * 0x030507u);
  EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);  // the script's texture went with its local
}

// An integer draws the game's own texture of that index (its low 16 bits), found where the game keeps it.
TEST_P(EngineNativesTest, GameTextureByIndexDrawnOneToOne) {
  const std::vector<std::uint32_t> pixels = {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC};
  game->AddGameTexture(game->Renderer().MakeTexture(1, 1, {0xFFFFFFFF}));
  const std::uint16_t index = game->AddGameTexture(game->Renderer().MakeTexture(2, 2, pixels));
  const std::u16string code = u"Engine.QVUtil.DrawRectangle(" + text::Utf8ToUtf16(std::to_string(65536 + index)) +
                              u", 4, 5, 2, 2);";
  ASSERT_TRUE(Run(code).ok);
  // Drawn by the game's next flush, as the game draws its own queued quads.
  game->Run(gamedouble::Routine::FrameRoutine1);
  gamedouble::CPicture expected = Filled(0, 0, 0, 0, 0);
  for (std::uint32_t i = 0; i < pixels.size(); ++i) expected.Set(4 + i % 2, 5 + i / 2, pixels[i]);
  ExpectFrame(expected, "drawrectangle-index");
  EXPECT_EQ(game->Renderer().BadTextures(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Builds, EngineNativesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
}  // namespace doubletest
