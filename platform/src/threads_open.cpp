// Threads by id: OpenThread, ResumeThread and TerminateThread over this process's threads and another's.
#include <platform/process.h>

#include <pthread.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include <platform/errors.h>
#include <platform/sync.h>

#include "handles.h"
#include "process_channel.h"

namespace platform::detail {

namespace {

// WaitMutex guards it, as it guards the objects' state.
std::map<DWORD, std::weak_ptr<ThreadObject>>& Registry() {
  static auto* registry = new std::map<DWORD, std::weak_ptr<ThreadObject>>();
  return *registry;
}

bool IsThreadOfThisProcess(DWORD threadId) {
  struct stat info;
  return ::stat(("/proc/self/task/" + std::to_string(threadId)).c_str(), &info) == 0;
}

}  // namespace

void RegisterOwnThread(const std::shared_ptr<ThreadObject>& thread) {
  std::lock_guard<std::mutex> lock(WaitMutex());
  auto& registry = Registry();
  // Ended threads leave with the next registration, so the table stays as large as the live threads.
  for (auto it = registry.begin(); it != registry.end();) {
    const auto object = it->second.lock();
    it = (!object || object->finished) ? registry.erase(it) : std::next(it);
  }
  registry[thread->threadId] = thread;
}

void FinishAdoptedThread(DWORD threadId, DWORD exitCode) {
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    auto& registry = Registry();
    const auto it = registry.find(threadId);
    if (it == registry.end()) return;
    if (auto thread = it->second.lock(); thread && thread->adopted && !thread->finished) {
      thread->exitCode = exitCode;
      thread->finished = true;
      WaitCondition().notify_all();
    }
    registry.erase(it);
  }
  ReportThreadEnded(threadId, exitCode);  // the parent's handle of the main thread learns it too
}

std::shared_ptr<ThreadObject> AdoptOwnThread(DWORD threadId) {
  {
    std::lock_guard<std::mutex> lock(WaitMutex());
    const auto it = Registry().find(threadId);
    if (it != Registry().end())
      if (auto thread = it->second.lock(); thread && !thread->finished) return thread;
  }
  if (threadId == 0 || !IsThreadOfThisProcess(threadId)) return nullptr;
  auto thread = std::make_shared<ThreadObject>();
  thread->threadId = threadId;
  thread->idKnown = true;
  thread->adopted = true;
  std::lock_guard<std::mutex> lock(WaitMutex());
  auto& slot = Registry()[threadId];
  if (auto existing = slot.lock(); existing && !existing->finished) return existing;
  slot = thread;
  return thread;
}

}  // namespace platform::detail

using namespace platform::detail;

HANDLE OpenThread(DWORD, BOOL, DWORD threadId) {
  std::shared_ptr<ThreadObject> thread = AdoptOwnThread(threadId);
  if (!thread) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return InsertHandle(thread);
}

DWORD ResumeThread(HANDLE handle) {
  std::shared_ptr<ThreadObject> thread = Lookup<ThreadObject>(handle, HandleKind::Thread);
  if (!thread) return DWORD(-1);
  if (auto process = thread->process.lock()) {
    DWORD previous = 0;
    return RemoteThreadRequest(process, ChannelKind::ResumeThread, thread->threadId, 0, &previous) ? previous
                                                                                                    : DWORD(-1);
  }
  std::lock_guard<std::mutex> lock(WaitMutex());
  if (!thread->held) return 0;
  thread->held = false;
  WaitCondition().notify_all();
  return 1;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
  std::shared_ptr<ThreadObject> thread = Lookup<ThreadObject>(handle, HandleKind::Thread);
  if (!thread) return FALSE;
  if (auto process = thread->process.lock()) {
    DWORD done = 0;
    return RemoteThreadRequest(process, ChannelKind::TerminateThread, thread->threadId, exitCode, &done) && done
               ? TRUE
               : FALSE;
  }
  if (thread->threadId == GetCurrentThreadId()) ExitThread(exitCode);
  std::unique_lock<std::mutex> lock(WaitMutex());
  if (thread->finished) return TRUE;
  if (!thread->held) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  // The held thread wakes, sees it was terminated and leaves without running anything more.
  thread->held = false;
  thread->terminated = true;
  thread->exitCode = exitCode;
  thread->finished = true;
  WaitCondition().notify_all();
  lock.unlock();
  ReportThreadEnded(thread->threadId, exitCode);
  return TRUE;
}
