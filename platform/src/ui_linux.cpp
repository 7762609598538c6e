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

// A movable global block: the handle points at this header, the bytes follow it.
struct GlobalBlock {
  std::uint32_t magic;
  std::uint32_t locks;
  SIZE_T size;
  alignas(8) unsigned char bytes[1];
};
constexpr std::uint32_t kGlobalMagic = 0x474C4F42u;  // "GLOB"

GlobalBlock* BlockOf(HGLOBAL memory) {
  auto* block = static_cast<GlobalBlock*>(memory);
  if (block == nullptr || block->magic != kGlobalMagic) return nullptr;
  return block;
}

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

// The text of a CF_UNICODETEXT block: up to its terminator or its end.
std::u16string TextOfGlobal(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr) return {};
  const auto* units = reinterpret_cast<const char16_t*>(block->bytes);
  const SIZE_T count = block->size / sizeof(char16_t);
  SIZE_T n = 0;
  while (n < count && units[n] != u'\0') ++n;
  return std::u16string(units, n);
}

}  // namespace

// A non-null stand-in for the one screen device context.
struct HDC__ {
  int unused;
};

namespace {
HDC__ g_ScreenDC{};
}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  const SIZE_T header = offsetof(GlobalBlock, bytes);
  if (bytes > SIZE_MAX - header - 8) return nullptr;
  void* raw = std::malloc(header + (bytes == 0 ? 1 : bytes));
  if (raw == nullptr) return nullptr;
  auto* block = static_cast<GlobalBlock*>(raw);
  block->magic = kGlobalMagic;
  block->locks = 0;
  block->size = bytes;
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes, 0, bytes);
  return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr) return nullptr;
  ++block->locks;
  return block->bytes;
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks != 0 ? TRUE : FALSE;
}

SIZE_T WINAPI GlobalSize(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  return block == nullptr ? 0 : block->size;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  if (memory == nullptr) return nullptr;
  GlobalBlock* block = BlockOf(memory);
  if (block == nullptr) return memory;
  block->magic = 0;
  std::free(block);
  return nullptr;
}

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
  if (!OpenedByThisThread(c) || format != CF_UNICODETEXT || BlockOf(memory) == nullptr) return nullptr;
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
    case VK_SHIFT: return down(KMOD_SHIFT);
    case VK_LSHIFT: return down(KMOD_LSHIFT);
    case VK_RSHIFT: return down(KMOD_RSHIFT);
    case VK_CONTROL: return down(KMOD_CTRL);
    case VK_LCONTROL: return down(KMOD_LCTRL);
    case VK_RCONTROL: return down(KMOD_RCTRL);
    case VK_MENU: return down(KMOD_ALT);
    case VK_LMENU: return down(KMOD_LALT);
    case VK_RMENU: return down(KMOD_RALT);
    case VK_LWIN: return down(KMOD_LGUI);
    case VK_RWIN: return down(KMOD_RGUI);
    case VK_CAPITAL: return toggled(KMOD_CAPS);
    case VK_NUMLOCK: return toggled(KMOD_NUM);
    case VK_SCROLL: return toggled(KMOD_SCROLL);
    default: return 0;
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
