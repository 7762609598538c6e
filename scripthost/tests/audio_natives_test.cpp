// The AudioInstance class from scripts: Ogg files made with libvorbisenc, decoded by the OggVorbisSupport
// module and played on the DirectSound stand-in's test clock; the playing list and its sweeps; error texts.
#include <OggFixture.h>

#include <hack/BuiltInModules.h>
#include <hack/ModuleRegistry.h>
#include <platform/testing/DSoundClock.h>
#include <scripthost/Audio.h>
#include <scripthost/ClassBinding.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/SquirrelSupport.h>

#include "game_double_fixture.h"

namespace doubletest {
namespace {

using platform::DSoundCall;

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
  // A missing file and an unbound instance's Play are natives.nut's cases.
  ExpectErrors({
      {u"Engine.AudioInstance(\"text.ogg\", false)", "sqvm: failed to load audio file."},
      {u"Engine.AudioInstance.IsPlaying.call(Engine.Vector3D(1, 2, 3))", "sqvm: invalid type tag."},
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
  EXPECT_EQ(g_PlayingAudioInstances.m_Count, 0u);
  EXPECT_EQ(kept->GetEnvironment(), nullptr);
  EXPECT_FALSE(kept->GetAudioInstance()->IsPlaying());
  environment = std::make_unique<MemoryEnvironment>(host.get(), u"second", &files);
  EXPECT_EQ(Printed(u"Shared.kept.Play(); print(Shared.kept.IsPlaying()); Shared.kept.Stop();"), "true");
}

INSTANTIATE_TEST_SUITE_P(Builds, AudioNativesTest, ::testing::Values(gamedouble::Build::IVReleasePatched), BuildName);

}  // namespace
}  // namespace doubletest
