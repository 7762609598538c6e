// The page of shared entries at its fixed address: one "mov eax, routine; jmp eax" stub per entry.
#include "shared_entries.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <platform/modules.h>

namespace platform::detail {

namespace {

// Above the sanitizer's shadow on i386 and below where the host maps libraries and stacks.
constexpr std::uintptr_t kSharedEntriesBase = 0x7FFB0000;
constexpr std::size_t kStubSize = 16;
constexpr std::uint8_t kMovEaxImm32 = 0xB8;
constexpr std::uint8_t kJmpEax[2] = {0xFF, 0xE0};
// Marks the page as ours, for a second copy of this layer in the same process.
constexpr char kSignature[] = "BRINDLE-ENTRIES";

void WriteStub(std::uint8_t* stub, const void* routine) {
  const auto target = std::uint32_t(reinterpret_cast<std::uintptr_t>(routine));
  stub[0] = kMovEaxImm32;
  std::memcpy(stub + 1, &target, sizeof target);
  std::memcpy(stub + 5, kJmpEax, sizeof kJmpEax);
}

std::uint8_t* Page() {
  static std::uint8_t* page = [] () -> std::uint8_t* {
    const std::size_t size = std::size_t(::sysconf(_SC_PAGESIZE));
    void* mapped = ::mmap(reinterpret_cast<void*>(kSharedEntriesBase), size, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    auto* fixed = reinterpret_cast<std::uint8_t*>(kSharedEntriesBase);
    if (mapped == MAP_FAILED) {
      // Another copy of this layer in the process may have placed it: its stubs serve as well as ours.
      if (errno == EEXIST && std::memcmp(fixed, kSignature, sizeof kSignature) == 0) return fixed;
      return nullptr;
    }
    if (mapped != fixed) {
      ::munmap(mapped, size);
      return nullptr;
    }
    std::memcpy(fixed, kSignature, sizeof kSignature);
    WriteStub(fixed + kStubSize * (1 + std::size_t(SharedEntry::LoadLibraryW)),
              reinterpret_cast<const void*>(&LoadLibraryW));
    WriteStub(fixed + kStubSize * (1 + std::size_t(SharedEntry::FreeLibrary)),
              reinterpret_cast<const void*>(&FreeLibrary));
    ::mprotect(fixed, size, PROT_READ | PROT_EXEC);
    return fixed;
  }();
  return page;
}

}  // namespace

FARPROC SharedEntryAddress(SharedEntry entry) {
  std::uint8_t* page = Page();
  if (page == nullptr) return nullptr;
  return reinterpret_cast<FARPROC>(page + kStubSize * (1 + std::size_t(entry)));
}

bool SharedEntriesReady() { return Page() != nullptr; }

}  // namespace platform::detail
