// Audio sources: the speaker masks answered for each channel count.
#include <gtest/gtest.h>

#include <base/AudioSource.h>

namespace {

// Only the format answers matter here.
struct FormatOnly : CAudioSource {
  FormatOnly(std::uint32_t channels, std::uint32_t bits) : channels(channels), bits(bits) {}
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::int32_t Seek(std::uint32_t) override { return 0; }
  std::int32_t GetPosition() override { return 0; }
  bool GetLength(std::uint32_t*) override { return false; }
  std::uint32_t GetChannels() override { return channels; }
  std::uint32_t GetSamplesPerSec() override { return 1000; }
  std::uint32_t GetBitsPerSample() override { return bits; }
  bool Open(tTaskContext*) override { return true; }
  std::uint32_t channels, bits;
};

// Sizes and the float flag are checked through the buffers made from sources (scripthost audio tests).
TEST(AudioSource, ChannelMasksByCount) {
  const std::uint32_t masks[] = {0x3, 0x4, 0x3, 0x3, 0x33, 0x10F, 0x3F, 0x13F, 0x637, 0x3};
  for (std::uint32_t channels = 0; channels < std::size(masks); ++channels) {
    SCOPED_TRACE(channels);
    FormatOnly source(channels, 16);
    EXPECT_EQ(source.GetChannelMask(), masks[channels]);
  }
  FormatOnly many(40, 16);
  EXPECT_EQ(many.GetChannelMask(), 0x3u);
}

}  // namespace
