#pragma once
// Shared helpers of the standard libraries; built on the public interface only.
#include <squirrel.h>

namespace sqstd {

// Adds each named native (with its parameter check) as a slot of the table or class at idx.
// The list ends with a null name.
SQRESULT RegisterFunctions(HSQUIRRELVM v, SQInteger idx, const SQRegFunction* functions, SQBool asStatic = SQFalse);

// Creates a native closure with its parameter check and debug name and pushes it.
SQRESULT PushFunction(HSQUIRRELVM v, const SQRegFunction& function);

}  // namespace sqstd
