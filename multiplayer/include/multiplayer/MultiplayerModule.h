#pragma once
// The Multiplayer module: its handler's module-wide objects (engine context, 2-D renderer, connection state, client
// object), the window procedure it puts over the game window, the task queue of window input, and the console
// commands it registers ("say", "quit", "q", "exit" and the handler of every other command).
//
// Errors: Init refuses the module (reply 7) with a modal message when the connection fails, the server refuses or
// stays silent for kConnectWaitBoundMs; nothing a server sends afterwards ends the client (QVNetClient.h). A game
// level without the player's item ends the process after its message.
// Locking: everything runs on the game's main thread but QueueWindowInput, which any thread may call (the queue
// takes its own lock).
#include <cstdint>
#include <memory>
#include <string>

#include <SDL.h>

#include <engine/Context.h>
#include <hack/ModuleRegistry.h>
#include <platform/window.h>
#include <scripting/CommandMgr.h>
#include <scripthost/Rw2D.h>

#include <multiplayer/Client.h>
#include <multiplayer/QVNetClient.h>

class CTaskQueue;

// The module's handler, the built-in module "Multiplayer".
std::uint32_t MultiplayerModuleHandler(std::uint32_t event, ModuleEventData* data);

namespace multiplayer {

constexpr std::uint16_t kDefaultPort = 22000;
// How long Init waits for the server's answer before it gives up; tests shorten g_ConnectWaitBoundMs.
constexpr std::uint32_t kConnectWaitBoundMs = 15000;
extern std::uint32_t g_ConnectWaitBoundMs;
// Kinds of the window-input queue's entries.
constexpr std::uint32_t kInputKey = 0, kInputCharacter = 1;

// The Server option split: host without brackets and port. False for a port text that is not a decimal number
// from 0 to 65535.
bool SplitServer(const std::u16string& server, std::u16string* host, std::uint16_t* port);

// The module-wide objects; one instance lives from Init to Unload.
struct CModule {
  tHackModule* m_pModule = nullptr;
  std::unique_ptr<Vexil3D::Context> m_pContext;
  std::unique_ptr<CRw2D> m_pRenderer;
  bool m_bVideo = false;
  std::unique_ptr<CMultiplayerState> m_pState;
  std::unique_ptr<CClient> m_pClient;
  std::string m_Server;        // UTF-8
  std::u16string m_ServerWide;
  // The game window's procedures that GameWindowProc hands messages to; SDL's is null when SDL could not take the
  // window over (then every message goes to the game's).
  HWND m_hWindow = nullptr;
  WNDPROC m_GameWindowProc = nullptr;
  WNDPROC m_SdlWindowProc = nullptr;
  SDL_Window* m_pSdlWindow = nullptr;
};

// The module while loaded, else null.
CModule* GetModule();
// The queue of window input (kind, value) that the window messages fill and Process drains.
CTaskQueue& GetWindowInputQueue();
void QueueWindowInput(std::uint32_t kind, std::uint32_t value);
// Drains the queue: a character opens the console when a key asked for it; keys are dropped.
void ProcessTaskQueue();
// The game window's procedure while the module runs (see CModule).
LRESULT GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The console commands; the table calls them with the command's name and its parameters (null for none). Without
// a server "say" answers "Not connected to a server!" and any other command "'<name>' is not recognized as an
// internal or external command, operable program or batch file."; both reach the console as chat lines do
// ("CHAT: ") as well as the chat window.
void OnSayCommand(const char16_t* name, const char16_t* parameters, Vexil3D::CBaseObject* caller);
void OnUnknownCommand(const char16_t* name, const char16_t* parameters, Vexil3D::CBaseObject* caller);
// "quit", "q" and "exit": destroys the net client (it says reason 6) and closes the game window.
class CExitCommandHandler : public Vexil3D::CCommandHandler {
 public:
  void Execute(const char16_t* name, const char16_t* parameters, Vexil3D::CBaseObject* caller) override;
};
// Registers the commands into the client's table (emptied first).
void RegisterClientCommands(CClient* client);

}  // namespace multiplayer
