// CHANGE: FuncProto now lives in namespace bsq, derives from Object (OT_FUNCPROTO) and keeps its constants
//         and nested prototypes as Values, as value.h describes; opcodes moved to namespace bsq too.
//
// Compiled function prototype: what the compiler hands to the VM. Immutable once compiled; it holds no
// container references (constants are scalars and strings, nested entries are prototypes), so it is not
// tracked for cycle collection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opcodes.h"
#include "value.h"

namespace bsq {

// Where a closure takes one of its outer cells from when OP_CLOSURE creates it.
struct OuterInfo {
    std::u16string name;     // the captured variable's name (debugging)
    bool fromLocal = true;   // true: stack slot `index` of the frame executing OP_CLOSURE;
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

struct FuncProto : Object {
    FuncProto() : Object(OT_FUNCPROTO) {}

    std::u16string name;                  // function name; "main" for a compiled script, "unnamed" for
                                          // function expressions and lambdas
    std::u16string sourceName;            // the sourcename given to the compiler
    std::vector<Instruction> code;
    std::vector<Value> constants;         // null, bool, integer, float or string; 1 and 1.0 are distinct
    std::vector<Value> functions;         // nested prototypes (OT_FUNCPROTO), indexed by OP_CLOSURE a
    std::vector<OuterInfo> outers;
    std::vector<LocalInfo> locals;        // every local ever declared, parameters included (debug info)
    std::vector<LineInfo> lines;          // always filled: one entry each time the source line changes
    std::vector<std::u16string> paramNames;   // paramNames[0] == "this"; size() == nparams
    uint32_t nparams = 1;                 // declared parameters including `this`
    uint32_t ndefaults = 0;               // the last ndefaults declared parameters have default values
                                          // (provided by OP_CLOSURE, stored in the closure)
    bool varargs = false;                 // `...`: extra arguments go into the array `vargv` at slot
                                          // nparams
    bool generator = false;               // contains yield: calling it creates a suspended generator
    uint32_t stackSize = 1;               // maximum stack height relative to base (slots)
    int32_t firstLine = 0;                // line of the function keyword (or 1 for a script)

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

}  // namespace bsq
