// The client object inside the running module: the console's keys and history, timers, key binds without a
// console page, and console commands reaching the loopback test server.
#include <scripting/KeyBinds.h>

#include "module_fixture.h"

namespace mptest {
namespace {

class CountingBind : public Vexil3D::CKeyBind {
 public:
  explicit CountingBind(std::vector<std::string>* log) : CKeyBind(nullptr), m_pLog(log) {}
  void Call(Vexil3D::CBaseObject*, Vexil3D::CKeyEvent* event) override {
    m_pLog->push_back(std::string(event->IsDown() ? "down " : "up ") + char(event->GetKey().sym));
  }

 private:
  std::vector<std::string>* m_pLog;
};

using ClientObjectTest = ModuleTest;

TEST_P(ClientObjectTest, TheConsoleOpensOnTheTextAfterItsKeyAndKeepsItsHistory) {
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
      {SDLK_UP, "/two"}, {SDLK_UP, "/one"}, {SDLK_UP, "/one"}, {SDLK_DOWN, "/two"}, {SDLK_DOWN, "draft"},
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

TEST_P(ClientObjectTest, ATimerWithRepeatOneRunsOnce) {
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

TEST_P(ClientObjectTest, WithoutTheMainPageKeysGoToTheKeyBinds) {
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

TEST_P(ClientObjectTest, CommandsReachTheServerAndQuitClosesTheLink) {
  Serve({"wait 1 5000", "accept 0 5 9 0 0", "wait 7 10000", "wait 6 10000", "wait 7 10000", "wait disconnect 10000"});
  ASSERT_EQ(MODULEREPLY_HANDLED, Start(Address()));
  EXPECT_EQ(0u, server->Reply().rfind("connect ", 0));
  EXPECT_EQ("ok", server->Reply());
  Frame();
  Client()->GetCommands()->ExecuteLine(u"/kick Bob now", true);
  EXPECT_EQ("command kick Bob now", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/say", true);  // nothing to say: nothing sent
  Client()->GetCommands()->ExecuteLine(u"hi there", true);
  EXPECT_EQ("chat hi there", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/ping", true);
  EXPECT_EQ("command ping", server->Reply());
  Client()->GetCommands()->ExecuteLine(u"/quit", true);
  EXPECT_EQ("disconnect 6", server->Reply());
  EXPECT_EQ(nullptr, multiplayer::GetModule()->m_pState->m_pClient);
  Frame();  // the module goes on without a connection
}

INSTANTIATE_TEST_SUITE_P(Builds, ClientObjectTest, ::testing::Values(gamedouble::Build::VReleasePatched),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

}  // namespace
}  // namespace mptest
