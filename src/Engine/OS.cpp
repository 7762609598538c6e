// Operating-system services and the engine's shared string operations.
#include <engine/OS.h>

#include <engine/VexilAssert.h>

#include <platform/errors.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>
#include <platform/ui.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace Vexil3D {

namespace {

using RtlGetVersionFn = NTSTATUS (*)(OSVERSIONINFOW*);
using IsWow64ProcessFn = BOOL (*)(HANDLE, BOOL*);

}  // namespace

bool OS::GetVersion(OSVERSIONINFOW* version) {
  if (version == nullptr) return false;
  std::memset(version, 0, sizeof(*version));
  version->dwOSVersionInfoSize = sizeof(*version);
  if (HMODULE ntdll = LoadLibraryW(u"ntdll.dll")) {
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(GetProcAddress(ntdll, "RtlGetVersion"));
    if (rtlGetVersion != nullptr) {
      const NTSTATUS status = rtlGetVersion(version);
      FreeLibrary(ntdll);
      return status >= 0;
    }
    FreeLibrary(ntdll);
  }
  return GetVersionExW(version) != FALSE;
}

bool OS::IsWow64() {
  HMODULE kernel32 = GetModuleHandleW(u"kernel32.dll");
  if (kernel32 == nullptr) return false;
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(GetProcAddress(kernel32, "IsWow64Process"));
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}

bool OS::SetClipboardText(const char16_t* text, unsigned int length) {
  if (text == nullptr && length != 0) return false;
  if (!OpenClipboard(nullptr)) {
    VEXIL_ASSERT(0);
    return false;
  }
  const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(char16_t);
  HGLOBAL memory = length >= 0x3FFFFFFFu ? nullptr : GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) {
    CloseClipboard();
    VEXIL_ASSERT(0);
    return false;
  }
  auto* out = static_cast<char16_t*>(GlobalLock(memory));
  if (out == nullptr) {
    GlobalFree(memory);
    CloseClipboard();
    VEXIL_ASSERT(0);
    return false;
  }
  if (length != 0) std::memcpy(out, text, length * sizeof(char16_t));
  out[length] = u'\0';
  GlobalUnlock(memory);
  if (!EmptyClipboard()) {
    GlobalFree(memory);
    CloseClipboard();
    VEXIL_ASSERT(0);
    return false;
  }
  if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
    GlobalFree(memory);
    CloseClipboard();
    VEXIL_ASSERT(0);
    return false;
  }
  CloseClipboard();
  return true;
}

char16_t* OS::GetClipboardText() {
  if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return nullptr;
  if (!OpenClipboard(nullptr)) return nullptr;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) {
    CloseClipboard();
    VEXIL_ASSERT(0);
    return nullptr;
  }
  const auto* units = static_cast<const char16_t*>(GlobalLock(data));
  if (units == nullptr) {
    CloseClipboard();
    VEXIL_ASSERT(0);
    return nullptr;
  }
  // The block may lack a terminator: never read past its size.
  const SIZE_T capacity = GlobalSize(data) / sizeof(char16_t);
  SIZE_T length = 0;
  while (length < capacity && units[length] != u'\0') ++length;
  auto* copy = new (std::nothrow) char16_t[length + 1];
  if (copy != nullptr) {
    std::memcpy(copy, units, length * sizeof(char16_t));
    copy[length] = u'\0';
  }
  GlobalUnlock(data);
  CloseClipboard();
  return copy;
}

namespace {

struct TickCounter {
  std::once_flag started;
  bool performance = false;
  std::uint64_t start = 0;
  std::uint64_t frequency = 1000;
};

TickCounter& Ticks() {
  static TickCounter counter;
  return counter;
}

std::uint64_t ReadCounter(bool performance) {
  if (performance) {
    LARGE_INTEGER now;
    if (QueryPerformanceCounter(&now)) return static_cast<std::uint64_t>(now.QuadPart);
  }
  return GetTickCount();
}

}  // namespace

void StartTicks() {
  TickCounter& t = Ticks();
  std::call_once(t.started, [&t] {
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
      t.performance = true;
      t.frequency = static_cast<std::uint64_t>(frequency.QuadPart);
    } else {
      t.performance = false;
      t.frequency = 1000;
    }
    t.start = ReadCounter(t.performance);
  });
}

std::uint64_t GetTicks() {
  StartTicks();
  TickCounter& t = Ticks();
  const std::uint64_t elapsed = ReadCounter(t.performance) - t.start;
  // Split the scaling so that a long uptime cannot overflow the multiplication.
  return (elapsed / t.frequency) * 1000 + (elapsed % t.frequency) * 1000 / t.frequency;
}

std::uint32_t GetModState() {
  std::uint32_t state = 0;
  auto down = [](int key) { return (static_cast<std::uint16_t>(GetKeyState(key)) & 0x8000u) != 0; };
  auto on = [](int key) { return (static_cast<std::uint16_t>(GetKeyState(key)) & 0x0001u) != 0; };
  if (down(VK_LSHIFT)) state |= MOD_LSHIFT;
  if (down(VK_RSHIFT)) state |= MOD_RSHIFT;
  if (down(VK_LCONTROL)) state |= MOD_LCTRL;
  if (down(VK_RCONTROL)) state |= MOD_RCTRL;
  if (down(VK_LMENU)) state |= MOD_LALT;
  if (down(VK_RMENU)) state |= MOD_RALT;
  if (down(VK_LWIN)) state |= MOD_LWIN;
  if (down(VK_RWIN)) state |= MOD_RWIN;
  if (on(VK_NUMLOCK)) state |= MOD_NUMLOCK;
  if (on(VK_CAPITAL)) state |= MOD_CAPSLOCK;
  if (on(VK_SCROLL)) state |= MOD_SCROLLLOCK;
  return state;
}

std::u16string GetWin32ErrorText(DWORD error) {
  LPWSTR buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
                     0, nullptr);
  if (length == 0 || buffer == nullptr) {
    if (buffer != nullptr) LocalFree(buffer);
    char narrow[32];
    std::snprintf(narrow, sizeof(narrow), "Unknown error (0x%x)", static_cast<unsigned>(error));
    return text::Utf8ToUtf16(narrow);
  }
  std::u16string result(buffer, length);
  LocalFree(buffer);
  while (!result.empty() && result.back() <= u' ') result.pop_back();
  return result;
}

namespace {

std::uint32_t MeasureWide(const char16_t* text, std::uint32_t length) {
  if (length != 0xFFFFFFFFu) return length;
  std::uint32_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

}  // namespace

char* WideToUtf8(const char16_t* text, std::uint32_t length, std::uint32_t* outLength) {
  if (text == nullptr) return nullptr;
  const std::string utf8 = text::Utf16ToUtf8(std::u16string_view(text, MeasureWide(text, length)));
  auto* out = new (std::nothrow) char[utf8.size() + 1];
  if (out == nullptr) return nullptr;
  std::memcpy(out, utf8.data(), utf8.size());
  out[utf8.size()] = '\0';
  if (outLength != nullptr) *outLength = static_cast<std::uint32_t>(utf8.size());
  return out;
}

char16_t* Utf8ToWide(const char* text, std::uint32_t length, std::uint32_t* outLength) {
  if (text == nullptr) return nullptr;
  const std::size_t bytes = length == 0xFFFFFFFFu ? std::strlen(text) : length;
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(text, bytes));
  auto* out = new (std::nothrow) char16_t[wide.size() + 1];
  if (out == nullptr) return nullptr;
  std::memcpy(out, wide.data(), wide.size() * sizeof(char16_t));
  out[wide.size()] = u'\0';
  if (outLength != nullptr) *outLength = static_cast<std::uint32_t>(wide.size());
  return out;
}

bool ParseBool(const char16_t* text, bool* value) {
  if (text == nullptr || value == nullptr) return false;
  const std::u16string_view word(text);
  if (word == u"true" || word == u"1") {
    *value = true;
    return true;
  }
  if (word == u"false" || word == u"0") {
    *value = false;
    return true;
  }
  return false;
}

namespace {

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

constexpr std::uint32_t kTagLength = 8;   // "[#" and six hexadecimal digits
constexpr std::uint32_t kCodeLength = 9;  // U+0001, "ff" and the six digits

// Whether a colour tag starts at text[i].
bool IsColourTag(const char16_t* text, std::uint32_t length, std::uint32_t i) {
  if (length - i < kTagLength) return false;
  if (text[i] != u'[' || text[i + 1] != u'#') return false;
  for (std::uint32_t k = 2; k < kTagLength; ++k)
    if (!IsHexDigit(text[i + k])) return false;
  return true;
}

// One pass over the text: writes the result when out is given, and answers its length either way.
std::uint64_t Convert(const char16_t* text, std::uint32_t length, char16_t* out) {
  std::uint64_t o = 0;
  bool closing = false;  // a tag waits for the "]" that closes it
  for (std::uint32_t i = 0; i < length;) {
    if (IsColourTag(text, length, i)) {
      if (out) {
        out[o] = u'\x0001';
        out[o + 1] = u'f';
        out[o + 2] = u'f';
        for (std::uint32_t k = 2; k < kTagLength; ++k) out[o + 1 + k] = text[i + k];
      }
      o += kCodeLength;
      i += kTagLength;
      closing = true;
    } else if (closing && text[i] == u']') {
      closing = false;
      i += 1;
    } else {
      if (out) out[o] = text[i];
      o += 1;
      i += 1;
    }
  }
  return o;
}

}  // namespace

char16_t* ConvertColourMarkup(const char16_t* text, std::uint32_t length, std::uint32_t* outLength) {
  if (text == nullptr) return nullptr;
  length = MeasureWide(text, length);
  // A tag whose "]" never comes grows by one unit: the size is counted by the conversion itself.
  const std::uint64_t needed = Convert(text, length, nullptr);
  if (needed >= 0x7FFFFFFFu) return nullptr;
  auto* out = new (std::nothrow) char16_t[static_cast<std::size_t>(needed) + 1];
  if (out == nullptr) return nullptr;
  const auto written = static_cast<std::uint32_t>(Convert(text, length, out));
  out[written] = u'\0';
  if (outLength != nullptr) *outLength = written;
  return out;
}

bool IsDebuggerAttached() { return IsDebuggerPresent() != FALSE; }

}  // namespace Vexil3D
