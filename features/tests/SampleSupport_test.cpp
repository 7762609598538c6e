#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <hack/BuiltInModules.h>
#include <hack/GameHooks.h>
#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <platform/acm.h>
#include <platform/testing/DSoundClock.h>

#include "WaveFixture.h"

namespace {

using gamedouble::Build;
using gamedouble::Routine;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSampleTable[] = {0x52A990, 0x52AAC0, 0x52AB00, 0x86BEF0};
constexpr std::uint32_t kIndex = 5;
constexpr std::uint32_t kUntouched = 0xDEADBEEF;
constexpr std::uint32_t kGameRate = 22050;

struct Entry {
  std::uint32_t buffer, rate, third;
};

// The game double of one build with its sound made, the core's hooks in, and one module registered by name.
class SampleSupportTest : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    hack::testing::ResetHackRegistry();
    game = std::make_unique<gamedouble::CGameDouble>(GetParam());
    ASSERT_TRUE(game->IsReady());
    DetectGameVersion();
    ASSERT_TRUE(SelectGameBuild());
    tHackModule* core = CreateHackModule(u"core.dll", u"core");
    RegisterHackModule(core, reinterpret_cast<HMODULE>(0x1000), false,
                       [](std::uint32_t, ModuleEventData*) -> std::uint32_t { return MODULEREPLY_HANDLED; });
    InstallCoreHooks(core);
    ASSERT_TRUE(game->StartSound());
    game->Write<Entry>(Table(), {kUntouched, kUntouched, kUntouched});
  }
  void TearDown() override {
    hack::testing::ResetHackRegistry();
    game.reset();
  }
  std::uint32_t Register(const char16_t* name) {
    return RegisterBuiltInModule(CreateHackModule(u"module.dll", name), reinterpret_cast<HMODULE>(0x2000));
  }
  std::uint32_t Table() const { return kSampleTable[std::size_t(GetParam())] + kIndex * 12; }
  bool Editor() const { return GetParam() == Build::IVEditor; }

  // Loads a sample through the game's loader call; the game's own loader must run exactly when refused.
  std::uint32_t Load(const Bytes& file, std::uint32_t third, bool refused, std::uint32_t size = 0) {
    game->ClearCalls();
    std::memcpy(game->SampleReadBuffer(), file.data(), std::min<std::size_t>(file.size(), gamedouble::CGameDouble::kSampleReadBufferBytes));
    const std::uint32_t result =
        game->Call(Routine::LoadSampleCaller, {std::uint32_t(std::uintptr_t(game->SampleReadBuffer())),
                                                size != 0 ? size : std::uint32_t(file.size()), third, kIndex});
    EXPECT_EQ(game->CallsOf(Routine::SampleLoader).size(), refused ? 1u : 0u);
    const Entry entry = game->Read<Entry>(Table());
    if (refused) {
      EXPECT_EQ(entry.buffer, kUntouched);
    }
    EXPECT_EQ(entry.third, kUntouched);
    return result;
  }
  // The bytes of the buffer the table entry holds.
  Bytes EntryBytes() {
    const Entry entry = game->Read<Entry>(Table());
    EXPECT_EQ(entry.rate, kGameRate);
    auto* buffer = reinterpret_cast<IDirectSoundBuffer*>(std::uintptr_t(entry.buffer));
    void* first = nullptr;
    DWORD bytes = 0;
    EXPECT_EQ(buffer->Lock(0, 0, &first, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    Bytes out(static_cast<std::uint8_t*>(first), static_cast<std::uint8_t*>(first) + bytes);
    buffer->Unlock(first, bytes, nullptr, 0);
    buffer->Release();
    return out;
  }

  platform::testing::DSoundClock clock{44100};
  std::unique_ptr<gamedouble::CGameDouble> game;
};

Bytes PcmWave(std::uint16_t tag, std::uint32_t formatBytes, const Bytes& samples, std::uint32_t claimed) {
  Bytes file;
  auto put = [&](const void* p, std::size_t n) { file.insert(file.end(), (const std::uint8_t*)p, (const std::uint8_t*)p + n); };
  auto u32 = [&](std::uint32_t v) { put(&v, 4); };
  auto u16 = [&](std::uint16_t v) { put(&v, 2); };
  put("RIFF", 4), u32(0), put("WAVE", 4), put("fmt ", 4), u32(formatBytes);
  u16(tag), u16(1), u32(kGameRate), u32(kGameRate * 2), u16(2), u16(16);
  file.resize(file.size() + formatBytes - 16, 0);
  put("data", 4), u32(claimed), put(samples.data(), samples.size());
  return file;
}

TEST_P(SampleSupportTest, PCMSupport) {
  ASSERT_EQ(Register(u"PCMSupport"), Editor() ? MODULEREPLY_UNLOADNOW : MODULEREPLY_HANDLED);
  Bytes samples(3000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint8_t(i * 13);
  if (Editor()) {
    EXPECT_EQ(Load(PcmWave(1, 16, samples, 3000), 0, true), 0u);
    return;
  }
  ASSERT_EQ(Load(PcmWave(1, 16, samples, 3000), 0, false), 1u);
  EXPECT_EQ(EntryBytes(), samples);
  game->Write<Entry>(Table(), {kUntouched, kUntouched, kUntouched});

  const Bytes good = PcmWave(1, 16, samples, 3000);
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t size;
    std::function<void()> arrange;
  } cases[] = {
      {"18-byte format chunk", PcmWave(1, 18, samples, 3000), 0, nullptr},
      {"format tag 2", PcmWave(2, 16, samples, 3000), 0, nullptr},
      {"shorter than its header", Bytes(good.begin(), good.begin() + 43), 0, nullptr},
      {"empty data chunk", PcmWave(1, 16, samples, 0), 0, nullptr},
      {"data chunk past the sample", PcmWave(1, 16, samples, 3001), 0, nullptr},
      {"size shorter than the data chunk", good, 44 + 2999, nullptr},
      {"no DirectSound", good, 0, [&] { game->SetDirectSound(0); }},
      {"CreateSoundBuffer fails",
       good, 0, [&] { clock.FailNext(platform::DSoundCall::CreateSoundBuffer, DSERR_OUTOFMEMORY); }},
      {"Lock fails", good, 0, [&] { clock.FailNext(platform::DSoundCall::Lock, DSERR_BUFFERLOST); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.arrange) c.arrange();
    EXPECT_EQ(Load(c.file, 0, true, c.size), 0u);
  }
}

// The double's ADPCM stream takes mono 22050 Hz files of 512-byte blocks with the standard extension and a
// fact chunk: what the encoder writes for that rate.
TEST_P(SampleSupportTest, ADPCMSupport) {
  ASSERT_EQ(Register(u"ADPCMSupport"), Editor() ? MODULEREPLY_HANDLED : MODULEREPLY_UNLOADNOW);
  const wavefixture::AdpcmFile adpcm = wavefixture::EncodeAdpcm(1, kGameRate, 9000);
  std::uint32_t dataBytes = 0;
  ASSERT_EQ(wavefixture::FindChunk(adpcm.bytes, "data", &dataBytes) - adpcm.bytes.data(),
            std::ptrdiff_t(gamedouble::CGameDouble::kAdpcmDataOffset));
  const Bytes pcm(reinterpret_cast<const std::uint8_t*>(adpcm.decoded.data()),
                  reinterpret_cast<const std::uint8_t*>(adpcm.decoded.data() + adpcm.decoded.size()));
  const std::uint32_t third = std::uint32_t(pcm.size()) + 32;
  if (!Editor()) {
    EXPECT_EQ(Load(adpcm.bytes, third, true), 0u);
    return;
  }
  struct Good {
    const char* name;
    std::uint32_t third;
    std::size_t bytes;
  } goods[] = {{"as the file says", third, pcm.size()},
               {"third asks for more than was converted", third + 4000, pcm.size()},
               {"third asks for less", third - 1000, pcm.size() - 1000}};
  for (const auto& g : goods) {
    SCOPED_TRACE(g.name);
    game->Write<Entry>(Table(), {kUntouched, kUntouched, kUntouched});
    ASSERT_EQ(Load(adpcm.bytes, g.third, false), 1u);
    EXPECT_EQ(EntryBytes(), Bytes(pcm.begin(), pcm.begin() + std::ptrdiff_t(g.bytes)));
  }
  game->Write<Entry>(Table(), {kUntouched, kUntouched, kUntouched});

  Bytes pcmFile = adpcm.bytes, hugeExtra = adpcm.bytes;
  pcmFile[20] = 1;
  hugeExtra[36] = hugeExtra[37] = 0xFF;
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t third, size;
    std::function<void()> arrange;
  } cases[] = {
      {"PCM sample", pcmFile, third, 0, nullptr},
      {"shorter than its format fields", Bytes(adpcm.bytes.begin(), adpcm.bytes.begin() + 37), third, 0, nullptr},
      {"extension past the sample", hugeExtra, third, 0, nullptr},
      {"third below its bias", adpcm.bytes, 31, 0, nullptr},
      {"size past the prepared source", adpcm.bytes, third, 0x20000, nullptr},
      {"no DirectSound", adpcm.bytes, third, 0, [&] { game->SetDirectSound(0); }},
      {"CreateSoundBuffer fails", adpcm.bytes, third, 0,
       [&] { clock.FailNext(platform::DSoundCall::CreateSoundBuffer, DSERR_OUTOFMEMORY); }},
      {"Lock fails", adpcm.bytes, third, 0, [&] { clock.FailNext(platform::DSoundCall::Lock, DSERR_BUFFERLOST); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.arrange) c.arrange();
    EXPECT_EQ(Load(c.file, c.third, true, c.size), 0u);
  }
}

std::string BuildName(const ::testing::TestParamInfo<Build>& info) { return gamedouble::NameOf(info.param); }
INSTANTIATE_TEST_SUITE_P(Builds, SampleSupportTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
