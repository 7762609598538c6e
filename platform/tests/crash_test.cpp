// Faults as exceptions in child processes: the record and context the filter sees, the dump it writes, the exit
// code, resuming, a filter that faults or never returns; the other threads a dump holds.
#include <platform/crash.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <platform/errors.h>
#include <platform/files.h>
#include <platform/sync.h>
#include <platform/testing/CrashDeadline.h>
#include <platform/testing/MinidumpReader.h>
#include <platform/text.h>

namespace {

using platform::testing::MinidumpReader;

constexpr MINIDUMP_TYPE kCoreDumpType = 0x61964;
constexpr std::uint32_t kMarker = 0x12345678;
constexpr std::size_t kPage = 4096;
// mov eax, kMarker: every case starts so, and the context must show it.
#define MARK 0xB8, 0x78, 0x56, 0x34, 0x12
constexpr std::uint32_t kMarkLength = 5;

struct Fault {
  const char* name;
  std::vector<std::uint8_t> code;
  DWORD exception;
  DWORD parameters;
  ULONG_PTR access;
  ULONG_PTR address;  // 0: whatever the child mapped
  int protection;
  bool readsPastFileEnd;  // the code's address at bytes 7-10 becomes a page of an empty file
};

const Fault kFaults[] = {
    {"read", {MARK, 0x8B, 0x0D, 0x10, 0, 0, 0, 0xC3}, EXCEPTION_ACCESS_VIOLATION, 2, kAccessRead, 0x10,
     PROT_READ | PROT_WRITE | PROT_EXEC, false},
    {"write", {MARK, 0xC7, 0x05, 0x20, 0, 0, 0, 1, 0, 0, 0, 0xC3}, EXCEPTION_ACCESS_VIOLATION, 2, kAccessWrite, 0x20,
     PROT_READ | PROT_WRITE | PROT_EXEC, false},
    {"execute", {0xC3}, EXCEPTION_ACCESS_VIOLATION, 2, kAccessExecute, 0, PROT_READ, false},
    {"ud2", {MARK, 0x0F, 0x0B}, EXCEPTION_ILLEGAL_INSTRUCTION, 0, 0, 0, PROT_READ | PROT_WRITE | PROT_EXEC, false},
    {"idiv by zero", {MARK, 0x31, 0xC9, 0x99, 0xF7, 0xF9, 0xC3}, EXCEPTION_INT_DIVIDE_BY_ZERO, 0, 0, 0,
     PROT_READ | PROT_WRITE | PROT_EXEC, false},
    {"stack overflow", {MARK, 0x50, 0xEB, 0xFD}, EXCEPTION_STACK_OVERFLOW, 2, kAccessWrite, 0,
     PROT_READ | PROT_WRITE | PROT_EXEC, false},
    {"past a file's end", {MARK, 0x8B, 0x0D, 0, 0, 0, 0, 0xC3}, EXCEPTION_IN_PAGE_ERROR, 3, kAccessRead, 0,
     PROT_READ | PROT_WRITE | PROT_EXEC, true},
};

std::string DumpPath(pid_t parent, const char* name) {
  return "/tmp/brindle-crash-" + std::to_string(parent) + "-" + name + ".dmp";
}

std::u16string g_dumpPath;
MINIDUMP_TYPE g_dumpType = kCoreDumpType;

__attribute__((stdcall)) LONG WriteDump(void* raw) {
  auto* pointers = static_cast<EXCEPTION_POINTERS*>(raw);
  const HANDLE file =
      CreateFileW(g_dumpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  MINIDUMP_EXCEPTION_INFORMATION info{GetCurrentThreadId(), pointers, FALSE};
  MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, g_dumpType, &info, nullptr, nullptr);
  CloseHandle(file);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Copies the code to a page of its own and calls it (cdecl, no arguments).
std::uint32_t RunCode(std::vector<std::uint8_t> code, int protection, bool readsPastFileEnd) {
  if (readsPastFileEnd) {
    char name[] = "/tmp/brindle-empty-XXXXXX";
    const int fd = ::mkstemp(name);
    ::unlink(name);
    void* empty = ::mmap(nullptr, kPage, PROT_READ, MAP_SHARED, fd, 0);
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(empty));
    std::memcpy(code.data() + kMarkLength + 2, &address, sizeof address);
  }
  void* page = ::mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  std::memcpy(page, code.data(), code.size());
  ::mprotect(page, kPage, protection);
  return reinterpret_cast<std::uint32_t (*)()>(page)();
}

__attribute__((stdcall)) LONG SkipTheLoad(void* raw) {
  CONTEXT* context = static_cast<EXCEPTION_POINTERS*>(raw)->ContextRecord;
  constexpr DWORD kLoadLength = 6;
  context->Eip += kLoadLength;
  context->Ecx = 77;
  return EXCEPTION_CONTINUE_EXECUTION;
}

__attribute__((stdcall)) LONG FaultAgain(void*) {
  RunCode({0x8B, 0x0D, 0x10, 0, 0, 0, 0xC3}, PROT_READ | PROT_WRITE | PROT_EXEC, false);
  return EXCEPTION_CONTINUE_SEARCH;
}

__attribute__((stdcall)) LONG NeverReturn(void*) {
  for (;;) ::pause();
}

class CrashDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(CrashDeathTest, EachFaultReachesTheFilterAndEndsWithItsCode) {
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    const std::string path = DumpPath(::getpid(), f.name);
    EXPECT_EXIT(
        {
          g_dumpPath = text::Utf8ToUtf16(DumpPath(::getppid(), f.name));
          SetUnhandledExceptionFilter(WriteDump);
          RunCode(f.code, f.protection, f.readsPastFileEnd);
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(int(f.exception & 0xFF)), "");
  }
  // Read only after every child ran: each child runs this test again up to its own death test.
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    const std::string path = DumpPath(::getpid(), f.name);
    MinidumpReader dump(path);
    ::unlink(path.c_str());
    ASSERT_TRUE(dump.Valid());
    EXPECT_EQ(dump.Header().Flags, kCoreDumpType);
    std::vector<DWORD> types;
    for (const MINIDUMP_DIRECTORY& d : dump.Directory()) types.push_back(d.StreamType);
    EXPECT_EQ(types, (std::vector<DWORD>{ExceptionStream, ThreadListStream, ModuleListStream, MemoryListStream,
                                         SystemInfoStream, MiscInfoStream, HandleDataStream,
                                         UnloadedModuleListStream, MemoryInfoListStream, ThreadInfoListStream}));

    const auto* e = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
    ASSERT_NE(e, nullptr);
    const MINIDUMP_EXCEPTION& r = e->ExceptionRecord;
    EXPECT_EQ(r.ExceptionCode, f.exception);
    EXPECT_EQ(r.NumberParameters, f.parameters);
    if (f.parameters >= 2) {
      EXPECT_EQ(r.ExceptionInformation[0], f.access);
    }
    if (f.address != 0) {
      EXPECT_EQ(r.ExceptionInformation[1], f.address);
    }
    if (f.access == kAccessExecute) {
      EXPECT_EQ(r.ExceptionInformation[1], r.ExceptionAddress);
    }

    // The faulting thread: the child's only thread, whose id is its process id; its context at the fault.
    const auto* misc = dump.Stream<MINIDUMP_MISC_INFO>(MiscInfoStream);
    const auto* threads = dump.Stream<DWORD>(ThreadListStream);
    ASSERT_TRUE(misc != nullptr && threads != nullptr);
    ASSERT_EQ(*threads, 1u);
    const auto* thread = reinterpret_cast<const MINIDUMP_THREAD*>(threads + 1);
    EXPECT_EQ(e->ThreadId, misc->ProcessId);
    EXPECT_EQ(thread->ThreadId, e->ThreadId);
    const auto* context = dump.At<CONTEXT>(e->ThreadContext.Rva);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->Eip, r.ExceptionAddress);
    if (f.code.size() > kMarkLength) {
      EXPECT_EQ(context->Eax, kMarker);
    }
    // The stack from the stack pointer, and the faulting instruction among the memory it points at.
    EXPECT_EQ(thread->Stack.StartOfMemoryRange, context->Esp);
    EXPECT_FALSE(dump.Memory(context->Esp, sizeof(DWORD)).empty());
    if (f.code.size() > kMarkLength) {
      // The opcode at the fault (idiv follows two instructions more).
      const std::size_t at = f.exception == EXCEPTION_INT_DIVIDE_BY_ZERO ? kMarkLength + 3 : kMarkLength;
      const std::vector<std::uint8_t> opcode(f.code.begin() + at, f.code.begin() + at + 2);
      EXPECT_EQ(dump.Memory(r.ExceptionAddress, 2), opcode);
    }
    const auto* modules = dump.Stream<DWORD>(ModuleListStream);
    ASSERT_NE(modules, nullptr);
    EXPECT_GT(*modules, 1u);  // this program and its libraries
  }
}

TEST_F(CrashDeathTest, AFilterMayMendTheContextAndResume) {
  EXPECT_EXIT(
      {
        SetUnhandledExceptionFilter(SkipTheLoad);
        std::signal(SIGALRM, SIG_IGN);  // the program's own, which the crash's deadline borrowed
        // mov ecx, [0x10]; mov eax, ecx; ret
        const std::uint32_t result = RunCode({0x8B, 0x0D, 0x10, 0, 0, 0, 0x89, 0xC8, 0xC3},
                                             PROT_READ | PROT_WRITE | PROT_EXEC, false);
        std::_Exit(result == 77 && std::signal(SIGALRM, SIG_DFL) == SIG_IGN ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(CrashDeathTest, AFilterThatFaultsOrHangsStillEndsWithTheFirstCode) {
  EXPECT_EXIT(
      {
        SetUnhandledExceptionFilter(FaultAgain);
        RunCode({0x0F, 0x0B}, PROT_READ | PROT_WRITE | PROT_EXEC, false);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(int(EXCEPTION_ILLEGAL_INSTRUCTION & 0xFF)), "");
  EXPECT_EXIT(
      {
        constexpr unsigned kDeadlineMilliseconds = 100;
        platform::testing::SetCrashDeadline(kDeadlineMilliseconds);
        SetUnhandledExceptionFilter(NeverReturn);
        RunCode({0x31, 0xC9, 0xF7, 0xF9}, PROT_READ | PROT_WRITE | PROT_EXEC, false);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(int(EXCEPTION_INT_DIVIDE_BY_ZERO & 0xFF)), "");
}

std::atomic<bool> g_inFilter{false};
__attribute__((stdcall)) LONG WriteDumpSlowly(void* raw) {
  g_inFilter = true;
  ::usleep(100000);  // time for the other thread to fault
  return WriteDump(raw);
}

// A fault off the main thread: the dump names that thread, first, with the fault's context, and holds the main
// thread too; a second thread that faults while the dump is written waits, answers it from its own handler, and
// the process ends with the first fault's code.
TEST_F(CrashDeathTest, AFaultOffTheMainThreadIsDumpedFirstAndAnotherFaultWaits) {
  for (const bool second : {false, true}) {
    SCOPED_TRACE(second ? "a second fault meanwhile" : "one fault");
    const char* name = second ? "two threads" : "other thread";
    EXPECT_EXIT(
        {
          g_dumpPath = text::Utf8ToUtf16(DumpPath(::getppid(), name));
          SetUnhandledExceptionFilter(second ? WriteDumpSlowly : WriteDump);
          std::thread late;
          if (second) {
            late = std::thread([] {
              while (!g_inFilter) ::usleep(100);
              RunCode({0x0F, 0x0B}, PROT_READ | PROT_EXEC, false);
            });
          }
          std::thread faulting([] { RunCode({MARK, 0x8B, 0x0D, 0x10, 0, 0, 0, 0xC3}, PROT_READ | PROT_EXEC, false); });
          faulting.join();
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(int(EXCEPTION_ACCESS_VIOLATION & 0xFF)), "");
  }
  // Read only after both children ran, as above.
  for (const bool second : {false, true}) {
    SCOPED_TRACE(second ? "a second fault meanwhile" : "one fault");
    const std::string path = DumpPath(::getpid(), second ? "two threads" : "other thread");
    MinidumpReader dump(path);
    ::unlink(path.c_str());
    ASSERT_TRUE(dump.Valid());
    const auto* e = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);
    const auto* misc = dump.Stream<MINIDUMP_MISC_INFO>(MiscInfoStream);
    const auto* count = dump.Stream<DWORD>(ThreadListStream);
    ASSERT_TRUE(e != nullptr && misc != nullptr && count != nullptr);
    EXPECT_EQ(e->ExceptionRecord.ExceptionCode, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_EQ(*count, second ? 3u : 2u);
    const auto* threads = reinterpret_cast<const MINIDUMP_THREAD*>(count + 1);
    EXPECT_EQ(threads[0].ThreadId, e->ThreadId);
    EXPECT_NE(e->ThreadId, misc->ProcessId);
    const auto* context = dump.At<CONTEXT>(threads[0].ThreadContext.Rva);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->Eax, kMarker);
    bool mainThread = false;
    for (DWORD i = 0; i < *count; ++i) mainThread |= threads[i].ThreadId == misc->ProcessId;
    EXPECT_TRUE(mainThread);
  }
}

TEST(MiniDump, RefusesWhatItCannotWrite) {
  struct Case {
    const char* what;
    HANDLE process;
    DWORD processId;
    const MINIDUMP_USER_STREAM_INFORMATION* user;
    DWORD error;
  };
  int user = 0;
  const Case cases[] = {
      {"another process", reinterpret_cast<HANDLE>(std::intptr_t(4)), GetCurrentProcessId(), nullptr,
       ERROR_INVALID_HANDLE},
      {"another id", GetCurrentProcess(), GetCurrentProcessId() + 1, nullptr, ERROR_INVALID_HANDLE},
      {"user streams", GetCurrentProcess(), GetCurrentProcessId(),
       reinterpret_cast<const MINIDUMP_USER_STREAM_INFORMATION*>(&user), ERROR_NOT_SUPPORTED},
      {"a closed file", GetCurrentProcess(), GetCurrentProcessId(), nullptr, ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_FALSE(MiniDumpWriteDump(c.process, c.processId, reinterpret_cast<HANDLE>(std::intptr_t(0x7777)),
                                   MiniDumpNormal, nullptr, c.user, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(MiniDump, WithoutAnExceptionDumpsTheCallingThreadWhereTheFileStands) {
  char name[] = "/tmp/brindle-dump-XXXXXX";
  ::close(::mkstemp(name));
  const HANDLE file = CreateFileW(text::Utf8ToUtf16(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  constexpr char kPrefix[] = "prefix";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, kPrefix, sizeof kPrefix, &written, nullptr));
  ASSERT_TRUE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, MiniDumpNormal, nullptr, nullptr,
                                nullptr));
  CloseHandle(file);
  std::ifstream in(name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ::unlink(name);
  ASSERT_GT(bytes.size(), sizeof kPrefix);
  EXPECT_EQ(bytes.compare(0, sizeof kPrefix, kPrefix, sizeof kPrefix), 0);
  const std::string rest = "/tmp/brindle-dump-rest";
  std::ofstream(rest, std::ios::binary) << bytes.substr(sizeof kPrefix);
  MinidumpReader dump(rest);
  ::unlink(rest.c_str());
  ASSERT_TRUE(dump.Valid());
  EXPECT_EQ(dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream), nullptr);
  EXPECT_EQ(dump.Stream<MINIDUMP_MEMORY_INFO_LIST>(MemoryInfoListStream), nullptr);  // not asked for
  const auto* threads = dump.Stream<DWORD>(ThreadListStream);
  ASSERT_TRUE(threads != nullptr && *threads >= 1u);  // threads earlier tests left running come after it
  EXPECT_EQ(reinterpret_cast<const MINIDUMP_THREAD*>(threads + 1)->ThreadId, GetCurrentThreadId());
  const auto* system = dump.Stream<MINIDUMP_SYSTEM_INFO>(SystemInfoStream);
  ASSERT_NE(system, nullptr);
  EXPECT_GE(system->NumberOfProcessors, 1u);
  EXPECT_NE(dump.String(system->CSDVersionRva).find(u"Linux"), std::u16string::npos);
}

// A thread parked with marks on its stack, counting rounds until told to stop; it may block the dump's request.
struct ParkedThread {
  static constexpr std::uint32_t kMarks = 64;
  explicit ParkedThread(std::uint32_t seed, bool blocks) : seed(seed), blocks(blocks) {
    thread = std::thread([this] { Run(); });
  }
  ~ParkedThread() {
    stop = true;
    thread.join();
  }
  void Run() {
    if (blocks) {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, SIGRTMIN + 3);
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    volatile std::uint32_t marks[kMarks];
    for (std::uint32_t i = 0; i < kMarks; ++i) marks[i] = seed + i;
    id = GetCurrentThreadId();
    while (!stop) {
      rounds.fetch_add(1);
      ::usleep(200);
    }
    EXPECT_EQ(marks[kMarks - 1], seed + kMarks - 1);
  }
  const std::uint32_t seed;
  const bool blocks;
  std::atomic<DWORD> id{0};
  std::atomic<unsigned> rounds{0};
  std::atomic<bool> stop{false};
  std::thread thread;
};

// Every other thread that answers is in the dump after the calling one, with its context where it stood and its
// stack from that stack pointer (its marks in it); each goes on afterwards; one that blocks the request is left
// out once the wait is over, and the dump is still whole. Both with and without the thread-info stream.
TEST(MiniDump, HoldsEveryThreadThatAnswersWithItsContextAndStack) {
  std::vector<std::unique_ptr<ParkedThread>> parked;
  parked.push_back(std::make_unique<ParkedThread>(0xA1000000, false));
  parked.push_back(std::make_unique<ParkedThread>(0xB2000000, false));
  parked.push_back(std::make_unique<ParkedThread>(0xC3000000, true));
  for (const auto& p : parked) {
    while (p->id == 0) ::usleep(1000);
  }
  for (const MINIDUMP_TYPE type : {MiniDumpNormal, kCoreDumpType}) {
    SCOPED_TRACE(type);
    const std::string path = DumpPath(::getpid(), "threads");
    const HANDLE file = CreateFileW(text::Utf8ToUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_TRUE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, type, nullptr, nullptr, nullptr));
    CloseHandle(file);
    std::vector<unsigned> before;
    for (const auto& p : parked) before.push_back(p->rounds);
    MinidumpReader dump(path);
    ::unlink(path.c_str());
    ASSERT_TRUE(dump.Valid());
    DWORD size = 0;
    const auto* count = dump.Stream<DWORD>(ThreadListStream, &size);
    ASSERT_TRUE(count != nullptr && *count >= 3u);
    ASSERT_EQ(size, sizeof(DWORD) + *count * sizeof(MINIDUMP_THREAD));
    const auto* threads = reinterpret_cast<const MINIDUMP_THREAD*>(count + 1);
    EXPECT_EQ(threads[0].ThreadId, GetCurrentThreadId());
    for (const auto& p : parked) {
      SCOPED_TRACE(p->seed);
      const MINIDUMP_THREAD* found = nullptr;
      for (DWORD i = 0; i < *count; ++i) {
        if (threads[i].ThreadId == p->id) found = &threads[i];
      }
      ASSERT_EQ(found != nullptr, !p->blocks);
      if (found == nullptr) continue;
      const auto* context = dump.At<CONTEXT>(found->ThreadContext.Rva);
      ASSERT_TRUE(context != nullptr && found->ThreadContext.DataSize == sizeof(CONTEXT));
      EXPECT_EQ(context->ContextFlags & CONTEXT_FULL, CONTEXT_FULL);
      EXPECT_NE(context->Eip, 0u);
      EXPECT_EQ(found->Stack.StartOfMemoryRange, context->Esp);
      const std::vector<std::uint8_t> stack =
          dump.Memory(found->Stack.StartOfMemoryRange, found->Stack.Memory.DataSize);
      ASSERT_FALSE(stack.empty());
      std::vector<std::uint32_t> marks(ParkedThread::kMarks);
      for (std::uint32_t i = 0; i < ParkedThread::kMarks; ++i) marks[i] = p->seed + i;
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(marks.data());
      EXPECT_NE(std::search(stack.begin(), stack.end(), bytes, bytes + marks.size() * sizeof(std::uint32_t)),
                stack.end());
    }
    DWORD infoSize = 0;
    const auto* info = dump.Stream<MINIDUMP_THREAD_INFO_LIST>(ThreadInfoListStream, &infoSize);
    EXPECT_EQ(info != nullptr, type == kCoreDumpType);
    if (info != nullptr) {
      EXPECT_EQ(info->NumberOfEntries, *count);
      EXPECT_EQ(infoSize, sizeof *info + *count * sizeof(MINIDUMP_THREAD_INFO));
    }
    // Let go: every thread counts on.
    for (std::size_t i = 0; i < parked.size(); ++i) {
      for (int waited = 0; parked[i]->rounds == before[i] && waited < 5000; ++waited) ::usleep(1000);
      EXPECT_GT(parked[i]->rounds, before[i]) << i;
    }
  }
}

// More threads than a dump asks: the first 256 others are in it after the calling one, and every thread goes on.
TEST(MiniDump, AsksAtMost256OtherThreads) {
  constexpr int kThreads = 300;
  std::atomic<bool> stop{false};
  std::atomic<int> running{0};
  std::atomic<unsigned> rounds{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      ++running;
      while (!stop) {
        ::usleep(500);
        ++rounds;
      }
    });
  }
  while (running < kThreads) ::usleep(1000);
  const std::string path = DumpPath(::getpid(), "many");
  const HANDLE file = CreateFileW(text::Utf8ToUtf16(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_TRUE(
      MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, kCoreDumpType, nullptr, nullptr, nullptr));
  CloseHandle(file);
  const unsigned before = rounds;
  MinidumpReader dump(path);
  ::unlink(path.c_str());
  ASSERT_TRUE(dump.Valid());
  const auto* count = dump.Stream<DWORD>(ThreadListStream);
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(*count, 257u);
  const auto* info = dump.Stream<MINIDUMP_THREAD_INFO_LIST>(ThreadInfoListStream);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->NumberOfEntries, *count);
  for (int waited = 0; rounds < before + kThreads && waited < 5000; ++waited) ::usleep(1000);
  EXPECT_GE(rounds, before + kThreads);
  stop = true;
  for (auto& t : threads) t.join();
}

}  // namespace
