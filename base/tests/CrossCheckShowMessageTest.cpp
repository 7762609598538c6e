// ShowMessage and ShowErrors at the edges: which display modes try a task dialog,
// what a joined error text looks like with empty messages, the largest button
// values, and the console answer reader on its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <base/TaskContext.h>
#include <platform/dialogs.h>
#include <platform/testing/ScriptedDialogs.h>

namespace {

using platform::testing::ScriptedDialogs;
using Kind = ScriptedDialogs::Kind;

// Every mode but the console prompt (3) and the service message box (5) tries a
// task dialog first.
class CrossCheckDisplayModes : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CrossCheckDisplayModes, OnlyConsoleAndServiceModesSkipTheTaskDialog) {
  const std::uint32_t mode = GetParam();
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, static_cast<MessageDisplayMode>(mode));
  dialogs.QueueTaskDialog(IDYES);
  dialogs.QueueMessageBox(IDYES);
  dialogs.QueueConsoleInput(u"y\n");
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Information, MessageButtons::YesNo, u"q", nullptr, false),
            MessageResult::Yes);
  const std::size_t tasks = dialogs.CallsOf(Kind::TaskDialog).size();
  const auto boxes = dialogs.CallsOf(Kind::MessageBox);
  const std::size_t reads = dialogs.CallsOf(Kind::ConsoleRead).size();
  if (mode == 3) {
    EXPECT_EQ(tasks + boxes.size(), 0u);
    EXPECT_EQ(reads, 2u);
  } else if (mode == 5) {
    EXPECT_EQ(tasks, 0u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONINFORMATION | MB_SERVICE_NOTIFICATION);
    EXPECT_EQ(reads, 0u);
  } else {
    EXPECT_EQ(tasks, 1u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(reads, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CrossCheckDisplayModes, ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 0xFFFFFFFFu));

TEST(CrossCheckDisplayModes, ForcedBoxInServiceModeIsAServiceNotification) {
  ScriptedDialogs dialogs;
  tAppContext context("T", nullptr, MessageDisplayMode::ServiceMessageBox);
  dialogs.QueueMessageBox(IDRETRY);
  EXPECT_EQ(ShowMessage(&context, MessageIcon::Error, MessageButtons::RetryClose, u"x", u"h", true),
            MessageResult::Retry);
  const auto boxes = dialogs.CallsOf(Kind::MessageBox);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].type, MB_RETRYCANCEL | MB_ICONERROR | MB_SERVICE_NOTIFICATION);
  EXPECT_EQ(boxes[0].caption, u"h");
}

TEST(CrossCheckButtons, LargestValuesShowAndAnswerOK) {
  ScriptedDialogs dialogs;
  for (std::uint32_t value : {12u, 100u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(value);
    const auto buttons = static_cast<MessageButtons>(value);
    dialogs.ClearCalls();
    tAppContext console("T", nullptr, MessageDisplayMode::Console);
    dialogs.QueueConsoleInput(u"c\n");
    EXPECT_EQ(ShowMessage(&console, MessageIcon::Error, buttons, u"m", nullptr, false), MessageResult::OK);
    EXPECT_EQ(dialogs.ConsoleOutput(), u"m\n[O]K\n");

    tAppContext dialog("T", nullptr, MessageDisplayMode::Default);
    dialogs.QueueTaskDialog(IDOK);
    EXPECT_EQ(ShowMessage(&dialog, MessageIcon::Error, buttons, u"m", nullptr, false), MessageResult::OK);
    dialogs.QueueMessageBox(IDOK);
    EXPECT_EQ(ShowMessage(&dialog, MessageIcon::Error, buttons, u"m", nullptr, true), MessageResult::OK);
    const auto tasks = dialogs.CallsOf(Kind::TaskDialog);
    const auto boxes = dialogs.CallsOf(Kind::MessageBox);
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(tasks[0].config.dwCommonButtons, TDCBF_OK_BUTTON);
    EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONERROR);
  }
}

// The joined text: a blank goes in only when something is already there.
struct JoinCase {
  const char* name;
  std::vector<const char*> messages;
  std::u16string shown;
};

class CrossCheckShowErrors : public ::testing::TestWithParam<JoinCase> {};

TEST_P(CrossCheckShowErrors, JoinsWithOneBlankAfterText) {
  ScriptedDialogs dialogs;
  tAppContext app("Title", nullptr, MessageDisplayMode::Default);
  tTaskContext task;
  for (const char* message : GetParam().messages) task.AddError(message);
  dialogs.QueueTaskDialog(IDOK);
  EXPECT_EQ(app.ShowErrors(&task, MessageButtons::OKCancel), MessageResult::OK);
  const auto shown = dialogs.CallsOf(Kind::TaskDialog);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].content, GetParam().shown);
  EXPECT_FALSE(shown[0].hasMainInstruction);
  EXPECT_EQ(shown[0].mainIcon, reinterpret_cast<std::uintptr_t>(TD_ERROR_ICON));
  EXPECT_EQ(shown[0].config.dwCommonButtons, TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON);
  EXPECT_EQ(shown[0].windowTitle, u"Title");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CrossCheckShowErrors,
    ::testing::Values(JoinCase{"None", {}, u""}, JoinCase{"One", {"only"}, u"only"},
                      JoinCase{"EmptyFirst", {"", "b"}, u"b"}, JoinCase{"EmptyMiddle", {"a", "", "b"}, u"a  b"},
                      JoinCase{"EmptyLast", {"a", ""}, u"a "},
                      JoinCase{"Utf8", {"caf\xC3\xA9", "\xF0\x9F\x98\x80"}, u"caf\u00e9 \U0001F600"}),
    [](const ::testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

TEST(CrossCheckConsoleAnswer, FirstCharacterThenTheRestOfTheLineIsDropped) {
  ScriptedDialogs dialogs;
  dialogs.QueueConsoleInput(u"yes please\n\nnext\nZ");
  EXPECT_EQ(ReadConsoleAnswer(), 'y');
  // An empty line answers with its newline and takes the following line with it.
  EXPECT_EQ(ReadConsoleAnswer(), '\n');
  EXPECT_EQ(ReadConsoleAnswer(), 'Z');
  EXPECT_EQ(ReadConsoleAnswer(), -1);
  EXPECT_EQ(ReadConsoleAnswer(), -1);
}

}  // namespace
