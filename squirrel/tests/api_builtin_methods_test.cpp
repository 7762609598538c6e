// A method call on a value whose methods are its type's built-in ones: one call site meeting many types, and
// the host changing those methods between calls (added, replaced, removed, moved by the table's growth).
#include "api_fixture.h"

#include <platform/text.h>

#include <string>

using apitest::Output;
using apitest::SquirrelApi;

namespace {

// A native whose one free variable is its answer: the free variable sits on the stack top when it runs.
SQInteger AnswerFreeVariable(HSQUIRRELVM) { return 1; }

class BuiltinMethods : public SquirrelApi {
 protected:
  // Sets (or replaces) `name` in the default methods of type t to a native answering `answer`.
  void SetDefaultMethod(SQObjectType t, const SQChar* name, const SQChar* answer) {
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getdefaultdelegate(v, t)));
    sq_pushstring(v, name, -1);
    sq_pushstring(v, answer, -1);
    sq_newclosure(v, AnswerFreeVariable, 1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
    sq_pop(v, 1);
  }
  void RemoveDefaultMethod(SQObjectType t, const SQChar* name) {
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getdefaultdelegate(v, t)));
    sq_pushstring(v, name, -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_deleteslot(v, -2, SQFalse)));
    sq_pop(v, 1);
  }
  // What `probe(<expression>)` prints three times over (the first call fills the site's cache), or the error.
  std::u16string Probe(const std::u16string& expression) {
    Output().clear();
    if (!Run(u"for (local i = 0; i < 3; ++i) print(probe(" + expression + u") + \";\");"))
      return u"error: " + LastError();
    return Output();
  }
};

TEST_F(BuiltinMethods, OneCallSiteFollowsEveryTypeAndEveryChange) {
  ASSERT_TRUE(
      Run(u"function probe(x) { return x.kind(); }\n"
          u"class Owner { function kind() { return \"instance\"; } }\n"
          u"class Bare {}\n"
          u"parent <- { kind = @() \"delegate\" };"));
  SetDefaultMethod(OT_ARRAY, u"kind", u"array");
  SetDefaultMethod(OT_STRING, u"kind", u"string");
  SetDefaultMethod(OT_INTEGER, u"kind", u"number");  // integers, floats and bools share their methods
  SetDefaultMethod(OT_CLOSURE, u"kind", u"function");
  SetDefaultMethod(OT_THREAD, u"kind", u"thread");
  SetDefaultMethod(OT_GENERATOR, u"kind", u"generator");
  SetDefaultMethod(OT_TABLE, u"kind", u"table");
  SetDefaultMethod(OT_INSTANCE, u"kind", u"any instance");

  struct Row {
    const char16_t* expression;
    const char16_t* kind;
  };
  const Row rows[] = {
      {u"[1, 2]", u"array"},
      {u"\"ab\"", u"string"},
      {u"5", u"number"},
      {u"1.5", u"number"},
      {u"true", u"number"},
      {u"@() 1", u"function"},
      {u"print", u"function"},
      {u"newthread(@() 1)", u"thread"},
      {u"(function() { yield 1; })()", u"generator"},
      {u"{}", u"table"},
      {u"{ kind = @() \"own slot\" }", u"own slot"},
      {u"{}.setdelegate(parent)", u"delegate"},
      {u"Owner()", u"instance"},
      {u"Bare()", u"any instance"},
  };
  // Twice through, so that each type meets a cache left by another.
  for (int pass = 0; pass < 2; ++pass) {
    for (const Row& r : rows) {
      std::u16string k = r.kind;
      EXPECT_EQ(Probe(r.expression), k + u";" + k + u";" + k + u";") << text::Utf16ToUtf8(r.expression);
    }
  }

  // Replaced in place, removed, and moved by growth: each change is seen at once by a warm site.
  EXPECT_EQ(Probe(u"[0]"), u"array;array;array;");
  SetDefaultMethod(OT_ARRAY, u"kind", u"array again");
  EXPECT_EQ(Probe(u"[0]"), u"array again;array again;array again;");
  RemoveDefaultMethod(OT_ARRAY, u"kind");
  EXPECT_EQ(Probe(u"[0]"), u"error: the index 'kind' does not exist");
  EXPECT_EQ(Probe(u"\"s\""), u"string;string;string;");
  for (int i = 0; i < 200; ++i) {
    std::u16string name = u"extra" + text::Utf8ToUtf16(std::to_string(i));
    SetDefaultMethod(OT_STRING, name.c_str(), u"extra");
  }
  EXPECT_EQ(Probe(u"\"s\""), u"string;string;string;");
  RemoveDefaultMethod(OT_STRING, u"kind");
  SetDefaultMethod(OT_STRING, u"extra7", u"moved");
  SetDefaultMethod(OT_STRING, u"kind", u"string, added last");
  EXPECT_EQ(Probe(u"\"s\""), u"string, added last;string, added last;string, added last;");
  // The built-in methods themselves still answer through the same kind of site.
  Output().clear();
  ASSERT_TRUE(
      Run(u"function len(x) { return x.len(); }\n"
          u"foreach (x in [[1, 2, 3], \"abcd\", {a = 1}, [], \"\"]) print(len(x) + \";\");"));
  EXPECT_EQ(Output(), u"3;4;1;0;0;");
}

TEST_F(BuiltinMethods, AMissingMethodIsTheSameErrorWarmOrCold) {
  ASSERT_TRUE(Run(u"function probe(x) { return x.nosuch(); }"));
  for (const char16_t* e : {u"[1]", u"\"a\"", u"3", u"@() 1", u"newthread(@() 1)"}) {
    EXPECT_EQ(Probe(e), u"error: the index 'nosuch' does not exist") << text::Utf16ToUtf8(e);
  }
  Output().clear();
  // A site that warmed up on one type and then meets a type lacking the method.
  ASSERT_TRUE(
      Run(u"function l(x) { return x.len(); }\n"
          u"for (local i = 0; i < 3; ++i) print(l(\"abc\") + \";\");\n"
          u"try { l(7); } catch (e) { print(e); }"));
  EXPECT_EQ(Output(), u"3;3;3;the index 'len' does not exist");
}

}  // namespace
