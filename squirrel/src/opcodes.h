// Bytecode of the script compiler: instruction encoding and the exact meaning of every opcode.
//
// The machine is stack based. Each call frame owns a window of the VM stack starting at `base`:
//
//   slot 0                    this (the environment object)
//   slots 1 .. nparams-1      declared parameters, in order
//   slot nparams              vargv (an array of the extra arguments), only when the function is varargs
//   following slots           locals, in declaration order, then expression temporaries
//
// Locals and temporaries share one stack: a `local x = e` leaves the value of `e` on the stack and
// that slot becomes `x`. At every statement boundary the stack height (relative to base) equals the
// number of live locals, so the compiler always knows the absolute slot of every value it pushes.
// CompiledFunction::stackSize is the largest height the function ever reaches (parameters included).
//
// Notation below: [.. a b] -> [.. c] means: pops b (top) and a, pushes c.
// "K(n)" is CompiledFunction::constants[n]. Jump offsets are relative to the instruction that follows the
// jump (an offset of 0 jumps to the next instruction, -1 jumps to the jump itself).
//
// Free variables (outers): a closure holds one cell per CompiledFunction::outers entry. While the frame that
// declared the captured local is alive the cell refers to that stack slot (reads and writes go to the
// slot, so every closure capturing it and the frame itself see one variable). When the slot is popped
// (POP, RETURN, a trap unwinding the stack, generator death) every cell still referring to it is
// closed: it takes a copy of the value and from then on owns it. Cells are shared: two closures
// capturing the same live slot share the same cell.
#pragma once

#include <cstdint>

namespace sq {

struct Instruction {
    uint8_t op;   // an Op
    uint8_t b;    // small operand (flags), meaning per opcode, 0 when unused
    uint16_t c;   // second operand, meaning per opcode, 0 when unused
    int32_t a;    // main operand: slot, constant index, count, immediate or jump offset
};
static_assert(sizeof(Instruction) == 8, "instructions are 8 bytes");

enum Op : uint8_t {
    // ---- loads and stores ------------------------------------------------------------------------
    OP_LOADNULL,     // [..] -> [.. null]
    OP_LOADBOOL,     // [..] -> [.. (a != 0)] as a bool
    OP_LOADINT,      // [..] -> [.. integer a]
    OP_LOADFLOAT,    // [..] -> [.. float]; the float's 32 bits are the bits of a (std::bit_cast<float>(a))
    OP_LOADK,        // [..] -> [.. K(a)]
    OP_LOADROOT,     // [..] -> [.. root table of the running closure (the VM root table current when the
                     //           closure was created, or the one set by closure.setroot())]
    OP_LOADCONSTS,   // [..] -> [.. the VM's const table]
    OP_LOADLOCAL,    // [..] -> [.. stack[base + a]]
    OP_STORELOCAL,   // [.. v] -> [.. v]; stack[base + a] = v
    OP_LOADOUTER,    // [..] -> [.. value of outer cell a of the running closure]
    OP_STOREOUTER,   // [.. v] -> [.. v]; outer cell a = v
    OP_LOADBASE,     // [..] -> [.. base class of the class the running closure belongs to, or null].
                     //           A closure belongs to a class when it was stored in it as a member
                     //           (OP_NEWMEMBER, or newslot/set on the class object).

    // ---- implicit (environment) lookups: identifiers that are neither local, outer nor constant -----
    OP_GETENV,       // [..] -> [.. value]; key = K(a). Looks up key in `this` (stack[base]) with full get
                     //   semantics (delegation, _get, class members for instances); when `this` has no
                     //   such slot, looks it up in the closure's root table (with its delegate chain).
                     //   Missing in both: error "the index '<key>' does not exist".
    OP_SETENV,       // [.. v] -> [.. v]; key = K(a). If key is `in` this: this[key] = v (set semantics,
                     //   _set). Otherwise root[key] = v (set semantics: a missing key in the root table is
                     //   the error "the index '<key>' does not exist").

    // ---- indexing ------------------------------------------------------------------------------------
    OP_GET,          // [.. obj key] -> [.. obj[key]]: tables with delegates/_get, arrays (integer or float
                     //   index), strings (character code as integer), classes, instances (members, then
                     //   _get), default delegates of every type ("abc".len). Missing: error
                     //   "the index '<key>' does not exist". _get throwing null means missing.
    OP_GETK,         // [.. obj] -> [.. obj[K(a)]], same semantics as OP_GET
    OP_SET,          // [.. obj key v] -> [.. v]; obj[key] = v, the error for a missing key as OP_GET
                     //   (tables: through _set of the delegate; instances: only existing members or _set)
    OP_NEWSLOT,      // [.. obj key v] -> [.. v]; obj[key] <- v. Tables: create/overwrite (delegate
                     //   _newslot when present). Classes: add a member (after the first instance was
                     //   created: "trying to modify a class that has already been instantiated").
                     //   Instances: their class's _newslot, else "class instances do not support the new
                     //   slot operator".
                     //   A null key: "null cannot be used as index".
    OP_DELETE,       // [.. obj key] -> [.. removed value]; tables (or _delslot of the delegate), instances
                     //   through their class's _delslot ("cannot delete a slot from instance" without).
                     //   Missing key: "the index '<key>' does not exist".

    // ---- calls ---------------------------------------------------------------------------------------
    OP_PREPCALL,     // [.. obj key] -> [.. obj[key] obj]   (method lookup, `this` for the call = obj)
    OP_PREPCALLK,    // [.. obj] -> [.. obj[K(a)] obj]
    OP_CALL,         // [.. f this arg1 .. argN] -> [.. result]; a = N + 1 (argument count with this).
                     //   f may be a closure (uses its bound environment instead of `this` when bound),
                     //   a native closure, a class (creates an instance and calls its constructor with
                     //   the instance as this; result is the instance), or an object whose delegate or
                     //   class has _call. Argument count errors: "wrong number of parameters".
                     //   Calling a generator function returns a new suspended generator.
    OP_RETURN,       // [.. v] -> returns v to the caller. Closes the frame's outers and drops its traps.
                     //   In a generator the generator dies and v is the result of the resume (ignored by
                     //   foreach).
    OP_YIELD,        // [.. v] -> [..]; suspends the running generator; v is the result of the `resume`
                     //   (or the foreach value). On the next resume execution continues after YIELD
                     //   with v popped (a bare `yield` is compiled with a null pushed first).

    // ---- arithmetic and comparison: [.. x y] -> [.. x op y] ----------------------------------------
    OP_ADD,          // +   integers wrap at 32 bits; int op float -> float; string + any -> concatenation
                     //     (any + string too), instances through _tostring. Metamethods (_add ...) are
                     //     taken from the left operand only (table delegate or instance class).
    OP_SUB,          // -   (_sub)
    OP_MUL,          // *   (_mul)
    OP_DIV,          // /   integer division truncates toward zero; integer / 0 and -2147483648 / -1 raise
                     //     an error ("division by zero", "integer overflow"). (_div)
    OP_MOD,          // %   remainder truncates toward zero (sign of the dividend); % 0 raises
                     //     "modulo by zero"; floats use fmod. (_modulo)
    OP_BAND,         // &   integers only
    OP_BOR,          // |
    OP_BXOR,         // ^
    OP_SHL,          // <<  shift count taken & 31
    OP_SHR,          // >>  arithmetic
    OP_USHR,         // >>> logical (unsigned)
    OP_EQ,           // ==  -> bool; numbers compare by value (1 == 1.0), everything else by identity;
                     //     never throws
    OP_NE,           // !=  -> bool
    OP_LT,           // <   -> bool; numbers and strings among themselves, _cmp between two tables,
                     //     instances or userdata (an integer answer, else "_cmp must return an integer");
                     //     null below all; other mixes: "comparison between '<x>' and '<y>'"
    OP_LE,           // <=
    OP_GT,           // >
    OP_GE,           // >=
    OP_CMP3,         // <=> -> integer <0, 0 or >0, same rules as OP_LT
    OP_IN,           // [.. key obj] -> [.. bool] `key in obj` (delegates and class members included)
    OP_INSTANCEOF,   // [.. obj cls] -> [.. bool]; cls must be a class ("cannot apply instanceof between
                     //     a '<t>' and a '<t>'" otherwise)

    // ---- unary: [.. x] -> [.. r] ---------------------------------------------------------------------
    OP_NEG,          // -x  (_unm)
    OP_NOT,          // !x  bool; null, false, 0 and 0.0 are false, everything else ("" included) true
    OP_BNOT,         // ~x  integers only
    OP_TYPEOF,       // typeof x -> type name string (_typeof for instances/tables with delegate)
    OP_CLONE,        // clone x (tables, arrays, instances with _cloned; other values are returned as is)
    OP_RESUME,       // resume x; x must be a generator: resumes it, result = value yielded or returned.
                     //   Dead generator: "resuming dead generator"; running: "resuming active generator".

    // ---- stack -----------------------------------------------------------------------------------------
    OP_POP,          // pops a values (a >= 1); cells of outers referring to popped slots are closed
    OP_DUP,          // [.. x] -> [.. x x]
    OP_DUP2,         // [.. x y] -> [.. x y x y]

    // ---- jumps -----------------------------------------------------------------------------------------
    OP_JMP,          // pc += a
    OP_JMPF,         // [.. x] -> [..]; jump when x is false (see OP_NOT)
    OP_JMPT,         // [.. x] -> [..]; jump when x is true
    OP_ANDJ,         // [.. x]: when x is false jump, leaving x on the stack; otherwise pop x ( && )
    OP_ORJ,          // [.. x]: when x is true jump, leaving x on the stack; otherwise pop x ( || )

    // ---- increments ----------------------------------------------------------------------------------
    OP_INCLOCAL,     // [..] -> [.. r]; slot a, delta = (int16_t)c (+1 or -1), b = 1 postfix, 0 prefix.
                     //   new = stack[base+a] + delta (OP_ADD semantics with the integer delta);
                     //   stack[base+a] = new; r = postfix ? old : new
    OP_INCINDEX,     // [.. obj key] -> [.. r]; delta = (int16_t)c, b = 1 postfix: old = obj[key] (OP_GET),
                     //   new = old + delta (OP_ADD), obj[key] = new (OP_SET); r = postfix ? old : new

    // ---- constructors --------------------------------------------------------------------------------
    OP_NEWTABLE,     // [..] -> [.. new table]; a = expected slot count (hint only)
    OP_NEWARRAY,     // [..] -> [.. new empty array]; a = expected length (hint only)
    OP_APPEND,       // [.. arr v] -> [.. arr]; arr.append(v)
    OP_TABLESLOT,    // [.. tbl key v] -> [.. tbl]; raw new slot (table literals, post-call initializers
                     //   use OP_SET instead). A null key: "null cannot be used as index".
    OP_CLASS,        // b bit 0: a base class is on the stack; bit 1: an attributes value is on the stack.
                     //   [.. (base) (attrs)] -> [.. new class]. A base that is not a class:
                     //   "trying to inherit from a <typename>".
    OP_NEWMEMBER,    // b bit 0: attributes present; bit 1: static member.
                     //   [.. cls key v (attrs)] -> [.. cls]; adds member key to the class with value v
                     //   (closures become methods of the class for OP_LOADBASE), sets its attributes.
                     //   Non-static members are per-instance defaults (the value is shared between
                     //   instances, not copied deep). "constructor" is the constructor.
    OP_CLOSURE,      // a = index in CompiledFunction::functions of the nested prototype P; b = 1: an environment
                     //   value is on top (function f[env]() syntax): it is bound as by bindenv().
                     //   [.. d1 .. dN (env)] -> [.. closure], N = P.ndefaults: the values of
                     //   the default parameters, evaluated now, in declaration order. Cells for P.outers
                     //   are created/shared from the current frame (fromLocal: stack[base+index]) or copied
                     //   from the running closure (outer cell index). The closure keeps the current root.

    // ---- exceptions ----------------------------------------------------------------------------------
    OP_PUSHTRAP,     // installs a handler at (pc of the next instruction + a) for this frame, recording
                     //   the current stack height. When an exception reaches it (from this frame or any
                     //   callee), frames above are dropped, the stack height is restored (closing cells),
                     //   the exception value is pushed, the trap is removed and execution jumps there.
    OP_POPTRAP,      // removes the a innermost traps of the current frame (normal exit of try blocks,
                     //   break/continue/return out of them; RETURN drops them anyway)
    OP_THROW,        // [.. v] -> throws v

    // ---- iteration -----------------------------------------------------------------------------------
    OP_FOREACH,      // c = first of 4 consecutive slots: c container, c+1 iterator state (null before the
                     //   first step), c+2 key, c+3 value; a = jump offset when the iteration ends.
                     //   Advances: arrays (key = index), tables (every slot once, any order), strings
                     //   (key = index, value = UTF-16 unit as integer), classes (members), instances with
                     //   _nexti (key = _nexti(previous key, null first); null ends; value = instance[key]),
                     //   instances without _nexti (their class members), generators (each step resumes it;
                     //   key = 0,1,2...; value = yielded value; ends when the generator dies; the returned
                     //   value is ignored). Other types: "cannot iterate <typename>".
                     //   Keeps the iteration state in slot c+1 (its representation is the VM's).

    OP_COUNT
};

// Name of an opcode, for disassembly and diagnostics.
inline const char* OpName(uint8_t op) {
    static const char* const kNames[] = {
        "LOADNULL",  "LOADBOOL",  "LOADINT",    "LOADFLOAT", "LOADK",    "LOADROOT", "LOADCONSTS",
        "LOADLOCAL", "STORELOCAL", "LOADOUTER", "STOREOUTER", "LOADBASE", "GETENV",  "SETENV",
        "GET",       "GETK",      "SET",        "NEWSLOT",   "DELETE",   "PREPCALL", "PREPCALLK",
        "CALL",      "RETURN",    "YIELD",      "ADD",       "SUB",      "MUL",      "DIV",
        "MOD",       "BAND",      "BOR",        "BXOR",      "SHL",      "SHR",      "USHR",
        "EQ",        "NE",        "LT",         "LE",        "GT",       "GE",       "CMP3",
        "IN",        "INSTANCEOF", "NEG",       "NOT",       "BNOT",     "TYPEOF",   "CLONE",
        "RESUME",    "POP",       "DUP",        "DUP2",      "JMP",      "JMPF",     "JMPT",
        "ANDJ",      "ORJ",       "INCLOCAL",   "INCINDEX",  "NEWTABLE", "NEWARRAY", "APPEND",
        "TABLESLOT", "CLASS",     "NEWMEMBER",  "CLOSURE",   "PUSHTRAP", "POPTRAP",  "THROW",
        "FOREACH",
    };
    static_assert(sizeof(kNames) / sizeof(kNames[0]) == OP_COUNT, "one name per opcode");
    return op < OP_COUNT ? kNames[op] : "?";
}

}  // namespace sq
