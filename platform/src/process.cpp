#include <platform/process.h>

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include <platform/errors.h>

namespace {

std::atomic<platform::ExitHook> g_exitHook{nullptr};

[[noreturn]] void DefaultExit(UINT exitCode) {
  std::fflush(nullptr);
  ::_exit(static_cast<int>(exitCode));
}

[[noreturn]] void EndProcess(UINT exitCode) {
  if (platform::ExitHook hook = g_exitHook.load()) hook(exitCode);
  DefaultExit(exitCode);
}

}  // namespace

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  if (process != GetCurrentProcess()) {
    // Other processes are not started by this program yet, so no handle can name one.
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  EndProcess(exitCode);
}

void ExitProcess(UINT exitCode) { EndProcess(exitCode); }

namespace platform {

ExitHook SetExitHook(ExitHook hook) { return g_exitHook.exchange(hook); }

}  // namespace platform
