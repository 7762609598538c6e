// UTF-8/UTF-16 conversion and the locale-independent wide string routines.
#include <platform/text.h>

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

void SetLastError(DWORD error);

namespace text {
namespace {

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes one code point at `i`, replacing each maximal invalid subsequence
// with U+FFFD (the rule Windows and the Unicode standard's best practice share).
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int continuation = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    continuation = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    continuation = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;  // encoded surrogates are invalid
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    continuation = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    ++i;
    return kReplacement;
  }
  ++i;
  for (int n = 0; n < continuation; ++n) {
    if (i >= s.size()) return kReplacement;
    const unsigned char b = byte(i);
    if (b < low || b > high) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    low = 0x80;
    high = 0xBF;
    ++i;
  }
  return cp;
}

char32_t DecodeUtf16(std::u16string_view s, std::size_t& i) {
  const char32_t u = s[i++];
  if (!IsSurrogate(u)) return u;
  if (IsHighSurrogate(u) && i < s.size() && IsLowSurrogate(s[i])) {
    const char32_t lowUnit = s[i++];
    return 0x10000 + ((u - 0xD800) << 10) + (lowUnit - 0xDC00);
  }
  return kReplacement;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || IsSurrogate(cp)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp > 0x10FFFF || IsSurrogate(cp)) cp = kReplacement;
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Number formatting must not follow the process locale (a game may set one).
locale_t ClassicLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  return c;
}

class ScopedClassicLocale {
 public:
  ScopedClassicLocale() : previous_(uselocale(ClassicLocale())) {}
  ~ScopedClassicLocale() { uselocale(previous_); }
  ScopedClassicLocale(const ScopedClassicLocale&) = delete;
  ScopedClassicLocale& operator=(const ScopedClassicLocale&) = delete;

 private:
  locale_t previous_;
};

void Pad(std::u16string& out, std::size_t count, char16_t c) { out.append(count, c); }

void AppendField(std::u16string& out, std::u16string_view body, int width, bool leftAlign) {
  const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (!leftAlign && body.size() < w) Pad(out, w - body.size(), u' ');
  out.append(body);
  if (leftAlign && body.size() < w) Pad(out, w - body.size(), u' ');
}

void FormatInto(std::u16string& out, const char16_t* format, va_list args) {
  if (format == nullptr) return;
  ScopedClassicLocale classic;
  for (const char16_t* p = format; *p;) {
    if (*p != u'%') {
      out.push_back(*p++);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out.push_back(u'%');
      ++p;
      continue;
    }
    std::string flags;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
      if (flags.find(static_cast<char>(*p)) == std::string::npos) flags.push_back(static_cast<char>(*p));
      ++p;
    }
    int width = -1;
    if (*p == u'*') {
      width = va_arg(args, int);
      if (width < 0) {
        flags.push_back('-');
        width = -width;
      }
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') {
        width = (width < 0 ? 0 : width) * 10 + (*p++ - u'0');
        if (width > 100000) width = 100000;
      }
    }
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      if (*p == u'*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') {
          precision = precision * 10 + (*p++ - u'0');
          if (precision > 100000) precision = 100000;
        }
      }
    }
    enum class Size { Default, Short, Char, Long, LongLong, LongDouble, SizeT } size = Size::Default;
    bool narrow = false, wide = false;
    for (bool more = true; more;) {
      switch (*p) {
        case u'h':
          if (p[1] == u'h') {
            size = Size::Char;
            ++p;
          } else {
            size = Size::Short;
          }
          narrow = true;
          ++p;
          break;
        case u'l':
          if (p[1] == u'l') {
            size = Size::LongLong;
            ++p;
          } else {
            size = Size::Long;
          }
          wide = true;
          ++p;
          break;
        case u'w':
          wide = true;
          ++p;
          break;
        case u'L':
          size = Size::LongDouble;
          ++p;
          break;
        case u'z':
        case u'j':
        case u't':
          size = (*p == u'j') ? Size::LongLong : Size::SizeT;
          ++p;
          break;
        case u'I':
          if (p[1] == u'6' && p[2] == u'4') {
            size = Size::LongLong;
            p += 3;
          } else if (p[1] == u'3' && p[2] == u'2') {
            size = Size::Default;
            p += 3;
          } else {
            size = Size::SizeT;
            ++p;
          }
          break;
        default:
          more = false;
      }
    }
    const char16_t conversion = *p;
    if (conversion == 0) break;
    ++p;
    const bool leftAlign = flags.find('-') != std::string::npos;
    std::string spec = "%" + flags;
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) spec += "." + std::to_string(precision);

    char narrowBuffer[512];
    std::string big;
    auto formatNarrow = [&](const std::string& fmt, auto value) -> std::string_view {
      int n = std::snprintf(narrowBuffer, sizeof narrowBuffer, fmt.c_str(), value);
      if (n < 0) return {};
      if (static_cast<std::size_t>(n) < sizeof narrowBuffer) return {narrowBuffer, static_cast<std::size_t>(n)};
      big.resize(static_cast<std::size_t>(n) + 1);
      std::snprintf(big.data(), big.size(), fmt.c_str(), value);
      big.resize(static_cast<std::size_t>(n));
      return big;
    };
    auto appendAscii = [&](std::string_view s) {
      for (char c : s) out.push_back(static_cast<unsigned char>(c));
    };

    switch (conversion) {
      case u'd':
      case u'i': {
        long long v;
        if (size == Size::LongLong) v = va_arg(args, long long);
        else if (size == Size::Long || size == Size::SizeT) v = va_arg(args, long);
        else v = va_arg(args, int);
        if (size == Size::Short) v = static_cast<short>(v);
        if (size == Size::Char) v = static_cast<signed char>(v);
        appendAscii(formatNarrow(spec + "lld", v));
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        unsigned long long v;
        if (size == Size::LongLong) v = va_arg(args, unsigned long long);
        else if (size == Size::Long || size == Size::SizeT) v = va_arg(args, unsigned long);
        else v = va_arg(args, unsigned int);
        if (size == Size::Short) v = static_cast<unsigned short>(v);
        if (size == Size::Char) v = static_cast<unsigned char>(v);
        appendAscii(formatNarrow(spec + "ll" + static_cast<char>(conversion), v));
        break;
      }
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
      case u'a':
      case u'A': {
        double v = (size == Size::LongDouble) ? static_cast<double>(va_arg(args, long double)) : va_arg(args, double);
        appendAscii(formatNarrow(spec + static_cast<char>(conversion), v));
        break;
      }
      case u'p': {
        // Windows prints pointers as eight upper-case hex digits.
        const auto v = reinterpret_cast<std::uintptr_t>(va_arg(args, void*));
        char digits[32];
        std::snprintf(digits, sizeof digits, "%08lX", static_cast<unsigned long>(v));
        std::u16string body;
        for (const char* c = digits; *c; ++c) body.push_back(static_cast<char16_t>(*c));
        AppendField(out, body, width, leftAlign);
        break;
      }
      case u'c':
      case u'C': {
        const int v = va_arg(args, int);
        const bool asNarrow = (conversion == u'c') ? narrow : !wide;
        char16_t c = asNarrow ? static_cast<char16_t>(static_cast<unsigned char>(v)) : static_cast<char16_t>(v);
        AppendField(out, std::u16string_view(&c, 1), width, leftAlign);
        break;
      }
      case u's':
      case u'S': {
        const bool asNarrow = (conversion == u's') ? narrow : !wide;
        std::u16string body;
        if (asNarrow) {
          const char* s = va_arg(args, const char*);
          if (s == nullptr) s = "(null)";
          std::size_t n = 0;
          if (precision >= 0) {
            while (n < static_cast<std::size_t>(precision) && s[n]) ++n;
          } else {
            n = std::strlen(s);
          }
          body = Utf8ToUtf16(std::string_view(s, n));
        } else {
          const char16_t* s = va_arg(args, const char16_t*);
          if (s == nullptr) s = u"(null)";
          std::size_t n = 0;
          while ((precision < 0 || n < static_cast<std::size_t>(precision)) && s[n]) ++n;
          // A precision must not cut a surrogate pair in two.
          if (precision >= 0 && n > 0 && IsHighSurrogate(s[n - 1]) && IsLowSurrogate(s[n])) --n;
          body.assign(s, n);
        }
        AppendField(out, body, width, leftAlign);
        break;
      }
      case u'n':
        (void)va_arg(args, void*);  // writing through %n is never honoured
        break;
      default:
        // Unknown conversions are copied literally so the mistake stays visible.
        out.push_back(u'%');
        out.push_back(conversion);
        break;
    }
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, i));
  return out;
}

std::u16string Utf8ToUtf16(const char* utf8) {
  return utf8 ? Utf8ToUtf16(std::string_view(utf8)) : std::u16string();
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size();) AppendUtf8(out, DecodeUtf16(utf16, i));
  return out;
}

std::string Utf16ToUtf8(const char16_t* utf16) {
  return utf16 ? Utf16ToUtf8(std::u16string_view(utf16)) : std::string();
}

std::u32string Utf16ToUtf32(std::u16string_view utf16) {
  std::u32string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size();) out.push_back(DecodeUtf16(utf16, i));
  return out;
}

std::u16string Utf32ToUtf16(std::u32string_view utf32) {
  std::u16string out;
  out.reserve(utf32.size());
  for (char32_t c : utf32) AppendUtf16(out, c);
  return out;
}

std::u32string Utf8ToUtf32(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out.push_back(DecodeUtf8(utf8, i));
  return out;
}

std::string Utf32ToUtf8(std::u32string_view utf32) {
  std::string out;
  out.reserve(utf32.size());
  for (char32_t c : utf32) AppendUtf8(out, c);
  return out;
}

int FormatV(char16_t* buffer, std::size_t capacity, const char16_t* format, va_list args) {
  if (buffer == nullptr || capacity == 0) return -1;
  std::u16string out;
  va_list copy;
  va_copy(copy, args);
  FormatInto(out, format, copy);
  va_end(copy);
  std::size_t n = out.size();
  bool truncated = false;
  if (n >= capacity) {
    n = capacity - 1;
    truncated = true;
    if (n > 0 && IsHighSurrogate(out[n - 1])) --n;
  }
  std::memcpy(buffer, out.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return truncated ? -1 : static_cast<int>(n);
}

int Format(char16_t* buffer, std::size_t capacity, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = FormatV(buffer, capacity, format, args);
  va_end(args);
  return n;
}

std::u16string FormatStringV(const char16_t* format, va_list args) {
  std::u16string out;
  va_list copy;
  va_copy(copy, args);
  FormatInto(out, format, copy);
  va_end(copy);
  return out;
}

std::u16string FormatString(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string out = FormatStringV(format, args);
  va_end(args);
  return out;
}

std::string FormatNarrow(const char* format, ...) {
  ScopedClassicLocale classic;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

std::size_t Length(const char16_t* s) {
  std::size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

int Compare(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
}

int CompareNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    const char16_t x = ToLowerAscii(*a), y = ToLowerAscii(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = ToLowerAscii(a[i]), y = ToLowerAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::u16string ToLowerAscii(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = ToLowerAscii(c);
  return out;
}

bool Copy(char16_t* destination, std::size_t capacity, const char16_t* source) {
  if (destination == nullptr || capacity == 0) return false;
  std::size_t n = 0;
  if (source) {
    while (source[n] && n + 1 < capacity) {
      destination[n] = source[n];
      ++n;
    }
  }
  const bool complete = source == nullptr || source[n] == 0;
  if (!complete && n > 0 && IsHighSurrogate(destination[n - 1])) --n;
  destination[n] = 0;
  return complete;
}

bool ParseDouble(std::string_view s, double& value, std::size_t* end) {
  std::size_t start = 0;
  if (!s.empty() && s[0] == '+' && (s.size() < 2 || s[1] != '-')) start = 1;
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v);
  if (ec != std::errc() || ptr == s.data() + start) return false;
  const std::size_t used = static_cast<std::size_t>(ptr - s.data());
  if (end) *end = used;
  else if (used != s.size()) return false;
  value = v;
  return true;
}

bool ParseInt64(std::string_view s, long long& value, int base, std::size_t* end) {
  std::size_t start = 0;
  if (!s.empty() && s[0] == '+' && (s.size() < 2 || s[1] != '-')) start = 1;
  long long v = 0;
  auto [ptr, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v, base);
  if (ec != std::errc() || ptr == s.data() + start) return false;
  const std::size_t used = static_cast<std::size_t>(ptr - s.data());
  if (end) *end = used;
  else if (used != s.size()) return false;
  value = v;
  return true;
}

}  // namespace text

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceBytes,
                        char16_t* destination, int destinationUnits) {
  if ((codePage != CP_UTF8 && codePage != CP_ACP) || source == nullptr || sourceBytes < -1 ||
      sourceBytes == 0 || destinationUnits < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With -1 the input ends at its NUL and the terminator is converted too.
  const bool terminated = sourceBytes == -1;
  const std::string_view input(source, terminated ? std::strlen(source) : static_cast<std::size_t>(sourceBytes));
  if (flags & MB_ERR_INVALID_CHARS) {
    const std::u16string strict = text::Utf8ToUtf16(input);
    if (text::Utf16ToUtf8(strict) != input) {
      SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
      return 0;
    }
  }
  std::u16string converted = text::Utf8ToUtf16(input);
  if (terminated) converted.push_back(0);
  const int needed = static_cast<int>(converted.size());
  if (destinationUnits == 0) return needed;
  if (destination == nullptr || destinationUnits < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(destination, converted.data(), converted.size() * sizeof(char16_t));
  return needed;
}

int WideCharToMultiByte(UINT codePage, DWORD, const char16_t* source, int sourceUnits, char* destination,
                        int destinationBytes, const char*, BOOL* usedDefault) {
  if ((codePage != CP_UTF8 && codePage != CP_ACP) || source == nullptr || sourceUnits < -1 ||
      sourceUnits == 0 || destinationBytes < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool terminated = sourceUnits == -1;
  const std::u16string_view input(source, terminated ? text::Length(source) : static_cast<std::size_t>(sourceUnits));
  std::string converted = text::Utf16ToUtf8(input);
  if (terminated) converted.push_back(0);
  if (usedDefault) *usedDefault = FALSE;
  const int needed = static_cast<int>(converted.size());
  if (destinationBytes == 0) return needed;
  if (destination == nullptr || destinationBytes < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(destination, converted.data(), converted.size());
  return needed;
}
