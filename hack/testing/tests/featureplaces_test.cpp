// Tests of the game double's code at the feature modules' places: each routine runs unpatched with hand-worked
// results on every build, and the bytes the modules write there do what their descriptions say.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <tuple>

#include <hack/testing/GameDouble.h>

namespace {

using namespace gamedouble;

std::uint32_t Address(const void* pointer) { return std::uint32_t(std::uintptr_t(pointer)); }

class FeaturePlaces : public ::testing::TestWithParam<Build> {
 protected:
  void SetUp() override {
    game = std::make_unique<CGameDouble>(GetParam(), gameimage::kRelocatedBase);
    ASSERT_TRUE(game->IsReady());
  }
  bool Is(Build build) const { return GetParam() == build; }
  // The one recorded call of a stub, or a failure.
  StubCall Only(Routine routine) {
    const auto calls = game->CallsOf(routine);
    EXPECT_EQ(calls.size(), 1u) << NameOf(routine);
    return calls.empty() ? StubCall{} : calls[0];
  }
  std::unique_ptr<CGameDouble> game;
};

TEST_P(FeaturePlaces, FileRoutinesOpenAndCloseThroughTheRuntime) {
  const char path[] = "data\\title.wad";
  const Routine opens[] = {Routine::OpenGameData, Routine::OpenSavedGame, Routine::CreateGameFile};
  const char* const modes[] = {"rb", "rb", "wb"};
  for (std::size_t i = 0; i < std::size(opens); ++i) {
    SCOPED_TRACE(NameOf(opens[i]));
    game->ClearCalls();
    game->SetResult(Routine::FileOpen, 0x5100 + std::uint32_t(i));
    const RunResult run = game->Run(opens[i], {Address(path)});
    EXPECT_EQ(run.after.eax, 0x5100 + i);
    if (opens[i] == Routine::OpenGameData || (opens[i] == Routine::OpenSavedGame && !Is(Build::VReleasePatched))) {
      EXPECT_EQ(run.after.edx, 0x5100 + i);  // the stream is in ESI too
    }
    const StubCall open = Only(Routine::FileOpen);
    ASSERT_EQ(open.arguments.size(), 2u);
    const char* mode = reinterpret_cast<const char*>(std::uintptr_t(open.arguments[1]));
    EXPECT_EQ((std::tuple{run.stackDelta, open.arguments[0], std::string(mode)}),
              (std::tuple{0, Address(path), std::string(modes[i])}));
  }
  const Routine closes[] = {Routine::CloseCaller1,  Routine::CloseCaller2,  Routine::CloseCaller3, Routine::CloseCaller4,
                            Routine::CloseCallerV1, Routine::CloseCallerV2, Routine::CloseCallerV3};
  for (Routine close : closes) {
    SCOPED_TRACE(NameOf(close));
    const bool present = game->Address(close) != 0;
    EXPECT_EQ(present, Is(Build::VReleasePatched) || close < Routine::CloseCallerV1);
    if (!present) continue;
    game->ClearCalls();
    EXPECT_EQ(game->Run(close, {0x77}).stackDelta, 0);
    EXPECT_EQ(Only(Routine::FileClose).arguments[0], 0x77u);
  }
  std::uint8_t object[64] = {};
  for (std::uint8_t flag : {0, 1}) {
    object[32] = flag;
    const RunResult run = game->Run(Routine::ObjectTest, {Address(object)});
    EXPECT_EQ((std::tuple{run.after.edx, run.after.eax}), (std::tuple{flag != 0 ? 1u : 2u, Address(object)}));
  }
}

TEST_P(FeaturePlaces, Win32SaveRoutinesCreateWriteReadAndClose) {
  std::uint8_t buffer[16] = {};
  for (Routine routine : {Routine::SaveWriter, Routine::SaveLoader}) {
    const Routine transfer = routine == Routine::SaveWriter ? Routine::WriteFileW32 : Routine::ReadFileW32;
    for (std::uint32_t handle : {0xFFFFFFFFu, 0x88u}) {
      SCOPED_TRACE(std::string(NameOf(routine)) + " " + std::to_string(handle));
      game->ClearCalls();
      game->SetResult(Routine::CreateFileW32, handle);
      const RunResult run = game->Run(routine, {Address("savegame.3"), Address(buffer), sizeof buffer});
      const StubCall create = Only(Routine::CreateFileW32);
      const char* name = reinterpret_cast<const char*>(std::uintptr_t(create.arguments[0]));
      EXPECT_EQ((std::tuple{run.stackDelta, std::string(name), create.arguments[1], run.after.eax}),
                (std::tuple{0, std::string("savegame.3"), routine == Routine::SaveWriter ? 0x40000000u : 0x80000000u,
                            handle == 0xFFFFFFFFu ? 0u : 1u}));
      if (handle == 0xFFFFFFFFu) {
        EXPECT_TRUE(game->CallsOf(transfer).empty());
        continue;
      }
      const StubCall call = Only(transfer);
      // Handle, buffer, size, the count pointer, no overlapped block.
      EXPECT_EQ((std::vector<std::uint32_t>{call.arguments[0], call.arguments[1], call.arguments[2],
                                            call.arguments[3] != 0, call.arguments[4]}),
                (std::vector<std::uint32_t>{handle, Address(buffer), sizeof buffer, 1, 0}));
      EXPECT_EQ(Only(Routine::CloseHandleW32).arguments[0], handle);
      // Where the game goes on, EAX holds 0 on the editor's writer and the handle elsewhere.
      const std::uint32_t eax = routine == Routine::SaveWriter ? run.after.ecx : call.eax;
      EXPECT_EQ(eax, routine == Routine::SaveWriter && Is(Build::IVEditor) ? 0u : handle);
    }
  }
}

TEST_P(FeaturePlaces, SmallFeatureRoutinesAnswerAsTheGameWould) {
  EXPECT_EQ(game->Address(Routine::LimitStore) != 0, Is(Build::IVEditor));
  EXPECT_EQ(game->Address(Routine::AspectRatio) == 0, Is(Build::VReleasePatched));
  EXPECT_EQ(Is(Build::IVEditor) ? game->Call(Routine::LimitStore, {0x1234}) : 0x34u, 0x34u);  // only the editor has it
  if (!Is(Build::VReleasePatched)) {
    game->SetScreenSize(800, 480);
    EXPECT_EQ(std::bit_cast<float>(game->Call(Routine::AspectRatio)), 1.25f);
  }
  for (auto [a, b, result] : {std::array<std::uint32_t, 3>{0, 0, 1}, {1, 0, 2}, {0, 1, 3}, {1, 1, 2}})
    EXPECT_EQ(game->Call(Routine::BugFixChecks, {a, b}), result) << a << b;
  // The single-instance check leaves Main early; the release runs on the normal way out.
  game->SetMainBehaviour(0x3D0000, 0);
  game->SetResult(Routine::InstanceCheck, 1);
  const RunResult refused = game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1});
  EXPECT_EQ((std::tuple{refused.after.eax, refused.stackDelta, game->CallsOf(Routine::InstanceRelease).size()}),
            (std::tuple{kMainAnotherInstanceCode, 16, 0u}));
  game->SetResult(Routine::InstanceCheck, 0);
  EXPECT_EQ(game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1}).after.eax, kMainExitCode);
  EXPECT_EQ(game->CallsOf(Routine::InstanceRelease).size(), 1u);
}

TEST_P(FeaturePlaces, PlayerPlacesCallTheGamesRoutines) {
  const bool v = Is(Build::VReleasePatched);
  if (v) game->Write<std::uint8_t>(0xEEEAD0, 5);  // the state in which V also runs its second control routine
  for (Routine caller : {Routine::PlayerDrawCaller, Routine::MirroredDrawCaller, Routine::PlayerControlCaller}) {
    SCOPED_TRACE(NameOf(caller));
    game->ClearCalls();
    EXPECT_EQ(game->Run(caller).stackDelta, 0);
    const Routine own = caller == Routine::PlayerControlCaller ? Routine::PlayerControlRoutine : Routine::PlayerDrawRoutine;
    Only(own);
    EXPECT_EQ(game->CallsOf(Routine::PlayerControlRoutineV).size(), v && caller == Routine::PlayerControlCaller ? 1u : 0u);
  }
  game->ClearCalls();
  game->Run(Routine::ItemRoutineCaller, {7, game->Address(Routine::ItemRoutine)});
  std::uint8_t structure[40] = {};
  const std::uint32_t created = game->Call(Routine::ItemCreationCaller, {Address(structure), 5});
  game->Run(Routine::ObjectRoutineCaller, {3, 0, 9});
  EXPECT_EQ((std::tuple{Only(Routine::ItemRoutine).arguments[0], created, structure[34] | structure[35] << 8,
                        Only(Routine::ObjectDefaultRoutine).arguments[0]}),
            (std::tuple{7u, 5u, 0x4210, 3u}));
}

// MultipleInstanceSupport's removals leave a Main that skips the check and the release and keeps its stack:
// A-C three stretches and the release filled with NOPs, V its 31 bytes as `add esp, 60` and a jump over the rest.
TEST_P(FeaturePlaces, MainRunsWithTheSingleInstanceCodeRemoved) {
  const auto fill = [this](std::uint32_t place, std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size, 0x90);
    game->Image().Write(game->At(place), bytes.data(), bytes.size());
  };
  if (Is(Build::VReleasePatched)) {
    fill(0x4D1D37, {0x83, 0xC4, 60, 0xEB, 31 - 5}, 31);
  } else {
    const std::uint32_t starts[3][3] = {{0x48C735, 0x48C742, 0x48C758}, {0x48E9D9, 0x48E9E6, 0x48E9FC},
                                        {0x48E849, 0x48E856, 0x48E86C}};
    const std::size_t sizes[3] = {10, 5, 16};
    for (int i = 0; i < 3; ++i) fill(starts[int(GetParam())][i], {}, sizes[i]);
  }
  fill(Place{0x48CBF4, 0x48EF34, 0x48ED74, 0x4D23F4}.In(GetParam()), {}, 12);
  game->SetResult(Routine::InstanceCheck, 1);
  game->SetMainBehaviour(0x3D0001, 1);
  const RunResult run = game->Run(Routine::Main, {game->At(0x400000), 0, 0, 1});
  EXPECT_EQ((std::tuple{run.after.eax, run.stackDelta, run.after.ebx, run.after.ebp}),
            (std::tuple{kMainExitCode + 1, 16, run.before.ebx, run.before.ebp}));
  EXPECT_TRUE(game->CallsOf(Routine::InstanceCheck).empty() && game->CallsOf(Routine::InstanceRelease).empty());
}

// NoDrawDistance's bytes jump from each check to where the item is drawn, whatever its distance.
TEST(FeaturePlacesEditor, DrawDistanceChecksAndTheirShortJumps) {
  CGameDouble game(Build::IVEditor);
  ASSERT_TRUE(game.IsReady());
  const std::tuple<Routine, std::uint32_t, std::uint8_t> checks[] = {{Routine::DrawDistanceCheck1, 0x4702A6, 0x0E},
                                                                      {Routine::DrawDistanceCheck2, 0x470492, 0x0D},
                                                                      {Routine::DrawDistanceCheck3, 0x4706A8, 0x0D}};
  for (const auto& [check, place, distance] : checks) {
    SCOPED_TRACE(NameOf(check));
    const std::uint32_t near = game.Call(check, {100}), far = game.Call(check, {1000000});
    const std::uint8_t jump[2] = {0xEB, distance};
    game.Image().Write(game.At(place), jump, sizeof jump);
    EXPECT_EQ((std::tuple{near, far, game.Call(check, {1000000})}), (std::tuple{1u, 0u, 1u}));
  }
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, FeaturePlaces, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<Build>& info) { return NameOf(info.param); });

}  // namespace
