// A native module for the interface tests, built from the interface header alone: natives that report the
// layer's answers, a destruction callback, and "UnregisterModule".
#include <cstdio>
#include <string>

#include <engine/Interfaces.h>

using namespace Vexil3D::Interfaces;

namespace {

using Log = void (*)(const char* line);
Log g_Log = nullptr;
IReflectedClass* g_KeptClass = nullptr;
int g_SecondReturn = 0;

void Say(const char* line) {
  if (g_Log) g_Log(line);
}

void OnObjectGone(IBaseObject* object, void*) {
  Say(object ? "object gone" : "object gone without a view");
}

struct Unloaded {
  ~Unloaded() { Say("module unloaded"); }
} g_Unloaded;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void SetLog(Log log) { g_Log = log; }

__attribute__((visibility("default"))) void UnregisterModule(void* context) {
  Say(static_cast<const char*>(context));
}

__attribute__((visibility("default"))) bool Add(INativeState* state, int, void*) {
  std::int32_t a = 0, b = 0;
  if (!state->CheckInt32(0, &a) || !state->CheckInt32(1, &b)) return false;
  return state->ReturnInteger(a + b) == kResultOk;
}

__attribute__((visibility("default"))) bool Twice(INativeState* state, int, void*) {
  state->ReturnInteger(1);
  g_SecondReturn = state->ReturnInteger(2);
  return true;
}

__attribute__((visibility("default"))) int SecondReturn() { return g_SecondReturn; }

// Arguments: an object with a class, a map holding "a", an array of two. Answers the codes it saw, in order.
__attribute__((visibility("default"))) bool Probe(INativeState* state, int, void*) {
  std::string codes;
  auto note = [&](int code) { codes += std::to_string(code) + ","; };
  IArgument *object = nullptr, *again = nullptr, *map = nullptr, *array = nullptr;
  note(state->GetArgument(0, &object));
  note(state->GetArgument(0, &again));
  note(object == again ? 1 : 0);  // one view per argument
  note(state->GetArgument(1, &map));
  note(state->GetArgument(2, &array));
  note(state->GetArgument(9, &again) + (again == nullptr ? 0 : 100));
  void* out = nullptr;
  note(object->QueryInterface(IID_IArray, &out));
  note(map->QueryInterface(IID_IArray, &out));
  note(object->QueryInterface(IID_IArgument, nullptr));
  IDictionary* dictionary = nullptr;
  note(map->QueryInterface(IID_IDictionary, reinterpret_cast<void**>(&dictionary)));
  IArgument* value = nullptr;
  note(dictionary->Get("a", &value));
  value->Release();
  note(dictionary->Get("zz", &value) + (value == nullptr ? 0 : 100));
  note(dictionary->Remove("zz"));
  IArray* list = nullptr;
  note(array->QueryInterface(IID_IArray, reinterpret_cast<void**>(&list)));
  note(list->Get(-1, &value));
  note(list->Get(2, &value));
  note(list->Assign(list));
  note(list->GetCount());
  note(list->Append(nullptr));
  float x, y, z, w;
  note(object->ToVector4D(&x, &y, &z, &w));
  IBaseObject* instance = nullptr;
  note(object->ToObject(&instance, nullptr));
  note(instance->AddUserData(nullptr, nullptr));
  note(instance->AddUserData(&OnObjectGone, nullptr));
  note(instance->AddUserData(&OnObjectGone, nullptr));
  note(instance->IsInstanceOf(nullptr));
  note(instance->GetReflectedClass(&g_KeptClass));
  note(instance->IsInstanceOf(g_KeptClass));
  note(state->CheckString(64, nullptr) == nullptr ? 1 : 0);
  for (IUnknown* view : {static_cast<IUnknown*>(object), static_cast<IUnknown*>(object), static_cast<IUnknown*>(map),
                         static_cast<IUnknown*>(array), static_cast<IUnknown*>(dictionary),
                         static_cast<IUnknown*>(list), static_cast<IUnknown*>(instance)})
    view->Release();
  return state->ReturnString(codes.c_str()) == kResultOk;
}

// The class view kept by Probe, asked after its class may be gone; releases it.
__attribute__((visibility("default"))) int KeptClassClear() {
  const int code = g_KeptClass ? g_KeptClass->Clear() : kResultNullPointer;
  if (g_KeptClass) g_KeptClass->Release();
  g_KeptClass = nullptr;
  return code;
}

}  // extern "C"
