// Version and system queries, local time and the console handles with their colours.
#include <platform/os.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include <platform/errors.h>
#include <platform/files.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

#include "temp_dir.h"

namespace {

bool KernelIs64Bit() {
  utsname name;
  return ::uname(&name) == 0 && std::string(name.machine) == "x86_64";
}

// The fine wall clock the call reads: time() follows a coarse clock that can trail it by a tick, so
// reads of time() around the call could both fall in the second before the one the call saw.
std::time_t WallSeconds() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  return now.tv_sec;
}

// The local time in zones east and west of UTC, against the UTC breakdown of the instant shifted by
// hand (read twice around the call until both reads fall in one second).
TEST(LocalTime, FollowsTheTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  const struct {
    const char* zone;
    long offsetSeconds;
  } zones[] = {{"UTC0", 0}, {"<+0530>-5:30", 19800}, {"<-10>10", -36000}};
  for (const auto& zone : zones) {
    SCOPED_TRACE(zone.zone);
    ::setenv("TZ", zone.zone, 1);
    ::tzset();
    SYSTEMTIME local{};
    std::time_t before = 0;
    for (std::time_t after = -1; before != after;) {
      before = WallSeconds();
      GetLocalTime(&local);
      after = WallSeconds();
    }
    const std::time_t shifted = before + zone.offsetSeconds;
    std::tm expected{};
    ASSERT_NE(::gmtime_r(&shifted, &expected), nullptr);
    EXPECT_EQ(local.wYear, expected.tm_year + 1900);
    EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(local.wDay, expected.tm_mday);
    EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
    EXPECT_EQ(local.wHour, expected.tm_hour);
    EXPECT_EQ(local.wMinute, expected.tm_min);
    EXPECT_EQ(local.wSecond, expected.tm_sec);
    EXPECT_LT(local.wMilliseconds, 1000);
  }
  if (saved != nullptr)
    ::setenv("TZ", previous.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

// The per-user data folder from the host's variables: the data variable when absolute, else the home's share
// folder, never a relative or missing value (which would land in the current directory or at the root), and
// nothing that overflows the caller's MAX_PATH units.
TEST(FolderPath, LocalApplicationDataFollowsTheHostsVariables) {
  struct Saved {
    const char* name;
    std::string value;
    bool set;
  } saved[] = {{"XDG_DATA_HOME", "", false}, {"HOME", "", false}};
  for (Saved& variable : saved) {
    const char* value = std::getenv(variable.name);
    variable.set = value != nullptr;
    if (value != nullptr) variable.value = value;
  }
  const std::string longHome = "/" + std::string(MAX_PATH - 14, 'h');  // its share folder needs MAX_PATH units
  const std::string longestHome = longHome.substr(0, longHome.size() - 1);
  const struct {
    const char* data;  // null: unset
    const char* home;
    HRESULT result;
    std::string path;
  } rows[] = {
      {"/data/u", "/home/u", S_OK, "/data/u"},
      {nullptr, "/home/u", S_OK, "/home/u/.local/share"},
      {"", "/home/u", S_OK, "/home/u/.local/share"},
      {"relative", "/home/u", S_OK, "/home/u/.local/share"},
      {nullptr, nullptr, E_FAIL, ""},
      {nullptr, "", E_FAIL, ""},
      {"relative", "home", E_FAIL, ""},
      {nullptr, longHome.c_str(), E_FAIL, ""},
      {nullptr, longestHome.c_str(), S_OK, longestHome + "/.local/share"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.data ? row.data : "(unset)") + " " + (row.home ? row.home : "(unset)"));
    row.data ? ::setenv("XDG_DATA_HOME", row.data, 1) : ::unsetenv("XDG_DATA_HOME");
    row.home ? ::setenv("HOME", row.home, 1) : ::unsetenv("HOME");
    char16_t path[MAX_PATH];
    std::fill(std::begin(path), std::end(path), u'x');
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, reinterpret_cast<LPWSTR>(path)), row.result);
    EXPECT_EQ(text::Utf16ToUtf8(path), row.path);
  }
  char16_t path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA + 1, nullptr, 0, reinterpret_cast<LPWSTR>(path)),
            E_INVALIDARG);
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
  for (const Saved& variable : saved)
    variable.set ? ::setenv(variable.name, variable.value.c_str(), 1) : ::unsetenv(variable.name);
}

TEST(Version, ReportsWindowsTenAndChecksTheSize) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_EQ(RtlGetVersion(&info), STATUS_SUCCESS);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GT(info.dwBuildNumber, 0u);
  OSVERSIONINFOW viaEx{};
  viaEx.dwOSVersionInfoSize = sizeof(viaEx);
  ASSERT_TRUE(GetVersionExW(&viaEx));
  EXPECT_EQ(viaEx.dwBuildNumber, info.dwBuildNumber);
  OSVERSIONINFOW tooSmall{};
  tooSmall.dwOSVersionInfoSize = 20;
  EXPECT_NE(RtlGetVersion(&tooSmall), STATUS_SUCCESS);
  EXPECT_FALSE(GetVersionExW(&tooSmall));
  EXPECT_NE(RtlGetVersion(nullptr), STATUS_SUCCESS);
}

TEST(SystemInfo, ThirtyTwoBitProcessOnTheHostKernel) {
  BOOL wow64 = 7;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64, KernelIs64Bit() ? TRUE : FALSE);
  SYSTEM_INFO native{}, own{};
  GetNativeSystemInfo(&native);
  GetSystemInfo(&own);
  EXPECT_EQ(native.wProcessorArchitecture,
            KernelIs64Bit() ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL);
  EXPECT_EQ(own.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL);
  EXPECT_EQ(native.dwPageSize, static_cast<DWORD>(::sysconf(_SC_PAGESIZE)));
  EXPECT_GE(native.dwNumberOfProcessors, 1u);
  EXPECT_EQ(native.dwAllocationGranularity, 65536u);
  EXPECT_FALSE(IsWow64Process(nullptr, &wow64));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Points descriptor 1 at a file for one test.
class RedirectedOutput {
 public:
  RedirectedOutput() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int fd = ::open(dir_.Host("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::close(fd);
  }
  ~RedirectedOutput() { Restore(); }
  std::string Text() {
    Restore();
    std::ifstream in(dir_.Host("out"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    saved_ = -1;
  }
  TempDir dir_;
  int saved_ = -1;
};

TEST(Console, WritesUtf8AndKeepsColoursOffFiles) {
  RedirectedOutput output;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), out);
  EXPECT_FALSE(platform::IsTerminal(out));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));
  const WORD saved = info.wAttributes;
  ASSERT_TRUE(SetConsoleTextAttribute(out, FOREGROUND_RED | FOREGROUND_INTENSITY));
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));
  EXPECT_EQ(info.wAttributes, FOREGROUND_RED | FOREGROUND_INTENSITY);
  const char16_t text[] = u"caf\u00e9\n";
  DWORD written = 0;
  ASSERT_TRUE(WriteConsoleW(out, text, 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  std::printf("stdio ");
  DWORD bytes = 0;
  ASSERT_TRUE(WriteFile(out, "raw\n", 4, &bytes, nullptr));
  SetConsoleTextAttribute(out, saved);
  EXPECT_EQ(output.Text(), "caf\xc3\xa9\nstdio raw\n") << "no escape sequences may reach a file";
}

TEST(Console, TerminalGetsAnsiColours) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  std::fflush(stdout);
  const int saved = ::dup(1);
  ::dup2(terminal, 1);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const bool isTerminal = platform::IsTerminal(out);
  SetConsoleTextAttribute(out, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_INTENSITY);  // 14, yellow
  SetConsoleTextAttribute(out, FOREGROUND_GREEN | FOREGROUND_INTENSITY | BACKGROUND_RED);
  SetConsoleTextAttribute(out, 7);
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  // The terminal may hand the bytes over in pieces.
  const std::string expected = "\x1b[0;93;49m\x1b[0;92;41m\x1b[0m";
  std::string received;
  pollfd ready{master, POLLIN, 0};
  while (received.size() < expected.size() && ::poll(&ready, 1, 2000) > 0) {
    char buffer[256];
    const ssize_t got = ::read(master, buffer, sizeof(buffer));
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(terminal);
  ::close(master);
  EXPECT_TRUE(isTerminal);
  EXPECT_EQ(received, expected);
}

TEST(Console, StandardHandlesSurviveClosing) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  ASSERT_TRUE(CloseHandle(err));
  EXPECT_GE(::fcntl(2, F_GETFD), 0) << "the descriptor stays open";
  HANDLE again = GetStdHandle(STD_ERROR_HANDLE);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  EXPECT_TRUE(GetConsoleScreenBufferInfo(again, &info));
  EXPECT_EQ(GetStdHandle(12345), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SetConsoleTextAttribute(reinterpret_cast<HANDLE>(0x5000), 7));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
