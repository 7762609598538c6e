// The application context and its message display: what ShowMessage shows for each button set in each display
// mode and what every answer returns, callbacks, console answers, threads, ShowErrors and fatal errors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <string_view>
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
using Strings = std::vector<std::string>;

const HWND kOwner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));

MessageResult Show(tAppContext* context, MessageButtons buttons, MessageIcon icon = MessageIcon::Error,
                   const char16_t* heading = nullptr, bool forceMessageBox = false) {
  return ShowMessage(context, icon, buttons, u"Body", heading, forceMessageBox);
}

// Results as letters: O(K) C(ancel) (C)L(ose) Y(es) N(o) A(bort) R(etry) I(gnore), in MessageResult order.
R Result(char letter) { return static_cast<R>(std::string_view("OCLYNARI").find(letter)); }

// Per button set: task dialog buttons (TDCBF_*), message box style, console prompt line, then the result of each
// answer 0 to IDHELP from the task dialog and from the message box, and of each console letter of "oycnarix" (the
// last, no letter of any prompt, is also the end of input).
TEST(ShowMessage, EveryButtonSetInEveryModeMapsEveryAnswer) {
  const struct {
    std::uint32_t set;
    int taskButtons;
    UINT boxStyle;
    std::u16string prompt;
    std::string_view task, box, console;
  } rows[] = {
      {0, 1, MB_OK, u"[O]K", "COCCCCCCCC", "COCARIYNCC", "OOOOOOOO"},
      {1, 9, MB_OKCANCEL, u"[O]K [C]ancel", "COCCCCCCCC", "COCARIYNCC", "OCCCCCCC"},
      {2, 33, MB_OKCANCEL, u"[O]K [C]lose", "COCCCCCCLC", "LOLLLLLLLL", "OLLLLLLL"},
      {3, 6, MB_YESNO, u"[Y]es [N]o", "CCCCCCYNCC", "COCARIYNCC", "NYNNNNNN"},
      {4, 34, MB_OKCANCEL, u"[Y]es [C]lose", "CCCCCCYCLC", "LYLLLLLLLL", "LYLLLLLL"},
      {5, 14, MB_YESNOCANCEL, u"[Y]es [N]o [C]ancel", "CCCCCCYNCC", "COCARIYNCC", "NYCNNNNN"},
      {6, 38, MB_YESNOCANCEL, u"[Y]es [N]o [C]lose", "CCCCCCYNLC", "LLLLLLYNLL", "NYLNNNNN"},
      {7, 25, MB_ABORTRETRYIGNORE, u"[A]bort [R]etry [I]gnore", "AIAARAAAAA", "COCARIYNCC", "IIIIARII"},
      {8, 49, MB_ABORTRETRYIGNORE, u"[C]lose [R]etry [I]gnore", "LILLRLLLLL", "LLLLRILLLL", "IILIIRII"},
      {9, 24, MB_RETRYCANCEL, u"[R]etry [C]ancel", "CCCCRCCCCC", "COCARIYNCC", "CCCCCRCC"},
      {10, 48, MB_RETRYCANCEL, u"[R]etry [C]lose", "CCCCRCCCLC", "LLLLRLLLLL", "LLLLLRLL"},
      {11, 32, MB_OK, u"[C]lose", "CCCCCCCCLC", "LLLLLLLLLL", "LLLLLLLL"},
      {12, 1, MB_OK, u"[O]K", "COCCCCCCCC", "COCARIYNCC", "OOOOOOOO"},  // every set beyond the table is set 0
  };
  // Icons by row, in turn: each value's task dialog and message box icon (none above 2).
  const std::tuple<std::uint32_t, LPCWSTR, UINT> icons[] = {
      {0, TD_ERROR_ICON, MB_ICONERROR}, {1, TD_WARNING_ICON, MB_ICONWARNING},
      {2, TD_INFORMATION_ICON, MB_ICONINFORMATION}, {3, nullptr, 0}, {77, nullptr, 0}};
  ScriptedDialogs dialogs;
  tAppContext dialog("Test Title \xC3\xA9", kOwner, MessageDisplayMode::Default);
  tAppContext console("Test Title", kOwner, MessageDisplayMode::Console);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.set);
    const auto buttons = static_cast<MessageButtons>(row.set);
    const auto& [iconValue, taskIcon, boxIcon] = icons[row.set % std::size(icons)];
    const auto icon = static_cast<MessageIcon>(iconValue);
    for (int answer = 0; answer <= IDHELP; ++answer) {
      SCOPED_TRACE(answer);
      dialogs.ClearCalls();
      dialogs.QueueTaskDialog(answer);
      dialogs.QueueMessageBox(answer);
      EXPECT_EQ(Show(&dialog, buttons, icon, u"Head"), Result(row.task[answer]));
      EXPECT_EQ(Show(&dialog, buttons, icon, u"Head", true), Result(row.box[answer]));
      const auto calls = dialogs.Calls();
      ASSERT_EQ(calls.size(), 2u);
      const TASKDIALOGCONFIG& shown = calls[0].config;
      EXPECT_EQ((std::tuple{shown.cbSize, shown.dwCommonButtons, shown.dwFlags, shown.hwndParent, shown.cButtons,
                            shown.cRadioButtons, shown.pfCallback == nullptr, calls[0].mainIcon}),
                (std::tuple{96u, row.taskButtons, TDF_SIZE_TO_CONTENT, kOwner, 0u, 0u, true,
                            reinterpret_cast<std::uintptr_t>(taskIcon)}));
      EXPECT_EQ(calls[0].windowTitle + u"|" + calls[0].mainInstruction + u"|" + calls[0].content,
                u"Test Title \u00e9|Head|Body");
      EXPECT_EQ((std::tuple{calls[1].kind, calls[1].type, calls[1].text, calls[1].caption, calls[1].owner}),
                (std::tuple{Kind::MessageBox, row.boxStyle | boxIcon, u"Body", u"Head", kOwner}));
    }
    // Console: the first letter of the line answers, in either case; the whole line is read, nothing more.
    for (std::size_t i = 0; i < row.console.size(); ++i)
      for (const std::u16string& line : {std::u16string(1, u"oycnarix"[i]) + u"\n",
                                         char16_t(u"OYCNARIX"[i]) + std::u16string(u"es, more\n")}) {
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        dialogs.ClearCalls();
        dialogs.QueueConsoleInput(line);
        EXPECT_EQ(Show(&console, buttons, MessageIcon::Error, u"Head"), Result(row.console[i]));
        EXPECT_EQ(
            (std::tuple{dialogs.ConsoleOutput(), dialogs.CallsOf(Kind::ConsoleRead).size(), dialogs.DialogCount()}),
            (std::tuple{u"Body\n" + row.prompt + u"\n", line.size(), 0u}));
      }
    // End of input gives the fallback at once.
    dialogs.ClearCalls();
    EXPECT_EQ((std::tuple{Show(&console, buttons), dialogs.CallsOf(Kind::ConsoleRead).size()}),
              (std::tuple{Result(row.console.back()), 1u}));
  }
}

// An empty line is an answer (the fallback) and takes the line after it; an answer cut by the end of input counts.
TEST(ShowMessage, ConsoleLinesAndTheEndOfInput) {
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, MessageDisplayMode::Console);
  dialogs.QueueConsoleInput(u"\ny\ny\nr");
  EXPECT_EQ((std::tuple{Show(&context, MessageButtons::YesNo), Show(&context, MessageButtons::YesNo),
                        Show(&context, MessageButtons::RetryClose), Show(&context, MessageButtons::RetryClose)}),
            (std::tuple{R::No, R::Yes, R::Retry, R::Close}));
}

// Records the callbacks and hooks around a message.
Strings g_events;

class HookedContext : public tAppContext {
 public:
  explicit HookedContext(MessageDisplayMode mode) : tAppContext("Hooked", nullptr, mode) {
    g_events.clear();
    g_BeforeMessageCallback = [](tAppContext*) { g_events.push_back("before-callback"); };
    g_AfterMessageCallback = [](tAppContext*) { g_events.push_back("after-callback"); };
  }
  ~HookedContext() override { g_BeforeMessageCallback = g_AfterMessageCallback = nullptr; }
  void BeforeMessage() override { g_events.push_back("before-hook"); }
  void AfterMessage() override { g_events.push_back("after-hook"); }
};

// Each dialog is framed by callback then hook: a failed task dialog falls back to a message box (no service
// notification outside the service mode), which the service mode shows at once; the console calls nothing and
// writes no heading.
TEST(ShowMessage, DialogsAreFramedByCallbacksAndHooks) {
  const Strings framed = {"before-callback", "before-hook", "after-callback", "after-hook"};
  const struct {
    MessageDisplayMode mode;
    std::function<void(ScriptedDialogs&)> queue;
    std::vector<Kind> shown;
    UINT boxType;
    std::size_t frames;
  } cases[] = {
      // clang-format off
      {MessageDisplayMode::InGame, [](auto& d) { d.QueueTaskDialog(IDYES); }, {Kind::TaskDialog}, 0, 1},
      {MessageDisplayMode::Default, [](auto& d) { d.QueueTaskDialogFailure(E_FAIL), d.QueueMessageBox(IDYES); },
       {Kind::TaskDialog, Kind::MessageBox}, MB_YESNO | MB_ICONERROR, 2},
      {MessageDisplayMode::ServiceMessageBox, [](auto& d) { d.QueueTaskDialog(IDNO), d.QueueMessageBox(IDYES); },
       {Kind::MessageBox}, MB_YESNO | MB_ICONERROR | MB_SERVICE_NOTIFICATION, 1},
      {MessageDisplayMode::Console, [](auto& d) { d.QueueConsoleInput(u"y\n"); }, {}, 0, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    ScriptedDialogs dialogs;
    HookedContext context(c.mode);
    c.queue(dialogs);
    EXPECT_EQ(Show(&context, MessageButtons::YesNo, MessageIcon::Error,
                   c.mode == MessageDisplayMode::InGame ? nullptr : u"Head"),
              R::Yes);
    std::vector<Kind> kinds;
    for (const auto& call : dialogs.Calls())
      if (call.kind == Kind::TaskDialog || call.kind == Kind::MessageBox) kinds.push_back(call.kind);
    EXPECT_EQ(kinds, c.shown);
    EXPECT_EQ(c.boxType == 0 ? 0 : dialogs.CallsOf(Kind::MessageBox)[0].type, c.boxType);
    Strings expected;
    for (std::size_t i = 0; i < c.frames; ++i) expected.insert(expected.end(), framed.begin(), framed.end());
    EXPECT_EQ(g_events, expected);
  }
}

// Messages of one context appear one at a time, whichever threads show them.
TEST(ShowMessageConcurrency, OneContextShowsOneMessageAtATime) {
  struct Overlap : ScriptedDialogs {
    std::atomic<int> inside{0}, most{0}, shown{0};
    HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
      const int now = ++inside;
      for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      --inside, ++shown;
      return ScriptedDialogs::TaskDialog(config, pressed);
    }
  } dialogs;
  dialogs.SetDefaultTaskDialogButton(IDOK);
  tAppContext context("T", nullptr, MessageDisplayMode::Default);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&context] {
      for (int i = 0; i < 5; ++i) EXPECT_EQ(Show(&context, MessageButtons::OK), R::OK);
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ((std::tuple{dialogs.shown.load(), dialogs.most.load()}), (std::tuple{20, 1}));
}

// A dialog up on one thread keeps no other thread from the context's settings: with a real window system the game
// thread that owns the dialog's window would otherwise wait for the dialog forever.
TEST(ShowMessageConcurrency, SettingsStayReachableWhileADialogIsUp) {
  struct Held : ScriptedDialogs {
    std::promise<void> up, settingsDone;
    bool reachedInTime = false;
    HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
      up.set_value();
      reachedInTime = settingsDone.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
      return ScriptedDialogs::TaskDialog(config, pressed);
    }
  } dialogs;
  dialogs.SetDefaultTaskDialogButton(IDOK);
  tAppContext context(std::string(100, 't').c_str(), nullptr, MessageDisplayMode::Default);  // cut to 63
  std::thread shower([&context] { Show(&context, MessageButtons::OK); });
  dialogs.up.get_future().wait();
  context.SetOwnerWindow(kOwner), context.SetDisplayMode(MessageDisplayMode::InGame);
  EXPECT_EQ((std::tuple{context.GetOwnerWindow(), context.GetDisplayMode(), std::string(context.GetTitle())}),
            (std::tuple{kOwner, MessageDisplayMode::InGame, std::string(63, 't')}));
  dialogs.settingsDone.set_value(), shower.join();
  EXPECT_TRUE(dialogs.reachedInTime);
}

// With nobody left to answer (a headless run, a closed standard input) no prompt answers Close on nobody's
// behalf: each gives what lets its caller fail, as the console prompt does.
TEST(ShowMessageDeathTest, EndOfInputNeverAnswersClose) {
  for (const auto& [buttons, expected] : {std::pair{MessageButtons::CloseRetryIgnore, R::Ignore},
                                          {MessageButtons::YesNoClose, R::No},
                                          {MessageButtons::AbortRetryIgnore, R::Ignore}})
    EXPECT_EXIT(
        {
          if (std::freopen("/dev/null", "r", stdin) == nullptr) std::exit(EXIT_FAILURE);
          tAppContext context("T", nullptr, MessageDisplayMode::Default);
          std::exit(static_cast<int>(Show(&context, buttons)));
        },
        ::testing::ExitedWithCode(static_cast<int>(expected)), "");
}

class ShowErrorsTest : public ::testing::Test {
 protected:
  // The text shown for the errors of a task (retried with OK on an empty task).
  std::u16string Shown(tTaskContext* task) {
    dialogs_.QueueTaskDialog(IDOK);
    app_.ShowErrorsOK(task);
    return dialogs_.CallsOf(Kind::TaskDialog).back().content;
  }
  ScriptedDialogs dialogs_;
  tAppContext app_{"App", nullptr, MessageDisplayMode::Default};
};

// One blank between messages, put in only when something is already there.
TEST_F(ShowErrorsTest, MessagesAreJoinedWithOneBlankAsAnError) {
  const std::pair<std::vector<const char*>, std::u16string> cases[] = {
      {{}, u""}, {{"a", "b", "\xC3\xA9t\xC3\xA9"}, u"a b \u00e9t\u00e9"}, {{"", "b"}, u"b"}, {{"a", "", "b"}, u"a  b"},
      {{"a", ""}, u"a "}};
  for (const auto& [messages, shown] : cases) {
    SCOPED_TRACE(messages.size());
    tTaskContext task;
    for (const char* message : messages) task.AddError(message);
    EXPECT_EQ(Shown(&task), shown);
  }
  tTaskContext task;
  dialogs_.QueueTaskDialog(IDRETRY);
  EXPECT_EQ(app_.ShowErrors(&task, MessageButtons::RetryCancel), MessageResult::Retry);
  const auto calls = dialogs_.CallsOf(Kind::TaskDialog);
  EXPECT_EQ((std::tuple{calls.back().mainIcon, calls.back().hasMainInstruction, calls.back().config.dwCommonButtons,
                        calls.front().config.dwCommonButtons}),
            (std::tuple{reinterpret_cast<std::uintptr_t>(TD_ERROR_ICON), false,
                        TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON, TDCBF_OK_BUTTON}));
}

TEST_F(ShowErrorsTest, JoinedTextIsBoundedWithoutSplittingACharacter) {
  tTaskContext ascii, mixed;
  for (int i = 0; i < 10; ++i) ascii.AddError(std::string(1000, 'z').c_str());
  const std::u16string shown = Shown(&ascii);
  EXPECT_EQ((std::tuple{shown.size(), shown.substr(0, 1001)}), (std::tuple{4095u, std::u16string(1000, u'z') + u" "}));
  // Runs of two-byte characters after 3003 bytes, so the cut lands inside one.
  std::string accents;
  for (int i = 0; i < 511; ++i) accents += "\xC3\xA9";
  for (int i = 0; i < 3; ++i) mixed.AddError(std::string(1000, 'y').c_str());
  mixed.AddError(accents.c_str()), mixed.AddError(accents.c_str());
  const std::string utf8 = text::Utf16ToUtf8(Shown(&mixed));
  // No broken character; 4095 would end inside one.
  EXPECT_EQ((std::tuple{utf8.find("\xEF\xBF\xBD"), utf8.size()}), (std::tuple{std::string::npos, 4094u}));
}

TEST_F(ShowErrorsTest, JoinWaitsForTheTasksLock) {
  tTaskContext task;
  task.AddError("first");
  std::atomic<bool> shown{false};
  task.Lock();
  std::thread shower([&] { app_.ShowErrorsOK(&task), shown = true; });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(shown.load());
  task.AddError("second");  // re-entered on the owning thread
  task.Unlock(), shower.join();
  EXPECT_EQ(dialogs_.CallsOf(Kind::TaskDialog).back().content, u"first second");
}

// The launcher reads exit code 0 as "started": a fatal error must never end with it. The message is written before
// the process ends; the prompt offers Close only.
TEST(AppContextDeathTest, FatalErrorsShowTheirTextAndExitWithCodeOne) {
  EXPECT_EXIT(
      {
        ScriptedDialogs dialogs;
        dialogs.QueueTaskDialog(IDCLOSE);
        g_AppContext.AddError("fatal");
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(
      {
        struct Echo : ScriptedDialogs {
          void ConsoleWrite(std::u16string_view text) override { std::fputs(text::Utf16ToUtf8(text).c_str(), stderr); }
        } dialogs;
        tAppContext context("App", nullptr, MessageDisplayMode::Console);
        context.AddError("one");
        context.AddError("two");  // never reached
      },
      ::testing::ExitedWithCode(1), "one\n\\[C\\]lose\n");
  EXPECT_EXIT(TerminateAfterFatalError(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
