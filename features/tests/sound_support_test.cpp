// PCMSupport and ADPCMSupport loading samples into the game's table on every build, and OggVorbisSupport
// answering OpenAudioSource.
#include <functional>
#include <optional>
#include <tuple>

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
constexpr std::uint32_t kIndex = 5, kEntryBytes = 12, kUntouched = 0xDEADBEEF, kGameRate = 22050;

class SampleSupportTest : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    ASSERT_TRUE(game->StartSound());
  }
  // Loads a sample through the game's loader call: its result, how often the game's own loader ran, and the
  // bytes of the buffer the table entry (buffer, rate, third) holds; none when the entry was left alone.
  std::tuple<std::uint32_t, std::size_t, Bytes> Load(const Bytes& file, std::uint32_t third, std::uint32_t size) {
    game->ClearCalls();
    const std::uint32_t table = kSampleTable.In(B()) + kIndex * kEntryBytes;
    for (std::uint32_t i = 0; i < kEntryBytes; i += 4) game->Write<std::uint32_t>(table + i, kUntouched);
    std::memcpy(game->SampleReadBuffer(), file.data(),
                std::min<std::size_t>(file.size(), gamedouble::CGameDouble::kSampleReadBufferBytes));
    const std::uint32_t result = game->Call(
        Routine::LoadSampleCaller,
        {Address(game->SampleReadBuffer()), size != 0 ? size : std::uint32_t(file.size()), third, kIndex});
    const std::uint32_t buffer = game->Read<std::uint32_t>(table);
    EXPECT_EQ(game->Read<std::uint32_t>(table + 8), kUntouched);
    if (buffer == kUntouched) return {result, Calls(Routine::SampleLoader), {}};
    EXPECT_EQ(game->Read<std::uint32_t>(table + 4), kGameRate);
    auto* sound = reinterpret_cast<IDirectSoundBuffer*>(std::uintptr_t(buffer));
    void* first = nullptr;
    DWORD bytes = 0;
    EXPECT_EQ(sound->Lock(0, 0, &first, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    Bytes out(static_cast<std::uint8_t*>(first), static_cast<std::uint8_t*>(first) + bytes);
    sound->Unlock(first, bytes, nullptr, 0);
    sound->Release();
    return {result, Calls(Routine::SampleLoader), out};
  }

  platform::testing::DSoundClock clock{44100};
};

Bytes PcmWave(std::uint16_t tag, std::uint32_t formatBytes, const Bytes& samples, std::uint32_t claimed) {
  Bytes file;
  auto put = [&](const void* p, std::size_t n) { file.insert(file.end(), (const char*)p, (const char*)p + n); };
  auto u32 = [&](std::uint32_t v) { put(&v, 4); };
  auto u16 = [&](std::uint16_t v) { put(&v, 2); };
  put("RIFF", 4), u32(0), put("WAVE", 4), put("fmt ", 4), u32(formatBytes);
  u16(tag), u16(1), u32(kGameRate), u32(kGameRate * 2), u16(2), u16(16);
  file.resize(file.size() + formatBytes - 16, 0);
  put("data", 4), u32(claimed), put(samples.data(), samples.size());
  return file;
}

// Both modules are registered: PCMSupport loads on every build but the IV Editor, ADPCMSupport only there; the
// game's own loader runs exactly when the file is refused. The double's ADPCM stream takes what the encoder
// writes for mono 22050 Hz (512-byte blocks, a fact chunk).
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
  const auto* decodedBegin = reinterpret_cast<const std::uint8_t*>(adpcm.decoded.data());
  const Bytes decoded(decodedBegin, decodedBegin + adpcm.decoded.size() * 2);
  const Bytes less(decoded.begin(), decoded.end() - 1000);
  const std::uint32_t third = std::uint32_t(decoded.size()) + 32;
  Bytes pcmTagged = adpcm.bytes, hugeExtra = adpcm.bytes;
  pcmTagged[20] = 1;
  hugeExtra[36] = hugeExtra[37] = 0xFF;
  const Bytes& native = Editor() ? adpcm.bytes : pcm;
  const auto noSound = [&] { game->SetDirectSound(0); };
  using platform::DSoundCall;
  // Name, file, third, size, what to arrange first, the call made to fail once, what the buffer holds when the
  // build's module takes the file (null: refused), and whether the IV Editor's module is the one to take it.
  using Case = std::tuple<const char*, Bytes, std::uint32_t, std::uint32_t, std::function<void()>,
                          std::optional<DSoundCall>, const Bytes*, bool>;
  const Case cases[] = {
      {"PCM", pcm, 0, 0, nullptr, {}, &samples, false},
      {"PCM, 18-byte format chunk", PcmWave(1, 18, samples, 3000), 0, 0, nullptr, {}, nullptr, false},
      {"PCM, format tag 2", PcmWave(2, 16, samples, 3000), third, 0, nullptr, {}, nullptr, false},
      {"PCM, shorter than its header", Bytes(pcm.begin(), pcm.begin() + 43), 0, 0, nullptr, {}, nullptr, false},
      {"PCM, empty data chunk", PcmWave(1, 16, samples, 0), 0, 0, nullptr, {}, nullptr, false},
      {"PCM, data chunk past the sample", PcmWave(1, 16, samples, 3001), 0, 0, nullptr, {}, nullptr, false},
      {"PCM, size short of the data chunk", pcm, 0, 44 + 2999, nullptr, {}, nullptr, false},
      {"ADPCM", adpcm.bytes, third, 0, nullptr, {}, &decoded, true},
      {"ADPCM, third past the conversion", adpcm.bytes, third + 4000, 0, nullptr, {}, &decoded, true},
      {"ADPCM, third short of it", adpcm.bytes, third - 1000, 0, nullptr, {}, &less, true},
      {"ADPCM layout, format tag 1", pcmTagged, third, 0, nullptr, {}, nullptr, true},
      {"ADPCM, shorter than its format fields", Bytes(adpcm.bytes.begin(), adpcm.bytes.begin() + 37), third, 0,
       nullptr, {}, nullptr, true},
      {"ADPCM, extension past the sample", hugeExtra, third, 0, nullptr, {}, nullptr, true},
      {"ADPCM, third below its bias", adpcm.bytes, 31, 0, nullptr, {}, nullptr, true},
      {"ADPCM, size past the prepared source", adpcm.bytes, third, 0x20000, nullptr, {}, nullptr, true},
      {"no DirectSound", native, third, 0, noSound, {}, nullptr, Editor()},
      {"CreateSoundBuffer fails", native, third, 0, nullptr, DSoundCall::CreateSoundBuffer, nullptr, Editor()},
      {"Lock fails", native, third, 0, nullptr, DSoundCall::Lock, nullptr, Editor()},
      // After each failure the next sample loads again: the failure was the only thing in the way.
      {"PCM after the failures", pcm, 0, 0, nullptr, {}, &samples, false},
      {"ADPCM after the failures", adpcm.bytes, third, 0, nullptr, {}, &decoded, true},
  };
  for (const auto& [name, file, third, size, arrange, failing, loaded, editor] : cases) {
    SCOPED_TRACE(name);
    // Each row has a device of its own: one a row before removed or broke is no sign of this row's refusal.
    ASSERT_TRUE(game->StartSound());
    if (arrange) arrange();
    std::uint32_t callsBefore = 0;
    if (failing) {
      clock.FailNext(*failing, DSERR_GENERIC);
      callsBefore = clock.Calls(*failing);
    }
    const bool loads = loaded != nullptr && editor == Editor();
    EXPECT_EQ(Load(file, third, size), std::tuple(loads ? 1u : 0u, loads ? 0u : 1u, loads ? *loaded : Bytes{}));
    // The refusal came from the failure injected, which the module's own call met.
    if (failing) {
      EXPECT_GT(clock.Calls(*failing), callsBefore);
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
  EXPECT_EQ((Words{OggVorbisSupportModuleHandler(MODULEEVENT_INIT, nullptr),
                   OggVorbisSupportModuleHandler(MODULEEVENT_LOADSAMPLE, nullptr)}), (Words{MODULEREPLY_HANDLED, 0}));
  const Bytes cut(prefixed.begin(), prefixed.begin() + 60);
  for (auto [name, bytes, reply] : {std::tuple{"Ogg Vorbis", prefixed, MODULEREPLY_VALUE},
                                     {"not Ogg", Bytes(5000, 0x55), MODULEREPLY_HANDLED},
                                     {"cut short", cut, MODULEREPLY_HANDLED}}) {
    SCOPED_TRACE(name);
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    ASSERT_TRUE(stream->Seek(kStart, CStream::kSeekBegin));
    OpenAudioSourceEventData block{{sizeof(OpenAudioSourceEventData)}, nullptr, stream};
    std::uint64_t position = 0;
    std::uint32_t frames = 0;
    float sample[2];
    const std::uint32_t answer = OggVorbisSupportModuleHandler(MODULEEVENT_OPENAUDIOSOURCE, &block);
    EXPECT_EQ((Words{answer, stream->GetPosition(&position)}), (Words{reply, 1}));
    stream->Release();  // a source keeps its stream
    CAudioSource* source = block.result;
    EXPECT_EQ((source ? Words{source->GetLength(&frames), frames, source->Read(sample, sizeof sample)}
                      : Words{unsigned(position)}),
              (reply == MODULEREPLY_VALUE ? Words{1, 3000, sizeof sample} : Words{kStart}));
    if (source != nullptr) source->Release();
  }
}

}  // namespace
