#pragma once
// Top-level windows in Win32 shape: a process-wide registry of windows with a
// style, an outer rectangle, a shown/minimised state and one foreground window.
// Nothing is drawn and no messages are sent: the registry holds what the game
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
