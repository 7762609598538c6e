// Native-module interfaces through a real module (built from the interface header alone, loaded with
// LoadLibraryW): module calls through CFunction, the layer's result codes, view identity and release,
// QueryInterface of each view with each id, slots called by index, and views that outlive what they wrap.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Native.h>
#include <platform/modules.h>
#include <platform/text.h>

#include "InterfaceViews.h"

using namespace Vexil3D;
using namespace Vexil3D::Interfaces;

namespace {

std::vector<std::string> g_Lines;
void Record(const char* line) { g_Lines.push_back(line); }

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryW(text::Utf8ToUtf16(BRINDLE_TEST_MODULE).c_str());
    ASSERT_NE(module, nullptr);
    reinterpret_cast<void (*)(void (*)(const char*))>(GetProcAddress(module, "SetLog"))(&Record);
    g_Lines.clear();
  }
  void TearDown() override { FreeLibrary(module); }
  Strong<CFunction> Native(const char* name) {
    Strong<CFunction> function;
    function.Attach(new CFunction(u"native", nullptr,
                                  reinterpret_cast<ModuleNativeFunction>(GetProcAddress(module, name)), nullptr));
    return function;
  }
  template <class R>
  R Export(const char* name) {
    return reinterpret_cast<R (*)()>(GetProcAddress(module, name))();
  }

  HMODULE module = nullptr;
};

TEST_F(ModuleTest, CallsThroughCFunction) {
  CArgumentArray arguments;
  arguments.AppendInteger(40);
  arguments.AppendInteger(2);
  CNativeState state(nullptr, nullptr, &arguments);
  ASSERT_TRUE(Native("Add")->Call(&state, 2));
  int sum = 0;
  EXPECT_TRUE(state.GetResults().Get(0)->ToNumber(&sum) && sum == 42) << sum;
  CArgumentArray wrong;
  wrong.AppendBoolean(true);
  CNativeState failing(nullptr, nullptr, &wrong);
  EXPECT_EQ((std::tuple{Native("Add")->Call(&failing, 1), std::u16string(GetLastErrorText())}),
            (std::tuple{false, u"Expected integer for argument 1"}));
  CNativeState twice(nullptr, nullptr, nullptr);  // a second return is refused: the first value stays
  EXPECT_EQ((std::tuple{Native("Twice")->Call(&twice, 0), twice.GetResults().GetCount(), Export<int>("SecondReturn")}),
            (std::tuple{true, 1u, kResultWrongState}));
}

TEST_F(ModuleTest, ResultCodesIdentityAndDetachedViews) {
  auto* cls = new ReflectedClass(u"Thing", nullptr);
  Strong<CBaseObject> object;
  object.Attach(new CBaseObject());
  object->SetReflectedClass(cls);
  CArgumentArray arguments;
  arguments.AppendObject(object);
  auto* map = new CArgumentMap();
  map->Set(u"a", new CArgumentInteger(1));
  arguments.Adopt(map);
  auto* array = new CArgumentArray();
  array->AppendInteger(1);
  array->AppendInteger(2);
  arguments.Adopt(array);
  CNativeState state(nullptr, nullptr, &arguments);
  ASSERT_TRUE(Native("Probe")->Call(&state, 3));
  // Codes in the module's order: arguments, identity, queries, map, array, object, string slots.
  EXPECT_EQ(text::Utf16ToUtf8(state.GetResults().Get(0)->ToString()),
            "0,0,1,0,0,-4,-5,-5,-6,0,0,-5,-5,0,-4,-4,0,2,-6,-2,0,-6,0,-2,-6,0,0,1,");
  EXPECT_EQ(array->GetCount(), 2u);
  arguments.Clear();
  object = nullptr;  // the destruction callback runs with a view that is detached afterwards
  EXPECT_EQ(g_Lines, std::vector<std::string>{"object gone"});
  delete cls;
  EXPECT_EQ(Export<int>("KeptClassClear"), kResultNotFound);  // the class view outlived its class
}

TEST_F(ModuleTest, QueryInterfaceOfEachViewWithEachId) {
  Strong<CFunction> function = Native("Add");
  auto* array = new CArgumentArray();
  auto* map = new CArgumentMap();
  auto* fn = new CArgumentFunction(function.Get());
  Strong<CBaseObject> object;
  object.Attach(new CBaseObject());
  IUnknown* views[] = {GetObjectView(object), GetArgumentView(array), GetArrayView(array),
                       GetDictionaryView(map), GetFunctionView(function), GetArgumentView(fn),
                       GetArgumentView(map)};
  const GUID* ids[] = {&IID_IBaseObject, &IID_IStream,   &IID_IArgument,        &IID_IArray,   &IID_IDictionary,
                       &IID_IFunction,   &IID_INativeState, &IID_IReflectedClass, &IID_Reserved1};
  // '1' where the view answers the id, in the order of ids.
  const char* answers[] = {"100000000", "001100000", "001100000", "001010000",
                           "100001000", "001001000", "001010000"};
  for (std::size_t v = 0; v < std::size(views); ++v) {
    for (std::size_t i = 0; i < std::size(ids); ++i) {
      SCOPED_TRACE(testing::Message() << "view " << v << " id " << i);
      void* out = nullptr;
      const int code = views[v]->QueryInterface(*ids[i], &out);
      EXPECT_EQ(code, answers[v][i] == '1' ? kResultOk : kResultNotFound);
      if (out) static_cast<IUnknown*>(out)->Release();
    }
  }
  // Slots by index: IUnknown's AddRef and Release (1, 2), IArgument::GetType (4), IArray::GetCount (3).
  using CountSlot = int (*)(void*);
  using TypeSlot = std::uint8_t (*)(void*);
  auto slot = [](void* view, int index) { return (*reinterpret_cast<void***>(view))[index]; };
  EXPECT_EQ((std::tuple{reinterpret_cast<CountSlot>(slot(views[1], 1))(views[1]),
                        reinterpret_cast<CountSlot>(slot(views[1], 2))(views[1]),
                        reinterpret_cast<TypeSlot>(slot(views[1], 4))(views[1])}),
            (std::tuple{2, 1, std::uint8_t(ARGUMENT_ARRAY)}));
  array->AppendNil();
  EXPECT_EQ(reinterpret_cast<CountSlot>(slot(views[2], 3))(views[2]), 1);
  // One view per thing while it is held; a new one once all are released.
  IArgument* same = GetArgumentView(array);
  same->Release();
  EXPECT_EQ(same, views[1]);
  for (IUnknown* view : views) view->Release();
  array->Release();
  map->Release();
  fn->Release();
  EXPECT_EQ(object->GetRefCount(), 1);  // the object view let its reference go
}

// Every check that names a class refuses once the class is deleted: asked through a view of a class that
// is gone, no object is an instance, and the error names the class as it was.
TEST(ClassViewTest, ViewsOfADeletedClassRefuseEverywhere) {
  for (const bool deleted : {false, true}) {
    SCOPED_TRACE(deleted ? "class deleted" : "class alive");
    auto* cls = new ReflectedClass(u"Thing", nullptr);
    IReflectedClass* view = GetClassView(cls);
    Strong<CBaseObject> object;
    object.Attach(new CBaseObject());
    object->SetReflectedClass(cls);
    if (deleted) delete cls;
    CArgumentArray arguments;
    arguments.AppendObject(object);
    arguments.AppendNil();
    CNativeState state(nullptr, nullptr, &arguments);
    state.SetThis(object);
    CNativeStateImpl calls(&state);
    IArgument* argument = nullptr;
    ASSERT_EQ(calls.GetArgument(0, &argument), kResultOk);
    IBaseObject* instance = nullptr;
    ASSERT_EQ(argument->ToObject(&instance, nullptr), kResultOk);

    const int accepted = deleted ? 0 : 1;
    struct Row {
      const char* call;
      int answer;
      int expected;
    };
    IBaseObject* out = nullptr;
    auto take = [&](int answer) {
      if (out) out->Release();
      out = nullptr;
      return answer;
    };
    IBaseObject* viaObject = nullptr;
    const Row rows[] = {
        {"CheckObject", take(calls.CheckObject(view, 0, false, &out)), accepted},
        {"CheckObject optional nil", calls.CheckObject(view, 1, true, nullptr), 1},
        {"GetThis", take(calls.GetThis(&out, view)), accepted},
        {"GetThisChecked", take(calls.GetThisChecked(&out, view)), deleted ? kResultFailed : kResultOk},
        {"IsInstanceOf", instance->IsInstanceOf(view), deleted ? 1 : kResultOk},
        {"ToObject", argument->ToObject(&viaObject, view), deleted ? kResultNotFound : kResultOk},
    };
    if (viaObject) viaObject->Release();
    for (const Row& row : rows) {
      SCOPED_TRACE(row.call);
      EXPECT_EQ(row.answer, row.expected);
    }
    // The refusals' texts name the class that is gone.
    CNativeState named(nullptr, nullptr, &arguments);
    CNativeStateImpl namedCalls(&named);
    EXPECT_EQ(namedCalls.CheckObject(view, 0, false, nullptr), !deleted);
    if (deleted) {
      EXPECT_EQ(std::u16string(GetLastErrorText()), u"Expected Thing for argument 1");
      // No this object: the refusal says so.
      EXPECT_FALSE(namedCalls.GetThis(nullptr, view));
      EXPECT_EQ(std::u16string(GetLastErrorText()), u"'this' is null");
      named.SetThis(object);
      EXPECT_FALSE(namedCalls.GetThis(nullptr, view));
      EXPECT_EQ(std::u16string(GetLastErrorText()), u"Thing expected for 'this'");
    }
    instance->Release();
    argument->Release();
    view->Release();
    if (!deleted) {
      object = nullptr;
      delete cls;
    }
  }
}

// Setting an object's class through a view: a live class is taken; a deleted one is refused like every
// other class check, and the object keeps the class it had (with none, or with one of its own).
TEST(ClassViewTest, SetReflectedClassThroughADeletedClassLeavesTheObject) {
  auto* kept = new ReflectedClass(u"Kept", nullptr);
  for (const bool deleted : {false, true}) {
    for (ReflectedClass* before : {static_cast<ReflectedClass*>(nullptr), kept}) {
      SCOPED_TRACE(testing::Message() << (deleted ? "class deleted" : "class alive") << ", class before "
                                      << (before ? "Kept" : "none"));
      auto* cls = new ReflectedClass(u"Thing", nullptr);
      IReflectedClass* view = GetClassView(cls);
      Strong<CBaseObject> object;
      object.Attach(new CBaseObject());
      object->SetReflectedClass(before);
      IBaseObject* objectView = GetObjectView(object);
      if (deleted) delete cls;
      EXPECT_EQ(objectView->SetReflectedClass(view), deleted ? kResultNotFound : kResultOk);
      EXPECT_EQ(object->GetReflectedClass(), deleted ? before : cls);
      IReflectedClass* answered = nullptr;
      EXPECT_EQ(objectView->GetReflectedClass(&answered), kResultOk);
      EXPECT_EQ(answered ? ClassOf(answered) : nullptr, deleted ? before : cls);
      if (answered) answered->Release();
      objectView->Release();
      view->Release();
      object = nullptr;
      if (!deleted) delete cls;
    }
  }
  delete kept;
}

}  // namespace
