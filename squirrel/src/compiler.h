// One-pass compiler from script source to a FuncProto.
#pragma once

#include <string>

#include "funcproto.h"
#include "value.h"

namespace bsq {

// Where and why compilation failed.
struct CompileError {
    std::u16string message;   // e.g. "expected ';'" (no position in the text)
    int32_t line = 0;
    int32_t column = 0;
};

// Compiles UTF-16 source text into the script's main function ("main", nparams 1, varargs). `const` and
// `enum` declarations go into the VM's const table, where later compilations see them. Returns null and
// fills *error on failure (nothing is reported to the VM).
Value CompileSource(HSQUIRRELVM v, const std::u16string& source, const std::u16string& sourceName,
                    CompileError* error);

// The VM entry: reads the source through `read` (one UTF-16 unit per call, 0 = end), compiles it and on
// success stores the main prototype (OT_FUNCPROTO) in *out. On error it reports through
// ReportCompileError (the compiler error handler, and the last error when raiseerror) and returns false.
bool CompileScript(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer up, const SQChar* sourcename,
                   SQBool raiseerror, SQBool lineinfo, Value* out);

}  // namespace bsq
