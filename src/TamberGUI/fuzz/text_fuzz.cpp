// Fuzzes text layout: arbitrary UTF-32 text and settings through Update, caret queries, index
// conversions, selection and rendering into a counting I2D.
#include <TamberGUI/Text.h>
#include <platform/testing/ScriptedDialogs.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class CountingI2D : public Vexil3D::I2D {
 public:
  bool IsReady() override { return true; }
  void BeginFrame() override {}
  void SetOption(int, int) override {}
  void GetViewport(Vexil3D::CViewport* viewport) override { *viewport = {}; }
  bool DrawQuad(Vexil3D::Material*, const Vexil3D::CQuad*) override { return ++count, true; }
  void EndFrame() override {}
  std::size_t count = 0;
};

// The head of each input: the layout settings.
struct Head {
  std::uint8_t flags[2];
  std::uint8_t transform;
  std::uint8_t sizeIndex;
  float wrap, alignment, spacing, leading, queryX, queryY;
};

constexpr std::uint32_t kSizes[] = {8 * 64, 23 * 64, 64 * 64};

struct Fonts {
  std::vector<std::vector<char>> files;
  TamberGUI::CFonts registry{nullptr};
  Fonts() : registry(MakeLibrary()) {
    for (const char* path : {GUI_FONT_OPEN_SANS, GUI_FONT_EMOJI}) {
      std::ifstream in(path, std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      Vexil3D::Strong<Vexil3D::Stream> stream;
      stream.Attach(new Vexil3D::CMemoryStream(files.back().data(), static_cast<std::uint32_t>(files.back().size())));
      registry.AddFont(stream);
    }
  }
  static FT_Library MakeLibrary() {
    FT_Library library = nullptr;
    FT_Init_FreeType(&library);
    return library;
  }
};

float Finite(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::testing::ScriptedDialogs dialogs;  // assertions answer OK and go on
  dialogs.SetDefaultTaskDialogButton(IDOK);
  dialogs.SetDefaultMessageBoxAnswer(IDOK);
  dialogs.ClearCalls();
  static Fonts fonts;
  Head head{};
  if (size < sizeof(head)) return 0;
  std::memcpy(&head, data, sizeof(head));
  std::u32string text((size - sizeof(head)) / sizeof(char32_t), U'\0');
  std::memcpy(text.data(), data + sizeof(head), text.size() * sizeof(char32_t));

  const std::size_t which = head.sizeIndex % std::size(kSizes);
  // Held across runs, so glyphs are rendered once and runs measure layout, not FreeType.
  static std::shared_ptr<TamberGUI::CFontSize> primaries[std::size(kSizes)], emojis[std::size(kSizes)];
  if (!primaries[which]) {
    primaries[which] = fonts.registry.GetFont(u"Open Sans", u"Regular")->GetSize(kSizes[which]);
    emojis[which] = fonts.registry.GetFont(u"Noto Color Emoji", u"Regular")->GetSize(kSizes[which]);
  }
  TamberGUI::CFontStack stack(primaries[which], {emojis[which]});
  TamberGUI::CText layout;
  auto& s = layout.GetSettings();
  const std::uint8_t f = head.flags[0], g = head.flags[1];
  s.allowNewLines = f & 1;
  s.wordWrap = f >> 1 & 1;
  s.characterWrap = f >> 2 & 1;
  s.includeTrailingWhitespace = f >> 3 & 1;
  s.includeTrailingBlankLines = f >> 4 & 1;
  s.ignoreSpaces = f >> 5 & 1;
  s.debug = f >> 6 & 1;
  s.colourCodes = f >> 7 & 1;
  s.rawCodes = g & 1;
  s.transform = head.transform % 3;
  s.wrapWidth = head.wrap;  // any float, infinities and NaN included
  s.alignment = head.alignment;
  s.lineSpacing = Finite(head.spacing, 1);
  s.leading = Finite(head.leading, 1);
  layout.AddShadow(1, 1, 0xFF000000u);
  layout.Update(text.c_str(), &stack);

  TamberGUI::CText::tCaretPosition caret;
  for (bool clamp : {false, true}) {
    if (layout.GetCaretPosition(head.queryX, head.queryY, clamp, &caret)) {
      const auto index = layout.CaretToCharacterIndex(caret);
      TamberGUI::CText::tCaretPosition found;
      layout.FindCharacter(index, &found);
      layout.CaretToIndex(found);
      layout.GetCaretX(found);
    }
  }
  const std::uint32_t length = static_cast<std::uint32_t>(text.size());
  *layout.GetSelection(true) = {length / 3, 1, length + 1, 0};
  CountingI2D renderer;
  layout.RenderCharacters(&renderer, g >> 1 & 1, g >> 2 & 1, g >> 3 & 1, 0xFF00FF00u, {});
  layout.RenderSelection(&renderer, {});
  layout.FindCharacter({length, 0}, &caret);
  layout.RenderCaret(&renderer, caret, 2, 0xFFFFFFFFu, {});
  return 0;
}
