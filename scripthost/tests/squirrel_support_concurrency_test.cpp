// Key messages queued from the window procedure's thread while the game's main thread runs frames: every one
// arrives, in order, and each frame's keys come before its OnProcess. Runs under DRD.
#include "squirrel_support_fixture.h"

#include <atomic>
#include <thread>

#include <scripthost/TaskQueue.h>

namespace sstest {
namespace {

constexpr std::uint32_t kKeys = 10000;
constexpr std::uint32_t kKeyDown = 0x100, kKeyUp = 0x101;

TEST_P(SquirrelSupportTest, TenThousandKeysFromAnotherThreadArriveInOrderBeforeOnProcess) {
  AddRecordingHandlers();
  // The queue and the platform's event lock (a function-local static) are made on this thread first: the race
  // detector does not follow the fast path of a static's guard.
  GetKeyEventQueue();
  CTaskQueue primer;
  primer.Push(0, 0);
  WaitForSingleObject(primer.GetEvent(), 0);
  std::atomic<bool> finished{false};
  std::thread window([&finished] {
    for (std::uint32_t i = 0; i < kKeys; ++i) {
      WindowMessageEventData message{{sizeof(WindowMessageEventData)}, kWindow, 0, i % 2 ? kKeyUp : kKeyDown, i, 0};
      SquirrelSupportModuleHandler(MODULEEVENT_WINDOWMESSAGE, &message);
    }
    finished = true;
  });
  // Frames run while keys arrive; the frame after the last key drains what is left.
  bool last = false;
  do {
    last = finished;
    game->Run(gamedouble::Routine::Frame);
  } while (!last);
  window.join();

  std::uint32_t next = 0;
  bool processSeen = false;
  for (const std::string& line : Logged()) {
    if (line == "OnProcess") processSeen = true;
    if (line == "OnRender2D") processSeen = false;
    if (line.rfind("OnKey", 0) != 0) continue;
    ASSERT_FALSE(processSeen) << "a key after OnProcess in one frame";
    ASSERT_EQ(line, (next % 2 ? "OnKeyUp " : "OnKeyDown ") + std::to_string(next));
    ++next;
  }
  EXPECT_EQ(next, kKeys);
  EXPECT_EQ(GetKeyEventQueue().GetCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(OneBuild, SquirrelSupportTest, ::testing::Values(gamedouble::Build::IVReleasePatched));

}  // namespace
}  // namespace sstest
