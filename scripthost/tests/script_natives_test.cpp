// The natives on the game double of each build, run from scripts: Engine.QV, SetFPSLimit, DrawRectangle and the
// Texture and AudioInstance classes (Ogg files made with libvorbisenc, played on the DirectSound test clock).
#include <OggFixture.h>

#include <cstring>
#include <tuple>

#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/ModuleRegistry.h>
#include <platform/testing/DSoundClock.h>
#include <scripthost/Audio.h>
#include <scripthost/ClassBinding.h>
#include <scripthost/EngineNatives.h>
#include <scripthost/GameNatives.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/ScriptTexture.h>
#include <scripthost/SquirrelSupport.h>

#include "game_double_fixture.h"

namespace doubletest {
namespace {

using gamedouble::Method;
using gamedouble::Place;
using gamedouble::Routine;
using platform::DSoundCall;
const Place kLevel{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};
const Place kLevelSecond{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};
const Place kFlipeffect{0x4ACBFC, 0x4AEBFC, 0x4AEBFC, 0x506C60};
const Place kFlipeffectSecond{0x4BF2D4, 0x4BF3FC, 0x4BF43C, 0x51CA5A};
const Place kFrameTime{0x7537D8, 0x753900, 0x753940, 0xD9AAB0};
constexpr std::uint64_t kGameFrameTime = 0x1122334455667788ull;
constexpr std::int64_t kPlatformFrequency = 1000000000;

const Place kTextureCount{0x7537C4, 0x7538F0, 0x753930, 0xD9A868};
constexpr std::uint32_t kRecordIndexOffset = 2;  // the quad record's second u16

std::uint16_t TextureIndexOf(const gamedouble::QuadRecord& record) {
  std::uint16_t index;
  std::memcpy(&index, reinterpret_cast<const std::uint8_t*>(&record) + kRecordIndexOffset, sizeof index);
  return index;
}

class NativesTest : public ScriptDoubleTest {
 protected:
  std::vector<std::uint32_t> ArgumentsOf(Routine routine) {
    const auto calls = game->CallsOf(routine);
    return calls.empty() ? std::vector<std::uint32_t>{} : calls.back().arguments;
  }
  const std::vector<gamedouble::QuadRecord>& Submitted() { return game->Renderer().Submitted(); }
  void AddPng(const char16_t* name, std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint32_t> pixels(std::size_t(width) * height);
    for (std::uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | i * 0x030507u;
    files[name] = EncodePng(width, height, pixels);
  }
};

TEST_P(NativesTest, RoutinesReceiveTheScriptsValues) {
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
  EXPECT_EQ(ArgumentsOf(V() ? Routine::ProgressBarV : Routine::ProgressBar),
            (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(std::pair(game->CallsOf(V() ? Routine::ProgressBar : Routine::ProgressBarV).size(), text),
            std::pair(std::size_t(0), std::string("ABC\0", 4)));
  const auto rendered = ArgumentsOf(Routine::RenderString);
  const auto sounds = game->CallsOf(Routine::PlaySoundEffect);
  ASSERT_EQ(std::pair(rendered.size(), sounds.size()), std::pair(std::size_t(5), std::size_t(2)));
  EXPECT_EQ(sounds[0].arguments, (std::vector<std::uint32_t>{10, 0, 0}));
  EXPECT_EQ((Nums{rendered[0], rendered[4], sounds[1].arguments[2], position[0], position[2]}),
            (Nums{8, 0xFFFFFFFF, 4, -1, 3}));
}

// A character the game's 8-bit text cannot hold is the script's error (its text is natives.nut's); nothing is drawn.
TEST_P(NativesTest, TextAbove255IsAScriptError) {
  EXPECT_EQ((Nums{Run(u"Engine.QV.RenderString(0, 0, 0, \"a\\u0100b\", 0);").ok,
                  Run(u"Engine.QV.RenderString(0, 0, 0, \"\\u00FF\", 0);").ok,
                  game->CallsOf(Routine::RenderString).size()}), (Nums{0, 1, 1}));
}

TEST_P(NativesTest, LevelAndFlipeffectPlaces) {
  game->Write<std::uint8_t>(kLevelSecond, 9);
  const auto places = [&] {
    return Nums{game->Read<std::uint8_t>(kLevel), game->Read<std::uint8_t>(kLevelSecond),
                game->Read<std::uint32_t>(kFlipeffect), game->Read<std::uint8_t>(kFlipeffectSecond)};
  };
  ASSERT_TRUE(Run(u"Engine.QV.ChangeLevel(5);").ok);
  const Nums first = places();
  EXPECT_EQ(Nums(first.begin(), first.begin() + 2), (Nums{5, 0}));
  ASSERT_TRUE(Run(u"Engine.QV.ChangeLevel(261, 2); Engine.QV.SetFlipeffect(300, 258);").ok);
  EXPECT_EQ(places(), (Nums{5, 2, 300, 2}));
  EXPECT_NE(Error(u"Engine.QV.ChangeLevel();"), "");
}

TEST(FrameTicks, FloatQuotientTruncated) {
  EXPECT_EQ((std::vector<std::uint64_t>{FrameTicks(10000000, 60), FrameTicks(10000000, 30), FrameTicks(1, 1),
                                         FrameTicks(INT64_MAX, 1), FrameTicks(1 << 30, INT32_MAX)}),
            (std::vector<std::uint64_t>{83333, 166666, 0, 1ull << 62, 0}));
}

// 60 patches, 30 restores, 60 twice replaces without overlap, 0 and -5 are refused with the limit kept, and
// the module's patches going takes the limit with them.
TEST_P(NativesTest, FrameRateLimitPatch) {
  game->Write<std::uint64_t>(kFrameTime, kGameFrameTime);
  const std::uint64_t at60 = FrameTicks(kPlatformFrequency, 60);
  // {code, runs, the frame time then, patched}; the refusals' texts are natives.nut's.
  const std::tuple<const char16_t*, bool, std::uint64_t, bool> rows[] = {
      {u"Engine.SetFPSLimit(60)", true, at60, true},
      {u"Engine.SetFPSLimit(30)", true, kGameFrameTime, false},
      {u"Engine.SetFPSLimit(60); Engine.SetFPSLimit(60)", true, at60, true},
      {u"Engine.SetFPSLimit(0)", false, at60, true},
      {u"Engine.SetFPSLimit(-5)", false, at60, true},
      {u"Engine.SetFPSLimit(120)", true, FrameTicks(kPlatformFrequency, 120), true},
  };
  for (const auto& [code, runs, expected, patched] : rows) {
    SCOPED_TRACE(text::Utf16ToUtf8(code));
    EXPECT_EQ((std::tuple{Run(code).ok, game->Read<std::uint64_t>(kFrameTime), g_FPSLimitPatch != nullptr}),
              std::tuple(runs, expected, patched));
  }
  UnloadHackModule(module);
  EXPECT_EQ(std::pair(g_FPSLimitPatch != nullptr, game->Read<std::uint64_t>(kFrameTime)),
            std::pair(false, kGameFrameTime));
}




// Omitted arguments take the values that written-out ones give: the same record reaches the game.
TEST_P(NativesTest, DrawRectangleDefaultsEqualExplicitValues) {
  game->Write<std::uint32_t>(kTextureCount, 3);
  const Outcome outcome =
      Run(u"local Q = Engine.QVUtil;"
          u"Q.DrawRectangle(1, 10, 12, 8, 6);"
          u"Q.DrawRectangle(1, 10.0, 12.0, 8.0, 6.0, 0, 0, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,"
          u"  0, 0, 0.0, 1, 1, false);"
          u"Q.DrawRectangle(65538, 1, 2, 3, 4, 0.25, 0.5, 0.5, 0.25, 1, 2, 3, 4, 0.5, 0.5, 1.5, 2, 3, true);");
  ASSERT_TRUE(outcome.ok) << outcome.err;
  ASSERT_EQ(Submitted().size(), 3u);
  const auto& last = Submitted()[2];
  // 65536 + 2: the low 16 bits count.
  EXPECT_EQ((Nums{std::memcmp(&Submitted()[0], &Submitted()[1], sizeof(gamedouble::QuadRecord)),
                  TextureIndexOf(Submitted()[0]), TextureIndexOf(last), last.mode == gamedouble::kQuadModeFlagTrue,
                  last.vertices[0].colour, last.vertices[3].colour}), (Nums{0, 1, 2, 1, 1, 4}));
  EXPECT_EQ(std::pair(last.vertices[0].u, last.vertices[3].v), std::pair(0.25f, 0.75f));
}

TEST_P(NativesTest, DrawRectangleRefusals) {
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

TEST_P(NativesTest, TextureErrorTexts) {
  AddPng(u"ok.png", 3, 2);
  std::vector<std::uint8_t> corrupt = EncodePng(4, 4, std::vector<std::uint32_t>(16, 0xFF00FF00));
  for (std::size_t i = corrupt.size() / 2; i < corrupt.size() - 12; ++i) corrupt[i] ^= 0x5A;  // the pixel data
  files[u"corrupt.png"] = corrupt;
  files[u"text.png"] = {'n', 'o', 't', ' ', 'p', 'n', 'g'};
  // A missing file and the binding's refusals (unbound, bound again, another class, clone) are natives.nut's.
  ExpectErrors({{u"Engine.Texture(\"text.png\")", "sqvm: failed to load texture."},
                {u"Engine.Texture(\"corrupt.png\")", "sqvm: failed to load texture."}});
  game->Renderer().InjectFailure(Method::CreateSurface);
  EXPECT_EQ(Error(u"Engine.Texture(\"ok.png\")"), "sqvm: failed to create texture.");
  game->SetRendererPresent(false, true);
  EXPECT_EQ(Error(u"Engine.Texture(\"ok.png\")"), "sqvm: DirectDraw is not initialised.");
  EXPECT_EQ(game->Renderer().LiveSurfaces(), 0u);
}

// An integer draws the game's own texture of that index (its low 16 bits), found where the game keeps it.
TEST_P(NativesTest, GameTextureByIndexDrawnOneToOne) {
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

INSTANTIATE_TEST_SUITE_P(Builds, NativesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);



constexpr std::uint32_t kRate = 8000;
constexpr long kShortFrames = 400;  // well inside the first half (kRate / 4 frames)
HWND const kWindow = reinterpret_cast<HWND>(0x1000);

class AudioNativesTest : public ScriptDoubleTest {
 protected:
  void SetUp() override {
    ScriptDoubleTest::SetUp();
    if (HasFatalFailure()) return;
    RegisterHackModule(CreateHackModule(u"ogg", u"OggVorbisSupport"), reinterpret_cast<HMODULE>(std::uintptr_t(3)),
                       false, OggVorbisSupportModuleHandler);
    files[u"short.ogg"] = oggfixture::Encode(1, kRate, kShortFrames);
    files[u"text.ogg"] = {'n', 'o', 't', ' ', 'o', 'g', 'g'};
    ASSERT_TRUE(device.Initialise());
    g_pAudio = &device;
  }
  void TearDown() override {
    ScriptDoubleTest::TearDown();
    g_pAudio = nullptr;
  }
  std::string Printed(const std::u16string& code) {
    const Outcome outcome = Run(code);
    EXPECT_TRUE(outcome.ok) << outcome.err;
    return outcome.out;
  }

  platform::testing::DSoundClock clock{kRate};
  CDSoundAudio device{kWindow};
};

TEST_P(AudioNativesTest, ErrorTexts) {
  // A missing file, an unbound instance's Play and another class's instance are natives.nut's cases.
  ExpectErrors({
      {u"Engine.AudioInstance(\"text.ogg\", false)", "sqvm: failed to load audio file."},
      {u"clone Engine.AudioInstance(\"short.ogg\", false)", "sqvm: instances of this class cannot be cloned."},
      {u"Engine.AudioInstance(\"short.ogg\", false).constructor(\"short.ogg\", true)",
       "sqvm: the instance is already bound to an object."},
  });
  // A buffer DirectSound refuses fails the constructor and nothing else.
  clock.FailNext(DSoundCall::CreateSoundBuffer, DSERR_OUTOFMEMORY);
  EXPECT_EQ(Error(u"Engine.AudioInstance(\"short.ogg\", false)"), "sqvm: failed to create audio instance.");
  g_pAudio = nullptr;
  EXPECT_EQ(Error(u"Engine.AudioInstance(\"short.ogg\", false)"), "sqvm: audio is not initialised.");
}

TEST_P(AudioNativesTest, PlayingListFollowsPlayStopAndTheEnd) {
  EXPECT_EQ(Printed(u"::a <- Engine.AudioInstance(\"short.ogg\", false);"
                    u"print(typeof a + \" \" + a.IsPlaying() + \" \" + Engine.GetPlayingAudioInstances().len());"
                    u"a.Stop(); a.Play(); a.Play();"
                    u"local list = Engine.GetPlayingAudioInstances();"
                    u"print(\" \" + list.len() + \" \" + (list[0] == a) + \" \" + a.IsPlaying());"
                    u"a.SetVolume(0.5); a.SetSamplesPerSec(4000.9); print(\" \" + a.GetSamplesPerSec());"),
            "AudioInstance false 0 1 true true 4000");
  EXPECT_EQ(g_PlayingAudioInstances.m_Count, 1u);
  // Past its end the sound reads as stopped; the sweep before OnProcess unlists it.
  clock.Advance(kRate / 8);
  EXPECT_EQ(Printed(u"print(a.IsPlaying() + \" \" + Engine.GetPlayingAudioInstances().len());"), "false 1");
  UnlistStoppedAudioInstances();
  EXPECT_EQ(Printed(u"print(Engine.GetPlayingAudioInstances().len() + \" \" + a.GetSample()); a.Play();"), "0 0");
  EXPECT_EQ(g_PlayingAudioInstances.m_Count, 1u);
  EXPECT_EQ(Printed(u"a.Stop(); print(Engine.GetPlayingAudioInstances().len()); a.SetSample(100);"
                    u"print(\" \" + a.GetSample());"),
            "0 100");
}

// The environment's playing instances stop and leave the list when it goes; objects scripts still hold (here
// through Shared) stay usable, and none keeps the environment.
TEST_P(AudioNativesTest, EnvironmentTearDownStopsItsAudio) {
  ASSERT_EQ(Printed(u"Shared.kept <- Engine.AudioInstance(\"short.ogg\", true); Shared.kept.Play();"), "");
  ASSERT_EQ(g_PlayingAudioInstances.m_Count, 1u);
  tScriptAudioInstance* kept = GetPlayingAudioInstance(g_PlayingAudioInstances.m_pHead);
  environment.reset();
  EXPECT_EQ((Nums{g_PlayingAudioInstances.m_Count, kept->GetEnvironment() != nullptr,
                  kept->GetAudioInstance()->IsPlaying()}), (Nums{0, 0, 0}));
  environment = std::make_unique<MemoryEnvironment>(host.get(), u"second", &files);
  EXPECT_EQ(Printed(u"Shared.kept.Play(); print(Shared.kept.IsPlaying()); Shared.kept.Stop();"), "true");
}

INSTANTIATE_TEST_SUITE_P(Builds, AudioNativesTest, ::testing::Values(gamedouble::Build::IVReleasePatched), BuildName);

}  // namespace
}  // namespace doubletest
