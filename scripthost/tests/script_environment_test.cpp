// Script environments: the names of a new root table, what stays apart between environments, their entries in
// Debug, script files in each encoding, and what standard error shows for errors through every kind of call.

#include <base/Stream.h>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

// The environment's root table as its thread sees it, pushed on the thread.
void PushRoot(CScriptEnvironment* environment) { sq_pushroottable(environment->GetThread()); }

TEST_F(HostTest, ARootTableHoldsTheCopiedNamesAndNoProcessOrFileOperations) {
  CScriptEnvironment* environment = MakeEnvironment(u"names");
  const HSQUIRRELVM t = environment->GetThread();
  PushRoot(environment);
  EXPECT_EQ(sq_getsize(t, -1), SQInteger(CScriptEnvironment::kCopiedNameCount));
  for (const SQChar* name : CScriptEnvironment::kCopiedNames) {
    sq_pushstring(t, name, -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_rawget(t, -2))) << Narrow(name);
    EXPECT_NE(sq_gettype(t, -1), OT_NULL) << Narrow(name);
    sq_poptop(t);
  }
  for (const SQChar* name : {u"system", u"remove", u"rename", u"printf"}) {
    sq_pushstring(t, name, -1);
    EXPECT_TRUE(SQ_FAILED(sq_rawget(t, -2))) << Narrow(name);
  }
  sq_poptop(t);
  // By name from a script: what is missing is an error; the library functions beside them work.
  const std::vector<std::pair<std::u16string, bool>> calls = {
      {u"system(\"true\")", false},
      {u"remove(\"nothing\")", false},
      {u"rename(\"a\", \"b\")", false},
      {u"printf(\"%d\", 1)", false},
      {u"::system", false},
      {u"dummy()", true},
      {u"dummy(1, \"two\", [3])", true},
      {u"format(\"%d\", 1)", true},
      {u"getenv(\"HOME\")", true},
      {u"split(\"a b\", \" \")", true},
      {u"regexp(\"a\").match(\"a\")", true},
      {u"blob(4).len()", true},
      {u"Engine.Record(PI > 3)", true},
      {u"assert(dummy() == null)", true},
  };
  for (const auto& [call, works] : calls) {
    bool ok = false;
    Errors(environment, call + u";", &ok);
    EXPECT_EQ(ok, works) << Narrow(call);
  }
  EXPECT_TRUE(Run(environment, u"foreach (k, v in getroottable()) assert(v != null, k);"));
}

TEST_F(HostTest, GlobalsStayInTheirEnvironmentWhileSharedIsOne) {
  CScriptEnvironment* first = MakeEnvironment(u"first");
  CScriptEnvironment* second = MakeEnvironment(u"second");
  // Both directions: each sets a global and a Shared slot, the other sees only the Shared one.
  for (auto [writer, reader] : {std::pair{first, second}, std::pair{second, first}}) {
    SCOPED_TRACE(writer == first ? "first writes" : "second writes");
    ASSERT_TRUE(Run(writer, u"mine <- 1; ::other <- 2; Shared.both <- 3; function fn() {}"));
    EXPECT_EQ(Recording(reader,
                        u"local r = getroottable(); "
                        u"Engine.Record(\"mine\" in r, \"other\" in r, \"fn\" in r, Shared.both);"),
              Lines{"bool:false,bool:false,bool:false,integer:3"});
    bool ok = true;
    EXPECT_EQ(Errors(reader, u"mine;", &ok).find("sqvm: the index 'mine' does not exist."), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Recording(writer, u"Engine.Record(mine, other); delete mine; delete other; delete fn;"),
              Lines{"integer:1,integer:2"});
  }
}

TEST_F(HostTest, TheRootTableIsTheOneInDebugAndALaterNamesakeReplacesIt) {
  CScriptEnvironment* first = MakeEnvironment(u"same");
  CScriptEnvironment* other = MakeEnvironment(u"other");
  ASSERT_TRUE(Run(first, u"const TAG = \"first\"; mark <- \"first\";"));
  const char16_t* const check =
      u"Engine.Record(getroottable() == Debug.RootTables[\"same\"], getroottable() == Debug.RootTables[\"other\"], "
      u"Debug.RootTables[\"same\"].rawin(\"mark\") ? Debug.RootTables[\"same\"].mark : null, "
      u"Debug.ConstantTables[\"same\"].rawin(\"TAG\"));";
  EXPECT_EQ(Recording(first, check), Lines{"bool:true,bool:false,string:first,bool:true"});
  EXPECT_EQ(Recording(other, check), Lines{"bool:false,bool:true,string:first,bool:true"});
  // A second environment of the same name: its fresh tables replace the entries, the first keeps its own.
  CScriptEnvironment* second = MakeEnvironment(u"same");
  EXPECT_EQ(Recording(second, check), Lines{"bool:true,bool:false,null,bool:false"});
  EXPECT_EQ(Recording(other, check), Lines{"bool:false,bool:true,null,bool:false"});
  EXPECT_EQ(Recording(first, u"Engine.Record(getroottable() == Debug.RootTables[\"same\"], mark, TAG);"),
            Lines{"bool:false,string:first,string:first"});
  // Destroying the later one leaves its entries; only yet another namesake replaces them.
  ASSERT_TRUE(Run(second, u"mark <- \"second\";"));
  environments.erase(environments.begin() + 2);
  EXPECT_EQ(Recording(other, u"Engine.Record(Debug.RootTables[\"same\"].mark);"), Lines{"string:second"});
}

// The same script in each encoding the text reader recognises: 8-bit (code points 0 to 255), UCS-2 with a
// little- or big-endian mark, and little-endian UCS-2 without one.
TEST_F(HostTest, ScriptFilesCompileAlikeInEveryEncoding) {
  CScriptEnvironment* environment = MakeEnvironment(u"encodings");
  const HSQUIRRELVM t = environment->GetThread();
  const std::u16string script = u"local s = \"caf\u00e9 \u00ff\";\nprint(s + \" \" + s.len() + \"\\n\");\n";
  const std::u16string broken = u"local s = \"caf\u00e9\";\nlocal x = ;\n";
  enum Encoding { kEightBit, kLittleMarked, kBigMarked, kLittleUnmarked };
  const auto encode = [](const std::u16string& text, Encoding encoding) {
    std::string bytes;
    if (encoding == kLittleMarked) bytes = "\xFF\xFE";
    if (encoding == kBigMarked) bytes = "\xFE\xFF";
    for (char16_t c : text) {
      if (encoding == kEightBit) {
        bytes += char(c);
      } else if (encoding == kBigMarked) {
        bytes += {char(c >> 8), char(c & 0xFF)};
      } else {
        bytes += {char(c & 0xFF), char(c >> 8)};
      }
    }
    return bytes;
  };
  // Compiles (and runs, when it compiled) the bytes; what it printed and what standard error showed.
  const auto compile = [&](std::string bytes) {
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    host->PushRunningEnvironment(environment);
    environment->Enter();
    const SQRESULT compiled = CompileScriptFile(nullptr, t, stream, u"file.nut");
    if (SQ_SUCCEEDED(compiled)) {
      sq_pushroottable(t);
      EXPECT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue)));
      sq_poptop(t);
    }
    environment->Leave();
    host->PopRunningEnvironment();
    stream->Release();
    EXPECT_EQ(sq_gettop(t), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    return std::pair{out, ::testing::internal::GetCapturedStderr()};
  };
  for (Encoding encoding : {kEightBit, kLittleMarked, kBigMarked, kLittleUnmarked}) {
    SCOPED_TRACE(int(encoding));
    EXPECT_EQ(compile(encode(script, encoding)), (std::pair<std::string, std::string>{"caf\xC3\xA9 \xC3\xBF 6\n", ""}));
    EXPECT_EQ(compile(encode(broken, encoding)),
              (std::pair<std::string, std::string>{"", "sqvm: 'file.nut' (Ln:2 Col:11) : expression expected.\n"}));
  }
}

// One script per row: what standard error shows when the error is caught, and when nothing catches it. The
// thread's own frames are dumped for an uncaught error thrown in a thread.
TEST_F(HostTest, ErrorsAreReportedOnlyWhenNothingCatchesThem) {
  CScriptEnvironment* environment = MakeEnvironment(u"calls");
  AddEventType(u"OnFails");
  ASSERT_TRUE(Run(environment,
                  u"function fail(...) { throw \"bad\"; }\n"
                  u"Engine.AddHandler(\"OnFails\", fail);\n"
                  u"class Adds { function _add(o) { fail(); } }\n"
                  u"function gen() { yield 1; fail(); }\n"
                  u"function sleeper() { suspend(); fail(); }\n"
                  u"function waiter() { suspend(); }\n"));
  // "sqvm: bad." and a stack dump of the given frames, innermost first ("fail()@1", "sort()" for a native).
  const auto dump = [](std::initializer_list<const char*> frames) {
    std::string text = "sqvm: bad.\nStack Dump:\n";
    int level = 0;
    for (const std::string frame : frames) {
      const std::size_t at = frame.find('@');
      text += "[" + std::to_string(++level) + "]: function [" + frame.substr(0, at) + "] " +
              (at == std::string::npos ? "NATIVE line [-1]" : "test.nut line [" + frame.substr(at + 1) + "]") + "\n";
    }
    return text;
  };
  struct Row {
    const char16_t* call;
    std::string uncaught;  // standard error when the call stands alone; nothing when it is in a try
  };
  const std::vector<Row> rows = {
      {u"fail()", dump({"fail()@1", "main()@1"})},
      {u"fail.call(this)", dump({"fail()@1", "call()", "main()@1"})},
      {u"fail.acall([this])", dump({"fail()@1", "acall()", "main()@1"})},
      // the lambda's call of fail is a tail call: its frame is gone
      {u"(@() fail()).call(this)", dump({"fail()@1", "call()", "main()@1"})},
      {u"(@() fail() + 1).call(this)", dump({"fail()@1", "unknown()@1", "call()", "main()@1"})},
      {u"fail.call.call(fail, this)", dump({"fail()@1", "call()", "call()", "main()@1"})},
      // pcall and pacall never report: what they let through is reported where the script did not catch it
      {u"fail.pcall(this)", dump({"main()@1"})},
      {u"fail.pacall([this])", dump({"main()@1"})},
      // a native's refusal, called directly or through call()
      {u"split(\"a\", \"\")",
       "sqvm: empty separators string.\nStack Dump:\n[1]: function [main()] test.nut line [1]\n"},
      {u"split.call(this, \"a\", \"\")",
       "sqvm: empty separators string.\nStack Dump:\n[1]: function [call()] NATIVE line [-1]\n"
       "[2]: function [main()] test.nut line [1]\n"},
      // a thread's error shows the thread's frames
      {u"newthread(fail).call()", dump({"fail()@1"})},
      {u"local th = newthread(sleeper); th.call(); th.wakeup()", dump({"fail()@1", "sleeper()@5"})},
      {u"newthread(@() newthread(fail).call()).call()", dump({"fail()@1"})},
      // thrown into a waiting thread that does not catch it: reported in the script that threw it in
      {u"local th = newthread(waiter); th.call(); th.wakeupthrow(\"bad\")", dump({"main()@1"})},
      {u"local g = gen(); resume g; resume g", dump({"fail()@1", "gen()@4", "main()@1"})},
      {u"foreach (x in gen()) {}", dump({"fail()@1", "gen()@4", "main()@1"})},
      {u"Adds() + 1", dump({"fail()@1", "_add()@3", "main()@1"})},
      {u"[2, 1].sort(fail)", dump({"fail()@1", "sort()", "main()@1"})},
      {u"[1].map(fail)", dump({"fail()@1", "map()", "main()@1"})},
      {u"compilestring(\"throw \\\"bad\\\"\")()",
       "sqvm: bad.\nStack Dump:\n[1]: function [main()] unnamedbuffer line [1]\n[2]: function [main()] test.nut line "
       "[1]\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.call));
    Recorded().clear();
    bool ok = true;
    EXPECT_EQ(Errors(environment, std::u16string(u"try { ") + row.call + u"; } catch (e) Engine.Record(e);", &ok), "");
    EXPECT_TRUE(ok);
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Errors(environment, std::u16string(row.call) + u";", &ok), row.uncaught);
    EXPECT_FALSE(ok);
  }
  // A handler runs in a call of its own from the host: its error is reported there, whatever the script that
  // fired the event does; the firing script goes on.
  const std::string handler = dump({"fail()@1", "Fire()", "main()@1"});
  for (const char16_t* fire : {u"Engine.Fire(\"OnFails\"); Engine.Record(\"on\");",
                               u"try { Engine.Fire(\"OnFails\"); } catch (e) {} Engine.Record(\"on\");"}) {
    Recorded().clear();
    bool ok = false;
    EXPECT_EQ(Errors(environment, fire, &ok), handler) << Narrow(fire);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Recorded(), Lines{"string:on"});
  }
}

// Consecutive handlers of one environment run in one entry: each one's uncaught error is reported once in its own
// words, whatever the handler before it failed with, caught or left suspended.
TEST_F(HostTest, EachHandlerOfAFiringIsReportedInItsOwnWords) {
  CScriptEnvironment* environment = MakeEnvironment(u"firing");
  struct Handler {
    const char16_t* code;
    const char* report;  // the text of its one report, or none
  };
  const std::string suspended = Narrow(kHandlerSuspendedMessage);
  const std::vector<Handler> handlers = {
      {u"function(e) { throw \"first\"; }", "first"},
      {u"function(e) { compilestring(\"local x = ;\"); }", "expression expected"},
      {u"function(e) { try { throw \"caught\"; } catch (x) {} }", nullptr},
      {u"function(e) { try { compilestring(\"local x = ;\"); } catch (x) {} }", nullptr},
      {u"function(e) { suspend(); }", suspended.c_str()},
      {u"function(e) { newthread(@() compilestring(\"local y = ;\")).call(); }", "expression expected"},
      {u"function(e) { local th = newthread(function() { throw \"in thread\"; }); try { th.call(); } catch (x) {} }",
       nullptr},
      {u"function(e) { throw \"last\"; }", "last"},
  };
  for (const Handler& first : handlers) {
    for (const Handler& second : handlers) {
      SCOPED_TRACE(Narrow(first.code) + " then " + Narrow(second.code));
      CEventType* type = AddEventType(u"OnPair");
      ASSERT_TRUE(Run(environment, u"Engine.AddHandler(\"OnPair\", " + std::u16string(first.code) +
                                       u"); Engine.AddHandler(\"OnPair\", " + std::u16string(second.code) + u");"));
      ::testing::internal::CaptureStderr();
      auto* event = new CEvent(type);
      event->Trigger(nullptr, nullptr);
      event->Release();
      const std::string out = ::testing::internal::GetCapturedStderr();
      Lines reports, expected;
      for (std::size_t at = out.find("Stack Dump:"); at != std::string::npos; at = out.find("Stack Dump:", at + 1)) {
        const std::size_t line = out.rfind("sqvm: ", at);
        reports.push_back(line == std::string::npos ? "?" : out.substr(line + 6, at - line - 8));
      }
      for (const Handler* handler : {&first, &second}) {
        if (handler->report != nullptr) expected.push_back(handler->report);
      }
      EXPECT_EQ(reports, expected) << out;
      EXPECT_EQ(sq_gettop(environment->GetThread()), 0);
      host->GetEventTypes().Remove(type);
    }
  }
}

// More than twenty levels show as the first and last ten with a count of those between.
TEST_F(HostTest, AStackDumpShowsTheEndsOfALongCallChain) {
  CScriptEnvironment* environment = MakeEnvironment(u"deep");
  ASSERT_TRUE(Run(environment, u"function down(n) {\n  if (n == 0) throw \"deep\";\n  down(n - 1);\n}"));
  const auto level = [](int number, bool last) {
    return "[" + std::to_string(number) + "]: function [" + (last ? "main()" : "down()") + "] test.nut line [" +
           (last          ? "1"
            : number == 1 ? "2"
                          : "3") +
           "]\n";
  };
  for (const int levels : {1, 2, 19, 20, 21, 22, 57, 5000}) {
    SCOPED_TRACE(levels);
    std::string expected = "sqvm: deep.\nStack Dump:\n";
    for (int number = 1; number <= levels; ++number) {
      if (levels > 20 && number == 11) {
        expected += "... " + std::to_string(levels - 20) + " levels not shown ...\n";
        number = levels - 10;
        continue;
      }
      expected += level(number, number == levels);
    }
    const std::u16string code =
        levels == 1 ? u"throw \"deep\";" : u"down(" + text::Utf8ToUtf16(std::to_string(levels - 2)) + u");";
    EXPECT_EQ(Errors(environment, code), expected);
  }
}

}  // namespace
}  // namespace hosttest
