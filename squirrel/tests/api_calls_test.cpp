// Native closures, parameter checks, calls, errors, compilation, threads and debug information.
#include "api_fixture.h"
#include "runtime.h"

#include <platform/text.h>

#include <vector>

using apitest::SquirrelApi;

namespace {

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

TEST_F(SquirrelApi, CallWithTooFewArgumentsNamesTheCounts) {
  ASSERT_TRUE(Run(u"function add(a, b) { return a + b; }"));
  sq_pushroottable(v);
  sq_pushstring(v, u"add", -1);
  sq_get(v, -2);
  sq_pushroottable(v);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 2, SQFalse, SQFalse)));
  EXPECT_EQ(LastError(), u"wrong number of parameters (2 passed, 3 required)");
  EXPECT_EQ(sq_gettop(v), 2) << "the arguments are popped on failure too";
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

TEST_F(SquirrelApi, ErrorHandlerSeesTheFailingFrame) {
  g_handled.clear();
  sq_newclosure(v, ErrorHandler, 0);
  sq_seterrorhandler(v);
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_FALSE(Run(u"function inner() {\n  throw \"bad\";\n}\ninner();"));
  ASSERT_EQ(g_handled.size(), 1u);
  EXPECT_EQ(g_handled[0], u"bad@inner:2");
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

namespace {

using apitest::SquirrelApi;

std::string U8(const std::u16string& s) { return text::Utf16ToUtf8(s); }


// ---- sq_call: stack effect, result and error handler ---------------------------------------------------

int g_handlerCalls;
std::u16string g_handlerSaw;

SQInteger CountingHandler(HSQUIRRELVM v) {
  ++g_handlerCalls;
  const SQChar* s = nullptr;
  g_handlerSaw = sq_gettop(v) >= 2 && SQ_SUCCEEDED(sq_getstring(v, 2, &s)) ? s : u"<none>";
  return 0;
}

struct CallCase {
  const char* name;
  const char16_t* body;
  SQBool retval;
  SQBool raiseerror;
  bool ok;
  int handlerCalls;
};

class CallCases : public SquirrelApi, public ::testing::WithParamInterface<CallCase> {};

TEST_P(CallCases, PopsTheParametersAndKeepsTheClosure) {
  const CallCase& c = GetParam();
  g_handlerCalls = 0;
  sq_newclosure(v, CountingHandler, 0);
  sq_seterrorhandler(v);
  EXPECT_EQ(sq_gettop(v), 0) << "seterrorhandler pops the handler";
  std::u16string code = std::u16string(u"return function(a, b) { ") + c.body + u" }";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, code.c_str(), -1, u"call", SQTrue)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  sq_remove(v, -2);  // the compiled main function
  ASSERT_EQ(sq_gettop(v), 1);
  sq_pushroottable(v);
  sq_pushinteger(v, 20);
  sq_pushinteger(v, 22);
  SQRESULT r = sq_call(v, 3, c.retval, c.raiseerror);
  EXPECT_EQ(SQ_SUCCEEDED(r), c.ok);
  EXPECT_EQ(sq_gettop(v), 1 + (c.ok && c.retval ? 1 : 0));
  EXPECT_EQ(sq_gettype(v, 1), OT_CLOSURE) << "the closure stays";
  if (c.ok && c.retval) {
    SQInteger n = 0;
    sq_getinteger(v, -1, &n);
    EXPECT_EQ(n, 42);
  }
  EXPECT_EQ(g_handlerCalls, c.handlerCalls);
  if (!c.ok) {
    EXPECT_EQ(LastError(), u"boom") << "the error stays the last error";
    if (c.handlerCalls) {
      EXPECT_EQ(g_handlerSaw, u"boom") << "the handler gets the error as its parameter";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, CallCases,
    ::testing::Values(CallCase{"ResultKept", u"return a + b;", SQTrue, SQTrue, true, 0},
                      CallCase{"ResultDropped", u"return a + b;", SQFalse, SQTrue, true, 0},
                      CallCase{"ErrorRaised", u"throw \"boom\";", SQTrue, SQTrue, false, 1},
                      CallCase{"ErrorQuiet", u"throw \"boom\";", SQTrue, SQFalse, false, 0},
                      CallCase{"CaughtInside", u"try { throw \"boom\"; } catch (e) {} return a + b;", SQTrue,
                               SQTrue, true, 0}),
    [](const ::testing::TestParamInfo<CallCase>& info) { return std::string(info.param.name); });

// ---- errors thrown by natives ------------------------------------------------------------------------

SQInteger ThrowsText(HSQUIRRELVM v) { return sq_throwerror(v, u"native failure"); }
SQInteger ThrowsTable(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  sq_newtable(v);
  sq_pushstring(v, u"code", -1);
  sq_pushinteger(v, 7);
  sq_newslot(v, -3, SQFalse);
  SQRESULT r = sq_throwobject(v);
  if (sq_gettop(v) != top) return sq_throwerror(v, u"throwobject did not pop");
  return r;
}

TEST_F(SquirrelApi, NativesThrowTextsAndObjects) {
  EXPECT_EQ(sq_throwerror(v, u"x"), SQ_ERROR);
  sq_pushinteger(v, 1);
  EXPECT_EQ(sq_throwobject(v), SQ_ERROR);
  EXPECT_EQ(sq_gettop(v), 0);
  RegisterGlobal(u"t1", ThrowsText);
  RegisterGlobal(u"t2", ThrowsTable);
  ASSERT_TRUE(Run(u"local m = null; try { t1(); } catch (e) { m = e; } if (m != \"native failure\") throw \"t1\";"
                  u"try { t2(); } catch (e) { m = e; } if (typeof m != \"table\" || m.code != 7) throw \"t2\";"))
      << U8(LastError());
  EXPECT_FALSE(Run(u"t1();"));
  EXPECT_EQ(LastError(), u"native failure");
  sq_reseterror(v);
  sq_getlasterror(v);
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
}

// ---- compiling ------------------------------------------------------------------------------------------

struct Reader {
  std::u16string text;
  size_t pos = 0;
  int reads = 0;
};
SQInteger ReadChar(SQUserPointer p) {
  Reader* r = static_cast<Reader*>(p);
  ++r->reads;
  return r->pos < r->text.size() ? SQInteger(r->text[r->pos++]) : 0;
}

struct CompileError {
  std::u16string desc, source;
  SQInteger line, column;
};
std::vector<CompileError> g_compileErrors;
void RecordCompileError(HSQUIRRELVM, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
  g_compileErrors.push_back({desc, source, line, column});
}

TEST_F(SquirrelApi, CompileThroughAReader) {
  g_compileErrors.clear();
  sq_setcompilererrorhandler(v, RecordCompileError);
  Reader r{u"local a = 40;\nreturn a + 2;"};
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compile(v, ReadChar, &r, u"reader", SQTrue)));
  EXPECT_EQ(sq_gettop(v), 1);
  EXPECT_EQ(sq_gettype(v, -1), OT_CLOSURE);
  EXPECT_GT(r.reads, int(r.text.size())) << "read until the reader answered 0";
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
  SQInteger n = 0;
  sq_getinteger(v, -1, &n);
  EXPECT_EQ(n, 42);
  sq_settop(v, 0);

  // A syntax error: nothing pushed, the handler gets description, source, line and column.
  Reader bad{u"local a = 1;\nlocal = 2;"};
  EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadChar, &bad, u"broken.nut", SQTrue)));
  EXPECT_EQ(sq_gettop(v), 0);
  ASSERT_EQ(g_compileErrors.size(), 1u);
  EXPECT_EQ(g_compileErrors[0].source, u"broken.nut");
  EXPECT_EQ(g_compileErrors[0].line, 2);
  EXPECT_GT(g_compileErrors[0].column, 0);
  EXPECT_FALSE(g_compileErrors[0].desc.empty());

  // Without raiseerror the handler is not called.
  Reader quiet{u"local = 2;"};
  EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadChar, &quiet, u"quiet", SQFalse)));
  EXPECT_EQ(g_compileErrors.size(), 1u);
  EXPECT_EQ(sq_gettop(v), 0);

  // The handler is shared with threads.
  HSQUIRRELVM t = sq_newthread(v, 64);
  Reader onThread{u"local = 3;"};
  EXPECT_TRUE(SQ_FAILED(sq_compile(t, ReadChar, &onThread, u"thread", SQTrue)));
  ASSERT_EQ(g_compileErrors.size(), 2u);
  EXPECT_EQ(g_compileErrors[1].source, u"thread");
  EXPECT_EQ(sq_gettop(t), 0);
}

// compilestring raises the compiler's description without the compiler's handler: when nothing catches it, the
// runtime handler reports it once, in the words a catch would see, from the frame that called compilestring.
TEST_F(SquirrelApi, AnUncaughtCompileErrorOfCompilestringIsReportedOnce) {
  g_compileErrors.clear();
  sq_setcompilererrorhandler(v, RecordCompileError);
  sq_newclosure(v, ErrorHandler, 0);
  sq_seterrorhandler(v);
  // Script literals of texts that fail in the lexer, the parser and the code generator.
  for (const char16_t* quoted : {uR"("local x = ;")", uR"("local s = \"open")", uR"("/* never closed")", uR"("break")",
                                 uR"("1 = 2")", uR"("x = (1 + 2")"}) {
    SCOPED_TRACE(text::Utf16ToUtf8(quoted));
    const std::u16string source = quoted;
    ASSERT_TRUE(Run(u"try { compilestring(" + source + u"); } catch (e) { ::caught <- e; }"));
    sq_pushroottable(v);
    sq_pushstring(v, u"caught", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    const SQChar* caught = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, -1, &caught)));
    const std::u16string description = caught;
    sq_settop(v, 0);
    EXPECT_FALSE(description.empty());
    const std::pair<std::u16string, std::u16string> rows[] = {
        {u"\ncompilestring(" + source + u");", description + u"@main:2"},
        {u"\ncompilestring.call(this, " + source + u");", description + u"@call:-1"},
        {u"try { throw \"first\"; } catch (e) {}\ncompilestring(" + source + u");", description + u"@main:2"},
        {u"newthread(function() {\ncompilestring(" + source + u");\n}).call();", description + u"@unknown:2"},
        {u"try {\ncompilestring(" + source + u");\n} catch (e) {}", u""},
    };
    for (const auto& [code, handled] : rows) {
      SCOPED_TRACE(text::Utf16ToUtf8(code));
      g_handled.clear();
      EXPECT_EQ(Run(code), handled.empty());
      EXPECT_EQ(g_handled, handled.empty() ? std::vector<std::u16string>{} : std::vector<std::u16string>{handled});
    }
  }
  EXPECT_TRUE(g_compileErrors.empty());
}

TEST_F(SquirrelApi, CompileBufferTakesSizeCharacters) {
  const SQChar* src = u"return 5; this is not squirrel";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, src, 9, u"prefix", SQFalse)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
  SQInteger n = 0;
  sq_getinteger(v, -1, &n);
  EXPECT_EQ(n, 5);
  sq_settop(v, 0);
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(v, src, -1, u"whole", SQFalse)));
  EXPECT_EQ(sq_gettop(v), 0);
}

// ---- vm state and stack infos ------------------------------------------------------------------------

std::vector<SQInteger> g_states;
SQInteger RecordState(HSQUIRRELVM v) {
  g_states.push_back(sq_getvmstate(v));
  return 0;
}
SQInteger Suspends(HSQUIRRELVM v) { return sq_suspendvm(v); }

TEST_F(SquirrelApi, VmStates) {
  g_states.clear();
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);
  RegisterGlobal(u"state", RecordState);
  RegisterGlobal(u"pause", Suspends);
  ASSERT_TRUE(Run(u"state();"));
  ASSERT_EQ(g_states.size(), 1u);
  EXPECT_EQ(g_states[0], SQ_VMSTATE_RUNNING);
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);

  HSQUIRRELVM t = sq_newthread(v, 64);  // lives as long as the thread object on v's stack
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(t, u"pause(); state();", -1, u"t", SQFalse)));
  sq_pushroottable(t);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQFalse)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_SUSPENDED);
  ASSERT_GE(sq_gettop(t), 2) << "a suspended call leaves the closure and its arguments";
  EXPECT_EQ(sq_gettype(t, 1), OT_CLOSURE);
  EXPECT_EQ(sq_gettype(t, 2), OT_TABLE);
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE) << "each thread has its own state";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQFalse, SQFalse, SQFalse, SQFalse)));
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);
  ASSERT_EQ(g_states.size(), 2u);
  EXPECT_EQ(g_states[1], SQ_VMSTATE_RUNNING);
}

std::vector<std::tuple<std::u16string, std::u16string, SQInteger>> g_frames;
SQInteger RecordFrames(HSQUIRRELVM v) {
  g_frames.clear();
  SQStackInfos si;
  for (SQInteger level = 0; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); ++level)
    g_frames.emplace_back(si.funcname ? si.funcname : u"", si.source ? si.source : u"", si.line);
  if (SQ_SUCCEEDED(sq_stackinfos(v, -1, &si))) return sq_throwerror(v, u"negative level accepted");
  return 0;
}

TEST_F(SquirrelApi, StackInfosNameEachLevel) {
  RegisterGlobal(u"where", RecordFrames);
  std::u16string code = u"function outer() {\n  inner();\n}\nfunction inner() {\n  where();\n}\nouter();\n";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, code.c_str(), -1, u"frames.nut", SQTrue)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQFalse, SQTrue))) << U8(LastError());
  ASSERT_EQ(g_frames.size(), 4u);
  EXPECT_EQ(std::get<0>(g_frames[0]), u"where") << "a native is known by its closure name";
  EXPECT_EQ(g_frames[1], std::make_tuple(std::u16string(u"inner"), std::u16string(u"frames.nut"), SQInteger(5)));
  EXPECT_EQ(g_frames[2], std::make_tuple(std::u16string(u"outer"), std::u16string(u"frames.nut"), SQInteger(2)));
  EXPECT_EQ(std::get<1>(g_frames[3]), u"frames.nut");
  EXPECT_EQ(std::get<2>(g_frames[3]), 7);
  SQStackInfos si;
  EXPECT_TRUE(SQ_FAILED(sq_stackinfos(v, 0, &si))) << "no call is running";
}

// ---- print functions ---------------------------------------------------------------------------------

TEST_F(SquirrelApi, PrintAndErrorFunctions) {
  ASSERT_TRUE(Run(u"print(\"out \" + 1); error(\"err \" + 2.5);"));
  EXPECT_EQ(apitest::Output(), u"out 1");
  EXPECT_EQ(apitest::Errors(), u"err 2.5");
  EXPECT_EQ(sq_getprintfunc(v), &apitest::CapturePrint);
  EXPECT_EQ(sq_geterrorfunc(v), &apitest::CaptureError);
  sq_setprintfunc(v, nullptr, nullptr);
  EXPECT_TRUE(Run(u"print(\"gone\"); error(\"gone\");")) << "no output function: nothing printed";
  EXPECT_EQ(apitest::Output(), u"out 1");
}


// A native that calls its argument with the error handler asked for.
SQInteger CallRaising(HSQUIRRELVM v) {
  sq_push(v, 2);
  sq_pushroottable(v);
  if (SQ_FAILED(sq_call(v, 1, SQFalse, SQTrue))) return SQ_ERROR;
  sq_poptop(v);
  return 0;
}

// The handler runs when an error leaves a call made with raiseerror, even when an outer script
// catches the error afterwards; an error caught inside the call itself is not reported.
TEST_F(SquirrelApi, NestedCallsReportTheirOwnUncaughtErrors) {
  struct Row {
    const char16_t* script;
    int reports;
  };
  RegisterGlobal(u"callraising", CallRaising);
  for (Row r : {Row{u"try { callraising(function() { throw \"inner\"; }); } catch (e) {}", 1},
                Row{u"try { callraising(function() { local x = {}; x.nope; }); } catch (e) {}", 1},
                Row{u"callraising(function() { try { throw \"inner\"; } catch (e) {} });", 0},
                Row{u"try { throw \"outer\"; } catch (e) {}", 0},
                Row{u"callraising(function() { throw \"inner\"; });", 1},
                // call() of a script function behaves like a direct call: the outer try decides.
                Row{u"try { (function() { throw \"inner\"; }).call(this); } catch (e) {}", 0},
                Row{u"(function() { throw \"inner\"; }).call(this);", 1}}) {
    g_handlerCalls = 0;
    sq_newclosure(v, CountingHandler, 0);
    sq_seterrorhandler(v);
    Run(r.script);
    EXPECT_EQ(g_handlerCalls, r.reports) << U8(r.script);
  }
}

// ---- parameter checks: every mask letter, alternatives, counts ---------------------------------------

SQInteger ReturnsTrue(HSQUIRRELVM v) {
  sq_pushbool(v, SQTrue);
  return 1;
}
SQInteger MakeUserData(HSQUIRRELVM v) {
  sq_newuserdata(v, 4);
  return 1;
}
int g_marker;
SQInteger MakeUserPointer(HSQUIRRELVM v) {
  sq_pushuserpointer(v, &g_marker);
  return 1;
}

struct MaskCase {
  const char* name;
  SQInteger nparams;
  const char16_t* mask;
  const char16_t* args;   // the script's argument list
  const char16_t* error;  // nullptr when the call passes
};

class ParamMasks : public SquirrelApi, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(ParamMasks, RefusesBeforeTheNativeRuns) {
  const MaskCase& c = GetParam();
  RegisterGlobal(u"mkud", MakeUserData);
  RegisterGlobal(u"mkup", MakeUserPointer);
  sq_pushroottable(v);
  sq_pushstring(v, u"f", -1);
  sq_newclosure(v, ReturnsTrue, 0);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setparamscheck(v, c.nparams, c.mask)));
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
  std::u16string code = u"class C {} ::r <- null; ::r = f(" + std::u16string(c.args) + u");";
  bool ok = Run(code);
  if (!c.error) {
    EXPECT_TRUE(ok) << std::string(c.name) << ": " << text::Utf16ToUtf8(LastError());
  } else {
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
  }
}

const char16_t* kIntFloat = u"parameter 1 has an invalid type 'string' ; expected: 'integer|float'";

INSTANTIATE_TEST_SUITE_P(
    Letters, ParamMasks,
    ::testing::Values(
        MaskCase{"o_ok", 2, u".o", u"null", nullptr},
        MaskCase{"o_bad", 2, u".o", u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'null'"},
        MaskCase{"i_ok", 2, u".i", u"1", nullptr},
        MaskCase{"i_bad", 2, u".i", u"1.0", u"parameter 1 has an invalid type 'float' ; expected: 'integer'"},
        MaskCase{"f_ok", 2, u".f", u"1.5", nullptr},
        MaskCase{"f_bad", 2, u".f", u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'float'"},
        MaskCase{"n_int", 2, u".n", u"1", nullptr}, MaskCase{"n_float", 2, u".n", u"1.5", nullptr},
        MaskCase{"n_bad", 2, u".n", u"\"1\"", kIntFloat},
        MaskCase{"s_ok", 2, u".s", u"\"x\"", nullptr},
        MaskCase{"s_bad", 2, u".s", u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'string'"},
        MaskCase{"t_ok", 2, u".t", u"{}", nullptr},
        MaskCase{"t_bad", 2, u".t", u"[]", u"parameter 1 has an invalid type 'array' ; expected: 'table'"},
        MaskCase{"a_ok", 2, u".a", u"[]", nullptr},
        MaskCase{"a_bad", 2, u".a", u"{}", u"parameter 1 has an invalid type 'table' ; expected: 'array'"},
        MaskCase{"u_ok", 2, u".u", u"mkud()", nullptr},
        MaskCase{"c_closure", 2, u".c", u"function() {}", nullptr},
        MaskCase{"c_native", 2, u".c", u"print", nullptr},
        MaskCase{"g_ok", 2, u".g", u"(function() { yield 1; })()", nullptr},
        MaskCase{"p_ok", 2, u".p", u"mkup()", nullptr},
        MaskCase{"v_ok", 2, u".v", u"newthread(function() {})", nullptr},
        MaskCase{"x_ok", 2, u".x", u"C()", nullptr},
        MaskCase{"x_bad", 2, u".x", u"C", u"parameter 1 has an invalid type 'class' ; expected: 'instance'"},
        MaskCase{"y_ok", 2, u".y", u"C", nullptr},
        MaskCase{"y_bad", 2, u".y", u"C()", u"parameter 1 has an invalid type 'instance' ; expected: 'class'"},
        MaskCase{"b_ok", 2, u".b", u"false", nullptr},
        MaskCase{"b_bad", 2, u".b", u"0", u"parameter 1 has an invalid type 'integer' ; expected: 'bool'"},
        MaskCase{"dot_any", 2, u"..", u"null", nullptr},
        // `this` is parameter 0: a table mask for it passes with the root table.
        MaskCase{"this_table", 2, u"ti", u"1", nullptr},
        MaskCase{"this_bad", 2, u"xi", u"1", u"parameter 0 has an invalid type 'table' ; expected: 'instance'"},
        // Alternatives, also with spaces around the bar.
        MaskCase{"alt_first", 3, u".sn|p", u"\"a\", 1", nullptr},
        MaskCase{"alt_second", 3, u".sn|p", u"\"a\", mkup()", nullptr},
        MaskCase{"alt_spaced", 3, u". s n | p", u"\"a\", mkup()", nullptr},
        // Counts: exact, at least, from the mask.
        MaskCase{"exact_short", 3, u".nn", u"1", u"wrong number of parameters"},
        MaskCase{"exact_long", 3, u".nn", u"1, 2, 3", u"wrong number of parameters"},
        MaskCase{"exact_mask_shorter", 3, u".s", u"\"a\", {}", nullptr},
        MaskCase{"atleast_none", -2, u".i", u"", u"wrong number of parameters"},
        MaskCase{"atleast_one", -2, u".i", u"1", nullptr},
        MaskCase{"atleast_more_untyped", -2, u".i", u"1, \"x\", {}", nullptr},
        MaskCase{"atleast_typed", -2, u".i", u"\"x\"", u"parameter 1 has an invalid type 'string' ; expected: 'integer'"},
        MaskCase{"atleast_mask_longer", -1, u".nnn", u"1", nullptr},
        MaskCase{"atleast_mask_longer_bad", -1, u".nnn", u"1, \"x\"", u"parameter 2 has an invalid type 'string' ; expected: 'integer|float'"},
        MaskCase{"frommask_ok", SQ_MATCHTYPEMASKSTRING, u".sn", u"\"a\", 1", nullptr},
        MaskCase{"frommask_short", SQ_MATCHTYPEMASKSTRING, u".sn", u"\"a\"", u"wrong number of parameters"},
        MaskCase{"frommask_long", SQ_MATCHTYPEMASKSTRING, u".sn", u"\"a\", 1, 2", u"wrong number of parameters"},
        MaskCase{"frommask_alternatives", SQ_MATCHTYPEMASKSTRING, u".x|in", u"1, 2", nullptr},
        MaskCase{"nocount_typed", 0, u".i", u"", nullptr},
        MaskCase{"alt_null", -2, u".s|o", u"null", nullptr},
        MaskCase{"alt_untyped_rest", -2, u".s|o", u"\"a\", 5, 6", nullptr},
        MaskCase{"optional_none", -1, u".b", u"", nullptr},
        MaskCase{"optional_bad", -1, u".b", u"1", u"parameter 1 has an invalid type 'integer' ; expected: 'bool'"},
        MaskCase{"u_bad_third", SQ_MATCHTYPEMASKSTRING, u".tauxyv", u"{}, [], 1, 2, 3, 4",
                 u"parameter 3 has an invalid type 'integer' ; expected: 'userdata'"},
        MaskCase{"r_ok", 2, u".r", u"{}.weakref()", nullptr}),
    [](const ::testing::TestParamInfo<MaskCase>& info) { return std::string(info.param.name); });

TEST_F(SquirrelApi, ParamsCheckRefusals) {
  // Mismatches whose expected type names the reference words its own way: only the refusal is checked.
  struct Row {
    const char16_t* mask;
    const char16_t* arg;
  };
  RegisterGlobal(u"mkup", MakeUserPointer);
  for (Row r : {Row{u".u", u"{}"}, Row{u".c", u"1"}, Row{u".g", u"[]"}, Row{u".p", u"1"}, Row{u".v", u"{}"},
                Row{u". s n | b", u"\"b\""}}) {
    sq_pushroottable(v);
    sq_pushstring(v, u"f", -1);
    sq_newclosure(v, ReturnsTrue, 0);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setparamscheck(v, -2, r.mask)));
    sq_newslot(v, -3, SQFalse);
    sq_pop(v, 1);
    EXPECT_FALSE(Run(std::u16string(u"f(") + (r.mask[1] == u' ' ? u"\"a\", " : u"") + r.arg + u");"))
        << text::Utf16ToUtf8(r.mask);
  }
  // The check belongs to a native closure on the stack top.
  sq_newtable(v);
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u".")));
}

}  // namespace
