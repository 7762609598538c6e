#pragma once
// Error collectors of the game side and its one message display.
//
// Nothing here throws: every operation that can fail takes a task context and
// appends a message to it; the caller tests GetErrorCount() after each step and
// stops at the first non-zero count. g_AppContext is the sink of start-up, the
// module registry and the patches; every error that reaches it is fatal.
#include <cstdint>
#include <string>
#include <vector>

#include <platform/sync.h>
#include <platform/win32types.h>

// One recursive critical section; the lock of contexts, streams and audio
// instances. Deliberately without virtual operations.
class tLockable {
 public:
  tLockable();
  ~tLockable();
  tLockable(const tLockable&) = delete;
  tLockable& operator=(const tLockable&) = delete;

  void Lock() const;
  void Unlock() const;

 protected:
  mutable CRITICAL_SECTION m_lock;
};

// Holds a tLockable's lock for one scope.
class tLockGuard {
 public:
  explicit tLockGuard(const tLockable& lockable) : m_lockable(lockable) { m_lockable.Lock(); }
  ~tLockGuard() { m_lockable.Unlock(); }
  tLockGuard(const tLockGuard&) = delete;
  tLockGuard& operator=(const tLockGuard&) = delete;

 private:
  const tLockable& m_lockable;
};

// One collected message: UTF-8, at most kMaxErrorText bytes plus terminator.
struct tErrorEntry {
  static constexpr std::uint32_t kMaxErrorText = 1023;
  tErrorEntry* next;
  tErrorEntry* previous;
  char text[kMaxErrorText + 1];
};

class tTaskContext : public tLockable {
 public:
  tTaskContext();
  // Appends a copy of the text (cut at a character boundary to 1023 bytes).
  virtual void AddError(const char* text);
  virtual ~tTaskContext();

  tTaskContext(const tTaskContext&) = delete;
  tTaskContext& operator=(const tTaskContext&) = delete;

  // Zero means the task has not failed so far. The count only grows.
  std::uint32_t GetErrorCount() const;
  // Copies of the messages, oldest first.
  std::vector<std::string> GetErrors() const;
  // Walks the messages under this context's lock.
  template <typename F>
  void ForEachError(F&& visit) const {
    tLockGuard guard(*this);
    for (const tErrorEntry* entry = m_errorHead; entry != nullptr; entry = entry->next) visit(entry->text);
  }

 protected:
  void AppendError(const char* text);

  tErrorEntry* m_errorHead = nullptr;
  tErrorEntry* m_errorTail = nullptr;
  std::uint32_t m_errorCount = 0;
};

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
