// The registry of top-level windows: styles, rectangles, minimised state and the foreground window.
#include <platform/window.h>

#include <map>
#include <mutex>

#include <platform/errors.h>

namespace {

struct Window {
  DWORD style;
  DWORD exStyle;
  RECT rect;
};

// Handles are numbers, never addresses: a stale or forged handle is looked up, not followed.
constexpr std::uintptr_t kFirstHandle = 0x10010;
constexpr std::uintptr_t kHandleStep = 4;

struct Registry {
  std::mutex lock;
  std::map<HWND, Window> windows;
  std::uintptr_t next = kFirstHandle;
  HWND foreground = nullptr;
};
Registry& Windows() {
  static Registry* registry = new Registry;
  return *registry;
}

// The window under the registry's lock, or null with ERROR_INVALID_WINDOW_HANDLE.
Window* Find(Registry& registry, HWND handle) {
  const auto found = registry.windows.find(handle);
  if (found == registry.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &found->second;
}

void Inflate(RECT* rect, LONG by) {
  rect->left -= by;
  rect->top -= by;
  rect->right += by;
  rect->bottom += by;
}

}  // namespace

HWND CreateWindowExW(DWORD exStyle, LPCWSTR, LPCWSTR, DWORD style, int x, int y, int width, int height, HWND, HMENU,
                     HINSTANCE, LPVOID) {
  if (width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  HWND handle = reinterpret_cast<HWND>(registry.next);
  registry.next += kHandleStep;
  registry.windows[handle] = Window{style, exStyle, RECT{x, y, x + width, y + height}};
  if ((style & WS_VISIBLE) != 0 && (style & WS_MINIMIZE) == 0) registry.foreground = handle;
  return handle;
}

BOOL DestroyWindow(HWND handle) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (Find(registry, handle) == nullptr) return FALSE;
  registry.windows.erase(handle);
  if (registry.foreground == handle) registry.foreground = nullptr;
  return TRUE;
}

BOOL IsWindow(HWND handle) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.windows.count(handle) != 0 ? TRUE : FALSE;
}

BOOL IsIconic(HWND handle) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  const Window* window = Find(registry, handle);
  return window != nullptr && (window->style & WS_MINIMIZE) != 0 ? TRUE : FALSE;
}

LONG GetWindowLongW(HWND handle, int index) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  const Window* window = Find(registry, handle);
  if (window == nullptr) return 0;
  switch (index) {
    case GWL_STYLE:
      return LONG(window->style);
    case GWL_EXSTYLE:
      return LONG(window->exStyle);
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((style & WS_CAPTION) == WS_CAPTION) rect->top -= kWindowCaptionHeight;
  if (menu) rect->top -= kWindowMenuHeight;
  if ((style & WS_THICKFRAME) != 0) {
    Inflate(rect, kWindowSizingFrame);
  } else if ((style & WS_DLGFRAME) != 0) {
    Inflate(rect, kWindowDialogFrame);
  } else if ((style & WS_BORDER) != 0) {
    Inflate(rect, kWindowBorder);
  }
  return TRUE;
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) { return AdjustWindowRectEx(rect, style, menu, 0); }

BOOL GetWindowRect(HWND handle, RECT* rect) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  const Window* window = Find(registry, handle);
  if (window == nullptr) return FALSE;
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *rect = window->rect;
  return TRUE;
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  Window* window = Find(registry, handle);
  if (window == nullptr) return FALSE;
  if (width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  window->rect = RECT{x, y, x + width, y + height};
  return TRUE;
}

HWND GetForegroundWindow() {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  return registry.foreground;
}

BOOL SetForegroundWindow(HWND handle) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (Find(registry, handle) == nullptr) return FALSE;
  registry.foreground = handle;
  return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
  Registry& registry = Windows();
  std::lock_guard<std::mutex> guard(registry.lock);
  Window* window = Find(registry, handle);
  if (window == nullptr) return FALSE;
  const BOOL wasVisible = (window->style & WS_VISIBLE) != 0 ? TRUE : FALSE;
  switch (command) {
    case SW_HIDE:
      window->style &= ~WS_VISIBLE;
      if (registry.foreground == handle) registry.foreground = nullptr;
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      window->style |= WS_MINIMIZE | WS_VISIBLE;
      if (registry.foreground == handle) registry.foreground = nullptr;
      break;
    case SW_SHOW:
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      window->style = (window->style & ~WS_MINIMIZE) | WS_VISIBLE;
      registry.foreground = handle;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      break;
  }
  return wasVisible;
}
