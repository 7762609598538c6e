// Fuzzes faces opened from arbitrary bytes: sizes, glyph metrics, kerning and glyph surfaces.
#include <TamberGUI/Fonts.h>
#include <platform/testing/ScriptedDialogs.h>

namespace {

constexpr std::uint32_t kSizes[] = {1 * 64, 13 * 64, 40 * 64};
constexpr FT_Long kMaxGlyphs = 32;
constexpr std::uint32_t kMaxSide = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static platform::testing::ScriptedDialogs dialogs;  // assertions answer OK and go on
  dialogs.SetDefaultTaskDialogButton(IDOK);
  dialogs.SetDefaultMessageBoxAnswer(IDOK);
  dialogs.ClearCalls();
  Vexil3D::FreeTypeLibrary library = Vexil3D::CreateFreeTypeLibrary();
  if (!library) return 0;
  auto font = std::make_shared<TamberGUI::CFont>(library);
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(data, static_cast<std::uint32_t>(size)));
  FT_Face face = TamberGUI::CFonts::OpenFace(library.get(), stream, font->GetStreamRecord());
  if (face == nullptr) return 0;
  font->SetFace(face);
  for (std::uint32_t pixels : kSizes) {
    auto fontSize = font->GetSize(pixels);
    if (!fontSize) continue;
    const FT_Long count = std::min(face->num_glyphs, kMaxGlyphs);
    for (FT_Long i = 0; i < count; ++i) {
      TamberGUI::CGlyph* glyph = fontSize->GetGlyph(static_cast<std::uint32_t>(i));
      if (glyph == nullptr) continue;
      fontSize->GetKerning(0, static_cast<std::uint32_t>(i));
      // Damaged fonts may claim glyphs of any size; keep each run's memory bounded.
      const auto& metrics = glyph->GetLayer()->GetPixelMetrics();
      if (metrics.width < kMaxSide && metrics.height < kMaxSide) glyph->GetLayer()->GetSurface();
    }
  }
  return 0;
}
