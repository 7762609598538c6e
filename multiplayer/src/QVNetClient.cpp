// CQVNetClient: the connection's states, the server's messages acted on by state, and the module's calls.
#include <multiplayer/QVNetClient.h>

#include <algorithm>
#include <cstring>

#include <base/Stream.h>
#include <features/ItemLimit.h>
#include <hack/GameRoutines.h>
#include <hack/GameVersion.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <platform/text.h>

#include <multiplayer/ClientScripting.h>
#include <multiplayer/RemotePlayers.h>

#include "GamePlace.h"

namespace {

// Message 2's optional patches: two jumps to one target, and a stretch of NOPs.
constexpr GamePlace kJumpFromA{0x44A78E, 0x44B11C, 0x44B10C, 0x416EC8};
constexpr GamePlace kJumpFromB{0x44A872, 0x44B1FA, 0x44B1EA, 0x416FA3};
constexpr GamePlace kJumpTarget{0x44AB6A, 0x44B4E2, 0x44B4D2, 0x4171FC};
constexpr GamePlace kNopPlace{0x44AA7F, 0x44B3FB, 0x44B3EB, 0x4171C1};
constexpr std::uint32_t kJumpPatchSize = 6;
constexpr std::uint32_t kNopPatchSizeIV = 11, kNopPatchSizeV = 15;

// The game's two level variables that a level change writes.
constexpr GamePlace kSecondLevelByte{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};
constexpr GamePlace kLevelByte{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};

// The item marking of feature flag 2: the game's item list and the object ids it marks.
constexpr GamePlace kItemListHead{0x7FD0EA, 0x7FD20A, 0x7FD24A, 0xE5BF22};
constexpr std::uint32_t kItemNextLink = 28;
constexpr std::uint32_t kItemObjectId = 12;
constexpr std::uint32_t kItemStatusWord = 40;
constexpr std::uint32_t kItemStatusLong = 5610;
constexpr std::int16_t kMarkedFirstIV = 35, kMarkedLastIV = 102, kMarkedExtraIV = 106, kMarkedExtraIV2 = 107;
constexpr std::int16_t kMarkedFirstV = 31, kMarkedLastV = 96;
constexpr std::uint32_t kMarkStatusLong = 6;
constexpr std::uint16_t kMarkStatusWord = 0x100;

// The item record of the local player at LoadItems.
constexpr std::uint32_t kItemRoom = 24, kItemX = 64, kItemY = 68, kItemZ = 72, kItemHeading = 78;

template <typename T>
T Get(const std::uint8_t* record, std::uint32_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

bool IsMarkedObject(std::int16_t object) {
  if (IsGameV()) return object >= kMarkedFirstV && object <= kMarkedLastV;
  return (object >= kMarkedFirstIV && object <= kMarkedLastIV) || object == kMarkedExtraIV || object == kMarkedExtraIV2;
}

void MarkItems() {
  std::uint8_t* items = Game::GetItemArray();
  if (items == nullptr) return;
  std::uint16_t item = ReadAt<std::uint16_t>(kItemListHead);
  // The walk follows the game's links, never more often than there are items.
  for (std::uint32_t steps = 0; item != 0xFFFF && item < g_ItemLimit && steps < g_ItemLimit; ++steps) {
    std::uint8_t* record = items + item * Game::kItemRecordSize;
    const std::uint16_t next = Get<std::uint16_t>(record, kItemNextLink);
    if (IsMarkedObject(Get<std::int16_t>(record, kItemObjectId))) {
      const std::uint32_t status = Get<std::uint32_t>(record, kItemStatusLong) | kMarkStatusLong;
      std::memcpy(record + kItemStatusLong, &status, sizeof status);
      Game::CallItemRoutineA(item);
      Game::CallItemRoutineB(item);
      const std::uint16_t word = Get<std::uint16_t>(record, kItemStatusWord) | kMarkStatusWord;
      std::memcpy(record + kItemStatusWord, &word, sizeof word);
    }
    item = next;
  }
}

void InstallOptionalPatches(CMultiplayerState* state) {
  for (auto& patch : state->m_pOptionalPatches) patch.reset();
  const std::uint32_t target = kJumpTarget.At();
  if ((state->m_Flags & ACCEPTED_FLAG_JUMP_A) != 0 && kJumpFromA.Exists()) {
    state->m_pOptionalPatches[0] =
        std::make_unique<CHackJumpHack>(state->m_pModule, kJumpFromA.At(kJumpPatchSize), target, kJumpPatchSize);
  }
  if ((state->m_Flags & ACCEPTED_FLAG_JUMP_B) != 0 && kJumpFromB.Exists()) {
    state->m_pOptionalPatches[1] =
        std::make_unique<CHackJumpHack>(state->m_pModule, kJumpFromB.At(kJumpPatchSize), target, kJumpPatchSize);
  }
  if ((state->m_Flags & ACCEPTED_FLAG_NOP) != 0 && kNopPlace.Exists()) {
    const std::uint32_t size = IsGameV() ? kNopPatchSizeV : kNopPatchSizeIV;
    state->m_pOptionalPatches[2] = std::make_unique<CHackNOPHack>(state->m_pModule, kNopPlace.At(size), size, 0);
  }
}

}  // namespace

// ---- CServerInfo --------------------------------------------------------------------------------------------------

CServerInfo::CServerInfo(const char* host, std::uint16_t port) : m_Port(port) {
  const int units = host != nullptr ? MultiByteToWideChar(CP_UTF8, 0, host, -1, nullptr, 0) : 0;
  if (units <= 1) return;
  m_Host.resize(std::size_t(units));
  MultiByteToWideChar(CP_UTF8, 0, host, -1, m_Host.data(), units);
  // Without its terminator, and cut to the longest host kept.
  m_Host.resize(std::min<std::size_t>(std::size_t(units) - 1, kMaxHostLength));
}

CServerInfo::~CServerInfo() {
  // Running jobs write into the counts and read the host: they end before any of it goes.
  m_Loader.CancelAll();
  m_Loader.WaitForThreads();
}

void CServerInfo::AddTotalBytes(std::uint64_t bytes) {
  tLockGuard guard(*this);
  m_TotalBytes += bytes;
}

void CServerInfo::AddDownloadedBytes(std::uint64_t bytes) {
  tLockGuard guard(*this);
  m_DownloadedBytes += bytes;
}

void CServerInfo::RemoveBytes(std::uint64_t total, std::uint64_t downloaded) {
  tLockGuard guard(*this);
  // A reset in between (message 9) leaves less than the share: never below 0.
  m_TotalBytes -= std::min(total, m_TotalBytes);
  m_DownloadedBytes -= std::min(downloaded, m_DownloadedBytes);
}

void CServerInfo::CountShare(tDownloadShare* share, std::uint64_t size) {
  tLockGuard guard(*this);
  if (share->m_Counted) return;
  m_TotalBytes += size;
  share->m_Counted = true;
}

void CServerInfo::AddToShare(tDownloadShare* share, std::uint64_t bytes) {
  tLockGuard guard(*this);
  if (!share->m_Counted) return;
  share->m_Downloaded += bytes;
  m_DownloadedBytes += bytes;
}

void CServerInfo::TakeOutShare(tDownloadShare* share, std::uint64_t size) {
  tLockGuard guard(*this);
  if (!share->m_Counted) return;
  m_TotalBytes -= std::min(size, m_TotalBytes);
  m_DownloadedBytes -= std::min(share->m_Downloaded, m_DownloadedBytes);
  share->m_Counted = false;
  share->m_Downloaded = 0;
}

void CServerInfo::ResetByteCounts() {
  tLockGuard guard(*this);
  m_TotalBytes = 0;
  m_DownloadedBytes = 0;
}

void CServerInfo::GetByteCounts(std::uint64_t* total, std::uint64_t* downloaded) const {
  tLockGuard guard(*this);
  *total = m_TotalBytes;
  *downloaded = m_DownloadedBytes;
}

// ---- CMultiplayerState --------------------------------------------------------------------------------------------

CMultiplayerState::CMultiplayerState(tHackModule* module)
    : m_pModule(module), m_RemotePlayers(g_ItemLimit < kMaxItemLimit ? g_ItemLimit : kMaxItemLimit) {}

CMultiplayerState::~CMultiplayerState() {
  m_pClient.reset();
  for (auto& patch : m_pOptionalPatches) patch.reset();
}

void PrintChatLine(CMultiplayerState* state, const char* text) {
  if (state->m_ChatSink) state->m_ChatSink(text);
}

bool ConnectToServer(CMultiplayerState* state, const char* host, std::uint16_t port) {
  state->m_pClient.reset();
  state->m_pClient = std::make_unique<CQVNetClient>(state);
  CQVNetClient* client = state->m_pClient.get();
  if (!client->CreateHost(kMaxPacketSize)) {
    PrintChatLine(state, "Error creating netgame!");
    state->m_pClient.reset();
    return false;
  }
  if (!client->Connect(host, port)) {
    PrintChatLine(state, "Error connecting!");
    state->m_pClient.reset();
    return false;
  }
  client->SetServerInfo(std::make_unique<CServerInfo>(host, port));
  client->SetState(NETCLIENT_CONNECTING);
  std::vector<std::uint8_t> request;
  if (!EncodeConnectRequest(GameVersion, state->m_ClientValue, state->m_Password, state->m_Nickname, &request) ||
      !client->Send(request.data(), request.size())) {
    PrintChatLine(state, "Error connecting!");
    state->m_pClient.reset();
    return false;
  }
  PrintChatLine(state, "Waiting for server...");
  return true;
}

// ---- CQVNetClient -------------------------------------------------------------------------------------------------

CQVNetClient::CQVNetClient(CMultiplayerState* state) : m_pModule(state) { m_WorkBudget = kWorkPerFrame; }

CQVNetClient::~CQVNetClient() {
  // The server info's loader reads the client resources' records until it has cancelled every job and
  // joined, so it goes before them.
  m_pServerInfo.reset();
  if (m_pResources) m_pResources->DestroyResources();
  const std::uint16_t local = GetLocalPlayerItem();
  for (CRemotePlayer& entry : m_pModule->m_RemotePlayers) {
    // The local player's own item stays: removing it would take the player out of the game.
    if (entry.m_Item >= 0 && std::uint16_t(entry.m_Item) == local) {
      entry.Forget();
      continue;
    }
    DeleteRemotePlayerItem(&entry);
  }
  Disconnect(DISCONNECT_CLOSED);
  m_pResources.reset();
}

void CQVNetClient::OnReceive(ENetPeer*, ENetPacket* packet) {
  if (packet != nullptr) ReceivePacket(packet->data, packet->dataLength);
}

void CQVNetClient::OnDisconnect(ENetEvent* event, ENetPeer* peer) {
  if (peer == nullptr || peer != m_pPeer) return;
  m_pModule->m_DisconnectReason = event->data;
  PrintChatLine(m_pModule, GetDisconnectChatText(event->data));
  m_OwnId = -1;
  m_pPeer = nullptr;
  m_pModule->m_Disconnected = true;
}

CRemotePlayer* CQVNetClient::EntryOf(std::int32_t id, bool ownAllowed) {
  if (id == -1 || m_OwnId == -1 || (id == m_OwnId && !ownAllowed)) return nullptr;
  if (std::uint32_t(id) >= m_pModule->m_RemotePlayers.size()) return nullptr;
  return &m_pModule->m_RemotePlayers[std::uint32_t(id)];
}

void CQVNetClient::ReceivePacket(std::uint8_t* data, std::size_t size) {
  std::uint32_t id = 0;
  if (!ReadPacketHeader(data, size, &id)) return;
  const bool inGame = m_State == NETCLIENT_IN_GAME;
  if (id != PACKET_ACCEPTED && id != PACKET_CHAT && !inGame) return;
  CByteArrayStream* stream = OpenPacket(data, size);
  if (stream == nullptr) return;
  switch (id) {
    case PACKET_ACCEPTED:
      OnAccepted(stream);
      break;
    case PACKET_PLAYER_STATE:
      OnPlayerStates(stream);
      break;
    case PACKET_PLAYER_LEFT:
      OnPlayerLeft(stream);
      break;
    case PACKET_CHAT: {
      std::string text;
      if (ReadChat(stream, &text)) PrintChatLine(m_pModule, text.c_str());
      break;
    }
    case PACKET_PLAYER_UPDATE:
      OnPlayerUpdate(stream);
      break;
    case PACKET_RESOURCE_LIST: {
      ResourceListMessage list;
      if (!ReadResourceList(stream, &list)) {
        LogConsole("%s", list.refusedWhole.empty() ? "MULTIPLAYER: Dropped a damaged resource list\n"
                                                   : list.refusedWhole.c_str());
        break;
      }
      for (const std::string& line : list.refusals) LogConsole("%s", line.c_str());
      // A list spends the frame whatever its size, so lists that arrive together are acted on a frame each.
      SpendWork(std::uint32_t(kWorkPerFrame));
      if (m_pResources) m_pResources->OnResourceList(list);
      break;
    }
    case PACKET_RESOURCE_STATE: {
      ResourceStateMessage message;
      if (ReadResourceState(stream, &message) && m_pResources) SpendWork(m_pResources->OnResourceState(message));
      break;
    }
    case PACKET_SCRIPT_EVENT: {
      ScriptEventMessage message;
      if (ReadScriptEvent(stream, &message) && m_pResources) m_pResources->OnScriptEvent(message);
      break;
    }
    default:
      break;  // 3, 7 and unknown numbers from a server mean nothing
  }
  stream->Release();
}

void CQVNetClient::OnAccepted(CStream* stream) {
  AcceptedMessage message;
  if (!ReadAccepted(stream, &message)) return;
  CMultiplayerState* module = m_pModule;
  auto& table = module->m_RemotePlayers;
  if (message.ownId != m_OwnId) {
    // The old id's entry held the local player's item: forget it, never remove it.
    if (m_OwnId >= 0 && std::uint32_t(m_OwnId) < table.size()) table[std::uint32_t(m_OwnId)].Forget();
    // A remote player filed under our new id loses its puppet; the entry is ours from now on.
    if (message.ownId >= 0 && std::uint32_t(message.ownId) < table.size()) {
      CRemotePlayer& entry = table[std::uint32_t(message.ownId)];
      if (entry.m_Item >= 0 && std::uint16_t(entry.m_Item) != GetLocalPlayerItem()) DeleteRemotePlayerItem(&entry);
      entry.Forget();
    }
  }
  m_State = NETCLIENT_CONNECTED;
  PrintChatLine(module, "Connected");
  m_OwnId = message.ownId;
  module->m_Level = message.level;
  module->m_SecondLevel = message.secondLevel;
  module->m_Flags = message.flags;
  module->m_ScriptLoadedValue = message.scriptLoadedValue;
  InstallOptionalPatches(module);
}

void CQVNetClient::OnPlayerStates(CStream* stream) {
  if (!ReadRemotePlayerStates(stream, &m_Entries)) return;
  ApplyRemotePlayerStates(m_pModule, m_OwnId, m_Entries);
}

void CQVNetClient::OnPlayerLeft(CStream* stream) {
  std::int32_t id = -1;
  if (!ReadPlayerLeft(stream, &id)) return;
  if (CRemotePlayer* entry = EntryOf(id, false)) DeleteRemotePlayerItem(entry);
}

void CQVNetClient::OnPlayerUpdate(CStream* stream) {
  PlayerUpdateMessage message;
  if (!ReadPlayerUpdate(stream, &message)) return;
  if (CRemotePlayer* entry = EntryOf(message.id, true)) ApplyPlayerUpdate(m_pModule, entry, message);
}

bool CQVNetClient::SendPlayerState() {
  PlayerStateFormat state;
  if (m_State != NETCLIENT_IN_GAME || !FillPlayerState(&state)) return false;
  std::uint8_t message[kPlayerStateMessageSize];
  EncodePlayerState(state, message);
  return Send(message, sizeof message);
}

bool CQVNetClient::SendCommand(std::string_view name, std::string_view arguments) {
  std::vector<std::uint8_t> message;
  EncodeCommand(name, arguments, &message);
  return Send(message.data(), message.size());
}

// ---- The module's calls -------------------------------------------------------------------------------------------

void OnLoadItems(CMultiplayerState* state) {
  for (CRemotePlayer& entry : state->m_RemotePlayers) entry.Forget();
  const std::uint16_t item = Game::GetPlayerItemNumber();
  std::uint8_t* record = Game::GetPlayerItem();
  if (item == 0xFFFF || record == nullptr) return;
  state->m_SavedStart.room = Get<std::int16_t>(record, kItemRoom);
  state->m_SavedStart.x = Get<std::int32_t>(record, kItemX);
  state->m_SavedStart.y = Get<std::int32_t>(record, kItemY);
  state->m_SavedStart.z = Get<std::int32_t>(record, kItemZ);
  state->m_SavedStart.heading = Get<std::uint16_t>(record, kItemHeading);
  CQVNetClient* client = state->m_pClient.get();
  if (client == nullptr || client->GetOwnId() == -1) return;
  const std::uint32_t own = std::uint32_t(client->GetOwnId());
  if (own < state->m_RemotePlayers.size()) {
    state->m_RemotePlayers[own].m_Item = std::int16_t(item);
    state->m_RemotePlayers[own].m_pItem = record;
  }
  if (client->GetState() == NETCLIENT_CONNECTED) client->SetState(NETCLIENT_LEVEL_LOADED);
}

void ProcessNetFrame(CMultiplayerState* state) {
  if (state->m_pClient == nullptr) return;
  if (state->m_Disconnected) {
    state->m_pClient.reset();
    state->m_Disconnected = false;
    return;
  }
  CQVNetClient* client = state->m_pClient.get();
  if (client->GetState() == NETCLIENT_LEVEL_LOADED) {
    if (Game::GetStateByte() == state->m_Level) {
      client->SetState(NETCLIENT_IN_GAME);
      std::uint8_t ready[kPacketHeaderSize];
      EncodeReady(ready);
      client->Send(ready, sizeof ready);
    } else {
      WriteGame<std::uint8_t>(kSecondLevelByte.At(), state->m_SecondLevel);
      WriteGame<std::uint8_t>(kLevelByte.At(), state->m_Level);
      client->SetState(NETCLIENT_CONNECTED);
    }
  }
  if (client->GetState() == NETCLIENT_IN_GAME && (state->m_Flags & ACCEPTED_FLAG_MARK_ITEMS) != 0) MarkItems();
  // ENet is serviced in every state, or a level load or a stay in the menus would time the link out.
  client->Process();
  if (state->m_pClient.get() != client || client->GetState() != NETCLIENT_IN_GAME) return;
  client->SendPlayerState();
  // Finished downloads reach their resources in game only: while a level changes they wait in the loader.
  if (CServerInfo* info = client->GetServerInfo()) info->GetLoader().ProcessFinished();
}
