#pragma once
// The multiplayer client's connection: CQVNetClient (the one network client, module-wide), its states, the
// per-connection server information, the module-wide state object that the Multiplayer module owns, and the
// calls the module makes on LoadItems and each frame.
//
// Errors: nothing any server sends reaches a fatal path: a packet is acted on only when its magic is right, the
// state allows it, it reads whole (Protocol.h) and every player id and room it names is within its table;
// otherwise it is dropped, at most with a console line ("MULTIPLAYER: ..."). Failures of the connection show as
// chat lines. Nothing throws but std::bad_alloc.
// Locking: everything runs on the game's main thread; only CServerInfo's byte counts and the files' shares of them
// are locked (the loading thread writes them) and its loader's lists (Downloads.h gives the order). Game data is
// reached through the Game accessors and MultiplePlayerSupport's interface.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <base/TaskContext.h>

#include <multiplayer/Downloads.h>
#include <multiplayer/NetClient.h>
#include <multiplayer/Protocol.h>

class CHackHack;
struct tHackModule;
class CMultiplayerState;
class CClientScripting;

enum NetClientState : std::uint32_t {
  NETCLIENT_NONE = 0,          // just created
  NETCLIENT_CONNECTING = 1,    // request sent
  NETCLIENT_CONNECTED = 2,     // message 2 received, or a level change requested
  NETCLIENT_LEVEL_LOADED = 3,  // the game has loaded a level's items
  NETCLIENT_IN_GAME = 4,       // message 3 sent
};

// One connection's server: host and port (for downloads), the download byte counts and the loader that fetches
// the resources' files. Its destruction cancels every job, running ones included, and joins the loader's threads
// before anything else of it goes.
class CServerInfo : public tLockable {
 public:
  static constexpr std::size_t kMaxHostLength = 256;
  // host is UTF-8; it is kept widened, cut at kMaxHostLength units.
  CServerInfo(const char* host, std::uint16_t port);
  ~CServerInfo();
  const std::u16string& GetHost() const { return m_Host; }
  std::uint16_t GetPort() const { return m_Port; }
  CBackgroundLoader& GetLoader() { return m_Loader; }

  // The byte counts of the files being downloaded (any thread; under the server info's lock). A file that
  // fails takes its share out of both.
  void AddTotalBytes(std::uint64_t bytes);
  void AddDownloadedBytes(std::uint64_t bytes);
  void RemoveBytes(std::uint64_t total, std::uint64_t downloaded);
  // A file's share: its size joins the total once; its written bytes join the downloaded count while its size is
  // in; taken out, both leave and the share is empty again. Each under this lock alone, so the counts and the
  // share never disagree and no other lock is held meanwhile.
  void CountShare(tDownloadShare* share, std::uint64_t size);
  void AddToShare(tDownloadShare* share, std::uint64_t bytes);
  void TakeOutShare(tDownloadShare* share, std::uint64_t size);
  void ResetByteCounts();
  void GetByteCounts(std::uint64_t* total, std::uint64_t* downloaded) const;

 private:
  std::u16string m_Host;
  std::uint16_t m_Port;
  std::uint64_t m_TotalBytes = 0;
  std::uint64_t m_DownloadedBytes = 0;
  CBackgroundLoader m_Loader;
};

// One entry of the remote-player table (one per player id). The own id's entry holds the local player's item.
struct CRemotePlayer {
  PlayerStateFormat m_State{};
  std::int16_t m_Item = -1;         // the puppet's item number, -1 for none
  std::uint8_t* m_pItem = nullptr;  // its game item record
  void Forget() {
    m_Item = -1;
    m_pItem = nullptr;
  }
};

// The local player's item at the last LoadItems, which message 8's respawn flag returns players to.
struct SavedStart {
  std::int16_t room = 0;
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t heading = 0;
};

// What the client hands on of messages 9, 10 and 11 and what it destroys first when it goes: the client
// resource table of the resource and download code, which implements it.
class CClientResourceTable {
 public:
  virtual ~CClientResourceTable() = default;
  // A resource list read whole; the table cancels downloads before it changes any record.
  virtual void OnResourceList(const ResourceListMessage& list) = 0;
  // Answers the work it made in the frame's work units: the scripts that a start loaded.
  virtual std::uint32_t OnResourceState(const ResourceStateMessage& state) = 0;
  virtual void OnScriptEvent(const ScriptEventMessage& event) = 0;
  // Destroys every client resource (the first step of the client's destruction).
  virtual void DestroyResources() = 0;
};

class CQVNetClient : public CNetClient {
 public:
  // The work budget of a frame's Process: one resource list at its bounds (a unit per resource and per file; any
  // list spends it all), the starts of a message 10 (a unit per script), or a frame's share of events or of received
  // bytes; a frame handles at most about twice this however the server sends, and at most one resource list.
  static constexpr std::uint64_t kWorkPerFrame = std::uint64_t(kMaxResourcesPerList) + kMaxFilesPerList;

  explicit CQVNetClient(CMultiplayerState* state);
  // In order: the server info (its loader cancels every job and joins), the client resources, every puppet but
  // the local player's item, the disconnect with reason 6, the resource table, then the host.
  ~CQVNetClient() override;

  void OnReceive(ENetPeer* peer, ENetPacket* packet) override;
  void OnDisconnect(ENetEvent* event, ENetPeer* peer) override;
  // OnReceive's work on a packet's bytes (which it may read in place).
  void ReceivePacket(std::uint8_t* data, std::size_t size);

  // Message 4 from the local player's item and player record; in state in game only.
  bool SendPlayerState();
  // Message 7 of a command line (name, blank, arguments).
  bool SendCommand(std::string_view name, std::string_view arguments);

  NetClientState GetState() const { return m_State; }
  void SetState(NetClientState state) { m_State = state; }
  std::int32_t GetOwnId() const { return m_OwnId; }
  CServerInfo* GetServerInfo() const { return m_pServerInfo.get(); }
  void SetServerInfo(std::unique_ptr<CServerInfo> info) { m_pServerInfo = std::move(info); }
  void SetResourceTable(std::unique_ptr<CClientResourceTable> table) { m_pResources = std::move(table); }

 private:
  void OnAccepted(CStream* stream);
  void OnPlayerStates(CStream* stream);
  void OnPlayerLeft(CStream* stream);
  void OnPlayerUpdate(CStream* stream);
  // The entry of a player id the server named, or null when the id is none, ours (unless allowed) or outside
  // the table.
  CRemotePlayer* EntryOf(std::int32_t id, bool ownAllowed);

  CMultiplayerState* m_pModule;
  std::unique_ptr<CServerInfo> m_pServerInfo;
  std::unique_ptr<CClientResourceTable> m_pResources;
  std::int32_t m_OwnId = -1;
  NetClientState m_State = NETCLIENT_NONE;
  std::vector<RemotePlayerStateEntry> m_Entries;  // message 4's entries, kept to reuse their room
};

// The Multiplayer module's state that the connection uses; the module owns the one instance.
class CMultiplayerState {
 public:
  static constexpr std::size_t kOptionalPatches = 3;
  // The remote-player table gets one entry per item the limit allows now (features/ItemLimit.h).
  explicit CMultiplayerState(tHackModule* module);
  // Destroys the client first (it deletes its puppets through the table).
  ~CMultiplayerState();
  CMultiplayerState(const CMultiplayerState&) = delete;
  CMultiplayerState& operator=(const CMultiplayerState&) = delete;

  tHackModule* m_pModule;  // owner of the optional patches
  // The client's event types, natives and script commands (ClientScripting.h); outlives the client.
  std::unique_ptr<CClientScripting> m_pScripting;
  // The connect request's values: the options "Nickname" and "Password" (UTF-8) and the launcher's clientValue.
  std::string m_Nickname, m_Password;
  std::uint32_t m_ClientValue = 0;
  std::unique_ptr<CQVNetClient> m_pClient;
  std::vector<CRemotePlayer> m_RemotePlayers;
  bool m_Disconnected = false;
  std::uint32_t m_DisconnectReason = 0;
  // Message 2's values; 0 until then.
  std::uint8_t m_Level = 0, m_SecondLevel = 0;
  std::uint32_t m_Flags = 0, m_ScriptLoadedValue = 0;
  std::unique_ptr<CHackHack> m_pOptionalPatches[kOptionalPatches];
  SavedStart m_SavedStart;
  // Where chat lines go (UTF-8); empty until the client object exists.
  std::function<void(const char* text)> m_ChatSink;
};

// Destroys any client, makes a new one and connects; true when connected and message 1 is sent. On failure
// "Error creating netgame!" or "Error connecting!" goes to the chat and no client is left.
bool ConnectToServer(CMultiplayerState* state, const char* host, std::uint16_t port);
// One chat line of UTF-8 text, when the chat sink exists.
void PrintChatLine(CMultiplayerState* state, const char* text);

// LoadItems: every entry forgets its puppet (the level's items are new), the local player's item becomes the
// saved start and, with a client that has an own id inside the table, the own entry's item; a connected client
// is now level loaded. Does nothing but the forgetting when the game has no player item.
void OnLoadItems(CMultiplayerState* state);
// A frame's connection work: a disconnected client is destroyed; level loaded goes in game (message 3) on
// message 2's level, else writes the level bytes into the game and goes back to connected; in game the items
// are marked when the flags ask; then, in every state with a host, ENet is serviced; in game the own state is
// sent and the loader delivers its finished downloads (in no other state: they wait while a level changes).
void ProcessNetFrame(CMultiplayerState* state);
