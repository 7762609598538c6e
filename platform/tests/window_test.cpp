// Top-level windows: frame arithmetic, handles, sizes, the minimised state and the foreground.
#include <platform/window.h>

#include <gtest/gtest.h>

#include <platform/errors.h>

namespace {

struct FrameCase {
  const char* name;
  DWORD style;
  BOOL menu;
  RECT expected;  // of the client rectangle {0, 0, 640, 480}
};

// Hand-worked: caption 19 on top, then a frame of 4 (sizing), 3 (dialog) or 1 (border) all round.
const FrameCase kFrames[] = {
    {"popup", WS_POPUP, FALSE, {0, 0, 640, 480}},
    {"popup with border", WS_POPUP | WS_BORDER, FALSE, {-1, -1, 641, 481}},
    {"overlapped window", WS_OVERLAPPEDWINDOW, FALSE, {-4, -23, 644, 484}},
    {"caption and system menu", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE, {-3, -22, 643, 483}},
    {"overlapped window with menu", WS_OVERLAPPEDWINDOW, TRUE, {-4, -42, 644, 484}},
    {"visible and minimised bits", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_MINIMIZE, FALSE, {-4, -23, 644, 484}},
};

TEST(Window, AdjustWindowRectAddsTheFrameOfTheStyle) {
  for (const FrameCase& c : kFrames) {
    SCOPED_TRACE(c.name);
    RECT rect{0, 0, 640, 480};
    ASSERT_TRUE(AdjustWindowRect(&rect, c.style, c.menu));
    EXPECT_EQ(rect.left, c.expected.left);
    EXPECT_EQ(rect.top, c.expected.top);
    EXPECT_EQ(rect.right, c.expected.right);
    EXPECT_EQ(rect.bottom, c.expected.bottom);
  }
  SetLastError(0);
  EXPECT_FALSE(AdjustWindowRect(nullptr, WS_POPUP, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Window, HandlesSizesAndStyleUntilDestroyed) {
  HWND window =
      CreateWindowExW(0, u"class", u"title", WS_OVERLAPPEDWINDOW, 10, 20, 300, 200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(DWORD(GetWindowLongW(window, GWL_STYLE)), WS_OVERLAPPEDWINDOW);
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(window, &rect));
  EXPECT_EQ(rect.left, 10);
  EXPECT_EQ(rect.bottom, 220);
  ASSERT_TRUE(MoveWindow(window, 5, 6, 100, 50, TRUE));
  ASSERT_TRUE(GetWindowRect(window, &rect));
  EXPECT_EQ(rect.right - rect.left, 100);
  EXPECT_EQ(rect.top, 6);
  EXPECT_FALSE(MoveWindow(window, 0, 0, -1, 5, TRUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(DestroyWindow(window));
  // A stale handle is refused by every call, never followed.
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(IsIconic(window));
  EXPECT_FALSE(GetWindowRect(window, &rect));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetWindowLongW(window, GWL_STYLE), 0);
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(std::uintptr_t(0x1234))));
}

TEST(Window, MinimisingAndTheForeground) {
  HWND game =
      CreateWindowExW(0, nullptr, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 64, 48, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(GetForegroundWindow(), game);
  HWND other = CreateWindowExW(0, nullptr, nullptr, WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(GetForegroundWindow(), game);  // a hidden window takes nothing
  ASSERT_TRUE(SetForegroundWindow(other));
  EXPECT_EQ(GetForegroundWindow(), other);
  EXPECT_TRUE(ShowWindow(game, SW_RESTORE));
  EXPECT_EQ(GetForegroundWindow(), game);

  ShowWindow(game, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(game));
  EXPECT_NE(DWORD(GetWindowLongW(game, GWL_STYLE)) & WS_MINIMIZE, 0u);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  ShowWindow(game, SW_RESTORE);
  EXPECT_FALSE(IsIconic(game));
  EXPECT_EQ(GetForegroundWindow(), game);

  DestroyWindow(game);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_FALSE(SetForegroundWindow(game));
  DestroyWindow(other);
}

}  // namespace
