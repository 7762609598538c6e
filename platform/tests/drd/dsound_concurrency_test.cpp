#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <platform/dsound.h>
#include <platform/sync.h>
#include <platform/testing/DSoundClock.h>

namespace {

using platform::DSoundCall;

constexpr DWORD kRate = 8000;
constexpr DWORD kHalfFrames = 64;
constexpr DWORD kFrameBytes = 2 * sizeof(float);
constexpr DWORD kHalfBytes = kHalfFrames * kFrameBytes;
constexpr int kRounds = 40;
constexpr DWORD kDeadlineMs = 20000;

void FillHalf(IDirectSoundBuffer* buffer, int half, float value) {
  void* region = nullptr;
  DWORD bytes = 0;
  ASSERT_EQ(buffer->Lock(half * kHalfBytes, kHalfBytes, &region, &bytes, nullptr, nullptr, 0), DS_OK);
  auto* samples = static_cast<float*>(region);
  for (DWORD i = 0; i < bytes / sizeof(float); ++i) samples[i] = value;
  ASSERT_EQ(buffer->Unlock(region, bytes, nullptr, 0), DS_OK);
}

// A streaming thread refills the half just played while the clock plays the other;
// meanwhile other threads read the cursor and take and drop references.
TEST(DSoundConcurrency, RefillsFollowTheCursorAcrossThreads) {
  platform::testing::DSoundClock clock(kRate);
  IDirectSound8* ds = nullptr;
  ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
  ASSERT_EQ(ds->SetCooperativeLevel(reinterpret_cast<HWND>(1), DSSCL_NORMAL), DS_OK);
  WAVEFORMATEXTENSIBLE format{};
  format.Format = {WAVE_FORMAT_IEEE_FLOAT, 2, kRate, kRate * kFrameBytes, kFrameBytes, 32, 0};
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), DSBCAPS_CTRLPOSITIONNOTIFY, 2 * kHalfBytes, 0, &format.Format, GUID_NULL};
  IDirectSoundBuffer* buffer = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
  HANDLE halves[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  IDirectSoundNotify* notify = nullptr;
  ASSERT_EQ(buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)), DS_OK);
  const DSBPOSITIONNOTIFY positions[] = {{0, halves[0]}, {kHalfBytes, halves[1]}};
  ASSERT_EQ(notify->SetNotificationPositions(2, positions), DS_OK);
  notify->Release();
  FillHalf(buffer, 0, 1.0f);
  // The wait functions make their lock on first use; DRD does not see the
  // guard of that local static as ordering, so make it before any thread.
  WaitForSingleObject(stop, 0);

  std::thread streamer([&] {
    float next = 2.0f;
    for (;;) {
      const HANDLE waits[3] = {stop, halves[0], halves[1]};
      const DWORD which = WaitForMultipleObjects(3, waits, FALSE, INFINITE) - WAIT_OBJECT_0;
      if (which == 0) return;
      FillHalf(buffer, 1 - static_cast<int>(which - 1), next++);
    }
  });
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      DWORD play = 0;
      buffer->GetCurrentPosition(&play, nullptr);
      EXPECT_EQ(play % kFrameBytes, 0u);
      buffer->AddRef();
      buffer->Release();
    }
  });

  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(clock.WaitForCalls(DSoundCall::Unlock, static_cast<std::uint32_t>(round) + 2, kDeadlineMs));
    clock.Advance(kHalfFrames);
    const std::vector<float> out = clock.Output();
    for (float sample : out) ASSERT_EQ(sample, static_cast<float>(round + 1)) << "round " << round;
  }
  done = true;
  SetEvent(stop);
  streamer.join();
  reader.join();
  EXPECT_EQ(buffer->Release(), 0u);
  EXPECT_EQ(ds->Release(), 0u);
  for (HANDLE h : {halves[0], halves[1], stop}) CloseHandle(h);
}

}  // namespace
