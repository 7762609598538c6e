// PCMSupport and ADPCMSupport loading samples into the game's table on every build, and OggVorbisSupport
// answering OpenAudioSource.
#include <functional>

#include <base/AudioSource.h>
#include <base/Stream.h>
#include <hack/ModuleEventData.h>
#include <platform/acm.h>
#include <platform/testing/DSoundClock.h>

#include "OggFixture.h"
#include "WaveFixture.h"
#include "feature_fixture.h"

namespace {

using namespace featuretest;

constexpr gamedouble::Place kSampleTable{0x52A990, 0x52AAC0, 0x52AB00, 0x86BEF0};
constexpr std::uint32_t kIndex = 5, kEntryBytes = 12;
constexpr std::uint32_t kUntouched = 0xDEADBEEF;
constexpr std::uint32_t kGameRate = 22050;

struct Entry {
  std::uint32_t buffer, rate, third;
};

class SampleSupportTest : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    ASSERT_TRUE(game->StartSound());
  }
  std::uint32_t Table() const { return kSampleTable.In(B()) + kIndex * kEntryBytes; }

  // Loads a sample through the game's loader call; the game's own loader must run exactly when refused.
  std::uint32_t Load(const Bytes& file, std::uint32_t third, bool refused, std::uint32_t size = 0) {
    game->ClearCalls();
    std::memcpy(game->SampleReadBuffer(), file.data(),
                std::min<std::size_t>(file.size(), gamedouble::CGameDouble::kSampleReadBufferBytes));
    const std::uint32_t result = game->Call(
        Routine::LoadSampleCaller,
        {Address(game->SampleReadBuffer()), size != 0 ? size : std::uint32_t(file.size()), third, kIndex});
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
};

Bytes PcmWave(std::uint16_t tag, std::uint32_t formatBytes, const Bytes& samples, std::uint32_t claimed) {
  Bytes file;
  auto put = [&](const void* p, std::size_t n) {
    file.insert(file.end(), static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + n);
  };
  auto u32 = [&](std::uint32_t v) { put(&v, 4); };
  auto u16 = [&](std::uint16_t v) { put(&v, 2); };
  put("RIFF", 4), u32(0), put("WAVE", 4), put("fmt ", 4), u32(formatBytes);
  u16(tag), u16(1), u32(kGameRate), u32(kGameRate * 2), u16(2), u16(16);
  file.resize(file.size() + formatBytes - 16, 0);
  put("data", 4), u32(claimed), put(samples.data(), samples.size());
  return file;
}

// Both modules are registered: PCMSupport loads on every build but the IV Editor, ADPCMSupport only there.
// The double's ADPCM stream takes what the encoder writes for mono 22050 Hz (512-byte blocks, a fact chunk).
TEST_P(SampleSupportTest, LoadSample) {
  ASSERT_EQ(Register(u"PCMSupport"), Editor() ? MODULEREPLY_UNLOADNOW : MODULEREPLY_HANDLED);
  ASSERT_EQ(Register(u"ADPCMSupport"), Editor() ? MODULEREPLY_HANDLED : MODULEREPLY_UNLOADNOW);
  Bytes samples(3000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint8_t(i * 13);
  const Bytes pcm = PcmWave(1, 16, samples, 3000);
  const wavefixture::AdpcmFile adpcm = wavefixture::EncodeAdpcm(1, kGameRate, 9000);
  std::uint32_t dataBytes = 0;
  ASSERT_EQ(wavefixture::FindChunk(adpcm.bytes, "data", &dataBytes) - adpcm.bytes.data(),
            std::ptrdiff_t(gamedouble::CGameDouble::kAdpcmDataOffset));
  const Bytes decoded(reinterpret_cast<const std::uint8_t*>(adpcm.decoded.data()),
                      reinterpret_cast<const std::uint8_t*>(adpcm.decoded.data() + adpcm.decoded.size()));
  const std::uint32_t third = std::uint32_t(decoded.size()) + 32;
  Bytes pcmTagged = adpcm.bytes, hugeExtra = adpcm.bytes;
  pcmTagged[20] = 1;
  hugeExtra[36] = hugeExtra[37] = 0xFF;
  const Bytes& native = Editor() ? adpcm.bytes : pcm;
  const Bytes less(decoded.begin(), decoded.end() - 1000);
  const auto fail = [&](platform::DSoundCall call) { return [&, call] { clock.FailNext(call, DSERR_GENERIC); }; };
  struct Case {
    const char* name;
    Bytes file;
    std::uint32_t third, size;
    std::function<void()> arrange;
    const Bytes* loaded;  // what the buffer holds when the build's module takes the file; null: refused
    bool editor;          // the build whose module takes it
  } cases[] = {
      {"PCM", pcm, 0, 0, nullptr, &samples, false},
      {"PCM, 18-byte format chunk", PcmWave(1, 18, samples, 3000), 0, 0, nullptr, nullptr, false},
      {"PCM, format tag 2", PcmWave(2, 16, samples, 3000), third, 0, nullptr, nullptr, false},
      {"PCM, shorter than its header", Bytes(pcm.begin(), pcm.begin() + 43), 0, 0, nullptr, nullptr, false},
      {"PCM, empty data chunk", PcmWave(1, 16, samples, 0), 0, 0, nullptr, nullptr, false},
      {"PCM, data chunk past the sample", PcmWave(1, 16, samples, 3001), 0, 0, nullptr, nullptr, false},
      {"PCM, size short of the data chunk", pcm, 0, 44 + 2999, nullptr, nullptr, false},
      {"ADPCM", adpcm.bytes, third, 0, nullptr, &decoded, true},
      {"ADPCM, third past the conversion", adpcm.bytes, third + 4000, 0, nullptr, &decoded, true},
      {"ADPCM, third short of it", adpcm.bytes, third - 1000, 0, nullptr, &less, true},
      {"ADPCM layout, format tag 1", pcmTagged, third, 0, nullptr, nullptr, true},
      {"ADPCM, shorter than its format fields", Bytes(adpcm.bytes.begin(), adpcm.bytes.begin() + 37), third, 0,
       nullptr, nullptr, true},
      {"ADPCM, extension past the sample", hugeExtra, third, 0, nullptr, nullptr, true},
      {"ADPCM, third below its bias", adpcm.bytes, 31, 0, nullptr, nullptr, true},
      {"ADPCM, size past the prepared source", adpcm.bytes, third, 0x20000, nullptr, nullptr, true},
      {"no DirectSound", native, third, 0, [&] { game->SetDirectSound(0); }, nullptr, Editor()},
      {"CreateSoundBuffer fails", native, third, 0, fail(platform::DSoundCall::CreateSoundBuffer), nullptr, Editor()},
      {"Lock fails", native, third, 0, fail(platform::DSoundCall::Lock), nullptr, Editor()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    game->Write<Entry>(Table(), {kUntouched, kUntouched, kUntouched});
    if (c.arrange) c.arrange();
    const bool loads = c.loaded != nullptr && c.editor == Editor();
    EXPECT_EQ(Load(c.file, c.third, !loads, c.size), loads ? 1u : 0u);
    if (loads) {
      EXPECT_EQ(EntryBytes(), *c.loaded);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, SampleSupportTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

// The handler answers 11 with a source of the stream's sound, or 1 with the stream back where it stood.
TEST(OggVorbisSupport, OpenAudioSource) {
  constexpr std::uint32_t kStart = 7;
  const Bytes ogg = oggfixture::Encode(2, 22050, 3000);
  Bytes prefixed(ogg.size() + kStart, 0);
  std::copy(ogg.begin(), ogg.end(), prefixed.begin() + kStart);
  const struct {
    const char* name;
    Bytes bytes;
    std::uint32_t reply;
  } cases[] = {{"Ogg Vorbis", prefixed, MODULEREPLY_VALUE},
               {"not Ogg", Bytes(5000, 0x55), MODULEREPLY_HANDLED},
               {"cut short", Bytes(prefixed.begin(), prefixed.begin() + 60), MODULEREPLY_HANDLED}};
  EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_INIT, nullptr), MODULEREPLY_HANDLED);
  EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_LOADSAMPLE, nullptr), 0u);
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    auto* stream = new CByteArrayStream(c.bytes.data(), std::uint32_t(c.bytes.size()));
    ASSERT_TRUE(stream->Seek(kStart, CStream::kSeekBegin));
    OpenAudioSourceEventData block{};
    block.size = sizeof(block);
    block.stream = stream;
    EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_OPENAUDIOSOURCE, &block), c.reply);
    std::uint64_t position = 0;
    EXPECT_TRUE(stream->GetPosition(&position));
    stream->Release();  // a source keeps its stream
    if (c.reply != MODULEREPLY_VALUE) {
      EXPECT_EQ(position, kStart);
      EXPECT_EQ(block.result, nullptr);
      continue;
    }
    ASSERT_NE(block.result, nullptr);
    std::uint32_t frames = 0;
    EXPECT_TRUE(block.result->GetLength(&frames));
    EXPECT_EQ(frames, 3000u);
    float sample[2];
    EXPECT_EQ(block.result->Read(sample, sizeof(sample)), sizeof(sample));
    block.result->Release();
  }
}

}  // namespace
