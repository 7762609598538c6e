#pragma once
// The console a process shares with the one that started it, and console control events.
//
// A process started by CreateProcessW inherits its parent's standard streams: that is the console it attaches
// to. Control events come from host signals: SIGINT is CTRL_C_EVENT, SIGHUP CTRL_CLOSE_EVENT. Handlers run on a
// thread of their own (never in a signal handler), newest first, until one answers TRUE; when none does, the
// process ends with STATUS_CONTROL_C_EXIT. Errors are Win32's: FALSE and GetLastError. Locks: one internal mutex.
#include <platform/win32types.h>

constexpr DWORD ATTACH_PARENT_PROCESS = DWORD(-1);
constexpr DWORD ERROR_GEN_FAILURE = 31;
// Attaches to the console of the parent (ATTACH_PARENT_PROCESS) or of a process id. Fails with
// ERROR_ACCESS_DENIED when already attached, ERROR_INVALID_HANDLE when the process was not started by a console
// process of this system (no parent channel) or its standard output is no longer open, ERROR_GEN_FAILURE for
// another process id.
BOOL AttachConsole(DWORD processId);

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD STATUS_CONTROL_C_EXIT = 0xC000013A;
using PHANDLER_ROUTINE = BOOL (*)(DWORD controlType);
// Adds (add TRUE) or removes a handler. A null handler with add TRUE ignores Ctrl+C, with FALSE restores it.
// Removing a handler that was not added fails with ERROR_INVALID_PARAMETER.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
