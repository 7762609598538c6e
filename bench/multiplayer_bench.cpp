// links: brindle_netclient brindle_gameimage
// The multiplayer client's per-frame costs, each against a bare baseline in the same run:
// - reading message 4 with 64 entries against a memcpy of its bytes (goal: "read/memcpy" at most 30);
// - encoding the own message 4 against a memcpy of its 42 bytes (goal: "encode/memcpy" at most 5);
// - applying message 4 with 64 remote players on the game double against 64 bare switch pairs through
//   MultiplePlayerSupport (goal: "apply/switch" at most 1.3).
// Each iteration times a batch of each side, alternating which goes first; results are checked.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <base/Stream.h>
#include <features/FeatureModules.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameVersion.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>

#include <multiplayer/Protocol.h>
#include <multiplayer/QVNetClient.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kPlayers = 64;
constexpr int kBatch = 200;

// Times a and b in batches, alternating their order, and reports the ratio a/b under name.
template <typename A, typename B>
void Compare(benchmark::State& state, const char* name, A a, B b) {
  Clock::duration timeA{}, timeB{};
  bool aFirst = true;
  for (auto _ : state) {
    const auto runA = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kBatch; ++i) a(i);
      timeA += Clock::now() - start;
    };
    const auto runB = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kBatch; ++i) b(i);
      timeB += Clock::now() - start;
    };
    if (aFirst) {
      runA();
      runB();
    } else {
      runB();
      runA();
    }
    aFirst = !aFirst;
  }
  const double calls = double(state.iterations()) * kBatch;
  const double nsA = std::chrono::duration<double, std::nano>(timeA).count();
  const double nsB = std::chrono::duration<double, std::nano>(timeB).count();
  if (calls > 0 && nsB > 0) {
    state.counters["measured_ns"] = nsA / calls;
    state.counters["baseline_ns"] = nsB / calls;
    state.counters[name] = nsA / nsB;
  }
}

std::vector<std::uint8_t> StatesMessage(std::int32_t x) {
  std::vector<std::uint8_t> packet(kPacketHeaderSize + sizeof(std::uint32_t) + kPlayers * kRemotePlayerEntrySize);
  const PacketHeader header{kPacketMagic, PACKET_PLAYER_STATE};
  std::memcpy(packet.data(), &header, sizeof header);
  std::memcpy(packet.data() + kPacketHeaderSize, &kPlayers, sizeof kPlayers);
  for (std::uint32_t i = 0; i < kPlayers; ++i) {
    RemotePlayerStateEntry entry{};
    entry.id = i + 2;
    entry.state.room = 3;
    entry.state.x = x + std::int32_t(i);
    std::memcpy(packet.data() + kPacketHeaderSize + 4 + i * kRemotePlayerEntrySize, &entry, sizeof entry);
  }
  return packet;
}

void ReadStates(benchmark::State& state) {
  std::vector<std::uint8_t> packet = StatesMessage(7);
  std::vector<std::uint8_t> copy(packet.size());
  std::vector<RemotePlayerStateEntry> entries;
  std::int64_t sum = 0, expected = 0;
  Compare(
      state, "read/memcpy",
      [&](int) {
        CByteArrayStream* stream = OpenPacket(packet.data(), packet.size());
        ReadRemotePlayerStates(stream, &entries);
        stream->Release();
        sum += entries.back().state.x;
        expected += 7 + kPlayers - 1;
      },
      [&](int) {
        std::memcpy(copy.data(), packet.data(), packet.size());
        benchmark::ClobberMemory();
      });
  if (sum != expected || copy != packet) state.SkipWithError("the entries read differ from those sent");
}
BENCHMARK(ReadStates);

void EncodeOwnState(benchmark::State& state) {
  PlayerStateFormat own{};
  std::uint8_t message[kPlayerStateMessageSize];
  std::uint8_t source[kPlayerStateMessageSize] = {};
  std::uint8_t copy[kPlayerStateMessageSize];
  std::int64_t sum = 0, expected = 0;
  Compare(
      state, "encode/memcpy",
      [&](int i) {
        own.x = i;
        EncodePlayerState(own, message);
        benchmark::ClobberMemory();
        sum += message[kPacketHeaderSize + offsetof(PlayerStateFormat, x)];
        expected += std::uint8_t(i);
      },
      [&](int i) {
        source[kPacketHeaderSize] = std::uint8_t(i);
        std::memcpy(copy, source, sizeof copy);
        benchmark::ClobberMemory();
        sum += copy[kPacketHeaderSize];
        expected += std::uint8_t(i);
      });
  if (sum != expected) state.SkipWithError("the encoded state differs");
}
BENCHMARK(EncodeOwnState);

void ApplyStates(benchmark::State& state) {
  hack::testing::ResetHackRegistry();
  gamedouble::CGameDouble game(gamedouble::Build::IVReleasePatched);
  if (!game.IsReady()) {
    state.SkipWithError("could not map the game double");
    return;
  }
  DetectGameVersion();
  SelectGameBuild();
  RegisterHackModule(CreateHackModule(u"module.dll", u"MultiplePlayerSupport"), reinterpret_cast<HMODULE>(0x2000),
                     false, MultiplePlayerSupportModuleHandler);
  tHackModule* module = CreateHackModule(u"multiplayer.dll", u"Multiplayer");
  game.Write<std::uint16_t>(0x533A5C, 20);  // rooms
  constexpr std::uint32_t kFirstItem = 40;
  std::uint32_t next = kFirstItem;
  game.OnCall(gamedouble::Routine::AllocateItem, [&](const gamedouble::StubCall&) { return next++; });
  {
    CMultiplayerState multiplayer(module);
    multiplayer.m_pClient = std::make_unique<CQVNetClient>(&multiplayer);
    CQVNetClient* client = multiplayer.m_pClient.get();
    std::vector<std::uint8_t> accepted(kAcceptedMessageSize, 0);
    const PacketHeader header{kPacketMagic, PACKET_ACCEPTED};
    std::memcpy(accepted.data(), &header, sizeof header);
    accepted[10] = 1;  // own id 1
    client->ReceivePacket(accepted.data(), accepted.size());
    client->SetState(NETCLIENT_IN_GAME);
    std::vector<std::uint8_t> first = StatesMessage(0);
    client->ReceivePacket(first.data(), first.size());
    if (MultiplePlayerSupport::CountPlayers() != kPlayers) {
      state.SkipWithError("the puppets were not made");
      return;
    }
    std::vector<std::vector<std::uint8_t>> packets;
    for (int i = 0; i < kBatch; ++i) packets.push_back(StatesMessage(1000 * (i + 1)));
    std::uint8_t* local = MultiplePlayerSupport::GetLocalSnapshot();
    bool ok = true;
    Compare(
        state, "apply/switch",
        [&](int i) {
          std::vector<std::uint8_t>& packet = packets[std::size_t(i)];
          client->ReceivePacket(packet.data(), packet.size());
          const std::uint8_t* last = multiplayer.m_RemotePlayers[kPlayers + 1].m_pItem;
          std::int32_t x;
          std::memcpy(&x, last + 64, sizeof x);
          ok = ok && x == 1000 * (i + 1) + std::int32_t(kPlayers) - 1;
        },
        [&](int) {
          for (std::uint32_t p = 0; p < kPlayers; ++p) {
            const auto item = std::uint16_t(kFirstItem + p);
            MultiplePlayerSupport::SavePlayerState(local);
            MultiplePlayerSupport::SetRemoteCurrent(true);
            MultiplePlayerSupport::SwitchToPlayer(std::int16_t(item));
            MultiplePlayerSupport::SavePlayerState(MultiplePlayerSupport::GetPlayerSnapshot(item));
            MultiplePlayerSupport::SwitchToLocalPlayer();
          }
          ok = ok && !MultiplePlayerSupport::IsRemoteCurrent();
        });
    if (!ok) state.SkipWithError("a puppet did not follow its state");
    game.ClearCalls();
  }
  hack::testing::ResetHackRegistry();
}
BENCHMARK(ApplyStates);

}  // namespace
