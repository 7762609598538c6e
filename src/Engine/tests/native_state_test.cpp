// Native state: argument checks and their texts, "this", results, the error text, the registry and engines.
#include <algorithm>
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
#define ARGS(...) [](CArgumentArray& a, Classes& c) { (void)c; (void)a; __VA_ARGS__; }
#define CHECK(...) [](CNativeState& s, Classes& c) { [[maybe_unused]] CBaseObject* o; (void)c; return __VA_ARGS__; }

TEST(NativeStateTest, FailedChecksGiveTheirTextWithoutAssertions) {
  const struct {
    Fill fill;
    Check check;
    const char16_t* text;
  } cases[] = {
      {ARGS(), CHECK(s.CheckBoolean(0, nullptr)), u"Expected boolean for argument 1"},
      {ARGS(a.AppendString(u"1", 1)), CHECK(s.CheckNumber(0, (std::int8_t*)nullptr)),
       u"Expected integer for argument 1"},
      {ARGS(a.AppendBoolean(true)), CHECK(s.CheckNumber(0, (float*)nullptr)), u"Expected number for argument 1"},
      {ARGS(a.AppendNil()), CHECK(s.CheckNumber(1, (double*)nullptr)), u"Expected number for argument 2"},
      {ARGS(a.AppendInteger(1)), CHECK(s.CheckString(0, nullptr) != nullptr), u"Expected string for argument 1"},
      {ARGS(AppendNumbers(a, {1, 2, 3})), CHECK(s.CheckVector2D(0, nullptr)), u"Expected Vector2D for argument 1"},
      {ARGS(AppendNumbers(a, {1, 2})), CHECK(s.CheckVector3D(0, nullptr)), u"Expected Vector3D for argument 1"},
      {ARGS(a.AppendVector3D({})), CHECK(s.CheckMatrix4x4(0, nullptr)), u"Expected Matrix4x4 for argument 1"},
      {ARGS(a.AppendNil()), CHECK(s.CheckInstance(0) != nullptr), u"Expected Instance for argument 1"},
      {ARGS(a.AppendInteger(1)), CHECK(s.CheckFunction(0) != nullptr), u"Expected Function for argument 1"},
      {ARGS(a.AppendBoolean(0)), CHECK(s.CheckBytes(0, nullptr) != nullptr), u"Expected bytes for argument 1"},
      {ARGS(a.AppendObject(MakeObject(c.other))), CHECK(s.CheckObject(c.base, 0, 1, &o)),
       u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(c.base))), CHECK(s.CheckObject(c.derived, 0, 0, &o)),
       u"Expected Derived for argument 1"},
      {ARGS(a.AppendNil()), CHECK(s.CheckObject(c.base, 0, false, &o)), u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(nullptr))), CHECK(s.CheckObject(c.base, 0, 0, &o)),
       u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(c.other))), CHECK(s.CheckStream(0) != nullptr),
       u"Expected Stream for argument 1"},
      {ARGS(), CHECK(s.GetThis(c.base, nullptr)), u"'this' is null"},
  };
  enginetest::AssertionCapture assertions;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
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
  AppendNumbers(args, {1, 2.5});
  AppendNumbers(args, {4, 5, 6});
  args.AppendDouble(-2.9);
  args.AppendInteger(300);
  args.AppendObject(MakeObject(c.derived));
  args.AppendNil();
  args.AppendString(u"\u00e9", 1);
  CNativeState state(&c.scripting, nullptr, &args);
  CVector2D v2;
  CVector3D v3;
  int truncated = 0;
  std::uint8_t wrapped = 0;
  CBaseObject *object = nullptr, *none = nullptr;
  std::uint32_t size = 0;
  ASSERT_TRUE(state.CheckVector2D(0, &v2) && state.CheckVector3D(1, &v3) && state.CheckNumber(2, &truncated) &&
              state.CheckNumber(3, &wrapped) && state.CheckObject(c.base, 4, false, &object) &&
              state.CheckObject(c.base, 5, true, &none));
  EXPECT_TRUE(v2.x == 1.0f && v2.y == 2.5f && v3.z == 6.0f);
  EXPECT_EQ(truncated, -2);
  EXPECT_EQ(wrapped, 300 % 256);
  EXPECT_TRUE(object != nullptr && none == nullptr);
  EXPECT_TRUE(args.Get(4)->ToObject(c.base) == object && args.Get(4)->ToObject(c.other) == nullptr);
  const std::uint8_t* bytes = state.CheckBytes(6, &size);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), "\xC3\xA9");
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

TEST(NativeStateTest, ResultsOfEveryAppender) {
  Classes c;
  CNativeState state(&c.scripting, nullptr, nullptr);
  Strong<CFunction> function;
  function.Attach(new CFunction(u"%s", nullptr, nullptr, nullptr));
  ASSERT_TRUE(state.ReturnBoolean(true) && state.ReturnInteger(-1) && state.ReturnUnsigned(0xFFFFFFFFu) &&
              state.ReturnLongInteger(1) && state.ReturnFloat(1) && state.ReturnDouble(1) &&
              state.ReturnString(u"ab", 2) && state.ReturnVector2D({}) && state.ReturnVector3D({}) &&
              state.ReturnMatrix4x4({}) && state.ReturnObject(nullptr) && state.ReturnFunction(function));
  std::vector<int> types;
  for (std::uint32_t i = 0; i < state.GetResults().GetCount(); ++i)
    types.push_back(state.GetResults().Get(i)->GetType());
  EXPECT_EQ(types, (std::vector<int>{ARGUMENT_BOOLEAN, ARGUMENT_INTEGER, ARGUMENT_LONGINTEGER, ARGUMENT_LONGINTEGER,
                                     ARGUMENT_FLOAT, ARGUMENT_DOUBLE, ARGUMENT_STRING, ARGUMENT_VECTOR2D,
                                     ARGUMENT_VECTOR3D, ARGUMENT_MATRIX4X4, ARGUMENT_NIL, ARGUMENT_FUNCTION}));
  std::int64_t unsignedValue = 0;
  state.GetResults().Get(2)->ToNumber(&unsignedValue);
  EXPECT_EQ(unsignedValue, 0xFFFFFFFFll);
  EXPECT_EQ(function->GetRefCount(), 2);
  // A function without a callback refuses the call under its name, which is no format.
  EXPECT_FALSE(function->Call(&state, 0));
  EXPECT_EQ(std::u16string(GetLastErrorText()), u"Cannot call %s");
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
  } cases[] = {{u"Stream", &CReflection::m_pStreamClass}, {u"Matrix4x4", &CReflection::m_pMatrix4x4Class},
               {u"Vec2", &CReflection::m_pVec2Class}, {u"Vec3", &CReflection::m_pVec3Class}};
  CReflection* sub = global.GetNamespace(u"Sub");
  for (const auto& c : cases) {
    ReflectedClass* elsewhere = sub->RegisterClass(c.name, nullptr);
    EXPECT_TRUE(sub->*c.noted == nullptr && global.*c.noted == nullptr);
    ReflectedClass* cls = global.RegisterClass(c.name, elsewhere);
    EXPECT_EQ(global.*c.noted, cls);
    EXPECT_TRUE(IsDerivedFrom(cls, elsewhere) && !IsDerivedFrom(elsewhere, cls) && !IsDerivedFrom(cls, nullptr));
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
    for (auto set : {&ReflectedClass::SetConstructor, &ReflectedClass::SetClone, &ReflectedClass::SetMove,
                     &ReflectedClass::SetToString})
      (cls->*set)(&Nothing, nullptr);
    ASSERT_TRUE(cls->RegisterMethod(u"m", u"t", &Nothing, nullptr, false));
    // A second member of one name is refused, whatever its kind.
    ASSERT_FALSE(cls->RegisterMethod(u"m", u"t", &Nothing, nullptr, true) ||
                 cls->RegisterProperty(u"m", ARGUMENT_FLOAT, &Nothing, nullptr, nullptr));
    ASSERT_TRUE(cls->RegisterProperty(u"p", ARGUMENT_FLOAT, &Nothing, &Nothing, nullptr));
    watch(space->FindFunction(u"f")->callable);
    watch(space->FindValue(u"v")->getter);
    for (const CallableRecord* r : {&cls->GetConstructor(), &cls->GetCloneFunction(), &cls->GetMoveFunction(),
                                    &cls->GetToStringFunction(), &cls->FindMethod(u"m")->callable,
                                    &cls->FindProperty(u"p")->getter, &cls->FindProperty(u"p")->setter})
      watch(*r);
  }
  ASSERT_EQ(functions.size(), 18u);
  const auto alive = [&] { return std::count_if(functions.begin(), functions.end(), [](auto& f) { return f.Get(); }); };
  EXPECT_EQ(alive(), 18);
  global.Clear();
  EXPECT_EQ(alive(), 0);
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
