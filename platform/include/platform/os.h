#pragma once
// Operating-system identity and the console.
#include <cstdint>

#include <platform/win32types.h>

using ULONG_PTR = std::uintptr_t;

using RTL_OSVERSIONINFOW = OSVERSIONINFOW;
using PRTL_OSVERSIONINFOW = OSVERSIONINFOW*;
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000Du);
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// The host reports no Windows version, so these answer Windows 10.0 (build 19045,
// platform VER_PLATFORM_WIN32_NT) and put the host kernel's name and release
// (from uname) in szCSDVersion. dwOSVersionInfoSize must be at least sizeof(OSVERSIONINFOW).
NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW versionInformation);
BOOL GetVersionExW(OSVERSIONINFOW* versionInformation);

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1 January
  WORD wDayOfWeek;  // 0 Sunday
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// The current local date and time, in the host's time zone (TZ included).
void GetLocalTime(SYSTEMTIME* localTime);

// The per-user folder of the kind asked, as a path of at most MAX_PATH - 1 units: CSIDL_LOCAL_APPDATA is the
// host's per-user data folder ($XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share, HOME absolute
// too). S_OK; E_FAIL with an empty path when the host names no such folder or it does not fit; E_INVALIDARG for
// another kind or a null path. The folder need not exist yet.
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
HRESULT SHGetFolderPathW(HWND window, int folder, HANDLE token, DWORD flags, LPWSTR path);

// TRUE in *wow64 for a 32-bit process on a 64-bit (x86_64) kernel.
BOOL IsWow64Process(HANDLE process, BOOL* wow64);

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;
constexpr DWORD PROCESSOR_INTEL_386 = 386;
constexpr DWORD PROCESSOR_INTEL_486 = 486;
constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;
constexpr DWORD PROCESSOR_AMD_X8664 = 8664;

struct SYSTEM_INFO {
  union {
    DWORD dwOemId;
    struct {
      WORD wProcessorArchitecture;
      WORD wReserved;
    };
  };
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;
#if defined(__i386__)
static_assert(sizeof(SYSTEM_INFO) == 36, "SYSTEM_INFO must keep its 32-bit Win32 layout");
#endif

// The machine as the process sees it (x86 for this 32-bit process).
void GetSystemInfo(LPSYSTEM_INFO systemInfo);
// The machine as the kernel is (AMD64 on an x86_64 kernel).
void GetNativeSystemInfo(LPSYSTEM_INFO systemInfo);

// Standard handles: handles of the handle table over descriptors 0, 1 and 2
// (ReadFile and WriteFile work on them; closing one leaves the descriptor open).
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
HANDLE GetStdHandle(DWORD stdHandle);

constexpr WORD FOREGROUND_BLUE = 0x0001;
constexpr WORD FOREGROUND_GREEN = 0x0002;
constexpr WORD FOREGROUND_RED = 0x0004;
constexpr WORD FOREGROUND_INTENSITY = 0x0008;
constexpr WORD BACKGROUND_BLUE = 0x0010;
constexpr WORD BACKGROUND_GREEN = 0x0020;
constexpr WORD BACKGROUND_RED = 0x0040;
constexpr WORD BACKGROUND_INTENSITY = 0x0080;

struct COORD {
  std::int16_t X;
  std::int16_t Y;
};
struct SMALL_RECT {
  std::int16_t Left;
  std::int16_t Top;
  std::int16_t Right;
  std::int16_t Bottom;
};
struct CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
};

// Remembers the attribute of the standard output or error handle and, when it is
// a terminal, switches its colours with ANSI sequences (nothing is written otherwise).
BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes);
// Gives the attribute last set (7, light grey on black, at first) and an 80x25 window.
BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info);
// Writes UTF-16 text as UTF-8 to the handle's descriptor.
BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD numberOfCharsToWrite, DWORD* numberOfCharsWritten,
                   LPVOID reserved);

namespace platform {

// True when the handle is an open file handle on a terminal.
bool IsTerminal(HANDLE handle);

}  // namespace platform
