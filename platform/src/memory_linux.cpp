// Page protection and reservation over mmap/mprotect.
#include <platform/memory.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <platform/errors.h>

namespace {

using Address = std::uintptr_t;

struct HostRange {
  Address begin;
  Address end;
  int prot;
};

// Win32 protection of every page that VirtualProtect or VirtualAlloc touched,
// and the allocations VirtualAlloc made (base -> size). Pages leave the table
// only when their allocation is released.
struct MemoryState {
  std::mutex lock;
  std::map<Address, DWORD> pages;
  std::map<Address, SIZE_T> allocations;
};

MemoryState& State() {
  // Never destroyed: patches may be restored by other static destructors.
  static MemoryState* state = new MemoryState;
  return *state;
}

Address PageMask() { return ~(Address(platform::PageSize()) - 1); }

bool ValidProtection(DWORD protect) {
  const DWORD modifiers = protect & ~DWORD(0xFF);
  if (modifiers & ~(PAGE_GUARD | PAGE_NOCACHE | PAGE_WRITECOMBINE)) return false;
  switch (protect & 0xFF) {
    case PAGE_NOACCESS:
      // A guard or cache modifier on an inaccessible page is refused by Win32 too.
      return modifiers == 0;
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
      return true;
    default:
      return false;
  }
}

int HostProtection(DWORD protect) {
  switch (protect & 0xFF) {
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY: return PROT_READ | PROT_WRITE;
    // The host cannot execute without reading.
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return PROT_NONE;
  }
}

DWORD Win32Protection(int prot) {
  const bool r = prot & PROT_READ, w = prot & PROT_WRITE, x = prot & PROT_EXEC;
  if (x) return w ? PAGE_EXECUTE_READWRITE : (r ? PAGE_EXECUTE_READ : PAGE_EXECUTE);
  if (w) return PAGE_READWRITE;
  if (r) return PAGE_READONLY;
  return PAGE_NOACCESS;
}

// The host's map of this process. Read with plain system calls: the caller
// holds the memory lock and the allocator may be what is being inspected.
std::vector<HostRange> ReadHostMap() {
  std::vector<HostRange> ranges;
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ranges;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, std::size_t(got));
  }
  close(fd);

  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(at, eol - at);
    at = eol + 1;
    char* cursor = nullptr;
    const unsigned long long begin = std::strtoull(line.c_str(), &cursor, 16);
    if (!cursor || *cursor != '-') continue;
    const unsigned long long end = std::strtoull(cursor + 1, &cursor, 16);
    if (!cursor || *cursor != ' ' || line.size() < std::size_t(cursor - line.c_str()) + 4) continue;
    // Mappings above the 32-bit address space (the vsyscall page on a 64-bit
    // kernel) cannot hold anything this process addresses.
    if (begin > UINTPTR_MAX) continue;
    const char* perms = cursor + 1;
    int prot = PROT_NONE;
    if (perms[0] == 'r') prot |= PROT_READ;
    if (perms[1] == 'w') prot |= PROT_WRITE;
    if (perms[2] == 'x') prot |= PROT_EXEC;
    ranges.push_back({Address(begin), end > UINTPTR_MAX ? UINTPTR_MAX : Address(end), prot});
  }
  return ranges;
}

const HostRange* FindHostRange(const std::vector<HostRange>& ranges, Address page) {
  for (const HostRange& range : ranges) {
    if (page >= range.begin && page < range.end) return &range;
  }
  return nullptr;
}

}  // namespace

namespace platform {

SIZE_T PageSize() {
  static const SIZE_T size = SIZE_T(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace platform

BOOL VirtualProtect(LPVOID address, SIZE_T size, DWORD newProtect, DWORD* oldProtect) {
  if (oldProtect == nullptr || size == 0 || !ValidProtection(newProtect)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Address start = Address(address) & PageMask();
  const Address last = Address(address) + size - 1;
  if (last < Address(address)) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  const Address end = (last & PageMask()) + platform::PageSize();  // 0 when the range ends the address space

  MemoryState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);

  // Every page must be known or mapped; the host map is read once, and only
  // when the table lacks a page.
  std::vector<HostRange> hostMap;
  bool hostMapRead = false;
  std::vector<DWORD> previous;
  for (Address page = start;; page += platform::PageSize()) {
    DWORD current;
    auto known = state.pages.find(page);
    if (known != state.pages.end()) {
      current = known->second;
    } else {
      if (!hostMapRead) {
        hostMap = ReadHostMap();
        hostMapRead = true;
      }
      const HostRange* range = FindHostRange(hostMap, page);
      if (range == nullptr) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
      }
      current = Win32Protection(range->prot);
    }
    previous.push_back(current);
    if (page + platform::PageSize() == end) break;
  }

  if (mprotect(reinterpret_cast<void*>(start), end - start, HostProtection(newProtect)) != 0) {
    const int error = errno;
    // The host may have changed the pages before the one it choked on (a page
    // unmapped behind the table's back): put them back one by one.
    Address page = start;
    for (DWORD value : previous) {
      mprotect(reinterpret_cast<void*>(page), platform::PageSize(), HostProtection(value));
      page += platform::PageSize();
    }
    SetLastError(error == ENOMEM ? ERROR_INVALID_ADDRESS : platform::Win32ErrorFromErrno(error));
    return FALSE;
  }
  for (Address page = start;; page += platform::PageSize()) {
    state.pages[page] = newProtect;
    if (page + platform::PageSize() == end) break;
  }
  *oldProtect = previous.front();
  return TRUE;
}

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  if (size == 0 || (allocationType & (MEM_COMMIT | MEM_RESERVE)) == 0 ||
      (allocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 || !ValidProtection(protect)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const Address pageSize = platform::PageSize();
  const Address start = Address(address) & PageMask();
  const Address last = Address(address) + size - 1;
  if (last < Address(address)) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  const SIZE_T length = SIZE_T((last & PageMask()) + pageSize - start);
  const bool reserveOnly = (allocationType & MEM_COMMIT) == 0;
  const int prot = reserveOnly ? PROT_NONE : HostProtection(protect);

  MemoryState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);

  // Committing pages of a reservation made earlier.
  if (address != nullptr && !(allocationType & MEM_RESERVE)) {
    auto it = state.allocations.upper_bound(start);
    if (it == state.allocations.begin()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    --it;
    if (start < it->first || start + length > it->first + it->second) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(start), length, prot) != 0) {
      platform::SetLastErrorFromErrno(errno);
      return nullptr;
    }
    for (Address page = start; page < start + length; page += pageSize) state.pages[page] = protect;
    return reinterpret_cast<LPVOID>(start);
  }
  // A commit without an address reserves the pages too, as on Win32.
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
  if (address != nullptr) flags |= MAP_FIXED_NOREPLACE;
  void* mapped = mmap(reinterpret_cast<void*>(start), length, prot, flags, -1, 0);
  if (mapped == MAP_FAILED) {
    SetLastError(errno == EEXIST ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (address != nullptr && Address(mapped) != start) {
    // A kernel that does not know MAP_FIXED_NOREPLACE takes it as a hint.
    munmap(mapped, length);
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  const Address base = Address(mapped);
  state.allocations[base] = length;
  const DWORD recorded = reserveOnly ? PAGE_NOACCESS : protect;
  for (Address page = base; page < base + length; page += pageSize) state.pages[page] = recorded;
  return mapped;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  if (freeType != MEM_RELEASE || size != 0 || address == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MemoryState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  auto it = state.allocations.find(Address(address));
  if (it == state.allocations.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  const Address base = it->first;
  const SIZE_T length = it->second;
  if (munmap(address, length) != 0) {
    platform::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  state.allocations.erase(it);
  state.pages.erase(state.pages.lower_bound(base), state.pages.lower_bound(base + length));
  return TRUE;
}

BOOL FlushInstructionCache(HANDLE process, LPCVOID address, SIZE_T size) {
  (void)process;
  if (address == nullptr && size != 0) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  // x86 snoops stores into its instruction stream; a serialising fence is all
  // another processor needs beyond the cross-modifying-code rules.
  __sync_synchronize();
  return TRUE;
}

namespace platform {

SIZE_T AllocationSize(LPCVOID base) {
  MemoryState& state = State();
  std::lock_guard<std::mutex> guard(state.lock);
  const auto it = state.allocations.find(Address(base));
  return it == state.allocations.end() ? 0 : it->second;
}

}  // namespace platform
