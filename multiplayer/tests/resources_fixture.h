#pragma once
// The resource tests' world: the client fixture with a real script host, the client's script side, a game-side
// file system whose "/UserData" is a temporary folder (the cache tree) and whose errors are collected rather than
// fatal, and the loopback test server serving its "server" folder.
#include <curl/curl.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include <base/FileSystem.h>
#include <platform/text.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/ClientScripting.h>

#include "client_fixture.h"

namespace nettest {

using Lines = std::vector<std::string>;

inline bool Has(const std::string& console, const std::string& line) { return console.find(line) != std::string::npos; }

// A handler script of the client events: each event says "<event> <own resource> <arguments>" in the chat; its
// loading tells the server too.
inline const char kReportingScript[] = R"(
local me = Multiplayer.GetResourceName(Multiplayer.GetThisResource());
Multiplayer.OutputChatBox("loaded " + me);
Multiplayer.TriggerServerEvent("loaded", me, 5, true);
local function On(name, report) {
  Engine.EventSystem.GetEventType(name).AddHandler(function(e, ...) { Multiplayer.OutputChatBox(report(vargv)); });
}
On("OnResourceStart", @(a) "start " + me + " " + Multiplayer.GetResourceName(a[0]));
On("OnResourceStop", @(a) "stop " + me + " " + Multiplayer.GetResourceName(a[0]) + " " + a[1]);
On("OnResourceReady", @(a) "ready " + me + " " + Multiplayer.GetResourceName(a[0]));
On("OnFileDownload", @(a) "file " + me + " " + a[0]);
)";

// An application context whose errors are collected and the process goes on, so that a test sees an error that
// would have ended the game.
class CCollectingAppContext : public tAppContext {
 public:
  CCollectingAppContext() : tAppContext("Test", nullptr, MessageDisplayMode::Console) {}
  void AddError(const char* text) override { AppendError(text); }
};

// The client fixture with a real script host, the client's script side, a game-side file system whose "/UserData"
// is a temporary folder (the cache tree), and the loopback test server serving its "server" folder. Scripts report
// through OutputChatBox, which lands in `chat`.
class ResourcesTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    char pattern[] = "/tmp/brindle_cache_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    appContext = std::make_unique<CCollectingAppContext>();
    fileSystem = std::make_unique<CFileSystem>(appContext.get());
    ASSERT_NE(MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16(root).c_str()), nullptr);
    host = std::make_unique<CScriptHost>();
    g_ScriptHost = host.get();
    state->m_pScripting = CClientScripting::Create(host.get(), state.get());
    ASSERT_NE(state->m_pScripting, nullptr);
    std::filesystem::create_directories(root + "/server/race");
    StartServer(root + "/server");
  }
  void TearDown() override {
    state.reset();
    server.reset();
    g_ScriptHost = nullptr;
    host.reset();
    fileSystem.reset();
    std::filesystem::remove_all(root);
    curl_global_cleanup();
    ClientTest::TearDown();
  }

  // A client in game with the real resource table, nothing sent yet.
  CQVNetClient* MakeResourceClient() {
    state->m_pClient = std::make_unique<CQVNetClient>(state.get());
    CQVNetClient* client = state->m_pClient.get();
    client->SetResourceTable(CreateClientResourceTable(state.get(), client));
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", 22000));
    client->SetState(NETCLIENT_IN_GAME);
    return client;
  }
  CClientResources* Resources() { return CClientResources::GetCurrent(); }
  // Sets an HTTP fault of the test server; true when it says it will serve the file so.
  bool Fault(const std::string& key, const std::string& mode) {
    return server->Command("fault " + key + " " + mode) ==
           (mode == "none" ? "will serve " + key + " as it is" : "will serve " + key + " with the fault " + mode);
  }
  // Game frames of the loader until it has delivered everything and stopped its threads (or the bound passed).
  void Drain(CQVNetClient* client) {
    CBackgroundLoader& loader = client->GetServerInfo()->GetLoader();
    const auto deadline = Clock::now() + kPumpTimeout;
    do {
      loader.ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while ((loader.IsStarted() || loader.GetJobCount() != 0) && Clock::now() < deadline);
  }
  CClientResource* Find(const char16_t* name) { return Resources()->FindClientResource(HashResourceName(name)); }
  // Game frames until wanted lines holding text have reached the console, or the pump's bound passed: the most one
  // frame printed, and how many in all.
  std::pair<std::size_t, std::size_t> CountPerFrame(const std::string& text, std::size_t wanted) {
    std::size_t most = 0, total = 0;
    const auto deadline = Clock::now() + kPumpTimeout;
    while (total < wanted && Clock::now() < deadline) {
      const std::string console = Console([&] { ProcessNetFrame(state.get()); });
      std::size_t lines = 0;
      for (std::size_t at = console.find(text); at != std::string::npos; at = console.find(text, at + 1)) ++lines;
      most = std::max(most, lines);
      total += lines;
    }
    return {most, total};
  }

  // Writes a file below the root (the cache tree's "Caches/<resource>" or the server's "server/race") and answers
  // its entry of a resource list.
  netserver::File Write(const std::string& folder, const std::string& file, const std::string& content,
                        std::uint8_t type = RESOURCE_FILE_SCRIPT) {
    std::filesystem::create_directories(root + "/" + folder);
    std::ofstream(root + "/" + folder + "/" + file, std::ios::binary) << content;
    return {type, file, std::uint32_t(content.size()),
            netserver::Crc32(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())};
  }
  netserver::File Cache(const std::string& resource, const std::string& file, const std::string& content,
                        std::uint8_t type = RESOURCE_FILE_SCRIPT) {
    return Write("Caches/" + resource, file, content, type);
  }
  // What went to the console meanwhile.
  std::string Console(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    work();
    return testing::internal::GetCapturedStdout();
  }
  void OnConnecting() override {
    state->m_pClient->SetResourceTable(CreateClientResourceTable(state.get(), state->m_pClient.get()));
  }
  void ConnectAndEnterGame() {
    ASSERT_NO_FATAL_FAILURE(ConnectAndAccept(1, 0));
    ASSERT_NO_FATAL_FAILURE(EnterGame());
    // The test server's files come from a port of their own.
    state->m_pClient->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
  }

  std::string root;
  // Its error count is what would have ended the game.
  std::unique_ptr<CCollectingAppContext> appContext;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<CScriptHost> host;
};

}  // namespace nettest
