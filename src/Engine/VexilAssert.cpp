// The assertion routine and the engine exceptions.
#include <engine/VexilAssert.h>

#include <engine/Context.h>
#include <engine/OS.h>

#include <platform/process.h>
#include <platform/text.h>

#include <atomic>

namespace Vexil3D {

namespace {

std::atomic<HWND> g_AssertionOwner{nullptr};

// An assertion raised while an assertion is being reported (from the log, say) must not report
// itself again and again.
thread_local int t_ReportDepth = 0;

void BreakIntoDebugger() { DebugBreak(); }

}  // namespace

void SetAssertionOwnerWindow(HWND owner) { g_AssertionOwner.store(owner); }
HWND GetAssertionOwnerWindow() { return g_AssertionOwner.load(); }

void AssertionFailed(const char* expression, const char* file, const char* function, int line) {
  char16_t message[4096];
  text::Format(message, sizeof(message) / sizeof(message[0]),
               u"Assertion failed!\n\nFile: %hs\nFunction: %hs\nLine: %d\n\nExpression: %hs", file ? file : "",
               function ? function : "", line, expression ? expression : "");
  ++t_ReportDepth;
  if (t_ReportDepth == 1) Log(LOG_ERROR, message);
  if (IsDebuggerAttached()) {
    BreakIntoDebugger();
  } else {
    if (ShowAssertionDialog(message) == ASSERTION_CANCEL) TerminateProcess(GetCurrentProcess(), 1);
    if (IsDebuggerAttached()) BreakIntoDebugger();
  }
  --t_ReportDepth;
}

XException::XException(const char* file, const char* function, int line)
    : m_File(file ? file : ""), m_Function(function ? function : ""), m_Line(line) {}

XException::XException(const char* file, const char* function, int line, const char* message)
    : XException(file, function, line) {
  if (message != nullptr) SetMessage(message);
}

XException::XException(const char* file, const char* function, int line, std::string message)
    : XException(file, function, line) {
  SetMessage(std::move(message));
}

XException::~XException() = default;

const char* XException::what() const noexcept { return m_bHasMessage ? m_Message.c_str() : "Unknown exception"; }

bool XException::GetWin32Error(std::uint32_t*) const { return false; }

void XException::SetMessage(std::string message) {
  m_Message = std::move(message);
  m_bHasMessage = true;
}

XWin32Exception::XWin32Exception(const char* file, const char* function, int line, DWORD error)
    : XException(file, function, line), m_Error(error) {
  SetMessage(text::Utf16ToUtf8(GetWin32ErrorText(error)));
}

bool XWin32Exception::GetWin32Error(std::uint32_t* error) const {
  if (error != nullptr) *error = m_Error;
  return true;
}

}  // namespace Vexil3D
