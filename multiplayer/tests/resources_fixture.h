#pragma once
// The resource tests' set-up: the client fixture with a real script host, the client's script side, a game-side
// file system whose "/UserData" is a temporary folder (the cache tree), and a client whose resource table is the
// real one. Scripts report through OutputChatBox, which lands in `chat`.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <base/FileSystem.h>
#include <platform/text.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/ClientScripting.h>

#include "client_fixture.h"

namespace nettest {

class ResourceTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    char pattern[] = "/tmp/brindle_cache_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    appContext = std::make_unique<tAppContext>("Test", nullptr, MessageDisplayMode::Console);
    fileSystem = std::make_unique<CFileSystem>(appContext.get());
    ASSERT_NE(MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16(root).c_str()), nullptr);
    host = std::make_unique<CScriptHost>();
    g_ScriptHost = host.get();
    state->m_pScripting = CClientScripting::Create(host.get(), state.get());
    ASSERT_NE(state->m_pScripting, nullptr);
  }
  void TearDown() override {
    state.reset();
    g_ScriptHost = nullptr;
    host.reset();
    fileSystem.reset();
    std::filesystem::remove_all(root);
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
  CClientResource* Find(const char16_t* name) { return Resources()->FindClientResource(HashResourceName(name)); }

  // Writes a file of the cache tree and answers its entry of a resource list.
  netserver::File Cache(const std::string& resource, const std::string& file, const std::string& content,
                        std::uint8_t type = RESOURCE_FILE_SCRIPT) {
    std::filesystem::create_directories(root + "/Caches/" + resource);
    std::ofstream(root + "/Caches/" + resource + "/" + file, std::ios::binary) << content;
    return {type, file, std::uint32_t(content.size()),
            netserver::Crc32(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())};
  }
  // What went to the console meanwhile.
  std::string Console(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    work();
    return testing::internal::GetCapturedStdout();
  }

  std::string root;
  std::unique_ptr<tAppContext> appContext;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<CScriptHost> host;
};

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

}  // namespace nettest
