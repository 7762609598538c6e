// Tables, arrays, slots, references and garbage collection through the C interface.
#include "api_fixture.h"

using apitest::SquirrelApi;

TEST_F(SquirrelApi, TableSlotsWithStackEffects) {
  sq_newtable(v);
  sq_pushstring(v, u"a", -1);
  sq_pushinteger(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  EXPECT_EQ(sq_gettop(v), 1) << "newslot pops key and value";
  sq_pushstring(v, u"a", -1);
  sq_pushinteger(v, 2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_set(v, -3)));
  EXPECT_EQ(sq_gettop(v), 1);
  sq_pushstring(v, u"missing", -1);
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_set(v, -3))) << "set does not create slots";
  EXPECT_EQ(sq_gettop(v), 1);
  sq_pushstring(v, u"a", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  EXPECT_EQ(sq_gettop(v), 2) << "get replaces the key by the value";
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 2);
  sq_pop(v, 1);
  sq_pushstring(v, u"nothere", -1);
  EXPECT_TRUE(SQ_FAILED(sq_get(v, -2)));
  EXPECT_EQ(sq_gettop(v), 1) << "a failed get pops the key";
  sq_pushnull(v);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, -3, SQFalse)));
  sq_settop(v, 1);
  EXPECT_EQ(sq_getsize(v, -1), 1);
  sq_pushstring(v, u"a", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_deleteslot(v, -2, SQTrue)));
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 2);
  sq_pop(v, 1);
  EXPECT_EQ(sq_getsize(v, -1), 0);
}

TEST_F(SquirrelApi, IntegerAndFloatKeysAreDistinct) {
  sq_newtable(v);
  sq_pushinteger(v, 1);
  sq_pushstring(v, u"int", -1);
  sq_newslot(v, -3, SQFalse);
  sq_pushfloat(v, 1.0f);
  sq_pushstring(v, u"float", -1);
  sq_newslot(v, -3, SQFalse);
  EXPECT_EQ(sq_getsize(v, -1), 2);
  sq_pushfloat(v, 1.0f);
  sq_rawget(v, -2);
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"float");
}

TEST_F(SquirrelApi, RawAccessBypassesDelegates) {
  ASSERT_TRUE(Run(u"::d <- { x = 5 }; ::t <- {}.setdelegate(::d);"));
  sq_pushroottable(v);
  sq_pushstring(v, u"t", -1);
  sq_get(v, -2);
  sq_pushstring(v, u"x", -1);
  EXPECT_TRUE(SQ_FAILED(sq_rawget(v, -2)));
  sq_pushstring(v, u"x", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 5);
  sq_pop(v, 1);
  sq_pushstring(v, u"y", -1);
  sq_pushinteger(v, 9);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_rawset(v, -3)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getdelegate(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_TABLE);
  sq_pop(v, 1);
  sq_pushnull(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setdelegate(v, -2)));
  sq_pushstring(v, u"x", -1);
  EXPECT_TRUE(SQ_FAILED(sq_get(v, -2)));
  sq_pushstring(v, u"y", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_rawdeleteslot(v, -2, SQFalse)));
  EXPECT_EQ(sq_getsize(v, -1), 0);
}

TEST_F(SquirrelApi, ArrayOperations) {
  sq_newarray(v, 2);
  EXPECT_EQ(sq_getsize(v, -1), 2);
  sq_pushinteger(v, 10);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayappend(v, -2)));
  EXPECT_EQ(sq_gettop(v), 1);
  sq_pushinteger(v, 5);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayinsert(v, -2, 0)));
  EXPECT_EQ(sq_getsize(v, -1), 4);
  sq_pushinteger(v, 5);
  EXPECT_TRUE(SQ_FAILED(sq_arrayinsert(v, -2, 99)));
  EXPECT_EQ(sq_gettop(v), 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayremove(v, -1, 1)));
  EXPECT_TRUE(SQ_FAILED(sq_arrayremove(v, -1, 3)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayreverse(v, -1)));  // 10 null 5
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arraypop(v, -1, SQTrue)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 5);
  sq_pop(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayresize(v, -1, 5)));
  EXPECT_EQ(sq_getsize(v, -1), 5);
  EXPECT_TRUE(SQ_FAILED(sq_arrayresize(v, -1, -1)));
  sq_pushinteger(v, 0);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 10);
  sq_pop(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_clear(v, -1)));
  EXPECT_EQ(sq_getsize(v, -1), 0);
  EXPECT_TRUE(SQ_FAILED(sq_arraypop(v, -1, SQFalse)));
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_arrayappend(v, -1))) << "an integer is not an array";
}

TEST_F(SquirrelApi, NextIteratesEverySlot) {
  ASSERT_TRUE(Run(u"::t <- { a = 1, b = 2, c = 3 };"));
  sq_pushroottable(v);
  sq_pushstring(v, u"t", -1);
  sq_get(v, -2);
  SQInteger sum = 0, count = 0;
  sq_pushnull(v);
  while (SQ_SUCCEEDED(sq_next(v, -2))) {
    SQInteger i;
    sq_getinteger(v, -1, &i);
    sum += i;
    ++count;
    sq_pop(v, 2);
  }
  sq_pop(v, 1);
  EXPECT_EQ(sum, 6);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(sq_gettop(v), 2);
}

TEST_F(SquirrelApi, CloneIsShallowAndIndependent) {
  ASSERT_TRUE(Run(u"::t <- { inner = [1] };"));
  sq_pushroottable(v);
  sq_pushstring(v, u"t", -1);
  sq_get(v, -2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_clone(v, -1)));
  sq_pushstring(v, u"extra", -1);
  sq_pushinteger(v, 1);
  sq_newslot(v, -3, SQFalse);
  EXPECT_EQ(sq_getsize(v, -1), 2);
  EXPECT_EQ(sq_getsize(v, -2), 1);
}

TEST_F(SquirrelApi, ReferencesKeepObjectsAlive) {
  HSQOBJECT obj;
  sq_resetobject(&obj);
  EXPECT_EQ(obj._type, OT_NULL);
  sq_newtable(v);
  sq_pushstring(v, u"k", -1);
  sq_pushinteger(v, 4);
  sq_newslot(v, -3, SQFalse);
  sq_getstackobj(v, -1, &obj);
  sq_addref(v, &obj);
  sq_addref(v, &obj);
  EXPECT_EQ(sq_getrefcount(v, &obj), 2u);
  sq_pop(v, 1);
  EXPECT_EQ(sq_getvmrefcount(v, &obj), 2u);
  sq_pushobject(v, obj);
  EXPECT_EQ(sq_getsize(v, -1), 1);
  sq_pop(v, 1);
  EXPECT_FALSE(sq_release(v, &obj));
  EXPECT_TRUE(sq_release(v, &obj));
  HSQOBJECT num;
  sq_pushinteger(v, 12);
  sq_getstackobj(v, -1, &num);
  EXPECT_EQ(sq_objtointeger(&num), 12);
  EXPECT_FLOAT_EQ(sq_objtofloat(&num), 12.0f);
  EXPECT_TRUE(sq_release(v, &num)) << "values without a count release trivially";
  sq_pushstring(v, u"txt", -1);
  HSQOBJECT str;
  sq_getstackobj(v, -1, &str);
  EXPECT_EQ(std::u16string(sq_objtostring(&str)), u"txt");
  EXPECT_EQ(sq_objtostring(&num), nullptr);
}

TEST_F(SquirrelApi, RegistryRootAndConstTables) {
  sq_pushregistrytable(v);
  sq_pushstring(v, u"hostdata", -1);
  sq_pushinteger(v, 1);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
  EXPECT_FALSE(Run(u"return hostdata;"));
  sq_pushconsttable(v);
  sq_pushstring(v, u"LIMIT", -1);
  sq_pushinteger(v, 12);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
  ASSERT_TRUE(Run(u"print(LIMIT);"));
  EXPECT_EQ(apitest::Output(), u"12");
  sq_newtable(v);
  sq_pushstring(v, u"print", -1);
  sq_pushroottable(v);
  sq_pushstring(v, u"print", -1);
  sq_get(v, -2);
  sq_remove(v, -2);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, u"marker", -1);
  sq_pushstring(v, u"new root", -1);
  sq_newslot(v, -3, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setroottable(v)));
  EXPECT_EQ(sq_gettop(v), 0);
  apitest::Output().clear();
  ASSERT_TRUE(Run(u"print(marker);"));
  EXPECT_EQ(apitest::Output(), u"new root");
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_setconsttable(v)));
}

TEST_F(SquirrelApi, WeakReferencesDropWithTheTarget) {
  sq_newtable(v);
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_WEAKREF);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_TABLE);
  sq_pop(v, 1);
  sq_remove(v, 1);  // the table's last strong reference
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
  sq_pushinteger(v, 5);
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_INTEGER) << "values without a count are their own weak reference";
}

TEST_F(SquirrelApi, CollectGarbageFreesCycles) {
  ASSERT_TRUE(Run(u"for (local i = 0; i < 10; i++) { local a = {}; local b = { a = a }; a.b <- b; }"));
  sq_collectgarbage(v);
  ASSERT_TRUE(Run(u"local a = {}; a.self <- a; a = null; ::n <- collectgarbage();"));
  sq_pushroottable(v);
  sq_pushstring(v, u"n", -1);
  sq_get(v, -2);
  SQInteger n = 0;
  sq_getinteger(v, -1, &n);
  EXPECT_GE(n, 1);
  sq_pop(v, 2);
  ASSERT_TRUE(Run(u"local c = []; c.append(c); c = null; ::r <- resurrectunreachable();"));
  ASSERT_TRUE(Run(u"print(typeof ::r + \" \" + ::r.len());"));
  EXPECT_EQ(apitest::Output(), u"array 1");
  ASSERT_TRUE(Run(u"::r = null;"));
}

TEST_F(SquirrelApi, UserdataWithDelegateAndHook) {
  static int released = 0;
  released = 0;
  SQUserPointer p = sq_newuserdata(v, 16);
  ASSERT_NE(p, nullptr);
  static_cast<char*>(p)[15] = 1;
  EXPECT_EQ(sq_getsize(v, -1), 16);
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger size) -> SQInteger {
    released = int(size);
    return 0;
  });
  int tag = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, &tag)));
  SQUserPointer got = nullptr, gotTag = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getuserdata(v, -1, &got, &gotTag)));
  EXPECT_EQ(got, p);
  EXPECT_EQ(gotTag, &tag);
  sq_pop(v, 1);
  EXPECT_EQ(released, 16);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_settypetag(v, -1, &tag)));
  EXPECT_EQ(LastError(), u"invalid object type");
}

TEST_F(SquirrelApi, FreeingALongChainDoesNotExhaustTheStack) {
  ASSERT_TRUE(Run(u"local head = null; for (local i = 0; i < 300000; i++) head = { next = head }; head = null;"
                  u"local arr = null; for (local i = 0; i < 300000; i++) arr = [arr]; arr = null;"));
  ASSERT_TRUE(Run(u"print(\"alive\");"));
  EXPECT_EQ(apitest::Output(), u"alive");
}

TEST_F(SquirrelApi, ClosureInfoFreeVariablesAndDefaultDelegates) {
  ASSERT_TRUE(Run(u"local offset = 10; ::h <- function(a, b) { return a + b + offset; };"));
  sq_pushroottable(v);
  sq_pushstring(v, u"h", -1);
  sq_get(v, -2);
  SQInteger np = 0, nf = 0;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getclosureinfo(v, -1, &np, &nf)));
  EXPECT_EQ(np, 3) << "this and two parameters";
  EXPECT_EQ(nf, 1);
  const SQChar* name = sq_getfreevariable(v, -1, 0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"offset");
  sq_pop(v, 1);
  EXPECT_EQ(sq_getfreevariable(v, -1, 5), nullptr);
  sq_pushinteger(v, 100);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setfreevariable(v, -2, 0)));
  sq_pushroottable(v);
  sq_pushinteger(v, 1);
  sq_pushinteger(v, 2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 3, SQTrue, SQTrue)));
  SQInteger i = 0;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 103);
  sq_settop(v, 0);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getdefaultdelegate(v, OT_ARRAY)));
  sq_pushstring(v, u"append", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_rawget(v, -2)));
  EXPECT_EQ(sq_gettype(v, -1), OT_NATIVECLOSURE);
  sq_settop(v, 0);
  EXPECT_TRUE(SQ_FAILED(sq_getdefaultdelegate(v, OT_NULL)));
  SQChar* pad = sq_getscratchpad(v, 100);
  ASSERT_NE(pad, nullptr);
  pad[99] = u'x';
}

TEST_F(SquirrelApi, TailCallFromANative) {
  RegisterGlobal(u"forward", [](HSQUIRRELVM vm) -> SQInteger {
    // forward(f, x) returns f(x) through a tail call.
    sq_push(vm, 2);
    sq_pushroottable(vm);
    sq_push(vm, 3);
    return sq_tailcall(vm, 2);
  });
  ASSERT_TRUE(Run(u"print(forward(@(x) x * 3, 14));"));
  EXPECT_EQ(apitest::Output(), u"42");
}

TEST_F(SquirrelApi, RawNewMemberSkipsTheMetamethod) {
  ASSERT_TRUE(Run(u"class K { function _newmember(k, v, a, s) { ::seen <- k; } }"));
  sq_pushroottable(v);
  sq_pushstring(v, u"K", -1);
  sq_get(v, -2);
  sq_pushstring(v, u"viaMeta", -1);
  sq_pushinteger(v, 1);
  sq_pushnull(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newmember(v, -4, SQFalse)));
  sq_pushstring(v, u"raw", -1);
  sq_pushinteger(v, 2);
  sq_pushnull(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_rawnewmember(v, -4, SQFalse)));
  EXPECT_EQ(sq_gettop(v), 2);
  ASSERT_TRUE(Run(u"print(::seen + \" \" + (\"viaMeta\" in K) + \" \" + K.raw);"));
  EXPECT_EQ(apitest::Output(), u"viaMeta false 2");
}
