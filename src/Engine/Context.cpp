// The engine context and its log.
#include <engine/Context.h>

#include <engine/Config.h>
#include <engine/FileSystem.h>
#include <engine/OS.h>
#include <engine/Stream.h>
#include <engine/VexilAssert.h>

#include <platform/errors.h>
#include <platform/files.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/text.h>
#include <platform/ui.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <vector>

namespace Vexil3D {

namespace {

std::atomic<Context*> g_CurrentContext{nullptr};
std::atomic<int> g_ScreenDpiX{96};
std::atomic<int> g_ScreenDpiY{96};

constexpr std::size_t kLogFormatCapacity = 4096;
constexpr std::size_t kTimeCapacity = 512;

constexpr int kTmFirstYear = 1900;
constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The platform's local time in the C library's form, for strftime.
bool LocalNow(std::tm* now) {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  if (local.wMonth < 1 || local.wMonth > std::size(kDaysBeforeMonth)) return false;
  *now = std::tm{};
  now->tm_year = local.wYear - kTmFirstYear;
  now->tm_mon = local.wMonth - 1;
  now->tm_mday = local.wDay;
  now->tm_hour = local.wHour;
  now->tm_min = local.wMinute;
  now->tm_sec = local.wSecond;
  now->tm_wday = local.wDayOfWeek;
  now->tm_yday = kDaysBeforeMonth[now->tm_mon] + local.wDay - 1 + (now->tm_mon > 1 && IsLeapYear(local.wYear));
  now->tm_isdst = -1;
  return true;
}

// An assertion raised while one is being reported (from the log, say) is not logged again.
thread_local int t_ReportDepth = 0;

// The context's assertion handler: the report goes to the log of the current context, then the user
// is asked. Left installed with no context current, it reports as the default handler does.
void LogAssertion(const char16_t* report) {
  if (Context::GetCurrent() == nullptr) {
    DefaultAssertionHandler(report);
    return;
  }
  ++t_ReportDepth;
  if (t_ReportDepth == 1) Log(LOG_ERROR, report);
  AskAboutAssertion(report);
  --t_ReportDepth;
}

WORD ConsoleColour(int level) {
  switch (level) {
    case LOG_WARN: return CONSOLE_COLOUR_WARNING;
    case LOG_ERROR: return CONSOLE_COLOUR_ERROR;
    case LOG_CRITICAL: return CONSOLE_COLOUR_CRITICAL;
    default: return CONSOLE_COLOUR_DEFAULT;
  }
}

}  // namespace

const char16_t* GetLogLevelPrefix(int level) {
  switch (level) {
    case LOG_VERBOSE: return u"[VERBOSE] ";
    case LOG_DEBUG: return u"[DEBUG]   ";
    case LOG_INFO: return u"[INFO]    ";
    case LOG_WARN: return u"[WARN]    ";
    case LOG_ERROR: return u"[ERROR]   ";
    case LOG_CRITICAL: return u"[CRITICAL]";
    default: return u"";
  }
}

// ---------------------------------------------------------------------------------------------
// CLogWriter

CLogWriter::CLogWriter(Context* owner) : m_pOwner(owner) { m_TimeFormat[0] = u'\0'; }

CLogWriter::~CLogWriter() { Close(); }

void CLogWriter::SetTimeFormat(const char16_t* format) {
  text::Copy(m_TimeFormat, kTimeFormatCapacity, format != nullptr ? format : u"");
}

void CLogWriter::SetStream(Stream* stream) {
  if (stream == m_pStream) return;
  if (stream != nullptr) stream->AddRef();
  Stream* old = m_pStream;
  m_pStream = stream;
  if (old != nullptr) old->Release();
}

void CLogWriter::SetClock(Clock clock) { m_Clock = std::move(clock); }

void CLogWriter::Close() { SetStream(nullptr); }

void CLogWriter::WriteLine(int level, const char16_t* text) {
  if (m_pStream == nullptr) return;
  CTextWriter writer(m_pStream);
  if (m_TimeFormat[0] != u'\0') {
    std::tm now{};
    const bool known = m_Clock ? m_Clock(&now) : LocalNow(&now);
    std::u16string stamp;
    if (known) {
      const std::string format = text::Utf16ToUtf8(m_TimeFormat);
      // Room for kTimeCapacity characters of any width.
      char narrow[kTimeCapacity * 4];
      const std::size_t written = std::strftime(narrow, sizeof(narrow), format.c_str(), &now);
      stamp = text::Utf8ToUtf16(std::string_view(narrow, written));
      if (stamp.size() >= kTimeCapacity) stamp.resize(kTimeCapacity - 1);
    }
    writer.Write(u"<", 1);
    writer.Write(stamp.data(), static_cast<std::uint32_t>(stamp.size()));
    writer.Write(u"> ", 2);
  }
  if (level >= LOG_VERBOSE && level <= LOG_CRITICAL) writer.Write(GetLogLevelPrefix(level), 10);
  if (text != nullptr) writer.Write(text, static_cast<std::uint32_t>(text::Length(text)));
  writer.Write(u"\r\n", 2);
}

// ---------------------------------------------------------------------------------------------
// Logger

void Logger::Log(int level, const char16_t* text) { LogF(level, u"%s", text != nullptr ? text : u""); }

// ---------------------------------------------------------------------------------------------
// Context

Context::Context() : m_hModule(GetModuleHandleW(nullptr)), m_LogWriter(this) {
  m_LogWriter.SetTimeFormat(u"%d/%m/%Y - %X");
}

Context::~Context() {
  LogF(LOG_NONE, u"------------------------------------------------------------");
  LogF(LOG_NONE, u"---------------------- Logging Ended -----------------------");
  LogF(LOG_NONE, u"------------------------------------------------------------");
  m_LogWriter.Close();
  if (m_bInitialised) SetAssertionHandler(m_PreviousAssertionHandler);
  Context* self = this;
  g_CurrentContext.compare_exchange_strong(self, nullptr);
  delete m_pFileSystem;
  m_pFileSystem = nullptr;
  delete m_pRootConfig;
  m_pRootConfig = nullptr;
}

Context* Context::GetCurrent() { return g_CurrentContext.load(); }

void Context::Initialise() {
  // Callers hold the file system and configuration that the first call made: a second call would
  // delete them under their feet.
  VEXIL_ASSERT(!m_bInitialised);
  if (m_bInitialised) return;
  StartTicks();
  m_bInitialised = true;
  g_CurrentContext.store(this);
  m_PreviousAssertionHandler = SetAssertionHandler(&LogAssertion);

  HDC screen = GetDC(nullptr);
  if (screen == nullptr) throw XException(VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__);
  g_ScreenDpiX.store(GetDeviceCaps(screen, LOGPIXELSX));
  g_ScreenDpiY.store(GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);

  std::srand(static_cast<unsigned>(std::time(nullptr)));

  m_pFileSystem = new CFileSystem();
  m_pRootConfig = new ConfigElement();

  const DWORD needed = GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) throw XWin32Exception(VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__, GetLastError());
  std::vector<char16_t> directory(needed + 1, u'\0');
  if (GetCurrentDirectoryW(needed, directory.data()) != needed - 1)
    throw XException(VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__);
  m_pFileSystem->Mount(u"/", new CMountedPath(directory.data()));

  m_UserAgent = BuildUserAgent();
}

void Context::Log(int level, const char16_t* text) {
  if (text == nullptr) text = u"";
  m_LogWriter.WriteLine(level, text);

  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (console == nullptr || console == INVALID_HANDLE_VALUE) return;
  CONSOLE_SCREEN_BUFFER_INFO saved;
  const bool haveSaved = GetConsoleScreenBufferInfo(console, &saved) != FALSE;
  SetConsoleTextAttribute(console, ConsoleColour(level));
  DWORD written = 0;
  WriteConsoleW(console, text, static_cast<DWORD>(text::Length(text)), &written, nullptr);
  WriteConsoleW(console, u"\n", 1, &written, nullptr);
  if (haveSaved) SetConsoleTextAttribute(console, saved.wAttributes);
}

void Context::LogV(int level, const char16_t* format, va_list args) {
  char16_t line[kLogFormatCapacity];
  line[0] = u'\0';
  if (format != nullptr) text::FormatV(line, kLogFormatCapacity, format, args);
  const std::size_t length = text::Length(line);
  if (length > 0 && line[length - 1] == u'\n') line[length - 1] = u'\0';
  Log(level, line);
}

void Context::LogF(int level, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, format, args);
  va_end(args);
}

void Context::LogInfo(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(LOG_INFO, format, args);
  va_end(args);
}

void Context::LogWarning(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(LOG_WARN, format, args);
  va_end(args);
}

void Context::LogError(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(LOG_ERROR, format, args);
  va_end(args);
}

void Log(int level, const char16_t* text) {
  if (Context* context = Context::GetCurrent()) context->Log(level, text);
}

void LogF(int level, const char16_t* format, ...) {
  Context* context = Context::GetCurrent();
  if (context == nullptr) return;
  char16_t line[kLogFormatCapacity];
  line[0] = u'\0';
  va_list args;
  va_start(args, format);
  if (format != nullptr) text::FormatV(line, kLogFormatCapacity, format, args);
  va_end(args);
  const std::size_t length = text::Length(line);
  if (length > 0 && line[length - 1] == u'\n') line[length - 1] = u'\0';
  context->Log(level, line);
}

std::u16string BuildUserAgent() {
  OSVERSIONINFOW version;
  if (!OS::GetVersion(&version)) {
    version.dwMajorVersion = 0;
    version.dwMinorVersion = 0;
  }
  const char16_t* suffix = u"";
  if (OS::IsWow64()) {
    suffix = u"; WOW64";
  } else {
    SYSTEM_INFO system;
    std::memset(&system, 0, sizeof(system));
    GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
      suffix = u"; Win64; x64";
    else if (system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64)
      suffix = u"; Win64; IA64";
  }
  const std::u16string product = text::FormatString(u"Vexil3D/%d.%d.%d", 1, 2, 0);
  const std::u16string system = text::FormatString(u" (Windows NT %d.%d%s)", static_cast<int>(version.dwMajorVersion),
                                                   static_cast<int>(version.dwMinorVersion), suffix);
  return product + u" " + system;
}

int GetScreenDpiX() { return g_ScreenDpiX.load(); }
int GetScreenDpiY() { return g_ScreenDpiY.load(); }

}  // namespace Vexil3D
