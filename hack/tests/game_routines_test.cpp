// The Game:: accessors on the game double of each build, at its preferred and a relocated base.
#include <hack/GameRoutines.h>

#include <functional>
#include <tuple>
#include <vector>

#include "GameDoubleFixture.h"

namespace hacktest {
namespace {

using gamedouble::Place;
using gamedouble::Routine;
namespace chosen = gamedouble::chosen;

using GameRoutinesTest = GameDoubleTest;

TEST_P(GameRoutinesTest, ReadsAnswerTheGamesData) {
  game->SetScreenSize(640, 480);
  game->Write(chosen::kFontHeight, std::uint32_t(17));
  game->Write(Place{0x75385C, 0x753984, 0x7539C4, 0xD9AB3C}, std::uint32_t(0xA1B2));
  game->Write(Place{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0}, std::uint8_t(11));
  const Place record{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
  game->Write(Column(record), std::uint16_t(42));
  game->Write(Column(record) + 4, std::int16_t(-3));
  game->Write(Column(record) + 68, std::int32_t(-70000));
  game->SetDirectSound(0x5D5D5D);
  game->SetRendererPresent(true, true);

  EXPECT_EQ((std::tuple{Game::GetScreenWidth(), Game::GetScreenHeight(), Game::GetFontHeight(),
                        Address(Game::GetWindow()), Game::GetStateByte(), Game::GetItemArray(), Game::GetPlayerItem()}),
            (std::tuple{640u, 480u, 17u, 0xA1B2u, std::uint8_t(11), game->Item(0), game->Item(0)}));
  EXPECT_EQ((std::tuple{Address(Game::GetPlayerRecord()), Game::GetPlayerItemNumber(), Game::GetPlayerRecordWord(4),
                        Game::GetPlayerRecordLong(), Address(Game::GetDirectSound())}),
            (std::tuple{game->At(record), std::uint16_t(42), std::int16_t(-3), std::int32_t(-70000), 0x5D5D5Du}));
  EXPECT_EQ((std::vector{Address(Game::GetPlayerStateWord()), Address(Game::GetPlayerUpdateWord()),
                         Address(Game::GetWaveFormat()), Address(Game::GetSampleTable()),
                         Address(Game::GetDirectDraw()), Address(Game::GetDirect3DDevice())}),
            (std::vector{game->At(Place{0x5355D8, 0x535704, 0x535744, 0x878D98}),
                         game->At(Place{0x4BF2C0, 0x4BF3E8, 0x4BF428, 0x51CA34}),
                         game->At(Place{0x52A968, 0x52AA98, 0x52AAD8, 0x86BEC8}),
                         game->At(Place{0x52A990, 0x52AAC0, 0x52AB00, 0x86BEF0}), game->Renderer().DirectDraw(),
                         game->Renderer().Device()}));
  game->SetRendererPresent(false, false);
  EXPECT_EQ((std::tuple{Game::GetDirectDraw(), Game::GetDirect3DDevice()}), (std::tuple{nullptr, nullptr}));
}

TEST_P(GameRoutinesTest, CallsReachTheGamesRoutinesWithTheirArguments) {
  const char text[] = "text";
  const std::int32_t position[3] = {1, 2, 3};
  struct Row {
    Routine routine;
    std::function<std::uint32_t()> call;
    std::vector<std::uint32_t> arguments;
    std::uint32_t result;  // what the stub answers and the accessor hands on
  };
  std::vector<Row> rows = {
      {Routine::AllocateItem, [] { return Game::AllocateItem(); }, {}, 0xFFFF},
      {Routine::SetUpItem, [] { return Game::SetUpItem(5), 0u; }, {5}, 0},
      {Routine::RemoveItem, [] { return Game::RemoveItem(6), 0u; }, {6}, 0},
      {Routine::CallItemRoutineA, [] { return Game::CallItemRoutineA(7), 0u; }, {7}, 0},
      {Routine::CallItemRoutineB, [] { return Game::CallItemRoutineB(8), 0u; }, {8}, 0},
      {Routine::MoveItemToRoom, [] { return Game::MoveItemToRoom(9, 12), 0u; }, {9, 12}, 0},
      {Routine::RemoveEffect, [] { return Game::RemoveEffect(10), 0u; }, {10}, 0},
      {Routine::PlaySoundEffect, [&] { return std::uint32_t(Game::PlaySoundEffect(4, position, 2)); },
       {4, Address(position), 2}, 1},
      {Routine::RenderString, [&] { return Game::RenderString(1, 2, 3, text, 5), 0u; }, {1, 2, 3, Address(text), 5}, 0},
      {Routine::RoutineC, [] { return Game::CallRoutineC(), 0u; }, {}, 0},
      {Routine::RoutineD, [] { return Game::CallRoutineD(), 0u; }, {}, 0},
      {Routine::RoutineE, [] { return Game::CallRoutineE(), 0u; }, {}, 0},
  };
  if (V()) {
    rows.push_back({Routine::RoutineDV, [] { return Game::CallRoutineDV(1), 0u; }, {1}, 0});
    rows.push_back({Routine::ProgressBarV, [] { return Game::RenderProgressBarV(1, 2, 3, 4, 5, 6, 7), 0u; },
                    {1, 2, 3, 4, 5, 6, 7}, 0});
  } else {
    rows.push_back({Routine::ProgressBar, [] { return Game::RenderProgressBar(1, 2, 3, 4, 5, 6, 7), 0u; },
                    {1, 2, 3, 4, 5, 6, 7}, 0});
  }
  rows.push_back({Routine::SampleLoader,
                  [&] { return Editor() ? Game::LoadSampleEditor(text, 4, 3, 2) : Game::LoadSample(text, 4, 3, 2); },
                  {Address(text), 4, 3, 2}, 1});
  for (const Row& row : rows) {
    SCOPED_TRACE(gamedouble::NameOf(row.routine));
    game->ClearCalls();
    game->SetResult(row.routine, row.result);
    EXPECT_EQ(row.call(), row.result);
    ASSERT_EQ(game->Calls().size(), 1u);
    EXPECT_EQ((std::tuple{game->Calls()[0].routine, game->Calls()[0].arguments}),
              (std::tuple{row.routine, row.arguments}));
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, GameRoutinesTest, ::testing::ValuesIn(AllBuilds()), DoubleCaseName);

}  // namespace
}  // namespace hacktest
