// MultiplePlayerSupport: snapshots at the game's places, the remote list, owners and the client's calls in every
// state; its hooks on the double's code (control, draw, mirrored draw, item routines and owners).
#include <features/MultiplePlayerSupport.h>

#include <functional>

#include "feature_fixture.h"

namespace {

using namespace featuretest;
namespace mps = MultiplePlayerSupport;
using gamedouble::Place;

constexpr Place kPlayerState{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
constexpr Place kPlayerItem{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08};
struct Piece {
  std::uint32_t offset, size;
  Place place;
};
// Written from the table of the player state's pieces (column C's piece at 956 at the demo's own address).
const Piece kPieces[] = {
    {0, 346, {0x80DEC0, 0x80DFE0, 0x80E020, 0}}, {346, 420, {0x80E040, 0x80E160, 0x80E1A0, 0}},
    {0, 343, {0, 0, 0, 0xE5BD60}}, {343, 588, {0, 0, 0, 0xE5C000}},
    {931, 1, {0, 0, 0, 0xEEEAD0}}, {932, 4, {0x5355D8, 0x535704, 0x535744, 0x878D98}},
    {936, 4, {0x7FE720, 0x7FE840, 0x7FE880, 0xEEF960}}, {940, 8, {0x80E020, 0x80E140, 0x80E180, 0xE5BF60}},
    {948, 2, {0x80E01A, 0x80E13A, 0x80E17A, 0xE5BF04}}, {950, 2, {0x7FE744, 0x7FE864, 0x7FE8A4, 0xEEF984}},
    {952, 2, {0x7FE746, 0x7FE866, 0x7FE8A6, 0xEEF986}}, {956, 4, {0x7FE72C, 0x7FE84C, 0x7FE88C, 0xEEF96C}},
    {960, 720, {0x80E8E0, 0x80EA00, 0x80EA40, 0xE86600}}, {1680, 720, {0x80E600, 0x80E720, 0x80E760, 0xE868E0}},
    {2400, 720, {0, 0, 0, 0xE86BC0}}, {3120, 720, {0, 0, 0, 0xE86320}},
};

class MultiplePlayerSupportTest : public FeatureTest {
 protected:
  std::uint8_t* GamePlace(const Piece& piece) {
    return reinterpret_cast<std::uint8_t*>(std::uintptr_t(At(piece.place)));
  }
};

// Every piece lands at its offset and goes back; the snapshot's gaps are never written.
TEST_P(MultiplePlayerSupportTest, SnapshotsCopyEveryPieceBothWays) {
  std::vector<std::uint8_t> snapshot(mps::kSnapshotSize, 0xEE);
  std::uint8_t seed = 1;
  for (const Piece& piece : kPieces) {
    if (piece.place.In(B()) == 0) continue;
    for (std::uint32_t i = 0; i < piece.size; ++i) GamePlace(piece)[i] = std::uint8_t(seed + i * 7);
    seed += 13;
  }
  std::vector<bool> covered(mps::kSnapshotSize, false);
  const auto expectPiecesEqual = [&] {
    for (const Piece& piece : kPieces) {
      if (piece.place.In(B()) == 0) continue;
      EXPECT_EQ(std::memcmp(snapshot.data() + piece.offset, GamePlace(piece), piece.size), 0) << piece.offset;
      for (std::uint32_t i = 0; i < piece.size; ++i) covered[piece.offset + i] = true;
    }
  };
  mps::SavePlayerState(snapshot.data());
  expectPiecesEqual();
  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) {
    if (!covered[i]) {
      ASSERT_EQ(snapshot[i], 0xEE) << i;
    }
  }
  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) snapshot[i] = std::uint8_t(i * 3);
  mps::LoadPlayerState(snapshot.data());
  expectPiecesEqual();
}

TEST_P(MultiplePlayerSupportTest, TheClientsCallsAreSafeBeforeInitAndAfterUnload) {
  const auto refusesEverything = [] {
    EXPECT_FALSE(mps::LinkPlayer(1));
    EXPECT_FALSE(mps::UnlinkPlayer(1));
    EXPECT_FALSE(mps::IsPlayerLinked(1));
    EXPECT_EQ(mps::CountPlayers(), 0u);
    EXPECT_EQ(mps::GetPlayerSnapshot(1), nullptr);
    EXPECT_EQ(mps::GetLocalSnapshot(), nullptr);
    EXPECT_EQ(mps::GetItemOwner(1), mps::kNoItem);
    EXPECT_FALSE(mps::SwitchToPlayer(1));
    mps::SetRemoteCurrent(true);
    EXPECT_FALSE(mps::IsRemoteCurrent());
  };
  const std::uint32_t playerItem = game->Read<std::uint32_t>(kPlayerItem);
  {
    SCOPED_TRACE("before Init");
    refusesEverything();
  }
  tHackModule* module = nullptr;
  ASSERT_EQ(Register(u"MultiplePlayerSupport", &module), 1u);
  EXPECT_TRUE(mps::LinkPlayer(1));
  ASSERT_EQ(UnloadHackModule(module), 1u);
  {
    SCOPED_TRACE("after Unload");
    refusesEverything();
    mps::SwitchToLocalPlayer();
  }
  EXPECT_EQ(game->Read<std::uint32_t>(kPlayerItem), playerItem);
}

TEST_P(MultiplePlayerSupportTest, TheRemoteListKeepsItsOrderAndRefusesWhatIsNotUsable) {
  ASSERT_EQ(Register(u"MultiplePlayerSupport"), 1u);
  for (std::uint16_t item : {5, 9, 7}) EXPECT_TRUE(mps::LinkPlayer(item));
  EXPECT_FALSE(mps::LinkPlayer(9));
  EXPECT_EQ(mps::CountPlayers(), 3u);
  EXPECT_TRUE(mps::UnlinkPlayer(9));
  EXPECT_FALSE(mps::UnlinkPlayer(9));
  EXPECT_TRUE(mps::LinkPlayer(9));
  EXPECT_TRUE(mps::UnlinkPlayer(5));
  EXPECT_TRUE(mps::UnlinkPlayer(9));
  EXPECT_TRUE(mps::UnlinkPlayer(7));
  EXPECT_EQ(mps::CountPlayers(), 0u);
  EXPECT_TRUE(mps::LinkPlayer(7));

  // Snapshots are zero at Init.
  const std::uint8_t* snapshot = mps::GetPlayerSnapshot(200);
  ASSERT_NE(snapshot, nullptr);
  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) ASSERT_EQ(snapshot[i], 0) << i;

  // The game is about to lay its items out: nobody survives.
  RaiseModuleEvent(MODULEEVENT_SETUPITEMLINKEDLISTS, nullptr);
  EXPECT_EQ(mps::CountPlayers(), 0u);
  EXPECT_FALSE(mps::IsPlayerLinked(7));
  EXPECT_TRUE(mps::LinkPlayer(7));
}

// Item numbers are checked against the item limit, whichever order the two modules load in.
TEST_P(MultiplePlayerSupportTest, ItemNumbersAtTheLimit) {
  for (bool limitsFirst : {false, true}) {
    SCOPED_TRACE(limitsFirst ? "IncreasedLimits first" : "MultiplePlayerSupport first");
    hack::testing::ResetHackRegistry();
    g_ItemLimit = kGameItemLimit;
    tHackModule* players = nullptr;
    tHackModule* limits = nullptr;
    if (limitsFirst) Register(u"IncreasedLimits", &limits);
    ASSERT_EQ(Register(u"MultiplePlayerSupport", &players), 1u);
    if (!limitsFirst) Register(u"IncreasedLimits", &limits);
    const bool raised = Editor();
    EXPECT_EQ(g_ItemLimit, raised ? kIncreasedItemLimit : kGameItemLimit);
    EXPECT_TRUE(mps::LinkPlayer(255));
    EXPECT_EQ(mps::LinkPlayer(256), raised);
    EXPECT_EQ(mps::LinkPlayer(1023), raised);
    EXPECT_EQ(mps::GetPlayerSnapshot(1023) != nullptr, raised);
    EXPECT_FALSE(mps::LinkPlayer(1024));
    EXPECT_EQ(mps::GetPlayerSnapshot(1024), nullptr);
    EXPECT_FALSE(mps::SwitchToPlayer(-1));
    UnloadHackModule(limits);
    EXPECT_EQ(g_ItemLimit, kGameItemLimit);
    EXPECT_EQ(mps::GetPlayerSnapshot(1023), nullptr);
    UnloadHackModule(players);
  }
}

TEST_P(MultiplePlayerSupportTest, DefineAllObjectsSetsTheObjectRecordUntilUnload) {
  const std::uint32_t record = Place{0x52B720, 0x52B850, 0x52B890, 0x86CF50}.In(B()), routine = record + 32;
  const std::uint32_t count = record + 40;
  game->Write<std::uint32_t>(routine, 0x11223344);
  game->Write<std::uint16_t>(count, 3);
  tHackModule* module = nullptr;
  ASSERT_EQ(Register(u"MultiplePlayerSupport", &module), 1u);
  EXPECT_EQ(PatchCount(module), V() ? 6u : 5u);
  RaiseModuleEvent(MODULEEVENT_DEFINEALLOBJECTS, nullptr);
  EXPECT_NE(game->Read<std::uint32_t>(routine), 0x11223344u);
  EXPECT_EQ(game->Read<std::uint16_t>(count), 15);
  UnloadHackModule(module);
  EXPECT_EQ(game->Read<std::uint32_t>(routine), 0x11223344u);
  EXPECT_EQ(game->Read<std::uint16_t>(count), 3);
}

INSTANTIATE_TEST_SUITE_P(Builds, MultiplePlayerSupportTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

constexpr Place kSecondBlock{0x80E040, 0x80E160, 0x80E1A0, 0xE5C000};
constexpr Place kMirrorValue{0x7FDE44, 0x7FDF64, 0x7FDFA4, 0xE6D748};
constexpr Place kMatrixStack{0x7E70C8, 0x7E71D8, 0x7E7218, 0x55DA2C};
constexpr std::uint32_t kMatrixStackV2 = 0xE4B0F8, kStateByteV = 0xEEEAD0;
constexpr std::uint32_t kMarker = 10;  // a byte of the player state's first block, for the routines to change
constexpr std::uint16_t kLocal = 0, kFirst = 5, kSecond = 9;

struct Seen {
  std::uint16_t player;
  std::uint32_t item;
  std::uint8_t marker;
};

class PlayerSwitchingTest : public MultiplePlayerSupportTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    ASSERT_EQ(Register(u"MultiplePlayerSupport"), 1u);
    game->Write<std::uint16_t>(kPlayerState, kLocal);
    game->Write<std::uint8_t>(kPlayerState.In(B()) + kMarker, 0x40);
  }
  std::uint16_t Player() const { return game->Read<std::uint16_t>(kPlayerState); }
  std::uint8_t Marker() const { return game->Read<std::uint8_t>(kPlayerState.In(B()) + kMarker); }
  std::uint32_t PlayerItem() const { return game->Read<std::uint32_t>(kPlayerItem); }
  std::uint32_t Item(std::uint32_t number) { return Address(game->Item(number)); }
  // A remote player with its item number in its snapshot and its own marker.
  void Link(std::uint16_t item) {
    ASSERT_TRUE(mps::LinkPlayer(item));
    std::uint8_t* snapshot = mps::GetPlayerSnapshot(item);
    std::memcpy(snapshot, &item, sizeof item);
    snapshot[kMarker] = std::uint8_t(item);
  }
  // Records who each call of the routine sees, and changes the marker in the game's state.
  std::vector<Seen>& Watch(Routine routine, std::function<void()> more = nullptr) {
    game->OnCall(routine, [this, more](const gamedouble::StubCall&) -> std::uint32_t {
      seen.push_back({Player(), PlayerItem(), Marker()});
      game->Write<std::uint8_t>(kPlayerState.In(B()) + kMarker, std::uint8_t(Marker() + 1));
      if (more) more();
      return 0;
    });
    return seen;
  }
  Bytes LocalState() {
    Bytes state(mps::kSnapshotSize);
    mps::SavePlayerState(state.data());
    return state;
  }
  // The callee-saved registers and the stack as the caller left them.
  void ExpectKept(const gamedouble::RunResult& run) {
    const auto saved = [](const auto& r) { return std::vector<std::uint32_t>{r.ebx, r.esi, r.edi, r.ebp}; };
    EXPECT_EQ(saved(run.after), saved(run.before));
    EXPECT_EQ(run.stackDelta, 0);
  }
  std::vector<Seen> seen;
};

TEST_P(PlayerSwitchingTest, AnEmptyListRunsOnlyTheLocalPlayersRoutines) {
  if (V()) game->Write<std::uint8_t>(kStateByteV, 5);
  ExpectKept(game->Run(Routine::PlayerControlCaller));
  ExpectKept(game->Run(Routine::PlayerDrawCaller));
  ExpectKept(game->Run(Routine::MirroredDrawCaller));
  EXPECT_EQ(game->CallsOf(Routine::PlayerControlRoutine).size(), 1u);
  EXPECT_EQ(game->CallsOf(Routine::PlayerControlRoutineV).size(), V() ? 1u : 0u);
  EXPECT_EQ(game->CallsOf(Routine::PlayerDrawRoutine).size(), 2u);
  EXPECT_EQ(game->Calls().size(), V() ? 4u : 3u);
}

TEST_P(PlayerSwitchingTest, EachRemotePlayerIsControlledInItsOwnState) {
  Link(kFirst);
  Link(kSecond);
  Watch(Routine::PlayerControlRoutine);
  const Bytes before = LocalState();
  ExpectKept(game->Run(Routine::PlayerControlCaller));
  ExpectKept(game->Run(Routine::PlayerControlCaller));
  ASSERT_EQ(seen.size(), 6u);
  const std::uint16_t order[] = {kLocal, kFirst, kSecond};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    const std::uint16_t player = order[i % 3];
    EXPECT_EQ(seen[i].player, player);
    EXPECT_EQ(seen[i].item, Item(player));
    // Each change persists in that player's own state.
    EXPECT_EQ(seen[i].marker, (player == kLocal ? 0x40 : player) + i / 3);
  }
  Bytes expected = before;
  expected[kMarker] += 2;
  EXPECT_TRUE(LocalState() == expected) << "the local state ends as the local routine left it";
  EXPECT_EQ(PlayerItem(), Item(kLocal));
  EXPECT_FALSE(mps::IsRemoteCurrent());
  EXPECT_EQ(mps::GetPlayerSnapshot(kSecond)[kMarker], kSecond + 2);
}

// The mirrored draw turns the remote player's values over and back exactly, at the ends of their ranges too.
TEST_P(PlayerSwitchingTest, TheMirroredDrawIsUndoneExactly) {
  Link(kFirst);
  const std::uint32_t block = V() ? 343 : 346, longAt = V() ? 0x104 : 0xBC, wordAt = V() ? 0x10A : 0xC2;
  const std::uint32_t stride = V() ? 42 : 30;
  std::uint8_t* snapshot = mps::GetPlayerSnapshot(kFirst);
  const std::int32_t longs[] = {INT32_MIN, INT32_MAX, -1, 0, 1000, 7, -300};
  const std::int16_t words[] = {-32768, 32767, -1, 0, 100, 3, -7};
  for (std::uint32_t k = 0; k < 7; ++k) {
    std::memcpy(snapshot + block + longAt - stride * k, &longs[k], 4);
    std::memcpy(snapshot + block + wordAt - stride * k, &words[k], 2);
  }
  std::uint8_t* item = game->Item(kFirst);
  const std::int32_t itemLong = INT32_MIN;
  const std::int16_t itemWords[] = {-32768, 12, -32768};
  std::memcpy(item + 72, &itemLong, 4);
  std::memcpy(item + 76, itemWords, sizeof itemWords);
  game->Write<std::int32_t>(kMirrorValue, 100);
  const Bytes snapshotBefore(snapshot, snapshot + mps::kSnapshotSize);
  const Bytes itemBefore(item, item + 96);

  std::int32_t mirroredLong = 0, mirroredJoint = 0;
  std::int16_t mirroredWords[3] = {}, mirroredJointWord = 0;
  game->OnCall(Routine::PlayerMeshRoutine, [&](const gamedouble::StubCall&) -> std::uint32_t {
    std::memcpy(&mirroredLong, item + 72, 4);
    std::memcpy(mirroredWords, item + 76, 6);
    mirroredJoint = game->Read<std::int32_t>(kSecondBlock.In(B()) + longAt);
    mirroredJointWord = game->Read<std::int16_t>(kSecondBlock.In(B()) + wordAt);
    // The game's routines may change the value; the undoing still uses the one read before.
    game->Write<std::int32_t>(kMirrorValue, 555);
    return 0;
  });
  ExpectKept(game->Run(Routine::MirroredDrawCaller));
  EXPECT_EQ(mirroredLong, std::int32_t(200u - std::uint32_t(INT32_MIN)));
  EXPECT_EQ(mirroredWords[0], -32768);
  EXPECT_EQ(mirroredWords[1], -12);
  EXPECT_EQ(mirroredWords[2], 0);
  EXPECT_EQ(mirroredJoint, std::int32_t(200u - std::uint32_t(INT32_MIN)));
  EXPECT_EQ(mirroredJointWord, 0) << "-0x8000 - (-32768) in 16 bits";
  EXPECT_TRUE(Bytes(snapshot, snapshot + mps::kSnapshotSize) == snapshotBefore);
  EXPECT_TRUE(Bytes(item, item + 96) == itemBefore);
}

TEST_P(PlayerSwitchingTest, TheDrawPopsTheMatrixStackAndDrawsHeldObjects) {
  Link(kFirst);
  std::uint8_t* snapshot = mps::GetPlayerSnapshot(kFirst);
  snapshot[V() ? 0xD6 : 0xD4] = 1;  // one held object
  const std::uint32_t top = game->Read<std::uint32_t>(kMatrixStack);
  const std::uint32_t topV = V() ? game->Read<std::uint32_t>(kMatrixStackV2) : 0;
  ExpectKept(game->Run(Routine::PlayerDrawCaller));
  EXPECT_EQ(game->Read<std::uint32_t>(kMatrixStack), top - 2 * 48);
  if (V()) {
    EXPECT_EQ(game->Read<std::uint32_t>(kMatrixStackV2), topV - 2 * 48);
  }
  EXPECT_EQ(game->CallsOf(Routine::HeldObjectRoutine).size(), 1u);
  EXPECT_EQ(game->CallsOf(Routine::PlayerDrawRoutine).size(), 2u);
  EXPECT_EQ(game->CallsOf(Routine::PlayerMeshRoutine).size(), 2u);
  EXPECT_EQ(game->CallsOf(Routine::MatrixRoutine).size(), 1u);
  EXPECT_EQ(game->CallsOf(Routine::PlayerExtraRoutine).size(), 1u);
}

// Items belong to the player that was current when they were made; their routines run in that player's state.
TEST_P(PlayerSwitchingTest, ItemsRunInTheirOwnersState) {
  constexpr std::uint16_t kMade = 40;
  std::uint8_t structure[64] = {};
  Link(kFirst);
  Watch(Routine::PlayerControlRoutine, [&] {
    if (Player() == kFirst) game->Run(Routine::ItemCreationCaller, {Address(structure), kMade});
  });
  game->Run(Routine::PlayerControlCaller);
  EXPECT_EQ(mps::GetItemOwner(kMade), kFirst);
  EXPECT_EQ(structure[34] | structure[35] << 8, 0x4210);

  seen.clear();
  Watch(Routine::ItemRoutine);
  const Bytes local = LocalState();
  const std::uint8_t remoteMarker = mps::GetPlayerSnapshot(kFirst)[kMarker];
  ExpectKept(game->Run(Routine::ItemRoutineCaller, {kMade, game->Address(Routine::ItemRoutine)}));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].player, kFirst);
  EXPECT_EQ(seen[0].item, Item(kFirst));
  EXPECT_TRUE(LocalState() == local);
  EXPECT_EQ(mps::GetPlayerSnapshot(kFirst)[kMarker], remoteMarker + 1);

  // An owner that left the list is neither switched to nor back from.
  ASSERT_TRUE(mps::UnlinkPlayer(kFirst));
  game->Run(Routine::ItemRoutineCaller, {kMade, game->Address(Routine::ItemRoutine)});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].player, kLocal);
  EXPECT_EQ(Marker(), local[kMarker] + 1) << "the local change stays";

  // SetUpItemLinkedLists forgets every owner.
  RaiseModuleEvent(MODULEEVENT_SETUPITEMLINKEDLISTS, nullptr);
  EXPECT_EQ(mps::GetItemOwner(kMade), mps::kNoItem);
}

TEST_P(PlayerSwitchingTest, TheObjectRoutineLeavesPlayerItemsAlone) {
  RaiseModuleEvent(MODULEEVENT_DEFINEALLOBJECTS, nullptr);
  game->Run(Routine::ObjectRoutineCaller, {3, Item(3), 77});
  EXPECT_TRUE(game->CallsOf(Routine::ObjectDefaultRoutine).empty());
  game->Run(Routine::ObjectRoutineCaller, {3, Item(4), 77});
  const auto calls = game->CallsOf(Routine::ObjectDefaultRoutine);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arguments[0], 77u);
}

INSTANTIATE_TEST_SUITE_P(Builds, PlayerSwitchingTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
