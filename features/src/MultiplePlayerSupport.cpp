// The MultiplePlayerSupport module: remote players' snapshots, the switches around the game's player code, its hooks.
#include <features/MultiplePlayerSupport.h>

#include <features/ItemLimit.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>

#include "GamePlace.h"
#include "HookTrampolines.h"

namespace {

using MultiplePlayerSupport::kNoItem;
using MultiplePlayerSupport::kSnapshotSize;

constexpr std::uint32_t kItemRecordBytes = 5622;
// Item numbers travel in the low word of the game's registers.
constexpr std::uint32_t kLowWord = 0xFFFF;

// ---- The snapshot: pieces of the game's player state ---------------------------------------------------------

struct SnapshotPiece {
  std::uint32_t offset;
  std::uint32_t size;
  GamePlace place;
};
// Game IV. The piece at 956 on the Corvel demo lies 0x40 above the Release Patched place, as its neighbours do.
constexpr SnapshotPiece kPiecesIV[] = {
    {0, 346, {0x80DEC0, 0x80DFE0, 0x80E020, 0}},    {346, 420, {0x80E040, 0x80E160, 0x80E1A0, 0}},
    {932, 4, {0x5355D8, 0x535704, 0x535744, 0}},    {936, 4, {0x7FE720, 0x7FE840, 0x7FE880, 0}},
    {940, 8, {0x80E020, 0x80E140, 0x80E180, 0}},    {948, 2, {0x80E01A, 0x80E13A, 0x80E17A, 0}},
    {950, 2, {0x7FE744, 0x7FE864, 0x7FE8A4, 0}},    {952, 2, {0x7FE746, 0x7FE866, 0x7FE8A6, 0}},
    {956, 4, {0x7FE72C, 0x7FE84C, 0x7FE88C, 0}},    {960, 720, {0x80E8E0, 0x80EA00, 0x80EA40, 0}},
    {1680, 720, {0x80E600, 0x80E720, 0x80E760, 0}},
};
constexpr SnapshotPiece kPiecesV[] = {
    {0, 343, {0, 0, 0, 0xE5BD60}},    {343, 588, {0, 0, 0, 0xE5C000}},  {931, 1, {0, 0, 0, 0xEEEAD0}},
    {932, 4, {0, 0, 0, 0x878D98}},    {936, 4, {0, 0, 0, 0xEEF960}},    {940, 8, {0, 0, 0, 0xE5BF60}},
    {948, 2, {0, 0, 0, 0xE5BF04}},    {950, 2, {0, 0, 0, 0xEEF984}},    {952, 2, {0, 0, 0, 0xEEF986}},
    {956, 4, {0, 0, 0, 0xEEF96C}},    {960, 720, {0, 0, 0, 0xE86600}},  {1680, 720, {0, 0, 0, 0xE868E0}},
    {2400, 720, {0, 0, 0, 0xE86BC0}}, {3120, 720, {0, 0, 0, 0xE86320}},
};

// ---- Game places -----------------------------------------------------------------------------------------------

constexpr GamePlace kPlayerItemPointer{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08};
constexpr GamePlace kItemArrayPointer{0x7FE16C, 0x7FE28C, 0x7FE2CC, 0xEEEFF0};
// The first block of the player state; its first u16 is the player character's item number.
constexpr GamePlace kPlayerState{0x80DEC0, 0x80DFE0, 0x80E020, 0xE5BD60};
constexpr GamePlace kPlayerStateSecond{0x80E040, 0x80E160, 0x80E1A0, 0xE5C000};
// Game V's state byte, and the value at which the game runs its second control routine and no draw routine.
constexpr GamePlace kStateByteV{0, 0, 0, 0xEEEAD0};
constexpr std::uint8_t kStateByteSecondRoutine = 5;

constexpr GamePlace kControlRoutine{0x42FDD0, 0x430250, 0x430250, 0x40266C};
constexpr GamePlace kControlRoutineV{0, 0, 0, 0x47C950};
constexpr GamePlace kDrawRoutine{0x41D030, 0x41D140, 0x41D140, 0x401F14};
constexpr GamePlace kDrawRoutineA{0x41FCA0, 0x41FE50, 0x41FE50, 0x403102};
constexpr GamePlace kDrawRoutineAAgainFlag{0x7FD140, 0x7FD260, 0x7FD2A0, 0xE5C2A0};
constexpr std::uint8_t kDrawAgainBit = 1;
constexpr GamePlace kDrawRoutineB{0x41CF00, 0x41D010, 0x41D010, 0x402220};
constexpr GamePlace kDrawRoutineC{0x48DF90, 0x490310, 0x490150, 0x48FA90};
constexpr GamePlace kDrawRoutineD{0x48DF30, 0x4902B0, 0x4900F0, 0x401951};
constexpr GamePlace kHeldObjectRoutine{0x439510, 0x439B80, 0x439B70, 0x4023DD};
constexpr GamePlace kMirrorValue{0x7FDE44, 0x7FDF64, 0x7FDFA4, 0xE6D748};
// The matrix stack: its top pointer (game V keeps a second one that moves with it), a matrix's bytes.
constexpr GamePlace kMatrixStackTop{0x7E70C8, 0x7E71D8, 0x7E7218, 0x55DA2C};
constexpr GamePlace kMatrixStackTopV{0, 0, 0, 0xE4B0F8};
constexpr std::uint32_t kMatrixBytes = 48;
// The two held objects: the u16 in the first player-state block that says one is held, and its stored matrix.
struct HeldObject {
  std::uint32_t flagIV, flagV;
  GamePlace matrix;
};
constexpr HeldObject kHeldObjects[] = {{0xD4, 0xD6, {0x80E810, 0x80E930, 0x80E970, 0xE86AF0}},
                                       {0xC2, 0xC4, {0x80E8A0, 0x80E9C0, 0x80EA00, 0xE86B80}}};

constexpr GamePlace kObjectRecord{0x52B720, 0x52B850, 0x52B890, 0x86CF50};
constexpr std::uint32_t kObjectRoutineOffset = 32;
constexpr std::uint32_t kObjectValueOffset = 40;
constexpr std::uint16_t kObjectValue = 15;
constexpr GamePlace kObjectFallback{0x446D60, 0x4475F0, 0x4475E0, 0x401785};

// Mirroring: seven joints of the second player-state block, and the item record's fields.
constexpr std::uint32_t kMirrorJoints = 7;
constexpr std::uint32_t kJointLongIV = 0xBC, kJointWordIV = 0xC2, kJointStrideIV = 30;
constexpr std::uint32_t kJointLongV = 0x104, kJointWordV = 0x10A, kJointStrideV = 42;
constexpr std::uint32_t kItemMirrorLong = 72, kItemNegatedWords[] = {76, 78}, kItemTurnedWord = 80;
constexpr std::uint16_t kHalfTurn = 0x8000;

// The structure the game fills for a new item: the overwritten store of its flags word.
constexpr std::uint32_t kNewItemFlagsOffset = 34;
constexpr std::uint16_t kNewItemFlags = 0x4210;

// The hooks: place, patch size, resume place.
struct HookPlace {
  GamePlace place;
  std::uint32_t size;
  GamePlace back;
};
constexpr HookPlace kDrawHook{{0x44E60F, 0x44EF5F, 0x44EF4F, 0x42A91C}, 7, {0x44E619, 0x44EF69, 0x44EF59, 0x42A923}};
constexpr HookPlace kMirroredDrawHook{
    {0x454D45, 0x455895, 0x455785, 0x45DCE5}, 8, {0x454D50, 0x4558A0, 0x455790, 0x45DCF0}};
constexpr HookPlace kControlHook{{0x449045, 0x44994F, 0x44993F, 0x414E0A}, 6, {0x44904E, 0x449958, 0x449948, 0x414E21}};
constexpr HookPlace kItemRoutineHook{
    {0x448EFE, 0x449809, 0x4497F9, 0x414C81}, 6, {0x448F04, 0x44980F, 0x4497FF, 0x414C87}};
constexpr HookPlace kItemCreationHook{
    {0x453E36, 0x454966, 0x454856, 0x441158}, 6, {0x453E3C, 0x45496C, 0x45485C, 0x44115E}};
constexpr GamePlace kNopV{0, 0, 0, 0x42A928};
constexpr std::uint32_t kNopVSize = 3;

// ---- The module's state -------------------------------------------------------------------------------------------

struct RemoteList {
  std::uint16_t head = kNoItem, tail = kNoItem;
  std::uint32_t count = 0;
};

// Made at Init, freed at Unload; null while the module is not loaded. Every table holds an entry for each item
// number below the largest item limit, whichever order IncreasedLimits and this module load in.
struct State {
  std::uint8_t snapshots[kMaxItemLimit][kSnapshotSize];
  std::uint16_t next[kMaxItemLimit];
  std::uint16_t previous[kMaxItemLimit];
  bool linked[kMaxItemLimit];
};
State* g_State = nullptr;
RemoteList g_List;
std::uint8_t g_LocalSnapshot[kSnapshotSize];
bool g_RemoteCurrent = false;
std::uint16_t g_Owners[kMaxItemLimit];
// What DefineAllObjects overwrote in the game's object record, for Unload to put back.
struct ObjectRecordSave {
  bool saved = false;
  std::uint32_t routine = 0;
  std::uint16_t value = 0;
};
ObjectRecordSave g_ObjectRecordSave;

// Translated once at Init: the game's places do not move while it runs.
struct Translated {
  std::uint32_t playerItemPointer, itemArrayPointer, playerState, playerStateSecond;
  std::uint32_t drawBack, mirroredDrawBack, controlBack, itemRoutineBack, itemCreationBack;
};
Translated g_At{};

bool Usable(std::uint32_t item) { return g_State != nullptr && IsUsableItem(item); }

template <typename Routine = void (*)()>
Routine RoutineAt(const GamePlace& place) {
  return reinterpret_cast<Routine>(std::uintptr_t(place.At()));
}
void Run(const GamePlace& place) { RoutineAt(place)(); }

std::uint16_t GamePlayerItemNumber() { return ReadGame<std::uint16_t>(g_At.playerState); }

void SetPlayerItem(std::uint32_t item) {
  const std::uint32_t array = ReadGame<std::uint32_t>(g_At.itemArrayPointer);
  WriteGame<std::uint32_t>(g_At.playerItemPointer, array + item * kItemRecordBytes);
}
std::uint32_t PlayerItem() { return ReadGame<std::uint32_t>(g_At.playerItemPointer); }

// The player character that is current: the local one while a remote player's state is loaded.
std::uint16_t CurrentPlayer() {
  if (g_RemoteCurrent) return ReadGame<std::uint16_t>(std::uint32_t(std::uintptr_t(g_LocalSnapshot)));
  return GamePlayerItemNumber();
}

// ---- Control and draw ---------------------------------------------------------------------------------------------

bool StateByteSaysSecondRoutine() {
  return IsGameV() && ReadGame<std::uint8_t>(kStateByteV.At()) == kStateByteSecondRoutine;
}

void RunControlRoutines() {
  Run(kControlRoutine);
  if (StateByteSaysSecondRoutine()) Run(kControlRoutineV);
}

// Calls visit(item) for each remote player from the head, never more often than the list counts.
template <typename Visit>
void ForEachRemote(Visit visit) {
  std::uint16_t item = g_List.head;
  for (std::uint32_t left = g_List.count; left > 0 && Usable(item); --left) {
    const std::uint16_t next = g_State->next[item];
    visit(item);
    item = next;
  }
}

void LoadRemote(std::uint16_t item) {
  SetPlayerItem(item);
  MultiplePlayerSupport::LoadPlayerState(g_State->snapshots[item]);
}

void ControlPlayers() {
  RunControlRoutines();
  if (g_State == nullptr || g_List.count == 0) return;
  MultiplePlayerSupport::SavePlayerState(g_LocalSnapshot);
  g_RemoteCurrent = true;
  ForEachRemote([](std::uint16_t item) {
    LoadRemote(item);
    RunControlRoutines();
    MultiplePlayerSupport::SavePlayerState(g_State->snapshots[item]);
  });
  MultiplePlayerSupport::SwitchToLocalPlayer();
}

// The value pairs a mirrored draw turns over: x becomes M - x (32-bit) or -0x8000 - x (16-bit). Applying twice
// gives back every value exactly, in wrap-around arithmetic, so the same M must serve both.
void TurnLong(std::uint32_t address, std::uint32_t mirror) {
  WriteGame<std::uint32_t>(address, mirror - ReadGame<std::uint32_t>(address));
}
void TurnWord(std::uint32_t address) {
  WriteGame<std::uint16_t>(address, std::uint16_t(kHalfTurn - ReadGame<std::uint16_t>(address)));
}

void Mirror(std::uint32_t mirror) {
  const bool v = IsGameV();
  const std::uint32_t stride = v ? kJointStrideV : kJointStrideIV;
  const std::uint32_t longAt = v ? kJointLongV : kJointLongIV, wordAt = v ? kJointWordV : kJointWordIV;
  for (std::uint32_t k = 0; k < kMirrorJoints; ++k) {
    TurnLong(g_At.playerStateSecond + longAt - stride * k, mirror);
    TurnWord(g_At.playerStateSecond + wordAt - stride * k);
  }
  const std::uint32_t item = PlayerItem();
  TurnLong(item + kItemMirrorLong, mirror);
  for (std::uint32_t offset : kItemNegatedWords)
    WriteGame<std::uint16_t>(item + offset, std::uint16_t(0u - ReadGame<std::uint16_t>(item + offset)));
  WriteGame<std::uint16_t>(item + kItemTurnedWord,
                           std::uint16_t(ReadGame<std::uint16_t>(item + kItemTurnedWord) + kHalfTurn));
}

void PopMatrixStack() {
  WriteGame<std::uint32_t>(kMatrixStackTop.At(), ReadGame<std::uint32_t>(kMatrixStackTop.At()) - kMatrixBytes);
  if (kMatrixStackTopV.Exists())
    WriteGame<std::uint32_t>(kMatrixStackTopV.At(), ReadGame<std::uint32_t>(kMatrixStackTopV.At()) - kMatrixBytes);
}

void DrawHeldObjects() {
  for (const HeldObject& held : kHeldObjects) {
    const std::uint32_t flag = IsGameV() ? held.flagV : held.flagIV;
    if (ReadGame<std::uint16_t>(g_At.playerState + flag) == 0) continue;
    const std::uint32_t top = ReadGame<std::uint32_t>(kMatrixStackTop.At());
    std::memcpy(GamePointer(top), GamePointer(held.matrix.At()), kMatrixBytes);
    Run(kHeldObjectRoutine);
  }
}

void DrawRemote(std::uint16_t item, bool mirrored, std::uint32_t mirror) {
  LoadRemote(item);
  if (mirrored) {
    Mirror(mirror);
  } else if (!StateByteSaysSecondRoutine()) {
    Run(kDrawRoutineA);
    if ((ReadGame<std::uint8_t>(kDrawRoutineAAgainFlag.At()) & kDrawAgainBit) != 0) Run(kDrawRoutineA);
  }
  Run(kDrawRoutineB);
  if (!mirrored) {
    Run(kDrawRoutineC);
    Run(kDrawRoutineB);
    PopMatrixStack();
  }
  Run(kDrawRoutine);
  Run(kDrawRoutineD);
  DrawHeldObjects();
  PopMatrixStack();
  if (mirrored) Mirror(mirror);
  MultiplePlayerSupport::SavePlayerState(g_State->snapshots[item]);
}

void DrawPlayers(bool mirrored) {
  Run(kDrawRoutine);
  if (g_State == nullptr || g_List.count == 0) return;
  MultiplePlayerSupport::SavePlayerState(g_LocalSnapshot);
  g_RemoteCurrent = true;
  // Read once: the game's routines run between applying the mirroring and undoing it.
  const std::uint32_t mirror = 2 * ReadGame<std::uint32_t>(kMirrorValue.At());
  ForEachRemote([&](std::uint16_t item) { DrawRemote(item, mirrored, mirror); });
  MultiplePlayerSupport::SwitchToLocalPlayer();
}

// ---- Item owners ------------------------------------------------------------------------------------------------

std::uint16_t OwnerOf(std::uint32_t item) { return Usable(item) ? g_Owners[item] : kNoItem; }

// Before the game calls an item's routine: switches to the item's owner when that is a remote player in the list
// and no remote player is current already. Answers whether it switched, for LeaveItemOwner.
bool EnterItemOwner(std::uint32_t item) {
  if (g_RemoteCurrent) return false;
  const std::uint16_t owner = OwnerOf(item);
  if (owner == CurrentPlayer() || !Usable(owner) || !g_State->linked[owner]) return false;
  MultiplePlayerSupport::SavePlayerState(g_LocalSnapshot);
  g_RemoteCurrent = true;
  LoadRemote(owner);
  return true;
}

void LeaveItemOwner(std::uint32_t item, bool switched) {
  if (!switched || g_State == nullptr) return;
  const std::uint16_t owner = OwnerOf(item);
  if (Usable(owner)) MultiplePlayerSupport::SavePlayerState(g_State->snapshots[owner]);
  MultiplePlayerSupport::SwitchToLocalPlayer();
}

void RecordItemOwner(std::uint32_t item, std::uint32_t structure) {
  WriteGame<std::uint16_t>(structure + kNewItemFlagsOffset, kNewItemFlags);
  if (Usable(item)) g_Owners[item] = GamePlayerItemNumber();
}

}  // namespace

// ---- The hooks ------------------------------------------------------------------------------------------------------

#define BRINDLE_PLAYER_TRAMPOLINES(X) \
  X(PlayersDraw)                      \
  X(PlayersMirroredDraw)              \
  X(PlayersControl)                   \
  X(PlayersItemRoutine)               \
  X(PlayersItemCreation)
BRINDLE_PLAYER_TRAMPOLINES(BRINDLE_DECLARE_TRAMPOLINE)
BRINDLE_PLAYER_TRAMPOLINES(BRINDLE_EMIT_TRAMPOLINE)

extern "C" void HookPlayersDraw(HookContext* context) {
  DrawPlayers(false);
  context->ResumeAt(g_At.drawBack);
}

// The game pushed one word for the draw routine the patch replaced; it goes with the call.
extern "C" void HookPlayersMirroredDraw(HookContext* context) {
  DrawPlayers(true);
  context->Resume(g_At.mirroredDrawBack, context->GameEsp() + kStackWord);
}

extern "C" void HookPlayersControl(HookContext* context) {
  ControlPlayers();
  context->ResumeAt(g_At.controlBack);
}

// `push ecx; call eax; add esp, 4`: the item's routine with its number, inside its owner's state.
extern "C" void HookPlayersItemRoutine(HookContext* context) {
  const std::uint32_t item = context->ecx & kLowWord;
  const bool switched = EnterItemOwner(item);
  using ItemRoutine = std::uint32_t (*)(std::uint32_t);
  context->eax = reinterpret_cast<ItemRoutine>(std::uintptr_t(context->eax))(context->ecx);
  LeaveItemOwner(item, switched);
  context->SetFlagsOfAdd(context->GameEsp() - kStackWord, kStackWord);
  context->ResumeAt(g_At.itemRoutineBack);
}

// The overwritten `mov word [ecx + 34], 0x4210`, and the new item's owner.
extern "C" void HookPlayersItemCreation(HookContext* context) {
  RecordItemOwner(context->eax & kLowWord, context->ecx);
  context->ResumeAt(g_At.itemCreationBack);
}

namespace {

// The object record's routine: the game calls it for an object that may be a player's item.
__attribute__((force_align_arg_pointer)) void ObjectRoutine(std::int16_t item, std::uint32_t pointer,
                                                            std::uint32_t argument) {
  const std::uint32_t array = ReadGame<std::uint32_t>(g_At.itemArrayPointer);
  if (pointer == array + std::uint32_t(std::int32_t(item)) * kItemRecordBytes) return;
  RoutineAt<void (*)(std::uint32_t)>(kObjectFallback)(argument);
}

void DefineAllObjects() {
  const std::uint32_t record = kObjectRecord.At();
  const auto routine = std::uint32_t(reinterpret_cast<std::uintptr_t>(&ObjectRoutine));
  if (!g_ObjectRecordSave.saved) {
    g_ObjectRecordSave = {true, ReadGame<std::uint32_t>(record + kObjectRoutineOffset),
                          ReadGame<std::uint16_t>(record + kObjectValueOffset)};
  }
  WriteGame<std::uint32_t>(record + kObjectRoutineOffset, routine);
  WriteGame<std::uint16_t>(record + kObjectValueOffset, kObjectValue);
}

void Hook(tHackModule* module, const HookPlace& hook, void (*trampoline)()) {
  new CHackJumpHack(module, hook.place.At(hook.size), CodeAddress(trampoline), hook.size);
}

std::uint32_t Init(tHackModule* module) {
  g_At = {kPlayerItemPointer.At(), kItemArrayPointer.At(),     kPlayerState.At(),
          kPlayerStateSecond.At(), kDrawHook.back.At(),        kMirroredDrawHook.back.At(),
          kControlHook.back.At(),  kItemRoutineHook.back.At(), kItemCreationHook.back.At()};
  // An Init over a loaded module (a registry dropped without unloading) starts over rather than keep two states.
  delete g_State;
  g_State = new State{};
  g_List = {};
  g_RemoteCurrent = false;
  std::fill(std::begin(g_Owners), std::end(g_Owners), kNoItem);
  Hook(module, kDrawHook, HookTrampolinePlayersDraw);
  Hook(module, kMirroredDrawHook, HookTrampolinePlayersMirroredDraw);
  Hook(module, kControlHook, HookTrampolinePlayersControl);
  Hook(module, kItemRoutineHook, HookTrampolinePlayersItemRoutine);
  Hook(module, kItemCreationHook, HookTrampolinePlayersItemCreation);
  if (IsGameV()) new CHackNOPHack(module, kNopV.At(kNopVSize), kNopVSize, 0);
  return MODULEREPLY_HANDLED;
}

void Unload() {
  // The game's record must not keep a routine of a module that is gone.
  if (g_ObjectRecordSave.saved) {
    const std::uint32_t record = kObjectRecord.At();
    const auto routine = std::uint32_t(reinterpret_cast<std::uintptr_t>(&ObjectRoutine));
    if (ReadGame<std::uint32_t>(record + kObjectRoutineOffset) == routine) {
      WriteGame<std::uint32_t>(record + kObjectRoutineOffset, g_ObjectRecordSave.routine);
      WriteGame<std::uint16_t>(record + kObjectValueOffset, g_ObjectRecordSave.value);
    }
    g_ObjectRecordSave = {};
  }
  delete g_State;
  g_State = nullptr;
  g_List = {};
  g_RemoteCurrent = false;
}

}  // namespace

// ---- The client's face
// ------------------------------------------------------------------------------------------------

namespace MultiplePlayerSupport {

void SavePlayerState(std::uint8_t* snapshot) {
  if (IsGameV()) {
    for (const SnapshotPiece& piece : kPiecesV)
      std::memcpy(snapshot + piece.offset, GamePointer(piece.place.At()), piece.size);
  } else {
    for (const SnapshotPiece& piece : kPiecesIV)
      std::memcpy(snapshot + piece.offset, GamePointer(piece.place.At()), piece.size);
  }
}

void LoadPlayerState(const std::uint8_t* snapshot) {
  if (IsGameV()) {
    for (const SnapshotPiece& piece : kPiecesV)
      std::memcpy(GamePointer(piece.place.At()), snapshot + piece.offset, piece.size);
  } else {
    for (const SnapshotPiece& piece : kPiecesIV)
      std::memcpy(GamePointer(piece.place.At()), snapshot + piece.offset, piece.size);
  }
}

bool SwitchToPlayer(std::int16_t item) {
  if (item < 0 || !Usable(std::uint32_t(item))) return false;
  LoadRemote(std::uint16_t(item));
  return true;
}

void SwitchToLocalPlayer() {
  if (g_State == nullptr) return;
  g_RemoteCurrent = false;
  std::uint16_t local;
  std::memcpy(&local, g_LocalSnapshot, sizeof local);
  SetPlayerItem(local);
  LoadPlayerState(g_LocalSnapshot);
}

bool LinkPlayer(std::uint16_t item) {
  if (!Usable(item) || g_State->linked[item]) return false;
  g_State->linked[item] = true;
  g_State->next[item] = kNoItem;
  g_State->previous[item] = g_List.tail;
  if (g_List.tail != kNoItem) {
    g_State->next[g_List.tail] = item;
  } else {
    g_List.head = item;
  }
  g_List.tail = item;
  ++g_List.count;
  return true;
}

bool UnlinkPlayer(std::uint16_t item) {
  if (!Usable(item) || !g_State->linked[item]) return false;
  const std::uint16_t previous = g_State->previous[item], next = g_State->next[item];
  if (previous != kNoItem) {
    g_State->next[previous] = next;
  } else {
    g_List.head = next;
  }
  if (next != kNoItem) {
    g_State->previous[next] = previous;
  } else {
    g_List.tail = previous;
  }
  g_State->linked[item] = false;
  g_State->next[item] = g_State->previous[item] = kNoItem;
  --g_List.count;
  return true;
}

bool IsPlayerLinked(std::uint16_t item) { return Usable(item) && g_State->linked[item]; }
std::uint32_t CountPlayers() { return g_State != nullptr ? g_List.count : 0; }

std::uint8_t* GetPlayerSnapshot(std::uint16_t item) { return Usable(item) ? g_State->snapshots[item] : nullptr; }
std::uint8_t* GetLocalSnapshot() { return g_State != nullptr ? g_LocalSnapshot : nullptr; }

void SetRemoteCurrent(bool current) {
  if (g_State != nullptr) g_RemoteCurrent = current;
}
bool IsRemoteCurrent() { return g_RemoteCurrent; }

std::uint16_t GetItemOwner(std::uint16_t item) { return OwnerOf(item); }

}  // namespace MultiplePlayerSupport

std::uint32_t MultiplePlayerSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data)->module);
    case MODULEEVENT_UNLOAD:
      Unload();
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_DEFINEALLOBJECTS:
      DefineAllObjects();
      return MODULEREPLY_HANDLED;
    case MODULEEVENT_SETUPITEMLINKEDLISTS:
      // The game is about to lay out its items: no remote player survives, no owner either.
      if (g_State != nullptr) std::fill(std::begin(g_State->linked), std::end(g_State->linked), false);
      g_List = {};
      std::fill(std::begin(g_Owners), std::end(g_Owners), kNoItem);
      return MODULEREPLY_HANDLED;
    default:
      return 0;
  }
}
