// Native state: argument checks and their texts, "this", results, the error text, the registry and engines.
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
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
// Places a check writes into.
struct Scratch {
  CVector2D v2;
  CVector3D v3;
  int i = 0;
  std::uint8_t u8 = 0;
  std::uint32_t n = 0;
  CBaseObject* o = nullptr;
};
using Check = std::function<bool(CNativeState&, Classes&, Scratch&)>;
#define ARGS(...) [](CArgumentArray& a, Classes& c) { (void)c; (void)a; __VA_ARGS__; }
#define CHECK(...) [](CNativeState& s, Classes& c, Scratch& x) { (void)c; (void)x; return __VA_ARGS__; }

// Each check against what passes it and what does not; a failure leaves its text and no assertion.
TEST(NativeStateTest, ChecksAndTheirTexts) {
  const struct {
    Fill fill;
    Check check;
    const char16_t* text;  // null: the check passes
  } cases[] = {
      {ARGS(AppendNumbers(a, {1, 2.5})), CHECK(s.CheckVector2D(0, &x.v2) && x.v2.x == 1 && x.v2.y == 2.5f), nullptr},
      {ARGS(a.AppendVector2D({3, 4})), CHECK(s.CheckVector2D(0, &x.v2) && x.v2.y == 4.0f), nullptr},
      {ARGS(AppendNumbers(a, {4, 5, 6})), CHECK(s.CheckVector3D(0, &x.v3) && x.v3.z == 6.0f), nullptr},
      {ARGS(a.AppendDouble(-2.9)), CHECK(s.CheckNumber(0, &x.i) && x.i == -2), nullptr},
      {ARGS(a.AppendInteger(300)), CHECK(s.CheckNumber(0, &x.u8) && x.u8 == 300 % 256), nullptr},
      {ARGS(a.AppendNil()), CHECK(s.CheckObject(c.base, 0, true, &x.o) && x.o == nullptr), nullptr},
      {ARGS(a.AppendObject(MakeObject(c.derived))),
       CHECK(s.CheckObject(c.base, 0, false, &x.o) && s.GetArgument(0)->ToObject(c.base) == x.o &&
             !s.GetArgument(0)->ToObject(c.other)),
       nullptr},
      {ARGS(a.AppendObject(MakeObject(c.derived))), CHECK((s.SetThis(s.CheckInstance(0)), s.GetThis(c.base, &x.o))),
       nullptr},
      {ARGS(a.AppendString(u"\u00e9", 1)), CHECK(s.CheckBytes(0, &x.n)[1] == 0xA9 && x.n == 2), nullptr},
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
      {ARGS(a.AppendObject(MakeObject(c.other))), CHECK(s.CheckObject(c.base, 0, 1, &x.o)),
       u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(c.base))), CHECK(s.CheckObject(c.derived, 0, 0, &x.o)),
       u"Expected Derived for argument 1"},
      {ARGS(a.AppendNil()), CHECK(s.CheckObject(c.base, 0, false, &x.o)), u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(nullptr))), CHECK(s.CheckObject(c.base, 0, 0, &x.o)),
       u"Expected Base for argument 1"},
      {ARGS(a.AppendObject(MakeObject(c.other))), CHECK(s.CheckStream(0) != nullptr),
       u"Expected Stream for argument 1"},
      {ARGS(), CHECK(s.GetThis(c.base, nullptr)), u"'this' is null"},
      {ARGS(a.AppendObject(MakeObject(c.base))), CHECK((s.SetThis(s.CheckInstance(0)), s.GetThis(c.other, &x.o))),
       u"Other expected for 'this'"},
  };
  enginetest::AssertionCapture assertions;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Classes classes;
    CArgumentArray args;
    Scratch scratch;
    c.fill(args, classes);
    CNativeState state(&classes.scripting, nullptr, &args);
    const bool passed = c.check(state, classes, scratch);
    EXPECT_EQ((std::tuple{passed, state.HasError(), std::u16string(GetLastErrorText())}),
              (std::tuple{c.text == nullptr, c.text != nullptr, c.text ? c.text : u""}));
  }
  EXPECT_EQ(assertions.Count(), 0u);
}

TEST(NativeStateTest, ErrorTextIsCutWithoutSplittingAPair) {
  // 5,000 units; a pair whose high half would be the last unit kept; a text that looks like a format.
  const std::u16string texts[] = {std::u16string(5000, u'a'),
                                  std::u16string(kLastErrorCapacity - 2, u'b') + u"\U0001F600tail", u"%s%d%n"};
  const std::size_t kept[] = {kLastErrorCapacity - 1, kLastErrorCapacity - 2, 6};
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    CNativeState state(nullptr, nullptr, nullptr);
    EXPECT_EQ((std::tuple{state.Error(u"%s", texts[i].c_str()), std::u16string(GetLastErrorText())}),
              (std::tuple{false, texts[i].substr(0, kept[i])}));
  }
  // Names go in as arguments: a namespace named like a format is reported as it is.
  CReflection global(u"global");
  EXPECT_EQ((std::tuple{global.FindNamespace(u"%s%n"), std::u16string(GetLastErrorText())}),
            (std::tuple{nullptr, u"Namespace %s%n not found."}));
  CReflection* made = global.GetNamespace(u"Sub");
  EXPECT_TRUE(global.FindNamespace(u"Sub") == made && global.FindNamespace(u"sub") == nullptr);
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
  for (std::uint32_t i = 0; state.GetResults().Get(i); ++i) types.push_back(state.GetResults().Get(i)->GetType());
  EXPECT_EQ(types, (std::vector<int>{ARGUMENT_BOOLEAN, ARGUMENT_INTEGER, ARGUMENT_LONGINTEGER, ARGUMENT_LONGINTEGER,
                                     ARGUMENT_FLOAT, ARGUMENT_DOUBLE, ARGUMENT_STRING, ARGUMENT_VECTOR2D,
                                     ARGUMENT_VECTOR3D, ARGUMENT_MATRIX4X4, ARGUMENT_NIL, ARGUMENT_FUNCTION}));
  std::int64_t unsignedValue = 0;
  // A function without a callback refuses the call under its name, which is no format.
  EXPECT_EQ((std::tuple{state.GetResults().Get(2)->ToNumber(&unsignedValue), unsignedValue, function->GetRefCount(),
                        function->Call(&state, 0), std::u16string(GetLastErrorText())}),
            (std::tuple{true, 0xFFFFFFFFll, 2, false, u"Cannot call %s"}));
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
  CNativeState state(&c.scripting, nullptr, &results);
  auto* scriptStream = static_cast<CScriptStream*>(results.Get(0)->ToObject());
  EXPECT_TRUE(stream->GetRefCount() == 2 && state.CheckStream(0) == stream.Get() && scriptStream->GetReader() &&
              scriptStream->GetReflectedClass() == c.stream);
  scriptStream->Close();
  EXPECT_EQ((std::tuple{stream->GetRefCount(), state.CheckStream(0), std::u16string(GetLastErrorText())}),
            (std::tuple{1, nullptr, u"Stream closed"}));
  // A script stream dropped while open lets its stream go.
  results.Clear();
  {
    CNativeState again(&c.scripting, nullptr, nullptr);
    again.ReturnStream(stream);
    EXPECT_EQ(stream->GetRefCount(), 2);
  }
  EXPECT_EQ(stream->GetRefCount(), 1);
}

// Registry and engines

bool Nothing(CNativeState*, int, void*) { return true; }

TEST(ReflectionRegistryTest, GlobalNotesTheWellKnownClasses) {
  // A bare namespace: a scripting object's own has the core library's classes noted already.
  CReflection global(u"global");
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
    for (const CallableRecord* r : {&space->FindFunction(u"f")->callable, &space->FindValue(u"v")->getter,
                                    &cls->GetConstructor(), &cls->GetCloneFunction(), &cls->GetMoveFunction(),
                                    &cls->GetToStringFunction(), &cls->FindMethod(u"m")->callable,
                                    &cls->FindProperty(u"p")->getter, &cls->FindProperty(u"p")->setter})
      functions.emplace_back(r->function.Get());
  }
  const auto alive = [&] { return std::count_if(functions.begin(), functions.end(), [](auto& f) { return f.Get(); }); };
  const auto registered = alive();
  global.Clear();
  EXPECT_EQ((std::tuple{registered, alive(), global.m_pVec2Class,
                        global.GetNamespaceCount() + global.GetFunctionCount() + global.GetClassCount()}),
            (std::tuple{18, 0, nullptr, 0u}));
}

// Logs its id when collecting and minus its id when deleted.
struct CountingEngine : CScriptEngine {
  CountingEngine(std::vector<int>* log, int id) : log(log), id(id) {}
  ~CountingEngine() override { log->push_back(-id); }
  void CollectGarbage() override { log->push_back(id); }
  CScriptContext* CreateContext(const char16_t*) override { return nullptr; }
  std::vector<int>* log;
  int id;
};

TEST(ReflectionRegistryTest, EnginesAreKeptInOrder) {
  std::vector<int> log;
  {
    CScripting scripting;
    auto* first = new CountingEngine(&log, 1);
    ASSERT_TRUE(scripting.RegisterScriptEngine(u"Squirrel", first) &&
                scripting.RegisterScriptEngine(u"Lua", new CountingEngine(&log, 2)) &&
                scripting.RegisterScriptEngine(u"Squirrel", new CountingEngine(&log, 3)) &&
                !scripting.RegisterScriptEngine(u"None", nullptr));
    EXPECT_TRUE(scripting.FindScriptEngine(u"Squirrel") == first && !scripting.FindScriptEngine(u"squirrel"));
    scripting.CollectGarbage();
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
  }
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, -1, -2, -3}));
}

}  // namespace
