#pragma once
// Windows in Win32 shape, as far as the GUI needs them: keyboard focus, the parent chain, sent
// messages and the caret blink time.
//
// On this host no window system stands behind a handle: a window is any non-null HWND that code
// names. Its parent is what SetParent recorded, its procedure what SetWindowProcedure installed
// (the game double installs one for its window, tests install recorders). SendMessageW calls that
// procedure on the calling thread; a window without one answers 0 with ERROR_INVALID_WINDOW_HANDLE.
// GetFocus answers the window SetFocus named last (null at start).
// Errors: Win32 return values and SetLastError. Locking: one internal lock over the window table,
// never held while a procedure runs; every call may come from any thread.
#include <platform/win32types.h>

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT GA_PARENT = 1;
constexpr UINT GA_ROOT = 2;
constexpr UINT GA_ROOTOWNER = 3;
// Window hit-test codes.
constexpr int HTCLIENT = 1;
constexpr int HTBOTTOMRIGHT = 17;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
// The caret blink period Windows uses out of the box.
constexpr UINT kDefaultCaretBlinkMilliseconds = 530;

// The window with the keyboard focus, or null.
HWND GetFocus();
// Gives the focus to the window (null: to none); returns the window that had it.
HWND SetFocus(HWND window);
// Records the parent of a window (null: a top-level window); returns the previous parent. Null
// window: null with ERROR_INVALID_WINDOW_HANDLE. A parent that would make a cycle is refused the
// same way.
HWND SetParent(HWND window, HWND parent);
HWND GetParent(HWND window);
// GA_PARENT: the parent; GA_ROOT and GA_ROOTOWNER: the last window of the parent chain (the window
// itself when it has no parent). Null window or another flag: null.
HWND GetAncestor(HWND window, UINT flags);
// The procedure's answer, or 0 (ERROR_INVALID_WINDOW_HANDLE) when the window has none.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Milliseconds between caret visibility changes.
UINT GetCaretBlinkTime();

namespace platform {

// Installs the procedure of a window (null removes it); returns the previous one.
WNDPROC SetWindowProcedure(HWND window, WNDPROC procedure);
// Forgets every window's parent and procedure and the focus (tests start from nothing).
void ResetWindows();

}  // namespace platform
