// The default format answers and speaker layout of decoded audio sources.
#include <base/AudioSource.h>

#include <initializer_list>

namespace {

constexpr std::uint32_t kBitsPerByte = 8;
constexpr std::uint32_t kFloatBits = 32;

// Bit n set: the speaker is present with n channels.
constexpr std::uint32_t Counts(std::initializer_list<std::uint32_t> counts) {
  std::uint32_t set = 0;
  for (std::uint32_t count : counts) set |= 1u << count;
  return set;
}
constexpr std::uint32_t kFrontCentre = Counts({1, 5, 6, 7, 8});
constexpr std::uint32_t kLowFrequency = Counts({5, 6, 7});
constexpr std::uint32_t kBack = Counts({4, 6, 7, 8});
constexpr std::uint32_t kBackCentre = Counts({5, 7});
constexpr std::uint32_t kSide = Counts({8});

constexpr std::uint32_t kMono = 1;
constexpr std::uint32_t kCountBits = 32;

bool Present(std::uint32_t counts, std::uint32_t channels) { return channels < kCountBits && ((counts >> channels) & 1u); }

}  // namespace

std::uint32_t CAudioSource::GetContainerBits() {
  return (GetBitsPerSample() + kBitsPerByte - 1) / kBitsPerByte * kBitsPerByte;
}
std::uint32_t CAudioSource::GetBlockAlign() { return GetContainerBits() / kBitsPerByte * GetChannels(); }
std::uint32_t CAudioSource::GetAvgBytesPerSec() { return GetBlockAlign() * GetSamplesPerSec(); }
bool CAudioSource::IsFloat() { return GetBitsPerSample() == kFloatBits; }

bool CAudioSource::HasFrontLeft() { return GetChannels() != kMono; }
bool CAudioSource::HasFrontRight() { return GetChannels() != kMono; }
bool CAudioSource::HasFrontCentre() { return Present(kFrontCentre, GetChannels()); }
bool CAudioSource::HasLowFrequency() { return Present(kLowFrequency, GetChannels()); }
bool CAudioSource::HasBackLeft() { return Present(kBack, GetChannels()); }
bool CAudioSource::HasBackRight() { return Present(kBack, GetChannels()); }
bool CAudioSource::HasBackCentre() { return Present(kBackCentre, GetChannels()); }
bool CAudioSource::HasSideLeft() { return Present(kSide, GetChannels()); }
bool CAudioSource::HasSideRight() { return Present(kSide, GetChannels()); }
bool CAudioSource::HasTopCentre() { return false; }
bool CAudioSource::HasTopFrontLeft() { return false; }
bool CAudioSource::HasTopFrontCentre() { return false; }
bool CAudioSource::HasTopFrontRight() { return false; }
bool CAudioSource::HasTopBackLeft() { return false; }
bool CAudioSource::HasTopBackCentre() { return false; }
bool CAudioSource::HasTopBackRight() { return false; }

std::uint32_t CAudioSource::GetChannelMask() {
  struct Query {
    bool (CAudioSource::*present)();
    std::uint32_t bit;
  };
  static constexpr Query kQueries[] = {
      {&CAudioSource::HasFrontLeft, kSpeakerFrontLeft},         {&CAudioSource::HasFrontRight, kSpeakerFrontRight},
      {&CAudioSource::HasFrontCentre, kSpeakerFrontCentre},     {&CAudioSource::HasLowFrequency, kSpeakerLowFrequency},
      {&CAudioSource::HasBackLeft, kSpeakerBackLeft},           {&CAudioSource::HasBackRight, kSpeakerBackRight},
      {&CAudioSource::HasBackCentre, kSpeakerBackCentre},       {&CAudioSource::HasSideLeft, kSpeakerSideLeft},
      {&CAudioSource::HasSideRight, kSpeakerSideRight},         {&CAudioSource::HasTopCentre, kSpeakerTopCentre},
      {&CAudioSource::HasTopFrontLeft, kSpeakerTopFrontLeft},   {&CAudioSource::HasTopFrontCentre, kSpeakerTopFrontCentre},
      {&CAudioSource::HasTopFrontRight, kSpeakerTopFrontRight}, {&CAudioSource::HasTopBackLeft, kSpeakerTopBackLeft},
      {&CAudioSource::HasTopBackCentre, kSpeakerTopBackCentre}, {&CAudioSource::HasTopBackRight, kSpeakerTopBackRight},
  };
  std::uint32_t mask = 0;
  for (const Query& query : kQueries) {
    if ((this->*query.present)()) mask |= query.bit;
  }
  return mask;
}
