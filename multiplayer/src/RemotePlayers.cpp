// Remote players' puppets and the local player's state, switched through MultiplePlayerSupport.
#include <multiplayer/RemotePlayers.h>

#include <cstring>

#include <features/ItemLimit.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameRoutines.h>
#include <hack/Messages.h>

#include "GamePlace.h"

namespace mps = MultiplePlayerSupport;

namespace {

// Fields of the game's item record.
constexpr std::uint32_t kItemObjectId = 12;                     // i16
constexpr std::uint32_t kItemRoom = 24;                         // i16
constexpr std::uint32_t kItemWord = 34;                         // u16, message 4's item word
constexpr std::uint32_t kItemStatusWord = 40;                   // u16, or 0x100 on respawn
constexpr std::uint32_t kItemLinkWord = 42;                     // u16, -1 for a new puppet
constexpr std::uint32_t kItemX = 64, kItemY = 68, kItemZ = 72;  // i32
constexpr std::uint32_t kItemClearedA = 76;                     // u16, 0 for a new puppet
constexpr std::uint32_t kItemHeading = 78;                      // u16
constexpr std::uint32_t kItemClearedB = 80;                     // u16, 0 for a new puppet
constexpr std::uint32_t kItemStatusLong = 5610;                 // u32, or 6 on respawn
constexpr std::uint16_t kRespawnStatusWord = 0x100;
constexpr std::uint32_t kRespawnStatusLong = 6;
constexpr std::int16_t kPlayerObject = 0;
constexpr std::uint16_t kNoLink = 0xFFFF;

// Fields of the game's player record.
constexpr std::uint32_t kRecordWord2 = 2, kRecordWord4 = 4, kRecordWord6 = 6, kRecordWord44 = 44;
constexpr std::uint32_t kRecordWordAIV = 162, kRecordWordAV = 164;
constexpr std::uint32_t kRecordWordBIV = 214, kRecordWordBV = 216;
constexpr std::uint32_t kRecordFlags = 68;  // i32
constexpr std::int32_t kRecordFlagBit = 1 << 3;
constexpr std::int16_t kWord6Special = 7;
constexpr std::int16_t kWord2Set = 2;
constexpr std::int16_t kWord2Other = 4;

// Effects: records of 40 bytes, linked from the first active one through the i16 at 24; -1 ends.
constexpr GamePlace kEffectRecords{0x8011C0, 0x8012E0, 0x801320, 0xE5C5E0};
constexpr GamePlace kFirstEffect{0x8011D0, 0x8012F0, 0x801330, 0xE5C5FC};
constexpr std::uint32_t kEffectRecordSize = 40;
constexpr std::uint32_t kEffectObjectId = 20;
constexpr std::uint32_t kEffectNext = 24;
constexpr std::int16_t kFlagEffectObjectIV = 142, kFlagEffectObjectV = 120;
// The walk ends here whatever the links say: the effect list is the game's, but a loop in it must not hang us.
constexpr std::uint32_t kMaxEffectWalk = 4096;

constexpr GamePlace kRoomCount{0x53392C, 0x533A5C, 0x533A9C, 0x87514C};
// Game V's post-switch routine takes a byte: 0 on these levels, else 1 when the game byte here is 0.
constexpr GamePlace kPostSwitchByte{0x4AD43A, 0x4AF452, 0x4AF452, 0x5082C1};
constexpr std::uint8_t kPlainLevels[] = {1, 4, 8, 11};
constexpr std::int32_t kResetWordValue = -8;

template <typename T>
T Get(const std::uint8_t* record, std::uint32_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}
template <typename T>
void Set(std::uint8_t* record, std::uint32_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

std::uint32_t RecordWordA() { return IsGameV() ? kRecordWordAV : kRecordWordAIV; }
std::uint32_t RecordWordB() { return IsGameV() ? kRecordWordBV : kRecordWordBIV; }

std::uint8_t* ItemRecord(std::uint16_t item) { return Game::GetItemArray() + item * Game::kItemRecordSize; }

bool IsCurrentPlayer(const CRemotePlayer& entry) {
  return entry.m_pItem != nullptr && entry.m_pItem == Game::GetPlayerItem();
}

// Makes the puppet the game's player unless it already is; true when this call switched.
bool SwitchIn(std::int16_t item) {
  if (mps::IsRemoteCurrent()) return false;
  mps::SavePlayerState(mps::GetLocalSnapshot());
  mps::SetRemoteCurrent(true);
  if (!mps::SwitchToPlayer(item)) {
    mps::SwitchToLocalPlayer();
    return false;
  }
  return true;
}

void SwitchOut(std::int16_t item) {
  if (std::uint8_t* snapshot = mps::GetPlayerSnapshot(std::uint16_t(item))) mps::SavePlayerState(snapshot);
  mps::SwitchToLocalPlayer();
}

// Removes the active effects that owner's puppet made; only those of objectId unless it is negative.
void RemoveEffectsOf(std::int16_t owner, std::int32_t objectId) {
  auto* records = static_cast<std::uint8_t*>(GamePointer(ReadAt<std::uint32_t>(kEffectRecords)));
  if (records == nullptr) return;
  std::int16_t effect = ReadAt<std::int16_t>(kFirstEffect);
  for (std::uint32_t steps = 0; effect >= 0 && steps < kMaxEffectWalk; ++steps) {
    const std::uint8_t* record = records + std::uint32_t(effect) * kEffectRecordSize;
    const std::int16_t next = Get<std::int16_t>(record, kEffectNext);
    const bool ofObject = objectId < 0 || Get<std::int16_t>(record, kEffectObjectId) == objectId;
    if (ofObject && mps::GetItemOwner(std::uint16_t(effect)) == std::uint16_t(owner)) {
      Game::RemoveEffect(std::uint16_t(effect));
    }
    effect = next;
  }
}

void CallPostSwitchRoutine() {
  if (!IsGameV()) {
    Game::CallRoutineD();
    return;
  }
  const std::uint8_t level = Game::GetStateByte();
  bool plain = false;
  for (const std::uint8_t l : kPlainLevels) plain = plain || level == l;
  Game::CallRoutineDV(plain ? 0 : (ReadAt<std::uint8_t>(kPostSwitchByte) == 0 ? 1 : 0));
}

void MoveToRoom(CRemotePlayer& entry, std::int16_t room) {
  if (Get<std::int16_t>(entry.m_pItem, kItemRoom) != room) Game::MoveItemToRoom(std::uint16_t(entry.m_Item), room);
}

}  // namespace

std::uint16_t GetRoomCount() { return ReadAt<std::uint16_t>(kRoomCount); }

bool IsValidRoom(std::int32_t room) { return room >= 0 && room < std::int32_t(GetRoomCount()); }

std::uint16_t GetLocalPlayerItem() {
  if (mps::IsRemoteCurrent()) {
    if (const std::uint8_t* local = mps::GetLocalSnapshot()) return Get<std::uint16_t>(local, 0);
  }
  return Game::GetPlayerItemNumber();
}

bool FillPlayerState(PlayerStateFormat* state) {
  const std::uint8_t* item = Game::GetPlayerItem();
  const std::uint8_t* record = Game::GetPlayerRecord();
  if (item == nullptr) return false;
  state->room = Get<std::int16_t>(item, kItemRoom);
  state->itemWord = Get<std::uint16_t>(item, kItemWord);
  state->x = Get<std::int32_t>(item, kItemX);
  state->y = Get<std::int32_t>(item, kItemY);
  state->z = Get<std::int32_t>(item, kItemZ);
  state->heading = Get<std::uint16_t>(item, kItemHeading);
  state->stateWord = *Game::GetPlayerStateWord();
  const std::int16_t word2 = Get<std::int16_t>(record, kRecordWord2);
  const std::int16_t word6 = Get<std::int16_t>(record, kRecordWord6);
  const bool keepWord6 = word2 == kWord2Set || word2 == kWord2Other || word6 == kWord6Special;
  state->recordWord6 = keepWord6 ? std::uint16_t(word6) : 0;
  state->recordWordA = Get<std::uint16_t>(record, RecordWordA());
  state->recordWordB = Get<std::uint16_t>(record, RecordWordB());
  state->recordWord44 = Get<std::uint16_t>(record, kRecordWord44);
  state->flag = (Get<std::int32_t>(record, kRecordFlags) & kRecordFlagBit) != 0 ? 1 : 0;
  return true;
}

bool CreateRemotePlayerItem(CRemotePlayer* entry) {
  if (entry->m_Item >= 0) return true;
  const PlayerStateFormat state = entry->m_State;
  // The game's player record serves as scratch for the new puppet while the local state is kept aside.
  mps::SavePlayerState(mps::GetLocalSnapshot());
  mps::SetRemoteCurrent(true);
  const std::uint16_t item = Game::AllocateItem();
  if (item == mps::kNoItem || !IsUsableItem(item)) {
    if (item != mps::kNoItem) Game::RemoveItem(item);
    mps::SwitchToLocalPlayer();
    return false;
  }
  std::uint8_t* record = ItemRecord(item);
  Set<std::int16_t>(record, kItemObjectId, kPlayerObject);
  Set<std::int16_t>(record, kItemRoom, state.room);
  Set<std::int32_t>(record, kItemX, state.x);
  Set<std::int32_t>(record, kItemY, state.y);
  Set<std::int32_t>(record, kItemZ, state.z);
  Set<std::uint16_t>(record, kItemHeading, state.heading);
  Game::SetUpItem(item);
  Set<std::uint16_t>(record, kItemClearedB, 0);
  Set<std::uint16_t>(record, kItemClearedA, 0);
  Set<std::uint16_t>(record, kItemLinkWord, kNoLink);
  mps::LinkPlayer(item);
  entry->m_Item = std::int16_t(item);
  entry->m_pItem = record;
  // The puppet's snapshot names its own item, as the local one names the local item.
  Set<std::uint16_t>(Game::GetPlayerRecord(), 0, item);
  ApplyRemotePlayerState(entry, true);
  SwitchOut(entry->m_Item);
  return true;
}

void ApplyRemotePlayerState(CRemotePlayer* entry, bool switched) {
  if (entry->m_Item < 0) return;
  const PlayerStateFormat state = entry->m_State;
  const bool switchedHere = !switched && SwitchIn(entry->m_Item);
  if (!switched && !switchedHere) return;
  *Game::GetPlayerStateWord() = state.stateWord & kPlayerStateWordMask;
  std::uint8_t* record = Game::GetPlayerRecord();
  const std::int16_t word6 = std::int16_t(state.recordWord6);
  Set<std::int16_t>(record, kRecordWord6, word6);
  if (word6 != 0 && Get<std::int16_t>(record, kRecordWord2) == 0 && word6 != kWord6Special &&
      Get<std::int16_t>(record, kRecordWord4) == word6) {
    Set<std::int16_t>(record, kRecordWord2, kWord2Set);
  }
  Set<std::uint16_t>(record, RecordWordA(), state.recordWordA);
  Set<std::uint16_t>(record, RecordWordB(), state.recordWordB);
  Set<std::uint16_t>(record, kRecordWord44, state.recordWord44);
  ApplyRemotePlayerStateFlag(entry, state.flag & 1);
  if (!switchedHere) return;
  SwitchOut(entry->m_Item);
  MoveToRoom(*entry, state.room);
  Set<std::int32_t>(entry->m_pItem, kItemX, state.x);
  Set<std::int32_t>(entry->m_pItem, kItemY, state.y);
  Set<std::int32_t>(entry->m_pItem, kItemZ, state.z);
  Set<std::uint16_t>(entry->m_pItem, kItemHeading, state.heading);
}

void ApplyRemotePlayerStateFlag(CRemotePlayer* entry, std::uint32_t flag) {
  if (flag == 1) {
    Game::CallRoutineE();
    return;
  }
  std::uint8_t* record = Game::GetPlayerRecord();
  const std::int32_t flags = Get<std::int32_t>(record, kRecordFlags);
  if ((flags & kRecordFlagBit) == 0) return;
  RemoveEffectsOf(entry->m_Item, IsGameV() ? kFlagEffectObjectV : kFlagEffectObjectIV);
  Set<std::int32_t>(record, kRecordFlags, flags & ~kRecordFlagBit);
}

void DeleteRemotePlayerItem(CRemotePlayer* entry) {
  if (entry->m_Item < 0) return;
  const std::int16_t item = entry->m_Item;
  const bool current = IsCurrentPlayer(*entry);
  Game::RemoveItem(std::uint16_t(item));
  if (!current) {
    RemoveEffectsOf(item, -1);
    mps::UnlinkPlayer(std::uint16_t(item));
  }
  entry->Forget();
}

void RespawnRemotePlayer(CRemotePlayer* entry) {
  if (entry->m_Item < 0) {
    if (IsValidRoom(entry->m_State.room)) CreateRemotePlayerItem(entry);
    return;
  }
  // The flag step reads and clears the game's current player record: it runs once the puppet is the player, or
  // it would end the local player's flag bit and effects instead of the puppet's.
  const bool current = IsCurrentPlayer(*entry);
  const bool switchedHere = !current && SwitchIn(entry->m_Item);
  if (current || switchedHere) ApplyRemotePlayerStateFlag(entry, 0);
  const std::uint16_t item = std::uint16_t(entry->m_Item);
  Set<std::uint32_t>(entry->m_pItem, kItemStatusLong,
                     Get<std::uint32_t>(entry->m_pItem, kItemStatusLong) | kRespawnStatusLong);
  Game::CallItemRoutineB(item);
  Set<std::uint16_t>(entry->m_pItem, kItemStatusWord,
                     std::uint16_t(Get<std::uint16_t>(entry->m_pItem, kItemStatusWord) | kRespawnStatusWord));
  Game::RemoveItem(item);
  Game::SetUpItem(item);
  CallPostSwitchRoutine();
  Game::CallRoutineC();
  if (switchedHere) SwitchOut(entry->m_Item);
}

void ApplyRemotePlayerStates(CMultiplayerState* state, std::int32_t ownId,
                             const std::vector<RemotePlayerStateEntry>& entries) {
  const std::size_t size = state->m_RemotePlayers.size();
  // Neither changes while a message is applied: every switch is undone before the next entry.
  const std::int32_t rooms = GetRoomCount();
  const std::uint16_t local = GetLocalPlayerItem();
  for (const RemotePlayerStateEntry& received : entries) {
    const std::uint32_t id = received.id;
    if (std::int32_t(id) == ownId || id >= size) continue;
    CRemotePlayer& entry = state->m_RemotePlayers[id];
    // The local player's item is never a puppet, whatever id the server files it under.
    if (entry.m_Item >= 0 && std::uint16_t(entry.m_Item) == local) continue;
    entry.m_State = received.state;
    const std::int16_t room = received.state.room;
    if (room >= 0 && room < rooms) {
      if (entry.m_Item < 0) {
        CreateRemotePlayerItem(&entry);
      } else {
        ApplyRemotePlayerState(&entry, false);
      }
    } else {
      LogConsole("MULTIPLAYER: Deleting remote player in invalid room %d\n", room);
      DeleteRemotePlayerItem(&entry);
    }
  }
}

void ApplyPlayerUpdate(CMultiplayerState* state, CRemotePlayer* entry, const PlayerUpdateMessage& update) {
  const SavedStart& start = state->m_SavedStart;
  const bool respawn = (update.flags & UPDATE_RESPAWN) != 0;
  if (respawn) RespawnRemotePlayer(entry);
  if (entry->m_pItem == nullptr) return;
  std::uint8_t* record = entry->m_pItem;
  if ((update.flags & UPDATE_ROOM) != 0) {
    if (IsValidRoom(update.room)) MoveToRoom(*entry, update.room);
  } else if (respawn && IsValidRoom(start.room)) {
    MoveToRoom(*entry, start.room);
  }
  if ((update.flags & UPDATE_POSITION) != 0 || respawn) {
    const bool field = (update.flags & UPDATE_POSITION) != 0;
    Set<std::int32_t>(record, kItemX, field ? update.x : start.x);
    Set<std::int32_t>(record, kItemY, field ? update.y : start.y);
    Set<std::int32_t>(record, kItemZ, field ? update.z : start.z);
  }
  if ((update.flags & UPDATE_HEADING) != 0 || respawn) {
    Set<std::uint16_t>(record, kItemHeading, (update.flags & UPDATE_HEADING) != 0 ? update.heading : start.heading);
  }
  if ((update.flags & UPDATE_ITEM_WORD) != 0) Set<std::uint16_t>(record, kItemWord, update.itemWord);
  const bool moved = respawn || (update.flags & UPDATE_POSITION) != 0;
  if (moved && !IsCurrentPlayer(*entry) && SwitchIn(entry->m_Item)) {
    Game::CallRoutineC();
    SwitchOut(entry->m_Item);
  }
  if (IsCurrentPlayer(*entry) && (update.flags & (UPDATE_POSITION | UPDATE_RESPAWN | UPDATE_RESET_WORD)) != 0) {
    *Game::GetPlayerUpdateWord() = std::uint32_t(kResetWordValue);
  }
}
