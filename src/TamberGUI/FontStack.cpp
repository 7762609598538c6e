// Glyph lookup over a primary font size and its fallbacks.
#include "FontStack.h"

#include <engine/VexilAssert.h>

#include <algorithm>

namespace TamberGUI {

CFontStack::CFontStack(std::shared_ptr<CFontSize> primary, std::vector<std::shared_ptr<CFontSize>> fallbacks)
    : m_pPrimary(std::move(primary)), m_Fallbacks(std::move(fallbacks)), m_Glyphs(kInitialBuckets) {
  m_Glyphs.max_load_factor(1.0f);
  m_Fallbacks.erase(std::remove(m_Fallbacks.begin(), m_Fallbacks.end(), nullptr), m_Fallbacks.end());
  VEXIL_ASSERT(m_pPrimary);
  if (CGlyph* space = GetGlyph(U' ')) m_fSpaceAdvance = space->GetHorizontalAdvance();
  m_fTabWidth = kSpacesPerTab * m_fSpaceAdvance;
}

CGlyph* CFontStack::GetGlyph(char32_t codePoint) {
  if (codePoint < kDirectCodePoints) {
    CGlyph*& slot = m_pDirect[codePoint];
    if (slot == nullptr) slot = Find(codePoint);
    return slot;
  }
  const auto found = m_Glyphs.find(codePoint);
  if (found != m_Glyphs.end()) return found->second;
  CGlyph* glyph = Find(codePoint);
  m_Glyphs.emplace(codePoint, glyph);
  return glyph;
}

CGlyph* CFontStack::Find(char32_t codePoint) {
  if (!m_pPrimary) return nullptr;
  if (const FT_UInt index = FT_Get_Char_Index(m_pPrimary->GetFace(), codePoint)) return m_pPrimary->GetGlyph(index);
  for (const auto& fallback : m_Fallbacks) {
    if (const FT_UInt index = FT_Get_Char_Index(fallback->GetFace(), codePoint)) return fallback->GetGlyph(index);
  }
  return m_pPrimary->GetGlyph(0);
}

}  // namespace TamberGUI
