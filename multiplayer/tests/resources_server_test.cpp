// Resources against the loopback test server: its messages 9 and 10, its downloads, and a script's
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
  // The module's frame: the connection, then the delivery of finished downloads.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kPumpTimeout;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      ProcessNetFrame(state.get());
      CServerInfo* info = state->m_pClient ? state->m_pClient->GetServerInfo() : nullptr;
      if (info != nullptr) info->GetLoader().ProcessFinished();
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
    // The test server's files come from a port of their own.
    state->m_pClient->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
  }

  std::unique_ptr<CTestServer> server;
};

// Files not cached come from the server: a script runs when it arrives, OnFileDownload reaches its own resource
// alone, OnResourceReady follows the last file; a file that fails fires nothing and is never run, yet the resource
// gets ready. A second list finds everything cached and asks the server for nothing.
TEST_P(ResourceServerTest, DownloadedFilesRunAndReachOnlyTheirResource) {
  for (const char* fault : {"none", "404"}) {
    SCOPED_TRACE(fault);
    std::filesystem::remove_all(root + "/Caches");
    Cache("other", "other.nut", kReportingScript);
    std::ofstream(root + "/server/race/client.nut") << kReportingScript;
    std::ofstream(root + "/server/race/track.dat") << "track";
    const std::uint32_t crc =
        netserver::Crc32(reinterpret_cast<const std::uint8_t*>(kReportingScript), sizeof kReportingScript - 1);
    ConnectAndEnterGame();
    ASSERT_EQ("ok", server->Command(std::string("fault race/client.nut ") + fault));
    const bool ok = std::string(fault) == "none";
    const auto has = [&](const std::string& line) { return std::find(chat.begin(), chat.end(), line) != chat.end(); };
    chat.clear();
    // "other" is the list's own, cached resource; "race" comes from the server's folder.
    Receive(netserver::ResourceList({{"other", true, {{1, "other.nut", sizeof kReportingScript - 1, crc}}}}));
    // Its script's event as the server reads it: "other", 5, true.
    if (ok) {
      EXPECT_EQ("event loaded 030000000405006f7468657201050000000301", server->Command("wait 11 5000"));
    }
    const std::string console = Console([&] {
      ASSERT_EQ("ok", server->Command("resources race:1"));
      ASSERT_TRUE(PumpUntil([&] { return has("ready other race"); }));
    });
    EXPECT_EQ(ok, has("loaded race"));
    EXPECT_EQ(ok, has("file race client.nut"));
    EXPECT_EQ(ok, has("file race track.dat"));
    EXPECT_TRUE(has("start other race"));
    EXPECT_FALSE(has("file other track.dat") || has("file other client.nut"));
    EXPECT_EQ(!ok, console.find("Unable to download") != std::string::npos);
    // The second list: nothing requested, the scripts that arrived run at once.
    ASSERT_EQ("ok", server->Command("unmute"));  // collects the request log so far
    const std::size_t requests = server->HttpLog().size();
    EXPECT_GE(requests, 2u);
    chat.clear();
    ASSERT_EQ("ok", server->Command("resources race:1"));
    ASSERT_TRUE(PumpUntil([&] { return has("ready other race"); }));
    EXPECT_EQ(ok, has("loaded race"));
    ASSERT_EQ("ok", server->Command("unmute"));
    EXPECT_EQ(requests + (ok ? 0 : 1), server->HttpLog().size());
    state->m_pClient.reset();
  }
}

// A resource stopped while its script still downloads: the transfer ends, and its delivery reaches no environment
// and runs nothing; the next start runs without the script that never arrived.
TEST_P(ResourceServerTest, StoppingDuringADownloadEndsItWithoutEvents) {
  std::ofstream(root + "/server/race/client.nut") << kReportingScript;
  ConnectAndEnterGame();
  ASSERT_EQ("ok", server->Command("fault race/client.nut stalled"));
  ASSERT_EQ("ok", server->Command("resources race:1"));
  ASSERT_TRUE(PumpUntil([&] { return Resources() != nullptr && Find(u"race") != nullptr; }));
  chat.clear();
  ASSERT_EQ("ok", server->Command("resstate race 0"));
  ASSERT_TRUE(PumpUntil([&] { return Find(u"race")->GetPendingCount() == 0; }));
  EXPECT_FALSE(Find(u"race")->IsRunning());
  EXPECT_TRUE(chat.empty());
  EXPECT_TRUE(Find(u"race")->GetScripts().empty());
  EXPECT_TRUE(Find(u"race")->Start());
}

INSTANTIATE_TEST_SUITE_P(Builds, ResourceServerTest, ::testing::Values(ClientCase{Build::IVEditor, false}), CaseName);

}  // namespace
}  // namespace nettest
