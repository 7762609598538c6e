#pragma once
// The own process and how it ends.
#include <platform/win32types.h>

// The pseudo handle (HANDLE)-1 that stands for the own process.
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
// For the own process: ends it with exitCode through the exit hook and does not
// return. Any other handle fails with ERROR_INVALID_HANDLE.
BOOL TerminateProcess(HANDLE process, UINT exitCode);
[[noreturn]] void ExitProcess(UINT exitCode);

// TRUE while a debugger (the host's tracer of the process) is attached.
BOOL IsDebuggerPresent();
// A breakpoint trap: an attached debugger stops here; without one the trap ends
// the process (the host's SIGTRAP).
void DebugBreak();

// The filter of unhandled exceptions: receives the exception pointers, answers EXCEPTION_EXECUTE_HANDLER (1) or
// EXCEPTION_CONTINUE_SEARCH (0). Stored for the process; returns the previous filter (null at start). A filter
// set makes the host's fault signals exceptions that reach it (crash.h).
using LPTOP_LEVEL_EXCEPTION_FILTER = __attribute__((stdcall)) LONG (*)(void* exceptionPointers);
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

namespace platform {

using ExitHook = void (*)(UINT exitCode);
// Replaces how the process ends (null restores the default: flush every stdio
// stream, then _exit(exitCode)). Returns the previous hook. A hook may throw (tests
// do, to stay alive); if it returns, the default ending follows.
ExitHook SetExitHook(ExitHook hook);

}  // namespace platform
