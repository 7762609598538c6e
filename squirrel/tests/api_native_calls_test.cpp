// sq_call of a native: from the host with no script running, and from inside a native a script called. Both leave
// the stack alike: the parameters gone, the function where it was, the result above it when asked for.
#include "api_fixture.h"

#include <platform/text.h>

#include <string>
#include <vector>

using apitest::SquirrelApi;

namespace {

SQInteger ReturnsNothing(HSQUIRRELVM) { return 0; }
SQInteger ReturnsPushed(HSQUIRRELVM v) {
  sq_pushinteger(v, 42);
  return 1;
}
SQInteger SumsIntegers(HSQUIRRELVM v) {
  SQInteger sum = 0;
  for (SQInteger i = 2; i <= sq_gettop(v); ++i) {
    SQInteger n = 0;
    sq_getinteger(v, i, &n);
    sum += n;
  }
  sq_pushinteger(v, sum);
  return 1;
}
SQInteger ReturnsTopOfThree(HSQUIRRELVM v) {
  for (SQInteger i = 1; i <= 3; ++i) sq_pushinteger(v, i * 10);
  return 1;
}
SQInteger ReturnsThis(HSQUIRRELVM v) {
  sq_push(v, 1);
  return 1;
}
SQInteger Raises(HSQUIRRELVM v) { return sq_throwerror(v, u"raised here"); }
SQInteger RaisesAnInteger(HSQUIRRELVM v) {
  sq_pushinteger(v, 7);
  return sq_throwobject(v);
}

struct Row {
  const char* name;
  SQFUNCTION fn;
  SQInteger nparamscheck;  // 0: none
  bool bindEnv;            // `this` replaced by a table holding tag = "env"
  std::vector<SQInteger> args;
  bool succeeds;
  const char16_t* result;  // the result's text, or the error's
};

const Row kRows[] = {
    {"nothing", ReturnsNothing, 0, false, {}, true, u"null"},
    {"pushed", ReturnsPushed, 0, false, {1, 2}, true, u"42"},
    {"sum of five", SumsIntegers, 0, false, {1, 2, 3, 4, 5}, true, u"15"},
    {"top of three", ReturnsTopOfThree, 0, false, {9}, true, u"30"},
    {"bound this", ReturnsThis, 0, true, {}, true, u"env"},
    {"raises", Raises, 0, false, {1}, false, u"raised here"},
    {"raises an integer", RaisesAnInteger, 0, false, {}, false, u"7"},
    {"too few parameters", SumsIntegers, 3, false, {1}, false, u"wrong number of parameters"},
};

// The text of the value at idx: a string as it is, a table by its `tag` slot, anything else through tostring.
std::u16string Text(HSQUIRRELVM v, SQInteger idx) {
  if (sq_gettype(v, idx) == OT_TABLE) {
    sq_pushstring(v, u"tag", -1);
    if (SQ_FAILED(sq_get(v, idx < 0 ? idx - 1 : idx))) return u"<table without tag>";
    idx = -1;
  } else {
    sq_push(v, idx);
  }
  std::u16string out = u"<no text>";
  if (SQ_SUCCEEDED(sq_tostring(v, -1))) {
    const SQChar* s = nullptr;
    if (SQ_SUCCEEDED(sq_getstring(v, -1, &s))) out = s;
    sq_pop(v, 1);
  }
  sq_pop(v, 1);
  return out;
}

// What one call left behind, read the same way on both paths.
struct Seen {
  bool ok = false;
  SQInteger grew = 0;         // the stack's height after the call less its height before pushing the function
  bool functionKept = false;  // the same native closure still where it was pushed
  bool markerKept = false;    // the value below the function untouched
  std::u16string result;

  bool operator==(const Seen&) const = default;
};

Seen CallRow(HSQUIRRELVM v, const Row& r, bool retval) {
  Seen seen;
  SQInteger start = sq_gettop(v);
  // A bound environment is held weakly: the table stays below the marker while the call runs.
  if (r.bindEnv) {
    sq_newtable(v);
    sq_pushstring(v, u"tag", -1);
    sq_pushstring(v, u"env", -1);
    sq_newslot(v, -3, SQFalse);
  }
  sq_pushstring(v, u"marker", -1);
  SQInteger before = sq_gettop(v);
  sq_newclosure(v, r.fn, 0);
  if (r.nparamscheck != 0) sq_setparamscheck(v, r.nparamscheck, nullptr);
  if (r.bindEnv) {
    sq_push(v, start + 1);
    sq_bindenv(v, -2);
    sq_remove(v, -2);
  }
  HSQOBJECT function;
  sq_getstackobj(v, -1, &function);
  sq_pushroottable(v);
  for (SQInteger a : r.args) sq_pushinteger(v, a);
  seen.ok = SQ_SUCCEEDED(sq_call(v, SQInteger(r.args.size()) + 1, retval ? SQTrue : SQFalse, SQFalse));
  seen.grew = sq_gettop(v) - before;
  SQInteger functionAt = before + 1;
  HSQOBJECT kept;
  seen.functionKept = functionAt <= sq_gettop(v) && SQ_SUCCEEDED(sq_getstackobj(v, functionAt, &kept)) &&
                      kept._type == OT_NATIVECLOSURE && kept._unVal.pNativeClosure == function._unVal.pNativeClosure;
  seen.markerKept = Text(v, before) == u"marker";
  if (!seen.ok) {
    sq_getlasterror(v);
    seen.result = Text(v, -1);
    sq_pop(v, 1);
  } else if (retval && seen.grew == 2) {
    seen.result = Text(v, -1);
  }
  sq_settop(v, start);
  return seen;
}

// Filled by the native a script calls: each row called from inside it, where a script frame is running.
std::vector<Seen> g_nested;
bool g_nestedRetval = false;
SQInteger CallsEveryRow(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  for (const Row& r : kRows) g_nested.push_back(CallRow(v, r, g_nestedRetval));
  return sq_gettop(v) == top ? 0 : sq_throwerror(v, u"the stack moved");
}

class NativeCalls : public SquirrelApi {};

TEST_F(NativeCalls, FromTheHostAndFromInsideAScriptTheStackEndsAlike) {
  RegisterGlobal(u"callEveryRow", CallsEveryRow);
  for (bool retval : {true, false}) {
    g_nested.clear();
    g_nestedRetval = retval;
    ASSERT_TRUE(Run(u"callEveryRow();")) << text::Utf16ToUtf8(LastError());
    ASSERT_EQ(g_nested.size(), std::size(kRows));
    SQInteger top = sq_gettop(v);
    for (size_t i = 0; i < std::size(kRows); ++i) {
      const Row& r = kRows[i];
      Seen host = CallRow(v, r, retval);
      SCOPED_TRACE(std::string(r.name) + (retval ? ", with the result" : ", without the result"));
      EXPECT_EQ(host.ok, r.succeeds);
      EXPECT_EQ(host.grew, (r.succeeds && retval) ? 2 : 1);
      EXPECT_TRUE(host.functionKept);
      EXPECT_TRUE(host.markerKept);
      if (!r.succeeds || retval) {
        EXPECT_EQ(host.result, r.result);
      }
      EXPECT_TRUE(host == g_nested[i]) << "inside a script: ok " << g_nested[i].ok << ", grew " << g_nested[i].grew
                                       << ", result " << text::Utf16ToUtf8(g_nested[i].result);
      EXPECT_EQ(sq_gettop(v), top);
    }
  }
}

TEST_F(NativeCalls, AHostCalledNativeCannotSuspendAndItsStackStaysWhole) {
  RegisterGlobal(u"probe", ReturnsPushed);
  sq_pushstring(v, u"marker", -1);
  SQInteger before = sq_gettop(v);
  sq_newclosure(
      v, [](HSQUIRRELVM vm) -> SQInteger { return sq_suspendvm(vm); }, 0);
  sq_pushroottable(v);
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 1, SQTrue, SQFalse)));
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);
  EXPECT_EQ(sq_gettop(v), before + 1);
  EXPECT_EQ(sq_gettype(v, -1), OT_NATIVECLOSURE);
  sq_pop(v, 1);
  EXPECT_EQ(Text(v, -1), u"marker");
  sq_pop(v, 1);
  // The machine is usable after the refusal.
  ASSERT_TRUE(Run(u"print(probe());"));
  EXPECT_EQ(apitest::Output(), u"42");
}

}  // namespace
