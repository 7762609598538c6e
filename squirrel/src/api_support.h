// Failure helpers shared by the two sources of the public C interface, api.cpp and api_objects.cpp.
//
// Errors: a call that refuses its operands records the reason as the VM's last error and returns SQ_ERROR;
// Guard turns a script error thrown inside a call into SQ_ERROR and drops what the failed step left pushed.
// No locking: a VM runs on one thread at a time.
#pragma once

#include <platform/text.h>

#include "runtime.h"

namespace bsq {

// Internal linkage, not inline: each source keeps its own copies, so the compiler may clone the cold failure
// paths and keep them out of line from the hot getters, as it did when the interface was one source.
namespace {

SQRESULT Fail(HSQUIRRELVM v, const SQChar* msg) {
  v->lastError = v->ss->Str(msg);
  v->errorReported = false;
  return SQ_ERROR;
}

// Operands taken from the top must lie in the current frame: a host call made with too few values
// pushed must not read or pop the caller's stack below it.
bool HasOperands(HSQUIRRELVM v, SQInteger n) { return v->top - v->stackBase >= n; }

SQRESULT TypeFail(HSQUIRRELVM v, const Value& o) {
  return Fail(v, text::FormatString(u"unexpected type %s", TypeName(o.type)).c_str());
}

template <typename F>
SQRESULT Guard(HSQUIRRELVM v, F&& body) {
  SQInteger savedTop = v->top;
  try {
    return body();
  } catch (ScriptThrow&) {
    if (v->top > savedTop) v->SetTop(savedTop);
    return SQ_ERROR;
  }
}

}  // namespace
}  // namespace bsq
