// Downloads for real resource records: a resource list whose files are fetched from the loopback test server by
// the connection's loader; only whole, right files reach the resource's scripts and events, and the resource
// becomes ready however its files end.
#include <curl/curl.h>

#include <chrono>
#include <thread>

#include <netserver/TestServer.h>

#include "resources_fixture.h"

namespace nettest {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kIdleBound = std::chrono::seconds(20);

class DownloadRecordTest : public ResourceTest {
 protected:
  void SetUp() override {
    ResourceTest::SetUp();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::filesystem::create_directories(root + "/server/race");
    server = std::make_unique<CTestServer>(root + "/server");
    ASSERT_TRUE(server->Started());
  }
  void TearDown() override {
    state.reset();
    server.reset();
    curl_global_cleanup();
    ResourceTest::TearDown();
  }
  netserver::File Serve(const std::string& file, const std::string& content, std::uint8_t type) {
    std::ofstream(root + "/server/race/" + file, std::ios::binary) << content;
    return {type, file, std::uint32_t(content.size()),
            netserver::Crc32(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())};
  }
  std::unique_ptr<CTestServer> server;
};

TEST_P(DownloadRecordTest, OnlyGoodFilesReachTheResourceAndItBecomesReady) {
  const struct {
    const char* fault;
    bool delivered;
  } cases[] = {{"none", true}, {"crc", false}, {"404", false}, {"truncated", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    CQVNetClient* client = MakeResourceClient();
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
    ASSERT_EQ("ok", server->Command(std::string("fault race/data.txt ") + c.fault));
    const std::vector<netserver::File> files = {Serve("client.nut", kReportingScript, RESOURCE_FILE_SCRIPT),
                                                Serve("data.txt", "track data", 0)};
    std::filesystem::remove_all(root + "/Caches");
    chat.clear();
    const std::string console = Console([&] {
      Receive(netserver::ResourceList({{"race", true, files}}));
      CBackgroundLoader& loader = client->GetServerInfo()->GetLoader();
      const auto deadline = Clock::now() + kIdleBound;
      do {
        loader.ProcessFinished();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      } while ((loader.IsStarted() || loader.GetJobCount() != 0) && Clock::now() < deadline);
    });
    // The script arrives first (one loading thread, list order), loads into the running resource, and then hears
    // of the data file only when that one counts.
    std::vector<std::string> expected = {"loaded race", "file race client.nut"};
    if (c.delivered) expected.push_back("file race data.txt");
    expected.push_back("ready race race");
    EXPECT_EQ(expected, chat) << console;
    EXPECT_EQ(c.delivered, std::filesystem::exists(root + "/Caches/race/data.txt"));
    EXPECT_EQ(!c.delivered, console.find("Unable to download http://127.0.0.1:" +
                                         std::to_string(server->HttpPort()) + "/race/clientfile?data.txt") !=
                                std::string::npos);
    state->m_pClient.reset();
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, DownloadRecordTest, ::testing::Values(ClientCase{Build::IVEditor, false}), CaseName);

}  // namespace
}  // namespace nettest
