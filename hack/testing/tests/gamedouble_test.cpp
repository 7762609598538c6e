// Tests of the game double: its unpatched routines run and record as the game's would, per build and base.
#include <gtest/gtest.h>

#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>

namespace {

using namespace gamedouble;

TEST(GameDouble, Smoke) {
  for (Build build : kBuilds) {
    SCOPED_TRACE(NameOf(build));
    CGameDouble game(build);
    ASSERT_TRUE(game.IsReady());
    game.SetMainBehaviour(0x1234, 2);
    RunResult run = game.Run(Routine::Main, {1, 2, 3, 4});
    EXPECT_EQ(run.after.eax, kMainExitCode + 2);
    EXPECT_EQ(run.stackDelta, 16);
  }
}

}  // namespace
