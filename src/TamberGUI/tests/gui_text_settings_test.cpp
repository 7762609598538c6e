// The text element's settings as an element file gives them: ShrinkToFit with its alignment
// shift, padding, line spacing and leading, IgnoreSpaces, Transform, Debug; its cursor, selections
// of unfocused elements, and a drag selection that ends with its press.
#include <gtest/gtest.h>

#include <string>

#include <TamberGUI/GUI/Text.h>

#include "AssertionCapture.h"
#include "GuiPages.h"

using namespace guitest;
using TextElement = TamberGUI::GUI::CText;

namespace {

constexpr const char* kFonts =
    R"(<FontStack Name="Body"><Font Family="Open Sans"/><Font Family="Noto Color Emoji"/></FontStack>)";

struct TextSettingsTest : testing::Test, PageFixture {
  // Text elements of the given XML (inside a page with the font stack), laid out at the scale.
  bool LoadTexts(const std::string& elements, float scale = 1) {
    manager.SetScreen(0, 0, kScreenWidth, kScreenHeight, scale);
    if (!Load(std::string("<Page>") + kFonts + elements + "</Page>")) return false;
    manager.UpdateLayout();
    manager.UpdateClipRect();
    return true;
  }
  TextElement* Text(const std::u16string& name) { return dynamic_cast<TextElement*>(Find(name)); }
  static std::string Element(const std::string& attributes, const std::string& text) {
    return R"(<Text Name="t" FontStack="Body" Size="16" Colour="#ffffff" )" + attributes + R"( Text=")" + text +
           R"("/>)";
  }
};

TEST_F(TextSettingsTest, ShrinkToFitKeepsTheTextWhereItsAlignmentPutIt) {
  const float aligns[] = {0, 0.25f, 0.5f, 1};
  for (const float align : aligns) {
    for (const bool shrink : {false, true}) {
      SCOPED_TRACE(testing::Message() << "align " << align << (shrink ? " shrunk" : ""));
      ASSERT_TRUE(LoadTexts(Element(R"(Left="10" Top="5" Width="150" Padding="3" Align=")" + std::to_string(align) +
                                        R"(" ShrinkToFit=")" + (shrink ? "true" : "false") + R"(")",
                                    "short")));
      TextElement* text = Text(u"t");
      ASSERT_NE(text, nullptr);
      const auto& layout = text->GetLayout();
      const float wrap = 150 - 6, laidOut = layout.GetWidth();
      ASSERT_GT(laidOut, 0);
      ASSERT_LT(laidOut, wrap);
      const float drawnAt = layout.GetSettings().originX + layout.GetLine(0).alignmentOffset;
      if (shrink) {
        EXPECT_FLOAT_EQ(text->m_fWidthPx, laidOut + 6);
        EXPECT_FLOAT_EQ(text->m_fHeightPx, layout.GetHeight() + 6);
        EXPECT_NEAR(text->m_fLeft, 10 + (wrap - laidOut) * align, 1e-3f);
        EXPECT_NEAR(text->m_fLeft + 3, drawnAt, 1e-3f);  // the box moved with the text inside it
        EXPECT_TRUE(std::isinf(text->m_Clip.x2));        // a shrunk box does not clip its text
      } else {
        EXPECT_FLOAT_EQ(text->m_fLeft, 10);
        EXPECT_FLOAT_EQ(text->m_fWidthPx, 150);
        EXPECT_FLOAT_EQ(text->m_Clip.x2, 160);
      }
    }
  }
}

TEST_F(TextSettingsTest, PaddingSurroundsTheTextAtEveryScale) {
  struct Case {
    const char* padding;
    float left, top, right, bottom;
  };
  const Case cases[] = {
      {"", 0, 0, 0, 0},
      {R"(Padding="4")", 4, 4, 4, 4},
      {R"(Padding="4" PaddingLeft="7" PaddingBottom="1")", 7, 4, 4, 1},
      {R"(PaddingTop="2" PaddingRight="5")", 0, 2, 5, 0},
  };
  for (const Case& c : cases) {
    for (const float scale : {1.0f, 2.0f, 0.75f}) {
      SCOPED_TRACE(testing::Message() << c.padding << " at " << scale);
      ASSERT_TRUE(LoadTexts(Element(std::string(R"(Left="10" Top="20" )") + c.padding, "padded"), scale));
      TextElement* text = Text(u"t");
      ASSERT_NE(text, nullptr);
      const auto& layout = text->GetLayout();
      EXPECT_FLOAT_EQ(text->m_fWidthPx, layout.GetWidth() + (c.left + c.right) * scale);
      EXPECT_FLOAT_EQ(text->m_fHeightPx, layout.GetHeight() + (c.top + c.bottom) * scale);
      EXPECT_FLOAT_EQ(layout.GetSettings().originX, text->m_fLeft + c.left * scale);
      EXPECT_FLOAT_EQ(layout.GetSettings().originY, text->m_fTopEdge + c.top * scale);
    }
  }
}

TEST_F(TextSettingsTest, LineSpacingAndLeadingSetTheLineAdvance) {
  const float spacings[] = {1, 1.5f, 0.8f}, leadings[] = {1, 1.25f, 2};
  for (const float spacing : spacings) {
    for (const float leading : leadings) {
      SCOPED_TRACE(testing::Message() << "spacing " << spacing << " leading " << leading);
      ASSERT_TRUE(LoadTexts(Element(R"(Left="0" Top="0" AllowNewLines="true" LineSpacing=")" + std::to_string(spacing) +
                                        R"(" Leading=")" + std::to_string(leading) + R"(")",
                                    "one&#10;two&#10;three")));
      TextElement* text = Text(u"t");
      ASSERT_NE(text, nullptr);
      const auto& layout = text->GetLayout();
      ASSERT_EQ(layout.GetLineCount(), 3u);
      const float height = layout.GetLine(0).lineHeight;
      for (std::size_t l = 0; l < 3; ++l) EXPECT_NEAR(layout.GetLine(l).top, l * spacing * height * leading, 1e-3f);
      // The last line's bottom takes the spacing but not the leading.
      EXPECT_NEAR(text->m_fHeightPx, 2 * spacing * height * leading + spacing * height, 1e-3f);
    }
  }
}

TEST_F(TextSettingsTest, IgnoredSpacesAdvanceNothing) {
  ASSERT_TRUE(LoadTexts(Element(R"(Left="0" Top="0" IgnoreSpaces="true")", "a b  c") +
                        R"(<Text Name="packed" Left="0" Top="30" FontStack="Body" Size="16" Colour="#ffffff"
                                 Text="abc"/>
                          <Text Name="spaced" Left="0" Top="60" FontStack="Body" Size="16" Colour="#ffffff"
                                 Text="a b  c"/>)"));
  const auto& ignoring = Text(u"t")->GetLayout();
  const auto& pieces = ignoring.GetLine(0).pieces;
  ASSERT_EQ(pieces.size(), 6u);
  for (const std::size_t space : {1u, 3u, 4u}) EXPECT_EQ(pieces[space].width, 0.0f);
  // Without the spaces' advances, the letters stand as in "abc" (kerning aside).
  EXPECT_NEAR(ignoring.GetWidth(), Text(u"packed")->GetLayout().GetWidth(), 1.0f);
  EXPECT_GT(Text(u"spaced")->GetLayout().GetWidth(), ignoring.GetWidth() + 3);
}

TEST_F(TextSettingsTest, TransformsChangeOnlyLatinLetters) {
  enginetest::AssertionCapture capture;
  struct Case {
    const char* transform;
    const char* as;  // the text laid out without a transform that must give the same glyphs
    bool asserts;
  };
  const Case cases[] = {{"Uppercase", "ABC XYZ 1\xC3\xA4!", false},
                        {"Lowercase", "abc xyz 1\xC3\xA4!", false},
                        {"None", "abC xYz 1\xC3\xA4!", false},
                        {"Shout", "abC xYz 1\xC3\xA4!", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transform);
    capture.Clear();
    ASSERT_TRUE(
        LoadTexts(Element(std::string(R"(Left="0" Top="0" Transform=")") + c.transform + R"(")", "abC xYz 1\xC3\xA4!") +
                  R"(<Text Name="plain" Left="0" Top="30" FontStack="Body" Size="16" Colour="#ffffff" Text=")" + c.as +
                  R"("/>)"));
    EXPECT_EQ(capture.Count() != 0, c.asserts);
    const auto& transformed = Text(u"t")->GetLayout().GetLine(0).pieces;
    const auto& plain = Text(u"plain")->GetLayout().GetLine(0).pieces;
    ASSERT_EQ(transformed.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
      ASSERT_EQ(transformed[i].glyphs.size(), plain[i].glyphs.size()) << i;
      if (plain[i].glyphs.empty()) continue;
      EXPECT_EQ(transformed[i].glyphs[0].glyph, plain[i].glyphs[0].glyph) << i;
    }
    EXPECT_EQ(Text(u"t")->GetTextUTF16(), u"abC xYz 1\u00E4!");  // the text itself keeps its case
  }
}

TEST_F(TextSettingsTest, DebugLaysJoinersAndSelectorsOutOnTheirOwn) {
  struct Case {
    const char* text;
    bool debug;
    std::size_t pieces;
  };
  // U+2764 U+FE0F (heart, emoji presentation); U+1F469 U+200D U+1F4BB (a joined pair).
  const Case cases[] = {
      {"a\xE2\x9D\xA4\xEF\xB8\x8F"
       "b",
       false, 3},
      {"a\xE2\x9D\xA4\xEF\xB8\x8F"
       "b",
       true, 4},
      {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", false, 2},
      {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (&c - cases));
    ASSERT_TRUE(
        LoadTexts(Element(std::string(R"(Left="0" Top="0" Debug=")") + (c.debug ? "true" : "false") + R"(")", c.text)));
    const auto& layout = Text(u"t")->GetLayout();
    ASSERT_EQ(layout.GetLineCount(), 1u);
    EXPECT_EQ(layout.GetLine(0).pieces.size(), c.pieces);
  }
}

TEST_F(TextSettingsTest, TheCursorShowsWhatThePointerIsOver) {
  ASSERT_TRUE(LoadTexts(Element(R"(Left="0" Top="0" Width="190" Selectable="true")", "select some words")));
  TextElement* text = Text(u"t");
  ASSERT_NE(text, nullptr);
  text->Select(7, 11);  // "some"
  const auto& line = text->GetLayout().GetLine(0);
  const float y = line.top + line.lineHeight / 2;
  struct Case {
    float x;
    std::uint32_t cursor;
  };
  const Case cases[] = {
      {line.pieces[2].x + 1, SDL_SYSTEM_CURSOR_IBEAM},  // over text
      {line.pieces[8].x + 1, SDL_SYSTEM_CURSOR_ARROW},  // over the selection, which drags
      {line.penX + 10, SDL_SYSTEM_CURSOR_ARROW},        // past the text: the parent's cursor
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    Mouse(SDL_MOUSEMOTION, static_cast<int>(c.x), static_cast<int>(y));
    std::uint32_t cursor = 99;
    EXPECT_TRUE(text->GetCursor(&cursor));
    EXPECT_EQ(cursor, c.cursor);
  }
}

TEST_F(TextSettingsTest, UnfocusedSelectionsShowWhenAsked) {
  ASSERT_TRUE(LoadTexts(Element(R"(Left="0" Top="0" Selectable="true" UnfocusedHideSelection="false"
                                   UnfocusedSelectionHighlightColour="#ff102030" UnfocusedSelectionColour="#ff405060")",
                                "shown") +
                        R"(<Text Name="hidden" Left="0" Top="30" FontStack="Body" Size="16" Colour="#ffffff"
                                 Selectable="true" Text="hidden"/>
                          <HtmlView Name="other" Left="150" Top="0" Width="10" Height="10" Focusable="true"/>)"));
  FindProbe(u"other")->Focus();
  struct Case {
    const char16_t* name;
    bool highlighted;
    std::uint32_t selected;  // the colour of the selected glyphs
  };
  const Case cases[] = {{u"t", true, 0xFF405060u}, {u"hidden", false, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    TextElement* text = Text(c.name);
    ASSERT_NE(text, nullptr);
    text->Select(0, 2);
    RecordingI2D renderer;
    text->Render(&renderer);
    ASSERT_FALSE(renderer.draws.empty());
    const bool highlight =
        renderer.draws[0].material == nullptr && std::uint32_t(renderer.draws[0].colour) == 0xFF102030u;
    EXPECT_EQ(highlight, c.highlighted);
    const std::size_t first = c.highlighted ? 1 : 0;
    ASSERT_GT(renderer.draws.size(), first + 2);
    EXPECT_EQ(std::uint32_t(renderer.draws[first].colour), c.selected);
    EXPECT_EQ(std::uint32_t(renderer.draws[first + 2].colour), 0xFFFFFFFFu);  // past the selection
    for (std::size_t i = first; i < renderer.draws.size(); ++i) EXPECT_NE(renderer.draws[i].material, nullptr);
  }
}

// A press elsewhere before the release ends a drag selection: moving over the text later selects
// nothing more.
TEST_F(TextSettingsTest, ADragSelectionEndsWithItsPress) {
  ASSERT_TRUE(LoadTexts(Element(R"(Left="0" Top="0" Selectable="true")", "drag across these words") +
                        R"(<HtmlView Name="other" Left="0" Top="60" Width="20" Height="20"/>)"));
  TextElement* text = Text(u"t");
  ASSERT_NE(text, nullptr);
  const auto& line = text->GetLayout().GetLine(0);
  const int y = static_cast<int>(line.top + line.lineHeight / 2);
  Mouse(SDL_MOUSEBUTTONDOWN, 1, y);
  Mouse(SDL_MOUSEMOTION, static_cast<int>(line.pieces[4].x + 1), y);
  const std::uint32_t last = text->GetSelectionLast();
  ASSERT_GT(last, 0u);
  Mouse(SDL_MOUSEBUTTONDOWN, 5, 65);
  Mouse(SDL_MOUSEBUTTONUP, 5, 65);
  EXPECT_EQ(FindProbe(u"other")->clicks, 1);
  Mouse(SDL_MOUSEMOTION, static_cast<int>(line.pieces[15].x + 1), y);
  EXPECT_EQ(text->GetSelectionFirst(), 0u);
  EXPECT_EQ(text->GetSelectionLast(), last);
}

}  // namespace
