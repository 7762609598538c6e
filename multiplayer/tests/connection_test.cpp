// The connection against the loopback test server: connect, accept, level changes, reasons, hostile peers.
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "client_fixture.h"

namespace nettest {
namespace {

constexpr gamedouble::Place kJumpFromA{0x44A78E, 0x44B11C, 0x44B10C, 0x416EC8};
constexpr gamedouble::Place kJumpFromB{0x44A872, 0x44B1FA, 0x44B1EA, 0x416FA3};
constexpr gamedouble::Place kJumpTarget{0x44AB6A, 0x44B4E2, 0x44B4D2, 0x4171FC};
constexpr gamedouble::Place kNopPlace{0x44AA7F, 0x44B3FB, 0x44B3EB, 0x4171C1};
constexpr gamedouble::Place kSecondLevelByte{0x7FD150, 0x7FD270, 0x7FD2B0, 0xE5C2B4};
constexpr gamedouble::Place kLevelByte{0x7FD190, 0x7FD2B0, 0x7FD2F0, 0xE5C2F0};
constexpr std::uint8_t kJumpOpcode = 0xE9;

class ConnectionTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    StartServer();
  }
  Bytes Code(const gamedouble::Place& place, std::size_t size) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(game->At(place)));
    return Bytes(at, at + size);
  }
};

// Cases that wait for ENet's own time-outs run on one build.
using SlowConnectionTest = ConnectionTest;

TEST_P(ConnectionTest, LevelsAndTheOptionalPatchesFollowMessage2) {
  const Bytes jumpA = Code(kJumpFromA, 6), jumpB = Code(kJumpFromB, 6), nop = Code(kNopPlace, V() ? 15 : 11);
  ConnectAndAccept(1, 0x9);
  EXPECT_EQ(77u, state->m_ScriptLoadedValue);
  const Bytes patched = Code(kJumpFromA, 5);
  EXPECT_EQ(kJumpOpcode, patched[0]);
  std::int32_t relative;
  std::memcpy(&relative, patched.data() + 1, sizeof relative);
  EXPECT_EQ(game->At(kJumpTarget), game->At(kJumpFromA) + 5 + std::uint32_t(relative));
  EXPECT_EQ(jumpB, Code(kJumpFromB, 6));
  EXPECT_NE(nop, Code(kNopPlace, V() ? 15 : 11));
  // A second message 2 takes the first's patches away before it puts its own.
  ASSERT_EQ("accepted the player as player 1 on level 5 (second level 9, features 2, value 0)",
            server->Command("accept 1 5 9 2 0"));
  ASSERT_TRUE(PumpUntil([&] { return state->m_Flags == 2; }));
  EXPECT_EQ(jumpA, Code(kJumpFromA, 6));
  EXPECT_EQ(kJumpOpcode, Code(kJumpFromB, 1)[0]);
  EXPECT_EQ(nop, Code(kNopPlace, V() ? 15 : 11));

  // Another level: the level bytes go into the game, and the client waits for that level's items.
  game->Write<std::uint8_t>(kStateByte, 2);
  OnLoadItems(state.get());
  EXPECT_EQ(NETCLIENT_LEVEL_LOADED, StateNow());
  ProcessNetFrame(state.get());
  EXPECT_EQ(NETCLIENT_CONNECTED, StateNow());
  EXPECT_EQ(kLevel, game->Read<std::uint8_t>(kLevelByte));
  EXPECT_EQ(kSecondLevel, game->Read<std::uint8_t>(kSecondLevelByte));
  EnterGame();
  const std::string own = server->Command("wait 4 5000");
  EXPECT_EQ(0u, own.rfind("received the player's state: room ", 0)) << own;
}

// Without a socket to be had the ENet host cannot be made: the chat says so and no client is left.
TEST_P(ConnectionTest, WithoutASocketTheNetgameCannotBeCreated) {
  // First with descriptors to be had: it connects. (This also lets a sanitizer's run learn the client's types
  // while it can still open what it needs to check them.)
  EXPECT_TRUE(ConnectToServer(state.get(), "127.0.0.1", server->EnetPort()));
  EXPECT_EQ(std::vector<std::string>{"Waiting for server..."}, chat);
  state->m_pClient.reset();
  chat.clear();
  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  // The lowest free descriptor is the next one a socket would take: the limit stops there.
  const int next = dup(0);
  ASSERT_GE(next, 0);
  close(next);
  rlimit low = saved;
  low.rlim_cur = rlim_t(next);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
  const bool connected = ConnectToServer(state.get(), "127.0.0.1", server->EnetPort());
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(connected);
  EXPECT_EQ(std::vector<std::string>{"Error creating netgame!"}, chat);
  EXPECT_EQ(nullptr, state->m_pClient);
}

TEST_P(ConnectionTest, EachReasonGivesItsChatText) {
  const std::uint32_t reasons[] = {0, 1, 2, 3, 4, 5, 6, 7, 99};
  for (const std::uint32_t reason : reasons) {
    SCOPED_TRACE(reason);
    ASSERT_TRUE(ConnectToServer(state.get(), "127.0.0.1", server->EnetPort()));
    ASSERT_NE("heard nothing in time", server->Command("wait 1 5000"));
    ASSERT_EQ("refused the player, " + netserver::DescribeReason(reason),
              server->Command("reject " + std::to_string(reason)));
    ASSERT_TRUE(PumpUntil([&] { return state->m_Disconnected; }));
    EXPECT_EQ(GetDisconnectChatText(reason), chat.back());
    EXPECT_EQ(reason, state->m_DisconnectReason);
    ProcessNetFrame(state.get());
    EXPECT_EQ(nullptr, state->m_pClient);
    EXPECT_FALSE(state->m_Disconnected);
  }
}

TEST_P(SlowConnectionTest, APortWithoutAServerFailsInAboutFiveSeconds) {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length));
  close(probe);
  const auto start = Clock::now();
  EXPECT_FALSE(ConnectToServer(state.get(), "127.0.0.1", ntohs(address.sin_port)));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(4500));
  EXPECT_LE(took, std::chrono::milliseconds(8000));
  EXPECT_EQ("Error connecting!", chat.back());
  EXPECT_EQ(nullptr, state->m_pClient);
}

TEST_P(SlowConnectionTest, AConnectedClientOutlastsThePeersTimeOut) {
  ConnectAndAccept(1, 0);
  // The server gives up on a silent client within a second; a client outside the game still answers.
  ASSERT_EQ("set the link's time-outs: limit 4, 300 to 1000 ms", server->Command("timeout 4 300 1000"));
  const auto until = Clock::now() + std::chrono::milliseconds(2000);
  PumpUntil([&] { return Clock::now() >= until; });
  EXPECT_EQ("heard nothing in time", server->Command("wait disconnect 10"));
  ASSERT_EQ("sent chat: still here", server->Command("chat still here"));
  EXPECT_TRUE(PumpUntil([&] { return chat.back() == "still here"; }));
  EXPECT_EQ(NETCLIENT_CONNECTED, StateNow());
}

TEST_P(ConnectionTest, UnderAFloodProcessAndQuitStayBounded) {
  ConnectAndAccept(1, 0);
  EnterGame();
  constexpr std::size_t kFlood = 3000;
  ASSERT_EQ("sent 3000 chat lines at once", server->Command("flood " + std::to_string(kFlood)));
  // Every frame handles a bounded share of what has arrived, until the whole flood is through.
  std::size_t most = 0;
  const std::size_t first = chat.size();
  EXPECT_TRUE(PumpUntil([&] {
    const std::size_t before = chat.size();
    ProcessNetFrame(state.get());
    most = std::max(most, chat.size() - before);
    return chat.size() - first >= kFlood;
  }));
  EXPECT_LE(most, std::size_t(CNetClient::kMaxEventsPerProcess));
  ASSERT_EQ("sent 3000 chat lines at once", server->Command("flood " + std::to_string(kFlood)));
  const auto start = Clock::now();
  state->m_pClient.reset();
  EXPECT_LE(Clock::now() - start, std::chrono::milliseconds(CNetClient::kDisconnectTotalMs + 1500));
  EXPECT_EQ("the player disconnected, reason 6 (quit)", server->Command("wait disconnect 5000"));
}

// Connects client to the test server, has it send a flood (`flood` is the server's command, `reply` its answer) of
// `count` events, and pumps frames until all came in: the most events one frame handled (0 when not all came).
template <class Client>
std::size_t MostEventsInAFrameOfAFlood(Client& client, CTestServer& server, const std::string& flood,
                                       const std::string& reply, std::size_t count) {
  if (!client.CreateHost() || !client.Connect("127.0.0.1", server.EnetPort())) {
    ADD_FAILURE() << "the client could not connect";
    return 0;
  }
  // The server hears of the connection once the client's acknowledgement goes out.
  enet_host_flush(client.GetHost());
  EXPECT_EQ("a player connected", server.Command("wait connect 5000"));
  EXPECT_EQ(reply, server.Command(flood));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::size_t largest = 0;
  const auto deadline = Clock::now() + kPumpTimeout;
  while (client.received < count && Clock::now() < deadline) {
    const std::size_t before = client.received;
    client.Process();
    largest = std::max(largest, client.received - before);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(count, client.received);
  client.Disconnect(DISCONNECT_CLOSED);
  server.Command("wait disconnect 5000");
  return client.received == count ? largest : 0;
}

// A receiver whose events each cost ten units of a hundred-unit budget: every frame stops once the budget is spent,
// whatever has arrived, and the rest comes in the next frames, none lost.
TEST_P(ConnectionTest, AFrameStopsOnceItsWorkBudgetIsSpent) {
  class CWorkingClient : public CNetClient {
   public:
    explicit CWorkingClient(std::uint64_t budget, std::uint32_t cost) : m_Cost(cost) { m_WorkBudget = budget; }
    void OnReceive(ENetPeer*, ENetPacket*) override {
      ++received;
      SpendWork(m_Cost - 1);
    }
    std::size_t received = 0;

   private:
    std::uint32_t m_Cost;
  };
  constexpr std::size_t kFlood = 600;
  // {budget, cost of an event, most events a frame may handle}: the event that passes the budget is handled.
  const std::tuple<std::uint64_t, std::uint32_t, std::size_t> rows[] = {
      {100, 10, 10}, {100, 1, 64}, {100, 1000, 1}, {101, 25, 5}};
  for (const auto& [budget, cost, most] : rows) {
    SCOPED_TRACE(std::to_string(budget) + " " + std::to_string(cost));
    CWorkingClient client(budget, cost);
    const std::size_t largest = MostEventsInAFrameOfAFlood(client, *server, "flood " + std::to_string(kFlood),
                                                           "sent 600 chat lines at once", kFlood);
    EXPECT_TRUE(largest > 0 && largest <= most) << largest;
  }
}

// Received bytes spend the budget too: a flood of long chat lines (or any long message) is spread over frames by
// its bytes, so a frame handles a bounded number of bytes whatever kind of message carries them.
TEST_P(ConnectionTest, AFrameStopsOnceItsReceivedBytesSpendItsBudget) {
  class CCountingClient : public CNetClient {
   public:
    explicit CCountingClient(std::uint64_t budget) { m_WorkBudget = budget; }
    void OnReceive(ENetPeer*, ENetPacket*) override { ++received; }
    std::size_t received = 0;
  };
  constexpr std::size_t kFlood = 40;
  // {budget, bytes of a chat line, most events a frame may handle}: a line costs 1 and a unit per
  // kPacketBytesPerWork of its packet; the event that passes the budget is handled.
  const std::tuple<std::uint64_t, std::uint32_t, std::size_t> rows[] = {
      {100, 16 * 1024, 2}, {100, 64 * 1024, 1}, {300, 2 * 1024, 34}, {1000, 100, 64}};
  for (const auto& [budget, size, most] : rows) {
    SCOPED_TRACE(std::to_string(budget) + " " + std::to_string(size));
    CCountingClient client(budget);
    const std::size_t largest = MostEventsInAFrameOfAFlood(client, *server, "flood 40 " + std::to_string(size),
                                                           "sent 40 chat lines at once", kFlood);
    EXPECT_TRUE(largest > 0 && largest <= most) << largest;
  }
}

TEST_P(ConnectionTest, AMuteServerCannotHoldTheQuit) {
  ConnectAndAccept(1, 0);
  ASSERT_EQ("stopped answering the player", server->Command("mute"));
  const auto start = Clock::now();
  state->m_pClient.reset();
  EXPECT_LE(Clock::now() - start, std::chrono::milliseconds(CNetClient::kDisconnectTotalMs + 1500));
}

TEST_P(SlowConnectionTest, ADroppedServerTimesOut) {
  ConnectAndAccept(1, 0);
  EnterGame();
  ASSERT_EQ("dropped the link without a word", server->Command("drop"));
  ASSERT_TRUE(PumpUntil([&] { return state->m_Disconnected; }, std::chrono::seconds(40)));
  EXPECT_EQ("Timed out", chat.back());
}

TEST_P(ConnectionTest, QuitRemovesThePuppetsKeepsTheLocalItemAndSaysWhy) {
  ConnectAndAccept(1, 0);
  EnterGame();
  ASSERT_EQ("sent other players' states: player 2 in room 3 at 10 20 30; player 3 in room 4 at 10 20 30",
            server->Command("states 2,3,10,20,30 3,4,10,20,30"));
  ASSERT_TRUE(PumpUntil([] { return MultiplePlayerSupport::CountPlayers() == 2; }));
  game->ClearCalls();
  state->m_pClient.reset();
  const auto removed = game->CallsOf(Routine::RemoveItem);
  ASSERT_EQ(2u, removed.size());
  for (const auto& call : removed) EXPECT_NE(0u, call.arguments[0] & 0xFFFF);
  EXPECT_EQ("the player disconnected, reason 6 (quit)", server->Command("wait disconnect 5000"));

  // After the server's own disconnect the own id is gone; the local item is still told apart by its number.
  ConnectAndAccept(1, 0);
  EnterGame();
  ASSERT_EQ("kicked the player, reason 4 (wrong password)", server->Command("kick 4"));
  ASSERT_TRUE(PumpUntil([&] { return state->m_Disconnected; }));
  EXPECT_EQ(-1, state->m_pClient->GetOwnId());
  game->ClearCalls();
  ProcessNetFrame(state.get());
  EXPECT_EQ(nullptr, state->m_pClient);
  EXPECT_EQ(0u, game->CallsOf(Routine::RemoveItem).size());
}

INSTANTIATE_TEST_SUITE_P(Builds, ConnectionTest,
                         ::testing::Values(ClientCase{Build::IVEditor, false}, ClientCase{Build::IVEditor, true},
                                           ClientCase{Build::IVReleasePatched, false},
                                           ClientCase{Build::IVDemoCorvel, false},
                                           ClientCase{Build::VReleasePatched, false}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(OneBuild, SlowConnectionTest, ::testing::Values(ClientCase{Build::VReleasePatched, false}),
                         CaseName);

}  // namespace
}  // namespace nettest
