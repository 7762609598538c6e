#pragma once
// The fuzz targets' client: a script host, the client's script side, and a game-side file system whose
// "/UserData" is a temporary cache tree holding the resource "res" with a script that handles the client events
// and "onRace" by using every native on what it gets. Made once per process and kept.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <zlib.h>

#include <base/FileSystem.h>
#include <platform/text.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/ClientScripting.h>

namespace fuzzclient {

inline const char kScript[] = R"(
local type = Engine.EventType("onRace");
Engine.EventSystem.AddEventType(type);
local function Use(e, ...) {
  local me = Multiplayer.GetThisResource();
  Multiplayer.OutputChatBox(Multiplayer.GetResourceName(me) + vargv.len() + Multiplayer.IsResourceReady());
  Multiplayer.TriggerServerEvent("back", vargv.len() > 0 ? vargv[0] : null);
  foreach (value in vargv) Multiplayer.OutputChatBox(Multiplayer.GetResourceName(value));
}
type.AddHandler(Use);
Multiplayer.AddCommand("go", function(n, a) {});
foreach (name in ["OnResourceStart", "OnResourceStop", "OnResourceReady", "OnFileDownload"])
  Engine.EventSystem.GetEventType(name).AddHandler(Use);
)";

struct tClient {
  std::string root;
  std::unique_ptr<tAppContext> context;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<CScriptHost> host;
  std::unique_ptr<CMultiplayerState> state;
  std::uint32_t scriptCrc = 0;
};

inline tClient& Client() {
  static tClient* client = [] {
    auto* c = new tClient;
    char pattern[] = "/tmp/brindle_fuzz_cache_XXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    c->root = pattern;
    std::filesystem::create_directories(c->root + "/Caches/res");
    std::ofstream(c->root + "/Caches/res/client.nut", std::ios::binary) << kScript;
    c->scriptCrc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(kScript), uInt(sizeof kScript - 1)));
    c->context = std::make_unique<tAppContext>("Fuzz", nullptr, MessageDisplayMode::Console);
    c->fileSystem = std::make_unique<CFileSystem>(c->context.get());
    if (MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16(c->root).c_str()) == nullptr) abort();
    c->host = std::make_unique<CScriptHost>();
    g_ScriptHost = c->host.get();
    c->state = std::make_unique<CMultiplayerState>(nullptr);
    c->state->m_pScripting = CClientScripting::Create(c->host.get(), c->state.get());
    c->state->m_ChatSink = [](const char*) {};
    return c;
  }();
  return *client;
}

}  // namespace fuzzclient
