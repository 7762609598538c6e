#pragma once
// Where DirectSound devices send their sound: the backend seam of dsound.h.
//
// A device takes the backend installed when DirectSoundCreate8 makes it and
// keeps it until its last reference goes; the backend outlives its devices.
// The default backend is SDL2 audio. RenderDSoundDevice and
// MarkDSoundBufferLost take the device's lock; backends are called without it
// (OpenDevice and CloseDevice) or on the calling thread of a method (the call
// hooks, which may run on any thread at once).
#include <cstdint>

#include <platform/dsound.h>

namespace platform {

// A device's mixer; opaque.
class DSoundMixer;

// The methods that consult BeforeCall/AfterCall.
enum class DSoundCall : std::uint32_t {
  Create,
  SetCooperativeLevel,
  CreateSoundBuffer,
  QueryInterface,
  GetCurrentPosition,
  GetFormat,
  GetStatus,
  GetFrequency,
  GetVolume,
  Lock,
  Unlock,
  Play,
  Stop,
  SetCurrentPosition,
  SetFrequency,
  SetVolume,
  SetNotificationPositions,
  Count
};

class IDSoundBackend {
 public:
  // A device is being made: begin output for it. A failure refuses DirectSoundCreate8 with it.
  virtual HRESULT OpenDevice(DSoundMixer& mixer) = 0;
  // The device's last reference went: stop calling RenderDSoundDevice for it.
  virtual void CloseDevice(DSoundMixer& mixer) = 0;
  // Asked first by every listed method; a failure is answered instead and nothing changes.
  virtual HRESULT BeforeCall(DSoundCall) { return DS_OK; }
  // Told after the method did its work.
  virtual void AfterCall(DSoundCall, HRESULT) {}

 protected:
  ~IDSoundBackend() = default;
};

// Installs the backend of devices made from now on; null puts back SDL2 audio.
// Answers the previous one (null for SDL2 audio).
IDSoundBackend* SetDSoundBackend(IDSoundBackend* backend);

// Writes frames of interleaved float stereo at rate frames a second into out (or
// mixes nothing when out is null), moving every playing buffer's cursor by what
// that span consumes and setting the notifications it passes.
void RenderDSoundDevice(DSoundMixer& mixer, float* out, std::uint32_t frames, std::uint32_t rate);

// The output channels of RenderDSoundDevice.
constexpr std::uint32_t kDSoundMixChannels = 2;

// Marks a buffer lost, as when another application takes the device: it stops and
// answers DSERR_BUFFERLOST to Play and Lock until Restore.
void MarkDSoundBufferLost(IDirectSoundBuffer* buffer);

}  // namespace platform
