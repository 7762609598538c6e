// The DirectSound stand-in's buffers: rings with locks, cursors, controls, notifications and mixing.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <platform/sync.h>

#include "dsound_objects.h"

namespace platform {

namespace {

constexpr std::uint64_t kFrameUnit = std::uint64_t{1} << 32;  // fixed-point frames
constexpr float kVolumeStepsPerDecade = 2000.0f;                // hundredths of a decibel per factor 10 of amplitude
constexpr float kUnsigned8Zero = 128.0f;
constexpr float kScale8 = 1.0f / 128.0f;
constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale24 = 1.0f / 8388608.0f;
constexpr float kScale32 = 1.0f / 2147483648.0f;
constexpr DWORD kBytes8 = 1, kBytes16 = 2, kBytes24 = 3;
constexpr DWORD kBitsPerByte = 8;
constexpr std::uint32_t kLeft = 0, kRight = 1;
constexpr int kByteShift = 8;

using SampleLoader = float (*)(const std::uint8_t*);

float Load8(const std::uint8_t* p) { return (static_cast<float>(p[0]) - kUnsigned8Zero) * kScale8; }
float Load16(const std::uint8_t* p) {
  std::int16_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v) * kScale16;
}
float Load24(const std::uint8_t* p) {
  // Sign-extended through the top byte of a 32-bit word.
  const std::int32_t v = static_cast<std::int32_t>((std::uint32_t{p[0]} << kByteShift) |
                                                   (std::uint32_t{p[1]} << (2 * kByteShift)) |
                                                   (std::uint32_t{p[2]} << (3 * kByteShift)));
  return static_cast<float>(v >> kByteShift) * kScale24;
}
float Load32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v) * kScale32;
}
float LoadFloat(const std::uint8_t* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool IsFloatFormat(const WAVEFORMATEXTENSIBLE& format) {
  return format.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
         (format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
}

SampleLoader LoaderFor(const WAVEFORMATEXTENSIBLE& format) {
  if (IsFloatFormat(format)) return &LoadFloat;
  switch (format.Format.wBitsPerSample / kBitsPerByte) {
    case kBytes8: return &Load8;
    case kBytes16: return &Load16;
    case kBytes24: return &Load24;
    default: return &Load32;
  }
}

}  // namespace

DSoundBuffer::DSoundBuffer(DSoundMixer& mixer, DWORD flags, DWORD bytes, const WAVEFORMATEXTENSIBLE& format,
                           DWORD formatBytes)
    : m_mixer(mixer),
      m_ring(bytes, 0),
      m_size(bytes),
      m_flags(flags),
      m_format(format),
      m_formatBytes(formatBytes),
      m_blockAlign(format.Format.nBlockAlign),
      m_frequency(format.Format.nSamplesPerSec) {
  m_notify.owner = this;
  m_mixer.AddRef();
}

HRESULT DSoundBuffer::QueryInterface(REFIID iid, void** object) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::QueryInterface);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (object == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDirectSoundBuffer) {
    *object = static_cast<IDirectSoundBuffer*>(this);
  } else if (iid == IID_IDirectSoundNotify && (m_flags & DSBCAPS_CTRLPOSITIONNOTIFY)) {
    *object = static_cast<IDirectSoundNotify*>(&m_notify);
  } else {
    return hooks.Done(DSERR_NOINTERFACE);
  }
  AddRef();
  return DS_OK;
}

ULONG DSoundBuffer::AddRef() { return ++m_refs; }

ULONG DSoundBuffer::Release() {
  const ULONG left = --m_refs;
  if (left == 0) {
    DSoundMixer& mixer = m_mixer;
    mixer.Detach(this);
    delete this;
    mixer.Release();
  }
  return left;
}

HRESULT DSoundBuffer::GetCaps(void*) { return DSERR_UNSUPPORTED; }

HRESULT DSoundBuffer::GetCurrentPosition(DWORD* play, DWORD* write) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::GetCurrentPosition);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (play == nullptr && write == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  if (play != nullptr) *play = m_play;
  if (write != nullptr) *write = m_play;
  return DS_OK;
}

HRESULT DSoundBuffer::GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::GetFormat);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (format == nullptr && written == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  if (format != nullptr) std::memcpy(format, &m_format, std::min(size, m_formatBytes));
  if (written != nullptr) *written = format != nullptr ? std::min(size, m_formatBytes) : m_formatBytes;
  return DS_OK;
}

HRESULT DSoundBuffer::GetVolume(LONG* volume) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::GetVolume);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (volume == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  if (!(m_flags & DSBCAPS_CTRLVOLUME)) return hooks.Done(DSERR_CONTROLUNAVAIL);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  *volume = m_volume;
  return DS_OK;
}

HRESULT DSoundBuffer::GetPan(LONG*) { return DSERR_UNSUPPORTED; }

HRESULT DSoundBuffer::GetFrequency(DWORD* frequency) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::GetFrequency);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (frequency == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  if (!(m_flags & DSBCAPS_CTRLFREQUENCY)) return hooks.Done(DSERR_CONTROLUNAVAIL);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  *frequency = m_frequency;
  return DS_OK;
}

HRESULT DSoundBuffer::GetStatus(DWORD* status) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::GetStatus);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (status == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  *status = (m_playing ? DSBSTATUS_PLAYING : 0) | (m_playing && m_looping ? DSBSTATUS_LOOPING : 0) |
            (m_lost ? DSBSTATUS_BUFFERLOST : 0);
  return DS_OK;
}

HRESULT DSoundBuffer::Initialize(IDirectSound8*, LPCDSBUFFERDESC) { return DSERR_ALREADYINITIALIZED; }

HRESULT DSoundBuffer::Lock(DWORD offset, DWORD bytes, void** first, DWORD* firstBytes, void** second,
                           DWORD* secondBytes, DWORD flags) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::Lock);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (first == nullptr || firstBytes == nullptr) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  if (flags & DSBLOCK_FROMWRITECURSOR) offset = m_play;
  if (flags & DSBLOCK_ENTIREBUFFER) bytes = m_size;
  if (offset >= m_size || bytes == 0 || bytes > m_size) return hooks.Done(DSERR_INVALIDPARAM);
  if (m_lost) return hooks.Done(DSERR_BUFFERLOST);
  const DWORD toEnd = m_size - offset;
  *first = m_ring.data() + offset;
  *firstBytes = std::min(bytes, toEnd);
  if (second != nullptr) *second = bytes > toEnd ? m_ring.data() : nullptr;
  if (secondBytes != nullptr) *secondBytes = (second != nullptr && bytes > toEnd) ? bytes - toEnd : 0;
  return DS_OK;
}

HRESULT DSoundBuffer::Unlock(void* first, DWORD firstBytes, void* second, DWORD secondBytes) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::Unlock);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  const auto* begin = m_ring.data();
  const auto* at = static_cast<const std::uint8_t*>(first);
  // Pointers are compared as addresses: a region from elsewhere is refused, not touched.
  const auto address = reinterpret_cast<std::uintptr_t>(at);
  const auto base = reinterpret_cast<std::uintptr_t>(begin);
  if (first == nullptr || address < base || address - base >= m_size || firstBytes > m_size - (address - base)) {
    return hooks.Done(DSERR_INVALIDPARAM);
  }
  if (second != nullptr ? (second != m_ring.data() || secondBytes > address - base) : secondBytes != 0) {
    return hooks.Done(DSERR_INVALIDPARAM);
  }
  return DS_OK;
}

HRESULT DSoundBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::Play);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (reserved != 0 || priority != 0 || (flags & ~DSBPLAY_LOOPING) != 0) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  if (m_lost) return hooks.Done(DSERR_BUFFERLOST);
  m_looping = (flags & DSBPLAY_LOOPING) != 0;
  if (!m_playing) {
    m_playing = true;
    Signal(m_play);  // the cursor enters the offset where it starts
  }
  return DS_OK;
}

HRESULT DSoundBuffer::SetCurrentPosition(DWORD position) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::SetCurrentPosition);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (position >= m_size) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  m_play = position - position % m_blockAlign;
  if (m_play >= PlayableBytes()) m_play = 0;
  m_fraction = 0;
  return DS_OK;
}

HRESULT DSoundBuffer::SetFormat(LPCWAVEFORMATEX) { return DSERR_INVALIDCALL; }

HRESULT DSoundBuffer::SetVolume(LONG volume) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::SetVolume);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (!(m_flags & DSBCAPS_CTRLVOLUME)) return hooks.Done(DSERR_CONTROLUNAVAIL);
  if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  m_volume = volume;
  return DS_OK;
}

HRESULT DSoundBuffer::SetPan(LONG) { return DSERR_UNSUPPORTED; }

HRESULT DSoundBuffer::SetFrequency(DWORD frequency) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::SetFrequency);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (!(m_flags & DSBCAPS_CTRLFREQUENCY)) return hooks.Done(DSERR_CONTROLUNAVAIL);
  if (frequency == DSBFREQUENCY_ORIGINAL) frequency = m_format.Format.nSamplesPerSec;
  if (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX) return hooks.Done(DSERR_INVALIDPARAM);
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  m_frequency = frequency;
  return DS_OK;
}

HRESULT DSoundBuffer::Stop() {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::Stop);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  StopLocked();
  return DS_OK;
}

HRESULT DSoundBuffer::Restore() {
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  m_lost = false;
  return DS_OK;
}

HRESULT DSoundBuffer::SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) {
  CallHooks hooks(m_mixer.Backend(), DSoundCall::SetNotificationPositions);
  if (HRESULT failed = hooks.Before(); FAILED(failed)) return failed;
  if (count > DSBNOTIFICATIONS_MAX || (count != 0 && positions == nullptr)) return hooks.Done(DSERR_INVALIDPARAM);
  for (DWORD i = 0; i < count; ++i) {
    const DSBPOSITIONNOTIFY& p = positions[i];
    if (p.hEventNotify == nullptr || (p.dwOffset >= m_size && p.dwOffset != DSBPN_OFFSETSTOP)) {
      return hooks.Done(DSERR_INVALIDPARAM);
    }
  }
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  if (m_playing) return hooks.Done(DSERR_INVALIDCALL);
  m_positions.assign(positions, positions + count);
  return DS_OK;
}

void DSoundBuffer::MarkLost() {
  std::lock_guard<std::mutex> guard(m_mixer.Mutex());
  StopLocked();
  m_lost = true;
}

void DSoundBuffer::StopLocked() {
  if (!m_playing) return;
  m_playing = false;
  Signal(DSBPN_OFFSETSTOP);
}

void DSoundBuffer::Signal(DWORD offset) {
  for (const DSBPOSITIONNOTIFY& p : m_positions) {
    if (p.dwOffset == offset) ::SetEvent(p.hEventNotify);
  }
}

void DSoundBuffer::Passed(DWORD from, std::uint64_t bytes) {
  if (bytes == 0) return;
  const bool all = bytes >= m_size;
  for (const DSBPOSITIONNOTIFY& p : m_positions) {
    if (p.dwOffset == DSBPN_OFFSETSTOP) continue;
    // Distance from the old cursor, 1 to size: the cursor at `from` itself was signalled before.
    const DWORD ahead = p.dwOffset > from ? p.dwOffset - from : p.dwOffset + m_size - from;
    if (all || ahead <= bytes) ::SetEvent(p.hEventNotify);
  }
}

void DSoundBuffer::Mix(float* out, std::uint32_t frames, std::uint32_t rate) {
  if (!m_playing || frames == 0) return;
  const DWORD ringFrames = PlayableBytes() / m_blockAlign;
  if (ringFrames == 0) return;
  const std::uint64_t step = (std::uint64_t{m_frequency} << 32) / rate;
  const std::uint64_t end = std::uint64_t{ringFrames} * kFrameUnit;
  std::uint64_t at = std::uint64_t{m_play / m_blockAlign} * kFrameUnit + m_fraction;
  const DWORD startByte = m_play;
  std::uint64_t movedFrames = 0;
  const float gain = std::pow(10.0f, static_cast<float>(m_volume) / kVolumeStepsPerDecade);
  const DWORD channels = m_format.Format.nChannels;
  const DWORD sampleBytes = m_blockAlign / channels;
  const DWORD rightOffset = channels > 1 ? sampleBytes : 0;
  const std::uint8_t* ring = m_ring.data();
  const bool floatStereo = IsFloatFormat(m_format) && channels == kDSoundMixChannels;
  const SampleLoader load = LoaderFor(m_format);
  bool ended = false;

  std::uint32_t done = 0;
  while (done < frames && !ended) {
    const auto frame = static_cast<DWORD>(at >> 32);
    std::uint32_t chunk;
    if (step == kFrameUnit) {
      // Equal rates: one ring frame per output frame, straight up to the end of the ring.
      chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames - done, ringFrames - frame));
      if (out != nullptr) {
        float* o = out + std::size_t{done} * kDSoundMixChannels;
        const std::uint8_t* in = ring + std::size_t{frame} * m_blockAlign;
        if (floatStereo) {
          const auto* samples = reinterpret_cast<const float*>(in);
          for (std::uint32_t i = 0; i < chunk * kDSoundMixChannels; ++i) o[i] += gain * samples[i];
        } else {
          for (std::uint32_t i = 0; i < chunk; ++i, in += m_blockAlign) {
            o[kDSoundMixChannels * i + kLeft] += gain * load(in);
            o[kDSoundMixChannels * i + kRight] += gain * load(in + rightOffset);
          }
        }
      }
      at += std::uint64_t{chunk} * kFrameUnit;
      movedFrames += chunk;
      done += chunk;
    } else {
      chunk = 1;
      if (out != nullptr) {
        const std::uint8_t* in = ring + std::size_t{frame} * m_blockAlign;
        out[kDSoundMixChannels * done + kLeft] += gain * load(in);
        out[kDSoundMixChannels * done + kRight] += gain * load(in + rightOffset);
      }
      const std::uint64_t before = at >> 32;
      at += step;
      movedFrames += (at >> 32) - before;
      ++done;
    }
    while (at >= end) {
      if (!m_looping) {
        movedFrames -= (at - end) >> 32;
        at = 0;
        ended = true;
        break;
      }
      at -= end;
    }
  }
  m_play = static_cast<DWORD>(at >> 32) * m_blockAlign;
  m_fraction = static_cast<std::uint32_t>(at);
  Passed(startByte, movedFrames * m_blockAlign);
  if (ended) StopLocked();
}

HRESULT DSoundBuffer::Notify::QueryInterface(REFIID iid, void** object) { return owner->QueryInterface(iid, object); }
ULONG DSoundBuffer::Notify::AddRef() { return owner->AddRef(); }
ULONG DSoundBuffer::Notify::Release() { return owner->Release(); }
HRESULT DSoundBuffer::Notify::SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) {
  return owner->SetNotificationPositions(count, positions);
}

}  // namespace platform
