#pragma once
// Math library: the C runtime's mathematical routines on script numbers, rand/srand, RAND_MAX and PI.
#include <squirrel.h>

// Registers the library into the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_mathlib(HSQUIRRELVM v);
