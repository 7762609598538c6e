// Fused instructions: short runs of the compiler's stack instructions that the VM rewrites, when it wraps
// a prototype, into one instruction doing the work of the whole run (local op constant, local op local,
// compare and branch, store and pop, increment and pop).
//
// The rewrite keeps every instruction in its place: only the first instruction of a run is replaced, the
// rest stay as they were and are skipped. So jump offsets, trap targets, line information and member
// caches keep their meaning, and when a fused instruction meets operands it has no fast path for (not two
// integers, a division by zero) the loop executes the run's original first instruction instead and goes
// on instruction by instruction. A run never spans a jump target nor two source lines.
//
// Errors: none of their own (the fast paths cannot fail). No locking: a VM runs on one thread at a time.
#pragma once

#include <climits>
#include <vector>

#include "funcproto.h"
#include "runtime.h"

namespace bsq {

enum FusedOp : uint8_t {
  // LOADLOCAL a; LOADINT k; <cmp>; JMPF|JMPT  -> branch on (local a <cmp> k); b = <cmp>, c = 1 for JMPT
  XOP_LOCAL_INT_CMPJ = sq::OP_COUNT,
  XOP_CMPJ,               // <cmp>; JMPF|JMPT        -> pop two, branch; b = <cmp>, c = 1 for JMPT
  XOP_STOREPOP,           // STORELOCAL a; POP 1     -> local a = popped top
  XOP_INCPOP,             // INCLOCAL a (c = delta); POP 1 -> local a += delta
  // JMP back to an XOP_LOCAL_INT_CMPJ: runs that test and branch from there (a loop's back edge)
  XOP_JMP_CMPJ,
  XOP_ARITH_FIRST         // then one opcode per ArithForm and arithmetic operator: ArithFusedOp()
};

// The runs ending in an arithmetic operator <arith> (ADD .. USHR), b = <arith>. Each form has one opcode
// per operator, so that the operator is known where the fused instruction is run.
enum ArithForm : uint8_t {
  FORM_LOCAL_INT,          // LOADLOCAL a; LOADINT k; <arith>   -> push local a <arith> k
  FORM_LOCAL_LOCAL,        // LOADLOCAL a; LOADLOCAL c; <arith> -> push local a <arith> local c
  FORM_INT,                // LOADINT k; <arith>      -> top = top <arith> k
  FORM_LOCAL,              // LOADLOCAL a; <arith>    -> top = top <arith> local a
  FORM_LOCAL_INT_STORE,    // LOADLOCAL a; LOADINT k; <arith>; STORELOCAL d; POP 1 -> local d = local a <arith> k
  FORM_LOCAL_LOCAL_STORE,  // LOADLOCAL a; LOADLOCAL c; <arith>; STORELOCAL d; POP 1
  FORM_INT_STORE,          // LOADINT k; <arith>; STORELOCAL d; POP 1 -> local d = popped top <arith> k
  FORM_STORE,              // <arith>; STORELOCAL a; POP 1  -> local a = x <arith> y, both popped
  kArithForms
};
constexpr int kArithOps = sq::OP_USHR - sq::OP_ADD + 1;
constexpr uint8_t ArithFusedOp(int form, uint8_t arith) {
  return uint8_t(XOP_ARITH_FIRST + form * kArithOps + (arith - sq::OP_ADD));
}
constexpr unsigned kFusedOpLimit = XOP_ARITH_FIRST + kArithForms * kArithOps;  // one past the last opcode
static_assert(kFusedOpLimit <= 256, "fused opcodes fit in a byte");

// How many original instructions the fused instruction `op` covers (1 for an instruction left as it was).
size_t FusedLength(uint8_t op);

// The code the execution loop runs for `p`: p.code with the first instruction of each fusible run replaced.
std::vector<sq::Instruction> FuseInstructions(const sq::CompiledFunction& p);

// `x op y` for two integers and the arithmetic operators (wrapping at 32 bits); false where the general
// path decides (division or remainder by zero, the one overflowing quotient).
[[gnu::always_inline]] inline bool IntArith(uint8_t op, SQInteger sx, SQInteger sy, SQInteger& r) {
  uint32_t ux = uint32_t(sx), uy = uint32_t(sy);
  switch (op) {
    case sq::OP_ADD: r = SQInteger(ux + uy); return true;
    case sq::OP_SUB: r = SQInteger(ux - uy); return true;
    case sq::OP_MUL: r = SQInteger(ux * uy); return true;
    case sq::OP_DIV:
      if (sy == 0 || (sx == INT_MIN && sy == -1)) return false;
      r = sx / sy;
      return true;
    case sq::OP_MOD:
      if (sy == 0) return false;
      r = sy == -1 ? 0 : sx % sy;
      return true;
    case sq::OP_BAND: r = sx & sy; return true;
    case sq::OP_BOR: r = sx | sy; return true;
    case sq::OP_BXOR: r = sx ^ sy; return true;
    case sq::OP_SHL: r = SQInteger(ux << (uy & 31)); return true;
    case sq::OP_SHR: r = sx >> (uy & 31); return true;
    case sq::OP_USHR: r = SQInteger(ux >> (uy & 31)); return true;
    default: return false;
  }
}

// `x cmp y` for two integers and the operators LT, LE, GT, GE, EQ and NE.
[[gnu::always_inline]] inline bool IntCompare(uint8_t op, SQInteger x, SQInteger y) {
  switch (op) {
    case sq::OP_LT: return x < y;
    case sq::OP_LE: return x <= y;
    case sq::OP_GT: return x > y;
    case sq::OP_GE: return x >= y;
    case sq::OP_EQ: return x == y;
    default: return x != y;
  }
}

// Each Run* below runs the fused instruction `ins`, fetched from code[f->pc - 1]; false when its operands
// need the general path (nothing has changed then).
#define BSQ_FUSED_ARGS VM *v, Frame *f, const sq::Instruction *code, SQInteger base, const sq::Instruction &ins
#define BSQ_FUSED_UNUSED (void)v, (void)f, (void)code, (void)base, (void)ins

[[gnu::always_inline]] inline bool RunLocalIntCmpJ(BSQ_FUSED_ARGS) {
  const Value& x = v->stack[size_t(base + ins.a)];
  if (x.type != OT_INTEGER) return false;
  uint32_t next = f->pc + 3;  // past LOADINT, the comparison and the jump
  if (IntCompare(ins.b, x.v.nInteger, code[f->pc].a) == (ins.c != 0)) next += uint32_t(code[f->pc + 2].a);
  f->pc = next;
  return true;
}

// Pushes `x <arith> y` where y is the integer constant of the LOADINT after ins, or local c.
template <bool kConstant, uint8_t kOp>
[[gnu::always_inline]] inline bool RunLocalArith(BSQ_FUSED_ARGS) {
  auto& stack = v->stack;
  SQInteger top = v->top;
  const Value& x = stack[size_t(base + ins.a)];
  if (x.type != OT_INTEGER || top >= v->stackCap) return false;
  SQInteger y, r;
  if constexpr (kConstant) {
    y = code[f->pc].a;
  } else {
    const Value& l = stack[size_t(base + ins.c)];
    if (l.type != OT_INTEGER) return false;
    y = l.v.nInteger;
  }
  if (!IntArith(kOp, x.v.nInteger, y, r)) return false;
  stack[size_t(top)] = Value::Integer(r);
  v->top = top + 1;
  f->pc += 2;
  return true;
}

// top = top <arith> y, y the instruction's integer a or local a.
template <bool kConstant, uint8_t kOp>
[[gnu::always_inline]] inline bool RunTopArith(BSQ_FUSED_ARGS) {
  BSQ_FUSED_UNUSED;
  Value& x = v->stack[size_t(v->top - 1)];
  SQInteger y, r;
  if constexpr (kConstant) {
    y = ins.a;
  } else {
    const Value& l = v->stack[size_t(base + ins.a)];
    if (l.type != OT_INTEGER) return false;
    y = l.v.nInteger;
  }
  if (x.type != OT_INTEGER || !IntArith(kOp, x.v.nInteger, y, r)) return false;
  x.v.nInteger = r;
  f->pc += 1;
  return true;
}

[[gnu::always_inline]] inline bool RunCmpJ(BSQ_FUSED_ARGS) {
  BSQ_FUSED_UNUSED;
  SQInteger top = v->top;
  const Value& x = v->stack[size_t(top - 2)];
  const Value& y = v->stack[size_t(top - 1)];
  if (x.type != OT_INTEGER || y.type != OT_INTEGER) return false;
  bool t = IntCompare(ins.b, x.v.nInteger, y.v.nInteger);
  // Integers hold no references: dropping them needs no release.
  v->top = top - 2;
  uint32_t next = f->pc + 1;
  if (t == (ins.c != 0)) next += uint32_t(code[f->pc].a);
  f->pc = next;
  return true;
}

[[gnu::always_inline]] inline bool RunStorePop(BSQ_FUSED_ARGS) {
  BSQ_FUSED_UNUSED;
  SQInteger top = v->top;
  SQInteger dst = base + ins.a;
  if (dst == top - 1) return false;
  if (v->openOuters && v->openOuters->slot >= top - 1) v->CloseOuters(top - 1);
  v->stack[size_t(dst)] = std::move(v->stack[size_t(top - 1)]);
  v->top = top - 1;
  f->pc += 1;
  return true;
}

[[gnu::always_inline]] inline bool RunIncPop(BSQ_FUSED_ARGS) {
  BSQ_FUSED_UNUSED;
  Value& slot = v->stack[size_t(base + ins.a)];
  if (slot.type != OT_INTEGER) return false;
  slot.v.nInteger = SQInteger(uint32_t(slot.v.nInteger) + uint32_t(int32_t(int16_t(ins.c))));
  f->pc += 1;
  return true;
}

// local d = local a <arith> y, y the integer constant of the LOADINT after ins or local c.
template <bool kConstant, uint8_t kOp>
[[gnu::always_inline]] inline bool RunLocalArithStore(BSQ_FUSED_ARGS) {
  auto& stack = v->stack;
  const Value& x = stack[size_t(base + ins.a)];
  if (x.type != OT_INTEGER) return false;
  SQInteger y, r;
  if constexpr (kConstant) {
    y = code[f->pc].a;
  } else {
    const Value& l = stack[size_t(base + ins.c)];
    if (l.type != OT_INTEGER) return false;
    y = l.v.nInteger;
  }
  if (!IntArith(kOp, x.v.nInteger, y, r)) return false;
  // Nothing is pushed, so no variable can have captured the temporary the original run pops.
  stack[size_t(base + code[f->pc + 2].a)] = Value::Integer(r);
  f->pc += 4;
  return true;
}

// local d = x <arith> y: y is the constant (kConstant) or the top; x the value below it.
template <bool kConstant, uint8_t kOp>
[[gnu::always_inline]] inline bool RunArithStore(BSQ_FUSED_ARGS) {
  auto& stack = v->stack;
  SQInteger top = v->top;
  SQInteger nt = kConstant ? top - 1 : top - 2;  // the height after the run
  const Value& x = stack[size_t(nt)];
  SQInteger y, r;
  SQInteger dst = base + (kConstant ? code[f->pc + 1].a : code[f->pc].a);
  if constexpr (kConstant) {
    y = ins.a;
  } else {
    const Value& l = stack[size_t(top - 1)];
    if (l.type != OT_INTEGER) return false;
    y = l.v.nInteger;
  }
  if (x.type != OT_INTEGER || dst >= nt || !IntArith(kOp, x.v.nInteger, y, r)) return false;
  if (v->openOuters && v->openOuters->slot >= nt) v->CloseOuters(nt);
  // The popped operands are integers: they hold no references.
  stack[size_t(dst)] = Value::Integer(r);
  v->top = nt;
  f->pc += kConstant ? 3 : 2;
  return true;
}

// The back edge of a loop whose condition is a fused local-constant comparison: the test runs here. With a
// debug hook set the jump is taken plainly, so the hook sees the condition's line.
[[gnu::always_inline]] inline bool RunJmpCmpJ(BSQ_FUSED_ARGS) {
  BSQ_FUSED_UNUSED;
  uint32_t t = f->pc + uint32_t(ins.a);
  const sq::Instruction& cond = code[t];
  const Value& x = v->stack[size_t(base + cond.a)];
  if (x.type != OT_INTEGER || v->hooked) return false;
  uint32_t next = t + 4;
  if (IntCompare(cond.b, x.v.nInteger, code[t + 1].a) == (cond.c != 0)) next += uint32_t(code[t + 3].a);
  f->pc = next;
  return true;
}

// The fused instruction of form kForm and operator kOp.
template <int kForm, uint8_t kOp>
[[gnu::always_inline]] inline bool RunArith(BSQ_FUSED_ARGS) {
  if constexpr (kForm == FORM_LOCAL_INT) return RunLocalArith<true, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_LOCAL_LOCAL) return RunLocalArith<false, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_INT) return RunTopArith<true, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_LOCAL) return RunTopArith<false, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_LOCAL_INT_STORE) return RunLocalArithStore<true, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_LOCAL_LOCAL_STORE) return RunLocalArithStore<false, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_INT_STORE) return RunArithStore<true, kOp>(v, f, code, base, ins);
  if constexpr (kForm == FORM_STORE) return RunArithStore<false, kOp>(v, f, code, base, ins);
}

#undef BSQ_FUSED_ARGS
#undef BSQ_FUSED_UNUSED

}  // namespace bsq
