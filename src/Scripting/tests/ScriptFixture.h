#pragma once
// Test helpers for the scripting framework: script functions made of lambdas, and calls of registered
// global functions as a resource's script would make them.
#include <functional>
#include <list>
#include <string_view>

#include <engine/Native.h>
#include <engine/Scripting.h>
#include <scripting/Resource.h>

namespace scripting_testing {

using Body = std::function<void(Vexil3D::CNativeState*)>;

class ScriptFixture {
 public:
  // A function whose calls run body; the fixture keeps the body.
  Vexil3D::Strong<Vexil3D::CFunction> Function(Body body) {
    m_Bodies.push_back(std::move(body));
    Vexil3D::Strong<Vexil3D::CFunction> function;
    function.Attach(new Vexil3D::CFunction(u"f", &Run, nullptr, &m_Bodies.back()));
    return function;
  }
  static Vexil3D::Strong<Vexil3D::CResource> Resource(const char16_t* name) {
    Vexil3D::Strong<Vexil3D::CResource> resource;
    resource.Attach(new Vexil3D::CResource(nullptr, name));
    return resource;
  }
  // Calls the global function with the arguments as the resource's script; false when it failed. The
  // first result, when any, stays in results.
  bool CallGlobal(Vexil3D::CScripting& scripting, const char16_t* name, Vexil3D::CResource* resource,
                  Vexil3D::CArgumentArray& arguments) {
    results.Clear();
    Vexil3D::CNativeState state(&scripting, resource, &arguments);
    const auto* entry = scripting.m_Global.FindFunction(name);
    if (!entry || !entry->callable.Call(&state, static_cast<int>(arguments.GetCount()))) return false;
    for (std::uint32_t i = 0; i < state.GetResults().GetCount(); ++i) results.Append(state.GetResults().Get(i));
    return true;
  }

  Vexil3D::CArgumentArray results;

 private:
  static bool Run(Vexil3D::CNativeState* state, int, void* user) {
    (*static_cast<Body*>(user))(state);
    return true;
  }
  std::list<Body> m_Bodies;
};

inline void AppendFunction(Vexil3D::CArgumentArray& arguments, Vexil3D::CFunction* function) {
  arguments.Adopt(new Vexil3D::CArgumentFunction(function));
}

}  // namespace scripting_testing

namespace scripting_testing {

// Calls a method or property getter of the object's class with the arguments; false when it failed. The
// first result (when any) is copied into out.
inline bool CallMember(Vexil3D::CBaseObject* object, const char16_t* member, Vexil3D::CArgumentArray* arguments,
                       Vexil3D::CArgumentArray* out) {
  Vexil3D::ReflectedClass* cls = object->GetReflectedClass();
  const Vexil3D::CallableRecord* callable = nullptr;
  if (const auto* method = cls->FindMethod(member)) callable = &method->callable;
  if (const auto* property = cls->FindProperty(member)) callable = &property->getter;
  if (!callable) return false;
  Vexil3D::CNativeState state(nullptr, nullptr, arguments);
  state.SetThis(object);
  if (!callable->Call(&state, arguments ? static_cast<int>(arguments->GetCount()) : 0)) return false;
  if (out) {
    out->Clear();
    if (state.GetResults().GetCount()) out->Append(state.GetResults().Get(0));
  }
  return true;
}

}  // namespace scripting_testing
