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

// Each message does its own work in its states, and nothing at all in the others.
TEST_P(MessagesTest, EachMessageActsOnlyInItsStates) {
  constexpr std::uint32_t kItemX = 64;
  const NetClientState states[] = {NETCLIENT_NONE, NETCLIENT_CONNECTING, NETCLIENT_CONNECTED, NETCLIENT_LEVEL_LOADED,
                                   NETCLIENT_IN_GAME};
  const auto moved = [&](std::uint32_t item) {
    const auto calls = game->CallsOf(Routine::MoveItemToRoom);
    return calls.size() == 1 && (calls[0].arguments[0] & 0xFFFF) == item;
  };
  // What each message does where it acts, read from the client, the table and the game double.
  const std::vector<std::pair<MessageCase, std::function<bool(std::int16_t puppet)>>> cases = {
      {{"accepted", netserver::Accepted(1, 6, 7, 0, 0), true},
       [&](std::int16_t) {
         return state->m_pClient->GetState() == NETCLIENT_CONNECTED && state->m_Level == 6 &&
                state->m_SecondLevel == 7 && chat == std::vector<std::string>{"Connected"};
       }},
      {{"chat", netserver::Chat("hello"), true},
       [&](std::int16_t) { return chat == std::vector<std::string>{"hello"}; }},
      {{"states", netserver::PlayerStates({{3, StateIn(3, 333)}}), false},
       [&](std::int16_t) {
         const std::int16_t item = state->m_RemotePlayers[3].m_Item;
         return item >= 0 && CallCount(Routine::AllocateItem) == 1 && ItemField<std::int32_t>(item, kItemX) == 333;
       }},
      {{"left", netserver::PlayerLeft(2), false},
       [&](std::int16_t puppet) {
         const auto removed = game->CallsOf(Routine::RemoveItem);
         return state->m_RemotePlayers[2].m_Item == -1 && removed.size() == 1 &&
                std::int16_t(removed[0].arguments[0] & 0xFFFF) == puppet;
       }},
      {{"update", netserver::PlayerUpdate({0x03, 2, 4, 123, 456, 789}), false},
       [&](std::int16_t puppet) {
         return moved(std::uint32_t(puppet)) && ItemField<std::int32_t>(puppet, kItemX) == 123;
       }},
      {{"list", netserver::ResourceList({{"race", true, {{1, "client.nut", 1, 2}, {0, "b", 3, 4}}}, {"s", false, {}}}),
        false},
       [&](std::int16_t) { return table == std::vector<std::string>{"list 2"}; }},
      {{"resource state", netserver::ResourceState(7, 1), false},
       [&](std::int16_t) { return table == std::vector<std::string>{"state 1"}; }},
      {{"event", netserver::ScriptEvent("onRace", {2, 0, 0, 0, 3, 1, 4, 2, 0, 'h', 'i'}), false},
       [&](std::int16_t) { return table == std::vector<std::string>{"event onRace"}; }},
  };
  ASSERT_EQ(Messages().size(), cases.size());
  for (const auto& [message, effect] : cases) {
    for (const NetClientState s : states) {
      SCOPED_TRACE(std::string(message.label) + " in state " + std::to_string(s));
      CQVNetClient* client = MakeClient(NETCLIENT_IN_GAME);
      Receive(netserver::PlayerStates({{2, StateIn(3)}}));  // a puppet for messages 5 and 8
      const std::int16_t puppet = state->m_RemotePlayers[2].m_Item;
      ASSERT_GE(puppet, 0);
      client->SetState(s);
      table.clear();
      game->ClearCalls();
      Receive(message.packet);
      if (message.anyState || s == NETCLIENT_IN_GAME) {
        EXPECT_TRUE(effect(puppet));
      } else {
        EXPECT_TRUE(chat.empty());
        EXPECT_TRUE(table.empty());
        EXPECT_TRUE(game->Calls().empty());
        EXPECT_EQ(s, client->GetState());
        EXPECT_EQ(puppet, state->m_RemotePlayers[2].m_Item);
        EXPECT_EQ(-1, state->m_RemotePlayers[3].m_Item);
      }
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

// A loader's job that counts its deliveries.
class CCountingJob : public tLoadable {
 public:
  void Load() override {}
  void OnLoaded() override { ++delivered; }
  void Cancel(bool) override {}
  int delivered = 0;
};

// The frame delivers finished downloads in game alone: in every other state (a level change included) the job
// waits in the loader, and is delivered once the client is in game.
TEST_P(MessagesTest, FinishedDownloadsAreDeliveredInGameAlone) {
  constexpr int kFrames = 20;
  const NetClientState states[] = {NETCLIENT_NONE, NETCLIENT_CONNECTING, NETCLIENT_CONNECTED, NETCLIENT_LEVEL_LOADED,
                                   NETCLIENT_IN_GAME};
  for (const NetClientState s : states) {
    SCOPED_TRACE(s);
    CQVNetClient* client = MakeClient(s);
    CBackgroundLoader& loader = client->GetServerInfo()->GetLoader();
    auto* job = new CCountingJob();
    ASSERT_TRUE(loader.Queue(job));
    const bool inGame = s == NETCLIENT_IN_GAME;
    for (int frame = 0; frame < kFrames && job->delivered == 0; ++frame) {
      ProcessNetFrame(state.get());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!inGame) {
      EXPECT_EQ(0, job->delivered);
      EXPECT_FALSE(loader.IsStarted());
      EXPECT_EQ(1u, loader.GetJobCount());
      client->SetState(NETCLIENT_IN_GAME);
    }
    const auto deadline = Clock::now() + kPumpTimeout;
    while (job->delivered == 0 && Clock::now() < deadline) {
      ProcessNetFrame(state.get());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(1, job->delivered);
    state->m_pClient.reset();
    job->Release();
  }
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

// A file's share: its size counts once, its bytes only while it counts, and it leaves once, never below 0.
TEST(ServerInfo, AFilesShareEntersAndLeavesTheCountsOnce) {
  const struct {
    const char* steps;  // c count, a add 10, t take out, r reset the counts
    std::uint64_t total, downloaded;
  } cases[] = {
      {"c", 100, 0},  {"cc", 100, 0}, {"a", 0, 0},    {"ca", 100, 10},    {"caa", 100, 20},
      {"cat", 0, 0},  {"catt", 0, 0}, {"cata", 0, 0}, {"catca", 100, 10}, {"car", 0, 0},
      {"cart", 0, 0}, {"carc", 0, 0}, {"t", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    CServerInfo info("h", 1);
    tDownloadShare share, other;
    info.CountShare(&other, 1000);  // another file's share stays whatever this one does, but for a reset
    bool reset = false;
    for (const char* step = c.steps; *step != 0; ++step) {
      if (*step == 'c') info.CountShare(&share, 100);
      if (*step == 'a') info.AddToShare(&share, 10);
      if (*step == 't') info.TakeOutShare(&share, 100);
      if (*step == 'r') {
        info.ResetByteCounts();
        reset = true;
      }
    }
    std::uint64_t total = 0, downloaded = 0;
    info.GetByteCounts(&total, &downloaded);
    EXPECT_EQ(c.total + (reset ? 0 : 1000), total);
    EXPECT_EQ(c.downloaded, downloaded);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, MessagesTest,
                         ::testing::Values(ClientCase{Build::IVEditor, false},
                                           ClientCase{Build::VReleasePatched, false}),
                         CaseName);

}  // namespace
}  // namespace nettest
