// The script host: registrations, environments, class bindings, events and argument lists, and what outlives it.

#include <functional>

#include <base/Stream.h>

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

// Fires a new event of the type; true when a handler prevented the default.
bool Fire(CEventType* type, CScriptEnvironment* filter = nullptr, CListScriptArguments* arguments = nullptr) {
  auto* event = new CEvent(type);
  event->Trigger(arguments, filter);
  const bool prevented = event->IsDefaultPrevented();
  event->Release();
  return prevented;
}

SQInteger Ran(HSQUIRRELVM) {
  Recorded().push_back("ran");
  return 0;
}

TEST_F(HostTest, RegistersTablesAndLibrariesButNotIoOrAuxiliary) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Shared", "table"}, {"Debug", "table"}, {"Debug.RootTables", "table"}, {"Debug.ConstantTables", "table"},
      {"Engine", "table"}, {"Engine.QVUtil", "table"}, {"Engine.EventSystem", "table"}, {"Engine.QV", "table"},
      {"blob", "class"}, {"sqrt", "function"}, {"system", "function"}, {"regexp", "class"}, {"printf", "function"},
      {"dofile", ""}, {"seterrorhandlers", ""},
  };
  for (const auto& [path, type] : rows) EXPECT_EQ(TypeAtPath(host->GetVM(), path), type) << path;
  const HSQUIRRELVM v = host->GetVM();
  const auto sizeOf = [v](const CScriptObjectRef& table) {
    table.Push(v);
    const SQInteger size = sq_getsize(v, -1);
    sq_poptop(v);
    return size;
  };
  const auto sizes = [&] { return Nums{sizeOf(host->GetRootTables()), sizeOf(host->GetConstantTables()),
                                       sizeOf(host->GetSharedTable())}; };
  EXPECT_EQ(sizes(), (Nums{0, 0, 0}));
  MakeEnvironment(u"first");
  EXPECT_EQ(sizes(), (Nums{1, 1, 0}));
}

TEST_F(HostTest, ParameterChecksOfTheRegistrationHelpers) {
  const HSQUIRRELVM v = host->GetVM();
  host->GetEngineTable().Push(v);
  RegisterFunctionTyped(v, u"Exact", Ran, u".is");
  RegisterFunction(v, u"AtLeast2", Ran, -2, u".i");
  RegisterFunctionTyped(v, u"Alternative", Ran, u".x|i");
  RegisterFunction(v, u"Unchecked", Ran, 0, nullptr);
  // A null key: the new table is still left on the top.
  EXPECT_EQ((Nums{SQ_FAILED(RegisterTable(v, nullptr)), sq_gettop(v)}), (Nums{1, 2}));
  sq_settop(v, 0);
  CScriptEnvironment* environment = MakeEnvironment(u"masks");
  const std::vector<std::pair<std::u16string, bool>> calls = {
      {u"Engine.Exact(1, \"a\")", true}, {u"Engine.Exact(1)", false}, {u"Engine.Exact(\"a\", \"a\")", false},
      {u"Engine.Exact(1, \"a\", 2)", false}, {u"Engine.AtLeast2()", false}, {u"Engine.AtLeast2(1)", true},
      {u"Engine.AtLeast2(1, \"x\")", true}, {u"Engine.AtLeast2(\"x\")", false}, {u"Engine.Alternative(5)", true},
      {u"Engine.Alternative(Engine.Box(1))", true}, {u"Engine.Alternative(\"s\")", false},
      {u"Engine.Unchecked(1, 2, 3)", true}, {u"Engine.Vec1()", true}, {u"Engine.Vec1(1, \"extra\")", true},
      {u"Engine.Vec1(\"s\")", false}, {u"Engine.Box()", false}, {u"Engine.Box(1)", true},
      {u"Engine.Box(1, 2)", false},
  };
  for (const auto& [call, runs] : calls) {
    bool ok = false;
    Errors(environment, call + u";", &ok);
    EXPECT_EQ(ok, runs) << Narrow(call);
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
  auto* environment = new CScriptEnvironment(host, u"closed");
  CListScriptArguments list(host);
  list.AddInteger(1);
  EXPECT_EQ((Nums{host->IsOpen(), environment->Enter(), environment->CallHandler(CScriptObjectRef(), nullptr),
                  list.GetCount()}), (Nums{0, 0, 0, 0}));
  auto* type = new CEventType(&host->GetEventTypes(), nullptr, u"OnClosed");
  host->GetEventTypes().Add(type);
  Fire(type);
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
  EXPECT_EQ((Nums{tBox::s_live, held->GetHandlers().m_Count, argumentsHeld->GetCount()}), (Nums{0, 0, 0}));
  Fire(held);
  environments.clear();
  held->Release();
  delete argumentsHeld;
}


TEST_F(HostTest, ScriptsCannotDeriveCloneOrRebind) {
  CScriptEnvironment* environment = MakeEnvironment(u"bindings");
  const std::vector<std::pair<const char16_t*, const char*>> cases = {
      {u"class Mine extends Engine.Vec1 {}", "sqvm: this class cannot be inherited."},
      {u"class Mine extends Engine.Vec3 {}", "sqvm: this class cannot be inherited."},
      {u"Engine.Record(Engine.Take(Engine.Vec3(2)), Engine.Take(null));", ""},
      {u"clone Engine.Box(1);", "sqvm: instances of this class cannot be cloned."},
      {u"local a = Engine.Vec1(2); Engine.Record(Engine.Take(clone a), Engine.Take(clone Engine.Vec3(3)));", ""},
      {u"Engine.Take({});", "sqvm: the object is not a class instance."},
      {u"Engine.Take(Engine.Box(1));", "sqvm: invalid type tag."},
      {u"Engine.Take(Engine.Vec1.instance());", "sqvm: the instance is not bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3(1), 5);", "sqvm: the instance is already bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3.instance(), 5);", "sqvm: invalid type tag."},
      {u"class Foo {} Engine.Vec1.constructor.call(Foo(), 5);", "sqvm: invalid type tag."},
      {u"Engine.Box.constructor.call(Engine.Box(1), 2);", "sqvm: the instance is already bound to an object."},
      {u"local v = Engine.Vec1.instance(); Engine.Vec1.constructor.call(v, 4); Engine.Record(Engine.Take(v));", ""},
  };
  for (const auto& [code, expected] : cases) {
    const std::string errors = Errors(environment, code);
    EXPECT_EQ(std::pair(errors.substr(0, errors.find('\n')), tBox::s_live), std::pair(std::string(expected), 0))
        << Narrow(code);
  }
  EXPECT_EQ(Recorded(), (Lines{"float:2,null", "float:2,float:3", "float:4"}));
}

// PushInstance makes one instance per object and the release hook ends the object with it.
TEST_F(HostTest, InstanceCachingAndReleaseHook) {
  const HSQUIRRELVM vm = host->GetVM();
  auto* box = new tBox(host->GetBinding(ScriptClass::Texture), 9);
  box->PushInstance(vm);
  box->PushInstance(vm);
  HSQOBJECT first, second;
  sq_getstackobj(vm, -2, &first);
  sq_getstackobj(vm, -1, &second);
  SQUserPointer bound = nullptr;
  EXPECT_EQ((Nums{first._unVal.raw == second._unVal.raw, box->GetRefCount(),
                  SQ_SUCCEEDED(CClassBinding::GetInstance(host->GetBinding(ScriptClass::Texture), vm, -1, &bound)),
                  bound == static_cast<tSquirrelReferenceable*>(box)}), (Nums{1, 2, 1, 1}));
  box->AddRef();
  box->Release();
  sq_settop(vm, 0);  // the instance goes: its reference and the cache with it
  EXPECT_EQ((Nums{box->HasInstance(), box->GetRefCount()}), (Nums{0, 1}));
  box->PushInstance(vm);  // a fresh instance once the first is gone
  box->Release();
  EXPECT_EQ((Nums{box->HasInstance(), tBox::s_live}), (Nums{1, 1}));
  sq_settop(vm, 0);
  EXPECT_EQ(tBox::s_live, 0);
}

TEST(PlayingList, AddPlayingAudioInstanceLinksAfterTheGivenNode) {
  const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases = {
      // per insertion: the earlier node to follow (-1: the head); then the order of the list
      {{-1}, {0}}, {{-1, 0, 1}, {0, 1, 2}}, {{-1, -1, -1}, {2, 1, 0}}, {{-1, 0, 0}, {0, 2, 1}},
  };
  for (const auto& [after, order] : cases) {
    tList list;
    std::vector<ListNode*> nodes;
    for (std::size_t i = 0; i < after.size(); ++i) {
      nodes.push_back(new ListNode{&list, nullptr, nullptr, reinterpret_cast<void*>(i + 1)});
      AddPlayingAudioInstance(nodes.back(), after[i] < 0 ? nullptr : nodes[std::size_t(after[i])]);
    }
    std::vector<int> forward, backward;
    for (ListNode* n = list.m_pHead; n != nullptr; n = n->m_pNext) {
      forward.push_back(int(reinterpret_cast<std::uintptr_t>(GetPlayingAudioInstance(n))) - 1);
    }
    for (ListNode* n = list.m_pTail; n != nullptr; n = n->m_pPrevious) {
      backward.insert(backward.begin(), int(reinterpret_cast<std::uintptr_t>(n->m_pRecord)) - 1);
    }
    EXPECT_EQ(std::tuple(forward, backward, list.m_Count), std::tuple(order, order, order.size()));
  }
}


// The machine's constant table as a raw object.
SQRawObjectVal ConstantTableOf(HSQUIRRELVM v) {
  sq_pushconsttable(v);
  HSQOBJECT table;
  sq_getstackobj(v, -1, &table);
  sq_poptop(v);
  return table._unVal.raw;
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
      EXPECT_EQ((Nums{sq_gettop(a->GetThread()), sq_getvmstate(a->GetThread()), host->GetRunningEnvironments().m_Count,
                      ConstantTableOf(vm) == hostConstants}), (Nums{0, SQ_VMSTATE_IDLE, 0, 1}));
    }
    EXPECT_EQ(Recording(a, u"Engine.Record(WHO);"), Lines{"string:A"});
  }
}

class Events : public HostTest {
 protected:
  // A handler that records its tag and first argument after the event, and may prevent the default.
  void AddRecordingHandler(CScriptEnvironment* environment, const std::string& type, const char* tag,
                           bool prevent = false) {
    ASSERT_TRUE(Run(environment, text::Utf8ToUtf16("Engine.AddHandler(\"" + type + "\", function(e, ...) { " +
                                                   "Engine.Record(\"" + tag + "\", vargv.len() ? vargv[0] : null); " +
                                                   (prevent ? "e.PreventDefault(); " : "") + "});")));
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

TEST_F(Events, RegistryFindsByExactNameAndRemovesByOwner) {
  CScriptEnvironment* a = MakeEnvironment(u"A");
  CScriptEnvironment* b = MakeEnvironment(u"B");
  CEventType* lower = AddEventType(u"onthing");
  CEventType* upper = AddEventType(u"OnThing");
  CEventType* first = AddEventType(u"Twice", a);
  CEventType* second = AddEventType(u"Twice", b);
  CEventType* ofB = AddEventType(u"OfB", b);
  CEventTypeRegistry& registry = host->GetEventTypes();
  using Found = std::vector<CEventType*>;
  EXPECT_EQ((Found{registry.Find(u"onthing"), registry.Find(u"OnThing"), registry.Find(u"ONTHING"),
                   registry.Find(u"Twice")}), (Found{lower, upper, nullptr, first}));
  registry.RemoveOwnedBy(a);
  EXPECT_EQ(registry.Find(u"Twice"), second);
  registry.RemoveOwnedBy(nullptr);
  EXPECT_EQ((Found{registry.Find(u"OnThing"), registry.Find(u"OfB")}), (Found{nullptr, ofB}));
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
  for (int i = 0; i < 3; ++i) std::make_unique<CScriptEnvironment>(host.get(), u"later").reset();
  EXPECT_EQ((Nums{type->GetOwner() != nullptr, type->IsRegistered()}), (Nums{0, 1}));
  Recorded().clear();
  Fire(type);
  EXPECT_EQ(Recorded(), Lines{"string:user"});
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
  // Debug.RootTables keeps the environment's globals, and with them the instance.
  EXPECT_EQ((Nums{host->GetEventTypes().Find(u"Twice") != nullptr, type->IsRegistered(), type->GetRefCount()}),
            (Nums{0, 0, 1}));
}

// The machine refuses the innermost nested call; every level unwinds normally.
TEST_F(Events, ReTriggeringFromItsOwnHandlerEndsInNativeStackOverflow) {
  CScriptEnvironment* environment = MakeEnvironment(u"loop");
  CEventType* type = AddEventType(u"OnLoop");
  ASSERT_TRUE(Run(environment,
                  u"Engine.AddHandler(\"OnLoop\", function(e) { Engine.Record(1); Engine.Fire(\"OnLoop\"); });"));
  Fire(type);
  const HSQUIRRELVM t = environment->GetThread();
  EXPECT_EQ((Nums{Recorded().size() > 1, sq_gettop(t), host->GetRunningEnvironments().m_Count}), (Nums{1, 0, 0}));
  sq_getlasterror(t);
  const SQChar* error = nullptr;
  sq_getstring(t, -1, &error);
  EXPECT_EQ(Narrow(error != nullptr ? error : u""), "Native stack overflow");
  sq_poptop(t);
  EXPECT_EQ(Recording(environment, u"Engine.Record(2);"), Lines{"integer:2"});
}


using Bytes = std::vector<std::uint8_t>;
using Pusher = std::function<void(HSQUIRRELVM)>;

class ScriptArguments : public HostTest {
 protected:
  // Writes what `push` pushes after a stand-in for the event name; `out` gets the bytes written.
  bool Write(const Pusher& push, Bytes* out, std::uint32_t capacity = 1 << 18) {
    const HSQUIRRELVM vm = host->GetVM();
    sq_pushstring(vm, u"EventName", -1);
    push(vm);
    out->assign(capacity, 0);
    auto* stream = new CByteArrayStream(out->data(), capacity);
    const bool ok = WriteStackArguments(vm, 2, stream);
    std::uint64_t written = 0;
    stream->GetPosition(&written);
    stream->Release();
    out->resize(std::size_t(written));
    sq_settop(vm, 0);
    return ok;
  }
  bool Read(Bytes bytes, CListScriptArguments* list) {
    auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
    const bool ok = CListScriptArguments::Read(stream, list);
    stream->Release();
    return ok;
  }
};

TEST_F(ScriptArguments, WritesTheDocumentedBytes) {
  const std::vector<std::pair<Pusher, Bytes>> cases = {
      {[](HSQUIRRELVM v) {
         sq_pushinteger(v, 5);
         sq_pushfloat(v, 2.5f);
         sq_pushbool(v, SQTrue);
         sq_pushstring(v, u"abc", -1);
         sq_pushnull(v);
       },
       {5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0}},
      {[](HSQUIRRELVM) {}, {0, 0, 0, 0}},
      {[](HSQUIRRELVM v) { sq_newtable(v); }, {1, 0, 0, 0, 0}},
      {[](HSQUIRRELVM v) { sq_pushstring(v, u"\u00e9\0x", 3); }, {1, 0, 0, 0, 4, 4, 0, 0xC3, 0xA9, 0, 0x78}},
      {[](HSQUIRRELVM v) { sq_pushstring(v, u"\xD800", 1); }, {1, 0, 0, 0, 4, 3, 0, 0xEF, 0xBF, 0xBD}},
  };
  for (const auto& [push, expected] : cases) {
    Bytes bytes;
    EXPECT_TRUE(Write(push, &bytes));
    EXPECT_EQ(bytes, expected);
  }
}

// What was read goes back out through the machine's stack byte for byte: empty, non-ASCII and NUL-holding
// strings, a signalling NaN, and the list appended to values already there.
TEST_F(ScriptArguments, ReadValuesWriteBackUnchanged) {
  const std::vector<Bytes> lists = {
      {5, 0, 0, 0, 1, 5, 0, 0, 0, 2, 0, 0, 0x20, 0x40, 3, 1, 4, 3, 0, 0x61, 0x62, 0x63, 0},
      {2, 0, 0, 0, 2, 0, 0, 0x9F, 0xFF, 1, 0, 0, 0, 0x80},
      {3, 0, 0, 0, 4, 0, 0, 4, 2, 0, 0xC3, 0xA9, 4, 8, 0, 0xF0, 0x9F, 0x98, 0x80, 0, 0x61, 0, 0x62},
  };
  for (const Bytes& list : lists) {
    CListScriptArguments arguments(host.get());
    arguments.AddBool(true);
    ASSERT_TRUE(Read(list, &arguments));
    Bytes written;
    ASSERT_TRUE(Write([&](HSQUIRRELVM v) { arguments.Push(v); }, &written));
    Bytes expected = list;
    expected[0] += 1;
    expected.insert(expected.begin() + 4, {3, 1});
    EXPECT_EQ(written, expected);
  }
  // Tags other than 1 to 4 arrive as null; any non-zero bool byte is true.
  CListScriptArguments arguments(host.get());
  ASSERT_TRUE(Read({2, 0, 0, 0, 9, 3, 7}, &arguments));
  Bytes written;
  ASSERT_TRUE(Write([&](HSQUIRRELVM v) { arguments.Push(v); }, &written));
  EXPECT_EQ(written, (Bytes{2, 0, 0, 0, 0, 3, 1}));
}

TEST_F(ScriptArguments, DamagedListsFailKeepingWhatWasRead) {
  Bytes whole;
  ASSERT_TRUE(Write(
      [](HSQUIRRELVM v) {
        sq_pushinteger(v, -3);
        sq_pushstring(v, u"xyz", -1);
        sq_pushfloat(v, 1.0f);
        sq_pushbool(v, SQFalse);
      },
      &whole));
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    CListScriptArguments list(host.get());
    EXPECT_EQ((Nums{Read(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(cut)), &list), list.GetCount() < 4}),
              (Nums{0, 1})) << cut;
  }
  const std::vector<Bytes> refused = {
      {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0},  // 4 billion values in 3 bytes
      {2, 0, 0, 0, 0},                    // two values, one byte
      {1, 4, 0, 0},                       // 1025 values
  };
  Bytes full(4 + CListScriptArguments::kMaxValues, 0);
  full[1] = 4;  // exactly 1024 nulls
  for (const Bytes& bytes : refused) {
    CListScriptArguments list(host.get());
    EXPECT_EQ((Nums{Read(bytes, &list), list.GetCount()}), (Nums{0, 0}));
  }
  CListScriptArguments list(host.get());
  EXPECT_EQ((Nums{Read(full, &list), list.GetCount()}), (Nums{1, CListScriptArguments::kMaxValues}));
}

TEST_F(ScriptArguments, WriterRefusesOversizedListsWithoutWriting) {
  const std::u16string longest(CListScriptArguments::kMaxStringBytes, u'a');
  const std::u16string wide(CListScriptArguments::kMaxStringBytes / 3 + 1, u'\u20ac');  // 65538 bytes of UTF-8
  const auto values = [](int count) {
    return [count](HSQUIRRELVM v) {
      for (int i = 0; i < count; ++i) sq_pushnull(v);
    };
  };
  const std::vector<std::pair<Pusher, bool>> cases = {
      {values(1024), true},
      {values(1025), false},
      {[&](HSQUIRRELVM v) { sq_pushstring(v, longest.data(), SQInteger(longest.size())); }, true},
      {[&](HSQUIRRELVM v) {
         sq_pushinteger(v, 1);
         sq_pushstring(v, wide.data(), SQInteger(wide.size()));
       },
       false},
  };
  for (const auto& [push, ok] : cases) {
    Bytes bytes;
    EXPECT_EQ((std::pair{Write(push, &bytes), bytes.empty()}), std::pair(ok, !ok));
  }
  Bytes small;  // a stream that takes less than it is given fails the write
  EXPECT_FALSE(Write([](HSQUIRRELVM v) { sq_pushinteger(v, 1); }, &small, 6));
  Bytes buffer(8, 0xEE);
  auto* stream = new CByteArrayStream(buffer.data(), std::uint32_t(buffer.size()));
  EXPECT_FALSE(WriteStackArguments(host->GetVM(), 0, stream));
  EXPECT_TRUE(WriteStackArguments(host->GetVM(), 5, stream));  // above the top: no values
  stream->Release();
  EXPECT_EQ(buffer, (Bytes{0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
}

}  // namespace
}  // namespace hosttest
