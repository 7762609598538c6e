// Remote players on the game double: puppets made, moved, respawned and removed from the server's messages.
#include "client_fixture.h"

namespace nettest {
namespace {

namespace mps = MultiplePlayerSupport;

constexpr std::uint32_t kItemRoom = 24, kItemWord = 34, kItemX = 64, kItemY = 68, kItemZ = 72, kItemHeading = 78;
constexpr std::uint32_t kSnapshotStateWord = 932;
constexpr std::uint32_t kRecordFlags = 68;

using PlayersTest = ClientTest;

std::vector<std::uint32_t> FirstArguments(const std::vector<gamedouble::StubCall>& calls) {
  std::vector<std::uint32_t> out;
  for (const auto& call : calls) out.push_back(call.arguments.empty() ? 0 : call.arguments[0] & 0xFFFF);
  return out;
}

TEST_P(PlayersTest, ThreePlayersGetPuppetsTheOwnIdIsSkippedAndTheLocalStateStaysIntact) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  const Bytes local = LocalState();
  Receive(netserver::PlayerStates({{1, StateIn(1)}, {2, StateIn(2, 200)}, {3, StateIn(3, 300)}, {4, StateIn(4)}}));
  EXPECT_EQ(3u, CallCount(Routine::AllocateItem));
  EXPECT_EQ(3u, mps::CountPlayers());
  EXPECT_EQ(local, LocalState());
  EXPECT_EQ(0, state->m_RemotePlayers[1].m_Item);
  for (std::uint32_t id = 2; id <= 4; ++id) {
    SCOPED_TRACE(id);
    const std::int16_t item = state->m_RemotePlayers[id].m_Item;
    ASSERT_EQ(std::int16_t(kFirstFreeItem + id - 2), item);
    EXPECT_TRUE(mps::IsPlayerLinked(std::uint16_t(item)));
    EXPECT_EQ(std::int16_t(id), ItemField<std::int16_t>(item, kItemRoom));
    EXPECT_EQ(std::int32_t(id == 4 ? 100 : id * 100), ItemField<std::int32_t>(item, kItemX));
    EXPECT_EQ(0x4000, ItemField<std::uint16_t>(item, kItemHeading));
    // The puppet's snapshot holds the applied state: the masked state word and the build's record words.
    const std::uint8_t* snapshot = mps::GetPlayerSnapshot(std::uint16_t(item));
    ASSERT_NE(nullptr, snapshot);
    std::uint32_t word;
    std::uint16_t wordA, wordB;
    std::memcpy(&word, snapshot + kSnapshotStateWord, sizeof word);
    std::memcpy(&wordA, snapshot + (V() ? 164 : 162), sizeof wordA);
    std::memcpy(&wordB, snapshot + (V() ? 216 : 214), sizeof wordB);
    EXPECT_EQ(kPlayerStateWordMask, word);
    EXPECT_EQ(0xAAAA, wordA);
    EXPECT_EQ(0xBBBB, wordB);
  }
  // A second round moves the puppets without new items, still leaving the local player as it was.
  Receive(netserver::PlayerStates({{2, StateIn(5, 222)}, {3, StateIn(3, 333)}}));
  EXPECT_EQ(3u, CallCount(Routine::AllocateItem));
  EXPECT_EQ(222, ItemField<std::int32_t>(kFirstFreeItem, kItemX));
  EXPECT_EQ(1u, CallCount(Routine::MoveItemToRoom));
  EXPECT_EQ(local, LocalState());
}

TEST_P(PlayersTest, AnInvalidRoomDeletesThePuppetAndAValidOneRecreatesIt) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  ASSERT_EQ(std::int16_t(kFirstFreeItem), state->m_RemotePlayers[2].m_Item);
  const std::int16_t rooms[] = {std::int16_t(kRooms), -1};
  testing::internal::CaptureStdout();
  for (const std::int16_t room : rooms) Receive(netserver::PlayerStates({{2, StateIn(room)}}));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, console.find("MULTIPLAYER: Deleting remote player in invalid room 20\n"));
  EXPECT_NE(std::string::npos, console.find("MULTIPLAYER: Deleting remote player in invalid room -1\n"));
  EXPECT_EQ(std::vector<std::uint32_t>{kFirstFreeItem}, FirstArguments(game->CallsOf(Routine::RemoveItem)));
  EXPECT_EQ(-1, state->m_RemotePlayers[2].m_Item);
  EXPECT_EQ(0u, mps::CountPlayers());
  Receive(netserver::PlayerStates({{2, StateIn(kRooms - 1)}}));
  EXPECT_EQ(std::int16_t(kFirstFreeItem + 1), state->m_RemotePlayers[2].m_Item);
  EXPECT_EQ(1u, mps::CountPlayers());
}

TEST_P(PlayersTest, IdsOutsideTheTableAndTheOwnIdAreLeftAlone) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  const std::uint32_t outside[] = {std::uint32_t(TableSize()), std::uint32_t(TableSize()) + 1, 0xFFFFFFFF};
  const Bytes local = LocalState();
  for (const std::uint32_t id : outside) {
    SCOPED_TRACE(id);
    Receive(netserver::PlayerStates({{id, StateIn(3)}}));
    Receive(netserver::PlayerLeft(id));
    Receive(netserver::PlayerUpdate({0x1F, id}));
  }
  Receive(netserver::PlayerLeft(1));  // the own id
  EXPECT_EQ(1u, CallCount(Routine::AllocateItem));
  EXPECT_EQ(0u, CallCount(Routine::RemoveItem));
  EXPECT_EQ(local, LocalState());
  Receive(netserver::PlayerLeft(2));
  EXPECT_EQ(std::vector<std::uint32_t>{kFirstFreeItem}, FirstArguments(game->CallsOf(Routine::RemoveItem)));
  EXPECT_EQ(0u, mps::CountPlayers());
}

TEST_P(PlayersTest, RoomsOutsideTheLevelNeverReachTheGame) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}, {3, StateIn(-4)}}));
  ASSERT_EQ(-1, state->m_RemotePlayers[3].m_Item);
  state->m_SavedStart.room = std::int16_t(kRooms);
  game->ClearCalls();
  for (const std::int16_t room : {std::int16_t(kRooms), std::int16_t(-5)}) {
    Receive(netserver::PlayerUpdate({1, 2, room}));
  }
  Receive(netserver::PlayerUpdate({0x10, 2}));  // to a saved start outside the level: stays in its room
  Receive(netserver::PlayerUpdate({0x10, 3}));  // from a stored state outside the level: no puppet
  EXPECT_EQ(0u, CallCount(Routine::MoveItemToRoom));
  EXPECT_EQ(0u, CallCount(Routine::AllocateItem));
  EXPECT_EQ(-1, state->m_RemotePlayers[3].m_Item);
}

TEST_P(PlayersTest, WithoutAFreeItemTheEntryStaysWithoutAPuppet) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  freeItems = false;
  const Bytes local = LocalState();
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  EXPECT_EQ(-1, state->m_RemotePlayers[2].m_Item);
  EXPECT_EQ(0u, mps::CountPlayers());
  EXPECT_FALSE(mps::IsRemoteCurrent());
  EXPECT_EQ(local, LocalState());
}

struct UpdateCase {
  const char* label;
  std::uint8_t flags;
  bool own;
};

TEST_P(PlayersTest, PlayerUpdateActsOnEachFlag) {
  const UpdateCase cases[] = {
      {"room", 0x01, false},        {"position", 0x02, false},      {"heading", 0x04, false},
      {"item word", 0x08, false},   {"respawn", 0x10, false},       {"reset word", 0x20, false},
      {"own position", 0x02, true}, {"own reset word", 0x20, true}, {"own respawn", 0x10, true}};
  for (const UpdateCase& c : cases) {
    SCOPED_TRACE(c.label);
    MakeClient(NETCLIENT_IN_GAME, 1);
    Receive(netserver::PlayerStates({{2, StateIn(3)}}));
    const std::uint32_t id = c.own ? 1 : 2;
    const std::uint32_t item = c.own ? 0 : state->m_RemotePlayers[2].m_Item;
    state->m_SavedStart = {7, 1000, 2000, 3000, 0x1234};
    std::uint32_t* updateWord = Game::GetPlayerUpdateWord();
    *updateWord = 0;
    game->ClearCalls();
    Receive(netserver::PlayerUpdate({c.flags, id, 9, -11, -22, -33, 0x7777, 0x3434}));
    const bool respawn = c.flags == 0x10;
    const std::vector<std::uint32_t> moved = FirstArguments(game->CallsOf(Routine::MoveItemToRoom));
    EXPECT_EQ(c.flags == 0x01 || respawn ? std::vector<std::uint32_t>{item} : std::vector<std::uint32_t>{}, moved);
    if (c.flags == 0x02) {
      EXPECT_EQ(-22, ItemField<std::int32_t>(item, kItemY));
    }
    if (respawn) {
      EXPECT_EQ(2000, ItemField<std::int32_t>(item, kItemY));
      EXPECT_EQ(3000, ItemField<std::int32_t>(item, kItemZ));
      EXPECT_EQ(0x1234, ItemField<std::uint16_t>(item, kItemHeading));
      EXPECT_EQ(std::vector<std::uint32_t>{item}, FirstArguments(game->CallsOf(Routine::SetUpItem)));
      EXPECT_EQ(V() ? 0u : 1u, CallCount(Routine::RoutineD));
      EXPECT_EQ(V() ? 1u : 0u, CallCount(Routine::RoutineDV));
    }
    if (c.flags == 0x04) {
      EXPECT_EQ(0x7777, ItemField<std::uint16_t>(item, kItemHeading));
    }
    if (c.flags == 0x08) {
      EXPECT_EQ(0x3434, ItemField<std::uint16_t>(item, kItemWord));
    }
    const bool switches = !c.own && (c.flags == 0x02 || respawn);
    EXPECT_EQ(switches ? (respawn ? 2u : 1u) : (c.own && respawn ? 1u : 0u), CallCount(Routine::RoutineC));
    const bool resets = c.own && (c.flags & 0x32) != 0;
    EXPECT_EQ(resets ? 0xFFFFFFF8u : 0u, *updateWord);
    EXPECT_FALSE(mps::IsRemoteCurrent());
    state->m_pClient.reset();
  }
}

// Game V's post-switch routine takes a byte.
using GameVPlayersTest = PlayersTest;

TEST_P(GameVPlayersTest, RespawnPassesItsByte) {
  const struct {
    std::uint8_t level, gameByte;
    std::uint32_t argument;
  } cases[] = {{4, 0, 0}, {11, 1, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.level));
    MakeClient(NETCLIENT_IN_GAME, 1);
    Receive(netserver::PlayerStates({{2, StateIn(3)}}));
    game->Write<std::uint8_t>(0xE5C2D0, c.level);
    game->Write<std::uint8_t>(0x5082C1, c.gameByte);
    game->ClearCalls();
    Receive(netserver::PlayerUpdate({0x10, 2}));
    const auto calls = game->CallsOf(Routine::RoutineDV);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(c.argument, calls[0].arguments[0] & 0xFF);
    state->m_pClient.reset();
  }
}

TEST_P(PlayersTest, TheStateFlagCallsRoutineEOrEndsTheFlagBit) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  netserver::State on = StateIn(3);
  on.flag = 1;
  Receive(netserver::PlayerStates({{2, on}}));
  EXPECT_EQ(1u, CallCount(Routine::RoutineE));
  // The flag off clears bit 3 of the puppet's player-record flags (kept in its snapshot).
  std::uint8_t* snapshot = mps::GetPlayerSnapshot(std::uint16_t(state->m_RemotePlayers[2].m_Item));
  ASSERT_NE(nullptr, snapshot);
  const std::int32_t flags = 0x0F;
  std::memcpy(snapshot + kRecordFlags, &flags, sizeof flags);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  std::int32_t after;
  std::memcpy(&after, snapshot + kRecordFlags, sizeof after);
  EXPECT_EQ(0x07, after);
  EXPECT_EQ(1u, CallCount(Routine::RoutineE));
}

// A respawn ends the flag bit of the player it respawns: the puppet's, or the local player's own for the own id,
// never the other one, whatever else the flags hold.
TEST_P(PlayersTest, ARespawnEndsTheFlagBitOfItsOwnPlayerAlone) {
  const struct {
    const char* label;
    bool own;
    std::int32_t local, puppet, localAfter, puppetAfter;
  } cases[] = {
      {"remote, both set", false, 0x08, 0x08, 0x08, 0x00},
      {"remote, the local bit alone", false, 0x0F, 0x00, 0x0F, 0x00},
      {"remote, the puppet's bit alone", false, 0x00, 0x7F, 0x00, 0x77},
      {"remote, high bits kept", false, std::int32_t(0x80000008), 0x40000008, std::int32_t(0x80000008), 0x40000000},
      {"own, both set", true, 0x08, 0x08, 0x00, 0x08},
      {"own, the puppet's bit alone", true, 0x00, 0x08, 0x00, 0x08},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MakeClient(NETCLIENT_IN_GAME, 1);
    Receive(netserver::PlayerStates({{2, StateIn(3)}}));
    const std::uint16_t puppet = std::uint16_t(state->m_RemotePlayers[2].m_Item);
    std::uint8_t* snapshot = mps::GetPlayerSnapshot(puppet);
    ASSERT_NE(nullptr, snapshot);
    std::memcpy(Game::GetPlayerRecord() + kRecordFlags, &c.local, sizeof c.local);
    std::memcpy(snapshot + kRecordFlags, &c.puppet, sizeof c.puppet);
    Receive(netserver::PlayerUpdate({0x10, c.own ? 1u : 2u}));
    ASSERT_FALSE(mps::IsRemoteCurrent());
    std::int32_t local, after;
    std::memcpy(&local, Game::GetPlayerRecord() + kRecordFlags, sizeof local);
    std::memcpy(&after, snapshot + kRecordFlags, sizeof after);
    EXPECT_EQ(c.localAfter, local);
    EXPECT_EQ(c.puppetAfter, after);
    state->m_pClient.reset();
  }
}

TEST_P(PlayersTest, ThePuppetsEffectsEndWithItsFlagAndWithIt) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  const std::uint16_t puppet = std::uint16_t(state->m_RemotePlayers[2].m_Item);
  // Effects belong to the player current when the game made them.
  const auto make = [&](std::uint16_t effect, std::uint16_t owner) {
    std::memcpy(Game::GetPlayerRecord(), &owner, sizeof owner);
    std::uint8_t structure[64] = {};
    game->Run(Routine::ItemCreationCaller, {std::uint32_t(std::uintptr_t(structure)), effect});
    const std::uint16_t local = 0;
    std::memcpy(Game::GetPlayerRecord(), &local, sizeof local);
  };
  make(5, puppet);
  make(6, 0);
  make(7, puppet);
  ASSERT_EQ(puppet, mps::GetItemOwner(5));
  constexpr std::uint32_t kRecord = 40, kObject = 20, kNext = 24;
  std::vector<std::uint8_t> effects(8 * kRecord, 0);
  const std::int16_t flagObject = V() ? 120 : 142, otherObject = 99;
  const std::int16_t links[][3] = {{5, flagObject, 6}, {6, flagObject, 7}, {7, otherObject, -1}};
  for (const auto& link : links) {
    std::memcpy(&effects[std::size_t(link[0]) * kRecord + kObject], &link[1], sizeof link[1]);
    std::memcpy(&effects[std::size_t(link[0]) * kRecord + kNext], &link[2], sizeof link[2]);
  }
  game->Write<std::uint32_t>(gamedouble::Place{0x8011C0, 0x8012E0, 0x801320, 0xE5C5E0},
                             std::uint32_t(std::uintptr_t(effects.data())));
  game->Write<std::int16_t>(gamedouble::Place{0x8011D0, 0x8012F0, 0x801330, 0xE5C5FC}, 5);
  // The flag off ends the puppet's effects of the flag's object while the bit says they run.
  std::uint8_t* snapshot = mps::GetPlayerSnapshot(puppet);
  const std::int32_t bit = 0x08;
  std::memcpy(snapshot + kRecordFlags, &bit, sizeof bit);
  game->ClearCalls();
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  EXPECT_EQ(std::vector<std::uint32_t>{5}, FirstArguments(game->CallsOf(Routine::RemoveEffect)));
  // Leaving ends all of them.
  game->ClearCalls();
  Receive(netserver::PlayerLeft(2));
  EXPECT_EQ((std::vector<std::uint32_t>{5, 7}), FirstArguments(game->CallsOf(Routine::RemoveEffect)));
}

TEST_P(PlayersTest, DestroyingTheClientRemovesThePuppetsButNeverTheLocalItem) {
  MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}, {3, StateIn(4)}}));
  // Whatever id the local item is filed under, it stays.
  state->m_RemotePlayers[5] = state->m_RemotePlayers[1];
  game->ClearCalls();
  state->m_pClient.reset();
  EXPECT_EQ((std::vector<std::uint32_t>{kFirstFreeItem, kFirstFreeItem + 1}),
            FirstArguments(game->CallsOf(Routine::RemoveItem)));
  EXPECT_EQ("destroy resources", table.front());
  EXPECT_EQ(0u, mps::CountPlayers());
  for (const CRemotePlayer& entry : state->m_RemotePlayers) EXPECT_EQ(-1, entry.m_Item);
}

TEST_P(PlayersTest, ANewOwnIdForgetsTheOldEntryWithoutRemovingTheLocalItem) {
  CQVNetClient* client = MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  Receive(netserver::Accepted(2, 1, 2, 0, 0));  // the server now files us under 2
  EXPECT_EQ(2, client->GetOwnId());
  EXPECT_EQ(-1, state->m_RemotePlayers[1].m_Item);
  EXPECT_EQ(std::vector<std::uint32_t>{kFirstFreeItem}, FirstArguments(game->CallsOf(Routine::RemoveItem)));
  OnLoadItems(state.get());
  EXPECT_EQ(0, state->m_RemotePlayers[2].m_Item);
  // An own id outside the table never indexes it.
  Receive(netserver::Accepted(std::uint32_t(TableSize()), 1, 2, 0, 0));
  OnLoadItems(state.get());
  EXPECT_EQ(NETCLIENT_LEVEL_LOADED, client->GetState());
}

INSTANTIATE_TEST_SUITE_P(Builds, PlayersTest,
                         ::testing::Values(ClientCase{Build::IVEditor, false}, ClientCase{Build::IVEditor, true},
                                           ClientCase{Build::IVReleasePatched, false},
                                           ClientCase{Build::IVDemoCorvel, false},
                                           ClientCase{Build::VReleasePatched, false}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(GameV, GameVPlayersTest, ::testing::Values(ClientCase{Build::VReleasePatched, false}),
                         CaseName);

}  // namespace
}  // namespace nettest
