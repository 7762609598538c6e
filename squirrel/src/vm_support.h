// Small pieces the machine's object protocol (vm_objects.cpp), its calls (vm_calls.cpp) and its execution loop
// (vm.cpp) share.
//
// Errors: none of these raise; the lookup answers false when the type has no such built-in method. No locking: a
// VM runs on one thread at a time.
#pragma once
#include "runtime.h"

namespace bsq {

// A weak reference stored in a container reads as the object it points to (null once that died).
inline void ResolveWeak(Value& v) {
  if (v.type == OT_WEAKREF) v = WeakRefValue(v);
}

// The built-in method `key` of self's type, from the type's default delegate.
inline bool DefaultDelegateGet(VM* v, const Value& self, const Value& key, Value& out) {
  const Value& dd = v->ss->defaultDelegates[RawTypeIndex(self.type)];
  return dd.type == OT_TABLE && dd.table()->Get(key, out);
}

// Counts a nesting level (native calls, execution loops) for the scope of a call.
struct DepthGuard {
  int& depth;
  explicit DepthGuard(int& d) : depth(d) { ++depth; }
  ~DepthGuard() { --depth; }
};

}  // namespace bsq
