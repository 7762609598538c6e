// Rectangles (hit-through, native-size scale, bounding boxes, tiles, source rectangles, clipping,
// empty textures) and buttons (cursors, actions, every drag action and its exact undo).
#include <gtest/gtest.h>

#include <platform/window.h>

#include <TamberGUI/GUI/Button.h>
#include <TamberGUI/GUI/Rectangle.h>

#include "AssertionCapture.h"
#include "GuiPages.h"

using namespace guitest;

namespace {

Vexil3D::Texture* MakeTexture(std::uint32_t width, std::uint32_t height) {
  auto* texture = new Vexil3D::Texture(1);
  if (width != 0 && height != 0) texture->GetMipLevel(0)->Create(width, height);
  return texture;
}

struct RectangleTest : testing::Test, PageFixture {
  RectangleTest() {
    manager.SetTextureProvider([](const char16_t* name) -> Vexil3D::Texture* {
      if (std::u16string_view(name) == u"Empty") return MakeTexture(0, 0);
      if (std::u16string_view(name) == u"Dot") return MakeTexture(1, 1);
      if (std::u16string_view(name) == u"Tiny") return MakeTexture(2, 2);
      return std::u16string_view(name) == u"Brick" ? MakeTexture(64, 32) : nullptr;
    });
  }
  CRectangle* Rect(const std::u16string& name) { return dynamic_cast<CRectangle*>(Find(name)); }
};

TEST_F(RectangleTest, TransparentRectanglesLetTheMouseThrough) {
  ASSERT_TRUE(Load(R"(<Page>
    <Rectangle Name="clear" Left="0" Top="0" Width="10" Height="10"/>
    <Rectangle Name="focus" Left="20" Top="0" Width="10" Height="10" Focus="true"/>
    <Rectangle Name="red" Left="40" Top="0" Width="10" Height="10" Colour="#ff0000"/>
  </Page>)"));
  EXPECT_EQ(manager.GetRoot()->HitTest({5, 5}), manager.GetRoot());
  EXPECT_EQ(manager.GetRoot()->HitTest({25, 5}), Find(u"focus"));
  EXPECT_EQ(manager.GetRoot()->HitTest({45, 5}), Find(u"red"));
}

TEST_F(RectangleTest, NativeSizeScalesChildrenAndTheBoxFollowsThem) {
  manager.SetScreen(0, 0, 1600, 1200, 1);
  ASSERT_TRUE(Load(R"(<Page>
    <Rectangle Name="native" NativeWidth="800" NativeHeight="400">
      <Rectangle Name="child" Left="10" Top="20" Width="100" Height="50" Colour="#ffffff"/>
    </Rectangle>
    <Rectangle Name="both" Left="0" Top="0" Width="10" Height="10" NativeWidth="800" NativeHeight="1200"/>
  </Page>)"));
  CRectangle* native = Rect(u"native");
  EXPECT_FLOAT_EQ(native->GetChildScale(), 2.0f);  // 1600 / 800 (the height allows 3)
  CElement* child = native->GetContainer().GetChildren()[0];
  EXPECT_FLOAT_EQ(child->m_fLeft, 20);
  EXPECT_FLOAT_EQ(child->m_fWidthPx, 200);
  // Without anchors or a texture the box is the children's bounding box.
  EXPECT_FLOAT_EQ(native->m_fLeft, 20);
  EXPECT_FLOAT_EQ(native->m_fTopEdge, 40);
  EXPECT_FLOAT_EQ(native->m_fWidthPx, 200);
  EXPECT_FLOAT_EQ(native->m_fHeightPx, 100);
  EXPECT_FLOAT_EQ(Rect(u"both")->GetChildScale(), 1.0f);  // the smaller of 2 and 1
}

TEST_F(RectangleTest, TexturesTileOrCutTheirSource) {
  enginetest::AssertionCapture capture;
  manager.SetScreen(0, 0, 400, 400, 2);
  ASSERT_TRUE(Load(R"(<Page>
    <Rectangle Name="plain" Left="0" Top="0" Texture="Brick"/>
    <Rectangle Name="tiled" Left="0" Top="0" Width="64" Height="48" Texture="Brick" Tile="true"/>
    <Rectangle Name="cut" Left="0" Top="0" Width="16" Height="16" Texture="Brick" SourcePosX="16" SourcePosY="8"
               SourceSizeX="32" SourceSizeY="16" Colour="#80ffffff" BlendMode="Additive" TextureFilterMag="Point"/>
    <Rectangle Name="empty" Left="0" Top="0" Texture="Empty"/>
  </Page>)"));
  EXPECT_EQ(capture.Count(), 0u);
  CRectangle* plain = Rect(u"plain");
  EXPECT_FLOAT_EQ(plain->m_fWidthPx, 128);  // texture size times the scale
  EXPECT_FLOAT_EQ(plain->m_fHeightPx, 64);
  EXPECT_EQ(Rect(u"empty")->m_fWidthPx, 0.0f);
  const auto& settings = Rect(u"cut")->GetMaterial()->GetSettings();
  EXPECT_EQ(settings.blendMode, BLEND_ADDITIVE);
  EXPECT_EQ(settings.modes[0], FILTER_LINEAR);
  EXPECT_EQ(settings.modes[1], FILTER_POINT);

  RecordingI2D renderer;
  manager.GetRoot()->Render(&renderer);
  ASSERT_EQ(renderer.draws.size(), 4u);  // the empty texture draws nothing
  // 128 x 96 px over a 64 x 32 texture at scale 2: a whole copy, then its top half cut at the edge.
  const auto& tiled = renderer.draws[1];
  EXPECT_FLOAT_EQ(tiled.uExtent, 1.0f);
  EXPECT_FLOAT_EQ(tiled.vExtent, 1.0f);
  EXPECT_FLOAT_EQ(renderer.draws[2].y, 64.0f);
  EXPECT_FLOAT_EQ(renderer.draws[2].height, 32.0f);
  EXPECT_FLOAT_EQ(renderer.draws[2].v, 0.0f);
  EXPECT_FLOAT_EQ(renderer.draws[2].vExtent, 0.5f);
  const auto& cut = renderer.draws[3];
  EXPECT_FLOAT_EQ(cut.u, 0.25f);
  EXPECT_FLOAT_EQ(cut.v, 0.25f);
  EXPECT_FLOAT_EQ(cut.uExtent, 0.5f);
  EXPECT_FLOAT_EQ(cut.vExtent, 0.5f);
  EXPECT_EQ(std::uint32_t(cut.colour), 0x80FFFFFFu);  // the colour tints the texture

  ASSERT_TRUE(Load(R"(<Page><Rectangle Left="0" Top="0" Width="1" Height="1" Texture="Brick" Tile="true"
                      SourcePosX="1"/></Page>)"));
  EXPECT_TRUE(capture.LastNames(u"!m_bTile"));
}

// The copies a tiled rectangle draws, each one whole texture or a cut of one, never stretched.
TEST_F(RectangleTest, TilesDrawOneClippedQuadPerCopy) {
  struct Case {
    const char* texture;
    float textureWidth, textureHeight;
    float scale, width, height;  // the rectangle in element units
    const char* clip;            // the frame around it, in element units
    std::size_t quads;
  };
  const Case cases[] = {
      {"Brick", 64, 32, 1, 64, 32, nullptr, 1},
      {"Brick", 64, 32, 1, 65, 33, nullptr, 4},
      {"Brick", 64, 32, 2, 100, 50, nullptr, 4},
      {"Brick", 64, 32, 0.5f, 300, 90, nullptr, 15},
      {"Brick", 64, 32, 1.5f, 10, 10, nullptr, 1},
      {"Tiny", 2, 2, 1, 60, 30, nullptr, 450},
      {"Tiny", 2, 2, 1, 64, 64, nullptr, 1024},
      {"Brick", 64, 32, 1, 300, 90, R"(Width="100" Height="1000")", 6},
      {"Brick", 64, 32, 1, 300, 90, R"(Width="10" Height="10")", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.texture << " " << c.width << "x" << c.height << " at " << c.scale);
    manager.SetScreen(0, 0, 4000, 4000, c.scale);
    const std::string frame =
        c.clip ? std::string(R"(<Rectangle Left="0" Top="0" Clip="true" )") + c.clip + R"( Focus="true">)" : "";
    const std::string page = "<Page>" + frame + R"(<Rectangle Left="0" Top="0" Width=")" + std::to_string(c.width) +
                             R"(" Height=")" + std::to_string(c.height) + R"(" Texture=")" + c.texture +
                             R"(" Tile="true"/>)" + (c.clip ? "</Rectangle>" : "") + "</Page>";
    ASSERT_TRUE(Load(page));
    RecordingI2D renderer;
    manager.GetRoot()->Render(&renderer);
    ASSERT_EQ(renderer.draws.size(), c.quads);
    const float tileWidth = c.textureWidth * c.scale, tileHeight = c.textureHeight * c.scale;
    float clipWidth = c.width * c.scale, clipHeight = c.height * c.scale;
    if (c.clip) {
      float value = 0;
      auto tree = Parse(std::string("<Frame ") + c.clip + "/>");
      if (tree->GetFloatAttribute(u"Width", &value)) clipWidth = std::min(clipWidth, value * c.scale);
      if (tree->GetFloatAttribute(u"Height", &value)) clipHeight = std::min(clipHeight, value * c.scale);
    }
    double area = 0;
    for (const auto& d : renderer.draws) {
      // Inside the visible part, on the texture, and one texel of it per texel of the copy.
      EXPECT_GE(d.x, 0.0f);
      EXPECT_GE(d.y, 0.0f);
      EXPECT_LE(d.x + d.width, clipWidth + 1e-3f);
      EXPECT_LE(d.y + d.height, clipHeight + 1e-3f);
      EXPECT_GE(d.u, 0.0f);
      EXPECT_GE(d.v, 0.0f);
      EXPECT_LE(d.u + d.uExtent, 1.0f + 1e-5f);
      EXPECT_LE(d.v + d.vExtent, 1.0f + 1e-5f);
      EXPECT_NEAR(d.uExtent * tileWidth, d.width, 1e-3f);
      EXPECT_NEAR(d.vExtent * tileHeight, d.height, 1e-3f);
      area += double(d.width) * d.height;
    }
    EXPECT_NEAR(area, double(clipWidth) * clipHeight, 1e-2);  // no gaps, no overlaps
  }
}

TEST_F(RectangleTest, TilesPastTheCapStretchAsOneQuad) {
  manager.SetScreen(0, 0, 400, 400, 1);
  ASSERT_TRUE(Load(R"(<Page><Rectangle Left="0" Top="0" Width="200" Height="100" Texture="Dot" Tile="true"/>
    <Rectangle Left="0" Top="0" Width="66" Height="64" Texture="Tiny" Tile="true"/></Page>)"));
  RecordingI2D renderer;
  manager.GetRoot()->Render(&renderer);
  ASSERT_EQ(renderer.draws.size(), 2u);  // 20000 and 1056 copies
  EXPECT_FLOAT_EQ(renderer.draws[0].uExtent, 200);
  EXPECT_FLOAT_EQ(renderer.draws[0].vExtent, 100);
  EXPECT_FLOAT_EQ(renderer.draws[1].uExtent, 33);
  EXPECT_FLOAT_EQ(renderer.draws[1].vExtent, 32);
}

TEST_F(RectangleTest, ClippingCutsChildren) {
  ASSERT_TRUE(Load(R"(<Page>
    <Rectangle Name="frame" Left="10" Top="10" Width="20" Height="20" Clip="true">
      <Rectangle Left="10" Top="10" Width="40" Height="40" Colour="#00ff00"/>
    </Rectangle></Page>)"));
  RecordingI2D renderer;
  manager.GetRoot()->Render(&renderer);
  ASSERT_EQ(renderer.draws.size(), 1u);
  EXPECT_FLOAT_EQ(renderer.draws[0].x, 20);
  EXPECT_FLOAT_EQ(renderer.draws[0].width, 10);
  renderer.draws.clear();
  manager.GetRoot()->RenderDebug(&renderer);
  EXPECT_EQ(renderer.draws.size(), 6u);  // two outlines; the child's right and bottom edges are clipped away
}

struct ButtonTest : RectangleTest {
  CButton* Button(const std::u16string& name, CPage* page) { return dynamic_cast<CButton*>(page->FindElement(name)); }
};

TEST_F(ButtonTest, CursorsByAction) {
  struct Case {
    const char* action;
    std::uint32_t cursor;
  };
  const Case cases[] = {{nullptr, SDL_SYSTEM_CURSOR_NO},          {"Custom", SDL_SYSTEM_CURSOR_HAND},
                        {"Notepad", SDL_SYSTEM_CURSOR_HAND},      {"Close", SDL_SYSTEM_CURSOR_ARROW},
                        {"Move", SDL_SYSTEM_CURSOR_ARROW},        {"SizeGrip", SDL_SYSTEM_CURSOR_SIZENWSE},
                        {"SizeLeft", SDL_SYSTEM_CURSOR_SIZEWE},   {"SizeTopRight", SDL_SYSTEM_CURSOR_SIZENESW},
                        {"SizeBottom", SDL_SYSTEM_CURSOR_SIZENS}, {"Whatever", SDL_SYSTEM_CURSOR_HAND}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action ? c.action : "none");
    const std::string action = c.action ? std::string(" Action=\"") + c.action + "\"" : "";
    ASSERT_TRUE(Load("<Page><Button Name=\"b\" Width=\"5\" Height=\"5\"" + action + "/></Page>"));
    std::uint32_t cursor = 99;
    EXPECT_TRUE(Find(u"b")->GetCursor(&cursor));
    EXPECT_EQ(cursor, c.cursor);
  }
}

std::vector<UINT> g_Messages;
LRESULT RecordMessage(HWND, UINT message, WPARAM, LPARAM) { return g_Messages.push_back(message), 0; }

TEST_F(ButtonTest, ClickActions) {
  ASSERT_TRUE(Load(R"(<Page>
    <Button Name="custom" Left="0" Top="0" Width="5" Height="5" Action="Custom"/>
    <Button Name="exit" Left="10" Top="0" Width="5" Height="5" Action="Exit"/>
    <Page Name="dialog" Left="50" Top="0" Width="50" Height="50">
      <Rectangle Left="0" Top="0" Width="50" Height="50" Colour="#202020">
        <Button Name="close" Left="0" Top="0" Width="5" Height="5" Action="Close"/>
      </Rectangle>
    </Page></Page>)"));
  Click(2, 2);  // no callback set: nothing happens, nothing throws
  int customs = 0;
  dynamic_cast<CButton*>(Find(u"custom"))->SetCustomCallback([&] { ++customs; });
  Click(2, 2);
  EXPECT_EQ(customs, 1);

  const HWND game = reinterpret_cast<HWND>(std::uintptr_t(0x7000)),
             top = reinterpret_cast<HWND>(std::uintptr_t(0x7100));
  platform::ResetWindows();
  SetParent(game, top);
  platform::SetWindowProcedure(top, RecordMessage);
  manager.SetWindow(game);
  g_Messages.clear();
  Click(12, 2);
  EXPECT_EQ(g_Messages, std::vector<UINT>{WM_CLOSE});  // to the root window
  platform::ResetWindows();

  std::vector<std::u16string> seen;
  manager.SetActionCallback(
      [&](const std::u16string& action, CButton*) { return seen.push_back(action), action == u"Close"; });
  Click(52, 2);
  EXPECT_NE(Find(u"dialog"), nullptr);  // the owner handled it
  manager.SetActionCallback({});
  Mouse(SDL_MOUSEMOTION, 52, 2);
  Click(52, 2);  // ASan: the page with its rectangle and this button goes after the call
  EXPECT_EQ(Find(u"dialog"), nullptr);
  EXPECT_EQ(seen, std::vector<std::u16string>{u"Close"});
}

struct DragCase {
  const char* action;
  float left, top, width, height;  // after a drag of (+6, +4) pixels at scale 2
};

TEST_F(ButtonTest, DragsChangeAnchorsAndCancelPutsThemBack) {
  manager.SetScreen(0, 0, 400, 400, 2);
  const DragCase cases[] = {
      {"SizeBottomRight", 10, 20, 53, 42}, {"SizeRight", 10, 20, 53, 40},    {"SizeBottom", 10, 20, 50, 42},
      {"SizeBottomLeft", 13, 20, 47, 42},  {"SizeLeft", 13, 20, 47, 40},     {"SizeTopLeft", 13, 22, 47, 38},
      {"SizeTop", 10, 22, 50, 38},         {"SizeTopRight", 10, 22, 53, 38},
  };
  for (const DragCase& c : cases) {
    SCOPED_TRACE(c.action);
    ASSERT_TRUE(Load(std::string(R"(<Page><Page Name="window" Left="10" Top="20" Width="50" Height="40">
        <Button Name="b" Left="0" Top="0" Width="5" Height="5" Action=")") +
                     c.action + R"("/></Page></Page>)"));
    CElement* window = Find(u"window");
    const int x = static_cast<int>(window->m_fLeft) + 2, y = static_cast<int>(window->m_fTopEdge) + 2;
    Mouse(SDL_MOUSEBUTTONDOWN, x, y);
    Mouse(SDL_MOUSEMOTION, x + 2, y + 2);
    Mouse(SDL_MOUSEMOTION, x + 6, y + 4);
    EXPECT_FLOAT_EQ(window->m_Left.value, c.left);
    EXPECT_FLOAT_EQ(window->m_Top.value, c.top);
    EXPECT_FLOAT_EQ(window->m_Width.value, c.width);
    EXPECT_FLOAT_EQ(window->m_Height.value, c.height);
    SDL_Event lost{};
    lost.type = SDL_WINDOWEVENT;
    lost.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    manager.HandleEvent(lost);
    EXPECT_EQ(window->m_Left.value, 10.0f);
    EXPECT_EQ(window->m_Top.value, 20.0f);
    EXPECT_EQ(window->m_Width.value, 50.0f);
    EXPECT_EQ(window->m_Height.value, 40.0f);
  }
}

TEST_F(ButtonTest, MoveAndSizeGripFindTheirWindows) {
  enginetest::AssertionCapture capture;
  ASSERT_TRUE(Load(R"(<Page>
    <Page Name="window" Left="10" Top="10" Width="100" Height="100">
      <Page Name="title" Left="0" Top="0" Width="100" Height="10">
        <Button Name="move" Left="0" Top="0" Width="10" Height="10" Action="Move"/></Page>
      <Rectangle Left="0" Top="0" Width="100" Height="100">
        <Page Name="corner" Right="0" Bottom="0" Width="10" Height="10">
          <Button Name="grip" Left="0" Top="0" Width="10" Height="10" Action="SizeGrip"/></Page>
      </Rectangle>
    </Page>
    <Page Name="loose" Left="150" Top="0" Right="10" Bottom="10">
      <Button Name="size" Width="5" Height="5" Action="SizeRight"/></Page>
  </Page>)"));
  auto* window = dynamic_cast<CPage*>(Find(u"window"));
  auto* move = dynamic_cast<CButton*>(dynamic_cast<CPage*>(window->FindElement(u"title"))->FindElement(u"move"));
  EXPECT_EQ(move->FindDragWindow(), window);
  Mouse(SDL_MOUSEBUTTONDOWN, 12, 12);
  Mouse(SDL_MOUSEMOTION, 15, 17);
  Mouse(SDL_MOUSEBUTTONUP, 15, 17);
  EXPECT_FLOAT_EQ(window->m_Left.value, 13);
  EXPECT_FLOAT_EQ(window->m_Top.value, 15);
  EXPECT_FALSE(move->IsDragging());

  auto* grip = dynamic_cast<CButton*>(dynamic_cast<CPage*>(window->FindElement(u"corner"))->FindElement(u"grip"));
  EXPECT_EQ(grip->FindDragWindow(), manager.GetRoot());  // the page holding the rectangle's holder
  EXPECT_EQ(grip->GetWindowHitTest({0, 0}), HTBOTTOMRIGHT);
  EXPECT_EQ(move->GetWindowHitTest({0, 0}), HTCLIENT);

  // A window without the anchors its action changes stops at the assertion and is left alone.
  auto* loose = dynamic_cast<CPage*>(Find(u"loose"));
  auto* size = dynamic_cast<CButton*>(loose->FindElement(u"size"));
  const float before = loose->m_Width.value;
  size->OnMouseDown({loose->m_fLeft, loose->m_fTopEdge});
  size->OnMouseMove({loose->m_fLeft + 5, loose->m_fTopEdge});
  EXPECT_TRUE(capture.LastNames(u"m_pDraggingWindow->m_bWidth"));
  EXPECT_EQ(loose->m_Width.value, before);
  size->OnMouseUp({0, 0});

  capture.Clear();
  move->OnMouseDown({12, 12});
  window->m_fScale = 0;
  move->OnMouseMove({20, 20});
  EXPECT_TRUE(capture.LastNames(u"fScalar != 0.0"));
  EXPECT_FLOAT_EQ(window->m_Left.value, 13);
}

// Each drag action with the window anchor it changes missing: the assertion names it as the dialog
// shows it and the window stays where it was.
TEST_F(ButtonTest, DragsNameTheMissingAnchor) {
  enginetest::AssertionCapture capture;
  struct Case {
    const char* action;
    const char* window;  // the window's anchors
    const char16_t* assertion;
  };
  const Case cases[] = {
      {"SizeLeft", R"(Right="10" Top="0" Width="50" Height="40")", u"m_pDraggingWindow->m_bLeft"},
      {"SizeTop", R"(Left="0" Bottom="10" Width="50" Height="40")", u"m_pDraggingWindow->m_bTop"},
      {"SizeRight", R"(Left="0" Right="10" Top="0" Height="40")", u"m_pDraggingWindow->m_bWidth"},
      {"SizeBottom", R"(Left="0" Top="0" Width="50" Bottom="10")", u"m_pDraggingWindow->m_bHeight"},
      {"SizeTopLeft", R"(Left="0" Top="0" Width="50")", u"m_pDraggingWindow->m_bHeight"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    capture.Clear();
    ASSERT_TRUE(Load(std::string(R"(<Page><Page Name="window" )") + c.window + R"(>
        <Button Name="b" Left="0" Top="0" Width="5" Height="5" Action=")" +
                     c.action + R"("/></Page></Page>)"));
    CElement* window = Find(u"window");
    const float anchors[] = {window->m_Left.value, window->m_Top.value, window->m_Width.value, window->m_Height.value};
    const int x = static_cast<int>(window->m_fLeft) + 2, y = static_cast<int>(window->m_fTopEdge) + 2;
    Mouse(SDL_MOUSEBUTTONDOWN, x, y);
    Mouse(SDL_MOUSEMOTION, x + 3, y + 3);
    EXPECT_TRUE(capture.LastNames(c.assertion));
    const float after[] = {window->m_Left.value, window->m_Top.value, window->m_Width.value, window->m_Height.value};
    EXPECT_TRUE(std::equal(std::begin(anchors), std::end(anchors), std::begin(after)));
    Mouse(SDL_MOUSEBUTTONUP, x + 3, y + 3);
  }
}

// A press on another element before the button's release (lost outside the window) ends the drag:
// the window goes back, and moving over the button later moves nothing.
TEST_F(ButtonTest, ADragEndsWithThePressThatBeganIt) {
  const char* const actions[] = {"Move", "SizeRight", "SizeBottomLeft", "SizeTopLeft", "SizeBottom"};
  for (const char* action : actions) {
    SCOPED_TRACE(action);
    ASSERT_TRUE(Load(std::string(R"(<Page>
        <HtmlView Name="other" Left="0" Top="0" Width="40" Height="40"/>
        <Page Name="outer" Left="100" Top="50" Width="80" Height="40">
          <Page Name="inner" Left="0" Top="0" Width="80" Height="40">
            <Button Name="b" Left="0" Top="0" Width="20" Height="20" Action=")") +
                     action + R"("/></Page></Page></Page>)"));
    auto* outer = dynamic_cast<CPage*>(Find(u"outer"));
    ASSERT_NE(outer, nullptr);
    auto* inner = dynamic_cast<CPage*>(outer->FindElement(u"inner"));
    ASSERT_NE(inner, nullptr);
    auto* button = dynamic_cast<CButton*>(inner->FindElement(u"b"));
    ASSERT_NE(button, nullptr);
    CPage* window = button->FindDragWindow();
    ASSERT_NE(window, nullptr);
    const float anchors[] = {window->m_Left.value, window->m_Top.value, window->m_Width.value, window->m_Height.value};
    const auto current = [&] {
      return std::vector<float>{window->m_Left.value, window->m_Top.value, window->m_Width.value,
                                window->m_Height.value};
    };
    Mouse(SDL_MOUSEBUTTONDOWN, 105, 55);
    Mouse(SDL_MOUSEMOTION, 108, 57);
    ASSERT_TRUE(button->IsDragging());
    ASSERT_NE(current(), std::vector<float>(std::begin(anchors), std::end(anchors)));

    Mouse(SDL_MOUSEBUTTONDOWN, 10, 10);
    EXPECT_FALSE(button->IsDragging());
    EXPECT_EQ(current(), std::vector<float>(std::begin(anchors), std::end(anchors)));  // its cancel
    Mouse(SDL_MOUSEBUTTONUP, 10, 10);
    EXPECT_EQ(FindProbe(u"other")->clicks, 1);
    manager.UpdateLayout();
    Mouse(SDL_MOUSEMOTION, 105, 55);
    Mouse(SDL_MOUSEMOTION, 112, 60);
    EXPECT_EQ(current(), std::vector<float>(std::begin(anchors), std::end(anchors)));
  }
}

// A drag still open when the GUI goes frees every element: the button watches its window and
// does not hold it.
TEST_F(ButtonTest, AnOpenDragLetsTheTreeGo) {
  auto gui = std::make_unique<PageFixture>();
  auto tree = Parse(R"(<Page><Page Name="window" Left="10" Top="10" Width="100" Height="100">
      <Page Name="title" Left="0" Top="0" Width="100" Height="10">
        <Button Name="move" Left="0" Top="0" Width="10" Height="10" Action="Move"/></Page>
      <Rectangle Left="0" Top="0" Width="100" Height="100">
        <Page Name="corner" Right="0" Bottom="0" Width="10" Height="10">
          <Button Name="grip" Left="0" Top="0" Width="10" Height="10" Action="SizeGrip"/></Page>
      </Rectangle></Page></Page>)");
  gui->manager.Load(tree.get());
  auto* window = dynamic_cast<CPage*>(gui->Find(u"window"));
  ASSERT_NE(window, nullptr);
  Vexil3D::Weak<CElement> watched[] = {window, window->FindElement(u"title"), window->FindElement(u"corner")};
  gui->Mouse(SDL_MOUSEBUTTONDOWN, 12, 12);
  gui->Mouse(SDL_MOUSEMOTION, 14, 14);
  ASSERT_TRUE(dynamic_cast<CButton*>(dynamic_cast<CPage*>(watched[1].Get())->FindElement(u"move"))->IsDragging());
  gui.reset();
  for (const auto& element : watched) EXPECT_EQ(element.Get(), nullptr);
}

}  // namespace
