// Cross-process calls against a real child: suspended starts, remote memory and threads, exit codes, failures.
#include <gtest/gtest.h>

#include <string>

#include <platform/errors.h>
#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/testing/ProcessFaults.h>
#include <platform/text.h>

namespace {

using platform::testing::ProcessCall;

constexpr DWORD kGenerous = 20000;  // a failure bound only

struct Child {
  PROCESS_INFORMATION info{};
  bool started = false;
  Child(const std::string& arguments, DWORD flags = 0) {
    std::u16string line = text::Utf8ToUtf16(std::string("\"" BRINDLE_PROCESS_CHILD "\" ") + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started = CreateProcessW(text::Utf8ToUtf16(BRINDLE_PROCESS_CHILD).c_str(), line.data(), nullptr, nullptr, FALSE,
                             flags, nullptr, nullptr, &startup, &info) != FALSE;
  }
  ~Child() {
    if (!started) return;
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, kGenerous);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  DWORD ExitCode() {
    EXPECT_EQ(WaitForSingleObject(info.hProcess, kGenerous), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    return code;
  }
};

// What a remote LoadLibraryW thread of the child answers, started at the address this process looked up.
DWORD RemoteLoad(HANDLE process, const std::u16string& name, HANDLE* thread = nullptr) {
  const SIZE_T bytes = (name.size() + 1) * sizeof(char16_t);
  void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  EXPECT_NE(remote, nullptr);
  SIZE_T written = 0;
  EXPECT_TRUE(WriteProcessMemory(process, remote, name.c_str(), bytes, &written));
  EXPECT_EQ(written, bytes);
  auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(GetProcAddress(LoadLibraryW(u"kernel32.dll"), "LoadLibraryW"));
  HANDLE loader = CreateRemoteThread(process, nullptr, 0, start, remote, 0, nullptr);
  EXPECT_NE(loader, nullptr);
  EXPECT_EQ(WaitForSingleObject(loader, kGenerous), WAIT_OBJECT_0);
  DWORD code = STILL_ACTIVE;
  GetExitCodeThread(loader, &code);
  EXPECT_TRUE(VirtualFreeEx(process, remote, 0, MEM_RELEASE));  // the child's own VirtualFree knew the block
  if (thread != nullptr) *thread = loader; else CloseHandle(loader);
  return code;
}

TEST(ChildProcess, SuspendedChildServesRemoteThreadsBeforeItsMainRuns) {
  Child child("exit 0x1234567", CREATE_SUSPENDED);
  ASSERT_TRUE(child.started);
  EXPECT_NE(RemoteLoad(child.info.hProcess, u"libz.so.1"), 0u);  // a base address in the child
  EXPECT_EQ(RemoteLoad(child.info.hProcess, u"no-such-library.dll"), 0u);
  EXPECT_EQ(WaitForSingleObject(child.info.hProcess, 0), WAIT_TIMEOUT);  // still held
  EXPECT_EQ(ResumeThread(child.info.hThread), 1u) << GetLastError();
  EXPECT_EQ(child.ExitCode(), 0x1234567u);  // all 32 bits, though the host keeps 8
  DWORD mainCode = 0;
  EXPECT_TRUE(GetExitCodeThread(child.info.hThread, &mainCode));
  EXPECT_EQ(mainCode, 0x1234567u);  // a thread that had not ended takes the process's code
}

TEST(ChildProcess, ExitCodesOfEveryEnding) {
  struct Case {
    const char* arguments;
    bool terminate;
    DWORD code;
  } cases[] = {
      {"exit 0xC0DE0001", false, 0xC0DE0001}, {"return 7", false, 7},
      {"signal", false, 0xC000001D},          {"wait", true, 0xABCDEF12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Child child(c.arguments);
    ASSERT_TRUE(child.started);
    if (c.terminate) {
      EXPECT_TRUE(TerminateProcess(child.info.hProcess, c.code));
    }
    EXPECT_EQ(child.ExitCode(), c.code);
    EXPECT_FALSE(TerminateProcess(child.info.hProcess, 1));  // ended already
    EXPECT_EQ(VirtualAllocEx(child.info.hProcess, nullptr, 16, MEM_COMMIT, PAGE_READWRITE), nullptr);
  }
}

TEST(ChildProcess, ForcedFailuresAndRefusals) {
  platform::testing::FailProcessCall(ProcessCall::CreateProcess, 1);
  EXPECT_FALSE(Child("exit 0").started);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Child child("exit 0", CREATE_SUSPENDED);
  ASSERT_TRUE(child.started);
  HANDLE process = child.info.hProcess;
  platform::testing::FailProcessCall(ProcessCall::VirtualAllocEx, 2);
  void* block = VirtualAllocEx(process, nullptr, 64, MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(VirtualAllocEx(process, nullptr, 64, MEM_COMMIT, PAGE_READWRITE), nullptr);
  char bytes[64] = {};
  SIZE_T written = 99;
  platform::testing::FailProcessCall(ProcessCall::WriteProcessMemory, 1);
  EXPECT_FALSE(WriteProcessMemory(process, block, bytes, sizeof bytes, &written));
  EXPECT_EQ(written, sizeof bytes / 2);
  EXPECT_FALSE(WriteProcessMemory(process, static_cast<char*>(block) + 32, bytes, sizeof bytes, &written));
  EXPECT_EQ(GetLastError(), ERROR_NOACCESS);  // past the block
  platform::testing::FailProcessCall(ProcessCall::CreateRemoteThread, 1);
  EXPECT_EQ(CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(block), nullptr, 0,
                               nullptr),
            nullptr);
  EXPECT_TRUE(VirtualFreeEx(process, block, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFreeEx(process, block, 0, MEM_RELEASE));  // released already
  EXPECT_TRUE(TerminateThread(child.info.hThread, 5));           // the held main thread
  EXPECT_EQ(WaitForSingleObject(child.info.hThread, kGenerous), WAIT_OBJECT_0);
  platform::testing::ClearProcessCallFailures();
}

TEST(ChildProcess, OpenedThreadsEndWithExitThread) {
  HANDLE opened = nullptr;
  HANDLE made = CreateThread(
      nullptr, 0, [](LPVOID out) -> DWORD {
        *static_cast<HANDLE*>(out) = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
        ExitThread(0x80000042);
      },
      &opened, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(made, kGenerous), WAIT_OBJECT_0);
  ASSERT_NE(opened, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(opened, &code));
  EXPECT_EQ(code, 0x80000042u);
  EXPECT_EQ(ResumeThread(opened), 0u);  // never held
  EXPECT_EQ(OpenThread(SYNCHRONIZE, FALSE, 0), nullptr);
  CloseHandle(opened);
  CloseHandle(made);
}

}  // namespace
