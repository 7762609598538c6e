// Engine events: handler order, names, cancelling, bound sources, handlers that change the table while a
// trigger walks it, and the deferred queue.
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Context.h>
#include <platform/text.h>
#include <scripting/EventHandlers.h>

#include "ScriptFixture.h"

using namespace Vexil3D;
using namespace Vexil3D::EventHandlers;
using namespace scripting_testing;

namespace {

class EventTest : public ::testing::Test, public ScriptFixture {
 protected:
  bool Script(const char16_t* function, std::vector<const char16_t*> names, CFunction* callable = nullptr,
              CBaseObject* object = nullptr, CResource* as = nullptr) {
    CArgumentArray arguments;
    for (const char16_t* name : names) arguments.AppendString(name, std::char_traits<char16_t>::length(name));
    if (object) arguments.AppendObject(object);
    if (callable) AppendFunction(arguments, callable);
    return CallGlobal(scripting, function, as ? as : resource.Get(), arguments) && results.GetCount() &&
           results.Get(0)->ToBoolean();
  }
  // A handler of the resource that appends the mark to the trace, then runs the body.
  Strong<CFunction> Mark(char mark, Body body = {}) {
    return Function([this, mark, body](CNativeState* state) {
      trace += mark;
      if (body) body(state);
    });
  }
  static Strong<CArgumentArray> Arguments(std::vector<CBaseObject*> objects) {
    Strong<CArgumentArray> arguments;
    arguments.Attach(new CArgumentArray());
    for (CBaseObject* object : objects) arguments->AppendObject(object);
    return arguments;
  }

  CScripting scripting;
  CEventMgr table{nullptr, &scripting};
  Strong<CResource> resource = Resource(u"r");
  std::string trace;
};

TEST_F(EventTest, NamesOrderAndCancelling) {
  EXPECT_TRUE(Script(u"addEvent", {u"onThing"}));
  EXPECT_FALSE(Script(u"addEvent", {u"ONTHING"}));
  EXPECT_TRUE(Script(u"addEventHandler", {u"onthing"}, Mark('A')));
  EXPECT_TRUE(Script(u"addEventHandler", {u"onThing"}, Mark('B', [](CNativeState* state) {
    auto* event = static_cast<CCancellableEvent*>(state->GetArgument(0)->ToObject());
    const auto* method = event->GetReflectedClass()->FindMethod(u"preventDefault");
    CNativeState call(nullptr, nullptr, nullptr);
    call.SetThis(event);
    method->callable.Call(&call, 0);
  })));
  EXPECT_FALSE(Script(u"addEventHandler", {u"missing"}, Mark('X')));
  EXPECT_TRUE(Script(u"triggerEvent", {u"onThing"}));  // prevented by the second handler
  EXPECT_EQ(trace, "AB");
  // A native type that is not cancellable and wants two arguments still calls its handlers.
  CEventType* native = table.CreateEventType(u"native", u"", 2, false);
  native->AddHandler(new CScriptEventHandler(nullptr, Mark('N')));
  bool prevented = true;
  EXPECT_TRUE(native->Trigger(nullptr, &prevented));
  EXPECT_FALSE(prevented);
  EXPECT_EQ(trace, "ABN");
  EXPECT_TRUE(Script(u"removeEventHandler", {u"onThing"}));
  EXPECT_FALSE(Script(u"removeEventHandler", {u"onThing"}));
}

TEST_F(EventTest, BoundSources) {
  CEventType* type = table.CreateEventType(u"bound", nullptr, -1, true);
  type->SetBindableIndex(0);
  Strong<CResource> a = Resource(u"a"), b = Resource(u"b");
  ASSERT_TRUE(Script(u"bindEventHandler", {u"bound"}, Mark('A'), a));
  ASSERT_TRUE(Script(u"addEventHandler", {u"bound"}, Mark('U')));
  const struct {
    const char* name;
    std::function<Strong<CArgumentArray>()> arguments;
    const char* trace;
  } cases[] = {
      {"source A", [&] { return Arguments({a}); }, "AU"},
      {"source B", [&] { return Arguments({b}); }, "U"},
      {"no arguments", [&] { return Arguments({}); }, "U"},
      {"nil source", [&] { return Arguments({nullptr}); }, "U"},
      {"integer source", [&] { auto x = Arguments({}); x->AppendInteger(4); return x; }, "U"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    EXPECT_TRUE(type->Trigger(c.arguments().Get(), nullptr));
    EXPECT_EQ(trace, c.trace);
  }
  // Not bindable: an object is refused with its error.
  table.CreateEventType(u"plain", nullptr, -1, true);
  EXPECT_FALSE(Script(u"bindEventHandler", {u"plain"}, Mark('P'), a));
  EXPECT_TRUE(std::u16string(GetLastErrorText()) == u"Event 'plain' is not bindable");
  EXPECT_TRUE(Script(u"unbindEventHandler", {u"bound"}, nullptr, a));
  trace.clear();
  type->Trigger(Arguments({a}).Get(), nullptr);
  EXPECT_EQ(trace, "U");
}

// A handler bound to an object that has died stays attached: it matches the triggers that have no source
// (no arguments, or nil in the source place), and no trigger whose source is an object.
TEST_F(EventTest, HandlerBoundToADeadObjectMatchesOnlyTriggersWithoutASource) {
  CEventType* type = table.CreateEventType(u"bound", nullptr, -1, true);
  type->SetBindableIndex(0);
  Strong<CResource> gone = Resource(u"gone"), other = Resource(u"other");
  ASSERT_TRUE(Script(u"bindEventHandler", {u"bound"}, Mark('D'), gone));
  gone = nullptr;
  EXPECT_EQ(type->GetHandlerCount(), 1u);
  const struct {
    const char* name;
    Strong<CArgumentArray> arguments;
    const char* trace;
  } cases[] = {
      {"no arguments", Arguments({}), "D"},
      {"nil source", Arguments({nullptr}), "D"},
      {"another object", Arguments({other}), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    EXPECT_EQ(type->Trigger(c.arguments.Get(), nullptr), *c.trace != '\0');
    EXPECT_EQ(trace, c.trace);
  }
}

// Handlers A, B (which acts in its first call), C on one type; two triggers.
TEST_F(EventTest, HandlersThatChangeTheTableWhileATriggerWalksIt) {
  enum Action { kRemoveSelf, kRemoveNext, kAdd, kClear, kRecurse, kStopResource };
  const struct {
    Action action;
    const char* trace;
  } cases[] = {
      {kRemoveSelf, "ABC|AC"},   {kRemoveNext, "AB|B"},       {kAdd, "ABC|ABCD"},
      {kClear, "AB|"},           {kRecurse, "ABABCC|ABC"},     {kStopResource, "AB|"},
  };
  Strong<CResource> other = Resource(u"other");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    table.Clear();
    trace.clear();
    CEventType* type = table.CreateEventType(u"e", nullptr, -1, true);
    bool acted = false;
    type->BindHandler(nullptr, resource, Mark('A'));
    type->BindHandler(nullptr, other, Mark('B', [&](CNativeState* state) {
      if (std::exchange(acted, true)) return;
      switch (c.action) {
        case kRemoveSelf: EXPECT_EQ(type->RemoveHandlers(state->GetResource()), 1u); break;
        case kRemoveNext: EXPECT_EQ(type->RemoveHandlers(resource), 2u); break;
        case kAdd: type->BindHandler(nullptr, resource, Mark('D')); break;
        case kClear: EXPECT_EQ(table.Clear(), 3u); break;
        case kRecurse: EXPECT_TRUE(type->Trigger(nullptr, nullptr)); break;
        case kStopResource:
          EXPECT_EQ(table.RemoveResourceHandlers(resource) + table.RemoveResourceHandlers(other), 3u);
          break;
      }
    }));
    type->BindHandler(nullptr, resource, Mark('C'));
    type->Trigger(nullptr, nullptr);
    trace += '|';
    if (CEventType* again = table.FindEventType(u"e")) again->Trigger(nullptr, nullptr);
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(table.GetTriggering(), 0);
  }
}

TEST_F(EventTest, DeferredQueue) {
  CEventType* first = table.CreateEventType(u"first", nullptr, -1, false);
  CEventType* second = table.CreateEventType(u"second", nullptr, -1, false);
  Strong<CResource> other = Resource(u"other");
  first->BindHandler(nullptr, resource, Mark('1', [&](CNativeState*) { table.RemoveResourceHandlers(other); }));
  first->BindHandler(nullptr, other, Mark('o'));
  second->BindHandler(nullptr, resource, Mark('2'));
  table.Defer(second, nullptr, 1, new CArgumentArray());  // held
  table.Defer(first, resource, 0, nullptr);               // only the resource's handler
  table.Defer(first, other, 0, nullptr);                  // dropped when the first call stops "other"
  table.Defer(second, nullptr, 0, nullptr);
  table.ProcessDeferred();
  EXPECT_EQ(trace, "12");
  EXPECT_EQ(table.GetDeferredCount(), 1u);
  table.ReleaseHeld(second);
  table.ProcessDeferred();
  EXPECT_EQ(trace, "122");
  // A handler that clears the table drops the records still waiting in the same drain.
  second->BindHandler(nullptr, resource, Mark('c', [&](CNativeState*) { table.Clear(); }));
  table.Defer(second, nullptr, 0, nullptr);
  table.Defer(second, nullptr, 0, nullptr);
  table.Defer(second, nullptr, 1, nullptr);
  table.ProcessDeferred();
  EXPECT_EQ(trace, "1222c");
  EXPECT_EQ(table.GetDeferredCount(), 0u);
  EXPECT_EQ(table.GetTypeCount(), 0u);
}

// An event a handler keeps past Clear is detached from its type, and its class and methods still answer.
TEST_F(EventTest, EventsKeptPastClear) {
  for (const bool duringTrigger : {false, true}) {
    SCOPED_TRACE(duringTrigger ? "cleared by the handler" : "cleared afterwards");
    table.Clear();
    CEventType* type = table.CreateEventType(u"kept", nullptr, -1, true);
    Strong<CBaseObject> kept;
    type->BindHandler(nullptr, resource, Function([&](CNativeState* state) {
                        kept = state->GetArgument(0)->ToObject();
                        if (duringTrigger) table.Clear();
                      }));
    EXPECT_TRUE(type->Trigger(nullptr, nullptr));
    if (!duringTrigger) table.Clear();
    ASSERT_TRUE(kept);
    auto* event = static_cast<CCancellableEvent*>(kept.Get());
    EXPECT_EQ((std::tuple{event->GetType(), event->GetReflectedClass()}),
              (std::tuple{nullptr, table.GetCancellableEventClass()}));
    auto call = [&](const char16_t* name) {
      CNativeState state(&scripting, nullptr, nullptr);
      state.SetThis(event);
      EXPECT_TRUE(event->GetReflectedClass()->FindMethod(name)->callable.Call(&state, 0)) << text::Utf16ToUtf8(name);
      return state.GetResults().GetCount() ? state.GetResults().Get(0)->ToBoolean() : false;
    };
    EXPECT_FALSE(call(u"isDefaultPrevented"));
    call(u"preventDefault");
    EXPECT_TRUE(call(u"isDefaultPrevented"));
  }
  // A plain event of the deferred queue, kept the same way.
  CEventType* type = table.CreateEventType(u"deferred", nullptr, -1, false);
  Strong<CBaseObject> kept;
  type->BindHandler(nullptr, resource,
                    Function([&](CNativeState* state) { kept = state->GetArgument(0)->ToObject(); }));
  table.Defer(type, nullptr, 0, nullptr);
  table.ProcessDeferred();
  table.Clear();
  ASSERT_TRUE(kept);
  EXPECT_EQ((std::tuple{static_cast<CEvent*>(kept.Get())->GetType(), kept->GetReflectedClass()}),
            (std::tuple{nullptr, table.GetEventClass()}));
}

// The three warnings, word for word, and the handlers still run after each.
TEST_F(EventTest, WarningTexts) {
  Context context;
  context.GetLogWriter().SetStream(nullptr);
  context.Initialise();
  CEventType* two = table.CreateEventType(u"Two", nullptr, 2, true);
  CEventType* plain = table.CreateEventType(u"Plain", nullptr, -1, false);
  two->BindHandler(nullptr, resource, Mark('2'));
  plain->BindHandler(nullptr, resource, Mark('P'));
  const struct {
    const char* name;
    std::function<void()> action;
    const char* line;
    const char* trace;
  } cases[] = {
      {"missing event", [&] { Script(u"addEventHandler", {u"Missing"}, Mark('X')); },
       "AddEventHandler: Event 'Missing' doesn't exist\n", ""},
      {"too few arguments", [&] { two->TriggerWithEvent(nullptr, Arguments({resource.Get()})); },
       "TriggerWithEvent: Event 'Two' triggered with 1 arguments but requires 2 arguments\n", "2"},
      {"none at all", [&] { two->Trigger(nullptr, nullptr); },
       "TriggerWithEvent: Event 'Two' triggered with 0 arguments but requires 2 arguments\n", "2"},
      {"not cancellable", [&] { plain->Trigger(nullptr, nullptr); },
       "Trigger: Event 'Plain' used with 'preventDefault' but not registered that way\n", "P"},
      {"enough arguments",
       [&] {
         two->Trigger(Arguments({resource.Get(), resource.Get()}), nullptr);
       },
       "", "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    ::testing::internal::CaptureStdout();
    c.action();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(trace, c.trace);
  }
}

}  // namespace
