// MultiplePlayerSupport: snapshots at the game's places, the remote list, owners and the client's calls in every
// state; its hooks on the double's code (control, draw, mirrored draw, item routines and owners).
#include <features/MultiplePlayerSupport.h>

#include <malloc.h>

#include <functional>

#include "feature_fixture.h"

namespace {

using namespace featuretest;
namespace mps = MultiplePlayerSupport;
using P = gamedouble::Place;

constexpr P kPlayerState{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60}, kSecondBlock{0x80E040, 0x80E160, 0x80E1A0, 0xE5C000};
constexpr P kPlayerItem{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08}, kMirrorValue{0x7FDE44, 0x7FDF64, 0x7FDFA4, 0xE6D748};
constexpr P kMatrixStack{0x7E70C8, 0x7E71D8, 0x7E7218, 0x55DA2C}, kObjects{0x52B720, 0x52B850, 0x52B890, 0x86CF50};
constexpr std::uint32_t kMatrixStackV2 = 0xE4B0F8, kStateByteV = 0xEEEAD0;
constexpr std::uint32_t kMarker = 10;  // a byte of the player state's first block, for the routines to change
constexpr std::uint16_t kLocal = 0, kFirst = 5, kSecond = 9;
struct Piece {
  std::uint32_t offset, size;
  P place;
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
  // The module registered, the local player current with its marker set.
  void Start() {
    ASSERT_EQ(Register(u"MultiplePlayerSupport", &module), 1u);
    game->Write<std::uint16_t>(kPlayerState, kLocal);
    game->Write<std::uint8_t>(kPlayerState.In(B()) + kMarker, 0x40);
  }
  std::uint8_t Marker() const { return game->Read<std::uint8_t>(kPlayerState.In(B()) + kMarker); }
  std::uint32_t Item(std::uint32_t number) { return Address(game->Item(number)); }
  // A remote player with its item number in its snapshot and its own marker.
  std::uint8_t* Link(std::uint16_t item) {
    EXPECT_TRUE(mps::LinkPlayer(item));
    std::uint8_t* snapshot = mps::GetPlayerSnapshot(item);
    std::memcpy(snapshot, &item, sizeof item);
    snapshot[kMarker] = std::uint8_t(item);
    return snapshot;
  }
  // Records who each call of the routine sees (player, player's item, marker) and changes the game's marker.
  void Watch(Routine routine, std::function<void()> more = nullptr) {
    game->OnCall(routine, [this, more](const gamedouble::StubCall&) -> std::uint32_t {
      seen.push_back({game->Read<std::uint16_t>(kPlayerState), game->Read<std::uint32_t>(kPlayerItem), Marker()});
      game->Write<std::uint8_t>(kPlayerState.In(B()) + kMarker, std::uint8_t(Marker() + 1));
      if (more) more();
      return 0;
    });
  }
  Bytes LocalState() {
    Bytes state(mps::kSnapshotSize);
    mps::SavePlayerState(state.data());
    return state;
  }
  // Runs a routine and checks the callee-saved registers and the stack are as the caller left them.
  void RunKept(Routine routine, std::initializer_list<std::uint32_t> arguments = {}) {
    const gamedouble::RunResult run = game->Run(routine, arguments);
    const auto saved = [&](const auto& r) { return Words{r.ebx, r.esi, r.edi, r.ebp, unsigned(run.stackDelta)}; };
    EXPECT_EQ(saved(run.after), saved(run.before)) << gamedouble::NameOf(routine);
  }
  tHackModule* module = nullptr;
  std::vector<Words> seen;
};

// Every piece lands at its offset and goes back; the snapshot's gaps are never written.
TEST_P(MultiplePlayerSupportTest, SnapshotsCopyEveryPieceBothWays) {
  Bytes snapshot(mps::kSnapshotSize, 0xEE);
  const auto place = [&](const Piece& p) { return reinterpret_cast<std::uint8_t*>(std::uintptr_t(At(p.place))); };
  const auto pieces = [&] {  // whether the game and the snapshot hold the same pieces, and the snapshot's gaps
    Bytes inGame, inSnapshot, gaps = snapshot;
    for (const Piece& p : kPieces) {
      if (p.place.In(B()) == 0) continue;
      inGame.insert(inGame.end(), place(p), place(p) + p.size);
      inSnapshot.insert(inSnapshot.end(), &snapshot[p.offset], &snapshot[p.offset] + p.size);
      std::fill_n(gaps.begin() + p.offset, p.size, 0xEE);
    }
    return std::pair(inGame == inSnapshot, gaps);
  };
  for (const Piece& p : kPieces)
    for (std::uint32_t i = 0; p.place.In(B()) != 0 && i < p.size; ++i) place(p)[i] = std::uint8_t(p.offset + i * 7);
  mps::SavePlayerState(snapshot.data());
  EXPECT_EQ(pieces(), std::pair(true, Bytes(mps::kSnapshotSize, 0xEE)));
  for (std::uint32_t i = 0; i < mps::kSnapshotSize; ++i) snapshot[i] = std::uint8_t(i * 3);
  mps::LoadPlayerState(snapshot.data());
  EXPECT_TRUE(pieces().first);
}

// Every call answers "no" before Init and after Unload; between them the remote list keeps its order and refuses
// what is not usable, snapshots start zero, laying the items out forgets everyone, and DefineAllObjects sets the
// object record until Unload. The player's item is back as it was.
TEST_P(MultiplePlayerSupportTest, TheClientsCallsFromInitToUnload) {
  const auto link = mps::LinkPlayer, unlink = mps::UnlinkPlayer;
  const auto refuses = [&](const char* when) {
    mps::SetRemoteCurrent(true);
    EXPECT_EQ((Words{link(1), unlink(1), mps::IsPlayerLinked(1), mps::CountPlayers(), !!mps::GetPlayerSnapshot(1),
                     !!mps::GetLocalSnapshot(), mps::GetItemOwner(1) != mps::kNoItem, mps::SwitchToPlayer(1),
                     mps::IsRemoteCurrent()}), Words(9, 0)) << when;
  };
  const std::uint32_t playerItem = game->Read<std::uint32_t>(kPlayerItem), routine = kObjects.In(B()) + 32;
  const std::uint32_t count = routine + 8;
  const auto objects = [&] { return Words{game->Read<std::uint32_t>(routine), game->Read<std::uint16_t>(count)}; };
  game->Write<std::uint32_t>(routine, 0x11223344);
  game->Write<std::uint16_t>(count, 3);
  refuses("before Init");
  Start();
  EXPECT_EQ(module->m_Hacks.m_Count, V() ? 6u : 5u);
  EXPECT_EQ((Words{link(5), link(9), link(7), link(9), mps::CountPlayers(), unlink(9), unlink(9), link(9), unlink(5),
                   unlink(9), unlink(7), mps::CountPlayers(), link(7)}),
            (Words{1, 1, 1, 0, 3, 1, 0, 1, 1, 1, 1, 0, 1}));
  const std::uint8_t* snapshot = mps::GetPlayerSnapshot(200);
  EXPECT_TRUE(snapshot != nullptr && Bytes(snapshot, snapshot + mps::kSnapshotSize) == Bytes(mps::kSnapshotSize, 0));
  RaiseModuleEvent(MODULEEVENT_SETUPITEMLINKEDLISTS, nullptr);
  EXPECT_EQ((Words{mps::CountPlayers(), mps::IsPlayerLinked(7), link(7)}), (Words{0, 0, 1}));
  RaiseModuleEvent(MODULEEVENT_DEFINEALLOBJECTS, nullptr);
  EXPECT_EQ((Words{objects()[0] != 0x11223344u, objects()[1]}), (Words{1, 15}));
  ASSERT_EQ(UnloadHackModule(module), 1u);
  refuses("after Unload");
  mps::SwitchToLocalPlayer();
  EXPECT_EQ(objects(), (Words{0x11223344, 3}));
  EXPECT_EQ(game->Read<std::uint32_t>(kPlayerItem), playerItem);
}

// A registry dropped without unloading leaves the module loaded; each Init over it starts a fresh state and frees the
// one before, so the bytes held stay those of one state however often it comes (LeakSanitizer sees the rest).
TEST_P(MultiplePlayerSupportTest, AnInitOverALoadedModuleHoldsOneState) {
  const auto held = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  constexpr std::size_t kSnapshots = std::size_t(kMaxItemLimit) * mps::kSnapshotSize;
  Start();
  ASSERT_TRUE(mps::LinkPlayer(kFirst));
  const std::size_t once = held();
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    hack::testing::ResetHackRegistry();
    Start();
    EXPECT_LT(held(), once + kSnapshots / 2);
    // Nothing of the earlier state shows through the new one.
    EXPECT_EQ((Words{mps::CountPlayers(), mps::IsPlayerLinked(kFirst)}), (Words{0, 0}));
    ASSERT_TRUE(mps::LinkPlayer(kFirst));
  }
}

// Item numbers are checked against the item limit, whichever order the two modules load in.
TEST_P(MultiplePlayerSupportTest, ItemNumbersAtTheLimit) {
  for (bool limitsFirst : {false, true}) {
    SCOPED_TRACE(limitsFirst ? "IncreasedLimits first" : "MultiplePlayerSupport first");
    hack::testing::ResetHackRegistry();
    g_ItemLimit = kGameItemLimit;
    tHackModule *players = nullptr, *limits = nullptr;
    if (limitsFirst) Register(u"IncreasedLimits", &limits);
    ASSERT_EQ(Register(u"MultiplePlayerSupport", &players), 1u);
    if (!limitsFirst) Register(u"IncreasedLimits", &limits);
    const std::uint32_t raised = Editor();
    EXPECT_EQ((Words{g_ItemLimit, mps::LinkPlayer(255), mps::LinkPlayer(256), mps::LinkPlayer(1023),
                     !!mps::GetPlayerSnapshot(1023), mps::LinkPlayer(1024), !!mps::GetPlayerSnapshot(1024),
                     mps::SwitchToPlayer(-1)}),
              (Words{raised ? kIncreasedItemLimit : kGameItemLimit, 1, raised, raised, raised, 0, 0, 0}));
    UnloadHackModule(limits);
    EXPECT_EQ((Words{g_ItemLimit, !!mps::GetPlayerSnapshot(1023)}), (Words{kGameItemLimit, 0}));
    UnloadHackModule(players);
  }
}

// With no remote player only the local player's routines run; with one, the draw pops the matrix stack for it and
// draws what it holds, and the mirrored draw turns its values over and back exactly, at the ends of their ranges too.
TEST_P(MultiplePlayerSupportTest, TheDrawsRunForEachPlayerAndUndoWhatTheyChange) {
  Start();
  if (V()) game->Write<std::uint8_t>(kStateByteV, 5);
  for (Routine caller : {Routine::PlayerControlCaller, Routine::PlayerDrawCaller, Routine::MirroredDrawCaller})
    RunKept(caller);
  EXPECT_EQ((Words{Calls(Routine::PlayerControlRoutine), Calls(Routine::PlayerControlRoutineV),
                   Calls(Routine::PlayerDrawRoutine), game->Calls().size()}), (Words{1, V(), 2, V() ? 4u : 3u}));
  game->ClearCalls();
  std::uint8_t *snapshot = Link(kFirst), *item = game->Item(kFirst);
  snapshot[V() ? 0xD6 : 0xD4] = 1;  // one held object
  const std::uint32_t top = game->Read<std::uint32_t>(kMatrixStack), topV = game->Read<std::uint32_t>(kMatrixStackV2);
  RunKept(Routine::PlayerDrawCaller);
  EXPECT_EQ((Words{game->Read<std::uint32_t>(kMatrixStack), game->Read<std::uint32_t>(kMatrixStackV2),
                   Calls(Routine::HeldObjectRoutine), Calls(Routine::PlayerDrawRoutine),
                   Calls(Routine::PlayerMeshRoutine), Calls(Routine::MatrixRoutine),
                   Calls(Routine::PlayerExtraRoutine)}),
            (Words{top - 2 * 48, V() ? topV - 2 * 48 : topV, 1, 2, 2, 1, 1}));

  const std::uint32_t block = V() ? 343 : 346, longAt = V() ? 0x104 : 0xBC, wordAt = V() ? 0x10A : 0xC2;
  const std::uint32_t stride = V() ? 42 : 30;
  const std::int32_t longs[] = {INT32_MIN, INT32_MAX, -1, 0, 1000, 7, -300};
  const std::int16_t words[] = {-32768, 32767, -1, 0, 100, 3, -7}, itemWords[] = {-32768, 12, -32768};
  for (std::uint32_t k = 0; k < 7; ++k) {
    std::memcpy(snapshot + block + longAt - stride * k, &longs[k], 4);
    std::memcpy(snapshot + block + wordAt - stride * k, &words[k], 2);
  }
  std::memcpy(item + 72, &longs[0], 4);
  std::memcpy(item + 76, itemWords, sizeof itemWords);
  game->Write<std::int32_t>(kMirrorValue, 100);
  const Bytes snapshotBefore(snapshot, snapshot + mps::kSnapshotSize), itemBefore(item, item + 96);
  std::vector<std::int32_t> mirrored;  // the item's long and three words, the joint's long and word
  game->OnCall(Routine::PlayerMeshRoutine, [&](const gamedouble::StubCall&) -> std::uint32_t {
    const std::uint32_t at = Address(item), joint = kSecondBlock.In(B());
    mirrored = {game->Read<std::int32_t>(at + 72), game->Read<std::int16_t>(at + 76), game->Read<std::int16_t>(at + 78),
                game->Read<std::int16_t>(at + 80), game->Read<std::int32_t>(joint + longAt),
                game->Read<std::int16_t>(joint + wordAt)};
    // The game's routines may change the value; the undoing still uses the one read before.
    game->Write<std::int32_t>(kMirrorValue, 555);
    return 0;
  });
  RunKept(Routine::MirroredDrawCaller);
  // The joint's word: -0x8000 - (-32768) in 16 bits.
  const std::int32_t mirroredLong = std::int32_t(200u - std::uint32_t(INT32_MIN));
  EXPECT_EQ(mirrored, (std::vector<std::int32_t>{mirroredLong, -32768, -12, 0, mirroredLong, 0}));
  EXPECT_TRUE(Bytes(snapshot, snapshot + mps::kSnapshotSize) == snapshotBefore && Bytes(item, item + 96) == itemBefore);
}

// Each remote player is controlled in its own state. Items belong to the player that was current when they were
// made; their routines run in that player's state. An object routine leaves player items alone.
TEST_P(MultiplePlayerSupportTest, EachPlayerAndItsItemsRunInItsOwnState) {
  Start();
  constexpr std::uint16_t kMade = 40;
  std::uint8_t structure[64] = {};
  std::uint8_t* remote = Link(kFirst);
  Link(kSecond);
  Watch(Routine::PlayerControlRoutine, [&] {
    if (game->Read<std::uint16_t>(kPlayerState) == kFirst)
      game->Run(Routine::ItemCreationCaller, {Address(structure), kMade});
  });
  Bytes local = LocalState();
  RunKept(Routine::PlayerControlCaller);
  RunKept(Routine::PlayerControlCaller);
  // Each change persists in that player's own state; the local state ends as the local routine left it.
  std::vector<Words> order;
  for (std::uint32_t round = 0; round < 2; ++round)
    for (std::uint16_t player : {kLocal, kFirst, kSecond})
      order.push_back({player, Item(player), (player == kLocal ? 0x40u : player) + round});
  EXPECT_EQ(seen, order);
  local[kMarker] += 2;
  EXPECT_TRUE(LocalState() == local);
  EXPECT_EQ((Words{game->Read<std::uint32_t>(kPlayerItem), mps::IsRemoteCurrent(),
                   mps::GetPlayerSnapshot(kSecond)[kMarker], mps::GetItemOwner(kMade),
                   structure[34] | structure[35] << 8 | 0u}),
            (Words{Item(kLocal), 0, kSecond + 2, kFirst, 0x4210}));
  seen.clear();
  Watch(Routine::ItemRoutine);
  const std::uint8_t remoteMarker = remote[kMarker];
  RunKept(Routine::ItemRoutineCaller, {kMade, game->Address(Routine::ItemRoutine)});
  EXPECT_EQ(seen, (std::vector<Words>{{kFirst, Item(kFirst), remoteMarker}}));
  EXPECT_EQ(std::pair(LocalState() == local, remote[kMarker] + 0u), std::pair(true, remoteMarker + 1u));
  // An owner that left the list is neither switched to nor back from: the local change stays.
  ASSERT_TRUE(mps::UnlinkPlayer(kFirst));
  game->Run(Routine::ItemRoutineCaller, {kMade, game->Address(Routine::ItemRoutine)});
  EXPECT_EQ((Words{seen.size(), seen.back()[0], Marker()}), (Words{2, kLocal, local[kMarker] + 1u}));
  // SetUpItemLinkedLists forgets every owner.
  RaiseModuleEvent(MODULEEVENT_SETUPITEMLINKEDLISTS, nullptr);
  EXPECT_EQ(mps::GetItemOwner(kMade), mps::kNoItem);
  RaiseModuleEvent(MODULEEVENT_DEFINEALLOBJECTS, nullptr);
  game->Run(Routine::ObjectRoutineCaller, {3, Item(3), 77});
  EXPECT_EQ(Calls(Routine::ObjectDefaultRoutine), 0u);
  game->Run(Routine::ObjectRoutineCaller, {3, Item(4), 77});
  const auto calls = game->CallsOf(Routine::ObjectDefaultRoutine);
  EXPECT_EQ(calls.size() == 1 ? Words{calls[0].arguments[0]} : Words{}, Words(1, 77));
}

INSTANTIATE_TEST_SUITE_P(Builds, MultiplePlayerSupportTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
