// GUI pages, text elements and the chat window drawn through the game's 2-D renderer into the game
// double's frame buffer, compared with pictures filled here or with reviewed PNGs beside this file.
#include <scripthost/Rw2D.h>

#include <functional>

#include <TamberGUI/GUI/Text.h>
#include <TamberGUI/Windows/ChatWindow.h>

#include "GuiPages.h"
#include "game_double_fixture.h"

using namespace guitest;

namespace {

constexpr std::uint32_t kWidth = 200, kHeight = 64, kBlack = 0xFF000000, kSide = 4;
// A drop shadow moves one pixel per 900 lines of viewport: this frame shows it two pixels off.
constexpr std::uint32_t kShadowHeight = 1800;
constexpr std::uint32_t kLime = 0xFF00FF00, kWhite = 0xFFFFFFFF;
constexpr const char* kFonts =
    R"(<FontStack Name="Body"><Font Family="Open Sans"/><Font Family="Noto Color Emoji"/></FontStack>)";

// A 4 x 4 texture whose pixels all differ, so that any shift or stretch shows: red by column, green by row.
constexpr std::uint32_t kTexelStep = 60, kTexelBlue = 0x30;
std::uint32_t Texel(std::uint32_t x, std::uint32_t y) {
  return kBlack | (x * kTexelStep) << 16 | (y * kTexelStep) << 8 | kTexelBlue;
}

Vexil3D::Texture* MakePattern() {
  auto* texture = new Vexil3D::Texture(1);
  Vexil3D::CMipLevel* level = texture->GetMipLevel(0);
  level->Create(kSide, kSide);
  for (std::uint32_t i = 0; i < kSide * kSide; ++i) level->GetPixels()[i] = Texel(i % kSide, i / kSide);
  return texture;
}

using gamedouble::CPicture;
using Fill = std::function<void(CPicture&)>;
struct ProbePixel {
  std::uint32_t x, y, colour;
};
struct Scene {
  const char* name;
  std::string page;                           // a page to load, drawn with its debug pass when asked
  std::function<void(PageFixture&)> prepare;  // before drawing, or the whole drawing when no page
  Fill expected;                              // exact expectations; without, the reviewed PNG
  std::vector<ProbePixel> probes;             // pixels checked beside the PNG
  std::uint32_t height = kHeight;             // of the frame
};

class GuiImageTest : public doubletest::GameDoubleTest {
 protected:
  void SetUp() override {
    GameDoubleTest::SetUp();
    if (HasFatalFailure()) return;
    game->SetScreenSize(kWidth, kHeight);
    renderer = new CRw2D;
  }
  void TearDown() override {
    pages.reset();
    if (renderer != nullptr) renderer->Release();
    GameDoubleTest::TearDown();
  }
  void Draw(const Scene& scene) {
    game->SetScreenSize(kWidth, scene.height);
    game->Frame().Fill(kBlack);
    pages = std::make_unique<PageFixture>();
    pages->manager.SetScreen(0, 0, kWidth, static_cast<float>(scene.height), 1);
    pages->manager.SetTextureProvider([](const char16_t*) { return MakePattern(); });
    if (!scene.page.empty()) {
      ASSERT_TRUE(pages->Load("<Page>" + std::string(kFonts) + scene.page + "</Page>"));
    }
    if (scene.prepare) scene.prepare(*pages);
    if (scene.page.empty()) return;
    pages->manager.UpdateLayout();
    pages->manager.UpdateClipRect();
    pages->manager.GetRoot()->Render(renderer);
    if (pages->manager.GetDebugDraw()) pages->manager.GetRoot()->RenderDebug(renderer);
  }

  CRw2D* renderer = nullptr;
  std::unique_ptr<PageFixture> pages;
};

TEST_P(GuiImageTest, ScenesMatchTheirPictures) {
  const auto rect = [](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t c) -> Fill {
    return [=](CPicture& p) { p.FillRect(x, y, w, h, c); };
  };
  const auto pattern = [](std::uint32_t left, std::uint32_t top, std::uint32_t w, std::uint32_t h) -> Fill {
    return [=](CPicture& p) {
      for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) p.Set(left + x, top + y, Texel(x % kSide, y % kSide));
    };
  };
  CRw2D* const target = renderer;
  const Scene scenes[] = {
      {"colour",
       R"(<Rectangle Left="5" Top="3" Width="20" Height="9" Colour="#ff3366cc"/>)",
       {},
       rect(5, 3, 20, 9, 0xFF3366CC),
       {}},
      {"texture", R"(<Rectangle Left="9" Top="7" Texture="Pattern"/>)", {}, pattern(9, 7, kSide, kSide), {}},
      {"tile",
       R"(<Rectangle Left="9" Top="7" Width="3" Height="2" Texture="Pattern" Tile="true"/>)",
       {},
       pattern(9, 7, 3, 2),
       {}},
      // Larger than its texture: repeated copy by copy, the last row and column cut.
      {"tile-repeat",
       R"(<Rectangle Left="9" Top="7" Width="10" Height="9" Texture="Pattern" Tile="true"/>)",
       {},
       pattern(9, 7, 10, 9),
       {}},
      {"tile-scaled",
       R"(<Rectangle Left="20" Top="4" Width="7" Height="6" Texture="Pattern" Tile="true" TextureFilter="Point"/>)",
       [](PageFixture& f) { f.manager.SetScreen(0, 0, kWidth, kHeight, 2); },
       [](CPicture& p) {
         for (std::uint32_t y = 0; y < 12; ++y)
           for (std::uint32_t x = 0; x < 14; ++x) p.Set(40 + x, 8 + y, Texel(x / 2 % kSide, y / 2 % kSide));
       },
       {}},
      {"clip",
       R"(<Rectangle Left="10" Top="10" Width="20" Height="20" Clip="true">
            <Rectangle Left="10" Top="10" Width="40" Height="40" Colour="#ff00ff00"/></Rectangle>)",
       {},
       rect(20, 20, 10, 10, kLime),
       {}},
      {"button-debug",
       R"(<Button Left="10" Top="6" Width="20" Height="12" Action="Exit"/>)",
       [](PageFixture& f) { f.manager.SetDebugDraw(true); },
       [](CPicture& p) {
         p.FillRect(10, 6, 20, 12, kLime);
         p.FillRect(11, 7, 18, 10, kBlack);
       },
       {}},
      {"text",
       R"(<Rectangle Left="40" Top="0" Width="80" Height="30" Colour="#ff808080"/>
          <Text Name="sel" Left="2" Top="0" FontStack="Body" Size="16" Colour="#ffffffff" Editable="true"
                SelectionHighlightColour="#ff2040c0" DropShadow="true" CaretWidth="2" Text="Edit me"/>
          <Text Left="0" Top="40" Width="200" FontStack="Body" Size="14" Colour="#ffffd040" Align="1" Text="right"/>)",
       [](PageFixture& f) {
         auto* text = dynamic_cast<TamberGUI::GUI::CText*>(f.Find(u"sel"));
         ASSERT_NE(text, nullptr);
         text->Focus();
         text->Select(0, 4);
         text->Process(0.1f);
       },
       {},
       // The highlight from the element's left edge, the 2-pixel caret after "Edit", a stem of "right".
       // The shadow of a stem of "m" two pixels down and right, over the grey behind it.
       {{1, 1, kBlack},
        {3, 1, 0xFF2040C0},
        {31, 10, kWhite},
        {32, 10, kWhite},
        {183, 46, 0xFFFFD040},
        {42, 13, kWhite},
        {44, 15, kBlack},
        {100, 20, 0xFF808080}},
       kShadowHeight},
      {"chat",
       "",
       [target](PageFixture& f) {
         Vexil3D::CChatWindow chat(nullptr, &f.fonts, 1);
         // The oldest of the seven slots is the one on this screen.
         chat.AddLine(u"hi [#ff0000]red [#40c0ff]blue \U0001F600", 1);
         for (std::uint32_t line = 1; line < Vexil3D::CChatWindow::kLines; ++line) chat.AddLine(u"", 1);
         chat.Draw(target);
       },
       {},
       // Stems of "h", "r" and "b" in their colours, and the emoji's face.
       {{27, 37, kWhite}, {84, 37, 0xFFFF0000}, {95, 37, 0xFF40C0FF}, {160, 45, 0xFFFDE030}}},
  };
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(scene.name);
    Draw(scene);
    if (HasFatalFailure()) return;
    const std::string name = std::string("gui-") + scene.name + "." + gamedouble::NameOf(GetParam());
    if (scene.expected) {
      CPicture expected(kWidth, scene.height, kBlack);
      scene.expected(expected);
      const auto result = gamedouble::ComparePictures(game->Frame(), expected, name);
      EXPECT_TRUE(result.same) << result.report;
      continue;
    }
    const auto result = gamedouble::ComparePictureWithFile(
        game->Frame(), std::string(GUI_IMAGE_DIR "/") + scene.name + ".png", name, gamedouble::kTransformedPicture);
    EXPECT_TRUE(result.same) << result.report;
    for (const ProbePixel& probe : scene.probes) {
      EXPECT_EQ(game->Frame().At(probe.x, probe.y), probe.colour) << probe.x << "," << probe.y;
    }
  }
}

// One build is enough: the renderer reaches every build's sprite routine through the same code.
INSTANTIATE_TEST_SUITE_P(Builds, GuiImageTest, ::testing::Values(gamedouble::kBuilds[0]), doubletest::BuildName);

}  // namespace
