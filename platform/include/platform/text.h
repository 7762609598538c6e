#pragma once
// Text utilities shared by every part of the program.
//
// Conversions follow the Windows code-page rules the rest of the code was written
// against: each maximal invalid UTF-8 subsequence becomes one U+FFFD, a lone
// surrogate becomes U+FFFD, and zero-terminated input stops at its NUL.
#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include <platform/win32types.h>

namespace text {

constexpr char32_t kReplacement = 0xFFFD;

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
std::u32string Utf16ToUtf32(std::u16string_view utf16);
std::u16string Utf32ToUtf16(std::u32string_view utf32);
std::u32string Utf8ToUtf32(std::string_view utf8);
std::string Utf32ToUtf8(std::u32string_view utf32);

// Zero-terminated forms; null gives an empty string.
std::u16string Utf8ToUtf16(const char* utf8);
std::string Utf16ToUtf8(const char16_t* utf16);

// printf over UTF-16 with the Windows wide conventions: %s and %ls take a wide
// string, %hs a narrow (UTF-8) one, %c a wide character, %hc a narrow one.
// Conversions: d i u x X o f F e E g G a p s c % with flags "-+ #0", width,
// precision and '*'; length modifiers h hh l ll I64 are accepted.
// Always terminates (when capacity > 0), truncates at the capacity without
// splitting a surrogate pair, and returns the number of units written (without
// the terminator), or -1 when the output was truncated.
int Format(char16_t* buffer, std::size_t capacity, const char16_t* format, ...);
int FormatV(char16_t* buffer, std::size_t capacity, const char16_t* format, va_list args);
std::u16string FormatString(const char16_t* format, ...);
std::u16string FormatStringV(const char16_t* format, va_list args);

// Narrow printf into a std::string ("C" locale formatting only).
std::string FormatNarrow(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::size_t Length(const char16_t* s);
int Compare(const char16_t* a, const char16_t* b);
int CompareNoCase(const char16_t* a, const char16_t* b);
int CompareNoCase(std::u16string_view a, std::u16string_view b);
constexpr char16_t ToLowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
constexpr char16_t ToUpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
constexpr char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
constexpr char ToUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
std::u16string ToLowerAscii(std::u16string_view s);
// Copies with truncation; always terminates when capacity > 0. False when truncated.
bool Copy(char16_t* destination, std::size_t capacity, const char16_t* source);

// Number parsing in the "C" locale, whatever the process locale is. The whole
// text must be consumed (no leading or trailing blanks) unless `end` is given.
bool ParseDouble(std::string_view s, double& value, std::size_t* end = nullptr);
bool ParseInt64(std::string_view s, long long& value, int base = 10, std::size_t* end = nullptr);

}  // namespace text

// Win32 code-page conversions. CP_ACP and CP_UTF8 are both UTF-8 here.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceBytes,
                        char16_t* destination, int destinationUnits);
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* source, int sourceUnits,
                        char* destination, int destinationBytes, const char* defaultChar,
                        BOOL* usedDefault);
