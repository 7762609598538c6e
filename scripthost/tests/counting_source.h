#pragma once
// Test sources whose samples count frames: sample = base + frame, as floats or 16-bit integers.
#include <algorithm>
#include <atomic>
#include <cstring>

#include <base/AudioSource.h>

class CountingSource : public CAudioSource {
 public:
  CountingSource(std::uint32_t frames, std::uint32_t rate, std::uint32_t channels = 1, std::uint32_t bits = 32,
                 float base = 0.0f)
      : frames_(frames), rate_(rate), channels_(channels), bits_(bits), base_(base) {}
  ~CountingSource() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  std::uint32_t Read(void* buffer, std::uint32_t bytes) override {
    ++reads_;
    const std::uint32_t frameBytes = GetBlockAlign();
    const std::uint32_t wanted = std::min(bytes / frameBytes, frames_ - std::min(position_, frames_));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::uint32_t f = 0; f < wanted; ++f, ++position_) {
      for (std::uint32_t c = 0; c < channels_; ++c, out += GetContainerBits() / 8) {
        const float value = base_ + static_cast<float>(position_);
        if (IsFloat()) {
          std::memcpy(out, &value, sizeof value);
        } else {
          const auto sample = static_cast<std::int16_t>(position_);
          std::memcpy(out, &sample, sizeof sample);
        }
      }
    }
    return wanted * frameBytes;
  }
  std::int32_t Seek(std::uint32_t frame) override {
    position_ = frame;
    return 0;
  }
  std::int32_t GetPosition() override { return static_cast<std::int32_t>(position_); }
  bool GetLength(std::uint32_t* frames) override {
    *frames = frames_;
    return true;
  }
  std::uint32_t GetChannels() override { return channels_; }
  std::uint32_t GetSamplesPerSec() override { return rate_; }
  std::uint32_t GetBitsPerSample() override { return bits_; }
  bool Open(tTaskContext*) override { return true; }

  std::atomic<std::uint32_t> reads_{0};
  bool* destroyed_ = nullptr;

 private:
  std::uint32_t frames_, rate_, channels_, bits_;
  float base_;
  std::uint32_t position_ = 0;
};
