#pragma once
// A dialog backend for tests: it records every call and answers from queues.
//
// Usage:
//   platform::testing::ScriptedDialogs dialogs;      // installs itself
//   dialogs.QueueTaskDialog(IDRETRY);                // next task dialog: Retry pressed
//   dialogs.QueueMessageBox(IDYES);                  // next message box: Yes
//   dialogs.QueueConsoleInput(u"y\n");               // characters for ConsoleReadChar
//   ... code under test ...
//   ASSERT_EQ(dialogs.Calls().size(), 1u);
//   EXPECT_EQ(dialogs.Calls()[0].content, u"...");   // TASKDIALOGCONFIG texts are copied
//   EXPECT_EQ(dialogs.ConsoleOutput(), u"...\n[O]K\n");
// The destructor puts back the backend that was installed before.
//
// With an empty queue: a message box answers DefaultMessageBoxAnswer (IDCANCEL),
// a task dialog answers S_OK with DefaultTaskDialogButton (IDCANCEL), and
// ConsoleReadChar gives -1 (end of input). QueueTaskDialogFailure makes the next
// task dialog fail with the given code (callers then fall back to a message box).
// All members are safe to use from several threads.
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <platform/dialogs.h>

namespace platform::testing {

class ScriptedDialogs : public IDialogBackend {
 public:
  enum class Kind { MessageBox, TaskDialog, ConsoleWrite, ConsoleRead };

  struct Call {
    Kind kind = Kind::MessageBox;
    // MessageBox: text, caption, type and owner. ConsoleWrite: text.
    HWND owner = nullptr;
    std::u16string text;
    std::u16string caption;
    UINT type = 0;
    // TaskDialog: the configuration as passed (its pointers are only valid during
    // the call) and copies of its texts. The main icon is kept as its numeric value
    // (TD_ERROR_ICON is 0xFFFE, and so on).
    TASKDIALOGCONFIG config{};
    std::u16string windowTitle;
    std::u16string mainInstruction;
    std::u16string content;
    std::uintptr_t mainIcon = 0;
    bool hasMainInstruction = false;
    // ConsoleRead: the character given (-1 at the end of input).
    int character = -1;
  };

  ScriptedDialogs() { previous_ = SetDialogBackend(this); }
  ~ScriptedDialogs() override { SetDialogBackend(previous_); }
  ScriptedDialogs(const ScriptedDialogs&) = delete;
  ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

  void QueueMessageBox(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    messageBoxAnswers_.push_back(answer);
  }
  void QueueTaskDialog(int pressedButton) {
    std::lock_guard<std::mutex> lock(mutex_);
    taskDialogAnswers_.push_back({S_OK, pressedButton});
  }
  void QueueTaskDialogFailure(HRESULT failure = E_FAIL) {
    std::lock_guard<std::mutex> lock(mutex_);
    taskDialogAnswers_.push_back({failure, 0});
  }
  void QueueConsoleInput(std::u16string_view input) {
    std::lock_guard<std::mutex> lock(mutex_);
    consoleInput_.insert(consoleInput_.end(), input.begin(), input.end());
  }
  void SetDefaultMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultMessageBox_ = answer;
  }
  void SetDefaultTaskDialogButton(int button) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultTaskDialog_ = button;
  }

  // Every call so far, in order (console reads included).
  std::vector<Call> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // Only the calls of one kind.
  std::vector<Call> CallsOf(Kind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> result;
    for (const Call& call : calls_)
      if (call.kind == kind) result.push_back(call);
    return result;
  }
  // Number of message boxes and task dialogs shown.
  std::size_t DialogCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t count = 0;
    for (const Call& call : calls_)
      if (call.kind == Kind::MessageBox || call.kind == Kind::TaskDialog) ++count;
    return count;
  }
  // Everything written with ConsoleWrite, joined.
  std::u16string ConsoleOutput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return consoleOutput_;
  }
  // Forgets the recorded calls and output (queued answers stay).
  void ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    consoleOutput_.clear();
  }

  int MessageBox(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call;
    call.kind = Kind::MessageBox;
    call.owner = owner;
    call.text = std::u16string(text);
    call.caption = std::u16string(caption);
    call.type = type;
    calls_.push_back(std::move(call));
    if (messageBoxAnswers_.empty()) return defaultMessageBox_;
    int answer = messageBoxAnswers_.front();
    messageBoxAnswers_.pop_front();
    return answer;
  }

  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressedButton) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call;
    call.kind = Kind::TaskDialog;
    call.owner = config.hwndParent;
    call.config = config;
    call.windowTitle = Copy(config.pszWindowTitle);
    call.hasMainInstruction = IsText(config.pszMainInstruction);
    call.mainInstruction = Copy(config.pszMainInstruction);
    call.content = Copy(config.pszContent);
    call.mainIcon = reinterpret_cast<std::uintptr_t>(config.pszMainIcon);
    calls_.push_back(std::move(call));
    TaskAnswer answer{S_OK, defaultTaskDialog_};
    if (!taskDialogAnswers_.empty()) {
      answer = taskDialogAnswers_.front();
      taskDialogAnswers_.pop_front();
    }
    if (answer.result == S_OK && pressedButton != nullptr) *pressedButton = answer.button;
    return answer.result;
  }

  void ConsoleWrite(std::u16string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call;
    call.kind = Kind::ConsoleWrite;
    call.text = std::u16string(text);
    calls_.push_back(std::move(call));
    consoleOutput_.append(text);
  }

  int ConsoleReadChar() override {
    std::lock_guard<std::mutex> lock(mutex_);
    int character = -1;
    if (!consoleInput_.empty()) {
      character = consoleInput_.front();
      consoleInput_.pop_front();
    }
    Call call;
    call.kind = Kind::ConsoleRead;
    call.character = character;
    calls_.push_back(std::move(call));
    return character;
  }

 private:
  struct TaskAnswer {
    HRESULT result;
    int button;
  };

  // Resource-number "strings" (values below 0x10000) are not text.
  static bool IsText(LPCWSTR s) { return reinterpret_cast<std::uintptr_t>(s) >= 0x10000; }
  static std::u16string Copy(LPCWSTR s) { return IsText(s) ? std::u16string(s) : std::u16string(); }

  mutable std::mutex mutex_;
  IDialogBackend* previous_ = nullptr;
  std::vector<Call> calls_;
  std::u16string consoleOutput_;
  std::deque<int> messageBoxAnswers_;
  std::deque<TaskAnswer> taskDialogAnswers_;
  std::deque<char16_t> consoleInput_;
  int defaultMessageBox_ = IDCANCEL;
  int defaultTaskDialog_ = IDCANCEL;
};

}  // namespace platform::testing
