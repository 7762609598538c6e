// One-pass compiler from script source to a FuncProto.
#pragma once

#include <memory>
#include <string>

#include "funcproto.h"
#include "squirrel.h"

namespace sq {

// Where and why compilation failed.
struct CompileError {
    std::u16string message;   // e.g. "expected ';'" or "unexpected end of file"... without position
    std::u16string source;    // the source name
    int32_t line = 0;
    int32_t column = 0;
};

// Compile-time constants (`const`, `enum`) live in the VM's const table; the compiler reads and writes
// them through this interface so that it can also run without a VM (tests).
class ConstantScope {
public:
    virtual ~ConstantScope() = default;
    // The value bound to `name`: a scalar constant (true, *out filled) or not a scalar constant (false).
    virtual bool Lookup(const std::u16string& name, Constant* out) = 0;
    // True when `name` is an enumeration; *member becomes the value of enumName.memberName (false when the
    // enumeration has no such member: the compiler then reports it).
    virtual bool IsEnum(const std::u16string& name) = 0;
    virtual bool LookupEnumMember(const std::u16string& enumName, const std::u16string& member, Constant* out) = 0;
    virtual void DefineConstant(const std::u16string& name, const Constant& value) = 0;
    virtual void DefineEnum(const std::u16string& name,
                            const std::vector<std::pair<std::u16string, Constant>>& members) = 0;
};

// Compiles UTF-16 source text. Returns the script's main function (nparams 1, varargs) or nullptr with *error
// filled. `constants` may be null (no const table: constants then exist only within this compilation).
std::shared_ptr<FuncProto> CompileSource(const std::u16string& source, const std::u16string& sourceName,
                                         ConstantScope* constants, CompileError* error);

// The VM entry: reads the source through `read` (UTF-16 units, 0 = end), uses the VM's const table, and on
// error calls the VM's compiler error handler with (message, source, line, column) and, when raiseerror,
// makes the message the VM's last error. Returns true and *out on success.
bool CompileScript(HSQUIRRELVM v, SQLEXREADFUNC read, SQUserPointer up, const SQChar* sourcename,
                   SQBool raiseerror, SQBool lineinfo, std::shared_ptr<FuncProto>* out);

// Provided by the VM: calls the handler installed with sq_setcompilererrorhandler, if any.
void InvokeCompilerErrorHandler(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line,
                                SQInteger column);

}  // namespace sq
