// Script environments: the copied names, isolation of globals and constants, handler calls that fail or
// suspend, nesting across environments, and compiling UCS-2 and 8-bit files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include <base/FileSystem.h>
#include <base/Stream.h>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

// The machine's constant table as a raw object.
SQRawObjectVal ConstantTableOf(HSQUIRRELVM v) {
  sq_pushconsttable(v);
  HSQOBJECT table;
  sq_getstackobj(v, -1, &table);
  sq_poptop(v);
  return table._unVal.raw;
}

// Each copied name holds the very value of the host's root (the same Engine, Shared and Debug tables).
TEST_F(HostTest, EveryCopiedNameIsTheHostsValueAndNothingElseIsThere) {
  const HSQUIRRELVM t = MakeEnvironment(u"names")->GetThread();
  const HSQUIRRELVM vm = host->GetVM();
  const auto valueIn = [](HSQUIRRELVM v, const SQChar* name) {
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    if (SQ_FAILED(sq_rawget(v, -2))) sq_pushnull(v);
    HSQOBJECT value;
    sq_getstackobj(v, -1, &value);
    sq_pop(v, 2);
    return value;
  };
  int present = 0;
  for (const SQChar* name : CScriptEnvironment::kCopiedNames) {
    const HSQOBJECT copied = valueIn(t, name), original = valueIn(vm, name);
    EXPECT_EQ(copied._type, original._type) << Narrow(name);
    EXPECT_EQ(copied._unVal.raw, original._unVal.raw) << Narrow(name);
    present += copied._type != OT_NULL;
  }
  // Our base library has no "dummy" yet; the name is copied as null.
  EXPECT_GE(present, int(CScriptEnvironment::kCopiedNameCount) - 1);
  sq_pushroottable(t);
  EXPECT_EQ(sq_getsize(t, -1), SQInteger(CScriptEnvironment::kCopiedNameCount));
  sq_poptop(t);
}

TEST_F(HostTest, WhatScriptsOfOneEnvironmentSeeOfAnother) {
  CScriptEnvironment* a = MakeEnvironment(u"A");
  CScriptEnvironment* b = MakeEnvironment(u"B");
  ASSERT_TRUE(Run(a, u"Shared.value <- 42; global <- 1; const LIMIT = 5;"));
  const std::vector<std::pair<const char16_t*, const char*>> probes = {
      {u"Engine.Record(Shared.value);", "integer:42"},
      {u"Engine.Record(\"global\" in getroottable());", "bool:false"},
      {u"Engine.Record(getroottable() == Debug.RootTables.B, Debug.RootTables.A != getroottable());",
       "bool:true,bool:true"},
      {u"Engine.Record(\"LIMIT\" in getconsttable(), \"LIMIT\" in Debug.ConstantTables.A);", "bool:false,bool:true"},
      {u"Engine.Record(\"system\" in getroottable(), \"remove\" in getroottable(), \"rename\" in getroottable(),"
       u" \"printf\" in getroottable());",
       "bool:false,bool:false,bool:false,bool:false"},
      {u"Engine.Record(format(\"%d\", 7), \"print\" in getroottable());", "string:7,bool:true"},
  };
  for (const auto& [code, expected] : probes) {
    SCOPED_TRACE(Narrow(code));
    Recorded().clear();
    ASSERT_TRUE(Run(b, code));
    EXPECT_EQ(Recorded(), std::vector<std::string>{expected});
  }
  // The constant stays with A across calls and keeps its value.
  Recorded().clear();
  ASSERT_TRUE(Run(a, u"Engine.Record(LIMIT);"));
  EXPECT_EQ(Recorded(), std::vector<std::string>{"integer:5"});
  bool ok = true;
  Errors(b, u"Engine.Record(LIMIT);", &ok);
  EXPECT_FALSE(ok);
}

// Failing, suspending and nested handlers all leave the thread, the running list and the constant table as
// they were.
TEST_F(HostTest, CallHandlerRestoresStateWhateverTheHandlerDoes) {
  CScriptEnvironment* a = MakeEnvironment(u"A");
  CScriptEnvironment* b = MakeEnvironment(u"B");
  AddEventType(u"OnInner");
  ASSERT_TRUE(Run(b, u"const WHO = \"B\"; Engine.AddHandler(\"OnInner\", function(e) { Engine.Record(WHO, "
                     u"Engine.Depth()); });"));
  ASSERT_TRUE(Run(a, u"const WHO = \"A\";"));
  struct Case {
    const char16_t* handler;
    bool succeeds;
    std::vector<std::string> recorded;
  };
  const std::vector<Case> cases = {
      {u"function(...) { Engine.Record(WHO, Engine.Depth()); }", true, {"string:A,integer:1"}},
      {u"function(...) { throw \"bad\"; }", false, {}},
      {u"function(...) { suspend(1); Engine.Record(\"resumed\"); }", false, {}},
      {u"function(...) { try { suspend(); } catch (x) { Engine.Record(\"woken\"); } suspend(); }", false,
       {"string:woken"}},
      {u"function(...) { Engine.Fire(\"OnInner\"); Engine.Record(WHO, Engine.Depth()); }", true,
       {"string:B,integer:2", "string:A,integer:1"}},
  };
  const HSQUIRRELVM vm = host->GetVM();
  const SQRawObjectVal hostConstants = ConstantTableOf(vm);
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.handler));
    const std::u16string code = std::u16string(u"Shared.handler <- ") + c.handler + u";";
    ASSERT_TRUE(Run(a, code));
    host->GetSharedTable().Push(vm);
    sq_pushstring(vm, u"handler", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(vm, -2)));
    sq_remove(vm, -2);
    CScriptObjectRef closure;
    closure.SetFromStack(vm, -1);
    sq_poptop(vm);
    for (int round = 0; round < 2; ++round) {
      Recorded().clear();
      ::testing::internal::CaptureStderr();
      EXPECT_EQ(a->CallHandler(closure, nullptr), c.succeeds);
      ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(Recorded(), c.recorded);
      EXPECT_EQ(sq_gettop(a->GetThread()), 0);
      EXPECT_EQ(sq_getvmstate(a->GetThread()), SQ_VMSTATE_IDLE);
      EXPECT_EQ(host->GetRunningEnvironments().m_Count, 0u);
      EXPECT_EQ(ConstantTableOf(vm), hostConstants);
    }
    Recorded().clear();
    ASSERT_TRUE(Run(a, u"Engine.Record(WHO);"));
    EXPECT_EQ(Recorded(), std::vector<std::string>{"string:A"});
  }
}

TEST_F(HostTest, Ucs2AndAnsiFilesCompileAlike) {
  CScriptEnvironment* environment = MakeEnvironment(u"files");
  const std::string source = "Engine.Record(\"x\" + 40 + 2);";
  std::string ucs2 = "\xFF\xFE";
  for (char c : source) ucs2 += std::string{c, '\0'};
  for (const std::string& bytes : {source, ucs2, ucs2.substr(2)}) {
    auto* stream = new CByteArrayStream(const_cast<char*>(bytes.data()), std::uint32_t(bytes.size()));
    const HSQUIRRELVM t = environment->GetThread();
    Recorded().clear();
    ASSERT_TRUE(SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"file.nut")));
    sq_pushroottable(t);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue)));
    sq_settop(t, 0);
    stream->Release();
    EXPECT_EQ(Recorded(), std::vector<std::string>{"string:x402"});
  }
  const std::string broken = "local = 1;";
  auto* stream = new CByteArrayStream(const_cast<char*>(broken.data()), std::uint32_t(broken.size()));
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(SQ_FAILED(CompileScriptFile(nullptr, environment->GetThread(), stream, u"broken.nut")));
  EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("sqvm: 'broken.nut' (Ln:1 Col:", 0), 0u);
  EXPECT_EQ(sq_gettop(environment->GetThread()), 0);
  stream->Release();
}

// A script file in a host directory mounted in the game-side file system, opened through the environment.
TEST_F(HostTest, OpenFileReachesTheGameSideFileSystem) {
  char directory[] = "/tmp/brindle_scripts_XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string file = std::string(directory) + "/main.nut";
  std::ofstream(file) << "Engine.Record(\"from file\");";
  {
    tAppContext context("Test", nullptr, MessageDisplayMode::Console);
    CFileSystem fileSystem(&context);
    ASSERT_NE(MountPhysicalDirectory(u"/Scripts", false, text::Utf8ToUtf16(directory).c_str()), nullptr);
    CScriptEnvironment* environment = MakeEnvironment(u"files");
    EXPECT_EQ(environment->OpenFile(u"/Scripts/missing.nut", true, false, false), nullptr);
    CStream* stream = environment->OpenFile(u"/Scripts/main.nut", true, false, false);
    ASSERT_NE(stream, nullptr);
    const HSQUIRRELVM t = environment->GetThread();
    ASSERT_TRUE(SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"main.nut")));
    stream->Release();
    sq_pushroottable(t);
    EXPECT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue)));
    sq_settop(t, 0);
  }
  unlink(file.c_str());
  rmdir(directory);
  EXPECT_EQ(Recorded(), std::vector<std::string>{"string:from file"});
}

}  // namespace
}  // namespace hosttest
