// MiniDumpWriteDump: a minidump of the own process written from a fault handler, without locks or allocation; the
// other threads report their registers through a signal and hold still while their stacks are copied.
#include <platform/crash.h>

#include <cpuid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <platform/errors.h>
#include <platform/modules.h>
#include <platform/sync.h>

#include "crash_internal.h"
#include "handles.h"

namespace {

using platform::detail::FileObject;
using platform::detail::HandleKind;

constexpr std::size_t kMapsBytes = 512 * 1024;
constexpr std::size_t kMaxRegions = 8192;
constexpr std::size_t kMaxRanges = 512;
constexpr std::size_t kMaxModules = 512;
constexpr std::size_t kMaxHandles = 1024;
constexpr std::size_t kMaxStreams = 16;
constexpr std::size_t kMaxNameUnits = 4096;
constexpr std::size_t kLinkBytes = 4096;
constexpr std::size_t kZeroBytes = 4096;
// The stack is kept from the stack pointer up to this much; stack words past kScannedStackBytes are not followed.
constexpr std::uint32_t kMaxStackBytes = 4 * 1024 * 1024;
constexpr std::uint32_t kScannedStackBytes = 64 * 1024;
// Memory that a register or stack word points at is kept in blocks of this size.
constexpr std::uint32_t kReferencedBlock = 256;
constexpr std::uint32_t kRvaAlignment = 4;
constexpr std::uint64_t kHundredNanosecondsPerMicrosecond = 10;
constexpr unsigned kAffinityBits = 64;
constexpr int kDecimal = 10;
// UTF-8 lead bytes and the UTF-16 surrogate ranges.
constexpr unsigned char kLead2 = 0xC0, kLead3 = 0xE0, kLead4 = 0xF0, kContinuationBits = 0x3F;
constexpr char32_t kFirstSupplementary = 0x10000, kHighSurrogate = 0xD800, kLowSurrogate = 0xDC00;
constexpr char32_t kSurrogateBits = 0x3FF;
constexpr int kContinuationShift = 6, kSurrogateShift = 10;

constexpr DWORD kNormalPriorityClass = 0x20;
constexpr BYTE kWorkstation = 1;
constexpr DWORD kPlatformWin32Nt = 2;
// The Windows version RtlGetVersion answers (os.h).
constexpr DWORD kReportedMajor = 10;
constexpr DWORD kReportedMinor = 0;
constexpr DWORD kReportedBuild = 19045;
constexpr std::uint64_t kHundredNanosecondsPerSecond = 10000000;
constexpr unsigned kCpuidVendor = 0;
constexpr unsigned kCpuidVersion = 1;
constexpr unsigned kCpuidExtended = 0x80000001;
constexpr unsigned kStatStartTimeField = 22;
// The other threads of a dump: at most this many, each asked by a real-time signal (this far above the first)
// to report its registers and hold still; the dump waits this long for the last answer, in steps of a millisecond.
constexpr std::size_t kMaxThreads = 256;
constexpr int kReportSignalOffset = 3;
constexpr unsigned kReportWaitMilliseconds = 250;
constexpr long kReportStepNanoseconds = 1000000;
constexpr std::size_t kTaskBytes = 32 * 1024;

// One thread asked for its registers: its id (0: the slot is free), the dump that asked it once it has answered,
// and its context. Written by the thread's signal handler, read by the dump: accessed atomically.
struct ThreadReport {
  int tid;
  int answered;
  CONTEXT context;
};

struct Region {
  std::uint32_t start, end;
  bool readable, writable, executable, file;
  std::uint32_t offset;
  std::uint32_t name, nameLength;  // in the maps text
};

struct Range {
  std::uint32_t start, size;
  RVA rva;
};

// The writer's working memory, mapped once before any fault (PrepareDumps).
struct Arena {
  char maps[kMapsBytes];
  Region regions[kMaxRegions];
  Range ranges[kMaxRanges];
  MINIDUMP_MODULE modules[kMaxModules];
  MINIDUMP_HANDLE_DESCRIPTOR handles[kMaxHandles];
  MINIDUMP_MEMORY_INFO info[kMaxRegions];
  MINIDUMP_DIRECTORY directory[kMaxStreams];
  char16_t name[kMaxNameUnits + 2];
  char link[kLinkBytes];
  char zeros[kZeroBytes];
  // The main module (the game image once registered) as it was when dumps were last prepared.
  MINIDUMP_MODULE main;
  char16_t mainName[kMaxNameUnits + 1];
  DWORD mainNameUnits;
  bool mainKnown;
  // The other threads: the dump that asks (a count) and the last that let its threads go.
  ThreadReport reports[kMaxThreads];
  int asking;
  int finished;
  char tasks[kTaskBytes];
  // The threads that answered: their ids, their contexts' places and their stacks' ranges.
  DWORD heldId[kMaxThreads];
  RVA heldContext[kMaxThreads];
  std::size_t heldStack[kMaxThreads];
};

std::once_flag g_reserveOnce;
Arena* g_arena = nullptr;
int g_reportSignal = 0;

void PauseOneStep() {
  const timespec step{0, kReportStepNanoseconds};
  ::nanosleep(&step, nullptr);
}

// A thread asked by a dump: its registers into its slot, then it waits until that dump is written, so that the
// stack the dump copies is the one the registers describe. A thread the dump no longer asks returns at once.
void OnReport(int, siginfo_t*, void* raw) {
  const int savedErrno = errno;
  Arena* arena = g_arena;
  const int self = int(::syscall(SYS_gettid));
  const int dump = arena != nullptr ? __atomic_load_n(&arena->asking, __ATOMIC_ACQUIRE) : 0;
  for (std::size_t i = 0; arena != nullptr && i < kMaxThreads; ++i) {
    ThreadReport& report = arena->reports[i];
    if (__atomic_load_n(&report.tid, __ATOMIC_ACQUIRE) != self) continue;
    platform::detail::FillContext(static_cast<const ucontext_t*>(raw), &report.context);
    __atomic_store_n(&report.answered, dump, __ATOMIC_RELEASE);
    while (__atomic_load_n(&arena->finished, __ATOMIC_ACQUIRE) < dump) PauseOneStep();
    break;
  }
  errno = savedErrno;
}

// The kernel's directory entry as getdents64 gives it.
struct TaskEntry {
  std::uint64_t inode;
  std::int64_t offset;
  std::uint16_t length;
  std::uint8_t type;
  char name[1];
};

// Asks every other thread of the process to report; the slots asked (0..count), and the dump's number in *dump.
// Only system calls: the caller may be a fault handler.
std::size_t AskOtherThreads(int self, int* dump) {
  Arena& a = *g_arena;
  *dump = __atomic_load_n(&a.asking, __ATOMIC_RELAXED) + 1;
  __atomic_store_n(&a.asking, *dump, __ATOMIC_RELEASE);
  if (g_reportSignal == 0) return 0;
  const int tasks = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (tasks < 0) return 0;
  const int process = int(::getpid());
  std::size_t asked = 0;
  for (long n; (n = ::syscall(SYS_getdents64, tasks, a.tasks, kTaskBytes)) > 0;) {
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const TaskEntry*>(a.tasks + at);
      if (entry->length == 0) break;
      at += entry->length;
      int tid = 0;
      for (const char* c = entry->name; *c >= '0' && *c <= '9'; ++c) tid = tid * kDecimal + (*c - '0');
      if (tid == 0 || tid == self || asked == kMaxThreads) continue;
      ThreadReport& report = a.reports[asked];
      __atomic_store_n(&report.answered, 0, __ATOMIC_RELAXED);
      __atomic_store_n(&report.tid, tid, __ATOMIC_RELEASE);
      if (::syscall(SYS_tgkill, process, tid, g_reportSignal) == 0) {
        ++asked;
      } else {
        __atomic_store_n(&report.tid, 0, __ATOMIC_RELEASE);  // it has ended meanwhile
      }
    }
  }
  ::close(tasks);
  for (unsigned waited = 0; waited < kReportWaitMilliseconds; ++waited) {
    bool all = true;
    for (std::size_t i = 0; i < asked && all; ++i)
      all = __atomic_load_n(&a.reports[i].answered, __ATOMIC_ACQUIRE) == *dump;
    if (all) break;
    PauseOneStep();
  }
  return asked;
}

// Lets the asked threads go on, answered or not (a late answer then finds its dump finished).
void ReleaseOtherThreads(std::size_t asked, int dump) {
  for (std::size_t i = 0; i < asked; ++i) __atomic_store_n(&g_arena->reports[i].tid, 0, __ATOMIC_RELEASE);
  __atomic_store_n(&g_arena->finished, dump, __ATOMIC_RELEASE);
}

// The system call itself: a library's wrapper may check the bytes it is given, which here are any memory at all.
ssize_t WriteRaw(int fd, const void* bytes, std::size_t size, off_t offset) {
  const auto position = static_cast<std::uint64_t>(offset);
  return ::syscall(SYS_pwrite64, fd, bytes, size, std::uint32_t(position), std::uint32_t(position >> 32));
}

// Writes at increasing offsets from the dump's start; a failed write ends the dump.
class DumpFile {
 public:
  DumpFile(int fd, off_t base, RVA start) : m_fd(fd), m_base(base), m_cursor(start) {}
  bool Ok() const { return m_ok; }
  RVA Cursor() const { return m_cursor; }

  bool WriteAt(RVA rva, const void* bytes, std::size_t size) {
    const auto* p = static_cast<const char*>(bytes);
    while (m_ok && size != 0) {
      const ssize_t done = WriteRaw(m_fd, p, size, m_base + off_t(rva));
      if (done <= 0) {
        if (done < 0 && errno == EINTR) continue;
        m_ok = false;
        break;
      }
      p += done;
      rva += RVA(done);
      size -= std::size_t(done);
    }
    return m_ok;
  }
  RVA Append(const void* bytes, std::size_t size) {
    const RVA at = m_cursor;
    WriteAt(at, bytes, size);
    Advance(size);
    return at;
  }
  // Process memory: what cannot be read (the kernel refuses to copy it) becomes zeros, so the layout holds.
  RVA AppendMemory(std::uint32_t address, std::uint32_t size) {
    const RVA at = m_cursor;
    std::uint32_t done = 0;
    while (m_ok && done < size) {
      const ssize_t n = WriteRaw(m_fd, reinterpret_cast<const void*>(std::uintptr_t(address + done)), size - done,
                                 m_base + off_t(at + done));
      if (n > 0) {
        done += std::uint32_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EFAULT) {
        m_ok = false;
        break;
      }
      const std::uint32_t gap = std::min<std::uint32_t>(size - done, kZeroBytes);
      if (!WriteAt(at + done, g_arena->zeros, gap)) break;
      done += gap;
    }
    Advance(size);
    return at;
  }
  // A MINIDUMP_STRING of UTF-16 units.
  RVA AppendString(const char16_t* text, std::size_t units) {
    const DWORD bytes = DWORD(units * sizeof(char16_t));
    const RVA at = Append(&bytes, sizeof bytes);
    const char16_t terminator = 0;
    WriteAt(m_cursor, text, bytes);
    WriteAt(m_cursor + bytes, &terminator, sizeof terminator);
    Advance(bytes + sizeof terminator);
    return at;
  }
  // A MINIDUMP_STRING of UTF-8 text (a host path or name).
  RVA AppendUtf8(const char* text, std::size_t length) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < length && units + 2 <= kMaxNameUnits;) {
      const auto lead = static_cast<unsigned char>(text[i]);
      const std::size_t extra = lead >= kLead4 ? 3 : lead >= kLead3 ? 2 : lead >= kLead2 ? 1 : 0;
      char32_t c = extra == 0 ? lead : lead & (kContinuationBits >> extra);
      for (std::size_t k = 1; k <= extra && i + k < length; ++k) {
        c = (c << kContinuationShift) | (text[i + k] & kContinuationBits);
      }
      i += extra + 1;
      if (c >= kFirstSupplementary) {
        c -= kFirstSupplementary;
        g_arena->name[units++] = char16_t(kHighSurrogate + (c >> kSurrogateShift));
        c = kLowSurrogate + (c & kSurrogateBits);
      }
      g_arena->name[units++] = char16_t(c);
    }
    return AppendString(g_arena->name, units);
  }

 private:
  void Advance(std::size_t size) { m_cursor += RVA((size + kRvaAlignment - 1) / kRvaAlignment * kRvaAlignment); }

  int m_fd;
  off_t m_base;
  RVA m_cursor;
  bool m_ok = true;
};

std::uint32_t ParseHex(const char*& p, const char* end) {
  std::uint32_t value = 0;
  for (; p < end; ++p) {
    const char c = *p;
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) break;
    value = value * 16 + std::uint32_t(digit);
  }
  return value;
}

// Reads a whole /proc file into buffer with plain system calls; its length.
std::size_t ReadProcFile(const char* path, char* buffer, std::size_t capacity) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t length = 0;
  for (ssize_t n; length < capacity && (n = ::read(fd, buffer + length, capacity - length)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    length += std::size_t(n);
  }
  ::close(fd);
  return length;
}

// The mappings of the process, in address order: "start-end perms offset dev inode name".
std::size_t ReadRegions() {
  Arena& a = *g_arena;
  const std::size_t length = ReadProcFile("/proc/self/maps", a.maps, kMapsBytes);
  std::size_t count = 0;
  for (const char* p = a.maps; p < a.maps + length && count < kMaxRegions;) {
    const char* line = p;
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', std::size_t(a.maps + length - p)));
    if (eol == nullptr) break;  // a cut last line
    p = eol + 1;
    Region r{};
    const char* q = line;
    r.start = ParseHex(q, eol);
    ++q;
    r.end = ParseHex(q, eol);
    if (q + 5 > eol) continue;
    r.readable = q[1] == 'r';
    r.writable = q[2] == 'w';
    r.executable = q[3] == 'x';
    q += 6;
    r.offset = ParseHex(q, eol);
    // Past the device and inode to the name, if any.
    for (int field = 0; field < 2; ++field) {
      while (q < eol && *q == ' ') ++q;
      while (q < eol && *q != ' ') ++q;
    }
    while (q < eol && *q == ' ') ++q;
    r.name = std::uint32_t(q - a.maps);
    r.nameLength = std::uint32_t(eol - q);
    r.file = r.nameLength != 0 && *q == '/';
    if (r.end == 0) r.end = 0xFFFFFFFF;  // the top page's end wraps
    a.regions[count++] = r;
  }
  return count;
}

const Region* RegionOf(std::uint32_t address, std::size_t regions) {
  for (std::size_t i = 0; i < regions; ++i) {
    const Region& r = g_arena->regions[i];
    if (address >= r.start && address < r.end) return &r;
  }
  return nullptr;
}

bool SameName(const Region& a, const Region& b) {
  return a.nameLength == b.nameLength && std::memcmp(g_arena->maps + a.name, g_arena->maps + b.name, a.nameLength) == 0;
}

// Adds the block around a value that points into readable memory outside the stacks (ranges[0..stacks)); blocks
// never overlap.
void AddReferenced(std::uint32_t value, std::size_t regions, std::size_t stacks, std::size_t* count) {
  const Region* r = RegionOf(value, regions);
  if (r == nullptr || !r->readable || *count >= kMaxRanges) return;
  const std::uint32_t block = value & ~(kReferencedBlock - 1);
  const std::uint32_t start = std::max(block, r->start);
  const std::uint32_t end = std::min<std::uint64_t>(std::uint64_t(block) + kReferencedBlock, r->end);
  // The stacks are kept whole already.
  for (std::size_t i = 0; i < stacks; ++i) {
    const Range& stack = g_arena->ranges[i];
    if (start < stack.start + stack.size && end > stack.start) return;
  }
  for (std::size_t i = stacks; i < *count; ++i) {
    if (g_arena->ranges[i].start == start) return;
  }
  g_arena->ranges[(*count)++] = Range{start, end - start, 0};
}

// The stack from the stack pointer to its mapping's end (at most kMaxStackBytes); empty where it cannot be read.
Range StackAt(std::uint32_t esp, std::size_t regions) {
  const Region* stack = RegionOf(esp, regions);
  if (stack == nullptr || !stack->readable) return Range{};
  return Range{esp, std::min(stack->end - esp, kMaxStackBytes), 0};
}

DWORD ProtectOf(const Region& r) {
  if (r.executable) return r.writable ? PAGE_EXECUTE_READWRITE : r.readable ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  if (r.writable) return PAGE_READWRITE;
  return r.readable ? PAGE_READONLY : PAGE_NOACCESS;
}

std::uint64_t HundredNanoseconds(const timeval& t) {
  return std::uint64_t(t.tv_sec) * kHundredNanosecondsPerSecond + std::uint64_t(t.tv_usec) * kHundredNanosecondsPerMicrosecond;
}

// The process's start as seconds since 1970: its start in the kernel's boot clock, moved onto the real clock.
DWORD ProcessCreateTime() {
  char stat[1024];
  const std::size_t length = ReadProcFile("/proc/self/stat", stat, sizeof stat - 1);
  stat[length] = 0;
  const char* p = std::strrchr(stat, ')');  // the command name may hold spaces
  if (p == nullptr) return 0;
  unsigned field = 2;
  while (*p != 0 && field < kStatStartTimeField) {
    if (*p++ == ' ') ++field;
  }
  std::uint64_t ticks = 0;
  for (; *p >= '0' && *p <= '9'; ++p) ticks = ticks * kDecimal + std::uint64_t(*p - '0');
  timespec boot{}, now{};
  ::clock_gettime(CLOCK_BOOTTIME, &boot);
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (perSecond <= 0) return 0;
  return DWORD(std::int64_t(now.tv_sec) - (std::int64_t(boot.tv_sec) - std::int64_t(ticks / std::uint64_t(perSecond))));
}

BYTE ProcessorCount() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return BYTE(std::min(CPU_COUNT(&set), 255));
}

// The thread the dump is of, with its context and stack; the stack range is ranges[0].
struct ThreadPart {
  DWORD id;
  RVA context;
  Range stack;
};

void WriteSystemInfo(DumpFile& out, MINIDUMP_DIRECTORY* entry) {
  MINIDUMP_SYSTEM_INFO info{};
  info.ProcessorArchitecture = 0;  // x86
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(kCpuidVendor, &eax, &ebx, &ecx, &edx) != 0) {
    info.VendorId[0] = ebx;
    info.VendorId[1] = edx;
    info.VendorId[2] = ecx;
  }
  if (__get_cpuid(kCpuidVersion, &eax, &ebx, &ecx, &edx) != 0) {
    // Family, model and stepping; the revision holds the model above the stepping, a byte each.
    constexpr unsigned kFamilyShift = 8, kModelShift = 4, kNibble = 0xF, kByteShift = 8;
    info.VersionInformation = eax;
    info.FeatureInformation = edx;
    info.ProcessorLevel = WORD((eax >> kFamilyShift) & kNibble);
    info.ProcessorRevision = WORD((((eax >> kModelShift) & kNibble) << kByteShift) | (eax & kNibble));
  }
  if (__get_cpuid(kCpuidExtended, &eax, &ebx, &ecx, &edx) != 0) info.AMDExtendedCpuFeatures = edx;
  info.NumberOfProcessors = ProcessorCount();
  info.ProductType = kWorkstation;
  info.MajorVersion = kReportedMajor;
  info.MinorVersion = kReportedMinor;
  info.BuildNumber = kReportedBuild;
  info.PlatformId = kPlatformWin32Nt;
  // The host kernel's name and release stand in the service-pack text, as RtlGetVersion gives them.
  utsname host{};
  char text[2 * sizeof host.release + 2] = {};
  if (::uname(&host) == 0) {
    std::size_t n = ::strnlen(host.sysname, sizeof host.sysname);
    std::memcpy(text, host.sysname, n);
    text[n++] = ' ';
    const std::size_t r = ::strnlen(host.release, sizeof host.release);
    std::memcpy(text + n, host.release, std::min(r, sizeof text - n - 1));
  }
  info.CSDVersionRva = out.AppendUtf8(text, std::strlen(text));
  *entry = {SystemInfoStream, {sizeof info, out.Append(&info, sizeof info)}};
}

void WriteMiscInfo(DumpFile& out, DWORD processId, MINIDUMP_DIRECTORY* entry) {
  MINIDUMP_MISC_INFO misc{};
  misc.SizeOfInfo = sizeof misc;
  misc.Flags1 = MINIDUMP_MISC1_PROCESS_ID | MINIDUMP_MISC1_PROCESS_TIMES;
  misc.ProcessId = processId;
  misc.ProcessCreateTime = ProcessCreateTime();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  misc.ProcessUserTime = DWORD(usage.ru_utime.tv_sec);
  misc.ProcessKernelTime = DWORD(usage.ru_stime.tv_sec);
  *entry = {MiscInfoStream, {sizeof misc, out.Append(&misc, sizeof misc)}};
}

// The game image first, then every host file mapped from its start (libraries and the host executable).
void WriteModules(DumpFile& out, std::size_t regions, MINIDUMP_DIRECTORY* entry) {
  Arena& a = *g_arena;
  std::size_t count = 0;
  std::uint32_t gameStart = 0, gameEnd = 0;
  if (a.mainKnown) {
    gameStart = std::uint32_t(a.main.BaseOfImage);
    gameEnd = gameStart + a.main.SizeOfImage;
    a.modules[count] = a.main;
    a.modules[count++].ModuleNameRva = out.AppendString(a.mainName, a.mainNameUnits);
  }
  for (std::size_t i = 0; i < regions && count < kMaxModules; ++i) {
    const Region& r = a.regions[i];
    if (!r.file || r.offset != 0 || (r.start < gameEnd && r.end > gameStart)) continue;
    std::uint32_t end = r.end;
    for (std::size_t k = i + 1; k < regions && SameName(a.regions[k], r) && a.regions[k].offset != 0; ++k) {
      end = a.regions[k].end;
    }
    MINIDUMP_MODULE& m = a.modules[count++];
    m = {};
    m.BaseOfImage = r.start;
    m.SizeOfImage = end - r.start;
    m.ModuleNameRva = out.AppendUtf8(a.maps + r.name, r.nameLength);
  }
  const DWORD n = DWORD(count);
  const RVA at = out.Append(&n, sizeof n);
  out.Append(a.modules, count * sizeof(MINIDUMP_MODULE));
  *entry = {ModuleListStream, {DWORD(sizeof n + count * sizeof(MINIDUMP_MODULE)), at}};
}

// The open descriptors of the process, each with its target as the object name.
void WriteHandles(DumpFile& out, MINIDUMP_DIRECTORY* entry) {
  Arena& a = *g_arena;
  std::size_t count = 0;
  const int directory = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    static constexpr char kType[] = "File";
    const RVA type = out.AppendUtf8(kType, sizeof kType - 1);
    alignas(8) char entries[kLinkBytes];
    for (long n; (n = ::syscall(SYS_getdents64, directory, entries, sizeof entries)) > 0;) {
      for (long at = 0; at < n && count < kMaxHandles;) {
        const auto* d = reinterpret_cast<const dirent64*>(entries + at);
        at += d->d_reclen;
        if (d->d_name[0] < '0' || d->d_name[0] > '9') continue;
        int fd = 0;
        for (const char* c = d->d_name; *c != 0; ++c) fd = fd * kDecimal + (*c - '0');
        if (fd == directory) continue;
        const ssize_t length = ::readlinkat(directory, d->d_name, a.link, kLinkBytes);
        MINIDUMP_HANDLE_DESCRIPTOR& h = a.handles[count++];
        h = {};
        h.Handle = ULONGLONG(fd);
        h.TypeNameRva = type;
        h.ObjectNameRva = out.AppendUtf8(a.link, length > 0 ? std::size_t(length) : 0);
        h.HandleCount = 1;
      }
    }
    ::close(directory);
  }
  MINIDUMP_HANDLE_DATA_STREAM header{sizeof header, sizeof(MINIDUMP_HANDLE_DESCRIPTOR), DWORD(count), 0};
  const RVA at = out.Append(&header, sizeof header);
  out.Append(a.handles, count * sizeof(MINIDUMP_HANDLE_DESCRIPTOR));
  *entry = {HandleDataStream, {DWORD(sizeof header + count * sizeof(MINIDUMP_HANDLE_DESCRIPTOR)), at}};
}

void WriteMemoryInfo(DumpFile& out, std::size_t regions, MINIDUMP_DIRECTORY* entry) {
  Arena& a = *g_arena;
  for (std::size_t i = 0; i < regions; ++i) {
    const Region& r = a.regions[i];
    MINIDUMP_MEMORY_INFO& m = a.info[i];
    m = {};
    m.BaseAddress = r.start;
    m.AllocationBase = r.start;
    m.AllocationProtect = ProtectOf(r);
    m.RegionSize = std::uint64_t(r.end) - r.start;
    m.State = MEM_COMMIT;
    m.Protect = ProtectOf(r);
    m.Type = r.file ? (r.executable || r.offset == 0 ? MEM_IMAGE : MEM_MAPPED) : MEM_PRIVATE;
  }
  MINIDUMP_MEMORY_INFO_LIST header{sizeof header, sizeof(MINIDUMP_MEMORY_INFO), regions};
  const RVA at = out.Append(&header, sizeof header);
  out.Append(a.info, regions * sizeof(MINIDUMP_MEMORY_INFO));
  *entry = {MemoryInfoListStream, {DWORD(sizeof header + regions * sizeof(MINIDUMP_MEMORY_INFO)), at}};
}

// The dump's thread first, with its times and affinity, then each thread that answered, with its id alone.
void WriteThreadInfo(DumpFile& out, DWORD threadId, std::size_t others, MINIDUMP_DIRECTORY* entry) {
  MINIDUMP_THREAD_INFO_LIST header{sizeof header, sizeof(MINIDUMP_THREAD_INFO), DWORD(1 + others)};
  MINIDUMP_THREAD_INFO info{};
  info.ThreadId = threadId;
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  info.UserTime = HundredNanoseconds(usage.ru_utime);
  info.KernelTime = HundredNanoseconds(usage.ru_stime);
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    for (unsigned cpu = 0; cpu < kAffinityBits; ++cpu) {
      if (CPU_ISSET(cpu, &set)) info.Affinity |= std::uint64_t(1) << cpu;
    }
  }
  const RVA at = out.Append(&header, sizeof header);
  out.Append(&info, sizeof info);
  for (std::size_t i = 0; i < others; ++i) {
    MINIDUMP_THREAD_INFO other{};
    other.ThreadId = g_arena->heldId[i];
    out.Append(&other, sizeof other);
  }
  *entry = {ThreadInfoListStream, {DWORD(sizeof header + (1 + others) * sizeof info), at}};
}

// A word of the faulting thread's stack, read whatever state the sanitizers keep for that memory.
__attribute__((no_sanitize("address"))) std::uint32_t StackWord(std::uint32_t start, std::uint32_t index) {
  return reinterpret_cast<const volatile std::uint32_t*>(std::uintptr_t(start))[index];
}

// The calling thread's registers at the call, for a dump without exception information.
__attribute__((noinline)) void CurrentContext(CONTEXT* context) {
  std::memset(context, 0, sizeof *context);
  context->ContextFlags = CONTEXT_CONTROL;
  context->Esp = DWORD(reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)));
  context->Ebp = context->Esp;
  context->Eip = DWORD(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

}  // namespace

namespace platform::detail {

void PrepareDumps() {
  std::call_once(g_reserveOnce, [] {
    void* memory = ::mmap(nullptr, sizeof(Arena), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE,
                          -1, 0);
    if (memory == MAP_FAILED) return;
    g_arena = static_cast<Arena*>(memory);
    struct sigaction report {};
    report.sa_sigaction = OnReport;
    report.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&report.sa_mask);
    const int requestSignal = SIGRTMIN + kReportSignalOffset;
    if (::sigaction(requestSignal, &report, nullptr) == 0) g_reportSignal = requestSignal;
  });
  if (g_arena == nullptr) return;
  // The module queries lock and allocate, which a dump written from a fault must not: ask them now.
  Arena& a = *g_arena;
  MODULEINFO info{};
  const HMODULE main = GetModuleHandleW(nullptr);
  a.mainKnown = main != nullptr && GetModuleInformation(GetCurrentProcess(), main, &info, sizeof info);
  if (!a.mainKnown) return;
  a.main = {};
  a.main.BaseOfImage = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
  a.main.SizeOfImage = info.SizeOfImage;
  a.mainNameUnits = GetModuleFileNameW(main, a.mainName, DWORD(std::size(a.mainName)));
}

}  // namespace platform::detail

BOOL MiniDumpWriteDump(HANDLE process, DWORD processId, HANDLE file, MINIDUMP_TYPE dumpType,
                       const MINIDUMP_EXCEPTION_INFORMATION* exceptionParam,
                       const MINIDUMP_USER_STREAM_INFORMATION* userStreamParam,
                       const MINIDUMP_CALLBACK_INFORMATION* callbackParam) {
  if (process != GetCurrentProcess() || processId != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (userStreamParam != nullptr || callbackParam != nullptr ||
      (exceptionParam != nullptr && exceptionParam->ClientPointers)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (exceptionParam != nullptr && (exceptionParam->ExceptionPointers == nullptr ||
                                    exceptionParam->ExceptionPointers->ExceptionRecord == nullptr ||
                                    exceptionParam->ExceptionPointers->ContextRecord == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::shared_ptr<FileObject> target = platform::detail::Lookup<FileObject>(file, HandleKind::File);
  if (!target) return FALSE;
  if (!target->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (g_arena == nullptr) platform::detail::PrepareDumps();
  if (g_arena == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  Arena& a = *g_arena;
  const off_t base = std::max<off_t>(::lseek(target->fd, 0, SEEK_CUR), 0);
  DumpFile out(target->fd, base, RVA(sizeof(MINIDUMP_HEADER) + sizeof a.directory));
  std::size_t streams = 0;

  // The thread, its context and stack.
  CONTEXT own;
  const CONTEXT* context = &own;
  ThreadPart thread{GetCurrentThreadId(), 0, {}};
  if (exceptionParam != nullptr) {
    context = exceptionParam->ExceptionPointers->ContextRecord;
    thread.id = exceptionParam->ThreadId;
  } else {
    CurrentContext(&own);
  }
  // The other threads hold still from here until their stacks are written.
  int dump = 0;
  const std::size_t asked = AskOtherThreads(int(::syscall(SYS_gettid)), &dump);
  thread.context = out.Append(context, sizeof *context);
  const std::size_t regions = ReadRegions();
  thread.stack = StackAt(context->Esp, regions);
  std::size_t ranges = 0;
  a.ranges[ranges++] = thread.stack;
  std::size_t others = 0;
  for (std::size_t i = 0; i < asked; ++i) {
    const ThreadReport& report = a.reports[i];
    if (__atomic_load_n(&report.answered, __ATOMIC_ACQUIRE) != dump) continue;
    a.heldId[others] = DWORD(__atomic_load_n(&report.tid, __ATOMIC_ACQUIRE));
    a.heldContext[others] = out.Append(&report.context, sizeof report.context);
    a.heldStack[others] = ranges;
    a.ranges[ranges++] = StackAt(report.context.Esp, regions);
    ++others;
  }
  const std::size_t stacks = ranges;
  if ((dumpType & MiniDumpWithIndirectlyReferencedMemory) != 0) {
    const DWORD registers[] = {context->Eip, context->Eax, context->Ebx, context->Ecx,
                               context->Edx, context->Esi, context->Edi, context->Ebp};
    for (DWORD value : registers) AddReferenced(value, regions, stacks, &ranges);
    const std::uint32_t scanned = std::min(thread.stack.size, kScannedStackBytes) / sizeof(std::uint32_t);
    for (std::uint32_t i = 0; i < scanned; ++i) {
      AddReferenced(StackWord(thread.stack.start, i), regions, stacks, &ranges);
    }
  }
  for (std::size_t i = 0; i < ranges; ++i) a.ranges[i].rva = out.AppendMemory(a.ranges[i].start, a.ranges[i].size);
  ReleaseOtherThreads(asked, dump);
  const MINIDUMP_LOCATION_DESCRIPTOR contextLocation{sizeof(CONTEXT), thread.context};

  if (exceptionParam != nullptr) {
    const EXCEPTION_RECORD& record = *exceptionParam->ExceptionPointers->ExceptionRecord;
    MINIDUMP_EXCEPTION_STREAM e{};
    e.ThreadId = thread.id;
    e.ExceptionRecord.ExceptionCode = record.ExceptionCode;
    e.ExceptionRecord.ExceptionFlags = record.ExceptionFlags;
    e.ExceptionRecord.ExceptionAddress = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    e.ExceptionRecord.NumberParameters = std::min(record.NumberParameters, EXCEPTION_MAXIMUM_PARAMETERS);
    for (DWORD i = 0; i < e.ExceptionRecord.NumberParameters; ++i) {
      e.ExceptionRecord.ExceptionInformation[i] = record.ExceptionInformation[i];
    }
    e.ThreadContext = contextLocation;
    a.directory[streams++] = {ExceptionStream, {sizeof e, out.Append(&e, sizeof e)}};
  }

  // The dump's thread first, then the others in the order the host lists them.
  const DWORD threadCount = DWORD(1 + others);
  MINIDUMP_THREAD t{};
  t.ThreadId = thread.id;
  t.PriorityClass = kNormalPriorityClass;
  t.Stack = {a.ranges[0].start, {a.ranges[0].size, a.ranges[0].rva}};
  t.ThreadContext = contextLocation;
  const RVA threadList = out.Append(&threadCount, sizeof threadCount);
  out.Append(&t, sizeof t);
  for (std::size_t i = 0; i < others; ++i) {
    const Range& stack = a.ranges[a.heldStack[i]];
    MINIDUMP_THREAD other{};
    other.ThreadId = a.heldId[i];
    other.PriorityClass = kNormalPriorityClass;
    other.Stack = {stack.start, {stack.size, stack.rva}};
    other.ThreadContext = {sizeof(CONTEXT), a.heldContext[i]};
    out.Append(&other, sizeof other);
  }
  a.directory[streams++] = {ThreadListStream, {DWORD(sizeof threadCount + threadCount * sizeof t), threadList}};

  WriteModules(out, regions, &a.directory[streams++]);

  const DWORD rangeCount = DWORD(ranges);
  const RVA memoryList = out.Append(&rangeCount, sizeof rangeCount);
  for (std::size_t i = 0; i < ranges; ++i) {
    const MINIDUMP_MEMORY_DESCRIPTOR d{a.ranges[i].start, {a.ranges[i].size, a.ranges[i].rva}};
    out.Append(&d, sizeof d);
  }
  a.directory[streams++] = {MemoryListStream,
                            {DWORD(sizeof rangeCount + ranges * sizeof(MINIDUMP_MEMORY_DESCRIPTOR)), memoryList}};

  WriteSystemInfo(out, &a.directory[streams++]);
  WriteMiscInfo(out, processId, &a.directory[streams++]);
  if ((dumpType & MiniDumpWithHandleData) != 0) WriteHandles(out, &a.directory[streams++]);
  if ((dumpType & MiniDumpWithUnloadedModules) != 0) {
    const MINIDUMP_UNLOADED_MODULE_LIST none{sizeof none, sizeof(MINIDUMP_UNLOADED_MODULE), 0};
    a.directory[streams++] = {UnloadedModuleListStream, {sizeof none, out.Append(&none, sizeof none)}};
  }
  if ((dumpType & MiniDumpWithFullMemoryInfo) != 0) WriteMemoryInfo(out, regions, &a.directory[streams++]);
  if ((dumpType & MiniDumpWithThreadInfo) != 0) WriteThreadInfo(out, thread.id, others, &a.directory[streams++]);

  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  MINIDUMP_HEADER header{};
  header.Signature = MINIDUMP_SIGNATURE;
  header.Version = MINIDUMP_VERSION;
  header.NumberOfStreams = DWORD(streams);
  header.StreamDirectoryRva = sizeof header;
  header.TimeDateStamp = DWORD(now.tv_sec);
  header.Flags = dumpType;
  out.WriteAt(0, &header, sizeof header);
  out.WriteAt(sizeof header, a.directory, streams * sizeof(MINIDUMP_DIRECTORY));
  if (!out.Ok()) {
    SetLastError(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_PROTECT);
    return FALSE;
  }
  ::lseek(target->fd, base + off_t(out.Cursor()), SEEK_SET);
  return TRUE;
}
