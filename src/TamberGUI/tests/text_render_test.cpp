// Drawing a layout through clip rectangles and drawing areas: a glyph's surface is made only when its
// quad can show, at small sizes and at the thousands of pixels a page may ask for, and what shows is
// drawn exactly as when every glyph has its surface.
#include <TamberGUI/Text.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <tuple>

#include "GuiFixtures.h"

using namespace TamberGUI;

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct Area {
  float x1, y1, x2, y2;
};

struct RenderCase : testing::Test {
  guitest::FontFiles files;
  CFonts fonts{guitest::NewLibrary()};
  RenderCase() { files.Fill(&fonts); }

  // A fresh stack: no other holder keeps these sizes, so none of their glyphs has a surface yet.
  std::unique_ptr<CFontStack> Stack(std::uint32_t pixels) {
    return std::make_unique<CFontStack>(
        fonts.GetFont(u"Open Sans", u"Regular")->GetSize(pixels * 64),
        std::vector{fonts.GetFont(u"Noto Color Emoji", u"Regular")->GetSize(pixels * 64)});
  }
};

std::set<CGlyphLayer*> Layers(const CText& text, bool surfacedOnly) {
  std::set<CGlyphLayer*> layers;
  for (std::size_t l = 0; l < text.GetLineCount(); ++l) {
    for (const auto& piece : text.GetLine(l).pieces) {
      for (std::size_t g = 0; g < piece.glyphs.size(); ++g) {
        CGlyphLayer* layer = piece.glyphs[g].glyph ? piece.glyphs[g].glyph->GetLayer() : nullptr;
        if (layer != nullptr && (!surfacedOnly || layer->HasSurface())) layers.insert(layer);
      }
    }
  }
  return layers;
}

std::uint64_t SurfaceBytes(const std::set<CGlyphLayer*>& layers) {
  std::uint64_t bytes = 0;
  for (CGlyphLayer* layer : layers) {
    Vexil3D::Texture* surface = layer->GetSurface();
    bytes += std::uint64_t(surface->GetWidth()) * surface->GetHeight() * 4;
  }
  return bytes;
}

// Draws the layout (with a shadow) clipped to clip inside a renderer whose drawing area is screen (none when
// empty): the quads drawn.
std::vector<guitest::RecordingI2D::Draw> Draw(CText& text, const Area& clip, const Area& screen) {
  auto& s = text.GetSettings();
  std::tie(s.clipX1, s.clipY1, s.clipX2, s.clipY2) = std::tuple{clip.x1, clip.y1, clip.x2, clip.y2};
  guitest::RecordingI2D renderer;
  renderer.viewport = {0, 1, screen.x1, screen.y1, screen.x2 - screen.x1, screen.y2 - screen.y1};
  text.RenderCharacters(&renderer, true, false, false, 0, {});
  return renderer.draws;
}

auto Key(const guitest::RecordingI2D::Draw& d) {
  return std::tuple{d.material, d.x, d.y, d.width, d.height, d.colour.argb, d.u, d.v, d.uExtent, d.vExtent};
}

std::set<CGlyphLayer*> DrawnLayers(const CText& text, const std::vector<guitest::RecordingI2D::Draw>& draws) {
  std::set<CGlyphLayer*> drawn;
  for (CGlyphLayer* layer : Layers(text, true)) {
    for (const auto& d : draws) {
      if (d.material == layer->GetMaterial()) drawn.insert(layer);
    }
  }
  return drawn;
}

// The quads with a pixel on the screen (all of them without one).
std::vector<guitest::RecordingI2D::Draw> OnScreen(std::vector<guitest::RecordingI2D::Draw> draws, const Area& screen) {
  if (screen.x2 <= screen.x1) return draws;
  std::erase_if(draws, [&screen](const auto& d) {
    return d.x + d.width <= screen.x1 || d.x >= screen.x2 || d.y + d.height <= screen.y1 || d.y >= screen.y2;
  });
  return draws;
}

Area Grown(const Area& a, float by) { return {a.x1 - by, a.y1 - by, a.x2 + by, a.y2 + by}; }

}  // namespace

// Windows of clip and screen laid over text at several sizes, ink at the edges of every window: a glyph
// gets a surface only when it shows within a few pixels of the window (FreeType's bitmaps may outgrow the
// metrics by a pixel or so), and the quads drawn are those drawn when every glyph of the text has its
// surface already.
TEST_F(RenderCase, OnlyGlyphsThatCanShowGetASurfaceAndThePictureStays) {
  const std::u32string paragraph =
      U"Brindlecore draws\tWAVE AVA text \U0001F600 at any size;\nglyphs off the screen are laid out\n"
      U"but never rendered. Quick brown foxes jump over lazy dogs 0123456789 \U0001F680!";
  const struct {
    std::uint32_t pixels;
    float originX, originY;
  } sizes[] = {{16, 13, 7}, {40, -25.5f, 30}, {1500, 0, 0}, {2000, -300, -200}};
  for (const auto& size : sizes) {
    std::uint32_t windowsDrawn = 0;
    for (float along : {0.0f, 0.37f, 0.81f}) {
      for (float up : {0.0f, 0.3f, 0.65f}) {
        for (bool byScreen : {false, true}) {
          SCOPED_TRACE(std::to_string(size.pixels) + " at " + std::to_string(along) + "," + std::to_string(up) +
                       (byScreen ? " screen" : " clip"));
          const auto stack = Stack(size.pixels);
          CText text;
          text.GetSettings().originX = size.originX;
          text.GetSettings().originY = size.originY;
          text.GetSettings().wrapWidth = float(size.pixels) * 12;
          text.AddShadow(3, 3, 0xFF000000u);
          text.Update(paragraph.c_str(), stack.get());
          // A window the size of a small screen at a piece that far along the text, that high above its
          // baseline, at no whole-pixel offset.
          std::vector<std::pair<const CText::tLine*, const CText::tPiece*>> pieces;
          for (std::size_t l = 0; l < text.GetLineCount(); ++l) {
            for (const auto& piece : text.GetLine(l).pieces) pieces.push_back({&text.GetLine(l), &piece});
          }
          ASSERT_FALSE(pieces.empty());
          const auto [line, piece] = pieces[std::size_t(along * float(pieces.size()))];
          const float x = size.originX + line->startX + line->alignmentOffset + piece->x - 11.3f;
          const float y = size.originY + line->top + line->baselineOffset - up * line->lineHeight - 4.6f;
          const Area window{x, y, x + 322.0f, y + 194.8f};
          const Area open{-kInfinity, -kInfinity, kInfinity, kInfinity}, none{0, 0, 0, 0};
          const auto clip = byScreen ? open : window, screen = byScreen ? window : none;
          const auto fresh = Draw(text, clip, screen);
          const std::set<CGlyphLayer*> surfaced = Layers(text, true);
          windowsDrawn += fresh.empty() ? 0 : 1;
          EXPECT_LE(SurfaceBytes(surfaced), std::uint64_t(64) << 20);
          // Now every glyph within reach of a grown window gets its surface, and those drawn there are the
          // only ones allowed one before.
          const float reach = 3 * std::max(1.0f, stack->GetFallbacks()[0]->GetScale());
          const auto near = DrawnLayers(
              text, Draw(text, byScreen ? open : Grown(window, reach), byScreen ? Grown(window, reach) : none));
          for (CGlyphLayer* layer : surfaced) EXPECT_TRUE(near.count(layer)) << "a surface for a glyph far out";
          if (size.pixels <= 40) {  // at the large sizes every surface of the text would be megabytes
            Draw(text, open, none);
            for (CGlyphLayer* layer : Layers(text, false)) {
              EXPECT_EQ(layer->HasSurface(), layer->GetMetrics().width >= 1 && layer->GetMetrics().height >= 1);
            }
          }
          // Glyphs that have their surface go to the quad routine, which knows the clip but not the screen:
          // the pictures compare on the screen.
          const auto warm = OnScreen(Draw(text, clip, screen), screen), shown = OnScreen(fresh, screen);
          ASSERT_EQ(warm.size(), shown.size());
          for (std::size_t i = 0; i < warm.size(); ++i) EXPECT_EQ(Key(warm[i]), Key(shown[i])) << i;
        }
      }
    }
    EXPECT_GE(windowsDrawn, 6u) << size.pixels;
  }
}

// Without a renderer nothing is drawn, so nothing is rendered either.
TEST_F(RenderCase, NoRendererMakesNoSurface) {
  const auto stack = Stack(30);
  CText text;
  text.Update(U"nothing drawn", stack.get());
  text.RenderCharacters(nullptr, false, true, false, 0, {});
  EXPECT_TRUE(Layers(text, true).empty());
}

// Where nothing can be drawn (a clip or drawing area of no size or turned inside out, a position that is not
// a number or lies at infinity), no glyph gets a surface, whatever the size, the alignment or the shadow; the
// same text drawn afterwards through an open window still shows.
TEST_F(RenderCase, NothingDrawableMakesNoSurface) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  const std::u32string line = U"Wide glyphs WAVE \U0001F600 over and over and over again, and again";
  const Area open{-kInfinity, -kInfinity, kInfinity, kInfinity}, none{0, 0, 0, 0};
  const struct {
    const char* what;
    Area clip, screen;
    float originX, originY, offsetX;
  } rows[] = {
      {"clip of no width", {300, -kInfinity, 300, kInfinity}, none, 0, 0, 0},
      {"clip of no height", {-kInfinity, 40, kInfinity, 40}, none, 0, 0, 0},
      {"clip of no size", {300, 40, 300, 40}, none, 0, 0, 0},
      {"clip turned inside out", {900, 600, 100, 10}, none, 0, 0, 0},
      {"clip turned inside out in x", {900, -kInfinity, 100, kInfinity}, none, 0, 0, 0},
      {"clip turned inside out in y", {-kInfinity, 600, kInfinity, 10}, none, 0, 0, 0},
      {"clip turned inside out by less than a glyph", {310, -kInfinity, 300, kInfinity}, none, 0, 0, 0},
      {"clip outside a screen", {2000, 2000, 3000, 3000}, {0, 0, 800, 600}, 0, 0, 0},
      {"clip inside out in a screen", {700, 500, 100, 100}, {0, 0, 800, 600}, 0, 0, 0},
      {"origin not a number", open, none, kNaN, 0, 0},
      {"origin not a number in y", open, none, 0, kNaN, 0},
      {"origin not a number on a screen", open, {0, 0, 800, 600}, kNaN, kNaN, 0},
      {"origin at infinity", open, none, kInfinity, 0, 0},
      {"origin at minus infinity", open, none, -kInfinity, -kInfinity, 0},
      {"offset not a number", open, none, 0, 0, kNaN},
      {"offset not a number on a screen", open, {0, 0, 800, 600}, 0, 0, kNaN},
  };
  for (std::uint32_t pixels : {24u, 600u}) {
    for (float alignment : {0.0f, 0.5f, 1.0f}) {
      for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.what) + " at " + std::to_string(pixels) + ", aligned " +
                     std::to_string(alignment));
        const auto stack = Stack(pixels);
        CText text;
        auto& s = text.GetSettings();
        s.alignment = alignment;
        s.wrapWidth = float(pixels) * 20;
        s.originX = row.originX;
        s.originY = row.originY;
        text.AddShadow(2, 2, 0xFF000000u);
        text.Update(line.c_str(), stack.get());
        std::tie(s.clipX1, s.clipY1, s.clipX2, s.clipY2) =
            std::tuple{row.clip.x1, row.clip.y1, row.clip.x2, row.clip.y2};
        guitest::RecordingI2D renderer;
        renderer.viewport = {
            0, 1, row.screen.x1, row.screen.y1, row.screen.x2 - row.screen.x1, row.screen.y2 - row.screen.y1};
        text.RenderCharacters(&renderer, true, false, false, 0, {row.offsetX, 0});
        EXPECT_TRUE(renderer.draws.empty());
        EXPECT_EQ(Layers(text, true).size(), 0u);
        s.originX = s.originY = 0;
        EXPECT_FALSE(Draw(text, open, {0, 0, 800, 600}).empty());
      }
    }
  }
}
