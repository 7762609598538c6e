#pragma once
// Turning a decoded audio source into the game's own sample format: 16-bit signed samples with the game's
// channel count, at the source's own rate (the game plays every sample at its device's rate, by design).
//
// The core's LoadSample converts where a plain copy would take two bytes per frame whatever the source
// holds: a stereo, 8-bit, 24-bit or floating-point source copied that way fills the game's buffer with
// half its frames or with noise, while converted it plays as the game's own samples do. A mono 16-bit
// source, the common case, comes out byte for byte as the copy would give it.
//
// Errors: false when the source has no known length, no frames, a format it cannot be read in, or more frames
// than one DirectSound buffer holds; nothing is kept then. Locks: none.
#include <cstdint>
#include <vector>

class CAudioSource;

// What one interleaved frame of the source holds.
struct SourceFrameFormat {
  std::uint32_t channels;
  std::uint32_t containerBits;  // 8 (unsigned), 16, 24, 32 or 64
  bool isFloat;                 // 32- or 64-bit IEEE samples in [-1, 1]
};

// Converts frameCount interleaved frames of format into 16-bit samples with gameChannels each: each game
// channel g takes the average of the source channels c with c % gameChannels == g (a mix-down), or source
// channel g % channels when the source has fewer (duplication). False for a format it does not read.
bool ConvertFrames(const std::uint8_t* frames, std::uint32_t frameCount, const SourceFrameFormat& format,
                   std::uint32_t gameChannels, std::int16_t* out);

// Reads the whole source and converts it; bounded by maxBytes of output.
bool ReadSourceInGameFormat(CAudioSource* source, std::uint32_t gameChannels, std::uint32_t maxBytes,
                            std::vector<std::int16_t>* samples);
