#pragma once
// Desktop services in Win32 shape: the clipboard (with its movable global memory), key state and the
// screen's device context.
//
// The clipboard is SDL's once SDL's video subsystem is up; before that it is held inside the process.
// Key state comes from SDL's modifier bits while its video is up, else every key reads up.
// The screen reports 96 DPI when nothing better is known.
#include <platform/win32types.h>

using SHORT = std::int16_t;
using HGLOBAL = void*;
struct HDC__;
using HDC = HDC__*;

// Clipboard formats.
constexpr UINT CF_TEXT = 1;
constexpr UINT CF_UNICODETEXT = 13;

// GlobalAlloc flags.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Virtual keys that GetKeyState answers.
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_LWIN = 0x5B;
constexpr int VK_RWIN = 0x5C;
constexpr int VK_NUMLOCK = 0x90;
constexpr int VK_SCROLL = 0x91;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;

// GetDeviceCaps indices.
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID WINAPI GlobalLock(HGLOBAL memory);
BOOL WINAPI GlobalUnlock(HGLOBAL memory);
SIZE_T WINAPI GlobalSize(HGLOBAL memory);
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);  // null on success

BOOL WINAPI OpenClipboard(HWND owner);
BOOL WINAPI CloseClipboard();
BOOL WINAPI EmptyClipboard();
// Takes ownership of the memory on success (CF_UNICODETEXT only).
HANDLE WINAPI SetClipboardData(UINT format, HANDLE memory);
// The clipboard keeps ownership of what it returns; valid until the clipboard changes or closes.
HANDLE WINAPI GetClipboardData(UINT format);
BOOL WINAPI IsClipboardFormatAvailable(UINT format);

// High bit (0x8000): the key is down; low bit: the key's toggle is on.
SHORT WINAPI GetKeyState(int virtualKey);

HDC WINAPI GetDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);
int WINAPI GetDeviceCaps(HDC dc, int index);

// The cursor's display counter (0 at start; the cursor shows while it is not negative): TRUE adds one, FALSE
// takes one off; returns the new count.
int WINAPI ShowCursor(BOOL show);
