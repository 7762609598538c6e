// Command table: console lines, privileges, script commands of resources, handlers that change the
// table from inside their own call, and the consoleCommand nesting cap.
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Scripting.h>
#include <scripting/CommandMgr.h>
#include <scripting/Resource.h>

using namespace Vexil3D;

namespace {

struct Call {
  std::u16string name;
  std::optional<std::u16string> parameters;
  bool operator==(const Call&) const = default;
};

class CommandMgrTest : public ::testing::Test {
 protected:
  CCommandHandler* Recorder() {
    return new CCallbackCommandHandler([this](const char16_t* name, const char16_t* parameters, CBaseObject*) {
      calls.push_back({name, parameters ? std::optional<std::u16string>(parameters) : std::nullopt});
    });
  }
  // A script function that records the arguments it is called with.
  Strong<CFunction> ScriptFunction(std::function<void(CNativeState*)> body) {
    bodies.push_back(std::move(body));
    Strong<CFunction> function;
    function.Attach(new CFunction(u"handler", &RunBody, nullptr, &bodies.back()));
    return function;
  }
  static bool RunBody(CNativeState* state, int, void* user) {
    (*static_cast<std::function<void(CNativeState*)>*>(user))(state);
    return true;
  }
  // Calls a global script function as the resource's script with a text (then a function and a flag,
  // when given); its boolean result, or nothing when the call failed.
  std::optional<bool> Script(const char16_t* function, CResource* resource, std::u16string_view text,
                             CFunction* callable = nullptr, std::optional<bool> flag = {}) {
    CArgumentArray args;
    args.AppendString(text.data(), static_cast<std::uint32_t>(text.size()));
    if (callable) args.Adopt(new CArgumentFunction(callable));
    if (flag) args.AppendBoolean(*flag);
    CNativeState state(&scripting, resource, &args);
    if (!scripting.m_Global.FindFunction(function)->callable.Call(&state, static_cast<int>(args.GetCount())))
      return std::nullopt;
    return state.GetResults().Get(0)->ToBoolean();
  }
  static Strong<CResource> MakeResource(const char16_t* name) {
    Strong<CResource> resource;
    resource.Attach(new CResource(nullptr, name));
    return resource;
  }

  std::vector<Call> calls;
  std::list<std::function<void(CNativeState*)>> bodies;
  CScripting scripting;
  CCommandMgr table{nullptr, &scripting};
};

TEST_F(CommandMgrTest, LinesReachTheirHandlerOrTheFallback) {
  const std::u16string longest = u"/echo " + std::u16string(CCommandMgr::kMaxLine - 7, u'x');
  const std::u16string tooLong = longest + u"x";
  const struct {
    std::u16string line;
    bool result;
    std::vector<Call> calls;
  } cases[] = {
      {u"/ECHO hi", true, {{u"ECHO", u"hi"}}},
      {u"/echo  word", true, {{u"echo", u" word"}}},
      {u"/echo", true, {{u"echo", u""}}},
      {u"/echo hi\r\n\r", true, {{u"echo", u"hi"}}},
      {u"/echo\r\n", true, {{u"echo", u""}}},
      {u"/nope x y", false, {{u"nope", u"x y"}}},
      {u"/nope", false, {{u"nope", std::nullopt}}},
      {u"hello there", false, {{u"say", u"hello there"}}},
      {longest, true, {{u"echo", longest.substr(6)}}},
      {tooLong, false, {}},
      {u"", false, {}},
      {u"/", false, {}},
  };
  ASSERT_TRUE(table.AddCommandHandler(Recorder(), u"echo"));
  table.SetFallbackHandler(Recorder());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line.begin(), c.line.begin() + std::min<std::size_t>(c.line.size(), 20)));
    calls.clear();
    EXPECT_EQ(table.ExecuteLine(c.line.c_str(), true), c.result);
    EXPECT_EQ(calls, c.calls);
  }
  // With a "say" command the chat line is taken by it.
  ASSERT_TRUE(table.AddCommandHandler(Recorder(), u"Say"));
  calls.clear();
  EXPECT_TRUE(table.ExecuteLine(u"hi", true));
  EXPECT_EQ(calls, (std::vector<Call>{{u"say", u"hi"}}));
}

TEST_F(CommandMgrTest, RestrictedCommandsNeedPrivilege) {
  Strong<CResource> resource = MakeResource(u"res");
  ASSERT_TRUE(table.AddCommandHandler(Recorder(), u"native"));
  table.SetFallbackHandler(Recorder());
  const auto open = ScriptFunction([this](CNativeState*) { calls.push_back({u"open", {}}); });
  ASSERT_EQ(Script(u"addCommandHandler", resource, u"open", open, false), true);
  // Unprivileged: the native command and the (native, restricted) fallback stay out of reach.
  EXPECT_FALSE(table.ExecuteLine(u"/native", false));
  EXPECT_FALSE(table.ExecuteLine(u"chat", false));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(table.ExecuteLine(u"/open", false));
  EXPECT_EQ(Script(u"consoleCommand", resource, u"/native"), false);
  resource->SetPrivileged(true);
  EXPECT_EQ(Script(u"consoleCommand", resource, u"/native"), true);
  EXPECT_EQ(calls, (std::vector<Call>{{u"open", {}}, {u"native", u""}}));
  // An empty callable is refused when added; installed as the fallback it is passed over, never thrown into.
  auto* empty = new CCallbackCommandHandler(nullptr);
  EXPECT_FALSE(table.AddCommandHandler(empty, u"empty") || table.AddScriptCommandHandler(resource, nullptr, u"e", 0));
  table.SetFallbackHandler(empty);
  EXPECT_NO_THROW(EXPECT_FALSE(table.ExecuteLine(u"chat", true)));
}

TEST_F(CommandMgrTest, ScriptCommandsBelongToTheirResource) {
  Strong<CResource> a = MakeResource(u"a"), b = MakeResource(u"b");
  std::vector<std::u16string> seen;
  const auto record = [&](const char16_t* tag) {
    return ScriptFunction([&seen, tag](CNativeState* s) {
      std::u16string line = tag;
      for (int i = 0; s->GetArgument(i); ++i)
        line += s->GetArgument(i)->IsString() ? u"|" + std::u16string(s->CheckString(i, nullptr)) : u"|-";
      seen.push_back(line);
    });
  };
  ASSERT_TRUE(table.AddCommandHandler(Recorder(), u"native"));
  // Taken by the same resource without replace, by another resource, by the native side, or by a caller
  // without resource: refused. The same resource with replace: replaced.
  const struct {
    CResource* resource;
    const char16_t *name, *tag;
    bool replace, result;
  } adds[] = {{a, u"cmd", u"a1", false, true},    {a, u"CMD", u"a2", false, false}, {b, u"cmd", u"b1", true, false},
              {a, u"cmd", u"a3", true, true},     {a, u"native", u"a4", true, false}, {nullptr, u"free", u"n", 0, 0}};
  for (const auto& c : adds)
    EXPECT_EQ(Script(u"addCommandHandler", c.resource, c.name, record(c.tag), c.replace), c.result) << &c - adds;
  EXPECT_TRUE(table.ExecuteLine(u"/cmd x", false));
  table.SetPassCaller(true);
  EXPECT_TRUE(table.ExecuteLine(u"/cmd", false));
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"a3|cmd|x", u"a3|cmd||-"}));
  const auto has = [&](const char16_t* name) { return Script(u"hasCommandHandler", nullptr, name); };
  const auto remove = [&](CResource* resource) { return Script(u"removeCommandHandler", resource, u"Cmd"); };
  EXPECT_TRUE(remove(b) == false && remove(nullptr) == false && has(u"cmd") == true);
  EXPECT_TRUE(remove(a) == true && has(u"cmd") == false);
  EXPECT_EQ(Script(u"addCommandHandler", a, u"x"), std::nullopt);
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Expected Function for argument 2");
  ASSERT_EQ(Script(u"addCommandHandler", a, u"one", record(u"r")), true);
  ASSERT_EQ(Script(u"addCommandHandler", b, u"two", record(u"r")), true);
  table.RemoveResourceHandlers(a);
  EXPECT_TRUE(!table.HasCommandHandler(u"one") && table.HasCommandHandler(u"two") &&
              table.HasCommandHandler(u"native"));
}

// Changes the table from inside its own call, then reads its own fields: destroying it at once would
// be a use after free (caught under ASan) and would show in the count.
class SelfChangingHandler : public CScriptCommandHandler {
 public:
  SelfChangingHandler(CResource* resource, CFunction* function, std::function<void()> change, int* destroyed)
      : CScriptCommandHandler(resource, function), m_Change(change), m_pDestroyed(destroyed) {}
  ~SelfChangingHandler() override { ++*m_pDestroyed; }
  void Execute(const char16_t*, const char16_t*, CBaseObject*) override {
    m_Change();
    EXPECT_TRUE(*m_pDestroyed == 0 && m_Tag == u"self");
  }
  std::function<void()> m_Change;
  int* m_pDestroyed;
  std::u16string m_Tag = u"self";
};

TEST_F(CommandMgrTest, HandlerChangedInsideItsOwnCallGoesAfterIt) {
  Strong<CResource> resource = MakeResource(u"res");
  Strong<CFunction> other = ScriptFunction([](CNativeState*) {});
  // Removal, replacement, clearing and the resource's removal of a command; replacing and clearing a fallback.
  const struct {
    std::function<void()> change;
    bool fallback;
  } cases[] = {
      {[&] { table.RemoveCommandHandler(u"self", nullptr); }, false},
      {[&] { table.AddScriptCommandHandler(resource, other, u"self", true); }, false},
      {[&] { table.Clear(); }, false},
      {[&] { table.RemoveResourceHandlers(resource); }, false},
      {[&] { table.SetFallbackHandler(nullptr); }, true},
      {[&] { table.Clear(); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    table.Clear();
    int destroyed = 0;
    auto* handler = new SelfChangingHandler(resource, other, c.change, &destroyed);
    if (c.fallback) table.SetFallbackHandler(handler);
    ASSERT_TRUE(c.fallback || table.AddCommandHandler(handler, u"self"));
    EXPECT_EQ(table.ExecuteLine(c.fallback ? u"/absent" : u"/self", false), !c.fallback);
    EXPECT_EQ(destroyed, 1);
  }
}

TEST_F(CommandMgrTest, ConsoleCommandNestingIsCapped) {
  Strong<CResource> resource = MakeResource(u"res");
  std::vector<std::optional<bool>> results;  // of each nested consoleCommand, innermost first
  Strong<CFunction> loop =
      ScriptFunction([&](CNativeState*) { results.push_back(Script(u"consoleCommand", resource, u"/loop")); });
  ASSERT_EQ(Script(u"addCommandHandler", resource, u"loop", loop, false), true);
  // The cap is on nesting, not on calls: the table answers the same way a second time.
  for (int round = 0; round < 2; ++round) {
    results.clear();
    EXPECT_EQ(Script(u"consoleCommand", resource, u"/loop"), true);
    ASSERT_EQ(results.size(), static_cast<std::size_t>(CCommandMgr::kMaxConsoleDepth));
    EXPECT_TRUE(results.front() == false && results.back() == true);
  }
}

}  // namespace
