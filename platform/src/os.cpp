// Version and system information, local time, console handles and text colours.
#include <platform/os.h>

#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <platform/errors.h>
#include <platform/process.h>
#include <platform/text.h>

#include "handles.h"

using namespace platform::detail;

namespace {

// The host has no Windows version: report Windows 10 (22H2 build) so that code
// written for Windows takes its current paths.
constexpr DWORD kMajorVersion = 10;
constexpr DWORD kMinorVersion = 0;
constexpr DWORD kBuildNumber = 19045;

std::string Machine() {
  utsname name;
  if (::uname(&name) != 0) return std::string();
  return name.machine;
}

bool FillVersion(OSVERSIONINFOW* info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) return false;
  info->dwMajorVersion = kMajorVersion;
  info->dwMinorVersion = kMinorVersion;
  info->dwBuildNumber = kBuildNumber;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  utsname name;
  if (::uname(&name) == 0) {
    const std::u16string host = text::Utf8ToUtf16(std::string(name.sysname) + " " + name.release);
    text::Copy(info->szCSDVersion, sizeof(info->szCSDVersion) / sizeof(WCHAR), host.c_str());
  }
  return true;
}

void FillSystemInfo(LPSYSTEM_INFO info, bool native) {
  std::memset(info, 0, sizeof(*info));
  const std::string machine = Machine();
  const bool x86_64 = machine == "x86_64" || machine == "amd64";
  const bool x86 = machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0;
  if (native && x86_64) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    info->dwProcessorType = PROCESSOR_AMD_X8664;
  } else if (x86 || x86_64) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    info->dwProcessorType = PROCESSOR_INTEL_PENTIUM;
  } else if (native && machine == "aarch64") {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
  } else {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
  }
  info->dwPageSize = static_cast<DWORD>(::sysconf(_SC_PAGESIZE));
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x10000});
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x7FFEFFFF});
  long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (processors < 1) processors = 1;
  if (processors > 32) processors = 32;
  info->dwNumberOfProcessors = static_cast<DWORD>(processors);
  info->dwActiveProcessorMask = processors >= 32 ? ~DWORD_PTR{0} : ((DWORD_PTR{1} << processors) - 1);
  info->dwAllocationGranularity = 65536;
  info->wProcessorLevel = 6;
}

// ---------------------------------------------------------------------------
// Standard handles

std::mutex& StdMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}

HANDLE g_stdHandles[3] = {nullptr, nullptr, nullptr};

std::shared_ptr<FileObject> ConsoleFile(HANDLE handle) {
  std::shared_ptr<HandleObject> object = LookupHandle(handle);
  if (!object) return nullptr;
  if (object->kind != HandleKind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<FileObject>(object);
}

// Text written through stdio must come out before what goes straight to the descriptor.
void FlushStdio(int fd) {
  if (fd == 1) std::fflush(stdout);
  if (fd == 2) std::fflush(stderr);
}

// Windows colour bits are blue 1, green 2, red 4; ANSI numbers red 1, green 2, blue 4.
int AnsiColour(WORD bits) { return ((bits & 4) ? 1 : 0) | ((bits & 2) ? 2 : 0) | ((bits & 1) ? 4 : 0); }

}  // namespace

NTSTATUS RtlGetVersion(PRTL_OSVERSIONINFOW versionInformation) {
  return FillVersion(versionInformation) ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

BOOL GetVersionExW(OSVERSIONINFOW* versionInformation) {
  if (!FillVersion(versionInformation)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

void GetLocalTime(SYSTEMTIME* localTime) {
  if (localTime == nullptr) return;
  constexpr long kMicrosecondsPerMillisecond = 1000;
  constexpr int kFirstYear = 1900;
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  ::localtime_r(&seconds, &local);
  localTime->wYear = static_cast<WORD>(local.tm_year + kFirstYear);
  localTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
  localTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  localTime->wDay = static_cast<WORD>(local.tm_mday);
  localTime->wHour = static_cast<WORD>(local.tm_hour);
  localTime->wMinute = static_cast<WORD>(local.tm_min);
  localTime->wSecond = static_cast<WORD>(local.tm_sec);
  localTime->wMilliseconds = static_cast<WORD>(now.tv_usec / kMicrosecondsPerMillisecond);
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
  if (process != GetCurrentProcess()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (wow64 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string machine = Machine();
  *wow64 = (sizeof(void*) == 4 && (machine == "x86_64" || machine == "amd64")) ? TRUE : FALSE;
  return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO systemInfo) {
  if (systemInfo != nullptr) FillSystemInfo(systemInfo, false);
}

void GetNativeSystemInfo(LPSYSTEM_INFO systemInfo) {
  if (systemInfo != nullptr) FillSystemInfo(systemInfo, true);
}

HANDLE GetStdHandle(DWORD stdHandle) {
  int fd;
  switch (stdHandle) {
    case STD_INPUT_HANDLE: fd = 0; break;
    case STD_OUTPUT_HANDLE: fd = 1; break;
    case STD_ERROR_HANDLE: fd = 2; break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(StdMutex());
  // A closed standard handle is made anew: the descriptor itself stays open.
  if (g_stdHandles[fd] == nullptr || !LookupHandle(g_stdHandles[fd])) {
    const bool input = fd == 0;
    g_stdHandles[fd] = InsertHandle(std::make_shared<FileObject>(fd, false, input, !input));
    if (g_stdHandles[fd] == nullptr) return INVALID_HANDLE_VALUE;
  }
  return g_stdHandles[fd];
}

BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes) {
  std::shared_ptr<FileObject> file = ConsoleFile(console);
  if (!file) return FALSE;
  file->consoleAttribute = attributes;
  if (!platform::IsTerminal(console)) return TRUE;
  std::string sequence;
  const WORD foreground = attributes & 0x0F;
  const WORD background = (attributes >> 4) & 0x0F;
  if (attributes == (FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE)) {
    sequence = "\x1b[0m";
  } else {
    const int fg = (foreground == 7) ? 39 : ((foreground & FOREGROUND_INTENSITY) ? 90 : 30) + AnsiColour(foreground);
    const int bg = (background == 0) ? 49 : ((background & 8) ? 100 : 40) + AnsiColour(background);
    sequence = "\x1b[0;" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
  }
  FlushStdio(file->fd);
  ssize_t written;
  do {
    written = ::write(file->fd, sequence.data(), sequence.size());
  } while (written < 0 && errno == EINTR);
  return TRUE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info) {
  std::shared_ptr<FileObject> file = ConsoleFile(console);
  if (!file) return FALSE;
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(info, 0, sizeof(*info));
  info->dwSize = {80, 25};
  info->wAttributes = file->consoleAttribute;
  info->srWindow = {0, 0, 79, 24};
  info->dwMaximumWindowSize = {80, 25};
  return TRUE;
}

BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD numberOfCharsToWrite, DWORD* numberOfCharsWritten,
                   LPVOID /*reserved*/) {
  if (numberOfCharsWritten != nullptr) *numberOfCharsWritten = 0;
  std::shared_ptr<FileObject> file = ConsoleFile(console);
  if (!file) return FALSE;
  if (buffer == nullptr && numberOfCharsToWrite != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string utf8 = text::Utf16ToUtf8(
      std::u16string_view(static_cast<const char16_t*>(buffer), numberOfCharsToWrite));
  FlushStdio(file->fd);
  std::size_t done = 0;
  while (done < utf8.size()) {
    const ssize_t put = ::write(file->fd, utf8.data() + done, utf8.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      platform::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    done += static_cast<std::size_t>(put);
  }
  if (numberOfCharsWritten != nullptr) *numberOfCharsWritten = numberOfCharsToWrite;
  return TRUE;
}

HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path) {
  if (path == nullptr || folder != CSIDL_LOCAL_APPDATA) return E_INVALIDARG;
  path[0] = 0;
  // A relative value would name a folder that moves with the current directory: the rules pass over it.
  const auto absolute = [](const char* value) { return value != nullptr && value[0] == '/'; };
  std::string folderPath;
  if (const char* data = std::getenv("XDG_DATA_HOME"); absolute(data)) {
    folderPath = data;
  } else if (const char* home = std::getenv("HOME"); absolute(home)) {
    folderPath = std::string(home) + "/.local/share";
  } else {
    return E_FAIL;
  }
  const std::u16string wide = text::Utf8ToUtf16(folderPath);
  if (wide.size() >= MAX_PATH) return E_FAIL;
  std::char_traits<char16_t>::copy(reinterpret_cast<char16_t*>(path), wide.c_str(), wide.size() + 1);
  return S_OK;
}

namespace platform {

bool IsTerminal(HANDLE handle) {
  const DWORD saved = GetLastError();
  std::shared_ptr<HandleObject> object = LookupHandle(handle);
  SetLastError(saved);
  if (!object || object->kind != HandleKind::File) return false;
  return ::isatty(static_cast<FileObject&>(*object).fd) == 1;
}

}  // namespace platform
