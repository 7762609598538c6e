// MultiplePlayerSupport: snapshots at the game's places, the remote list, owners and the client's calls in every state.
#include <features/ItemLimit.h>
#include <features/MultiplePlayerSupport.h>

#include "FeatureTestSupport.h"

namespace {

using namespace featuretest;
namespace mps = MultiplePlayerSupport;

struct Piece {
  std::uint32_t offset, size;
  gamedouble::Place place;
};
// Written from the table of the player state's pieces (column C's piece at 956 at the demo's own address).
const Piece kPieces[] = {
    {0, 346, {0x80DEC0, 0x80DFE0, 0x80E020, 0}},
    {346, 420, {0x80E040, 0x80E160, 0x80E1A0, 0}},
    {0, 343, {0, 0, 0, 0xE5BD60}},
    {343, 588, {0, 0, 0, 0xE5C000}},
    {931, 1, {0, 0, 0, 0xEEEAD0}},
    {932, 4, {0x5355D8, 0x535704, 0x535744, 0x878D98}},
    {936, 4, {0x7FE720, 0x7FE840, 0x7FE880, 0xEEF960}},
    {940, 8, {0x80E020, 0x80E140, 0x80E180, 0xE5BF60}},
    {948, 2, {0x80E01A, 0x80E13A, 0x80E17A, 0xE5BF04}},
    {950, 2, {0x7FE744, 0x7FE864, 0x7FE8A4, 0xEEF984}},
    {952, 2, {0x7FE746, 0x7FE866, 0x7FE8A6, 0xEEF986}},
    {956, 4, {0x7FE72C, 0x7FE84C, 0x7FE88C, 0xEEF96C}},
    {960, 720, {0x80E8E0, 0x80EA00, 0x80EA40, 0xE86600}},
    {1680, 720, {0x80E600, 0x80E720, 0x80E760, 0xE868E0}},
    {2400, 720, {0, 0, 0, 0xE86BC0}},
    {3120, 720, {0, 0, 0, 0xE86320}},
};

class MultiplePlayerSupportTest : public FeatureTest {
 protected:
  void TearDown() override {
    FeatureTest::TearDown();
    g_ItemLimit = kGameItemLimit;
  }
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
  mps::SavePlayerState(snapshot.data());
  std::vector<bool> covered(mps::kSnapshotSize, false);
  for (const Piece& piece : kPieces) {
    if (piece.place.In(B()) == 0) continue;
    SCOPED_TRACE(piece.offset);
    EXPECT_EQ(std::memcmp(snapshot.data() + piece.offset, GamePlace(piece), piece.size), 0);
    for (std::uint32_t i = 0; i < piece.size; ++i) covered[piece.offset + i] = true;
  }
  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) {
    if (covered[i]) continue;
    ASSERT_EQ(snapshot[i], 0xEE) << i;
  }

  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) snapshot[i] = std::uint8_t(i * 3);
  mps::LoadPlayerState(snapshot.data());
  for (const Piece& piece : kPieces) {
    if (piece.place.In(B()) == 0) continue;
    SCOPED_TRACE(piece.offset);
    EXPECT_EQ(std::memcmp(snapshot.data() + piece.offset, GamePlace(piece), piece.size), 0);
  }
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
  const std::uint32_t playerItem = game->Read<std::uint32_t>({0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08});
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
  EXPECT_EQ(game->Read<std::uint32_t>({0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08}), playerItem);
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
  const gamedouble::Place record{0x52B720, 0x52B850, 0x52B890, 0x86CF50};
  game->Write<std::uint32_t>(record.In(B()) + 32, 0x11223344);
  game->Write<std::uint16_t>(record.In(B()) + 40, 3);
  tHackModule* module = nullptr;
  ASSERT_EQ(Register(u"MultiplePlayerSupport", &module), 1u);
  EXPECT_EQ(PatchCount(module), V() ? 6u : 5u);
  RaiseModuleEvent(MODULEEVENT_DEFINEALLOBJECTS, nullptr);
  EXPECT_NE(game->Read<std::uint32_t>(record.In(B()) + 32), 0x11223344u);
  EXPECT_EQ(game->Read<std::uint16_t>(record.In(B()) + 40), 15);
  UnloadHackModule(module);
  EXPECT_EQ(game->Read<std::uint32_t>(record.In(B()) + 32), 0x11223344u);
  EXPECT_EQ(game->Read<std::uint16_t>(record.In(B()) + 40), 3);
}

INSTANTIATE_TEST_SUITE_P(Builds, MultiplePlayerSupportTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
