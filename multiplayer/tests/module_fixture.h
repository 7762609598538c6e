#pragma once
// The Multiplayer module started as the game's start routine starts it: the game double of one build,
// MultiplePlayerSupport, SquirrelSupport and the module registered by their built-in names, a game-side file system
// whose "/UserData" (the download cache) is a temporary folder, a client data folder with the packaged
// fonts and (when asked) a console page, the module's options, SDL on its dummy video driver, and a dialog backend
// that keeps every message shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <core/GameStartup.h>
#include <features/FeatureModules.h>
#include <hack/GameVersion.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleOptions.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>
#include <platform/dialogs.h>
#include <platform/text.h>

#include <multiplayer/MultiplayerModule.h>
#include <scripthost/SquirrelSupport.h>
#include <netserver/TestServer.h>

namespace mptest {

// The modules these tests load by name.
inline const tBuiltInModule kTestModules[] = {
    {u"Multiplayer", MultiplayerModuleHandler},
    {u"MultiplePlayerSupport", MultiplePlayerSupportModuleHandler},
    {u"SquirrelSupport", SquirrelSupportModuleHandler},
};

// A console page: the chat's font family and the command window with its input.
constexpr const char* kMainPage = R"(<Page>
  <FontStack Name="Mono"><Font Family="Open Sans"/></FontStack>
  <Page Name="CmdWindow" Left="0" Top="20" Width="400" Height="30" Visible="false">
    <Text Name="Input" Left="0" Top="0" Width="400" FontStack="Mono" Size="14" Colour="#ffffff" AllowNewLines="false"/>
  </Page></Page>)";

// Keeps each message's text; answers Close.
class CMessages : public platform::IDialogBackend {
 public:
  int MessageBox(HWND, std::u16string_view text, std::u16string_view, UINT) override {
    shown.push_back(text::Utf16ToUtf8(text));
    return 0;
  }
  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
    shown.push_back(config.pszContent != nullptr ? text::Utf16ToUtf8(config.pszContent) : std::string());
    if (pressed != nullptr) *pressed = kClose;
    return S_OK;
  }
  void ConsoleWrite(std::u16string_view text) override { shown.push_back(text::Utf16ToUtf8(text)); }
  int ConsoleReadChar() override { return -1; }
  std::vector<std::string> shown;

 private:
  static constexpr int kClose = 8;
};

class ModuleTest : public ::testing::TestWithParam<gamedouble::Build> {
 protected:
  void SetUp() override;
  void TearDown() override;
  void UnloadModules();

  // Writes the client data folder (fonts always, the page when asked), sets the options and registers the module,
  // whose Init runs at once; its reply.
  std::uint32_t Start(const std::string& server, bool page = true);
  // A test server that runs the scenario's lines (one per element).
  void Serve(const std::vector<std::string>& scenario);
  std::uint32_t Send(std::uint32_t event, ModuleEventData* data = nullptr) {
    return MultiplayerModuleHandler(event, data);
  }
  void Frame() { Send(MODULEEVENT_PROCESS); }
  // SDL events the next frame takes.
  void PushKey(SDL_Keycode key);
  void PushText(const char* text);
  // Types the line into the open console and submits it, a frame per step.
  void Type(const std::string& line);
  CClient* Client() const { return multiplayer::GetModule()->m_pClient.get(); }
  std::string Input() const;
  std::string LastChat() const;
  std::string Address() const { return "127.0.0.1:" + std::to_string(server->EnetPort()); }

  std::unique_ptr<gamedouble::CGameDouble> game;
  std::unique_ptr<tAppContext> appContext;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<nettest::CTestServer> server;
  std::filesystem::path folder;
  CMessages messages;
  platform::IDialogBackend* previousDialogs = nullptr;
  tHackModule* module = nullptr;
  bool loaded = false;
  // The options Start sets, as the launcher's fields hold them.
  std::u16string nickname = u"Kelv", password = u"pw";
};

}  // namespace mptest
