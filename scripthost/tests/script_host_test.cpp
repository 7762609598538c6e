// The host: its registrations, the masks of the registration helpers, its output texts, a machine that could
// not be opened, and teardown before the environments and native holders that outlive it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

// The type of the value at a dotted path from the host's root table ("" when a step is missing).
std::string TypeAtPath(HSQUIRRELVM v, const std::string& path) {
  const SQInteger top = sq_gettop(v);
  sq_pushroottable(v);
  std::string type;
  for (std::size_t start = 0, dot = 0; dot != std::string::npos && type.empty(); start = dot + 1) {
    dot = path.find('.', start);
    sq_pushstring(v, text::Utf8ToUtf16(path.substr(start, dot - start)).c_str(), -1);
    if (SQ_FAILED(sq_rawget(v, -2))) break;
    const SQChar* name = nullptr;
    if (dot == std::string::npos && SQ_SUCCEEDED(sq_typeof(v, -1)) && SQ_SUCCEEDED(sq_getstring(v, -1, &name))) {
      type = Narrow(name);
    }
  }
  sq_settop(v, top);
  return type;
}

SQInteger Ran(HSQUIRRELVM) {
  Recorded().push_back("ran");
  return 0;
}

TEST_F(HostTest, RegistersTablesAndLibrariesButNotIoOrAuxiliary) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Shared", "table"},          {"Debug", "table"},        {"Debug.RootTables", "table"},
      {"Debug.ConstantTables", "table"}, {"Engine", "table"},  {"Engine.QVUtil", "table"},
      {"Engine.EventSystem", "table"}, {"Engine.QV", "table"}, {"blob", "class"},
      {"sqrt", "function"},         {"system", "function"},    {"regexp", "class"},
      {"printf", "function"},       {"dofile", ""},            {"seterrorhandlers", ""},
  };
  for (const auto& [path, type] : rows) EXPECT_EQ(TypeAtPath(host->GetVM(), path), type) << path;
  const HSQUIRRELVM v = host->GetVM();
  const auto sizeOf = [v](const CScriptObjectRef& table) {
    table.Push(v);
    const SQInteger size = sq_getsize(v, -1);
    sq_poptop(v);
    return size;
  };
  EXPECT_EQ(sizeOf(host->GetRootTables()) + sizeOf(host->GetConstantTables()) + sizeOf(host->GetSharedTable()), 0);
  MakeEnvironment(u"first");
  EXPECT_EQ(sizeOf(host->GetRootTables()), 1);
  EXPECT_EQ(sizeOf(host->GetConstantTables()), 1);
}

TEST_F(HostTest, ParameterChecksOfTheRegistrationHelpers) {
  const HSQUIRRELVM v = host->GetVM();
  host->GetEngineTable().Push(v);
  RegisterFunctionTyped(v, u"Exact", Ran, u".is");
  RegisterFunction(v, u"AtLeast2", Ran, -2, u".i");
  RegisterFunctionTyped(v, u"Alternative", Ran, u".x|i");
  RegisterFunction(v, u"Unchecked", Ran, 0, nullptr);
  EXPECT_TRUE(SQ_FAILED(RegisterTable(v, nullptr)));  // a null key: the new table is still left on the top
  EXPECT_EQ(sq_gettop(v), 2);
  sq_settop(v, 0);
  CScriptEnvironment* environment = MakeEnvironment(u"masks");
  const std::vector<std::pair<std::u16string, bool>> calls = {
      {u"Engine.Exact(1, \"a\")", true},      {u"Engine.Exact(1)", false},
      {u"Engine.Exact(\"a\", \"a\")", false}, {u"Engine.Exact(1, \"a\", 2)", false},
      {u"Engine.AtLeast2()", false},          {u"Engine.AtLeast2(1)", true},
      {u"Engine.AtLeast2(1, \"x\")", true},   {u"Engine.AtLeast2(\"x\")", false},
      {u"Engine.Alternative(5)", true},       {u"Engine.Alternative(Engine.Box(1))", true},
      {u"Engine.Alternative(\"s\")", false},  {u"Engine.Unchecked(1, 2, 3)", true},
      {u"Engine.Vec1()", true},               {u"Engine.Vec1(1, \"extra\")", true},
      {u"Engine.Vec1(\"s\")", false},         {u"Engine.Box()", false},
      {u"Engine.Box(1)", true},               {u"Engine.Box(1, 2)", false},
  };
  for (const auto& [call, runs] : calls) {
    SCOPED_TRACE(Narrow(call));
    bool ok = false;
    Errors(environment, call + u";", &ok);
    EXPECT_EQ(ok, runs);
  }
  EXPECT_EQ(Recorded().size(), 6u);
}

TEST_F(HostTest, ErrorAndPrintTextsByteForByte) {
  CScriptEnvironment* environment = MakeEnvironment(u"texts");
  const std::vector<std::pair<const char16_t*, std::string>> cases = {
      {u"function f() {\n  throw \"boom\";\n}\nf();",
       "sqvm: boom.\nStack Dump:\n[1]: function [f()] test.nut line [2]\n[2]: function [main()] test.nut line [4]\n"},
      {u"throw 5;", "Stack Dump:\n[1]: function [main()] test.nut line [1]\n"},
      {u"local x = ;", "sqvm: 'test.nut' (Ln:1 Col:11) : expression expected.\n"},
      {u"Engine.Handler();", ""},
      {u"Engine.Handler(\"x\");", "sqvm: x.\nStack Dump:\n[1]: function [main()] test.nut line [1]\n"},
      {u"Engine.Handler([]);", "Stack Dump:\n[1]: function [main()] test.nut line [1]\n"},
  };
  for (const auto& [code, expected] : cases) EXPECT_EQ(Errors(environment, code), expected) << Narrow(code);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(Run(environment, u"print(\"caf\\u00e9 \\u20ac\"); error(\"!\");"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "caf\xC3\xA9 \xE2\x82\xAC!");
}

TEST(ScriptHostOpen, AMachineThatCannotBeOpenedIsReportedNotUsed) {
  ::testing::internal::CaptureStderr();
  auto* host = new CScriptHost([](SQInteger) -> HSQUIRRELVM { return nullptr; });
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), kVMOpenFailedMessage);
  EXPECT_FALSE(host->IsOpen());
  auto* environment = new CScriptEnvironment(host, u"closed");
  EXPECT_FALSE(environment->Enter());
  EXPECT_FALSE(environment->CallHandler(CScriptObjectRef(), nullptr));
  CListScriptArguments list(host);
  list.AddInteger(1);
  EXPECT_EQ(list.GetCount(), 0);
  auto* type = new CEventType(&host->GetEventTypes(), nullptr, u"OnClosed");
  host->GetEventTypes().Add(type);
  auto* event = new CEvent(type);
  event->Trigger(nullptr, nullptr);
  event->Release();
  type->Release();
  CScriptHost::Delete(host);
  delete environment;
}

// Whatever outlives the host was detached by it: destroying it later touches neither host nor machine.
TEST_F(HostTest, HostDestroyedBeforeEnvironmentsAndHeldEventTypes) {
  CScriptEnvironment* environment = MakeEnvironment(u"late");
  AddEventType(u"OnRegistered", environment);
  auto* held = new CEventType(&host->GetEventTypes(), nullptr, u"OnHeld");
  host->GetEventTypes().Add(held);
  auto* argumentsHeld = new CListScriptArguments(host.get());
  ASSERT_TRUE(Run(environment,
                  u"local box = Engine.Box(3);\n"
                  u"Engine.AddHandler(\"OnHeld\", function(e) { return box; });\n"
                  u"Engine.AddHandler(\"OnRegistered\", function(e) { return box; });"));
  argumentsHeld->AddString(u"held");
  EXPECT_EQ(tBox::s_live, 1);
  g_ScriptHost = nullptr;
  host.reset();
  EXPECT_EQ(tBox::s_live, 0);
  EXPECT_EQ(held->GetHandlers().m_Count, 0u);
  EXPECT_EQ(argumentsHeld->GetCount(), 0);
  auto* event = new CEvent(held);
  event->Trigger(nullptr, nullptr);
  event->Release();
  environments.clear();
  held->Release();
  delete argumentsHeld;
}

}  // namespace
}  // namespace hosttest
