// The current process: its handle and id, termination with a replaceable exit hook, debugger checks.
#include <platform/process.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <platform/errors.h>

#include "process_channel.h"

namespace {

std::atomic<platform::ExitHook> g_exitHook{nullptr};

[[noreturn]] void DefaultExit(UINT exitCode) {
  std::fflush(nullptr);
  // The host keeps 8 bits of an exit status: a parent that started this process learns all 32 first.
  platform::detail::ReportProcessEnding(exitCode);
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
  if (process != GetCurrentProcess()) return platform::detail::TerminateChildProcess(process, exitCode);
  EndProcess(exitCode);
}

void ExitProcess(UINT exitCode) { EndProcess(exitCode); }

BOOL IsDebuggerPresent() {
  // The kernel names the tracing process in the status file; 0 when there is none.
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return FALSE;
  static constexpr char kTracer[] = "TracerPid:";
  char line[256];
  long tracer = 0;
  while (std::fgets(line, sizeof(line), status) != nullptr) {
    if (std::strncmp(line, kTracer, sizeof(kTracer) - 1) == 0) {
      std::sscanf(line + sizeof(kTracer) - 1, "%ld", &tracer);
      break;
    }
  }
  std::fclose(status);
  return tracer != 0 ? TRUE : FALSE;
}

void DebugBreak() { std::raise(SIGTRAP); }

namespace platform {

ExitHook SetExitHook(ExitHook hook) { return g_exitHook.exchange(hook); }

}  // namespace platform
