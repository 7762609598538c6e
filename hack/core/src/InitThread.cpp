// The initialisation thread: the launcher's console, the core's start while the game is suspended, the resume.
#include <launcher/StartGame.h>

#include <core/GameStartup.h>

#include <hack/ModuleRegistry.h>
#include <platform/console.h>
#include <platform/memory.h>
#include <platform/process.h>
#include <platform/sync.h>

namespace {

constexpr std::uint32_t kStarted = 0;
constexpr std::uint32_t kStartFailed = 1;

// A refused start ends the main thread before it ran any game code.
void EndSuspendedMainThread() {
  if (HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, g_InitialisationData.gameMainThreadId)) {
    TerminateThread(thread, 0);
    CloseHandle(thread);
  }
}

}  // namespace

std::uint32_t InitThreadMain(void* block) {
  // The game inherited the launcher's standard streams: attached, they are already its console.
  if (AttachConsole(ATTACH_PARENT_PROCESS)) SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  const std::uint32_t reply = StartCoreModule(block, platform::AllocationSize(block));
  VirtualFree(block, 0, MEM_RELEASE);
  if (reply == 0 || CoreRefused(reply)) {
    EndSuspendedMainThread();
    return kStartRefused;
  }
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME, FALSE,
                             g_InitialisationData.gameMainThreadId);
  if (thread == nullptr) return kStartFailed;
  // Opened while the game is suspended, so the start routine always finds it.
  g_InitThread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
  std::uint32_t result = kStartFailed;
  bool mainThreadGone = true;
  if (ResumeThread(thread) != DWORD(-1)) {
    const HANDLE either[] = {g_StartEvent, thread};
    const DWORD waited = WaitForMultipleObjects(DWORD(std::size(either)), either, FALSE, INFINITE);
    DWORD code = 0;
    mainThreadGone = waited == WAIT_OBJECT_0 + 1;
    if (waited == WAIT_OBJECT_0) {
      result = kStarted;
    } else if (mainThreadGone && GetExitCodeThread(thread, &code) && code != kStarted) {
      result = code;  // a main thread that ended with 0 would read as started: it stays a failure
    }
  }
  // A main thread that never ran or ended never reaches the start routine's wait: the handle is nobody's now.
  if (mainThreadGone && g_InitThread != nullptr) {
    CloseHandle(g_InitThread);
    g_InitThread = nullptr;
  }
  CloseHandle(thread);
  return result;
}
