// Tables, arrays, slots, threads, root and constant tables, references, garbage collection and object lifetimes
// through the C interface.
#include "api_fixture.h"

#include <cstring>
#include <functional>

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

TEST_F(SquirrelApi, AWeakReferenceOnceMadeStaysKnownToItsTarget) {
  HSQOBJECT table, number;
  sq_newtable(v);
  sq_getstackobj(v, -1, &table);
  sq_pushinteger(v, 5);
  sq_getstackobj(v, -1, &number);
  EXPECT_FALSE(sq_hasweakref(&table));
  EXPECT_FALSE(sq_hasweakref(&number)) << "values without a count have no weak reference";
  sq_weakref(v, -2);
  EXPECT_TRUE(sq_hasweakref(&table));
  sq_pop(v, 1);
  // Dropping the weak reference value leaves the target's own link.
  EXPECT_TRUE(sq_hasweakref(&table));
  sq_weakref(v, -1);
  EXPECT_EQ(sq_gettype(v, -1), OT_INTEGER) << "an integer's weak reference is the integer";
  sq_pop(v, 3);
  HSQOBJECT other;
  sq_newarray(v, 0);
  sq_getstackobj(v, -1, &other);
  EXPECT_FALSE(sq_hasweakref(&other));
  sq_pop(v, 1);
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
  EXPECT_EQ(obj._type, OT_NULL) << "a handle that lost all its references is reset to null";
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

namespace {

SQInteger IntAt(HSQUIRRELVM v, SQInteger idx) {
  SQInteger n = -999;
  sq_getinteger(v, idx, &n);
  return n;
}

TEST_F(SquirrelApi, GetIndexesArrays) {
  ASSERT_TRUE(Run(u"::arr <- [10, 20, 30];"));
  sq_pushroottable(v);
  sq_pushstring(v, u"arr", -1);
  sq_get(v, 1);
  struct Row {
    SQInteger idx;
    bool ok;
    SQInteger value;
  };
  for (Row r : {Row{0, true, 10}, Row{2, true, 30}, Row{3, false, 0}, Row{-1, false, 0}}) {
    SQInteger top = sq_gettop(v);
    sq_pushinteger(v, r.idx);
    EXPECT_EQ(SQ_SUCCEEDED(sq_get(v, -2)), r.ok) << r.idx;
    if (r.ok) {
      EXPECT_EQ(IntAt(v, -1), r.value);
      sq_pop(v, 1);
    }
    EXPECT_EQ(sq_gettop(v), top) << r.idx;
  }
}

// ---- arrays --------------------------------------------------------------------------------------

// ---- clone ---------------------------------------------------------------------------------------

TEST_F(SquirrelApi, CloneIsShallow) {
  ASSERT_TRUE(Run(u"::inner <- [1]; ::src <- {a = 1, b = inner}; ::arr <- [inner, 2];"
                  u"class C { x = 1; y = null } ::inst <- C(); inst.y = inner;"));
  for (const char16_t* name : {u"src", u"arr", u"inst"}) {
    sq_settop(v, 0);
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    sq_get(v, 1);
    SQInteger top = sq_gettop(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_clone(v, -1))) << std::string(name, name + 3);
    EXPECT_EQ(sq_gettop(v), top + 1) << "clone pushes the copy and keeps the original";
    EXPECT_EQ(sq_gettype(v, -1), sq_gettype(v, -2));
    HSQOBJECT a, b;
    sq_getstackobj(v, -1, &a);
    sq_getstackobj(v, -2, &b);
    EXPECT_NE(a._unVal.pRefCounted, b._unVal.pRefCounted);
    sq_pushroottable(v);
    sq_pushstring(v, u"copy", -1);
    sq_push(v, -3);
    sq_newslot(v, -3, SQFalse);
  }
  // The copies own their slots but share what the slots refer to.
  ASSERT_TRUE(Run(u"copy.x = 5; inner.push(2);"
                  u"if (inst.x != 1 || copy.y.len() != 2) throw \"instance clone\";"));
}

bool SameObject(HSQUIRRELVM a, SQInteger ia, HSQUIRRELVM b, SQInteger ib) {
  HSQOBJECT x, y;
  sq_getstackobj(a, ia, &x);
  sq_getstackobj(b, ib, &y);
  return x._type == y._type && x._unVal.pRefCounted == y._unVal.pRefCounted;
}

TEST_F(SquirrelApi, NewThreadSharesTheRootUntilItGetsItsOwn) {
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

TEST_F(SquirrelApi, RootAndConstTablesRefuseOtherValues) {
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

// Which handler saw each error: 'a' or 'b' per call, in order.
std::string g_handledBy;
SQInteger HandlerA(HSQUIRRELVM) {
  g_handledBy += 'a';
  return 0;
}
SQInteger HandlerB(HSQUIRRELVM) {
  g_handledBy += 'b';
  return 0;
}

// Compiles and calls the code on the thread t with its root table as this; true on success.
bool RunOn(HSQUIRRELVM t, const std::u16string& code) {
  const SQInteger top = sq_gettop(t);
  if (SQ_FAILED(sq_compilebuffer(t, code.c_str(), SQInteger(code.size()), u"t", SQTrue))) return false;
  sq_pushroottable(t);
  const bool ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
  sq_settop(t, top);
  return ok;
}

// Each thread reports through its own handler; a new thread starts with its parent's at the time it is made,
// and setting or clearing one thread's handler (from the host or from a script) changes no other's.
TEST_F(SquirrelApi, EachThreadHasItsOwnErrorHandler) {
  g_handledBy.clear();
  sq_newclosure(v, HandlerA, 0);
  sq_seterrorhandler(v);
  HSQUIRRELVM child = sq_newthread(v, 32);  // takes a
  sq_newclosure(child, HandlerB, 0);
  sq_seterrorhandler(child);
  EXPECT_EQ(sq_gettop(child), 0);
  HSQUIRRELVM grandchild = sq_newthread(child, 32);  // takes b
  HSQUIRRELVM silenced = sq_newthread(v, 32);
  sq_pushnull(silenced);
  sq_seterrorhandler(silenced);
  HSQUIRRELVM sibling = sq_newthread(v, 32);  // made after the others changed theirs: still a
  struct Row {
    HSQUIRRELVM thread;
    const char* handledBy;
  };
  for (int round = 0; round < 2; ++round) {
    for (const Row& row : {Row{v, "a"}, Row{child, "b"}, Row{grandchild, "b"}, Row{silenced, ""}, Row{sibling, "a"}}) {
      SCOPED_TRACE(row.handledBy);
      g_handledBy.clear();
      EXPECT_FALSE(RunOn(row.thread, u"throw \"x\";"));
      EXPECT_EQ(g_handledBy, row.handledBy);
      // A thread a script makes takes the handler of the thread that made it; its error is reported there once.
      g_handledBy.clear();
      EXPECT_FALSE(RunOn(row.thread, u"newthread(function() { throw \"y\"; }).call();"));
      EXPECT_EQ(g_handledBy, row.handledBy);
    }
  }
  // A script's seterrorhandler: its own thread only, also when it clears the handler.
  ASSERT_TRUE(RunOn(child, u"seterrorhandler(function(e) { ::seen <- e; });"));
  g_handledBy.clear();
  EXPECT_FALSE(RunOn(grandchild, u"throw \"z\";"));
  EXPECT_FALSE(RunOn(v, u"throw \"z\";"));
  EXPECT_EQ(g_handledBy, "ba");
  EXPECT_FALSE(RunOn(child, u"throw \"mine\";"));
  EXPECT_TRUE(RunOn(v, u"assert(::seen == \"mine\");"));
  ASSERT_TRUE(RunOn(grandchild, u"seterrorhandler(null);"));
  g_handledBy.clear();
  EXPECT_FALSE(RunOn(grandchild, u"throw \"z\";"));
  EXPECT_FALSE(RunOn(sibling, u"throw \"z\";"));
  EXPECT_EQ(g_handledBy, "a");
}

TEST_F(SquirrelApi, WeakReferences) {
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

TEST_F(SquirrelApi, ClassUserDataSizeGivesTheInstanceItsBuffer) {
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

TEST(SquirrelLifetime, ReleaseHooksOfInstancesRunOnceAtTheLatestOnClose) {
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

TEST_F(SquirrelApi, InstantiatedClassRefusesNewSlots) {
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

TEST(SquirrelDefaults, ANewMachineStartsWithNothingOfTheHost) {
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
