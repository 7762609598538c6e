// links: brindle_gui
// Glyph surfaces and text layout against bare FreeType, timed pass by pass in the same iterations:
// - SurfacesOverBare: GetSurface of the 95 printable ASCII glyphs at a size no one held before,
//   against FT_Load_Glyph + FT_Render_Glyph of the same glyphs ("gui/bare", aim: at most 1.3);
// - UpdateOverBare: a warm Update of 2,000 wrapped characters against an FT_Get_Char_Index +
//   FT_Get_Kerning loop over the same text ("gui/bare", aim: at most 2).
// Both check their results (surface sizes against bitmap sizes, piece count against the text).
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <TamberGUI/Text.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kFontPath = "/usr/share/fonts/truetype/open-sans/OpenSans-Regular.ttf";
constexpr char32_t kFirstPrintable = U' ';
constexpr char32_t kLastPrintable = U'~';
constexpr std::uint32_t kBaseSize = 10 * 64;
constexpr std::uint32_t kSizeSpread = 512;
constexpr std::size_t kTextLength = 2000;
constexpr float kWrapWidth = 400;
constexpr std::uint32_t kLayoutSize = 23 * 64;

struct Font {
  std::vector<char> bytes;
  TamberGUI::CFonts fonts{nullptr};
  FT_Library bareLibrary = nullptr;
  FT_Face bare = nullptr;
  Font() : bytes(Read()), fonts(NewLibrary()) {
    Vexil3D::Strong<Vexil3D::Stream> stream;
    stream.Attach(new Vexil3D::CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    fonts.AddFont(stream);
    FT_Init_FreeType(&bareLibrary);
    FT_New_Memory_Face(bareLibrary, reinterpret_cast<const FT_Byte*>(bytes.data()), static_cast<FT_Long>(bytes.size()),
                       0, &bare);
  }
  ~Font() {
    if (bare) FT_Done_Face(bare);
    FT_Done_FreeType(bareLibrary);
  }
  static std::vector<char> Read() {
    std::ifstream in(kFontPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static FT_Library NewLibrary() {
    FT_Library library = nullptr;
    FT_Init_FreeType(&library);
    return library;
  }
  TamberGUI::CFont* Get() { return fonts.GetFont(u"Open Sans", u"Regular"); }
};

void Report(benchmark::State& state, Clock::duration ours, Clock::duration bare) {
  const double oursMs = std::chrono::duration<double, std::milli>(ours).count();
  const double bareMs = std::chrono::duration<double, std::milli>(bare).count();
  if (bareMs > 0) state.counters["gui/bare"] = oursMs / bareMs;
}

void SurfacesOverBare(benchmark::State& state) {
  Font font;
  if (!font.Get() || !font.bare) return state.SkipWithError("no Open Sans: run tools/setup.sh");
  Clock::duration ours{}, bare{};
  std::uint32_t pass = 0;
  for (auto _ : state) {
    const std::uint32_t size = kBaseSize + (pass++ % kSizeSpread);
    std::uint64_t oursArea = 0, bareArea = 0;
    auto start = Clock::now();
    {
      auto fontSize = font.Get()->GetSize(size);
      FT_Face face = fontSize->GetFace();
      for (char32_t c = kFirstPrintable; c <= kLastPrintable; ++c) {
        Vexil3D::Texture* surface = fontSize->GetGlyph(FT_Get_Char_Index(face, c))->GetLayer()->GetSurface();
        if (surface) oursArea += std::uint64_t(surface->GetWidth()) * surface->GetHeight();
      }
    }
    ours += Clock::now() - start;
    start = Clock::now();
    FT_Set_Char_Size(font.bare, size, size, 0, 0);
    for (char32_t c = kFirstPrintable; c <= kLastPrintable; ++c) {
      FT_Load_Glyph(font.bare, FT_Get_Char_Index(font.bare, c), FT_LOAD_COLOR);
      FT_Render_Glyph(font.bare->glyph, FT_RENDER_MODE_NORMAL);
      bareArea += std::uint64_t(font.bare->glyph->bitmap.width) * font.bare->glyph->bitmap.rows;
    }
    bare += Clock::now() - start;
    if (oursArea != bareArea) return state.SkipWithError("surface sizes differ from FreeType's bitmaps");
  }
  Report(state, ours, bare);
}
BENCHMARK(SurfacesOverBare)->Unit(benchmark::kMicrosecond);

void UpdateOverBare(benchmark::State& state) {
  Font font;
  if (!font.Get() || !font.bare) return state.SkipWithError("no Open Sans: run tools/setup.sh");
  const std::u32string words = U"The quick brown fox jumps over the lazy dog; AVAWAY To. ";
  std::u32string text;
  while (text.size() < kTextLength) text += words;
  text.resize(kTextLength);
  TamberGUI::CFontStack stack(font.Get()->GetSize(kLayoutSize));
  TamberGUI::CText layout;
  layout.GetSettings().wrapWidth = kWrapWidth;
  layout.Update(text.c_str(), &stack);  // warm: glyphs cached
  FT_Set_Char_Size(font.bare, kLayoutSize, kLayoutSize, 0, 0);
  Clock::duration ours{}, bare{};
  for (auto _ : state) {
    auto start = Clock::now();
    layout.Update(text.c_str(), &stack);
    ours += Clock::now() - start;
    start = Clock::now();
    FT_Pos kerning = 0;
    FT_UInt previous = 0;
    for (char32_t c : text) {
      const FT_UInt index = FT_Get_Char_Index(font.bare, c);
      FT_Vector delta{};
      if (previous) FT_Get_Kerning(font.bare, previous, index, FT_KERNING_DEFAULT, &delta);
      kerning += delta.x;
      previous = index;
    }
    bare += Clock::now() - start;
    benchmark::DoNotOptimize(kerning);
    std::size_t pieces = 0;
    for (std::size_t l = 0; l < layout.GetLineCount(); ++l) pieces += layout.GetLine(l).pieces.size();
    if (pieces != text.size() || layout.GetLineCount() < 2) return state.SkipWithError("layout lost characters");
  }
  Report(state, ours, bare);
}
BENCHMARK(UpdateOverBare)->Unit(benchmark::kMicrosecond);

}  // namespace
