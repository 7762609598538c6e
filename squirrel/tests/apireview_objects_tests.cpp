// Tables, arrays and classes through the host interface: stack effects, results and refusals.
#include "api_fixture.h"

#include <functional>

namespace {

using apitest::SquirrelApi;

SQInteger IntAt(HSQUIRRELVM v, SQInteger idx) {
  SQInteger n = -999;
  sq_getinteger(v, idx, &n);
  return n;
}

// ---- tables: newslot / set / get --------------------------------------------------------------------

TEST_F(SquirrelApi, ApiReviewTableSlotStackEffects) {
  sq_newtable(v);  // 1
  sq_pushstring(v, u"a", -1);
  sq_pushinteger(v, 1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  EXPECT_EQ(sq_gettop(v), 1) << "newslot pops the key and the value";

  sq_pushstring(v, u"a", -1);
  sq_pushinteger(v, 2);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_set(v, 1)));
  EXPECT_EQ(sq_gettop(v), 1) << "set pops the key and the value";

  sq_pushstring(v, u"a", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  EXPECT_EQ(sq_gettop(v), 2) << "get replaces the key by the value";
  EXPECT_EQ(IntAt(v, -1), 2);
  sq_pop(v, 1);

  // A missing key: get fails, the key is gone and nothing is pushed.
  sq_pushstring(v, u"missing", -1);
  EXPECT_TRUE(SQ_FAILED(sq_get(v, -2)));
  EXPECT_EQ(sq_gettop(v), 1);

  // Set works like an assignment: a table slot must exist.
  sq_pushstring(v, u"missing", -1);
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_set(v, 1)));
  sq_settop(v, 1);
  EXPECT_EQ(sq_getsize(v, 1), 1);

  // Null is no key.
  sq_pushnull(v);
  sq_pushinteger(v, 3);
  EXPECT_TRUE(SQ_FAILED(sq_newslot(v, 1, SQFalse)));
  sq_settop(v, 1);
  EXPECT_EQ(sq_getsize(v, 1), 1);

  // Integer and float keys are different slots.
  sq_pushinteger(v, 1);
  sq_pushstring(v, u"int", -1);
  sq_newslot(v, 1, SQFalse);
  sq_pushfloat(v, 1.0f);
  sq_pushstring(v, u"float", -1);
  sq_newslot(v, 1, SQFalse);
  EXPECT_EQ(sq_getsize(v, 1), 3);
  sq_pushinteger(v, 1);
  sq_get(v, 1);
  const SQChar* s = nullptr;
  sq_getstring(v, -1, &s);
  EXPECT_EQ(std::u16string(s), u"int");
}

TEST_F(SquirrelApi, ApiReviewGetFollowsDelegatesAndIndexesArrays) {
  ASSERT_TRUE(Run(u"::d <- {inherited = 7}; ::t <- {}.setdelegate(d); ::arr <- [10, 20, 30];"));
  sq_pushroottable(v);
  sq_pushstring(v, u"t", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  sq_pushstring(v, u"inherited", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2))) << "get uses the delegation system";
  EXPECT_EQ(IntAt(v, -1), 7);
  sq_pop(v, 1);
  sq_pushstring(v, u"inherited", -1);
  EXPECT_TRUE(SQ_FAILED(sq_rawget(v, -2))) << "rawget does not";
  sq_settop(v, 1);

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

TEST_F(SquirrelApi, ApiReviewSlotOperationsRefuseOtherTypes) {
  struct Row {
    const char* name;
    std::function<void(HSQUIRRELVM)> target;
  };
  for (const Row& r : {Row{"integer", [](HSQUIRRELVM v) { sq_pushinteger(v, 1); }},
                       Row{"string", [](HSQUIRRELVM v) { sq_pushstring(v, u"s", -1); }},
                       Row{"null", [](HSQUIRRELVM v) { sq_pushnull(v); }},
                       Row{"array", [](HSQUIRRELVM v) { sq_newarray(v, 0); }}}) {
    sq_settop(v, 0);
    r.target(v);
    sq_pushstring(v, u"k", -1);
    sq_pushinteger(v, 1);
    EXPECT_TRUE(SQ_FAILED(sq_newslot(v, 1, SQFalse))) << r.name;
  }
}

// ---- arrays --------------------------------------------------------------------------------------

TEST_F(SquirrelApi, ApiReviewArrayAppendPopsTheValue) {
  sq_newarray(v, 0);
  for (SQInteger i = 0; i < 3; ++i) {
    sq_pushinteger(v, i * 10);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_arrayappend(v, -2)));
    EXPECT_EQ(sq_gettop(v), 1);
  }
  EXPECT_EQ(sq_getsize(v, 1), 3);
  sq_pushinteger(v, 2);
  sq_get(v, 1);
  EXPECT_EQ(IntAt(v, -1), 20);
  sq_settop(v, 0);

  sq_newtable(v);
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sq_arrayappend(v, 1))) << "only arrays";
  EXPECT_EQ(sq_getsize(v, 1), 0);
}

// ---- clone ---------------------------------------------------------------------------------------

TEST_F(SquirrelApi, ApiReviewCloneIsShallow) {
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

// ---- classes, instances, type tags ------------------------------------------------------------------

int g_baseTag, g_midTag, g_otherTag, g_marker;

class ApiReviewClasses : public SquirrelApi {
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

TEST_F(ApiReviewClasses, InstanceUserPointerWalksTheBaseClasses) {
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

TEST_F(ApiReviewClasses, TypeTagQueries) {
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

TEST_F(ApiReviewClasses, ClassAndBaseQueries) {
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

TEST_F(SquirrelApi, ApiReviewCreateInstanceSkipsTheConstructor) {
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

TEST_F(SquirrelApi, ApiReviewReleaseHooksGetTheUserPointer) {
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

// ---- parameter checks: every mask letter, alternatives, counts ---------------------------------------

SQInteger ReturnsTrue(HSQUIRRELVM v) {
  sq_pushbool(v, SQTrue);
  return 1;
}
SQInteger MakeUserData(HSQUIRRELVM v) {
  sq_newuserdata(v, 4);
  return 1;
}
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

class ApiReviewParamsCheck : public SquirrelApi, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(ApiReviewParamsCheck, RefusesBeforeTheNativeRuns) {
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
    ApiReview, ApiReviewParamsCheck,
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
        MaskCase{"nocount_typed", 0, u".i", u"", nullptr}),
    [](const ::testing::TestParamInfo<MaskCase>& info) { return std::string(info.param.name); });

TEST_F(SquirrelApi, ApiReviewParamsCheckRefusals) {
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
  sq_poptop(v);
  sq_newclosure(v, ReturnsTrue, 0);
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u".q"))) << "unknown letter";
  EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, u".i|"))) << "bar without an alternative";
  // Names only go on native closures.
  EXPECT_TRUE(SQ_SUCCEEDED(sq_setnativeclosurename(v, -1, u"named")));
  ASSERT_TRUE(Run(u"function g() {} ::g2 <- g;"));
  sq_pushroottable(v);
  sq_pushstring(v, u"g2", -1);
  sq_get(v, -2);
  EXPECT_TRUE(SQ_FAILED(sq_setnativeclosurename(v, -1, u"x")));
  EXPECT_EQ(LastError(), u"the object is not a nativeclosure");
}

}  // namespace
