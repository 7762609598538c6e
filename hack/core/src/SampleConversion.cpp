// Conversion of decoded audio frames to the game's 16-bit sample format.
#include <core/SampleConversion.h>

#include <base/AudioSource.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kFullScale = 32767.0;
constexpr std::int32_t kUnsigned8Bias = 128;
constexpr std::uint32_t kBitsPerByte = 8;
constexpr std::uint32_t kReadChunkFrames = 4096;
// More channels than any speaker layout has: a source that claims more is not read.
constexpr std::uint32_t kMaxSourceChannels = 64;

bool Readable(const SourceFrameFormat& format) {
  if (format.channels == 0 || format.channels > kMaxSourceChannels) return false;
  if (format.isFloat) return format.containerBits == 32 || format.containerBits == 64;
  return format.containerBits == 8 || format.containerBits == 16 || format.containerBits == 24 ||
         format.containerBits == 32;
}

// One sample scaled to the 16-bit range, as a wider value so that averages do not overflow.
std::int32_t Sample16(const std::uint8_t* at, const SourceFrameFormat& format) {
  if (format.isFloat) {
    double value = 0;
    if (format.containerBits == 32) {
      float f;
      std::memcpy(&f, at, sizeof f);
      value = f;
    } else {
      std::memcpy(&value, at, sizeof value);
    }
    if (std::isnan(value)) return 0;
    return std::int32_t(std::lround(std::clamp(value, -1.0, 1.0) * kFullScale));
  }
  switch (format.containerBits) {
    case 8:
      return (std::int32_t(at[0]) - kUnsigned8Bias) << kBitsPerByte;
    case 16:
      return std::int16_t(std::uint16_t(at[0] | at[1] << kBitsPerByte));
    case 24:
      return std::int16_t(std::uint16_t(at[1] | at[2] << kBitsPerByte));
    default:
      return std::int16_t(std::uint16_t(at[2] | at[3] << kBitsPerByte));
  }
}

}  // namespace

bool ConvertFrames(const std::uint8_t* frames, std::uint32_t frameCount, const SourceFrameFormat& format,
                   std::uint32_t gameChannels, std::int16_t* out) {
  if (!Readable(format) || gameChannels == 0) return false;
  const std::uint32_t sampleBytes = format.containerBits / kBitsPerByte;
  const std::uint32_t frameBytes = sampleBytes * format.channels;
  for (std::uint32_t frame = 0; frame < frameCount; ++frame) {
    const std::uint8_t* in = frames + std::size_t(frame) * frameBytes;
    for (std::uint32_t g = 0; g < gameChannels; ++g) {
      std::int64_t sum = 0;
      std::uint32_t count = 0;
      if (format.channels <= gameChannels) {
        sum = Sample16(in + (g % format.channels) * sampleBytes, format);
        count = 1;
      } else {
        for (std::uint32_t c = g; c < format.channels; c += gameChannels, ++count) {
          sum += Sample16(in + c * sampleBytes, format);
        }
      }
      *out++ = std::int16_t(sum / std::int64_t(count));
    }
  }
  return true;
}

bool ReadSourceInGameFormat(CAudioSource* source, std::uint32_t gameChannels, std::uint32_t maxBytes,
                            std::vector<std::int16_t>* samples) {
  std::uint32_t frames = 0;
  if (!source->GetLength(&frames) || frames == 0 || gameChannels == 0) return false;
  const SourceFrameFormat format{source->GetChannels(), source->GetContainerBits(), source->IsFloat()};
  if (!Readable(format)) return false;
  if (std::uint64_t(frames) * gameChannels * sizeof(std::int16_t) > maxBytes) return false;
  const std::uint64_t frameBytes = std::uint64_t(format.containerBits / kBitsPerByte) * format.channels;
  samples->assign(std::size_t(frames) * gameChannels, 0);
  std::vector<std::uint8_t> chunk(std::size_t(frameBytes * kReadChunkFrames));
  std::uint32_t done = 0;
  while (done < frames) {
    const std::uint32_t want = std::min(kReadChunkFrames, frames - done);
    const std::uint32_t got = source->Read(chunk.data(), std::uint32_t(want * frameBytes)) / std::uint32_t(frameBytes);
    if (got == 0) break;  // a source shorter than it said: the rest stays silent
    ConvertFrames(chunk.data(), got, format, gameChannels, samples->data() + std::size_t(done) * gameChannels);
    done += got;
  }
  return done > 0;
}
