// The BugFixes module: two game checks jumped over, the window kept at its size, no input while in the background.
#include <features/FeatureModules.h>
#include <hack/GameRoutines.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
#include <platform/window.h>

#include "GamePlace.h"

namespace {

constexpr GamePlace kSkipTarget{0x48D1FA, 0x48F56F, 0x48F3AF, 0x4D2C00};
constexpr GamePlace kSkipFirst{0x48D168, 0x48F4CB, 0x48F30B, 0x4D2B4B};
constexpr std::uint32_t kSkipFirstSize = 6;
constexpr GamePlace kSkipSecond{0x48D1B1, 0x48F514, 0x48F354, 0x4D2B9E};
constexpr std::uint32_t kSkipSecondSize = 2;

std::uint32_t Init(tHackModule* module) {
  new CHackJumpHack(module, kSkipFirst.At(kSkipFirstSize), kSkipTarget.At(), kSkipFirstSize);
  new CHackJumpHack(module, kSkipSecond.At(kSkipSecondSize), kSkipTarget.At(), kSkipSecondSize);
  return MODULEREPLY_HANDLED;
}

// The game's window, when shown, gets the outer size whose client area is the game's screen.
void CorrectWindowSize() {
  const HWND window = Game::GetWindow();
  if (!IsWindow(window) || IsIconic(window)) return;
  RECT wanted{0, 0, LONG(Game::GetScreenWidth()), LONG(Game::GetScreenHeight())};
  if (!AdjustWindowRect(&wanted, DWORD(GetWindowLongW(window, GWL_STYLE)), FALSE)) return;
  RECT actual{};
  if (!GetWindowRect(window, &actual)) return;
  const LONG wantedWidth = wanted.right - wanted.left, wantedHeight = wanted.bottom - wanted.top;
  const LONG actualWidth = actual.right - actual.left, actualHeight = actual.bottom - actual.top;
  if (wantedWidth == actualWidth && wantedHeight == actualHeight) return;
  LogConsole("BUG FIXES: Window size is incorrect (%dx%d); correcting (to %dx%d)\n", int(actualWidth),
             int(actualHeight), int(wantedWidth), int(wantedHeight));
  MoveWindow(window, actual.left, actual.top, wantedWidth, wantedHeight, TRUE);
}

}  // namespace

std::uint32_t BugFixesModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data)->module);
    case MODULEEVENT_PROCESS:
      CorrectWindowSize();
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_GETKEYSTATES:
    case MODULEEVENT_GETJOYPADSTATES:
      // Input belongs to the window in front: the hook empties the tables otherwise.
      return GetForegroundWindow() == Game::GetWindow() ? MODULEREPLY_HANDLED : MODULEREPLY_SKIP;
    default:
      return 0;
  }
}
