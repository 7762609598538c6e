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

// Feature bit 2 marks the items of the game's list whose object ids the build's game names: the status bits, both
// item routines, in list order; no other item, no other state, and a walk that ends whatever the links say.
TEST_P(PlayersTest, FeatureBitTwoMarksTheListedItemsOfItsObjects) {
  constexpr std::uint32_t kNext = 28, kObject = 12, kStatusWord = 40, kStatusLong = 5610;
  const gamedouble::Place head{0x7FD0EA, 0x7FD20A, 0x7FD24A, 0xE5BF22};
  // Object ids on both sides of each range of both games, chained from item 10 on.
  const std::int16_t objects[] = {30, 31, 34, 35, 96, 97, 102, 103, 105, 106, 107, 108};
  const auto marked = [&](std::int16_t object) {
    return V() ? object >= 31 && object <= 96 : (object >= 35 && object <= 102) || object == 106 || object == 107;
  };
  const auto link = [&](std::uint16_t item, std::uint16_t next, std::int16_t object) {
    std::memcpy(Item(item) + kNext, &next, sizeof next);
    std::memcpy(Item(item) + kObject, &object, sizeof object);
    const std::uint16_t word = 0x0001;
    const std::uint32_t status = 0x10;
    std::memcpy(Item(item) + kStatusWord, &word, sizeof word);
    std::memcpy(Item(item) + kStatusLong, &status, sizeof status);
  };
  const std::uint16_t first = 10;
  for (std::size_t i = 0; i < std::size(objects); ++i) {
    link(std::uint16_t(first + i), i + 1 < std::size(objects) ? std::uint16_t(first + i + 1) : 0xFFFF, objects[i]);
  }
  // An item outside the chain that would be marked: the walk never reaches it.
  link(60, 0xFFFF, 40);
  game->Write<std::uint16_t>(head, first);
  CQVNetClient* client = MakeClient(NETCLIENT_CONNECTED);
  state->m_Flags = ACCEPTED_FLAG_MARK_ITEMS;
  for (const NetClientState s : {NETCLIENT_CONNECTED, NETCLIENT_NONE, NETCLIENT_IN_GAME}) {
    SCOPED_TRACE(s);
    client->SetState(s);
    game->ClearCalls();
    ProcessNetFrame(state.get());
    const bool inGame = s == NETCLIENT_IN_GAME;
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < std::size(objects); ++i) {
      SCOPED_TRACE(objects[i]);
      const std::uint32_t number = std::uint32_t(first + i);
      const bool mark = inGame && marked(objects[i]);
      if (mark) expected.push_back(number);
      EXPECT_EQ(mark ? 0x0101 : 0x0001, ItemField<std::uint16_t>(number, kStatusWord));
      EXPECT_EQ(mark ? 0x16u : 0x10u, ItemField<std::uint32_t>(number, kStatusLong));
    }
    EXPECT_EQ(expected, FirstArguments(game->CallsOf(Routine::CallItemRoutineA)));
    EXPECT_EQ(expected, FirstArguments(game->CallsOf(Routine::CallItemRoutineB)));
    EXPECT_EQ(0x10u, ItemField<std::uint32_t>(60, kStatusLong));
  }
  // A loop in the links, and a link past the item limit: the walk ends within the limit's count of steps.
  link(first + std::size(objects) - 1, first, objects[std::size(objects) - 1]);
  game->ClearCalls();
  ProcessNetFrame(state.get());
  EXPECT_LE(game->CallsOf(Routine::CallItemRoutineA).size(), std::size_t(g_ItemLimit));
  EXPECT_GT(game->CallsOf(Routine::CallItemRoutineA).size(), 0u);
  link(first, std::uint16_t(g_ItemLimit), 40);
  game->ClearCalls();
  ProcessNetFrame(state.get());
  EXPECT_EQ(std::vector<std::uint32_t>{first}, FirstArguments(game->CallsOf(Routine::CallItemRoutineA)));
  state->m_Flags = 0;
  game->ClearCalls();
  ProcessNetFrame(state.get());
  EXPECT_TRUE(game->CallsOf(Routine::CallItemRoutineA).empty());
}

// The own state that goes out: the item's fields, the state word, word 6 by its rule, the build's two record words
// and bit 3 of the record's flags, as the server reads them back.
TEST_P(PlayersTest, TheOwnStateCarriesTheBuildsWordsAndTheWordSixRule) {
  constexpr std::uint32_t kWord2 = 2, kWord6 = 6, kWord44 = 44;
  const std::uint32_t wordA = V() ? 164 : 162, wordB = V() ? 216 : 214;
  const struct {
    std::int16_t word2, word6;
    std::int32_t flags;
    std::uint16_t sentWord6;
    std::uint32_t flag;
  } cases[] = {
      {0, 5, 0x08, 0, 1}, {2, 5, 0x00, 5, 0}, {4, 5, 0x0F, 5, 1},
      {3, 5, 0x07, 0, 0}, {0, 7, 0x10, 7, 0}, {1, -3, std::int32_t(0xFFFFFFFF), 0, 1},
      {2, 0, 0, 0, 0},
  };
  MakeClient(NETCLIENT_IN_GAME, 1);
  std::uint8_t* item = Game::GetPlayerItem();
  std::uint8_t* record = Game::GetPlayerRecord();
  const auto put = [](std::uint8_t* at, auto value) { std::memcpy(at, &value, sizeof value); };
  put(item + kItemRoom, std::int16_t(6));
  put(item + kItemWord, std::uint16_t(0x3344));
  put(item + kItemX, std::int32_t(-100));
  put(item + kItemY, std::int32_t(200));
  put(item + kItemZ, std::int32_t(-300));
  put(item + kItemHeading, std::uint16_t(0x8001));
  *Game::GetPlayerStateWord() = 0xCAFEF00D;
  // The other build's offsets hold decoys: only the build's own words may go out.
  put(record + (V() ? 162 : 164), std::uint16_t(0xDEAD));
  put(record + (V() ? 214 : 216), std::uint16_t(0xBEEF));
  put(record + wordA, std::uint16_t(0x1111));
  put(record + wordB, std::uint16_t(0x2222));
  put(record + kWord44, std::uint16_t(0x4444));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.word2) + " " + std::to_string(c.word6));
    put(record + kWord2, c.word2);
    put(record + kWord6, c.word6);
    put(record + kRecordFlags, c.flags);
    PlayerStateFormat own;
    ASSERT_TRUE(FillPlayerState(&own));
    std::uint8_t message[kPlayerStateMessageSize];
    EncodePlayerState(own, message);
    netserver::State read;
    ASSERT_TRUE(netserver::DecodePlayerState(Bytes(message, message + sizeof message), read));
    EXPECT_EQ(6, read.room);
    EXPECT_EQ(0x3344, read.word34);
    EXPECT_EQ(-100, read.x);
    EXPECT_EQ(200, read.y);
    EXPECT_EQ(-300, read.z);
    EXPECT_EQ(0x8001, read.heading);
    EXPECT_EQ(0xCAFEF00Du, read.stateWord);
    EXPECT_EQ(c.sentWord6, read.word6);
    EXPECT_EQ(0x1111, read.wordA);
    EXPECT_EQ(0x2222, read.wordB);
    EXPECT_EQ(0x4444, read.word44);
    EXPECT_EQ(c.flag, read.flag);
  }
}

// A level without the player's item: the entries forget their puppets, and nothing else moves.
TEST_P(PlayersTest, LoadItemsWithoutAPlayerItemOnlyForgetsThePuppets) {
  CQVNetClient* client = MakeClient(NETCLIENT_IN_GAME, 1);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  client->SetState(NETCLIENT_CONNECTED);
  state->m_SavedStart = {7, 1, 2, 3, 4};
  const std::uint16_t none = 0xFFFF;
  std::memcpy(Game::GetPlayerRecord(), &none, sizeof none);
  OnLoadItems(state.get());
  for (const CRemotePlayer& entry : state->m_RemotePlayers) EXPECT_EQ(-1, entry.m_Item);
  EXPECT_EQ(NETCLIENT_CONNECTED, client->GetState());
  EXPECT_EQ(7, state->m_SavedStart.room);
  EXPECT_EQ(4, state->m_SavedStart.heading);
  const std::uint16_t local = 0;
  std::memcpy(Game::GetPlayerRecord(), &local, sizeof local);
  OnLoadItems(state.get());
  EXPECT_EQ(NETCLIENT_LEVEL_LOADED, client->GetState());
  EXPECT_EQ(0, state->m_RemotePlayers[1].m_Item);
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
