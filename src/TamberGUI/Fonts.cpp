// The GUI's font registry, fonts, sizes, glyphs and glyph bitmaps.
#include "Fonts.h"

#include <engine/VexilAssert.h>
#include <platform/text.h>

#include <algorithm>
#include <vector>

namespace TamberGUI {
namespace {

constexpr float kUnitsPerPixel = 64.0f;  // FreeType's 26.6 fixed point
constexpr FT_Int32 kLoadFlags = FT_LOAD_COLOR;
constexpr std::uint8_t kMaxChannel = 0xFF;
constexpr unsigned kBitsPerByte = 8;
constexpr unsigned kBytesPerBgraPixel = 4;
constexpr unsigned kPairShift = 32;
constexpr std::uint32_t kOpaqueWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kTransparentWhite = 0x00FFFFFFu;
constexpr std::uint32_t kWhiteRgb = 0x00FFFFFFu;

std::u16string FaceName(const char* name) { return name ? text::Utf8ToUtf16(name) : std::u16string(); }

}  // namespace

// --- Registry ---

CFonts::CFonts(FT_Library library) : m_Library(Vexil3D::AdoptFreeTypeLibrary(library)) {}

CFonts::~CFonts() { Clear(); }

FT_Face CFonts::OpenFace(FT_Library library, Vexil3D::Stream* stream, FT_StreamRec* record) {
  return Vexil3D::OpenStreamFace(library, stream, record);
}

bool CFonts::AddFont(Vexil3D::Stream* stream) {
  auto font = std::make_shared<CFont>(m_Library);
  FT_Face face = OpenFace(m_Library.get(), stream, font->GetStreamRecord());
  if (face == nullptr) return false;
  font->SetFace(face);
  AddFont(std::move(font));
  return true;
}

void CFonts::AddFont(std::shared_ptr<CFont> font) {
  if (!font) return;
  m_Families[font->GetFamily()][font->GetStyle()] = std::move(font);
}

CFont* CFonts::GetFont(const std::u16string& family, const std::u16string& style) const {
  return GetSharedFont(family, style).get();
}

std::shared_ptr<CFont> CFonts::GetSharedFont(const std::u16string& family, const std::u16string& style) const {
  const auto styles = m_Families.find(family);
  if (styles == m_Families.end()) return nullptr;
  const auto found = styles->second.find(style);
  return found == styles->second.end() ? nullptr : found->second;
}

void CFonts::Clear() { m_Families.clear(); }

// --- Font ---

CFont::CFont(Vexil3D::FreeTypeLibrary library, StreamSource source, std::u16string family, std::u16string style)
    : m_Library(std::move(library)), m_Family(std::move(family)), m_Style(std::move(style)),
      m_Source(std::move(source)) {}

CFont::~CFont() {
  if (m_pFace != nullptr) FT_Done_Face(m_pFace);
}

bool CFont::SetFace(FT_Face face) {
  m_pFace = face;
  m_pSelected = nullptr;
  m_pSlotSize = nullptr;
  m_Family = FaceName(face ? face->family_name : nullptr);
  m_Style = FaceName(face ? face->style_name : nullptr);
  return true;
}

FT_Face CFont::GetFace() {
  if (m_pFace != nullptr || m_bFaceFailed || !m_Source) return m_pFace;
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(m_Source());
  if (stream) m_pFace = CFonts::OpenFace(m_Library.get(), stream, &m_Stream);
  m_bFaceFailed = m_pFace == nullptr;
  VEXIL_ASSERT(m_pFace);
  return m_pFace;
}

std::shared_ptr<CFontSize> CFont::GetSize(std::uint32_t size) {
  std::weak_ptr<CFontSize>& slot = m_Sizes[size];
  if (auto live = slot.lock()) return live;
  if (GetFace() == nullptr) return nullptr;
  auto made = std::make_shared<CFontSize>(shared_from_this(), size);
  if (!made->IsValid()) return nullptr;
  slot = made;
  return made;
}

// --- Size ---

CFontSize::CFontSize(std::shared_ptr<CFont> font, std::uint32_t size) : m_pFont(std::move(font)), m_uSize(size) {
  m_Glyphs.max_load_factor(1.0f);
  m_bValid = SetSize();
  if (!m_bValid) return;
  const FT_Size_Metrics& metrics = GetFace()->size->metrics;
  m_Metrics = {metrics.x_ppem, metrics.y_ppem,   metrics.x_scale, metrics.y_scale,
               metrics.ascender, metrics.descender, metrics.height, metrics.max_advance};
}

CFontSize::~CFontSize() {
  // The glyphs go first; the face then no longer stands at this size.
  m_Glyphs.clear();
  if (m_pFont->m_pSelected == this) m_pFont->m_pSelected = nullptr;
  if (m_pFont->m_pSlotSize == this) m_pFont->m_pSlotSize = nullptr;
}

bool CFontSize::SetSize() {
  FT_Face face = m_pFont->GetFace();
  if (face == nullptr) return false;
  if (m_pFont->m_pSelected == this) return true;
  m_pFont->m_pSelected = nullptr;
  m_pFont->m_pSlotSize = nullptr;
  if (face->face_flags & FT_FACE_FLAG_SCALABLE) {
    const FT_F26Dot6 size = static_cast<FT_F26Dot6>(m_uSize);
    const FT_Error error = size < 0 ? FT_Err_Invalid_Pixel_Size : FT_Set_Char_Size(face, size, size, 0, 0);
    VEXIL_ASSERT(error == 0);
    if (error != 0) return false;
    m_fScale = 1.0f;
  } else {
    VEXIL_ASSERT(face->face_flags & FT_FACE_FLAG_FIXED_SIZES);
    VEXIL_ASSERT(m_pFont->GetFace()->num_fixed_sizes == 1);
    if (!(face->face_flags & FT_FACE_FLAG_FIXED_SIZES) || face->num_fixed_sizes != 1) return false;
    const FT_Error error = FT_Select_Size(face, 0);
    VEXIL_ASSERT(error == 0);
    if (error != 0) return false;
    const FT_UShort ppem = face->size->metrics.y_ppem;
    // A strike without a pixel size cannot be scaled to anything.
    VEXIL_ASSERT(ppem != 0);
    if (ppem == 0) return false;
    m_fScale = (static_cast<float>(m_uSize) / kUnitsPerPixel) / static_cast<float>(ppem);
  }
  m_pFont->m_pSelected = this;
  return true;
}

CGlyph* CFontSize::GetGlyph(std::uint32_t index) {
  if (!m_bValid) return nullptr;
  std::unique_ptr<CGlyph>& slot = m_Glyphs[index];
  if (!slot) slot = std::make_unique<CGlyph>(this, index);
  return slot.get();
}

bool CFontSize::HasKerning() const { return m_bValid && FT_HAS_KERNING(GetFace()); }

float CFontSize::GetKerning(std::uint32_t left, std::uint32_t right) {
  const std::uint64_t key = std::uint64_t(left) << kPairShift | right;
  const auto found = m_Kerning.find(key);
  if (found != m_Kerning.end()) return found->second;
  if (!SetSize()) return 0.0f;
  FT_Vector kerning{};
  const FT_Error error = FT_Get_Kerning(GetFace(), left, right, FT_KERNING_DEFAULT, &kerning);
  VEXIL_ASSERT(error == 0);
  if (error != 0) return 0.0f;
  const float pixels = static_cast<float>(kerning.x) / kUnitsPerPixel * m_fScale;
  m_Kerning.emplace(key, pixels);
  return pixels;
}

float CFontSize::GetLineHeight() const { return static_cast<float>(m_Metrics.height) / kUnitsPerPixel * m_fScale; }

float CFontSize::GetDescender() const {
  return static_cast<float>(m_Metrics.descender) / kUnitsPerPixel * m_fScale;
}

// --- Glyph ---

CGlyph::CGlyph(CFontSize* size, std::uint32_t index) : m_pFontSize(size), m_uIndex(index), m_Layer(this, index) {
  const float scale = size->GetScale();
  m_fHorizontalAdvance = static_cast<float>(m_Layer.GetMetrics().horiAdvance) / kUnitsPerPixel * scale;
  m_fVerticalAdvance = static_cast<float>(m_Layer.GetMetrics().vertAdvance) / kUnitsPerPixel * scale;
  m_fLineHeight = size->GetLineHeight();
  m_fDescender = size->GetDescender();
}

CGlyphLayer::CGlyphLayer(CGlyph* glyph, std::uint32_t index) : m_pGlyph(glyph), m_uIndex(index) {
  CFontSize* size = glyph->m_pFontSize;
  if (!size->SetSize()) return;
  FT_Face face = size->GetFace();
  const FT_Error error = FT_Load_Glyph(face, index, kLoadFlags);
  size->m_pFont->m_pSlotSize = nullptr;
  VEXIL_ASSERT(error == 0);
  if (error != 0) return;
  size->m_pFont->m_pSlotSize = size;
  size->m_pFont->m_uSlotIndex = index;
  const FT_Glyph_Metrics& m = face->glyph->metrics;
  m_Metrics = {m.width, m.height, m.horiBearingX, m.horiBearingY, m.horiAdvance,
               m.vertBearingX, m.vertBearingY, m.vertAdvance};
  const float scale = size->GetScale();
  auto pixels = [scale](FT_Pos value) { return static_cast<float>(value) / kUnitsPerPixel * scale; };
  m_Pixels = {pixels(m.width),        pixels(m.height),       pixels(m.horiBearingX), pixels(m.horiBearingY),
              pixels(m.horiAdvance),  pixels(m.vertBearingX), pixels(m.vertBearingY), pixels(m.vertAdvance)};
  m_bMetricsValid = true;
}

CGlyphLayer::~CGlyphLayer() = default;

Vexil3D::Texture* CGlyphLayer::GetSurface() {
  if (m_pSurface) return m_pSurface;
  if (!m_bMetricsValid || m_Metrics.width < 1 || m_Metrics.height < 1) return nullptr;
  // A page may ask for any size: a glyph of a million pixels would take seconds to render and hundreds of megabytes
  // to hold, for a picture no screen shows. Its metrics still lay the text out.
  constexpr FT_Pos kMaxSide = FT_Pos(kMaxSurfaceSide) * FT_Pos(kUnitsPerPixel);
  if (m_Metrics.width > kMaxSide || m_Metrics.height > kMaxSide) return nullptr;
  CFontSize* size = m_pGlyph->m_pFontSize;
  if (!size->SetSize()) return nullptr;
  FT_Face face = size->GetFace();
  CFont* font = size->m_pFont.get();
  FT_Error error = 0;
  if (font->m_pSlotSize != size || font->m_uSlotIndex != m_uIndex) {
    error = FT_Load_Glyph(face, m_uIndex, kLoadFlags);
    VEXIL_ASSERT(error == 0);
    if (error != 0) return nullptr;
  }
  // Rendering replaces the loaded glyph in the slot.
  font->m_pSlotSize = nullptr;
  error = FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL);
  VEXIL_ASSERT(error == 0);
  if (error != 0) return nullptr;
  const FT_Bitmap& bitmap = face->glyph->bitmap;
  VEXIL_ASSERT(m_pGlyph->m_pFontSize->m_pFont->GetFace()->glyph->bitmap.width > 0);
  VEXIL_ASSERT(m_pGlyph->m_pFontSize->m_pFont->GetFace()->glyph->bitmap.rows > 0);
  if (bitmap.width == 0 || bitmap.rows == 0) return nullptr;
  m_uPixelMode = bitmap.pixel_mode;
  m_iLeft = face->glyph->bitmap_left;
  m_iTop = face->glyph->bitmap_top;

  Vexil3D::Strong<Vexil3D::Texture> texture;
  texture.Attach(new Vexil3D::Texture(1));
  Vexil3D::CMipLevel* level = texture->GetMipLevel(0);
  if (level == nullptr || !level->Create(bitmap.width, bitmap.rows)) return nullptr;
  level->SetAlpha(true);
  const CFreeTypeBitmapImageData image(bitmap);
  std::vector<Vexil3D::CARGB> row(bitmap.width, Vexil3D::CARGB{0u});
  for (std::uint32_t y = 0; y < bitmap.rows; ++y) {
    const bool converted = image.GetRow(y, row.data());
    const bool written = converted && level->WriteRows(y, bitmap.width, row.data());
    VEXIL_ASSERT(written);
    if (!written) return nullptr;
  }
  m_pSurface = texture;
  return m_pSurface;
}

Vexil3D::Material* CGlyphLayer::GetMaterial() {
  if (m_pMaterial) return m_pMaterial;
  Vexil3D::Texture* surface = GetSurface();
  if (surface == nullptr) return nullptr;
  m_pMaterial.Attach(new Vexil3D::Material);
  m_pMaterial->SetTexture(surface);
  return m_pMaterial;
}

// --- Bitmap rows ---

bool CFreeTypeBitmapImageData::GetRow(std::uint32_t row, Vexil3D::CARGB* out) const {
  const std::uint32_t width = m_Bitmap.width;
  if (row >= m_Bitmap.rows) {
    std::fill(out, out + width, Vexil3D::CARGB{0u});
    return true;
  }
  // A negative pitch runs upwards: the buffer starts at the bottom row.
  const std::uint32_t step = static_cast<std::uint32_t>(m_Bitmap.pitch < 0 ? -m_Bitmap.pitch : m_Bitmap.pitch);
  const std::uint32_t stored = m_Bitmap.pitch < 0 ? m_Bitmap.rows - 1 - row : row;
  const unsigned char* bytes = m_Bitmap.buffer + static_cast<std::size_t>(stored) * step;
  // Damaged fonts can render bitmaps without pixels or with rows shorter than their width.
  const std::size_t needed = m_Bitmap.pixel_mode == FT_PIXEL_MODE_MONO   ? (width + kBitsPerByte - 1) / kBitsPerByte
                             : m_Bitmap.pixel_mode == FT_PIXEL_MODE_BGRA ? std::size_t(width) * kBytesPerBgraPixel
                                                                         : width;
  if (m_Bitmap.buffer == nullptr || step < needed) {
    std::fill(out, out + width, Vexil3D::CARGB{0u});
    return false;
  }
  switch (m_Bitmap.pixel_mode) {
    case FT_PIXEL_MODE_MONO:
      for (std::uint32_t x = 0; x < width; ++x) {
        const bool set = (bytes[x / kBitsPerByte] >> (kBitsPerByte - 1 - x % kBitsPerByte)) & 1;
        out[x] = set ? kOpaqueWhite : kTransparentWhite;
      }
      return true;
    case FT_PIXEL_MODE_GRAY:
      for (std::uint32_t x = 0; x < width; ++x) out[x] = std::uint32_t(bytes[x]) << 24 | kWhiteRgb;
      return true;
    case FT_PIXEL_MODE_BGRA:
      for (std::uint32_t x = 0; x < width; ++x) {
        const unsigned char* p = bytes + x * kBytesPerBgraPixel;
        unsigned b = p[0], g = p[1], r = p[2];
        const unsigned a = p[3];
        if (a != 0) {
          // Premultiplied colour may exceed its alpha in damaged fonts: keep it a channel.
          b = std::min<unsigned>(b * kMaxChannel / a, kMaxChannel);
          g = std::min<unsigned>(g * kMaxChannel / a, kMaxChannel);
          r = std::min<unsigned>(r * kMaxChannel / a, kMaxChannel);
        }
        out[x] = Vexil3D::CARGB(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(r),
                                static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b));
      }
      return true;
    default: {
      const bool supported = false;
      VEXIL_ASSERT(supported);
      return false;
    }
  }
}

}  // namespace TamberGUI
