// Native state: argument checks and their texts, "this", results, the error text, the registry and engines.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Native.h>
#include <engine/Scripting.h>
#include <platform/text.h>

#include "AssertionCapture.h"

using namespace Vexil3D;

namespace {

struct Classes {
  CScripting scripting;
  ReflectedClass* base = scripting.m_Global.RegisterClass(u"Base", nullptr);
  ReflectedClass* derived = scripting.m_Global.RegisterClass(u"Derived", base);
  ReflectedClass* other = scripting.m_Global.RegisterClass(u"Other", nullptr);
  ReflectedClass* stream = scripting.m_Global.RegisterClass(u"Stream", nullptr);
};

Strong<CBaseObject> MakeObject(ReflectedClass* cls) {
  Strong<CBaseObject> object;
  object.Attach(new CBaseObject());
  object->SetReflectedClass(cls);
  return object;
}

void AppendNumbers(CArgumentArray& args, std::vector<double> numbers) {
  auto* array = new CArgumentArray();
  for (double n : numbers) array->AppendDouble(n);
  args.Adopt(array);
}

using Fill = std::function<void(CArgumentArray&, Classes&)>;
using Check = std::function<bool(CNativeState&, Classes&)>;

struct FailureCase {
  const char* label;
  Fill fill;
  Check check;
  const char16_t* text;
};

TEST(NativeStateTest, FailedChecksGiveTheirTextWithoutAssertions) {
  const Fill none = [](CArgumentArray&, Classes&) {};
  const Fill nil = [](CArgumentArray& a, Classes&) { a.AppendNil(); };
  const auto object = [](ReflectedClass* Classes::*cls) {
    return [cls](CArgumentArray& a, Classes& c) { a.AppendObject(MakeObject(cls ? c.*cls : nullptr)); };
  };
  const FailureCase cases[] = {
      {"boolean missing", none, [](CNativeState& s, Classes&) { return s.CheckBoolean(0, nullptr); },
       u"Expected boolean for argument 1"},
      {"int8 on string", [](CArgumentArray& a, Classes&) { a.AppendString(u"1", 1); },
       [](CNativeState& s, Classes&) { std::int8_t v; return s.CheckNumber(0, &v); }, u"Expected integer for argument 1"},
      {"float on boolean", [](CArgumentArray& a, Classes&) { a.AppendBoolean(true); },
       [](CNativeState& s, Classes&) { float v; return s.CheckNumber(0, &v); }, u"Expected number for argument 1"},
      {"double past the end", nil, [](CNativeState& s, Classes&) { double v; return s.CheckNumber(1, &v); },
       u"Expected number for argument 2"},
      {"string on integer", [](CArgumentArray& a, Classes&) { a.AppendInteger(1); },
       [](CNativeState& s, Classes&) { return s.CheckString(0, nullptr) != nullptr; }, u"Expected string for argument 1"},
      {"Vector2D of three", [](CArgumentArray& a, Classes&) { AppendNumbers(a, {1, 2, 3}); },
       [](CNativeState& s, Classes&) { return s.CheckVector2D(0, nullptr); }, u"Expected Vector2D for argument 1"},
      {"Vector3D of two", [](CArgumentArray& a, Classes&) { AppendNumbers(a, {1, 2}); },
       [](CNativeState& s, Classes&) { return s.CheckVector3D(0, nullptr); }, u"Expected Vector3D for argument 1"},
      {"Vector2D with a string",
       [](CArgumentArray& a, Classes&) {
         auto* array = new CArgumentArray();
         array->AppendDouble(1);
         array->AppendString(u"x", 1);
         a.Adopt(array);
       },
       [](CNativeState& s, Classes&) { return s.CheckVector2D(0, nullptr); }, u"Expected Vector2D for argument 1"},
      {"matrix on vector", [](CArgumentArray& a, Classes&) { a.AppendVector3D({}); },
       [](CNativeState& s, Classes&) { return s.CheckMatrix4x4(0, nullptr); }, u"Expected Matrix4x4 for argument 1"},
      {"instance on nil", nil, [](CNativeState& s, Classes&) { return s.CheckInstance(0) != nullptr; },
       u"Expected Instance for argument 1"},
      {"function on integer", [](CArgumentArray& a, Classes&) { a.AppendInteger(1); },
       [](CNativeState& s, Classes&) { return s.CheckFunction(0) != nullptr; }, u"Expected Function for argument 1"},
      {"bytes on boolean", [](CArgumentArray& a, Classes&) { a.AppendBoolean(false); },
       [](CNativeState& s, Classes&) { return s.CheckBytes(0, nullptr) != nullptr; }, u"Expected bytes for argument 1"},
      {"unrelated object", object(&Classes::other),
       [](CNativeState& s, Classes& c) { CBaseObject* o; return s.CheckObject(c.base, 0, true, &o); },
       u"Expected Base for argument 1"},
      {"base for derived", object(&Classes::base),
       [](CNativeState& s, Classes& c) { CBaseObject* o; return s.CheckObject(c.derived, 0, false, &o); },
       u"Expected Derived for argument 1"},
      {"nil not allowed", nil,
       [](CNativeState& s, Classes& c) { CBaseObject* o; return s.CheckObject(c.base, 0, false, &o); },
       u"Expected Base for argument 1"},
      {"object without class", object(nullptr),
       [](CNativeState& s, Classes& c) { CBaseObject* o; return s.CheckObject(c.base, 0, false, &o); },
       u"Expected Base for argument 1"},
      {"stream of another class", object(&Classes::other),
       [](CNativeState& s, Classes&) { return s.CheckStream(0) != nullptr; }, u"Expected Stream for argument 1"},
      {"'this' missing", none, [](CNativeState& s, Classes& c) { return s.GetThis(c.base, nullptr); },
       u"'this' is null"},
  };
  enginetest::AssertionCapture assertions;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Classes classes;
    CArgumentArray args;
    c.fill(args, classes);
    CNativeState state(&classes.scripting, nullptr, &args);
    EXPECT_FALSE(c.check(state, classes));
    EXPECT_TRUE(state.HasError());
    EXPECT_EQ(std::u16string(GetLastErrorText()), c.text);
  }
  EXPECT_EQ(assertions.Count(), 0u);
}

TEST(NativeStateTest, ChecksThatPass) {
  Classes c;
  CArgumentArray args;
  AppendNumbers(args, {1, 2.5});                          // 0: two numbers
  AppendNumbers(args, {4, 5, 6});                         // 1: three numbers
  args.AppendDouble(-2.9);                                // 2
  args.AppendInteger(300);                                // 3
  args.AppendObject(MakeObject(c.derived));               // 4
  args.AppendNil();                                       // 5
  args.AppendString(u"\u00e9", 1);                        // 6
  CNativeState state(&c.scripting, nullptr, &args);
  CVector2D v2;
  CVector3D v3;
  int truncated = 0;
  std::uint8_t wrapped = 0;
  CBaseObject* object = nullptr;
  std::uint32_t size = 0;
  ASSERT_TRUE(state.CheckVector2D(0, &v2));
  EXPECT_EQ(v2.x, 1.0f);
  EXPECT_EQ(v2.y, 2.5f);
  ASSERT_TRUE(state.CheckVector3D(1, &v3));
  EXPECT_EQ(v3.z, 6.0f);
  ASSERT_TRUE(state.CheckNumber(2, &truncated));
  EXPECT_EQ(truncated, -2);
  ASSERT_TRUE(state.CheckNumber(3, &wrapped));
  EXPECT_EQ(wrapped, 300 % 256);
  ASSERT_TRUE(state.CheckObject(c.base, 4, false, &object));
  EXPECT_NE(object, nullptr);
  CBaseObject* none = object;
  ASSERT_TRUE(state.CheckObject(c.base, 5, true, &none));
  EXPECT_EQ(none, nullptr);
  const std::uint8_t* bytes = state.CheckBytes(6, &size);
  ASSERT_EQ(size, 2u);
  EXPECT_EQ(bytes[0], 0xC3);
  EXPECT_EQ(bytes[1], 0xA9);
  state.SetThis(object);
  EXPECT_TRUE(state.GetThis(c.base, &object));
  EXPECT_FALSE(state.GetThis(c.other, &object));
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Other expected for 'this'");
}

TEST(NativeStateTest, ErrorTextIsCutWithoutSplittingAPair) {
  const std::u16string plain(5000, u'a');
  // The pair's high half would be the last unit kept.
  const std::u16string straddling = std::u16string(kLastErrorCapacity - 2, u'b') + u"\U0001F600" + u"tail";
  const std::u16string percent = u"%s%d%n";
  struct Case {
    const std::u16string* text;
    std::size_t kept;
  } cases[] = {{&plain, kLastErrorCapacity - 1}, {&straddling, kLastErrorCapacity - 2}, {&percent, percent.size()}};
  for (const auto& c : cases) {
    CNativeState state(nullptr, nullptr, nullptr);
    EXPECT_FALSE(state.Error(u"%s", c.text->c_str()));
    const std::u16string stored = GetLastErrorText();
    EXPECT_EQ(stored, c.text->substr(0, c.kept));
  }
  // Names go in as arguments: a namespace named like a format is reported as it is.
  CReflection global(u"global");
  EXPECT_EQ(global.FindNamespace(u"%s%n"), nullptr);
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Namespace %s%n not found.");
  CReflection* made = global.GetNamespace(u"Sub");
  EXPECT_EQ(global.FindNamespace(u"Sub"), made);
  EXPECT_EQ(global.FindNamespace(u"sub"), nullptr);
}

TEST(NativeStateTest, FunctionWithoutCallbackCannotBeCalled) {
  Strong<CFunction> function;
  function.Attach(new CFunction(u"%s", nullptr, nullptr, nullptr));
  CNativeState state(nullptr, nullptr, nullptr);
  EXPECT_FALSE(function->Call(&state, 0));
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Cannot call %s");
}

TEST(NativeStateTest, ResultsOfEveryAppender) {
  Classes c;
  CNativeState state(&c.scripting, nullptr, nullptr);
  Strong<CFunction> function;
  function.Attach(new CFunction(u"f", nullptr, nullptr, nullptr));
  const std::function<bool()> appenders[] = {
      [&] { return state.ReturnBoolean(true); },        [&] { return state.ReturnInteger(-1); },
      [&] { return state.ReturnUnsigned(0xFFFFFFFFu); }, [&] { return state.ReturnLongInteger(1); },
      [&] { return state.ReturnFloat(1); },             [&] { return state.ReturnDouble(1); },
      [&] { return state.ReturnString(u"ab", 2); },     [&] { return state.ReturnVector2D({}); },
      [&] { return state.ReturnVector3D({}); },         [&] { return state.ReturnMatrix4x4({}); },
      [&] { return state.ReturnObject(nullptr); },      [&] { return state.ReturnFunction(function); },
  };
  const std::uint8_t types[] = {ARGUMENT_BOOLEAN, ARGUMENT_INTEGER,  ARGUMENT_LONGINTEGER, ARGUMENT_LONGINTEGER,
                                ARGUMENT_FLOAT,   ARGUMENT_DOUBLE,   ARGUMENT_STRING,      ARGUMENT_VECTOR2D,
                                ARGUMENT_VECTOR3D, ARGUMENT_MATRIX4X4, ARGUMENT_NIL,       ARGUMENT_FUNCTION};
  for (std::size_t i = 0; i < std::size(appenders); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(appenders[i]());
    EXPECT_EQ(state.GetResults().Get(static_cast<std::uint32_t>(i))->GetType(), types[i]);
  }
  std::int64_t unsignedValue = 0;
  state.GetResults().Get(2)->ToNumber(&unsignedValue);
  EXPECT_EQ(unsignedValue, 0xFFFFFFFFll);
  EXPECT_EQ(function->GetRefCount(), 2);
}

TEST(NativeStateTest, ReturnedStreamChecksUntilClosed) {
  Classes c;
  char data[] = "line";
  Strong<Stream> stream;
  stream.Attach(new CMemoryStream(data, sizeof data - 1));
  CReturnValue results;
  {
    CNativeState state(&c.scripting, nullptr, nullptr);
    ASSERT_TRUE(state.ReturnStream(stream));
    state.GetResults().MoveTo(&results);
  }
  EXPECT_EQ(stream->GetRefCount(), 2);
  CNativeState state(&c.scripting, nullptr, &results);
  EXPECT_EQ(state.CheckStream(0), stream.Get());
  auto* scriptStream = static_cast<CScriptStream*>(results.Get(0)->ToObject());
  EXPECT_EQ(scriptStream->GetReflectedClass(), c.stream);
  ASSERT_NE(scriptStream->GetReader(), nullptr);
  scriptStream->Close();
  EXPECT_EQ(stream->GetRefCount(), 1);
  EXPECT_EQ(state.CheckStream(0), nullptr);
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Stream closed");
  // A script stream dropped while open lets its stream go.
  results.Clear();
  {
    CNativeState again(&c.scripting, nullptr, nullptr);
    again.ReturnStream(stream);
    EXPECT_EQ(stream->GetRefCount(), 2);
  }
  EXPECT_EQ(stream->GetRefCount(), 1);
}

// -------------------------------------------------------------------------------------------------
// Registry and engines

bool Nothing(CNativeState*, int, void*) { return true; }

TEST(ReflectionRegistryTest, GlobalNotesTheWellKnownClasses) {
  CScripting scripting;
  CReflection& global = scripting.m_Global;
  const struct {
    const char16_t* name;
    ReflectedClass* CReflection::*noted;
  } cases[] = {{u"Stream", &CReflection::m_pStreamClass},
               {u"Matrix4x4", &CReflection::m_pMatrix4x4Class},
               {u"Vec2", &CReflection::m_pVec2Class},
               {u"Vec3", &CReflection::m_pVec3Class}};
  CReflection* sub = global.GetNamespace(u"Sub");
  for (const auto& c : cases) {
    ReflectedClass* elsewhere = sub->RegisterClass(c.name, nullptr);
    EXPECT_EQ(sub->*c.noted, nullptr);
    EXPECT_EQ(global.*c.noted, nullptr);
    ReflectedClass* cls = global.RegisterClass(c.name, elsewhere);
    EXPECT_EQ(global.*c.noted, cls);
    EXPECT_TRUE(IsDerivedFrom(cls, elsewhere));
    EXPECT_FALSE(IsDerivedFrom(elsewhere, cls));
  }
}

TEST(ReflectionRegistryTest, ClearingDestroysEveryEntry) {
  CReflection global(u"global");
  std::vector<Weak<CFunction>> functions;
  const auto watch = [&](const CallableRecord& record) { functions.emplace_back(record.function.Get()); };
  CReflection* nested = global.GetNamespace(u"A")->GetNamespace(u"B");
  for (CReflection* space : {&global, nested}) {
    ASSERT_TRUE(space->RegisterFunction(u"f", u"i", &Nothing, nullptr));
    ASSERT_TRUE(space->RegisterValue(u"v", ARGUMENT_INTEGER, &Nothing, nullptr));
    ReflectedClass* cls = space->RegisterClass(u"Vec2", nullptr);
    cls->SetConstructor(&Nothing, nullptr);
    cls->SetClone(&Nothing, nullptr);
    cls->SetMove(&Nothing, nullptr);
    cls->SetToString(&Nothing, nullptr);
    ASSERT_TRUE(cls->RegisterMethod(u"m", u"t", &Nothing, nullptr, false));
    ASSERT_FALSE(cls->RegisterMethod(u"m", u"t", &Nothing, nullptr, true));
    ASSERT_TRUE(cls->RegisterProperty(u"p", ARGUMENT_FLOAT, &Nothing, &Nothing, nullptr));
    watch(space->FindFunction(u"f")->callable);
    watch(space->FindValue(u"v")->getter);
    for (const CallableRecord* r : {&cls->GetConstructor(), &cls->GetCloneFunction(), &cls->GetMoveFunction(),
                                    &cls->GetToStringFunction(), &cls->FindMethod(u"m")->callable,
                                    &cls->FindProperty(u"p")->getter, &cls->FindProperty(u"p")->setter})
      watch(*r);
  }
  ASSERT_EQ(functions.size(), 18u);
  for (const auto& f : functions) ASSERT_NE(f.Get(), nullptr);
  global.Clear();
  std::size_t alive = 0;
  for (const auto& f : functions) alive += f.Get() != nullptr;
  EXPECT_EQ(alive, 0u);
  EXPECT_EQ(global.m_pVec2Class, nullptr);
  EXPECT_EQ(global.GetNamespaceCount() + global.GetFunctionCount() + global.GetClassCount(), 0u);
}

class CountingEngine : public CScriptEngine {
 public:
  CountingEngine(std::vector<int>* log, int id) : m_pLog(log), m_iId(id) {}
  ~CountingEngine() override { m_pLog->push_back(-m_iId); }
  void CollectGarbage() override { m_pLog->push_back(m_iId); }
  CScriptContext* CreateContext(const char16_t*) override { return nullptr; }

 private:
  std::vector<int>* m_pLog;
  int m_iId;
};

TEST(ReflectionRegistryTest, EnginesAreKeptInOrder) {
  std::vector<int> log;
  {
    CScripting scripting;
    CountingEngine* first = new CountingEngine(&log, 1);
    ASSERT_TRUE(scripting.RegisterScriptEngine(u"Squirrel", first));
    ASSERT_TRUE(scripting.RegisterScriptEngine(u"Lua", new CountingEngine(&log, 2)));
    ASSERT_TRUE(scripting.RegisterScriptEngine(u"Squirrel", new CountingEngine(&log, 3)));
    EXPECT_FALSE(scripting.RegisterScriptEngine(u"None", nullptr));
    EXPECT_EQ(scripting.FindScriptEngine(u"Squirrel"), first);
    EXPECT_EQ(scripting.FindScriptEngine(u"squirrel"), nullptr);
    scripting.CollectGarbage();
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
  }
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, -1, -2, -3}));
}

}  // namespace
