// The public C interface over the virtual machine: its life, compiling, the stack, values, functions and calls.
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <unordered_map>

#include <platform/text.h>

#include "api_support.h"
#include "compiler.h"
#include "runtime.h"

using namespace bsq;

namespace bsq {

SharedState* SharedOf(HSQUIRRELVM v) { return v->ss; }
Table* ConstTableOf(HSQUIRRELVM v) {
  return v->ss->consttable.type == OT_TABLE ? v->ss->consttable.table() : nullptr;
}
bool DebugInfoEnabled(HSQUIRRELVM v) { return v->ss->debugInfo; }

void ReportCompileError(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column,
                        bool raiseerror) {
  // Reported here only when the compiler's handler saw it; otherwise the error is the caller's, and one that a
  // script does not catch (compilestring's) reaches the runtime handler as every uncaught error does.
  const bool reported = raiseerror && v->ss->compilerError != nullptr;
  if (reported) v->ss->compilerError(v, desc, source, line, column);
  v->lastError = v->ss->Str(desc);
  v->errorReported = reported;
}

}  // namespace bsq

namespace {

const char16_t* kMetaNames[MT_COUNT] = {u"_add",    u"_sub",  u"_mul",   u"_div",     u"_unm",     u"_modulo",
                                        u"_set",    u"_get",  u"_typeof", u"_nexti",  u"_cmp",     u"_call",
                                        u"_cloned", u"_newslot", u"_delslot", u"_tostring", u"_newmember",
                                        u"_inherited"};

Value CloseFunc(HSQUIRRELVM v, const Value& proto) {
  Closure* c = Closure::Make(v->ss, proto, 0);
  Value cv(c);
  if (v->roottable.type == OT_TABLE) c->root = NewWeakRef(v->ss, v->roottable);
  return cv;
}

}  // namespace

// ---- virtual machine ------------------------------------------------------------------------------

HSQUIRRELVM sq_open(SQInteger initialstacksize) {
  SharedState* ss = new SharedState();
  for (int i = 0; i < MT_COUNT; ++i) ss->metaNames[i] = ss->Str(kMetaNames[i]);
  ss->constructorName = ss->Str(u"constructor");
  ss->outOfMemoryText = ss->Str(u"not enough memory");
  static const char16_t* const statusTexts[] = {u"idle", u"running", u"suspended", u"dead"};
  for (int i = 0; i < SharedState::kStatusNames; ++i) ss->statusNames[i] = ss->Str(statusTexts[i]);
  ss->registry = Value(new Table(ss, 0));
  ss->consttable = Value(new Table(ss, 0));
  VM* v = new VM(ss, initialstacksize);
  v->AddRef();  // the host's handle
  ss->mainVM = v;
  v->roottable = Value(new Table(ss, 0));
  RegisterBaseLib(v);
  return v;
}

HSQUIRRELVM sq_newthread(HSQUIRRELVM friendvm, SQInteger initialstacksize) {
  VM* t = new VM(friendvm->ss, initialstacksize);
  t->roottable = friendvm->roottable;
  t->foreignPtr = friendvm->foreignPtr;
  t->errorHandler = friendvm->errorHandler;
  t->debugHook = friendvm->debugHook;
  t->nativeDebugHook = friendvm->nativeDebugHook;
  t->UpdateHooked();
  friendvm->Push(Value(t));
  return t;
}

void sq_seterrorhandler(HSQUIRRELVM v) {
  if (!v->ValidIndex(-1)) return;
  Value h = v->At(-1);
  if (h.type == OT_CLOSURE || h.type == OT_NATIVECLOSURE || h.type == OT_NULL) {
    v->errorHandler = h;
    v->Pop();
  }
}

void sq_close(HSQUIRRELVM v) {
  SharedState* ss = v->ss;
  VM* main = ss->mainVM;
  if (ss->releaseHook) ss->releaseHook(ss->foreignPtr, 0);
  {
    std::vector<std::pair<Object*, SQUnsignedInteger>> held(ss->hostRefs.begin(), ss->hostRefs.end());
    ss->hostRefs.clear();
    for (auto& [o, n] : held) o->AddRef();  // keep every held object until all are cleared
    for (auto& [o, n] : held) o->refCount -= n;
    for (auto& [o, n] : held) o->Release();
  }
  main->ClearRefs();
  DestroyShared(ss);
  main->Release();
  // Strings still referenced by nobody are gone; anything else was leaked by the host.
  delete ss;
}

void sq_setforeignptr(HSQUIRRELVM v, SQUserPointer p) { v->foreignPtr = p; }
SQUserPointer sq_getforeignptr(HSQUIRRELVM v) { return v->foreignPtr; }
void sq_setsharedforeignptr(HSQUIRRELVM v, SQUserPointer p) { v->ss->foreignPtr = p; }
SQUserPointer sq_getsharedforeignptr(HSQUIRRELVM v) { return v->ss->foreignPtr; }
void sq_setvmreleasehook(HSQUIRRELVM v, SQRELEASEHOOK hook) { v->releaseHook = hook; }
SQRELEASEHOOK sq_getvmreleasehook(HSQUIRRELVM v) { return v->releaseHook; }
void sq_setsharedreleasehook(HSQUIRRELVM v, SQRELEASEHOOK hook) { v->ss->releaseHook = hook; }
SQRELEASEHOOK sq_getsharedreleasehook(HSQUIRRELVM v) { return v->ss->releaseHook; }

void sq_setprintfunc(HSQUIRRELVM v, SQPRINTFUNCTION printfunc, SQPRINTFUNCTION errfunc) {
  v->ss->printfn = printfunc;
  v->ss->errorfn = errfunc;
}
SQPRINTFUNCTION sq_getprintfunc(HSQUIRRELVM v) { return v->ss->printfn; }
SQPRINTFUNCTION sq_geterrorfunc(HSQUIRRELVM v) { return v->ss->errorfn; }

SQRESULT sq_suspendvm(HSQUIRRELVM v) {
  (void)v;
  return kSuspendFlag;
}

SQRESULT sq_wakeupvm(HSQUIRRELVM v, SQBool resumedret, SQBool retval, SQBool raiseerror, SQBool throwerror) {
  if (v->state != SQ_VMSTATE_SUSPENDED) return Fail(v, u"cannot resume a vm that is not running any code");
  Value wake;
  if (resumedret) {
    wake = std::move(v->Top());
    --v->top;
  }
  size_t entry = v->suspendEntry;
  SQInteger fslot = v->frames[entry].fslot;
  v->SetTop(v->suspendTarget + 1);
  v->stack[size_t(v->suspendTarget)] = wake;
  v->state = SQ_VMSTATE_RUNNING;
  v->suspendValue.SetNull();
  {
    RaiseFlagScope raise(v, raiseerror != 0);
    try {
      if (throwerror) {
        v->stack[size_t(v->suspendTarget)] = Value();
        v->pendingThrow = true;
      }
      v->Execute(entry);
    } catch (ScriptThrow&) {
      v->state = SQ_VMSTATE_IDLE;
      return SQ_ERROR;
    }
  }
  if (v->state == SQ_VMSTATE_SUSPENDED) {
    if (retval) v->Push(v->suspendValue);  // the next wake-up resets the stack to the suspension point
    return SQ_OK;
  }
  v->state = SQ_VMSTATE_IDLE;
  Value r = v->stack[size_t(fslot)];
  v->SetTop(fslot);
  if (retval) v->Push(r);
  return SQ_OK;
}

SQInteger sq_getvmstate(HSQUIRRELVM v) { return v->state; }
SQInteger sq_getversion() { return SQUIRREL_VERSION_NUMBER; }

// ---- compiler -------------------------------------------------------------------------------------

SQRESULT sq_compile(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer p, const SQChar* sourcename, SQBool raiseerror) {
  std::shared_ptr<sq::CompiledFunction> compiled;
  if (!sq::CompileScript(v, read, p, sourcename, raiseerror, v->ss->debugInfo, &compiled)) return SQ_ERROR;
  v->Push(CloseFunc(v, WrapProto(v->ss, compiled)));
  return SQ_OK;
}

namespace {
struct BufferReader {
  const SQChar* s;
  SQInteger size;
  SQInteger pos;
};
SQInteger ReadBuffer(SQUserPointer up) {
  BufferReader* r = static_cast<BufferReader*>(up);
  if (r->pos >= r->size) return 0;
  return SQInteger(r->s[r->pos++]);
}
}  // namespace

SQRESULT sq_compilebuffer(HSQUIRRELVM v, const SQChar* s, SQInteger size, const SQChar* sourcename, SQBool raiseerror) {
  if (size < 0) size = SQInteger(text::Length(s));
  BufferReader r{s, size, 0};
  return sq_compile(v, ReadBuffer, &r, sourcename, raiseerror);
}

void sq_enabledebuginfo(HSQUIRRELVM v, SQBool enable) { v->ss->debugInfo = enable != 0; }
void sq_notifyallexceptions(HSQUIRRELVM v, SQBool enable) { v->ss->notifyAll = enable != 0; }
void sq_setcompilererrorhandler(HSQUIRRELVM v, SQCOMPILERERROR f) { v->ss->compilerError = f; }

// ---- stack ----------------------------------------------------------------------------------------

void sq_push(HSQUIRRELVM v, SQInteger idx) {
  Value val = v->At(idx);
  v->Push(std::move(val));
}
// Popping never goes below the frame's base: the values under it belong to the caller.
void sq_pop(HSQUIRRELVM v, SQInteger n) { v->Pop(std::clamp<SQInteger>(n, 0, v->top - v->stackBase)); }
void sq_poptop(HSQUIRRELVM v) { sq_pop(v, 1); }
void sq_remove(HSQUIRRELVM v, SQInteger idx) {
  if (!v->ValidIndex(idx)) return;
  SQInteger a = v->AbsIndex(idx);
  for (SQInteger i = a; i < v->top - 1; ++i) v->stack[size_t(i)] = std::move(v->stack[size_t(i + 1)]);
  v->Pop();
}
SQInteger sq_gettop(HSQUIRRELVM v) { return v->top - v->stackBase; }
void sq_settop(HSQUIRRELVM v, SQInteger newtop) { v->SetTop(v->stackBase + std::max<SQInteger>(newtop, 0)); }
SQRESULT sq_reservestack(HSQUIRRELVM v, SQInteger nsize) {
  v->Reserve(nsize);
  return SQ_OK;
}
SQInteger sq_cmp(HSQUIRRELVM v) {
  try {
    return v->Compare(v->At(-2), v->At(-1));
  } catch (ScriptThrow&) {
    return 0;
  }
}
void sq_move(HSQUIRRELVM dest, HSQUIRRELVM src, SQInteger idx) {
  Value val = src->At(idx);
  dest->Push(std::move(val));
}

// ---- values ---------------------------------------------------------------------------------------

void sq_pushstring(HSQUIRRELVM v, const SQChar* s, SQInteger len) {
  if (!s) v->Push(Value());
  else v->Push(v->ss->Str(s, len));
}
void sq_pushfloat(HSQUIRRELVM v, SQFloat f) { v->Push(Value::Float(f)); }
void sq_pushinteger(HSQUIRRELVM v, SQInteger n) { v->Push(Value::Integer(n)); }
void sq_pushbool(HSQUIRRELVM v, SQBool b) { v->Push(Value::Bool(b != 0)); }
void sq_pushuserpointer(HSQUIRRELVM v, SQUserPointer p) { v->Push(Value::UserPointer(p)); }
void sq_pushnull(HSQUIRRELVM v) { v->Push(Value()); }
void sq_pushthread(HSQUIRRELVM v, HSQUIRRELVM thread) { v->Push(Value(static_cast<Object*>(thread))); }

SQObjectType sq_gettype(HSQUIRRELVM v, SQInteger idx) { return v->At(idx).type; }

SQRESULT sq_typeof(HSQUIRRELVM v, SQInteger idx) {
  return Guard(v, [&] {
    Value o = v->At(idx);
    v->Push(v->TypeOf(o));
    return SQ_OK;
  });
}

SQInteger sq_getsize(HSQUIRRELVM v, SQInteger idx) {
  const Value& o = v->At(idx);
  switch (o.type) {
    case OT_STRING: return o.str()->len;
    case OT_TABLE: return o.table()->count;
    case OT_ARRAY: return SQInteger(o.array()->items.size());
    case OT_USERDATA: return SQInteger(o.userdata()->size);
    case OT_INSTANCE: return o.instance()->cls ? o.instance()->cls->udsize : 0;
    case OT_CLASS: return o.cls()->udsize;
    default: return TypeFail(v, o);
  }
}

SQHash sq_gethash(HSQUIRRELVM v, SQInteger idx) { return HashValue(v->At(idx)); }

SQRESULT sq_tostring(HSQUIRRELVM v, SQInteger idx) {
  return Guard(v, [&] {
    Value o = v->At(idx);
    v->Push(v->ToString(o));
    return SQ_OK;
  });
}

void sq_tobool(HSQUIRRELVM v, SQInteger idx, SQBool* b) { *b = v->At(idx).Truthy() ? SQTrue : SQFalse; }

SQRESULT sq_getstringandsize(HSQUIRRELVM v, SQInteger idx, const SQChar** c, SQInteger* size) {
  const Value& o = v->At(idx);
  if (o.type != OT_STRING) return TypeFail(v, o);
  *c = o.str()->chars();
  *size = o.str()->len;
  return SQ_OK;
}

SQRESULT sq_getstring(HSQUIRRELVM v, SQInteger idx, const SQChar** c) {
  const Value& o = v->At(idx);
  if (o.type != OT_STRING) return TypeFail(v, o);
  *c = o.str()->chars();
  return SQ_OK;
}

SQRESULT sq_getinteger(HSQUIRRELVM v, SQInteger idx, SQInteger* i) {
  const Value& o = v->At(idx);
  switch (o.type) {
    case OT_INTEGER:
    case OT_BOOL: *i = o.v.nInteger; return SQ_OK;
    case OT_FLOAT: *i = Value::FloatToInt(o.v.fFloat); return SQ_OK;
    default: return TypeFail(v, o);
  }
}

SQRESULT sq_getfloat(HSQUIRRELVM v, SQInteger idx, SQFloat* f) {
  const Value& o = v->At(idx);
  if (!o.IsNumeric()) return TypeFail(v, o);
  *f = o.AsFloat();
  return SQ_OK;
}

SQRESULT sq_getbool(HSQUIRRELVM v, SQInteger idx, SQBool* b) {
  const Value& o = v->At(idx);
  if (o.type != OT_BOOL) return TypeFail(v, o);
  *b = o.v.nInteger ? SQTrue : SQFalse;
  return SQ_OK;
}

SQRESULT sq_getthread(HSQUIRRELVM v, SQInteger idx, HSQUIRRELVM* thread) {
  const Value& o = v->At(idx);
  if (o.type != OT_THREAD) return TypeFail(v, o);
  *thread = o.thread();
  return SQ_OK;
}

SQRESULT sq_getuserpointer(HSQUIRRELVM v, SQInteger idx, SQUserPointer* p) {
  const Value& o = v->At(idx);
  if (o.type != OT_USERPOINTER) return TypeFail(v, o);
  *p = o.v.pUserPointer;
  return SQ_OK;
}

// ---- closures -------------------------------------------------------------------------------------

void sq_newclosure(HSQUIRRELVM v, SQFUNCTION func, SQUnsignedInteger nfreevars) {
  NativeClosure* nc = new NativeClosure(v->ss, func);
  Value cv(nc);
  // Free variables come from the current frame only.
  nfreevars = std::min(nfreevars, SQUnsignedInteger(v->top - v->stackBase));
  for (SQUnsignedInteger i = 0; i < nfreevars; ++i) nc->outers.push_back(v->stack[size_t(v->top - nfreevars + i)]);
  v->Pop(SQInteger(nfreevars));
  v->Push(std::move(cv));
}

static SQInteger MaskLetter(SQChar ch) {
  switch (ch) {
    case u'o': return _RT_NULL;
    case u'i': return _RT_INTEGER;
    case u'f': return _RT_FLOAT;
    case u'n': return _RT_INTEGER | _RT_FLOAT;
    case u's': return _RT_STRING;
    case u't': return _RT_TABLE;
    case u'a': return _RT_ARRAY;
    case u'u': return _RT_USERDATA;
    case u'c': return _RT_CLOSURE | _RT_NATIVECLOSURE;
    case u'b': return _RT_BOOL;
    case u'g': return _RT_GENERATOR;
    case u'p': return _RT_USERPOINTER;
    case u'v': return _RT_THREAD;
    case u'x': return _RT_INSTANCE;
    case u'y': return _RT_CLASS;
    case u'r': return _RT_WEAKREF;
    case u'.': return -1;
    default: return 0;
  }
}

SQRESULT sq_setparamscheck(HSQUIRRELVM v, SQInteger nparamscheck, const SQChar* typemask) {
  Value& o = v->At(-1);
  if (o.type != OT_NATIVECLOSURE) return Fail(v, u"native closure expected");
  NativeClosure* nc = o.nclosure();
  std::vector<SQInteger> checks;
  if (typemask) {
    size_t i = 0;
    while (typemask[i]) {
      if (typemask[i] == u' ') {
        ++i;
        continue;
      }
      SQInteger mask = 0;
      // Spaces may stand anywhere, also around the '|' that joins the alternatives of one parameter.
      auto skipSpaces = [&] {
        while (typemask[i] == u' ') ++i;
      };
      for (;;) {
        SQInteger bits = MaskLetter(typemask[i]);
        if (bits == 0) return Fail(v, u"invalid typemask");
        mask = (bits == -1 || mask == -1) ? -1 : (mask | bits);
        ++i;
        size_t next = i;
        while (typemask[next] == u' ') ++next;
        if (typemask[next] != u'|') break;
        i = next + 1;
        skipSpaces();
      }
      checks.push_back(mask);
    }
  }
  nc->typecheck = std::move(checks);
  nc->nparamscheck = nparamscheck == SQ_MATCHTYPEMASKSTRING ? SQInteger(nc->typecheck.size()) : nparamscheck;
  return SQ_OK;
}

SQRESULT sq_bindenv(HSQUIRRELVM v, SQInteger idx) {
  Value fn = v->At(idx);
  Value env = v->At(-1);
  if (env.type != OT_TABLE && env.type != OT_CLASS && env.type != OT_INSTANCE) return Fail(v, u"invalid environment");
  Value weak = NewWeakRef(v->ss, env);
  Value result;
  if (fn.type == OT_CLOSURE) {
    Closure* src = fn.closure();
    Closure* c = Closure::Make(v->ss, src->proto, src->outers.size());
    result = Value(c);
    for (size_t i = 0; i < src->outers.size(); ++i) c->outers[i] = src->outers[i];
    c->defaults = src->defaults;
    c->root = src->root;
    c->ownerBase = src->ownerBase;
    c->owned = src->owned;
    c->env = weak;
  } else if (fn.type == OT_NATIVECLOSURE) {
    NativeClosure* src = fn.nclosure();
    NativeClosure* c = new NativeClosure(v->ss, src->fn);
    result = Value(c);
    c->outers = src->outers;
    c->nparamscheck = src->nparamscheck;
    c->typecheck = src->typecheck;
    c->name = src->name;
    c->env = weak;
  } else {
    return Fail(v, u"the target is not a closure");
  }
  v->Pop();
  v->Push(std::move(result));
  return SQ_OK;
}

SQRESULT sq_setclosureroot(HSQUIRRELVM v, SQInteger idx) {
  Value fn = v->At(idx);
  Value root = v->At(-1);
  if (fn.type != OT_CLOSURE) return Fail(v, u"the target is not a closure");
  if (root.type != OT_TABLE) return Fail(v, u"invalid type");
  fn.closure()->root = NewWeakRef(v->ss, root);
  v->Pop();
  return SQ_OK;
}

SQRESULT sq_getclosureroot(HSQUIRRELVM v, SQInteger idx) {
  Value fn = v->At(idx);
  if (fn.type != OT_CLOSURE) return Fail(v, u"the target is not a closure");
  Value r = WeakRefValue(fn.closure()->root);
  v->Push(r.IsNull() ? v->roottable : r);
  return SQ_OK;
}

SQRESULT sq_getclosureinfo(HSQUIRRELVM v, SQInteger idx, SQInteger* nparams, SQInteger* nfreevars) {
  const Value& o = v->At(idx);
  if (o.type == OT_CLOSURE) {
    const sq::CompiledFunction* p = o.closure()->fp()->code.get();
    *nparams = SQInteger(p->nparams);
    *nfreevars = SQInteger(p->outers.size());
    return SQ_OK;
  }
  if (o.type == OT_NATIVECLOSURE) {
    *nparams = o.nclosure()->nparamscheck;
    *nfreevars = SQInteger(o.nclosure()->outers.size());
    return SQ_OK;
  }
  return Fail(v, u"the object is not a closure");
}

SQRESULT sq_getclosurename(HSQUIRRELVM v, SQInteger idx) {
  Value o = v->At(idx);
  if (o.type == OT_CLOSURE) v->Push(o.closure()->fp()->name);
  else if (o.type == OT_NATIVECLOSURE) v->Push(o.nclosure()->name);
  else return Fail(v, u"the target is not a closure");
  return SQ_OK;
}

SQRESULT sq_setnativeclosurename(HSQUIRRELVM v, SQInteger idx, const SQChar* name) {
  const Value& o = v->At(idx);
  if (o.type != OT_NATIVECLOSURE) return Fail(v, u"the object is not a nativeclosure");
  o.nclosure()->name = v->ss->Str(name);
  return SQ_OK;
}

SQRESULT sq_setfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value self = v->At(idx);
  Value val = v->Top();
  if (self.type == OT_CLOSURE) {
    Closure* c = self.closure();
    if (nval >= c->outers.size()) return Fail(v, u"invalid free var index");
    c->outers[nval].outer()->Ref() = val;
  } else if (self.type == OT_NATIVECLOSURE) {
    NativeClosure* c = self.nclosure();
    if (nval >= c->outers.size()) return Fail(v, u"invalid free var index");
    c->outers[nval] = val;
  } else {
    return Fail(v, u"invalid type");
  }
  v->Pop();
  return SQ_OK;
}

const SQChar* sq_getfreevariable(HSQUIRRELVM v, SQInteger idx, SQUnsignedInteger nval) {
  Value self = v->At(idx);
  if (self.type == OT_CLOSURE) {
    Closure* c = self.closure();
    const sq::CompiledFunction* p = c->fp()->code.get();
    if (nval >= c->outers.size()) return nullptr;
    Value val = c->outers[nval].outer()->Ref();
    v->Push(std::move(val));
    return p->outers[nval].name.c_str();
  }
  if (self.type == OT_NATIVECLOSURE) {
    NativeClosure* c = self.nclosure();
    if (nval >= c->outers.size()) return nullptr;
    v->Push(c->outers[nval]);
    return u"@NATIVE";
  }
  return nullptr;
}

// ---- calls ----------------------------------------------------------------------------------------

SQRESULT sq_call(HSQUIRRELVM v, SQInteger params, SQBool retval, SQBool raiseerror) {
  SQInteger fslot = v->top - params - 1;
  if (params < 0 || fslot < v->stackBase) return Fail(v, u"not enough parameters in the stack");
  // A native called from outside any script runs on the caller's own values: it cannot suspend there, so its
  // frame never outlives the call, and only the function needs keeping for the caller. Anything else runs on
  // copies, which a suspended call leaves above the caller's values.
  bool inPlace = v->frames.empty() && v->stack[size_t(fslot)].type == OT_NATIVECLOSURE;
  Value callee;
  if (inPlace) {
    callee = v->stack[size_t(fslot)];
  } else {
    v->Reserve(params + 1);
    for (SQInteger i = 0; i <= params; ++i) v->Push(v->stack[size_t(fslot + i)]);
  }
  RaiseFlagScope raise(v, raiseerror != 0);
  size_t savedBoundary = v->raiseBoundary;
  v->raiseBoundary = v->frames.size();
  Value result;
  bool outermost = v->executeDepth == 0 && v->state != SQ_VMSTATE_SUSPENDED;
  if (outermost) v->state = SQ_VMSTATE_RUNNING;
  bool failed = false;
  try {
    if (inPlace) {
      v->CallNative(callee.nclosure(), fslot, params);
      result = std::move(v->stack[size_t(fslot)]);
      v->stack[size_t(fslot)] = std::move(callee);
    } else {
      v->Call(params, result);
    }
  } catch (ScriptThrow&) {
    failed = true;
  } catch (const std::exception&) {
    // Allocation failures outside the execution loop (argument set-up) end the call cleanly.
    v->lastError = v->ss->Str(u"not enough memory");
    v->errorReported = false;
    failed = true;
  }
  if (failed) {
    bool trappedInCall = !v->traps.empty() && v->traps.back().frame >= v->raiseBoundary;
    if (raiseerror && !v->errorReported && !trappedInCall) v->ReportError();
    v->raiseBoundary = savedBoundary;
    v->SetTop(fslot + 1);
    if (outermost) v->state = SQ_VMSTATE_IDLE;
    return SQ_ERROR;
  }
  v->raiseBoundary = savedBoundary;
  if (v->state == SQ_VMSTATE_SUSPENDED) return SQ_OK;
  if (outermost) v->state = SQ_VMSTATE_IDLE;
  v->SetTop(fslot + 1);
  if (retval) v->Push(std::move(result));
  return SQ_OK;
}

SQRESULT sq_resume(HSQUIRRELVM v, SQBool retval, SQBool raiseerror) {
  if (!HasOperands(v, 1)) return Fail(v, u"missing operand on the stack");
  Value g = v->Top();
  if (g.type != OT_GENERATOR) return Fail(v, u"only generators can be resumed");
  RaiseFlagScope raise(v, raiseerror != 0);
  return Guard(v, [&] {
    Value res = v->Resume(g.generator());
    if (retval) v->Push(std::move(res));
    return SQ_OK;
  });
}

SQRESULT sq_getcallee(HSQUIRRELVM v) {
  if (v->frames.empty()) return Fail(v, u"no closure in the calls stack");
  v->Push(v->frames.back().callee);
  return SQ_OK;
}

SQRESULT sq_throwerror(HSQUIRRELVM v, const SQChar* err) {
  v->lastError = err ? v->ss->Str(err) : Value();
  v->errorReported = false;
  return SQ_ERROR;
}

SQRESULT sq_throwobject(HSQUIRRELVM v) {
  v->lastError = v->At(-1);
  v->errorReported = false;
  sq_poptop(v);
  return SQ_ERROR;
}

void sq_reseterror(HSQUIRRELVM v) { v->lastError.SetNull(); }
void sq_getlasterror(HSQUIRRELVM v) { v->Push(v->lastError); }

SQRESULT sq_tailcall(HSQUIRRELVM v, SQInteger nparams) {
  SQInteger fslot = v->top - nparams - 1;
  if (fslot < v->stackBase) return Fail(v, u"not enough parameters in the stack");
  return Guard(v, [&] {
    Value r;
    v->Call(nparams, r);
    v->Push(std::move(r));
    return SQInteger(1);
  });
}

// ---- debug ----------------------------------------------------------------------------------------

SQRESULT sq_getfunctioninfo(HSQUIRRELVM v, SQInteger level, SQFunctionInfo* fi) {
  if (level < 0 || size_t(level) >= v->frames.size()) return Fail(v, u"the level doesn't exist");
  const Frame& f = v->frames[v->frames.size() - 1 - size_t(level)];
  if (f.native) return Fail(v, u"the object is not a closure");
  fi->funcid = f.proto;
  fi->name = f.proto->name.type == OT_STRING ? f.proto->name.str()->chars() : u"unknown";
  fi->source = f.proto->sourceName.type == OT_STRING ? f.proto->sourceName.str()->chars() : u"unknown";
  fi->line = f.code->firstLine;
  return SQ_OK;
}

const SQChar* sq_getlocal(HSQUIRRELVM v, SQUnsignedInteger level, SQUnsignedInteger idx) {
  if (level >= v->frames.size()) return nullptr;
  const Frame& f = v->frames[v->frames.size() - 1 - level];
  if (f.native) return nullptr;
  // Free variables come first.
  const sq::CompiledFunction* p = f.code;
  if (idx < f.closure->outers.size()) {
    Value val = f.closure->outers[idx].outer()->Ref();
    v->Push(std::move(val));
    return p->outers[idx].name.c_str();
  }
  idx -= SQUnsignedInteger(f.closure->outers.size());
  // Then the live locals, the most recently declared first (`this` comes last).
  uint32_t pc = f.pc > 0 ? f.pc - 1 : 0;
  for (auto it = p->locals.rbegin(); it != p->locals.rend(); ++it) {
    if (pc < it->startPc || pc >= it->endPc) continue;
    if (idx-- == 0) {
      Value val = v->stack[size_t(f.base + SQInteger(it->slot))];
      v->Push(std::move(val));
      return it->name.c_str();  // owned by the prototype, which the frame keeps alive
    }
  }
  return nullptr;
}

SQRESULT sq_stackinfos(HSQUIRRELVM v, SQInteger level, SQStackInfos* si) {
  return v->StackInfo(level, si) ? SQ_OK : SQ_ERROR;
}

void sq_setdebughook(HSQUIRRELVM v) {
  if (!HasOperands(v, 1)) return;
  Value h = v->Top();
  if (h.type == OT_CLOSURE || h.type == OT_NATIVECLOSURE || h.type == OT_NULL) {
    v->debugHook = h;
    v->nativeDebugHook = nullptr;
    v->UpdateHooked();
    v->Pop();
  }
}

void sq_setnativedebughook(HSQUIRRELVM v, SQDEBUGHOOK hook) {
  v->nativeDebugHook = hook;
  v->debugHook.SetNull();
  v->UpdateHooked();
}

// ---- garbage collection ---------------------------------------------------------------------------

SQInteger sq_collectgarbage(HSQUIRRELVM v) {
  size_t before = v->ss->gcCount;
  CollectCycles(v->ss, nullptr);
  return SQInteger(before - std::min(before, v->ss->gcCount));
}

SQRESULT sq_resurrectunreachable(HSQUIRRELVM v) {
  std::vector<Value> found;
  CollectCycles(v->ss, &found);
  if (found.empty()) {
    v->Push(Value());
    return SQ_OK;
  }
  Array* a = new Array(v->ss, 0);
  Value av(a);
  a->items = std::move(found);
  v->Push(std::move(av));
  return SQ_OK;
}

// ---- memory ---------------------------------------------------------------------------------------

void* sq_malloc(SQUnsignedInteger size) { return std::malloc(size ? size : 1); }
void* sq_realloc(void* p, SQUnsignedInteger, SQUnsignedInteger newsize) { return std::realloc(p, newsize ? newsize : 1); }
void sq_free(void* p, SQUnsignedInteger) { std::free(p); }

SQChar* sq_getscratchpad(HSQUIRRELVM v, SQInteger minsize) {
  if (minsize < 0) minsize = 0;
  if (v->ss->scratch.size() < size_t(minsize) + 1) v->ss->scratch.resize(size_t(minsize) + 16);
  return v->ss->scratch.data();
}
