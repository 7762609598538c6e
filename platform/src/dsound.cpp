// The DirectSound stand-in's device: creation, buffer creation and the SDL2 audio backend.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "dsound_objects.h"

namespace platform {

namespace {

constexpr int kOutputRate = 44100;
constexpr Uint16 kOutputFrames = 1024;
constexpr DWORD kBitsPerByte = 8;
constexpr DWORD kFloatBits = 32;
constexpr DWORD kMaxPlainChannels = 2;

// Mixes every device into its own SDL audio device at SDL's pace.
class SdlBackend final : public IDSoundBackend {
 public:
  HRESULT OpenDevice(DSoundMixer& mixer) override {
    // Left to itself SDL takes SIGINT and SIGTERM for a quit event that nothing here reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return DSERR_NODRIVER;
    SDL_AudioSpec wanted{};
    wanted.freq = kOutputRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = kDSoundMixChannels;
    wanted.samples = kOutputFrames;
    wanted.callback = &SdlBackend::Callback;
    wanted.userdata = &mixer;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to the hardware's format itself.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (id == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return DSERR_NODRIVER;
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    m_devices.push_back({&mixer, id});
    SDL_PauseAudioDevice(id, 0);
    return DS_OK;
  }

  void CloseDevice(DSoundMixer& mixer) override {
    SDL_AudioDeviceID id = 0;
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      auto it = std::find_if(m_devices.begin(), m_devices.end(), [&](const Open& o) { return o.mixer == &mixer; });
      if (it == m_devices.end()) return;
      id = it->id;
      m_devices.erase(it);
    }
    SDL_CloseAudioDevice(id);  // waits for a callback in progress
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

 private:
  struct Open {
    DSoundMixer* mixer;
    SDL_AudioDeviceID id;
  };

  static void SDLCALL Callback(void* userdata, Uint8* stream, int length) {
    const auto frames = static_cast<std::uint32_t>(length) / (sizeof(float) * kDSoundMixChannels);
    static_cast<DSoundMixer*>(userdata)->Render(reinterpret_cast<float*>(stream), frames, kOutputRate);
  }

  std::mutex m_mutex;
  std::vector<Open> m_devices;
};

SdlBackend& DefaultBackend() {
  static SdlBackend* backend = new SdlBackend();  // outlives every static destructor
  return *backend;
}

std::atomic<IDSoundBackend*> g_backend{nullptr};

IDSoundBackend& CurrentBackend() {
  IDSoundBackend* backend = g_backend.load();
  return backend != nullptr ? *backend : DefaultBackend();
}

// DSERR_BADFORMAT for what DirectSound cannot play, DSERR_INVALIDPARAM for fields that disagree.
HRESULT CheckFormat(const WAVEFORMATEX& format, bool extensible, const WAVEFORMATEXTENSIBLE& whole) {
  bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  DWORD maxChannels = kMaxPlainChannels;
  if (extensible) {
    if (whole.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
      isFloat = true;
    } else if (!(whole.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)) {
      return DSERR_BADFORMAT;
    }
    maxChannels = kDSoundMaxChannels;
    if (whole.Samples.wValidBitsPerSample > format.wBitsPerSample) return DSERR_INVALIDPARAM;
  } else if (format.wFormatTag != WAVE_FORMAT_PCM && !isFloat) {
    return DSERR_BADFORMAT;
  }
  const DWORD bits = format.wBitsPerSample;
  const bool bitsOk = isFloat ? bits == kFloatBits : (bits != 0 && bits % kBitsPerByte == 0 && bits <= kFloatBits);
  if (!bitsOk || format.nChannels == 0 || format.nChannels > maxChannels) return DSERR_BADFORMAT;
  if (format.nSamplesPerSec < DSBFREQUENCY_MIN || format.nSamplesPerSec > DSBFREQUENCY_MAX) return DSERR_BADFORMAT;
  const DWORD blockAlign = bits / kBitsPerByte * format.nChannels;
  if (format.nBlockAlign != blockAlign || format.nAvgBytesPerSec != blockAlign * format.nSamplesPerSec) {
    return DSERR_INVALIDPARAM;
  }
  return DS_OK;
}

}  // namespace

IDSoundBackend* SetDSoundBackend(IDSoundBackend* backend) { return g_backend.exchange(backend); }

void RenderDSoundDevice(DSoundMixer& mixer, float* out, std::uint32_t frames, std::uint32_t rate) {
  mixer.Render(out, frames, rate);
}

void MarkDSoundBufferLost(IDirectSoundBuffer* buffer) {
  if (buffer != nullptr) static_cast<DSoundBuffer*>(buffer)->MarkLost();
}

HRESULT DSoundMixer::QueryInterface(REFIID iid, void** object) {
  CallHooks hooks(m_backend, DSoundCall::QueryInterface);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (object == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  *object = nullptr;
  if (!(iid == IID_IUnknown) && !(iid == IID_IDirectSound8)) return hooks.Done(DSERR_NOINTERFACE);
  AddRef();
  *object = static_cast<IDirectSound8*>(this);
  return DS_OK;
}

ULONG DSoundMixer::AddRef() { return ++m_refs; }

ULONG DSoundMixer::Release() {
  const ULONG left = --m_refs;
  if (left == 0) {
    m_backend.CloseDevice(*this);
    delete this;
  }
  return left;
}

HRESULT DSoundMixer::CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer, IUnknown* outer) {
  CallHooks hooks(m_backend, DSoundCall::CreateSoundBuffer);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (buffer == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  *buffer = nullptr;
  if (outer != nullptr) return hooks.Done(DSERR_NOAGGREGATION);
  if (desc == nullptr || (desc->dwSize != sizeof(DSBUFFERDESC) && desc->dwSize != kDSBufferDescOldSize)) {
    return hooks.Done(DSERR_INVALIDPARAM);
  }
  if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) return hooks.Done(DSERR_UNSUPPORTED);
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_level == 0) return hooks.Done(DSERR_PRIOLEVELNEEDED);
  }
  if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX || desc->lpwfxFormat == nullptr) {
    return hooks.Done(DSERR_INVALIDPARAM);
  }
  const WAVEFORMATEX& format = *desc->lpwfxFormat;
  WAVEFORMATEXTENSIBLE whole{};
  std::memcpy(&whole.Format, &format, sizeof(WAVEFORMATEX));
  const bool extensible = format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
  if (extensible) {
    if (format.cbSize < kWaveFormatExtensibleExtra) return hooks.Done(DSERR_INVALIDPARAM);
    std::memcpy(&whole, &format, sizeof(WAVEFORMATEXTENSIBLE));
  }
  if (HRESULT bad = CheckFormat(format, extensible, whole); FAILED(bad)) return hooks.Done(bad);
  if (desc->dwBufferBytes < format.nBlockAlign) return hooks.Done(DSERR_INVALIDPARAM);
  const DWORD formatBytes = extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
  whole.Format.cbSize = extensible ? kWaveFormatExtensibleExtra : 0;

  auto* made = new (std::nothrow) DSoundBuffer(*this, desc->dwFlags, desc->dwBufferBytes, whole, formatBytes);
  if (made == nullptr) return hooks.Done(DSERR_OUTOFMEMORY);
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_buffers.push_back(made);
  }
  *buffer = made;
  return DS_OK;
}

HRESULT DSoundMixer::GetCaps(void*) { return DSERR_UNSUPPORTED; }
HRESULT DSoundMixer::DuplicateSoundBuffer(IDirectSoundBuffer*, IDirectSoundBuffer**) { return DSERR_UNSUPPORTED; }

HRESULT DSoundMixer::SetCooperativeLevel(HWND window, DWORD level) {
  CallHooks hooks(m_backend, DSoundCall::SetCooperativeLevel);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (window == nullptr || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mutex);
  m_level = level;
  return DS_OK;
}

HRESULT DSoundMixer::Compact() { return DSERR_UNSUPPORTED; }
HRESULT DSoundMixer::GetSpeakerConfig(DWORD*) { return DSERR_UNSUPPORTED; }
HRESULT DSoundMixer::SetSpeakerConfig(DWORD) { return DSERR_UNSUPPORTED; }
HRESULT DSoundMixer::Initialize(LPCGUID) { return DSERR_ALREADYINITIALIZED; }
HRESULT DSoundMixer::VerifyCertification(DWORD*) { return DSERR_UNSUPPORTED; }

void DSoundMixer::Render(float* out, std::uint32_t frames, std::uint32_t rate) {
  if (out != nullptr) std::fill(out, out + std::size_t{frames} * kDSoundMixChannels, 0.0f);
  if (rate == 0) return;
  std::lock_guard<std::mutex> guard(m_mutex);
  for (DSoundBuffer* buffer : m_buffers) buffer->Mix(out, frames, rate);
}

void DSoundMixer::Detach(DSoundBuffer* buffer) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_buffers.erase(std::remove(m_buffers.begin(), m_buffers.end(), buffer), m_buffers.end());
}

}  // namespace platform

HRESULT DirectSoundCreate8(LPCGUID device, IDirectSound8** directSound, IUnknown* outer) {
  using namespace platform;
  IDSoundBackend& backend = CurrentBackend();
  CallHooks hooks(backend, DSoundCall::Create);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (directSound == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  *directSound = nullptr;
  if (outer != nullptr) return hooks.Done(DSERR_NOAGGREGATION);
  if (device != nullptr && !(*device == GUID_NULL)) return hooks.Done(DSERR_NODRIVER);
  auto* mixer = new (std::nothrow) DSoundMixer(backend);
  if (mixer == nullptr) return hooks.Done(DSERR_OUTOFMEMORY);
  if (HRESULT failed = backend.OpenDevice(*mixer); FAILED(failed)) {
    delete mixer;
    return hooks.Done(failed);
  }
  *directSound = mixer;
  return DS_OK;
}
