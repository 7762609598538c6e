// Text layout over Open Sans (with the emoji font as fallback): lines, wraps, tabs, colour codes,
// carets and drawing.
#include <TamberGUI/Text.h>
#include <gtest/gtest.h>

#include "AssertionCapture.h"
#include "GuiFixtures.h"

using namespace TamberGUI;

namespace {

constexpr std::uint32_t kSize = 23 * 64;

struct Layout : testing::Test {
  guitest::FontFiles files;
  CFonts fonts{guitest::NewLibrary()};
  std::unique_ptr<CFontStack> stack;
  CText text;
  Layout() {
    files.Fill(&fonts);
    stack = std::make_unique<CFontStack>(fonts.GetFont(u"Open Sans", u"Regular")->GetSize(kSize),
                                         std::vector{fonts.GetFont(u"Noto Color Emoji", u"Regular")->GetSize(kSize)});
  }
  float Advance(char32_t c) { return stack->GetGlyph(c)->GetHorizontalAdvance(); }
  void Lay(const char32_t* s) { text.Update(s, stack.get()); }
};

}  // namespace

TEST_F(Layout, PiecesFollowAdvancesAndKerning) {
  Lay(U"AVA");
  ASSERT_EQ(text.GetLineCount(), 1u);
  const auto& pieces = text.GetLine(0).pieces;
  ASSERT_EQ(pieces.size(), 3u);
  CFontSize* size = stack->GetPrimary();
  const float kern = size->GetKerning(stack->GetGlyph('A')->GetIndex(), stack->GetGlyph('V')->GetIndex());
  EXPECT_FLOAT_EQ(kern, -1.0f);
  EXPECT_FLOAT_EQ(pieces[1].x, Advance('A') + kern);
  EXPECT_FLOAT_EQ(text.GetWidth(), pieces[2].x + Advance('A'));
}

TEST_F(Layout, NewLinesAndTrailingBlankLines) {
  Lay(U"ab\n");
  EXPECT_EQ(text.GetLineCount(), 2u);
  EXPECT_EQ(text.GetVisibleLineCount(), 1u);
  const float one = text.GetHeight();
  text.GetSettings().includeTrailingBlankLines = 1;
  Lay(U"ab\n");
  EXPECT_EQ(text.GetVisibleLineCount(), 2u);
  EXPECT_FLOAT_EQ(text.GetHeight(), 2 * one);
}

TEST_F(Layout, TabsAdvanceToTheNextStop) {
  const float tab = stack->GetTabWidth();
  float advance;
  std::uint32_t units;
  text.GetGlyph(U"\t", stack.get(), 10.0f, &advance, &units);
  EXPECT_FLOAT_EQ(advance, tab - 10.0f);
  text.GetGlyph(U"\t", stack.get(), tab + 3.0f, &advance, &units);
  EXPECT_FLOAT_EQ(advance, tab - 3.0f);
}

TEST_F(Layout, TabsWithoutTabStopsAdvanceNothing) {
  // A one-strike font whose only glyph (also glyph 0, standing in for the space) has no advance.
  const char bdf[] =
      "STARTFONT 2.1\nFONT -test-Flat-Medium-R-Normal--8-80-75-75-C-40-ISO10646-1\nSIZE 8 75 75\n"
      "FONTBOUNDINGBOX 4 2 0 0\nSTARTPROPERTIES 3\nFAMILY_NAME \"Flat\"\nFONT_ASCENT 6\nFONT_DESCENT 2\n"
      "ENDPROPERTIES\nCHARS 1\nSTARTCHAR A\nENCODING 65\nSWIDTH 0 0\nDWIDTH 0 0\nBBX 4 2 0 0\nBITMAP\nF0\n90\n"
      "ENDCHAR\nENDFONT\n";
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(bdf, sizeof(bdf) - 1));
  ASSERT_TRUE(fonts.AddFont(stream));
  CFontStack flat(fonts.GetFont(u"Flat", u"Regular")->GetSize(kSize));
  EXPECT_EQ(flat.GetTabWidth(), 0.0f);
  float advance = -1;
  std::uint32_t units;
  text.GetGlyph(U"\t", &flat, 5.0f, &advance, &units);
  EXPECT_EQ(advance, 0.0f);
  text.Update(U"a\t\tb", &flat);
  EXPECT_EQ(text.GetWidth(), 0.0f);
}

TEST_F(Layout, ColourCodeReaderStopsAtTheTerminator) {
  text.GetSettings().colourCodes = 1;
  // Exactly sized on the heap: reading past the terminator is caught.
  for (std::size_t digits = 0; digits < 8; ++digits) {
    SCOPED_TRACE(digits);
    std::unique_ptr<char32_t[]> cut(new char32_t[digits + 2]);
    cut[0] = 1;
    for (std::size_t i = 0; i < digits; ++i) cut[i + 1] = U'f';
    cut[digits + 1] = 0;
    eColourInstruction instruction;
    Vexil3D::CARGB colour;
    EXPECT_EQ(text.GetColourCodeLength(cut.get(), &instruction, &colour), 0u);
    Lay(cut.get());
    EXPECT_EQ(text.GetLine(0).pieces.size(), digits + 1);
  }
}

TEST_F(Layout, ColourCodesSetAndRestoreOneLevel) {
  text.GetSettings().colourCodes = 1;
  text.GetSettings().textColour = 0xFF112233u;
  Lay(U"\x01" U"ff00ff00abc\x02" U"d\x01" U"12\x01");
  const auto& pieces = text.GetLine(0).pieces;
  ASSERT_EQ(pieces.size(), 1u + 3 + 1 + 1 + 3 + 1);
  EXPECT_EQ(pieces[0].colourCode, 1);
  EXPECT_EQ(pieces[0].end, 9u);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(pieces[i].colour.argb, 0xFF00FF00u);
  EXPECT_EQ(pieces[5].colour.argb, 0xFF112233u);
  EXPECT_EQ(pieces[6].colourCode, 0);  // cut code: ordinary characters
  text.GetSettings().rawCodes = 1;
  Lay(U"\x01" U"ff00ff00a");
  EXPECT_EQ(text.GetLine(0).pieces[1].colour.argb, 0xFF112233u);
}

TEST_F(Layout, WrappingCases) {
  struct Case {
    const char32_t* text;
    float wrapInAdvancesOfM;
    std::uint8_t wordWrap, charWrap, trailing;
    std::size_t lines;
  } cases[] = {
      {U"aa bb", 2.0f, 1, 1, 0, 2},       // the second word moves down
      {U"mmmmmmmm", 3.0f, 1, 0, 0, 1},    // one long word stays on its line without character wrapping
      {U"mmmmmmmm", 3.0f, 1, 1, 0, 3},    // and breaks with it
      {U"mm          ", 3.0f, 1, 1, 0, 1},  // trailing spaces never wrap
      {U"mm          ", 3.0f, 1, 1, 1, 2},  // counted spaces wrap
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u32string(c.text)));
    auto& s = text.GetSettings();
    s.wrapWidth = c.wrapInAdvancesOfM * Advance('m');
    s.wordWrap = c.wordWrap;
    s.characterWrap = c.charWrap;
    s.includeTrailingWhitespace = c.trailing;
    Lay(c.text);
    EXPECT_EQ(text.GetLineCount(), c.lines);
  }
}

TEST_F(Layout, CentredLinesShareTheirRoom) {
  text.GetSettings().wrapWidth = 200;
  text.GetSettings().alignment = 0.5f;
  Lay(U"ab  ");
  const auto& line = text.GetLine(0);
  EXPECT_FLOAT_EQ(line.alignmentOffset, (200 - (Advance('a') + Advance('b'))) / 2);
}

TEST_F(Layout, EmojiComesFromTheFallback) {
  Lay(U"a\U0001F600\uFE0F");
  const auto& pieces = text.GetLine(0).pieces;
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[1].end - pieces[1].start, 2u);  // the selector joins its character
  ASSERT_EQ(pieces[1].glyphs.size(), 1u);
  EXPECT_EQ(pieces[1].glyphs[0].glyph->GetFontSize()->GetFace()->num_fixed_sizes, 1);
}

TEST_F(Layout, CaretAndIndexRoundTripsEverywhere) {
  auto& s = text.GetSettings();
  s.colourCodes = 1;
  s.wrapWidth = 120;
  s.alignment = 0.5f;
  const std::u32string source = U"one\ttwo \x01" U"ff00ff00three\x02 four\nfive\U0001F600 six-seven eight";
  Lay(source.c_str());
  ASSERT_GT(text.GetLineCount(), 2u);
  for (std::size_t l = 0; l < text.GetLineCount(); ++l) {
    const auto& line = text.GetLine(l);
    for (std::size_t i = 0; i < line.pieces.size(); ++i) {
      const auto& piece = line.pieces[i];
      SCOPED_TRACE(testing::Message() << "line " << l << " piece " << i);
      for (std::uint8_t after = 0; after < 2; ++after) {
        CText::tCaretPosition caret{&line, 1, static_cast<std::uint32_t>(i), after};
        const CText::tCharacterIndex index = text.CaretToCharacterIndex(caret);
        CText::tCaretPosition found;
        ASSERT_TRUE(text.FindCharacter(index, &found));
        EXPECT_EQ(text.CaretToIndex(found), text.CaretToIndex(caret));
        EXPECT_FLOAT_EQ(text.GetCaretX(found), text.GetCaretX(caret));
      }
      if (piece.width <= 1) continue;
      // A point a quarter into the piece lands before it, three quarters in after it.
      const float x = line.startX + line.alignmentOffset + piece.x;
      CText::tCaretPosition hit;
      ASSERT_TRUE(text.GetCaretPosition(x + piece.width / 4, line.top + 1, false, &hit));
      EXPECT_EQ(text.CaretToIndex(hit), piece.start);
      ASSERT_TRUE(text.GetCaretPosition(x + piece.width * 3 / 4, line.top + 1, true, &hit));
      EXPECT_EQ(text.CaretToIndex(hit), piece.end);
    }
  }
  CText::tCaretPosition caret;
  EXPECT_FALSE(text.GetCaretPosition(-1000, 0, true, &caret));
  ASSERT_TRUE(text.GetCaretPosition(1e6f, 1e6f, false, &caret));
  EXPECT_EQ(text.CaretToIndex(caret), source.size());
}

TEST_F(Layout, RenderingDrawsInkShadowsAndSelection) {
  guitest::RecordingI2D renderer;
  auto& s = text.GetSettings();
  s.originX = 100;
  s.originY = 50;
  s.selectionColour = 0xFF0000FFu;
  s.textColour = 0x80FFFFFFu;
  Lay(U"ab c");
  text.AddShadow(1, 1, 0xFF000000u);
  *text.GetSelection(true) = {1, 0, 2, 0};  // selects "b"
  text.RenderCharacters(&renderer, false, true, false, 0, {});
  ASSERT_EQ(renderer.draws.size(), 6u);  // three inked glyphs, each shadowed
  EXPECT_EQ(renderer.draws[0].colour.argb, 0x80000000u);  // shadow: forced colour, piece alpha
  EXPECT_EQ(renderer.draws[3].colour.argb, 0x80FFFFFFu);
  EXPECT_EQ(renderer.draws[4].colour.argb, 0xFF0000FFu);
  EXPECT_FLOAT_EQ(renderer.draws[1].x - renderer.draws[4].x, 1.0f);  // shadow one pixel off its glyph
  EXPECT_GE(renderer.draws[3].x, 100.0f);
  renderer.draws.clear();
  text.ClearShadows();
  text.RenderCharacters(&renderer, false, false, false, 0, {});
  EXPECT_EQ(renderer.draws.size(), 2u);  // the selected glyph is left out
  renderer.draws.clear();
  text.GetSettings().clipX2 = 100 + Advance('a') / 2;
  text.RenderCharacters(&renderer, true, false, false, 0, {});
  ASSERT_EQ(renderer.draws.size(), 1u);
  EXPECT_LT(renderer.draws[0].uExtent, 1.0f);
}

TEST_F(Layout, MissingUpdateOrFontsAnswerNothing) {
  enginetest::AssertionCapture capture;
  guitest::RecordingI2D renderer;
  CText::tCaretPosition caret;
  EXPECT_FALSE(text.GetCaretPosition(0, 0, false, &caret));
  text.RenderCharacters(&renderer, false, false, false, 0, {});
  EXPECT_TRUE(capture.LastNames(u"m_bUpdated"));
  text.Update(U"abc", nullptr);
  EXPECT_EQ(text.GetLineCount(), 0u);
  CFont* missing = fonts.GetFont(u"Open Sans", u"Bold");  // not installed: a stack without a primary
  CFontStack empty(missing ? missing->GetSize(kSize) : nullptr);
  EXPECT_EQ(empty.GetGlyph(U'a'), nullptr);
  text.Update(U"abc", &empty);
  EXPECT_EQ(text.GetLineCount(), 0u);
  text.RenderCharacters(&renderer, false, false, false, 0, {});
  EXPECT_TRUE(renderer.draws.empty());
}
