#pragma once
// The GUI's font registry: family -> style -> shared CFont; each font hands out shared CFontSize
// objects per pixel size (cached weakly), each size caches CGlyph objects per glyph index, and each
// glyph's one CGlyphLayer renders its bitmap into a texture on first request.
//
// One face serves every size of a font, so each FreeType call for a size first selects it (a size
// that is already selected is not selected again). The face belongs to its font: others must not
// select sizes or load glyphs on it.
// Errors: null results. A font whose face cannot be opened, a size FreeType refuses (or a one-strike
// face whose strike has no pixel size) give null sizes; FreeType errors on loading and rendering are
// assertions, after which the glyph has no surface. Every font keeps its FreeType library alive,
// so faces end before their library whatever order the holders let go in.
// Locking: none (the game's main thread only; shared_ptr counts are atomic).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include <engine/Colour.h>
#include <engine/Material.h>
#include <engine/Stream.h>
#include <engine/Texture.h>
#include <engine/VexilReference.h>

#include <TamberFont/FreeTypeStream.h>

namespace TamberGUI {

class CFont;
class CFontSize;
class CGlyph;

// Opens the stream a lazy font reads its face from: one reference for the caller, or null.
using StreamSource = std::function<Vexil3D::Stream*()>;

class CFonts {
 public:
  // Takes over a library made with FT_Init_FreeType.
  explicit CFonts(FT_Library library);
  ~CFonts();
  CFonts(const CFonts&) = delete;
  CFonts& operator=(const CFonts&) = delete;

  // The stream bridge (FreeTypeStream.h), writing into the given record.
  static FT_Face OpenFace(FT_Library library, Vexil3D::Stream* stream, FT_StreamRec* record);

  // Opens a face over the stream and files a font for it under the face's family and style,
  // replacing a font filed there (which lives on with its holders). False when it is no font.
  bool AddFont(Vexil3D::Stream* stream);
  // Files a font under its names (a lazy font made with them).
  void AddFont(std::shared_ptr<CFont> font);
  // Null when the family or the style is absent (exact, case-sensitive names).
  CFont* GetFont(const std::u16string& family, const std::u16string& style) const;
  std::shared_ptr<CFont> GetSharedFont(const std::u16string& family, const std::u16string& style) const;
  // Drops every entry; fonts die with their last holder.
  void Clear();

  const Vexil3D::FreeTypeLibrary& GetLibrary() const { return m_Library; }

 private:
  using Styles = std::unordered_map<std::u16string, std::shared_ptr<CFont>>;

  Vexil3D::FreeTypeLibrary m_Library;
  std::unordered_map<std::u16string, Styles> m_Families;
};

class CFont : public std::enable_shared_from_this<CFont> {
 public:
  // Make with std::make_shared. A font without a face opens one from the source on first use.
  CFont(Vexil3D::FreeTypeLibrary library, StreamSource source = {}, std::u16string family = {},
        std::u16string style = {});
  ~CFont();
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;

  // Stores the face (the font ends it) and copies its family and style names. Always true.
  bool SetFace(FT_Face face);
  // The face, opened from the source on first call; null (after an assertion, once) when it cannot be.
  FT_Face GetFace();
  // The size of this many 1/64 pixels: the live one when a holder keeps it, else a new one. Null
  // when the face is missing or the size cannot be selected.
  std::shared_ptr<CFontSize> GetSize(std::uint32_t size);

  const std::u16string& GetFamily() const { return m_Family; }
  const std::u16string& GetStyle() const { return m_Style; }
  FT_StreamRec* GetStreamRecord() { return &m_Stream; }

 private:
  friend class CFontSize;
  friend class CGlyphLayer;

  Vexil3D::FreeTypeLibrary m_Library;  // first member: ends after the face
  FT_Face m_pFace = nullptr;
  bool m_bFaceFailed = false;
  std::u16string m_Family;
  std::u16string m_Style;
  StreamSource m_Source;
  FT_StreamRec m_Stream{};
  std::unordered_map<std::uint32_t, std::weak_ptr<CFontSize>> m_Sizes;
  const CFontSize* m_pSelected = nullptr;  // the size the face is set to now (not counted)
  // The glyph the face's slot holds as loaded (not rendered), so a surface made right after the
  // glyph's metrics were read does not load it again; null size when unknown.
  const CFontSize* m_pSlotSize = nullptr;
  std::uint32_t m_uSlotIndex = 0;
};

// FreeType's size metrics copied when the size is made (26.6 units where FreeType has them).
struct CSizeMetrics {
  FT_UShort xPpem = 0;
  FT_UShort yPpem = 0;
  FT_Fixed xScale = 0;
  FT_Fixed yScale = 0;
  FT_Pos ascender = 0;
  FT_Pos descender = 0;
  FT_Pos height = 0;
  FT_Pos maxAdvance = 0;
};

class CFontSize {
 public:
  // Selects the size and copies the face's metrics; IsValid says whether that worked.
  CFontSize(std::shared_ptr<CFont> font, std::uint32_t size);
  ~CFontSize();
  CFontSize(const CFontSize&) = delete;
  CFontSize& operator=(const CFontSize&) = delete;

  // Selects this size on the shared face: a character size on scalable faces, the one strike on
  // bitmap faces (scaled by requested size / strike ppem). False, after an assertion, when the face
  // refuses it, has no face or several strikes, or the strike has no pixel size.
  bool SetSize();
  bool IsValid() const { return m_bValid; }
  // The cached glyph of that index, built on first request. Null for an invalid size.
  CGlyph* GetGlyph(std::uint32_t index);
  // The horizontal kerning of the pair in pixels (asked of FreeType once per pair); 0 after an
  // assertion when FreeType fails.
  float GetKerning(std::uint32_t left, std::uint32_t right);
  bool HasKerning() const;

  CFont* GetFont() const { return m_pFont.get(); }
  FT_Face GetFace() const { return m_pFont->m_pFace; }
  std::uint32_t GetSize() const { return m_uSize; }
  float GetScale() const { return m_fScale; }
  const CSizeMetrics& GetMetrics() const { return m_Metrics; }
  // The size's line height and descender in pixels.
  float GetLineHeight() const;
  float GetDescender() const;

 private:
  friend class CGlyphLayer;  // its assertions name the path to the face

  std::shared_ptr<CFont> m_pFont;
  std::unordered_map<std::uint32_t, std::unique_ptr<CGlyph>> m_Glyphs;
  std::unordered_map<std::uint64_t, float> m_Kerning;  // by left index << 32 | right index
  CSizeMetrics m_Metrics;
  std::uint32_t m_uSize;
  float m_fScale = 1.0f;
  bool m_bValid = false;
};

// One glyph's loaded metrics and, on request, its rendered bitmap.
class CGlyphLayer {
 public:
  struct Metrics {
    FT_Pos width = 0, height = 0, horiBearingX = 0, horiBearingY = 0, horiAdvance = 0;
    FT_Pos vertBearingX = 0, vertBearingY = 0, vertAdvance = 0;
  };
  struct PixelMetrics {
    float width = 0, height = 0, horiBearingX = 0, horiBearingY = 0, horiAdvance = 0;
    float vertBearingX = 0, vertBearingY = 0, vertAdvance = 0;
  };

  CGlyphLayer(CGlyph* glyph, std::uint32_t index);
  ~CGlyphLayer();
  CGlyphLayer(const CGlyphLayer&) = delete;
  CGlyphLayer& operator=(const CGlyphLayer&) = delete;

  // Glyphs wider or taller than this many pixels (before a strike's scale) are never rendered. The cap
  // bounds one glyph, not a page: the text layout asks only for the surfaces of glyphs that can show.
  static constexpr std::uint32_t kMaxSurfaceSide = 2048;
  // The rendered bitmap as a one-level texture of 0xAARRGGBB words, made once. Null for glyphs
  // without ink (spaces), for glyphs past kMaxSurfaceSide and when loading or rendering fails.
  Vexil3D::Texture* GetSurface();
  // A material drawing the surface, made once; null when there is no surface.
  Vexil3D::Material* GetMaterial();

  // Whether the surface was made (it is made by the first GetSurface or GetMaterial).
  bool HasSurface() const { return m_pSurface.Get() != nullptr; }
  const Metrics& GetMetrics() const { return m_Metrics; }
  const PixelMetrics& GetPixelMetrics() const { return m_Pixels; }
  bool AreMetricsValid() const { return m_bMetricsValid; }
  unsigned char GetPixelMode() const { return m_uPixelMode; }
  FT_Int GetBitmapLeft() const { return m_iLeft; }
  FT_Int GetBitmapTop() const { return m_iTop; }

 private:
  CGlyph* m_pGlyph;
  std::uint32_t m_uIndex;
  Metrics m_Metrics;
  PixelMetrics m_Pixels;
  bool m_bMetricsValid = false;
  Vexil3D::Strong<Vexil3D::Texture> m_pSurface;
  Vexil3D::Strong<Vexil3D::Material> m_pMaterial;
  unsigned char m_uPixelMode = 0;
  FT_Int m_iLeft = 0;
  FT_Int m_iTop = 0;
};

class CGlyph {
 public:
  CGlyph(CFontSize* size, std::uint32_t index);

  CFontSize* GetFontSize() const { return m_pFontSize; }
  std::uint32_t GetIndex() const { return m_uIndex; }
  CGlyphLayer* GetLayer() { return &m_Layer; }
  float GetHorizontalAdvance() const { return m_fHorizontalAdvance; }
  float GetVerticalAdvance() const { return m_fVerticalAdvance; }
  float GetLineHeight() const { return m_fLineHeight; }
  float GetDescender() const { return m_fDescender; }

 private:
  friend class CGlyphLayer;

  CFontSize* m_pFontSize;
  std::uint32_t m_uIndex;
  CGlyphLayer m_Layer;
  float m_fHorizontalAdvance = 0;
  float m_fVerticalAdvance = 0;
  float m_fLineHeight = 0;
  float m_fDescender = 0;
};

// A read-only view of one rendered FreeType bitmap, converted row by row into 0xAARRGGBB words.
class CFreeTypeBitmapImageData {
 public:
  explicit CFreeTypeBitmapImageData(const FT_Bitmap& bitmap) : m_Bitmap(bitmap) {}

  std::uint32_t GetWidth() const { return m_Bitmap.width; }
  std::uint32_t GetHeight() const { return m_Bitmap.rows; }
  // Fills width words: rows past the bitmap are transparent black; MONO, GRAY and BGRA convert
  // (BGRA un-premultiplied, at most 255). Other modes: an assertion, false, out left as it was.
  bool GetRow(std::uint32_t row, Vexil3D::CARGB* out) const;

 private:
  FT_Bitmap m_Bitmap;
};

}  // namespace TamberGUI
