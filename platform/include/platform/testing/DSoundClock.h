#pragma once
// A DirectSound backend for tests: it opens no output and moves the play cursors
// only when the test says, setting the passed notifications synchronously on the
// test's thread.
//
// Usage:
//   platform::testing::DSoundClock clock(44100);   // installs itself; devices made now use it
//   DirectSoundCreate8(nullptr, &device, nullptr);
//   ... buffer->Play(0, 0, DSBPLAY_LOOPING);
//   clock.Advance(11025);                          // every device plays 11025 frames at 44100 Hz
//   clock.FailNext(platform::DSoundCall::Lock, DSERR_BUFFERLOST);
//   ASSERT_TRUE(clock.WaitForCalls(platform::DSoundCall::Unlock, 3, 5000));
//   clock.HoldNext(platform::DSoundCall::Lock);    // the next Lock, on any thread, waits...
//   ASSERT_TRUE(clock.WaitUntilHeld(5000));
//   clock.Advance(500);                            // ...while the cursors move on
//   clock.Resume();
// Release every device before the clock goes: the destructor puts back the
// backend that was installed before. All members are safe to use from several
// threads; a device opened while another clock was installed is not moved.
#include <pthread.h>

#include <cstdint>
#include <vector>

#include <platform/dsound_backend.h>

namespace platform::testing {

class DSoundClock final : public IDSoundBackend {
 public:
  // rate: output frames a second that Advance counts in.
  explicit DSoundClock(std::uint32_t rate);
  ~DSoundClock();
  DSoundClock(const DSoundClock&) = delete;
  DSoundClock& operator=(const DSoundClock&) = delete;

  // Plays frames on every open device; the sum of their mixes is kept for Output().
  void Advance(std::uint32_t frames);
  // Interleaved stereo floats of the last Advance.
  std::vector<float> Output() const;

  // The next count calls of that method answer result and change nothing.
  void FailNext(DSoundCall call, HRESULT result, std::uint32_t count = 1);
  // DirectSoundCreate8 answers this until cleared with DS_OK (no SDL device, say).
  void FailOpen(HRESULT result);
  // The next call of that method, on whichever thread makes it, waits before it does anything until Resume:
  // a thread made late by exactly as many frames as the test advances meanwhile. One hold at a time.
  void HoldNext(DSoundCall call);
  // Waits until the held call has begun to wait; false after milliseconds.
  bool WaitUntilHeld(std::uint32_t milliseconds) const;
  // Lets the held call go on (or cancels a hold not reached yet).
  void Resume();
  // Completed calls of that method (failed ones included) since the clock was made.
  std::uint32_t Calls(DSoundCall call) const;
  // Waits until Calls(call) reaches count; false after milliseconds.
  bool WaitForCalls(DSoundCall call, std::uint32_t count, std::uint32_t milliseconds) const;
  std::uint32_t OpenDevices() const;

  HRESULT OpenDevice(DSoundMixer& mixer) override;
  void CloseDevice(DSoundMixer& mixer) override;
  HRESULT BeforeCall(DSoundCall call) override;
  void AfterCall(DSoundCall call, HRESULT result) override;

 private:
  struct Failure {
    DSoundCall call;
    HRESULT result;
    std::uint32_t count;
  };

  std::uint32_t m_rate;
  IDSoundBackend* m_previous;
  // POSIX calls directly: DRD follows pthread_cond_timedwait, not the steady-clock
  // wait that std::condition_variable makes of a timed wait.
  mutable pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;
  mutable pthread_cond_t m_called = PTHREAD_COND_INITIALIZER;
  std::vector<DSoundMixer*> m_devices;
  std::vector<Failure> m_failures;
  DSoundCall m_hold = DSoundCall::Count;  // Count: none armed
  bool m_holding = false;
  std::vector<float> m_output;
  std::uint32_t m_calls[static_cast<std::size_t>(DSoundCall::Count)] = {};
  HRESULT m_openResult = DS_OK;
};

}  // namespace platform::testing
