// Text: UTF-8/UTF-16 conversion of hostile sequences, code pages and wide formatting.
#include <platform/text.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace std::string_literals;

struct InvalidUtf8Case {
  const char* name;
  std::string input;
  std::u16string expected;
};

class InvalidUtf8 : public ::testing::TestWithParam<InvalidUtf8Case> {};

TEST_P(InvalidUtf8, EachMaximalInvalidSubsequenceBecomesOneReplacement) {
  EXPECT_EQ(text::Utf8ToUtf16(GetParam().input), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InvalidUtf8,
    ::testing::Values(
        InvalidUtf8Case{"ascii", "abc", u"abc"},
        InvalidUtf8Case{"lone continuation", "a\x80" "b", u"a\uFFFDb"},
        InvalidUtf8Case{"two continuations", "\x80\xBF", u"\uFFFD\uFFFD"},
        InvalidUtf8Case{"overlong two-byte C0", "\xC0\xAF", u"\uFFFD\uFFFD"},
        InvalidUtf8Case{"overlong two-byte C1", "\xC1\xBF", u"\uFFFD\uFFFD"},
        InvalidUtf8Case{"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        InvalidUtf8Case{"overlong four-byte", "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        InvalidUtf8Case{"encoded high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        InvalidUtf8Case{"encoded low surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        InvalidUtf8Case{"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        InvalidUtf8Case{"F5 lead", "\xF5\x80", u"\uFFFD\uFFFD"},
        InvalidUtf8Case{"FF byte", "x\xFFy", u"x\uFFFDy"},
        InvalidUtf8Case{"truncated two-byte tail", "a\xC3", u"a\uFFFD"},
        InvalidUtf8Case{"truncated three-byte tail", "a\xE2\x82", u"a\uFFFD"},
        InvalidUtf8Case{"truncated four-byte tail", "\xF0\x9F\x98", u"\uFFFD"},
        InvalidUtf8Case{"truncated then ascii", "\xE2\x82z", u"\uFFFDz"},
        InvalidUtf8Case{"valid mix", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600"},
        InvalidUtf8Case{"max code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        InvalidUtf8Case{"embedded nul kept in views", "a\0b"s, u"a\0b"s}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(TextConversion, ZeroTerminatedInputStopsAtNul) {
  const char bytes[] = "ab\0cd";
  EXPECT_EQ(text::Utf8ToUtf16(static_cast<const char*>(bytes)), u"ab");
  const char16_t units[] = u"xy\0z";
  EXPECT_EQ(text::Utf16ToUtf8(static_cast<const char16_t*>(units)), "xy");
  EXPECT_EQ(text::Utf8ToUtf16(static_cast<const char*>(nullptr)), u"");
}

TEST(TextConversion, SurrogatePairsRoundTripAndLoneSurrogatesAreReplaced) {
  const std::u16string pair = u"\U0001F600";
  ASSERT_EQ(pair.size(), 2u);
  EXPECT_EQ(text::Utf16ToUtf8(pair), "\xF0\x9F\x98\x80");
  EXPECT_EQ(text::Utf16ToUtf32(pair), U"\U0001F600");
  EXPECT_EQ(text::Utf32ToUtf16(U"\U0001F600"), pair);

  const std::u16string loneHigh = {u'a', char16_t(0xD800), u'b'};
  const std::u16string loneLow = {char16_t(0xDC00)};
  const std::u16string reversed = {char16_t(0xDC00), char16_t(0xD800)};
  EXPECT_EQ(text::Utf16ToUtf8(loneHigh), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(text::Utf16ToUtf8(loneLow), "\xEF\xBF\xBD");
  EXPECT_EQ(text::Utf16ToUtf8(reversed), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(text::Utf16ToUtf32(loneLow), U"\uFFFD");

  // UTF-32 input outside Unicode or naming a surrogate is replaced too.
  EXPECT_EQ(text::Utf32ToUtf8(std::u32string{char32_t(0x110000)}), "\xEF\xBF\xBD");
  EXPECT_EQ(text::Utf32ToUtf16(std::u32string{char32_t(0xD800)}), u"\uFFFD");
}

TEST(TextConversion, RoundTripsEveryPlane) {
  std::u32string all;
  for (char32_t c = 1; c < 0x110000; c += 0x3F1)
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  EXPECT_EQ(text::Utf8ToUtf32(text::Utf32ToUtf8(all)), all);
  EXPECT_EQ(text::Utf16ToUtf32(text::Utf32ToUtf16(all)), all);
  EXPECT_EQ(text::Utf8ToUtf16(text::Utf16ToUtf8(text::Utf32ToUtf16(all))), text::Utf32ToUtf16(all));
}

TEST(TextCodePages, MultiByteToWideCharFollowsWin32Conventions) {
  // -1 converts the terminator and counts it.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, nullptr, 0), 3);
  char16_t out[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, out, 8), 3);
  EXPECT_EQ(std::u16string(out), u"h\u00E9");
  // An explicit length converts no terminator.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 2, out, 8), 2);
  // Too small a buffer fails rather than truncating.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcdef", -1, out, 3), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, out, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, out, 8), 0);

  char bytes[8] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, bytes, 8, nullptr, nullptr), 3);
  EXPECT_STREQ(bytes, "\xC3\xA9");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, bytes, 2, nullptr, nullptr), 0);
}

std::u16string Fmt(const char16_t* format, auto... args) { return text::FormatString(format, args...); }

TEST(TextFormat, WindowsWideConventions) {
  EXPECT_EQ(Fmt(u"%s|%hs|%ls", u"wide", "narrow \xC3\xA9", u"long"), u"wide|narrow \u00E9|long");
  EXPECT_EQ(Fmt(u"%c%c%hc", int(u'x'), int(0x20AC), int('y')), u"x\u20ACy");
  EXPECT_EQ(Fmt(u"[%5s][%-5s][%.2s]", u"ab", u"ab", u"abcd"), u"[   ab][ab   ][ab]");
  EXPECT_EQ(Fmt(u"%s %hs", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
            u"(null) (null)");
  EXPECT_EQ(Fmt(u"100%%"), u"100%");
}

TEST(TextFormat, NumbersWithFlagsWidthAndPrecision) {
  EXPECT_EQ(Fmt(u"%d %i %u", -42, 7, 4294967295u), u"-42 7 4294967295");
  EXPECT_EQ(Fmt(u"%05d|%-4d|%+d|% d", 42, 7, 3, 3), u"00042|7   |+3| 3");
  EXPECT_EQ(Fmt(u"%x %X %#x %08X %o", 255u, 255u, 255u, 0xBEEFu, 8u), u"ff FF 0xff 0000BEEF 10");
  EXPECT_EQ(Fmt(u"%*d|%-*d|%.*f", 4, 1, 3, 2, 1, 2.25), u"   1|2  |2.2");
  EXPECT_EQ(Fmt(u"%I64d %lld %I64X", 1LL << 40, -(1LL << 40), 0x1122334455667788ULL),
            u"1099511627776 -1099511627776 1122334455667788");
  EXPECT_EQ(Fmt(u"%hd %hu %hhd", 70000, 70000, 300), u"4464 4464 44");
  EXPECT_EQ(Fmt(u"%f %.3f %e %g %g %G", 1.5, 2.0, 12345.0, 3.0, 0.0001, 1e20),
            u"1.500000 2.000 1.234500e+04 3 0.0001 1E+20");
  EXPECT_EQ(Fmt(u"%p", reinterpret_cast<void*>(0x12FF7C)), u"0012FF7C");
}

TEST(TextFormat, TruncatesAtCapacityAndAlwaysTerminates) {
  char16_t buf[6];
  EXPECT_EQ(text::Format(buf, 6, u"%s", u"hello"), 5);
  EXPECT_EQ(std::u16string(buf), u"hello");
  EXPECT_EQ(text::Format(buf, 6, u"%s!", u"hello"), -1);
  EXPECT_EQ(std::u16string(buf), u"hello");
  EXPECT_EQ(text::Format(buf, 1, u"abc"), -1);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(text::Format(buf, 0, u"abc"), -1);
}

TEST(TextFormat, TruncationNeverSplitsASurrogatePair) {
  char16_t buf[4];
  // "ab" + U+1F600 needs 4 units + terminator: the pair must go whole.
  EXPECT_EQ(text::Format(buf, 4, u"ab%s", u"\U0001F600"), -1);
  EXPECT_EQ(std::u16string(buf), u"ab");
  EXPECT_EQ(text::Format(buf, 4, u"a%s", u"\U0001F600"), 3);
  EXPECT_EQ(std::u16string(buf), u"a\U0001F600");
  // A precision counted in units does not cut a pair either.
  EXPECT_EQ(Fmt(u"%.1s|", u"\U0001F600"), u"|");
}

TEST(TextFormat, NeverWritesThroughPercentN) {
  int target = 1234;
  EXPECT_EQ(Fmt(u"a%nb", &target), u"ab");
  EXPECT_EQ(target, 1234);
}

TEST(TextStrings, CaseFoldingIsAsciiOnly) {
  EXPECT_EQ(text::CompareNoCase(u"GameData", u"gamedata"), 0);
  EXPECT_NE(text::CompareNoCase(u"\u00C9", u"\u00E9"), 0);
  EXPECT_LT(text::CompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_LT(text::CompareNoCase(std::u16string_view(u"ab"), std::u16string_view(u"ABC")), 0);
  EXPECT_EQ(text::ToLowerAscii(std::u16string_view(u"MiXeD\u00C9")), u"mixed\u00C9");
  EXPECT_EQ(text::Compare(u"a", u"b"), -1);
  EXPECT_EQ(text::Length(u"four"), 4u);
}

TEST(TextStrings, CopyTruncatesSafely) {
  char16_t buf[4];
  EXPECT_TRUE(text::Copy(buf, 4, u"abc"));
  EXPECT_FALSE(text::Copy(buf, 4, u"abcd"));
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_FALSE(text::Copy(buf, 4, u"ab\U0001F600"));
  EXPECT_EQ(std::u16string(buf), u"ab");
  EXPECT_FALSE(text::Copy(buf, 0, u"x"));
}

TEST(TextNumbers, ParsingIsStrictUnlessAnEndIsAsked) {
  double d = 0;
  long long i = 0;
  EXPECT_TRUE(text::ParseDouble("-1.25e2", d));
  EXPECT_EQ(d, -125.0);
  EXPECT_TRUE(text::ParseDouble("+3", d));
  EXPECT_EQ(d, 3.0);
  EXPECT_FALSE(text::ParseDouble("1.5x", d));
  EXPECT_FALSE(text::ParseDouble("", d));
  EXPECT_FALSE(text::ParseDouble(" 1", d));
  std::size_t end = 0;
  EXPECT_TRUE(text::ParseDouble("1.5x", d, &end));
  EXPECT_EQ(end, 3u);
  EXPECT_TRUE(text::ParseInt64("ff", i, 16));
  EXPECT_EQ(i, 255);
  EXPECT_FALSE(text::ParseInt64("99999999999999999999", i));
  EXPECT_FALSE(text::ParseInt64("+-1", i));
}

}  // namespace
