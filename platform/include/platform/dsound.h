#pragma once
// DirectSound 8 with Win32 shapes: a device, secondary buffers and position
// notifications as COM interfaces whose methods sit at their Win32 slot indices
// and are called stdcall, `this` first on the stack.
//
// Errors: every method answers an HRESULT (DS_OK or a DSERR_ code below); calls
// outside DirectSound's ranges answer DSERR_INVALIDPARAM and change nothing.
// Buffers are rings in memory: Lock hands out one region, or two when the span
// wraps past the end. A buffer holds a reference on its device.
//
// Output: a device mixes its playing buffers through a backend. The default one
// is SDL2 audio (float stereo; no SDL audio device gives DSERR_NODRIVER from
// DirectSoundCreate8); the play cursors move as the backend consumes frames.
// Position notifications are set as the play cursor passes each offset, the
// offset where Play starts included. Tests install the clock of
// platform/testing/DSoundClock.h instead (cursors move only when asked).
//
// Locking: each device has one lock over its buffers' state, taken by every
// method and by the mixer; the bytes of a locked region are the caller's until
// Unlock. All methods may be called from any thread.
#include <cstdint>

#include <platform/guid.h>
#include <platform/win32types.h>

#define DSOUND_STDCALL __attribute__((stdcall))

using REFIID = const GUID&;
using REFGUID = const GUID&;
using LPGUID = GUID*;
using LPCGUID = const GUID*;

inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDirectSound8 = {0xC50A7E93, 0xF395, 0x4834, {0x9E, 0xF6, 0x7F, 0xA9, 0x9D, 0xE5, 0x09, 0x66}};
inline constexpr GUID IID_IDirectSoundBuffer = {0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr GUID IID_IDirectSoundNotify = {0xB0210783, 0x89CD, 0x11D0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {0x00000003, 0x0000, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;  // bytes of the extension that follows
};
#pragma pack(pop)
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;

struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
};
static_assert(sizeof(WAVEFORMATEX) == 18 && sizeof(WAVEFORMATEXTENSIBLE) == 40);

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// The extension of WAVEFORMATEXTENSIBLE.
constexpr WORD kWaveFormatExtensibleExtra = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

// dwSize is sizeof(DSBUFFERDESC) (36) or the older form without the last field (20).
struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  GUID guid3DAlgorithm;
};
constexpr DWORD kDSBufferDescOldSize = 20;
static_assert(sizeof(DSBUFFERDESC) == 36);
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

struct DSBPOSITIONNOTIFY {
  DWORD dwOffset;  // byte offset, or DSBPN_OFFSETSTOP
  HANDLE hEventNotify;
};
using LPCDSBPOSITIONNOTIFY = const DSBPOSITIONNOTIFY*;

constexpr HRESULT DS_OK = 0;
constexpr HRESULT MakeDSoundError(DWORD code) { return static_cast<HRESULT>(0x88780000u | code); }
constexpr HRESULT DSERR_ALLOCATED = MakeDSoundError(10);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MakeDSoundError(30);
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = MakeDSoundError(50);
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_PRIOLEVELNEEDED = MakeDSoundError(70);
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_BADFORMAT = MakeDSoundError(100);
constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);  // E_NOTIMPL
constexpr HRESULT DSERR_NODRIVER = MakeDSoundError(120);
constexpr HRESULT DSERR_ALREADYINITIALIZED = MakeDSoundError(130);
constexpr HRESULT DSERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT DSERR_BUFFERLOST = MakeDSoundError(150);
constexpr HRESULT DSERR_UNINITIALIZED = MakeDSoundError(170);
constexpr HRESULT DSERR_NOINTERFACE = static_cast<HRESULT>(0x80004002u);  // E_NOINTERFACE

constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr DWORD DSBCAPS_STATIC = 0x2;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x4;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x8;
constexpr DWORD DSBCAPS_CTRL3D = 0x10;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr DWORD DSBCAPS_CTRLPAN = 0x40;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x80;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
constexpr DWORD DSBCAPS_CTRLFX = 0x200;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x4000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x10000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x20000;
constexpr DWORD DSBCAPS_LOCDEFER = 0x40000;

constexpr DWORD DSBSTATUS_PLAYING = 0x1;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x2;
constexpr DWORD DSBSTATUS_LOOPING = 0x4;
constexpr DWORD DSBPLAY_LOOPING = 0x1;
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x1;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x2;
constexpr DWORD DSBPN_OFFSETSTOP = 0xFFFFFFFF;
constexpr DWORD DSBNOTIFICATIONS_MAX = 100000;

constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;
constexpr DWORD DSBFREQUENCY_ORIGINAL = 0;
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_RIGHT = 10000;
// Channels a buffer format may have (two without WAVE_FORMAT_EXTENSIBLE).
constexpr WORD kDSoundMaxChannels = 8;

struct IUnknown {
  virtual HRESULT DSOUND_STDCALL QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG DSOUND_STDCALL AddRef() = 0;
  virtual ULONG DSOUND_STDCALL Release() = 0;
};

struct IDirectSoundBuffer;

// Methods the stand-in does not provide answer DSERR_UNSUPPORTED.
struct IDirectSound8 : IUnknown {
  // Secondary buffers only: DSBCAPS_PRIMARYBUFFER answers DSERR_UNSUPPORTED. The format
  // is PCM (8, 16, 24 or 32 bits), IEEE float (32 bits) or their extensible forms, 100 to
  // 200,000 frames a second; bytes DSBSIZE_MIN to DSBSIZE_MAX. Needs SetCooperativeLevel first
  // (else DSERR_PRIOLEVELNEEDED); the buffer's first reference is the caller's.
  virtual HRESULT DSOUND_STDCALL CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer,
                                                   IUnknown* outer) = 0;
  virtual HRESULT DSOUND_STDCALL GetCaps(void* caps) = 0;
  virtual HRESULT DSOUND_STDCALL DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** copy) = 0;
  // A null window answers DSERR_INVALIDPARAM.
  virtual HRESULT DSOUND_STDCALL SetCooperativeLevel(HWND window, DWORD level) = 0;
  virtual HRESULT DSOUND_STDCALL Compact() = 0;
  virtual HRESULT DSOUND_STDCALL GetSpeakerConfig(DWORD* config) = 0;
  virtual HRESULT DSOUND_STDCALL SetSpeakerConfig(DWORD config) = 0;
  // Devices from DirectSoundCreate8 are initialised: DSERR_ALREADYINITIALIZED.
  virtual HRESULT DSOUND_STDCALL Initialize(LPCGUID device) = 0;
  virtual HRESULT DSOUND_STDCALL VerifyCertification(DWORD* certified) = 0;
};

struct IDirectSoundBuffer : IUnknown {
  virtual HRESULT DSOUND_STDCALL GetCaps(void* caps) = 0;
  // Play and write cursors in bytes; the write cursor is the play cursor (the
  // mixer reads the ring as it plays, so nothing ahead of it is committed).
  virtual HRESULT DSOUND_STDCALL GetCurrentPosition(DWORD* play, DWORD* write) = 0;
  // Copies up to size bytes of the format (the extensible form when it was given);
  // written receives the bytes the whole format needs. Both pointers may be null
  // but not together.
  virtual HRESULT DSOUND_STDCALL GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) = 0;
  virtual HRESULT DSOUND_STDCALL GetVolume(LONG* volume) = 0;
  virtual HRESULT DSOUND_STDCALL GetPan(LONG* pan) = 0;
  virtual HRESULT DSOUND_STDCALL GetFrequency(DWORD* frequency) = 0;
  // DSBSTATUS_ bits; a lost buffer reports DSBSTATUS_BUFFERLOST and does not play.
  virtual HRESULT DSOUND_STDCALL GetStatus(DWORD* status) = 0;
  virtual HRESULT DSOUND_STDCALL Initialize(IDirectSound8* device, LPCDSBUFFERDESC desc) = 0;
  // bytes 1 to the buffer size from offset (below the size), or the whole buffer with
  // DSBLOCK_ENTIREBUFFER; the second region is null and 0 bytes unless the span wraps.
  virtual HRESULT DSOUND_STDCALL Lock(DWORD offset, DWORD bytes, void** first, DWORD* firstBytes, void** second,
                                      DWORD* secondBytes, DWORD flags) = 0;
  // reserved and priority must be 0; a lost buffer answers DSERR_BUFFERLOST.
  virtual HRESULT DSOUND_STDCALL Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
  virtual HRESULT DSOUND_STDCALL SetCurrentPosition(DWORD position) = 0;
  virtual HRESULT DSOUND_STDCALL SetFormat(LPCWAVEFORMATEX format) = 0;
  // DSBVOLUME_MIN to DSBVOLUME_MAX hundredths of a decibel; needs DSBCAPS_CTRLVOLUME.
  virtual HRESULT DSOUND_STDCALL SetVolume(LONG volume) = 0;
  virtual HRESULT DSOUND_STDCALL SetPan(LONG pan) = 0;
  // DSBFREQUENCY_MIN to DSBFREQUENCY_MAX, or DSBFREQUENCY_ORIGINAL; needs DSBCAPS_CTRLFREQUENCY.
  virtual HRESULT DSOUND_STDCALL SetFrequency(DWORD frequency) = 0;
  // Fires the DSBPN_OFFSETSTOP notifications when the buffer was playing.
  virtual HRESULT DSOUND_STDCALL Stop() = 0;
  // Takes the regions Lock gave (or their leading parts).
  virtual HRESULT DSOUND_STDCALL Unlock(void* first, DWORD firstBytes, void* second, DWORD secondBytes) = 0;
  // Clears the lost state.
  virtual HRESULT DSOUND_STDCALL Restore() = 0;
};

// From QueryInterface of a buffer made with DSBCAPS_CTRLPOSITIONNOTIFY; shares the buffer's count.
struct IDirectSoundNotify : IUnknown {
  // Replaces the positions; offsets below the buffer size or DSBPN_OFFSETSTOP, events
  // not null, at most DSBNOTIFICATIONS_MAX; refused with DSERR_INVALIDCALL while playing.
  virtual HRESULT DSOUND_STDCALL SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) = 0;
};

using LPDIRECTSOUND8 = IDirectSound8*;
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;
using LPDIRECTSOUNDNOTIFY = IDirectSoundNotify*;

// device: null or GUID_NULL for the default output; others answer DSERR_NODRIVER. outer must be null.
// The device's first reference is the caller's.
HRESULT DirectSoundCreate8(LPCGUID device, IDirectSound8** directSound, IUnknown* outer);
