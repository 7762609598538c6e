// The GUI manager and the element base: anchored layout, event routing, capture, focus walks,
// pages from files, name maps, the context menu, strings and removal during dispatch.
#include <gtest/gtest.h>

#include <algorithm>

#include <platform/text.h>
#include <platform/window.h>

#include <TamberGUI/GUI/Text.h>

#include "AssertionCapture.h"
#include "GuiPages.h"

using namespace guitest;

namespace {

struct Manager : testing::Test, PageFixture {};

struct LayoutCase {
  const char* attributes;
  float scale;
  float x, y, width, height;
};

TEST_F(Manager, AnchoredLayout) {
  const LayoutCase cases[] = {
      {R"(Left="10" Right="10" Top="0" Height="5")", 2, 20, 0, 160, 10},
      {R"(Width="50" Height="10")", 1, 75, 45, 50, 10},  // X and Y 0.5 centre it
      {R"(Width="50" Height="10" X="0" Y="1")", 1, 0, 90, 50, 10},
      {R"(Right="5" Bottom="5" Width="20" Height="10")", 1, 175, 85, 20, 10},
      {R"(Left="0" Top="10" Bottom="10" Height="20" Width="1")", 1, 0, 10, 1, 60},  // Height taken off again
      {R"(Left="0.5" Top="0.25" Width="1" Height="1")", 1, 1, 0, 1, 1},             // rounded half away from zero
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.attributes);
    manager.SetScreen(0, 0, kScreenWidth, kScreenHeight, c.scale);
    ASSERT_TRUE(Load(std::string("<Page><HtmlView Name=\"a\" ") + c.attributes + "/></Page>"));
    CElement* a = Find(u"a");
    ASSERT_NE(a, nullptr);
    EXPECT_FLOAT_EQ(a->m_fLeft, c.x);
    EXPECT_FLOAT_EQ(a->m_fTopEdge, c.y);
    EXPECT_FLOAT_EQ(a->m_fWidthPx, c.width);
    EXPECT_FLOAT_EQ(a->m_fHeightPx, c.height);
  }
}

TEST_F(Manager, ElementsWithoutASizeOfTheirOwnAssert) {
  enginetest::AssertionCapture capture;
  ASSERT_TRUE(Load(R"(<Page><HtmlView Name="a" Left="0" Top="0"/></Page>)"));
  EXPECT_EQ(capture.Count(), 2u);  // no Width, no Height
  EXPECT_EQ(Find(u"a")->m_fWidthPx, 0.0f);
}

constexpr const char* kTwoProbes = R"(<Page>
  <HtmlView Name="under" Left="0" Top="0" Width="100" Height="100" Focusable="true"/>
  <HtmlView Name="over" Left="50" Top="0" Width="100" Height="100" Focusable="true"/>
  <HtmlView Name="hidden" Left="0" Top="0" Width="200" Height="100" Visible="false"/>
</Page>)";

TEST_F(Manager, MouseButtonsReachTheHitOrPressedElement) {
  ASSERT_TRUE(Load(kTwoProbes));
  Probe* under = FindProbe(u"under");
  Probe* over = FindProbe(u"over");
  Mouse(SDL_MOUSEBUTTONDOWN, 60, 10, SDL_BUTTON_RIGHT);
  Mouse(SDL_MOUSEBUTTONDOWN, 60, 10, SDL_BUTTON_LEFT, SDL_TOUCH_MOUSEID);
  EXPECT_EQ(under->downs + over->downs, 0);

  Click(60, 10);  // both contain the point: the later sibling (drawn on top) is hit, the hidden one never
  EXPECT_EQ(over->clicks, 1);
  EXPECT_EQ(under->clicks, 0);
  EXPECT_EQ(manager.GetPressed(), nullptr);

  // Pressed on one, released over another: the pressed one gets the release, nobody a click.
  Mouse(SDL_MOUSEBUTTONDOWN, 10, 10);
  Mouse(SDL_MOUSEMOTION, 160, 10);  // captured: no hover change while pressed
  EXPECT_EQ(manager.GetHovered(), nullptr);
  Mouse(SDL_MOUSEBUTTONUP, 160, 10);
  EXPECT_EQ(under->ups, 1);
  EXPECT_EQ(over->ups, 1);  // only its own earlier click
  EXPECT_EQ(under->clicks, 0);

  Mouse(SDL_MOUSEMOTION, 10, 10);
  EXPECT_EQ(manager.GetHovered(), under);
  SDL_Event leave{};
  leave.type = SDL_WINDOWEVENT;
  leave.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  Mouse(SDL_MOUSEBUTTONDOWN, 10, 10);
  manager.HandleEvent(leave);
  EXPECT_EQ(under->cancels, 1);
  EXPECT_EQ(manager.GetPressed(), nullptr);
}

TEST_F(Manager, KeysFollowTheFocusMode) {
  ASSERT_TRUE(Load(kTwoProbes));
  Probe* under = FindProbe(u"under");
  Click(10, 10);
  const HWND game = reinterpret_cast<HWND>(std::uintptr_t(0x5000));
  manager.SetWindow(game);
  manager.SetFocusMode(FOCUS_MODE_WINDOW);
  SetFocus(nullptr);
  Key(SDLK_a);
  Type("a");
  EXPECT_EQ(under->keys + under->texts, 0);
  SetFocus(game);
  Key(SDLK_a);
  Type("a");
  EXPECT_EQ(under->keys, 1);
  EXPECT_EQ(under->texts, 1);
  SetFocus(nullptr);
  manager.SetFocusMode(FOCUS_MODE_FLAG);
  manager.SetFocusFlag(false);
  Key(SDLK_a);
  manager.SetFocusFlag(true);
  Key(SDLK_a);
  EXPECT_EQ(under->keys, 2);
}

TEST_F(Manager, FocusWalksUpAndHandsOn) {
  ASSERT_TRUE(Load(R"(<Page>
    <HtmlView Name="first" Left="0" Top="0" Width="10" Height="10" Focusable="true"/>
    <Page Name="window" Left="20" Top="0" Width="100" Height="100" BringToTop="true">
      <HtmlView Name="inner" Left="0" Top="0" Width="10" Height="10" Focusable="true"/>
      <HtmlView Name="label" Left="0" Top="20" Width="10" Height="10"/>
    </Page>
    <HtmlView Name="last" Left="150" Top="0" Width="10" Height="10" Focusable="true"/>
  </Page>)"));
  CPage* root = manager.GetRoot();
  auto* window = dynamic_cast<CPage*>(root->FindElement(u"window"));
  ASSERT_NE(window, nullptr);
  EXPECT_NE(window->FindElement(u"inner"), nullptr);  // named in the nearest page only
  EXPECT_EQ(Find(u"inner"), nullptr);
  Click(25, 25);  // the label cannot take the focus: its page's focusable content takes the walk
  EXPECT_EQ(manager.GetFocusedElement(), root);
  Click(25, 5);
  EXPECT_EQ(manager.GetFocusedElement(), window->FindElement(u"inner"));
  EXPECT_EQ(root->GetContainer().GetChildren().back(), window);  // brought to the top
  // Hiding the focused element hands the focus to the previous visible focusable sibling, else up.
  window->FindElement(u"inner")->SetVisible(false);
  EXPECT_EQ(manager.GetFocusedElement(), Find(u"last"));
  Find(u"last")->SetVisible(false);
  EXPECT_EQ(manager.GetFocusedElement(), Find(u"first"));
}

TEST_F(Manager, CloseDuringDispatchFreesAfterTheCall) {
  ASSERT_TRUE(Load(R"(<Page>
    <Page Name="dialog" Left="0" Top="0" Width="100" Height="100">
      <HtmlView Name="close" Left="0" Top="0" Width="10" Height="10" Focusable="true"/>
    </Page></Page>)"));
  CPage* root = manager.GetRoot();
  auto removeDialog = [root](Probe* probe) { root->GetContainer().RemovePage(probe->GetNearestPage()); };
  auto* dialog = dynamic_cast<CPage*>(Find(u"dialog"));
  ASSERT_NE(dialog, nullptr);
  static_cast<Probe*>(dialog->FindElement(u"close"))->onClick = removeDialog;
  Mouse(SDL_MOUSEMOTION, 5, 5);
  Click(5, 5);  // ASan: the page and its button die only after the release call returns
  EXPECT_EQ(Find(u"dialog"), nullptr);
  EXPECT_EQ(manager.GetPressed(), nullptr);
  EXPECT_EQ(manager.GetHovered(), nullptr);
  EXPECT_EQ(manager.GetFocusedElement(), root);

  ASSERT_TRUE(Load(R"(<Page><Page Name="dialog" Left="0" Top="0" Width="100" Height="100">
      <HtmlView Name="input" Left="0" Top="0" Width="10" Height="10" Focusable="true"/></Page></Page>)"));
  root = manager.GetRoot();
  Click(5, 5);
  static_cast<Probe*>(dynamic_cast<CPage*>(Find(u"dialog"))->FindElement(u"input"))->onKey = [root](Probe* probe) {
    root->GetContainer().RemovePage(probe->GetNearestPage());
  };
  Key(SDLK_RETURN);
  EXPECT_EQ(Find(u"dialog"), nullptr);
  EXPECT_EQ(manager.GetFocusedElement(), manager.GetRoot());
}

TEST_F(Manager, PagesFromFilesAndTheClientPage) {
  enginetest::AssertionCapture capture;
  files->files[u"/GUI/Dialog.xml"] = R"(<Page><HtmlView Name="fromFile" Width="5" Height="5"/></Page>)";
  files->files[u"/GUI/Self.xml"] = R"(<Page FileName="Self.xml"/>)";
  files->files[u"/GUI/Client.xml"] = R"(<Page><HtmlView Name="clientProbe" Width="5" Height="5"/></Page>)";
  manager.SetClientPage(true);
  ASSERT_TRUE(Load(R"(<Page>
    <Page Name="dialog" FileName="Dialog.xml" Width="50" Height="50">
      <HtmlView Name="ignored" Width="5" Height="5"/></Page>
    <Page Name="self" FileName="Self.xml" Width="10" Height="10"/>
    <Page Name="missing" FileName="Missing.xml" Width="10" Height="10"/>
    <HtmlView Name="Script" Width="1" Height="1"/>
  </Page>)"));
  auto* dialog = dynamic_cast<CPage*>(Find(u"dialog"));
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(dialog->FindElement(u"fromFile"), nullptr);
  EXPECT_EQ(dialog->FindElement(u"ignored"), nullptr);
  EXPECT_TRUE(capture.LastNames(u"depth < kMaxFileDepth"));  // the file naming itself stops
  EXPECT_EQ(capture.Count(), 1u);
  auto* client = dynamic_cast<CPage*>(Find(u"Client"));
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->GetParentElement(), manager.GetRoot());
  EXPECT_NE(client->FindElement(u"clientProbe"), nullptr);
  EXPECT_EQ(manager.GetScriptElement(), Find(u"Script"));

  files->files.erase(u"/GUI/Client.xml");
  ASSERT_TRUE(Load("<Page/>"));
  EXPECT_EQ(Find(u"Client"), nullptr);
}

// Pages that name files many times over: the fan-out is bounded by one budget per outermost load (one report), a
// later load has a budget of its own, and what is under the budget loads whole.
TEST_F(Manager, FilesNamedManyTimesOverShareOneBudget) {
  // The file "F<i>.xml" names "F<next>.xml" `fanOut` times; `chain` files in a ring (1: a file naming itself).
  const struct {
    int fanOut, chain;
    bool overBudget;
  } cases[] = {{1, 1, false}, {2, 1, true}, {3, 1, true}, {8, 1, true}, {4, 3, true}, {3, 8, true},
               {2, 9, true},  {1, 5, false}, {63, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fanOut << " names, a ring of " << c.chain);
    files->files.clear();
    for (int i = 0; i < c.chain; ++i) {
      std::string xml = "<Page>";
      for (int k = 0; k < c.fanOut; ++k)
        xml += "<Page FileName=\"F" + std::to_string((i + 1) % c.chain) + ".xml\"/>";
      files->files[u"/GUI/F" + text::Utf8ToUtf16(std::to_string(i)) + u".xml"] = xml + "</Page>";
    }
    for (int load = 0; load < 2; ++load) {
      enginetest::AssertionCapture capture;
      files->opens = 0;
      ASSERT_TRUE(Load(R"(<Page><Page Name="top" FileName="F0.xml"/><Page Name="again" FileName="F0.xml"/></Page>)"));
      // Two outermost loads, each within its budget (the depth limit stops a ring earlier where it fans out less).
      EXPECT_LE(files->opens, int(2 * CPage::kMaxFileLoads));
      EXPECT_GE(files->opens, 2 * std::min<int>(CPage::kMaxFileDepth, int(CPage::kMaxFileLoads)));
      const auto texts = capture.Texts();
      const auto budgetReports = std::count_if(texts.begin(), texts.end(), [](const std::u16string& text) {
        return text.find(u"Expression: loads < kMaxFileLoads") != std::u16string::npos;
      });
      EXPECT_EQ(budgetReports, c.overBudget ? 2 : 0);
    }
  }
}

TEST_F(Manager, DeepTreesStopLoading) {
  enginetest::AssertionCapture capture;
  std::string xml;
  for (std::uint32_t i = 0; i < CElementContainer::kMaxDepth + 10; ++i) xml += "<Page Width=\"1\" Height=\"1\">";
  for (std::uint32_t i = 0; i < CElementContainer::kMaxDepth + 10; ++i) xml += "</Page>";
  ASSERT_TRUE(Load(xml));
  EXPECT_EQ(capture.Count(), 1u);
  const CElement* deepest = manager.GetRoot();
  std::uint32_t depth = 0;
  while (auto* page = dynamic_cast<const CPage*>(deepest)) {
    const auto& children = const_cast<CPage*>(page)->GetContainer().GetChildren();
    if (children.empty()) break;
    deepest = children.front();
    ++depth;
  }
  EXPECT_EQ(depth, CElementContainer::kMaxDepth - 1);
}

TEST_F(Manager, ColoursParseOrAssert) {
  enginetest::AssertionCapture capture;
  struct Case {
    const char16_t* text;
    std::uint32_t argb;
    const char16_t* assertion;  // the expression the dialog shows, or null
  };
  const Case cases[] = {
      {u"#ff8000", 0xFFFF8000u, nullptr},
      {u"#80FF8000", 0x80FF8000u, nullptr},
      {u"ff8000", 0, u"*psz == '#'"},
      {u"", 0, u"*psz == '#'"},
      {u"#ff80", 0, u"ok"},
      {u"#ff80zz", 0, u"ok"},
      {u"#", 0, u"ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
    capture.Clear();
    EXPECT_EQ(std::uint32_t(CElement::ParseColour(c.text)), c.argb);
    EXPECT_EQ(capture.Count(), c.assertion != nullptr ? 1u : 0u);
    if (c.assertion != nullptr) {
      EXPECT_TRUE(capture.LastNames(c.assertion));
    }
  }
}

TEST_F(Manager, MenuDirtyRectangleAndStrings) {
  for (std::uint32_t i = 0; i < CManager::kMaxContextMenuItems; ++i) {
    EXPECT_EQ(manager.AddContextMenuItem(u"Item", i, true), i);
  }
  EXPECT_EQ(manager.AddContextMenuItem(u"Item", 99, true), CManager::kNoMenuItem);

  manager.Invalidate({10, 10}, {5, 5});
  manager.Invalidate({4, 12}, {3, 20});
  const auto& dirty = manager.GetDirtyRect();
  EXPECT_FLOAT_EQ(dirty.x, 4);
  EXPECT_FLOAT_EQ(dirty.width, 11);  // grown by 6 to the left
  EXPECT_FLOAT_EQ(dirty.height, 20);

  EXPECT_EQ(manager.GetString(u"Title", nullptr), nullptr);
  manager.SetString(u"Title", u"Hello");
  std::uint32_t length = 0;
  ASSERT_NE(manager.GetString(u"TITLE", &length), nullptr);  // keyed by the case-folded name key
  EXPECT_EQ(std::u16string(manager.GetString(u"title", nullptr)), u"Hello");
  EXPECT_EQ(length, 5u);
}

TEST_F(Manager, QuadsAreClippedInProportion) {
  RecordingI2D renderer;
  const CClipRect clip{0, 0, 50, 50};
  manager.DrawQuad(&renderer, nullptr, Vexil3D::COLOUR_WHITE, 60, 0, 10, 10, clip, 0, 0, 1, 1, 1, 1);
  manager.DrawQuad(&renderer, nullptr, Vexil3D::COLOUR_WHITE, 40, 40, 20, 20, clip, 0, 0, 1, 1, 1, 1);
  ASSERT_EQ(renderer.draws.size(), 1u);
  const auto& d = renderer.draws[0];
  EXPECT_FLOAT_EQ(d.width, 10);
  EXPECT_FLOAT_EQ(d.uExtent, 0.5f);
  EXPECT_FLOAT_EQ(d.vExtent, 0.5f);
}

TEST_F(Manager, FontStacksHoldTheirFonts) {
  enginetest::AssertionCapture capture;
  ASSERT_TRUE(Load(R"(<Page>
    <FontStack Name="Body"><Font Family="Open Sans"/><Font Family="DejaVu Sans"/><Font Family="Nope"/>
      <Font Family="DejaVu Sans" Style="Book"/></FontStack>
    <FontStack Name="Body"/>
  </Page>)"));
  EXPECT_TRUE(capture.LastNames(u"Result.second"));
  const CPage::FontStack* stack = manager.GetRoot()->GetFontStack(u"Body");
  ASSERT_NE(stack, nullptr);
  ASSERT_EQ(stack->size(), 2u);  // DejaVu Sans has no "Regular"; the unknown family is skipped
  fonts.Clear();
  EXPECT_NE((*stack)[1]->GetSize(12 * 64), nullptr);  // still held by the page
}

TEST_F(Manager, APressLostToAnotherEndsWithACancelAReleaseWithout) {
  ASSERT_TRUE(Load(kTwoProbes));
  Probe* under = FindProbe(u"under");
  Probe* over = FindProbe(u"over");
  Click(10, 10);  // an ordinary press and release: no cancel
  EXPECT_EQ(under->cancels, 0);
  EXPECT_EQ(under->clicks, 1);

  // A press on another element before the release (the release was lost outside the window).
  Mouse(SDL_MOUSEBUTTONDOWN, 10, 10);
  Mouse(SDL_MOUSEBUTTONDOWN, 120, 10);
  EXPECT_EQ(under->cancels, 1);
  EXPECT_EQ(over->cancels, 0);
  EXPECT_EQ(manager.GetPressed(), over);
  Mouse(SDL_MOUSEBUTTONDOWN, 120, 10);  // pressed again itself: nothing to cancel
  EXPECT_EQ(over->cancels, 0);
  Mouse(SDL_MOUSEBUTTONUP, 120, 10);
  EXPECT_EQ(over->clicks, 1);
  EXPECT_EQ(manager.GetPressed(), nullptr);

  // The window loses the mouse: the hovered element gets the cancel, and a press another element
  // holds ends with that element's cancel.
  SDL_Event leave{};
  leave.type = SDL_WINDOWEVENT;
  leave.window.event = SDL_WINDOWEVENT_LEAVE;
  manager.HandleEvent(leave);  // nothing hovered: nothing happens
  EXPECT_EQ(under->cancels + over->cancels, 1);
  Mouse(SDL_MOUSEMOTION, 120, 10);
  ASSERT_EQ(manager.GetHovered(), over);
  manager.HandleEvent(leave);
  EXPECT_EQ(over->cancels, 1);
  Mouse(SDL_MOUSEBUTTONDOWN, 10, 10);
  manager.HandleEvent(leave);
  EXPECT_EQ(over->cancels, 2);
  EXPECT_EQ(under->cancels, 2);
  EXPECT_EQ(manager.GetPressed(), nullptr);
  Mouse(SDL_MOUSEBUTTONUP, 10, 10);
  EXPECT_EQ(under->clicks, 1);  // the press was over before its release
}

TEST_F(Manager, PagesKeepTheirOwnSizeFlagsAndReadFilesWithoutElements) {
  files->files[u"/GUI/Wide.xml"] = R"(<Page Width="30"/>)";
  files->files[u"/GUI/Broken.xml"] = "this is no element file";
  ASSERT_TRUE(Load(R"(<Page>
    <Page Name="sized" Left="0" Top="0" Width="10" Height="20"/>
    <Page Name="anchored" Left="0" Right="0" Top="0" Bottom="0"/>
    <Page Name="filed" FileName="Wide.xml" Left="0" Top="0" Height="5"/>
    <Page Name="broken" FileName="Broken.xml" Left="0" Top="0" Right="0" Height="7">
      <HtmlView Name="kept" Width="5" Height="5"/></Page>
    <Page Name="missing" FileName="Missing.xml" Left="0" Top="0" Right="0" Height="7">
      <HtmlView Name="lost" Width="5" Height="5"/></Page>
  </Page>)"));
  struct Case {
    const char16_t* page;
    std::uint8_t width, height;
  };
  // The page's own flags come from its own file: "filed" took its Height anchor from the chunk
  // that named the file, whose other attributes a page loaded from a file does not read.
  const Case cases[] = {{u"sized", 1, 1}, {u"anchored", 0, 0}, {u"filed", 1, 0}, {u"broken", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.page, c.page + std::char_traits<char16_t>::length(c.page)));
    auto* page = dynamic_cast<CPage*>(Find(c.page));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->m_bWidth, c.width);
    EXPECT_EQ(page->m_bHeight, c.height);
  }
  EXPECT_FLOAT_EQ(Find(u"filed")->m_fWidthPx, 30);
  EXPECT_FLOAT_EQ(Find(u"filed")->m_fHeightPx, 5);
  // A file that opens but holds no elements leaves the page as its chunk gives it; one that does
  // not open stops the page.
  EXPECT_NE(dynamic_cast<CPage*>(Find(u"broken"))->FindElement(u"kept"), nullptr);
  EXPECT_EQ(dynamic_cast<CPage*>(Find(u"missing"))->FindElement(u"lost"), nullptr);
}

TEST_F(Manager, TextFindsTheFontStackOfTheNearestPageThatHasIt) {
  ASSERT_TRUE(Load(R"(<Page>
    <FontStack Name="Body"><Font Family="Open Sans"/></FontStack>
    <FontStack Name="Mono"><Font Family="DejaVu Sans" Style="Book"/></FontStack>
    <Page Name="CmdWindow" Left="0" Top="0" Width="200" Height="100">
      <FontStack Name="Mono"><Font Family="Open Sans"/></FontStack>
      <Rectangle Left="0" Top="0" Width="200" Height="100">
        <Text Name="Input" Left="0" Top="0" FontStack="Body" Size="12" Colour="#ffffff" Text="x"/>
        <Text Name="Own" Left="0" Top="20" FontStack="Mono" Size="12" Colour="#ffffff" Text="x"/>
        <Text Name="None" Left="0" Top="40" FontStack="Nope" Size="12" Colour="#ffffff" Text="x"/>
      </Rectangle></Page>
  </Page>)"));
  auto* window = dynamic_cast<CPage*>(Find(u"CmdWindow"));
  ASSERT_NE(window, nullptr);
  struct Case {
    const char16_t* name;
    const char16_t* family;  // of the primary size, or null for no font stack
  };
  // "Mono" of the main page is DejaVu Sans: the window's own stack of that name comes first.
  const Case cases[] = {{u"Input", u"Open Sans"}, {u"Own", u"Open Sans"}, {u"None", nullptr}};
  for (const Case& c : cases) {
    auto* text = dynamic_cast<TamberGUI::GUI::CText*>(window->FindElement(c.name));
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->HasFontStack(), c.family != nullptr);
    if (c.family == nullptr) continue;
    const auto& layout = text->GetLayout();
    ASSERT_EQ(layout.GetLineCount(), 1u);
    ASSERT_FALSE(layout.GetLine(0).pieces.empty());
    const TamberGUI::CGlyph* glyph = layout.GetLine(0).pieces[0].glyphs[0].glyph;
    ASSERT_NE(glyph, nullptr);
    EXPECT_EQ(glyph->GetFontSize()->GetFont()->GetFamily(), c.family);
  }
}

// With UseClip an element is hit inside its clip rectangle (what shows of it), not its own box.
TEST_F(Manager, UseClipHitsByTheClipRectangle) {
  ASSERT_TRUE(Load(R"(<Page>
    <HtmlView Name="free" Left="60" Top="80" Width="5" Height="5" UseClip="true"/>
    <Rectangle Left="10" Top="10" Width="20" Height="20" Clip="true">
      <HtmlView Name="clipped" Left="-10" Top="-10" Width="60" Height="60" UseClip="true"/></Rectangle>
    <Rectangle Left="110" Top="10" Width="20" Height="20" Clip="true">
      <HtmlView Name="boxed" Left="-10" Top="-10" Width="60" Height="60"/></Rectangle>
  </Page>)"));
  Probe* clipped = FindProbe(u"clipped");
  Probe* boxed = FindProbe(u"boxed");
  Probe* free = FindProbe(u"free");
  struct Case {
    float x, y;
    CElement* hit;
  };
  const Case cases[] = {
      {10, 10, clipped}, {29, 29, clipped}, {30, 20, free},   {5, 5, free},  // the clip's edges; outside it
      {101, 1, boxed},   {110, 10, boxed},  {159, 49, boxed}, {160, 20, free},
      {190, 95, free},  // no clipping above it: everywhere
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    EXPECT_EQ(manager.GetRoot()->HitTest({c.x, c.y}), c.hit);
  }
}

}  // namespace
