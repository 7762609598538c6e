// Page protection and allocation: VirtualProtect and VirtualAlloc, their Win32 values and refusals, under threads.
#include <platform/memory.h>

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <platform/errors.h>

namespace {

const SIZE_T kPage = platform::PageSize();

struct Allocation {
  explicit Allocation(SIZE_T size, DWORD protect = PAGE_READWRITE)
      : base(static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, protect))) {}
  ~Allocation() {
    if (base) VirtualFree(base, 0, MEM_RELEASE);
  }
  std::uint8_t* base;
};

DWORD Protect(void* at, SIZE_T size, DWORD protect) {
  DWORD old = 0xDEAD;
  EXPECT_TRUE(VirtualProtect(at, size, protect, &old)) << "error " << GetLastError();
  return old;
}

TEST(VirtualProtect, ReturnsThePreviousWin32ValueExactly) {
  Allocation a(kPage);
  ASSERT_NE(a.base, nullptr);
  // Each step hands back what the step before set, including values the host
  // cannot tell apart (write-copy, modifiers).
  const DWORD sequence[] = {PAGE_EXECUTE_READ,      PAGE_WRITECOPY,          PAGE_READONLY,
                            PAGE_READWRITE | PAGE_NOCACHE, PAGE_EXECUTE_WRITECOPY, PAGE_EXECUTE,
                            PAGE_NOACCESS,          PAGE_EXECUTE_READWRITE,  PAGE_READWRITE};
  DWORD expectedOld = PAGE_READWRITE;
  for (DWORD protect : sequence) {
    EXPECT_EQ(Protect(a.base + 100, 1, protect), expectedOld) << std::hex << protect;
    expectedOld = protect;
  }
}

TEST(VirtualProtect, CoversEveryPageOfTheRangeAndAnswersTheFirst) {
  Allocation a(3 * kPage);
  ASSERT_NE(a.base, nullptr);
  Protect(a.base + kPage, kPage, PAGE_READONLY);
  // Two bytes straddling the first boundary: the first page's old value is
  // returned, both pages change.
  EXPECT_EQ(Protect(a.base + kPage - 1, 2, PAGE_EXECUTE_READ), DWORD(PAGE_READWRITE));
  EXPECT_EQ(Protect(a.base + kPage, 1, PAGE_READWRITE), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(Protect(a.base, 1, PAGE_READWRITE), DWORD(PAGE_EXECUTE_READ));
  EXPECT_EQ(Protect(a.base + 2 * kPage, 1, PAGE_READWRITE), DWORD(PAGE_READWRITE));
}

TEST(VirtualProtect, UnknownPagesAreReadFromTheHostMap) {
  void* raw = mmap(nullptr, 2 * kPage, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(raw, MAP_FAILED);
  auto* bytes = static_cast<std::uint8_t*>(raw);
  EXPECT_EQ(Protect(bytes, 1, PAGE_READWRITE), DWORD(PAGE_EXECUTE_READ));
  ASSERT_EQ(mprotect(bytes + kPage, kPage, PROT_READ), 0);
  EXPECT_EQ(Protect(bytes + kPage, 1, PAGE_READWRITE), DWORD(PAGE_READONLY));
  bytes[kPage] = 7;  // writable now
  EXPECT_EQ(bytes[kPage], 7);
  munmap(raw, 2 * kPage);

  static const char kConstant[] = "read-only data of the program";
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(const_cast<char*>(kConstant), sizeof kConstant, PAGE_READONLY, &old));
  EXPECT_EQ(old, DWORD(PAGE_READONLY));
}

TEST(VirtualProtect, RefusesBadInput) {
  Allocation a(kPage);
  ASSERT_NE(a.base, nullptr);
  DWORD old = 0;
  struct Case {
    SIZE_T size;
    DWORD protect;
    DWORD* old;
  };
  const Case cases[] = {
      {1, PAGE_READWRITE, nullptr},
      {0, PAGE_READWRITE, &old},
      {1, 0, &old},
      {1, PAGE_READONLY | PAGE_READWRITE, &old},
      {1, PAGE_NOACCESS | PAGE_GUARD, &old},
      {1, 0x1000 | PAGE_READONLY, &old},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(VirtualProtect(a.base, c.size, c.protect, c.old)) << std::hex << c.protect;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << std::hex << c.protect;
  }
  EXPECT_EQ(Protect(a.base, 1, PAGE_READWRITE), DWORD(PAGE_READWRITE));
}

TEST(VirtualProtect, RangeReachingAnUnmappedPageFailsAndChangesNothing) {
  // Pages the table does not know: the host map shows the hole.
  void* raw = mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(raw, MAP_FAILED);
  auto* bytes = static_cast<std::uint8_t*>(raw);
  ASSERT_EQ(munmap(bytes + kPage, kPage), 0);
  DWORD old = 0;
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(bytes + kPage - 1, 2, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  bytes[0] = 1;  // still writable
  munmap(raw, kPage);

  // Pages the table knows but the host dropped behind its back.
  Allocation a(2 * kPage);
  ASSERT_NE(a.base, nullptr);
  ASSERT_EQ(munmap(a.base + kPage, kPage), 0);
  SetLastError(0);
  EXPECT_FALSE(VirtualProtect(a.base, 2 * kPage, PAGE_READONLY, &old));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  a.base[0] = 1;  // the first page was put back
  EXPECT_EQ(Protect(a.base, 1, PAGE_READWRITE), DWORD(PAGE_READWRITE));
}

TEST(VirtualProtect, ReadOnlyReallyRefusesWrites) {
  Allocation a(kPage);
  ASSERT_NE(a.base, nullptr);
  Protect(a.base, kPage, PAGE_READONLY);
  EXPECT_DEATH(a.base[5] = 1, "");
  Protect(a.base, kPage, PAGE_READWRITE);
  a.base[5] = 1;
  EXPECT_EQ(a.base[5], 1);
}

TEST(VirtualProtect, ExecuteReadRunsCode) {
  Allocation a(kPage);
  ASSERT_NE(a.base, nullptr);
  const std::uint8_t code[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3};  // mov eax, 42; ret
  std::memcpy(a.base, code, sizeof code);
  Protect(a.base, sizeof code, PAGE_EXECUTE_READ);
  EXPECT_TRUE(FlushInstructionCache(reinterpret_cast<HANDLE>(-1), a.base, sizeof code));
  auto function = reinterpret_cast<int (*)()>(a.base);
  EXPECT_EQ(function(), 42);
}

TEST(VirtualProtect, ConcurrentChangesOfDistinctPagesKeepTheirOwnValues) {
  constexpr int kThreads = 4;
  Allocation a(kThreads * kPage);
  ASSERT_NE(a.base, nullptr);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::uint8_t* page = a.base + t * kPage;
      DWORD expected = PAGE_READWRITE;
      for (int i = 0; i < 500; ++i) {
        const DWORD next = (i % 2) ? PAGE_READWRITE : PAGE_EXECUTE_READWRITE;
        DWORD old = 0;
        if (!VirtualProtect(page + t, 1, next, &old) || old != expected) ++mismatches;
        page[t] = std::uint8_t(i);
        expected = next;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(VirtualAlloc, FixedAddressIsExactAndExclusive) {
  // Reserve somewhere free first to learn a usable address, then ask for it.
  Allocation probe(4 * kPage);
  ASSERT_NE(probe.base, nullptr);
  std::uint8_t* wanted = probe.base;
  ASSERT_TRUE(VirtualFree(probe.base, 0, MEM_RELEASE));
  probe.base = nullptr;

  auto* first = static_cast<std::uint8_t*>(VirtualAlloc(wanted + 10, 3 * kPage, MEM_COMMIT | MEM_RESERVE,
                                                        PAGE_READWRITE));
  ASSERT_EQ(first, wanted);  // rounded down to its page
  for (SIZE_T i = 0; i < 3 * kPage + kPage; i += 997) EXPECT_EQ(first[i], 0) << i;  // zero-filled, 4 pages

  SetLastError(0);
  EXPECT_EQ(VirtualAlloc(wanted + kPage, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);

  EXPECT_FALSE(VirtualFree(first + kPage, 0, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_FALSE(VirtualFree(first, kPage, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ASSERT_TRUE(VirtualFree(first, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(first, 0, MEM_RELEASE));

  // Released pages are forgotten: a new allocation there starts afresh.
  auto* again = static_cast<std::uint8_t*>(VirtualAlloc(wanted, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READ));
  ASSERT_EQ(again, wanted);
  EXPECT_EQ(Protect(again, 1, PAGE_READWRITE), DWORD(PAGE_EXECUTE_READ));
  EXPECT_TRUE(VirtualFree(again, 0, MEM_RELEASE));
}

TEST(VirtualAlloc, ReserveThenCommit) {
  auto* base = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4 * kPage, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(base, nullptr);
  EXPECT_DEATH(base[kPage] = 1, "");
  ASSERT_EQ(VirtualAlloc(base + kPage, kPage, MEM_COMMIT, PAGE_READWRITE), base + kPage);
  base[kPage] = 1;
  EXPECT_EQ(base[kPage], 1);
  EXPECT_EQ(Protect(base + kPage, 1, PAGE_READONLY), DWORD(PAGE_READWRITE));
  EXPECT_EQ(Protect(base, 1, PAGE_READONLY), DWORD(PAGE_NOACCESS));
  // Outside the reservation nothing can be committed.
  EXPECT_EQ(VirtualAlloc(base + 4 * kPage, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(VirtualAlloc, RefusesBadArguments) {
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(VirtualAlloc(nullptr, kPage, 0, PAGE_READWRITE), nullptr);
  EXPECT_EQ(VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RELEASE, PAGE_READWRITE), nullptr);
  EXPECT_EQ(VirtualAlloc(nullptr, kPage, MEM_COMMIT, 0x3), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
  EXPECT_FALSE(FlushInstructionCache(reinterpret_cast<HANDLE>(-1), nullptr, 4));
}

}  // namespace
