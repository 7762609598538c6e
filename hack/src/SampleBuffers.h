#pragma once
// Static DirectSound buffers for the game's sample table, shared by the modules
// that load sample formats the game lacks (PCMSupport, ADPCMSupport) and the core.
//
// Errors: a refused creation or Lock answers null and leaves nothing behind.
// Locking: none; sample loading runs on the game's main thread.
#include <cstdint>

#include <platform/dsound.h>

namespace samples {

// The game's device as the stand-in's interface (the game keeps an IDirectSound,
// whose slots IDirectSound8 begins with); null while the game's sound is off.
IDirectSound8* GameDirectSound();

// A static buffer (DSBUFFERDESC of 20 bytes, flags 0xE2) of bytes in the game's
// sample format, filled from source; one reference for the caller, or null.
IDirectSoundBuffer* CreateSampleBuffer(IDirectSound8* device, const void* source, std::uint32_t bytes);

// Puts buffer and the game format's rate into the sample table entry at index.
void StoreSample(std::uint32_t index, IDirectSoundBuffer* buffer);

// The little-endian values of a sample file; callers check the size first.
std::uint16_t ReadU16(const void* data, std::uint32_t offset);
std::uint32_t ReadU32(const void* data, std::uint32_t offset);
bool HasTag(const void* data, std::uint32_t offset, const char (&tag)[5]);

}  // namespace samples
