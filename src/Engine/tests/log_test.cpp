// Log lines with a fixed clock, level prefixes, LogF's line-feed rule, the console copy, the closing
// banner and the context's initialisation.
#include <engine/Config.h>
#include <engine/Context.h>
#include <engine/FileSystem.h>
#include <engine/OS.h>
#include <engine/Stream.h>

#include <platform/os.h>
#include <platform/process.h>
#include <platform/testing/PseudoExports.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <unistd.h>

#include "AssertionCapture.h"

namespace {

using Vexil3D::CMemoryStream;
using Vexil3D::Context;

const std::string kBom = "\xEF\xBB\xBF";

bool FixedClock(std::tm* now) {
  std::memset(now, 0, sizeof(*now));
  now->tm_mday = 1;
  now->tm_mon = 1;  // February
  now->tm_year = 2024 - 1900;
  now->tm_hour = 10;
  now->tm_min = 20;
  now->tm_sec = 30;
  return true;
}

// A context whose log goes into a memory block with the clock fixed at 01/02/2024 10:20:30.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(m_Buffer, 0, sizeof(m_Buffer));
    m_pContext = new Context();
    auto* stream =
        new CMemoryStream(m_Buffer, sizeof(m_Buffer), CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
    m_pContext->GetLogWriter().SetStream(stream);
    stream->Release();
    m_pContext->GetLogWriter().SetClock(FixedClock);
  }
  void TearDown() override { delete m_pContext; }

  std::string Written() const { return std::string(m_Buffer); }

  char m_Buffer[8192];
  Context* m_pContext = nullptr;
};

// Time stamp, prefix and CR LF on each line; the mark only at the start; level 0 keeps the time.
TEST_F(LogTest, LinesHaveTimeStampPrefixAndCrLf) {
  m_pContext->Log(Vexil3D::LOG_INFO, u"one");
  m_pContext->Log(Vexil3D::LOG_WARN, u"two");
  m_pContext->Log(Vexil3D::LOG_NONE, u"plain");
  const std::string stamp = "<01/02/2024 - 10:20:30> ";
  EXPECT_EQ(Written(), kBom + stamp + "[INFO]    one\r\n" + stamp + "[WARN]    two\r\n" + stamp + "plain\r\n");
}

struct PrefixCase { int level; const char* line; };

class LogPrefixTest : public LogTest, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(LogPrefixTest, EachLevelHasItsTenCharacterPrefix) {
  m_pContext->GetLogWriter().SetTimeFormat(u"");
  m_pContext->Log(GetParam().level, u"x");
  EXPECT_EQ(Written(), kBom + GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Levels, LogPrefixTest,
                         ::testing::Values(PrefixCase{0, "x\r\n"}, PrefixCase{1, "[VERBOSE] x\r\n"},
                                           PrefixCase{2, "[DEBUG]   x\r\n"}, PrefixCase{3, "[INFO]    x\r\n"},
                                           PrefixCase{4, "[WARN]    x\r\n"}, PrefixCase{5, "[ERROR]   x\r\n"},
                                           PrefixCase{6, "[CRITICAL]x\r\n"}, PrefixCase{7, "x\r\n"},
                                           PrefixCase{-1, "x\r\n"}));

TEST_F(LogTest, LogFDropsOneTrailingLineFeed) {
  m_pContext->GetLogWriter().SetTimeFormat(u"");
  m_pContext->LogF(Vexil3D::LOG_NONE, u"%s=%d\n", u"a", 5);
  m_pContext->LogF(Vexil3D::LOG_NONE, u"two\n\n");
  m_pContext->LogF(Vexil3D::LOG_NONE, u"none");
  EXPECT_EQ(Written(), kBom + "a=5\r\ntwo\n\r\nnone\r\n");
}

TEST_F(LogTest, ShortcutsLogAtTheirLevelsInUtf8) {
  m_pContext->GetLogWriter().SetTimeFormat(u"");
  m_pContext->LogInfo(u"i%d", 1);
  m_pContext->LogWarning(u"w%d", 2);
  m_pContext->LogError(u"e%d", 3);
  m_pContext->Log(Vexil3D::LOG_NONE, u"\u00e9\U0001F600");
  EXPECT_EQ(Written(), kBom + "[INFO]    i1\r\n[WARN]    w2\r\n[ERROR]   e3\r\n\xC3\xA9\xF0\x9F\x98\x80\r\n");
}

TEST_F(LogTest, CustomTimeFormat) {
  m_pContext->GetLogWriter().SetTimeFormat(u"%Y-%m-%d %H.%M");
  m_pContext->Log(Vexil3D::LOG_DEBUG, u"t");
  EXPECT_EQ(Written(), kBom + "<2024-02-01 10.20> [DEBUG]   t\r\n");
}

TEST_F(LogTest, DefaultClockIsTheLocalTime) {
  m_pContext->GetLogWriter().SetClock({});
  m_pContext->Log(Vexil3D::LOG_INFO, u"now");
  EXPECT_TRUE(::testing::internal::RE::FullMatch(
      Written(), "\xEF\xBB\xBF<[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9] - [0-9][0-9]:[0-9][0-9]:[0-9][0-9]> "
                 "\\[INFO\\]    now\r\n"))
      << Written();
}

// An unknown time leaves the brackets empty; without a stream nothing more is written.
TEST_F(LogTest, UnknownTimeLeavesTheBracketsEmptyAndNoStreamWritesNothing) {
  m_pContext->GetLogWriter().SetClock([](std::tm*) { return false; });
  m_pContext->Log(Vexil3D::LOG_INFO, u"when?");
  m_pContext->GetLogWriter().SetStream(nullptr);
  m_pContext->Log(Vexil3D::LOG_ERROR, u"lost");
  EXPECT_EQ(Written(), kBom + "<> [INFO]    when?\r\n");
  // An overlong time format is cut.
  m_pContext->GetLogWriter().SetTimeFormat(std::u16string(200, u'y').c_str());
  EXPECT_EQ(std::u16string(m_pContext->GetLogWriter().GetTimeFormat()).size(), 63u);
}

TEST_F(LogTest, ConsoleGetsTheTextAloneAndALineFeed) {
  ::testing::internal::CaptureStdout();
  m_pContext->Log(Vexil3D::LOG_INFO, u"to the console");
  m_pContext->Log(Vexil3D::LOG_CRITICAL, u"second");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "to the console\nsecond\n");
}

TEST_F(LogTest, ConsoleAttributesAreRestoredAfterEachLine) {
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_TRUE(SetConsoleTextAttribute(console, 0x1F));
  ::testing::internal::CaptureStdout();
  for (int level = 0; level <= 6; ++level) m_pContext->Log(level, u"coloured");
  ::testing::internal::GetCapturedStdout();
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
  EXPECT_EQ(info.wAttributes, 0x1F);
  SetConsoleTextAttribute(console, 7);
}

TEST_F(LogTest, ClosingBannerEndsTheLogAndReleasesTheStream) {
  auto* stream = new CMemoryStream(m_Buffer, sizeof(m_Buffer), CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
  m_pContext->GetLogWriter().SetStream(stream);
  const int held = stream->GetRefCount();
  delete m_pContext;
  m_pContext = nullptr;
  EXPECT_EQ((std::tuple{held, stream->GetRefCount()}), (std::tuple{2, 1}));
  stream->Release();
  // Each banner line carries its time stamp.
  const std::string stamp = "<01/02/2024 - 10:20:30> ";
  const std::string hyphens(60, '-');
  EXPECT_EQ(Written(), kBom + stamp + hyphens + "\r\n" + stamp +
                           "---------------------- Logging Ended -----------------------\r\n" + stamp + hyphens +
                           "\r\n");
}

TEST_F(LogTest, LoggerBaseAndFreeFunctionsGoToTheCurrentContext) {
  m_pContext->GetLogWriter().SetTimeFormat(u"");
  Vexil3D::LogF(Vexil3D::LOG_INFO, u"no current context yet");
  EXPECT_EQ(Written(), "");
  m_pContext->Initialise();
  ASSERT_EQ(Context::GetCurrent(), m_pContext);
  Vexil3D::Logger logger;
  logger.Log(Vexil3D::LOG_WARN, u"100% sure");
  Vexil3D::LogF(Vexil3D::LOG_ERROR, u"%d%%", 50);
  EXPECT_EQ(Written(), kBom + "[WARN]    100% sure\r\n[ERROR]   50%\r\n");
  delete m_pContext;
  m_pContext = nullptr;
  EXPECT_EQ(Context::GetCurrent(), nullptr);
}

TEST_F(LogTest, LongTextIsCutToTheFormatBuffer) {
  m_pContext->GetLogWriter().SetTimeFormat(u"");
  m_pContext->LogF(Vexil3D::LOG_NONE, u"%s", std::u16string(5000, u'z').c_str());
  EXPECT_EQ(Written(), kBom + std::string(4095, 'z') + "\r\n");
}

TEST(ContextInitialise, MountsTheCurrentDirectoryAndBuildsTheUserAgent) {
  char scratch[] = "/tmp/vexil_ctx_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(scratch), 0);
  std::ofstream("here.txt") << "present";
  {
    // The system entries answer what this host never would.
    platform::testing::PseudoExportStandIn rtl(u"ntdll.dll", "RtlGetVersion", +[](OSVERSIONINFOW* version) {
      version->dwMajorVersion = 6;
      version->dwMinorVersion = 1;
      return STATUS_SUCCESS;
    });
    platform::testing::PseudoExportStandIn wow(u"kernel32.dll", "IsWow64Process", +[](HANDLE, BOOL* wow64) {
      *wow64 = TRUE;
      return TRUE;
    });
    Context context;
    EXPECT_EQ((std::tuple{context.IsInitialised(), context.GetFileSystem(),
                          std::u16string(context.GetLogWriter().GetTimeFormat())}),
              (std::tuple{false, nullptr, u"%d/%m/%Y - %X"}));
    context.Initialise();
    ASSERT_TRUE(context.GetFileSystem() && context.GetRootConfig());
    EXPECT_EQ((std::tuple{context.IsInitialised(), Context::GetCurrent(), context.GetFileSystem()->GetRootCount(),
                          context.GetFileSystem()->Exists(u"/here.txt", true, false),
                          context.GetFileSystem()->Exists(u"here.txt", true, false), Vexil3D::GetScreenDpiX(),
                          Vexil3D::GetScreenDpiY(), context.GetUserAgent()}),
              (std::tuple{true, &context, 1u, true, true, 96, 96, u"Vexil3D/1.2.0  (Windows NT 6.1; WOW64)"}));

    // A second call is refused: what callers hold stays, and stays mounted.
    enginetest::AssertionCapture asserts;
    Vexil3D::CFileSystem* fileSystem = context.GetFileSystem();
    Vexil3D::ConfigElement* config = context.GetRootConfig();
    context.Initialise();
    EXPECT_EQ(
        (std::tuple{asserts.Count(), context.GetFileSystem(), context.GetRootConfig(), fileSystem->GetRootCount()}),
              (std::tuple{1u, fileSystem, config, 1u}));
  }
  EXPECT_EQ(Context::GetCurrent(), nullptr);
  ASSERT_EQ(chdir(previous), 0);
  std::remove((std::string(scratch) + "/here.txt").c_str());
  rmdir(scratch);
}

}  // namespace
