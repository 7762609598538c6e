#include "registration.h"

namespace sqstd {

SQRESULT PushFunction(HSQUIRRELVM v, const SQRegFunction& function) {
  sq_newclosure(v, function.f, 0);
  if (function.nparamscheck != 0 || function.typemask) {
    if (SQ_FAILED(sq_setparamscheck(v, function.nparamscheck, function.typemask))) {
      sq_poptop(v);
      return SQ_ERROR;
    }
  }
  sq_setnativeclosurename(v, -1, function.name);
  return SQ_OK;
}

SQRESULT RegisterFunctions(HSQUIRRELVM v, SQInteger idx, const SQRegFunction* functions, SQBool asStatic) {
  if (idx < 0) idx = sq_gettop(v) + idx + 1;  // absolute, so the pushes below do not move it
  SQInteger top = sq_gettop(v);
  for (const SQRegFunction* f = functions; f->name; ++f) {
    sq_pushstring(v, f->name, -1);
    if (SQ_FAILED(PushFunction(v, *f)) || SQ_FAILED(sq_newslot(v, idx, asStatic))) {
      sq_settop(v, top);
      return SQ_ERROR;
    }
  }
  return SQ_OK;
}

}  // namespace sqstd
