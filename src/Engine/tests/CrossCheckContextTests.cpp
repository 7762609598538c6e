// The texts that the engine prints, compared whole: the pool's assertion reports, log lines at every
// level with a fixed clock and the closing banner, the bool parser's word list and error texts.
#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include <engine/Context.h>
#include <engine/OS.h>
#include <engine/Pool.h>
#include <engine/Stream.h>
#include <platform/text.h>

#include "AssertionCapture.h"

using namespace Vexil3D;

namespace {

// ---------------------------------------------------------------------------------------------
// Pool assertions

std::u16string AssertionText(const char* function, const char* expression, int line) {
  return text::Utf8ToUtf16(std::string("Assertion failed!\n\nFile: src/Engine/Pool\nFunction: ") + function +
                           "\nLine: " + std::to_string(line) + "\n\nExpression: " + expression);
}

// The line number is the pool's business; everything else of the report is fixed.
std::u16string WithoutLine(std::u16string text) {
  const std::size_t at = text.find(u"\nLine: ");
  if (at == std::u16string::npos) return text;
  const std::size_t end = text.find(u'\n', at + 1);
  return text.substr(0, at) + u"\nLine: ?" + text.substr(end);
}

TEST(CrossCheckPoolAssertions, ReportTheirFixedSignatures) {
  enginetest::AssertionCapture asserts;
  Pool pool(8, 4);
  int outside = 0;

  pool.Delete(&outside);
  ASSERT_EQ(asserts.Texts().size(), 1u);
  EXPECT_EQ(WithoutLine(asserts.Texts()[0]),
            WithoutLine(AssertionText("void __thiscall Vexil3D::Pool::Delete(void *)", "Exists(p)", 0)));

  asserts.Clear();
  EXPECT_EQ(pool.IndexOf(&outside), 0u);
  ASSERT_EQ(asserts.Texts().size(), 1u);
  EXPECT_EQ(WithoutLine(asserts.Texts()[0]),
            WithoutLine(AssertionText("unsigned int __thiscall Vexil3D::Pool::IndexOf(void *)", "Exists(p)", 0)));
}

// ---------------------------------------------------------------------------------------------
// Log lines

bool ClockAt(std::tm* now) {
  std::memset(now, 0, sizeof(*now));
  now->tm_year = 2024 - 1900;
  now->tm_mon = 1;
  now->tm_mday = 1;
  now->tm_hour = 10;
  now->tm_min = 20;
  now->tm_sec = 30;
  return true;
}

struct LineCase {
  int level;
  const char* expected;  // after the byte-order mark
};

class CrossCheckLogLine : public testing::TestWithParam<LineCase> {};

TEST_P(CrossCheckLogLine, TimeStampPrefixTextAndCrLf) {
  char buffer[512] = {};
  {
    Context context;
    auto* stream = new CMemoryStream(buffer, sizeof(buffer) - 1, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
    context.GetLogWriter().SetStream(stream);
    stream->Release();
    context.GetLogWriter().SetClock(ClockAt);
    context.Log(GetParam().level, u"text");
    EXPECT_EQ(std::string(buffer), std::string("\xEF\xBB\xBF") + GetParam().expected);
    std::memset(buffer, 0, sizeof(buffer));
    context.GetLogWriter().SetStream(nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CrossCheckLogLine,
    testing::Values(LineCase{0, "<01/02/2024 - 10:20:30> text\r\n"},
                    LineCase{1, "<01/02/2024 - 10:20:30> [VERBOSE] text\r\n"},
                    LineCase{2, "<01/02/2024 - 10:20:30> [DEBUG]   text\r\n"},
                    LineCase{3, "<01/02/2024 - 10:20:30> [INFO]    text\r\n"},
                    LineCase{4, "<01/02/2024 - 10:20:30> [WARN]    text\r\n"},
                    LineCase{5, "<01/02/2024 - 10:20:30> [ERROR]   text\r\n"},
                    LineCase{6, "<01/02/2024 - 10:20:30> [CRITICAL]text\r\n"}));

TEST(CrossCheckLog, PrefixesAreTenCharactersEach) {
  for (int level = 1; level <= 6; ++level) EXPECT_EQ(text::Length(GetLogLevelPrefix(level)), 10u) << level;
  EXPECT_EQ(text::Length(GetLogLevelPrefix(0)), 0u);
}

TEST(CrossCheckLog, ClosingBannerGoesToThisContextsLogWithTimeStamps) {
  char buffer[1024] = {};
  {
    Context context;
    auto* stream = new CMemoryStream(buffer, sizeof(buffer) - 1, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
    context.GetLogWriter().SetStream(stream);
    stream->Release();
    context.GetLogWriter().SetClock(ClockAt);
  }
  const std::string stamp = "<01/02/2024 - 10:20:30> ";
  const std::string hyphens(60, '-');
  EXPECT_EQ(std::string(buffer), "\xEF\xBB\xBF" + stamp + hyphens + "\r\n" + stamp +
                                     "---------------------- Logging Ended -----------------------\r\n" + stamp +
                                     hyphens + "\r\n");
}

// ---------------------------------------------------------------------------------------------
// Bool parser and error texts

struct BoolCase {
  const char16_t* word;
  bool accepted;
  bool value;
};

class CrossCheckBool : public testing::TestWithParam<BoolCase> {};

TEST_P(CrossCheckBool, OnlyTheFourWords) {
  const BoolCase& c = GetParam();
  for (bool start : {false, true}) {
    bool value = start;
    EXPECT_EQ(ParseBool(c.word, &value), c.accepted) << text::Utf16ToUtf8(c.word);
    EXPECT_EQ(value, c.accepted ? c.value : start) << text::Utf16ToUtf8(c.word);
  }
}

INSTANTIATE_TEST_SUITE_P(Words, CrossCheckBool,
                         testing::Values(BoolCase{u"true", true, true}, BoolCase{u"1", true, true},
                                         BoolCase{u"false", true, false}, BoolCase{u"0", true, false},
                                         BoolCase{u"True", false, false}, BoolCase{u"TRUE", false, false},
                                         BoolCase{u"yes", false, false}, BoolCase{u"no", false, false},
                                         BoolCase{u"", false, false}, BoolCase{u" true", false, false},
                                         BoolCase{u"true ", false, false}, BoolCase{u"01", false, false},
                                         BoolCase{u"2", false, false}, BoolCase{u"-1", false, false},
                                         BoolCase{u"truex", false, false}, BoolCase{u"fals", false, false}));

TEST(CrossCheckErrorText, UnknownCodesInLowerCaseHexadecimal) {
  EXPECT_EQ(GetWin32ErrorText(0xDEADBEEFu), u"Unknown error (0xdeadbeef)");
  EXPECT_EQ(GetWin32ErrorText(0x00ABCDEFu), u"Unknown error (0xabcdef)");
}

TEST(CrossCheckUserAgent, TwoBlanksBeforeTheParenthesis) {
  const std::u16string agent = BuildUserAgent();
  const std::u16string head = u"Vexil3D/1.2.0  (Windows NT ";
  ASSERT_GE(agent.size(), head.size() + 4);
  EXPECT_EQ(agent.substr(0, head.size()), head);
  EXPECT_EQ(agent.back(), u')');
}

}  // namespace
