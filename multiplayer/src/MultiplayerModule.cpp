// The Multiplayer module's handler: Init with the connection, the replies, the window procedure, the frame, the
// drawing and the tear-down.
#include <multiplayer/MultiplayerModule.h>

#include <curl/curl.h>
#include <enet/enet.h>

#include <cstring>

#include <base/AppContext.h>
#include <core/GameStartup.h>
#include <engine/FileSystem.h>
#include <engine/Stream.h>
#include <engine/Tar.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameRoutines.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleOptions.h>
#include <platform/sync.h>
#include <platform/text.h>
#include <scripthost/TaskQueue.h>

#include <multiplayer/ClientScripting.h>
#include <multiplayer/RemotePlayers.h>
#include <scripthost/ScriptHost.h>

#include "GamePlace.h"

namespace multiplayer {

namespace {

// The two patches of every Init.
constexpr GamePlace kInitNop{0x4303BA, 0x430842, 0x430842, 0x455EAC};
constexpr GamePlace kInitJumpFrom{0x4303BF, 0x430847, 0x430847, 0x455EB0};
constexpr GamePlace kInitJumpTarget{0x4303FF, 0x430887, 0x430887, 0x455EEE};
constexpr std::uint32_t kInitNopSize = 4, kInitJumpSize = 2;
// Where the game keeps the pointer to the u32 that ScriptLoaded fills.
constexpr GamePlace kScriptLoadedPointer{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC};

// The download bar: both colours, its height, and its place and width per game.
constexpr std::uint32_t kBarColour = 0xFF00FFFFu, kBarHeight = 15, kPercent = 100;
constexpr std::uint32_t kBarXIV = 20, kBarWidthIV = 600, kBarXV = 170, kBarWidthV = 300, kScreenHeightV = 480;

constexpr char16_t kModuleName[] = u"Multiplayer";
constexpr char16_t kDataArchive[] = u"/Data.tar";
constexpr char16_t kLogTimeFormat[] = u"%d/%m/%Y - %X";
constexpr char kConnectFailed[] = "Failed to connect to the multiplayer server.";
constexpr char kMissingPlayer[] = "The KELV item is missing from this map.";
constexpr std::uint32_t kMaxPortDigits = 5;
constexpr std::uint32_t kMaxPort = 65535;

// Window messages.
constexpr UINT kNcCreate = 0x0081, kNcDestroy = 0x0082, kKeyDown = 0x0100, kChar = 0x0102, kSysKeyDown = 0x0104;
// What the game's own procedure keeps answering: sizing, activation, painting and dropped files.
constexpr UINT kGameWindowMessages[] = {
    0x0005 /* WM_SIZE */,          0x0006 /* WM_ACTIVATE */,         0x000F /* WM_PAINT */,
    0x0014 /* WM_ERASEBKGND */,    0x0018 /* WM_SHOWWINDOW */,       0x0024 /* WM_GETMINMAXINFO */,
    0x0046 /* WM_WINDOWPOSCHANGING */, 0x0047 /* WM_WINDOWPOSCHANGED */, 0x0083 /* WM_NCCALCSIZE */,
    0x0084 /* WM_NCHITTEST */,     0x0086 /* WM_NCACTIVATE */,       0x0233 /* WM_DROPFILES */,
};

CModule* g_pModule = nullptr;

// Chat lines go to the console from Init on (the game's picture is not everywhere to be seen), and to the chat
// window once the client object exists.
void PrintChat(const char* text) {
  LogConsole("CHAT: %s\n", text);
  if (g_pModule != nullptr && g_pModule->m_pClient != nullptr) g_pModule->m_pClient->PrintChatLine(text);
}

std::string OptionText(const tModuleOptionTable* table, const char16_t* name) {
  const ModuleOption* option = FindModuleOptionEntry(table, name);
  if (option == nullptr) return {};
  // A value that fills its 64 units carries no terminator: the field's end bounds the read, not a search for 0.
  return text::Utf16ToUtf8(FieldText(option->value));
}

MessageButtons StartMessageButtons() {
  return g_InitialisationData.closeOnlyMessages != 0 ? MessageButtons::Close : MessageButtons::OK;
}

void ShowStartMessage(const char* text) {
  ShowMessage(&g_AppContext, MessageIcon::Error, StartMessageButtons(), text::Utf8ToUtf16(text).c_str(), nullptr,
              false);
}

void MountDataArchive(Vexil3D::CFileSystem* fileSystem) {
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(fileSystem->Open(kDataArchive, false));
  if (stream.Get() == nullptr) return;
  auto* archive = new Vexil3D::CTARArchive();
  if (archive->Open(stream.Get())) {
    fileSystem->Mount(u"/", archive);
  } else {
    delete archive;
  }
}

// Everything Init made, in the order Unload takes it down (the patches belong to the module record).
void TearDown() {
  CModule* module = g_pModule;
  if (module == nullptr) return;
  if (module->m_pState != nullptr) {
    for (CRemotePlayer& entry : module->m_pState->m_RemotePlayers) entry.Forget();
    // The net client's server info cancels its downloads, running ones included, before it waits for its thread.
    module->m_pState->m_pClient.reset();
  }
  if (module->m_pClient != nullptr) {
    module->m_pClient->Shutdown();
    module->m_pClient.reset();
  }
  curl_global_cleanup();
  enet_deinitialize();
  module->m_pState.reset();
  module->m_pRenderer.reset();
  // The game's window keeps working without the module: its own procedure comes back.
  if (module->m_hWindow != nullptr) platform::SetWindowProcedure(module->m_hWindow, module->m_GameWindowProc);
  if (module->m_pSdlWindow != nullptr) SDL_DestroyWindow(module->m_pSdlWindow);
  if (module->m_bVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // The context's file system holds the archive; closing it writes the log's end banner.
  module->m_pContext.reset();
  delete module;
  g_pModule = nullptr;
}

// Waits while the server has not answered; reply 1 once it has, 7 (the module refused) otherwise.
std::uint32_t AwaitServer(CModule* module) {
  CMultiplayerState* state = module->m_pState.get();
  const ULONGLONG deadline = GetTickCount64() + g_ConnectWaitBoundMs;
  while (state->m_pClient != nullptr && state->m_pClient->GetState() == NETCLIENT_CONNECTING) {
    state->m_pClient->Process();
    if (state->m_Disconnected) {
      state->m_pClient.reset();
      state->m_Disconnected = false;
      const std::uint32_t reason = state->m_DisconnectReason;
      TearDown();
      ShowStartMessage(GetDisconnectMessageText(reason));
      return MODULEREPLY_SKIP;
    }
    if (GetTickCount64() >= deadline) {
      // A server that never answers cannot hold the game's start: the client gives up as a timed-out link would.
      state->m_pClient.reset();
      TearDown();
      ShowStartMessage(GetDisconnectMessageText(DISCONNECT_TIMED_OUT));
      return MODULEREPLY_SKIP;
    }
    Sleep(1);
  }
  return MODULEREPLY_HANDLED;
}

std::uint32_t Init(ModuleInitData* data) {
  if (g_pModule != nullptr) TearDown();
  auto* module = new CModule();
  g_pModule = module;
  module->m_pModule = data != nullptr ? data->module : nullptr;
  module->m_pContext = std::make_unique<Vexil3D::Context>();
  module->m_pContext->GetLogWriter().SetTimeFormat(kLogTimeFormat);
  try {
    module->m_pContext->Initialise();
  } catch (...) {
    LogConsole("MULTIPLAYER: Unable to start the engine context\n");
    TearDown();
    return MODULEREPLY_SKIP;
  }
  Vexil3D::CFileSystem* fileSystem = module->m_pContext->GetFileSystem();
  if (g_InitialisationData.clientDataDirectory[0] != 0)
    Vexil3D::MountPhysicalDirectory(fileSystem, u"/", g_InitialisationData.clientDataDirectory);
  MountDataArchive(fileSystem);
  module->m_pRenderer = std::make_unique<CRw2D>();
  // Left to itself SDL takes SIGINT and SIGTERM for a quit event that nothing here reads, and the game would
  // outlive the signals meant to end it.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  module->m_bVideo = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;

  module->m_pState = std::make_unique<CMultiplayerState>(module->m_pModule);
  CMultiplayerState* state = module->m_pState.get();
  state->m_ClientValue = g_InitialisationData.clientValue;
  state->m_ChatSink = &PrintChat;
  // The natives and the client's event types live on the script host; without SquirrelSupport there are none.
  state->m_pScripting = CClientScripting::Create(g_ScriptHost, state);
  const tModuleOptionTable* options = FindModuleOption(kModuleName);
  state->m_Nickname = OptionText(options, u"Nickname");
  state->m_Password = OptionText(options, u"Password");
  module->m_Server = OptionText(options, u"Server");
  module->m_ServerWide = text::Utf8ToUtf16(module->m_Server);

  // The module record owns these and puts the bytes back when the module goes or is refused.
  new CHackNOPHack(module->m_pModule, kInitNop.At(kInitNopSize), kInitNopSize, 0);
  new CHackJumpHack(module->m_pModule, kInitJumpFrom.At(kInitJumpSize), kInitJumpTarget.At(), kInitJumpSize);

  enet_initialize();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (module->m_Server.empty()) return MODULEREPLY_HANDLED;

  std::u16string host;
  std::uint16_t port = 0;
  if (!SplitServer(module->m_ServerWide, &host, &port)) {
    LogConsole("MULTIPLAYER: Unable to connect; invalid port\n");
    return MODULEREPLY_HANDLED;
  }
  const std::string hostText = text::Utf16ToUtf8(host);
  LogConsole("MULTIPLAYER: Using server \"%s\" and port \"%d\"\n", hostText.c_str(), int(port));
  if (!ConnectToServer(state, hostText.c_str(), port)) {
    TearDown();
    ShowStartMessage(kConnectFailed);
    return MODULEREPLY_SKIP;
  }
  state->m_pClient->SetResourceTable(CreateClientResourceTable(state, state->m_pClient.get()));
  return AwaitServer(module);
}

void OnWindowMessage(WindowMessageEventData* data) {
  CModule* module = g_pModule;
  if (data == nullptr) return;
  switch (data->message) {
    case kNcCreate: {
      module->m_hWindow = data->window;
      // Read the game's procedure without losing it, let SDL put its own over it, then go over both.
      module->m_GameWindowProc = platform::SetWindowProcedure(data->window, nullptr);
      platform::SetWindowProcedure(data->window, module->m_GameWindowProc);
      module->m_pSdlWindow = SDL_CreateWindowFrom(data->window);
      const WNDPROC installed = platform::SetWindowProcedure(data->window, &GameWindowProc);
      module->m_SdlWindowProc = installed != module->m_GameWindowProc ? installed : nullptr;
      break;
    }
    case kNcDestroy:
      if (module->m_pSdlWindow != nullptr) SDL_DestroyWindow(module->m_pSdlWindow);
      module->m_pSdlWindow = nullptr;
      break;
    case kKeyDown:
    case kSysKeyDown:
      QueueWindowInput(kInputKey, data->wParam);
      break;
    case kChar:
      QueueWindowInput(kInputCharacter, data->wParam);
      break;
    default:
      break;
  }
}

void OnLoadItemsEvent(CModule* module) {
  CMultiplayerState* state = module->m_pState.get();
  for (CRemotePlayer& entry : state->m_RemotePlayers) entry.Forget();
  if (Game::GetPlayerItemNumber() == 0xFFFF) {
    ShowMessage(&g_AppContext, MessageIcon::Error, MessageButtons::Close, text::Utf8ToUtf16(kMissingPlayer).c_str(),
                nullptr, false);
    TerminateAfterFatalError();
  }
  OnLoadItems(state);
}

void StartClient(CModule* module) {
  module->m_pClient = std::make_unique<CClient>(module->m_pContext.get());
  module->m_pClient->Start(module->m_pRenderer.get());
  RegisterClientCommands(module->m_pClient.get());
}

void OnProcess(CModule* module) {
  if (module->m_pClient == nullptr) StartClient(module);
  CClient* client = module->m_pClient.get();
  client->Process();
  SDL_Event event;
  while (module->m_bVideo && SDL_PollEvent(&event) != 0) {
    if (TamberGUI::GUI::CManager* gui = client->GetGui()) gui->HandleEvent(event);
    if (event.type == SDL_TEXTINPUT) {
      client->OnTextInput();
    } else if (event.type == SDL_KEYDOWN) {
      client->OnKeyDown(event.key);
    } else if (event.type == SDL_KEYUP && !client->IsConsoleVisible()) {
      client->GetResources()->GetKeyBinds().Dispatch(event.key.keysym, event.key.repeat, false);
    }
  }
  CMultiplayerState* state = module->m_pState.get();
  // In game it also delivers the finished downloads, on this thread.
  ProcessNetFrame(state);
  ProcessTaskQueue();
}

void OnRender2D(CModule* module) {
  if (module->m_pClient != nullptr) module->m_pClient->Render();
  CQVNetClient* net = module->m_pState->m_pClient.get();
  if (net == nullptr || net->GetState() != NETCLIENT_IN_GAME || net->GetServerInfo() == nullptr) return;
  std::uint64_t total = 0, downloaded = 0;
  net->GetServerInfo()->GetByteCounts(&total, &downloaded);
  if (total == 0 || total == downloaded) return;
  // Counts past what was announced still draw a full bar, never past it.
  const float share = float(downloaded) * float(kPercent) / float(total);
  const std::uint32_t value = share >= float(kPercent) ? kPercent : std::uint32_t(share);
  if (IsGameV()) {
    Game::RenderProgressBarV(kBarXV, kScreenHeightV - Game::GetFontHeight(), kBarWidthV, kBarHeight, value,
                             kBarColour, kBarColour);
  } else {
    Game::RenderProgressBar(kBarXIV, Game::GetScreenHeight() - 1 - Game::GetFontHeight(), kBarWidthIV, kBarHeight,
                            value, kBarColour, kBarColour);
  }
}

// The local player's item record: while a remote player is swapped in, the one its snapshot saved.
const void* LocalPlayerItem() {
  std::uint8_t* items = Game::GetItemArray();
  const std::uint16_t number = GetLocalPlayerItem();
  if (items == nullptr || number == 0xFFFF) return nullptr;
  return items + std::size_t(number) * Game::kItemRecordSize;
}

std::uint32_t ReplyForDamage(const void* item) {
  return item != nullptr && item == LocalPlayerItem() ? MODULEREPLY_HANDLED : MODULEREPLY_SKIP;
}

void OnScriptLoaded(CModule* module) {
  const std::uint32_t pointer = ReadAt<std::uint32_t>(kScriptLoadedPointer);
  if (pointer != 0) WriteGame<std::uint32_t>(pointer, module->m_pState->m_ScriptLoadedValue);
}

}  // namespace

std::uint32_t g_ConnectWaitBoundMs = kConnectWaitBoundMs;

CModule* GetModule() { return g_pModule; }

bool SplitServer(const std::u16string& server, std::u16string* host, std::uint16_t* port) {
  host->clear();
  bool brackets = false, hasPort = false;
  std::u16string portText;
  for (const char16_t c : server) {
    if (hasPort) {
      portText += c;
    } else if (!brackets && c == u'[') {
      brackets = true;
    } else if (brackets && c == u']') {
      brackets = false;
    } else if (!brackets && c == u':') {
      hasPort = true;
    } else {
      *host += c;
    }
  }
  if (!hasPort) {
    *port = kDefaultPort;
    return true;
  }
  if (portText.empty() || portText.size() > kMaxPortDigits) return false;
  std::uint32_t value = 0;
  for (const char16_t c : portText) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + std::uint32_t(c - u'0');
  }
  if (value > kMaxPort) return false;
  *port = std::uint16_t(value);
  return true;
}

CTaskQueue& GetWindowInputQueue() {
  static CTaskQueue queue;
  return queue;
}

void QueueWindowInput(std::uint32_t kind, std::uint32_t value) { GetWindowInputQueue().Push(kind, value); }

void ProcessTaskQueue() {
  std::uint32_t kind = 0, value = 0;
  while (GetWindowInputQueue().Pop(&kind, &value)) {
    if (kind != kInputCharacter || g_pModule == nullptr || g_pModule->m_pClient == nullptr) continue;
    g_pModule->m_pClient->OnTextInput();
  }
}

LRESULT GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CModule* module = g_pModule;
  if (module == nullptr) return 0;
  WNDPROC target = module->m_SdlWindowProc;
  for (const UINT game : kGameWindowMessages) {
    if (message == game) target = module->m_GameWindowProc;
  }
  if (target == nullptr) target = module->m_GameWindowProc;
  return target != nullptr ? target(window, message, wParam, lParam) : 0;
}

}  // namespace multiplayer

std::uint32_t MultiplayerModuleHandler(std::uint32_t event, ModuleEventData* data) {
  using namespace multiplayer;
  if (event == MODULEEVENT_INIT) return Init(static_cast<ModuleInitData*>(data));
  CModule* module = GetModule();
  if (module == nullptr) return 0;
  switch (event) {
    case MODULEEVENT_UNLOAD: TearDown(); return MODULEREPLY_HANDLED;
    case MODULEEVENT_WINDOWMESSAGE: OnWindowMessage(static_cast<WindowMessageEventData*>(data)); return MODULEREPLY_HANDLED;
    case MODULEEVENT_SCRIPTLOADED: OnScriptLoaded(module); return MODULEREPLY_HANDLED;
    case MODULEEVENT_LOADITEMS: OnLoadItemsEvent(module); return MODULEREPLY_HANDLED;
    case MODULEEVENT_PROCESS: OnProcess(module); return MODULEREPLY_HANDLED;
    case MODULEEVENT_RENDER2D: OnRender2D(module); return MODULEREPLY_HANDLED;
    case MODULEEVENT_GETKEYSTATES:
    case MODULEEVENT_GETJOYPADSTATES:
      return module->m_pClient != nullptr && module->m_pClient->IsConsoleVisible() ? MODULEREPLY_SKIP
                                                                                    : MODULEREPLY_HANDLED;
    case MODULEEVENT_QUERYFLAGB:
      if (data != nullptr) static_cast<QueryFlagEventData*>(data)->flag = 0;
      return MODULEREPLY_VALUE;
    case MODULEEVENT_FALLDAMAGE:
      return ReplyForDamage(data != nullptr ? static_cast<FallDamageEventData*>(data)->item : nullptr);
    case MODULEEVENT_DIVINGROLLLANDDEATH:
      return ReplyForDamage(data != nullptr ? static_cast<DivingRollLandDeathEventData*>(data)->item : nullptr);
    case MODULEEVENT_ROLLINGBALLDEATH:
      return MultiplePlayerSupport::IsRemoteCurrent() ? MODULEREPLY_SKIP : MODULEREPLY_HANDLED;
    default:
      return 0;
  }
}
