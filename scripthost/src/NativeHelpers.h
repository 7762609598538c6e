#pragma once
// Small pieces the natives of the script classes share: finding the host, the object behind an instance of a
// class, and handing new objects to scripts.
//
// Errors: each returns a Squirrel result; a failure has raised its error with sq_throwerror already.
// Locking: none; natives run on the game's main thread.
#include <squirrel.h>

#include <scripthost/ClassBinding.h>
#include <scripthost/Referenceable.h>
#include <scripthost/ScriptHost.h>

namespace natives {

constexpr SQInteger kThis = 1;
constexpr SQInteger kFirstArgument = 2;
// What a native returns with one pushed result, and with none.
constexpr SQInteger kResult = 1;
constexpr SQInteger kNoResult = 0;

inline CScriptHost* HostOf(HSQUIRRELVM v) { return CScriptHost::FromVM(v); }
inline CClassBinding* BindingOf(HSQUIRRELVM v, ScriptClass which) { return HostOf(v)->GetBinding(which); }

extern const SQChar kNotAnInstanceMessage[];

// The object behind the instance at index, which must be of the class (or derive from it); null is refused as
// not being a class instance.
template <typename T>
SQRESULT Object(HSQUIRRELVM v, SQInteger index, ScriptClass which, T** out) {
  tSquirrelReferenceable* object = nullptr;
  if (SQ_FAILED(CClassBinding::GetInstance(BindingOf(v, which), v, index, &object))) return SQ_ERROR;
  if (object == nullptr) return sq_throwerror(v, kNotAnInstanceMessage);
  *out = static_cast<T*>(object);
  return SQ_OK;
}

// Binds a new object to the instance a script constructor runs on; the creation reference goes either way, so
// on success the instance is the object's only holder and on failure the object is gone.
inline SQInteger BindNew(HSQUIRRELVM v, tReleasable* counted, tSquirrelReferenceable* object) {
  const SQRESULT result = object->BindConstructedInstance(v);
  counted->Release();
  return SQ_SUCCEEDED(result) ? kNoResult : SQInteger(result);
}

// Pushes a new object's script instance and drops the creation reference, leaving the instance its holder.
inline SQInteger PushNew(HSQUIRRELVM v, tReleasable* counted, tSquirrelReferenceable* object) {
  object->PushInstance(v);
  counted->Release();
  return kResult;
}

// Raises null, which the machine reports as a missing index (_get and _set of an unknown key).
inline SQInteger MissingIndex(HSQUIRRELVM v) {
  sq_pushnull(v);
  return sq_throwobject(v);
}

// The number (integer or float) at index as a float; false, with nothing raised, for any other value.
inline bool Number(HSQUIRRELVM v, SQInteger index, SQFloat* out) {
  const SQObjectType type = sq_gettype(v, index);
  return (type == OT_INTEGER || type == OT_FLOAT) && SQ_SUCCEEDED(sq_getfloat(v, index, out));
}

// Pushes 16-bit text made from ASCII.
void PushAscii(HSQUIRRELVM v, const char* text);

}  // namespace natives
