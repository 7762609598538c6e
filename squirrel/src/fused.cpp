// The rewrite of a prototype's code into the code the execution loop runs, with fused instructions.
#include "fused.h"

namespace bsq {

namespace {

using sq::Instruction;

bool IsArith(uint8_t op) { return op >= sq::OP_ADD && op <= sq::OP_USHR; }
bool IsCompare(uint8_t op) { return op >= sq::OP_EQ && op <= sq::OP_GE; }
bool IsCondJump(uint8_t op) { return op == sq::OP_JMPF || op == sq::OP_JMPT; }

// Whether the instruction at `i` jumps (its target is i + 1 + a).
bool Jumps(uint8_t op) {
  switch (op) {
    case sq::OP_JMP:
    case sq::OP_JMPF:
    case sq::OP_JMPT:
    case sq::OP_ANDJ:
    case sq::OP_ORJ:
    case sq::OP_PUSHTRAP:
    case sq::OP_FOREACH: return true;
    default: return false;
  }
}

}  // namespace

size_t FusedLength(uint8_t op) {
  switch (op) {
    case XOP_LOCAL_INT_CMPJ: return 4;
    case XOP_CMPJ:
    case XOP_STOREPOP:
    case XOP_INCPOP: return 2;
    default: break;
  }
  if (op < XOP_ARITH_FIRST || op >= XOP_ARITH_FIRST + kArithForms * kArithOps) return 1;
  static constexpr size_t kLength[kArithForms] = {3, 3, 2, 2, 5, 5, 4, 3};
  return kLength[(op - XOP_ARITH_FIRST) / kArithOps];
}

std::vector<Instruction> FuseInstructions(const sq::CompiledFunction& p) {
  std::vector<Instruction> out = p.code;
  const size_t n = out.size();
  std::vector<bool> target(n + 1, false);
  for (size_t i = 0; i < n; ++i) {
    if (!Jumps(out[i].op)) continue;
    int64_t t = int64_t(i) + 1 + out[i].a;
    if (t >= 0 && t <= int64_t(n)) target[size_t(t)] = true;
  }
  std::vector<int32_t> line(n);
  size_t li = 0;
  int32_t current = 0;
  for (size_t i = 0; i < n; ++i) {
    while (li < p.lines.size() && p.lines[li].pc <= i) current = p.lines[li++].line;
    line[i] = current;
  }
  // Whether the `len` instructions from `i` may run as one.
  auto runnable = [&](size_t i, size_t len) {
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if (target[i + k] || line[i + k] != line[i]) return false;
    return true;
  };
  auto op = [&](size_t i) { return i < n ? out[i].op : uint8_t(sq::OP_COUNT); };

  for (size_t i = 0; i < n;) {
    Instruction& ins = out[i];
    size_t len = 1;
    // STORELOCAL d; POP 1 at i + k.
    auto storePop = [&](size_t k) {
      return op(i + k) == sq::OP_STORELOCAL && op(i + k + 1) == sq::OP_POP && out[i + k + 1].a == 1;
    };
    if (ins.op == sq::OP_LOADLOCAL) {
      if (op(i + 1) == sq::OP_LOADINT && IsArith(op(i + 2)) && storePop(3) && runnable(i, 5)) {
        ins.b = op(i + 2);
        ins.op = ArithFusedOp(FORM_LOCAL_INT_STORE, ins.b);
        len = 5;
      } else if (op(i + 1) == sq::OP_LOADLOCAL && out[i + 1].a >= 0 && out[i + 1].a <= UINT16_MAX &&
                 IsArith(op(i + 2)) && storePop(3) && runnable(i, 5)) {
        ins.c = uint16_t(out[i + 1].a);
        ins.b = op(i + 2);
        ins.op = ArithFusedOp(FORM_LOCAL_LOCAL_STORE, ins.b);
        len = 5;
      } else if (op(i + 1) == sq::OP_LOADINT && IsCompare(op(i + 2)) && IsCondJump(op(i + 3)) && runnable(i, 4)) {
        ins.c = op(i + 3) == sq::OP_JMPT ? 1 : 0;
        ins.b = op(i + 2);
        ins.op = XOP_LOCAL_INT_CMPJ;
        len = 4;
      } else if (op(i + 1) == sq::OP_LOADINT && IsArith(op(i + 2)) && runnable(i, 3)) {
        ins.b = op(i + 2);
        ins.op = ArithFusedOp(FORM_LOCAL_INT, ins.b);
        len = 3;
      } else if (op(i + 1) == sq::OP_LOADLOCAL && out[i + 1].a >= 0 && out[i + 1].a <= UINT16_MAX &&
                 IsArith(op(i + 2)) && runnable(i, 3)) {
        ins.c = uint16_t(out[i + 1].a);
        ins.b = op(i + 2);
        ins.op = ArithFusedOp(FORM_LOCAL_LOCAL, ins.b);
        len = 3;
      } else if (IsArith(op(i + 1)) && runnable(i, 2)) {
        ins.b = op(i + 1);
        ins.op = ArithFusedOp(FORM_LOCAL, ins.b);
        len = 2;
      }
    } else if (ins.op == sq::OP_LOADINT && IsArith(op(i + 1)) && storePop(2) && runnable(i, 4)) {
      ins.b = op(i + 1);
      ins.op = ArithFusedOp(FORM_INT_STORE, ins.b);
      len = 4;
    } else if (IsArith(ins.op) && storePop(1) && runnable(i, 3)) {
      ins.b = ins.op;
      ins.a = out[i + 1].a;
      ins.op = ArithFusedOp(FORM_STORE, ins.b);
      len = 3;
    } else if (ins.op == sq::OP_JMP && ins.a < 0 && int64_t(i) + 1 + ins.a >= 0 &&
               out[size_t(int64_t(i) + 1 + ins.a)].op == XOP_LOCAL_INT_CMPJ) {
      ins.op = XOP_JMP_CMPJ;
    } else if (ins.op == sq::OP_LOADINT && IsArith(op(i + 1)) && runnable(i, 2)) {
      ins.b = op(i + 1);
      ins.op = ArithFusedOp(FORM_INT, ins.b);
      len = 2;
    } else if (IsCompare(ins.op) && IsCondJump(op(i + 1)) && runnable(i, 2)) {
      ins.c = op(i + 1) == sq::OP_JMPT ? 1 : 0;
      ins.b = ins.op;
      ins.op = XOP_CMPJ;
      len = 2;
    } else if (ins.op == sq::OP_STORELOCAL && op(i + 1) == sq::OP_POP && out[i + 1].a == 1 && runnable(i, 2)) {
      ins.op = XOP_STOREPOP;
      len = 2;
    } else if (ins.op == sq::OP_INCLOCAL && op(i + 1) == sq::OP_POP && out[i + 1].a == 1 && runnable(i, 2)) {
      ins.op = XOP_INCPOP;
      len = 2;
    }
    i += len;
  }
  return out;
}

}  // namespace bsq
