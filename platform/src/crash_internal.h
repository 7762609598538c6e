#pragma once
// What the fault handler and the minidump writer share: the writer's memory and what it learns of the process
// before any fault.
//
// Errors: none reported (a writer without its memory fails its calls). Locks: the memory is mapped once under a
// once-flag; the main module is asked through the module table's lock.
#include <sys/ucontext.h>

#include <platform/crash.h>

namespace platform::detail {

// The registers of a signal's context as a Win32 context (integer, control, segment and floating-point). Only
// async-signal-safe work: it runs in signal handlers.
void FillContext(const ucontext_t* uc, CONTEXT* context);

// Maps the writer's working memory if it is not mapped yet, and records the main module (the game image once
// registered) with its path, which the writer cannot ask for from a fault.
void PrepareDumps();

}  // namespace platform::detail
