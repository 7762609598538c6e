// Releasables and threads: reference counts, exit codes, handles closed once, destruction without waiting.
#include <gtest/gtest.h>

#include <atomic>

#include <base/Releasable.h>
#include <platform/errors.h>
#include <platform/sync.h>

namespace {

constexpr DWORD kWaitMs = 5000;  // a failure bound only

TEST(Releasable, AddedReferencesKeepItAliveUntilTheLastRelease) {
  static bool destroyed;
  destroyed = false;
  struct Tracked : tReleasable {
    ~Tracked() override { destroyed = true; }
  };
  auto* object = new Tracked;
  object->AddRef(), object->AddRef();
  EXPECT_EQ((std::tuple{object->Release(), object->Release(), destroyed}), (std::tuple{2u, 1u, false}));
  EXPECT_EQ((std::tuple{object->Release(), destroyed}), (std::tuple{0u, true}));
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// Signals that it runs, waits until released, signals that it is done and gives its exit code. It copies what it
// needs first: the object may be gone while the thread still runs. The test closes the events.
struct Worker : tThread {
  HANDLE started = NewEvent(), release = NewEvent(), finished = NewEvent();
  std::uint32_t exitCode = 0;
  std::atomic<int> runs{0};
  std::uint32_t Run() override {
    HANDLE wait = release, done = finished;
    const std::uint32_t code = exitCode;
    ++runs;
    SetEvent(started);
    WaitForSingleObject(wait, INFINITE);
    SetEvent(done);
    return code;
  }
};

DWORD ExitCodeOf(HANDLE thread) {
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  return code;
}

// The run's result is the exit code; starting again closes the ended thread's handle first.
TEST(Thread, RunResultIsTheExitCodeAndARestartClosesTheOldHandle) {
  Worker worker;
  worker.exitCode = 0xC0FFEE;
  ASSERT_TRUE(worker.Start());
  HANDLE first = worker.GetHandle();
  ASSERT_EQ(WaitForSingleObject(worker.started, kWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeOf(first), STILL_ACTIVE);
  SetEvent(worker.release);
  EXPECT_EQ((std::tuple{WaitForSingleObject(first, kWaitMs), ExitCodeOf(first)}),
            (std::tuple{WAIT_OBJECT_0, 0xC0FFEEu}));
  worker.exitCode = 7;
  ASSERT_TRUE(worker.Start());
  DWORD code = 0;
  EXPECT_EQ((std::tuple{GetExitCodeThread(first, &code), GetLastError()}), (std::tuple{FALSE, ERROR_INVALID_HANDLE}));
  EXPECT_EQ((std::tuple{WaitForSingleObject(worker.GetHandle(), kWaitMs), ExitCodeOf(worker.GetHandle())}),
            (std::tuple{WAIT_OBJECT_0, 7u}));
  EXPECT_EQ(tThread::ThreadProc(&worker), 7u) << "the start routine runs the object";
  EXPECT_EQ(worker.runs.load(), 3);
  for (HANDLE event : {worker.started, worker.release, worker.finished}) CloseHandle(event);
}

// A thread never started closes nothing; the destructor only closes the handle: a thread still running is neither
// waited for nor stopped.
TEST(Thread, DestructionClosesTheHandleAndNeverWaits) {
  struct Idle : tThread {
    std::uint32_t Run() override { return 0; }
  };
  SetLastError(ERROR_SUCCESS);
  delete new Idle;
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a CloseHandle of anything would have set ERROR_INVALID_HANDLE";

  auto* worker = new Worker;
  const HANDLE started = worker->started, release = worker->release, finished = worker->finished;
  ASSERT_TRUE(worker->Start());
  ASSERT_EQ(WaitForSingleObject(started, kWaitMs), WAIT_OBJECT_0);
  HANDLE thread = worker->GetHandle();
  delete worker;  // returns at once although the thread is blocked
  EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_EQ((std::tuple{GetExitCodeThread(thread, &code), GetLastError()}), (std::tuple{FALSE, ERROR_INVALID_HANDLE}))
      << "the destructor closes the handle";
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(finished, kWaitMs), WAIT_OBJECT_0);
  for (HANDLE event : {started, release, finished}) CloseHandle(event);
}

}  // namespace
