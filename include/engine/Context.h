#pragma once
// The engine's root: file system, root configuration element, user agent and the log.
#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include <engine/VexilAssert.h>

#include <platform/win32types.h>

namespace Vexil3D {

class Stream;
class CFileSystem;
class ConfigElement;
class Context;

// Log levels; 0 writes the line without a level prefix.
enum LogLevel : int {
  LOG_NONE = 0,
  LOG_VERBOSE = 1,
  LOG_DEBUG = 2,
  LOG_INFO = 3,
  LOG_WARN = 4,
  LOG_ERROR = 5,
  LOG_CRITICAL = 6,
};

// The ten-character prefix of a level ("[INFO]    "), empty for level 0 and unknown levels.
const char16_t* GetLogLevelPrefix(int level);

// Writes time-stamped log lines to an attached stream.
class CLogWriter {
 public:
  static constexpr std::size_t kTimeFormatCapacity = 64;
  // Fills the broken-down local time of "now"; false when the time is not known.
  using Clock = std::function<bool(std::tm* now)>;

  explicit CLogWriter(Context* owner);
  ~CLogWriter();
  CLogWriter(const CLogWriter&) = delete;
  CLogWriter& operator=(const CLogWriter&) = delete;

  Context* GetOwner() const { return m_pOwner; }

  // strftime-style format of the time stamp (at most 63 characters); empty writes no time.
  void SetTimeFormat(const char16_t* format);
  const char16_t* GetTimeFormat() const { return m_TimeFormat; }

  // Attaches the log stream (adding a reference) and releases the one attached before; null detaches.
  void SetStream(Stream* stream);
  Stream* GetStream() const { return m_pStream; }

  // Replaces the source of the time stamp (the local time by default); an empty clock restores it.
  void SetClock(Clock clock);

  // Writes "<time> " (when formatted), the level prefix, the text and CR LF, while a stream is attached.
  void WriteLine(int level, const char16_t* text);
  // Releases the stream after the closing banner has gone out.
  void Close();

 private:
  Context* m_pOwner;
  char16_t m_TimeFormat[kTimeFormatCapacity];
  Stream* m_pStream = nullptr;
  Clock m_Clock;
};

// A sink for log lines; the base hands them to the current context.
class Logger {
 public:
  virtual ~Logger() = default;
  virtual void Log(int level, const char16_t* text);
};

class Context {
 public:
  Context();
  virtual ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // Starts the ticks, becomes the current context, installs the assertion handler that logs each report
  // at the error level before asking (the one in place before comes back when the context is
  // destroyed), reads the screen DPI, makes the file system and the root configuration element, mounts
  // the current directory at "/" and builds the user agent.
  // Throws XException or XWin32Exception when the platform refuses. Once only: a second call is an
  // assertion and changes nothing (callers keep the file system and configuration they hold).
  void Initialise();
  bool IsInitialised() const { return m_bInitialised; }

  // The log target of the process: the last context initialised, or null.
  static Context* GetCurrent();

  void Log(int level, const char16_t* text);
  // Formats (at most 4095 characters) and logs without one trailing line feed.
  void LogF(int level, const char16_t* format, ...);
  void LogInfo(const char16_t* format, ...);
  void LogWarning(const char16_t* format, ...);
  void LogError(const char16_t* format, ...);

  HMODULE GetModule() const { return m_hModule; }
  CFileSystem* GetFileSystem() const { return m_pFileSystem; }
  ConfigElement* GetRootConfig() const { return m_pRootConfig; }
  const std::u16string& GetUserAgent() const { return m_UserAgent; }
  CLogWriter& GetLogWriter() { return m_LogWriter; }

 private:
  void LogV(int level, const char16_t* format, va_list args);

  HMODULE m_hModule = nullptr;
  bool m_bInitialised = false;
  std::u16string m_Reserved;
  CFileSystem* m_pFileSystem = nullptr;
  ConfigElement* m_pRootConfig = nullptr;
  std::u16string m_UserAgent;
  CLogWriter m_LogWriter;
  AssertionHandler m_PreviousAssertionHandler = nullptr;
};

// Logging through the current context; nothing happens when there is none.
void Log(int level, const char16_t* text);
void LogF(int level, const char16_t* format, ...);

// "Vexil3D/1.2.0  (Windows NT major.minor[; WOW64 | ; Win64; x64 | ; Win64; IA64])".
std::u16string BuildUserAgent();

// The screen's DPI as the last Initialise read it (96 before).
int GetScreenDpiX();
int GetScreenDpiY();

}  // namespace Vexil3D
