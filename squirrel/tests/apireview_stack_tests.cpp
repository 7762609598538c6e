// The host's stack contract: indexes, pushes, getters and handles, case by case.
#include "api_fixture.h"

#include <functional>

namespace {

using apitest::SquirrelApi;

// ---- pushes: each leaves exactly one value of its type -----------------------------------------------

struct PushCase {
  const char* name;
  std::function<void(HSQUIRRELVM)> push;
  SQObjectType type;
};

class ApiReviewPush : public SquirrelApi, public ::testing::WithParamInterface<PushCase> {};

TEST_P(ApiReviewPush, PushesOneValueOfItsType) {
  const PushCase& c = GetParam();
  sq_pushinteger(v, 7);  // something below, so positive and negative indexes differ
  SQInteger before = sq_gettop(v);
  c.push(v);
  ASSERT_EQ(sq_gettop(v), before + 1);
  EXPECT_EQ(sq_gettype(v, -1), c.type);
  EXPECT_EQ(sq_gettype(v, before + 1), c.type);
  EXPECT_EQ(sq_gettype(v, -2), OT_INTEGER);
  EXPECT_EQ(sq_gettype(v, 1), OT_INTEGER);
}

int g_marker;

INSTANTIATE_TEST_SUITE_P(
    ApiReview, ApiReviewPush,
    ::testing::Values(PushCase{"null", [](HSQUIRRELVM v) { sq_pushnull(v); }, OT_NULL},
                      PushCase{"integer", [](HSQUIRRELVM v) { sq_pushinteger(v, -5); }, OT_INTEGER},
                      PushCase{"float", [](HSQUIRRELVM v) { sq_pushfloat(v, 2.5f); }, OT_FLOAT},
                      PushCase{"bool", [](HSQUIRRELVM v) { sq_pushbool(v, SQTrue); }, OT_BOOL},
                      PushCase{"string", [](HSQUIRRELVM v) { sq_pushstring(v, u"abc", -1); }, OT_STRING},
                      PushCase{"userpointer", [](HSQUIRRELVM v) { sq_pushuserpointer(v, &g_marker); }, OT_USERPOINTER},
                      PushCase{"roottable", [](HSQUIRRELVM v) { sq_pushroottable(v); }, OT_TABLE},
                      PushCase{"consttable", [](HSQUIRRELVM v) { sq_pushconsttable(v); }, OT_TABLE},
                      PushCase{"registrytable", [](HSQUIRRELVM v) { sq_pushregistrytable(v); }, OT_TABLE},
                      PushCase{"newtable", [](HSQUIRRELVM v) { sq_newtable(v); }, OT_TABLE},
                      PushCase{"newarray", [](HSQUIRRELVM v) { sq_newarray(v, 3); }, OT_ARRAY},
                      PushCase{"newclass", [](HSQUIRRELVM v) { sq_newclass(v, SQFalse); }, OT_CLASS},
                      PushCase{"newclosure", [](HSQUIRRELVM v) { sq_newclosure(v, [](HSQUIRRELVM) -> SQInteger { return 0; }, 0); },
                               OT_NATIVECLOSURE},
                      PushCase{"object", [](HSQUIRRELVM v) {
                                 HSQOBJECT o;
                                 sq_resetobject(&o);
                                 o._type = OT_INTEGER;
                                 o._unVal.nInteger = 3;
                                 sq_pushobject(v, o);
                               }, OT_INTEGER}),
    [](const ::testing::TestParamInfo<PushCase>& info) { return std::string(info.param.name); });

// ---- getters: which types each accepts; a getter never changes the stack -----------------------------

enum class Getter { Integer, Float, Bool, String, UserPointer };

struct GetCase {
  const char* name;
  std::function<void(HSQUIRRELVM)> push;
  Getter getter;
  bool ok;
  double expected;  // numeric result when ok (strings compare against text)
  const char16_t* text;
};

class ApiReviewGet : public SquirrelApi, public ::testing::WithParamInterface<GetCase> {};

TEST_P(ApiReviewGet, AcceptsItsTypesOnly) {
  const GetCase& c = GetParam();
  c.push(v);
  SQInteger top = sq_gettop(v);
  SQRESULT r = SQ_ERROR;
  switch (c.getter) {
    case Getter::Integer: {
      SQInteger i = -12345;
      r = sq_getinteger(v, -1, &i);
      if (c.ok) {
        EXPECT_EQ(i, SQInteger(c.expected));
      }
      break;
    }
    case Getter::Float: {
      SQFloat f = -1;
      r = sq_getfloat(v, -1, &f);
      if (c.ok) {
        EXPECT_FLOAT_EQ(f, SQFloat(c.expected));
      }
      break;
    }
    case Getter::Bool: {
      SQBool b = 77;
      r = sq_getbool(v, -1, &b);
      if (c.ok) {
        EXPECT_EQ(b, SQBool(c.expected));
      }
      break;
    }
    case Getter::String: {
      const SQChar* s = nullptr;
      r = sq_getstring(v, -1, &s);
      if (c.ok) {
        EXPECT_EQ(std::u16string(s), c.text);
      }
      break;
    }
    case Getter::UserPointer: {
      SQUserPointer p = nullptr;
      r = sq_getuserpointer(v, -1, &p);
      if (c.ok) {
        EXPECT_EQ(p, &g_marker);
      }
      break;
    }
  }
  EXPECT_EQ(SQ_SUCCEEDED(r), c.ok);
  EXPECT_EQ(sq_gettop(v), top) << "getters neither push nor pop";
  // The same value reached through its positive index gives the same answer.
  SQInteger dummy;
  if (c.getter == Getter::Integer) {
    EXPECT_EQ(SQ_SUCCEEDED(sq_getinteger(v, top, &dummy)), c.ok);
  }
}

auto Int(SQInteger n) { return [n](HSQUIRRELVM v) { sq_pushinteger(v, n); }; }
auto Flt(SQFloat f) { return [f](HSQUIRRELVM v) { sq_pushfloat(v, f); }; }
auto Bool(SQBool b) { return [b](HSQUIRRELVM v) { sq_pushbool(v, b); }; }
auto Str(const char16_t* s) { return [s](HSQUIRRELVM v) { sq_pushstring(v, s, -1); }; }
void Null(HSQUIRRELVM v) { sq_pushnull(v); }
void Table(HSQUIRRELVM v) { sq_newtable(v); }
void UserPtr(HSQUIRRELVM v) { sq_pushuserpointer(v, &g_marker); }

INSTANTIATE_TEST_SUITE_P(
    ApiReview, ApiReviewGet,
    ::testing::Values(
        GetCase{"IntegerFromInteger", Int(-42), Getter::Integer, true, -42, nullptr},
        GetCase{"IntegerFromTrue", Bool(SQTrue), Getter::Integer, true, 1, nullptr},
        GetCase{"IntegerFromFalse", Bool(SQFalse), Getter::Integer, true, 0, nullptr},
        GetCase{"IntegerFromString", Str(u"12"), Getter::Integer, false, 0, nullptr},
        GetCase{"IntegerFromNull", Null, Getter::Integer, false, 0, nullptr},
        GetCase{"IntegerFromTable", Table, Getter::Integer, false, 0, nullptr},
        GetCase{"FloatFromFloat", Flt(0.25f), Getter::Float, true, 0.25, nullptr},
        GetCase{"FloatFromString", Str(u"1.5"), Getter::Float, false, 0, nullptr},
        GetCase{"FloatFromNull", Null, Getter::Float, false, 0, nullptr},
        GetCase{"BoolFromTrue", Bool(SQTrue), Getter::Bool, true, 1, nullptr},
        GetCase{"BoolFromFalse", Bool(SQFalse), Getter::Bool, true, 0, nullptr},
        GetCase{"BoolFromInteger", Int(1), Getter::Bool, false, 0, nullptr},
        GetCase{"BoolFromNull", Null, Getter::Bool, false, 0, nullptr},
        GetCase{"StringFromString", Str(u"h\u00e9llo"), Getter::String, true, 0, u"h\u00e9llo"},
        GetCase{"StringFromEmpty", Str(u""), Getter::String, true, 0, u""},
        GetCase{"StringFromInteger", Int(5), Getter::String, false, 0, nullptr},
        GetCase{"StringFromNull", Null, Getter::String, false, 0, nullptr},
        GetCase{"UserPointerFromUserPointer", UserPtr, Getter::UserPointer, true, 0, nullptr},
        GetCase{"UserPointerFromInteger", Int(5), Getter::UserPointer, false, 0, nullptr},
        GetCase{"UserPointerFromNull", Null, Getter::UserPointer, false, 0, nullptr}),
    [](const ::testing::TestParamInfo<GetCase>& info) { return std::string(info.param.name); });

// ---- sizes --------------------------------------------------------------------------------------------

TEST_F(SquirrelApi, ApiReviewGetSizeOfEachKind) {
  sq_pushstring(v, u"h\u00e9\U0001F600", -1);  // the surrogate pair counts as two units
  EXPECT_EQ(sq_getsize(v, -1), 4);
  sq_pushstring(v, u"abcdef", 3);  // an explicit length takes a prefix
  EXPECT_EQ(sq_getsize(v, -1), 3);
  const SQChar* s = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, -1, &s)));
  EXPECT_EQ(std::u16string(s), u"abc");
  sq_newarray(v, 5);
  EXPECT_EQ(sq_getsize(v, -1), 5);
  for (int i = 0; i < 5; ++i) {
    sq_pushinteger(v, i);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    EXPECT_EQ(sq_gettype(v, -1), OT_NULL) << "a new array is filled with nulls";
    sq_pop(v, 1);
  }
  sq_newtable(v);
  EXPECT_EQ(sq_getsize(v, -1), 0);
  sq_pushstring(v, u"k", -1);
  sq_pushinteger(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  EXPECT_EQ(sq_getsize(v, -1), 1);
  sq_newuserdata(v, 24);
  EXPECT_EQ(sq_getsize(v, -1), 24);
  sq_newclass(v, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setclassudsize(v, -1, 12)));
  EXPECT_EQ(sq_getsize(v, -1), 12);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, -1)));
  EXPECT_EQ(sq_getsize(v, -1), 12) << "an instance reports its class's user data size";
  // Types without a size give -1.
  sq_pushinteger(v, 3);
  EXPECT_EQ(sq_getsize(v, -1), -1);
  sq_pushnull(v);
  EXPECT_EQ(sq_getsize(v, -1), -1);
}

// ---- stack manipulation -------------------------------------------------------------------------------

// Reads the stack bottom to top as integers (-1 for anything else).
std::vector<SQInteger> Ints(HSQUIRRELVM v) {
  std::vector<SQInteger> out;
  for (SQInteger i = 1; i <= sq_gettop(v); ++i) {
    SQInteger n = -1;
    if (sq_gettype(v, i) != OT_INTEGER || SQ_FAILED(sq_getinteger(v, i, &n))) n = -1;
    out.push_back(n);
  }
  return out;
}

struct StackCase {
  const char* name;
  std::function<void(HSQUIRRELVM)> op;
  std::vector<SQInteger> after;  // starting from 10 20 30 40
};

class ApiReviewStackOps : public SquirrelApi, public ::testing::WithParamInterface<StackCase> {};

TEST_P(ApiReviewStackOps, LeaveTheDocumentedStack) {
  for (SQInteger n : {10, 20, 30, 40}) sq_pushinteger(v, n);
  GetParam().op(v);
  EXPECT_EQ(Ints(v), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    ApiReview, ApiReviewStackOps,
    ::testing::Values(
        StackCase{"PushPositive", [](HSQUIRRELVM v) { sq_push(v, 2); }, {10, 20, 30, 40, 20}},
        StackCase{"PushNegative", [](HSQUIRRELVM v) { sq_push(v, -4); }, {10, 20, 30, 40, 10}},
        StackCase{"PopTwo", [](HSQUIRRELVM v) { sq_pop(v, 2); }, {10, 20}},
        StackCase{"PopZero", [](HSQUIRRELVM v) { sq_pop(v, 0); }, {10, 20, 30, 40}},
        StackCase{"PopTop", [](HSQUIRRELVM v) { sq_poptop(v); }, {10, 20, 30}},
        StackCase{"RemoveBase", [](HSQUIRRELVM v) { sq_remove(v, 1); }, {20, 30, 40}},
        StackCase{"RemoveMiddleNegative", [](HSQUIRRELVM v) { sq_remove(v, -3); }, {10, 30, 40}},
        StackCase{"RemoveTop", [](HSQUIRRELVM v) { sq_remove(v, -1); }, {10, 20, 30}},
        StackCase{"SetTopShrinks", [](HSQUIRRELVM v) { sq_settop(v, 1); }, {10}},
        StackCase{"SetTopZero", [](HSQUIRRELVM v) { sq_settop(v, 0); }, {}},
        // Growing fills with nulls, also over slots that held values before a pop.
        StackCase{"SetTopGrowsWithNulls", [](HSQUIRRELVM v) { sq_pop(v, 2); sq_settop(v, 5); }, {10, 20, -1, -1, -1}},
        // Indexes outside the stack change nothing and never reach past its ends.
        StackCase{"RemoveIndexZero", [](HSQUIRRELVM v) { sq_remove(v, 0); }, {10, 20, 30, 40}},
        StackCase{"RemoveAboveTop", [](HSQUIRRELVM v) { sq_remove(v, 9); }, {10, 20, 30, 40}},
        StackCase{"RemoveBelowBase", [](HSQUIRRELVM v) { sq_remove(v, -9); }, {10, 20, 30, 40}},
        StackCase{"PopMoreThanThereIs", [](HSQUIRRELVM v) { sq_pop(v, 9); }, {}},
        StackCase{"SetTopNegative", [](HSQUIRRELVM v) { sq_settop(v, -3); }, {}}),
    [](const ::testing::TestParamInfo<StackCase>& info) { return std::string(info.param.name); });

TEST_F(SquirrelApi, ApiReviewIndexesOutsideTheStackReadAsNothing) {
  sq_pushinteger(v, 1);
  sq_pushinteger(v, 2);
  SQInteger i = 0;
  for (SQInteger idx : {0, 3, 50, -3, -50}) {
    EXPECT_EQ(sq_gettype(v, idx), OT_NULL) << idx;
    EXPECT_TRUE(SQ_FAILED(sq_getinteger(v, idx, &i))) << idx;
  }
  sq_push(v, 0);
  EXPECT_EQ(sq_gettop(v), 3);
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
  sq_poptop(v);
  sq_settop(v, 0);
  sq_poptop(v);  // on an empty stack: nothing to do
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
}

// Inside a native the stack starts at its own parameters: index 1 is `this`, the caller's values are
// out of reach in both directions.
SQInteger NativeSeesOnlyItsFrame(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  if (top != 2) return sq_throwerror(v, u"expected this and one argument");
  if (sq_gettype(v, 1) != OT_TABLE || sq_gettype(v, 2) != OT_INTEGER) return sq_throwerror(v, u"wrong frame");
  if (sq_gettype(v, -3) != OT_NULL || sq_gettype(v, 0) != OT_NULL) return sq_throwerror(v, u"reached outside");
  sq_pop(v, 10);  // cannot take the caller's values
  if (sq_gettop(v) != 0) return sq_throwerror(v, u"pop left values");
  sq_pushinteger(v, 99);
  // Calling with more parameters than the frame holds is refused.
  if (SQ_SUCCEEDED(sq_call(v, 3, SQFalse, SQFalse))) return sq_throwerror(v, u"call reached below the frame");
  return 1;
}

TEST_F(SquirrelApi, ApiReviewNativeFrameIsBoundedByItsBase) {
  RegisterGlobal(u"probe", NativeSeesOnlyItsFrame);
  ASSERT_TRUE(Run(u"local a = 1, b = 2; ::r <- probe(5); if (a != 1 || b != 2) throw \"caller changed\";"))
      << std::string(LastError().begin(), LastError().end());
  ASSERT_TRUE(Run(u"if (::r != 99) throw \"result\";"));
}

// ---- handles -----------------------------------------------------------------------------------------

TEST_F(SquirrelApi, ApiReviewHandlesKeepObjectsUntilTheLastRelease) {
  HSQOBJECT h;
  sq_resetobject(&h);
  EXPECT_EQ(h._type, OT_NULL);
  EXPECT_EQ(sizeof(HSQOBJECT), 8u);

  sq_newtable(v);
  sq_pushstring(v, u"x", -1);
  sq_pushinteger(v, 5);
  sq_newslot(v, -3, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getstackobj(v, -1, &h)));
  EXPECT_EQ(h._type, OT_TABLE);
  sq_addref(v, &h);
  sq_addref(v, &h);
  sq_pop(v, 1);
  sq_collectgarbage(v);

  EXPECT_EQ(sq_release(v, &h), SQFalse) << "one reference is left";
  EXPECT_EQ(h._type, OT_TABLE);
  sq_pushobject(v, h);
  sq_pushstring(v, u"x", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  SQInteger x = 0;
  sq_getinteger(v, -1, &x);
  EXPECT_EQ(x, 5);
  sq_pop(v, 2);

  EXPECT_EQ(sq_release(v, &h), SQTrue) << "the last reference is gone";
  EXPECT_EQ(h._type, OT_NULL) << "a handle that lost all its references is reset to null";

  // A negative index gets the same object as the positive one.
  sq_pushinteger(v, 1);
  sq_pushstring(v, u"s", -1);
  HSQOBJECT a, b;
  sq_getstackobj(v, -1, &a);
  sq_getstackobj(v, sq_gettop(v), &b);
  EXPECT_EQ(a._type, OT_STRING);
  EXPECT_EQ(a._unVal.pString, b._unVal.pString);
}

TEST_F(SquirrelApi, ApiReviewHandleOfAReleasedInstanceRunsItsHookOnce) {
  static int calls;
  calls = 0;
  sq_newclass(v, SQFalse);
  sq_createinstance(v, -1);
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger) -> SQInteger { ++calls; return 1; });
  HSQOBJECT h;
  sq_getstackobj(v, -1, &h);
  sq_addref(v, &h);
  sq_pop(v, 2);
  EXPECT_EQ(calls, 0) << "the handle keeps the instance";
  EXPECT_EQ(sq_release(v, &h), SQTrue);
  EXPECT_EQ(calls, 1) << "freed as soon as the last reference went";
  EXPECT_EQ(h._type, OT_NULL);
}

}  // namespace

namespace {

// Calls that take their operands from the stack find none on an empty stack: they fail or do
// nothing, and never reach below the stack.
TEST_F(SquirrelApi, ApiReviewOperandsMissingFromAnEmptyStack) {
  sq_newtable(v);
  sq_newarray(v, 0);
  HSQUIRRELVM t = sq_newthread(v, 16);
  ASSERT_EQ(sq_gettop(t), 0);
  EXPECT_TRUE(SQ_FAILED(sq_setroottable(t)));
  EXPECT_TRUE(SQ_FAILED(sq_setconsttable(t)));
  EXPECT_TRUE(SQ_FAILED(sq_newclass(t, SQTrue)));
  EXPECT_EQ(sq_gettop(t), 0);
  EXPECT_EQ(sq_throwobject(t), SQ_ERROR);
  sq_seterrorhandler(t);
  sq_pushroottable(t);
  EXPECT_TRUE(SQ_FAILED(sq_set(t, 1)));
  EXPECT_TRUE(SQ_FAILED(sq_newslot(t, 1, SQFalse)));
  sq_poptop(t);
  EXPECT_TRUE(SQ_FAILED(sq_get(t, 1)));
  EXPECT_EQ(sq_gettop(t), 0);
  EXPECT_TRUE(SQ_FAILED(sq_arrayappend(t, 1)));
  sq_move(t, v, 2);  // the array, which is also the only value to append
  EXPECT_TRUE(SQ_SUCCEEDED(sq_arrayappend(t, 1)));
  EXPECT_EQ(sq_gettop(t), 0);
  EXPECT_EQ(sq_getsize(v, 2), 1);
  sq_move(t, v, 2);
  sq_pushinteger(t, 0);
  sq_pushnull(t);
  EXPECT_TRUE(SQ_SUCCEEDED(sq_set(t, 1))) << "break the self-reference";
  sq_settop(t, 0);
  EXPECT_EQ(sq_gettop(v), 3);
}

}  // namespace

namespace {

SQInteger CountsItsStack(HSQUIRRELVM v) {
  sq_pushinteger(v, sq_gettop(v));
  return 1;
}

TEST_F(SquirrelApi, ApiReviewNewClosurePopsItsFreeVariables) {
  struct Row {
    SQUnsignedInteger freevars;
    SQInteger pushed;
    SQInteger topAfter;
    SQInteger seenByCall;  // this, one argument and the free variables
  };
  for (Row r : {Row{0, 2, 3, 2}, Row{2, 2, 1, 4}, Row{1, 3, 3, 3}, Row{5, 2, 1, 4}}) {
    sq_settop(v, 0);
    for (SQInteger i = 0; i < r.pushed; ++i) sq_pushinteger(v, i);
    sq_newclosure(v, CountsItsStack, r.freevars);  // more than there are: only the frame's values
    EXPECT_EQ(sq_gettop(v), r.topAfter) << r.freevars;
    EXPECT_EQ(sq_gettype(v, -1), OT_NATIVECLOSURE);
    sq_pushroottable(v);
    sq_pushinteger(v, 1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 2, SQTrue, SQFalse)));
    SQInteger seen = 0;
    sq_getinteger(v, -1, &seen);
    EXPECT_EQ(seen, r.seenByCall) << r.freevars;
  }
}

}  // namespace
