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

namespace {

SQInteger IntAt(HSQUIRRELVM v, SQInteger idx) {
  SQInteger n = -999;
  sq_getinteger(v, idx, &n);
  return n;
}

// ---- classes, instances, type tags ------------------------------------------------------------------

int g_baseTag, g_midTag, g_otherTag, g_marker;

class TaggedHierarchy : public SquirrelApi {
 protected:
  // Stack after: 1 Base, 2 Mid (extends Base, tagged), 3 Leaf (extends Mid, untagged),
  // 4 an instance of Leaf, 5 an instance of Base.
  void Build() {
    sq_newclass(v, SQFalse);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, &g_baseTag)));
    sq_push(v, 1);
    SQInteger top = sq_gettop(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, SQTrue)));
    EXPECT_EQ(sq_gettop(v), top) << "the base is popped, the new class pushed";
    ASSERT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, &g_midTag)));
    sq_push(v, 2);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, SQTrue)));
    ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, 3)));
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setinstanceup(v, -1, &g_otherTag)));
    ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, 1)));
    ASSERT_EQ(sq_gettop(v), 5);
  }
};

TEST_F(TaggedHierarchy, InstanceUserPointerWalksTheBaseClasses) {
  Build();
  struct Row {
    SQInteger idx;
    void* tag;
    bool ok;
  };
  const Row rows[] = {{4, nullptr, true},     {4, &g_midTag, true},   {4, &g_baseTag, true},
                      {4, &g_otherTag, false}, {5, &g_baseTag, true}, {5, &g_midTag, false},
                      {-2, &g_baseTag, true},  {1, nullptr, false}};
  for (const Row& r : rows) {
    for (SQBool throwerror : {SQFalse, SQTrue}) {
      sq_reseterror(v);
      SQUserPointer p = &g_marker;
      SQRESULT res = sq_getinstanceup(v, r.idx, &p, r.tag, throwerror);
      EXPECT_EQ(SQ_SUCCEEDED(res), r.ok) << r.idx;
      if (r.ok) {
        EXPECT_EQ(p, r.idx == 5 ? nullptr : static_cast<void*>(&g_otherTag));
      } else {
        EXPECT_EQ(p, &g_marker) << "the output is untouched on failure";
        sq_getlasterror(v);
        if (throwerror) {
          const SQChar* s = nullptr;
          ASSERT_TRUE(SQ_SUCCEEDED(sq_getstring(v, -1, &s)));
          EXPECT_EQ(std::u16string(s), r.idx == 1 ? u"the object is not a class instance" : u"invalid type tag");
        } else {
          EXPECT_EQ(sq_gettype(v, -1), OT_NULL) << "no error is raised when not asked";
        }
        sq_poptop(v);
      }
    }
  }
  EXPECT_EQ(sq_gettop(v), 5);
}

TEST_F(TaggedHierarchy, TypeTagQueries) {
  Build();
  struct Row {
    SQInteger idx;
    bool ok;
    void* tag;
  };
  for (Row r : {Row{1, true, &g_baseTag}, Row{2, true, &g_midTag}, Row{3, true, nullptr},
                Row{5, true, &g_baseTag}}) {
    SQUserPointer t = &g_marker;
    EXPECT_TRUE(SQ_SUCCEEDED(sq_gettypetag(v, r.idx, &t))) << r.idx;
    EXPECT_EQ(t, r.tag) << r.idx;
  }
  sq_newtable(v);
  SQUserPointer t = nullptr;
  EXPECT_TRUE(SQ_FAILED(sq_gettypetag(v, -1, &t)));
  EXPECT_TRUE(SQ_FAILED(sq_settypetag(v, -1, &g_otherTag)));
  sq_getlasterror(v);
  const SQChar* s = nullptr;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s ? s : u""), u"invalid object type");
  sq_pop(v, 2);
  // A userdata takes a tag too.
  SQUserPointer made = sq_newuserdata(v, 4);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(made) % 4, 0u) << "userdata buffers are aligned to 4 bytes";
  EXPECT_EQ(sq_gettype(v, -1), OT_USERDATA);
  EXPECT_TRUE(SQ_SUCCEEDED(sq_settypetag(v, -1, &g_otherTag)));
  SQUserPointer data = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sq_getuserdata(v, -1, &data, &t)));
  EXPECT_EQ(t, &g_otherTag);
  EXPECT_EQ(data, made);
}

TEST_F(TaggedHierarchy, ClassAndBaseQueries) {
  Build();
  struct Row {
    SQInteger idx;
    bool classOk;
    SQInteger classIs;  // stack position of the expected class
    bool baseOk;
    SQInteger baseIs;  // 0 for null
  };
  for (Row r : {Row{4, true, 3, false, 0}, Row{5, true, 1, false, 0}, Row{3, false, 0, true, 2},
                Row{2, false, 0, true, 1}, Row{1, false, 0, true, 0}}) {
    SQInteger top = sq_gettop(v);
    EXPECT_EQ(SQ_SUCCEEDED(sq_getclass(v, r.idx)), r.classOk) << r.idx;
    if (r.classOk) {
      HSQOBJECT a, b;
      sq_getstackobj(v, -1, &a);
      sq_getstackobj(v, r.classIs, &b);
      EXPECT_EQ(a._unVal.pClass, b._unVal.pClass) << r.idx;
      sq_poptop(v);
    }
    EXPECT_EQ(sq_gettop(v), top);
    EXPECT_EQ(SQ_SUCCEEDED(sq_getbase(v, r.idx)), r.baseOk) << r.idx;
    if (r.baseOk) {
      if (r.baseIs == 0) {
        EXPECT_EQ(sq_gettype(v, -1), OT_NULL);
      } else {
        HSQOBJECT a, b;
        sq_getstackobj(v, -1, &a);
        sq_getstackobj(v, r.baseIs, &b);
        EXPECT_EQ(a._unVal.pClass, b._unVal.pClass) << r.idx;
      }
      sq_poptop(v);
    }
    EXPECT_EQ(sq_gettop(v), top);
  }
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_newclass(v, SQTrue))) << "the base must be a class";
  EXPECT_TRUE(SQ_FAILED(sq_createinstance(v, -1)));
  EXPECT_TRUE(SQ_FAILED(sq_setinstanceup(v, -1, nullptr)));
}

TEST_F(SquirrelApi, CreateInstanceSkipsTheConstructor) {
  ASSERT_TRUE(Run(u"class C { x = 1; constructor() { x = 2; } }"));
  sq_pushroottable(v);
  sq_pushstring(v, u"C", -1);
  sq_get(v, -2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_createinstance(v, -1)));
  EXPECT_EQ(sq_gettype(v, -1), OT_INSTANCE);
  sq_pushstring(v, u"x", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  EXPECT_EQ(IntAt(v, -1), 1);
  // Calling the class makes an instance through its constructor.
  sq_settop(v, 3);
  sq_push(v, 2);
  sq_pushroottable(v);  // the dummy that the new instance replaces as this
  ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQFalse)));
  sq_pushstring(v, u"x", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  EXPECT_EQ(IntAt(v, -1), 2);
}

TEST_F(SquirrelApi, ReleaseHooksGetTheUserPointer) {
  static std::vector<std::pair<SQUserPointer, SQInteger>> seen;
  seen.clear();
  SQRELEASEHOOK hook = [](SQUserPointer p, SQInteger size) -> SQInteger {
    seen.emplace_back(p, size);
    return 1;
  };
  static int payload;
  sq_newclass(v, SQFalse);
  sq_createinstance(v, -1);
  sq_setinstanceup(v, -1, &payload);
  sq_setreleasehook(v, -1, hook);
  EXPECT_EQ(sq_getreleasehook(v, -1), hook);
  sq_newuserdata(v, 16);
  SQUserPointer data = nullptr;
  sq_getuserdata(v, -1, &data, nullptr);
  sq_setreleasehook(v, -1, hook);
  sq_pushinteger(v, 1);
  EXPECT_EQ(sq_getreleasehook(v, -1), nullptr) << "other types have no hook";
  sq_pop(v, 2);
  ASSERT_EQ(seen.size(), 1u) << "the userdata's hook runs when it is freed";
  EXPECT_EQ(seen[0].first, data);
  EXPECT_EQ(seen[0].second, 16);
  sq_pop(v, 1);
  ASSERT_EQ(seen.size(), 2u) << "the instance's hook runs when it is freed";
  EXPECT_EQ(seen[1].first, &payload);
  EXPECT_EQ(seen[1].second, 0);
}

}  // namespace
