#pragma once
// Windows in Win32 shape, in two parts.
//
// Top-level windows: a process-wide registry of windows with a
// style, an outer rectangle, a shown/minimised state and one foreground window.
// Nothing is drawn: the registry holds what the game
// and the modules ask of their window (its size, its frame, whether it is
// minimised or in front).
//
// Frame arithmetic (AdjustWindowRect) follows Win32's rule with the classic
// metrics below: a caption adds its height above the client area, a menu its
// bar, then a sizing frame, else a dialog frame, else a thin border, surrounds
// everything. WS_POPUP alone has no frame.
//
// Errors: Win32 return values; an unknown window handle fails with
// ERROR_INVALID_WINDOW_HANDLE, a null pointer argument with
// ERROR_INVALID_PARAMETER. Locks: the registry has its own lock; every call may
// come from any thread.
#include <platform/win32types.h>

struct HMENU__;
using HMENU = HMENU__*;

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

struct RECT {
  LONG left, top, right, bottom;
};

// Styles (GWL_STYLE).
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_CAPTION = WS_BORDER | WS_DLGFRAME;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

// The classic metrics of the frame arithmetic, in pixels.
constexpr LONG kWindowCaptionHeight = 19;  // SM_CYCAPTION: caption bar and its line
constexpr LONG kWindowMenuHeight = 19;     // SM_CYMENU
constexpr LONG kWindowSizingFrame = 4;     // SM_CXFRAME / SM_CYFRAME
constexpr LONG kWindowDialogFrame = 3;     // SM_CXDLGFRAME / SM_CYDLGFRAME
constexpr LONG kWindowBorder = 1;          // SM_CXBORDER / SM_CYBORDER

// A top-level window with that style and outer rectangle (x, y, width, height);
// the class name, title, parent, menu, instance and parameter are kept out of
// it. WS_VISIBLE makes it the foreground window. Null with
// ERROR_INVALID_PARAMETER for a negative size.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// Minimised (WS_MINIMIZE in its style).
BOOL IsIconic(HWND window);
// GWL_STYLE and GWL_EXSTYLE only (others: 0 with ERROR_INVALID_PARAMETER).
LONG GetWindowLongW(HWND window, int index);
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
// The outer rectangle (the restored one while minimised).
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// The foreground window, or null when none is.
HWND GetForegroundWindow();
BOOL SetForegroundWindow(HWND window);
// SW_HIDE, SW_SHOW, SW_SHOWNORMAL and SW_RESTORE show or hide and restore, the
// shown ones taking the foreground; SW_MINIMIZE and SW_SHOWMINIMIZED minimise,
// giving the foreground up. Answers whether the window was visible before.
BOOL ShowWindow(HWND window, int command);

// Focus, parents and messages, as far as the GUI needs them: keyboard focus, the parent chain, sent
// messages and the caret blink time.
//
// On this host no window system stands behind a handle: a window is any non-null HWND that code
// names. Its parent is what SetParent recorded, its procedure what SetWindowProcedure installed
// (the game double installs one for its window, tests install recorders). SendMessageW calls that
// procedure on the calling thread; a window without one answers 0 with ERROR_INVALID_WINDOW_HANDLE.
// GetFocus answers the window SetFocus named last (null at start).
// Errors: Win32 return values and SetLastError. Locking: one internal lock over the window table,
// never held while a procedure runs; every call may come from any thread.

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
