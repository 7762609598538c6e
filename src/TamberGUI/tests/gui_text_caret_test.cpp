// The text element's caret across lines: Up and Down over every size, spacing, leading and
// fallback font, and the end of soft-wrapped and hard lines kept apart from the next line's start
// (End, Home, Up, Down, the mouse and selection by keys).
#include <gtest/gtest.h>

#include <string>

#include <TamberGUI/GUI/Text.h>

#include "GuiPages.h"

using namespace guitest;
using TextElement = TamberGUI::GUI::CText;

namespace {

constexpr const char* kFonts =
    R"(<FontStack Name="Body"><Font Family="Open Sans"/><Font Family="Noto Color Emoji"/></FontStack>)";

struct CaretTest : testing::Test, PageFixture {
  // An editable, focused text element with the attributes and text given, laid out.
  TextElement* Make(const std::string& attributes, const char16_t* text) {
    const std::string page = std::string("<Page>") + kFonts +
                             R"(<Text Name="t" Left="0" Top="0" FontStack="Body" Colour="#ffffff" Editable="true" )" +
                             attributes + "/></Page>";
    if (!Load(page)) return nullptr;
    auto* element = dynamic_cast<TextElement*>(Find(u"t"));
    if (element == nullptr) return nullptr;
    element->Focus();
    element->SetText(text);
    manager.UpdateLayout();
    return element;
  }
  // A click at a point of the layout (relative to the element's text origin).
  void ClickAt(TextElement* element, float x, float y) {
    const auto& settings = element->GetLayout().GetSettings();
    Click(static_cast<int>(settings.originX + x), static_cast<int>(settings.originY + y));
  }
};

TEST_F(CaretTest, UpAndDownReachEveryLineAndComeBack) {
  const char* const sizes[] = {"9", "11", "13.5", "16", "17.3", "23"};
  const char* const spacings[] = {"1", "1.15", "1.3", "0.85"};
  const char* const leadings[] = {"1", "1.1", "1.37"};
  const char16_t* const texts[] = {
      u"alpha\nbeta\ngamma\ndelta\nepsilon",
      u"\U0001F600\U0001F601\n\U0001F602 x\n\U0001F603\U0001F604\nend",
      u"a\U0001F600b\n\nmixed line\n\U0001F600\n",
  };
  for (const char* size : sizes) {
    for (const char* spacing : spacings) {
      for (const char* leading : leadings) {
        for (const char16_t* text : texts) {
          SCOPED_TRACE(testing::Message() << "size " << size << " spacing " << spacing << " leading " << leading
                                          << " text " << (&text - texts));
          TextElement* element = Make(std::string("AllowNewLines=\"true\" Size=\"") + size + "\" LineSpacing=\"" +
                                          spacing + "\" Leading=\"" + leading + "\"",
                                      text);
          ASSERT_NE(element, nullptr);
          const std::size_t lines = element->GetLayout().GetLineCount();
          ASSERT_GE(lines, 4u);
          Key(SDLK_RIGHT);  // a caret inside the first line, away from its left edge
          const std::uint32_t start = element->GetCaret();
          for (std::size_t line = 1; line < lines; ++line) {
            Key(SDLK_DOWN);
            ASSERT_EQ(element->GetCaretLine(), line);
          }
          Key(SDLK_DOWN);  // nothing below the last line
          EXPECT_EQ(element->GetCaretLine(), lines - 1);
          for (std::size_t line = lines - 1; line-- > 0;) {
            Key(SDLK_UP);
            ASSERT_EQ(element->GetCaretLine(), line);
          }
          EXPECT_EQ(element->GetCaret(), start);  // the desired x survived every line on the way
        }
      }
    }
  }
}

TEST_F(CaretTest, TheEndOfAWrappedLineStaysOnIt) {
  const char* const widths[] = {"90", "120", "163"};
  const char* const sizes[] = {"13", "17.5", "20"};
  const char16_t* const text = u"the quick brown fox jumps over the lazy dog and keeps on running far away";
  for (const char* width : widths) {
    for (const char* size : sizes) {
      SCOPED_TRACE(testing::Message() << "width " << width << " size " << size);
      // The right padding leaves room to click past a line's trailing space inside the element.
      TextElement* element =
          Make(std::string("Width=\"") + width + "\" PaddingRight=\"20\" Size=\"" + size + "\"", text);
      ASSERT_NE(element, nullptr);
      const auto& layout = element->GetLayout();
      const std::size_t lines = layout.GetLineCount();
      ASSERT_GE(lines, 3u);
      for (std::size_t l = 0; l < lines; ++l) {
        SCOPED_TRACE(testing::Message() << "line " << l);
        const auto& line = layout.GetLine(l);
        ASSERT_FALSE(line.pieces.empty());
        const std::uint32_t home = line.pieces.front().start, end = line.pieces.back().end;
        const float middle = line.top + line.lineHeight / 2;

        ClickAt(element, 1, middle);
        EXPECT_EQ(element->GetCaretLine(), l);
        Key(SDLK_END);
        EXPECT_EQ(element->GetCaretLine(), l);
        EXPECT_EQ(element->GetCaret(), end);
        Key(SDLK_END);  // a second End stays
        EXPECT_EQ(element->GetCaretLine(), l);
        EXPECT_EQ(element->GetCaret(), end);

        Key(SDLK_HOME, KMOD_SHIFT);  // the whole line selected from its end
        EXPECT_EQ(element->GetSelectionFirst(), home);
        EXPECT_EQ(element->GetSelectionLast(), end);
        EXPECT_EQ(element->GetCaretLine(), l);
        Key(SDLK_END, KMOD_SHIFT);  // and back to nothing at the end, still here
        EXPECT_EQ(element->GetSelectionFirst(), end);
        EXPECT_EQ(element->GetSelectionLast(), end);
        EXPECT_EQ(element->GetCaretLine(), l);
        Key(SDLK_HOME);
        EXPECT_EQ(element->GetCaret(), home);
        EXPECT_EQ(element->GetCaretLine(), l);

        ASSERT_LT(line.penX + 2, element->m_fWidthPx - 2);
        ClickAt(element, element->m_fWidthPx - 2, middle);  // past the line's end
        EXPECT_EQ(element->GetCaretLine(), l);
        EXPECT_EQ(element->GetCaret(), end);
        if (l + 1 < lines) {
          Key(SDLK_DOWN);
          EXPECT_EQ(element->GetCaretLine(), l + 1);
          Key(SDLK_UP);
          EXPECT_EQ(element->GetCaretLine(), l);
          EXPECT_EQ(element->GetCaret(), end);
        }
      }
    }
  }
}

TEST_F(CaretTest, HardLineEndsKeepTheCaretBeforeTheLineFeed) {
  TextElement* element = Make(R"(AllowNewLines="true" Width="190" Size="16")", u"first\nsecond line\n\nlast");
  ASSERT_NE(element, nullptr);
  const auto& layout = element->GetLayout();
  ASSERT_EQ(layout.GetLineCount(), 4u);
  const std::uint32_t feeds[] = {5, 17, 18};  // the line feed closing each of the first three lines
  for (std::uint32_t l = 0; l < 3; ++l) {
    SCOPED_TRACE(l);
    const auto& line = layout.GetLine(l);
    const float middle = line.top + line.lineHeight / 2;
    ClickAt(element, 180, middle);  // past the line feed
    EXPECT_EQ(element->GetCaretLine(), l);
    EXPECT_EQ(element->GetCaret(), feeds[l]);
    Key(SDLK_HOME);
    Key(SDLK_END);
    EXPECT_EQ(element->GetCaretLine(), l);
    EXPECT_EQ(element->GetCaret(), feeds[l]);
  }
  Type("!");  // typed at the end of the blank line, before its line feed
  EXPECT_EQ(element->GetTextUTF16(), u"first\nsecond line\n!\nlast");
}

}  // namespace
