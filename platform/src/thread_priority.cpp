// Thread priorities and processor affinity over the host's per-thread niceness and CPU sets.
#include <platform/sync.h>

#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

#include <platform/errors.h>

#include "handles.h"

using namespace platform::detail;

namespace {

// The host's lowest priority: the niceness the background mode gives a thread.
constexpr int kBackgroundNiceness = 19;
constexpr std::uintptr_t kCurrentThreadPseudoHandle = std::uintptr_t(-2);
constexpr unsigned kMaskBits = sizeof(DWORD_PTR) * 8;

// The host thread id of a handle: the pseudo handle's or a thread of CreateThread still running; 0 otherwise
// (with the error set).
DWORD HostThreadOf(HANDLE thread) {
  if (thread == GetCurrentThread()) return GetCurrentThreadId();
  std::shared_ptr<ThreadObject> object = Lookup<ThreadObject>(thread, HandleKind::Thread);
  if (!object) return 0;
  std::unique_lock<std::mutex> lock(WaitMutex());
  if (!object->process.expired()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  WaitCondition().wait(lock, [&] { return object->idKnown || object->finished; });
  if (object->finished) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return object->threadId;
}

}  // namespace

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(kCurrentThreadPseudoHandle); }

BOOL SetThreadPriority(HANDLE thread, int priority) {
  if (thread != GetCurrentThread() || (priority != THREAD_MODE_BACKGROUND_BEGIN && priority != THREAD_PRIORITY_NORMAL)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (priority == THREAD_PRIORITY_NORMAL) return TRUE;
  // On Linux the niceness is per thread when the thread's own id is named.
  if (setpriority(PRIO_PROCESS, id_t(GetCurrentThreadId()), kBackgroundNiceness) != 0) {
    SetLastError(platform::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask) {
  const DWORD id = HostThreadOf(thread);
  if (id == 0) return 0;
  cpu_set_t previous;
  CPU_ZERO(&previous);
  if (sched_getaffinity(pid_t(id), sizeof previous, &previous) != 0) {
    SetLastError(platform::Win32ErrorFromErrno(errno));
    return 0;
  }
  cpu_set_t wanted;
  CPU_ZERO(&wanted);
  DWORD_PTR old = 0;
  for (unsigned cpu = 0; cpu < kMaskBits; ++cpu) {
    if (CPU_ISSET(cpu, &previous)) old |= DWORD_PTR(1) << cpu;
    if ((mask & (DWORD_PTR(1) << cpu)) != 0) CPU_SET(cpu, &wanted);
  }
  if (mask == 0 || sched_setaffinity(pid_t(id), sizeof wanted, &wanted) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return old;
}
