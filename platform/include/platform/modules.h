#pragma once
// Dynamic libraries and module queries.
//
// Host libraries are loaded with the dynamic loader and counted per load. Three
// pseudo modules are always present and need no host library (names compared
// with ASCII case folding, with or without ".dll"):
//   "Comctl32.dll" exports TaskDialogIndirect,
//   "ntdll.dll"    exports RtlGetVersion,
//   "kernel32.dll" exports IsWow64Process.
// The game image, once registered, is the process's main module: it answers
// GetModuleHandleW(nullptr), GetModuleInformation and addresses inside it.
#include <cstddef>

#include <platform/win32types.h>

// A host library: "x.dll" is also tried as "x.so" and "libx.so". Fails with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryW(LPCWSTR fileName);
BOOL FreeLibrary(HMODULE module);
// Null (ERROR_PROC_NOT_FOUND) when the module lacks the name. Ordinals are not supported.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Null name: the registered game image, else the host executable. A name finds a
// pseudo module or a library this process loaded, without adding a reference.
HMODULE GetModuleHandleW(LPCWSTR moduleName);

constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_PIN = 0x00000001;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x00000002;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x00000004;
// With FROM_ADDRESS, moduleName is an address inside the module wanted (the game
// image is asked first, then the host loader). Reference counts are never changed.
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module);
// The module's path in UTF-16, truncated (and terminated) when the buffer is too
// small, in which case ERROR_INSUFFICIENT_BUFFER is set and size is returned.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);

struct MODULEINFO {
  LPVOID lpBaseOfDll;
  DWORD SizeOfImage;
  LPVOID EntryPoint;
};
using LPMODULEINFO = MODULEINFO*;
// The process must be GetCurrentProcess(); size must be at least sizeof(MODULEINFO).
BOOL GetModuleInformation(HANDLE process, HMODULE module, LPMODULEINFO moduleInfo, DWORD size);

namespace platform {

// Makes the game image the main module: GetModuleHandleW(nullptr) returns base.
void RegisterGameImage(void* base, std::size_t size, LPCWSTR path, void* entryPoint = nullptr);
void UnregisterGameImage();

}  // namespace platform
