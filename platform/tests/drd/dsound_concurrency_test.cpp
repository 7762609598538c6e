// The DirectSound stand-in under concurrent locks, cursor reads and notifications (run under DRD).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <platform/dsound.h>
#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>

namespace {

constexpr DWORD kRate = 8000, kHalfFrames = 64, kFrameBytes = 2 * sizeof(float), kHalfBytes = kHalfFrames * kFrameBytes;

void FillHalf(IDirectSoundBuffer* buffer, DWORD half, float value) {
  void* region = nullptr;
  DWORD bytes = 0;
  ASSERT_EQ(buffer->Lock(half * kHalfBytes, kHalfBytes, &region, &bytes, nullptr, nullptr, 0), DS_OK);
  std::fill_n(static_cast<float*>(region), bytes / sizeof(float), value);
  ASSERT_EQ(buffer->Unlock(region, bytes, nullptr, 0), DS_OK);
}

// A streaming thread refills the half just played while the clock plays the other;
// another thread reads the cursor and takes and drops references all along.
TEST(DSoundConcurrency, RefillsFollowTheCursorAcrossThreads) {
  platform::testing::DSoundClock clock(kRate);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  ASSERT_EQ(ds->SetCooperativeLevel(reinterpret_cast<HWND>(1), DSSCL_NORMAL), DS_OK);
  WAVEFORMATEX format = {WAVE_FORMAT_IEEE_FLOAT, 2, kRate, kRate * kFrameBytes, kFrameBytes, 32, 0};
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLPOSITIONNOTIFY, 2 * kHalfBytes, 0, &format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  const HANDLE events[] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr),
                           CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // stop, half 0, half 1
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY positions[] = {{0, events[1]}, {kHalfBytes, events[2]}};
  ASSERT_EQ(notify->SetNotificationPositions(2, positions), DS_OK);
  notify->Release();
  FillHalf(buffer, 0, 1.0f);
  // The wait functions make their lock on first use; DRD does not take the guard
  // of that local static as ordering, so it is made before any thread.
  WaitForSingleObject(events[0], 0);

  std::thread streamer([&] {
    for (float next = 2.0f;; ++next) {
      const DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE) - WAIT_OBJECT_0;
      if (which == 0) return;
      FillHalf(buffer, 2 - which, next);
    }
  });
  std::atomic<bool> done{false};
  std::thread reader([&] {
    for (DWORD play = 0; !done;) {
      EXPECT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
      EXPECT_EQ(play % kFrameBytes, 0u);
      buffer->AddRef();
      buffer->Release();
    }
  });
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  constexpr int kRounds = 40;
  constexpr DWORD kDeadlineMs = 20000;
  for (std::uint32_t round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(clock.WaitForCalls(platform::DSoundCall::Unlock, round + 2, kDeadlineMs));
    clock.Advance(kHalfFrames);
    for (float sample : clock.Output()) ASSERT_EQ(sample, static_cast<float>(round + 1)) << "round " << round;
  }
  done = true;
  SetEvent(events[0]);
  streamer.join();
  reader.join();
  EXPECT_EQ(buffer->Release(), 0u);
  EXPECT_EQ(ds->Release(), 0u);
  for (HANDLE h : events) CloseHandle(h);
}

}  // namespace
