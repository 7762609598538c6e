// The current process: handles, exit and termination through the hook, debugger checks.
#include <platform/process.h>

#include <gtest/gtest.h>

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <fstream>
#include <string>

#include <platform/errors.h>

namespace {

struct HookCalled {
  UINT code;
};

void ThrowingHook(UINT code) { throw HookCalled{code}; }

void ReturningHook(UINT) {}

// Earlier tests leave threads behind; re-executing the binary keeps the child sane.
class ProcessDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST(Process, PseudoHandleAndId) {
  EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)));
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
}

TEST_F(ProcessDeathTest, ExitProcessEndsWithTheCodeAndFlushesStdio) {
  // The child is a fresh run of this binary: it finds the file by its parent's id.
  auto pathFor = [](pid_t parent) { return "/tmp/brindle-exit-test-" + std::to_string(parent) + ".txt"; };
  const std::string path = pathFor(::getpid());
  EXPECT_EXIT(
      {
        std::FILE* file = std::fopen(pathFor(::getppid()).c_str(), "w");
        std::setvbuf(file, nullptr, _IOFBF, 4096);
        std::fputs("buffered text", file);  // not flushed by hand
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "");
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  EXPECT_EQ(content, "buffered text");
}

TEST_F(ProcessDeathTest, TerminateOwnProcessEndsWithTheCode) {
  EXPECT_EXIT(TerminateProcess(GetCurrentProcess(), 1), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(TerminateProcess(GetCurrentProcess(), 0), ::testing::ExitedWithCode(0), "");
}

TEST_F(ProcessDeathTest, AHookThatReturnsStillEndsTheProcess) {
  EXPECT_EXIT(
      {
        platform::SetExitHook(ReturningHook);
        ExitProcess(4);
      },
      ::testing::ExitedWithCode(4), "");
}

TEST(Process, HookSeesTheCodeAndMayThrowToStayAlive) {
  platform::ExitHook previous = platform::SetExitHook(ThrowingHook);
  try {
    TerminateProcess(GetCurrentProcess(), 42);
    ADD_FAILURE() << "TerminateProcess returned";
  } catch (const HookCalled& called) {
    EXPECT_EQ(called.code, 42u);
  }
  try {
    ExitProcess(0xC0000005u);
  } catch (const HookCalled& called) {
    EXPECT_EQ(called.code, 0xC0000005u);
  }
  EXPECT_EQ(platform::SetExitHook(previous), &ThrowingHook);
}

TEST_F(ProcessDeathTest, DebugBreakRaisesTheTrap) {
  EXPECT_EXIT(DebugBreak(), ::testing::KilledBySignal(SIGTRAP), "");
}

TEST(Process, ADebuggerIsPresentOnlyWhileOneTraces) {
  enum : int { kTraced = 3, kNotTraced, kTracingRefused };
  EXPECT_FALSE(IsDebuggerPresent());
  // A child that asks this process (its parent) to trace it sees a tracer.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(kTracingRefused);
    ::_exit(IsDebuggerPresent() ? kTraced : kNotTraced);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kTracingRefused) GTEST_SKIP() << "tracing is not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), kTraced);
}

TEST(Process, OtherProcessHandlesAreRefused) {
  EXPECT_FALSE(TerminateProcess(nullptr, 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(TerminateProcess(reinterpret_cast<HANDLE>(0x1000), 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
