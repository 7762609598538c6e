// The assertion routine, its default handler and dialog, and the engine exceptions.
#include <engine/VexilAssert.h>

#include <engine/OS.h>  // the system's text of a Win32 error, for XWin32Exception

#include <platform/files.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/text.h>

#include <atomic>
#include <cstring>
#include <string>

namespace Vexil3D {

namespace {

constexpr std::size_t kReportCapacity = 4096;
constexpr UINT kCancelExitCode = 1;

std::atomic<HWND> g_AssertionOwner{nullptr};
std::atomic<AssertionHandler> g_AssertionHandler{&DefaultAssertionHandler};

void BreakIntoDebugger() { DebugBreak(); }
bool DebuggerAttached() { return IsDebuggerPresent() != FALSE; }

}  // namespace

void SetAssertionOwnerWindow(HWND owner) { g_AssertionOwner.store(owner); }
HWND GetAssertionOwnerWindow() { return g_AssertionOwner.load(); }

AssertionHandler SetAssertionHandler(AssertionHandler handler) {
  return g_AssertionHandler.exchange(handler != nullptr ? handler : &DefaultAssertionHandler);
}

void AssertionFailed(const char* expression, const char* file, const char* function, int line) {
  char16_t report[kReportCapacity];
  text::Format(report, kReportCapacity, u"Assertion failed!\n\nFile: %hs\nFunction: %hs\nLine: %d\n\nExpression: %hs",
               file ? file : "", function ? function : "", line, expression ? expression : "");
  g_AssertionHandler.load()(report);
}

void DefaultAssertionHandler(const char16_t* report) {
  const std::string utf8 = text::Utf16ToUtf8(report != nullptr ? report : u"") + "\n";
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (error != nullptr && error != INVALID_HANDLE_VALUE)
    WriteFile(error, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  AskAboutAssertion(report);
}

void AskAboutAssertion(const char16_t* report) {
  if (DebuggerAttached()) {
    BreakIntoDebugger();
    return;
  }
  if (ShowAssertionDialog(report) == ASSERTION_CANCEL) TerminateProcess(GetCurrentProcess(), kCancelExitCode);
  if (DebuggerAttached()) BreakIntoDebugger();
}

TaskDialogIndirectFn LoadTaskDialogIndirect() {
  HMODULE comctl = LoadLibraryW(u"Comctl32.dll");
  if (comctl == nullptr) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFn>(GetProcAddress(comctl, "TaskDialogIndirect"));
}

int ShowAssertionDialog(const char16_t* text) {
  static const char16_t kTitle[] = u"Assertion failed";
  if (TaskDialogIndirectFn taskDialog = LoadTaskDialogIndirect()) {
    TASKDIALOGCONFIG config;
    std::memset(&config, 0, sizeof(config));
    config.cbSize = sizeof(config);
    config.hwndParent = GetAssertionOwnerWindow();
    config.dwFlags = TDF_SIZE_TO_CONTENT;
    config.dwCommonButtons = TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = kTitle;
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszContent = text;
    int pressed = 0;
    if (taskDialog(&config, &pressed, nullptr, nullptr) >= 0) {
      switch (pressed) {
        case IDOK: return ASSERTION_OK;
        case IDRETRY: return ASSERTION_RETRY;
        case IDYES: return ASSERTION_YES;
        case IDNO: return ASSERTION_NO;
        default: return ASSERTION_CANCEL;
      }
    }
  }
  switch (MessageBoxW(GetAssertionOwnerWindow(), text, kTitle, MB_OKCANCEL | MB_ICONWARNING)) {
    case IDOK: return ASSERTION_OK;
    case IDRETRY: return ASSERTION_RETRY;
    case IDYES: return ASSERTION_YES;
    case IDNO: return ASSERTION_NO;
    default: return ASSERTION_CANCEL;  // a failing message box counts as Cancel
  }
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
