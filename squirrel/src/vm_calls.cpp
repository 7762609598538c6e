// Calls into the machine: argument checks, native calls, the start of script, class and metamethod calls,
// generator resumption, error reporting and the debug hook's view of frames.
#include <algorithm>

#include "runtime.h"
#include "vm_support.h"

namespace bsq {

// ---- calls ----------------------------------------------------------------------------------------

Value VM::CallValue(const Value& fn, const Value& self, int nargs, const Value* args) {
  Reserve(nargs + 2);
  Push(fn);
  Push(self);
  for (int i = 0; i < nargs; ++i) Push(args[i]);
  Value r;
  Call(nargs + 1, r);
  return r;
}

void VM::Call(SQInteger nargs, Value& result) {
  SQInteger fslot = top - nargs - 1;
  if (StartCall(fslot, nargs, true)) Execute(frames.size() - 1);
  if (state == SQ_VMSTATE_SUSPENDED) {
    result = suspendValue;
    return;
  }
  result = std::move(stack[size_t(fslot)]);
  SetTop(fslot);
}

constexpr const SQChar* kSuspendThroughNative = u"cannot suspend through native calls/metamethods";
// Parameter counts in this text include `this`.
constexpr const SQChar* kWrongParameterCount = u"wrong number of parameters (%d passed, %d required)";

bool CheckParams(VM* v, NativeClosure* nc, SQInteger base, SQInteger nargs) {
  SQInteger n = nc->nparamscheck;
  if ((n > 0 && nargs != n) || (n < 0 && nargs < -n)) v->Error(u"wrong number of parameters");
  size_t checks = std::min(nc->typecheck.size(), size_t(nargs));
  for (size_t i = 0; i < checks; ++i) {
    SQInteger mask = nc->typecheck[i];
    const Value& arg = v->stack[size_t(base) + i];
    if (mask != -1 && !(mask & SQInteger(_RAW_TYPE(unsigned(arg.type))))) {
      std::u16string expected;
      for (int bit = 0; bit < 18; ++bit) {
        if (mask & (1 << bit)) {
          if (!expected.empty()) expected += u"|";
          expected += TypeName(SQObjectType(1 << bit));
        }
      }
      v->Error(u"parameter %d has an invalid type '%s' ; expected: '%s'", int(i), TypeName(arg.type),
               expected.c_str());
    }
  }
  return true;
}

// CheckParams' verdict without its message: the common case of a native call, kept inline.
[[gnu::always_inline]] static inline bool ParamsPass(const VM* v, const NativeClosure* nc, SQInteger base,
                                                     SQInteger nargs) {
  SQInteger n = nc->nparamscheck;
  if ((n > 0 && nargs != n) || (n < 0 && nargs < -n)) return false;
  const SQInteger* masks = nc->typecheck.data();
  size_t checks = std::min(nc->typecheck.size(), size_t(nargs));
  const Value* args = v->stack.data() + base;
  for (size_t i = 0; i < checks; ++i)
    if (masks[i] != -1 && !(masks[i] & SQInteger(_RAW_TYPE(unsigned(args[i].type))))) return false;
  return true;
}

// Whether a constructor or metamethod frame is running: neither can be suspended, wherever it was called
// from (they would nest an execution loop if they were not frames of the calling one).
static bool InUnsuspendable(VM* v) {
  for (size_t i = 0; i < v->frames.size(); ++i)
    if (v->frames[i].constructor || v->frames[i].meta) return true;
  return false;
}

void VM::CallNative(NativeClosure* nc, SQInteger fslot, SQInteger nargs) {
  if (ss->nativeDepth + 1 > kMaxNativeDepth) [[unlikely]]
    Error(u"Native stack overflow");
  SQInteger base = fslot + 1;
  if (!ParamsPass(this, nc, base, nargs)) [[unlikely]]
    CheckParams(this, nc, base, nargs);
  // Calls from the loop and the API leave exactly the arguments above the function slot.
  if (top != base + nargs) [[unlikely]]
    SetTop(base + nargs);
  if (!nc->env.IsNull()) stack[size_t(base)] = WeakRefValue(nc->env);
  Reserve(20);  // a native may push this much without asking
  if (!nc->outers.empty()) [[unlikely]] {
    Reserve(SQInteger(nc->outers.size()) + 20);
    for (const Value& o : nc->outers) Push(o);
  }
  Frame& f = frames.emplace_back();
  f.callee = Value(nc);
  f.native = true;
  f.base = base;
  f.fslot = fslot;
  SQInteger savedBase = stackBase;
  stackBase = base;
  SQInteger ret;
  try {
    DepthGuard guard(ss->nativeDepth);
    ret = nc->fn(this);
  } catch (...) {
    // Only our own natives can throw (out of memory): leave the frame as if they had failed.
    stackBase = savedBase;
    frames.pop_back();
    throw;
  }
  stackBase = savedBase;
  frames.pop_back();
  if (ret == kSuspendFlag) [[unlikely]] {
    if (executeDepth > 1 || frames.empty() || InUnsuspendable(this)) Error(kSuspendThroughNative);
    Value sv = suspendValue;
    SetTop(fslot);
    Push(Value());
    suspendTarget = fslot;
    suspendValue = sv;
    state = SQ_VMSTATE_SUSPENDED;
    return;
  }
  if (ret < 0) [[unlikely]]
    throw ScriptThrow{};
  // The result takes the function's slot and the slots above it are dropped. A native that returns a value
  // after dropping its arguments and `this` returns the function itself, the value left on top.
  if (ret == 0) {
    stack[size_t(fslot)].SetNull();
  } else if (top > fslot + 1) {
    stack[size_t(fslot)] = std::move(stack[size_t(top - 1)]);
  }
  // No variable of the caller lives above its function slot, so no captured one is left to close.
  if (top > fslot + 1)
    DropTo(fslot + 1);
  else
    SetTop(fslot + 1);
}

bool VM::StartCall(SQInteger fslot, SQInteger nargs, bool entry) {
  Value callee = stack[size_t(fslot)];
  switch (callee.type) {
    case OT_CLOSURE: {
      Closure* c = callee.closure();
      const sq::CompiledFunction* p = c->fp()->code.get();
      SQInteger base = fslot + 1;
      SQInteger nparams = SQInteger(p->nparams);
      if (nargs < nparams) {
        SQInteger ndef = SQInteger(p->ndefaults);
        if (nargs < nparams - ndef) Error(kWrongParameterCount, int(nargs), int(nparams - ndef));
        for (SQInteger i = nargs; i < nparams; ++i) Push(c->defaults[size_t(i - (nparams - ndef))]);
      } else if (nargs > nparams && !p->varargs) {
        Error(kWrongParameterCount, int(nargs), int(nparams));
      }
      if (p->varargs) {
        Array* va = new Array(ss, 0);
        Value vargv(va);
        for (SQInteger i = base + nparams; i < top; ++i) va->items.push_back(stack[size_t(i)]);
        SetTop(base + nparams);
        Push(std::move(vargv));
      }
      if (!c->env.IsNull()) stack[size_t(base)] = WeakRefValue(c->env);
      if (frames.size() * sizeof(Frame) + stack.size() * sizeof(Value) > kMaxCallStackBytes) [[unlikely]]
        Error(u"stack overflow");
      Reserve(SQInteger(p->stackSize) + 8);
      if (p->generator) {
        Generator* g = new Generator(ss, callee);
        Value gv(g);
        for (SQInteger i = base; i < top; ++i) g->stack.push_back(stack[size_t(i)]);
        // A suspended generator keeps its environment object only weakly.
        g->stack[0] = NewWeakRef(ss, g->stack[0]);
        SetTop(fslot);
        Push(std::move(gv));
        return false;
      }
      Frame& f = frames.emplace_back();
      f.callee = std::move(callee);
      f.closure = c;
      f.proto = c->fp();
      f.code = p;
      f.base = base;
      f.fslot = fslot;
      f.entry = entry;
      return true;
    }
    case OT_NATIVECLOSURE: CallNative(callee.nclosure(), fslot, nargs); return false;
    case OT_CLASS: {
      Class* c = callee.cls();
      Value inst = CreateInstanceRaw(c);
      const Value& ctor = c->constructor;
      // A script constructor runs as a frame of the calling loop (no nested execution loop); its return
      // gives the instance. One with a bound environment would not see the instance as `this`.
      if (ctor.type == OT_CLOSURE && ctor.closure()->env.IsNull() && !ctor.closure()->fp()->code->generator) {
        stack[size_t(fslot)] = ctor;
        stack[size_t(fslot + 1)] = std::move(inst);
        StartCall(fslot, nargs, entry);
        frames.back().constructor = true;
        return true;
      }
      if (!c->constructor.IsNull()) {
        stack[size_t(fslot)] = c->constructor;
        stack[size_t(fslot + 1)] = inst;
        Value ignored;
        DepthGuard guard(ss->nativeDepth);
        if (ss->nativeDepth > kMaxNativeDepth) Error(u"Native stack overflow");
        Call(nargs, ignored);
        if (state == SQ_VMSTATE_SUSPENDED) Error(kSuspendThroughNative);
      } else {
        SetTop(fslot);
      }
      SetTop(fslot);
      Push(std::move(inst));
      return false;
    }
    case OT_TABLE:
    case OT_INSTANCE:
    case OT_USERDATA: {
      Value mm;
      if (GetMeta(callee, MT_CALL, mm)) {
        Push(Value());
        for (SQInteger i = top - 1; i > fslot + 1; --i) stack[size_t(i)] = std::move(stack[size_t(i - 1)]);
        stack[size_t(fslot + 1)] = callee;
        stack[size_t(fslot)] = mm;
        return StartCall(fslot, nargs + 1, entry);
      }
      break;
    }
    default: break;
  }
  Error(u"attempt to call '%s'", TypeName(callee.type));
}

Value VM::Resume(Generator* g) {
  if (g->state == Generator::Dead) Error(u"resuming dead generator");
  if (g->state == Generator::Running) Error(u"resuming active generator");
  Value keep(g);
  SQInteger fslot = top;
  Push(Value());
  SQInteger base = top;
  Closure* c = g->closure.closure();
  const sq::CompiledFunction* p = c->fp()->code.get();
  Reserve(SQInteger(g->stack.size()) + SQInteger(p->stackSize) + 8);
  // The saved slots stay behind as nulls: the next yield refills them without reallocating.
  for (Value& v : g->stack) stack[size_t(top++)] = std::move(v);
  if (stack[size_t(base)].type == OT_WEAKREF) stack[size_t(base)] = WeakRefValue(stack[size_t(base)]);
  Frame& f = frames.emplace_back();
  f.callee = g->closure;
  f.closure = c;
  f.proto = c->fp();
  f.code = p;
  f.base = base;
  f.fslot = fslot;
  f.entry = true;
  f.generator = g;
  f.pc = g->pc;
  for (const Trap& t : g->traps) traps.push_back({frames.size() - 1, base + t.height, t.target});
  g->traps.clear();
  g->state = Generator::Running;
  try {
    Execute(frames.size() - 1);
  } catch (ScriptThrow&) {
    g->state = Generator::Dead;
    g->stack.clear();
    throw;
  }
  Value r = std::move(stack[size_t(fslot)]);
  SetTop(fslot);
  return r;
}

void VM::ReportError() {
  errorReported = true;
  if (errorHandler.type != OT_CLOSURE && errorHandler.type != OT_NATIVECLOSURE) return;
  Value err = lastError;
  Value handler = errorHandler;
  SQInteger savedTop = top;
  {
    RaiseFlagScope quiet(this, false);
    try {
      CallValue(handler, roottable, 1, &err);
    } catch (ScriptThrow&) {
    } catch (const std::exception&) {
      // A handler that runs out of memory (as it may while reporting exactly that) leaves the
      // error to the caller as it was; nothing may escape into the host.
    }
  }
  SetTop(savedTop);
  lastError = err;
  errorReported = true;
}

void VM::DebugHook(int type, Frame& f, int32_t line) {
  if (inHook) return;
  // While the hook runs the loop sees no hook at all: one flag to test per instruction instead of two.
  inHook = true;
  hooked = false;
  const SQChar* src = f.proto->sourceName.type == OT_STRING ? f.proto->sourceName.str()->chars() : u"unknown";
  const SQChar* name = f.proto->name.type == OT_STRING ? f.proto->name.str()->chars() : u"unknown";
  try {
    if (nativeDebugHook) {
      nativeDebugHook(this, type, src, line, name);
    } else if (!debugHook.IsNull()) {
      Value args[4] = {Value::Integer(type), ss->Str(src), Value::Integer(line), ss->Str(name)};
      Value hook = debugHook;
      CallValue(hook, roottable, 4, args);
    }
  } catch (...) {
    inHook = false;
    UpdateHooked();
    throw;
  }
  inHook = false;
  UpdateHooked();
}

bool VM::StackInfo(SQInteger level, SQStackInfos* si) {
  if (level < 0 || size_t(level) >= frames.size()) return false;
  const Frame& f = frames[frames.size() - 1 - size_t(level)];
  if (f.native) {
    NativeClosure* nc = f.callee.nclosure();
    si->funcname = nc->name.type == OT_STRING ? nc->name.str()->chars() : u"unknown";
    si->source = u"NATIVE";
    si->line = -1;
  } else {
    // A function expression carries the compiler's placeholder name; it has no name of its own.
    bool named = f.proto->name.type == OT_STRING && f.code->name != u"unnamed";
    si->funcname = named ? f.proto->name.str()->chars() : u"unknown";
    si->source = f.proto->sourceName.type == OT_STRING ? f.proto->sourceName.str()->chars() : u"unknown";
    si->line = f.code->LineOf(f.pc > 0 ? f.pc - 1 : 0);
  }
  return true;
}

}  // namespace bsq
