#pragma once
// Page protection, reservation and instruction-cache upkeep with Win32 names.
//
// Protections are kept per page in a table so that VirtualProtect can answer
// the old value exactly as Win32 gives it (PAGE_WRITECOPY stays PAGE_WRITECOPY
// even though the host knows no such thing). A page the table has never seen is
// read from the host's own map of the process.
#include <platform/win32types.h>

constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_WRITECOPY = 0x08;
constexpr DWORD PAGE_EXECUTE = 0x10;
constexpr DWORD PAGE_EXECUTE_READ = 0x20;
constexpr DWORD PAGE_EXECUTE_READWRITE = 0x40;
constexpr DWORD PAGE_EXECUTE_WRITECOPY = 0x80;
// Modifiers: kept in the table and handed back, but without a host effect.
constexpr DWORD PAGE_GUARD = 0x100;
constexpr DWORD PAGE_NOCACHE = 0x200;
constexpr DWORD PAGE_WRITECOMBINE = 0x400;

constexpr DWORD MEM_COMMIT = 0x00001000;
constexpr DWORD MEM_RESERVE = 0x00002000;
constexpr DWORD MEM_RELEASE = 0x00008000;

// Changes the protection of every page that holds a byte of [address, address +
// size) and stores the old protection of the first of them. Fails with
// ERROR_INVALID_PARAMETER for a null oldProtect, size 0 or an unknown protection,
// and with ERROR_INVALID_ADDRESS when a page is not mapped.
BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, DWORD* oldProtect);

// Reserves and commits zero-filled pages (MEM_COMMIT, MEM_RESERVE or both). A
// non-null address asks for exactly that place (rounded down to its page) and
// fails with ERROR_INVALID_ADDRESS when anything is mapped there already.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
// MEM_RELEASE of a whole allocation: size 0 and the address VirtualAlloc
// returned; anything else fails with ERROR_INVALID_PARAMETER.
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// x86 keeps its instruction cache coherent; this validates the range only.
BOOL FlushInstructionCache(HANDLE process, LPCVOID address, SIZE_T size);

namespace platform {

// Size of one page of the host.
SIZE_T PageSize();

}  // namespace platform
