#pragma once
// How long a crash's filter may run before the process ends with the exception code anyway (30 s at start), so
// that a test of a filter that never returns ends at once.
//
// Usage: platform::testing::SetCrashDeadline(200); then fault in a child process.
// Errors: none. Locks: none (an atomic value, safe from any thread).
namespace platform::testing {

// Returns the previous deadline. Takes effect at the next fault.
unsigned SetCrashDeadline(unsigned milliseconds);

}  // namespace platform::testing
