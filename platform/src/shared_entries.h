#pragma once
// Entries of the system library that sit at one address in every process: a page mapped at a fixed place whose
// stubs jump to this process's own routines, so that an address taken in one process starts the same routine in
// another (a launcher starts its remote LoadLibraryW thread at the address it looked up itself).
#include <platform/win32types.h>

namespace platform::detail {

enum class SharedEntry { LoadLibraryW, FreeLibrary, Count };

// The entry's fixed address, or null when the page could not be placed (something else lives there).
FARPROC SharedEntryAddress(SharedEntry entry);
// Maps the page now (a process about to serve remote threads); false when it could not be placed.
bool SharedEntriesReady();

}  // namespace platform::detail
