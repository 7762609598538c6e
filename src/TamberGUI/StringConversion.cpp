// UTF-8, UTF-16 and UTF-32 conversions of the GUI.
#include "StringConversion.h"

#include <engine/VexilAssert.h>
#include <platform/text.h>

#include <memory>

namespace TamberGUI {
namespace {

constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char16_t kHighFirst = 0xD800;
constexpr char16_t kHighLast = 0xDBFF;
constexpr char16_t kLowFirst = 0xDC00;
constexpr char16_t kLowLast = 0xDFFF;
constexpr unsigned kPayloadBits = 10;
constexpr char32_t kPayloadMask = 0x3FF;
constexpr char16_t kCarriageReturn = u'\r';
constexpr char16_t kLineFeed = u'\n';

bool IsHigh(char16_t unit) { return unit >= kHighFirst && unit <= kHighLast; }
bool IsLow(char16_t unit) { return unit >= kLowFirst && unit <= kLowLast; }

}  // namespace

char16_t* UTF8ToUTF16(const char* text) {
  if (text == nullptr) return nullptr;
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  VEXIL_ASSERT(length > 0);
  if (length <= 0) return nullptr;
  auto buffer = std::make_unique<char16_t[]>(static_cast<std::size_t>(length));
  const int written = MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer.get(), length);
  VEXIL_ASSERT(written == length);
  if (written != length) return nullptr;
  return buffer.release();
}

bool encode_utf16_pair(char32_t character, char16_t units[2]) {
  VEXIL_ASSERT(0x10000 <= character && character <= 0x10FFFF);
  if (character < kFirstSupplementary || character > kLastCodePoint) return false;
  units[0] = static_cast<char16_t>(((character - kFirstSupplementary) >> kPayloadBits) | kHighFirst);
  units[1] = static_cast<char16_t>((character & kPayloadMask) | kLowFirst);
  return true;
}

char32_t decode_utf16_pair(const char16_t units[2]) {
  VEXIL_ASSERT(0xD800 <= units[0] && units[0] <= 0xDBFF);
  VEXIL_ASSERT(0xDC00 <= units[1] && units[1] <= 0xDFFF);
  if (!IsHigh(units[0]) || !IsLow(units[1])) return text::kReplacement;
  return kFirstSupplementary + ((char32_t(units[0]) - kHighFirst) << kPayloadBits) + (char32_t(units[1]) - kLowFirst);
}

std::u32string utf16_to_utf32(const char16_t* text) {
  std::u32string out;
  if (text == nullptr) return out;
  for (const char16_t* p = text; *p != 0; ++p) {
    if (IsHigh(p[0]) && IsLow(p[1])) {
      out.push_back(decode_utf16_pair(p));
      ++p;
    } else if (p[0] == kCarriageReturn && p[1] == kLineFeed) {
      out.push_back(kLineFeed);
      ++p;
    } else {
      out.push_back(p[0]);
    }
  }
  return out;
}

std::u32string utf16_to_utf32_n(const char16_t* text, std::size_t count) {
  std::u32string out;
  if (text == nullptr) return out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (i + 1 < count && IsHigh(text[i]) && IsLow(text[i + 1])) {
      out.push_back(decode_utf16_pair(text + i));
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::u16string utf32_to_utf16(const char32_t* text, std::size_t count, bool crlf) {
  std::u16string out;
  if (text == nullptr) return out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t c = text[i];
    if (c > kLastCodePoint) {
      out.push_back(static_cast<char16_t>(text::kReplacement));
    } else if (c >= kFirstSupplementary) {
      char16_t units[2];
      encode_utf16_pair(c, units);
      out.append(units, 2);
    } else {
      if (crlf && c == kLineFeed) out.push_back(kCarriageReturn);
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::u32string utf8_to_utf32(const char* text) {
  std::unique_ptr<char16_t[]> wide(UTF8ToUTF16(text));
  return utf16_to_utf32(wide.get());
}

}  // namespace TamberGUI
