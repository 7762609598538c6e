// Classes, instances, type tags and release hooks through the C interface.
#include "api_fixture.h"

#include <vector>

using apitest::SquirrelApi;

namespace {
int g_tagA, g_tagB, g_tagC;
std::vector<SQInteger> g_released;
SQInteger RecordRelease(SQUserPointer p, SQInteger) {
  g_released.push_back(SQInteger(reinterpret_cast<intptr_t>(p)));
  return 0;
}
}  // namespace

class SquirrelClasses : public SquirrelApi {
 protected:
  // Makes classes A <- B <- C in the root table, tagged g_tagA/B/C.
  void MakeHierarchy() {
    sq_pushroottable(v);
    const SQChar* names[] = {u"A", u"B", u"C"};
    void* tags[] = {&g_tagA, &g_tagB, &g_tagC};
    for (int i = 0; i < 3; ++i) {
      sq_pushstring(v, names[i], -1);
      if (i > 0) {
        sq_pushstring(v, names[i - 1], -1);
        ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -3)));
      }
      ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, i > 0 ? SQTrue : SQFalse)));
      ASSERT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, tags[i])));
      ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
    }
    sq_pop(v, 1);
  }
  void PushGlobal(const SQChar* name) {
    sq_pushroottable(v);
    sq_pushstring(v, name, -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    sq_remove(v, -2);
  }
};

TEST_F(SquirrelClasses, TypeTagsAreFoundThroughBaseClasses) {
  MakeHierarchy();
  struct Case {
    const SQChar* cls;
    void* tag;
    bool ok;
  };
  const Case cases[] = {
      {u"C", &g_tagA, true}, {u"C", &g_tagB, true}, {u"C", &g_tagC, true},
      {u"B", &g_tagC, false}, {u"A", &g_tagB, false}, {u"A", nullptr, true},
  };
  for (const Case& c : cases) {
    PushGlobal(c.cls);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, -1)));
    int payload = 5;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setinstanceup(v, -1, &payload)));
    SQUserPointer p = nullptr;
    SQRESULT r = sq_getinstanceup(v, -1, &p, c.tag, SQTrue);
    EXPECT_EQ(SQ_SUCCEEDED(r), c.ok);
    if (c.ok) EXPECT_EQ(p, &payload);
    else EXPECT_EQ(LastError(), u"invalid type tag");
    SQUserPointer tag = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_gettypetag(v, -1, &tag)));
    EXPECT_EQ(tag, c.cls[0] == u'A' ? &g_tagA : c.cls[0] == u'B' ? static_cast<void*>(&g_tagB) : &g_tagC);
    sq_pop(v, 2);
  }
  sq_pushinteger(v, 3);
  SQUserPointer p;
  EXPECT_TRUE(SQ_FAILED(sq_getinstanceup(v, -1, &p, nullptr, SQTrue)));
  EXPECT_EQ(LastError(), u"the object is not a class instance");
  EXPECT_TRUE(SQ_FAILED(sq_setinstanceup(v, -1, nullptr)));
}

TEST_F(SquirrelClasses, BaseAndClassQueries) {
  MakeHierarchy();
  PushGlobal(u"C");
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbase(v, -1)));
  PushGlobal(u"B");
  HSQOBJECT a, b;
  sq_getstackobj(v, -1, &a);
  sq_getstackobj(v, -2, &b);
  EXPECT_EQ(a._unVal.pClass, b._unVal.pClass);
  sq_settop(v, 0);
  PushGlobal(u"A");
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbase(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
  sq_pop(v, 1);
  sq_createinstance(v, -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getclass(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_CLASS);
  sq_push(v, -2);  // instance
  sq_push(v, -2);  // class
  EXPECT_TRUE(sq_instanceof(v));
}

TEST_F(SquirrelClasses, ReleaseHooksRunWhenTheInstanceIsFreed) {
  g_released.clear();
  sq_pushroottable(v);
  sq_pushstring(v, u"Res", -1);
  sq_newclass(v, SQFalse);
  sq_newslot(v, -3, SQFalse);
  sq_pop(v, 1);
  PushGlobal(u"Res");
  sq_createinstance(v, -1);
  sq_setinstanceup(v, -1, reinterpret_cast<SQUserPointer>(intptr_t(11)));
  sq_setreleasehook(v, -1, RecordRelease);
  EXPECT_EQ(sq_getreleasehook(v, -1), RecordRelease);
  EXPECT_TRUE(g_released.empty());
  sq_pop(v, 1);
  ASSERT_EQ(g_released.size(), 1u) << "the hook runs as soon as the last reference goes";
  EXPECT_EQ(g_released[0], 11);
  // A class-wide hook applies to instances made by script too.
  sq_setreleasehook(v, -1, RecordRelease);
  sq_pop(v, 1);
  ASSERT_TRUE(Run(u"local r = Res(); r = null;"));
  EXPECT_EQ(g_released.size(), 2u);
}

TEST_F(SquirrelClasses, ClassReleaseHooksCoverSubclassesDeclaredBeforeTheHook) {
  g_released.clear();
  ASSERT_TRUE(Run(u"class Base {} class Mid extends Base {} class Leaf extends Mid {}"));
  PushGlobal(u"Base");
  sq_setreleasehook(v, -1, RecordRelease);
  sq_pop(v, 1);
  ASSERT_TRUE(Run(u"local a = Leaf(), b = Mid(), c = Base(); a = b = c = null;"));
  EXPECT_EQ(g_released.size(), 3u) << "instances of the class and of every subclass";
  ASSERT_TRUE(Run(u"local k = class extends Leaf {}; local i = k(); i = null;"));
  EXPECT_EQ(g_released.size(), 4u) << "subclasses declared after the hook inherit it";
  ASSERT_TRUE(Run(u"::kept <- Leaf();"));
  PushGlobal(u"Base");
  sq_setreleasehook(v, -1, nullptr);
  sq_pop(v, 1);
  ASSERT_TRUE(Run(u"::kept = null; local i = Leaf(); i = null;"));
  EXPECT_EQ(g_released.size(), 5u) << "an instance keeps the hook it was made with";
}

TEST_F(SquirrelClasses, MembersAttributesAndHandles) {
  ASSERT_TRUE(Run(u"class K </ tag = \"cls\" /> { </ m = 1 /> field = 3; static st = 4; function meth() { return field; } }"));
  PushGlobal(u"K");
  sq_pushnull(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getattributes(v, -2)));
  sq_pushstring(v, u"tag", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"cls");
  sq_settop(v, 1);
  sq_pushstring(v, u"field", -1);
  sq_pushstring(v, u"newattr", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setattributes(v, -3)));
  EXPECT_EQ(sq_gettype(v, -1), OT_TABLE) << "the previous attributes are pushed";
  sq_settop(v, 1);
  HSQMEMBERHANDLE h;
  sq_pushstring(v, u"field", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getmemberhandle(v, -2, &h)));
  EXPECT_EQ(sq_gettop(v), 1);
  sq_createinstance(v, -1);
  sq_pushinteger(v, 99);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_setbyhandle(v, -2, &h)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbyhandle(v, -1, &h)));
  SQInteger i;
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 99);
  sq_pop(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getbyhandle(v, -2, &h)));
  sq_getinteger(v, -1, &i);
  EXPECT_EQ(i, 3) << "the class default is untouched";
  sq_settop(v, 1);
  // The class is locked now: new fields are refused, methods may still be added.
  sq_pushstring(v, u"late", -1);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, -3, SQFalse)));
  EXPECT_EQ(LastError(), u"trying to modify a class that has already been instantiated");
  EXPECT_EQ(sq_gettop(v), 1) << "key and value are popped on failure too";
  sq_pushstring(v, u"st2", -1);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQTrue))) << "static members may still be added";
}

TEST_F(SquirrelClasses, NewMemberWithAttributes) {
  sq_newclass(v, SQFalse);
  sq_pushstring(v, u"x", -1);
  sq_pushinteger(v, 7);
  sq_pushstring(v, u"attr", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newmember(v, -4, SQFalse)));
  EXPECT_EQ(sq_gettop(v), 1);
  sq_pushstring(v, u"x", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getattributes(v, -2)));
  const SQChar* s;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"attr");
  sq_pop(v, 1);
  sq_setclassudsize(v, -1, 24);
  sq_createinstance(v, -1);
  SQUserPointer up = nullptr;
  sq_getinstanceup(v, -1, &up, nullptr, SQFalse);
  EXPECT_NE(up, nullptr) << "instances of classes with a user-data size get their own memory";
  EXPECT_EQ(sq_getsize(v, -1), 24);
}

TEST_F(SquirrelClasses, NativeConstructorAndInheritanceRefusal) {
  sq_pushroottable(v);
  sq_pushstring(v, u"Sealed", -1);
  sq_newclass(v, SQFalse);
  sq_pushstring(v, u"_inherited", -1);
  sq_newclosure(v, [](HSQUIRRELVM vm) -> SQInteger { return sq_throwerror(vm, u"this class cannot be inherited"); }, 0);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, u"_cloned", -1);
  sq_newclosure(v, [](HSQUIRRELVM vm) -> SQInteger { return sq_throwerror(vm, u"instances of this class cannot be cloned"); }, 0);
  sq_newslot(v, -3, SQFalse);
  sq_pushstring(v, u"constructor", -1);
  sq_newclosure(v, [](HSQUIRRELVM vm) -> SQInteger {
    SQInteger n;
    sq_getinteger(vm, 2, &n);
    sq_setinstanceup(vm, 1, reinterpret_cast<SQUserPointer>(intptr_t(n)));
    return 0;
  }, 0);
  sq_setparamscheck(v, SQ_MATCHTYPEMASKSTRING, u"xi");
  sq_newslot(v, -3, SQFalse);
  sq_newslot(v, -3, SQFalse);
  // A subclass made natively is allowed.
  sq_pushstring(v, u"Sub", -1);
  sq_pushstring(v, u"Sealed", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -3)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, SQTrue)));
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  sq_pop(v, 1);
  EXPECT_EQ(sq_gettop(v), 0);
  ASSERT_TRUE(Run(u"local s = Sealed(5); print(s != null);"));
  EXPECT_EQ(apitest::Output(), u"true");
  EXPECT_FALSE(Run(u"class Mine extends Sealed {}"));
  EXPECT_EQ(LastError(), u"this class cannot be inherited");
  EXPECT_FALSE(Run(u"local s = Sealed(1); local c = clone s;"));
  EXPECT_EQ(LastError(), u"instances of this class cannot be cloned");
  EXPECT_FALSE(Run(u"Sealed(\"x\");"));
  EXPECT_EQ(LastError(), u"parameter 1 has an invalid type 'string' ; expected: 'integer'");
  EXPECT_TRUE(Run(u"local s = Sub(2);"));
}
