#pragma once
// Per-thread last-error codes with Win32 numbers, and their texts.
#include <cstdarg>

#include <platform/win32types.h>

using HLOCAL = void*;

DWORD GetLastError();
void SetLastError(DWORD errorCode);

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr DWORD MAKELANGID(WORD primary, WORD sub) { return (DWORD(sub) << 10) | primary; }

// Only FORMAT_MESSAGE_FROM_SYSTEM is served (with or without
// FORMAT_MESSAGE_ALLOCATE_BUFFER, whose buffer is freed with LocalFree); inserts
// are never expanded. The texts are short English system texts ending in "\r\n",
// as Win32 gives them. Unknown codes fail with ERROR_MR_MID_NOT_FOUND (317).
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really an LPWSTR* receiving
// the allocation and `size` is the minimum number of characters to allocate.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);

// Frees a buffer that FormatMessageW allocated. Returns null on success.
HLOCAL LocalFree(HLOCAL memory);

constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

namespace platform {

// The Win32 error code that best describes an errno value. Calls that need a
// different code for the same errno (EEXIST is ERROR_FILE_EXISTS for file
// creation, ERROR_ALREADY_EXISTS for directories) choose it themselves.
DWORD Win32ErrorFromErrno(int error);

// SetLastError(Win32ErrorFromErrno(error)).
void SetLastErrorFromErrno(int error);

}  // namespace platform
