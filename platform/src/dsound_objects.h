#pragma once
// The DirectSound stand-in's objects: one device (the mixer) and its buffers.
//
// Locking: DSoundMixer::m_mutex guards the buffer list and every buffer's state
// (cursor, status, controls, notifications); ring bytes belong to whoever
// locked them. Reference counts are atomic.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include <platform/dsound.h>
#include <platform/dsound_backend.h>

namespace platform {

class DSoundBuffer;

class DSoundMixer final : public IDirectSound8 {
 public:
  explicit DSoundMixer(IDSoundBackend& backend) : m_backend(backend) {}

  HRESULT DSOUND_STDCALL QueryInterface(REFIID iid, void** object) override;
  ULONG DSOUND_STDCALL AddRef() override;
  ULONG DSOUND_STDCALL Release() override;
  HRESULT DSOUND_STDCALL CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer,
                                           IUnknown* outer) override;
  HRESULT DSOUND_STDCALL GetCaps(void* caps) override;
  HRESULT DSOUND_STDCALL DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** copy) override;
  HRESULT DSOUND_STDCALL SetCooperativeLevel(HWND window, DWORD level) override;
  HRESULT DSOUND_STDCALL Compact() override;
  HRESULT DSOUND_STDCALL GetSpeakerConfig(DWORD* config) override;
  HRESULT DSOUND_STDCALL SetSpeakerConfig(DWORD config) override;
  HRESULT DSOUND_STDCALL Initialize(LPCGUID device) override;
  HRESULT DSOUND_STDCALL VerifyCertification(DWORD* certified) override;

  void Render(float* out, std::uint32_t frames, std::uint32_t rate);
  void Detach(DSoundBuffer* buffer);
  IDSoundBackend& Backend() { return m_backend; }
  std::mutex& Mutex() { return m_mutex; }

 private:
  IDSoundBackend& m_backend;
  std::mutex m_mutex;
  std::vector<DSoundBuffer*> m_buffers;  // not counted: a buffer leaves the list as it dies
  DWORD m_level = 0;                     // 0 until SetCooperativeLevel
  std::atomic<ULONG> m_refs{1};
};

class DSoundBuffer final : public IDirectSoundBuffer {
 public:
  // The format has been checked; holds a reference on mixer.
  DSoundBuffer(DSoundMixer& mixer, DWORD flags, DWORD bytes, const WAVEFORMATEXTENSIBLE& format, DWORD formatBytes);

  HRESULT DSOUND_STDCALL QueryInterface(REFIID iid, void** object) override;
  ULONG DSOUND_STDCALL AddRef() override;
  ULONG DSOUND_STDCALL Release() override;
  HRESULT DSOUND_STDCALL GetCaps(void* caps) override;
  HRESULT DSOUND_STDCALL GetCurrentPosition(DWORD* play, DWORD* write) override;
  HRESULT DSOUND_STDCALL GetFormat(LPWAVEFORMATEX format, DWORD size, DWORD* written) override;
  HRESULT DSOUND_STDCALL GetVolume(LONG* volume) override;
  HRESULT DSOUND_STDCALL GetPan(LONG* pan) override;
  HRESULT DSOUND_STDCALL GetFrequency(DWORD* frequency) override;
  HRESULT DSOUND_STDCALL GetStatus(DWORD* status) override;
  HRESULT DSOUND_STDCALL Initialize(IDirectSound8* device, LPCDSBUFFERDESC desc) override;
  HRESULT DSOUND_STDCALL Lock(DWORD offset, DWORD bytes, void** first, DWORD* firstBytes, void** second,
                              DWORD* secondBytes, DWORD flags) override;
  HRESULT DSOUND_STDCALL Play(DWORD reserved, DWORD priority, DWORD flags) override;
  HRESULT DSOUND_STDCALL SetCurrentPosition(DWORD position) override;
  HRESULT DSOUND_STDCALL SetFormat(LPCWAVEFORMATEX format) override;
  HRESULT DSOUND_STDCALL SetVolume(LONG volume) override;
  HRESULT DSOUND_STDCALL SetPan(LONG pan) override;
  HRESULT DSOUND_STDCALL SetFrequency(DWORD frequency) override;
  HRESULT DSOUND_STDCALL Stop() override;
  HRESULT DSOUND_STDCALL Unlock(void* first, DWORD firstBytes, void* second, DWORD secondBytes) override;
  HRESULT DSOUND_STDCALL Restore() override;

  HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions);
  // Under the mixer's lock.
  void Mix(float* out, std::uint32_t frames, std::uint32_t rate);
  void MarkLost();

 private:
  struct Notify final : IDirectSoundNotify {
    DSoundBuffer* owner = nullptr;
    HRESULT DSOUND_STDCALL QueryInterface(REFIID iid, void** object) override;
    ULONG DSOUND_STDCALL AddRef() override;
    ULONG DSOUND_STDCALL Release() override;
    HRESULT DSOUND_STDCALL SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) override;
  };

  // Under the mixer's lock: sets the events of offsets in (from, from + bytes], all
  // of them once bytes reaches the size.
  void Passed(DWORD from, std::uint64_t bytes);
  void Signal(DWORD offset);
  void StopLocked();
  DWORD PlayableBytes() const { return m_size - m_size % m_blockAlign; }

  DSoundMixer& m_mixer;
  Notify m_notify;
  std::vector<std::uint8_t> m_ring;
  DWORD m_size;
  DWORD m_flags;
  WAVEFORMATEXTENSIBLE m_format{};
  DWORD m_formatBytes;  // 18 + extension as given
  DWORD m_blockAlign;
  std::atomic<ULONG> m_refs{1};
  // Guarded by the mixer's lock.
  DWORD m_play = 0;          // bytes, a whole frame
  std::uint32_t m_fraction = 0;  // of a frame, in 1/2^32
  DWORD m_frequency;
  LONG m_volume = DSBVOLUME_MAX;
  bool m_playing = false;
  bool m_looping = false;
  bool m_lost = false;
  std::vector<DSBPOSITIONNOTIFY> m_positions;
};

// Runs BeforeCall and AfterCall around one method.
class CallHooks {
 public:
  CallHooks(IDSoundBackend& backend, DSoundCall call) : m_backend(backend), m_call(call) {}
  HRESULT Before() { return m_result = m_backend.BeforeCall(m_call); }
  HRESULT Done(HRESULT result) { return m_result = result; }
  ~CallHooks() { m_backend.AfterCall(m_call, m_result); }
  CallHooks(const CallHooks&) = delete;
  CallHooks& operator=(const CallHooks&) = delete;

 private:
  IDSoundBackend& m_backend;
  DSoundCall m_call;
  HRESULT m_result = DS_OK;
};

}  // namespace platform
