// Colour markup of chat text: only "[#RRGGBB]" converts; everything else passes unchanged.
#include <engine/OS.h>

#include <platform/text.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct MarkupCase { const char16_t* input; const char16_t* output; };

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
    ::testing::Values(MarkupCase{u"[#FF8000]ab", u"\x0001" u"ffFF8000ab"},
                      MarkupCase{u"x[#00ff00]y[#0000FF]z", u"x\x0001" u"ff00ff00y\x0001" u"ff0000FFz"},
                      MarkupCase{u"[#FF8000]", u"\x0001" u"ffFF8000"},
                      MarkupCase{u"[#[#123456]", u"[#\x0001" u"ff123456"},
                      MarkupCase{u"", u""},
                      MarkupCase{u"plain text", u"plain text"},
                      // Not exactly six hex digits and a closing bracket: unchanged.
                      MarkupCase{u"[#FF80]ab", u"[#FF80]ab"}, MarkupCase{u"[#FF8000ab", u"[#FF8000ab"},
                      MarkupCase{u"[#FF8000 ]", u"[#FF8000 ]"}, MarkupCase{u"[#FF80001]", u"[#FF80001]"},
                      MarkupCase{u"[#GG8000]", u"[#GG8000]"}, MarkupCase{u"[# F8000]", u"[# F8000]"},
                      MarkupCase{u"[#-F8000]", u"[#-F8000]"}, MarkupCase{u"[FF8000]", u"[FF8000]"},
                      MarkupCase{u"[#", u"[#"}, MarkupCase{u"[", u"["}, MarkupCase{u"[#FF800", u"[#FF800"},
                      MarkupCase{u"a]b[#c", u"a]b[#c"},
                      MarkupCase{u"\U0001F600[#abcdef]", u"\U0001F600\x0001" u"ffabcdef"}));

TEST(ColourMarkup, HonoursTheGivenLength) {
  const std::u16string text = u"[#112233]tail";
  // Cut inside the tag: the tag is incomplete and stays as it is.
  EXPECT_EQ(Convert(std::u16string_view(text).substr(0, 8)), u"[#112233");
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
}

TEST(ColourMarkup, NullTextGivesNull) {
  std::uint32_t length = 0;
  EXPECT_EQ(Vexil3D::ConvertColourMarkup(nullptr, 0, &length), nullptr);
}

}  // namespace
