#pragma once
// A primary font size and fallback sizes, searched in order for each code point, with a glyph cache
// keyed by code point. Owned by its user and rebuilt when the pixel size changes.
//
// Errors: a stack made without a primary size has no glyphs (null everywhere, advances 0), after an
// assertion. Locking: none (the game's main thread only).
#include <memory>
#include <unordered_map>
#include <vector>

#include "Fonts.h"

namespace TamberGUI {

class CFontStack {
 public:
  // Null fallback sizes are left out.
  explicit CFontStack(std::shared_ptr<CFontSize> primary, std::vector<std::shared_ptr<CFontSize>> fallbacks = {});
  CFontStack(const CFontStack&) = delete;
  CFontStack& operator=(const CFontStack&) = delete;

  // The glyph of the code point: the primary size's when its face has it, else the first fallback
  // that has it, else the primary size's glyph 0. Null only without a primary size.
  CGlyph* GetGlyph(char32_t codePoint);

  CFontSize* GetPrimary() const { return m_pPrimary.get(); }
  const std::shared_ptr<CFontSize>& GetSharedPrimary() const { return m_pPrimary; }
  const std::vector<std::shared_ptr<CFontSize>>& GetFallbacks() const { return m_Fallbacks; }
  // The advance of the stack's own glyph for U+0020 (as GetGlyph finds it), not of the primary size's glyph
  // looked up there alone: the two agree whenever the primary face has a space, and a face without one
  // (a symbol or emoji face as primary) then measures tabs and line ends by the fallback's space the text
  // draws, not by its glyph 0 box. 0 without a primary size.
  float GetSpaceAdvance() const { return m_fSpaceAdvance; }
  float GetTabWidth() const { return m_fTabWidth; }

 private:
  static constexpr std::size_t kInitialBuckets = 8;
  static constexpr float kSpacesPerTab = 8.0f;

  static constexpr char32_t kDirectCodePoints = 128;

  CGlyph* Find(char32_t codePoint);

  std::shared_ptr<CFontSize> m_pPrimary;
  std::vector<std::shared_ptr<CFontSize>> m_Fallbacks;
  float m_fSpaceAdvance = 0.0f;
  float m_fTabWidth = 0.0f;
  std::unordered_map<char32_t, CGlyph*> m_Glyphs;
  // ASCII, the bulk of most texts, looked up without hashing; null until first asked.
  CGlyph* m_pDirect[kDirectCodePoints] = {};
};

}  // namespace TamberGUI
