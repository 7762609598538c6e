// The application context and its message display: what ShowMessage shows for each button set in each display
// mode and what every answer returns, callbacks, console answers, threads, ShowErrors and fatal errors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <base/AppContext.h>
#include <platform/dialogs.h>
#include <platform/testing/ScriptedDialogs.h>
#include <platform/text.h>

namespace {

using platform::testing::ScriptedDialogs;
using R = MessageResult;
using Kind = ScriptedDialogs::Kind;

struct ButtonSetRow {
  std::uint32_t set;
  int taskButtons;             // TDCBF_* shown by the task dialog
  UINT boxStyle;               // MB_* style of the message box
  std::u16string prompt;       // console prompt line
  std::map<int, R> taskResults;  // pressed button -> result
  R taskOther;
  std::map<int, R> boxResults;   // MessageBoxW answer -> result
  R boxOther;
  std::map<char16_t, R> consoleResults;  // lower-case answer letter -> result
  R consoleOther;
};

// Results of the message box for the sets without special rules.
const std::map<int, R> kPlainBox = {{IDOK, R::OK},       {IDYES, R::Yes},       {IDNO, R::No},
                                    {IDRETRY, R::Retry}, {IDABORT, R::Abort},   {IDIGNORE, R::Ignore}};

const std::vector<ButtonSetRow>& Rows() {
  static const std::vector<ButtonSetRow> rows = {
      {0, 1, MB_OK, u"[O]K\n", {{IDOK, R::OK}}, R::Cancel, kPlainBox, R::Cancel, {}, R::OK},
      {1, 9, MB_OKCANCEL, u"[O]K [C]ancel\n", {{IDOK, R::OK}}, R::Cancel, kPlainBox, R::Cancel, {{u'o', R::OK}},
       R::Cancel},
      {2, 33, MB_OKCANCEL, u"[O]K [C]lose\n", {{IDOK, R::OK}, {IDCLOSE, R::Close}}, R::Cancel, {{IDOK, R::OK}},
       R::Close, {{u'o', R::OK}}, R::Close},
      {3, 6, MB_YESNO, u"[Y]es [N]o\n", {{IDYES, R::Yes}, {IDNO, R::No}}, R::Cancel, kPlainBox, R::Cancel,
       {{u'y', R::Yes}}, R::No},
      {4, 34, MB_OKCANCEL, u"[Y]es [C]lose\n", {{IDYES, R::Yes}, {IDCLOSE, R::Close}}, R::Cancel,
       {{IDOK, R::Yes}}, R::Close, {{u'y', R::Yes}}, R::Close},
      {5, 14, MB_YESNOCANCEL, u"[Y]es [N]o [C]ancel\n", {{IDYES, R::Yes}, {IDNO, R::No}}, R::Cancel, kPlainBox,
       R::Cancel, {{u'y', R::Yes}, {u'c', R::Cancel}}, R::No},
      {6, 38, MB_YESNOCANCEL, u"[Y]es [N]o [C]lose\n", {{IDYES, R::Yes}, {IDNO, R::No}, {IDCLOSE, R::Close}},
       R::Cancel, {{IDYES, R::Yes}, {IDNO, R::No}}, R::Close, {{u'y', R::Yes}, {u'c', R::Close}}, R::No},
      {7, 25, MB_ABORTRETRYIGNORE, u"[A]bort [R]etry [I]gnore\n", {{IDOK, R::Ignore}, {IDRETRY, R::Retry}},
       R::Abort, kPlainBox, R::Cancel, {{u'a', R::Abort}, {u'r', R::Retry}}, R::Ignore},
      {8, 49, MB_ABORTRETRYIGNORE, u"[C]lose [R]etry [I]gnore\n", {{IDOK, R::Ignore}, {IDRETRY, R::Retry}},
       R::Close, {{IDRETRY, R::Retry}, {IDIGNORE, R::Ignore}}, R::Close, {{u'c', R::Close}, {u'r', R::Retry}},
       R::Ignore},
      {9, 24, MB_RETRYCANCEL, u"[R]etry [C]ancel\n", {{IDRETRY, R::Retry}}, R::Cancel, kPlainBox, R::Cancel,
       {{u'r', R::Retry}}, R::Cancel},
      {10, 48, MB_RETRYCANCEL, u"[R]etry [C]lose\n", {{IDRETRY, R::Retry}, {IDCLOSE, R::Close}}, R::Cancel,
       {{IDRETRY, R::Retry}}, R::Close, {{u'r', R::Retry}}, R::Close},
      {11, 32, MB_OK, u"[C]lose\n", {{IDCLOSE, R::Close}}, R::Cancel, {}, R::Close, {}, R::Close},
      // Every set beyond the table behaves as set 0.
      {12, 1, MB_OK, u"[O]K\n", {{IDOK, R::OK}}, R::Cancel, kPlainBox, R::Cancel, {}, R::OK},
  };
  return rows;
}

enum class Mode { TaskDialog, MessageBox, Console };

const int kEveryAnswer[] = {0, IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDCLOSE, IDHELP};
const char16_t kEveryLetter[] = u"oycnarix";

template <typename K>
R Expected(const std::map<K, R>& table, K key, R other) {
  auto found = table.find(key);
  return found != table.end() ? found->second : other;
}

class ButtonSetTable : public ::testing::TestWithParam<std::tuple<std::size_t, Mode>> {
 protected:
  const ButtonSetRow& Row() const { return Rows()[std::get<0>(GetParam())]; }
  Mode DisplayMode() const { return std::get<1>(GetParam()); }
  HWND Owner() const { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234)); }

  ScriptedDialogs dialogs_;
};

TEST_P(ButtonSetTable, ShowsTheSetAndMapsEveryAnswer) {
  const ButtonSetRow& row = Row();
  const auto buttons = static_cast<MessageButtons>(row.set);
  switch (DisplayMode()) {
    case Mode::TaskDialog: {
      tAppContext context("Test Title \xC3\xA9", Owner(), MessageDisplayMode::Default);
      for (int pressed : kEveryAnswer) {
        SCOPED_TRACE(pressed);
        dialogs_.ClearCalls();
        dialogs_.QueueTaskDialog(pressed);
        EXPECT_EQ(ShowMessage(&context, MessageIcon::Warning, buttons, u"Body", u"Head", false),
                  Expected(row.taskResults, pressed, row.taskOther));
        auto calls = dialogs_.CallsOf(Kind::TaskDialog);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(dialogs_.DialogCount(), 1u);
        const auto& shown = calls[0];
        EXPECT_EQ(shown.config.cbSize, 96u);
        EXPECT_EQ(shown.config.dwCommonButtons, row.taskButtons);
        EXPECT_EQ(shown.config.dwFlags, TDF_SIZE_TO_CONTENT);
        EXPECT_EQ(shown.config.hwndParent, Owner());
        EXPECT_EQ(shown.config.cButtons, 0u);
        EXPECT_EQ(shown.config.cRadioButtons, 0u);
        EXPECT_EQ(shown.config.pfCallback, nullptr);
        EXPECT_EQ(shown.mainIcon, reinterpret_cast<std::uintptr_t>(TD_WARNING_ICON));
        EXPECT_EQ(shown.windowTitle, u"Test Title \u00e9");
        EXPECT_EQ(shown.mainInstruction, u"Head");
        EXPECT_EQ(shown.content, u"Body");
      }
      break;
    }
    case Mode::MessageBox: {
      tAppContext context("Test Title", Owner(), MessageDisplayMode::Default);
      for (int answer : kEveryAnswer) {
        SCOPED_TRACE(answer);
        dialogs_.ClearCalls();
        dialogs_.QueueMessageBox(answer);
        EXPECT_EQ(ShowMessage(&context, MessageIcon::Information, buttons, u"Body", u"Head", true),
                  Expected(row.boxResults, answer, row.boxOther));
        auto calls = dialogs_.CallsOf(Kind::MessageBox);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(dialogs_.DialogCount(), 1u);
        EXPECT_EQ(calls[0].type, row.boxStyle | MB_ICONINFORMATION);
        EXPECT_EQ(calls[0].text, u"Body");
        EXPECT_EQ(calls[0].caption, u"Head");
        EXPECT_EQ(calls[0].owner, Owner());
      }
      break;
    }
    case Mode::Console: {
      tAppContext context("Test Title", Owner(), MessageDisplayMode::Console);
      std::vector<std::u16string> answers;
      for (const char16_t* letter = kEveryLetter; *letter != 0; ++letter) {
        answers.push_back(std::u16string(1, *letter) + u"\n");
        answers.push_back(std::u16string(1, char16_t(*letter - 32)) + u"es, trailing words\n");
      }
      for (const std::u16string& answer : answers) {
        SCOPED_TRACE(std::string(answer.begin(), answer.end()));
        dialogs_.ClearCalls();
        dialogs_.QueueConsoleInput(answer);
        const char16_t letter = char16_t(answer[0] | 0x20);
        EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, buttons, u"Body", u"Head", false),
                  Expected(row.consoleResults, letter, row.consoleOther));
        EXPECT_EQ(dialogs_.ConsoleOutput(), u"Body\n" + row.prompt);
        EXPECT_EQ(dialogs_.DialogCount(), 0u);
      }
      // The whole answer line is consumed, nothing more.
      dialogs_.ClearCalls();
      dialogs_.QueueConsoleInput(u"x\n");
      ShowMessage(&context, MessageIcon::Error, buttons, u"Body", nullptr, false);
      EXPECT_EQ(dialogs_.CallsOf(Kind::ConsoleRead).size(), 2u);
      // End of input gives the fallback at once.
      dialogs_.ClearCalls();
      EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, buttons, u"Body", nullptr, false), row.consoleOther);
      EXPECT_EQ(dialogs_.CallsOf(Kind::ConsoleRead).size(), 1u);
      break;
    }
  }
}

std::string RowName(const ::testing::TestParamInfo<ButtonSetTable::ParamType>& info) {
  static const char* kModes[] = {"TaskDialog", "MessageBox", "Console"};
  return "Set" + std::to_string(Rows()[std::get<0>(info.param)].set) + "_" +
         kModes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(AllSets, ButtonSetTable,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 13),
                                            ::testing::Values(Mode::TaskDialog, Mode::MessageBox, Mode::Console)),
                         RowName);

// Counts the callbacks and hooks around a message.
struct CallbackLog {
  static inline std::vector<std::string> events;
  static void Before(tAppContext*) { events.push_back("before-callback"); }
  static void After(tAppContext*) { events.push_back("after-callback"); }
};

class HookedContext : public tAppContext {
 public:
  explicit HookedContext(MessageDisplayMode mode) : tAppContext("Hooked", nullptr, mode) {}
  void BeforeMessage() override { CallbackLog::events.push_back("before-hook"); }
  void AfterMessage() override { CallbackLog::events.push_back("after-hook"); }
};

class ShowMessageCallbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    CallbackLog::events.clear();
    g_BeforeMessageCallback = &CallbackLog::Before;
    g_AfterMessageCallback = &CallbackLog::After;
  }
  void TearDown() override {
    g_BeforeMessageCallback = nullptr;
    g_AfterMessageCallback = nullptr;
  }
  ScriptedDialogs dialogs_;
};

TEST_F(ShowMessageCallbacks, TaskDialogIsFramedByCallbackThenHook) {
  HookedContext context(MessageDisplayMode::InGame);
  dialogs_.QueueTaskDialog(IDOK);
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::OK, u"t", nullptr, false), R::OK);
  EXPECT_EQ(CallbackLog::events,
            (std::vector<std::string>{"before-callback", "before-hook", "after-callback", "after-hook"}));
  ASSERT_EQ(dialogs_.CallsOf(Kind::TaskDialog).size(), 1u);
  EXPECT_FALSE(dialogs_.CallsOf(Kind::TaskDialog)[0].hasMainInstruction);
}

TEST_F(ShowMessageCallbacks, FailedTaskDialogFallsBackToMessageBoxWithBalancedCalls) {
  HookedContext context(MessageDisplayMode::Default);
  dialogs_.QueueTaskDialogFailure(E_FAIL);
  dialogs_.QueueMessageBox(IDRETRY);
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::CloseRetryIgnore, u"text", u"head", false),
            R::Retry);
  auto calls = dialogs_.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].kind, Kind::TaskDialog);
  EXPECT_EQ(calls[1].kind, Kind::MessageBox);
  EXPECT_EQ(calls[1].type, MB_ABORTRETRYIGNORE | MB_ICONERROR);  // no service notification outside mode 5
  EXPECT_EQ(calls[1].text, u"text");
  EXPECT_EQ(CallbackLog::events,
            (std::vector<std::string>{"before-callback", "before-hook", "after-callback", "after-hook",
                                      "before-callback", "before-hook", "after-callback", "after-hook"}));
}

TEST_F(ShowMessageCallbacks, ServiceModeNeverTriesATaskDialog) {
  HookedContext context(MessageDisplayMode::ServiceMessageBox);
  dialogs_.QueueTaskDialog(IDOK);  // would be taken if a task dialog were tried
  dialogs_.QueueMessageBox(IDYES);
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Warning, MessageButtons::YesNo, u"q", nullptr, false), R::Yes);
  auto calls = dialogs_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, Kind::MessageBox);
  EXPECT_EQ(calls[0].type, MB_YESNO | MB_ICONWARNING | MB_SERVICE_NOTIFICATION);
  EXPECT_EQ(CallbackLog::events,
            (std::vector<std::string>{"before-callback", "before-hook", "after-callback", "after-hook"}));
}

TEST_F(ShowMessageCallbacks, ConsoleModeCallsNoCallbacksAndWritesNoHeading) {
  HookedContext context(MessageDisplayMode::Console);
  dialogs_.QueueConsoleInput(u"y\n");
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Warning, MessageButtons::YesNo, u"Question?", u"Heading", false),
            R::Yes);
  EXPECT_TRUE(CallbackLog::events.empty());
  EXPECT_EQ(dialogs_.ConsoleOutput(), u"Question?\n[Y]es [N]o\n");
}

TEST(ShowMessageConsole, EmptyLineIsNotAnAnswerAndConsumesTheNextLine) {
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, MessageDisplayMode::Console);
  dialogs.QueueConsoleInput(u"\ny\ny\n");
  // The newline is the answer (fallback No); the "y" line after it is swallowed.
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::YesNo, u"?", nullptr, false), R::No);
  // The third line is still there for the next prompt.
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::YesNo, u"?", nullptr, false), R::Yes);
}

TEST(ShowMessageConsole, EndOfInputInsideALineStillAnswers) {
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, MessageDisplayMode::Console);
  dialogs.QueueConsoleInput(u"r");  // no newline before the end of input
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::RetryClose, u"?", nullptr, false), R::Retry);
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::RetryClose, u"?", nullptr, false), R::Close);
}

TEST(ShowMessageIcons, EachIconMapsToItsDialogAndBoxIcon) {
  struct {
    std::uint32_t icon;
    LPCWSTR taskIcon;
    UINT boxIcon;
  } const cases[] = {{0, TD_ERROR_ICON, MB_ICONERROR},
                     {1, TD_WARNING_ICON, MB_ICONWARNING},
                     {2, TD_INFORMATION_ICON, MB_ICONINFORMATION},
                     {3, nullptr, 0},
                     {77, nullptr, 0}};
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, MessageDisplayMode::Default);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.icon);
    dialogs.ClearCalls();
    dialogs.QueueTaskDialog(IDOK);
    dialogs.QueueMessageBox(IDOK);
    ShowMessage(&context, static_cast<MessageIcon>(c.icon), MessageButtons::OK, u"x", nullptr, false);
    ShowMessage(&context, static_cast<MessageIcon>(c.icon), MessageButtons::OK, u"x", nullptr, true);
    auto calls = dialogs.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].mainIcon, reinterpret_cast<std::uintptr_t>(c.taskIcon));
    EXPECT_EQ(calls[1].type, MB_OK | c.boxIcon);
  }
}

// Messages of one context appear one at a time, whichever threads show them.
TEST(ShowMessageConcurrency, OneContextShowsOneMessageAtATime) {
  struct Overlap : ScriptedDialogs {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> shown{0};
    HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
      const int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      --inside;
      ++shown;
      return ScriptedDialogs::TaskDialog(config, pressed);
    }
  } dialogs;
  dialogs.SetDefaultTaskDialogButton(IDOK);
  tAppContext context("T", nullptr, MessageDisplayMode::Default);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&context] {
      for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ShowMessage(&context, MessageIcon::Information, MessageButtons::OK, u"m", nullptr, false), R::OK);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(dialogs.shown.load(), 20);
  EXPECT_EQ(dialogs.most.load(), 1);
}

// With nobody left to answer (a headless run, a closed standard input) no prompt answers Close on
// nobody's behalf: each gives what lets its caller fail, as the console prompt does.
TEST(ShowMessageDeathTest, EndOfInputNeverAnswersClose) {
  const struct {
    MessageButtons buttons;
    R expected;
  } cases[] = {{MessageButtons::CloseRetryIgnore, R::Ignore},
               {MessageButtons::YesNoClose, R::No},
               {MessageButtons::AbortRetryIgnore, R::Ignore}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.buttons));
    EXPECT_EXIT(
        {
          if (std::freopen("/dev/null", "r", stdin) == nullptr) std::exit(EXIT_FAILURE);
          tAppContext context("T", nullptr, MessageDisplayMode::Default);
          std::exit(static_cast<int>(ShowMessage(&context, MessageIcon::Error, c.buttons, u"m", nullptr, false)));
        },
        ::testing::ExitedWithCode(static_cast<int>(c.expected)), "");
  }
}

// A dialog up on one thread keeps no other thread from the context's settings: with a real window
// system the game thread that owns the dialog's window would otherwise wait for the dialog forever.
TEST(ShowMessageConcurrency, SettingsStayReachableWhileADialogIsUp) {
  struct Held : ScriptedDialogs {
    std::promise<void> up;
    std::promise<void> settingsDone;
    bool reachedInTime = false;
    HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
      up.set_value();
      reachedInTime = settingsDone.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
      return ScriptedDialogs::TaskDialog(config, pressed);
    }
  } dialogs;
  dialogs.SetDefaultTaskDialogButton(IDOK);
  tAppContext context("T", nullptr, MessageDisplayMode::Default);
  std::thread shower(
      [&context] { ShowMessage(&context, MessageIcon::Information, MessageButtons::OK, u"m", nullptr, false); });
  dialogs.up.get_future().wait();
  context.SetOwnerWindow(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234)));
  context.SetDisplayMode(MessageDisplayMode::InGame);
  EXPECT_EQ(context.GetDisplayMode(), MessageDisplayMode::InGame);
  dialogs.settingsDone.set_value();
  shower.join();
  EXPECT_TRUE(dialogs.reachedInTime);
}

// ---------------------------------------------------------------------------
// ShowErrors and the application context

class ShowErrorsTest : public ::testing::Test {
 protected:
  ScriptedDialogs dialogs_;
  tAppContext app_{"App", nullptr, MessageDisplayMode::Default};

  std::u16string ShownText() {
    auto calls = dialogs_.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    return calls.empty() ? u"<nothing>" : calls.back().content;
  }
};

// The joined text: one blank between messages, put in only when something is already there.
TEST_F(ShowErrorsTest, MessagesAreJoinedWithOneBlankAsAnError) {
  const struct {
    std::vector<const char*> messages;
    std::u16string shown;
  } cases[] = {{{}, u""},
               {{"a", "b", "\xC3\xA9t\xC3\xA9"}, u"a b \u00e9t\u00e9"},
               {{"", "b"}, u"b"},
               {{"a", "", "b"}, u"a  b"},
               {{"a", ""}, u"a "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messages.size());
    tTaskContext task;
    for (const char* message : c.messages) task.AddError(message);
    dialogs_.QueueTaskDialog(IDRETRY);
    EXPECT_EQ(app_.ShowErrors(&task, MessageButtons::RetryCancel), MessageResult::Retry);
    EXPECT_EQ(ShownText(), c.shown);
    auto call = dialogs_.CallsOf(ScriptedDialogs::Kind::TaskDialog).back();
    EXPECT_EQ(call.mainIcon, reinterpret_cast<std::uintptr_t>(TD_ERROR_ICON));
    EXPECT_FALSE(call.hasMainInstruction);
    EXPECT_EQ(call.config.dwCommonButtons, TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON);
  }
  tTaskContext task;
  dialogs_.QueueTaskDialog(IDOK);
  EXPECT_EQ(app_.ShowErrorsOK(&task), MessageResult::OK);
  EXPECT_EQ(dialogs_.CallsOf(ScriptedDialogs::Kind::TaskDialog).back().config.dwCommonButtons, TDCBF_OK_BUTTON);
}

TEST_F(ShowErrorsTest, JoinedTextIsBoundedWithoutSplittingACharacter) {
  tTaskContext task;
  for (int i = 0; i < 10; ++i) task.AddError(std::string(1000, 'z').c_str());
  // Runs of two-byte characters after 3003 bytes, so the cut lands inside one.
  std::string accents;
  for (int i = 0; i < 511; ++i) accents += "\xC3\xA9";
  tTaskContext mixed;
  for (int i = 0; i < 3; ++i) mixed.AddError(std::string(1000, 'y').c_str());
  mixed.AddError(accents.c_str());
  mixed.AddError(accents.c_str());

  dialogs_.QueueTaskDialog(IDOK);
  app_.ShowErrorsOK(&task);
  const std::u16string shown = ShownText();
  EXPECT_EQ(shown.size(), 4095u);
  EXPECT_EQ(shown.substr(0, 1001), std::u16string(1000, u'z') + u" ");

  dialogs_.QueueTaskDialog(IDOK);
  app_.ShowErrorsOK(&mixed);
  const std::string utf8 = text::Utf16ToUtf8(ShownText());
  EXPECT_LE(utf8.size(), 4095u);
  EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos);  // no broken character
  EXPECT_EQ(utf8.size(), 4094u);  // 4095 would end inside a character
}

TEST_F(ShowErrorsTest, JoinWaitsForTheTasksLock) {
  tTaskContext task;
  task.AddError("first");
  std::atomic<bool> shown{false};
  task.Lock();
  std::thread shower([&] {
    app_.ShowErrorsOK(&task);
    shown = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(shown.load());
  task.AddError("second");  // re-entered on the owning thread
  task.Unlock();
  shower.join();
  EXPECT_TRUE(shown.load());
  EXPECT_EQ(ShownText(), u"first second");
}

TEST(AppContext, GlobalContextStartsWithItsTitleAndMode) {
  EXPECT_STREQ(g_AppContext.GetTitle(), "Quorvant Mod Launcher");
  EXPECT_EQ(g_AppContext.GetOwnerWindow(), nullptr);
  EXPECT_EQ(g_AppContext.GetDisplayMode(), MessageDisplayMode::Default);
  EXPECT_EQ(g_AppContext.GetErrorCount(), 0u);
}

TEST(AppContext, OverlongTitleIsCut) {
  tAppContext context(std::string(100, 't').c_str(), nullptr, MessageDisplayMode::Default);
  EXPECT_EQ(std::string(context.GetTitle()), std::string(63, 't'));
}

// The launcher reads exit code 0 as "started": a fatal error must never end with it.
TEST(AppContextDeathTest, GlobalContextErrorExitsWithCodeOne) {
  EXPECT_EXIT(
      {
        ScriptedDialogs dialogs;
        dialogs.QueueTaskDialog(IDCLOSE);
        g_AppContext.AddError("fatal");
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(AppContextDeathTest, ShownTextAndButtonsOfAFatalError) {
  // The message is written before the process ends; the prompt offers Close only.
  EXPECT_EXIT(
      {
        struct Echo : ScriptedDialogs {
          void ConsoleWrite(std::u16string_view text) override {
            std::fputs(text::Utf16ToUtf8(text).c_str(), stderr);
          }
        } dialogs;
        tAppContext context("App", nullptr, MessageDisplayMode::Console);
        context.AddError("one");
        context.AddError("two");  // never reached
      },
      ::testing::ExitedWithCode(1), "one\n\\[C\\]lose\n");
}

TEST(AppContextDeathTest, TerminateAfterFatalErrorUsesCodeOne) {
  EXPECT_EXIT(TerminateAfterFatalError(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
