// The assertion routine (log, dialog, OK returns, Cancel ends the process with 1) and the exceptions.
#include <engine/Context.h>
#include <engine/OS.h>
#include <engine/Stream.h>
#include <engine/VexilAssert.h>

#include <platform/errors.h>
#include <platform/testing/ScriptedDialogs.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

using platform::testing::ScriptedDialogs;

int g_Reached = 0;

int FailingCheck() {
  VEXIL_ASSERT(1 + 1 == 3);
  ++g_Reached;
  return __LINE__ - 2;
}

std::u16string ExpectedMessage(int line) {
  const std::string signature = "int {anonymous}::FailingCheck()";
  return text::Utf8ToUtf16("Assertion failed!\n\nFile: src/Engine/tests/assert_test\nFunction: " + signature +
                           "\nLine: " + std::to_string(line) + "\n\nExpression: 1 + 1 == 3");
}

TEST(EngineAssert, SourcePathIsEngineRelativeWithoutExtension) {
  using Vexil3D::detail::MakeSourcePath;
  EXPECT_EQ((std::tuple{std::string(VEXIL_SOURCE_PATH),
                        std::string(MakeSourcePath<64>("/work/x/src/Engine/Tar.cpp").text),
                        std::string(MakeSourcePath<64>("C:\\b\\include\\engine\\VexilReference.h").text),
                        std::string(MakeSourcePath<64>("other/place.dir/file").text)}),
            (std::tuple{"src/Engine/tests/assert_test", "src/Engine/Tar", "include/engine/VexilReference",
                        "other/place.dir/file"}));
}

TEST(EngineAssert, OkReturnsToTheCallerAfterTheTaskDialogOwnedByTheOwnerWindow) {
  EXPECT_FALSE(Vexil3D::IsDebuggerAttached());
  ScriptedDialogs dialogs;
  int evaluations = 0;
  VEXIL_ASSERT(++evaluations == 1);  // a true expression, evaluated once, does nothing
  EXPECT_EQ((std::tuple{evaluations, dialogs.DialogCount()}), (std::tuple{1, 0u}));
  dialogs.QueueTaskDialog(IDOK);
  dialogs.QueueTaskDialog(IDOK);
  g_Reached = 0;
  const int line = FailingCheck();
  HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
  Vexil3D::SetAssertionOwnerWindow(owner);
  FailingCheck();
  Vexil3D::SetAssertionOwnerWindow(nullptr);
  const auto calls = dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog);
  ASSERT_EQ((std::tuple{g_Reached, calls.size()}), (std::tuple{2, 2u}));
  constexpr std::uint32_t kWarningIcon = 0xFFFFu;
  EXPECT_EQ((std::tuple{calls[0].windowTitle, calls[0].content, calls[0].mainIcon, calls[0].config.dwCommonButtons,
                        (calls[0].config.dwFlags & TDF_SIZE_TO_CONTENT) != 0, calls[0].owner, calls[1].owner}),
            (std::tuple{u"Assertion failed", ExpectedMessage(line), kWarningIcon, TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON,
                        true, nullptr, owner}));
}

TEST(EngineAssert, FailureIsLoggedAtErrorLevel) {
  char buffer[4096] = {};
  {
    Vexil3D::Context context;
    context.Initialise();
    auto* stream = new Vexil3D::CMemoryStream(buffer, sizeof(buffer) - 1,
                                              Vexil3D::CMemoryStream::ACCESS_READ | Vexil3D::CMemoryStream::ACCESS_WRITE);
    context.GetLogWriter().SetStream(stream);
    context.GetLogWriter().SetTimeFormat(u"");
    stream->Release();
    ScriptedDialogs dialogs;
    dialogs.QueueTaskDialog(IDOK);
    const int line = FailingCheck();
    const std::string expected = "\xEF\xBB\xBF[ERROR]   " + text::Utf16ToUtf8(ExpectedMessage(line)) + "\r\n";
    EXPECT_EQ(std::string(buffer).substr(0, expected.size()), expected);
  }
}

std::vector<std::u16string> g_Handled;
void RecordReport(const char16_t* report) { g_Handled.push_back(report); }

TEST(EngineAssert, WithoutAContextTheReportGoesToStandardErrorAndTheDialog) {
  ScriptedDialogs dialogs;
  dialogs.QueueTaskDialog(IDOK);
  ::testing::internal::CaptureStderr();
  const int line = FailingCheck();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), text::Utf16ToUtf8(ExpectedMessage(line)) + "\n");
  EXPECT_EQ(dialogs.CallsOf(ScriptedDialogs::Kind::TaskDialog).size(), 1u);
}

TEST(EngineAssert, AContextInstallsItsHandlerAndRestoresThePreviousOneWhenClosed) {
  g_Handled.clear();
  EXPECT_EQ(Vexil3D::SetAssertionHandler(&RecordReport), &Vexil3D::DefaultAssertionHandler);
  {
    ScriptedDialogs dialogs;
    dialogs.QueueTaskDialog(IDOK);
    Vexil3D::Context context;
    context.Initialise();
    FailingCheck();
    EXPECT_EQ((std::tuple{g_Handled.size(), dialogs.DialogCount()}), (std::tuple{0u, 1u}));
  }
  const int line = FailingCheck();
  EXPECT_EQ(g_Handled, std::vector<std::u16string>{ExpectedMessage(line)});
  EXPECT_EQ(Vexil3D::SetAssertionHandler(nullptr), &RecordReport);
}

TEST(EngineAssert, FailingTaskDialogFallsBackToAMessageBox) {
  ScriptedDialogs dialogs;
  dialogs.QueueTaskDialogFailure();
  dialogs.QueueMessageBox(IDOK);
  g_Reached = 0;
  const int line = FailingCheck();
  const auto boxes = dialogs.CallsOf(ScriptedDialogs::Kind::MessageBox);
  ASSERT_EQ((std::tuple{g_Reached, boxes.size()}), (std::tuple{1, 1u}));
  EXPECT_EQ((std::tuple{boxes[0].caption, boxes[0].text, boxes[0].type}),
            (std::tuple{u"Assertion failed", ExpectedMessage(line), MB_OKCANCEL | MB_ICONWARNING}));
}

TEST(EngineAssert, DialogResultsMapToChoices) {
  for (auto [button, choice] : {std::pair{IDOK, Vexil3D::ASSERTION_OK}, {IDCANCEL, Vexil3D::ASSERTION_CANCEL},
                                 {IDRETRY, Vexil3D::ASSERTION_RETRY}, {IDYES, Vexil3D::ASSERTION_YES},
                                 {IDNO, Vexil3D::ASSERTION_NO}, {IDCLOSE, Vexil3D::ASSERTION_CANCEL}}) {
    ScriptedDialogs dialogs;
    dialogs.QueueTaskDialog(button);
    EXPECT_EQ(Vexil3D::ShowAssertionDialog(u"x"), choice) << button;
  }
  ScriptedDialogs failing;
  failing.QueueTaskDialogFailure();
  failing.QueueMessageBox(0);  // the box could not be shown: counts as Cancel
  EXPECT_EQ(Vexil3D::ShowAssertionDialog(u"x"), Vexil3D::ASSERTION_CANCEL);
}

using EngineAssertDeathTest = ::testing::Test;

// Cancel, and a message box that could not be shown, end the process with code 1.
TEST_F(EngineAssertDeathTest, CancelEndsTheProcessWithCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (bool boxFails : {false, true}) {
    EXPECT_EXIT(
        {
          ScriptedDialogs dialogs;
          if (boxFails) {
            dialogs.QueueTaskDialogFailure();
            dialogs.QueueMessageBox(0);
          } else {
            dialogs.QueueTaskDialog(IDCANCEL);
          }
          FailingCheck();
          std::_Exit(7);  // not reached
        },
        ::testing::ExitedWithCode(1), "");
  }
}

TEST(EngineExceptions, MessagesAndWin32Codes) {
  Vexil3D::XException plain("src/Engine/Context", "void f()", 12);
  std::uint32_t code = 77;
  EXPECT_EQ((std::tuple{std::string(plain.what()), plain.HasMessage(), plain.GetWin32Error(&code), code}),
            (std::tuple{"Unknown exception", false, false, 77u}));
  EXPECT_EQ((std::tuple{plain.GetFile(), plain.GetFunction(), plain.GetLine()}),
            (std::tuple{"src/Engine/Context", "void f()", 12}));

  Vexil3D::XException withText("a", "b", 1, "went wrong");
  Vexil3D::XWin32Exception win32("a", "b", 2, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ((std::tuple{std::string(withText.what()), win32.GetWin32Error(&code), code, std::string(win32.what())}),
            (std::tuple{"went wrong", true, std::uint32_t(ERROR_FILE_NOT_FOUND),
                        text::Utf16ToUtf8(Vexil3D::GetWin32ErrorText(ERROR_FILE_NOT_FOUND))}));

  try {
    VEXIL_THROW("thrown here");
  } catch (const Vexil3D::XException& e) {
    EXPECT_EQ((std::tuple{std::string(e.what()), std::string(e.GetFile())}),
              (std::tuple{"thrown here", "src/Engine/tests/assert_test"}));
  }
  try {
    VEXIL_THROW_WIN32(ERROR_ACCESS_DENIED);
  } catch (const std::exception& e) {
    const auto* engine = dynamic_cast<const Vexil3D::XException*>(&e);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ((std::tuple{engine->GetWin32Error(&code), code}), (std::tuple{true, std::uint32_t(ERROR_ACCESS_DENIED)}));
  }
}

TEST(EngineErrorText, SystemTextWithoutLineBreakOrUnknown) {
  const std::u16string known = Vexil3D::GetWin32ErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(known.empty());
  EXPECT_EQ(std::u16string(u"\n\r ").find(known.back()), std::u16string::npos);
  EXPECT_EQ(Vexil3D::GetWin32ErrorText(0x7ABCDEu), u"Unknown error (0x7abcde)");
}

}  // namespace
