// The Multiplayer module's Init against the loopback test server, its replies to the game's events, and the client
// object inside it: the console's keys and history, timers, key binds without a console page, and console commands
// reaching the test server.
#include <chrono>
#include <cstdio>
#include <cstring>

#include <features/MultiplePlayerSupport.h>
#include <hack/GameRoutines.h>
#include <hack/ModuleRegistry.h>
#include <multiplayer/Protocol.h>
#include <platform/window.h>
#include <scripting/KeyBinds.h>

#include "module_fixture.h"

namespace mptest {
namespace {

namespace mps = MultiplePlayerSupport;
using Clock = std::chrono::steady_clock;

TEST(ServerOption, SplitsHostAndPort) {
  struct Case {
    const char16_t* text;
    bool valid;
    const char16_t* host;
    std::uint16_t port;
  };
  const Case cases[] = {
      {u"[::1]:23000", true, u"::1", 23000},      {u"[fe80::1]", true, u"fe80::1", 22000},
      {u"example.net", true, u"example.net", 22000}, {u"10.0.0.1:65535", true, u"10.0.0.1", 65535},
      {u"10.0.0.1:0", true, u"10.0.0.1", 0},      {u"host:abc", false, u"", 0},
      {u"host:65536", false, u"", 0},             {u"host:4294989296", false, u"", 0},
      {u"host:", false, u"", 0},                  {u"host:22000x", false, u"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.text));
    std::u16string host;
    std::uint16_t port = 1;
    ASSERT_EQ(c.valid, multiplayer::SplitServer(c.text, &host, &port));
    if (!c.valid) continue;
    EXPECT_EQ(std::u16string(c.host), host);
    EXPECT_EQ(c.port, port);
  }
}

TEST_P(ModuleTest, WithoutAUsableServerTheModuleRunsUnconnected) {
  for (const char* server : {"", "127.0.0.1:abc", "127.0.0.1:70000"}) {
    SCOPED_TRACE(server);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(MODULEREPLY_HANDLED, Start(server));
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(*server != 0, console.find("MULTIPLAYER: Unable to connect; invalid port\n") != std::string::npos);
    EXPECT_EQ(nullptr, multiplayer::GetModule()->m_pState->m_pClient);
    Frame();
    ASSERT_NE(nullptr, Client());
    EXPECT_EQ(CClient::kWelcomeLine, LastChat());
    // Every refusal reaches the chat window and the console alike.
    const std::string unknown =
        "' is not recognized as an internal or external command, operable program or batch file.";
    const struct {
      const char16_t* line;
      std::string said;
    } refusals[] = {
        {u"/say hello", "Not connected to a server!"},
        {u"/say", "Not connected to a server!"},
        {u"/kick Bob", "'kick" + unknown},
        {u"/Zoom", "'Zoom" + unknown},
        {u"/caf\u00e9 au lait", "'caf\xC3\xA9" + unknown},
    };
    for (const auto& refusal : refusals) {
      SCOPED_TRACE(refusal.said);
      ::testing::internal::CaptureStdout();
      Client()->GetCommands()->ExecuteLine(refusal.line, true);
      const std::string said = ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(refusal.said, LastChat());
      EXPECT_EQ("CHAT: " + refusal.said + "\n", said);
    }
    Send(MODULEEVENT_UNLOAD);
    EXPECT_EQ(nullptr, multiplayer::GetModule());
    EXPECT_TRUE(messages.shown.empty());
  }
}

// An option value fills at most its 64 units, and then carries no terminator: the value read stops at the field's
// end whatever follows the record, and a longer text given to the launcher was cut to the field.
TEST_P(ModuleTest, OptionValuesAreReadWithinTheirField) {
  constexpr std::size_t kField = std::size(ModuleOption{}.value);
  for (const std::size_t length : {std::size_t(0), std::size_t(1), kField - 1, kField, kField + 1, 4 * kField}) {
    SCOPED_TRACE(length);
    std::u16string value;
    for (std::size_t i = 0; i < length; ++i) value += char16_t(u'a' + i % 26);
    nickname = value;
    password = value.empty() ? value : u"\u00e9" + value.substr(1);
    ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
    const CMultiplayerState* state = multiplayer::GetModule()->m_pState.get();
    EXPECT_EQ(text::Utf16ToUtf8(nickname.substr(0, kField)), state->m_Nickname);
    EXPECT_EQ(text::Utf16ToUtf8(password.substr(0, kField)), state->m_Password);
    Send(MODULEEVENT_UNLOAD);
  }
}

TEST_P(ModuleTest, EachReasonAtInitShowsItsTextAndRefuses) {
  const std::pair<std::uint32_t, const char*> reasons[] = {{DISCONNECT_SERVER_FULL, "reason 1 (server full)"},
                                                           {DISCONNECT_WRONG_PASSWORD, "reason 4 (wrong password)"},
                                                           {99, "reason 99"}};
  for (const auto& [reason, said] : reasons) {
    SCOPED_TRACE(reason);
    Serve({"wait 1 5000", "reject " + std::to_string(reason)});
    EXPECT_EQ(MODULEREPLY_SKIP, Start(Address()));
    EXPECT_EQ("the player \"Kelv\" asks to join (protocol 24, game " + std::to_string(GameVersion) +
                  ", client value 0, password \"pw\")",
              server->Reply());
    EXPECT_EQ(std::string("refused the player, ") + said, server->Reply());
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(GetDisconnectMessageText(reason), messages.shown.back());
    EXPECT_EQ(nullptr, multiplayer::GetModule());
  }
}

TEST_P(ModuleTest, AMuteServerEndsTheWaitAtItsBound) {
  constexpr std::uint32_t kBoundMs = 300;
  // The client's own disconnect gives a mute peer one step before it lets go.
  constexpr auto kSlack = std::chrono::milliseconds(CNetClient::kDisconnectTotalMs);
  const std::uint32_t saved = multiplayer::g_ConnectWaitBoundMs;
  multiplayer::g_ConnectWaitBoundMs = kBoundMs;
  Serve({"wait 1 5000", "mute", "wait any 10000"});
  const auto start = Clock::now();
  EXPECT_EQ(MODULEREPLY_SKIP, Start(Address()));
  const auto took = Clock::now() - start;
  multiplayer::g_ConnectWaitBoundMs = saved;
  EXPECT_GE(took, std::chrono::milliseconds(kBoundMs));
  EXPECT_LT(took, std::chrono::milliseconds(kBoundMs) + kSlack);
  ASSERT_FALSE(messages.shown.empty());
  EXPECT_EQ("You timed out from the server.", messages.shown.back());
}

TEST_P(ModuleTest, AStalledDownloadHoldsNeitherQuitNorUnload) {
  // The loader lets a running transfer go within a second; the disconnect takes a round trip.
  constexpr auto kBound = std::chrono::milliseconds(2500);
  constexpr std::uint8_t kLevel = 5;
  const gamedouble::Place stateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};
  std::filesystem::create_directories(folder / "big");
  std::ofstream(folder / "big" / "data.bin") << std::string(1 << 16, 'b');
  for (const bool quit : {true, false}) {
    SCOPED_TRACE(quit ? "quit" : "unload");
    Serve({"wait 1 5000", "accept 0 5 9 0 0", "wait 3 5000", "fault big/data.bin stalled", "resources big:1",
           "wait disconnect 15000"});
    ASSERT_EQ(MODULEREPLY_HANDLED, Start(Address()));
    game->Write<std::uint8_t>(stateByte, kLevel);
    Send(MODULEEVENT_LOADITEMS);
    CMultiplayerState* state = multiplayer::GetModule()->m_pState.get();
    std::uint64_t total = 0, downloaded = 0;
    for (const auto deadline = Clock::now() + std::chrono::seconds(5); downloaded == 0 && Clock::now() < deadline;) {
      Frame();
      state->m_pClient->GetServerInfo()->GetByteCounts(&total, &downloaded);
    }
    ASSERT_GT(downloaded, 0u);
    ASSERT_LT(downloaded, total);  // half of it came, then the server stalled
    const auto start = Clock::now();
    if (quit) {
      Client()->GetCommands()->ExecuteLine(u"/quit", true);
    } else {
      Send(MODULEEVENT_UNLOAD);
    }
    EXPECT_LT(Clock::now() - start, kBound);
    for (const char* reply : {"the player \"Kelv\" asks to join", "accepted the player as player 0 on level 5",
                              "the player is in the game", "will serve big/data.bin with the fault stalled",
                              "listed the resource big (running, 1 file)", "the player disconnected, reason 6 (quit)"})
      EXPECT_EQ(0u, server->Reply().rfind(reply, 0)) << reply;
  }
}

std::vector<std::string>& Routed() {
  static std::vector<std::string> routed;
  return routed;
}
LRESULT GameProcedure(HWND, UINT message, WPARAM, LPARAM) {
  Routed().push_back("game " + std::to_string(message));
  return 1;
}
LRESULT SdlProcedure(HWND, UINT message, WPARAM, LPARAM) {
  Routed().push_back("sdl " + std::to_string(message));
  return 2;
}

TEST_P(ModuleTest, TheWindowProcedureRoutesAndCharactersOpenTheConsole) {
  constexpr UINT kNcCreate = 0x81, kKeyDown = 0x100, kChar = 0x102, kMouseMove = 0x200;
  const HWND window = reinterpret_cast<HWND>(0x778);
  platform::SetWindowProcedure(window, &GameProcedure);
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  Frame();
  auto message = [&](UINT which, WPARAM wParam) {
    WindowMessageEventData data{};
    data.window = window;
    data.message = which;
    data.wParam = std::uint32_t(wParam);
    return Send(MODULEEVENT_WINDOWMESSAGE, &data);
  };
  EXPECT_EQ(MODULEREPLY_HANDLED, message(kNcCreate, 0));
  // The dummy video driver takes no foreign window: SDL's procedure is stood in for.
  ASSERT_EQ(nullptr, multiplayer::GetModule()->m_SdlWindowProc);
  Routed().clear();
  EXPECT_EQ(1, SendMessageW(window, kMouseMove, 0, 0));  // without SDL's procedure the game's takes everything
  multiplayer::GetModule()->m_SdlWindowProc = &SdlProcedure;
  const UINT toGame[] = {0x05, 0x06, 0x0F, 0x14, 0x18, 0x24, 0x46, 0x47, 0x83, 0x84, 0x86, 0x233};
  std::vector<std::string> expected = {"game " + std::to_string(kMouseMove)};
  for (const UINT which : toGame) {
    SendMessageW(window, which, 0, 0);
    expected.push_back("game " + std::to_string(which));
  }
  for (const UINT which : {kKeyDown, kChar, kMouseMove, WM_CLOSE}) {
    SendMessageW(window, which, 0, 0);
    expected.push_back("sdl " + std::to_string(which));
  }
  EXPECT_EQ(expected, Routed());

  // Window characters open the console the key asked for; window keys are dropped.
  EXPECT_EQ(MODULEREPLY_HANDLED, message(kKeyDown, 'T'));
  Frame();
  EXPECT_FALSE(Client()->IsConsoleRequested());
  PushKey(SDLK_t);
  Frame();
  ASSERT_TRUE(Client()->IsConsoleRequested());
  EXPECT_EQ(MODULEREPLY_HANDLED, message(kChar, 't'));
  Frame();
  EXPECT_TRUE(Client()->IsConsoleVisible());
  EXPECT_EQ("", Input());
  Send(MODULEEVENT_UNLOAD);
  Routed().clear();
  SendMessageW(window, kKeyDown, 0, 0);
  EXPECT_EQ(std::vector<std::string>{"game " + std::to_string(kKeyDown)}, Routed());
  platform::SetWindowProcedure(window, nullptr);
}

using RepliesTest = ModuleTest;

TEST_P(RepliesTest, ConsoleKeysScriptLoadedAndFlagB) {
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  EXPECT_EQ(MODULEREPLY_HANDLED, Send(MODULEEVENT_GETKEYSTATES));  // before the client object exists
  Frame();
  const std::uint32_t events[] = {MODULEEVENT_GETKEYSTATES, MODULEEVENT_GETJOYPADSTATES};
  for (const std::uint32_t event : events) EXPECT_EQ(MODULEREPLY_HANDLED, Send(event));
  PushKey(SDLK_t);
  PushText("t");
  Frame();
  ASSERT_TRUE(Client()->IsConsoleVisible());
  for (const std::uint32_t event : events) EXPECT_EQ(MODULEREPLY_SKIP, Send(event));
  PushKey(SDLK_ESCAPE);
  Frame();
  for (const std::uint32_t event : events) EXPECT_EQ(MODULEREPLY_HANDLED, Send(event));

  QueryFlagEventData flag{};
  flag.flag = 5;
  EXPECT_EQ(MODULEREPLY_VALUE, Send(MODULEEVENT_QUERYFLAGB, &flag));
  EXPECT_EQ(0, flag.flag);

  const gamedouble::Place pointer{0x7FD158, 0x7FD278, 0x7FD2B8, 0xE5C2BC};
  std::uint32_t loaded = 0xFFFFFFFF;
  game->Write<std::uint32_t>(pointer, std::uint32_t(std::uintptr_t(&loaded)));
  EXPECT_EQ(MODULEREPLY_HANDLED, Send(MODULEEVENT_SCRIPTLOADED));
  EXPECT_EQ(0u, loaded);  // before message 2
  multiplayer::GetModule()->m_pState->m_ScriptLoadedValue = 77;
  EXPECT_EQ(MODULEREPLY_HANDLED, Send(MODULEEVENT_SCRIPTLOADED));
  EXPECT_EQ(77u, loaded);
}

TEST_P(RepliesTest, DamageAndDeathRunForTheLocalItemAlone) {
  constexpr std::uint16_t kPuppet = 40;
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  const std::uint16_t local = Game::GetPlayerItemNumber();
  ASSERT_NE(mps::kNoItem, local);
  ASSERT_NE(kPuppet, local);
  auto record = [](std::uint16_t item) { return Game::GetItemArray() + std::size_t(item) * Game::kItemRecordSize; };
  auto damage = [&](std::uint16_t item) {
    FallDamageEventData fall{};
    fall.item = record(item);
    DivingRollLandDeathEventData roll{};
    roll.item = record(item);
    const std::uint32_t first = Send(MODULEEVENT_FALLDAMAGE, &fall);
    EXPECT_EQ(first, Send(MODULEEVENT_DIVINGROLLLANDDEATH, &roll));
    return first;
  };
  EXPECT_EQ(MODULEREPLY_HANDLED, damage(local));
  EXPECT_EQ(MODULEREPLY_SKIP, damage(kPuppet));
  EXPECT_EQ(MODULEREPLY_HANDLED, Send(MODULEEVENT_ROLLINGBALLDEATH));

  // The puppet swapped in as the game's player: the game's player item is the puppet's, yet the local item rules.
  ASSERT_TRUE(mps::LinkPlayer(kPuppet));
  mps::SavePlayerState(mps::GetLocalSnapshot());
  mps::SetRemoteCurrent(true);
  ASSERT_TRUE(mps::SwitchToPlayer(kPuppet));
  ASSERT_EQ(record(kPuppet), Game::GetPlayerItem());
  EXPECT_EQ(MODULEREPLY_HANDLED, damage(local));
  EXPECT_EQ(MODULEREPLY_SKIP, damage(kPuppet));
  EXPECT_EQ(MODULEREPLY_SKIP, Send(MODULEEVENT_ROLLINGBALLDEATH));
  mps::SwitchToLocalPlayer();
  EXPECT_EQ(record(local), Game::GetPlayerItem());
}

TEST_P(RepliesTest, TheDownloadBarDrawsItsShareAndNeverPastFull) {
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  CMultiplayerState* state = multiplayer::GetModule()->m_pState.get();
  state->m_pClient = std::make_unique<CQVNetClient>(state);
  state->m_pClient->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", multiplayer::kDefaultPort));
  CServerInfo* info = state->m_pClient->GetServerInfo();
  const bool v = GetParam() == gamedouble::Build::VReleasePatched;
  const gamedouble::Routine bar = v ? gamedouble::Routine::ProgressBarV : gamedouble::Routine::ProgressBar;
  struct Case {
    NetClientState state;
    std::uint64_t total, downloaded;
    std::int64_t value;  // -1: no bar
  };
  const Case cases[] = {
      {NETCLIENT_CONNECTED, 100, 50, -1}, {NETCLIENT_IN_GAME, 0, 0, -1},     {NETCLIENT_IN_GAME, 300, 300, -1},
      {NETCLIENT_IN_GAME, 300, 100, 33},  {NETCLIENT_IN_GAME, 100, 250, 100}, {NETCLIENT_IN_GAME, 7, 0, 0},
      {NETCLIENT_IN_GAME, 1ull << 33, 1ull << 32, 50},  // past what 32 bits count
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.total) + " " + std::to_string(c.downloaded));
    state->m_pClient->SetState(c.state);
    info->ResetByteCounts();
    info->AddTotalBytes(c.total);
    info->AddDownloadedBytes(c.downloaded);
    const std::size_t before = game->CallsOf(bar).size();
    Send(MODULEEVENT_RENDER2D);
    const auto calls = game->CallsOf(bar);
    ASSERT_EQ(before + (c.value >= 0 ? 1 : 0), calls.size());
    if (c.value < 0) continue;
    const std::uint32_t font = Game::GetFontHeight();
    const std::vector<std::uint32_t> expected =
        v ? std::vector<std::uint32_t>{170, 480 - font, 300, 15, std::uint32_t(c.value), 0xFF00FFFF, 0xFF00FFFF}
          : std::vector<std::uint32_t>{20, Game::GetScreenHeight() - 1 - font, 600, 15, std::uint32_t(c.value),
                                       0xFF00FFFF, 0xFF00FFFF};
    EXPECT_EQ(expected, calls.back().arguments);
  }
}

class CountingBind : public Vexil3D::CKeyBind {
 public:
  explicit CountingBind(std::vector<std::string>* log) : CKeyBind(nullptr), m_pLog(log) {}
  void Call(Vexil3D::CBaseObject*, Vexil3D::CKeyEvent* event) override {
    m_pLog->push_back(std::string(event->IsDown() ? "down " : "up ") + char(event->GetKey().sym));
  }

 private:
  std::vector<std::string>* m_pLog;
};

TEST_P(ModuleTest, TheConsoleOpensOnTheTextAfterItsKeyAndKeepsItsHistory) {
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  Frame();
  auto open = [&] {
    PushKey(SDLK_t);
    EXPECT_FALSE(Client()->IsConsoleRequested());
    PushText("t");
    Frame();
    ASSERT_TRUE(Client()->IsConsoleVisible());
    EXPECT_FALSE(Client()->IsConsoleRequested());
    EXPECT_EQ("", Input());  // the key that asked is not typed
  };
  open();
  PushKey(SDLK_UP);  // an empty history changes nothing
  Frame();
  EXPECT_EQ("", Input());
  Type("/one");
  EXPECT_FALSE(Client()->IsConsoleVisible());
  open();
  Type("/two");
  open();
  PushText("draft");
  Frame();
  const std::pair<SDL_Keycode, const char*> steps[] = {
      // Up past the oldest line keeps it shown and counts on; Down walks those steps back before it moves.
      {SDLK_UP, "/two"},   {SDLK_UP, "/one"},   {SDLK_UP, "/one"},   {SDLK_UP, "/one"},
      {SDLK_DOWN, "/one"}, {SDLK_DOWN, "/one"}, {SDLK_DOWN, "/two"}, {SDLK_DOWN, "draft"},
  };
  for (const auto& [key, shown] : steps) {
    PushKey(key);
    Frame();
    EXPECT_EQ(shown, Input());
  }
  PushKey(SDLK_ESCAPE);
  Frame();
  EXPECT_FALSE(Client()->IsConsoleVisible());
  open();  // cleared by Escape
}

TEST_P(ModuleTest, ATimerWithRepeatOneRunsOnce) {
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  Frame();
  static int calls = 0;
  calls = 0;
  Vexil3D::TimerHandlers::CTimerMgr& timers = Client()->GetResources()->GetTimers();
  Vexil3D::Strong<Vexil3D::CFunction> function;
  function.Attach(new Vexil3D::CFunction(
      u"count", [](Vexil3D::CNativeState*, int, void*) { return ++calls, true; }, nullptr, nullptr));
  Vexil3D::TimerHandlers::CScriptTimer* timer = timers.CreateTimer(nullptr, function.Get(), 1, 0, 0.0);
  ASSERT_NE(nullptr, timer);
  timer->Release();
  for (int frame = 0; frame < 3; ++frame) Frame();
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0u, timers.GetCount());
}

TEST_P(ModuleTest, WithoutTheMainPageKeysGoToTheKeyBinds) {
  ASSERT_EQ(MODULEREPLY_HANDLED, Start("", false));
  Frame();
  ASSERT_EQ(nullptr, Client()->GetConsole());
  std::vector<std::string> log;
  Client()->GetResources()->GetKeyBinds().AddKeyBind(new CountingBind(&log), SDLK_t, Vexil3D::KEYSTATE_BOTH, false);
  PushKey(SDLK_t);
  SDL_Event up{};
  up.type = SDL_KEYUP;
  up.key.keysym.sym = SDLK_t;
  ASSERT_EQ(1, SDL_PushEvent(&up));
  Frame();
  EXPECT_EQ((std::vector<std::string>{"down t", "up t"}), log);
  EXPECT_FALSE(Client()->IsConsoleRequested());
  EXPECT_EQ(MODULEREPLY_HANDLED, Send(MODULEEVENT_GETKEYSTATES));
}

TEST_P(ModuleTest, CommandsReachTheServerAndQuitClosesTheLink) {
  Serve({"wait 1 5000", "accept 0 5 9 0 0", "wait 7 10000", "wait 6 10000", "wait 7 10000", "wait disconnect 10000"});
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(Address()));
  EXPECT_EQ(0u, server->Reply().rfind("the player \"Kelv\" asks to join (", 0));
  EXPECT_EQ("accepted the player as player 0 on level 5 (second level 9, features 0, value 0)", server->Reply());
  Frame();
  Client()->GetCommands()->ExecuteLine(u"/kick Bob now", true);
  EXPECT_EQ("received command: kick Bob now", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/say", true);  // nothing to say: nothing sent
  Client()->GetCommands()->ExecuteLine(u"hi there", true);
  EXPECT_EQ("received chat: hi there", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/ping", true);
  EXPECT_EQ("received command: ping", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/quit", true);
  EXPECT_EQ("the player disconnected, reason 6 (quit)", server->Reply());
  EXPECT_EQ(nullptr, multiplayer::GetModule()->m_pState->m_pClient);
  Frame();  // the module goes on without a connection
}

// "quit", "q" and "exit" close the game's window, connected or not.
std::vector<UINT>& WindowMessages() {
  static std::vector<UINT> messages;
  return messages;
}
LRESULT RecordingProcedure(HWND, UINT message, WPARAM, LPARAM) {
  WindowMessages().push_back(message);
  return 0;
}

TEST_P(ModuleTest, EachExitCommandClosesTheGamesWindow) {
  constexpr UINT kClose = 0x0010;
  const HWND window = Game::GetWindow();
  for (const char16_t* line : {u"/quit", u"/q", u"/exit"}) {
    SCOPED_TRACE(text::Utf16ToUtf8(line));
    ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
    Frame();
    platform::SetWindowProcedure(window, &RecordingProcedure);
    WindowMessages().clear();
    Client()->GetCommands()->ExecuteLine(line, true);
    platform::SetWindowProcedure(window, nullptr);
    EXPECT_EQ(std::vector<UINT>{kClose}, WindowMessages());
    EXPECT_EQ(nullptr, multiplayer::GetModule()->m_pState->m_pClient);
  }
}

// A server that cannot be reached at Init: the start-up message and reply 7, nothing of the module left.
TEST_P(ModuleTest, AServerThatCannotBeReachedRefusesTheModuleWithItsMessage) {
  for (const char* server : {"[]:22000", ":22000", "[]"}) {
    SCOPED_TRACE(server);
    messages.shown.clear();
    EXPECT_EQ(MODULEREPLY_SKIP, Start(server));
    EXPECT_EQ(std::vector<std::string>{"Failed to connect to the multiplayer server."}, messages.shown);
    EXPECT_EQ(nullptr, multiplayer::GetModule());
  }
}

// The server ends the link in play: the frame that hears it keeps the client (its reason in the chat and on the
// console), the next removes it, and the game goes on without one.
TEST_P(ModuleTest, ADisconnectInPlayRemovesTheClientAtTheNextFrame) {
  const gamedouble::Place stateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};
  Serve({"wait 1 5000", "accept 0 5 9 0 0", "wait 3 5000", "kick 4"});
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(Address()));
  game->Write<std::uint8_t>(stateByte, 5);
  Send(MODULEEVENT_LOADITEMS);
  CMultiplayerState* state = multiplayer::GetModule()->m_pState.get();
  ::testing::internal::CaptureStdout();
  for (const auto deadline = Clock::now() + std::chrono::seconds(10);
       !state->m_Disconnected && state->m_pClient != nullptr && Clock::now() < deadline;) {
    Frame();
  }
  const std::string console = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(state->m_Disconnected);
  EXPECT_NE(nullptr, state->m_pClient);
  EXPECT_EQ(GetDisconnectChatText(DISCONNECT_WRONG_PASSWORD), LastChat());
  EXPECT_NE(std::string::npos, console.find(std::string("CHAT: ") + GetDisconnectChatText(DISCONNECT_WRONG_PASSWORD)));
  Frame();
  EXPECT_EQ(nullptr, state->m_pClient);
  EXPECT_FALSE(state->m_Disconnected);
  Send(MODULEEVENT_LOADITEMS);
  Frame();
  EXPECT_EQ(nullptr, state->m_pClient);
  // The server's view: it let the player in, saw it in the game, and kicked it.
  EXPECT_EQ(0u, server->Reply().rfind("the player \"Kelv\" asks to join (", 0));
  for (const char* said : {"accepted the player as player 0 on level 5 (second level 9, features 0, value 0)",
                           "the player is in the game", "kicked the player, reason 4 (wrong password)"})
    EXPECT_EQ(said, server->Reply());
}

// A level without the player's item ends the game after its message.
class CStderrMessages : public CMessages {
 public:
  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
    if (config.pszContent != nullptr) std::fprintf(stderr, "%s\n", text::Utf16ToUtf8(config.pszContent).c_str());
    return CMessages::TaskDialog(config, pressed);
  }
  int MessageBox(HWND window, std::u16string_view text, std::u16string_view caption, UINT type) override {
    std::fprintf(stderr, "%s\n", text::Utf16ToUtf8(text).c_str());
    return CMessages::MessageBox(window, text, caption, type);
  }
};

TEST_P(ModuleTest, ALevelWithoutThePlayersItemEndsTheGameAfterItsMessage) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
  Frame();
  EXPECT_EXIT(
      {
        static CStderrMessages shown;
        platform::SetDialogBackend(&shown);
        const std::uint16_t none = 0xFFFF;
        std::memcpy(Game::GetPlayerRecord(), &none, sizeof none);
        Send(MODULEEVENT_LOADITEMS);
      },
      ::testing::ExitedWithCode(1), "The KELV item is missing from this map\\.");
}

// Init's two patches stand while the module is loaded, on every build, and their bytes come back when it goes.
using InitPatchesTest = ModuleTest;

TEST_P(InitPatchesTest, StandWhileLoadedAndGoWithTheModule) {
  const gamedouble::Place nop{0x4303BA, 0x430842, 0x430842, 0x455EAC};
  const gamedouble::Place from{0x4303BF, 0x430847, 0x430847, 0x455EB0};
  const gamedouble::Place target{0x4303FF, 0x430887, 0x430887, 0x455EEE};
  const auto code = [&](const gamedouble::Place& place, std::size_t size) {
    const auto* at = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(game->At(place)));
    return std::vector<std::uint8_t>(at, at + size);
  };
  const std::vector<std::uint8_t> nopBefore = code(nop, 4), jumpBefore = code(from, 2);
  // Four bytes passed over: a short jump over the two after it.
  const std::vector<std::uint8_t> skip = {0xEB, 0x02};
  ASSERT_NE(skip, code(nop, 2));
  for (const bool unload : {true, false}) {
    SCOPED_TRACE(unload ? "unloaded" : "refused");
    if (unload) {
      ASSERT_EQ(MODULEREPLY_HANDLED, Start(""));
      EXPECT_EQ(skip, code(nop, 2));
      const std::vector<std::uint8_t> jump = code(from, 2);
      EXPECT_EQ(0xEB, jump[0]);  // a short jump
      EXPECT_EQ(game->At(target), game->At(from) + 2 + std::uint32_t(std::int32_t(std::int8_t(jump[1]))));
      UnloadHackModule(module);
    } else {
      ASSERT_EQ(MODULEREPLY_SKIP, Start("[]:1"));  // refused: the registry takes its patches away
    }
    EXPECT_EQ(nullptr, multiplayer::GetModule());
    EXPECT_EQ(nopBefore, code(nop, 4));
    EXPECT_EQ(jumpBefore, code(from, 2));
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, InitPatchesTest,
                         ::testing::Values(gamedouble::Build::IVEditor, gamedouble::Build::IVReleasePatched,
                                           gamedouble::Build::IVDemoCorvel, gamedouble::Build::VReleasePatched),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

INSTANTIATE_TEST_SUITE_P(Builds, ModuleTest, ::testing::Values(gamedouble::Build::VReleasePatched),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });
INSTANTIATE_TEST_SUITE_P(Builds, RepliesTest,
                         ::testing::Values(gamedouble::Build::IVEditor, gamedouble::Build::VReleasePatched),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

}  // namespace
}  // namespace mptest
