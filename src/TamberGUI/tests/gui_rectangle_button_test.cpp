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

}  // namespace
