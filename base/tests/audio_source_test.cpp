// Audio sources: the speaker masks of each channel count, and Ogg Vorbis sources over whole, windowed and
// unseekable streams.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <base/AudioSource.h>
#include <base/OggAudioSource.h>
#include <base/Stream.h>

#include "OggFixture.h"

namespace {

constexpr long kRate = 22050;
constexpr long kFrames = 6000;
using Bytes = std::vector<std::uint8_t>;

// Opens a source over a stream the caller no longer holds: the source keeps it alive.
COggAudioSource* OpenOver(CStream* stream) {
  auto* source = new COggAudioSource(stream);
  stream->Release();
  tTaskContext task;
  EXPECT_TRUE(source->Open(&task));
  return source;
}

COggAudioSource* OpenOver(Bytes& bytes) {
  return OpenOver(new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size())));
}

// Every sample up to the end, read in chunks of whole frames.
std::vector<float> ReadAll(COggAudioSource* source, std::uint32_t chunkBytes) {
  std::vector<float> all, chunk(chunkBytes / sizeof(float));
  for (std::uint32_t got; (got = source->Read(chunk.data(), chunkBytes)) != 0;) {
    EXPECT_EQ(got % (source->GetChannels() * sizeof(float)), 0u);
    all.insert(all.end(), chunk.begin(), chunk.begin() + got / sizeof(float));
  }
  return all;
}

// Channel counts no stream makes: no speakers beyond the front pair, and no shift past the mask's width.
TEST(AudioSource, ChannelMasksOfCountsBeyondTheLayouts) {
  struct FormatOnly : CAudioSource {
    explicit FormatOnly(std::uint32_t channels) : channels(channels) {}
    std::uint32_t Read(void*, std::uint32_t) override { return 0; }
    std::int32_t Seek(std::uint32_t) override { return 0; }
    std::int32_t GetPosition() override { return 0; }
    bool GetLength(std::uint32_t*) override { return false; }
    std::uint32_t GetChannels() override { return channels; }
    std::uint32_t GetSamplesPerSec() override { return kRate; }
    std::uint32_t GetBitsPerSample() override { return 16; }
    bool Open(tTaskContext*) override { return true; }
    std::uint32_t channels;
  };
  for (std::uint32_t channels : {0u, 9u, 32u, 40u}) EXPECT_EQ(FormatOnly(channels).GetChannelMask(), 0x3u) << channels;
}

TEST(OggAudioSource, ReadsWholeFramesAndSeeksToTheSameSamples) {
  auto bytes = oggfixture::Encode(2, kRate, kFrames);
  COggAudioSource* source = OpenOver(bytes);
  std::uint32_t length = 0;
  ASSERT_TRUE(source->GetLength(&length));
  EXPECT_EQ((std::tuple{length, source->IsFloat(), source->GetBlockAlign()}),
            (std::tuple{std::uint32_t(kFrames), true, 8u}));
  const std::vector<float> all = ReadAll(source, 1003);  // not a multiple of a frame
  EXPECT_EQ((std::tuple{all.size(), source->GetPosition()}), (std::tuple{std::size_t(kFrames) * 2, kFrames}));
  for (std::uint32_t frame : {0u, 1u, 2047u, 4999u}) {
    SCOPED_TRACE(frame);
    float got[16];
    ASSERT_EQ((std::tuple{source->Seek(frame), source->GetPosition(), source->Read(got, sizeof(got))}),
              (std::tuple{0, std::int32_t(frame), sizeof(got)}));
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], all[frame * 2 + i], 1e-4f);
  }
  EXPECT_NE(source->Seek(kFrames + 10), 0);
  source->Release();
}

// Output channel i carries Vorbis channel order[i] (its amplitude tells which).
TEST(OggAudioSource, ChannelOrderAndMasks) {
  const struct {
    int channels;
    std::uint32_t mask;
    std::vector<int> order;
  } cases[] = {{1, 0x4, {0}}, {2, 0x3, {0, 1}}, {3, 0x3, {0, 2, 1}}, {4, 0x33, {0, 1, 2, 3}},
               {5, 0x10F, {0, 1, 2, 3, 4}}, {6, 0x3F, {0, 2, 1, 5, 3, 4}}, {7, 0x13F, {0, 1, 2, 3, 4, 5, 6}},
               {8, 0x637, {0, 1, 2, 3, 4, 5, 6, 7}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.channels);
    auto bytes = oggfixture::Encode(c.channels, kRate, 4096);
    COggAudioSource* source = OpenOver(bytes);
    EXPECT_EQ(source->GetChannelMask(), c.mask);
    const std::vector<float> all = ReadAll(source, 4096);
    for (int ch = 0; ch < c.channels; ++ch) {
      float peak = 0;
      for (std::size_t i = ch; i < all.size(); i += c.channels) peak = std::max(peak, std::fabs(all[i]));
      EXPECT_NEAR(peak, oggfixture::kAmplitudeStep * float(c.order[ch] + 1), 0.03f) << "channel " << ch;
    }
    source->Release();
  }
}

struct ForwardOnlyStream : CByteArrayStream {
  using CByteArrayStream::CByteArrayStream;
  bool Seek(std::int64_t, std::uint32_t) override { return false; }
};

// Positions count from where the data begins inside a window; without seeking there is no length and no seek.
TEST(OggAudioSource, InsideARangeAndUnseekable) {
  auto ogg = oggfixture::Encode(1, kRate, kFrames);
  Bytes framed(100 + ogg.size() + 50, 0xEE);
  std::copy(ogg.begin(), ogg.end(), framed.begin() + 100);
  auto* whole = new CByteArrayStream(framed.data(), std::uint32_t(framed.size()));
  COggAudioSource* ranged = OpenOver(new CStreamRangeStream(whole, 100, ogg.size()));
  whole->Release();
  std::uint32_t length = 0;
  EXPECT_EQ((std::tuple{ranged->GetLength(&length), ReadAll(ranged, 4000).size()}), (std::tuple{true, kFrames}));
  ranged->Release();

  COggAudioSource* forward = OpenOver(new ForwardOnlyStream(ogg.data(), std::uint32_t(ogg.size())));
  EXPECT_EQ((std::tuple{forward->GetLength(&length), forward->Seek(0) != 0, ReadAll(forward, 4000).size()}),
            (std::tuple{false, true, kFrames}));
  forward->Release();
}

TEST(OggAudioSource, NotOggFailsQuietly) {
  Bytes junk(4000, 0x42);
  auto* stream = new CByteArrayStream(junk.data(), std::uint32_t(junk.size()));
  auto* source = new COggAudioSource(stream);
  stream->Release();
  tTaskContext task;
  float frame[2];
  EXPECT_EQ((std::tuple{source->Open(&task), task.GetErrorCount(), source->GetPosition(), source->Read(frame, 8)}),
            (std::tuple{false, 0u, -131, 0u}));
  source->Release();
}

}  // namespace
