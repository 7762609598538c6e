// Tests of the game double: its unpatched routines run and record as the game's would, per build and base.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>

namespace {

using namespace gamedouble;

struct Case {
  Build build;
  std::uint32_t base;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(NameOf(info.param.build)) + (info.param.base == gameimage::kPreferredBase ? "" : "Relocated");
}

class GameDoubleRoutines : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    game = std::make_unique<CGameDouble>(GetParam().build, GetParam().base);
    ASSERT_TRUE(game->IsReady());
  }
  bool V() const { return GetParam().build == Build::VReleasePatched; }
  // A few places the routines are written around, to check what they touch.
  std::uint32_t WindowGlobal() const { return Place{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C}.In(GetParam().build); }
  std::unique_ptr<CGameDouble> game;
};

TEST_P(GameDoubleRoutines, MainLeavesByEachReturnAndRegistersTheWindow) {
  for (std::uint32_t exit = 0; exit < 5; ++exit) {
    SCOPED_TRACE(exit);
    game->SetMainBehaviour(0x10000 + exit, exit);
    const RunResult run = game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1});
    EXPECT_EQ((std::tuple{run.after.eax, run.stackDelta, run.after.ebx, run.after.ebp,
                          game->Read<std::uint32_t>(WindowGlobal())}),
              (std::tuple{kMainExitCode + exit, 16, run.before.ebx, run.before.ebp, 0x10000 + exit}));
  }
  ASSERT_EQ(game->RegisteredWindowProcedure(), game->Address(Routine::WindowProcedure));
  game->SetResult(Routine::WindowProcedure, 77);
  EXPECT_EQ(game->DispatchMessage(5, 6, 7, 8), 77u);
  const auto calls = game->CallsOf(Routine::WindowProcedure);
  EXPECT_TRUE(calls.size() == 1u && calls[0].arguments == (std::vector<std::uint32_t>{5, 6, 7, 8}));
}

TEST_P(GameDoubleRoutines, FrameTailCallsItsRoutinesInOrder) {
  const RunResult run = game->Run(Routine::Frame);
  EXPECT_EQ((std::tuple{run.stackDelta, run.after.ebx, run.after.esi, run.after.edi}),
            (std::tuple{0, run.before.ebx, run.before.esi, run.before.edi}));
  const auto& calls = game->Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ((std::vector{calls[0].routine, calls[1].routine, calls[2].routine, calls[3].routine}),
            (std::vector{Routine::FrameRoutine1, Routine::FrameRoutine2, Routine::FrameRoutine3,
                         Routine::FrameRoutine4}));
  const Place value{0x660B50, 0x660C88, 0x660CC8, 0xBA4384}, address{0x660B60, 0x660C94, 0x660CD4, 0xBA4390};
  EXPECT_EQ(calls[1].arguments, (std::vector<std::uint32_t>{game->Read<std::uint32_t>(value), game->At(address)}));
  EXPECT_EQ(calls[3].arguments[0], game->At(Place{0x5353E8, 0x53551C, 0x53555C, 0x878654}));
}

TEST_P(GameDoubleRoutines, InputRoutinesReadTheDevices) {
  std::uint8_t keys[256];
  for (int i = 0; i < 256; ++i) keys[i] = std::uint8_t(i * 7);
  game->SetKeyboard(keys);
  std::uint8_t table[256] = {};
  game->Run(Routine::GetKeyStates, {std::uint32_t(std::uintptr_t(table))});
  EXPECT_EQ(0, std::memcmp(table, keys, sizeof keys));

  std::uint32_t a = 9, b = 9, pa = std::uint32_t(std::uintptr_t(&a)), pb = std::uint32_t(std::uintptr_t(&b));
  game->SetJoypad(true, 0x11, 0x22, 0x33);
  EXPECT_EQ((std::tuple{game->Call(Routine::GetJoypadStates, {pa, pb}), a, b}), (std::tuple{0x33u, 0x11u, 0x22u}));
  game->SetJoypad(false, 0x11, 0x22, 0x33);
  EXPECT_EQ((std::tuple{game->Call(Routine::GetJoypadStates, {pa, pb}), a, b}), (std::tuple{0u, 0u, 0u}));
}

TEST_P(GameDoubleRoutines, FlagQueries) {
  const Place flagA{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C}, pointerB{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC};
  for (std::uint32_t value : {0u, 5u}) {
    EXPECT_EQ((game->Write<std::uint32_t>(flagA, value), game->Call(Routine::QueryFlagA)), value != 0 ? 1u : 0u);
  }
  auto* word = reinterpret_cast<std::uint32_t*>(std::uintptr_t(game->Read<std::uint32_t>(pointerB)));
  for (std::uint32_t value : {0u, 4u, 0xFFFFFFFBu}) {
    *word = value;
    const RunResult run = game->Run(Routine::QueryFlagB);
    EXPECT_EQ((std::tuple{run.after.eax, run.stackDelta}), (std::tuple{(value & 4) ? 0u : 1u, 0})) << value;
  }
}

TEST_P(GameDoubleRoutines, RoutinesEndingAtAHookPlaceKeepStackAndRegisters) {
  const Routine routines[] = {Routine::DefineAllObjects, Routine::SetUpItemLinkedLists, Routine::ScriptLoaded,
                              Routine::LoadItems, Routine::LoadItemsSecond};
  for (Routine routine : routines) {
    if (routine == Routine::LoadItemsSecond && GetParam().build == Build::IVEditor) {
      EXPECT_EQ(game->Address(routine), 0u);
      continue;
    }
    SCOPED_TRACE(NameOf(routine));
    const RunResult run = game->Run(routine);
    EXPECT_EQ((std::tuple{run.stackDelta, run.after.esi, run.after.ebx}),
              (std::tuple{0, run.before.esi, run.before.ebx}));
  }
  EXPECT_EQ(game->Call(Routine::SetUpItemLinkedLists), 0u);
  const RunResult replaced = game->Run(Routine::ReplacedCall, {1, 2, 3, 4});
  EXPECT_EQ((std::tuple{replaced.after.eax, replaced.stackDelta}), (std::tuple{0x12345601u, 0}));
}

TEST_P(GameDoubleRoutines, ItemRules) {
  // The game's fall damage: e = speed − 140 (16-bit); health 1000.
  struct Fall {
    std::int16_t speed;
    std::int16_t health;
    std::uint32_t result;
  };
  const Fall falls[] = {{140, 1000, 0}, {141, 995, 0}, {154, 0, 1}, {155, -1, 1}, {-32700, -1, 1}, {100, 1000, 0}};
  std::uint8_t* item = game->Item(3);
  const auto itemAddress = std::uint32_t(std::uintptr_t(item));
  for (const Fall& fall : falls) {
    SCOPED_TRACE(fall.speed);
    std::int16_t words[2] = {fall.speed, 1000};
    std::memcpy(item + 32, words, sizeof words);
    EXPECT_EQ(game->Call(Routine::FallDamage, {itemAddress}), fall.result);
    std::memcpy(words, item + 32, sizeof words);
    EXPECT_EQ(words[1], fall.health);
  }
  // RollingBallDeath kills the player's item (record 0) between its two resume places.
  EXPECT_EQ(game->Call(Routine::RollingBallDeath), 1u);
  game->Run(Routine::DivingRollLandDeath, {itemAddress});
  EXPECT_EQ((std::tuple{game->Item(0)[34], item[16]}), (std::tuple{0xFF, 8}));
}

TEST_P(GameDoubleRoutines, FlipeffectsAndSamplesReachTheirStubs) {
  const std::uint32_t limit = FlipeffectLimit(GetParam().build);
  for (std::uint32_t number : {0u, limit - 1, limit, 200u}) game->Run(Routine::FlipeffectCaller, {number});
  const auto& calls = game->Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ((std::tuple{calls[1].routine, calls[1].index, calls[1].arguments, calls[2].routine, calls[3].index}),
            (std::tuple{Routine::Flipeffect, limit - 1, std::vector<std::uint32_t>{0}, Routine::FlipeffectOutOfRange,
                        200u}));
  game->ClearCalls();
  game->SetResult(Routine::SampleLoader, 1);
  EXPECT_EQ(game->Run(Routine::LoadSampleCaller, {10, 20, 30, 40}).after.eax, 1u);
  ASSERT_EQ(game->Calls().size(), 1u);
  EXPECT_EQ(game->Calls()[0].arguments, (std::vector<std::uint32_t>{10, 20, 30, 40}));
}

TEST_P(GameDoubleRoutines, StubsRecordArgumentsAndAnswer) {
  const Routine stubs[] = {Routine::AllocateItem, Routine::SetUpItem,   Routine::MoveItemToRoom, Routine::RenderString,
                           Routine::PlaySoundEffect, Routine::RoutineDV, Routine::ProgressBar, Routine::ProgressBarV};
  for (Routine stub : stubs) {
    SCOPED_TRACE(NameOf(stub));
    const bool present =
        stub == Routine::RoutineDV || stub == Routine::ProgressBarV ? V() : stub != Routine::ProgressBar || !V();
    ASSERT_EQ(game->Address(stub) != 0, present);
    if (!present) continue;
    game->ClearCalls();
    game->OnCall(stub, [](const StubCall& call) { return 0x500 + std::uint32_t(call.arguments.size()); });
    const RunResult run = game->Run(stub, {1, 2, 3, 4, 5, 6, 7}, RunOptions{kDefaultRegisters, 0});
    ASSERT_EQ(game->Calls().size(), 1u);
    const StubCall& call = game->Calls()[0];
    EXPECT_EQ(run.after.eax, 0x500 + call.arguments.size());
    EXPECT_EQ(std::vector<std::uint32_t>(run.arguments.begin(), run.arguments.begin() + call.arguments.size()),
              call.arguments);
    EXPECT_EQ((std::tuple{call.ecx, run.after.ebx, run.after.esi, run.after.edi, run.after.ebp}),
              (std::tuple{kDefaultRegisters.ecx, run.before.ebx, run.before.esi, run.before.edi, run.before.ebp}));
  }
}

TEST_P(GameDoubleRoutines, AStubsHandlerMayRunTheGameAgain) {
  game->Write<std::uint32_t>(Place{0x4BF5C0, 0x4BF6F0, 0x4BF730, 0x51D01C}, 1);
  std::uint32_t depth = 0;
  game->OnCall(Routine::RoutineC, [&](const StubCall&) {
    return ++depth < 3 ? game->Call(Routine::RoutineC) + game->Call(Routine::QueryFlagA) : 0u;
  });
  const RunResult run = game->Run(Routine::RoutineC);
  EXPECT_EQ((std::tuple{run.after.eax, run.after.esi, game->CallsOf(Routine::RoutineC).size()}),
            (std::tuple{2u, run.before.esi, 3u}));
}

TEST_P(GameDoubleRoutines, BuildIsDetectedAndPlacesTranslate) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DetectGameVersion(), GameVersionOf(GetParam().build));
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(SelectGameBuild());
  EXPECT_EQ((std::tuple{TranslateGameAddress(0, 0x48C720, 0x48E9C0, 0x48E830, 0x4D1C00), game->At(chosen::kRoutineC)}),
            (std::tuple{game->Address(Routine::Main), game->Address(Routine::RoutineC)}));
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, GameDoubleRoutines,
                         ::testing::ValuesIn(std::vector<Case>{
                             {Build::IVEditor, gameimage::kPreferredBase},
                             {Build::IVReleasePatched, gameimage::kPreferredBase},
                             {Build::IVDemoCorvel, gameimage::kPreferredBase},
                             {Build::VReleasePatched, gameimage::kPreferredBase},
                             {Build::IVEditor, gameimage::kRelocatedBase},
                             {Build::VReleasePatched, gameimage::kRelocatedBase}}),
                         CaseName);

}  // namespace
