// Fuzzes event sequences on an editable, selectable text element with new lines allowed: keys with
// modifiers, typed text, clicks and drags, context-menu commands, time and layout changes.
#include "PageFuzzSupport.h"

namespace {

constexpr std::uint32_t kPixelSize = 18 * 64;  // the page's Size at scale 1

constexpr char kPage[] = R"(<Page>
  <FontStack Name="Body"><Font Family="Open Sans"/><Font Family="Noto Color Emoji"/></FontStack>
  <Text Name="Input" Left="10" Top="10" Width="300" FontStack="Body" Size="18" Colour="#ffffff" Editable="true"
        AllowNewLines="true" ColourCodes="true" DropShadow="true" Text="seed&#10;text"/>
</Page>)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  guifuzz::AnswerAssertions();
  static guifuzz::Fonts fonts;
  // Held across runs, so glyphs are rendered once and runs measure the element, not FreeType.
  static const std::shared_ptr<TamberGUI::CFontSize> held[] = {
      fonts.registry.GetFont(u"Open Sans", u"Regular")->GetSize(kPixelSize),
      fonts.registry.GetFont(u"Noto Color Emoji", u"Regular")->GetSize(kPixelSize)};
  Vexil3D::CFileSystem files;
  TamberGUI::GUI::CManager manager(&files, &fonts.registry);
  manager.SetScreen(0, 0, 640, 480, 1);
  manager.SetFocusMode(TamberGUI::GUI::FOCUS_MODE_FLAG);
  manager.SetFocusFlag(true);
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(kPage, sizeof(kPage) - 1));
  std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
  manager.Load(tree.get());
  if (TamberGUI::GUI::CElement* input = manager.GetRoot()->FindElement(u"Input")) input->Focus();
  guifuzz::CountingI2D renderer;
  guifuzz::Replay(&manager, data, size, &renderer);
  manager.UpdateLayout();
  manager.GetRoot()->Render(&renderer);
  return 0;
}
