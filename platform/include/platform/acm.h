#pragma once
// The Audio Compression Manager with Win32 shapes, reduced to the one
// conversion the game asks of it: Microsoft ADPCM to 16-bit PCM of the same
// channels (one or two) and rate.
//
// Errors: each call answers an MMRESULT (MMSYSERR_NOERROR, an MMSYSERR_ or an
// ACMERR_ code below) and changes nothing on failure. acmStreamOpen answers
// ACMERR_NOTPOSSIBLE for any other pair of formats, and for ADPCM formats the
// decoder would get wrong: a coefficient table other than the seven standard
// pairs, samples per block that do not follow from the block align, or blocks
// too small for the decoder (below 10 bytes mono, 26 stereo).
//
// Conversion works on whole source blocks only: acmStreamConvert converts the
// whole blocks of cbSrcLength whose output fits in cbDstLength and fills
// cbSrcLengthUsed and cbDstLengthUsed; lengths above those the header was
// prepared with answer MMSYSERR_INVALPARAM.
//
// Locking: streams are independent; one stream and its headers are used by
// one thread at a time. Opening and closing may happen on any thread.
#include <cstdint>

#include <platform/dsound.h>
#include <platform/win32types.h>

using MMRESULT = UINT;
struct ACMSTREAM;
using HACMSTREAM = ACMSTREAM*;
using LPHACMSTREAM = HACMSTREAM*;
using HACMDRIVER = void*;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x1;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x4;
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x10;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x20;
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

constexpr WORD WAVE_FORMAT_ADPCM = 2;

#pragma pack(push, 1)
struct ADPCMCOEFSET {
  std::int16_t iCoef1;
  std::int16_t iCoef2;
};
// cbSize of the extension is 4 + 4 x wNumCoef.
struct ADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
  WORD wNumCoef;
  ADPCMCOEFSET aCoef[7];  // wNumCoef entries; seven in the standard format
};
#pragma pack(pop)
constexpr WORD kAdpcmStandardCoefficients = 7;
constexpr WORD kAdpcmStandardExtra = sizeof(ADPCMWAVEFORMAT) - sizeof(WAVEFORMATEX);
static_assert(sizeof(ADPCMWAVEFORMAT) == 50 && kAdpcmStandardExtra == 32);
// The seven standard pairs.
extern const ADPCMCOEFSET kAdpcmStandardCoefficientTable[kAdpcmStandardCoefficients];

// The prepared lengths are kept in dwReservedDriver.
struct ACMSTREAMHEADER {
  DWORD cbStruct;  // sizeof(ACMSTREAMHEADER)
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  BYTE* pbSrc;  // not owned
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  BYTE* pbDst;  // not owned
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[10];
};
static_assert(sizeof(ACMSTREAMHEADER) == 84);
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

// driver, filter and callback must be null or 0 (no asynchronous streams). With
// ACM_STREAMOPENF_QUERY only the formats are checked and stream may be null.
MMRESULT WINAPI acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX source,
                              LPWAVEFORMATEX destination, void* filter, DWORD_PTR callback, DWORD_PTR instance,
                              DWORD flags);
// Both buffers set, cbStruct large enough and the header not yet prepared.
MMRESULT WINAPI acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT WINAPI acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
// flags: ACM_STREAMCONVERTF_BLOCKALIGN, _START and _END; partial blocks are left
// unconverted with or without BLOCKALIGN.
MMRESULT WINAPI acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
MMRESULT WINAPI acmStreamClose(HACMSTREAM stream, DWORD flags);
