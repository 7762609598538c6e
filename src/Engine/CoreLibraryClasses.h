#pragma once
// The registration steps of the core script library's classes, and the helpers their natives share.
// Errors: the native-state regime (Native.h). Locking: none.
#include <engine/Native.h>
#include <engine/Reflection.h>

namespace Vexil3D::CoreLibrary {

// Stream and TextReader.
void RegisterStreamClasses(CReflection* global);
// Matrix4x4, Vec2 and Vec3.
void RegisterMathClasses(CReflection* global);

// "this" as the value object of the class named; else the registry's texts for a wrong or null "this".
template <class T>
T* ThisAs(CNativeState* state, ReflectedClass* cls, const char16_t* className) {
  CBaseObject* self = nullptr;
  if (!state->GetThis(cls, &self)) return nullptr;
  auto* value = dynamic_cast<T*>(self);
  if (!value) state->Error(u"%s expected for 'this'", className);
  return value;
}

// A new value object of the class, with one reference for the caller, or null.
template <class T, class V>
T* MakeValue(ReflectedClass* cls, const V& value) {
  auto* object = new (std::nothrow) T(value);
  if (object) object->SetReflectedClass(cls);
  return object;
}

// Appends the object (the results hold their own reference) and lets go of the caller's.
inline bool ReturnNew(CNativeState* state, CBaseObject* object) {
  if (!object) return state->Error(u"out of memory");
  const bool appended = state->ReturnObject(object);
  object->Release();
  return appended;
}

}  // namespace Vexil3D::CoreLibrary
