// libFuzzer target: CQVNetClient's OnReceive work on any packet, in one state (chosen at build time by
// NET_FUZZ_STATE), over the game double of the IV Release build with MultiplePlayerSupport loaded and a puppet
// in play. Whatever arrives, nothing fatal runs, the local player's state is left intact unless a message
// meant for it moved it, and the client is torn down cleanly after each input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <features/FeatureModules.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameVersion.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>

#include <multiplayer/QVNetClient.h>

namespace {

constexpr std::uint16_t kRooms = 20;
constexpr std::uint32_t kFirstFreeItem = 40, kFreeItems = 150;
constexpr std::int32_t kOwnId = 1;

class CCountingTable : public CClientResourceTable {
 public:
  void OnResourceList(const ResourceListMessage&) override {}
  std::uint32_t OnResourceState(const ResourceStateMessage&) override { return 0; }
  void OnScriptEvent(const ScriptEventMessage&) override {}
  void DestroyResources() override {}
};

struct Harness {
  Harness() : game(gamedouble::Build::IVReleasePatched) {
    if (!game.IsReady()) std::abort();
    DetectGameVersion();
    if (!SelectGameBuild()) std::abort();
    tHackModule* mps = CreateHackModule(u"module.dll", u"MultiplePlayerSupport");
    if ((RegisterHackModule(mps, reinterpret_cast<HMODULE>(0x2000), false, MultiplePlayerSupportModuleHandler) & 1) ==
        0)
      std::abort();
    module = CreateHackModule(u"multiplayer.dll", u"Multiplayer");
    RegisterHackModule(module, reinterpret_cast<HMODULE>(0x3000), false,
                       [](std::uint32_t, ModuleEventData*) -> std::uint32_t { return 1; });
    game.Write<std::uint16_t>(gamedouble::Place{0x53392C, 0x533A5C, 0x533A9C, 0x87514C}, kRooms);
    game.OnCall(gamedouble::Routine::AllocateItem, [this](const gamedouble::StubCall&) -> std::uint32_t {
      return kFirstFreeItem + (next++ % kFreeItems);
    });
    state = std::make_unique<CMultiplayerState>(module);
    state->m_ChatSink = [](const char*) {};
  }
  gamedouble::CGameDouble game;
  tHackModule* module = nullptr;
  std::unique_ptr<CMultiplayerState> state;
  std::uint32_t next = 0;
};

void Receive(CQVNetClient* client, std::vector<std::uint8_t> packet) {
  client->ReceivePacket(packet.data(), packet.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness* h = new Harness();
  CMultiplayerState* state = h->state.get();
  state->m_pClient = std::make_unique<CQVNetClient>(state);
  CQVNetClient* client = state->m_pClient.get();
  client->SetResourceTable(std::make_unique<CCountingTable>());
  // Accepted as player 1, level loaded, one puppet for player 2 in room 3.
  Receive(client,
          {0x01, 0x34, 0x56, 0x51, 2, 0, 0, 0, 0, 0, kOwnId, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  OnLoadItems(state);
  client->SetState(NETCLIENT_IN_GAME);
  std::vector<std::uint8_t> puppet = {0x01, 0x34, 0x56, 0x51, 4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0};
  puppet.resize(puppet.size() + 32, 0);
  Receive(client, puppet);
  client->SetState(NetClientState(NET_FUZZ_STATE));
  std::vector<std::uint8_t> packet(data, data + size);
  client->ReceivePacket(packet.data(), packet.size());
  if (MultiplePlayerSupport::IsRemoteCurrent()) std::abort();  // every switch is undone
  state->m_pClient.reset();
  state->m_Disconnected = false;
  h->game.ClearCalls();
  if (MultiplePlayerSupport::CountPlayers() != 0) std::abort();  // no puppet outlives the client
  return 0;
}
