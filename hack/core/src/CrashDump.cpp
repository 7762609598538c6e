// The core's crash dumps: the file named by date and time in the launcher's directory, written by the platform.
#include <core/CrashDump.h>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <core/GameStartup.h>
#include <hack/ModuleEventData.h>
#include <hack/ModuleRegistry.h>
#include <platform/crash.h>
#include <platform/files.h>
#include <platform/process.h>
#include <platform/sync.h>

#include <iterator>

namespace {

constexpr MINIDUMP_TYPE kCrashDumpType = MiniDumpWithHandleData | MiniDumpWithUnloadedModules |
                                         MiniDumpWithIndirectlyReferencedMemory | MiniDumpWithProcessThreadData |
                                         MiniDumpWithFullMemoryInfo | MiniDumpWithThreadInfo |
                                         MiniDumpIgnoreInaccessibleMemory | MiniDumpWithTokenInformation;
static_assert(kCrashDumpType == 0x61964);
constexpr unsigned kFirstCopyNumber = 2;
constexpr unsigned kDecimal = 10;
constexpr int kYearDigits = 4, kFieldDigits = 2, kMillisecondDigits = 3, kCopyDigits = 1;

// Fills a bounded buffer; once something does not fit (capacity counts the terminator) it stays failed. No
// allocation: this runs on a thread that faulted, perhaps inside the allocator.
class NameBuilder {
 public:
  NameBuilder(char16_t* out, std::size_t capacity) : m_out(out), m_capacity(capacity) {
    if (capacity != 0) out[0] = 0;
  }
  NameBuilder& Text(const char16_t* text) {
    for (; *text != 0; ++text) Unit(*text);
    return *this;
  }
  NameBuilder& Number(unsigned value, int minimumDigits) {
    char16_t digits[kDecimal + 1];
    int count = 0;
    do {
      digits[count++] = char16_t(u'0' + value % kDecimal);
      value /= kDecimal;
    } while (value != 0 || count < minimumDigits);
    while (count > 0) Unit(digits[--count]);
    return *this;
  }
  bool Ok() const { return m_ok; }

 private:
  void Unit(char16_t unit) {
    if (!m_ok || m_length + 1 >= m_capacity) {
      m_ok = false;
      return;
    }
    m_out[m_length++] = unit;
    m_out[m_length] = 0;
  }

  char16_t* m_out;
  std::size_t m_capacity;
  std::size_t m_length = 0;
  bool m_ok = true;
};

// "%s\%04d-%02d-%02d %02d-%02d-%02d.%03d.dmp", with " (%d)" before the extension from the second copy on.
bool ComposeName(const char16_t* directory, const SYSTEMTIME& t, unsigned copy, char16_t* out, std::size_t capacity) {
  NameBuilder name(out, capacity);
  name.Text(directory).Text(u"\\").Number(t.wYear, kYearDigits).Text(u"-").Number(t.wMonth, kFieldDigits);
  name.Text(u"-").Number(t.wDay, kFieldDigits).Text(u" ").Number(t.wHour, kFieldDigits).Text(u"-");
  name.Number(t.wMinute, kFieldDigits).Text(u"-").Number(t.wSecond, kFieldDigits).Text(u".");
  name.Number(t.wMilliseconds, kMillisecondDigits);
  if (copy >= kFirstCopyNumber) name.Text(u" (").Number(copy, kCopyDigits).Text(u")");
  name.Text(kCrashDumpExtension);
  return name.Ok();
}

bool DirectoryReady(const char16_t* directory) {
  return directory[0] != 0 && (PathIsDirectoryW(directory) || CreateHostDirectoryChain(nullptr, nullptr, directory));
}

}  // namespace

bool CrashDumpName(const char16_t* directory, const SYSTEMTIME& time, char16_t* out, std::size_t capacity) {
  // A cut name could clash with every later dump, so a name that does not fit gives none.
  for (unsigned copy = 1;; ++copy) {
    if (!ComposeName(directory, time, copy, out, capacity)) {
      if (capacity != 0) out[0] = 0;
      return false;
    }
    if (!PathFileExistsW(out)) return true;
  }
}

std::uint32_t WriteCrashDump(const UnhandledExceptionEventData* data) {
  const InitialisationData& header = g_InitialisationData;
  auto* pointers = static_cast<EXCEPTION_POINTERS*>(data->exceptionPointers);
  if (header.writeCrashDumps == 0 || pointers == nullptr || pointers->ExceptionRecord == nullptr) {
    return MODULEREPLY_HANDLED;
  }
  // The field need not be terminated.
  char16_t directory[kInitPathLength + 1] = {};
  for (std::size_t i = 0; i < kInitPathLength && header.crashDumpDirectory[i] != 0; ++i) {
    directory[i] = header.crashDumpDirectory[i];
  }
  if (!DirectoryReady(directory)) return MODULEREPLY_HANDLED;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char16_t name[kCrashDumpNameCapacity];
  if (!CrashDumpName(directory, now, name, std::size(name))) return MODULEREPLY_HANDLED;
  auto* file = static_cast<CWindowsFileStream*>(CreateHostFile(nullptr, nullptr, name, false, false));
  if (file == nullptr) return MODULEREPLY_HANDLED;
  const MINIDUMP_EXCEPTION_INFORMATION exception{GetCurrentThreadId(), pointers, FALSE};
  MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file->GetHandle(), kCrashDumpType, &exception,
                    nullptr, nullptr);
  file->Release();
  // The launcher tells a crash by the exit code: the exception's, never 0.
  if (header.terminateAfterDump != 0) TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
  return MODULEREPLY_HANDLED;
}
