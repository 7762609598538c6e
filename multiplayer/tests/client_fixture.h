#pragma once
// The network client's tests on the game double: one build, MultiplePlayerSupport loaded (and IncreasedLimits
// when asked), the module-wide state with a recording chat sink and resource table, and helpers that hand the
// client packets built by the test server's own encoders; the loopback test server when a test starts it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <features/FeatureModules.h>
#include <features/ItemLimit.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameRoutines.h>
#include <hack/GameVersion.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>

#include <multiplayer/QVNetClient.h>
#include <multiplayer/RemotePlayers.h>
#include <netserver/TestServer.h>

#include "../../tools/netserver/ServerProtocol.h"

namespace nettest {

// The modules these tests load by name.
inline const tBuiltInModule kClientModules[] = {
    {u"IncreasedLimits", IncreasedLimitsModuleHandler},
    {u"MultiplePlayerSupport", MultiplePlayerSupportModuleHandler},
};

using gamedouble::Build;
using gamedouble::Routine;
using netserver::Bytes;
using Clock = std::chrono::steady_clock;

constexpr auto kPumpTimeout = std::chrono::seconds(20);
constexpr std::uint8_t kLevel = 5, kSecondLevel = 9;
constexpr gamedouble::Place kStateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};

struct ClientCase {
  Build build;
  bool increasedLimits;
};
inline std::string CaseName(const ::testing::TestParamInfo<ClientCase>& info) {
  return std::string(gamedouble::NameOf(info.param.build)) + (info.param.increasedLimits ? "_1024" : "_256");
}

// Records what the client hands on of messages 9 to 11.
class CRecordingTable : public CClientResourceTable {
 public:
  CRecordingTable(std::vector<std::string>* log, CQVNetClient* client) : m_pLog(log), m_pClient(client) {}
  void OnResourceList(const ResourceListMessage& list) override {
    m_pLog->push_back("list " + std::to_string(list.resources.size()));
  }
  std::uint32_t OnResourceState(const ResourceStateMessage& state) override {
    m_pLog->push_back("state " + std::to_string(state.action));
    return 0;
  }
  void OnScriptEvent(const ScriptEventMessage& event) override { m_pLog->push_back("event " + event.name); }
  // The loader that reads the resources must be gone by now.
  void DestroyResources() override {
    m_pLog->push_back(m_pClient->GetServerInfo() == nullptr ? "destroy resources" : "destroy resources too early");
  }

 private:
  std::vector<std::string>* m_pLog;
  CQVNetClient* m_pClient;
};

class ClientTest : public ::testing::TestWithParam<ClientCase> {
 protected:
  static constexpr std::uint16_t kRooms = 20;
  static constexpr std::uint16_t kFirstFreeItem = 40;
  static constexpr std::uint32_t kRoomCountV = 0x87514C, kRoomCountA = 0x53392C, kRoomCountB = 0x533A5C,
                                 kRoomCountC = 0x533A9C;

  void SetUp() override {
    hack::testing::ResetHackRegistry();
    SetBuiltInModules(kClientModules, std::size(kClientModules));
    game = std::make_unique<gamedouble::CGameDouble>(GetParam().build);
    ASSERT_TRUE(game->IsReady());
    DetectGameVersion();
    ASSERT_TRUE(SelectGameBuild());
    if (GetParam().increasedLimits) {
      ASSERT_EQ(Build::IVEditor, GetParam().build) << "IncreasedLimits serves the IV Editor alone";
      Register(u"IncreasedLimits");
      ASSERT_EQ(kIncreasedItemLimit, g_ItemLimit);
      // The game's array grows with the limit.
      items.assign(std::size_t(g_ItemLimit) * Game::kItemRecordSize, 0);
      game->Write<std::uint32_t>(gamedouble::Place{0x7FE16C, 0x7FE28C, 0x7FE2CC, 0xEEEFF0},
                                 std::uint32_t(std::uintptr_t(items.data())));
      game->Write<std::uint32_t>(gamedouble::Place{0x80E01C, 0x80E13C, 0x80E17C, 0xE5BF08},
                                 std::uint32_t(std::uintptr_t(items.data())));
    }
    Register(u"MultiplePlayerSupport");
    module = CreateHackModule(u"multiplayer.dll", u"Multiplayer");
    RegisterHackModule(module, reinterpret_cast<HMODULE>(0x3000), false,
                       [](std::uint32_t, ModuleEventData*) -> std::uint32_t { return 1; });
    game->Write<std::uint16_t>(gamedouble::Place{kRoomCountA, kRoomCountB, kRoomCountC, kRoomCountV}, kRooms);
    nextItem = kFirstFreeItem;
    game->OnCall(Routine::AllocateItem,
                 [this](const gamedouble::StubCall&) -> std::uint32_t { return freeItems ? nextItem++ : 0xFFFF; });
    state = std::make_unique<CMultiplayerState>(module);
    state->m_ChatSink = [this](const char* text) { chat.push_back(text); };
  }

  void TearDown() override {
    state.reset();
    server.reset();
    // Unloaded, not only forgotten: MultiplePlayerSupport frees its tables at its Unload.
    hack::testing::UnloadAndResetHackRegistry();
    game.reset();
  }

  void Register(const char16_t* name) {
    tHackModule* record = CreateHackModule(u"module.dll", name);
    ASSERT_EQ(1u, RegisterBuiltInModule(record, reinterpret_cast<HMODULE>(0x2000)) & 1);
  }

  bool V() const { return GetParam().build == Build::VReleasePatched; }
  std::size_t TableSize() const { return state->m_RemotePlayers.size(); }

  // A client without a connection, in the state asked, with own id.
  CQVNetClient* MakeClient(NetClientState target, std::uint32_t ownId = 1) {
    state->m_pClient = std::make_unique<CQVNetClient>(state.get());
    CQVNetClient* client = state->m_pClient.get();
    client->SetResourceTable(std::make_unique<CRecordingTable>(&table, client));
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", 22000));
    Receive(netserver::Accepted(ownId, 1, 2, 0, 0));
    OnLoadItems(state.get());
    client->SetState(target);
    chat.clear();
    return client;
  }
  void Receive(Bytes packet) { state->m_pClient->ReceivePacket(packet.data(), packet.size()); }

  std::uint8_t* Item(std::uint32_t number) { return Game::GetItemArray() + number * Game::kItemRecordSize; }
  template <typename T>
  T ItemField(std::uint32_t number, std::uint32_t offset) {
    T value;
    std::memcpy(&value, Item(number) + offset, sizeof value);
    return value;
  }
  // The local player's state as MultiplePlayerSupport copies it, and its item record.
  Bytes LocalState() {
    Bytes bytes(MultiplePlayerSupport::kSnapshotSize + Game::kItemRecordSize);
    MultiplePlayerSupport::SavePlayerState(bytes.data());
    std::memcpy(bytes.data() + MultiplePlayerSupport::kSnapshotSize, Game::GetPlayerItem(), Game::kItemRecordSize);
    return bytes;
  }
  std::size_t CallCount(Routine routine) const { return game->CallsOf(routine).size(); }

  // The loopback test server serving the folder, and the connection's settings it reads back.
  void StartServer(const std::string& files = "") {
    ASSERT_EQ(0, enet_initialize());
    server = files.empty() ? std::make_unique<CTestServer>() : std::make_unique<CTestServer>(files);
    ASSERT_TRUE(server->Started());
    state->m_Nickname = "Kelv";
    state->m_Password = "pw";
    state->m_ClientValue = 5;
  }
  // Runs the frame's network work and the delivery of finished downloads until done() or the time-out (false).
  bool PumpUntil(const std::function<bool()>& done, Clock::duration timeout = kPumpTimeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      ProcessNetFrame(state.get());
      CServerInfo* info = state->m_pClient ? state->m_pClient->GetServerInfo() : nullptr;
      if (info != nullptr) info->GetLoader().ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  NetClientState StateNow() const { return state->m_pClient ? state->m_pClient->GetState() : NETCLIENT_NONE; }
  virtual void OnConnecting() {}
  // Connects, has the server read message 1 and accept; the client is connected afterwards.
  void ConnectAndAccept(std::uint32_t ownId, std::uint32_t flags) {
    ASSERT_TRUE(ConnectToServer(state.get(), "127.0.0.1", server->EnetPort()));
    OnConnecting();
    EXPECT_EQ("Waiting for server...", chat.back());
    EXPECT_EQ("the player \"Kelv\" asks to join (protocol 24, game " + std::to_string(GameVersion) +
                  ", client value 5, password \"pw\")",
              server->Command("wait 1 5000"));
    ASSERT_EQ("accepted the player as player " + std::to_string(ownId) + " on level " + std::to_string(kLevel) +
                  " (second level " + std::to_string(kSecondLevel) + ", features " + std::to_string(flags) +
                  ", value 77)",
              server->Command("accept " + std::to_string(ownId) + " " + std::to_string(kLevel) + " " +
                              std::to_string(kSecondLevel) + " " + std::to_string(flags) + " 77"));
    ASSERT_TRUE(PumpUntil([&] { return StateNow() == NETCLIENT_CONNECTED; }));
    EXPECT_EQ("Connected", chat.back());
  }
  void EnterGame() {
    game->Write<std::uint8_t>(kStateByte, kLevel);
    OnLoadItems(state.get());
    ProcessNetFrame(state.get());
    ASSERT_EQ(NETCLIENT_IN_GAME, StateNow());
    EXPECT_EQ("the player is in the game", server->Command("wait 3 5000"));
  }

  std::unique_ptr<gamedouble::CGameDouble> game;
  std::vector<std::uint8_t> items;
  tHackModule* module = nullptr;
  std::unique_ptr<CMultiplayerState> state;
  std::vector<std::string> chat;
  std::vector<std::string> table;
  std::unique_ptr<CTestServer> server;
  std::uint32_t nextItem = kFirstFreeItem;
  bool freeItems = true;
};

inline netserver::State StateIn(std::int16_t room, std::int32_t x = 100) {
  netserver::State s;
  s.room = room;
  s.x = x;
  s.y = -50;
  s.z = 7;
  s.heading = 0x4000;
  s.stateWord = 0xFFFFFFFF;
  s.wordA = 0xAAAA;
  s.wordB = 0xBBBB;
  s.word44 = 44;
  return s;
}

}  // namespace nettest
