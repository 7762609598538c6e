// The handle table and the kernel objects behind it: events, mutexes, semaphores, threads and waits.
#include <platform/sync.h>

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <platform/errors.h>

#include "handles.h"

namespace platform::detail {

namespace {

// Handle values: (generation << 18) | (slot << 2). The low two bits stay clear as
// on Windows, the generation is never 0, so no handle is null, -1 or -2.
constexpr std::uintptr_t kSlotBits = 16;
constexpr std::uintptr_t kMaxSlots = std::uintptr_t{1} << kSlotBits;
constexpr std::uintptr_t kGenerationShift = kSlotBits + 2;
constexpr std::uintptr_t kGenerationLimit = std::uintptr_t{1} << (32 - kGenerationShift);

struct Slot {
  std::shared_ptr<HandleObject> object;
  std::uintptr_t generation = 1;
};

struct HandleTable {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> freeSlots;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable();  // outlives every static destructor
  return *table;
}

bool Decode(HANDLE handle, std::uintptr_t& slot, std::uintptr_t& generation) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if ((value & 3) != 0) return false;
  slot = (value >> 2) & (kMaxSlots - 1);
  generation = value >> kGenerationShift;
  return generation != 0;
}

}  // namespace

std::mutex& WaitMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

std::condition_variable& WaitCondition() {
  static std::condition_variable* condition = new std::condition_variable();
  return *condition;
}

HANDLE InsertHandle(std::shared_ptr<HandleObject> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::uint32_t index;
  if (!table.freeSlots.empty()) {
    index = table.freeSlots.back();
    table.freeSlots.pop_back();
  } else {
    if (table.slots.size() >= kMaxSlots) {
      SetLastError(ERROR_TOO_MANY_OPEN_FILES);
      return nullptr;
    }
    index = static_cast<std::uint32_t>(table.slots.size());
    table.slots.emplace_back();
  }
  Slot& slot = table.slots[index];
  slot.object = std::move(object);
  return reinterpret_cast<HANDLE>((slot.generation << kGenerationShift) | (std::uintptr_t{index} << 2));
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle) {
  std::uintptr_t index, generation;
  if (Decode(handle, index, generation)) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (index < table.slots.size() && table.slots[index].generation == generation && table.slots[index].object)
      return table.slots[index].object;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle) {
  std::uintptr_t index, generation;
  if (Decode(handle, index, generation)) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (index < table.slots.size() && table.slots[index].generation == generation && table.slots[index].object) {
      Slot& slot = table.slots[index];
      std::shared_ptr<HandleObject> object = std::move(slot.object);
      slot.object.reset();
      // A slot whose generations are used up is retired rather than reused.
      if (++slot.generation < kGenerationLimit) table.freeSlots.push_back(static_cast<std::uint32_t>(index));
      return object;
    }
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

}  // namespace platform::detail

using namespace platform::detail;

// ---------------------------------------------------------------------------
// Critical sections

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Opaque), "host mutex must fit the section");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "host mutex alignment");

pthread_mutex_t* HostMutex(LPCRITICAL_SECTION section) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(section->Opaque));
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  std::memset(section, 0, sizeof(*section));
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  auto* mutex = new (section->Opaque) pthread_mutex_t;
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD /*spinCount*/) {
  InitializeCriticalSection(section);
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(HostMutex(section)); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return pthread_mutex_trylock(HostMutex(section)) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(HostMutex(section)); }

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_destroy(HostMutex(section));
  std::memset(section, 0, sizeof(*section));
}

// ---------------------------------------------------------------------------
// Events

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*attributes*/, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HANDLE handle = InsertHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
  if (handle != nullptr) SetLastError(ERROR_SUCCESS);
  return handle;
}

namespace {

BOOL ChangeEvent(HANDLE handle, bool signalled) {
  std::shared_ptr<EventObject> event = Lookup<EventObject>(handle, HandleKind::Event);
  if (!event) return FALSE;
  // Notified under the lock: DRD, which checks the concurrency suites, reports a
  // broadcast outside it as a race.
  std::lock_guard<std::mutex> lock(WaitMutex());
  event->signalled = signalled;
  if (signalled) WaitCondition().notify_all();
  return TRUE;
}

}  // namespace

BOOL SetEvent(HANDLE event) { return ChangeEvent(event, true); }

BOOL ResetEvent(HANDLE event) { return ChangeEvent(event, false); }

// ---------------------------------------------------------------------------
// Waits

namespace {

bool IsSignalled(const HandleObject& object) {
  if (object.kind == HandleKind::Event) return static_cast<const EventObject&>(object).signalled;
  return static_cast<const EndingObject&>(object).finished;
}

// Taking an object's signal: auto-reset events let one waiter through.
void Acquire(HandleObject& object) {
  if (object.kind == HandleKind::Event) {
    auto& event = static_cast<EventObject&>(object);
    if (!event.manualReset) event.signalled = false;
  }
}

}  // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<HandleObject>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<HandleObject> object = LookupHandle(handles[i]);
    if (!object) return WAIT_FAILED;
    if (object->kind != HandleKind::Event && object->kind != HandleKind::Thread &&
        object->kind != HandleKind::Process) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  if (waitAll) {
    // One object named twice could never be acquired twice at once.
    for (DWORD i = 0; i < count; ++i)
      for (DWORD j = i + 1; j < count; ++j)
        if (objects[i] == objects[j]) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return WAIT_FAILED;
        }
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(WaitMutex());
  for (;;) {
    if (waitAll) {
      bool all = true;
      for (const auto& object : objects) all = all && IsSignalled(*object);
      if (all) {
        for (auto& object : objects) Acquire(*object);
        return WAIT_OBJECT_0;
      }
    } else {
      for (DWORD i = 0; i < count; ++i) {
        if (IsSignalled(*objects[i])) {
          Acquire(*objects[i]);
          return WAIT_OBJECT_0 + i;
        }
      }
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;
    if (milliseconds == INFINITE) {
      WaitCondition().wait(lock);
    } else if (WaitCondition().wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: the signal may have come with the time-out.
      if (waitAll) {
        bool all = true;
        for (const auto& object : objects) all = all && IsSignalled(*object);
        if (all) {
          for (auto& object : objects) Acquire(*object);
          return WAIT_OBJECT_0;
        }
      } else {
        for (DWORD i = 0; i < count; ++i)
          if (IsSignalled(*objects[i])) {
            Acquire(*objects[i]);
            return WAIT_OBJECT_0 + i;
          }
      }
      return WAIT_TIMEOUT;
    }
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<HandleObject> object = RemoveHandle(handle);
  return object ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// Threads

namespace {

thread_local DWORD t_threadId = 0;
// The exit code a thread of CreateThread leaves, set by its routine's return or by ExitThread.
thread_local DWORD t_exitCode = 0;

// Marks the thread finished however it ends: by returning or by ExitThread. The host's thread exit runs this
// destructor even when ExitThread's unwinding stops at frames without unwind data (game code), as it does there.
struct ThreadFinisher {
  std::shared_ptr<ThreadObject> thread;
  ~ThreadFinisher() {
    if (thread == nullptr) return;
    std::lock_guard<std::mutex> lock(WaitMutex());
    thread->exitCode = t_exitCode;
    thread->finished = true;
    WaitCondition().notify_all();
  }
};
thread_local ThreadFinisher t_finisher;

struct ThreadStart {
  std::shared_ptr<ThreadObject> thread;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

void* ThreadMain(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  std::shared_ptr<ThreadObject> thread = start->thread;
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    thread->threadId = GetCurrentThreadId();
    thread->idKnown = true;
    WaitCondition().notify_all();  // under the lock, as in ChangeEvent
  }
  const LPTHREAD_START_ROUTINE routine = start->routine;
  const LPVOID parameter = start->parameter;
  start.reset();
  RegisterOwnThread(thread);
  t_finisher.thread = std::move(thread);
  t_exitCode = routine(parameter);
  return nullptr;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, DWORD* threadId) {
  if (start == nullptr || (creationFlags & ~STACK_SIZE_PARAM_IS_A_RESERVATION) != 0) {
    SetLastError((creationFlags & CREATE_SUSPENDED) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<ThreadObject>();
  HANDLE handle = InsertHandle(thread);
  if (handle == nullptr) return nullptr;

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    const SIZE_T minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
    const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    SIZE_T size = stackSize < minimum ? minimum : stackSize;
    size = (size + page - 1) / page * page;
    pthread_attr_setstacksize(&attributes, size);
  }
  auto* startBlock = new ThreadStart{thread, start, parameter};
  pthread_t host;
  const int error = pthread_create(&host, &attributes, ThreadMain, startBlock);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete startBlock;
    RemoveHandle(handle);
    SetLastError(error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : platform::Win32ErrorFromErrno(error));
    return nullptr;
  }
  if (threadId != nullptr) {
    std::unique_lock<std::mutex> lock(WaitMutex());
    WaitCondition().wait(lock, [&] { return thread->idKnown; });
    *threadId = thread->threadId;
  }
  return handle;
}

void ExitThread(DWORD exitCode) {
  t_exitCode = exitCode;
  // A thread this program did not start (the game's main thread) has no finisher: its opened handles learn here.
  if (t_finisher.thread == nullptr) FinishAdoptedThread(GetCurrentThreadId(), exitCode);
  pthread_exit(nullptr);
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  std::shared_ptr<ThreadObject> thread = Lookup<ThreadObject>(handle, HandleKind::Thread);
  if (!thread) return FALSE;
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitMutex());
  *exitCode = thread->finished ? thread->exitCode : STILL_ACTIVE;
  return TRUE;
}

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = static_cast<DWORD>(syscall(SYS_gettid));
  return t_threadId;
}

// ---------------------------------------------------------------------------
// Time

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

namespace {

std::uint64_t MonotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

ULONGLONG GetTickCount64() { return MonotonicNanoseconds() / 1000000ULL; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  count->QuadPart = static_cast<LONGLONG>(MonotonicNanoseconds());
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  frequency->QuadPart = 1000000000LL;
  return TRUE;
}
