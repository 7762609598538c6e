// Releasables and threads: reference counts, exit codes, handles closed once, destruction without waiting.
#include <gtest/gtest.h>

#include <atomic>

#include <base/Releasable.h>
#include <platform/errors.h>
#include <platform/sync.h>

namespace {

struct Tracked : tReleasable {
  explicit Tracked(bool* destroyed) : destroyed_(destroyed) {}
  ~Tracked() override { *destroyed_ = true; }
  bool* destroyed_;
};

TEST(Releasable, AddedReferencesKeepItAliveUntilTheLastRelease) {
  bool destroyed = false;
  auto* object = new Tracked(&destroyed);
  EXPECT_EQ(object->GetRefCount(), 1u);
  object->AddRef();
  object->AddRef();
  EXPECT_EQ(object->Release(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_TRUE(destroyed);
}

// Runs until told to stop; its result is the thread's exit code.
class Worker : public tThread {
 public:
  Worker() : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), started_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Worker() override {
    CloseHandle(stop_);
    CloseHandle(started_);
  }
  std::uint32_t Run() override {
    runs_.fetch_add(1);
    SetEvent(started_);
    WaitForSingleObject(stop_, INFINITE);
    return exitCode_;
  }
  HANDLE stop_;
  HANDLE started_;
  std::uint32_t exitCode_ = 0;
  std::atomic<int> runs_{0};
};

TEST(Thread, RunResultIsTheExitCode) {
  Worker worker;
  worker.exitCode_ = 0xC0FFEE;
  ASSERT_TRUE(worker.Start());
  HANDLE thread = worker.GetHandle();
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(worker.started_, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  SetEvent(worker.stop_);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xC0FFEEu);

  // Starting again closes the ended thread's handle first.
  ResetEvent(worker.stop_);
  worker.exitCode_ = 7;
  SetEvent(worker.stop_);
  ASSERT_TRUE(worker.Start());
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ASSERT_EQ(WaitForSingleObject(worker.GetHandle(), 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(worker.GetHandle(), &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(worker.runs_.load(), 2);
}

TEST(Thread, ThreadProcRunsTheObject) {
  Worker worker;
  worker.exitCode_ = 42;
  SetEvent(worker.stop_);
  EXPECT_EQ(tThread::ThreadProc(&worker), 42u);
  EXPECT_EQ(worker.runs_.load(), 1);
  EXPECT_EQ(worker.GetHandle(), nullptr);
}

TEST(Thread, NeverStartedThreadClosesNothing) {
  struct Idle : tThread {
    std::uint32_t Run() override { return 0; }
  };
  auto* idle = new Idle;
  EXPECT_EQ(idle->GetHandle(), nullptr);
  SetLastError(ERROR_SUCCESS);
  delete idle;
  // A CloseHandle of anything would have set ERROR_INVALID_HANDLE.
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

// The destructor only closes the handle: a thread still running is neither
// waited for nor stopped.
TEST(Thread, DestroyingTheObjectDoesNotWaitForTheThread) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  struct Detached : tThread {
    HANDLE release;
    HANDLE finished;
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::uint32_t Run() override {
      // Copies first: the object may be gone while the thread still runs.
      HANDLE r = release, f = finished;
      SetEvent(started);
      WaitForSingleObject(r, INFINITE);
      SetEvent(f);
      return 0;
    }
  };
  auto* thread = new Detached;
  thread->release = release;
  thread->finished = finished;
  ASSERT_TRUE(thread->Start());
  ASSERT_EQ(WaitForSingleObject(thread->started, 5000), WAIT_OBJECT_0);
  CloseHandle(thread->started);
  HANDLE handle = thread->GetHandle();
  delete thread;  // returns at once although the thread is blocked
  EXPECT_EQ(WaitForSingleObject(finished, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(handle, &code)) << "the destructor closes the handle";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(finished, 5000), WAIT_OBJECT_0);
  CloseHandle(release);
  CloseHandle(finished);
}

}  // namespace
