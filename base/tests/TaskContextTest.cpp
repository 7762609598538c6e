#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <base/TaskContext.h>
#include <platform/testing/ScriptedDialogs.h>
#include <platform/text.h>

namespace {

using platform::testing::ScriptedDialogs;

TEST(TaskContext, CollectsMessagesInOrderAndCounts) {
  tTaskContext task;
  EXPECT_EQ(task.GetErrorCount(), 0u);
  task.AddError("first");
  task.AddError("second");
  task.AddError(nullptr);
  EXPECT_EQ(task.GetErrorCount(), 3u);
  EXPECT_EQ(task.GetErrors(), (std::vector<std::string>{"first", "second", ""}));
}

TEST(TaskContext, LongMessagesAreCutAtACharacterBoundary) {
  tTaskContext task;
  task.AddError(std::string(1023, 'a').c_str());
  task.AddError(std::string(5000, 'b').c_str());
  // 1022 ASCII bytes then a two-byte character that would end at byte 1024.
  task.AddError((std::string(1022, 'c') + "\xC3\xA9tail").c_str());
  // A four-byte character straddling the limit.
  task.AddError((std::string(1021, 'd') + "\xF0\x9F\x98\x80").c_str());
  // Stray continuation bytes are no character to keep whole: the cut stays at the limit.
  task.AddError(("e" + std::string(1500, '\xA9')).c_str());
  auto errors = task.GetErrors();
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_EQ(errors[0], std::string(1023, 'a'));
  EXPECT_EQ(errors[1], std::string(1023, 'b'));
  EXPECT_EQ(errors[2], std::string(1022, 'c'));
  EXPECT_EQ(errors[3], std::string(1021, 'd'));
  EXPECT_EQ(errors[4], "e" + std::string(1022, '\xA9'));
}

TEST(TaskContext, ConcurrentAddErrorKeepsEveryMessage) {
  tTaskContext task;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&task, t] {
      for (int i = 0; i < kEach; ++i) task.AddError(("t" + std::to_string(t) + "-" + std::to_string(i)).c_str());
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(task.GetErrorCount(), std::uint32_t(kThreads * kEach));
  auto errors = task.GetErrors();
  EXPECT_EQ(errors.size(), std::size_t(kThreads * kEach));
  // Each thread's own messages stay in its order.
  std::vector<int> next(kThreads, 0);
  for (const auto& e : errors) {
    const int t = e[1] - '0';
    EXPECT_EQ(e, "t" + std::to_string(t) + "-" + std::to_string(next[t]));
    ++next[t];
  }
}

class ShowErrorsTest : public ::testing::Test {
 protected:
  ScriptedDialogs dialogs_;
  tAppContext app_{"App", nullptr, MessageDisplayMode::Default};

  std::u16string ShownText() {
    auto calls = dialogs_.CallsOf(ScriptedDialogs::Kind::TaskDialog);
    return calls.empty() ? u"<nothing>" : calls.back().content;
  }
};

TEST_F(ShowErrorsTest, EmptyTaskShowsEmptyText) {
  tTaskContext task;
  dialogs_.QueueTaskDialog(IDOK);
  EXPECT_EQ(app_.ShowErrorsOK(&task), MessageResult::OK);
  EXPECT_EQ(ShownText(), u"");
}

TEST_F(ShowErrorsTest, MessagesAreJoinedWithOneBlankAsAnError) {
  tTaskContext task;
  task.AddError("a");
  task.AddError("b");
  task.AddError("\xC3\xA9t\xC3\xA9");
  dialogs_.QueueTaskDialog(IDRETRY);
  EXPECT_EQ(app_.ShowErrors(&task, MessageButtons::RetryCancel), MessageResult::Retry);
  EXPECT_EQ(ShownText(), u"a b \u00e9t\u00e9");
  auto call = dialogs_.CallsOf(ScriptedDialogs::Kind::TaskDialog).back();
  EXPECT_EQ(call.mainIcon, reinterpret_cast<std::uintptr_t>(TD_ERROR_ICON));
  EXPECT_FALSE(call.hasMainInstruction);
  EXPECT_EQ(call.config.dwCommonButtons, TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON);
}

TEST_F(ShowErrorsTest, ShowErrorsOKUsesTheOKSet) {
  tTaskContext task;
  task.AddError("x");
  dialogs_.QueueTaskDialog(IDOK);
  app_.ShowErrorsOK(&task);
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
TEST(AppContextDeathTest, FatalErrorShowsItsMessagesAndExitsWithCodeOne) {
  EXPECT_EXIT(
      {
        ScriptedDialogs dialogs;
        tAppContext context("App", nullptr, MessageDisplayMode::Console);
        context.AddError("Something broke.");
      },
      ::testing::ExitedWithCode(1), "");
}

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
