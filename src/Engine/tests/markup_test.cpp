// Colour markup of chat text: "[#" and six hexadecimal digits convert, what follows is copied, and the next
// "]" after a tag is dropped; everything else passes unchanged.
#include <engine/OS.h>

#include <platform/text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

struct MarkupCase {
  const char16_t* input;
  const char16_t* output;
};

class ColourMarkupTest : public ::testing::TestWithParam<MarkupCase> {};

std::u16string Convert(std::u16string_view input) {
  std::uint32_t length = 12345;
  std::unique_ptr<char16_t[]> out(
      Vexil3D::ConvertColourMarkup(input.data(), static_cast<std::uint32_t>(input.size()), &length));
  EXPECT_NE(out, nullptr);
  if (out == nullptr) return u"<null>";
  EXPECT_EQ(out[length], u'\0');
  return std::u16string(out.get(), length);
}

TEST_P(ColourMarkupTest, Converts) {
  const MarkupCase& c = GetParam();
  EXPECT_EQ(Convert(c.input), c.output) << text::Utf16ToUtf8(c.input);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ColourMarkupTest,
    ::testing::Values(
        // A left bracket, a hash sign, FF8000, a right bracket and two letters.
        MarkupCase{u"[#FF8000]ab", u"\u0001ffFF8000ab"},
        MarkupCase{u"x[#00ff00]y[#0000FF]z", u"x\u0001ff00ff00y\u0001ff0000FFz"},
        MarkupCase{u"[#FF8000]", u"\u0001ffFF8000"}, MarkupCase{u"[#[#123456]", u"[#\u0001ff123456"},
        MarkupCase{u"", u""}, MarkupCase{u"plain text", u"plain text"},
        // What follows the six digits is copied up to the next "]", which goes.
        MarkupCase{u"[#FF8000ab]cd", u"\u0001ffFF8000abcd"}, MarkupCase{u"[#FF80001]", u"\u0001ffFF80001"},
        MarkupCase{u"[#FF8000 ]", u"\u0001ffFF8000 "}, MarkupCase{u"[#FF8000ab", u"\u0001ffFF8000ab"},
        MarkupCase{u"[#FF8000", u"\u0001ffFF8000"}, MarkupCase{u"[#ABCDEF]]", u"\u0001ffABCDEF]"},
        MarkupCase{u"[#ABCDEF[x]y]", u"\u0001ffABCDEF[xy]"},
        // Tags before one "]" share it; a "]" before any tag, or after the dropped one, stays.
        MarkupCase{u"[#111111a[#222222]b]", u"\u0001ff111111a\u0001ff222222b]"},
        MarkupCase{u"a]b[#c0ffee]", u"a]b\u0001ffc0ffee"},
        // Not "[#" and six hexadecimal digits: unchanged, and no "]" is dropped.
        MarkupCase{u"[#FF80]ab", u"[#FF80]ab"}, MarkupCase{u"[#GG8000]", u"[#GG8000]"},
        MarkupCase{u"[# F8000]", u"[# F8000]"}, MarkupCase{u"[#-F8000]", u"[#-F8000]"},
        MarkupCase{u"[FF8000]", u"[FF8000]"}, MarkupCase{u"[#", u"[#"}, MarkupCase{u"[", u"["},
        MarkupCase{u"[#FF800", u"[#FF800"}, MarkupCase{u"a]b[#c", u"a]b[#c"}, MarkupCase{u"#FF8000]", u"#FF8000]"},
        MarkupCase{u"\U0001F600[#abcdef]", u"\U0001F600\u0001ffabcdef"}));

// Cut at every offset, the tag converts once its six digits are in, and its "]" goes once it is in too.
TEST(ColourMarkup, HonoursTheGivenLength) {
  const std::u16string text = u"a[#112233]tail";
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::u16string_view given = std::u16string_view(text).substr(0, cut);
    constexpr std::size_t kDigitsIn = 9, kBracketIn = 10;
    const std::u16string expected =
        cut < kDigitsIn ? std::u16string(given)
                        : u"a\u0001ff112233" + (cut > kBracketIn ? text.substr(kBracketIn, cut - kBracketIn) : u"");
    EXPECT_EQ(Convert(given), expected);
  }
}

TEST(ColourMarkup, NetworkSizedInputFitsItsBuffer) {
  // Every shape of partial tag repeated many times; the sanitizers check the writes.
  std::u16string hostile;
  for (int i = 0; i < 2000; ++i) hostile += u"[#ABCDEF[#12]]#[[#";
  const std::u16string out = Convert(hostile);
  EXPECT_EQ(out.size(), hostile.size());
  std::u16string tags;
  for (int i = 0; i < 5000; ++i) tags += u"[#A1B2C3]";
  EXPECT_EQ(Convert(tags).size(), tags.size());
  // Tags that no "]" closes grow the text by a unit each.
  std::u16string open;
  for (int i = 0; i < 5000; ++i) open += u"[#A1B2C3";
  EXPECT_EQ(Convert(open).size(), open.size() / 8 * 9);
}

TEST(ColourMarkup, NullTextGivesNull) {
  std::uint32_t length = 0;
  EXPECT_EQ(Vexil3D::ConvertColourMarkup(nullptr, 0, &length), nullptr);
}

}  // namespace
