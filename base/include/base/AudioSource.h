#pragma once
// Decoded audio: a source tells its format and speaker layout and hands out
// interleaved frames (one sample for every channel) with seeking by frame.
//
// Errors: Open reports to its task and answers false; Read answers 0 at the end
// or on failure; Seek answers 0 on success. No lock: a source is used by one
// holder at a time (an audio instance reads it under the instance's own lock).
#include <cstdint>

#include <base/Releasable.h>

class tTaskContext;

class CAudioSource : public tReleasable {
 public:
  // Fills up to bytes with whole interleaved frames; answers the bytes written, 0 at the end.
  virtual std::uint32_t Read(void* buffer, std::uint32_t bytes) = 0;
  // 0 on success.
  virtual std::int32_t Seek(std::uint32_t frame) = 0;
  // The current frame; negative when the source cannot tell.
  virtual std::int32_t GetPosition() = 0;
  // False when the total is unknown.
  virtual bool GetLength(std::uint32_t* frames) = 0;
  virtual std::uint32_t GetChannels() = 0;
  virtual std::uint32_t GetSamplesPerSec() = 0;
  // GetBitsPerSample rounded up to whole bytes.
  virtual std::uint32_t GetContainerBits();
  virtual std::uint32_t GetBitsPerSample() = 0;
  // Bytes of one frame: container bytes x channels.
  virtual std::uint32_t GetBlockAlign();
  virtual std::uint32_t GetAvgBytesPerSec();
  // 32-bit samples are floats.
  virtual bool IsFloat();

  // Speaker positions present, by channel count; each names one bit of a wave
  // format's channel mask (kSpeaker* below).
  virtual bool HasFrontLeft();
  virtual bool HasFrontRight();
  virtual bool HasFrontCentre();
  virtual bool HasLowFrequency();
  virtual bool HasBackLeft();
  virtual bool HasBackRight();
  virtual bool HasBackCentre();
  virtual bool HasSideLeft();
  virtual bool HasSideRight();
  virtual bool HasTopCentre();
  virtual bool HasTopFrontLeft();
  virtual bool HasTopFrontCentre();
  virtual bool HasTopFrontRight();
  virtual bool HasTopBackLeft();
  virtual bool HasTopBackCentre();
  virtual bool HasTopBackRight();

  // Prepares the source for reading; the other operations need it first.
  virtual bool Open(tTaskContext* task) = 0;

  // The OR of the mask bits of every speaker query that answers true.
  std::uint32_t GetChannelMask();

  static constexpr std::uint32_t kSpeakerFrontLeft = 0x1;
  static constexpr std::uint32_t kSpeakerFrontRight = 0x2;
  static constexpr std::uint32_t kSpeakerFrontCentre = 0x4;
  static constexpr std::uint32_t kSpeakerLowFrequency = 0x8;
  static constexpr std::uint32_t kSpeakerBackLeft = 0x10;
  static constexpr std::uint32_t kSpeakerBackRight = 0x20;
  static constexpr std::uint32_t kSpeakerBackCentre = 0x100;
  static constexpr std::uint32_t kSpeakerSideLeft = 0x200;
  static constexpr std::uint32_t kSpeakerSideRight = 0x400;
  static constexpr std::uint32_t kSpeakerTopCentre = 0x800;
  static constexpr std::uint32_t kSpeakerTopFrontLeft = 0x1000;
  static constexpr std::uint32_t kSpeakerTopFrontCentre = 0x2000;
  static constexpr std::uint32_t kSpeakerTopFrontRight = 0x4000;
  static constexpr std::uint32_t kSpeakerTopBackLeft = 0x8000;
  static constexpr std::uint32_t kSpeakerTopBackCentre = 0x10000;
  static constexpr std::uint32_t kSpeakerTopBackRight = 0x20000;
};
