// The SquirrelSupport module on the game double of each build, behind the core's real hooks: every game event's
// arguments and what a prevented default does to the game, key messages before OnProcess, the events it leaves,
// one audio device, a prevented OnLoad, and the game image put back at the end.
#include "squirrel_support_fixture.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include <hack/GameHooks.h>
#include <platform/testing/DSoundClock.h>

#include <scripthost/Events.h>
#include <scripthost/SquirrelSupportTesting.h>

namespace sstest {
namespace {

using gamedouble::Routine;

std::uint16_t Word(std::uint8_t* item, std::uint32_t offset) {
  std::uint16_t value;
  std::memcpy(&value, item + offset, sizeof value);
  return value;
}
void SetWord(std::uint8_t* item, std::uint32_t offset, std::uint16_t value) {
  std::memcpy(item + offset, &value, sizeof value);
}

constexpr std::uint32_t kFallOffset = 32, kHealthOffset = 34, kStateOffset = 16;

using Game = gamedouble::CGameDouble;

struct GameEventCase {
  const char* name;
  Lines logged;
  // Runs the game's code and says what the game did.
  std::function<std::string(Game& game)> run;
  // What the game did without and with a prevented default.
  std::string normal, prevented;
};

std::string Str(std::uint32_t n) { return std::to_string(n); }

TEST_P(SquirrelSupportTest, EachGameEventCarriesItsArgumentsAndPreventingSkipsTheGamesCode) {
  // Routines that only continue the game's code: "ran" when they returned.
  const auto runs = [](Routine routine) { return [routine](Game& g) { return g.Run(routine), std::string("ran"); }; };
  const std::vector<GameEventCase> cases = {
      {"FallDamage",
       {"OnFallDamage 3"},
       [](Game& g) {
         SetWord(g.Item(3), kFallOffset, 150), SetWord(g.Item(3), kHealthOffset, 1000);
         const std::uint32_t killed = g.Call(Routine::FallDamage, {Address(g.Item(3))});
         return Str(killed) + " " + Str(Word(g.Item(3), kHealthOffset));
       },
       "0 490",
       "0 1000"},
      {"DivingRollLandDeath",
       {"OnDivingRollLandDeath 5"},
       [](Game& g) {
         return g.Run(Routine::DivingRollLandDeath, {Address(g.Item(5))}), Str(Word(g.Item(5), kStateOffset));
       },
       "8",
       "2"},
      {"RollingBallDeath",
       {"OnRollingBallDeath"},
       [](Game& g) { return Str(g.Call(Routine::RollingBallDeath)); },
       "1",
       "0"},
      {"Flipeffect",
       {"OnFlipeffect 5 null"},
       [](Game& g) {
         g.ClearCalls(), g.Run(Routine::FlipeffectCaller, {5});
         return Str(g.CallsOf(Routine::Flipeffect).size());
       },
       "1",
       "0"},
      {"GetKeyStates",
       {"OnGetKeyStates"},
       [](Game& g) {
         std::uint8_t keyboard[256], table[256];
         std::memset(keyboard, 0x80, sizeof keyboard), std::memset(table, 0xEE, sizeof table);
         g.SetKeyboard(keyboard), g.Run(Routine::GetKeyStates, {Address(table)});
         return Str(std::uint32_t(std::count(std::begin(table), std::end(table), 0)));
       },
       "0",
       "256"},
      {"GetJoypadStates",
       {"OnGetJoypadStates"},
       [](Game& g) {
         std::uint32_t pads[2] = {0xEEEE, 0xEEEE};
         g.SetJoypad(true, 3, 4, 9);
         const std::uint32_t result = g.Call(Routine::GetJoypadStates, {Address(&pads[0]), Address(&pads[1])});
         return Str(result) + " " + Str(pads[0]) + " " + Str(pads[1]);
       },
       "9 3 4",
       "0 0 0"},
      {"Frame",
       {"OnProcess", "OnRender2D"},
       [](Game& g) {
         g.ClearCalls(), g.Run(Routine::Frame);
         return Str(g.CallsOf(Routine::FrameRoutine1).size() + g.CallsOf(Routine::FrameRoutine4).size());
       },
       "2",
       "2"},
      {"ScriptLoaded", {"OnLoadedScript"}, runs(Routine::ScriptLoaded), "ran", "ran"},
      {"DefineAllObjects", {"OnDefineAllObjects"}, runs(Routine::DefineAllObjects), "ran", "ran"},
      {"SetUpItemLinkedLists", {"OnSetUpItemLinkedLists"}, runs(Routine::SetUpItemLinkedLists), "ran", "ran"},
      {"LoadItems", {"OnLoadItems"}, runs(Routine::LoadItems), "ran", "ran"},
  };
  AddRecordingHandlers();
  for (const GameEventCase& c : cases) {
    for (bool prevent : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (prevent ? " prevented" : ""));
      ASSERT_TRUE(Run(prevent ? u"::Prevent = true;" : u"::Prevent = false;"));
      Logged().clear();
      // Game V's joypad routine is replaced outright and raises no event.
      const bool raised = !(GetParam() == gamedouble::Build::VReleasePatched && c.logged[0] == "OnGetJoypadStates");
      EXPECT_EQ(c.run(*game), prevent && raised ? c.prevented : c.normal);
      EXPECT_EQ(Logged(), raised ? c.logged : Lines{});
    }
  }
}

TEST_P(SquirrelSupportTest, RepliesAndItemArgumentsOfTheHandlerItself) {
  AddRecordingHandlers();
  ASSERT_TRUE(Run(u"::Prevent = true;"));
  FlipeffectEventData flip{{sizeof(FlipeffectEventData)}, 7, Address(game->Item(9))};
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_FLIPEFFECT, &flip), MODULEREPLY_SKIP);
  FallDamageEventData fall{{sizeof(FallDamageEventData)}, game->Item(0) - 2 * gamedouble::CGameDouble::kItemSize, 0};
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_FALLDAMAGE, &fall), MODULEREPLY_SKIP);
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr), MODULEREPLY_HANDLED);
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_RENDER2D, nullptr), MODULEREPLY_HANDLED);
  EXPECT_EQ(Logged(), (Lines{"OnFlipeffect 7 9", "OnFallDamage -2", "OnProcess", "OnRender2D"}));

  // Events that are not the module's are answered 0 once and never delivered again.
  GameStartEventData start{{sizeof(GameStartEventData)}, 0};
  LoadSampleEventData sample{{sizeof(LoadSampleEventData)}, 0, nullptr, 0, 0, 0};
  QueryFlagEventData flagA{{sizeof(QueryFlagEventData)}, 0}, flagB{{sizeof(QueryFlagEventData)}, 0};
  const std::pair<std::uint32_t, ModuleEventData*> others[] = {{MODULEEVENT_GAMESTART, &start},
                                                               {MODULEEVENT_LOADSAMPLE, &sample},
                                                               {MODULEEVENT_QUERYFLAGA, &flagA},
                                                               {MODULEEVENT_QUERYFLAGB, &flagB}};
  for (const auto& [event, data] : others) {
    SCOPED_TRACE(event);
    EXPECT_EQ(SquirrelSupportModuleHandler(event, data), 0u);
    ASSERT_NE(module->m_pSubscription[event], nullptr);
    RaiseModuleEvent(event, data);
    EXPECT_EQ(module->m_pSubscription[event], nullptr);
  }
}

TEST_P(SquirrelSupportTest, KeyMessagesOfAFrameComeInOrderBeforeOnProcess) {
  AddRecordingHandlers();
  constexpr std::uint32_t kA = 0x41, kAlt = 0x12, kMouseMove = 0x200;
  const std::uint32_t messages[][2] = {{0x100, kA}, {0x101, kA}, {kMouseMove, 7}, {0x104, kAlt}, {0x105, kAlt}};
  for (const auto& message : messages) HookWindowMessage(kWindow, message[0], message[1], 0);
  Logged().clear();
  game->Run(Routine::Frame);
  EXPECT_EQ(Logged(), (Lines{"OnKeyDown 65", "OnKeyUp 65", "OnKeyDown 18", "OnKeyUp 18", "OnProcess", "OnRender2D"}));
  Logged().clear();
  game->Run(Routine::Frame);
  EXPECT_EQ(Logged(), (Lines{"OnProcess", "OnRender2D"}));
}

TEST_P(SquirrelSupportTest, OneAudioDeviceWhateverTheWindowChanges) {
  platform::testing::DSoundClock clock(kClockRate);
  WindowChangedEventData none{{sizeof(WindowChangedEventData)}, nullptr};
  WindowChangedEventData window{{sizeof(WindowChangedEventData)}, kWindow};
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &none);
  EXPECT_EQ(g_pAudio, nullptr);
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &window);
  CAudio* device = g_pAudio;
  ASSERT_NE(device, nullptr);
  RaiseModuleEvent(MODULEEVENT_WINDOWCHANGED, &window);
  EXPECT_EQ(g_pAudio, device);
  EXPECT_EQ(clock.OpenDevices(), 1u);
  ShutDown();
  EXPECT_EQ(g_pAudio, nullptr);
  EXPECT_EQ(clock.OpenDevices(), 0u);
}

TEST_P(SquirrelSupportTest, UnloadFiresOnUnloadTearsDownAndPutsTheImageBack) {
  ASSERT_TRUE(
      Run(u"Engine.EventSystem.GetEventType(\"OnUnload\").AddHandler(@(e) Engine.Record(\"unload\"));"
          u"::kept <- Engine.EventType(\"Mine\"); Engine.EventSystem.AddEventType(kept);"));
  ShutDown();
  EXPECT_EQ(Logged(), (Lines{"unload"}));
  EXPECT_EQ(g_ScriptHost, nullptr);
  for (CEventType* type : g_GameEventTypes) EXPECT_EQ(type, nullptr);
  EXPECT_TRUE(ImagePristine());
  // Later events find nothing to touch.
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr), MODULEREPLY_HANDLED);
  QueueKeyEvent(kKeyEventDown, 1);
  DispatchKeyEvents();
}

struct FiringsCase {
  const char* name;
  // The body of an OnFallDamage handler (e is the event, n the firing's number from 0) and what it recorded
  // over four firings, the handler preventing the default of the second. A weak reference read from a global
  // is its target or null.
  const char16_t* handler;
  Lines logged;
};

TEST_P(SquirrelSupportTest, EveryFiringSeesAnEventOfItsOwnAndAKeptOneStaysAsItWas) {
  const FiringsCase cases[] = {
      {"fresh flag on every firing",
       u"Engine.Record(n, e.IsDefaultPrevented() ? 1 : 0);",
       {"0 0", "1 0", "2 0", "3 0"}},
      {"a kept event is never handed out again",
       u"foreach (i, old in ::kept) if (old == e) Engine.Record(n, \"same as\", i); ::kept.append(e);",
       {}},
      {"a kept event keeps its flag",
       u"::kept.append(e); local flags = ::kept.map(@(k) k.IsDefaultPrevented() ? 1 : 0);"
       u"Engine.Record.acall([this, n].extend(flags));",
       {"0 0", "1 0 0", "2 0 1 0", "3 0 1 0 0"}},
      {"a weak reference ends with its firing",
       u"if (n > 0) Engine.Record(n, ::weak == null ? \"gone\" : \"alive\"); ::weak = e.weakref();",
       {"1 gone", "2 gone", "3 gone"}},
      {"a kept and dropped event is gone",
       u"if (n > 0) Engine.Record(n, ::weak == null ? \"gone\" : \"alive\");"
       u"::kept.append(e); ::weak = e.weakref(); ::kept.clear();",
       {"1 gone", "2 gone", "3 gone"}},
  };
  // One handler for every case; each case puts its own body behind it.
  ASSERT_TRUE(
      Run(u"::handler <- null; ::kept <- []; ::weak <- null; ::firing <- 0;"
          u"Engine.EventSystem.GetEventType(\"OnFallDamage\").AddHandler(@(e, ...) ::handler(e));"));
  for (const FiringsCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Run(u"::kept = []; ::weak = null; ::handler = function(e) { local n = ::firing; " +
                    std::u16string(c.handler) + u" if (n == 1) e.PreventDefault(); };"));
    Logged().clear();
    FallDamageEventData fall{{sizeof(FallDamageEventData)}, game->Item(0), 0};
    for (std::uint32_t firing = 0; firing < 4; ++firing) {
      ASSERT_TRUE(Run(u"::firing = " + std::u16string(1, char16_t(u'0' + firing)) + u";"));
      // Only the firing whose handler prevented the default skips the game's code.
      EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_FALLDAMAGE, &fall),
                firing == 1 ? MODULEREPLY_SKIP : MODULEREPLY_HANDLED)
          << firing;
    }
    EXPECT_EQ(Logged(), c.logged);
  }
  // Kept events outlive the module's own: the tear-down leaves them to the machine's close.
  ASSERT_TRUE(
      Run(u"local t = Engine.EventSystem.GetEventType(\"OnProcess\"); ::held <- [];"
          u"t.AddHandler(@(e) ::held.append(e));"));
  for (int i = 0; i < 3; ++i) SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr);
  ShutDown();
}

// Fields a script gave Engine.Event before any event existed start at the class's default in every firing,
// whatever the handler left in them, and what the handler stored goes with the firing: on the module's reused
// event as on a new one, also after a kept event made the module start a new one. A field's default that
// changes later (a closure may still replace it) is the one the next firing reads; a default array is the
// class's own, shared by every event.
TEST_P(SquirrelSupportTest, AReusedEventStartsWithEveryFieldAtItsClassDefault) {
  ASSERT_TRUE(
      Run(u"Engine.Event.count <- 0; Engine.Event.tag <- \"new\"; Engine.Event.held <- null;"
          u"Engine.Event.shared <- []; Engine.Event.later <- 1; ::firing <- 0; ::weak <- null; ::kept <- [];"
          u"local record = function(e, ...) {"
          u"  Engine.Record(::firing, e.count, e.tag, e.held, e.shared.len(), typeof e.later,"
          u"                e.IsDefaultPrevented() ? 1 : 0, ::weak == null ? \"gone\" : \"alive\");"
          u"  e.count += 10; e.tag = \"set\"; e.held = Engine.Vector3D(1, 2, 3); e.shared.append(::firing);"
          u"  e.later = 5; ::weak = e.held.weakref(); e.PreventDefault();"
          u"  if (::firing % 5 == 1) { ::kept.append(e); ::weak = null; }"  // a new event next time
          u"  ::firing++;"
          u"};"
          u"foreach (name in [\"OnProcess\", \"OnRender2D\", \"OnFallDamage\"])"
          u"  Engine.EventSystem.GetEventType(name).AddHandler(record);"));
  FallDamageEventData fall{{sizeof(FallDamageEventData)}, game->Item(0), 0};
  const std::function<void()> fire[] = {
      [] { SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr); },
      [] { SquirrelSupportModuleHandler(MODULEEVENT_RENDER2D, nullptr); },
      [&] { SquirrelSupportModuleHandler(MODULEEVENT_FALLDAMAGE, &fall); },
  };
  constexpr int kRounds = 4;
  Lines expected;
  for (int round = 0; round < 2 * kRounds; ++round) {
    // Halfway the default of `later` becomes a function; only a function may replace a default by then.
    if (round == kRounds) {
      ASSERT_TRUE(Run(u"Engine.Event.later <- function() {};"));
    }
    for (const auto& one : fire) {
      const int n = int(expected.size());
      expected.push_back(std::to_string(n) + " 0 new null " + std::to_string(n) + " " +
                         (round < kRounds ? "integer" : "function") + " 0 gone");
      one();
    }
  }
  EXPECT_EQ(Logged(), expected);
}

// Native closures handed straight to AddHandler run in the environment like script closures, whether they
// succeed (print of the event alone, Engine.Record), refuse their arguments (print of an event with arguments,
// Engine.Sleep of an event, GetEventType) or suspend: after many firings the environment's thread has no frame
// left and its stack top where it was, the host's machine too, and nothing stays on the running list.
TEST_P(SquirrelSupportTest, NativeClosuresAsHandlersLeaveTheThreadAndRunningListAsTheyWere) {
  ASSERT_TRUE(
      Run(u"foreach (name in [\"OnProcess\", \"OnRender2D\", \"OnFallDamage\", \"OnKeyDown\"]) {"
          u"  local type = Engine.EventSystem.GetEventType(name);"
          u"  foreach (handler in [print, Engine.Sleep, Engine.Record, Engine.EventSystem.GetEventType, suspend,"
          u"                       Engine.Record])"
          u"    type.AddHandler(handler);"
          u"}"));
  const HSQUIRRELVM thread = environment->GetThread(), vm = g_ScriptHost->GetVM();
  const SQInteger threadTop = sq_gettop(thread), vmTop = sq_gettop(vm);
  FallDamageEventData fall{{sizeof(FallDamageEventData)}, game->Item(2), 0};
  constexpr int kRounds = 150;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  for (int round = 0; round < kRounds; ++round) {
    QueueKeyEvent(kKeyEventDown, 65);
    SquirrelSupportModuleHandler(MODULEEVENT_PROCESS, nullptr);  // OnKeyDown, then OnProcess
    SquirrelSupportModuleHandler(MODULEEVENT_RENDER2D, nullptr);
    SquirrelSupportModuleHandler(MODULEEVENT_FALLDAMAGE, &fall);
  }
  const std::string printed = ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  SQStackInfos frame;
  EXPECT_TRUE(SQ_FAILED(sq_stackinfos(thread, 0, &frame)));
  EXPECT_EQ((std::vector<SQInteger>{sq_gettop(thread), sq_gettop(vm), SQInteger(sq_getvmstate(thread)),
                                    SQInteger(g_ScriptHost->GetRunningEnvironments().m_Count)}),
            (std::vector<SQInteger>{threadTop, vmTop, SQ_VMSTATE_IDLE, 0}));
  EXPECT_EQ(g_ScriptHost->GetRunningEnvironment(), nullptr);
  // Every handler of every firing ran: each Record twice; print of the event alone on OnProcess and OnRender2D.
  std::size_t instances = 0;
  for (std::size_t at = printed.find("(instance : "); at != std::string::npos;
       at = printed.find("(instance : ", at + 1)) {
    ++instances;
  }
  EXPECT_EQ(instances, std::size_t(2 * kRounds));
  EXPECT_EQ(Logged().size(), std::size_t(4 * 2 * kRounds));
  // The environment still runs script code afterwards.
  Logged().clear();
  ASSERT_TRUE(Run(u"Engine.Record(\"after\");"));
  EXPECT_EQ(Logged(), (Lines{"after"}));
}

CScriptEnvironment* g_onLoadEnvironment = nullptr;

TEST_P(SquirrelSupportTest, APreventedOnLoadTearsDownAndRepliesSeven) {
  ShutDown();
  scripthost::testing::SetHostReadyHook([](CScriptHost* host) {
    g_onLoadEnvironment = new CScriptEnvironment(host, u"early");
    RunIn(g_onLoadEnvironment,
          u"Engine.EventSystem.GetEventType(\"OnLoad\").AddHandler(@(e) e.PreventDefault());"
          u"::Shared.type <- Engine.EventType(\"Early\");");
  });
  tHackModule* refused = CreateHackModule(u"SquirrelSupport.dll", u"SquirrelSupport");
  EXPECT_EQ(RegisterHackModule(refused, kLibraryHandle, true, SquirrelSupportModuleHandler), MODULEREPLY_SKIP);
  scripthost::testing::SetHostReadyHook(nullptr);
  EXPECT_EQ(g_ScriptHost, nullptr);
  EXPECT_EQ(refused->m_hModule, nullptr);
  for (CEventType* type : g_GameEventTypes) EXPECT_EQ(type, nullptr);
  // The environment outlived its host: it was detached and goes without touching it.
  delete g_onLoadEnvironment;
  g_onLoadEnvironment = nullptr;
  game->Run(Routine::Frame);
  EXPECT_EQ(SquirrelSupportModuleHandler(MODULEEVENT_FALLDAMAGE, nullptr), MODULEREPLY_HANDLED);
}

INSTANTIATE_TEST_SUITE_P(Builds, SquirrelSupportTest, ::testing::ValuesIn(gamedouble::kBuilds),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

}  // namespace
}  // namespace sstest
