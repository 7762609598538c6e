// Checked string copies, UTF-16/UTF-8 conversions, string buffers and lists that report into a task context.
#include <base/StringRoutines.h>

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include <base/Stream.h>
#include <base/AppContext.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/text.h>

const char kCopyStringTooShortMessage[] =
    "An attempt was made to copy a string into a buffer too short to hold the string.";
const char kStringBufferTooShortMessage[] =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";

namespace {

constexpr std::uint32_t kInvalidCapacity = 0x80000000u;

template <typename Char>
std::size_t LengthOf(const Char* s) {
  std::size_t length = 0;
  while (s[length] != 0) ++length;
  return length;
}

void Report(tTaskContext* errors, const char* message) {
  if (errors != nullptr) errors->AddError(message);
}

template <typename Char>
bool CopyChecked(tTaskContext* errors, Char* buffer, std::uint32_t capacity, const Char* source, bool append) {
  if (errors != nullptr && errors->GetErrorCount() != 0) return false;
  static constexpr Char kEmpty[1] = {0};
  if (source == nullptr) source = kEmpty;
  if (buffer == nullptr || capacity == 0 || capacity >= kInvalidCapacity) {
    Report(errors, kCopyStringTooShortMessage);
    return false;
  }
  std::size_t offset = 0;
  if (append) {
    // The existing text must end inside the buffer before anything is added.
    while (offset < capacity && buffer[offset] != 0) ++offset;
    if (offset == capacity) {
      Report(errors, kCopyStringTooShortMessage);
      return false;
    }
  }
  const std::size_t length = LengthOf(source);
  if (length >= capacity - offset) {
    Report(errors, kCopyStringTooShortMessage);
    return false;
  }
  std::memmove(buffer + offset, source, (length + 1) * sizeof(Char));
  return true;
}

template <typename Char>
bool AppendCharacters(tStringBuffer* buffer, tTaskContext* errors, const Char* text) {
  if (buffer == nullptr) return false;
  if (text == nullptr) return true;
  for (; *text != 0; ++text) {
    if (buffer->length >= buffer->capacity) {
      Report(errors, kStringBufferTooShortMessage);
      return false;
    }
    // Bytes are widened one to one (the narrow callers pass ASCII).
    buffer->characters[buffer->length++] = static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(*text));
  }
  return true;
}

}  // namespace

bool CopyStringChecked(tTaskContext* errors, char16_t* buffer, std::uint32_t capacity, const char16_t* source,
                       bool append) {
  return CopyChecked(errors, buffer, capacity, source, append);
}

bool CopyStringCheckedA(char* buffer, std::uint32_t capacity, const char* source, bool append) {
  if (source == nullptr) source = "";
  return CopyChecked<char>(&g_AppContext, buffer, capacity, source, append);
}

char* WideToUTF8(const char16_t* text) {
  const std::string utf8 = text::Utf16ToUtf8(text != nullptr ? text : u"");
  char* result = new char[utf8.size() + 1];
  std::memcpy(result, utf8.c_str(), utf8.size() + 1);
  return result;
}

bool GetWindowsVersion(OSVERSIONINFOW* info) {
  if (info == nullptr) return false;
  if (info->dwOSVersionInfoSize == 0) info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  using RtlGetVersionFunction = NTSTATUS(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(u"ntdll.dll");
  if (ntdll != nullptr) {
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(GetProcAddress(ntdll, "RtlGetVersion"));
    // The real version even where the compatibility layer would report an older one.
    if (rtlGetVersion != nullptr) return rtlGetVersion(info) == STATUS_SUCCESS;
  }
  return GetVersionExW(info) != FALSE;
}

bool AppendToStringBuffer(tStringBuffer* buffer, tTaskContext* errors, const char* text) {
  return AppendCharacters(buffer, errors, text);
}

bool AppendToStringBuffer(tStringBuffer* buffer, tTaskContext* errors, const char16_t* text) {
  return AppendCharacters(buffer, errors, text);
}

bool AppendStringCopy(tStringList* list, tTaskContext* errors, const char16_t* text) {
  if (list == nullptr) return false;
  if (errors != nullptr && errors->GetErrorCount() != 0) {
    errors->AddError(kCopyStringTooShortMessage);
    return false;
  }
  if (text == nullptr) text = u"";
  const std::size_t length = LengthOf(text);
  char16_t* copy = new (std::nothrow) char16_t[length + 1];
  tStringListNode* node = copy != nullptr ? new (std::nothrow) tStringListNode : nullptr;
  if (node == nullptr) {
    delete[] copy;
    Report(errors, kCopyStringTooShortMessage);
    return false;
  }
  std::memcpy(copy, text, (length + 1) * sizeof(char16_t));
  node->next = nullptr;
  node->text = copy;
  if (list->tail != nullptr)
    list->tail->next = node;
  else
    list->head = node;
  list->tail = node;
  return true;
}

void FreeStringList(tStringList* list) {
  if (list == nullptr) return;
  tStringListNode* node = list->head;
  while (node != nullptr) {
    tStringListNode* next = node->next;
    delete[] node->text;
    delete node;
    node = next;
  }
  list->head = list->tail = nullptr;
}

bool ReadUCS2Unit(CStream* stream, char16_t* unit, bool swap) {
  if (stream == nullptr || unit == nullptr) return false;
  unsigned char bytes[2];
  if (stream->Read(bytes, 2, 1) != 1) return false;
  *unit = swap ? static_cast<char16_t>((bytes[0] << 8) | bytes[1]) : static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
  return true;
}

bool WriteUCS2Unit(CStream* stream, char16_t unit, bool swap) {
  if (stream == nullptr) return false;
  const unsigned char low = static_cast<unsigned char>(unit & 0xFF);
  const unsigned char high = static_cast<unsigned char>(unit >> 8);
  const unsigned char bytes[2] = {swap ? high : low, swap ? low : high};
  return stream->Write(bytes, 2, 1) == 1;
}

std::uint32_t WriteBytesToStream(CStream* stream, const void* bytes, std::uint32_t count) {
  if (stream == nullptr) return 0;
  return stream->Write(bytes, 1, count);
}
