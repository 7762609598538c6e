// Resources over a recording script engine: start and stop with their exact log lines, prevented starts and
// stops, dependencies, restarts, stopping everything from a stop handler, what a stop takes away, and file
// access over a TAR archive and a directory in the real engine file system.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <platform/modules.h>
#include <platform/text.h>
#include <scripting/ResourceMgr.h>

#include "ScriptFixture.h"

using namespace Vexil3D;
using namespace Vexil3D::TimerHandlers;
using namespace scripting_testing;

namespace {

// A context that keeps the scripts handed to it; refuses those whose name begins with "bad".
struct RecordingContext : CScriptContext {
  explicit RecordingContext(std::vector<std::u16string>* log) : log(log) {}
  void Release() override { delete this; }
  bool LoadScript(Stream*, const char16_t* name) override {
    log->push_back(name);
    return std::u16string_view(name).substr(0, 3) != u"bad";
  }
  std::vector<std::u16string>* log;
};

struct RecordingEngine : CScriptEngine {
  explicit RecordingEngine(std::vector<std::u16string>* log) : log(log) {}
  void CollectGarbage() override { log->push_back(u"gc"); }
  CScriptContext* CreateContext(const char16_t*) override { return new RecordingContext(log); }
  std::vector<std::u16string>* log;
};

// One ustar header and the data padded to whole blocks.
void AppendTarFile(std::string& tar, const std::string& name, const std::string& data) {
  constexpr std::size_t kBlock = 512;
  std::string header(kBlock, '\0');
  header.replace(0, name.size(), name);
  std::snprintf(&header[100], 8, "%07o", 0644);
  std::snprintf(&header[124], 12, "%011o", static_cast<unsigned>(data.size()));
  std::snprintf(&header[136], 12, "%011o", 0u);
  header[156] = '0';
  header.replace(257, 6, std::string("ustar\0", 6));
  header.replace(148, 8, std::string(8, ' '));
  unsigned sum = 0;
  for (unsigned char c : header) sum += c;
  std::snprintf(&header[148], 8, "%06o", sum);
  tar += header + data + std::string((kBlock - data.size() % kBlock) % kBlock, '\0');
}

class ResourceTest : public ::testing::Test, public ScriptFixture {
 protected:
  void SetUp() override {
    char scratch[] = "/tmp/brindle_res_XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    root = scratch;
    previous = std::filesystem::current_path();
    std::filesystem::current_path(root);
    context.GetLogWriter().SetStream(nullptr);
    context.Initialise();
    manager = std::make_unique<CResourceMgr>(&context);
  }
  void TearDown() override {
    manager.reset();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(root);
  }
  CResource* Add(const char16_t* name) {
    Strong<CResource> resource;
    resource.Attach(manager->CreateResource(name));
    manager->AddResource(resource);
    return resource;
  }
  void Engines(int count) {
    for (int i = 0; i < count; ++i)
      manager->GetScripting().RegisterScriptEngine(CResource::kEngineNames[i], new RecordingEngine(&scripts));
  }
  // The console lines that the action logs.
  template <class F>
  std::string Logged(F action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
  }
  void PreventOn(EventHandlers::CEventType* type) {
    type->BindHandler(nullptr, nullptr, Function([](CNativeState* state) {
      static_cast<EventHandlers::CCancellableEvent*>(state->GetArgument(0)->ToObject())->PreventDefault();
    }));
  }

  std::filesystem::path root, previous;
  Context context;
  std::unique_ptr<CResourceMgr> manager;
  std::vector<std::u16string> scripts;
};

constexpr char kStarted[] = "START: Starting resource r...\nSTART: Resource r started.\n";
constexpr char kStopped[] = "STOP: Stopping resource r...\nSTOP: Resource r stopped.\n";
constexpr char kFailed[] =
    "START: Starting resource r...\nSTART: Resource r failed to load!\nSTOP: Stopping resource r...\n";

TEST_F(ResourceTest, StartAndStopWithTheirLines) {
  enum Setup { kNoEngines, kOneEngine, kThreeEngines, kBadScript, kPreventStart, kPreventBoth, kPreventStop };
  const struct {
    Setup setup;
    const char* startLog;
    bool running;
    const char* stopLog;
  } cases[] = {
      {kNoEngines, kStarted, true, kStopped},
      {kOneEngine, kStarted, true, kStopped},
      {kThreeEngines, kStarted, true, kStopped},
      {kBadScript, "START: Starting resource r...\nSTART: Resource r failed to load!\n"
                   "STOP: Stopping resource r...\nSTOP: Resource r stopped.\n", false,
       "STOP: Stopping resource r...\nSTOP: Resource r already stopped!\n"},
      {kPreventStart, "START: Starting resource r...\nSTART: Resource r failed to load!\n"
                      "STOP: Stopping resource r...\nSTOP: Resource r stopped.\n", false,
       "STOP: Stopping resource r...\nSTOP: Resource r already stopped!\n"},
      // A failed start ends stopped even when a stop handler objects.
      {kPreventBoth, "START: Starting resource r...\nSTART: Resource r failed to load!\nSTOP: Stopping resource r...\n"
                     "STOP: Resource r failed to start and cannot be kept running.\nSTOP: Resource r stopped.\n", false,
       "STOP: Stopping resource r...\nSTOP: Resource r already stopped!\n"},
      {kPreventStop, kStarted, true, "STOP: Stopping resource r...\nSTOP: Resource r failed to stop!\n"},
  };
  // A resource with a script for an engine that is not registered fails to load.
  CResource* orphan = Add(u"orphan");
  orphan->SetDirectoryPath(u"/o");
  orphan->AddFile(false, RESOURCE_FILE_SPIDERMONKEY, u"x.js", {});
  EXPECT_FALSE(orphan->Start());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup);
    manager = std::make_unique<CResourceMgr>(&context);
    Engines(c.setup == kOneEngine ? 1 : c.setup == kNoEngines ? 0 : 3);
    CResource* resource = Add(u"r");
    resource->SetDirectoryPath(u"/r");
    if (c.setup == kOneEngine) resource->AddFile(false, RESOURCE_FILE_LUA, u"main.lua", {});
    if (c.setup >= kThreeEngines)
      resource->AddFile(false, RESOURCE_FILE_SQUIRREL, c.setup == kBadScript ? u"bad.nut" : u"main.nut", {'x'});
    if (c.setup == kPreventStart || c.setup == kPreventBoth) PreventOn(manager->GetStartEvent());
    if (c.setup == kPreventStop || c.setup == kPreventBoth) PreventOn(manager->GetStopEvent());
    EXPECT_EQ(Logged([&] { resource->Start(); }), c.startLog);
    EXPECT_EQ(resource->IsRunning(), c.running);
    EXPECT_FALSE(resource->IsStarting());
    EXPECT_EQ(Logged([&] { resource->Stop(false); }), c.stopLog);
  }
}

TEST_F(ResourceTest, DependenciesRestartAndTheScriptsLoaded) {
  Engines(3);
  CResource* a = Add(u"a");
  CResource* b = Add(u"b");
  a->AddDependency(b);
  b->AddDependency(a);  // a cycle: b finds a already starting
  a->SetDirectoryPath(u"/a");
  b->SetDirectoryPath(u"/b");
  a->AddFile(false, RESOURCE_FILE_LUA, u"a.lua", {});
  b->AddFile(false, RESOURCE_FILE_SPIDERMONKEY, u"b.js", {});
  b->AddFile(true, RESOURCE_FILE_SQUIRREL, u"unused.nut", {});  // the other list
  EXPECT_TRUE(a->Start());
  EXPECT_TRUE(b->IsRunning());
  EXPECT_EQ(scripts, (std::vector<std::u16string>{u"b.js", u"a.lua"}));
  EXPECT_EQ(Logged([&] { EXPECT_TRUE(b->Restart()); }),
            "RESTART: Restarting resource b...\nSTOP: Stopping resource b...\nSTOP: Resource b stopped.\n"
            "START: Starting resource b...\nSTART: Resource b started.\n");
  EXPECT_EQ(Logged([&] { EXPECT_FALSE(a->Start()); }),
            "START: Starting resource a...\nSTART: Resource a already running!\n");
}

// Handlers that stop resources from inside a stop or a start: a stop inside a stop of the same resource
// does nothing and answers false (for one resource, and for two whose handlers stop each other, in both
// orders), and a start whose handler stopped the resource fails.
TEST_F(ResourceTest, StopsAndStartsFromTheirOwnHandlers) {
  for (const bool mutual : {false, true}) {
    for (const bool fromSecond : {false, true}) {
      SCOPED_TRACE(testing::Message() << (mutual ? "two resources" : "one resource")
                                      << (fromSecond ? ", b first" : ""));
      manager = std::make_unique<CResourceMgr>(&context);
      CResource* a = Add(u"a");
      CResource* b = Add(u"b");
      a->SetDirectoryPath(u"/a");
      b->SetDirectoryPath(u"/b");
      ASSERT_TRUE(a->Start() && b->Start());
      std::vector<bool> inner;
      int calls = 0;  // bounds the recursion of a missing guard
      manager->GetStopEvent()->BindHandler(nullptr, nullptr, Function([&](CNativeState* state) {
                                             auto* self = static_cast<CResource*>(state->GetArgument(1)->ToObject());
                                             CResource* other = self == a ? b : a;
                                             if (++calls <= 4) inner.push_back((mutual ? other : self)->Stop(false));
                                           }));
      CResource* first = fromSecond ? b : a;
      CResource* second = first == a ? b : a;
      EXPECT_TRUE(first->Stop(false));
      EXPECT_FALSE(first->IsRunning());
      EXPECT_EQ(second->IsRunning(), !mutual);
      // One resource: its own stop refused once. Two: the other stops, and its handler's stop of the
      // first is refused.
      EXPECT_EQ(inner, mutual ? (std::vector<bool>{false, true}) : (std::vector<bool>{false}));
      manager.reset();  // stops what still runs while the handler's captures live
    }
  }
  manager = std::make_unique<CResourceMgr>(&context);
  CResource* r = Add(u"r");
  r->SetDirectoryPath(u"/r");
  manager->GetStartEvent()->BindHandler(nullptr, nullptr, Function([&](CNativeState*) { r->Stop(false); }));
  EXPECT_EQ(Logged([&] { EXPECT_FALSE(r->Start()); }),
            "START: Starting resource r...\nSTOP: Stopping resource r...\nSTOP: Resource r stopped.\n"
            "START: Resource r failed to load!\n");
  EXPECT_FALSE(r->IsRunning() || r->IsStarting());
}

// A start handler that stops every resource releases the manager's references and empties the dependency
// lists while starts are under way: the resource whose handler runs, and each resource whose start is
// waiting for its dependencies, lives until its own start returns, and the starts fail.
TEST_F(ResourceTest, StartHandlerThatStopsEverything) {
  const struct {
    const char* name;
    int chain;     // resources; each depends on the next
    int stopping;  // the one whose start handler stops everything
  } cases[] = {
      {"the resource itself", 1, 0},
      {"its dependency", 2, 1},
      {"the dependent, after its dependency started", 2, 0},
      {"a dependency's dependency", 3, 2},
      {"the middle of three", 3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    manager = std::make_unique<CResourceMgr>(&context);
    std::vector<Weak<CResource>> chain;
    for (int i = 0; i < c.chain; ++i) {
      const std::u16string name(1, static_cast<char16_t>(u'a' + i));
      chain.emplace_back(Add(name.c_str()));
      chain.back()->SetDirectoryPath(u"/d");
      if (i > 0) chain[i - 1]->AddDependency(chain[i]);
    }
    CResource* stopping = chain[c.stopping].Get();
    std::vector<bool> aliveAfterStop;
    manager->GetStartEvent()->BindHandler(nullptr, nullptr, Function([&](CNativeState* state) {
                                            if (state->GetArgument(1)->ToObject() != stopping) return;
                                            manager->StopAllResources();
                                            for (const auto& resource : chain)
                                              aliveAfterStop.push_back(resource.Get() != nullptr);
                                          }));
    ::testing::internal::CaptureStdout();
    const bool started = chain[0]->Start();
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(started);
    // Inside the handler: the resources whose starts were under way were still there.
    ASSERT_EQ(aliveAfterStop.size(), static_cast<std::size_t>(c.chain));
    for (int i = 0; i <= c.stopping; ++i) EXPECT_TRUE(aliveAfterStop[i]) << "resource " << i;
    for (const auto& resource : chain) EXPECT_EQ(resource.Get(), nullptr);  // gone once the starts returned
    EXPECT_EQ(manager->GetResourceCount(), 0u);
    EXPECT_NE(log.find("START: Resource " + std::string(1, static_cast<char>('a' + c.stopping)) + " failed to load!"),
              std::string::npos)
        << log;
    if (c.stopping > 0) {
      EXPECT_NE(log.find("START: Failed to start dependant resources for a!"), std::string::npos);
    }
    manager.reset();
  }
}

// The event table may be cleared under the manager: starts and stops then find the types by name, so they
// run without handlers, and a type declared again under the name is the one triggered.
TEST_F(ResourceTest, StartAndStopAfterTheEventTableWasCleared) {
  CResource* r = Add(u"r");
  r->SetDirectoryPath(u"/r");
  manager->GetEvents().Clear();
  EXPECT_EQ((std::tuple{manager->GetStartEvent(), manager->GetStopEvent()}), (std::tuple{nullptr, nullptr}));
  EXPECT_EQ(Logged([&] { EXPECT_TRUE(r->Start() && r->Stop(false)); }), kStarted + std::string(kStopped));
  std::vector<std::string> calls;
  for (const char16_t* name : {u"OnResourceStart", u"OnResourceStop"}) {
    EventHandlers::CEventType* type = manager->GetEvents().CreateEventType(name, nullptr, -1, true);
    ASSERT_NE(type, nullptr);
    type->BindHandler(nullptr, nullptr,
                      Function([&calls, name](CNativeState*) { calls.push_back(text::Utf16ToUtf8(name)); }));
  }
  EXPECT_EQ((std::tuple{manager->GetStartEvent()->GetName(), manager->GetStopEvent()->GetName()}),
            (std::tuple{u"OnResourceStart", u"OnResourceStop"}));
  EXPECT_TRUE(r->Start() && r->Stop(false));
  EXPECT_EQ(calls, (std::vector<std::string>{"OnResourceStart", "OnResourceStop"}));
}

// A restart whose stop handler stops every resource: the manager lets go of the resource during the stop,
// and the start that follows still has it (restarted alone, as a dependent, as a dependency, directly and
// through the script method). Nothing is left behind once the restart returns.
TEST_F(ResourceTest, RestartWhoseStopHandlerStopsEverything) {
  for (const bool scriptMethod : {false, true}) {
    for (int restarted = 0; restarted < 3; ++restarted) {  // a alone; a, which needs b; b, which a needs
      SCOPED_TRACE(testing::Message() << (scriptMethod ? "script method" : "direct") << ", case " << restarted);
      manager = std::make_unique<CResourceMgr>(&context);
      Engines(3);
      Weak<CResource> a(Add(u"a")), b(Add(u"b"));
      for (CResource* resource : {a.Get(), b.Get()}) {
        resource->SetDirectoryPath(u"/d");
        resource->AddFile(false, RESOURCE_FILE_SQUIRREL, u"s.nut", {'x'});
      }
      if (restarted > 0) a->AddDependency(b);
      ASSERT_TRUE(a->Start());
      CResource* target = restarted == 2 ? b.Get() : a.Get();
      int stops = 0;
      CResourceMgr* owner = manager.get();
      manager->GetStopEvent()->BindHandler(nullptr, nullptr, Function([&](CNativeState*) {
                                             if (++stops == 1) owner->StopAllResources();
                                           }));
      ::testing::internal::CaptureStdout();
      CArgumentArray none;
      if (scriptMethod)
        EXPECT_TRUE(CallMember(target, u"restart", &none, nullptr));
      else
        target->Restart();
      const std::string log = ::testing::internal::GetCapturedStdout();
      EXPECT_NE(log.find("RESTART: Restarting resource "), std::string::npos) << log;
      EXPECT_EQ((std::tuple{a.Get(), b.Get(), manager->GetResourceCount()}), (std::tuple{nullptr, nullptr, 0u})) << log;
      manager.reset();
    }
  }
}

// Handlers of either event that stop, start or restart any resource, stop everything (and start it all
// again), or clear the event table, for every resource of a single one, a chain of two or three, a diamond
// and a cycle, around a start, a restart of each, a stop of each and a stop of everything. Each must leave
// no start under way and every resource released with the manager (the sanitizer build watches the rest).
TEST_F(ResourceTest, HandlersThatStartStopOrRestartAnyResourceOrClearTheTable) {
  enum Action { kStop, kStart, kRestart, kStopAll, kStopAllStartAll, kClear, kClearRestart, kClearStopAll, kActions };
  struct Graph {
    const char* name;
    int count;
    std::vector<std::pair<int, int>> needs;  // (dependent, dependency)
  };
  const Graph graphs[] = {
      {"one", 1, {}},
      {"chain of two", 2, {{0, 1}}},
      {"chain of three", 3, {{0, 1}, {1, 2}}},
      {"diamond", 4, {{0, 1}, {0, 2}, {1, 3}, {2, 3}}},
      {"cycle", 2, {{0, 1}, {1, 0}}},
  };
  for (const Graph& g : graphs) {
    for (const bool onStop : {false, true}) {
      for (int source = 0; source < g.count; ++source) {
        for (int action = 0; action < kActions; ++action) {
          for (int target = 0; target < g.count; ++target) {
            for (int steps = 1; steps <= 4; ++steps) {
              SCOPED_TRACE(testing::Message() << g.name << (onStop ? ", stop" : ", start") << " handler of " << source
                                              << ", action " << action << " on " << target << ", steps " << steps);
              manager = std::make_unique<CResourceMgr>(&context);
              CResourceMgr* owner = manager.get();  // the handler may run while the manager goes
              Engines(3);
              std::vector<Weak<CResource>> rs;
              for (int i = 0; i < g.count; ++i) {
                const std::u16string name(1, static_cast<char16_t>(u'a' + i));
                rs.emplace_back(Add(name.c_str()));
                rs.back()->SetDirectoryPath(u"/d");
                rs.back()->AddFile(false, RESOURCE_FILE_SQUIRREL, u"s.nut", {'x'});
              }
              for (auto [dependent, dependency] : g.needs) rs[dependent]->AddDependency(rs[dependency].Get());
              int budget = 6;  // bounds the handlers' own recursion
              auto act = [&] {
                if (--budget < 0) return;
                CResource* t = rs[target].Get();
                switch (action) {
                  case kStop:
                    if (t) t->Stop(false);
                    break;
                  case kStart:
                    if (t) t->Start();
                    break;
                  case kRestart:
                    if (t) t->Restart();
                    break;
                  case kStopAll:
                    owner->StopAllResources();
                    break;
                  case kStopAllStartAll:
                    owner->StopAllResources();
                    for (auto& r : rs)
                      if (r.Get()) r->Start();
                    break;
                  case kClear:
                    owner->GetEvents().Clear();
                    break;
                  case kClearRestart:
                    owner->GetEvents().Clear();
                    if (t) t->Restart();
                    break;
                  case kClearStopAll:
                    owner->GetEvents().Clear();
                    owner->StopAllResources();
                    break;
                }
              };
              EventHandlers::CEventType* type = onStop ? manager->GetStopEvent() : manager->GetStartEvent();
              // Handlers before and after the one that acts, which a clear must not upset.
              type->BindHandler(nullptr, nullptr, Function([](CNativeState*) {}));
              type->BindHandler(nullptr, nullptr, Function([&](CNativeState* state) {
                                  if (state->GetArgument(1)->ToObject() == rs[source].Get()) act();
                                }));
              type->BindHandler(nullptr, nullptr, Function([](CNativeState*) {}));
              auto each = [&](auto call) {
                for (auto& r : rs)
                  if (r.Get()) call(r.Get());
              };
              ::testing::internal::CaptureStdout();
              if (rs[0].Get()) rs[0]->Start();
              if (steps >= 2) each([](CResource* r) { r->Restart(); });
              if (steps >= 3) each([](CResource* r) { r->Stop(false); });
              if (steps >= 4) {
                each([](CResource* r) { r->Start(); });
                owner->StopAllResources();
              }
              ::testing::internal::GetCapturedStdout();
              each([](CResource* r) { EXPECT_FALSE(r->IsStarting()); });
              manager.reset();
              for (auto& r : rs) EXPECT_EQ(r.Get(), nullptr);
            }
          }
        }
      }
    }
  }
}

// A resource's handler that stops every resource releases the manager's reference to its own resource as
// well: the resource lives until the handler returns, since the natives it calls still read it from the
// state. Handlers of a start and of a stop, belonging to the resource the event is about, to another one,
// and to a dependency of the resource starting or stopping.
TEST_F(ResourceTest, HandlerThatStopsEverythingKeepsItsResourceForItsCall) {
  enum Owner { kSubject, kOther, kDependency };
  for (const bool onStop : {false, true}) {
    for (const Owner owner : {kSubject, kOther, kDependency}) {
      SCOPED_TRACE(testing::Message() << (onStop ? "stop" : "start") << " handler of resource " << owner);
      manager = std::make_unique<CResourceMgr>(&context);
      CResourceMgr* table = manager.get();
      Weak<CResource> subject(Add(u"subject")), other(Add(u"other")), dependency(Add(u"dependency"));
      for (CResource* resource : {subject.Get(), other.Get(), dependency.Get()}) resource->SetDirectoryPath(u"/d");
      subject->AddDependency(dependency);
      ASSERT_TRUE(other->Start());
      if (onStop) {
        ASSERT_TRUE(subject->Start());
      }
      Weak<CResource> mine(owner == kSubject ? subject : owner == kOther ? other : dependency);
      const std::u16string name = mine->GetName();
      std::vector<std::u16string> seen;  // the handler's resource by its name, after everything stopped
      EventHandlers::CEventType* type = onStop ? manager->GetStopEvent() : manager->GetStartEvent();
      type->BindHandler(nullptr, mine, Function([&](CNativeState* state) {
                          if (state->GetArgument(1)->ToObject() != subject.Get() || !seen.empty()) return;
                          table->StopAllResources();
                          seen.push_back(mine.Get() == state->GetResource() ? state->GetResource()->GetName() : u"");
                        }));
      ::testing::internal::CaptureStdout();
      if (onStop)
        subject->Stop(false);
      else
        subject->Start();
      ::testing::internal::GetCapturedStdout();
      EXPECT_EQ(seen, (std::vector<std::u16string>{name}));
      // Once the handler has returned, nothing holds any of them.
      EXPECT_EQ((std::tuple{subject.Get(), other.Get(), dependency.Get(), manager->GetResourceCount()}),
                (std::tuple{nullptr, nullptr, nullptr, 0u}));
      manager.reset();
    }
  }
}

// The same for every other caller of a resource's script function: a timeout, an interval, a command and a
// key bind, each set up by its script function as the resource's script would, besides an event of the
// script's own. The resource runs alone, beside another one, and as the dependency of another one.
TEST_F(ResourceTest, ScriptFunctionThatStopsEverythingKeepsItsResourceForItsCall) {
  enum Caller { kEvent, kTimeout, kInterval, kCommand, kKeyBind };
  enum Company { kAlone, kBesideAnother, kDependencyOfAnother };
  const char* const callerNames[] = {"event", "timeout", "interval", "command", "key bind"};
  for (const Caller caller : {kEvent, kTimeout, kInterval, kCommand, kKeyBind}) {
    for (const Company company : {kAlone, kBesideAnother, kDependencyOfAnother}) {
      SCOPED_TRACE(testing::Message() << callerNames[caller] << ", company " << company);
      manager = std::make_unique<CResourceMgr>(&context);
      CResourceMgr* table = manager.get();
      CScripting& scripting = manager->GetScripting();
      Weak<CResource> mine(Add(u"mine")), other(Add(u"other"));
      for (CResource* resource : {mine.Get(), other.Get()}) resource->SetDirectoryPath(u"/d");
      if (company == kDependencyOfAnother) other->AddDependency(mine);
      ASSERT_TRUE(mine->Start());
      if (company != kAlone) {
        ASSERT_TRUE(other->Start());
      }
      const ValueEntry* self = scripting.m_Global.FindValue(u"thisResource");
      ASSERT_NE(self, nullptr);
      // The function's resource by its name, from the state and from the native that reads it there, once
      // everything has stopped.
      std::vector<std::u16string> seen;
      Strong<CFunction> function = Function([&](CNativeState* state) {
        if (!seen.empty()) return;
        table->StopAllResources();
        CResource* given = state->GetResource();
        seen.push_back(given && given == mine.Get() ? given->GetName() : u"");
        const bool read = self->getter.Call(state, 0);
        CArgumentArray& returned = state->GetResults();
        CBaseObject* object = read && returned.GetCount() ? returned.Get(returned.GetCount() - 1)->ToObject() : nullptr;
        seen.push_back(object && object == mine.Get() ? static_cast<CResource*>(object)->GetName() : u"");
      });
      CArgumentArray arguments;
      auto text = [&](const char16_t* value) {
        arguments.AppendString(value, std::char_traits<char16_t>::length(value));
      };
      SDL_Keysym key{};
      key.sym = SDLK_a;
      switch (caller) {
        case kEvent:
          text(u"onPoke");
          ASSERT_TRUE(CallGlobal(scripting, u"addEvent", mine, arguments));
          AppendFunction(arguments, function);
          ASSERT_TRUE(CallGlobal(scripting, u"addEventHandler", mine, arguments));
          break;
        case kTimeout:
        case kInterval:
          AppendFunction(arguments, function);
          arguments.AppendInteger(1);
          ASSERT_TRUE(CallGlobal(scripting, caller == kTimeout ? u"setTimeout" : u"setInterval", mine, arguments));
          break;
        case kCommand:
          text(u"poke");
          AppendFunction(arguments, function);
          ASSERT_TRUE(CallGlobal(scripting, u"addCommandHandler", mine, arguments));
          break;
        case kKeyBind:
          arguments.AppendInteger(key.sym);
          arguments.AppendInteger(KEYSTATE_DOWN);
          AppendFunction(arguments, function);
          ASSERT_TRUE(CallGlobal(scripting, u"bindKey", mine, arguments));
          break;
      }
      results.Clear();
      function = nullptr;  // the table holds it now
      Logged([&] {
        CArgumentArray none;
        switch (caller) {
          case kEvent:
            manager->GetEvents().FindEventType(u"onPoke")->Trigger(&none, nullptr);
            break;
          case kTimeout:
          case kInterval:
            manager->GetTimers().Step(1.0);
            break;
          case kCommand:
            manager->GetCommands().ExecuteLine(u"/poke now", true);
            break;
          case kKeyBind:
            manager->GetKeyBinds().Dispatch(key, 0, true);
            break;
        }
      });
      EXPECT_EQ(seen, (std::vector<std::u16string>{u"mine", u"mine"}));
      // Once the function has returned, nothing holds either of them, nor anything of the resource.
      EXPECT_EQ((std::tuple{mine.Get(), other.Get(), manager->GetResourceCount()}), (std::tuple{nullptr, nullptr, 0u}));
      EXPECT_EQ((std::tuple{manager->GetCommands().GetCount(), manager->GetTimers().GetCount(),
                            manager->GetKeyBinds().GetCount()}),
                (std::tuple{std::size_t{0}, 0u, std::size_t{0}}));
      manager.reset();
    }
  }
}

// Resources that depend on each other go with the manager, and when all resources are stopped.
TEST_F(ResourceTest, DependencyCyclesAreReleased) {
  for (const bool stopAll : {false, true}) {
    SCOPED_TRACE(stopAll ? "stop all" : "manager goes");
    manager = std::make_unique<CResourceMgr>(&context);
    Weak<CResource> a(Add(u"a")), b(Add(u"b")), c(Add(u"c"));
    a->AddDependency(b);
    b->AddDependency(c);
    c->AddDependency(a);
    for (CResource* resource : {a.Get(), b.Get(), c.Get()}) resource->SetDirectoryPath(u"/d");
    ASSERT_TRUE(a->Start());
    EXPECT_TRUE(b->IsRunning() && c->IsRunning());
    if (stopAll)
      manager->StopAllResources();
    else
      manager.reset();
    EXPECT_EQ((std::tuple{a.Get(), b.Get(), c.Get()}), (std::tuple{nullptr, nullptr, nullptr}));
  }
}

TEST_F(ResourceTest, StopAllResourcesFromAStopHandlerAndWhatAStopTakesAway) {
  CResource* r = Add(u"r");
  r->SetDirectoryPath(u"/r");
  Add(u"s")->SetDirectoryPath(u"/s");
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(manager->FindResource(u"S")->Start());
  // The resource's own things in each table.
  manager->GetEvents().FindEventType(u"OnResourceStop")->BindHandler(nullptr, r, Function([](CNativeState*) {}));
  manager->GetCommands().AddScriptCommandHandler(r, Function([](CNativeState*) {}), u"cmd", false);
  manager->GetTimers().CreateTimer(r, Function([](CNativeState*) {}), 0, 0, 1.0)->Release();
  manager->GetKeyBinds().AddKeyBind(new CScriptKeyBind(r, Function([](CNativeState*) {})), SDLK_a, 1, false);
  int stops = 0;
  manager->GetStopEvent()->BindHandler(nullptr, nullptr, Function([&](CNativeState*) {
    if (++stops == 1) manager->StopAllResources();
  }));
  manager->StopAllResources();
  EXPECT_EQ(manager->GetResourceCount(), 0u);
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(manager->GetStopEvent()->GetHandlerCount(), 1u);  // only the native one is left
  EXPECT_EQ(manager->GetCommands().GetCount(), 0u);
  EXPECT_EQ(manager->GetTimers().GetCount(), 0u);
  EXPECT_EQ(manager->GetKeyBinds().GetCount(), 0u);
}

TEST_F(ResourceTest, FilesOverTheArchiveAndTheDirectory) {
  std::filesystem::create_directories(root / "pack");
  std::ofstream(root / "pack" / "both.txt") << "from the directory";
  std::ofstream(root / "pack" / "dir.txt") << "directory only";
  std::string tar;
  AppendTarFile(tar, "both.txt", "from the archive");
  tar += std::string(1024, '\0');
  std::ofstream(root / "pack.tar", std::ios::binary) << tar;
  CResource* packed = Add(u"packed");
  packed->SetArchivePath(u"/pack.tar");
  packed->SetDirectoryPath(u"/pack");
  CResource* loose = Add(u"loose");
  loose->SetDirectoryPath(u"/pack");
  CResource* bare = Add(u"bare");  // neither archive nor directory
  std::ofstream(root / "rel.txt") << "at the engine root";

  auto read = [&](CResource* resource, const char16_t* path) -> std::string {
    Strong<Stream> stream;
    stream.Attach(resource->OpenFile(path, false));
    if (!stream) return "<null>";
    std::string text(static_cast<std::size_t>(stream->GetLength()), '\0');
    stream->Read(text.data(), static_cast<std::uint32_t>(text.size()));
    return text;
  };
  const struct {
    CResource* resource;
    const char16_t* path;
    const char* text;
  } cases[] = {
      {packed, u"both.txt", "from the archive"},  {packed, u"dir.txt", "directory only"},
      {loose, u"both.txt", "from the directory"}, {loose, u"/rel.txt", "at the engine root"},
      {loose, u"../rel.txt", "<null>"},           {loose, u"..\\rel.txt", "<null>"},
      {bare, u"rel.txt", "<null>"},                // never the engine root's relative path
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(read(c.resource, c.path), c.text);
  }
  EXPECT_EQ(loose->OpenFile(u"/rel.txt", true), nullptr);
  EXPECT_EQ(loose->CreateFile(u"../x.txt"), nullptr);
  EXPECT_EQ(packed->CreateFile(u"x.txt"), nullptr);  // a resource with an archive writes nothing
  // Named slots of a paged loader answer after the archive and before the directory, for files only.
  const std::string paged = "from the loader";
  for (CResource* resource : {packed, loose}) {
    Strong<Stream> source;
    source.Attach(new CMemoryStream(paged.data(), static_cast<std::uint32_t>(paged.size())));
    auto* loader = new CAsyncFileLoader(source.Get());
    loader->AddSlot(0, 1, u"both.txt");
    loader->AddSlot(0, 1, u"paged.txt");
    resource->SetLoader(loader);
  }
  EXPECT_EQ(read(packed, u"both.txt"), "from the archive");
  EXPECT_EQ(read(loose, u"both.txt"), "from the loader");
  EXPECT_EQ(read(packed, u"paged.txt"), "from the loader");
  EXPECT_TRUE(loose->FileExists(u"paged.txt", true, false) && !loose->FileExists(u"paged.txt", false, true));
  EXPECT_EQ(bare->CreateFile(u"x.txt"), nullptr);
  EXPECT_TRUE(packed->FileExists(u"both.txt", true, false));
  EXPECT_FALSE(bare->FileExists(u"rel.txt", true, true));

  // saveTextFile and loadTextFile as the resource's script.
  const std::u16string text = u"Grüße, \u4e16\u754c \U0001F600";
  CArgumentArray save;
  save.AppendString(u"out.txt", 7);
  save.AppendString(text.c_str(), static_cast<std::uint32_t>(text.size()));
  ASSERT_TRUE(CallGlobal(manager->GetScripting(), u"saveTextFile", loose, save));
  EXPECT_TRUE(results.Get(0)->ToBoolean());
  CArgumentArray load;
  load.AppendString(u"out.txt", 7);
  ASSERT_TRUE(CallGlobal(manager->GetScripting(), u"loadTextFile", loose, load));
  EXPECT_TRUE(std::u16string(results.Get(0)->ToString()) == text);
}

// The resource script functions as a resource's script calls them: the resources and their names, the
// calling resource, exports, and file access with its refusals.
TEST_F(ResourceTest, ScriptFunctionsOfResources) {
  CScripting& scripting = manager->GetScripting();
  // The arguments of a call are kept until the next one.
  auto arguments = std::make_unique<CArgumentArray>();
  auto strings = [&](std::initializer_list<const char16_t*> texts) -> CArgumentArray& {
    arguments = std::make_unique<CArgumentArray>();
    for (const char16_t* text : texts) arguments->AppendString(text, std::char_traits<char16_t>::length(text));
    return *arguments;
  };
  auto call = [&](const char16_t* name, CResource* as, CArgumentArray& given) {
    const bool ok = CallGlobal(scripting, name, as, given);
    EXPECT_TRUE(ok) << text::Utf16ToUtf8(name);
    return ok ? results.Get(0) : nullptr;
  };
  // An empty manager: an empty array, and no resource by any name.
  CArgument* all = call(u"getResources", nullptr, strings({}));
  ASSERT_TRUE(all && all->GetType() == ARGUMENT_ARRAY);
  EXPECT_EQ(static_cast<CArgumentArray*>(all)->GetCount(), 0u);
  EXPECT_TRUE(call(u"findResourceByName", nullptr, strings({u"a"}))->IsNil());

  std::filesystem::create_directories(root / "a");
  std::ofstream(root / "a" / "in.txt") << "inside";
  CResource* a = Add(u"a");
  CResource* b = Add(u"b");
  a->SetDirectoryPath(u"/a");
  all = call(u"getResources", nullptr, strings({}));
  ASSERT_EQ(static_cast<CArgumentArray*>(all)->GetCount(), 2u);
  std::set<CBaseObject*> listed{static_cast<CArgumentArray*>(all)->Get(0)->ToObject(),
                                static_cast<CArgumentArray*>(all)->Get(1)->ToObject()};
  EXPECT_EQ(listed, (std::set<CBaseObject*>{a, b}));
  EXPECT_EQ(call(u"findResourceByName", nullptr, strings({u"B"}))->ToObject(), b);  // case folded

  // thisResource is the caller.
  const ValueEntry* self = scripting.m_Global.FindValue(u"thisResource");
  ASSERT_NE(self, nullptr);
  for (CResource* as : {a, b}) {
    CNativeState state(&scripting, as, nullptr);
    ASSERT_TRUE(self->getter.Call(&state, 0));
    EXPECT_EQ(state.GetResults().Get(0)->ToObject(), as);
  }

  // exportFunction stores into the caller's exports; getExport reads them, null for another name.
  Strong<CFunction> exported = Function([](CNativeState* state) { state->ReturnInteger(7); });
  CArgumentArray& exportArguments = strings({u"seven"});
  AppendFunction(exportArguments, exported);
  call(u"exportFunction", a, exportArguments);
  CArgumentArray got;
  CArgumentArray& name = strings({u"seven"});
  ASSERT_TRUE(CallMember(a, u"getExport", &name, &got));
  ASSERT_TRUE(got.Get(0)->IsFunction());
  EXPECT_EQ(got.Get(0)->ToFunction<CFunction>(), exported.Get());
  ASSERT_TRUE(CallMember(b, u"getExport", &name, &got));
  EXPECT_TRUE(got.Get(0)->IsNil());
  ASSERT_TRUE(CallMember(a, u"getExport", &strings({u"eight"}), &got));
  EXPECT_TRUE(got.Get(0)->IsNil());

  // Files, each row as resource a's script.
  struct Row {
    const char16_t* function;
    std::vector<const char16_t*> path;
    int flags;
    bool found;
  };
  const Row rows[] = {
      {u"openFile", {u"in.txt"}, -1, true},         {u"openFile", {u"missing.txt"}, -1, false},
      {u"openFile", {u"../a/in.txt"}, -1, false},   {u"openFile", {u"/a/in.txt"}, 1, false},
      {u"openFile", {u"/a/in.txt"}, 0, true},       {u"createFile", {u"made.txt"}, -1, true},
      {u"createFile", {u"../made.txt"}, -1, false}, {u"createFile", {u"/made.txt"}, -1, false},
      {u"fileExists", {u"made.txt"}, -1, true},     {u"fileExists", {u"in.txt"}, 0, false},
      {u"fileExists", {u"../a/in.txt"}, -1, false}, {u"fileExists", {u"/a"}, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(text::Utf16ToUtf8(row.function) + " " + text::Utf16ToUtf8(row.path[0]));
    CArgumentArray& given = strings({row.path[0]});
    // openFile's flag is "write"; fileExists's 0 asks for directories only.
    if (row.flags >= 0) given.AppendBoolean(row.flags == 1);
    if (row.flags >= 0 && std::u16string(row.function) == u"fileExists") given.AppendBoolean(true);
    CArgument* result = call(row.function, a, given);
    ASSERT_NE(result, nullptr);
    if (std::u16string(row.function) == u"fileExists")
      EXPECT_EQ(result->ToBoolean(), row.found);
    else
      EXPECT_EQ(!result->IsNil(), row.found);
  }
  // Without a calling resource nothing is opened or found.
  EXPECT_TRUE(call(u"openFile", nullptr, strings({u"in.txt"}))->IsNil());
  EXPECT_FALSE(call(u"fileExists", nullptr, strings({u"in.txt"}))->ToBoolean());
}

}  // namespace

namespace {

std::vector<std::string> g_Teardown;
void RecordTeardown(const char* line) { g_Teardown.push_back(line); }

// Two loads of the real module (each counted by the loader); an object whose destruction callback is module
// code is kept alive by a timer until the tables go.
TEST_F(ResourceTest, TeardownUnregistersEveryModuleBeforeFreeingAny) {
  const std::u16string path = text::Utf8ToUtf16(BRINDLE_TEST_MODULE);
  HMODULE first = LoadLibraryW(path.c_str());
  HMODULE second = LoadLibraryW(path.c_str());
  ASSERT_NE(first, nullptr);
  reinterpret_cast<void (*)(void (*)(const char*))>(GetProcAddress(first, "SetLog"))(&RecordTeardown);
  manager->AddNativeModule(first, const_cast<char*>("unregister first"));
  manager->AddNativeModule(second, const_cast<char*>("unregister second"));
  {
    // The module's Probe attaches its destruction callback to the object it is given.
    auto* cls = manager->GetScripting().m_Global.RegisterClass(u"Thing", nullptr);
    Strong<CBaseObject> object;
    object.Attach(new CBaseObject());
    object->SetReflectedClass(cls);
    CArgumentArray arguments;
    arguments.AppendObject(object);
    auto* map = new CArgumentMap();
    map->Set(u"a", new CArgumentInteger(1));
    arguments.Adopt(map);
    auto* array = new CArgumentArray();
    arguments.Adopt(array);
    Strong<CFunction> probe;
    probe.Attach(new CFunction(u"Probe", nullptr,
                               reinterpret_cast<ModuleNativeFunction>(GetProcAddress(first, "Probe")), nullptr));
    CNativeState state(nullptr, nullptr, &arguments);
    ASSERT_TRUE(probe->Call(&state, 3));
    reinterpret_cast<int (*)()>(GetProcAddress(first, "KeptClassClear"))();
    CScriptTimer* timer = manager->GetTimers().CreateTimer(nullptr, probe, 0, 1, 1.0e9);
    timer->GetArguments().AppendObject(object);
    timer->Release();
  }
  g_Teardown.clear();
  manager.reset();
  EXPECT_EQ(g_Teardown, (std::vector<std::string>{"unregister first", "unregister second", "object gone",
                                                  "module unloaded"}));
}

}  // namespace
