#pragma once
// The own process and how it ends.
#include <platform/win32types.h>

// The pseudo handle (HANDLE)-1 that stands for the own process.
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
// For the own process: ends it with exitCode through the exit hook and does not
// return. A process this one started is killed and reads exitCode from then on
// (FALSE with ERROR_ACCESS_DENIED once it has ended); other handles fail with
// ERROR_INVALID_HANDLE.
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

// ---------------------------------------------------------------------------------------------------------------
// Other processes and their threads (a launcher starting the game, the game serving it).
//
// A process made by CreateProcessW is a host child joined to its parent by a private channel. The child's side
// of the channel (its "agent") runs inside the child's platform layer: it serves remote memory and thread requests
// once the child has reached platform::EnterGameMain, and reports the child's 32-bit exit code just before the
// process ends. Handles of processes and of their threads are waitable (signalled when they end) and close with
// CloseHandle. Errors are Win32's: FALSE/null and GetLastError.
//
// Exit codes of another process: the code it reported as it ended (ExitProcess, TerminateProcess of itself); the
// code TerminateProcess gave it from outside; else its host exit status; death by a signal reads as the matching
// exception code (ExceptionCodeOfSignal). A thread of another process that has not ended when the process ends
// takes the process's exit code.

struct STARTUPINFOW {
  DWORD cb;  // 68
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow, cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};
static_assert(sizeof(STARTUPINFOW) == 68);

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

struct SECURITY_ATTRIBUTES;
// CREATE_SUSPENDED (0x4, sync.h) holds the child's main thread at platform::EnterGameMain until ResumeThread;
// other flags are ignored. The application name is the host program (a Win32 path, converted); the command line
// is split by the Win32 rules into its arguments (the first naming the program). A null environment inherits
// this one; a non-null one fails with ERROR_NOT_SUPPORTED. Fails with ERROR_FILE_NOT_FOUND when the program
// cannot be run, ERROR_DIRECTORY when the working directory does not exist.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, SECURITY_ATTRIBUTES* processAttributes,
                    SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);
// STILL_ACTIVE (259) while the process runs.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);

// Remote memory: blocks VirtualAlloc makes in the other process (its own memory: its VirtualFree releases them).
// WriteProcessMemory writes only into such blocks (ERROR_NOACCESS elsewhere) and stores how much it wrote.
LPVOID VirtualAllocEx(HANDLE process, LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFreeEx(HANDLE process, LPVOID address, SIZE_T size, DWORD freeType);
BOOL WriteProcessMemory(HANDLE process, LPVOID address, LPCVOID buffer, SIZE_T size, SIZE_T* written);

// A thread of the other process running start(parameter) (a cdecl routine at an address valid there); its
// handle is signalled when it returns, with the routine's result as its exit code. Flags must be 0.
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
HANDLE CreateRemoteThread(HANDLE process, SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize,
                          LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags, DWORD* threadId);

constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD THREAD_TERMINATE = 0x0001;
constexpr DWORD THREAD_SUSPEND_RESUME = 0x0002;
constexpr DWORD THREAD_QUERY_INFORMATION = 0x0040;
// A thread of this process by id (any thread: one not made by CreateThread, such as the main thread, is signalled
// when it calls ExitThread or is terminated). Access rights are not checked. ERROR_INVALID_PARAMETER for an id
// that names no thread of this process.
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
// Lets a main thread held since a suspended start run on: answers the previous suspend count (1, then 0 for a
// thread that runs). Works on this process's threads and on the main thread of a process this one started.
DWORD ResumeThread(HANDLE thread);
// Ends a held (suspended) thread, or the calling thread itself, with exitCode; a running thread of this process
// cannot be ended from outside (ERROR_NOT_SUPPORTED), as no host call ends a thread safely.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);

// Exception codes a death by a host signal reads as.
DWORD ExceptionCodeOfSignal(int signal);

namespace platform {

// The size of the block VirtualAlloc (or another process's VirtualAllocEx) made at base, in whole pages; 0 when
// base starts no such block. A thread handed a remote block reads it within these bounds.
SIZE_T AllocationSize(LPCVOID base);

// The loader's last step before the game's entry point: from here the process serves its parent's remote
// requests (when CreateProcessW made it), and a process created suspended holds the calling (main) thread until
// ResumeThread, or ends it with TerminateThread's code. Returns at once in any other process.
void EnterGameMain();

}  // namespace platform
