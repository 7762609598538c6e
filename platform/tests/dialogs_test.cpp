// Message boxes and task dialogs: the replaceable backend, the console default and its answers at end of input.
#include <platform/dialogs.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>

#include <platform/testing/ScriptedDialogs.h>
#include <platform/text.h>

#include "temp_dir.h"

namespace {

static_assert(offsetof(TASKDIALOGCONFIG, dwCommonButtons) == 16);
static_assert(offsetof(TASKDIALOGCONFIG, pszMainIcon) == 24);
static_assert(offsetof(TASKDIALOGCONFIG, pszContent) == 32);
static_assert(offsetof(TASKDIALOGCONFIG, pfCallback) == 84);
static_assert(offsetof(TASKDIALOGCONFIG, cxWidth) == 92);
static_assert(sizeof(TASKDIALOG_BUTTON) == 8);

// Runs the default backend against a given standard input and catches its output.
class Console {
 public:
  explicit Console(const std::string& input) {
    std::ofstream(dir_.Host("in"), std::ios::binary) << input;
    std::fflush(stdout);
    savedIn_ = ::dup(0);
    savedOut_ = ::dup(1);
    const int in = ::open(dir_.Host("in").c_str(), O_RDONLY);
    const int out = ::open(dir_.Host("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::close(in);
    ::close(out);
    std::clearerr(stdin);
  }
  ~Console() { Restore(); }
  std::string Output() {
    Restore();
    std::ifstream in(dir_.Host("out"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Restore() {
    if (savedIn_ < 0) return;
    std::fflush(stdout);
    ::dup2(savedIn_, 0);
    ::dup2(savedOut_, 1);
    ::close(savedIn_);
    ::close(savedOut_);
    savedIn_ = savedOut_ = -1;
    std::clearerr(stdin);
  }
  TempDir dir_;
  int savedIn_ = -1;
  int savedOut_ = -1;
};

TASKDIALOGCONFIG Config(int commonButtons, const char16_t* content = u"Body") {
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_SIZE_TO_CONTENT;
  config.dwCommonButtons = commonButtons;
  config.pszWindowTitle = u"Title";
  config.pszMainIcon = TD_ERROR_ICON;
  config.pszContent = content;
  return config;
}

// ---------------------------------------------------------------------------
// The console backend (SDL video is not up in tests)

struct MessageBoxCase {
  const char* name;
  UINT type;
  const char* input;
  int expected;
  const char* buttonLine;
};

class ConsoleMessageBox : public ::testing::TestWithParam<MessageBoxCase> {};

TEST_P(ConsoleMessageBox, AnswersAndFallsBackAtEndOfInput) {
  const MessageBoxCase& c = GetParam();
  Console console(c.input);
  const int answer = MessageBoxW(nullptr, u"Text \u00e9", u"Caption", c.type | MB_ICONWARNING);
  const std::string output = console.Output();
  EXPECT_EQ(answer, c.expected);
  EXPECT_NE(output.find("Caption\nText \xc3\xa9\n"), std::string::npos) << output;
  EXPECT_NE(output.find(std::string(c.buttonLine) + "\n"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConsoleMessageBox,
    ::testing::Values(MessageBoxCase{"OkAnswered", MB_OK, "o\n", IDOK, "[O]K"},
                      MessageBoxCase{"OkAtEnd", MB_OK, "", IDOK, "[O]K"},
                      MessageBoxCase{"OkCancelUpper", MB_OKCANCEL, "Cancel\n", IDCANCEL, "[O]K [C]ancel"},
                      MessageBoxCase{"OkCancelAtEnd", MB_OKCANCEL, "", IDCANCEL, "[O]K [C]ancel"},
                      MessageBoxCase{"YesNoYes", MB_YESNO, "yes please\n", IDYES, "[Y]es [N]o"},
                      MessageBoxCase{"YesNoAtEnd", MB_YESNO, "", IDNO, "[Y]es [N]o"},
                      MessageBoxCase{"YesNoCancelNo", MB_YESNOCANCEL, "n", IDNO, "[Y]es [N]o [C]ancel"},
                      MessageBoxCase{"RetryAfterNonsense", MB_ABORTRETRYIGNORE, "x\n\nr\n", IDRETRY,
                                     "[A]bort [R]etry [I]gnore"},
                      MessageBoxCase{"NonsenseThenEnd", MB_ABORTRETRYIGNORE, "zzz\n", IDIGNORE,
                                     "[A]bort [R]etry [I]gnore"},
                      MessageBoxCase{"YesNoCancelAtEnd", MB_YESNOCANCEL, "", IDNO, "[Y]es [N]o [C]ancel"},
                      MessageBoxCase{"RetryCancel", MB_RETRYCANCEL, "c\n", IDCANCEL, "[R]etry [C]ancel"},
                      MessageBoxCase{"TryAgain", MB_CANCELTRYCONTINUE, "t\n", IDTRYAGAIN,
                                     "[C]ancel [T]ry Again C[o]ntinue"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleMessageBox, RepeatsTheButtonsAfterAnUnknownAnswer) {
  Console console("q\ny\n");
  EXPECT_EQ(MessageBoxW(nullptr, u"Sure?", nullptr, MB_YESNO), IDYES);
  const std::string output = console.Output();
  EXPECT_EQ(output, "Error\nSure?\n[Y]es [N]o\n[Y]es [N]o\n");
}

struct TaskDialogCase {
  const char* name;
  int buttons;
  const char* input;
  int expected;  // 0: nobody answered, the dialog fails
  const char* buttonLine;
};

class ConsoleTaskDialog : public ::testing::TestWithParam<TaskDialogCase> {};

TEST_P(ConsoleTaskDialog, MapsCommonButtons) {
  const TaskDialogCase& c = GetParam();
  Console console(c.input);
  TASKDIALOGCONFIG config = Config(c.buttons);
  config.pszMainInstruction = u"Heading";
  int pressed = -1, radio = -1;
  BOOL verified = TRUE;
  EXPECT_EQ(TaskDialogIndirect(&config, &pressed, &radio, &verified), c.expected != 0 ? S_OK : E_FAIL);
  const std::string output = console.Output();
  EXPECT_EQ(pressed, c.expected);
  EXPECT_EQ(verified, FALSE);
  EXPECT_EQ(output.rfind("Title\nHeading\n\nBody\n", 0), 0u) << output;
  EXPECT_NE(output.find(std::string(c.buttonLine) + "\n"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConsoleTaskDialog,
    ::testing::Values(
        TaskDialogCase{"CloseOnlyAtEnd", TDCBF_CLOSE_BUTTON, "", 0, "[C]lose"},
        TaskDialogCase{"OkCancel", TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON, "o\n", IDOK, "[O]K [C]ancel"},
        TaskDialogCase{"YesNoCancelAtEnd", TDCBF_YES_BUTTON | TDCBF_NO_BUTTON | TDCBF_CANCEL_BUTTON, "", 0,
                       "[Y]es [N]o [C]ancel"},
        TaskDialogCase{"OkRetryClose", TDCBF_OK_BUTTON | TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON, "C\n", IDCLOSE,
                       "[O]K [R]etry [C]lose"},
        TaskDialogCase{"OkRetryCloseAtEnd", TDCBF_OK_BUTTON | TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON, "", 0,
                       "[O]K [R]etry [C]lose"},
        TaskDialogCase{"CancelAndCloseBothReachable", TDCBF_CANCEL_BUTTON | TDCBF_CLOSE_BUTTON, "l\n", IDCLOSE,
                       "[C]ancel C[l]ose"},
        TaskDialogCase{"NoButtonsShowsOk", 0, "o\n", IDOK, "[O]K"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleBackend, ReadsUtf8AsCodePoints) {
  Console console("\xc3\xa9\xf0\x9f\x98\x80x");
  platform::IDialogBackend& backend = platform::DefaultDialogBackend();
  EXPECT_EQ(backend.ConsoleReadChar(), 0xE9);
  EXPECT_EQ(backend.ConsoleReadChar(), 0x1F600);
  EXPECT_EQ(backend.ConsoleReadChar(), 'x');
  EXPECT_EQ(backend.ConsoleReadChar(), -1);
  EXPECT_EQ(backend.ConsoleReadChar(), -1) << "the end of input stays the end";
  backend.ConsoleWrite(u"\u00fcber\n");
  EXPECT_EQ(console.Output(), "\xc3\xbc" "ber\n");
}

TEST(TaskDialogIndirect, RefusesBadConfigurations) {
  int pressed = 5;
  EXPECT_EQ(TaskDialogIndirect(nullptr, &pressed, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(pressed, 0);
  TASKDIALOGCONFIG config = Config(TDCBF_OK_BUTTON);
  config.cbSize = 92;
  EXPECT_EQ(TaskDialogIndirect(&config, &pressed, nullptr, nullptr), E_INVALIDARG);
}

// ---------------------------------------------------------------------------
// The scripted backend other tests use

TEST(ScriptedDialogs, InstallsRecordsAnswersAndRestores) {
  platform::IDialogBackend* before = &platform::GetDialogBackend();
  {
    platform::testing::ScriptedDialogs dialogs;
    EXPECT_EQ(&platform::GetDialogBackend(), &dialogs);
    dialogs.QueueTaskDialog(IDRETRY);
    dialogs.QueueTaskDialogFailure(E_OUTOFMEMORY);
    dialogs.QueueMessageBox(IDYES);

    TASKDIALOGCONFIG config = Config(TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON, u"Some content");
    int pressed = 0;
    EXPECT_EQ(TaskDialogIndirect(&config, &pressed, nullptr, nullptr), S_OK);
    EXPECT_EQ(pressed, IDRETRY);
    pressed = 77;
    EXPECT_EQ(TaskDialogIndirect(&config, &pressed, nullptr, nullptr), E_OUTOFMEMORY);
    EXPECT_EQ(pressed, 0);
    EXPECT_EQ(MessageBoxW(reinterpret_cast<HWND>(0x1234), u"Text", u"Caption", MB_YESNO | MB_ICONERROR), IDYES);
    // Empty queues give the defaults.
    EXPECT_EQ(MessageBoxW(nullptr, u"Again", nullptr, MB_OK), IDCANCEL);
    EXPECT_EQ(TaskDialogIndirect(&config, &pressed, nullptr, nullptr), S_OK);
    EXPECT_EQ(pressed, IDCANCEL);

    const auto calls = dialogs.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].kind, platform::testing::ScriptedDialogs::Kind::TaskDialog);
    EXPECT_EQ(calls[0].windowTitle, u"Title");
    EXPECT_EQ(calls[0].content, u"Some content");
    EXPECT_FALSE(calls[0].hasMainInstruction);
    EXPECT_EQ(calls[0].mainIcon, 0xFFFEu);
    EXPECT_EQ(calls[0].config.dwCommonButtons, 48);
    EXPECT_EQ(calls[0].config.dwFlags, TDF_SIZE_TO_CONTENT);
    EXPECT_EQ(calls[2].kind, platform::testing::ScriptedDialogs::Kind::MessageBox);
    EXPECT_EQ(calls[2].text, u"Text");
    EXPECT_EQ(calls[2].caption, u"Caption");
    EXPECT_EQ(calls[2].type, MB_YESNO | MB_ICONERROR);
    EXPECT_EQ(calls[2].owner, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(calls[3].caption, u"Error") << "a null caption reads \"Error\" as on Windows";
    EXPECT_EQ(dialogs.DialogCount(), 5u);
  }
  EXPECT_EQ(&platform::GetDialogBackend(), before);
}

TEST(ScriptedDialogs, ConsoleInputEndsWithMinusOne) {
  platform::testing::ScriptedDialogs dialogs;
  dialogs.QueueConsoleInput(u"y\n");
  platform::GetDialogBackend().ConsoleWrite(u"Question\n");
  EXPECT_EQ(platform::GetDialogBackend().ConsoleReadChar(), 'y');
  EXPECT_EQ(platform::GetDialogBackend().ConsoleReadChar(), '\n');
  EXPECT_EQ(platform::GetDialogBackend().ConsoleReadChar(), -1);
  EXPECT_EQ(dialogs.ConsoleOutput(), u"Question\n");
  EXPECT_EQ(dialogs.CallsOf(platform::testing::ScriptedDialogs::Kind::ConsoleRead).size(), 3u);
}

TEST(SetDialogBackend, ReturnsThePreviousAndNullRestoresTheDefault) {
  platform::testing::ScriptedDialogs first;
  {
    platform::testing::ScriptedDialogs second;
    EXPECT_EQ(platform::SetDialogBackend(nullptr), &second);
    EXPECT_EQ(&platform::GetDialogBackend(), &platform::DefaultDialogBackend());
    EXPECT_EQ(platform::SetDialogBackend(&second), nullptr);
  }
  EXPECT_EQ(&platform::GetDialogBackend(), &first);
}

}  // namespace
