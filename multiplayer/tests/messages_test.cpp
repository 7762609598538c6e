// Each server message in each state: acted on only where it belongs, and never when cut short (at every byte, so
// every reader's every field) or foreign.
#include "client_fixture.h"

namespace nettest {
namespace {

using MessagesTest = ClientTest;

struct MessageCase {
  const char* label;
  Bytes packet;
  bool anyState;  // acted on in every state, else in game only
};

std::vector<MessageCase> Messages() {
  return {
      {"accepted", netserver::Accepted(1, 1, 2, 0, 0), true},
      {"chat", netserver::Chat("hello"), true},
      {"states", netserver::PlayerStates({{3, StateIn(3)}}), false},
      {"left", netserver::PlayerLeft(2), false},
      {"update", netserver::PlayerUpdate({0x1F, 2, 4}), false},
      {"list", netserver::ResourceList({{"race", true, {{1, "client.nut", 1, 2}, {0, "b", 3, 4}}}, {"s", false, {}}}),
       false},
      {"resource state", netserver::ResourceState(7, 1), false},
      {"event", netserver::ScriptEvent("onRace", {2, 0, 0, 0, 3, 1, 4, 2, 0, 'h', 'i'}), false},
  };
}

TEST_P(MessagesTest, EachMessageActsOnlyInItsStates) {
  const NetClientState states[] = {NETCLIENT_NONE, NETCLIENT_CONNECTING, NETCLIENT_CONNECTED, NETCLIENT_LEVEL_LOADED,
                                   NETCLIENT_IN_GAME};
  for (const MessageCase& message : Messages()) {
    for (const NetClientState s : states) {
      SCOPED_TRACE(std::string(message.label) + " in state " + std::to_string(s));
      CQVNetClient* client = MakeClient(NETCLIENT_IN_GAME);
      Receive(netserver::PlayerStates({{2, StateIn(3)}}));  // a puppet for messages 5 and 8
      client->SetState(s);
      table.clear();
      game->ClearCalls();
      Receive(message.packet);
      const bool acts = message.anyState || s == NETCLIENT_IN_GAME;
      const bool did = !chat.empty() || !table.empty() || !game->Calls().empty() || client->GetState() != s;
      EXPECT_EQ(acts, did);
      state->m_pClient.reset();
    }
  }
}

TEST_P(MessagesTest, ForeignMagicsUnknownNumbersAndCutMessagesDoNothing) {
  std::vector<std::pair<std::string, Bytes>> inert;
  for (const MessageCase& message : Messages()) {
    Bytes foreign = message.packet;
    foreign[0] ^= 0xFF;
    inert.emplace_back(std::string(message.label) + " foreign", foreign);
    if (std::string(message.label) == "states") continue;  // complete entries count; checked below
    for (std::size_t cut = 0; cut < message.packet.size(); ++cut) {
      inert.emplace_back(std::string(message.label) + " cut at " + std::to_string(cut),
                         Bytes(message.packet.begin(), message.packet.begin() + cut));
    }
  }
  for (const std::uint32_t id : {0u, 3u, 7u, 12u, 0xFFFFFFFFu}) inert.emplace_back("id", netserver::Header(id));
  CQVNetClient* client = MakeClient(NETCLIENT_IN_GAME);
  Receive(netserver::PlayerStates({{2, StateIn(3)}}));
  table.clear();
  game->ClearCalls();
  const Bytes before = LocalState();
  testing::internal::CaptureStdout();
  for (const auto& [label, packet] : inert) {
    SCOPED_TRACE(label);
    Receive(packet);
    EXPECT_TRUE(chat.empty());
    EXPECT_TRUE(table.empty());
    EXPECT_TRUE(game->Calls().empty());
    EXPECT_EQ(NETCLIENT_IN_GAME, client->GetState());
  }
  const std::string console = testing::internal::GetCapturedStdout();
  // A cut resource list says so once per list; nothing else prints.
  std::size_t lines = 0;
  for (std::size_t at = console.find("MULTIPLAYER: Dropped a damaged resource list\n"); at != std::string::npos;
       at = console.find("MULTIPLAYER: Dropped", at + 1)) {
    ++lines;
  }
  const std::size_t listCuts = Messages()[5].packet.size() - kPacketHeaderSize;
  EXPECT_EQ(listCuts, lines);
  EXPECT_EQ(listCuts * std::string("MULTIPLAYER: Dropped a damaged resource list\n").size(), console.size());
  EXPECT_EQ(before, LocalState());

  // Message 4 cut inside its second entry applies the first alone.
  const Bytes two = netserver::PlayerStates({{3, StateIn(3)}, {4, StateIn(4)}});
  Receive(Bytes(two.begin(), two.end() - 1));
  EXPECT_GE(state->m_RemotePlayers[3].m_Item, 0);
  EXPECT_EQ(-1, state->m_RemotePlayers[4].m_Item);
}

TEST_P(MessagesTest, UnsoundResourceNamesAreSkippedWithAConsoleLine) {
  MakeClient(NETCLIENT_IN_GAME);
  testing::internal::CaptureStdout();
  Receive(netserver::ResourceList({{"..", true, {{1, "a.nut", 1, 2}}}, {"ok", false, {{0, "../x", 1, 2}}}}));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::vector<std::string>{"list 1"}, table);
  EXPECT_NE(std::string::npos, console.find("MULTIPLAYER: Skipping resource"));
  EXPECT_NE(std::string::npos, console.find("MULTIPLAYER: Skipping file"));
}

TEST(ServerInfo, KeepsTheHostWidenedAndCutAndCountsBytes) {
  const struct {
    std::string host;
    std::u16string wide;
  } cases[] = {{"127.0.0.1", u"127.0.0.1"},
               {"h\xC3\xB4te", u"h\u00F4te"},
               {"", u""},
               {std::string(300, 'a'), std::u16string(CServerInfo::kMaxHostLength, u'a')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    CServerInfo info(c.host.c_str(), 22000);
    EXPECT_EQ(c.wide, info.GetHost());
  }
  CServerInfo info("h", 1);
  // Past 32 bits, and a share taken out after a reset stops at 0.
  info.AddTotalBytes(0x1'0000'0000ull);
  info.AddTotalBytes(100);
  info.AddDownloadedBytes(5);
  info.RemoveBytes(100, 2);
  std::uint64_t total = 0, downloaded = 0;
  info.GetByteCounts(&total, &downloaded);
  EXPECT_EQ(0x1'0000'0000ull, total);
  EXPECT_EQ(3u, downloaded);
  info.ResetByteCounts();
  info.RemoveBytes(7, 7);
  info.GetByteCounts(&total, &downloaded);
  EXPECT_EQ(0u, total + downloaded);
}

INSTANTIATE_TEST_SUITE_P(Builds, MessagesTest,
                         ::testing::Values(ClientCase{Build::IVEditor, false},
                                           ClientCase{Build::VReleasePatched, false}),
                         CaseName);

}  // namespace
}  // namespace nettest
