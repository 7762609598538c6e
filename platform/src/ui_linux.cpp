// Clipboard, key state and screen metrics over SDL (when its video is up) or process-local state.
#include <platform/ui.h>

#include <platform/text.h>

#include <SDL.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {

bool VideoUp() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

struct Clipboard {
  std::mutex lock;
  bool open = false;
  std::thread::id owner;
  HGLOBAL held = nullptr;     // text kept inside the process while SDL's video is down
  HGLOBAL fetched = nullptr;  // last text handed out from SDL's clipboard, freed on the next change
};

Clipboard& TheClipboard() {
  static Clipboard clipboard;
  return clipboard;
}

bool OpenedByThisThread(Clipboard& c) { return c.open && c.owner == std::this_thread::get_id(); }

void DropFetched(Clipboard& c) {
  if (c.fetched != nullptr) {
    GlobalFree(c.fetched);
    c.fetched = nullptr;
  }
}

HGLOBAL CopyToGlobal(const std::u16string& text) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(char16_t));
  if (memory == nullptr) return nullptr;
  auto* out = static_cast<char16_t*>(GlobalLock(memory));
  std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
  out[text.size()] = u'\0';
  GlobalUnlock(memory);
  return memory;
}

bool IsGlobalBlock(HGLOBAL memory) {
  if (GlobalLock(memory) == nullptr) return false;
  GlobalUnlock(memory);
  return true;
}

// The text of a CF_UNICODETEXT block: up to its terminator or its end.
std::u16string TextOfGlobal(HGLOBAL memory) {
  const auto* units = static_cast<const char16_t*>(GlobalLock(memory));
  if (units == nullptr) return {};
  const SIZE_T count = GlobalSize(memory) / sizeof(char16_t);
  SIZE_T n = 0;
  while (n < count && units[n] != u'\0') ++n;
  std::u16string text(units, n);
  GlobalUnlock(memory);
  return text;
}

}  // namespace

// A non-null stand-in for the one screen device context.
struct HDC__ {
  int unused;
};

namespace {
HDC__ g_ScreenDC{};
}  // namespace

BOOL WINAPI OpenClipboard(HWND) {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (c.open && c.owner != std::this_thread::get_id()) return FALSE;
  c.open = true;
  c.owner = std::this_thread::get_id();
  return TRUE;
}

BOOL WINAPI CloseClipboard() {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (!OpenedByThisThread(c)) return FALSE;
  DropFetched(c);
  c.open = false;
  c.owner = std::thread::id();
  return TRUE;
}

BOOL WINAPI EmptyClipboard() {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (!OpenedByThisThread(c)) return FALSE;
  DropFetched(c);
  if (c.held != nullptr) {
    GlobalFree(c.held);
    c.held = nullptr;
  }
  if (VideoUp()) SDL_SetClipboardText("");
  return TRUE;
}

HANDLE WINAPI SetClipboardData(UINT format, HANDLE memory) {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (!OpenedByThisThread(c) || format != CF_UNICODETEXT || !IsGlobalBlock(memory)) return nullptr;
  DropFetched(c);
  if (VideoUp()) {
    const std::string utf8 = text::Utf16ToUtf8(TextOfGlobal(memory));
    if (SDL_SetClipboardText(utf8.c_str()) != 0) return nullptr;
    // SDL keeps its own copy; the block was handed to the clipboard, so it goes now.
    GlobalFree(memory);
    return memory;
  }
  if (c.held != nullptr && c.held != memory) GlobalFree(c.held);
  c.held = memory;
  return memory;
}

HANDLE WINAPI GetClipboardData(UINT format) {
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (!OpenedByThisThread(c) || format != CF_UNICODETEXT) return nullptr;
  if (!VideoUp()) return c.held;
  if (SDL_HasClipboardText() != SDL_TRUE) return nullptr;
  char* utf8 = SDL_GetClipboardText();
  if (utf8 == nullptr) return nullptr;
  std::u16string textOut = text::Utf8ToUtf16(utf8);
  SDL_free(utf8);
  DropFetched(c);
  c.fetched = CopyToGlobal(textOut);
  return c.fetched;
}

BOOL WINAPI IsClipboardFormatAvailable(UINT format) {
  if (format != CF_UNICODETEXT) return FALSE;
  Clipboard& c = TheClipboard();
  std::lock_guard<std::mutex> guard(c.lock);
  if (VideoUp()) return SDL_HasClipboardText() == SDL_TRUE ? TRUE : FALSE;
  return c.held != nullptr ? TRUE : FALSE;
}

SHORT WINAPI GetKeyState(int virtualKey) {
  if (!VideoUp()) return 0;
  const unsigned mods = static_cast<unsigned>(SDL_GetModState());
  constexpr SHORT kDown = static_cast<SHORT>(0x8000);
  auto down = [&](unsigned bits) -> SHORT { return (mods & bits) != 0 ? kDown : SHORT(0); };
  auto toggled = [&](unsigned bits) -> SHORT { return (mods & bits) != 0 ? SHORT(1) : SHORT(0); };
  switch (virtualKey) {
    case VK_SHIFT:
      return down(KMOD_SHIFT);
    case VK_LSHIFT:
      return down(KMOD_LSHIFT);
    case VK_RSHIFT:
      return down(KMOD_RSHIFT);
    case VK_CONTROL:
      return down(KMOD_CTRL);
    case VK_LCONTROL:
      return down(KMOD_LCTRL);
    case VK_RCONTROL:
      return down(KMOD_RCTRL);
    case VK_MENU:
      return down(KMOD_ALT);
    case VK_LMENU:
      return down(KMOD_LALT);
    case VK_RMENU:
      return down(KMOD_RALT);
    case VK_LWIN:
      return down(KMOD_LGUI);
    case VK_RWIN:
      return down(KMOD_RGUI);
    case VK_CAPITAL:
      return toggled(KMOD_CAPS);
    case VK_NUMLOCK:
      return toggled(KMOD_NUM);
    case VK_SCROLL:
      return toggled(KMOD_SCROLL);
    default:
      return 0;
  }
}

HDC WINAPI GetDC(HWND) { return &g_ScreenDC; }

int WINAPI ReleaseDC(HWND, HDC dc) { return dc == &g_ScreenDC ? 1 : 0; }

int WINAPI GetDeviceCaps(HDC dc, int index) {
  if (dc != &g_ScreenDC) return 0;
  if (index != LOGPIXELSX && index != LOGPIXELSY) return 0;
  int dpi = 96;
  if (VideoUp()) {
    float horizontal = 0.0f;
    float vertical = 0.0f;
    if (SDL_GetDisplayDPI(0, nullptr, &horizontal, &vertical) == 0) {
      const float value = index == LOGPIXELSX ? horizontal : vertical;
      if (std::isfinite(value) && value >= 24.0f && value <= 1200.0f) dpi = static_cast<int>(std::lround(value));
    }
  }
  return dpi;
}

namespace {
std::atomic<int> g_cursorCount{0};
}  // namespace

int WINAPI ShowCursor(BOOL show) { return show ? ++g_cursorCount : --g_cursorCount; }
