#pragma once
// Engine assertions, their handler and dialog, and the engine exceptions.
//
// VEXIL_ASSERT(expr) evaluates expr once; when it is false the assertion routine formats the report
// ("Assertion failed!", the source path from "src/Engine/" or "include/engine/" on without its
// extension, the function's full signature, the line and the expression text) and hands it to the
// installed handler, then returns, so the caller goes on (the user may choose to end the process
// instead). The routine knows nothing above the platform layer: the layers above install a handler
// (the engine context installs one that logs the report at the error level while it is initialised).
// With none installed, the default handler writes the report to standard error and asks as below.
// Handlers are installed and called from any thread; the handler in place is read atomically.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include <platform/dialogs.h>
#include <platform/win32types.h>

namespace Vexil3D {

// Reports a failed assertion through the installed handler; returns unless the process is ended.
void AssertionFailed(const char* expression, const char* file, const char* function, int line);

// Receives the text of a failed assertion; returns when the caller may go on.
using AssertionHandler = void (*)(const char16_t* report);
// Installs the handler every failed assertion goes to; null installs the default again. Returns the
// handler in place before (the default's address when none was installed), for restoring it.
AssertionHandler SetAssertionHandler(AssertionHandler handler);
// The report on standard error (UTF-8, one line feed after it), then AskAboutAssertion.
void DefaultAssertionHandler(const char16_t* report);
// Breaks into an attached debugger; without one shows the assertion dialog, where Cancel ends the
// process with exit code 1 (and a debugger attached meanwhile gets the break).
void AskAboutAssertion(const char16_t* report);

// "TaskDialogIndirect" of "Comctl32.dll", or null.
using TaskDialogIndirectFn = HRESULT (*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
TaskDialogIndirectFn LoadTaskDialogIndirect();

// Results of the assertion dialog.
enum AssertionChoice { ASSERTION_OK = 0, ASSERTION_CANCEL = 1, ASSERTION_RETRY = 2, ASSERTION_YES = 3, ASSERTION_NO = 4 };
// Asks about a failed assertion ("Assertion failed", OK and Cancel, warning icon): a task dialog, or a
// message box when that cannot be shown; a message box that fails too counts as Cancel.
int ShowAssertionDialog(const char16_t* text);

// Owner window of the assertion dialog; null shows an unowned dialog.
void SetAssertionOwnerWindow(HWND owner);
HWND GetAssertionOwnerWindow();

namespace detail {

constexpr std::size_t SourcePathLength(const char* s) {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

constexpr bool SourcePathMatchesAt(const char* s, std::size_t at, std::size_t length, const char* what) {
  std::size_t i = 0;
  for (; what[i] != '\0'; ++i) {
    if (at + i >= length) return false;
    char c = s[at + i];
    if (c == '\\') c = '/';
    if (c != what[i]) return false;
  }
  return true;
}

// Start of the engine-relative part of a compiler file name: the last "src/Engine/" or
// "include/engine/" in it, else the whole name.
constexpr std::size_t SourcePathStart(const char* s) {
  const std::size_t length = SourcePathLength(s);
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (SourcePathMatchesAt(s, i, length, "src/Engine/") || SourcePathMatchesAt(s, i, length, "include/engine/"))
      start = i;
  }
  return start;
}

// End of that part: before the extension of the last path component, if it has one.
constexpr std::size_t SourcePathEnd(const char* s) {
  const std::size_t length = SourcePathLength(s);
  for (std::size_t i = length; i > 0; --i) {
    const char c = s[i - 1];
    if (c == '/' || c == '\\') break;
    if (c == '.') return i - 1;
  }
  return length;
}

template <std::size_t N>
struct SourcePathText {
  char text[N]{};
};

template <std::size_t N>
constexpr SourcePathText<N> MakeSourcePath(const char* s) {
  SourcePathText<N> out{};
  const std::size_t start = SourcePathStart(s);
  const std::size_t end = SourcePathEnd(s);
  std::size_t o = 0;
  for (std::size_t i = start; i < end && o + 1 < N; ++i) out.text[o++] = s[i] == '\\' ? '/' : s[i];
  out.text[o] = '\0';
  return out;
}

}  // namespace detail

// The engine's failure of a platform call or of an operation that cannot go on.
class XException : public std::exception {
 public:
  XException(const char* file, const char* function, int line);
  XException(const char* file, const char* function, int line, const char* message);
  XException(const char* file, const char* function, int line, std::string message);
  ~XException() override;

  const char* what() const noexcept override;
  // The Win32 error behind the failure, when there is one.
  virtual bool GetWin32Error(std::uint32_t* error) const;

  const std::string& GetFile() const { return m_File; }
  const std::string& GetFunction() const { return m_Function; }
  int GetLine() const { return m_Line; }
  bool HasMessage() const { return m_bHasMessage; }

 protected:
  void SetMessage(std::string message);

 private:
  std::string m_File;
  std::string m_Function;
  int m_Line = 0;
  bool m_bHasMessage = false;
  std::string m_Message;
};

// A failed Win32 (platform) call; the message is the system's text for the code, in UTF-8.
class XWin32Exception : public XException {
 public:
  XWin32Exception(const char* file, const char* function, int line, DWORD error);
  bool GetWin32Error(std::uint32_t* error) const override;
  DWORD GetError() const { return m_Error; }

 private:
  DWORD m_Error = 0;
};

}  // namespace Vexil3D

// The engine-relative source path of the current file, e.g. "src/Engine/Tar".
#define VEXIL_SOURCE_PATH                                                                              \
  ([]() -> const char* {                                                                               \
    static constexpr auto vexilSourcePath =                                                            \
        ::Vexil3D::detail::MakeSourcePath<::Vexil3D::detail::SourcePathLength(__FILE__) + 1>(__FILE__); \
    return vexilSourcePath.text;                                                                       \
  }())

#define VEXIL_ASSERT(expr)                                                                            \
  (static_cast<bool>(expr) ? static_cast<void>(0)                                                     \
                           : ::Vexil3D::AssertionFailed(#expr, VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, \
                                                        __LINE__))

// Throws an engine exception that names where it was raised.
#define VEXIL_THROW(message) throw ::Vexil3D::XException(VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__, message)
#define VEXIL_THROW_WIN32(error) \
  throw ::Vexil3D::XWin32Exception(VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__, error)
