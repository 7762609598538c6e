// Event types and events: handler order, prevent-default, filters, the registry, handlers of environments that
// go, and an event re-triggered from its own handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

using Lines = std::vector<std::string>;

class Events : public HostTest {
 protected:
  // A handler that records its tag and first argument after the event, and may prevent the default.
  void AddRecordingHandler(CScriptEnvironment* environment, const std::string& type, const char* tag,
                           bool prevent = false) {
    ASSERT_TRUE(Run(environment, text::Utf8ToUtf16("Engine.AddHandler(\"" + type + "\", function(e, ...) { " +
                                                   "Engine.Record(\"" + tag + "\", vargv.len() ? vargv[0] : null); " +
                                                   (prevent ? "e.PreventDefault(); " : "") + "});")));
  }
  bool Fire(CEventType* type, CScriptEnvironment* filter = nullptr, CListScriptArguments* arguments = nullptr) {
    auto* event = new CEvent(type);
    event->Trigger(arguments, filter);
    const bool prevented = event->IsDefaultPrevented();
    event->Release();
    return prevented;
  }
};

TEST_F(Events, HandlerWalks) {
  struct Handler {
    int environment;
    const char* tag;
    bool prevent;
  };
  struct Case {
    std::string name;
    std::vector<Handler> handlers;
    int filter;  // -1 none
    Lines called;
    bool prevented;
  };
  const std::vector<Case> cases = {
      {"no handlers", {}, -1, {}, false},
      {"prevent stops other environments too", {{0, "a", true}, {1, "b", false}}, -1, {"string:a,integer:7"}, true},
      {"filter calls only its environment, in order",
       {{0, "a", false}, {1, "b", false}, {0, "c", false}, {1, "d", false}}, 1,
       {"string:b,integer:7", "string:d,integer:7"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptEnvironment* environment[] = {MakeEnvironment(u"A"), MakeEnvironment(u"B")};
    CEventType* type = AddEventType(text::Utf8ToUtf16(c.name).c_str());
    for (const Handler& h : c.handlers) AddRecordingHandler(environment[h.environment], c.name, h.tag, h.prevent);
    Recorded().clear();
    CListScriptArguments arguments(host.get());
    arguments.AddInteger(7);
    EXPECT_EQ(Fire(type, c.filter >= 0 ? environment[c.filter] : nullptr, &arguments), c.prevented);
    EXPECT_EQ(Recorded(), c.called);
    environments.clear();
  }
}

// Handlers get (event, arguments...) with the root table as this; an error does not stop the walk, and a
// handler added during the firing is reached by it.
TEST_F(Events, HandlerCallsFromScript) {
  CScriptEnvironment* environment = MakeEnvironment(u"args");
  AddEventType(u"OnArgs");
  const std::string errors =
      Errors(environment,
             u"Engine.AddHandler(\"OnArgs\", function(e, a, b) { throw \"first\"; });\n"
             u"Engine.AddHandler(\"OnArgs\", function(e, a, b) {\n"
             u"  Engine.Record(typeof e, a, b, this == getroottable());\n"
             u"  Engine.AddHandler(\"OnArgs\", function(e, a, b) { Engine.Record(\"late\"); });\n"
             u"});\n"
             u"Engine.Record(Engine.Fire(\"OnArgs\", 1, \"a\"));");
  EXPECT_EQ(Recorded(), (Lines{"string:instance,integer:1,string:a,bool:true", "string:late", "bool:false"}));
  EXPECT_EQ(errors, "sqvm: first.\nStack Dump:\n[1]: function [unnamed()] test.nut line [1]\n"
                    "[2]: function [Fire()] NATIVE line [-1]\n[3]: function [main()] test.nut line [6]\n");
}

TEST_F(Events, RegistryFindsByExactNameAndRemovesByOwner) {
  CScriptEnvironment* a = MakeEnvironment(u"A");
  CScriptEnvironment* b = MakeEnvironment(u"B");
  CEventType* lower = AddEventType(u"onthing");
  CEventType* upper = AddEventType(u"OnThing");
  CEventType* first = AddEventType(u"Twice", a);
  CEventType* second = AddEventType(u"Twice", b);
  CEventType* ofB = AddEventType(u"OfB", b);
  CEventTypeRegistry& registry = host->GetEventTypes();
  EXPECT_EQ(registry.Find(u"onthing"), lower);
  EXPECT_EQ(registry.Find(u"OnThing"), upper);
  EXPECT_EQ(registry.Find(u"ONTHING"), nullptr);
  EXPECT_EQ(registry.Find(u"Twice"), first);
  registry.RemoveOwnedBy(a);
  EXPECT_EQ(registry.Find(u"Twice"), second);
  registry.RemoveOwnedBy(nullptr);
  EXPECT_EQ(registry.Find(u"OnThing"), nullptr);
  EXPECT_EQ(registry.Find(u"OfB"), ofB);
  EXPECT_EQ(registry.GetTable().GetCount(), 2u);
}

// A handler whose environment goes is gone from every type, registered or not, even in the middle of a firing.
TEST_F(Events, HandlersLeaveWithTheirEnvironment) {
  CScriptEnvironment* keep = MakeEnvironment(u"keep");
  static CScriptEnvironment* s_doomed = nullptr;
  s_doomed = new CScriptEnvironment(host.get(), u"doomed");
  auto* loose = new CEventType(&host->GetEventTypes(), nullptr, u"OnLoose");
  host->GetEventTypes().Add(loose);
  AddRecordingHandler(s_doomed, "OnLoose", "gone");
  AddRecordingHandler(keep, "OnLoose", "kept");
  host->GetEventTypes().Remove(loose);

  CEventType* type = AddEventType(u"OnDoom");
  const HSQUIRRELVM v = host->GetVM();
  host->GetEngineTable().Push(v);
  RegisterFunction(
      v, u"Doom", [](HSQUIRRELVM) -> SQInteger { return delete s_doomed, 0; }, 0, nullptr);
  sq_poptop(v);
  AddRecordingHandler(keep, "OnDoom", "before");
  ASSERT_TRUE(Run(keep, u"Engine.AddHandler(\"OnDoom\", function(e) { Engine.Doom(); });"));
  AddRecordingHandler(s_doomed, "OnDoom", "doomed");
  AddRecordingHandler(keep, "OnDoom", "after");
  Recorded().clear();
  Fire(type);
  Fire(loose);
  EXPECT_EQ(Recorded(), (Lines{"string:before,null", "string:after,null", "string:kept,null"}));
  EXPECT_EQ(type->GetHandlers().m_Count, 3u);
  loose->Release();
}

// A type a script made and kept in Shared outlives its environment: it forgets the environment as its owner, so
// a later environment at the same address cannot take it out of the registry, and only live handlers run.
TEST_F(Events, ATypeKeptBeyondItsEnvironmentForgetsItsOwner) {
  auto maker = std::make_unique<CScriptEnvironment>(host.get(), u"maker");
  ASSERT_TRUE(Run(maker.get(), u"::Shared.kept <- Engine.EventType(\"Kept\");"
                               u"Shared.kept.AddHandler(@(e) Engine.Record(\"maker\"));"));
  maker.reset();
  CScriptEnvironment* user = MakeEnvironment(u"user");
  ASSERT_TRUE(Run(user, u"Engine.EventSystem.AddEventType(Shared.kept);"
                        u"Shared.kept.AddHandler(@(e) Engine.Record(\"user\"));"));
  CEventType* type = host->GetEventTypes().Find(u"Kept");
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetOwner(), nullptr);
  for (int i = 0; i < 3; ++i) std::make_unique<CScriptEnvironment>(host.get(), u"later").reset();
  EXPECT_TRUE(type->IsRegistered());
  Recorded().clear();
  Fire(type);
  EXPECT_EQ(Recorded(), (Lines{"string:user"}));
}

// Each entry of a type added twice holds its own reference; the environment's tear-down takes out both.
TEST_F(Events, ATypeAddedTwiceLeavesWithItsEnvironment) {
  auto maker = std::make_unique<CScriptEnvironment>(host.get(), u"maker");
  ASSERT_TRUE(Run(maker.get(), u"::twice <- Engine.EventType(\"Twice\");"
                               u"Engine.EventSystem.AddEventType(twice); Engine.EventSystem.AddEventType(twice);"));
  CEventType* type = host->GetEventTypes().Find(u"Twice");
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->GetRefCount(), 3u);  // the script instance's and the two entries'
  maker.reset();
  EXPECT_EQ(host->GetEventTypes().Find(u"Twice"), nullptr);
  EXPECT_FALSE(type->IsRegistered());
  // Debug.RootTables keeps the environment's globals, and with them the instance.
  EXPECT_EQ(type->GetRefCount(), 1u);
}

// The machine refuses the innermost nested call; every level unwinds normally.
TEST_F(Events, ReTriggeringFromItsOwnHandlerEndsInNativeStackOverflow) {
  CScriptEnvironment* environment = MakeEnvironment(u"loop");
  CEventType* type = AddEventType(u"OnLoop");
  ASSERT_TRUE(Run(environment,
                  u"Engine.AddHandler(\"OnLoop\", function(e) { Engine.Record(1); Engine.Fire(\"OnLoop\"); });"));
  Fire(type);
  EXPECT_GT(Recorded().size(), 1u);
  const HSQUIRRELVM t = environment->GetThread();
  EXPECT_EQ(sq_gettop(t), 0);
  sq_getlasterror(t);
  const SQChar* error = nullptr;
  sq_getstring(t, -1, &error);
  EXPECT_EQ(Narrow(error != nullptr ? error : u""), "Native stack overflow");
  sq_poptop(t);
  EXPECT_EQ(host->GetRunningEnvironments().m_Count, 0u);
  Recorded().clear();
  EXPECT_TRUE(Run(environment, u"Engine.Record(2);"));
  EXPECT_EQ(Recorded(), Lines{"integer:2"});
}

}  // namespace
}  // namespace hosttest
