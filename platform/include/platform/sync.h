#pragma once
// Locks, events, threads, waits and clocks with Win32 names and semantics.
//
// Every kernel object (events, threads, files, find handles) lives in one handle
// table: a closed or made-up handle is answered with ERROR_INVALID_HANDLE, never
// with a crash, and CloseHandle closes any kind.
#include <cstdint>

#include <platform/win32types.h>

using ULONG_PTR = std::uintptr_t;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// A recursive lock: the owning thread may enter it again and must leave it as
// often as it entered. The storage is opaque (the host mutex lives in it).
struct CRITICAL_SECTION {
  alignas(4) unsigned char Opaque[24];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION section, DWORD spinCount);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Events. Names are not supported: a non-null name fails with ERROR_NOT_SUPPORTED.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
// WAIT_TIMEOUT (258) is in win32types.h.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Waitable: events, and threads (signalled once the thread has ended).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Wait-any returns WAIT_OBJECT_0 + the lowest signalled index; wait-all returns
// WAIT_OBJECT_0 once all are signalled at the same time (auto-reset events are
// then all reset together).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// Closes a handle of any kind. Closing a thread handle lets the thread run on.
BOOL CloseHandle(HANDLE handle);

// Threads.
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);
constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STACK_SIZE_PARAM_IS_A_RESERVATION = 0x00010000;
constexpr DWORD STILL_ACTIVE = 259;

// Flags: 0 or STACK_SIZE_PARAM_IS_A_RESERVATION; CREATE_SUSPENDED fails with
// ERROR_NOT_SUPPORTED. A stackSize of 0 takes the default size.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, DWORD* threadId);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
// Ends the calling thread with exitCode (its handle reads that code). Only for threads made by CreateThread:
// the host thread unwinds, so objects on its stack are destroyed.
[[noreturn]] void ExitThread(DWORD exitCode);
DWORD GetCurrentThreadId();
// The pseudo handle (HANDLE)-2 that stands for the calling thread (never to be closed).
HANDLE GetCurrentThread();
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_MODE_BACKGROUND_BEGIN = 0x00010000;
constexpr int THREAD_MODE_BACKGROUND_END = 0x00020000;
// Only the calling thread's background mode is supported (other handles and priorities fail with
// ERROR_NOT_SUPPORTED, THREAD_PRIORITY_NORMAL on the calling thread excepted, which changes nothing).
// Background mode is the host's lowest scheduling priority for this thread; it cannot be left again (the host
// lets no thread raise its priority back), so ending it fails with ERROR_NOT_SUPPORTED.
BOOL SetThreadPriority(HANDLE thread, int priority);
// The calling thread (its pseudo handle) or a thread of CreateThread; answers the previous mask, or 0 with
// ERROR_INVALID_PARAMETER for a mask naming no processor of the process.
DWORD_PTR SetThreadAffinityMask(HANDLE thread, DWORD_PTR mask);

void Sleep(DWORD milliseconds);

// Milliseconds of a monotonic clock (GetTickCount wraps after 49.7 days as on Windows).
DWORD GetTickCount();
ULONGLONG GetTickCount64();
// A monotonic nanosecond counter: the frequency is 1e9.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
