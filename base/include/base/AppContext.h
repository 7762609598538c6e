#pragma once
// The application context and its message display: a task context that shows what it collects, the one place
// that asks the user (task dialog, message box or console prompt), and the fatal end of the process.
//
// Errors: every error added to a tAppContext is fatal (shown, then the process ends with kFatalExitCode);
// g_AppContext is the sink of start-up, the module registry and the patches. ShowMessage never fails: without
// anybody to answer it gives the answer that lets its caller fail.
// Locking: a context's own lock guards its owner window and display mode; a second lock keeps its messages one at
// a time and is never held together with the first while a message is up.
#include <cstdint>

#include <base/TaskContext.h>
#include <platform/win32types.h>

enum class MessageButtons : std::uint32_t {
  OK = 0,
  OKCancel = 1,
  OKClose = 2,
  YesNo = 3,
  YesClose = 4,
  YesNoCancel = 5,
  YesNoClose = 6,
  AbortRetryIgnore = 7,
  CloseRetryIgnore = 8,
  RetryCancel = 9,
  RetryClose = 10,
  Close = 11,
};

enum class MessageIcon : std::uint32_t {
  Error = 0,
  Warning = 1,
  Information = 2,
  None = 3,  // any value above 2 shows no icon
};

enum class MessageResult : std::uint32_t {
  OK = 0,
  Cancel = 1,
  Close = 2,
  Yes = 3,
  No = 4,
  Abort = 5,
  Retry = 6,
  Ignore = 7,
};

// How ShowMessage shows a message. Any value other than Console and
// ServiceMessageBox means a task dialog with a message-box fallback.
enum class MessageDisplayMode : std::uint32_t {
  InGame = 2,
  Console = 3,
  ServiceMessageBox = 5,
  Default = 6,
};

// Exit code of a process ended by a fatal error: the launcher reads 0 as
// "started". (A Close chosen in a prompt is the user's own wish to end the
// program and ends it with 0.)
constexpr std::uint32_t kFatalExitCode = 1;

// Ends the own process with kFatalExitCode.
[[noreturn]] void TerminateAfterFatalError();

class tAppContext;
// Called around every message box and task dialog (never around the console prompt).
using tMessageCallback = void (*)(tAppContext* context);
extern tMessageCallback g_BeforeMessageCallback;
extern tMessageCallback g_AfterMessageCallback;

class tAppContext : public tTaskContext {
 public:
  tAppContext(const char* title, HWND ownerWindow, MessageDisplayMode displayMode);

  // Fatal: collects the text, shows every message with the Close button and
  // ends the process with kFatalExitCode. Never returns.
  [[noreturn]] void AddError(const char* text) override;
  ~tAppContext() override;
  // Joins the task's messages with blanks and shows them as an error.
  virtual MessageResult ShowErrors(tTaskContext* task, MessageButtons buttons);
  virtual MessageResult ShowErrorsOK(tTaskContext* task);
  virtual void BeforeMessage();
  virtual void AfterMessage();

  // UTF-8 window title of task dialogs.
  const char* GetTitle() const { return m_title; }
  HWND GetOwnerWindow() const;
  void SetOwnerWindow(HWND window);
  MessageDisplayMode GetDisplayMode() const;
  void SetDisplayMode(MessageDisplayMode mode);

 private:
  friend MessageResult ShowMessage(tAppContext* context, MessageIcon icon, MessageButtons buttons,
                                   const char16_t* text, const char16_t* heading, bool forceMessageBox);

  char m_title[64];
  HWND m_ownerWindow;
  MessageDisplayMode m_displayMode;
  // Held while a message is up, so that messages appear one at a time. The context's own lock
  // is held only to read what a message needs: a dialog never keeps the getters waiting.
  tLockable m_messageLock;
};

// "Quorvant Mod Launcher", owner window 0, display mode 6.
extern tAppContext g_AppContext;

// Shows text (and an optional heading, not written in console mode) with a set
// of buttons, one message of a context at a time, and returns the answer. The
// context's lock is not held while the message is up (the owner window and the
// display mode can be changed meanwhile; the message uses what they were).
MessageResult ShowMessage(tAppContext* context, MessageIcon icon, MessageButtons buttons, const char16_t* text,
                          const char16_t* heading, bool forceMessageBox);

// Reads one character from standard input and discards the rest of its line.
// -1 at end of input.
int ReadConsoleAnswer();
