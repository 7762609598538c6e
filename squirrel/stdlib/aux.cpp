// Default error handlers and the call-stack dump, all written through the VM's error function.
#include <sqstdaux.h>

namespace {

constexpr SQInteger kDumpEndLevels = 10;  // levels shown at each end of a long call stack

void PrintLocal(HSQUIRRELVM v, SQPRINTFUNCTION pf, const SQChar* name) {
  switch (sq_gettype(v, -1)) {
    case OT_NULL: pf(v, u"[%s] NULL\n", name); break;
    case OT_INTEGER: {
      SQInteger i = 0;
      sq_getinteger(v, -1, &i);
      pf(v, u"[%s] %d\n", name, i);
      break;
    }
    case OT_FLOAT: {
      SQFloat f = 0;
      sq_getfloat(v, -1, &f);
      pf(v, u"[%s] %.14g\n", name, double(f));
      break;
    }
    case OT_BOOL: {
      SQInteger b = 0;
      sq_getinteger(v, -1, &b);
      pf(v, u"[%s] %s\n", name, b ? u"true" : u"false");
      break;
    }
    case OT_STRING: {
      const SQChar* s = u"";
      sq_getstring(v, -1, &s);
      pf(v, u"[%s] \"%s\"\n", name, s);
      break;
    }
    case OT_USERPOINTER: pf(v, u"[%s] USERPOINTER\n", name); break;
    case OT_TABLE: pf(v, u"[%s] TABLE\n", name); break;
    case OT_ARRAY: pf(v, u"[%s] ARRAY\n", name); break;
    case OT_CLOSURE: pf(v, u"[%s] CLOSURE\n", name); break;
    case OT_NATIVECLOSURE: pf(v, u"[%s] NATIVECLOSURE\n", name); break;
    case OT_GENERATOR: pf(v, u"[%s] GENERATOR\n", name); break;
    case OT_USERDATA: pf(v, u"[%s] USERDATA\n", name); break;
    case OT_THREAD: pf(v, u"[%s] THREAD\n", name); break;
    case OT_CLASS: pf(v, u"[%s] CLASS\n", name); break;
    case OT_INSTANCE: pf(v, u"[%s] INSTANCE\n", name); break;
    case OT_WEAKREF: pf(v, u"[%s] WEAKREF\n", name); break;
    default: pf(v, u"[%s] UNKNOWN\n", name); break;
  }
}

SQInteger RuntimeErrorHandler(HSQUIRRELVM v) {
  SQPRINTFUNCTION pf = sq_geterrorfunc(v);
  if (!pf) return 0;
  const SQChar* message = nullptr;
  if (sq_gettop(v) >= 2 && SQ_SUCCEEDED(sq_getstring(v, 2, &message)))
    pf(v, u"\nAN ERROR HAS OCCURRED [%s]\n", message);
  else
    pf(v, u"\nAN ERROR HAS OCCURRED [unknown]\n");
  sqstd_printcallstack(v);
  return 0;
}

void CompilerErrorHandler(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
  if (SQPRINTFUNCTION pf = sq_geterrorfunc(v))
    pf(v, u"%s line = (%d) column = (%d) : error %s\n", source ? source : u"unknown", line, column,
       desc ? desc : u"unknown");
}

}  // namespace

void sqstd_printcallstack(HSQUIRRELVM v) {
  SQPRINTFUNCTION pf = sq_geterrorfunc(v);
  if (!pf) return;
  // Level 0 is the native that asked for the dump; the script levels start above it.
  SQStackInfos si;
  SQInteger levels = 1;
  while (SQ_SUCCEEDED(sq_stackinfos(v, levels, &si))) ++levels;
  // A runaway recursion would print hundreds of thousands of levels: its ends say where it came from.
  bool cut = levels - 1 > 2 * kDumpEndLevels;
  auto skip = [&](SQInteger& level) {
    if (!cut || level != kDumpEndLevels + 1) return false;
    pf(v, u"... %d levels not shown ...\n", int(levels - 1 - 2 * kDumpEndLevels));
    level = levels - 1 - kDumpEndLevels;
    return true;
  };
  pf(v, u"\nCALLSTACK\n");
  for (SQInteger level = 1; level < levels; ++level) {
    if (skip(level)) continue;
    sq_stackinfos(v, level, &si);
    pf(v, u"*FUNCTION [%s()] %s line [%d]\n", si.funcname ? si.funcname : u"unknown",
       si.source ? si.source : u"unknown", si.line);
  }
  pf(v, u"\nLOCALS\n");
  for (SQInteger level = 1; level < levels; ++level) {
    if (skip(level)) continue;
    SQInteger top = sq_gettop(v);
    for (SQUnsignedInteger seq = 0;; ++seq) {
      const SQChar* name = sq_getlocal(v, SQUnsignedInteger(level), seq);
      if (!name) break;
      PrintLocal(v, pf, name);
      sq_settop(v, top);
    }
  }
}

void sqstd_seterrorhandlers(HSQUIRRELVM v) {
  sq_setcompilererrorhandler(v, CompilerErrorHandler);
  sq_newclosure(v, RuntimeErrorHandler, 0);
  sq_setnativeclosurename(v, -1, u"errorhandler");
  sq_seterrorhandler(v);
}
