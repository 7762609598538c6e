#pragma once
// Core value model shared by the compiler and the virtual machine.
//
// Ownership rules:
// - Every heap value derives from `Object` and carries an intrusive reference count.
//   Factories (String::Make, NewTable, ...) hand objects out with a count of zero:
//   wrap them in a `Value` at once, which takes the first reference.
// - When the last reference goes, the object is destroyed immediately (release hooks of
//   instances and userdata run at that point).
// - Objects that can hold references to other objects ("containers": tables, arrays,
//   closures, classes, instances, generators, threads, outers, native closures, userdata)
//   are listed in their SharedState so that the cycle collector and VM shutdown can find them.
// - Strings are interned per SharedState: two strings with equal contents are the same object,
//   so string equality is pointer equality.
//
// The compiler produces a plain sq::CompiledFunction (funcproto.h) with constants in a neutral form;
// MakeFuncProto (below) wraps it into the VM's bsq::FuncProto, kind OT_FUNCPROTO, turning the constants
// into Values once. A FuncProto holds no container references, so it is not tracked for cycle collection.
#include <squirrel.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "pool.h"

namespace sq {
struct CompiledFunction;
}

namespace bsq {

struct SharedState;

using RefVisitor = void (*)(Object* target, void* context);

struct Object {
  SQUnsignedInteger refCount = 0;
  SQObjectType kind;
  WeakRef* weak = nullptr;      // the weak reference that points here, if any
  SharedState* tracker = nullptr;  // non-null while listed for cycle collection
  Object* gcPrev = nullptr;
  Object* gcNext = nullptr;
  SQUnsignedInteger gcMark = 0;  // scratch for the collector

  explicit Object(SQObjectType k) : kind(k) {}
  // Objects of a fixed size come from the small-block pool; those with trailing storage say their
  // size to PoolAlloc and PoolFree themselves.
  // Out of line: inlined, the allocation costs the interpreter's loop registers on paths that make
  // no object.
  static void* operator new(size_t n);
  static void* operator new(size_t, void* at) noexcept { return at; }
  static void operator delete(void* p, size_t n);
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object();

  void AddRef() { ++refCount; }
  void Release() {
    if (--refCount == 0) Free();
  }
  // Destroys the object; objects freed while another is being destroyed wait in a queue, so that
  // freeing a long chain of objects does not recurse once per link.
  void Free();
  // Frees the object; overridden by objects with custom storage.
  virtual void Destroy() { delete this; }
  // Drops every reference to other objects (cycle breaking and shutdown).
  virtual void ClearRefs() {}
  // Calls `fn` once for each counted reference this object holds to another object.
  virtual void VisitRefs(RefVisitor, void*) {}

  // Enrols a container in its SharedState list (called from container constructors).
  void Track(SharedState* ss);
  void Untrack();
};

struct Value {
  SQObjectType type;
  SQObjectValue v;

  Value() : type(OT_NULL) { v.raw = 0; }
  Value(Object* o) {  // NOLINT: implicit on purpose, wrapping a fresh object is the common case
    if (o) {
      type = o->kind;
      v.pRefCounted = o;
      o->AddRef();
    } else {
      type = OT_NULL;
      v.raw = 0;
    }
  }
  explicit Value(const SQObject& o) : type(o._type), v(o._unVal) {
    if (ISREFCOUNTED(type)) v.pRefCounted->AddRef();
  }
  Value(const Value& o) : type(o.type), v(o.v) {
    if (ISREFCOUNTED(type)) v.pRefCounted->AddRef();
  }
  Value(Value&& o) noexcept : type(o.type), v(o.v) {
    o.type = OT_NULL;
    o.v.raw = 0;
  }
  [[gnu::always_inline]] ~Value() {
    if (ISREFCOUNTED(type)) v.pRefCounted->Release();
  }
  [[gnu::always_inline]] Value& operator=(const Value& o) {
    if (ISREFCOUNTED(o.type)) o.v.pRefCounted->AddRef();
    SQObjectType ot = type;
    SQObjectValue ov = v;
    type = o.type;
    v = o.v;
    if (ISREFCOUNTED(ot)) ov.pRefCounted->Release();
    return *this;
  }
  [[gnu::always_inline]] Value& operator=(Value&& o) noexcept {
    if (this != &o) {
      SQObjectType ot = type;
      SQObjectValue ov = v;
      type = o.type;
      v = o.v;
      o.type = OT_NULL;
      o.v.raw = 0;
      if (ISREFCOUNTED(ot)) ov.pRefCounted->Release();
    }
    return *this;
  }

  static Value Null() { return Value(); }
  static Value Integer(SQInteger n) {
    Value r;
    r.type = OT_INTEGER;
    r.v.nInteger = n;
    return r;
  }
  static Value Float(SQFloat f) {
    Value r;
    r.type = OT_FLOAT;
    r.v.raw = 0;
    r.v.fFloat = f;
    return r;
  }
  static Value Bool(bool b) {
    Value r;
    r.type = OT_BOOL;
    r.v.nInteger = b ? 1 : 0;
    return r;
  }
  static Value UserPointer(SQUserPointer p) {
    Value r;
    r.type = OT_USERPOINTER;
    r.v.raw = 0;
    r.v.pUserPointer = p;
    return r;
  }

  void SetNull() {
    SQObjectType ot = type;
    SQObjectValue ov = v;
    type = OT_NULL;
    v.raw = 0;
    if (ISREFCOUNTED(ot)) ov.pRefCounted->Release();
  }

  bool IsNull() const { return type == OT_NULL; }
  bool IsNumeric() const { return (type & SQOBJECT_NUMERIC) != 0; }
  bool IsRefCounted() const { return ISREFCOUNTED(type) != 0; }
  Object* obj() const { return ISREFCOUNTED(type) ? v.pRefCounted : nullptr; }
  // Float to integer truncates; out-of-range and NaN give the x86 "integer indefinite" value.
  static SQInteger FloatToInt(SQFloat f) {
    return (f >= -2147483648.0f && f < 2147483648.0f) ? SQInteger(f) : SQInteger(-2147483647 - 1);
  }
  SQInteger AsInt() const { return type == OT_FLOAT ? FloatToInt(v.fFloat) : v.nInteger; }
  SQFloat AsFloat() const { return type == OT_FLOAT ? v.fFloat : SQFloat(v.nInteger); }
  // Truthiness: null, false, 0 and 0.0 are false; everything else (also "") is true.
  bool Truthy() const {
    switch (type) {
      case OT_NULL: return false;
      case OT_INTEGER:
      case OT_BOOL: return v.nInteger != 0;
      case OT_FLOAT: return v.fFloat != 0.0f;
      default: return true;
    }
  }
  const SQObject& raw() const { return *reinterpret_cast<const SQObject*>(this); }

  String* str() const { return v.pString; }
  Table* table() const { return v.pTable; }
  Array* array() const { return v.pArray; }
  Closure* closure() const { return v.pClosure; }
  NativeClosure* nclosure() const { return v.pNativeClosure; }
  Class* cls() const { return v.pClass; }
  Instance* instance() const { return v.pInstance; }
  Generator* generator() const { return v.pGenerator; }
  WeakRef* weakref() const { return v.pWeakRef; }
  UserData* userdata() const { return v.pUserData; }
  FuncProto* proto() const { return v.pFunctionProto; }
  VM* thread() const { return v.pThread; }
  Outer* outer() const { return v.pOuter; }
};
static_assert(sizeof(Value) == sizeof(SQObject), "a Value must be layout-compatible with HSQOBJECT");

// Identity comparison used for table keys: same type and same payload. 1 and 1.0 differ.
inline bool SameKey(const Value& a, const Value& b) { return a.type == b.type && a.v.raw == b.v.raw; }

struct String : Object {
  SQInteger len = 0;
  SQHash hash = 0;
  String* chainNext = nullptr;  // interning bucket chain
  SharedState* shared = nullptr;

  const SQChar* chars() const { return reinterpret_cast<const SQChar*>(this + 1); }
  SQChar* chars() { return reinterpret_cast<SQChar*>(this + 1); }
  // Interned string of `len` units (or up to the terminator when len < 0). Always
  // zero-terminated. Count starts at zero.
  static String* Make(SharedState* ss, const SQChar* s, SQInteger len = -1);
  // The allocation holding a string of `len` units and its terminator.
  static size_t Bytes(SQInteger len) { return sizeof(String) + size_t(len + 1) * sizeof(SQChar); }
  void Destroy() override;

 private:
  String() : Object(OT_STRING) {}
  friend struct SharedState;
};

SQHash HashChars(const SQChar* s, SQInteger len);

// Services the compiler needs from the runtime.
SharedState* SharedOf(HSQUIRRELVM v);
Table* ConstTableOf(HSQUIRRELVM v);
Table* NewTable(SharedState* ss, SQInteger capacity = 0);
bool TableGet(Table* t, const Value& key, Value& out);
void TableNewSlot(Table* t, const Value& key, const Value& value);
// A compile error: the description becomes the VM's last error; when raiseerror, the compiler error handler set
// with sq_setcompilererrorhandler reports it, and only then does it count as reported.
void ReportCompileError(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column,
                        bool raiseerror);
// Wraps a compiled prototype (funcproto.h) into the VM's function-prototype object, kind
// OT_FUNCPROTO: its constants are turned into Values (strings interned) once, here.
Value MakeFuncProto(HSQUIRRELVM v, std::shared_ptr<sq::CompiledFunction> proto);
// Whether sq_enabledebuginfo asked for line information (the compiler always records lines).
bool DebugInfoEnabled(HSQUIRRELVM v);

}  // namespace bsq
