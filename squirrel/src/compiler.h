// One-pass compiler from script source to a CompiledFunction.
#pragma once

#include <memory>
#include <string>

#include <squirrel.h>

#include "funcproto.h"

namespace sq {

// Where and why compilation failed.
struct CompileError {
  std::u16string message;  // e.g. "expected ';'" (no position in the text)
  int32_t line = 0;
  int32_t column = 0;
};

// Compiles UTF-16 source text into the script's main function ("main", nparams 1, varargs). `const` and
// `enum` declarations are written into the const table of `v` (where later compilations see them) and
// looked up there; `v` may be null (constants then live only within this compilation). Returns null and
// fills *error on failure; nothing is reported to the VM.
std::shared_ptr<CompiledFunction> CompileSource(HSQUIRRELVM v, const std::u16string& source,
                                                const std::u16string& sourceName, CompileError* error);

// The VM entry: reads the source through `read` (one UTF-16 unit per call, 0 = end) and compiles it. On
// error it calls bsq::ReportCompileError (value.h: the compiler error handler, and the last error when
// raiseerror) and returns false; on success *out is the main prototype.
bool CompileScript(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer up, const SQChar* sourcename, SQBool raiseerror,
                   SQBool lineinfo, std::shared_ptr<CompiledFunction>* out);

// Readable listing of a prototype and its nested prototypes (one instruction per line).
std::string Disassemble(const CompiledFunction& proto);

}  // namespace sq
