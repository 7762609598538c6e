// Source frames to the game's 16-bit samples: every width, float and integer, mixed down or duplicated.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include <core/SampleConversion.h>

namespace {

template <typename T>
std::vector<std::uint8_t> Bytes(std::initializer_list<T> values) {
  std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
  std::memcpy(bytes.data(), values.begin(), bytes.size());
  return bytes;
}

struct Conversion {
  const char* what;
  std::vector<std::uint8_t> frames;
  SourceFrameFormat format;
  std::uint32_t gameChannels;
  std::vector<std::int16_t> expected;  // empty: refused
};

TEST(SampleConversion, FramesBecomeTheGamesSamples) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Conversion cases[] = {
      {"float stereo to mono", Bytes<float>({0.5f, -0.5f, 1.0f, 0.0f}), {2, 32, true}, 1, {0, 16383}},
      {"float mono to stereo", Bytes<float>({-1.0f, 0.25f}), {1, 32, true}, 2, {-32767, -32767, 8192, 8192}},
      {"float clamped, NaN silent", Bytes<float>({2.0f, nan}), {1, 32, true}, 1, {32767, 0}},
      {"double", Bytes<double>({0.5, -0.5}), {1, 64, true}, 1, {16384, -16384}},
      {"16-bit stereo kept", Bytes<std::int16_t>({100, -200, 300, -400}), {2, 16, false}, 2, {100, -200, 300, -400}},
      {"8-bit unsigned", Bytes<std::uint8_t>({0, 128, 255}), {1, 8, false}, 1, {-32768, 0, 32512}},
      {"24-bit keeps the high bytes", Bytes<std::uint8_t>({0xFF, 0x34, 0x12}), {1, 24, false}, 1, {0x1234}},
      {"32-bit integer", Bytes<std::int32_t>({-65536}), {1, 32, false}, 1, {-1}},
      {"six channels to two", Bytes<std::int16_t>({10, 1, 20, 2, 30, 3}), {6, 16, false}, 2, {20, 2}},
      {"three to two: 0 and 2 mixed", Bytes<std::int16_t>({10, 20, 30}), {3, 16, false}, 2, {20, 20}},
      {"no channels", Bytes<std::int16_t>({1}), {0, 16, false}, 1, {}},
      {"12-bit container", Bytes<std::int16_t>({1}), {1, 12, false}, 1, {}},
      {"16-bit float", Bytes<std::int16_t>({1}), {1, 16, true}, 1, {}},
      {"absurd channel count", Bytes<std::int16_t>({1}), {100000, 16, false}, 1, {}},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint32_t frameBytes = c.format.channels * c.format.containerBits / 8;
    const std::uint32_t frames = frameBytes == 0 ? 1 : std::uint32_t(c.frames.size() / frameBytes);
    std::vector<std::int16_t> out(std::size_t(frames) * c.gameChannels, 0x5555);
    const bool converted = ConvertFrames(c.frames.data(), frames, c.format, c.gameChannels, out.data());
    EXPECT_EQ(converted, !c.expected.empty());
    if (converted) {
      EXPECT_EQ(out, c.expected);
    }
  }
}

}  // namespace
