// Kernel objects and waits: critical sections, events, handles, threads, waits, clocks and the last error.
#include <platform/sync.h>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <vector>

#include <platform/errors.h>

namespace {

// Generous bounds: the checks are about "returns at all" and "did not return at once".
constexpr ULONGLONG kSlack = 5000;

TEST(CriticalSection, ReentersOnOneThreadAndExcludesOthers) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // recursion must not deadlock
  ASSERT_TRUE(TryEnterCriticalSection(&section));

  struct Shared {
    CRITICAL_SECTION* section;
    std::atomic<int> tryResult{-1};
  } shared{&section};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        s->tryResult = TryEnterCriticalSection(s->section);
        return 0;
      },
      &shared, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(shared.tryResult.load(), FALSE) << "another thread entered a held section";
  CloseHandle(thread);

  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);
  DeleteCriticalSection(&section);
}

TEST(CriticalSection, CountsStayExactUnderContention) {
  struct Shared {
    CRITICAL_SECTION section;
    long counter = 0;
  } shared;
  InitializeCriticalSection(&shared.section);
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
          auto* s = static_cast<Shared*>(p);
          for (int r = 0; r < kRounds; ++r) {
            EnterCriticalSection(&s->section);
            EnterCriticalSection(&s->section);
            const long seen = s->counter;
            s->counter = seen + 1;
            LeaveCriticalSection(&s->section);
            LeaveCriticalSection(&s->section);
          }
          return 0;
        },
        &shared, 0, nullptr));
    ASSERT_NE(threads.back(), nullptr);
  }
  ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(shared.counter, long{kThreads} * kRounds);
  for (HANDLE t : threads) CloseHandle(t);
  DeleteCriticalSection(&shared.section);
}

TEST(Event, AutoResetReleasesExactlyOneWaiter) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  struct Shared {
    HANDLE event;
    std::atomic<int> released{0};
  } shared{event};
  auto waiter = [](LPVOID p) -> DWORD {
    auto* s = static_cast<Shared*>(p);
    if (WaitForSingleObject(s->event, 1500) == WAIT_OBJECT_0) ++s->released;
    return 0;
  };
  HANDLE threads[3];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, waiter, &shared, 0, nullptr);
  Sleep(100);  // let them wait
  ASSERT_TRUE(SetEvent(event));
  ASSERT_EQ(WaitForMultipleObjects(3, threads, TRUE, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(shared.released.load(), 1);
  // The one signal was consumed.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  for (HANDLE t : threads) CloseHandle(t);
  CloseHandle(event);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, NamedEventsAreRefused) {
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"Global\\x"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(Wait, TimeoutReturnsInBoundedTime) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 40u);
  EXPECT_LT(elapsed, kSlack);
  HANDLE two[2] = {event, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(2, two, FALSE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(2, two, TRUE, 20), WAIT_TIMEOUT);
  CloseHandle(two[0]);
  CloseHandle(two[1]);
}

TEST(Wait, AnyGivesTheLowestSignalledIndex) {
  HANDLE events[4];
  for (HANDLE& e : events) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetEvent(events[3]);
  SetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, events, FALSE, 0), WAIT_OBJECT_0 + 1);
  ResetEvent(events[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, events, FALSE, 0), WAIT_OBJECT_0 + 3);
  for (HANDLE e : events) CloseHandle(e);
}

TEST(Wait, AllWaitsForEveryObjectAndResetsAutoEventsTogether) {
  HANDLE a = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE both[2] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_TIMEOUT);
  // A failed wait-all must not have taken a's signal.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  SetEvent(a);
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  CloseHandle(a);
  CloseHandle(b);
}

TEST(Wait, SignalFromAnotherThreadWakesAnInfiniteWait) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        Sleep(30);
        SetEvent(static_cast<HANDLE>(p));
        return 0;
      },
      event, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(event);
}

TEST(Wait, BadArgumentsFail) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE twice[2] = {e, e};
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(0, twice, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, twice, FALSE, 0), WAIT_FAILED);
  CloseHandle(e);
}

TEST(Handles, StaleAndMadeUpHandlesAreInvalidNotFatal) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(e));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(e));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // The slot reused by a new object must not answer for the old handle.
  HANDLE reused = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_FALSE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(reused, 0), WAIT_OBJECT_0);
  for (HANDLE bogus : {HANDLE(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x12345678),
                       reinterpret_cast<HANDLE>(3)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bogus));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ResetEvent(bogus));
  }
  // A thread handle is not an event.
  HANDLE thread = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
  EXPECT_FALSE(SetEvent(thread));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(reused);
}

TEST(Thread, ExitCodeIsStillActiveThenTheRoutinesResult) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  struct Shared {
    HANDLE release;
    std::atomic<DWORD> seenId{0};
  } shared{release};
  HANDLE thread = CreateThread(
      nullptr, 64 * 1024,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        s->seenId = GetCurrentThreadId();
        WaitForSingleObject(s->release, INFINITE);
        return 0xDEADBEEFu;  // the full 32 bits must survive
      },
      &shared, 0, &id);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  SetEvent(release);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xDEADBEEFu);
  EXPECT_EQ(shared.seenId.load(), id);
  EXPECT_NE(id, GetCurrentThreadId());
  // An ended thread stays signalled.
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(release);
}

TEST(Thread, ClosingTheHandleLetsTheThreadRunOn) {
  struct Shared {
    HANDLE go;
    HANDLE done;
  } shared{CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        WaitForSingleObject(s->go, INFINITE);
        SetEvent(s->done);
        return 7;
      },
      &shared, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(CloseHandle(thread));
  DWORD code;
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  SetEvent(shared.go);
  EXPECT_EQ(WaitForSingleObject(shared.done, 10000), WAIT_OBJECT_0) << "the thread was stopped by CloseHandle";
  Sleep(20);  // let it leave before the events go
  CloseHandle(shared.go);
  CloseHandle(shared.done);
}

TEST(Thread, SuspendedStartIsRefused) {
  EXPECT_EQ(CreateThread(nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, CREATE_SUSPENDED, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Clock, TicksAndCounterAreMonotonic) {
  LARGE_INTEGER frequency, first, second;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency.QuadPart, 1000000000LL);
  ASSERT_TRUE(QueryPerformanceCounter(&first));
  const ULONGLONG ticks = GetTickCount64();
  Sleep(15);
  ASSERT_TRUE(QueryPerformanceCounter(&second));
  EXPECT_GE(second.QuadPart - first.QuadPart, 10 * 1000000LL);
  EXPECT_GE(GetTickCount64() - ticks, 10u);
  const DWORD low = GetTickCount();
  EXPECT_LE(static_cast<DWORD>(GetTickCount64()) - low, 1000u) << "GetTickCount is the low half of GetTickCount64";
}

TEST(LastError, IsPerThread) {
  SetLastError(1234);
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        const DWORD initial = GetLastError();
        SetLastError(99);
        return initial;
      },
      nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
  CloseHandle(thread);
}

}  // namespace

// ExitThread ends the thread from inside nested calls with its full 32-bit code; objects of the frames it leaves
// are destroyed.
TEST(PlatformThreads, ExitThreadEndsWithItsCodeFromNestedCalls) {
  static std::atomic<int> destroyed{0};
  struct Counted {
    ~Counted() { ++destroyed; }
  };
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        Counted held;
        [] { ExitThread(0xC0000005u); }();
        return 1;
      },
      nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xC0000005u);
  EXPECT_EQ(destroyed.load(), 1);
  CloseHandle(thread);
}

namespace {

// Runs body on a thread of its own (priorities and affinity stay off the test's own thread).
template <typename Body>
void OnOwnThread(Body body) {
  struct Call {
    static DWORD Run(LPVOID self) {
      (*static_cast<Body*>(self))();
      return 0;
    }
  };
  HANDLE thread = CreateThread(nullptr, 0, &Call::Run, &body, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  CloseHandle(thread);
}

}  // namespace

TEST(ThreadPriority, BackgroundModeLowersOnlyTheCallingThread) {
  const int before = getpriority(PRIO_PROCESS, id_t(GetCurrentThreadId()));
  OnOwnThread([] {
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN));
    EXPECT_EQ(19, getpriority(PRIO_PROCESS, id_t(GetCurrentThreadId())));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_END));
    EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), GetLastError());
  });
  EXPECT_EQ(before, getpriority(PRIO_PROCESS, id_t(GetCurrentThreadId())));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(SetThreadPriority(event, THREAD_MODE_BACKGROUND_BEGIN));
  EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), GetLastError());
  CloseHandle(event);
}

TEST(ThreadPriority, AffinityPinsToTheMaskAndAnswersTheOldOne) {
  OnOwnThread([] {
    const DWORD_PTR old = SetThreadAffinityMask(GetCurrentThread(), 1);
    EXPECT_NE(0u, old & 1) << "processor 0 was allowed before";
    cpu_set_t set;
    ASSERT_EQ(0, sched_getaffinity(0, sizeof set, &set));
    EXPECT_EQ(1, CPU_COUNT(&set));
    EXPECT_TRUE(CPU_ISSET(0, &set));
    EXPECT_EQ(DWORD_PTR(1), SetThreadAffinityMask(GetCurrentThread(), old));
    EXPECT_EQ(0u, SetThreadAffinityMask(GetCurrentThread(), 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  });
}
