#pragma once
// Host files and directories behind the Win32 file API.
//
// Paths: "\" and "/" both separate components. A path without a drive maps onto
// the host as it is (absolute or relative to the current directory); a drive
// prefix such as "C:\" stands for the host root, unless MapDriveLetter made the
// letter stand for a host directory. Where a component's exact name
// does not exist, the first entry of that directory whose name matches it with
// ASCII case folding is used, since Windows callers spell names in any case.
#include <string>

#include <platform/sync.h>
#include <platform/win32types.h>

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD GENERIC_EXECUTE = 0x20000000;
constexpr DWORD GENERIC_ALL = 0x10000000;

constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// Asynchronous I/O is not supported: a non-null OVERLAPPED fails with
// ERROR_INVALID_PARAMETER. The layout is that of Win32.
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

// FILE_SHARE_* modes are accepted and not enforced (the host has no mandatory
// sharing). Directories cannot be opened (ERROR_ACCESS_DENIED) unless
// FILE_FLAG_BACKUP_SEMANTICS is given. Files without the owner write bit refuse
// write access and truncation (ERROR_ACCESS_DENIED), for root too. CREATE_ALWAYS and
// OPEN_ALWAYS set ERROR_ALREADY_EXISTS when the file existed, else 0. A new file
// takes FILE_ATTRIBUTE_READONLY from the attributes. The template must be null.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Both loop over interrupted and partial transfers; a read at the end gives 0 bytes and TRUE.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, LPOVERLAPPED overlapped);
// Origins FILE_BEGIN, FILE_CURRENT and FILE_END only (others: ERROR_INVALID_PARAMETER);
// a resulting position below 0 fails with ERROR_NEGATIVE_SEEK and leaves the position.
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distanceToMove, LARGE_INTEGER* newFilePointer, DWORD moveMethod);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* fileSize);
// Ends (or extends) the file at the current position.
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
// FILETIME counts 100-ns intervals since 1601-01-01 UTC. The host keeps no
// creation time: the status change time stands in for it, and setting it is ignored.
BOOL GetFileTime(HANDLE file, FILETIME* creationTime, FILETIME* lastAccessTime, FILETIME* lastWriteTime);
BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime);

// FILE_ATTRIBUTE_READONLY is a file without the owner write bit; directories give
// FILE_ATTRIBUTE_DIRECTORY, other files FILE_ATTRIBUTE_NORMAL when nothing else applies.
DWORD GetFileAttributesW(LPCWSTR fileName);
// Only FILE_ATTRIBUTE_READONLY changes anything (it clears or sets the owner write bit).
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD fileAttributes);
// ERROR_ALREADY_EXISTS when the name exists, ERROR_PATH_NOT_FOUND when the parent is missing.
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES attributes);
BOOL RemoveDirectoryW(LPCWSTR pathName);
BOOL DeleteFileW(LPCWSTR fileName);
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
// Renames a file within its volume (the host's one file system); other flags are ignored. Without
// MOVEFILE_REPLACE_EXISTING an existing target fails with ERROR_ALREADY_EXISTS; a directory target always does.
BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAW = WIN32_FIND_DATAW*;
static_assert(sizeof(WIN32_FIND_DATAW) == 592, "WIN32_FIND_DATAW must keep its Win32 layout");

// The pattern is a directory and a last component with the wildcards "*" and "?"
// (matched with ASCII case folding). "." and ".." are never reported. No match in
// an existing directory: ERROR_FILE_NOT_FOUND; a missing directory: ERROR_PATH_NOT_FOUND.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
// ERROR_NO_MORE_FILES after the last entry.
BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData);
BOOL FindClose(HANDLE findFile);

BOOL PathFileExistsW(LPCWSTR path);
// FILE_ATTRIBUTE_DIRECTORY (non-zero) for a directory, FALSE otherwise.
BOOL PathIsDirectoryW(LPCWSTR path);
// Creates every missing directory of the path. Returns ERROR_SUCCESS,
// ERROR_ALREADY_EXISTS when the directory existed, ERROR_FILE_EXISTS when a file
// stands in the way, ERROR_PATH_NOT_FOUND / ERROR_ACCESS_DENIED / ... otherwise.
// Unlike on Windows, a relative path is accepted (from the current directory).
int SHCreateDirectoryExW(HWND window, LPCWSTR path, const SECURITY_ATTRIBUTES* attributes);

// Characters written without the terminator; when the buffer is too small, the
// size needed with the terminator (and nothing written).
DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer);

namespace platform {

// The host (UTF-8) path for a Windows-style path, case-insensitive matching
// applied, for code that hands a path to a POSIX library. Null gives "".
std::string ToHostPath(LPCWSTR path);

// Makes the drive letter (A-Z, either case) stand for hostDirectory (UTF-16, a
// host path), or, with null, for the host root again. FALSE with
// ERROR_INVALID_PARAMETER for anything but a letter. The table is process-wide
// and guarded by its own lock.
BOOL MapDriveLetter(char16_t letter, LPCWSTR hostDirectory);

}  // namespace platform
