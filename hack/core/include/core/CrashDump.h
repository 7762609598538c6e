#pragma once
// The core's answer to UnhandledException: a minidump named by the local date and time in the launcher's dump
// directory, written on the faulting thread.
//
// Errors: none reported; a dump that cannot be named, made or written is simply missing (the reply is 1 either
// way, so the process then ends with the exception code). With terminateAfterDump the process ends here, with
// the exception code (never 0). Locks: none of its own; the platform lets one crash through at a time.
#include <cstddef>
#include <cstdint>

#include <platform/os.h>

struct UnhandledExceptionEventData;

constexpr const char16_t* kCrashDumpExtension = u".dmp";
constexpr std::size_t kCrashDumpNameCapacity = 260;  // units, the terminator included

// The dump file's name in directory for the time: "<directory>\YYYY-MM-DD hh-mm-ss.mmm.dmp", or, while a file or
// directory of that name exists, the same with " (2)", " (3)" ... before the extension. False, and out empty,
// when the name does not fit capacity units with its terminator.
bool CrashDumpName(const char16_t* directory, const SYSTEMTIME& time, char16_t* out, std::size_t capacity);

// UnhandledException: when the launcher asked for dumps and the directory exists or can be made, writes the dump
// of the faulting thread's exception, with the process's other threads as the platform can ask them
// (platform/crash.h). Replies 1.
std::uint32_t WriteCrashDump(const UnhandledExceptionEventData* data);
