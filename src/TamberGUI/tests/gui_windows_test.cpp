// The chat window (slots, kinds, markup, printf bounds, the wrap split, drawing, missing fonts) and
// the command window (visibility and focus, history, submission through a real command table,
// a command that removes the console).
#include <gtest/gtest.h>

#include <map>

#include <TamberGUI/Windows/ChatWindow.h>
#include <TamberGUI/Windows/CmdWindow.h>

#include "AssertionCapture.h"
#include "GuiPages.h"

using namespace guitest;

namespace {

struct ChatTest : testing::Test {
  FontFiles files;
  TamberGUI::CFonts fonts{NewLibrary()};
  ChatTest() { files.Fill(&fonts); }
};

TEST_F(ChatTest, SevenSlotsNewestAtTheBottom) {
  Vexil3D::CChatWindow chat(nullptr, &fonts, 1);
  for (int i = 0; i < 8; ++i) chat.Printf(u"line %d", i);
  for (std::uint32_t slot = 0; slot < Vexil3D::CChatWindow::kLines; ++slot) {
    EXPECT_EQ(chat.GetLine(slot).text, u"line " + std::u16string(1, char16_t(u'1' + slot)));
    EXPECT_EQ(chat.GetLine(slot).kind, Vexil3D::CChatWindow::LINE_STATUS);
  }
  const std::pair<int, std::uint32_t> levels[] = {{Vexil3D::LOG_NONE, 1},    {Vexil3D::LOG_INFO, 1},
                                                  {Vexil3D::LOG_WARN, 2},    {Vexil3D::LOG_ERROR, 3},
                                                  {Vexil3D::LOG_VERBOSE, 3}, {42, 3}};
  for (const auto& [level, kind] : levels) {
    chat.Log(level, u"x");
    EXPECT_EQ(chat.GetLine(6).kind, kind) << level;
  }
  EXPECT_EQ(std::uint32_t(chat.GetKindColour(2)), 0xFF00FFFFu);
  EXPECT_EQ(std::uint32_t(chat.GetKindColour(3)), 0xFF04A36Bu);
  EXPECT_EQ(std::uint32_t(chat.GetKindColour(0xFF123456u)), 0xFF123456u);
  chat.AddLine(u"a[#ff0000]b", 1);
  EXPECT_EQ(chat.GetLine(6).text,
            u"a\x01"
            u"ffff0000b");
}

TEST_F(ChatTest, PrintfAndWrapBounds) {
  Vexil3D::CChatWindow chat(nullptr, &fonts, 1);
  const std::u16string huge(2000, u'x');
  chat.PrintfError(u"%s%s", huge.c_str(), huge.c_str());
  EXPECT_EQ(chat.GetLine(6).text.size(), Vexil3D::CChatWindow::kFormatCapacity - 1);
  const std::u16string long600(600, u'y');
  chat.AddLine(long600.c_str(), 1);
  EXPECT_EQ(chat.GetLine(6).text, long600);  // stored whole while the wrap flag is off

  chat.SetWrap(true);
  struct Case {
    std::u16string text;
    std::u16string first, rest;
  };
  const std::u16string sixty(60, u'a'), seventy(70, u'b');
  const Case cases[] = {
      {sixty + u" " + std::u16string(20, u'c'), sixty, std::u16string(20, u'c')},  // space 4 before the column
      {std::u16string(50, u'a') + u" " + std::u16string(30, u'c'),
       std::u16string(50, u'a') + u" " + std::u16string(13, u'c'),
       std::u16string(17, u'c')},  // space too far back: cut at 64
      {seventy + std::u16string(300, u'd'), std::u16string(64, u'b'),
       std::u16string(6, u'b') + std::u16string(123, u'd')},
  };
  for (const Case& c : cases) {
    chat.PushLine(c.text, 2);
    EXPECT_EQ(chat.GetLine(5).text, c.first);
    EXPECT_EQ(chat.GetLine(6).text, c.rest);
    EXPECT_LE(chat.GetLine(6).text.size(), Vexil3D::CChatWindow::kMaxRest);
  }
}

TEST_F(ChatTest, DrawsWithFontsAndNothingWithout) {
  Vexil3D::CChatWindow chat(nullptr, &fonts, 1);
  chat.AddLine(u"hi [#ff0000]red \U0001F600", 1);
  RecordingI2D renderer;
  chat.Draw(&renderer);
  ASSERT_FALSE(renderer.draws.empty());
  bool red = false;
  for (const auto& d : renderer.draws) red = red || std::uint32_t(d.colour) == 0xFFFF0000u;
  EXPECT_TRUE(red);
  chat.SetVisible(false);
  renderer.draws.clear();
  chat.Draw(&renderer);
  EXPECT_TRUE(renderer.draws.empty());

  TamberGUI::CFonts empty{NewLibrary()};
  Vexil3D::CChatWindow bare(nullptr, &empty, 1);
  EXPECT_FALSE(bare.HasFontStack());
  bare.Printf(u"%d", 5);
  bare.Draw(&renderer);
  EXPECT_TRUE(renderer.draws.empty());
}

// A line of 600 characters breaks by characters wherever it reaches the wrap width, line feeds
// included: every row but the last is filled to within one glyph of the window's right edge.
TEST_F(ChatTest, ALongLineBreaksByCharacters) {
  struct ViewportI2D : RecordingI2D {
    void GetViewport(Vexil3D::CViewport* viewport) override { *viewport = {0, 1, 0, 0, 500, 400}; }
  };
  const std::u16string words[] = {u"word ", u"x", u"ab\ncd "};
  for (const std::u16string& word : words) {
    std::u16string line;
    while (line.size() < 600) line += word;
    line.resize(600);
    SCOPED_TRACE(std::string(word.begin(), word.end()));
    Vexil3D::CChatWindow chat(nullptr, &fonts, 1);
    chat.AddLine(line.c_str(), 1);
    EXPECT_EQ(chat.GetLine(6).text, line);
    ViewportI2D renderer;
    chat.Draw(&renderer);
    // Glyph quads of the text (drawn after their shadows), grouped into rows by their tops.
    std::map<int, std::pair<float, float>> rows;  // row's baseline area -> leftmost x, rightmost edge
    float widest = 0;
    for (const auto& d : renderer.draws) {
      if (std::uint32_t(d.colour) != 0xFFFFFFFFu) continue;
      const int row = static_cast<int>((d.y - 30) / 31);  // (gap 3 + line height 28) per row
      auto [at, fresh] = rows.try_emplace(row, d.x, d.x + d.width);
      at->second.first = std::min(at->second.first, d.x);
      at->second.second = std::max(at->second.second, d.x + d.width);
      widest = std::max(widest, d.width);
    }
    ASSERT_GE(rows.size(), 3u);
    for (auto it = rows.begin(); it != rows.end(); ++it) {
      EXPECT_LE(it->second.second, 500 + 1.0f) << it->first;
      if (std::next(it) == rows.end()) break;
      EXPECT_GE(it->second.second, 500 - 2.5f * widest) << it->first;
    }
  }
}

constexpr const char* kConsole = R"(<Page>
  <FontStack Name="Mono"><Font Family="Open Sans"/></FontStack>
  <HtmlView Name="other" Left="0" Top="0" Width="10" Height="10" Focusable="true"/>
  <Page Name="CmdWindow" Left="0" Top="20" Width="200" Height="30" Visible="false">
    <Text Name="Input" Left="0" Top="0" Width="200" FontStack="Mono" Size="14" Colour="#ffffff"/>
  </Page></Page>)";

struct CmdTest : testing::Test, PageFixture {
  Vexil3D::CCommandMgr commands{nullptr, nullptr};
  std::vector<std::u16string> said;
  std::unique_ptr<Vexil3D::CCmdWindow2> console;
  void SetUp() override {
    ASSERT_TRUE(Load(kConsole));
    commands.AddCommandHandler(
        new Vexil3D::CCallbackCommandHandler(
            [this](const char16_t*, const char16_t* p, Vexil3D::CBaseObject*) { said.push_back(p ? p : u""); }),
        u"say");
    console = std::make_unique<Vexil3D::CCmdWindow2>(&manager);
  }
  TamberGUI::GUI::CText* Input() {
    return dynamic_cast<TamberGUI::GUI::CText*>(dynamic_cast<CPage*>(Find(u"CmdWindow"))->FindElement(u"Input"));
  }
  void Submit(const std::u16string& line) {
    console->SetVisible(true);
    Input()->SetText(line.c_str());
    console->Submit(&commands);
  }
};

TEST_F(CmdTest, ShowingFocusesTheInputAndHidingHandsItOn) {
  Click(5, 5);
  EXPECT_EQ(manager.GetFocusedElement(), Find(u"other"));
  console->SetVisible(true);
  EXPECT_TRUE(console->IsVisible());
  EXPECT_TRUE(Input()->IsEditable());
  EXPECT_EQ(manager.GetFocusedElement(), Input());
  console->SetVisible(false);
  EXPECT_FALSE(Input()->IsEditable());
  EXPECT_EQ(manager.GetFocusedElement(), Find(u"other"));
}

TEST_F(CmdTest, SubmitKeepsHistoryAndExecutesPrivileged) {
  Submit(u"");
  EXPECT_EQ(console->GetCount(), 0u);
  EXPECT_FALSE(console->IsVisible());
  EXPECT_TRUE(Input()->GetText().empty());

  Submit(std::u16string(255, u'a'));
  EXPECT_EQ(console->GetCount(), 1u);
  ASSERT_EQ(said.size(), 1u);
  Submit(std::u16string(256, u'b'));  // ignored: the input keeps it, the window stays
  EXPECT_EQ(console->GetCount(), 1u);
  EXPECT_EQ(said.size(), 1u);
  EXPECT_TRUE(console->IsVisible());
  EXPECT_EQ(Input()->GetText().size(), 256u);

  for (int i = 0; i < 256; ++i)
    Submit(u"line " + std::u16string(1, char16_t(u'0' + i % 10)) + u"#" + std::u16string(i / 10 + 1, u'x'));
  EXPECT_EQ(console->GetCount(), Vexil3D::CCmdWindow2::kHistory);
  EXPECT_EQ(std::u16string(console->GetAt(0).Get()), u"line 0#x");  // the 255-a line went first
  enginetest::AssertionCapture capture;
  EXPECT_EQ(console->GetAt(256).GetLength(), 0u);
  EXPECT_TRUE(capture.LastNames(u"Index < m_Size"));
}

TEST_F(CmdTest, ACommandRemovingTheConsoleLeavesSubmitSound) {
  enginetest::AssertionCapture capture;
  commands.AddCommandHandler(
      new Vexil3D::CCallbackCommandHandler([this](const char16_t*, const char16_t*, Vexil3D::CBaseObject*) {
        manager.GetRoot()->GetContainer().RemovePage(Find(u"CmdWindow"));
      }),
      u"close");
  Submit(u"/close");
  EXPECT_EQ(Find(u"CmdWindow"), nullptr);
  EXPECT_EQ(capture.Count(), 0u);  // submit saw the page go and stopped
  console->SetVisible(true);
  console->ClearInput();
  EXPECT_FALSE(console->IsVisible());
  EXPECT_GE(capture.Count(), 3u);
  EXPECT_TRUE(capture.LastNames(u"m_pRef"));
}

}  // namespace
