#pragma once
// A test source whose float samples count frames (base + frame); other sample sizes read as silence.
#include <algorithm>
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
    const std::uint32_t wanted = std::min(bytes / GetBlockAlign(), frames_ - std::min(position_, frames_));
    std::memset(buffer, 0, wanted * GetBlockAlign());
    auto* out = static_cast<float*>(buffer);
    for (std::uint32_t i = 0; IsFloat() && i < wanted * channels_; ++i) out[i] = base_ + float(position_ + i / channels_);
    position_ += wanted;
    return wanted * GetBlockAlign();
  }
  std::int32_t Seek(std::uint32_t frame) override {
    position_ = frame;
    return 0;
  }
  std::int32_t GetPosition() override { return static_cast<std::int32_t>(position_); }
  bool GetLength(std::uint32_t* frames) override { return (*frames = frames_), true; }
  std::uint32_t GetChannels() override { return channels_; }
  std::uint32_t GetSamplesPerSec() override { return rate_; }
  std::uint32_t GetBitsPerSample() override { return bits_; }
  bool Open(tTaskContext*) override { return true; }

  bool* destroyed_ = nullptr;

 private:
  std::uint32_t frames_, rate_, channels_, bits_;
  float base_;
  std::uint32_t position_ = 0;
};
