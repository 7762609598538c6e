#pragma once
// Forced failures of the cross-process calls, so that every step of starting a game can be made to fail.
//
// A call named here fails at its nth use from now on (1 = the next one), once, with the error code it would give
// for a refusal of the other process: CreateProcessW ERROR_FILE_NOT_FOUND, VirtualAllocEx ERROR_NOT_ENOUGH_MEMORY,
// WriteProcessMemory ERROR_PARTIAL_COPY (a short write: half the bytes), CreateRemoteThread ERROR_NOT_ENOUGH_MEMORY.
// A process that another program starts (the real launcher in end-to-end tests) reads one forced failure from its
// environment at its first cross-process call: BRINDLE_FORCE_FAILURE="<call name>:<nth>", e.g.
// "WriteProcessMemory:2". Locks: one internal mutex; any thread.
#include <cstdint>

namespace platform::testing {

enum class ProcessCall : std::uint32_t { CreateProcess, VirtualAllocEx, WriteProcessMemory, CreateRemoteThread, Count };

void FailProcessCall(ProcessCall call, std::uint32_t nth);
void ClearProcessCallFailures();

}  // namespace platform::testing
