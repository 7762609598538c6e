// Stack manipulation, pushes and getters of the C interface.
#include "api_fixture.h"

#include <vector>

using apitest::SquirrelApi;

TEST_F(SquirrelApi, PushesAndGettersRoundTrip) {
  EXPECT_EQ(sq_gettop(v), 0);
  sq_pushnull(v);
  sq_pushinteger(v, -42);
  sq_pushfloat(v, 2.5f);
  sq_pushbool(v, SQTrue);
  sq_pushstring(v, u"hello", -1);
  sq_pushstring(v, u"abcdef", 3);
  int marker = 0;
  sq_pushuserpointer(v, &marker);
  EXPECT_EQ(sq_gettop(v), 7);
  EXPECT_EQ(sq_gettype(v, 1), OT_NULL);
  EXPECT_EQ(sq_gettype(v, 2), OT_INTEGER);
  EXPECT_EQ(sq_gettype(v, 3), OT_FLOAT);
  EXPECT_EQ(sq_gettype(v, 4), OT_BOOL);
  EXPECT_EQ(sq_gettype(v, -3), OT_STRING);
  EXPECT_EQ(sq_gettype(v, -1), OT_USERPOINTER);

  SQInteger i = 0;
  SQFloat f = 0;
  SQBool b = SQFalse;
  const SQChar* s = nullptr;
  SQInteger size = 0;
  SQUserPointer p = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, 2, &i)));
  EXPECT_EQ(i, -42);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getfloat(v, 3, &f)));
  EXPECT_FLOAT_EQ(f, 2.5f);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbool(v, 4, &b)));
  EXPECT_EQ(b, SQTrue);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, 5, &s)));
  EXPECT_EQ(std::u16string(s), u"hello");
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getstringandsize(v, 6, &s, &size)));
  EXPECT_EQ(std::u16string(s, size_t(size)), u"abc");
  EXPECT_EQ(s[3], 0) << "strings are always terminated";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getuserpointer(v, 7, &p)));
  EXPECT_EQ(p, &marker);
  EXPECT_EQ(sq_getsize(v, 5), 5);
}

TEST_F(SquirrelApi, GetIntegerAcceptsBoolsAndFloatsButNotStrings) {
  sq_pushbool(v, SQTrue);
  sq_pushfloat(v, -3.75f);
  sq_pushstring(v, u"12", -1);
  sq_pushnull(v);
  SQInteger i = 99;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, 1, &i)));
  EXPECT_EQ(i, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, 2, &i)));
  EXPECT_EQ(i, -3);
  EXPECT_TRUE(SQ_FAILED(sq_getinteger(v, 3, &i)));
  EXPECT_TRUE(SQ_FAILED(sq_getinteger(v, 4, &i)));
  SQFloat f = 0;
  EXPECT_TRUE(SQ_FAILED(sq_getfloat(v, 1, &f))) << "a bool is not a number for sq_getfloat";
  SQBool b;
  EXPECT_TRUE(SQ_FAILED(sq_getbool(v, 2, &b)));
  const SQChar* s;
  EXPECT_TRUE(SQ_FAILED(sq_getstring(v, 1, &s)));
  EXPECT_EQ(sq_gettop(v), 4) << "failed getters leave the stack alone";
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
