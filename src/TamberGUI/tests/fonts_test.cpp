// Font registries, sizes, glyph bitmaps and the stream bridge over real packaged fonts.
#include <TamberFont/Fonts.h>
#include <TamberGUI/Fonts.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "AssertionCapture.h"
#include "GuiFixtures.h"

using namespace TamberGUI;
using Vexil3D::CARGB;

namespace {

constexpr std::uint32_t kPixels = 64;  // 26.6 units per pixel
constexpr std::uint32_t kEmojiStrike = 109;

std::vector<unsigned char> ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// One MONO strike of 8 px with one glyph "A": a 4 x 2 box, rows 0xF0 and 0x90.
const char kBdf[] =
    "STARTFONT 2.1\nFONT -test-Box-Medium-R-Normal--8-80-75-75-C-40-ISO10646-1\nSIZE 8 75 75\n"
    "FONTBOUNDINGBOX 4 2 0 0\nSTARTPROPERTIES 3\nFAMILY_NAME \"Box\"\nFONT_ASCENT 6\nFONT_DESCENT 2\n"
    "ENDPROPERTIES\nCHARS 1\nSTARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 5 0\nBBX 4 2 0 0\nBITMAP\nF0\n90\n"
    "ENDCHAR\nENDFONT\n";

// A font's bytes behind a stream that cannot seek.
class UnseekableStream : public Vexil3D::CMemoryStream {
 public:
  using CMemoryStream::CMemoryStream;
  bool Seek(std::int64_t, std::uint32_t) override { return false; }
};

// Refuses positions past its end.
class StrictStream : public Vexil3D::CMemoryStream {
 public:
  using CMemoryStream::CMemoryStream;
  bool Seek(std::int64_t offset, std::uint32_t origin) override {
    return origin == Vexil3D::STREAM_SEEK_BEGIN && std::uint64_t(offset) <= GetLength() &&
           CMemoryStream::Seek(offset, origin);
  }
};

struct Registry {
  guitest::FontFiles files;
  CFonts fonts{guitest::NewLibrary()};
  Registry() { files.Fill(&fonts); }
};

}  // namespace

TEST(Fonts, RegistryLookupsAreExact) {
  Registry r;
  struct Case {
    const char16_t* family;
    const char16_t* style;
    bool found;
  } cases[] = {{u"Open Sans", u"Regular", true}, {u"Open Sans", u"Bold", false}, {u"open sans", u"Regular", false},
               {u"DejaVu Sans", u"Book", true},  {u"DejaVu Sans", u"Regular", false},
               {u"Noto Color Emoji", u"Regular", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.family));
    EXPECT_EQ(r.fonts.GetFont(c.family, c.style) != nullptr, c.found);
  }
}

TEST(Fonts, SizesAreSharedWhileHeldAndRebuiltAfter) {
  Registry r;
  CFont* font = r.fonts.GetFont(u"Open Sans", u"Regular");
  auto first = font->GetSize(23 * kPixels);
  ASSERT_TRUE(first);
  EXPECT_EQ(font->GetSize(23 * kPixels), first);
  EXPECT_NE(font->GetSize(12 * kPixels), first);
  std::weak_ptr<CFontSize> watch = first;
  first.reset();
  EXPECT_TRUE(watch.expired());
  auto again = font->GetSize(23 * kPixels);
  ASSERT_TRUE(again);
  EXPECT_FLOAT_EQ(again->GetScale(), 1.0f);
  EXPECT_EQ(again->GetMetrics().yPpem, 23);
}

TEST(Fonts, KerningAndAdvancesMatchFreeType) {
  Registry r;
  auto size = r.fonts.GetFont(u"Open Sans", u"Regular")->GetSize(23 * kPixels);
  ASSERT_TRUE(size && size->HasKerning());
  FT_Face face = size->GetFace();
  const FT_UInt a = FT_Get_Char_Index(face, 'A'), v = FT_Get_Char_Index(face, 'V');
  // Another size selected in between must not leak into this size's answers.
  auto other = r.fonts.GetFont(u"Open Sans", u"Regular")->GetSize(40 * kPixels);
  other->GetKerning(a, v);
  EXPECT_FLOAT_EQ(size->GetKerning(a, v), -1.0f);
  FT_Set_Char_Size(face, 23 * kPixels, 23 * kPixels, 0, 0);
  FT_Load_Glyph(face, a, FT_LOAD_COLOR);
  EXPECT_FLOAT_EQ(size->GetGlyph(a)->GetHorizontalAdvance(), face->glyph->metrics.horiAdvance / 64.0f);
}

TEST(Fonts, EmojiStrikeIsScaledToTheRequestedSize) {
  Registry r;
  CFont* font = r.fonts.GetFont(u"Noto Color Emoji", u"Regular");
  auto size = font->GetSize(23 * kPixels);
  ASSERT_TRUE(size);
  EXPECT_FLOAT_EQ(size->GetScale(), 23.0f / kEmojiStrike);
  CGlyph* glyph = size->GetGlyph(FT_Get_Char_Index(size->GetFace(), 0x1F600));
  Vexil3D::Texture* surface = glyph->GetLayer()->GetSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(glyph->GetLayer()->GetPixelMode(), FT_PIXEL_MODE_BGRA);
  EXPECT_GT(surface->GetWidth(), 100u);
  EXPECT_NEAR(glyph->GetHorizontalAdvance(), 23.0f * 1.2f, 23.0f * 0.3f);
}

// Sizes around the largest glyph surface: under it the glyph renders at its size, past it there is no surface (at
// once, however large) while the metrics still lay the text out.
TEST(Fonts, GlyphsPastTheLargestSurfaceAreNotRendered) {
  Registry r;
  CFont* font = r.fonts.GetFont(u"Open Sans", u"Regular");
  const FT_UInt index = FT_Get_Char_Index(font->GetFace(), 'H');
  const struct {
    std::uint32_t pixels;
    bool rendered;
  } cases[] = {{64, true}, {1024, true}, {2400, true}, {3000, false}, {20000, false}, {60000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pixels);
    auto size = font->GetSize(c.pixels * kPixels);
    ASSERT_TRUE(size);
    CGlyph* glyph = size->GetGlyph(index);
    ASSERT_NE(glyph, nullptr);
    // 'H' stands about 0.71 of the size tall in this face: 2400 pixels give a glyph just under the side.
    EXPECT_GT(glyph->GetLayer()->GetMetrics().height, 0.5f * float(c.pixels) * kPixels);
    Vexil3D::Texture* surface = glyph->GetLayer()->GetSurface();
    EXPECT_EQ(surface != nullptr, c.rendered);
    if (surface != nullptr) {
      EXPECT_LE(surface->GetHeight(), CGlyphLayer::kMaxSurfaceSide);
      EXPECT_GT(surface->GetHeight(), c.pixels / 2);
    }
  }
}

TEST(Fonts, BlankGlyphsHaveNoSurface) {
  Registry r;
  auto size = r.fonts.GetFont(u"Open Sans", u"Regular")->GetSize(23 * kPixels);
  CGlyph* space = size->GetGlyph(FT_Get_Char_Index(size->GetFace(), ' '));
  EXPECT_EQ(space->GetLayer()->GetSurface(), nullptr);
  EXPECT_GT(space->GetHorizontalAdvance(), 0.0f);
  CGlyphLayer* layer = size->GetGlyph(FT_Get_Char_Index(size->GetFace(), 'H'))->GetLayer();
  Vexil3D::Texture* surface = layer->GetSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(layer->GetSurface(), surface);
  EXPECT_EQ(layer->GetPixelMode(), FT_PIXEL_MODE_GRAY);
  EXPECT_EQ(surface->GetMipLevel(0)->GetPixels()[0].argb & 0x00FFFFFFu, 0x00FFFFFFu);
}

TEST(Fonts, BitmapRowsConvertByPixelMode) {
  enginetest::AssertionCapture capture;
  struct Case {
    const char* name;
    unsigned char mode;
    std::vector<unsigned char> bytes;
    unsigned width;
    std::vector<std::uint32_t> row0;
    bool supported;
  } cases[] = {
      {"mono", FT_PIXEL_MODE_MONO, {0xA0, 0x80}, 9,
       {~0u, 0x00FFFFFF, ~0u, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, ~0u}, true},
      {"gray", FT_PIXEL_MODE_GRAY, {0x00, 0x7F, 0xFF}, 3, {0x00FFFFFF, 0x7FFFFFFF, 0xFFFFFFFF}, true},
      // Un-premultiplied (0x40 * 255 / 0x80 = 0x7F); alpha 0 keeps its colour; a colour above its alpha clamps.
      {"bgra", FT_PIXEL_MODE_BGRA, {0x10, 0x20, 0x40, 0x80, 0x11, 0x22, 0x33, 0x00, 0xFF, 0xFF, 0xFF, 0x10}, 3,
       {0x807F3F1Fu, 0x00332211u, 0x10FFFFFFu}, true},
      {"lcd", FT_PIXEL_MODE_LCD, {0, 0, 0}, 1, {0xDEADBEEF}, false},
      {"rows shorter than the width", FT_PIXEL_MODE_BGRA, {1, 2, 3}, 1, {0}, false},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    FT_Bitmap bitmap{};
    bitmap.rows = 1;
    bitmap.width = c.width;
    bitmap.pitch = static_cast<int>(c.bytes.size());
    bitmap.buffer = c.bytes.data();
    bitmap.pixel_mode = c.mode;
    CFreeTypeBitmapImageData image(bitmap);
    std::vector<CARGB> out(c.width, CARGB(0xDEADBEEFu));
    EXPECT_EQ(image.GetRow(0, out.data()), c.supported);
    for (unsigned x = 0; x < c.width; ++x) EXPECT_EQ(out[x].argb, c.row0[x]) << x;
    EXPECT_TRUE(image.GetRow(1, out.data()));  // past the rows: transparent black
    for (unsigned x = 0; x < c.width; ++x) EXPECT_EQ(out[x].argb, 0u);
  }
  EXPECT_EQ(capture.Count(), 1u);
}

TEST(Fonts, OneStrikeBdfFontEndToEnd) {
  CFonts fonts(guitest::NewLibrary());
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(kBdf, sizeof(kBdf) - 1));
  ASSERT_TRUE(fonts.AddFont(stream));
  CFont* font = fonts.GetFont(u"Box", u"Regular");
  ASSERT_NE(font, nullptr);
  auto size = font->GetSize(16 * kPixels);
  ASSERT_TRUE(size);
  EXPECT_FLOAT_EQ(size->GetScale(), 2.0f);
  CGlyph* glyph = size->GetGlyph(FT_Get_Char_Index(font->GetFace(), 'A'));
  EXPECT_FLOAT_EQ(glyph->GetHorizontalAdvance(), 10.0f);
  Vexil3D::Texture* surface = glyph->GetLayer()->GetSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(glyph->GetLayer()->GetPixelMode(), FT_PIXEL_MODE_MONO);
  ASSERT_EQ(surface->GetWidth(), 4u);
  ASSERT_EQ(surface->GetHeight(), 2u);
  const CARGB* pixels = surface->GetMipLevel(0)->GetPixels();
  const std::uint32_t expected[] = {~0u, ~0u, ~0u, ~0u, ~0u, 0x00FFFFFF, 0x00FFFFFF, ~0u};
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(pixels[i].argb, expected[i]) << i;
}

TEST(Fonts, StreamReferencesBalanceThroughTheBridge) {
  const std::vector<unsigned char> bytes = ReadFile(GUI_FONT_DEJAVU);
  const unsigned char junk[] = "not a font at all";
  struct Case {
    const void* data;
    std::uint32_t size;
    bool seeks;
    bool opens;
  } cases[] = {{bytes.data(), static_cast<std::uint32_t>(bytes.size()), true, true},
               {bytes.data(), static_cast<std::uint32_t>(bytes.size()), false, false},
               {junk, sizeof(junk), true, false},
               {junk, 0, true, false}};
  FT_Library library = guitest::NewLibrary();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << (c.seeks ? "" : " unseekable"));
    Vexil3D::Strong<Vexil3D::Stream> stream;
    if (c.seeks) {
      stream.Attach(new Vexil3D::CMemoryStream(c.data, c.size));
    } else {
      stream.Attach(new UnseekableStream(c.data, c.size));
    }
    FT_StreamRec record{};
    FT_Face face = Vexil3D::CFonts::OpenFace(library, stream, &record);
    EXPECT_EQ(face != nullptr, c.opens);
    EXPECT_EQ(stream->GetRefCount(), c.opens ? 2 : 1);
    if (face) FT_Done_Face(face);
    EXPECT_EQ(stream->GetRefCount(), 1);
  }
  // A read of count 0 is a seek, answering 0 for success and non-zero for failure.
  Vexil3D::Strong<Vexil3D::Stream> strict;
  strict.Attach(new StrictStream(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  FT_StreamRec record{};
  FT_Face face = Vexil3D::CFonts::OpenFace(library, strict, &record);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(record.read(&record, 0, nullptr, 0), 0u);
  EXPECT_NE(record.read(&record, bytes.size() + 1, nullptr, 0), 0u);
  unsigned char buffer[4];
  EXPECT_EQ(record.read(&record, bytes.size() + 1, buffer, sizeof(buffer)), 0u);
  FT_Done_Face(face);
  EXPECT_EQ(strict->GetRefCount(), 1);
  FT_Done_FreeType(library);
}

TEST(Fonts, FontLibraryRegistryRemovesStylesOnly) {
  guitest::FontFiles files;
  Vexil3D::CFonts fonts(guitest::NewLibrary());
  for (const char* path : guitest::kFontFiles) {
    Vexil3D::Strong<Vexil3D::Stream> stream;
    stream.Attach(files.Open(path));
    EXPECT_TRUE(fonts.AddFont(stream));
  }
  Vexil3D::Strong<Vexil3D::Stream> junk;
  junk.Attach(new Vexil3D::CMemoryStream("x", 1));
  EXPECT_FALSE(fonts.AddFont(junk));
  EXPECT_EQ(junk->GetRefCount(), 1);
  ASSERT_NE(fonts.GetFont(u"DejaVu Sans", u"Book"), nullptr);
  fonts.Remove(u"DejaVu Sans", u"Book");
  fonts.Remove(u"DejaVu Sans", u"Book");
  EXPECT_EQ(fonts.GetFont(u"DejaVu Sans", u"Book"), nullptr);
  EXPECT_NE(fonts.GetFont(u"Open Sans", u"Regular"), nullptr);
}

TEST(Fonts, SizesOutliveTheirRegistry) {
  std::shared_ptr<CFontSize> size;
  {
    Registry r;
    size = r.fonts.GetFont(u"Open Sans", u"Regular")->GetSize(20 * kPixels);
  }
  // The registry and its library are gone from the owner's view; the face and library live on.
  ASSERT_NE(size->GetGlyph(FT_Get_Char_Index(size->GetFace(), 'g'))->GetLayer()->GetSurface(), nullptr);
  size.reset();
}

TEST(Fonts, LazyFaceFailureGivesNoSize) {
  enginetest::AssertionCapture capture;
  guitest::FontFiles files;
  CFonts fonts(guitest::NewLibrary());
  auto good = std::make_shared<CFont>(fonts.GetLibrary(), [&] { return files.Open(GUI_FONT_OPEN_SANS); },
                                      u"Lazy", u"Regular");
  auto bad = std::make_shared<CFont>(fonts.GetLibrary(), [] { return static_cast<Vexil3D::Stream*>(nullptr); },
                                     u"Gone", u"Regular");
  fonts.AddFont(good);
  fonts.AddFont(bad);
  EXPECT_TRUE(fonts.GetFont(u"Lazy", u"Regular")->GetSize(10 * kPixels));
  EXPECT_FALSE(fonts.GetFont(u"Gone", u"Regular")->GetSize(10 * kPixels));
  EXPECT_FALSE(bad->GetSize(11 * kPixels));
  EXPECT_EQ(capture.Count(), 1u);  // asked once, not on every use
  EXPECT_TRUE(capture.LastNames(u"m_pFace"));
}

TEST(Fonts, StrikeWithoutPixelSizeIsAFailedSize) {
  enginetest::AssertionCapture capture;
  const char bdf[] =
      "STARTFONT 2.1\nFONT -test-Zero-Medium-R-Normal--0-0-75-75-C-40-ISO10646-1\nSIZE 0 75 75\n"
      "FONTBOUNDINGBOX 4 2 0 0\nSTARTPROPERTIES 4\nFAMILY_NAME \"Zero\"\nPIXEL_SIZE 0\nFONT_ASCENT 0\n"
      "FONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\nSTARTCHAR A\nENCODING 65\nSWIDTH 0 0\nDWIDTH 5 0\nBBX 4 2 0 0\n"
      "BITMAP\nF0\n90\nENDCHAR\nENDFONT\n";
  CFonts fonts(guitest::NewLibrary());
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(bdf, sizeof(bdf) - 1));
  ASSERT_TRUE(fonts.AddFont(stream));
  EXPECT_FALSE(fonts.GetFont(u"Zero", u"Regular")->GetSize(23 * kPixels));  // no division by a zero strike
  EXPECT_TRUE(capture.LastNames(u"ppem != 0"));
}
