// Engine.QV natives, SetFPSLimit and Sleep on the game double of each build: the game's routines called with
// the script's values, the places written, and the frame-rate patch made, replaced and removed.
#include <cstring>

#include <hack/Hacks.h>
#include <hack/ModuleRegistry.h>
#include <scripthost/GameNatives.h>

#include "game_double_fixture.h"

namespace doubletest {
namespace {

using gamedouble::Place;
using gamedouble::Routine;

const Place kLevel{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};
const Place kLevelSecond{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};
const Place kFlipeffect{0x4ACBFC, 0x4AEBFC, 0x4AEBFC, 0x506C60};
const Place kFlipeffectSecond{0x4BF2D4, 0x4BF3FC, 0x4BF43C, 0x51CA5A};
const Place kFrameTime{0x7537D8, 0x753900, 0x753940, 0xD9AAB0};
constexpr std::uint64_t kGameFrameTime = 0x1122334455667788ull;
constexpr std::int64_t kPlatformFrequency = 1000000000;

class GameNativesTest : public ScriptDoubleTest {
 protected:
  std::vector<std::uint32_t> ArgumentsOf(Routine routine) {
    const auto calls = game->CallsOf(routine);
    return calls.empty() ? std::vector<std::uint32_t>{} : calls.back().arguments;
  }
};

TEST_P(GameNativesTest, RoutinesReceiveTheScriptsValues) {
  game->SetScreenSize(640, 480);
  game->Write<std::uint32_t>(gamedouble::chosen::kFontHeight, 17);
  std::string text;
  std::int32_t position[3] = {};
  game->OnCall(Routine::RenderString, [&](const gamedouble::StubCall& call) {
    const char* bytes = reinterpret_cast<const char*>(std::uintptr_t(call.arguments[3]));
    text.assign(bytes, std::strlen(bytes) + 1);
    return 0u;
  });
  game->OnCall(Routine::PlaySoundEffect, [&](const gamedouble::StubCall& call) {
    if (call.arguments[1] != 0)
      std::memcpy(position, reinterpret_cast<const void*>(std::uintptr_t(call.arguments[1])), sizeof position);
    return call.arguments[0] == 11 ? 1u : 0u;
  });
  const Outcome outcome =
      Run(u"local Q = Engine.QV;"
          u"print(Q.GetScreenWidth() + \" \" + Q.GetScreenHeight() + \" \" + Q.GetFontHeight() + \"\\n\");"
          u"Q.RenderProgressBar(1, 2, 3, 4, 5, 6, 7);"
          u"Q.RenderString(8, 9, 10, \"ABC\", -1);"
          u"print(Q.PlaySoundEffect(10, 0) + \" \" + Q.PlaySoundEffect3D(11, -1, 2, 3, 4) + \"\\n\");");
  ASSERT_TRUE(outcome.ok) << outcome.err;
  EXPECT_EQ(outcome.out, "640 480 17\nfalse true\n");
  const bool v = V();
  EXPECT_EQ(ArgumentsOf(v ? Routine::ProgressBarV : Routine::ProgressBar),
            (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(game->CallsOf(v ? Routine::ProgressBar : Routine::ProgressBarV).empty());
  EXPECT_EQ(text, std::string("ABC\0", 4));
  const auto rendered = ArgumentsOf(Routine::RenderString);
  ASSERT_EQ(rendered.size(), 5u);
  EXPECT_EQ(rendered[0], 8u);
  EXPECT_EQ(rendered[4], 0xFFFFFFFFu);
  const auto sounds = game->CallsOf(Routine::PlaySoundEffect);
  ASSERT_EQ(sounds.size(), 2u);
  EXPECT_EQ(sounds[0].arguments, (std::vector<std::uint32_t>{10, 0, 0}));
  EXPECT_EQ(sounds[1].arguments[2], 4u);
  EXPECT_EQ(position[0], -1);
  EXPECT_EQ(position[2], 3);
}

// A character the game's 8-bit text cannot hold is the script's error; nothing is drawn.
TEST_P(GameNativesTest, TextAbove255IsAScriptError) {
  EXPECT_EQ(Error(u"Engine.QV.RenderString(0, 0, 0, \"a\\u0100b\", 0);"),
            "sqvm: An attempt was made to copy a string into a buffer of a type that does not support a character "
            "in the string..");
  EXPECT_TRUE(Run(u"Engine.QV.RenderString(0, 0, 0, \"\\u00FF\", 0);").ok);
  EXPECT_EQ(game->CallsOf(Routine::RenderString).size(), 1u);
}

TEST_P(GameNativesTest, LevelAndFlipeffectPlaces) {
  game->Write<std::uint8_t>(kLevelSecond, 9);
  ASSERT_TRUE(Run(u"Engine.QV.ChangeLevel(5);").ok);
  EXPECT_EQ(game->Read<std::uint8_t>(kLevel), 5u);
  EXPECT_EQ(game->Read<std::uint8_t>(kLevelSecond), 0u);
  ASSERT_TRUE(Run(u"Engine.QV.ChangeLevel(261, 2); Engine.QV.SetFlipeffect(300, 258);").ok);
  EXPECT_EQ(game->Read<std::uint8_t>(kLevel), 5u);
  EXPECT_EQ(game->Read<std::uint8_t>(kLevelSecond), 2u);
  EXPECT_EQ(game->Read<std::uint32_t>(kFlipeffect), 300u);
  EXPECT_EQ(game->Read<std::uint8_t>(kFlipeffectSecond), 2u);
  EXPECT_NE(Error(u"Engine.QV.ChangeLevel();"), "");
}

TEST(FrameTicks, FloatQuotientTruncated) {
  EXPECT_EQ(FrameTicks(10000000, 60), 83333u);
  EXPECT_EQ(FrameTicks(10000000, 30), 166666u);
  EXPECT_EQ(FrameTicks(1, 1), 0u);
  EXPECT_EQ(FrameTicks(INT64_MAX, 1), 1ull << 62);
  EXPECT_EQ(FrameTicks(1 << 30, INT32_MAX), 0u);
}

// 60 patches, 30 restores, 60 twice replaces without overlap, 0 and -5 are refused with the limit kept, and
// the module's patches going takes the limit with them.
TEST_P(GameNativesTest, FrameRateLimitPatch) {
  game->Write<std::uint64_t>(kFrameTime, kGameFrameTime);
  const std::uint64_t at60 = FrameTicks(kPlatformFrequency, 60);
  struct Row {
    const char16_t* code;
    std::uint64_t expected;
    bool patched;
    const char* error;
  };
  const Row rows[] = {
      {u"Engine.SetFPSLimit(60)", at60, true, nullptr},
      {u"Engine.SetFPSLimit(30)", kGameFrameTime, false, nullptr},
      {u"Engine.SetFPSLimit(60); Engine.SetFPSLimit(60)", at60, true, nullptr},
      {u"Engine.SetFPSLimit(0)", at60, true, "sqvm: the frame rate limit must be above 0."},
      {u"Engine.SetFPSLimit(-5)", at60, true, "sqvm: the frame rate limit must be above 0."},
      {u"Engine.SetFPSLimit(120)", FrameTicks(kPlatformFrequency, 120), true, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(text::Utf16ToUtf8(row.code));
    const Outcome outcome = Run(row.code);
    EXPECT_EQ(outcome.ok, row.error == nullptr);
    if (row.error != nullptr) {
      EXPECT_EQ(FirstLine(outcome.err), row.error);
    }
    EXPECT_EQ(game->Read<std::uint64_t>(kFrameTime), row.expected);
    EXPECT_EQ(g_FPSLimitPatch != nullptr, row.patched);
  }
  UnloadHackModule(module);
  EXPECT_EQ(g_FPSLimitPatch, nullptr);
  EXPECT_EQ(game->Read<std::uint64_t>(kFrameTime), kGameFrameTime);
}

INSTANTIATE_TEST_SUITE_P(Builds, GameNativesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
}  // namespace doubletest
