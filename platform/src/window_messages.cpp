// The window table behind GetFocus, SetParent, GetAncestor and SendMessageW.
#include <platform/window.h>

#include <platform/errors.h>

#include <mutex>
#include <unordered_map>

namespace {

struct WindowRecord {
  HWND parent = nullptr;
  WNDPROC procedure = nullptr;
};

struct WindowTable {
  std::mutex lock;
  std::unordered_map<HWND, WindowRecord> windows;
  HWND focus = nullptr;
};

WindowTable& Table() {
  static WindowTable table;
  return table;
}

HWND ParentLocked(WindowTable& table, HWND window) {
  const auto found = table.windows.find(window);
  return found == table.windows.end() ? nullptr : found->second.parent;
}

}  // namespace

HWND GetFocus() {
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  return table.focus;
}

HWND SetFocus(HWND window) {
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  HWND previous = table.focus;
  table.focus = window;
  return previous;
}

HWND SetParent(HWND window, HWND parent) {
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  // The chain above the new parent must not pass through the window.
  for (HWND above = parent; above != nullptr; above = ParentLocked(table, above)) {
    if (above == window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
  }
  WindowRecord& record = table.windows[window];
  HWND previous = record.parent;
  record.parent = parent;
  return previous;
}

HWND GetParent(HWND window) {
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  return ParentLocked(table, window);
}

HWND GetAncestor(HWND window, UINT flags) {
  if (window == nullptr) return nullptr;
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  switch (flags) {
    case GA_PARENT:
      return ParentLocked(table, window);
    case GA_ROOT:
    case GA_ROOTOWNER: {
      HWND root = window;
      for (HWND above = ParentLocked(table, root); above != nullptr; above = ParentLocked(table, root)) root = above;
      return root;
    }
    default:
      return nullptr;
  }
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = nullptr;
  {
    WindowTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    const auto found = table.windows.find(window);
    if (found != table.windows.end()) procedure = found->second.procedure;
  }
  if (procedure == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  // The lock is not held: the procedure may send messages or change the table itself.
  return procedure(window, message, wParam, lParam);
}

UINT GetCaretBlinkTime() { return kDefaultCaretBlinkMilliseconds; }

namespace platform {

WNDPROC SetWindowProcedure(HWND window, WNDPROC procedure) {
  if (window == nullptr) return nullptr;
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  WindowRecord& record = table.windows[window];
  WNDPROC previous = record.procedure;
  record.procedure = procedure;
  return previous;
}

void ResetWindows() {
  WindowTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.windows.clear();
  table.focus = nullptr;
}

}  // namespace platform
