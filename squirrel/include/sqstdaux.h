#pragma once
// Default error handlers and a call-stack dump, both writing through the VM's error function.
#include <squirrel.h>

// Installs a compiler error handler and a runtime error handler (which also dumps the call stack).
SQUIRREL_API void sqstd_seterrorhandlers(HSQUIRRELVM v);
// Writes the call stack with each level's locals through the VM's error function.
SQUIRREL_API void sqstd_printcallstack(HSQUIRRELVM v);
