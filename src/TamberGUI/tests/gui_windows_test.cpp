// The chat window (slots, kinds, markup, printf bounds, the wrap split, drawing, missing fonts) and
// the command window (visibility and focus, history, submission through a real command table,
// a command that removes the console).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string_view>

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

// A renderer whose window has the size given.
struct WindowI2D : RecordingI2D {
  WindowI2D(float width, float height) : width(width), height(height) {}
  void GetViewport(Vexil3D::CViewport* viewport) override { *viewport = {0, 1, 0, 0, width, height}; }
  float width, height;
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
  WindowI2D renderer(640, 480);
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

// A line far longer than the window holds is stored whole, but a frame lays out and draws only what the window
// shows: for lines of every shape (plain, words, pairs, marks without advance, colour codes) in every slot and
// windows of several sizes, the quads lie in the window, are no more than a unit per pixel of its rows allows, and
// are exactly those of the lines cut well past what shows. A window of no area shows nothing.
TEST_F(ChatTest, AHugeLineDrawsOnlyWhatTheWindowShows) {
  constexpr std::size_t kHuge = 1000000;
  const auto repeat = [&](std::u16string_view piece) {
    std::u16string line;
    line.reserve(kHuge + piece.size());
    while (line.size() < kHuge) line += piece;
    line.resize(kHuge);
    return line;
  };
  const struct {
    const char* what;
    std::u16string line;
  } shapes[] = {
      {"letters", repeat(u"x")},
      {"words", repeat(u"word ")},
      {"pairs", repeat(u"\U0001F600")},
      {"marks", u"a" + repeat(u"\u0301")},
      {"codes", repeat(u"\x01"
                       u"ffff0000")},
  };
  const std::pair<float, float> windows[] = {{640, 480}, {1280, 720}, {1920, 1080}, {320, 100}, {200, 40}, {60, 400}};
  const float rowHeight = fonts.GetFont(u"Open Sans", u"Regular")->GetSize(23 * 64)->GetLineHeight();
  ASSERT_GT(rowHeight, 0);
  for (const auto& [width, height] : windows) {
    // Two quads (the shadow's and the glyph's) per unit of each slot's rows that can show, at most.
    const double rows = std::floor((height - 30) / rowHeight) + 2;
    const double bound = 2 * Vexil3D::CChatWindow::kLines * rows * (width - 25 + 1);
    for (const auto& shape : shapes) {
      SCOPED_TRACE(std::string(shape.what) + " " + std::to_string(int(width)) + "x" + std::to_string(int(height)));
      Vexil3D::CChatWindow chat(nullptr, &fonts, 1), cut(nullptr, &fonts, 1);
      const std::u16string shorter = shape.line.substr(0, std::size_t(4 * rows * width) + 64);
      for (std::uint32_t slot = 0; slot < Vexil3D::CChatWindow::kLines; ++slot) {
        chat.PushLine(shape.line, 1);
        cut.PushLine(shorter, 1);
      }
      EXPECT_EQ(chat.GetLine(0).text, shape.line);  // stored whole
      WindowI2D whole(width, height), part(width, height);
      chat.Draw(&whole);
      cut.Draw(&part);
      EXPECT_LE(double(whole.draws.size()), bound);
      ASSERT_EQ(whole.draws.size(), part.draws.size());
      bool same = true, inside = true;
      for (std::size_t i = 0; i < whole.draws.size(); ++i) {
        const auto &a = whole.draws[i], &b = part.draws[i];
        same = same && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
               std::uint32_t(a.colour) == std::uint32_t(b.colour) && a.material == b.material;
        constexpr float kRounding = 0.01f;
        inside = inside && a.x >= 0 && a.y >= 0 && a.x + a.width <= width + kRounding &&
                 a.y + a.height <= height + kRounding;
      }
      EXPECT_TRUE(same);
      EXPECT_TRUE(inside);
      // What shows is still drawn (a window 40 pixels high ends above the first row's letters).
      if ((std::string(shape.what) == "letters" || std::string(shape.what) == "words") && height >= 100) {
        EXPECT_FALSE(whole.draws.empty());
      }
    }
  }
  Vexil3D::CChatWindow chat(nullptr, &fonts, 1);
  chat.PushLine(repeat(u"x"), 1);
  const std::pair<float, float> empty[] = {{0, 0}, {0, 480}, {640, 0}, {-5, 480}, {640, std::nanf("")}};
  for (const auto& [width, height] : empty) {
    WindowI2D renderer(width, height);
    chat.Draw(&renderer);
    EXPECT_TRUE(renderer.draws.empty()) << width << "x" << height;
  }
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
