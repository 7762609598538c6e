// Resources against the loopback test server: its message 9 over a cache that holds every file, and a script's
// TriggerServerEvent as the server reads it.
#include <chrono>
#include <thread>

#include <netserver/TestServer.h>

#include "resources_fixture.h"

namespace nettest {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPumpTimeout = std::chrono::seconds(10);
constexpr std::uint8_t kLevel = 5;
constexpr gamedouble::Place kStateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};

class ResourceServerTest : public ResourceTest {
 protected:
  void SetUp() override {
    ResourceTest::SetUp();
    ASSERT_EQ(0, enet_initialize());
    std::filesystem::create_directories(root + "/server/race");
    server = std::make_unique<CTestServer>(root + "/server");
    ASSERT_TRUE(server->Started());
  }
  void TearDown() override {
    state.reset();
    server.reset();
    ResourceTest::TearDown();
  }
  // The file on the server and the same bytes in the cache.
  void Publish(const std::string& file, const std::string& content) {
    std::ofstream(root + "/server/race/" + file, std::ios::binary) << content;
    Cache("race", file, content);
  }
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kPumpTimeout;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      ProcessNetFrame(state.get());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  void ConnectAndEnterGame() {
    ASSERT_TRUE(ConnectToServer(state.get(), "127.0.0.1", server->EnetPort()));
    state->m_pClient->SetResourceTable(CreateClientResourceTable(state.get(), state->m_pClient.get()));
    ASSERT_EQ(0u, server->Command("wait 1 5000").rfind("connect", 0));
    ASSERT_EQ("ok", server->Command("accept 1 " + std::to_string(kLevel) + " 9 0 0"));
    ASSERT_TRUE(PumpUntil([&] { return state->m_pClient->GetState() == NETCLIENT_CONNECTED; }));
    game->Write<std::uint8_t>(kStateByte, kLevel);
    OnLoadItems(state.get());
    ProcessNetFrame(state.get());
    ASSERT_EQ(NETCLIENT_IN_GAME, state->m_pClient->GetState());
    ASSERT_EQ("ready", server->Command("wait 3 5000"));
  }

  std::unique_ptr<CTestServer> server;
};

TEST_P(ResourceServerTest, CachedResourceRunsWithoutRequestsAndItsEventReachesTheServer) {
  Publish("client.nut", std::string(kReportingScript) + R"(
    Engine.EventSystem.GetEventType("OnResourceStart").AddHandler(function(e, r) {
      Multiplayer.TriggerServerEvent("onJoin", 5, "hi", true);
    });
  )");
  Publish("track.dat", "track");
  ConnectAndEnterGame();
  chat.clear();
  ASSERT_EQ("ok", server->Command("resources race:1"));
  ASSERT_TRUE(PumpUntil([&] { return !chat.empty() && chat.back() == "ready race race"; }));
  EXPECT_EQ((std::vector<std::string>{"loaded race", "start race race", "ready race race"}), chat);
  // Three values: integer 5, string "hi", bool true.
  EXPECT_EQ("event onJoin 03000000010500000004020068690301", server->Command("wait 11 5000"));
  EXPECT_TRUE(server->HttpLog().empty());
}

INSTANTIATE_TEST_SUITE_P(Builds, ResourceServerTest, ::testing::Values(ClientCase{Build::IVEditor, false}), CaseName);

}  // namespace
}  // namespace nettest
