// libFuzzer target: a sequence of server messages 9 (resource lists), 10 (start, stop, restart) and 11 (script
// events) through CQVNetClient's receive path into the real resource table and the script host, on the game double
// of the IV Release build. The cache tree holds the resource "res" whose script uses every native in every client
// event, so lists, starts, stops and events run real scripts in whatever order the input gives. Nothing may end
// the process or leak, and the client with its table and loader goes with each input.
//
// Input: records of one kind byte and a body. Kind & 3: 0 a message 9 body, 1 a message 10 body (u32 name hash,
// u8 action), 2 a message 11 body, 3 a message 10 to the record that the first body byte picks (by index among
// the table's records) with the second byte as its action. A body is as long as the u16 that follows the kind says
// (cut at the end of the input).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>

#include <multiplayer/QVNetClient.h>

#include "client_scripts_fuzz.h"

namespace {

constexpr std::size_t kMaxMessages = 24;
constexpr std::uint32_t kMessageOf[] = {PACKET_RESOURCE_LIST, PACKET_RESOURCE_STATE, PACKET_SCRIPT_EVENT};
constexpr std::uint8_t kPickRecord = 3;

// The game double behind the client's teardown (it asks the game for the local player's item).
gamedouble::CGameDouble& Game() {
  static auto* game = [] {
    // Every list, start and stop prints its console lines: a run of millions would bury the fuzzer's own report.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    auto* created = new gamedouble::CGameDouble(gamedouble::Build::IVReleasePatched);
    if (!created->IsReady()) std::abort();
    DetectGameVersion();
    if (!SelectGameBuild()) std::abort();
    return created;
  }();
  return *game;
}

void Put32(std::vector<std::uint8_t>* out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(std::uint8_t(value >> shift));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Game();
  fuzzclient::tClient& fuzz = fuzzclient::Client();
  CMultiplayerState* state = fuzz.state.get();
  state->m_pClient = std::make_unique<CQVNetClient>(state);
  CQVNetClient* client = state->m_pClient.get();
  client->SetResourceTable(CreateClientResourceTable(state, client));
  // Downloads are queued but never started: nothing here delivers finished jobs, and the teardown cancels them.
  client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", 9));
  client->SetState(NETCLIENT_IN_GAME);
  std::size_t at = 0;
  for (std::size_t count = 0; count < kMaxMessages && at + 3 <= size; ++count) {
    const std::uint8_t kind = data[at] & 3;
    const std::size_t length = std::min<std::size_t>(data[at + 1] | (data[at + 2] << 8), size - at - 3);
    const std::uint8_t* body = data + at + 3;
    at += 3 + length;
    std::vector<std::uint8_t> packet;
    Put32(&packet, kPacketMagic);
    if (kind == kPickRecord) {
      const auto& records = CClientResources::GetCurrent()->GetResources();
      if (records.empty() || length < 2) continue;
      Put32(&packet, PACKET_RESOURCE_STATE);
      Put32(&packet, records[body[0] % records.size()]->GetNameHash());
      packet.push_back(body[1]);
    } else {
      Put32(&packet, kMessageOf[kind]);
      packet.insert(packet.end(), body, body + length);
    }
    client->ReceivePacket(packet.data(), packet.size());
  }
  state->m_pClient.reset();
  if (CClientResources::GetCurrent() != nullptr) std::abort();  // the table went with its client
  return 0;
}
