// Static DirectSound buffers in the game's sample format and the game's sample table entries.
#include "SampleBuffers.h"

#include <cstring>

#include <hack/GameRoutines.h>

namespace samples {

namespace {
// DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME: the game's own sample buffers.
constexpr DWORD kSampleBufferFlags = DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME;
constexpr std::uint32_t kEntryBuffer = 0;
constexpr std::uint32_t kEntryRate = 4;
constexpr std::uint32_t kTagBytes = 4;
}  // namespace

IDirectSound8* GameDirectSound() { return reinterpret_cast<IDirectSound8*>(Game::GetDirectSound()); }

IDirectSoundBuffer* CreateSampleBuffer(IDirectSound8* device, const void* source, std::uint32_t bytes) {
  DSBUFFERDESC desc{};
  desc.dwSize = kDSBufferDescOldSize;
  desc.dwFlags = kSampleBufferFlags;
  desc.dwBufferBytes = bytes;
  desc.lpwfxFormat = static_cast<WAVEFORMATEX*>(Game::GetWaveFormat());
  IDirectSoundBuffer* buffer = nullptr;
  if (device->CreateSoundBuffer(&desc, &buffer, nullptr) != DS_OK) return nullptr;
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0, secondBytes = 0;
  if (buffer->Lock(0, bytes, &first, &firstBytes, &second, &secondBytes, 0) != DS_OK) {
    buffer->Release();
    return nullptr;
  }
  std::memcpy(first, source, firstBytes);
  if (second != nullptr) std::memcpy(second, static_cast<const std::uint8_t*>(source) + firstBytes, secondBytes);
  buffer->Unlock(first, firstBytes, second, secondBytes);
  return buffer;
}

void StoreSample(std::uint32_t index, IDirectSoundBuffer* buffer) {
  std::uint8_t* entry = Game::GetSampleTable() + std::size_t(index) * Game::kSampleEntrySize;
  const auto* format = static_cast<const WAVEFORMATEX*>(Game::GetWaveFormat());
  const auto address = std::uint32_t(reinterpret_cast<std::uintptr_t>(buffer));
  const std::uint32_t rate = format->nSamplesPerSec;
  std::memcpy(entry + kEntryBuffer, &address, sizeof(address));
  std::memcpy(entry + kEntryRate, &rate, sizeof(rate));
}

std::uint16_t ReadU16(const void* data, std::uint32_t offset) {
  std::uint16_t value;
  std::memcpy(&value, static_cast<const std::uint8_t*>(data) + offset, sizeof(value));
  return value;
}

std::uint32_t ReadU32(const void* data, std::uint32_t offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const std::uint8_t*>(data) + offset, sizeof(value));
  return value;
}

bool HasTag(const void* data, std::uint32_t offset, const char (&tag)[5]) {
  return std::memcmp(static_cast<const std::uint8_t*>(data) + offset, tag, kTagBytes) == 0;
}

}  // namespace samples
