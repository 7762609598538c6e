#pragma once
// What the fault handler and the minidump writer share: the writer's memory, reserved before any fault.
//
// Errors: none reported (a writer without its memory fails its calls). Locks: ReserveDumpMemory runs once under
// its own once-flag; nothing else locks.
namespace platform::detail {

// Maps the writer's working memory if it is not mapped yet; later calls do nothing.
void ReserveDumpMemory();

}  // namespace platform::detail
