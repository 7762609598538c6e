#pragma once
// Small pieces the machine's object protocol, its calls and its execution loop share.
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
