// The rectangle element: textures and their settings, native-size scaling, tiling and clipping.
#include <TamberGUI/GUI/Rectangle.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include <engine/VexilAssert.h>

#include <TamberGUI/GUI/Manager.h>

namespace TamberGUI::GUI {
namespace {

enum eFilterSlot : std::uint32_t { FILTER_MIN = 0, FILTER_MAG = 1, FILTER_MIP = 2 };

bool ParseBlendMode(std::u16string_view name, std::uint32_t* mode) {
  const std::u16string_view names[] = {u"None", u"Alpha", u"Additive", u"Subtractive"};
  for (std::uint32_t i = 0; i < std::size(names); ++i) {
    if (names[i] == name) return *mode = i, true;
  }
  return false;
}

bool ParseFilter(std::u16string_view name, std::uint32_t* filter) {
  const std::u16string_view names[] = {u"None", u"Point", u"Linear", u"Anisotropic"};
  for (std::uint32_t i = 0; i < std::size(names); ++i) {
    if (names[i] == name) return *filter = i, true;
  }
  return false;
}

void ReadFilter(const Vexil3D::CElementChunk* chunk, const char16_t* name, std::uint32_t* filter) {
  const char16_t* text = chunk->GetStringAttribute(name);
  if (text == nullptr) return;
  const bool known = ParseFilter(text, filter);
  VEXIL_ASSERT(known);
}

}  // namespace

CRectangle::CRectangle(CManager* manager) : CElement(manager), m_Children(this) {
  m_pMaterial.Attach(new Vexil3D::Material);
}

CRectangle::~CRectangle() = default;

void CRectangle::Load(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr) return;
  CElement::Load(chunk);
  bool flag = false;
  if (chunk->GetBoolAttribute(u"Focus", &flag)) m_bFocus = flag;
  float value = 0;
  if (chunk->GetFloatAttribute(u"NativeWidth", &value)) m_NativeWidth.Set(value);
  if (chunk->GetFloatAttribute(u"NativeHeight", &value)) m_NativeHeight.Set(value);
  if (const char16_t* name = chunk->GetStringAttribute(u"Texture")) {
    Vexil3D::Strong<Vexil3D::Texture> texture;
    texture.Attach(m_pManager->ProvideTexture(name));
    if (texture != nullptr) {
      m_pMaterial->SetTexture(texture);
      m_Colour = Vexil3D::COLOUR_WHITE;
    }
  }
  if (const char16_t* colour = chunk->GetStringAttribute(u"Colour")) m_Colour = ParseColour(colour);
  Vexil3D::Material::Settings& settings = m_pMaterial->GetSettings();
  if (const char16_t* blend = chunk->GetStringAttribute(u"BlendMode")) {
    const bool known = ParseBlendMode(blend, &settings.blendMode);
    VEXIL_ASSERT(known);
    m_bBlendSet = known;
  }
  std::uint32_t general = FILTER_LINEAR;
  ReadFilter(chunk, u"TextureFilter", &general);
  std::fill(std::begin(settings.modes), std::end(settings.modes), general);
  ReadFilter(chunk, u"TextureFilterMin", &settings.modes[FILTER_MIN]);
  ReadFilter(chunk, u"TextureFilterMag", &settings.modes[FILTER_MAG]);
  ReadFilter(chunk, u"TextureFilterMip", &settings.modes[FILTER_MIP]);
  if (chunk->GetBoolAttribute(u"Clip", &flag)) m_bClip = flag;
  if (chunk->GetBoolAttribute(u"Tile", &flag)) m_bTile = flag;
  float width = 0, height = 0;
  if (TextureSize(&width, &height)) {
    const struct {
      const char16_t* name;
      float* field;
      float size;
    } sources[] = {{u"SourcePosX", &m_fSourceU, width},
                   {u"SourcePosY", &m_fSourceV, height},
                   {u"SourceSizeX", &m_fSourceWidth, width},
                   {u"SourceSizeY", &m_fSourceHeight, height}};
    for (const auto& source : sources) {
      if (!chunk->GetFloatAttribute(source.name, &value)) continue;
      VEXIL_ASSERT(!m_bTile);
      if (!m_bTile) *source.field = value / source.size;
    }
  }
  m_Children.LoadChildren(chunk);
}

bool CRectangle::TextureSize(float* width, float* height) const {
  Vexil3D::Texture* texture = m_pMaterial->GetTexture();
  if (texture == nullptr) return false;
  *width = static_cast<float>(texture->GetWidth());
  *height = static_cast<float>(texture->GetHeight());
  return *width > 0 && *height > 0;
}

void CRectangle::UpdateWidth() {
  float width = 0, height = 0;
  if (m_pMaterial->GetTexture() != nullptr && !m_bTile) {
    m_fWidthPx = TextureSize(&width, &height) ? width * m_fScale : 0.0f;
  } else {
    m_fWidthPx = m_fParentWidth;
  }
}

void CRectangle::UpdateHeight() {
  float width = 0, height = 0;
  if (m_pMaterial->GetTexture() != nullptr && !m_bTile) {
    m_fHeightPx = TextureSize(&width, &height) ? height * m_fScale : 0.0f;
  } else {
    m_fHeightPx = m_fParentHeight;
  }
}

void CRectangle::UpdateLayout() {
  CElement::UpdateLayout();
  // Children of a native-size rectangle scale with it; a native size of 0 leaves the scale alone.
  const float s = m_fScale;
  float scale = s;
  const bool byWidth = m_NativeWidth.given && m_NativeWidth.value != 0 && s != 0;
  const bool byHeight = m_NativeHeight.given && m_NativeHeight.value != 0 && s != 0;
  if (byWidth) scale = s * (m_fParentWidth / s / m_NativeWidth.value);
  if (byHeight) {
    const float vertical = s * (m_fParentHeight / s / m_NativeHeight.value);
    scale = byWidth ? std::min(scale, vertical) : vertical;
  }
  m_fChildScale = scale;
  m_Children.LayoutChildren(m_fLeft, m_fTopEdge, m_fWidthPx, m_fHeightPx, scale);
  const bool shrink = m_bTile || m_pMaterial->GetTexture() == nullptr;
  if (shrink && !m_Left.given && !m_Right.given && !m_Width.given) {
    m_fLeft = m_Children.m_fBoundsX1;
    m_fWidthPx = m_Children.m_fBoundsX2 - m_Children.m_fBoundsX1;
  }
  if (shrink && !m_Top.given && !m_Bottom.given && !m_Height.given) {
    m_fTopEdge = m_Children.m_fBoundsY1;
    m_fHeightPx = m_Children.m_fBoundsY2 - m_Children.m_fBoundsY1;
  }
}

void CRectangle::UpdateClipRect() {
  CElement::UpdateClipRect();
  if (m_bClip) {
    m_Clip.x1 = std::max(m_Clip.x1, m_fLeft);
    m_Clip.y1 = std::max(m_Clip.y1, m_fTopEdge);
    m_Clip.x2 = std::min(m_Clip.x2, m_fLeft + m_fWidthPx);
    m_Clip.y2 = std::min(m_Clip.y2, m_fTopEdge + m_fHeightPx);
  }
  m_Children.ClipChildren(m_Clip);
}

void CRectangle::Render(Vexil3D::I2D* renderer) {
  if (m_Colour != Vexil3D::COLOUR_TRANSPARENT) {
    float width = 0, height = 0;
    const bool textured = m_pMaterial->GetTexture() != nullptr;
    const bool sized = TextureSize(&width, &height);
    if (!textured) {
      m_pManager->DrawQuad(renderer, nullptr, m_Colour, m_fLeft, m_fTopEdge, m_fWidthPx, m_fHeightPx, m_Clip, 0, 0, 1,
                           1, 0, 0);
    } else if (sized && m_bTile && m_fScale > 0) {
      RenderTiles(renderer, width * m_fScale, height * m_fScale);
    } else if (sized && !m_bTile) {
      m_pManager->DrawQuad(renderer, m_pMaterial, m_Colour, m_fLeft, m_fTopEdge, m_fWidthPx, m_fHeightPx, m_Clip,
                           m_fSourceU, m_fSourceV, m_fSourceWidth, m_fSourceHeight, 1, 1);
    }
  }
  m_Children.RenderChildren(renderer, false);
}

void CRectangle::RenderTiles(Vexil3D::I2D* renderer, float tileWidth, float tileHeight) {
  // Only the repetitions that can show: those over the part of the rectangle inside the clip, which
  // also cuts the last row and column at the rectangle's edge.
  CClipRect area = m_Clip;
  area.x1 = std::max(area.x1, m_fLeft);
  area.y1 = std::max(area.y1, m_fTopEdge);
  area.x2 = std::min(area.x2, m_fLeft + m_fWidthPx);
  area.y2 = std::min(area.y2, m_fTopEdge + m_fHeightPx);
  if (!(area.x2 > area.x1) || !(area.y2 > area.y1)) return;
  const double firstColumn = std::floor((area.x1 - m_fLeft) / tileWidth);
  const double endColumn = std::ceil((area.x2 - m_fLeft) / tileWidth);
  const double firstRow = std::floor((area.y1 - m_fTopEdge) / tileHeight);
  const double endRow = std::ceil((area.y2 - m_fTopEdge) / tileHeight);
  const double tiles = (endColumn - firstColumn) * (endRow - firstRow);
  if (!(tiles <= kMaxTiles)) {
    // The renderer clamps texture coordinates, so this one quad with coordinates past 1 shows one
    // copy and stretches the texture's last row and column over the rest. A texture this small for
    // its rectangle would cost thousands of quads a frame drawn copy by copy.
    m_pManager->DrawQuad(renderer, m_pMaterial, m_Colour, m_fLeft, m_fTopEdge, m_fWidthPx, m_fHeightPx, m_Clip, 0, 0,
                         m_fWidthPx / tileWidth, m_fHeightPx / tileHeight, 1, 1);
    return;
  }
  for (double row = firstRow; row < endRow; ++row) {
    const float y = m_fTopEdge + static_cast<float>(row) * tileHeight;
    for (double column = firstColumn; column < endColumn; ++column) {
      const float x = m_fLeft + static_cast<float>(column) * tileWidth;
      m_pManager->DrawQuad(renderer, m_pMaterial, m_Colour, x, y, tileWidth, tileHeight, area, 0, 0, 1, 1, 1, 1);
    }
  }
}

void CRectangle::RenderDebug(Vexil3D::I2D* renderer) {
  DrawOutline(renderer, Vexil3D::COLOUR_BLUE);
  m_Children.RenderChildren(renderer, true);
}

bool CRectangle::ContainsPoint(const Vexil3D::CVector2D& point) {
  if (m_Colour == Vexil3D::COLOUR_TRANSPARENT && !m_bFocus) return false;
  return CElement::ContainsPoint(point);
}

CElement* CRectangle::HitTest(const Vexil3D::CVector2D& point) {
  if (CElement* hit = m_Children.HitTestChildren(point)) return hit;
  return CElement::HitTest(point);
}

CElement* CRectangle::GetFocusedElement() {
  CElement* focused = m_Children.GetFocused();
  return focused != nullptr ? focused->GetFocusedElement() : this;
}

bool CRectangle::ContainsFocusable() { return m_Children.ContainsFocusable() || CanFocus(); }
void CRectangle::Process(float seconds) { m_Children.ProcessChildren(seconds); }

}  // namespace TamberGUI::GUI
