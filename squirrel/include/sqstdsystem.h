#pragma once
// System library: environment variables, the command interpreter, clocks, dates and file removal/renaming.
#include <squirrel.h>

// Registers the library into the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_systemlib(HSQUIRRELVM v);
