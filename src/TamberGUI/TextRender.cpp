// Caret questions, selections, shadows and drawing of CText.
#include "Draw.h"
#include "Text.h"

#include <engine/VexilAssert.h>

#include <algorithm>
#include <cmath>

namespace TamberGUI {
namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFFu;
constexpr std::uint32_t kAlphaMask = 0xFF000000u;
// Pixels by which a rendered bitmap may outgrow the box its glyph's metrics give (FreeType rounds the
// outline's box outwards), at the strike's scale.
constexpr float kBitmapSlack = 2.0f;

// Whether a glyph's quad, whose corner lies at (left, top) on the screen and whose bitmap the metrics
// measure, can put a pixel inside the area. Decided before the glyph has a surface: a page at a size of
// thousands of pixels holds hundreds of glyphs of megabytes each, and only the few on screen are ever drawn.
// The near edges are exact (the quad's corner comes from the metrics); the far edges allow for the bitmap's
// rounding. As the quad routine does, a corner that is not a finite number shows nowhere, and an area of no
// size (or turned inside out) shows nothing; a NaN edge of the area cuts nothing, so it rules nothing out.
// A glyph that has its surface already goes to the quad routine, which clips it exactly.
bool CanShow(float left, float top, const CGlyphLayer::PixelMetrics& metrics, float scale, const CRect& area) {
  if (!std::isfinite(left) || !std::isfinite(top) || area.x2 <= area.x1 || area.y2 <= area.y1) return false;
  const float right = left + metrics.width + kBitmapSlack * scale;
  const float bottom = top + metrics.height + kBitmapSlack * scale;
  return !(right <= area.x1 || left >= area.x2 || bottom <= area.y1 || top >= area.y2);
}

}  // namespace

bool CText::GetCaretPosition(float x, float y, bool clamp, tCaretPosition* caret) const {
  VEXIL_ASSERT(m_bUpdated);
  if (!m_bUpdated || m_Lines.empty()) return false;
  if (clamp && !(m_Bounds.minX <= x && x < m_Bounds.maxPenX && m_Bounds.minY <= y && y < m_Bounds.maxBottomAll))
    return false;
  const tLine* taken = nullptr;
  for (std::size_t i = 0; i < m_Lines.size(); ++i) {
    const tLine& line = *m_Lines[i];
    const float dy = y - line.top;
    const bool last = i + 1 == m_Lines.size();
    if ((!clamp || dy >= 0) && (last || dy < line.lineHeight * m_Settings.lineSpacing * m_Settings.leading)) {
      taken = &line;
      break;
    }
  }
  if (taken == nullptr) return false;
  return CaretOnLine(*taken, x, clamp, caret);
}

bool CText::GetCaretPositionOnLine(std::size_t line, float x, tCaretPosition* caret) const {
  VEXIL_ASSERT(m_bUpdated);
  if (!m_bUpdated || line >= m_Lines.size()) return false;
  return CaretOnLine(*m_Lines[line], x, false, caret);
}

bool CText::CaretOnLine(const tLine& line, float x, bool clamp, tCaretPosition* caret) const {
  const float dx = x - (line.startX + line.alignmentOffset);
  for (std::size_t i = 0; i < line.pieces.size(); ++i) {
    const tPiece& piece = line.pieces[i];
    if (dx - piece.x < piece.width) {
      *caret = {&line, 1, static_cast<std::uint32_t>(i), static_cast<std::uint8_t>(dx - piece.x >= piece.width / 2)};
      return true;
    }
  }
  if (clamp) return false;
  if (line.pieces.empty()) {
    *caret = {&line, 0, 0, static_cast<std::uint8_t>(dx >= 0)};
  } else {
    *caret = {&line, 1, static_cast<std::uint32_t>(line.pieces.size() - 1), 1};
  }
  return true;
}

bool CText::FindCharacter(const tCharacterIndex& index, tCaretPosition* caret) const {
  VEXIL_ASSERT(m_bUpdated);
  if (!m_bUpdated || m_Lines.empty()) return false;
  for (const auto& line : m_Lines) {
    for (std::size_t i = 0; i < line->pieces.size(); ++i) {
      const tPiece& piece = line->pieces[i];
      if (piece.start <= index.index && index.index < piece.end) {
        const bool after = !(!index.after && index.index <= piece.start);
        *caret = {line.get(), 1, static_cast<std::uint32_t>(i), static_cast<std::uint8_t>(after)};
        return true;
      }
    }
  }
  const tLine* last = m_Lines.back().get();
  if (last->pieces.empty()) {
    *caret = {last, 0, 0, index.after};
  } else {
    *caret = {last, 1, static_cast<std::uint32_t>(last->pieces.size() - 1), 1};
  }
  return true;
}

std::uint32_t CText::CaretToIndex(const tCaretPosition& caret) const {
  if (caret.line == nullptr) return 0;
  if (caret.hasPiece && caret.piece < caret.line->pieces.size()) {
    const tPiece& piece = caret.line->pieces[caret.piece];
    return caret.after ? piece.end : piece.start;
  }
  return caret.after ? caret.line->end : caret.line->first;
}

CText::tCharacterIndex CText::CaretToCharacterIndex(const tCaretPosition& caret) const {
  if (caret.line == nullptr) return {};
  if (caret.hasPiece && caret.piece < caret.line->pieces.size()) {
    const tPiece& piece = caret.line->pieces[caret.piece];
    if (caret.after) return {piece.end - 1, 1};
    return {piece.start, 0};
  }
  return {caret.line->first, 0};
}

float CText::GetCaretX(const tCaretPosition& caret) const {
  if (caret.line == nullptr) return 0;
  float x = caret.line->startX + caret.line->alignmentOffset;
  if (caret.hasPiece && caret.piece < caret.line->pieces.size()) {
    const tPiece& piece = caret.line->pieces[caret.piece];
    x += piece.x + (caret.after ? piece.width : 0.0f);
  }
  return x;
}

CText::tSelection* CText::GetSelection(bool create) {
  if (create) {
    if (m_Selections.empty()) m_Selections.push_back({});
    m_Selections.resize(1);
  }
  return m_Selections.empty() ? nullptr : &m_Selections.front();
}

bool CText::AddShadow(float x, float y, Vexil3D::CARGB colour) {
  if (m_uShadowCount >= kMaxShadows) return false;
  m_Shadows[m_uShadowCount++] = {x, y, colour};
  return true;
}

bool CText::IsSelected(std::uint32_t index) const {
  for (const tSelection& range : m_Selections) {
    const std::uint64_t a = std::uint64_t(range.start) + (range.startAfter ? 1 : 0);
    const std::uint64_t b = std::uint64_t(range.end) + (range.endAfter ? 1 : 0);
    if (std::min(a, b) <= index && index < std::max(a, b)) return true;
  }
  return false;
}

void CText::DrawQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                     float width, float height) {
  const CRect clip{m_Settings.clipX1, m_Settings.clipY1, m_Settings.clipX2, m_Settings.clipY2};
  Vexil3D::Texture* texture = material ? material->GetTexture() : nullptr;
  const float tw = texture ? static_cast<float>(texture->GetWidth()) : 0.0f;
  const float th = texture ? static_cast<float>(texture->GetHeight()) : 0.0f;
  DrawClippedQuad(renderer, material, colour, x + m_Settings.originX, y + m_Settings.originY, width, height, clip,
                  {0, 0, tw, th}, tw, th);
}

void CText::RenderCharacters(Vexil3D::I2D* renderer, bool ignoreSelection, bool drawSelected, bool forceColour,
                             Vexil3D::CARGB colour, const Vexil3D::CVector2D& offset) {
  VEXIL_ASSERT(m_bUpdated);
  if (!m_bUpdated) return;
  for (std::uint32_t i = 0; i < m_uShadowCount; ++i) {
    const tShadow& shadow = m_Shadows[i];
    RenderGlyphs(renderer, ignoreSelection, drawSelected, true, shadow.colour,
                 {offset.x + shadow.x, offset.y + shadow.y});
  }
  RenderGlyphs(renderer, ignoreSelection, drawSelected, forceColour, colour, offset);
}

void CText::RenderGlyphs(Vexil3D::I2D* renderer, bool ignoreSelection, bool drawSelected, bool forceColour,
                         Vexil3D::CARGB forced, const Vexil3D::CVector2D& offset) {
  if (renderer == nullptr) return;
  // Where a quad can show, on the screen, where DrawQuad places it once it adds the origin: the clip
  // rectangle, cut to the renderer's drawing area when it reports one.
  CRect area{m_Settings.clipX1, m_Settings.clipY1, m_Settings.clipX2, m_Settings.clipY2};
  Vexil3D::CViewport viewport;
  renderer->GetViewport(&viewport);
  if (viewport.width > 0 && viewport.height > 0) {
    area = {std::max(area.x1, viewport.x), std::max(area.y1, viewport.y),
            std::min(area.x2, viewport.x + viewport.width), std::min(area.y2, viewport.y + viewport.height)};
  }
  for (std::uint32_t l = 0; l < m_uVisibleLines && l < m_Lines.size(); ++l) {
    const tLine& line = *m_Lines[l];
    const float y = std::trunc(line.top + line.baselineOffset + offset.y);
    for (const tPiece& piece : line.pieces) {
      Vexil3D::CARGB colour = piece.colour;
      if (!ignoreSelection && IsSelected(piece.start)) {
        if (!drawSelected) continue;
        colour = m_Settings.selectionColour;
      }
      if (forceColour) colour = (forced & kRgbMask) | (piece.colour & kAlphaMask);
      for (std::size_t g = 0; g < piece.glyphs.size(); ++g) {
        const tPieceGlyph& entry = piece.glyphs[g];
        if (entry.glyph == nullptr) continue;
        CGlyphLayer* layer = entry.glyph->GetLayer();
        const float x = std::trunc(line.startX + line.alignmentOffset + piece.x + entry.x + offset.x);
        // Bitmap strikes are drawn at the requested size, as their advances are measured.
        const float scale = entry.glyph->GetFontSize()->GetScale();
        const CGlyphLayer::PixelMetrics& metrics = layer->GetPixelMetrics();
        const float left = x + metrics.horiBearingX, top = y - metrics.horiBearingY;
        if (!layer->HasSurface() && !CanShow(left + m_Settings.originX, top + m_Settings.originY, metrics, scale, area))
          continue;
        Vexil3D::Material* material = layer->GetMaterial();
        if (material == nullptr) continue;
        Vexil3D::Texture* surface = material->GetTexture();
        const Vexil3D::CARGB drawn =
            layer->GetPixelMode() == FT_PIXEL_MODE_BGRA && !forceColour ? Vexil3D::COLOUR_WHITE : colour;
        DrawQuad(renderer, material, drawn, left, top, static_cast<float>(surface->GetWidth()) * scale,
                 static_cast<float>(surface->GetHeight()) * scale);
      }
    }
  }
}

void CText::RenderSelection(Vexil3D::I2D* renderer, const Vexil3D::CVector2D& offset) {
  VEXIL_ASSERT(m_bUpdated);
  const tSelection* range = m_bUpdated ? GetSelection(false) : nullptr;
  if (range == nullptr) return;
  tCaretPosition a, b;
  FindCharacter({range->start, range->startAfter}, &a);
  FindCharacter({range->end, range->endAfter}, &b);
  float ax = GetCaretX(a), bx = GetCaretX(b);
  if (b.line->index < a.line->index || (b.line == a.line && bx < ax)) {
    std::swap(a, b);
    std::swap(ax, bx);
  }
  for (std::uint32_t l = a.line->index; l <= b.line->index; ++l) {
    const tLine& line = *m_Lines[l];
    const float left = l == a.line->index ? ax : line.startX + line.alignmentOffset;
    const float right = l == b.line->index ? bx : line.startX + line.alignmentOffset + line.penX;
    DrawQuad(renderer, nullptr, m_Settings.selectionColour, left + offset.x, line.top + offset.y, right - left,
             line.lineHeight);
  }
}

void CText::RenderCaret(Vexil3D::I2D* renderer, const tCaretPosition& caret, float width, Vexil3D::CARGB colour,
                        const Vexil3D::CVector2D& offset) {
  VEXIL_ASSERT(m_bUpdated);
  if (!m_bUpdated || caret.line == nullptr) return;
  DrawQuad(renderer, nullptr, colour, GetCaretX(caret) + offset.x, caret.line->top + offset.y, width,
           caret.line->lineHeight);
}

}  // namespace TamberGUI
