// The virtual machine's thread object and its execution loop. Script-to-script calls, script constructors and
// script arithmetic metamethods push frames inside one loop; only natives, other metamethods, native
// constructors and generator resumptions nest on the C stack.
//
// Sections:
//   VM object       the thread's stack, its growth and height, open outers
//   execution loop  Execute (errors and traps), the member and built-in method caches the loop calls out of
//                   line, RunLoop (one case per opcode), ForEachStep
#include <bit>
#include <new>
#include <stdexcept>

#include "fused.h"
#include "runtime.h"
#include "vm_support.h"

namespace bsq {

using sq::Instruction;

// ---- VM object ------------------------------------------------------------------------------------

VM::VM(SharedState* s, SQInteger stackSize) : Object(OT_THREAD), ss(s) {
  stack.resize(size_t(std::max<SQInteger>(stackSize, 64)));
  stackCap = SQInteger(stack.size());
  Track(s);
}

VM::~VM() {
  CloseOuters(0);
  ClearRefs();
  if (releaseHook) releaseHook(foreignPtr, 0);
}

void VM::ClearRefs() {
  CloseOuters(0);
  frames.clear();
  traps.clear();
  std::vector<Value>().swap(stack);
  stackCap = 0;
  top = 0;
  stackBase = 0;
  lastError.SetNull();
  errorHandler.SetNull();
  debugHook.SetNull();
  hooked = false;
  roottable.SetNull();
  suspendValue.SetNull();
}

void VM::VisitRefs(RefVisitor fn, void* ctx) {
  for (SQInteger i = 0; i < top; ++i)
    if (stack[size_t(i)].IsRefCounted()) fn(stack[size_t(i)].obj(), ctx);
  for (size_t i = 0; i < frames.size(); ++i)
    if (frames[i].callee.IsRefCounted()) fn(frames[i].callee.obj(), ctx);
  for (const Value* v : {&lastError, &errorHandler, &debugHook, &roottable, &suspendValue})
    if (v->IsRefCounted()) fn(v->obj(), ctx);
  for (Outer* o = openOuters; o; o = o->nextOpen) fn(o, ctx);
}

void VM::Grow(SQInteger needed) {
  size_t n = std::max(size_t(needed), stack.size() * 2);
  stack.resize(n);
  stackCap = SQInteger(stack.size());
}

void VM::CloseOuters(SQInteger fromSlot) {
  while (openOuters && openOuters->slot >= fromSlot) {
    Outer* o = openOuters;
    openOuters = o->nextOpen;
    o->closed = stack[size_t(o->slot)];
    o->slot = -1;
    o->nextOpen = nullptr;
    o->Release();
  }
}

static Outer* CaptureSlot(VM* v, SQInteger slot) {
  Outer** link = &v->openOuters;
  while (*link && (*link)->slot > slot) link = &(*link)->nextOpen;
  if (*link && (*link)->slot == slot) return *link;
  Outer* o = new Outer(v->ss);
  o->owner = v;
  o->slot = slot;
  o->nextOpen = *link;
  o->AddRef();  // held by the open list
  *link = o;
  return o;
}

// The loop's reads that must find something; kept here so that the loop inlines it.
void VM::GetOrThrow(const Value& self, const Value& key, Value& out) {
  if (!Get(self, key, out)) ErrorIndex(key);
}

// ---- execution loop -------------------------------------------------------------------------------

namespace {

Value RootOf(VM* v, Closure* c) {
  if (c && !c->root.IsNull()) {
    Value r = WeakRefValue(c->root);
    if (!r.IsNull()) return r;
  }
  return v->roottable;
}

}  // namespace

[[gnu::always_inline]] static inline void PopFrame(VM* v) {
  Frame& f = v->frames.back();
  if (v->openOuters && v->openOuters->slot >= f.base) v->CloseOuters(f.base);
  while (!v->traps.empty() && v->traps.back().frame >= v->frames.size() - 1) v->traps.pop_back();
  if (f.generator) {
    f.generator->state = Generator::Dead;
    f.generator->stack.clear();
  }
  v->frames.pop_back();
}

static void RunLoop(VM* v, size_t entry);

// Assignment to an identifier that is neither local nor outer: an existing slot of `this` or its
// _set metamethod; false when `this` has no such slot (the root table is tried next).
static bool EnvSet(VM* v, const Value& self, const Value& key, const Value& val) {
  Value h;
  switch (self.type) {
    case OT_TABLE:
      if (self.table()->SetExisting(key, val)) return true;
      for (Table* d = self.table()->delegate; d; d = d->delegate)
        if (d->SetExisting(key, val)) return true;
      break;
    case OT_INSTANCE: {
      Instance* inst = self.instance();
      if (inst->cls && inst->cls->members->Get(key, h) && (h.v.nInteger & kMemberField)) {
        inst->fields[size_t(MemberIndex(h.v.nInteger))] = val;
        return true;
      }
      break;
    }
    case OT_CLASS:
      if (!self.cls()->members->Get(key, h)) return false;
      v->Set(self, key, val);
      return true;
    case OT_USERDATA: break;
    default: return false;
  }
  // A null thrown by _set means "no such slot": the root table is tried next.
  Value mm, ignored;
  Value args[2] = {key, val};
  return v->GetMeta(self, MT_SET, mm) && v->CallQuietMeta(mm, self, 2, args, ignored);
}

void VM::Execute(size_t entry) {
  if (ss->nativeDepth + 1 > kMaxNativeDepth) {
    while (frames.size() > entry) PopFrame(this);
    Error(u"Native stack overflow");
  }
  DepthGuard nd(ss->nativeDepth);
  DepthGuard ed(executeDepth);
  for (;;) {
    try {
      try {
        RunLoop(this, entry);
        return;
      } catch (const std::bad_alloc&) {
        lastError = ss->Str(u"not enough memory");
        errorReported = false;
        throw ScriptThrow{};
      } catch (const std::length_error&) {
        // A script asking for more memory than there is gets a catchable error, not a crash.
        lastError = ss->Str(u"not enough memory");
        errorReported = false;
        throw ScriptThrow{};
      }
    } catch (ScriptThrow&) {
      // Reported when no trap inside the innermost host call will catch it: a try further out, in
      // the script that called the native which made that call, does not hide it.
      bool trappedInCall = !traps.empty() && traps.back().frame >= raiseBoundary;
      if (!errorReported && raiseError && (!trappedInCall || ss->notifyAll)) ReportError();
      if (!traps.empty() && traps.back().frame >= entry && traps.back().frame < frames.size()) {
        Trap t = traps.back();
        traps.pop_back();
        while (frames.size() - 1 > t.frame) PopFrame(this);
        SetTop(t.height);
        Push(lastError);
        frames.back().pc = t.target;
        continue;
      }
      SQInteger fslot = entry < frames.size() ? frames[entry].fslot : top;
      while (frames.size() > entry) PopFrame(this);
      if (fslot <= top) SetTop(fslot);
      throw;
    }
  }
}

static void ForEachStep(VM* v, Frame& f, const Instruction& ins);

// The member handle of `key` in the instance's class, through the instruction's cache; false when the
// class has no such member (the general lookup then decides).
// Out of line, so that the execution loop keeps its registers for the common instructions.
[[gnu::noinline]] static bool MemberHandle(MemberCache& mc, const Instance* inst, const Value& key,
                                           SQInteger& handle) {
  const Class* c = inst->cls;
  if (!c) return false;
  if (mc.classSerial != inst->classSerial || (mc.handle < 0 && mc.handle != ~c->members->count)) [[unlikely]] {
    Value h;
    mc.classSerial = c->serial;
    mc.handle = c->members->Get(key, h) ? h.v.nInteger : ~c->members->count;
  }
  handle = mc.handle;
  return handle > 0;
}

// Reads a member of an instance through the cache of the instruction at pc; false when not a member.
[[gnu::noinline]] static bool CachedMemberGet(FuncProto* fp, uint32_t pc, const Instance* inst, const Value& key,
                                              Value& out) {
  SQInteger h;
  if (!MemberHandle(fp->memberCache[pc], inst, key, h)) return false;
  out = (h & kMemberField) ? inst->fields[size_t(MemberIndex(h))] : inst->cls->methods[size_t(MemberIndex(h))].val;
  ResolveWeak(out);
  return true;
}

// The cached forms of GETENV, SETENV, GETK and PREPCALLK on an instance; false leaves the work to the
// general path. Out of line, like the helpers above.
// GETENV with an instance as `this`: its member, else what an index of the instance finds after its
// members (_get, then the default delegate), else the slot of the closure's root table. The member lookup
// is not repeated for a key that the cache knows to be no member.
[[gnu::noinline]] static void GetEnvInstance(VM* v, Frame* f, const Value& key) {
  const Instance* inst = v->stack[size_t(f->base)].instance();
  // A global named inside a method (a class, a function): no member, no _get, no built-in method of that
  // name, and a plain slot of the root table, read in place without taking the root table's reference.
  SQInteger h;
  if (!MemberHandle(f->proto->memberCache[f->pc - 1], inst, key, h) && inst->cls &&
      inst->cls->metamethods[MT_GET].IsNull()) {
    const Value& dd = v->ss->defaultDelegates[RawTypeIndex(OT_INSTANCE)];
    const Closure* c = f->closure;
    const Value& root = c && !c->root.IsNull() ? c->root : v->roottable;
    const Table* rt = root.type == OT_TABLE ? root.table()
                      : root.type == OT_WEAKREF && root.weakref()->targetType == OT_TABLE
                          ? static_cast<Table*>(root.weakref()->target)
                          : nullptr;
    if (rt && (dd.type != OT_TABLE || !dd.table()->Find(key))) {
      if (const Table::Node* n = rt->Find(key); n && n->val.type != OT_WEAKREF) {
        v->Push(n->val);
        return;
      }
    }
  }
  Value self = v->stack[size_t(f->base)];
  Value out;
  if (!CachedMemberGet(f->proto, f->pc - 1, self.instance(), key, out)) {
    Value mm;
    if ((!v->GetMeta(self, MT_GET, mm) || !v->CallQuietMeta(mm, self, 1, &key, out)) &&
        !DefaultDelegateGet(v, self, key, out)) {
      Value root = RootOf(v, f->closure);
      if (!v->Get(root, key, out)) v->ErrorIndex(key);
    }
  }
  v->Push(std::move(out));
}

[[gnu::noinline]] static bool SetEnvCached(VM* v, Frame* f, const Value& key) {
  Instance* inst = v->stack[size_t(f->base)].instance();
  SQInteger h;
  if (!MemberHandle(f->proto->memberCache[f->pc - 1], inst, key, h) || !(h & kMemberField)) return false;
  inst->fields[size_t(MemberIndex(h))] = v->stack[size_t(v->top - 1)];
  return true;
}

[[gnu::noinline]] static bool GetKCached(VM* v, Frame* f, const Value& key) {
  Value& slot = v->stack[size_t(v->top - 1)];
  Value out;
  if (!CachedMemberGet(f->proto, f->pc - 1, slot.instance(), key, out)) return false;
  slot = std::move(out);
  return true;
}

[[gnu::noinline]] static bool PrepCallKCached(VM* v, Frame* f, const Value& key) {
  Value& slot = v->stack[size_t(v->top - 1)];
  Value out;
  if (!CachedMemberGet(f->proto, f->pc - 1, slot.instance(), key, out)) return false;
  Value obj = std::move(slot);
  slot = std::move(out);
  v->Push(std::move(obj));
  return true;
}

// A method call on a value whose only members are its type's built-in methods (numbers, arrays, strings,
// functions, threads, generators...): the lookup goes straight to the type's default delegate, through the
// instruction's cache of the node that held the name last time. A node that still holds the same
// interned name is that name's slot, wherever the table has been changed since; no other check is needed.
// False leaves the work (and the error) to the general path.
[[gnu::noinline]] static bool PrepCallKBuiltin(VM* v, Frame* f, const Value& key) {
  Value& slot = v->stack[size_t(v->top - 1)];
  switch (slot.type) {
    case OT_TABLE:
    case OT_USERDATA:
    case OT_INSTANCE:
    case OT_CLASS:
      return false;
    default:
      break;
  }
  if (key.type != OT_STRING) return false;
  const Value& dd = v->ss->defaultDelegates[RawTypeIndex(slot.type)];
  if (dd.type != OT_TABLE) return false;
  const Table* t = dd.table();
  MemberCache& mc = f->proto->memberCache[f->pc - 1];
  uint32_t node = uint32_t(mc.handle - 1);
  const Table::Node* n = nullptr;
  if (mc.classSerial == 0 && node < t->capacity && t->nodes[node].key.type == OT_STRING &&
      t->nodes[node].key.str() == key.str()) [[likely]] {
    n = &t->nodes[node];
  } else {
    n = t->Find(key);
    if (!n) return false;
    mc.classSerial = 0;  // no instance's class carries serial 0, so the instance path misses
    mc.handle = SQInteger(n - t->nodes) + 1;
  }
  Value method = n->val;
  Value obj = std::move(slot);
  slot = std::move(method);
  v->Push(std::move(obj));
  return true;
}

// The hit path of an instruction's member cache, inline in the loop: the member of the instance that the
// instruction found last time on an instance of the same class, or null (a miss, or a weak reference that
// the general path resolves).
[[gnu::always_inline]] static inline const Value* CachedMember(const MemberCache& mc, const Instance* inst) {
  if (mc.classSerial != inst->classSerial || mc.handle < 0) return nullptr;
  SQInteger h = mc.handle;
  const Value* m =
      (h & kMemberField) ? &inst->fields[size_t(MemberIndex(h))] : &inst->cls->methods[size_t(MemberIndex(h))].val;
  return m->type == OT_WEAKREF ? nullptr : m;
}

// An arithmetic operator whose left operand's metamethod is a script function: the call becomes a frame of
// the running loop instead of a nested one. [.. a b] turns into [.. mm a b] with the result landing where a
// was, as the operator's own result does. False when the general path (Arith) must decide: numbers, string
// concatenation, native or missing metamethods.
[[gnu::noinline]] static bool StartArithMeta(VM* v, int op) {
  const Value& a = v->stack[size_t(v->top - 2)];
  const Value& b = v->stack[size_t(v->top - 1)];
  if (a.type != OT_INSTANCE && a.type != OT_TABLE && a.type != OT_USERDATA) return false;
  if (op == sq::OP_ADD && b.type == OT_STRING) return false;  // concatenation comes before _add
  Meta m;
  switch (op) {
    case sq::OP_ADD: m = MT_ADD; break;
    case sq::OP_SUB: m = MT_SUB; break;
    case sq::OP_MUL: m = MT_MUL; break;
    case sq::OP_DIV: m = MT_DIV; break;
    case sq::OP_MOD: m = MT_MODULO; break;
    default: return false;
  }
  Value mm;
  if (!v->GetMeta(a, m, mm) || mm.type != OT_CLOSURE) return false;
  SQInteger fslot = v->top - 2;
  v->Push(Value());
  v->stack[size_t(fslot + 2)] = std::move(v->stack[size_t(fslot + 1)]);
  v->stack[size_t(fslot + 1)] = std::move(v->stack[size_t(fslot)]);
  v->stack[size_t(fslot)] = std::move(mm);
  if (v->StartCall(fslot, 2, false)) v->frames.back().meta = true;
  return true;
}

// Collects unreachable cycles when enough containers were made since the last collection. Only from the
// outermost execution loop: no native is then half-way through building an object it holds uncounted.
static void AutoCollect(VM* v) {
  SharedState* ss = v->ss;
  if (ss->nativeDepth == 1 && !ss->closing) CollectCycles(ss, nullptr);
  ss->gcThreshold = std::max(kMinAutoCollect, ss->gcCount * 2);
}

static void RunLoop(VM* v, size_t entry) {
  Frame* f = &v->frames.back();
  const Instruction* code = f->proto->exec.data();
  Value* consts = f->proto->constants.data();
  SQInteger base = f->base;
  auto& stack = v->stack;
#define REFRESH()                                 \
  do {                                            \
    f = &v->frames.back();                        \
    code = f->proto->exec.data();                 \
    consts = f->proto->constants.data();          \
    base = f->base;                               \
  } while (0)
#define TOP(i) stack[size_t(v->top - (i))]
  if (v->pendingThrow) {
    v->pendingThrow = false;
    Value e = v->lastError;
    v->Throw(e);
  }
  for (;;) {
    if (v->hooked) [[unlikely]] {  // false while the hook itself runs
      int32_t line = f->code->LineOf(f->pc);
      if (f->pc == 0 && f->hookLine < 0) v->DebugHook('c', *f, line);
      if (line != f->hookLine) {
        f->hookLine = line;
        v->DebugHook('l', *f, line);
      }
      if (code[f->pc].op == sq::OP_RETURN) v->DebugHook('r', *f, line);
    }
    const Instruction* ip = &code[f->pc++];
  dispatch:
    const Instruction& ins = *ip;
    // Every byte the loop runs is an opcode or a fused opcode: the compiler writes them, a loaded image is
    // refused when it holds any other (serialize.cpp), and fusing adds only its own. Telling the compiler
    // so drops the jump table's range check from every instruction.
    if (ins.op >= kFusedOpLimit) __builtin_unreachable();
    switch (ins.op) {
      case sq::OP_LOADNULL: v->Push(Value()); break;
      case sq::OP_LOADBOOL: v->Push(Value::Bool(ins.a != 0)); break;
      case sq::OP_LOADINT: v->Push(Value::Integer(ins.a)); break;
      case sq::OP_LOADFLOAT: v->Push(Value::Float(std::bit_cast<float>(ins.a))); break;
      case sq::OP_LOADK: v->Push(consts[ins.a]); break;
      case sq::OP_LOADROOT: v->Push(RootOf(v, f->closure)); break;
      case sq::OP_LOADCONSTS: v->Push(v->ss->consttable); break;
      case sq::OP_LOADLOCAL:
        if (v->top < v->stackCap) [[likely]] {
          stack[size_t(v->top)] = stack[size_t(base + ins.a)];
          v->top++;
        } else {
          Value t = stack[size_t(base + ins.a)];
          v->Push(std::move(t));
        }
        break;
      case sq::OP_STORELOCAL: stack[size_t(base + ins.a)] = TOP(1); break;
      case sq::OP_LOADOUTER: {
        Value t = f->closure->outers[size_t(ins.a)].outer()->Ref();
        v->Push(std::move(t));
        break;
      }
      case sq::OP_STOREOUTER: f->closure->outers[size_t(ins.a)].outer()->Ref() = TOP(1); break;
      case sq::OP_LOADBASE: {
        Value b = f->closure->ownerBase;
        v->Push(std::move(b));
        break;
      }
      case sq::OP_GETENV: {
        const Value& key = consts[ins.a];
        if (stack[size_t(base)].type == OT_INSTANCE) {
          if (const Value* m = CachedMember(f->proto->memberCache[f->pc - 1], stack[size_t(base)].instance())) {
            v->Push(*m);
            break;
          }
          GetEnvInstance(v, f, key);
          break;
        }
        // A slot of a table `this` (the root table for plain function calls), as VM::Get finds it first.
        if (stack[size_t(base)].type == OT_TABLE && v->top < v->stackCap) {
          Value& dst = stack[size_t(v->top)];
          if (stack[size_t(base)].table()->Get(key, dst)) {
            ResolveWeak(dst);
            v->top++;
            break;
          }
        }
        Value self = stack[size_t(base)];
        Value out;
        bool found = false;
        // Like any index of `this` (default delegates included), then the closure's root table.
        if (self.type == OT_TABLE || self.type == OT_INSTANCE || self.type == OT_CLASS || self.type == OT_USERDATA)
          found = v->Get(self, key, out);
        if (!found) {
          Value root = RootOf(v, f->closure);
          if (!v->Get(root, key, out)) v->ErrorIndex(key);
        }
        v->Push(std::move(out));
        break;
      }
      case sq::OP_SETENV: {
        if (stack[size_t(base)].type == OT_INSTANCE) {
          Instance* inst = stack[size_t(base)].instance();
          const MemberCache& mc = f->proto->memberCache[f->pc - 1];
          if (mc.classSerial == inst->classSerial && (mc.handle & kMemberField)) {
            inst->fields[size_t(MemberIndex(mc.handle))] = TOP(1);
            break;
          }
          if (SetEnvCached(v, f, consts[ins.a])) break;
        }
        Value self = stack[size_t(base)];
        const Value& key = consts[ins.a];
        Value val = TOP(1);
        if (!EnvSet(v, self, key, val)) v->Set(RootOf(v, f->closure), key, val);
        break;
      }
      case sq::OP_GET: {
        // A slot of a table or an element of an array found at once; anything else takes the general path.
        const Value& obj = TOP(2);
        const Value* found = nullptr;
        if (obj.type == OT_TABLE) {
          if (const Table::Node* n = obj.table()->Find(TOP(1))) found = &n->val;
        } else if (obj.type == OT_ARRAY && TOP(1).type == OT_INTEGER) {
          const std::vector<Value>& items = obj.array()->items;
          if (size_t(TOP(1).v.nInteger) < items.size()) found = &items[size_t(TOP(1).v.nInteger)];
        }
        if (found && found->type != OT_WEAKREF) {
          Value r = *found;  // holds its own reference before the container's slot lets go
          TOP(2) = std::move(r);
          v->Pop();
          break;
        }
        Value out;
        v->GetOrThrow(TOP(2), TOP(1), out);
        TOP(2) = std::move(out);
        v->Pop();
        break;
      }
      case sq::OP_GETK: {
        if (TOP(1).type == OT_INSTANCE) {
          if (const Value* m = CachedMember(f->proto->memberCache[f->pc - 1], TOP(1).instance())) {
            TOP(1) = *m;  // takes its reference before the slot lets go of the instance that holds *m
            break;
          }
          if (GetKCached(v, f, consts[ins.a])) break;
        }
        Value out;
        v->GetOrThrow(TOP(1), consts[ins.a], out);
        TOP(1) = std::move(out);
        break;
      }
      case sq::OP_SET: {
        Value obj = TOP(3), key = TOP(2), val = TOP(1);
        v->Set(obj, key, val);
        TOP(3) = std::move(val);
        v->Pop(2);
        break;
      }
      case sq::OP_NEWSLOT: {
        Value obj = TOP(3), key = TOP(2), val = TOP(1);
        v->NewSlot(obj, key, val, false);
        TOP(3) = std::move(val);
        v->Pop(2);
        break;
      }
      case sq::OP_DELETE: {
        Value obj = TOP(2), key = TOP(1);
        Value r = v->Delete(obj, key);
        TOP(2) = std::move(r);
        v->Pop();
        break;
      }
      case sq::OP_PREPCALL: {
        Value obj = TOP(2), out;
        v->GetOrThrow(obj, TOP(1), out);
        TOP(2) = std::move(out);
        TOP(1) = std::move(obj);
        break;
      }
      case sq::OP_PREPCALLK: {
        if (TOP(1).type == OT_INSTANCE) {
          if (const Value* m = CachedMember(f->proto->memberCache[f->pc - 1], TOP(1).instance())) {
            Value& slot = TOP(1);
            Value obj = std::move(slot);
            slot = *m;
            v->Push(std::move(obj));
            break;
          }
          if (PrepCallKCached(v, f, consts[ins.a])) break;
        }
        if (PrepCallKBuiltin(v, f, consts[ins.a])) break;
        Value obj = TOP(1), out;
        v->GetOrThrow(obj, consts[ins.a], out);
        TOP(1) = std::move(out);
        v->Push(std::move(obj));
        break;
      }
      case sq::OP_CALL: {
        SQInteger fslot = v->top - ins.a - 1;
        // A native straight away: its frame holds its own reference, so the slot needs no copy.
        if (stack[size_t(fslot)].type == OT_NATIVECLOSURE) {
          v->CallNative(stack[size_t(fslot)].nclosure(), fslot, ins.a);
          if (v->state == SQ_VMSTATE_SUSPENDED) [[unlikely]] {
            v->suspendEntry = entry;
            return;
          }
          break;
        }
        // `return f(...)` into a script function: the finished caller frame is dropped first, so
        // tail recursion and tail-calling state machines run in constant stack.
        if (code[f->pc].op == sq::OP_RETURN && !f->generator && !f->constructor && !f->meta && !v->hooked &&
            stack[size_t(fslot)].type == OT_CLOSURE && !stack[size_t(fslot)].closure()->fp()->code->generator &&
            (v->traps.empty() || v->traps.back().frame < v->frames.size() - 1)) {
          SQInteger dst = f->fslot;
          bool isEntry = f->entry;
          v->CloseOuters(base);
          for (SQInteger i = 0; i <= SQInteger(ins.a); ++i) stack[size_t(dst + i)] = std::move(stack[size_t(fslot + i)]);
          PopFrame(v);
          v->SetTop(dst + ins.a + 1);
          v->StartCall(dst, ins.a, isEntry);
          REFRESH();
          break;
        }
        if (v->StartCall(fslot, ins.a, false)) {
          REFRESH();
        } else if (v->state == SQ_VMSTATE_SUSPENDED) {
          v->suspendEntry = entry;
          return;
        }
        break;
      }
      case sq::OP_RETURN: {
        Value r = f->constructor ? stack[size_t(base)] : std::move(TOP(1));
        bool isEntry = f->entry;
        SQInteger fslot = f->fslot;
        PopFrame(v);
        stack[size_t(fslot)] = std::move(r);
        v->DropTo(fslot + 1);  // PopFrame closed the outers from the frame's base, fslot + 1, up
        if (isEntry) return;
        REFRESH();
        break;
      }
      case sq::OP_YIELD: {
        Generator* g = f->generator;
        if (!g) v->Error(u"cannot yield outside a generator");
        Value r = std::move(TOP(1));
        v->Pop();
        // A closure made before the yield keeps the value its variable had here; the generator's later
        // changes to the variable are its own.
        if (v->openOuters && v->openOuters->slot >= base) v->CloseOuters(base);
        // The frame's slots move into the generator: the loop below drops them anyway.
        size_t nslots = size_t(v->top - base);
        g->stack.resize(nslots);  // keeps its capacity from the last yield: no allocation after the first
        for (size_t i = 0; i < nslots; ++i) g->stack[i] = std::move(stack[size_t(base) + i]);
        g->stack[0] = NewWeakRef(v->ss, g->stack[0]);
        g->pc = f->pc;
        g->traps.clear();
        size_t fi = v->frames.size() - 1;
        while (!v->traps.empty() && v->traps.back().frame >= fi) {
          Trap t = v->traps.back();
          v->traps.pop_back();
          g->traps.insert(g->traps.begin(), {0, t.height - base, t.target});
        }
        g->state = Generator::Suspended;
        SQInteger fslot = f->fslot;
        f->generator = nullptr;
        v->frames.pop_back();
        stack[size_t(fslot)] = std::move(r);
        // The frame's slots were moved out (null now) and its outers closed: nothing is left to close or drop.
        v->top = fslot + 1;
        return;
      }
      case sq::OP_ADD:
      case sq::OP_SUB:
      case sq::OP_MUL:
      case sq::OP_DIV:
      case sq::OP_MOD:
      case sq::OP_BAND:
      case sq::OP_BOR:
      case sq::OP_BXOR:
      case sq::OP_SHL:
      case sq::OP_SHR:
      case sq::OP_USHR: {
        Value& x = TOP(2);
        const Value& y = TOP(1);
        SQInteger ir;
        // Integer fast path; division and remainder by zero or overflow take the general path.
        if (x.type == OT_INTEGER && y.type == OT_INTEGER && IntArith(ins.op, x.v.nInteger, y.v.nInteger, ir)) {
          x.v.nInteger = ir;
          v->top--;
          break;
        }
        if (_RAW_TYPE(unsigned(x.type)) & (_RT_INSTANCE | _RT_TABLE | _RT_USERDATA)) [[unlikely]] {
          if (StartArithMeta(v, ins.op)) {
            REFRESH();
            break;
          }
        }
        Value a = TOP(2), b = TOP(1);
        Value r = v->Arith(ins.op, a, b);
        TOP(2) = std::move(r);
        v->Pop();
        break;
      }
      case sq::OP_EQ:
      case sq::OP_NE: {
        bool eq = VM::Equal(TOP(2), TOP(1));
        TOP(2) = Value::Bool(ins.op == sq::OP_EQ ? eq : !eq);
        v->Pop();
        break;
      }
      case sq::OP_LT:
      case sq::OP_LE:
      case sq::OP_GT:
      case sq::OP_GE:
      case sq::OP_CMP3: {
        SQInteger c;
        if (TOP(2).type == OT_INTEGER && TOP(1).type == OT_INTEGER) {
          SQInteger x = TOP(2).v.nInteger, y = TOP(1).v.nInteger;
          c = x < y ? -1 : (x > y ? 1 : 0);
        } else {
          Value a = TOP(2), b = TOP(1);
          c = v->Compare(a, b);
        }
        Value r;
        switch (ins.op) {
          case sq::OP_LT: r = Value::Bool(c < 0); break;
          case sq::OP_LE: r = Value::Bool(c <= 0); break;
          case sq::OP_GT: r = Value::Bool(c > 0); break;
          case sq::OP_GE: r = Value::Bool(c >= 0); break;
          default: r = Value::Integer(c); break;
        }
        TOP(2) = std::move(r);
        v->Pop();
        break;
      }
      case sq::OP_IN: {
        Value key = TOP(2), obj = TOP(1);
        bool has = v->Has(obj, key);
        TOP(2) = Value::Bool(has);
        v->Pop();
        break;
      }
      case sq::OP_INSTANCEOF: {
        Value obj = TOP(2), cls = TOP(1);
        if (cls.type != OT_CLASS)
          v->Error(u"cannot apply instanceof between a %s and a %s", TypeName(cls.type), TypeName(obj.type));
        bool r = obj.type == OT_INSTANCE && obj.instance()->InstanceOf(cls.cls());
        TOP(2) = Value::Bool(r);
        v->Pop();
        break;
      }
      case sq::OP_NEG:
      case sq::OP_BNOT: {
        Value a = TOP(1);
        TOP(1) = v->Unary(ins.op, a);
        break;
      }
      case sq::OP_NOT: TOP(1) = Value::Bool(!TOP(1).Truthy()); break;
      case sq::OP_TYPEOF: {
        Value a = TOP(1);
        TOP(1) = v->TypeOf(a);
        break;
      }
      case sq::OP_CLONE: {
        Value a = TOP(1);
        TOP(1) = v->Clone(a);
        break;
      }
      case sq::OP_RESUME: {
        Value g = TOP(1);
        if (g.type != OT_GENERATOR) v->Error(u"trying to resume a '%s',only genenerator can be resumed", TypeName(g.type));
        Value r = v->Resume(g.generator());
        TOP(1) = std::move(r);
        break;
      }
      case sq::OP_POP: {
        SQInteger nt = v->top - ins.a;
        if (v->openOuters && v->openOuters->slot >= nt) v->CloseOuters(nt);
        while (v->top > nt) stack[size_t(--v->top)].SetNull();
        break;
      }
      case sq::OP_DUP: {
        Value t = TOP(1);
        v->Push(std::move(t));
        break;
      }
      case sq::OP_DUP2: {
        Value a = TOP(2), b = TOP(1);
        v->Push(std::move(a));
        v->Push(std::move(b));
        break;
      }
      case sq::OP_JMP: f->pc += uint32_t(ins.a); break;
      case sq::OP_JMPF: {
        bool t = TOP(1).Truthy();
        v->Pop();
        if (!t) f->pc += uint32_t(ins.a);
        break;
      }
      case sq::OP_JMPT: {
        bool t = TOP(1).Truthy();
        v->Pop();
        if (t) f->pc += uint32_t(ins.a);
        break;
      }
      case sq::OP_ANDJ:
        if (!TOP(1).Truthy()) f->pc += uint32_t(ins.a);
        else v->Pop();
        break;
      case sq::OP_ORJ:
        if (TOP(1).Truthy()) f->pc += uint32_t(ins.a);
        else v->Pop();
        break;
      case sq::OP_INCLOCAL: {
        Value& slot = stack[size_t(base + ins.a)];
        if (slot.type == OT_INTEGER && v->top < v->stackCap) [[likely]] {
          SQInteger before = slot.v.nInteger;
          slot.v.nInteger = SQInteger(uint32_t(before) + uint32_t(int32_t(int16_t(ins.c))));
          stack[size_t(v->top++)] = Value::Integer(ins.b ? before : slot.v.nInteger);
          break;
        }
        Value old = stack[size_t(base + ins.a)];
        Value nv = v->Arith(sq::OP_ADD, old, Value::Integer(int16_t(ins.c)));
        stack[size_t(base + ins.a)] = nv;
        v->Push(ins.b ? std::move(old) : std::move(nv));
        break;
      }
      case sq::OP_INCINDEX: {
        Value obj = TOP(2), key = TOP(1), old;
        v->GetOrThrow(obj, key, old);
        Value nv = v->Arith(sq::OP_ADD, old, Value::Integer(int16_t(ins.c)));
        v->Set(obj, key, nv);
        TOP(2) = ins.b ? std::move(old) : std::move(nv);
        v->Pop();
        break;
      }
      case sq::OP_NEWTABLE:
        // Placed in a pool block here rather than through the class's out-of-line operator new:
        // scripts making garbage run this instruction most.
        v->Push(Value(new (PoolAlloc(sizeof(Table))) Table(v->ss, ins.a)));
        if (v->ss->gcCount >= v->ss->gcThreshold) [[unlikely]] AutoCollect(v);
        break;
      case sq::OP_NEWARRAY: {
        Array* a = new (PoolAlloc(sizeof(Array))) Array(v->ss, 0);
        a->items.reserve(size_t(std::max(ins.a, 0)));
        v->Push(Value(a));
        if (v->ss->gcCount >= v->ss->gcThreshold) [[unlikely]] AutoCollect(v);
        break;
      }
      case sq::OP_APPEND: {
        TOP(2).array()->items.push_back(TOP(1));
        v->Pop();
        break;
      }
      case sq::OP_TABLESLOT: {
        if (TOP(2).IsNull()) v->Error(u"null cannot be used as index");
        Value obj = TOP(3);
        if (obj.type == OT_TABLE) obj.table()->NewSlot(TOP(2), TOP(1));
        else v->NewSlot(obj, TOP(2), TOP(1), false);
        v->Pop(2);
        break;
      }
      case sq::OP_CLASS: {
        Value attrs, baseCls;
        if (ins.b & 2) {
          attrs = TOP(1);
          v->Pop();
        }
        if (ins.b & 1) {
          baseCls = TOP(1);
          v->Pop();
          if (baseCls.type != OT_CLASS) v->Error(u"trying to inherit from a %s", TypeName(baseCls.type));
        }
        Value c = v->NewClass(baseCls.type == OT_CLASS ? baseCls.cls() : nullptr, attrs);
        v->Push(std::move(c));
        break;
      }
      case sq::OP_NEWMEMBER: {
        Value attrs;
        if (ins.b & 1) {
          attrs = TOP(1);
          v->Pop();
        }
        Value cls = TOP(3), key = TOP(2), val = TOP(1);
        v->Pop(2);
        if (cls.type != OT_CLASS) v->Error(u"trying to add a member to a %s", TypeName(cls.type));
        v->AddMember(cls.cls(), key, val, attrs, (ins.b & 2) != 0, false);
        break;
      }
      case sq::OP_CLOSURE: {
        FuncProto* fp = f->proto;
        Value& pv = fp->functions[size_t(ins.a)];
        if (pv.IsNull()) pv = WrapProto(v->ss, fp->code->functions[size_t(ins.a)]);
        const sq::CompiledFunction* np = pv.proto()->code.get();
        Closure* c = Closure::Make(v->ss, pv, np->outers.size());
        Value cv(c);
        Value env;
        if (ins.b == 1) {
          env = TOP(1);
          v->Pop();
        }
        size_t nd = np->ndefaults;
        c->defaults.resize(nd);
        for (size_t i = 0; i < nd; ++i) c->defaults[i] = stack[size_t(v->top) - nd + i];
        v->Pop(SQInteger(nd));
        for (size_t i = 0; i < np->outers.size(); ++i) {
          const sq::OuterInfo& oi = np->outers[i];
          if (oi.fromLocal) c->outers[i] = Value(CaptureSlot(v, base + SQInteger(oi.index)));
          else c->outers[i] = f->closure->outers[oi.index];
        }
        if (!env.IsNull()) c->env = NewWeakRef(v->ss, env);
        if (v->roottable.type == OT_TABLE) c->root = NewWeakRef(v->ss, v->roottable);
        v->Push(std::move(cv));
        if (v->ss->gcCount >= v->ss->gcThreshold) [[unlikely]] AutoCollect(v);
        break;
      }
      case sq::OP_PUSHTRAP: v->traps.push_back({v->frames.size() - 1, v->top, f->pc + uint32_t(ins.a)}); break;
      case sq::OP_POPTRAP:
        for (int32_t i = 0; i < ins.a; ++i) v->traps.pop_back();
        break;
      case sq::OP_THROW: {
        Value e = TOP(1);
        v->Throw(e);
      }
      case sq::OP_FOREACH: ForEachStep(v, *f, ins); break;
// Operands without a fast path: the original instructions run one by one.
#define FUSED(OP, RUN)                            \
  case OP:                                        \
    if (RUN(v, f, code, base, ins)) break;        \
    ip = &f->code->code[f->pc - 1];               \
    goto dispatch;
      FUSED(XOP_LOCAL_INT_CMPJ, RunLocalIntCmpJ)
      FUSED(XOP_CMPJ, RunCmpJ)
      FUSED(XOP_STOREPOP, RunStorePop)
      FUSED(XOP_INCPOP, RunIncPop)
      FUSED(XOP_JMP_CMPJ, RunJmpCmpJ)
#define FUSED_ARITH_OP(FORM, OP)                                    \
  case ArithFusedOp(FORM, OP):                                      \
    if (RunArith<FORM, OP>(v, f, code, base, ins)) break;           \
    ip = &f->code->code[f->pc - 1];                                 \
    goto dispatch;
#define FUSED_ARITH(FORM)                                                                          \
  FUSED_ARITH_OP(FORM, sq::OP_ADD) FUSED_ARITH_OP(FORM, sq::OP_SUB) FUSED_ARITH_OP(FORM, sq::OP_MUL)     \
  FUSED_ARITH_OP(FORM, sq::OP_DIV) FUSED_ARITH_OP(FORM, sq::OP_MOD) FUSED_ARITH_OP(FORM, sq::OP_BAND)    \
  FUSED_ARITH_OP(FORM, sq::OP_BOR) FUSED_ARITH_OP(FORM, sq::OP_BXOR) FUSED_ARITH_OP(FORM, sq::OP_SHL)    \
  FUSED_ARITH_OP(FORM, sq::OP_SHR) FUSED_ARITH_OP(FORM, sq::OP_USHR)
      FUSED_ARITH(FORM_LOCAL_INT)
      FUSED_ARITH(FORM_LOCAL_LOCAL)
      FUSED_ARITH(FORM_INT)
      FUSED_ARITH(FORM_LOCAL)
      FUSED_ARITH(FORM_LOCAL_INT_STORE)
      FUSED_ARITH(FORM_LOCAL_LOCAL_STORE)
      FUSED_ARITH(FORM_INT_STORE)
      FUSED_ARITH(FORM_STORE)
#undef FUSED_ARITH
#undef FUSED_ARITH_OP
#undef FUSED
      default: v->Error(u"invalid instruction %d", int(ins.op));
    }
  }
#undef REFRESH
#undef TOP
}

static void ForEachStep(VM* v, Frame& f, const Instruction& ins) {
  size_t c = size_t(f.base) + ins.c;
  Value container = v->stack[c];
  Value iter = v->stack[c + 1];
  auto done = [&] { v->frames.back().pc += uint32_t(ins.a); };
  switch (container.type) {
    case OT_ARRAY: {
      SQInteger i = iter.IsNull() ? 0 : iter.v.nInteger;
      Array* a = container.array();
      if (size_t(i) >= a->items.size()) return done();
      v->stack[c + 2] = Value::Integer(i);
      v->stack[c + 3] = a->items[size_t(i)];
      ResolveWeak(v->stack[c + 3]);
      v->stack[c + 1] = Value::Integer(i + 1);
      return;
    }
    case OT_STRING: {
      SQInteger i = iter.IsNull() ? 0 : iter.v.nInteger;
      String* s = container.str();
      if (i >= s->len) return done();
      v->stack[c + 2] = Value::Integer(i);
      v->stack[c + 3] = Value::Integer(SQInteger(s->chars()[i]));
      v->stack[c + 1] = Value::Integer(i + 1);
      return;
    }
    case OT_TABLE: {
      Value key, val;
      int32_t next = container.table()->Next(iter.IsNull() ? 0 : iter.v.nInteger, key, val);
      if (next < 0) return done();
      ResolveWeak(val);
      v->stack[c + 2] = std::move(key);
      v->stack[c + 3] = std::move(val);
      v->stack[c + 1] = Value::Integer(next);
      return;
    }
    case OT_CLASS: {
      Value key, h;
      Class* cls = container.cls();
      int32_t next = cls->members->Next(iter.IsNull() ? 0 : iter.v.nInteger, key, h);
      if (next < 0) return done();
      Value val;
      cls->GetMember(key, val);
      ResolveWeak(val);
      v->stack[c + 2] = std::move(key);
      v->stack[c + 3] = std::move(val);
      v->stack[c + 1] = Value::Integer(next);
      return;
    }
    case OT_INSTANCE:
    case OT_USERDATA: {
      Value mm;
      if (v->GetMeta(container, MT_NEXTI, mm)) {
        Value key = v->CallValue(mm, container, 1, &iter);
        if (key.IsNull()) return done();
        Value val;
        v->GetOrThrow(container, key, val);
        v->stack[c + 1] = key;
        v->stack[c + 2] = std::move(key);
        v->stack[c + 3] = std::move(val);
        return;
      }
      if (container.type == OT_INSTANCE) v->Error(u"_nexti failed");
      break;
    }
    case OT_GENERATOR: {
      Generator* g = container.generator();
      if (g->state == Generator::Dead) return done();
      SQInteger i = iter.IsNull() ? 0 : iter.v.nInteger;
      Value r = v->Resume(g);
      if (g->state == Generator::Dead) return done();
      v->stack[c + 2] = Value::Integer(i);
      v->stack[c + 3] = std::move(r);
      v->stack[c + 1] = Value::Integer(i + 1);
      return;
    }
    default: break;
  }
  v->Error(u"cannot iterate %s", TypeName(container.type));
}

}  // namespace bsq
