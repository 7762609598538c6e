// What keeps environments apart: building one runs no script code whatever the shared tables' delegates do, no
// route a script can take reaches the host's root table (system, printf, remove and rename), and each
// environment's error handler is its own.
//
// The four names in the host's root are replaced with traps that record their name, so a probe that got through
// is seen without running a command or touching a file.

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

constexpr const char16_t* kHostOnlyNames[] = {u"system", u"printf", u"remove", u"rename"};

std::vector<std::string>& Reached() {
  static std::vector<std::string> reached;
  return reached;
}

// Records the name held as its free variable.
SQInteger Trap(HSQUIRRELVM v) {
  const SQChar* name = nullptr;
  sq_getstring(v, sq_gettop(v), &name);
  Reached().push_back(Narrow(name != nullptr ? name : u"?"));
  return 0;
}

// Calls each of the four names the table holds: any table a route yields goes through it.
const std::u16string kProbe =
    u"function probe(r) {\n"
    u"  if (type(r) != \"table\") return;\n"
    u"  foreach (name in [\"system\", \"printf\", \"remove\", \"rename\"])\n"
    u"    if (r.rawin(name)) r.rawget(name)(\"echo reached > probe.txt\");\n"
    u"}\n";

// Every metamethod a table's delegate can carry; each records that it ran and probes the root of the thread it
// runs on, then does what the plain operation would. Names are taken from the root (::), as a plain name inside
// a metamethod is looked up in the table itself first.
const std::u16string kHostileDelegate =
    u"function hostile(what) {\n"
    u"  local ran = @(name) (::Engine.Record(what + \" \" + name), ::probe(::getroottable()));\n"
    u"  return {\n"
    u"    _newslot = function(k, v) { ran(\"_newslot\"); this.rawset(k, v); },\n"
    u"    _set = function(k, v) { ran(\"_set\"); this.rawset(k, v); },\n"
    u"    _get = function(k) { ran(\"_get\"); throw null; },\n"
    u"    _delslot = function(k) { ran(\"_delslot\"); this.rawdelete(k); },\n"
    u"    _cloned = function(o) { ran(\"_cloned\"); },\n"
    u"    _nexti = function(i) { ran(\"_nexti\"); return null; },\n"
    u"    _call = function(...) { ran(\"_call\"); },\n"
    u"    _tostring = function() { ran(\"_tostring\"); return \"\"; },\n"
    u"    _typeof = function() { ran(\"_typeof\"); return \"table\"; },\n"
    u"    _cmp = function(o) { ran(\"_cmp\"); return 0; },\n"
    u"    _add = function(o) { ran(\"_add\"); return this; },\n"
    u"    _unm = function() { ran(\"_unm\"); return this; },\n"
    u"  };\n"
    u"}\n";

class Sandbox : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Reached().clear();
    const HSQUIRRELVM vm = host->GetVM();
    sq_pushroottable(vm);
    for (const char16_t* name : kHostOnlyNames) {
      sq_pushstring(vm, name, -1);
      sq_pushstring(vm, name, -1);
      sq_newclosure(vm, Trap, 1);
      sq_rawset(vm, -3);
    }
    sq_poptop(vm);
  }

  CScriptEnvironment* MakeProbing(const char16_t* name) {
    CScriptEnvironment* environment = MakeEnvironment(name);
    EXPECT_TRUE(Run(environment, kProbe + kHostileDelegate));
    return environment;
  }

  // The raw identity of the table held under name in a table the host holds.
  SQRawObjectVal EntryOf(const CScriptObjectRef& table, const char16_t* name) {
    const HSQUIRRELVM vm = host->GetVM();
    table.Push(vm);
    sq_pushstring(vm, name, -1);
    SQRawObjectVal raw = 0;
    if (SQ_SUCCEEDED(sq_rawget(vm, -2))) {
      HSQOBJECT object;
      sq_getstackobj(vm, -1, &object);
      raw = object._unVal.raw;
      sq_poptop(vm);
    }
    sq_poptop(vm);
    return raw;
  }

  // A freshly built environment as the host promises it: its thread's root is its own table of the copied names
  // without delegate, held in Debug.RootTables; its constant table is its own, without delegate, in
  // Debug.ConstantTables.
  void ExpectBuiltClean(CScriptEnvironment* environment, const char16_t* name) {
    const HSQUIRRELVM t = environment->GetThread();
    sq_pushroottable(t);
    HSQOBJECT root;
    sq_getstackobj(t, -1, &root);
    EXPECT_EQ(sq_getsize(t, -1), SQInteger(CScriptEnvironment::kCopiedNameCount));
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getdelegate(t, -1)));
    EXPECT_EQ(sq_gettype(t, -1), OT_NULL);
    sq_pop(t, 2);
    EXPECT_EQ(root._unVal.raw, EntryOf(host->GetRootTables(), name));
    const HSQOBJECT& constants = environment->GetConstantTable().GetObject();
    EXPECT_EQ(constants._type, OT_TABLE);
    EXPECT_EQ(constants._unVal.raw, EntryOf(host->GetConstantTables(), name));
    environment->GetConstantTable().Push(t);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getdelegate(t, -1)));
    EXPECT_EQ(sq_gettype(t, -1), OT_NULL);
    sq_pop(t, 2);
    EXPECT_EQ(sq_gettop(t), 0);
  }
};

// The probe itself: handed the host's root, it reaches all four traps.
TEST_F(Sandbox, TheProbeReachesTheTrapsWhenGivenTheHostsRoot) {
  CScriptEnvironment* environment = MakeProbing(u"leak");
  const HSQUIRRELVM t = environment->GetThread();
  sq_pushroottable(t);
  sq_pushstring(t, u"leak", -1);
  sq_pushroottable(host->GetVM());
  sq_move(t, host->GetVM(), -1);
  sq_poptop(host->GetVM());
  sq_rawset(t, -3);
  sq_poptop(t);
  EXPECT_TRUE(Run(environment, u"probe(::leak);"));
  EXPECT_EQ(Reached(), (Lines{"system", "printf", "remove", "rename"}));
}

// A script gives the shared tables the building of another environment touches (and those it could) delegates
// with every metamethod, directly or one delegate further; environments built afterwards, of a new name and of
// the hostile one's own, run none of them and come out whole.
TEST_F(Sandbox, BuildingAnEnvironmentRunsNoScriptWhateverTheSharedTablesDelegatesDo) {
  const std::vector<std::u16string> targets = {u"Debug.RootTables", u"Debug.ConstantTables", u"Debug", u"Shared",
                                               u"Engine",           u"getconsttable()"};
  int built = 0;
  for (const std::u16string& target : targets) {
    for (const bool deeper : {false, true}) {
      SCOPED_TRACE(Narrow(target) + (deeper ? " (delegate of a delegate)" : ""));
      CScriptEnvironment* hostile = MakeProbing(u"hostile");
      const std::u16string install = deeper ? target + u".setdelegate({}.setdelegate(hostile(\"" + target + u"\")));"
                                            : target + u".setdelegate(hostile(\"" + target + u"\"));";
      ASSERT_TRUE(Run(hostile, install));
      // The delegate is live: an operation of the script's own runs it.
      Recorded().clear();
      bool ok = false;
      const std::string failed = Errors(hostile, target + u".absent;", &ok);
      EXPECT_FALSE(ok) << failed;
      EXPECT_EQ(Recorded().size(), 1u);
      Recorded().clear();
      Reached().clear();
      // Built while no environment runs, and while the hostile one is entered (its constant table the machine's).
      for (const bool entered : {false, true}) {
        SCOPED_TRACE(entered ? "hostile entered" : "nothing entered");
        if (entered) {
          host->PushRunningEnvironment(hostile);
          hostile->Enter();
        }
        const std::u16string fresh = u"fresh" + text::Utf8ToUtf16(std::to_string(built++));
        CScriptEnvironment* clean = MakeEnvironment(fresh.c_str());
        CScriptEnvironment* namesake = MakeEnvironment(u"hostile");
        if (entered) {
          hostile->Leave();
          host->PopRunningEnvironment();
        }
        EXPECT_EQ(Recorded(), Lines{});
        EXPECT_EQ(Reached(), Lines{});
        ExpectBuiltClean(clean, fresh.c_str());
        ExpectBuiltClean(namesake, u"hostile");
      }
      // Take the delegate off again for the next row.
      ASSERT_TRUE(Run(hostile, target + u".setdelegate(null);"));
      environments.clear();
    }
  }
}

// A script changes the Debug tables' contents and slots rather than their delegates: entries waiting under the
// next environment's name (with delegates of their own), emptied tables, and the Debug slots replaced by tables
// of its own. The next environment is built into the tables the host holds, running nothing.
TEST_F(Sandbox, BuildingAnEnvironmentRunsNoScriptAfterTheDebugTablesChanged) {
  const std::vector<const char16_t*> changes = {
      u"Debug.RootTables.next <- {}.setdelegate(hostile(\"waiting root\"));",
      u"Debug.ConstantTables.next <- {}.setdelegate(hostile(\"waiting constants\"));",
      u"Debug.RootTables.clear(); Debug.ConstantTables.clear();",
      u"delete Debug.RootTables; Debug.RootTables <- {}.setdelegate(hostile(\"replaced\"));",
      u"Debug.ConstantTables = {}.setdelegate(hostile(\"replaced\")); Debug.setdelegate(hostile(\"Debug\"));",
      u"for (local i = 0; i < 1000; ++i) Debug.RootTables[i] <- Debug.ConstantTables[i] <- i;",
  };
  for (const char16_t* change : changes) {
    SCOPED_TRACE(Narrow(change));
    CScriptEnvironment* hostile = MakeProbing(u"hostile");
    ASSERT_TRUE(Run(hostile, change));
    Recorded().clear();
    Reached().clear();
    CScriptEnvironment* next = MakeEnvironment(u"next");
    EXPECT_EQ(Recorded(), Lines{});
    EXPECT_EQ(Reached(), Lines{});
    ExpectBuiltClean(next, u"next");
    EXPECT_EQ(Errors(next, kProbe + u"foreach (k, v in getroottable()) probe(v);"), "");
    EXPECT_EQ(Reached(), Lines{});
    environments.clear();
    // A fresh host for the next row: the change stays in the shared tables.
    TearDown();
    SetUp();
  }
}

// Building the next environment while a script's metamethod would try to take it over: replacing the new
// thread's root or the machine's constant table from inside the building. Nothing runs, so nothing is replaced.
TEST_F(Sandbox, NoScriptReplacesTheRootOrConstantsOfAnEnvironmentBeingBuilt) {
  CScriptEnvironment* hostile = MakeProbing(u"hostile");
  ASSERT_TRUE(Run(hostile,
                  u"::mine <- {};\n"
                  u"local takeover = function(k, v) {\n"
                  u"  Engine.Record(\"ran\"); probe(getroottable()); setroottable(::mine); setconsttable(::mine);\n"
                  u"  rawset(k, v);\n"
                  u"};\n"
                  u"Debug.RootTables.setdelegate({ _newslot = takeover, _set = takeover });\n"
                  u"Debug.ConstantTables.setdelegate({ _newslot = takeover, _set = takeover });\n"));
  const HSQUIRRELVM vm = host->GetVM();
  sq_pushconsttable(vm);
  HSQOBJECT before;
  sq_getstackobj(vm, -1, &before);
  sq_poptop(vm);
  Recorded().clear();
  CScriptEnvironment* next = MakeEnvironment(u"next");
  EXPECT_EQ(Recorded(), Lines{});
  EXPECT_EQ(Reached(), Lines{});
  ExpectBuiltClean(next, u"next");
  sq_pushconsttable(vm);
  HSQOBJECT after;
  sq_getstackobj(vm, -1, &after);
  sq_poptop(vm);
  EXPECT_EQ(after._unVal.raw, before._unVal.raw);
  EXPECT_EQ(
      Recording(next, u"Engine.Record(getroottable() == Debug.RootTables[\"next\"], \"mine\" in getroottable());"),
      Lines{"bool:true,bool:false"});
}

// Routes a script may take at run time towards a root table: each yields only its own environment's (or
// another environment's) tables, never the host's, so no probe reaches a trap.
TEST_F(Sandbox, NoRouteAtRunTimeYieldsTheHostsRoot) {
  CScriptEnvironment* environment = MakeProbing(u"routes");
  MakeProbing(u"other");
  const std::vector<const char16_t*> routes = {
      u"probe(getroottable()); probe(::getroottable());",
      u"local old = setroottable({}); probe(old); probe(setroottable(old)); probe(getroottable());",
      u"local old = getroottable(); try { probe(setroottable(null)); } catch (e) {} probe(getroottable()); "
      u"setroottable(old);",
      u"probe(getconsttable()); local old = setconsttable({}); probe(old); probe(setconsttable(old));",
      u"newthread(function() { probe(getroottable()); }).call();",
      u"newthread(@() newthread(@() probe(getroottable())).call()).call();",
      u"local th = newthread(function() { suspend(getroottable()); probe(getroottable()); }); probe(th.call()); "
      u"th.wakeup();",
      u"function gen() { probe(getroottable()); yield getroottable(); probe(getroottable()); }"
      u" foreach (r in gen()) probe(r);",
      u"probe(callee().getroot()); probe((function() {}).getroot()); probe((@() 1).getroot());",
      u"probe(compilestring(\"return getroottable()\")()); probe(compilestring(\"return 1\").getroot());",
      u"foreach (f in [print, format, Engine.Record, getroottable, compilestring])"
      u" try { probe(f.getroot()); } catch (e) {}",
      u"probe((function() { return getroottable(); }).bindenv({})());",
      u"local f = function() { return getroottable(); }; f.setroot({}); probe(f()); probe(f.getroot());",
      u"local f = function() { return ::getroottable(); }; try { f.setroot(null); } catch (e) {} probe(f());",
      u"foreach (r in Debug.RootTables) probe(r); foreach (c in Debug.ConstantTables) probe(c);",
      u"probe(Debug.GetRegistryTable()); foreach (k, v in Debug.GetRegistryTable()) { probe(k); probe(v); }",
      u"probe(Shared); probe(Debug); probe(Engine); probe(Shared.getdelegate()); probe(Debug.getdelegate());",
      u"setdebughook(function(...) { probe(getroottable()); }); dummy(); setdebughook(null);",
      u"local c = {}; c.self <- c; c = null; probe(getroottable()); local u = resurrectunreachable();"
      u" if (u != null) foreach (o in u) probe(o);",
      // A null root: threads, compiled closures and the constants made meanwhile fall back to a root of the
      // environment's, never the host's.
      u"local g = @(get) get(); local old = setroottable(null); local th = newthread(g); local f = compilestring("
      u"\"return ::getroottable()\"); local c = getconsttable(); setroottable(old); probe(th.call(getroottable));"
      u" probe(f()); probe(c);",
      u"local th = newthread(function() { local r = getroottable(); suspend(r); }); probe(th.call());"
      u" foreach (k, v in th.getstackinfos(0).locals) probe(v); th.wakeup();",
      u"foreach (x in [\"\", [], 1, {}, print, getroottable]) try { probe(x.tostring.bindenv({}).getroot()); }"
      u" catch (e) {}",
      u"for (local i = 0, info; (info = getstackinfos(i)) != null; ++i) {"
      u"  foreach (v in info) probe(v); if (\"locals\" in info) foreach (v in info.locals) probe(v); }",
  };
  for (const char16_t* route : routes) {
    SCOPED_TRACE(Narrow(route));
    Reached().clear();
    bool ok = false;
    EXPECT_EQ(Errors(environment, route, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Reached(), Lines{});
  }
}

// Everything a script can reach from its root, followed through keys, values, delegates, classes, instances,
// closures' roots, the registry and the constant table, probed table by table (a weak reference in a slot reads as
// its target).
TEST_F(Sandbox, NothingReachableFromAnEnvironmentIsTheHostsRoot) {
  CScriptEnvironment* environment = MakeProbing(u"walker");
  CScriptEnvironment* other = MakeProbing(u"other");
  ASSERT_TRUE(Run(other, u"Shared.fromOther <- function() {}; Shared.weak <- getroottable().weakref();"));
  Recorded().clear();
  EXPECT_TRUE(Run(environment,
                  u"local seen = {}, todo = [getroottable(), Debug.GetRegistryTable(), getconsttable()];\n"
                  u"local walked = {};\n"
                  u"local kinds = [\"table\", \"array\", \"class\", \"instance\", \"function\", \"weakref\"];\n"
                  u"while (todo.len()) {\n"
                  u"  local x = todo.pop();\n"
                  u"  local kind = type(x);\n"
                  u"  if (!(kind in walked)) walked[kind] <- 0;\n"
                  u"  if (kinds.find(kind) == null || x in seen) continue;\n"
                  u"  seen[x] <- true;\n"
                  u"  walked[kind]++;\n"
                  u"  switch (kind) {\n"
                  u"    case \"table\": probe(x); todo.push(x.getdelegate());\n"
                  u"      foreach (k, v in x) { todo.push(k); todo.push(v); } break;\n"
                  u"    case \"array\": foreach (v in x) todo.push(v); break;\n"
                  u"    case \"class\": todo.push(x.getbase()); foreach (k, v in x) todo.push(v);\n"
                  u"      try { todo.push(x.getattributes(null)); } catch (e) {} break;\n"
                  u"    case \"instance\": todo.push(x.getclass()); break;\n"
                  u"    case \"function\": try { todo.push(x.getroot()); } catch (e) {} break;\n"
                  u"    case \"weakref\": todo.push(x.ref()); break;\n"
                  u"  }\n"
                  u"}\n"
                  u"Engine.Record(walked.table > 8, walked[\"class\"] >= 5, walked[\"function\"] >= 3);\n"));
  EXPECT_EQ(Recorded(), Lines{"bool:true,bool:true,bool:true"});
  EXPECT_EQ(Reached(), Lines{});
}

// The host's report of an uncaught error: "sqvm: <text>." and one frame.
std::string Report(const std::string& text) {
  return "sqvm: " + text + ".\nStack Dump:\n[1]: function [main()] test.nut line [1]\n";
}

// One environment prepares shared objects, its own thread and what it can reach of another's, then the host does
// what it does later: builds the next environment, fires the other's handler (a new event and a reused one, whose
// instance the host makes and resets on its own machine) and reports the other's uncaught errors. None of the
// host's paths runs the hostile code, and the other keeps its report. Some rows end with the victim calling what
// the hostile one shared: that code runs, but only on the victim's thread, with the victim's root.
TEST_F(Sandbox, NothingOneEnvironmentPreparesReachesTheHostOrSilencesAnother) {
  struct Row {
    const char16_t* hostile;
    const char16_t* victim;  // code of the victim's own, after the host's paths ran
    bool victimRunsHostile;
  };
  const std::u16string ran =
      u"function ran(what) {\n"
      u"  Engine.Record(what); probe(getroottable()); probe(::getroottable());\n"
      u"  newthread(@() probe(getroottable())).call(); seterrorhandler(null);\n"
      u"}\n";
  const char16_t* loud =
      u"class Loud { function _tostring() { ran(\"_tostring\"); return \"loud\"; } }"
      u" Shared.loud <- Loud(); Shared.table <- {}.setdelegate({ _tostring = @() ran(\"_tostring\") });";
  const std::vector<Row> rows = {
      // Metamethods, a constructor and an _inherited of the shared class of events, before its first instance.
      {u"local n = 0; foreach (k, f in hostile(\"Event\")) try { Engine.Event.newmember(k, f); ++n; } catch (e) {}"
       u" Engine.Event.newmember(\"constructor\", @(...) ran(\"constructor\"));"
       u" Engine.Event.newmember(\"_inherited\", @(...) ran(\"_inherited\")); assert(n >= 10);",
       u"", false},
      // Delegates on every shared table, the registry and the victim's own root and constants.
      {u"foreach (t in [Debug.RootTables, Debug.ConstantTables, Debug, Shared, Engine, getconsttable(),"
       u" Debug.GetRegistryTable(), Debug.RootTables.victim, Debug.ConstantTables.victim])"
       u" t.setdelegate(hostile(\"delegate\"));",
       u"", false},
      // The hostile thread's own hook and handler, set by name through the victim's root too.
      // (A hook that makes threads would run again in each: they take its hook.)
      {u"local hook = @(...) (Engine.Record(\"hook\"), probe(getroottable()), probe(::getroottable()));"
       u" setdebughook(hook); seterrorhandler(@(e) ran(\"handler\")); enabledebuginfo(true);"
       u" Debug.RootTables.victim.seterrorhandler(null); Debug.RootTables.victim.setdebughook(hook);",
       u"", false},
      // Natives as its error handler and debug hook, with its uncaught errors on threads of its own.
      {u"foreach (f in [getroottable, newthread, compilestring, setroottable, print, Engine.Handler]) {"
       u"  seterrorhandler(f);"
       u"  foreach (x in [null, @() probe(getroottable()), \"return ::getroottable()\", {}]) {"
       u"    try { newthread(function(x) { throw x; }).call(x); } catch (e) {}"
       u"    try { setdebughook(f); newthread(@(x) x).call(x); } catch (e) {} setdebughook(null); } }",
       u"", false},
      // A value whose conversion to text runs script, thrown by the victim: the report does not convert it.
      // The machine's default delegates, which every environment's strings, arrays and numbers share, and the
      // class the blob natives make their results of, kept in the registry.
      {u"foreach (x in [\"\", [], 1, 1.0, true, {}, print, newthread(print), {}.weakref()])"
       u"  foreach (k in [\"len\", \"tostring\", \"_get\", \"_call\"]) {"
       u"    try { x[k] <- @(...) ran(\"default\"); } catch (e) {}"
       u"    try { x[k] = @(...) ran(\"default\"); } catch (e) {} }"
       u" foreach (k, v in Debug.GetRegistryTable()) Debug.GetRegistryTable()[k] = class { constructor(...) {"
       u" ran(\"registry\"); } };",
       u"\"abc\".len(); [1].len(); (1).tostring(); print.tostring();"
       u" try { blob(4).readblob(2); } catch (e) {}"
       u" foreach (x in [\"\", [], 1, {}]) try { x._get(); } catch (e) {}",
       false},
      {loud, u"throw Shared.loud;", false},
      {loud, u"throw Shared.table;", false},
      // A generator, a suspended thread and closures bound to the victim's root, used by the victim.
      {u"Shared.gen <- (function() { while (true) { ran(\"gen\"); yield ::getroottable(); } })();"
       u" Shared.th <- newthread(function() { while (true) { ran(\"thread\"); suspend(::getroottable()); } });"
       u" probe(Shared.th.call());"
       u" Shared.bound <- (function() { ran(\"bound\"); return ::getroottable(); }).bindenv(Debug.RootTables.victim);"
       u" Shared.rooted <- function() { ran(\"rooted\"); return ::getroottable(); };"
       u" Shared.rooted.setroot(Debug.RootTables.victim); Shared.weak <- getroottable().weakref();",
       u"probe(resume Shared.gen); probe(Shared.th.wakeup()); probe(Shared.bound()); probe(Shared.rooted());"
       u" probe(Shared.weak.ref()); foreach (i, v in Shared.th.getstackinfos(0).locals) probe(v);",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.hostile));
    CEventType* type = AddEventType(u"OnVictim");
    CScriptEnvironment* victim = MakeProbing(u"victim");
    ASSERT_TRUE(Run(victim, u"Engine.AddHandler(\"OnVictim\", function(e) { throw \"bad\"; });"));
    CScriptEnvironment* hostile = MakeProbing(u"hostile");
    bool prepared = false;
    Errors(hostile, ran + row.hostile, &prepared);
    ASSERT_TRUE(prepared);
    Recorded().clear();
    Reached().clear();

    CScriptEnvironment* next = MakeEnvironment(u"next");
    ExpectBuiltClean(next, u"next");
    const std::string fired = "sqvm: bad.\nStack Dump:\n[1]: function [unknown()] test.nut line [1]\n";
    ::testing::internal::CaptureStderr();
    auto* event = new CEvent(type);
    event->Trigger(nullptr, nullptr);
    event->Release();
    CReusedEvent reused;
    for (int firing = 0; firing < 3; ++firing) reused.Fire(type, nullptr);
    reused.Drop();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), fired + fired + fired + fired);
    EXPECT_EQ(Errors(victim, u"throw \"bad\";"), Report("bad"));
    EXPECT_EQ(Recorded(), Lines{});

    // A value that is not text is reported by its stack alone.
    const bool throws = std::u16string_view(row.victim).starts_with(u"throw");
    EXPECT_EQ(Errors(victim, row.victim), throws ? "Stack Dump:\n[1]: function [main()] test.nut line [1]\n" : "");
    if (row.victimRunsHostile) {
      EXPECT_FALSE(Recorded().empty());
    } else {
      EXPECT_EQ(Recorded(), Lines{});
      EXPECT_EQ(Errors(victim, u"throw \"bad\";"), Report("bad"));
    }
    EXPECT_EQ(Reached(), Lines{});
    environments.clear();
    TearDown();
    SetUp();
  }
}

// One environment replaces or clears its error handler: its own uncaught errors go there (run on its own thread,
// with its own root), while every other environment's, the threads they make and environments built afterwards
// keep the host's report. Both orders of the pair.
TEST_F(Sandbox, EachEnvironmentsErrorHandlerIsItsOwn) {
  CScriptEnvironment* first = MakeProbing(u"first");
  CScriptEnvironment* second = MakeProbing(u"second");
  AddEventType(u"OnFails");
  ASSERT_TRUE(Run(second, u"Engine.AddHandler(\"OnFails\", function(e) { throw \"in second\"; });"));
  for (auto [own, others] : {std::pair{first, second}, std::pair{second, first}}) {
    const std::string ownName = own == first ? "first" : "second";
    SCOPED_TRACE(ownName + " sets its handler");
    const std::u16string setHandler =
        u"seterrorhandler(function(e) { probe(getroottable()); "
        u"Engine.Record(\"handled \" + e, getroottable() == Debug.RootTables[\"" +
        text::Utf8ToUtf16(ownName) + u"\"]); });";
    for (const char16_t* handler : {setHandler.c_str(), u"seterrorhandler(null);"}) {
      const bool replaced = handler == setHandler.c_str();
      SCOPED_TRACE(replaced ? "replaced" : "cleared");
      ASSERT_TRUE(Run(own, handler));
      CScriptEnvironment* later = MakeProbing(replaced ? u"laterReplaced" : u"laterCleared");
      const Lines handled = replaced ? Lines{"string:handled bad,bool:true"} : Lines{};
      for (const char16_t* code : {u"throw \"bad\";", u"newthread(function() { throw \"bad\"; }).call();"}) {
        SCOPED_TRACE(Narrow(code));
        Recorded().clear();
        EXPECT_EQ(Errors(own, code), "");
        EXPECT_EQ(Recorded(), handled);
        for (CScriptEnvironment* reporting : {others, later}) {
          Recorded().clear();
          const std::string report = Errors(reporting, code);
          EXPECT_EQ(report.rfind("sqvm: bad.\nStack Dump:\n", 0), 0u) << report;
          EXPECT_EQ(Recorded(), Lines{});
        }
      }
      // A handler of the second environment fired from the first fails on the second's thread, with its handler.
      Recorded().clear();
      const std::string fired = Errors(first, u"Engine.Fire(\"OnFails\");");
      if (own == second && replaced) {
        EXPECT_EQ(fired, "");
        EXPECT_EQ(Recorded(), (Lines{"string:handled in second,bool:true"}));
      } else if (own == second) {
        EXPECT_EQ(fired, "");
      } else {
        EXPECT_EQ(fired.rfind("sqvm: in second.\nStack Dump:\n", 0), 0u) << fired;
      }
    }
    // Back to the host's report for the other order.
    ASSERT_TRUE(Run(own, u"seterrorhandler(Engine.Handler);"));
    EXPECT_EQ(Errors(own, u"throw \"again\";"), Report("again"));
  }
  EXPECT_EQ(Reached(), Lines{});
}

// compilestring's compile error that nothing catches is reported once, with the compiler's text, as other
// uncaught errors are; caught, it is not reported.
TEST_F(Sandbox, AnUncaughtCompileErrorOfCompilestringIsReportedOnce) {
  CScriptEnvironment* environment = MakeEnvironment(u"compile");
  struct Row {
    const char16_t* source;
    const char* text;
  };
  for (const Row& row :
       {Row{u"\"local x = ;\"", "expression expected"}, Row{u"\"break\"", "'break' has to be in a loop block"},
        Row{u"\"local s = \\\"open\"", "unfinished string"}}) {
    SCOPED_TRACE(row.text);
    const std::u16string call = u"compilestring(" + std::u16string(row.source) + u")";
    Recorded().clear();
    EXPECT_EQ(Errors(environment, u"try { " + call + u"; } catch (e) Engine.Record(e);"), "");
    EXPECT_EQ(Recorded(), Lines{std::string("string:") + row.text});
    EXPECT_EQ(Errors(environment, call + u";"), Report(row.text));
    EXPECT_EQ(Errors(environment, u"newthread(@() " + call + u").call();"),
              "sqvm: " + std::string(row.text) + ".\nStack Dump:\n[1]: function [unknown()] test.nut line [1]\n");
  }
}

// A handler that suspends is woken with an error of its own, however often it suspends and whatever the thread
// failed with before; what a try in the handler catches is that same text.
TEST_F(Sandbox, AHandlerThatSuspendsIsReportedForThat) {
  CScriptEnvironment* environment = MakeEnvironment(u"suspends");
  const std::string suspended = Narrow(kHandlerSuspendedMessage);
  struct Row {
    const char16_t* handler;
    int reports;
    Lines recorded;
  };
  const std::vector<Row> rows = {
      {u"function(...) { suspend(); }", 1, {}},
      {u"function(...) { suspend(\"value\"); Engine.Record(\"resumed\"); }", 1, {}},
      {u"function(...) { local inner = @() suspend(1); inner(); }", 1, {}},
      {u"function(...) { try { suspend(); } catch (e) Engine.Record(e); }", 0, {"string:" + suspended}},
      {u"function(...) { try { suspend(); } catch (e) Engine.Record(e); suspend(); }", 1, {"string:" + suspended}},
      {u"function(...) { for (local i = 0; i < 3; ++i) try { suspend(); } catch (e) {} suspend(); }", 1, {}},
      // suspend called through the function's own natives
      {u"function(...) { suspend.call(this); }", 1, {}},
      {u"function(...) { suspend.acall([this]); }", 1, {}},
      {u"function(...) { suspend.pcall(this); }", 1, {}},
      {u"function(...) { suspend.bindenv({})(); }", 1, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.handler));
    // An earlier error the thread failed with, which the report must not repeat.
    Errors(environment, u"throw \"earlier\";");
    ASSERT_TRUE(Run(environment, u"Shared.handler <- " + std::u16string(row.handler) + u";"));
    host->GetSharedTable().Push(host->GetVM());
    sq_pushstring(host->GetVM(), u"handler", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_rawget(host->GetVM(), -2)));
    CScriptObjectRef closure;
    closure.SetFromStack(host->GetVM(), -1);
    sq_pop(host->GetVM(), 2);
    Recorded().clear();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(environment->CallHandler(closure, nullptr), false);
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Recorded(), row.recorded);
    EXPECT_EQ(report.find("earlier"), std::string::npos) << report;
    const auto count = [&report](const std::string& what) {
      int found = 0;
      for (std::size_t at = report.find(what); at != std::string::npos; at = report.find(what, at + 1)) ++found;
      return found;
    };
    EXPECT_EQ(count("sqvm: "), row.reports) << report;
    const int reports = count("sqvm: " + suspended + ".\nStack Dump:\n");
    EXPECT_EQ(reports, row.reports) << report;
    EXPECT_EQ(sq_gettop(environment->GetThread()), 0);
  }
}

}  // namespace
}  // namespace hosttest
