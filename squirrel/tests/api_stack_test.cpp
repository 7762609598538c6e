// The stack contract of the C interface: indexes, pushes, getters, sizes, stack operations and handles.
#include "api_fixture.h"

#include <functional>
#include <vector>

using apitest::SquirrelApi;

TEST_F(SquirrelApi, StringPrefixesAreTerminated) {
  sq_pushstring(v, u"abcdef", 3);
  const SQChar* s = nullptr;
  SQInteger size = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getstringandsize(v, -1, &s, &size)));
  EXPECT_EQ(std::u16string(s, size_t(size)), u"abc");
  EXPECT_EQ(s[3], 0) << "strings are always terminated";
}

TEST_F(SquirrelApi, SetTopPopRemoveAndPush) {
  for (int k = 1; k <= 5; ++k) sq_pushinteger(v, k);
  sq_remove(v, 2);  // 1 3 4 5
  sq_push(v, 1);    // 1 3 4 5 1
  EXPECT_EQ(sq_gettop(v), 5);
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 1);
  sq_getinteger(v, 2, &i);
  EXPECT_EQ(i, 3);
  sq_pop(v, 2);
  EXPECT_EQ(sq_gettop(v), 3);
  sq_poptop(v);
  EXPECT_EQ(sq_gettop(v), 2);
  sq_settop(v, 6);
  EXPECT_EQ(sq_gettop(v), 6);
  EXPECT_EQ(sq_gettype(v, 6), OT_NULL);
  sq_settop(v, 0);
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_TRUE(SQ_SUCCEEDED(sq_reservestack(v, 5000)));
  for (int k = 0; k < 5000; ++k) sq_pushinteger(v, k);
  EXPECT_EQ(sq_gettop(v), 5000);
}

TEST_F(SquirrelApi, CompareAndToBool) {
  sq_pushinteger(v, 1);
  sq_pushfloat(v, 2.0f);
  EXPECT_LT(sq_cmp(v), 0);
  sq_pop(v, 2);
  sq_pushstring(v, u"b", -1);
  sq_pushstring(v, u"a", -1);
  EXPECT_GT(sq_cmp(v), 0);
  sq_pop(v, 2);
  struct Case {
    void (*push)(HSQUIRRELVM);
    SQBool truthy;
  };
  const Case cases[] = {
      {[](HSQUIRRELVM vm) { sq_pushstring(vm, u"", 0); }, SQTrue},
      {[](HSQUIRRELVM vm) { sq_pushinteger(vm, 0); }, SQFalse},
      {[](HSQUIRRELVM vm) { sq_pushfloat(vm, 0.0f); }, SQFalse},
      {[](HSQUIRRELVM vm) { sq_pushnull(vm); }, SQFalse},
      {[](HSQUIRRELVM vm) { sq_newarray(vm, 0); }, SQTrue},
      {[](HSQUIRRELVM vm) { sq_pushbool(vm, SQFalse); }, SQFalse},
  };
  for (const Case& c : cases) {
    c.push(v);
    SQBool b = 7;
    sq_tobool(v, -1, &b);
    EXPECT_EQ(b, c.truthy);
    sq_pop(v, 1);
  }
}

TEST_F(SquirrelApi, ToStringTypeofAndHash) {
  sq_pushfloat(v, 3.0f);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_tostring(v, -1)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"3");
  sq_pop(v, 2);
  sq_newtable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_typeof(v, -1)));
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"table");
  sq_pop(v, 2);
  sq_pushstring(v, u"key", -1);
  sq_pushstring(v, u"key", -1);
  EXPECT_EQ(sq_gethash(v, -1), sq_gethash(v, -2));
  HSQOBJECT a, b;
  sq_getstackobj(v, -1, &a);
  sq_getstackobj(v, -2, &b);
  EXPECT_EQ(a._unVal.pString, b._unVal.pString) << "equal strings are interned once";
}

TEST_F(SquirrelApi, MoveBetweenThreads) {
  HSQUIRRELVM t = sq_newthread(v, 64);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(sq_gettype(v, -1), OT_THREAD);
  sq_pushinteger(v, 77);
  sq_move(t, v, -1);
  SQInteger i = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(t, -1, &i)));
  EXPECT_EQ(i, 77);
  HSQUIRRELVM got = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getthread(v, -2, &got)));
  EXPECT_EQ(got, t);
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);
}

TEST_F(SquirrelApi, ForeignPointersAndVersion) {
  int host = 0;
  sq_setforeignptr(v, &host);
  EXPECT_EQ(sq_getforeignptr(v), &host);
  HSQUIRRELVM t = sq_newthread(v, 64);
  EXPECT_EQ(sq_getforeignptr(t), &host) << "threads start with their parent's foreign pointer";
  sq_setsharedforeignptr(v, &host);
  EXPECT_EQ(sq_getsharedforeignptr(t), &host);
  EXPECT_EQ(sq_getversion(), 320);
  EXPECT_EQ(sizeof(HSQOBJECT), 8u);
  EXPECT_EQ(sizeof(SQChar), 2u);
  EXPECT_EQ(sizeof(SQInteger), 4u);
  EXPECT_EQ(sizeof(SQFloat), 4u);
}

TEST(SquirrelTypeConstants, MatchTheDocumentedValues) {
  EXPECT_EQ(unsigned(OT_NULL), 0x01000001u);
  EXPECT_EQ(unsigned(OT_INTEGER), 0x05000002u);
  EXPECT_EQ(unsigned(OT_FLOAT), 0x05000004u);
  EXPECT_EQ(unsigned(OT_BOOL), 0x01000008u);
  EXPECT_EQ(unsigned(OT_STRING), 0x08000010u);
  EXPECT_EQ(unsigned(OT_TABLE), 0x0A000020u);
  EXPECT_EQ(unsigned(OT_ARRAY), 0x08000040u);
  EXPECT_EQ(unsigned(OT_USERDATA), 0x0A000080u);
  EXPECT_EQ(unsigned(OT_CLOSURE), 0x08000100u);
  EXPECT_EQ(unsigned(OT_NATIVECLOSURE), 0x08000200u);
  EXPECT_EQ(unsigned(OT_GENERATOR), 0x08000400u);
  EXPECT_EQ(unsigned(OT_USERPOINTER), 0x00000800u);
  EXPECT_EQ(unsigned(OT_THREAD), 0x08001000u);
  EXPECT_EQ(unsigned(OT_CLASS), 0x08004000u);
  EXPECT_EQ(unsigned(OT_INSTANCE), 0x0A008000u);
  EXPECT_EQ(unsigned(OT_WEAKREF), 0x08010000u);
}

TEST(SquirrelLifetimeHooks, VmAndThreadReleaseHooksRunOnce) {
  static std::vector<intptr_t> calls;
  calls.clear();
  HSQUIRRELVM v = sq_open(64);
  sq_setforeignptr(v, reinterpret_cast<SQUserPointer>(intptr_t(1)));
  sq_setvmreleasehook(v, [](SQUserPointer p, SQInteger) -> SQInteger {
    calls.push_back(reinterpret_cast<intptr_t>(p));
    return 0;
  });
  EXPECT_NE(sq_getvmreleasehook(v), nullptr);
  HSQUIRRELVM t = sq_newthread(v, 64);
  sq_setforeignptr(t, reinterpret_cast<SQUserPointer>(intptr_t(2)));
  sq_setvmreleasehook(t, sq_getvmreleasehook(v));
  sq_pop(v, 1);  // the thread's last reference
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], 2);
  sq_close(v);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], 1);
}

namespace {

int g_marker;

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

class Getters : public SquirrelApi, public ::testing::WithParamInterface<GetCase> {};

TEST_P(Getters, AcceptsItsTypesOnly) {
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
    Cases, Getters,
    ::testing::Values(
        GetCase{"IntegerFromInteger", Int(-42), Getter::Integer, true, -42, nullptr},
        GetCase{"IntegerFromTrue", Bool(SQTrue), Getter::Integer, true, 1, nullptr},
        GetCase{"IntegerFromFalse", Bool(SQFalse), Getter::Integer, true, 0, nullptr},
        GetCase{"IntegerFromFloat", Flt(-3.75f), Getter::Integer, true, -3, nullptr},
        GetCase{"IntegerFromString", Str(u"12"), Getter::Integer, false, 0, nullptr},
        GetCase{"IntegerFromNull", Null, Getter::Integer, false, 0, nullptr},
        GetCase{"IntegerFromTable", Table, Getter::Integer, false, 0, nullptr},
        GetCase{"FloatFromFloat", Flt(0.25f), Getter::Float, true, 0.25, nullptr},
        GetCase{"FloatFromString", Str(u"1.5"), Getter::Float, false, 0, nullptr},
        GetCase{"FloatFromNull", Null, Getter::Float, false, 0, nullptr},
        GetCase{"FloatFromBool", Bool(SQTrue), Getter::Float, false, 0, nullptr},
        GetCase{"BoolFromTrue", Bool(SQTrue), Getter::Bool, true, 1, nullptr},
        GetCase{"BoolFromFalse", Bool(SQFalse), Getter::Bool, true, 0, nullptr},
        GetCase{"BoolFromInteger", Int(1), Getter::Bool, false, 0, nullptr},
        GetCase{"BoolFromNull", Null, Getter::Bool, false, 0, nullptr},
        GetCase{"StringFromString", Str(u"h\u00e9llo"), Getter::String, true, 0, u"h\u00e9llo"},
        GetCase{"StringFromEmpty", Str(u""), Getter::String, true, 0, u""},
        GetCase{"StringFromInteger", Int(5), Getter::String, false, 0, nullptr},
        GetCase{"StringFromNull", Null, Getter::String, false, 0, nullptr},
        GetCase{"StringFromBool", Bool(SQTrue), Getter::String, false, 0, nullptr},
        GetCase{"UserPointerFromUserPointer", UserPtr, Getter::UserPointer, true, 0, nullptr},
        GetCase{"UserPointerFromInteger", Int(5), Getter::UserPointer, false, 0, nullptr},
        GetCase{"UserPointerFromNull", Null, Getter::UserPointer, false, 0, nullptr}),
    [](const ::testing::TestParamInfo<GetCase>& info) { return std::string(info.param.name); });

// ---- sizes --------------------------------------------------------------------------------------------

TEST_F(SquirrelApi, GetSizeOfEachKind) {
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

class StackOps : public SquirrelApi, public ::testing::WithParamInterface<StackCase> {};

TEST_P(StackOps, LeaveTheDocumentedStack) {
  for (SQInteger n : {10, 20, 30, 40}) sq_pushinteger(v, n);
  GetParam().op(v);
  EXPECT_EQ(Ints(v), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StackOps,
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

TEST_F(SquirrelApi, NativeFrameIsBoundedByItsBase) {
  RegisterGlobal(u"probe", NativeSeesOnlyItsFrame);
  ASSERT_TRUE(Run(u"local a = 1, b = 2; ::r <- probe(5); if (a != 1 || b != 2) throw \"caller changed\";"))
      << std::string(LastError().begin(), LastError().end());
  ASSERT_TRUE(Run(u"if (::r != 99) throw \"result\";"));
}

// ---- handles -----------------------------------------------------------------------------------------

TEST_F(SquirrelApi, HandleOfAReleasedInstanceRunsItsHookOnce) {
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

SQInteger CountsItsStack(HSQUIRRELVM v) {
  sq_pushinteger(v, sq_gettop(v));
  return 1;
}

TEST_F(SquirrelApi, NewClosurePopsItsFreeVariables) {
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
