// MultiplePlayerSupport's hooks on the double's code: control, draw, mirrored draw, item routines and owners.
#include <features/MultiplePlayerSupport.h>

#include <functional>

#include "FeatureTestSupport.h"

namespace {

using namespace featuretest;
namespace mps = MultiplePlayerSupport;
using gamedouble::Place;

constexpr Place kPlayerState{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
constexpr Place kPlayerItem{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08};
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

class PlayerSwitchingTest : public FeatureTest {
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
  void ExpectKept(const gamedouble::RunResult& run) {
    EXPECT_EQ(run.after.ebx, run.before.ebx);
    EXPECT_EQ(run.after.esi, run.before.esi);
    EXPECT_EQ(run.after.edi, run.before.edi);
    EXPECT_EQ(run.after.ebp, run.before.ebp);
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
