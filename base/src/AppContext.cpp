// The application context and its message display: task dialog, message box or console prompt, and fatal errors.
#include <cstring>
#include <string>

#include <base/AppContext.h>
#include <platform/dialogs.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/text.h>

#include "Utf8Prefix.h"

namespace {

using base_detail::Utf8PrefixLength;

// The display buffer of a joined error text holds this many bytes.
constexpr std::size_t kJoinedTextLimit = 4095;

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG* config, int* pressedButton,
                                                    int* pressedRadioButton, BOOL* verificationFlagChecked);

constexpr std::uint32_t kButtonSetCount = 12;

std::uint32_t ButtonSet(MessageButtons buttons) {
  const auto value = static_cast<std::uint32_t>(buttons);
  // Every set beyond the table shows and answers like OK.
  return value < kButtonSetCount ? value : 0;
}

TASKDIALOG_COMMON_BUTTON_FLAGS TaskDialogButtons(std::uint32_t set) {
  static constexpr TASKDIALOG_COMMON_BUTTON_FLAGS kButtons[kButtonSetCount] = {
      TDCBF_OK_BUTTON,
      TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON,
      TDCBF_OK_BUTTON | TDCBF_CLOSE_BUTTON,
      TDCBF_YES_BUTTON | TDCBF_NO_BUTTON,
      TDCBF_YES_BUTTON | TDCBF_CLOSE_BUTTON,
      TDCBF_YES_BUTTON | TDCBF_NO_BUTTON | TDCBF_CANCEL_BUTTON,
      TDCBF_YES_BUTTON | TDCBF_NO_BUTTON | TDCBF_CLOSE_BUTTON,
      // Abort/Retry/Ignore: OK stands for Ignore, Cancel for Abort.
      TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON | TDCBF_RETRY_BUTTON,
      // Close/Retry/Ignore: OK stands for Ignore.
      TDCBF_OK_BUTTON | TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON,
      TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON,
      TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON,
      TDCBF_CLOSE_BUTTON,
  };
  return kButtons[set];
}

MessageResult TaskDialogResult(std::uint32_t set, int pressed) {
  switch (set) {
    case 2:
      if (pressed == IDCLOSE) return MessageResult::Close;
      [[fallthrough]];
    case 0:
    case 1:
      return pressed == IDOK ? MessageResult::OK : MessageResult::Cancel;
    case 4:
      if (pressed == IDCLOSE) return MessageResult::Close;
      return pressed == IDYES ? MessageResult::Yes : MessageResult::Cancel;
    case 6:
      if (pressed == IDCLOSE) return MessageResult::Close;
      [[fallthrough]];
    case 3:
    case 5:
      if (pressed == IDYES) return MessageResult::Yes;
      return pressed == IDNO ? MessageResult::No : MessageResult::Cancel;
    case 7:
      if (pressed == IDOK) return MessageResult::Ignore;
      return pressed == IDRETRY ? MessageResult::Retry : MessageResult::Abort;
    case 8:
      if (pressed == IDOK) return MessageResult::Ignore;
      return pressed == IDRETRY ? MessageResult::Retry : MessageResult::Close;
    case 10:
      if (pressed == IDCLOSE) return MessageResult::Close;
      [[fallthrough]];
    case 9:
      return pressed == IDRETRY ? MessageResult::Retry : MessageResult::Cancel;
    default:  // 11
      return pressed == IDCLOSE ? MessageResult::Close : MessageResult::Cancel;
  }
}

LPCWSTR TaskDialogIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return TD_ERROR_ICON;
    case MessageIcon::Warning:
      return TD_WARNING_ICON;
    case MessageIcon::Information:
      return TD_INFORMATION_ICON;
    default:
      return nullptr;
  }
}

UINT MessageBoxType(std::uint32_t set, MessageIcon icon, bool serviceNotification) {
  static constexpr UINT kStyles[kButtonSetCount] = {
      MB_OK,          MB_OKCANCEL,         MB_OKCANCEL,         MB_YESNO,       MB_OKCANCEL,    MB_YESNOCANCEL,
      MB_YESNOCANCEL, MB_ABORTRETRYIGNORE, MB_ABORTRETRYIGNORE, MB_RETRYCANCEL, MB_RETRYCANCEL, MB_OK,
  };
  UINT type = kStyles[set];
  switch (icon) {
    case MessageIcon::Error:
      type |= MB_ICONERROR;
      break;
    case MessageIcon::Warning:
      type |= MB_ICONWARNING;
      break;
    case MessageIcon::Information:
      type |= MB_ICONINFORMATION;
      break;
    default:
      break;
  }
  if (serviceNotification) type |= MB_SERVICE_NOTIFICATION;
  return type;
}

MessageResult MessageBoxResult(std::uint32_t set, int answer) {
  switch (set) {
    case 11:
      return MessageResult::Close;
    case 2:
      return answer == IDOK ? MessageResult::OK : MessageResult::Close;
    case 4:
      return answer == IDOK ? MessageResult::Yes : MessageResult::Close;
    case 6:
      if (answer == IDYES) return MessageResult::Yes;
      return answer == IDNO ? MessageResult::No : MessageResult::Close;
    case 10:
      return answer == IDRETRY ? MessageResult::Retry : MessageResult::Close;
    case 8:
      if (answer == IDRETRY) return MessageResult::Retry;
      return answer == IDIGNORE ? MessageResult::Ignore : MessageResult::Close;
    default:
      switch (answer) {
        case IDOK:
          return MessageResult::OK;
        case IDYES:
          return MessageResult::Yes;
        case IDNO:
          return MessageResult::No;
        case IDRETRY:
          return MessageResult::Retry;
        case IDABORT:
          return MessageResult::Abort;
        case IDIGNORE:
          return MessageResult::Ignore;
        default:
          return MessageResult::Cancel;
      }
  }
}

const char16_t* ConsolePrompt(std::uint32_t set) {
  static constexpr const char16_t* kPrompts[kButtonSetCount] = {
      u"[O]K\n",
      u"[O]K [C]ancel\n",
      u"[O]K [C]lose\n",
      u"[Y]es [N]o\n",
      u"[Y]es [C]lose\n",
      u"[Y]es [N]o [C]ancel\n",
      u"[Y]es [N]o [C]lose\n",
      u"[A]bort [R]etry [I]gnore\n",
      u"[C]lose [R]etry [I]gnore\n",
      u"[R]etry [C]ancel\n",
      u"[R]etry [C]lose\n",
      u"[C]lose\n",
  };
  return kPrompts[set];
}

// Any answer that is not one of the set's letters, end of input included,
// gives the set's last (fallback) result.
MessageResult ConsoleResult(std::uint32_t set, int answer) {
  const int c = (answer >= 'A' && answer <= 'Z') ? answer + ('a' - 'A') : answer;
  switch (set) {
    case 0:
      return MessageResult::OK;
    case 1:
      return c == 'o' ? MessageResult::OK : MessageResult::Cancel;
    case 2:
      return c == 'o' ? MessageResult::OK : MessageResult::Close;
    case 3:
      return c == 'y' ? MessageResult::Yes : MessageResult::No;
    case 4:
      return c == 'y' ? MessageResult::Yes : MessageResult::Close;
    case 5:
      if (c == 'y') return MessageResult::Yes;
      return c == 'c' ? MessageResult::Cancel : MessageResult::No;
    case 6:
      if (c == 'y') return MessageResult::Yes;
      return c == 'c' ? MessageResult::Close : MessageResult::No;
    case 7:
      if (c == 'a') return MessageResult::Abort;
      return c == 'r' ? MessageResult::Retry : MessageResult::Ignore;
    case 8:
      if (c == 'c') return MessageResult::Close;
      return c == 'r' ? MessageResult::Retry : MessageResult::Ignore;
    case 9:
      return c == 'r' ? MessageResult::Retry : MessageResult::Cancel;
    case 10:
      return c == 'r' ? MessageResult::Retry : MessageResult::Close;
    default:  // 11
      return MessageResult::Close;
  }
}

MessageResult ShowConsolePrompt(std::uint32_t set, const char16_t* text) {
  platform::IDialogBackend& console = platform::GetDialogBackend();
  console.ConsoleWrite(text::FormatString(u"%s\n", text != nullptr ? text : u""));
  console.ConsoleWrite(ConsolePrompt(set));
  return ConsoleResult(set, ReadConsoleAnswer());
}

void CallAfterMessage(tAppContext* context) {
  if (g_AfterMessageCallback != nullptr) g_AfterMessageCallback(context);
  context->AfterMessage();
}

}  // namespace

int ReadConsoleAnswer() {
  platform::IDialogBackend& console = platform::GetDialogBackend();
  const int answer = console.ConsoleReadChar();
  if (answer == -1) return -1;
  // The rest of the line is not part of the answer; an empty line makes the
  // newline the answer and consumes the following line as well.
  for (int c = console.ConsoleReadChar(); c != -1 && c != '\n'; c = console.ConsoleReadChar()) {
  }
  return answer;
}

MessageResult ShowMessage(tAppContext* context, MessageIcon icon, MessageButtons buttons, const char16_t* text,
                          const char16_t* heading, bool forceMessageBox) {
  if (context == nullptr) context = &g_AppContext;
  const std::uint32_t set = ButtonSet(buttons);
  if (text == nullptr) text = u"";

  const tLockGuard oneAtATime(context->m_messageLock);
  HWND owner;
  MessageDisplayMode mode;
  {
    const tLockGuard guard(*context);
    owner = context->m_ownerWindow;
    mode = context->m_displayMode;
  }
  if (mode == MessageDisplayMode::Console) return ShowConsolePrompt(set, text);

  const bool serviceNotification = mode == MessageDisplayMode::ServiceMessageBox;
  const bool forced = forceMessageBox || serviceNotification;
  if (g_BeforeMessageCallback != nullptr) g_BeforeMessageCallback(context);
  context->BeforeMessage();

  HMODULE library = nullptr;
  TaskDialogIndirectFunction taskDialog = nullptr;
  if (!forced) {
    library = LoadLibraryW(u"Comctl32.dll");
    if (library != nullptr)
      taskDialog = reinterpret_cast<TaskDialogIndirectFunction>(GetProcAddress(library, "TaskDialogIndirect"));
  }

  MessageResult result;
  if (taskDialog != nullptr) {
    const std::u16string title = text::Utf8ToUtf16(context->GetTitle());
    TASKDIALOGCONFIG config;
    std::memset(&config, 0, sizeof(config));
    config.cbSize = sizeof(config);
    config.hwndParent = owner;
    config.hInstance = nullptr;
    config.dwFlags = TDF_SIZE_TO_CONTENT;
    config.dwCommonButtons = TaskDialogButtons(set);
    config.pszWindowTitle = title.c_str();
    config.pszMainIcon = TaskDialogIcon(icon);
    config.pszMainInstruction = heading;
    config.pszContent = text;

    int pressed = 0;
    const HRESULT status = taskDialog(&config, &pressed, nullptr, nullptr);
    if (status < 0) {
      FreeLibrary(library);
      CallAfterMessage(context);
      return ShowMessage(context, icon, buttons, text, heading, true);
    }
    result = TaskDialogResult(set, pressed);
  } else {
    const int answer = MessageBoxW(owner, text, heading,
                                   MessageBoxType(set, icon, serviceNotification));
    result = MessageBoxResult(set, answer);
  }

  if (library != nullptr) FreeLibrary(library);
  CallAfterMessage(context);
  return result;
}

void TerminateAfterFatalError() {
  TerminateProcess(GetCurrentProcess(), kFatalExitCode);
  // TerminateProcess of the own process does not come back; should a hook let
  // it return, the process must still end as a failure.
  ExitProcess(kFatalExitCode);
}

tMessageCallback g_BeforeMessageCallback = nullptr;
tMessageCallback g_AfterMessageCallback = nullptr;

tAppContext::tAppContext(const char* title, HWND ownerWindow, MessageDisplayMode displayMode)
    : m_ownerWindow(ownerWindow), m_displayMode(displayMode) {
  const char* source = title != nullptr ? title : "";
  const std::size_t length = Utf8PrefixLength(source, std::strlen(source), sizeof(m_title) - 1);
  std::memcpy(m_title, source, length);
  m_title[length] = '\0';
}

tAppContext::~tAppContext() = default;

void tAppContext::AddError(const char* text) {
  AppendError(text);
  ShowErrors(this, MessageButtons::Close);
  TerminateAfterFatalError();
}

MessageResult tAppContext::ShowErrors(tTaskContext* task, MessageButtons buttons) {
  std::string joined;
  if (task != nullptr) {
    // Under the task's lock: another thread may be adding to it meanwhile.
    task->ForEachError([&joined](const char* text) {
      if (joined.size() >= kJoinedTextLimit) return;
      if (!joined.empty()) joined += ' ';
      joined += text;
    });
  }
  // The display buffer holds 4095 bytes of text; cut without splitting a character.
  joined.resize(Utf8PrefixLength(joined.data(), joined.size(), kJoinedTextLimit));
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(joined));
  return ShowMessage(this, MessageIcon::Error, buttons, wide.c_str(), nullptr, false);
}

MessageResult tAppContext::ShowErrorsOK(tTaskContext* task) { return ShowErrors(task, MessageButtons::OK); }

void tAppContext::BeforeMessage() {}

void tAppContext::AfterMessage() {}

HWND tAppContext::GetOwnerWindow() const {
  tLockGuard guard(*this);
  return m_ownerWindow;
}

void tAppContext::SetOwnerWindow(HWND window) {
  tLockGuard guard(*this);
  m_ownerWindow = window;
}

MessageDisplayMode tAppContext::GetDisplayMode() const {
  tLockGuard guard(*this);
  return m_displayMode;
}

void tAppContext::SetDisplayMode(MessageDisplayMode mode) {
  tLockGuard guard(*this);
  m_displayMode = mode;
}

tAppContext g_AppContext("Quorvant Mod Launcher", nullptr, MessageDisplayMode::Default);
