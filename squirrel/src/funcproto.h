// Compiled function prototype: what the compiler hands to the VM.
//
// A prototype is plain data with no tie to a VM: constants are kept in a neutral form and the VM turns
// them into its own values (interning the strings) once, when it wraps the prototype into its
// function-prototype object. Nested prototypes are shared, immutable after compilation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opcodes.h"

namespace sq {

// A constant of the constant pool. Integers and floats are distinct constants (1 and 1.0 never merge).
struct Constant {
  enum Kind : uint8_t { Null, Bool, Integer, Float, String };
  Kind kind = Null;
  int32_t i = 0;     // Bool (0/1) and Integer
  float f = 0.0f;    // Float
  std::u16string s;  // String

  static Constant MakeNull() { return Constant{}; }
  static Constant MakeBool(bool v) {
    Constant c;
    c.kind = Bool;
    c.i = v ? 1 : 0;
    return c;
  }
  static Constant MakeInt(int32_t v) {
    Constant c;
    c.kind = Integer;
    c.i = v;
    return c;
  }
  static Constant MakeFloat(float v) {
    Constant c;
    c.kind = Float;
    c.f = v;
    return c;
  }
  static Constant MakeString(std::u16string v) {
    Constant c;
    c.kind = String;
    c.s = std::move(v);
    return c;
  }
};

// Where a closure takes one of its outer cells from when OP_CLOSURE creates it.
struct OuterInfo {
  std::u16string name;    // the captured variable's name (debugging)
  bool fromLocal = true;  // true: stack slot `index` of the frame executing OP_CLOSURE;
                          // false: outer cell `index` of the closure executing OP_CLOSURE
  uint32_t index = 0;
};

// A local variable's name and the instructions during which it is live: [startPc, endPc).
struct LocalInfo {
  std::u16string name;
  uint32_t slot = 0;
  uint32_t startPc = 0;
  uint32_t endPc = 0;
};

// The first instruction at or after `pc` belongs to source line `line` (entries ordered by pc; the line of
// an instruction is the line of the last entry whose pc is <= the instruction's index).
struct LineInfo {
  uint32_t pc = 0;
  int32_t line = 0;
};

struct CompiledFunction {
  std::u16string name;        // function name; "main" for a compiled script, "unnamed" for
                              // function expressions and lambdas
  std::u16string sourceName;  // the sourcename given to the compiler
  std::vector<Instruction> code;
  std::vector<Constant> constants;
  std::vector<std::shared_ptr<CompiledFunction>> functions;  // nested prototypes (OP_CLOSURE a)
  std::vector<OuterInfo> outers;
  std::vector<LocalInfo> locals;           // every local ever declared, parameters included (debug info)
  std::vector<LineInfo> lines;             // always filled: one entry each time the source line changes
  std::vector<std::u16string> paramNames;  // paramNames[0] == "this"; size() == nparams
  uint32_t nparams = 1;                    // declared parameters including `this`
  uint32_t ndefaults = 0;                  // the last ndefaults declared parameters have default values
                                           // (provided by OP_CLOSURE, stored in the closure)
  bool varargs = false;                    // `...`: extra arguments go into the array `vargv` at slot
                                           // nparams
  bool generator = false;                  // contains yield: calling it creates a suspended generator
  uint32_t stackSize = 1;                  // maximum stack height relative to base (slots)
  int32_t firstLine = 0;                   // line of the function keyword (or 1 for a script)

  // Line of the instruction at `pc` (0 when there is no line info).
  int32_t LineOf(uint32_t pc) const {
    int32_t line = 0;
    for (const LineInfo& li : lines) {
      if (li.pc > pc) break;
      line = li.line;
    }
    return line;
  }
};

}  // namespace sq
