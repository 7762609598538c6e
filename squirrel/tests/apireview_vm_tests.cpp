// Threads, root and constant tables, weak references and object lifetimes through the host interface.
#include "api_fixture.h"

#include <cstring>

namespace {

using apitest::SquirrelApi;

bool SameObject(HSQUIRRELVM a, SQInteger ia, HSQUIRRELVM b, SQInteger ib) {
  HSQOBJECT x, y;
  sq_getstackobj(a, ia, &x);
  sq_getstackobj(b, ib, &y);
  return x._type == y._type && x._unVal.pRefCounted == y._unVal.pRefCounted;
}

TEST_F(SquirrelApi, ApiReviewNewThreadSharesTheRootUntilItGetsItsOwn) {
  SQInteger top = sq_gettop(v);
  HSQUIRRELVM t = sq_newthread(v, 32);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(sq_gettop(v), top + 1) << "the thread object is pushed on the friend's stack";
  EXPECT_EQ(sq_gettype(v, -1), OT_THREAD);
  HSQUIRRELVM got = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getthread(v, -1, &got)));
  EXPECT_EQ(got, t);
  EXPECT_EQ(sq_gettop(t), 0) << "a new thread starts with an empty stack";
  EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);

  sq_pushroottable(t);
  sq_pushroottable(v);
  EXPECT_TRUE(SameObject(t, -1, v, -1)) << "the root table is shared by default";
  sq_poptop(v);
  sq_poptop(t);

  // A root table of the thread's own: globals go there, the friend's root is untouched.
  sq_newtable(t);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setroottable(t)));
  EXPECT_EQ(sq_gettop(t), 0) << "setroottable pops the table";
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(t, u"g <- 1;", -1, u"t", SQTrue)));
  sq_newtable(t);  // a table as this, so the new slot can only go to the root table
  sq_pushroottable(t);
  sq_remove(t, -2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue)));
  sq_settop(t, 0);
  EXPECT_FALSE(Run(u"local x = ::g;")) << "the main root never saw g";

  // The constant table is the machine's: a thread sees the one the friend set.
  sq_newtable(v);
  sq_pushstring(v, u"K", -1);
  sq_pushinteger(v, 9);
  sq_newslot(v, -3, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setconsttable(v)));
  sq_pushconsttable(t);
  sq_pushstring(t, u"K", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(t, -2)));
  SQInteger k = 0;
  sq_getinteger(t, -1, &k);
  EXPECT_EQ(k, 9);
  sq_settop(t, 0);
}

TEST_F(SquirrelApi, ApiReviewRootAndConstTablesRefuseOtherValues) {
  struct Row {
    const char* name;
    SQRESULT (*set)(HSQUIRRELVM);
    void (*push)(HSQUIRRELVM);
    const char16_t* error;
  };
  for (const Row& r : {Row{"root", sq_setroottable, sq_pushroottable, u"invalid type"},
                       Row{"const", sq_setconsttable, sq_pushconsttable, u"invalid type, expected table"}}) {
    r.push(v);
    HSQOBJECT before;
    sq_getstackobj(v, -1, &before);
    sq_poptop(v);
    for (int kind = 0; kind < 3; ++kind) {
      if (kind == 0) sq_pushinteger(v, 1);
      if (kind == 1) sq_newarray(v, 0);
      if (kind == 2) sq_pushstring(v, u"t", -1);
      EXPECT_TRUE(SQ_FAILED(r.set(v))) << r.name << kind;
      EXPECT_EQ(sq_gettop(v), 1) << r.name << ": the refused value stays";
      EXPECT_EQ(LastError(), r.error) << r.name;
      sq_settop(v, 0);
      r.push(v);
      HSQOBJECT after;
      sq_getstackobj(v, -1, &after);
      EXPECT_EQ(after._unVal.pTable, before._unVal.pTable) << r.name << ": nothing changed";
      sq_settop(v, 0);
    }
  }
}

SQInteger g_handled;
SQInteger CountHandler(HSQUIRRELVM) {
  ++g_handled;
  return 0;
}

TEST_F(SquirrelApi, ApiReviewErrorHandlerIsSharedWithThreads) {
  g_handled = 0;
  HSQUIRRELVM t = sq_newthread(v, 32);
  sq_newclosure(t, CountHandler, 0);
  sq_seterrorhandler(t);  // set through the thread, used by the friend
  EXPECT_EQ(sq_gettop(t), 0);
  EXPECT_FALSE(Run(u"throw \"x\";"));
  EXPECT_EQ(g_handled, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(t, u"throw \"y\";", -1, u"t", SQTrue)));
  sq_pushroottable(t);
  EXPECT_TRUE(SQ_FAILED(sq_call(t, 1, SQFalse, SQTrue)));
  EXPECT_EQ(g_handled, 2);
}

TEST_F(SquirrelApi, ApiReviewWeakReferences) {
  // Values that are not objects are pushed themselves.
  struct Row {
    void (*push)(HSQUIRRELVM);
    SQObjectType type;
  };
  for (Row r : {Row{[](HSQUIRRELVM v) { sq_pushinteger(v, 3); }, OT_INTEGER},
                Row{[](HSQUIRRELVM v) { sq_pushfloat(v, 3.5f); }, OT_FLOAT},
                Row{[](HSQUIRRELVM v) { sq_pushbool(v, SQTrue); }, OT_BOOL},
                Row{[](HSQUIRRELVM v) { sq_pushnull(v); }, OT_NULL}}) {
    r.push(v);
    sq_weakref(v, -1);
    EXPECT_EQ(sq_gettype(v, -1), r.type);
    EXPECT_EQ(sq_gettop(v), 2);
    sq_settop(v, 0);
  }
  sq_newtable(v);
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_WEAKREF);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_TRUE(SameObject(v, -1, v, 1));
  sq_poptop(v);
  sq_remove(v, 1);  // the table's only strong reference
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL) << "the weak reference outlived its target";
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_getweakrefval(v, -1)));
  EXPECT_EQ(sq_gettop(v), 3) << "nothing is pushed on failure";
}

TEST_F(SquirrelApi, ApiReviewClassUserDataSizeGivesTheInstanceItsBuffer) {
  sq_newclass(v, SQFalse);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setclassudsize(v, -1, 16)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, -1)));
  SQUserPointer p = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(v, -1, &p, nullptr, SQTrue)));
  ASSERT_NE(p, nullptr) << "the user pointer is set to the instance's buffer";
  std::memset(p, 0xAB, 16);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, 1)));
  SQUserPointer q = nullptr;
  sq_getinstanceup(v, -1, &q, nullptr, SQTrue);
  EXPECT_NE(p, q) << "each instance has its own buffer";
}

TEST(ApiReviewLifetime, ReleaseHooksOfInstancesRunOnceAtTheLatestOnClose) {
  static int released;
  released = 0;
  HSQUIRRELVM v = sq_open(64);
  // One instance kept by the root table, one in a reference cycle, one held by a host handle.
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, u"class C { other = null } ::kept <- C(); local a = C(), b = C(); a.other = b; b.other = a; return a;", -1, u"t", SQTrue)));
  sq_pushroottable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger) -> SQInteger { ++released; return 1; });
  sq_settop(v, 0);
  sq_collectgarbage(v);
  EXPECT_EQ(released, 1) << "the collector frees the cycle";
  sq_pushroottable(v);
  sq_pushstring(v, u"kept", -1);
  sq_get(v, -2);
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger) -> SQInteger { ++released; return 1; });
  sq_settop(v, 0);
  sq_pushroottable(v);
  sq_pushstring(v, u"C", -1);
  sq_get(v, -2);
  sq_createinstance(v, -1);
  sq_setreleasehook(v, -1, [](SQUserPointer, SQInteger) -> SQInteger { ++released; return 1; });
  HSQOBJECT held;
  sq_getstackobj(v, -1, &held);
  sq_addref(v, &held);
  sq_settop(v, 0);
  EXPECT_EQ(released, 1);
  sq_close(v);
  EXPECT_EQ(released, 3) << "closing frees what the root table and the host still held";
}

TEST_F(SquirrelApi, ApiReviewInstantiatedClassRefusesNewSlots) {
  sq_newclass(v, SQFalse);
  sq_pushstring(v, u"m", -1);
  sq_pushinteger(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, 1, SQFalse)));
  sq_createinstance(v, 1);
  sq_pushstring(v, u"n", -1);
  sq_pushinteger(v, 2);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, 1, SQFalse)));
  EXPECT_EQ(LastError(), u"trying to modify a class that has already been instantiated");
  sq_settop(v, 2);
  sq_pushstring(v, u"n", -1);
  sq_pushinteger(v, 2);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, 2, SQFalse))) << "new slots go to tables and classes only";
}

}  // namespace

namespace {

TEST(ApiReviewDefaults, ANewMachineStartsWithNothingOfTheHost) {
  HSQUIRRELVM v = sq_open(16);
  EXPECT_EQ(sq_getforeignptr(v), nullptr);
  EXPECT_EQ(sq_getsharedforeignptr(v), nullptr);
  EXPECT_EQ(sq_getprintfunc(v), nullptr);
  EXPECT_EQ(sq_geterrorfunc(v), nullptr);
  EXPECT_EQ(sq_gettop(v), 0);
  EXPECT_EQ(sq_getvmstate(v), SQ_VMSTATE_IDLE);
  // Without a compiler error handler or print function a failing script is only a result.
  EXPECT_TRUE(SQ_FAILED(sq_compilebuffer(v, u"local = ;", -1, u"x", SQTrue)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_compilebuffer(v, u"print(\"x\"); throw \"y\";", -1, u"x", SQTrue)));
  sq_pushroottable(v);
  EXPECT_TRUE(SQ_FAILED(sq_call(v, 1, SQFalse, SQTrue)));
  sq_settop(v, 0);
  // The registry is one table for the machine and all its threads, apart from the root table.
  HSQUIRRELVM t = sq_newthread(v, 16);
  sq_pushregistrytable(t);
  sq_pushregistrytable(v);
  EXPECT_TRUE(SameObject(t, -1, v, -1));
  sq_pushroottable(v);
  EXPECT_FALSE(SameObject(v, -1, v, -2));
  sq_close(v);
}

}  // namespace
