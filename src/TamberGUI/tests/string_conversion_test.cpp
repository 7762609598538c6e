// The GUI's UTF-8, UTF-16 and UTF-32 conversions.
#include <TamberGUI/StringConversion.h>
#include <gtest/gtest.h>

#include <memory>

#include "AssertionCapture.h"

using namespace TamberGUI;

TEST(StringConversion, Utf16ToUtf32Cases) {
  struct Case {
    std::u16string in;
    std::u32string folded;  // utf16_to_utf32
    std::u32string exact;   // utf16_to_utf32_n
  } cases[] = {
      {u"a\r\nb", U"a\nb", U"a\r\nb"},
      {u"\xD83D\xDE00", U"\U0001F600", U"\U0001F600"},
      {u"x\xD83D", U"x\xD83D", U"x\xD83D"},             // lone high surrogate at the end
      {u"\xDE00\xD83D", U"\xDE00\xD83D", U"\xDE00\xD83D"},  // reversed pair
      {u"\xD7FF\xE000\xFFFF", U"\xD7FF\xE000\xFFFF", U"\xD7FF\xE000\xFFFF"},
      {u"\xDBFF\xDFFF\r", U"\U0010FFFF\r", U"\U0010FFFF\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u32string(c.exact)));
    EXPECT_EQ(utf16_to_utf32(c.in.c_str()), c.folded);
    EXPECT_EQ(utf16_to_utf32_n(c.in.data(), c.in.size()), c.exact);
  }
}

TEST(StringConversion, CountedConversionStopsAtItsCount) {
  // Exactly two units on the heap: a read of a third (the high surrogate's partner) is caught.
  std::unique_ptr<char16_t[]> units(new char16_t[2]{u'a', 0xD83D});
  EXPECT_EQ(utf16_to_utf32_n(units.get(), 2), std::u32string(U"a\xD83D"));
  EXPECT_EQ(utf16_to_utf32_n(units.get(), 0), std::u32string());
}

TEST(StringConversion, Utf32ToUtf16Cases) {
  const char32_t text[] = {0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF, 0x110000, 0xFFFFFFFF, U'\n', 0xD83D};
  const std::u16string expected = u"\xD7FF\xE000\xFFFF\xD800\xDC00\xDBFF\xDFFF\xFFFD\xFFFD\n\xD83D";
  EXPECT_EQ(utf32_to_utf16(text, std::size(text), false), expected);
  const char32_t lines[] = {U'a', U'\n', U'b'};
  EXPECT_EQ(utf32_to_utf16(lines, 3, true), std::u16string(u"a\r\nb"));
  // Round trip of every kind of scalar value (CR LF folding aside).
  const std::u16string back = utf32_to_utf16(text, 5, false);
  EXPECT_EQ(utf16_to_utf32(back.c_str()), std::u32string(text, 5));
}

TEST(StringConversion, Utf8Cases) {
  struct Case {
    const char* in;
    std::u32string out;
  } cases[] = {
      {"a\xC3\xA9\xF0\x9F\x98\x80", U"a\u00E9\U0001F600"},
      {"\xC0\xAF", U"\xFFFD\xFFFD"},     // overlong
      {"\xED\xA0\x80", U"\xFFFD\xFFFD\xFFFD"},  // encoded surrogate
      {"ab\xE2\x82", U"ab\xFFFD"},       // truncated
      {"", U""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(utf8_to_utf32(c.in), c.out);
  }
  EXPECT_EQ(UTF8ToUTF16(nullptr), nullptr);
  EXPECT_EQ(utf8_to_utf32(nullptr), std::u32string());
  std::unique_ptr<char16_t[]> wide(UTF8ToUTF16("\xF0\x9F\x98\x80"));
  EXPECT_EQ(std::u16string(wide.get()), u"\xD83D\xDE00");
}

TEST(StringConversion, PairHelpersAssertOnMisuse) {
  enginetest::AssertionCapture capture;
  char16_t units[2] = {1, 2};
  EXPECT_FALSE(encode_utf16_pair(0xFFFF, units));
  EXPECT_TRUE(capture.LastNames(u"0x10000 <= character && character <= 0x10FFFF"));
  EXPECT_EQ(units[0], 1);
  const char16_t bad[2] = {0xDC00, 0xDC00};
  EXPECT_EQ(decode_utf16_pair(bad), char32_t(0xFFFD));
  EXPECT_TRUE(capture.LastNames(u"0xD800 <= units[0] && units[0] <= 0xDBFF"));
  ASSERT_TRUE(encode_utf16_pair(0x1F600, units));
  EXPECT_EQ(decode_utf16_pair(units), char32_t(0x1F600));
}
