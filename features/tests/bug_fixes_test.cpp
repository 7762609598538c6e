// BugFixes: the window kept at the framed screen size, and no input while the game's window is in the background.
#include <platform/window.h>

#include "feature_fixture.h"

namespace {

using namespace featuretest;

constexpr gamedouble::Place kWindowGlobal{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C};

class BugFixesTest : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    window = CreateWindowExW(0, u"game", u"game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 40, 640, 480, nullptr,
                             nullptr, nullptr, nullptr);
    game->Write<std::uint32_t>(kWindowGlobal, Address(window));
    ASSERT_EQ(Register(u"BugFixes"), 1u);
  }
  void TearDown() override {
    DestroyWindow(window);
    FeatureTest::TearDown();
  }
  std::string Process() {
    return Console([] { EXPECT_EQ(RaiseModuleEvent(MODULEEVENT_PROCESS, nullptr), MODULEREPLY_HANDLED); });
  }
  std::vector<LONG> Rect() {
    RECT rect{};
    GetWindowRect(window, &rect);
    return {rect.left, rect.top, rect.right, rect.bottom};
  }
  HWND window = nullptr;
};

TEST_P(BugFixesTest, TheWindowGetsTheFramedScreenSize) {
  // The overlapped frame: 4 on every side and a caption of 19 (640 + 8, 480 + 19 + 8).
  EXPECT_EQ(Process(), "BUG FIXES: Window size is incorrect (640x480); correcting (to 648x507)\n");
  EXPECT_EQ(Rect(), (std::vector<LONG>{30, 40, 30 + 648, 40 + 507}));
  EXPECT_EQ(Process(), "");
  // Minimised, or gone: never resized.
  MoveWindow(window, 0, 0, 100, 100, TRUE);
  ShowWindow(window, SW_MINIMIZE);
  EXPECT_EQ(Process(), "");
  EXPECT_EQ(Rect()[2], 100);
  ShowWindow(window, SW_RESTORE);
  game->Write<std::uint32_t>(kWindowGlobal, 0);
  EXPECT_EQ(Process(), "");
}

TEST_P(BugFixesTest, InTheBackgroundTheGameReadsNoInput) {
  std::uint8_t keys[256];
  for (std::uint32_t i = 0; i < std::size(keys); ++i) keys[i] = std::uint8_t(i | 1);
  game->SetKeyboard(keys);
  game->SetJoypad(true, 0x11, 0x22, 0x33);
  HWND other =
      CreateWindowExW(0, nullptr, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
  for (bool front : {true, false, true}) {
    SCOPED_TRACE(front ? "in front" : "behind");
    SetForegroundWindow(front ? window : other);
    std::uint8_t table[256];
    std::memset(table, 0xCC, sizeof table);
    game->Run(Routine::GetKeyStates, {Address(table)});
    for (std::uint32_t i = 0; i < std::size(table); ++i) ASSERT_EQ(table[i], front ? keys[i] : 0) << i;
    // Game V's joypad routine is replaced whole and raises no event.
    if (V()) continue;
    std::uint32_t pads[2] = {0xCC, 0xCC};
    const std::uint32_t result = game->Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])});
    const std::vector<std::uint32_t> read = {pads[0], pads[1], result}, expected = {0x11, 0x22, 0x33};
    EXPECT_EQ(read, front ? expected : std::vector<std::uint32_t>(3, 0));
  }
  DestroyWindow(other);
}

INSTANTIATE_TEST_SUITE_P(Builds, BugFixesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
