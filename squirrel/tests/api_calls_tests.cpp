// Native closures, parameter checks, calls, errors, threads and debug information.
#include "api_fixture.h"
#include "runtime.h"

#include <vector>

using apitest::SquirrelApi;

namespace {

SQInteger NativeSum(HSQUIRRELVM v) {
  SQInteger n = sq_gettop(v), total = 0;
  for (SQInteger i = 2; i <= n; ++i) {
    SQInteger x = 0;
    sq_getinteger(v, i, &x);
    total += x;
  }
  sq_pushinteger(v, total);
  return 1;
}

SQInteger NativeCount(HSQUIRRELVM v) {
  sq_pushinteger(v, sq_gettop(v));
  return 1;
}

SQInteger NativeRecurse(HSQUIRRELVM v) {
  // Calls the script function passed as its argument, which calls back here.
  sq_push(v, 2);
  sq_pushroottable(v);
  sq_push(v, 2);
  if (SQ_FAILED(sq_call(v, 2, SQTrue, SQFalse))) return SQ_ERROR;
  return 1;
}

std::vector<std::u16string> g_compileErrors;
void OnCompileError(HSQUIRRELVM, const SQChar* desc, const SQChar* src, SQInteger line, SQInteger col) {
  g_compileErrors.push_back(text::FormatString(u"%s|%s|%d|%d", desc, src, line, col));
}

std::vector<std::u16string> g_handled;
SQInteger ErrorHandler(HSQUIRRELVM v) {
  const SQChar* s = nullptr;
  std::u16string entry = SQ_SUCCEEDED(sq_getstring(v, 2, &s)) ? s : u"<object>";
  SQStackInfos si;
  if (SQ_SUCCEEDED(sq_stackinfos(v, 1, &si))) entry += text::FormatString(u"@%s:%d", si.funcname, si.line);
  g_handled.push_back(entry);
  return 0;
}

}  // namespace

struct MaskCase {
  const char16_t* mask;
  SQInteger nparams;
  const char16_t* call;
  const char16_t* error;  // nullptr: the call succeeds
};

class SquirrelParamCheck : public SquirrelApi, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(SquirrelParamCheck, ChecksCountAndTypes) {
  const MaskCase& c = GetParam();
  RegisterGlobal(u"f", NativeCount, c.nparams, c.mask);
  bool ok = Run(std::u16string(u"f(") + c.call + u");");
  if (!c.error) {
    EXPECT_TRUE(ok) << text::Utf16ToUtf8(LastError());
  } else {
    EXPECT_FALSE(ok);
    EXPECT_EQ(LastError(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Masks, SquirrelParamCheck,
    ::testing::Values(
        MaskCase{u".n", 2, u"1", nullptr}, MaskCase{u".n", 2, u"1.5", nullptr},
        MaskCase{u".n", 2, u"\"s\"", u"parameter 1 has an invalid type 'string' ; expected: 'integer|float'"},
        MaskCase{u".n", 2, u"", u"wrong number of parameters"},
        MaskCase{u".n", 2, u"1, 2", u"wrong number of parameters"},
        MaskCase{u".s|o", -2, u"null", nullptr}, MaskCase{u".s|o", -2, u"\"a\", 5, 6", nullptr},
        MaskCase{u".s|o", -2, u"", u"wrong number of parameters"},
        MaskCase{u".b", -1, u"", nullptr}, MaskCase{u".b", -1, u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'bool'"},
        MaskCase{u".tauxyv", SQ_MATCHTYPEMASKSTRING, u"{}, [], 1, 2, 3, 4", u"parameter 3 has an invalid type 'integer' ; expected: 'userdata'"},
        MaskCase{u".iii", SQ_MATCHTYPEMASKSTRING, u"1, 2", u"wrong number of parameters"},
        MaskCase{u".iii", SQ_MATCHTYPEMASKSTRING, u"1, 2, 3", nullptr},
        MaskCase{u".c", 2, u"print", nullptr}, MaskCase{u".c", 2, u"function() {}", nullptr},
        MaskCase{u".g", 2, u"(function() { yield 1; })()", nullptr},
        MaskCase{u".p", 2, u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'userpointer'"},
        MaskCase{u".r", 2, u"{}.weakref()", nullptr},
        MaskCase{u"..", 2, u"null", nullptr}, MaskCase{u"i", 1, u"", u"parameter 0 has an invalid type 'table' ; expected: 'integer'"}));

TEST_F(SquirrelApi, ParamCheckWithEveryLetterParses) {
  sq_newclosure(v, NativeCount, 0);
  EXPECT_TRUE(SQ_SUCCEEDED(sq_setparamscheck(v, SQ_MATCHTYPEMASKSTRING, u"oifnstauxcbgpvyr.")));
  SQInteger np = 0, nf = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getclosureinfo(v, -1, &np, &nf)));
  EXPECT_EQ(np, 17);
  EXPECT_EQ(nf, 0);
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u"q")));
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u"i|")));
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u"i")));
  EXPECT_TRUE(SQ_FAILED(sq_setnativeclosurename(v, -1, u"x")));
  EXPECT_EQ(LastError(), u"the object is not a nativeclosure");
}

TEST_F(SquirrelApi, CallLeavesTheClosureAndPushesTheResult) {
  RegisterGlobal(u"sum", NativeSum);
  ASSERT_TRUE(Run(u"function add(a, b) { return a + b; }"));
  sq_pushroottable(v);
  sq_pushstring(v, u"add", -1);
  sq_get(v, -2);
  sq_pushroottable(v);
  sq_pushinteger(v, 2);
  sq_pushinteger(v, 40);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 3, SQTrue, SQTrue)));
  EXPECT_EQ(sq_gettop(v), 3) << "root, closure, result";
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 42);
  sq_pop(v, 1);
  sq_pushroottable(v);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 2, SQFalse, SQFalse))) << "a missing argument of a script function";
  EXPECT_EQ(LastError(), u"wrong number of parameters (2 passed, 3 required)");
  EXPECT_EQ(sq_gettop(v), 2) << "the arguments are popped on failure too";
  sq_pushroottable(v);
  sq_pushinteger(v, 1);
  sq_pushinteger(v, 2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 3, SQFalse, SQTrue)));
  EXPECT_EQ(sq_gettop(v), 2) << "no result pushed when retval is false";
  sq_pop(v, 1);
  sq_pushstring(v, u"sum", -1);
  sq_get(v, -2);
  sq_pushroottable(v);
  for (int k = 1; k <= 4; ++k) sq_pushinteger(v, k);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 5, SQTrue, SQTrue)));
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 10);
}

TEST_F(SquirrelApi, NativeClosureFreeVariablesAndName) {
  sq_pushinteger(v, 5);
  sq_pushstring(v, u"free", -1);
  sq_newclosure(v, [](HSQUIRRELVM vm) -> SQInteger {
    // Free variables follow the arguments.
    SQInteger n;
    sq_getinteger(vm, -2, &n);
    sq_pushinteger(vm, n * 2);
    return 1;
  }, 2);
  EXPECT_EQ(sq_gettop(v), 1) << "free variables are popped";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setnativeclosurename(v, -1, u"doubler")));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getclosurename(v, -1)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"doubler");
  sq_pop(v, 1);
  const SQChar* name = sq_getfreevariable(v, -1, 1);
  ASSERT_NE(name, nullptr);
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"free");
  sq_pop(v, 1);
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 10);
}

TEST_F(SquirrelApi, ThrowErrorAndThrowObject) {
  RegisterGlobal(u"fail", [](HSQUIRRELVM vm) -> SQInteger { return sq_throwerror(vm, u"native failure"); });
  RegisterGlobal(u"failobj", [](HSQUIRRELVM vm) -> SQInteger {
    sq_newtable(vm);
    sq_pushstring(vm, u"code", -1);
    sq_pushinteger(vm, 3);
    sq_newslot(vm, -3, SQFalse);
    return sq_throwobject(vm);
  });
  ASSERT_TRUE(Run(u"try { fail(); } catch (e) { print(e); }"));
  ASSERT_TRUE(Run(u"try { failobj(); } catch (e) { print(e.code); }"));
  EXPECT_EQ(apitest::Output(), u"native failure3");
  EXPECT_FALSE(Run(u"fail();"));
  EXPECT_EQ(LastError(), u"native failure");
  sq_reseterror(v);
  sq_getlasterror(v);
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
}

TEST_F(SquirrelApi, ErrorHandlerSeesTheFailingFrame) {
  g_handled.clear();
  sq_newclosure(v, ErrorHandler, 0);
  sq_seterrorhandler(v);
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_FALSE(Run(u"function inner() {\n  throw \"bad\";\n}\ninner();"));
  ASSERT_EQ(g_handled.size(), 1u);
  EXPECT_EQ(g_handled[0], u"bad@inner:2");
  // Caught errors and calls without raiseerror do not reach the handler.
  EXPECT_TRUE(Run(u"try { throw \"x\"; } catch (e) {}"));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, u"throw 1;", -1, u"quiet", SQTrue)));
  sq_pushroottable(v);
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 1, SQFalse, SQFalse)));
  EXPECT_EQ(g_handled.size(), 1u);
  sq_settop(v, 0);
}

TEST_F(SquirrelApi, CompileErrorsReachTheHandler) {
  g_compileErrors.clear();
  sq_setcompilererrorhandler(v, OnCompileError);
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(v, u"local x = ;", -1, u"broken.nut", SQTrue)));
  ASSERT_EQ(g_compileErrors.size(), 1u);
  EXPECT_NE(g_compileErrors[0].find(u"|broken.nut|1|"), std::u16string::npos);
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(v, u"local x = ;", -1, u"broken.nut", SQFalse)));
  EXPECT_EQ(g_compileErrors.size(), 1u) << "no handler call without raiseerror";
  struct Reader {
    const char16_t* text;
    size_t pos;
  } reader{u"return 6 * 7;", 0};
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compile(
      v, [](SQUserPointer p) -> SQInteger {
        Reader* r = static_cast<Reader*>(p);
        return r->text[r->pos] ? SQInteger(r->text[r->pos++]) : 0;
      },
      &reader, u"reader", SQTrue)));
  EXPECT_EQ(sq_gettype(v, -1), OT_CLOSURE);
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 42);
}

TEST_F(SquirrelApi, StackInfosFromANative) {
  RegisterGlobal(u"where", [](HSQUIRRELVM vm) -> SQInteger {
    SQStackInfos si;
    if (SQ_FAILED(sq_stackinfos(vm, 0, &si))) return sq_throwerror(vm, u"no level 0");
    std::u16string r = si.funcname;
    if (SQ_FAILED(sq_stackinfos(vm, 1, &si))) return sq_throwerror(vm, u"no level 1");
    r += text::FormatString(u" %s %s %d", si.funcname, si.source, si.line);
    sq_pushstring(vm, r.c_str(), -1);
    return 1;
  });
  ASSERT_TRUE(Run(u"function caller() {\n  print(where());\n}\ncaller();"));
  EXPECT_EQ(apitest::Output(), u"where caller test 2");
  SQStackInfos si;
  EXPECT_TRUE(SQ_FAILED(sq_stackinfos(v, 0, &si))) << "nothing runs";
}

TEST_F(SquirrelApi, NativeStackOverflowIsAnError) {
  RegisterGlobal(u"recurse", NativeRecurse);
  ASSERT_TRUE(Run(u"function again(f) { return recurse(f); }"));
  EXPECT_FALSE(Run(u"recurse(again);"));
  EXPECT_EQ(LastError(), u"Native stack overflow");
  EXPECT_TRUE(Run(u"print(\"still usable\");"));
  EXPECT_EQ(apitest::Output(), u"still usable");
}

TEST_F(SquirrelApi, ClosureRootBindingAcrossThreads) {
  ASSERT_TRUE(Run(u"::who <- \"main\"; ::f <- function() { return ::who; };"));
  HSQUIRRELVM t = sq_newthread(v, 256);
  sq_newtable(t);
  sq_pushstring(t, u"who", -1);
  sq_pushstring(t, u"thread", -1);
  sq_newslot(t, -3, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setroottable(t)));
  // A closure compiled in the thread binds the thread's root table.
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(t, u"return function() { return ::who; };", -1, u"t", SQTrue)));
  sq_pushroottable(t);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQTrue, SQTrue)));
  HSQOBJECT threadFn;
  sq_getstackobj(t, -1, &threadFn);
  sq_addref(t, &threadFn);
  // Calling it from the main VM still sees the thread's root.
  sq_pushobject(v, threadFn);
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"thread");
  sq_settop(v, 1);
  // And the main closure called in the thread sees the main root.
  sq_pushroottable(v);
  sq_pushstring(v, u"f", -1);
  sq_get(v, -2);
  sq_move(t, v, -1);
  sq_pushroottable(t);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQTrue, SQTrue)));
  sq_getstring(t, -1, &s);
  EXPECT_EQ(std::u16string(s), u"main");
  // sq_getclosureroot / sq_setclosureroot.
  sq_pushobject(v, threadFn);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getclosureroot(v, -1)));
  sq_pushstring(v, u"who", -1);
  sq_get(v, -2);
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"thread");
  sq_settop(v, 3);
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setclosureroot(v, -2)));
  sq_pushroottable(v);
  sq_call(v, 1, SQTrue, SQTrue);
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"main");
  sq_release(t, &threadFn);
}

TEST_F(SquirrelApi, SuspendAndWakeUpFromTheHost) {
  ASSERT_TRUE(Run(u"function co(a) { local b = suspend(a + 1); return a + b; }"));
  HSQUIRRELVM t = sq_newthread(v, 256);
  sq_pushroottable(t);
  sq_pushstring(t, u"co", -1);
  sq_get(t, -2);
  sq_pushroottable(t);
  sq_pushinteger(t, 10);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 2, SQTrue, SQTrue)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_SUSPENDED);
  sq_pushinteger(t, 5);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQTrue, SQTrue, SQTrue, SQFalse)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);
  SQInteger i = 0;
  sq_getinteger(t, -1, &i);
  EXPECT_EQ(i, 15);
  // Suspending twice: each wake-up pushes the value handed to the next suspend.
  ASSERT_TRUE(Run(u"function co2() { local a = suspend(1); local b = suspend(a + 1); return b * 10; }"));
  sq_settop(t, 0);
  sq_pushroottable(t);
  sq_pushstring(t, u"co2", -1);
  sq_get(t, -2);
  sq_pushroottable(t);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQTrue, SQTrue)));
  sq_pushinteger(t, 7);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQTrue, SQTrue, SQTrue, SQFalse)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_SUSPENDED);
  sq_getinteger(t, -1, &i);
  EXPECT_EQ(i, 8);
  sq_pushinteger(t, 4);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQTrue, SQTrue, SQTrue, SQFalse)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);
  sq_getinteger(t, -1, &i);
  EXPECT_EQ(i, 40);
  EXPECT_TRUE(SQ_FAILED(sq_wakeupvm(t, SQFalse, SQFalse, SQFalse, SQFalse)));
}

TEST_F(SquirrelApi, BindEnvAndCallee) {
  ASSERT_TRUE(Run(u"::g <- function() { return this.tag; };"));
  sq_pushroottable(v);
  sq_pushstring(v, u"g", -1);
  sq_get(v, -2);
  sq_newtable(v);
  sq_pushstring(v, u"tag", -1);
  sq_pushstring(v, u"env", -1);
  sq_newslot(v, -3, SQFalse);
  HSQOBJECT env;
  sq_getstackobj(v, -1, &env);
  sq_addref(v, &env);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_bindenv(v, -2)));
  EXPECT_EQ(sq_gettop(v), 3);
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"env");
  sq_release(v, &env);
  RegisterGlobal(u"me", [](HSQUIRRELVM vm) -> SQInteger { return SQ_SUCCEEDED(sq_getcallee(vm)) ? 1 : SQ_ERROR; });
  ASSERT_TRUE(Run(u"print(me() == me);"));
  EXPECT_EQ(apitest::Output(), u"true");
}

TEST_F(SquirrelApi, GetLocalAndFunctionInfo) {
  RegisterGlobal(u"probe", [](HSQUIRRELVM vm) -> SQInteger {
    std::u16string r;
    for (SQUnsignedInteger i = 0;; ++i) {
      const SQChar* name = sq_getlocal(vm, 1, i);
      if (!name) break;
      r += name;
      r += u",";
      sq_pop(vm, 1);
    }
    SQFunctionInfo fi;
    if (SQ_SUCCEEDED(sq_getfunctioninfo(vm, 1, &fi))) r += fi.name;
    sq_pushstring(vm, r.c_str(), -1);
    return 1;
  });
  ASSERT_TRUE(Run(u"local up = 1; function fn(a) { local b = up; print(probe()); }\nfn(1);"));
  EXPECT_EQ(apitest::Output(), u"up,b,a,this,fn") << "free variables first, then the newest local first";
}

TEST_F(SquirrelApi, PrintAndErrorGoThroughTheHostFunctions) {
  ASSERT_TRUE(Run(u"print(1.5); error(\"oops\");"));
  EXPECT_EQ(apitest::Output(), u"1.5");
  EXPECT_EQ(apitest::Errors(), u"oops");
  EXPECT_EQ(sq_getprintfunc(v), apitest::CapturePrint);
  EXPECT_EQ(sq_geterrorfunc(v), apitest::CaptureError);
}

TEST_F(SquirrelApi, ResumeAGeneratorFromTheHost) {
  ASSERT_TRUE(Run(u"::gen <- (function() { yield 1; yield 2; })();"));
  sq_pushroottable(v);
  sq_pushstring(v, u"gen", -1);
  sq_get(v, -2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_resume(v, SQTrue, SQTrue)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 1);
  sq_pop(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_resume(v, SQTrue, SQTrue)));
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 2);
}

namespace {
// The host's way of running scripts: a thread per environment with its own root table
// (a few names copied from the main root) and its own constant table swapped in while it runs.
struct Environment {
  HSQUIRRELVM thread = nullptr;
  HSQOBJECT threadRef;
  HSQOBJECT consts;
};

Environment MakeEnvironment(HSQUIRRELVM v) {
  Environment env;
  env.thread = sq_newthread(v, 1024);
  sq_getstackobj(v, -1, &env.threadRef);
  sq_addref(v, &env.threadRef);
  sq_pop(v, 1);
  HSQUIRRELVM t = env.thread;
  sq_pushroottable(t);
  sq_newtable(t);
  for (const SQChar* name : {u"print", u"getroottable", u"Shared"}) {
    sq_pushstring(t, name, -1);
    sq_pushstring(t, name, -1);
    sq_get(t, -4);
    sq_newslot(t, -3, SQFalse);
  }
  sq_remove(t, -2);
  sq_setroottable(t);
  sq_pushconsttable(t);
  sq_clone(t, -1);
  sq_remove(t, -2);
  sq_getstackobj(t, -1, &env.consts);
  sq_addref(t, &env.consts);
  sq_pop(t, 1);
  return env;
}

bool RunIn(Environment& env, const std::u16string& code) {
  HSQUIRRELVM t = env.thread;
  sq_pushconsttable(t);
  sq_pushobject(t, env.consts);
  sq_setconsttable(t);
  bool ok = SQ_SUCCEEDED(sq_compilebuffer(t, code.c_str(), SQInteger(code.size()), u"env", SQTrue));
  if (ok) {
    sq_pushroottable(t);
    ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
    sq_pop(t, 1);
  }
  sq_pushconsttable(t);
  sq_release(t, &env.consts);
  sq_getstackobj(t, -1, &env.consts);
  sq_addref(t, &env.consts);
  sq_pop(t, 1);
  sq_setconsttable(t);
  return ok;
}

void DropEnvironment(HSQUIRRELVM v, Environment& env) {
  sq_release(env.thread, &env.consts);
  sq_release(v, &env.threadRef);
}
}  // namespace

TEST_F(SquirrelApi, EnvironmentsKeepTheirGlobalsAndConstantsApart) {
  ASSERT_TRUE(Run(u"::Shared <- {};"));
  Environment a = MakeEnvironment(v), b = MakeEnvironment(v);
  ASSERT_TRUE(RunIn(a, u"const LIMIT = 3; ::mine <- 1; Shared.fromA <- LIMIT; print(getroottable().rawin(\"mine\"));"));
  ASSERT_TRUE(RunIn(b, u"print(\" \" + (\"mine\" in getroottable()) + \" \" + Shared.fromA);"));
  EXPECT_FALSE(RunIn(b, u"print(LIMIT);")) << "constants of one environment are not seen by another";
  ASSERT_TRUE(RunIn(a, u"print(\" \" + LIMIT);")) << "and stay with their own environment";
  EXPECT_EQ(apitest::Output(), u"true false 3 3");
  EXPECT_FALSE(Run(u"print(mine);")) << "the main root table is untouched";
  DropEnvironment(v, a);
  DropEnvironment(v, b);
}

TEST_F(SquirrelApi, CaughtErrorsLeaveNoStackBehind) {
  const char16_t* scripts[] = {
      u"for (local i = 0; i < 200; i++) { try { local t = {}; t.missing; } catch (e) {} }",
      u"for (local i = 0; i < 200; i++) { try { [3, 2, 1].sort(@(a, b) a.x); } catch (e) {} }",
      u"function g() { try { yield 1; throw \"x\"; } catch (e) { yield 2; } } for (local i = 0; i < 100; i++) foreach (v in g()) {}",
      u"class C { function _get(k) { throw \"no \" + k; } } for (local i = 0; i < 100; i++) { try { C().q; } catch (e) {} }",
      u"class C { _get = ::array; _set = ::array; } for (local i = 0; i < 100; i++) { try { C().q; } catch (e) {} try { C().q = 1; } catch (e) {} }",
      u"for (local i = 0; i < 100; i++) { try { local a = 1 + {}; } catch (e) {} try { local b = \"s\" < 1; } catch (e) {} }",
      u"local t = newthread(function() { throw \"t\"; }); for (local i = 0; i < 50; i++) { try { t.call(); } catch (e) {} }",
  };
  for (const char16_t* code : scripts) {
    EXPECT_TRUE(Run(code)) << text::Utf16ToUtf8(code);
    EXPECT_EQ(sq_gettop(v), 0);
    EXPECT_LE(v->top, 1) << "no values left on the VM stack";
    EXPECT_TRUE(v->frames.empty());
    EXPECT_TRUE(v->traps.empty());
  }
}

TEST(SquirrelLifetime, CloseFreesCyclesSuspendedThreadsAndHeldReferences) {
  static int released;
  released = 0;
  HSQUIRRELVM v = sq_open(64);
  const std::u16string code =
      u"::a <- {}; ::a.self <- ::a;"
      u"class K { me = null; constructor() { me = this; } } ::k <- K();"
      u"::t <- newthread(function() { local x = [1, 2]; suspend(x); });"
      u"::t.call();"
      u"::g <- (function() { local y = {}; yield y; })(); resume ::g;";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, code.c_str(), SQInteger(code.size()), u"life", SQTrue)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQTrue)));
  sq_pushroottable(v);
  sq_pushstring(v, u"K", -1);
  sq_get(v, -2);
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger) -> SQInteger {
    ++released;
    return 0;
  });
  sq_createinstance(v, -1);
  HSQOBJECT held;
  sq_getstackobj(v, -1, &held);
  sq_addref(v, &held);
  sq_pushstring(v, u"left on the stack", -1);
  sq_close(v);
  EXPECT_EQ(released, 1) << "the held instance is freed at close, and its hook runs";
}

TEST_F(SquirrelApi, ClosuresSurviveAWriteAndReadRoundTrip) {
  const std::u16string code =
      u"local function sq(x) { return x * x; }\n"
      u"local gen = function() { yield 1.5; yield \"two\"; };\n"
      u"local total = 0; foreach (v in gen()) total += typeof v == \"string\" ? v.len() : v;\n"
      u"return sq(3) + total;";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, code.c_str(), SQInteger(code.size()), u"ser", SQTrue)));
  std::string bytes;
  SQWRITEFUNC write = [](SQUserPointer up, SQUserPointer data, SQInteger n) -> SQInteger {
    static_cast<std::string*>(up)->append(static_cast<const char*>(data), size_t(n));
    return n;
  };
  ASSERT_TRUE(SQ_SUCCEEDED(sq_writeclosure(v, write, &bytes)));
  sq_settop(v, 0);
  struct Source {
    std::string data;
    size_t pos = 0;
  };
  SQREADFUNC read = [](SQUserPointer up, SQUserPointer out, SQInteger n) -> SQInteger {
    Source* s = static_cast<Source*>(up);
    size_t take = std::min(size_t(n), s->data.size() - s->pos);
    memcpy(out, s->data.data() + s->pos, take);
    s->pos += take;
    return SQInteger(take);
  };
  Source good{bytes};
  ASSERT_TRUE(SQ_SUCCEEDED(sq_readclosure(v, read, &good)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  SQFloat f = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getfloat(v, -1, &f)));
  EXPECT_FLOAT_EQ(f, 9 + 1.5f + 3);
  sq_settop(v, 0);
  // Truncated or damaged streams are refused without pushing anything.
  for (size_t cut : {size_t(1), size_t(10), bytes.size() / 2, bytes.size() - 1}) {
    Source truncated{bytes.substr(0, cut)};
    EXPECT_TRUE(SQ_FAILED(sq_readclosure(v, read, &truncated))) << cut;
    EXPECT_EQ(sq_gettop(v), 0);
  }
  std::string damaged = bytes;
  damaged[14] ^= 0x55;
  Source bad{damaged};
  EXPECT_TRUE(SQ_FAILED(sq_readclosure(v, read, &bad)));
  ASSERT_TRUE(Run(u"::f <- function() { return 1; }; local x = 2; ::g <- function() { return x; };"));
  sq_pushroottable(v);
  sq_pushstring(v, u"g", -1);
  sq_get(v, -2);
  std::string unused;
  EXPECT_TRUE(SQ_FAILED(sq_writeclosure(v, write, &unused))) << "free variables cannot be written";
}

TEST_F(SquirrelApi, NotifyAllExceptionsReportsCaughtErrorsToo) {
  g_handled.clear();
  sq_newclosure(v, ErrorHandler, 0);
  sq_seterrorhandler(v);
  ASSERT_TRUE(Run(u"try { throw \"quiet\"; } catch (e) {}"));
  EXPECT_TRUE(g_handled.empty());
  sq_notifyallexceptions(v, SQTrue);
  ASSERT_TRUE(Run(u"try { throw \"loud\"; } catch (e) {}"));
  ASSERT_EQ(g_handled.size(), 1u);
  EXPECT_EQ(g_handled[0].substr(0, 4), u"loud");
}
