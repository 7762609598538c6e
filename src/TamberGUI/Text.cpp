// Text layout: measuring, line breaking and colour codes of CText.
#include "Text.h"

#include <engine/VexilAssert.h>

#include <algorithm>

namespace TamberGUI {
namespace {

constexpr char32_t kSetColour = 0x0001;
constexpr char32_t kRestoreColour = 0x0002;
constexpr char32_t kTab = U'\t';
constexpr char32_t kLineFeed = U'\n';
constexpr char32_t kSpace = U' ';
constexpr char32_t kHyphen = U'-';
constexpr char32_t kJoiner = 0x200D;
constexpr char32_t kSelectorFirst = 0xFE00;
constexpr char32_t kSelectorLast = 0xFE0F;
constexpr std::uint32_t kColourDigits = 8;
constexpr std::uint32_t kSetCodeLength = 1 + kColourDigits;
constexpr std::uint32_t kRestoreCodeLength = 1;
constexpr unsigned kBitsPerDigit = 4;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

int HexDigit(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

bool IsBreak(char32_t c) { return c == kSpace || c == kHyphen || c == kTab; }
bool EndsWord(char32_t c) { return c == 0 || IsBreak(c) || c == kLineFeed; }

}  // namespace

CText::CText() { ResetBounds(); }
CText::~CText() = default;

void CText::ResetBounds() {
  m_Bounds = {kInfinity, kInfinity, -kInfinity, -kInfinity, -kInfinity, -kInfinity};
}

// --- Characters ---

// Parameter names as the assertion texts give them.
std::uint32_t CText::GetCharacterLength(const char32_t* psz, std::uint32_t Length) const {
  if (m_Settings.debug) return Length;
  VEXIL_ASSERT(*psz || Length < 1);
  while (IsJoiner(psz[Length])) ++Length;
  return Length;
}

bool CText::IsJoiner(char32_t c) const { return c == kJoiner || (c >= kSelectorFirst && c <= kSelectorLast); }

std::uint32_t CText::GetColourCodeLength(const char32_t* text, eColourInstruction* instruction,
                                         Vexil3D::CARGB* colour) const {
  *instruction = COLOUR_INSTRUCTION_NONE;
  if (!m_Settings.colourCodes) return 0;
  if (text[0] == kRestoreColour) {
    *instruction = COLOUR_INSTRUCTION_RESTORE;
    return kRestoreCodeLength;
  }
  if (text[0] != kSetColour) return 0;
  std::uint32_t value = 0;
  // Digits are read one by one: the first that is not a digit (the terminator too) ends the code.
  for (std::uint32_t i = 1; i <= kColourDigits; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return 0;
    value = value << kBitsPerDigit | static_cast<std::uint32_t>(digit);
  }
  *instruction = COLOUR_INSTRUCTION_SET;
  *colour = Vexil3D::CARGB(value);
  return kSetCodeLength;
}

char32_t CText::Transform(char32_t c) const {
  if (m_Settings.transform == TEXT_TRANSFORM_UPPER && c >= U'a' && c <= U'z') return c - U'a' + U'A';
  if (m_Settings.transform == TEXT_TRANSFORM_LOWER && c >= U'A' && c <= U'Z') return c - U'A' + U'a';
  return c;
}

CGlyph* CText::GetGlyph(const char32_t* psz, CFontStack* fonts, float x, float* advance,
                        std::uint32_t* units) const {
  VEXIL_ASSERT(*psz);
  const char32_t* text = psz;
  *advance = 0;
  eColourInstruction instruction;
  Vexil3D::CARGB colour;
  if (const std::uint32_t code = GetColourCodeLength(text, &instruction, &colour)) {
    *units = GetCharacterLength(text, code);
    return nullptr;
  }
  *units = GetCharacterLength(text, 1);
  const char32_t c = text[0];
  CGlyph* glyph = nullptr;
  if (c == kTab) {
    glyph = fonts->GetGlyph(kSpace);
    const float tab = fonts->GetTabWidth();
    // A font without a space width has no tab stops: the tab advances nothing.
    if (tab > 0 && std::isfinite(tab) && std::isfinite(x)) *advance = tab - (x - std::floor(x / tab) * tab);
  } else if ((IsJoiner(c) && !m_Settings.debug) || (m_Settings.ignoreSpaces && c == kSpace)) {
    glyph = fonts->GetGlyph(c);
  } else {
    glyph = fonts->GetGlyph(Transform(c));
    if (glyph != nullptr) *advance = glyph->GetHorizontalAdvance();
  }
  return glyph;
}

// Adds the kerning between glyph and the glyph of the character at next when both come from one
// size whose face kerns.
CGlyph* CText::Kerned(CGlyph* glyph, const char32_t* next, CFontStack* fonts, float* advance) const {
  if (glyph == nullptr || *next == 0) return glyph;
  CFontSize* size = glyph->GetFontSize();
  if (!size->HasKerning()) return glyph;
  eColourInstruction instruction;
  Vexil3D::CARGB colour;
  if (GetColourCodeLength(next, &instruction, &colour) != 0) return glyph;
  CGlyph* following = fonts->GetGlyph(Transform(*next));
  if (following != nullptr && following->GetFontSize() == size)
    *advance += size->GetKerning(glyph->GetIndex(), following->GetIndex());
  return glyph;
}

float CText::GetWidth(const char32_t* text, std::uint32_t Length, CFontStack* fonts, float x) const {
  float width = 0;
  std::uint32_t Length2 = 0;
  while (Length2 < Length && text[Length2] != 0) {
    float advance;
    std::uint32_t units;
    CGlyph* glyph = GetGlyph(text + Length2, fonts, x + width, &advance, &units);
    Length2 += units;
    if (Length2 < Length) Kerned(glyph, text + Length2, fonts, &advance);
    width += advance;
  }
  VEXIL_ASSERT(Length >= Length2);
  return width;
}

float CText::GetWordWidth(const char32_t* text, CFontStack* fonts, float x) const {
  float width = 0;
  for (std::uint32_t p = 0; !EndsWord(text[p]);) {
    float advance;
    std::uint32_t units;
    CGlyph* glyph = GetGlyph(text + p, fonts, x + width, &advance, &units);
    p += units;
    if (!EndsWord(text[p])) Kerned(glyph, text + p, fonts, &advance);
    width += advance;
  }
  return width;
}

// --- Lines ---

void CText::OpenLine(std::uint32_t first) {
  auto line = std::make_unique<tLine>();
  line->top = m_fRunningY;
  line->wrapWidth = m_Settings.wrapWidth;
  line->index = static_cast<std::uint32_t>(m_Lines.size());
  line->first = first;
  line->end = first;
  m_Lines.push_back(std::move(line));
}

void CText::CloseLine(std::uint32_t end, bool openNext) {
  tLine& line = *m_Lines.back();
  line.end = end;
  if (line.nothingVisible) {
    line.lineHeight = m_fPrimaryLineHeight;
    line.baselineOffset = m_fPrimaryBaseline;
  }
  // An unbounded wrap width has no free room to share out.
  const float room = line.wrapWidth - line.contentWidth;
  line.alignmentOffset = std::isfinite(room) ? room * m_Settings.alignment : 0.0f;
  const float bottom = line.top + m_Settings.lineSpacing * line.lineHeight;
  if (m_Lines.size() > 1 && !m_Settings.includeTrailingBlankLines && line.nothingVisible) {
    m_Bounds.maxBottomAll = std::max(m_Bounds.maxBottomAll, bottom);
  } else {
    m_uVisibleLines = static_cast<std::uint32_t>(m_Lines.size());
    const float left = line.startX + line.alignmentOffset;
    m_Bounds.minX = std::min(m_Bounds.minX, left);
    m_Bounds.minY = std::min(m_Bounds.minY, line.top);
    m_Bounds.maxContentX = std::max(m_Bounds.maxContentX, left + line.contentWidth);
    m_Bounds.maxPenX = std::max(m_Bounds.maxPenX, left + line.penX);
    m_Bounds.maxBottom = std::max(m_Bounds.maxBottom, bottom);
    m_Bounds.maxBottomAll = std::max(m_Bounds.maxBottomAll, bottom);
  }
  if (!openNext) return;
  m_fRunningY += m_Settings.lineSpacing * line.lineHeight * m_Settings.leading;
  OpenLine(end);
}

void CText::Update(const char32_t* text, CFontStack* fonts) {
  m_Lines.clear();
  m_uVisibleLines = 0;
  ResetBounds();
  m_fRunningY = 0;
  m_Sizes.clear();
  m_bUpdated = 1;
  VEXIL_ASSERT(fonts && fonts->GetPrimary());
  CFontSize* primary = fonts ? fonts->GetPrimary() : nullptr;
  if (primary == nullptr || text == nullptr) {
    m_fWidth = m_fHeight = 0;
    return;
  }
  m_Sizes.push_back(fonts->GetSharedPrimary());
  m_Sizes.insert(m_Sizes.end(), fonts->GetFallbacks().begin(), fonts->GetFallbacks().end());
  m_fPrimaryLineHeight = primary->GetLineHeight();
  m_fPrimaryBaseline = primary->GetDescender() + primary->GetLineHeight();
  const Settings& s = m_Settings;
  OpenLine(0);

  Vexil3D::CARGB colour = s.textColour;
  Vexil3D::CARGB remembered = s.textColour;
  bool wordStart = true;
  std::uint32_t p = 0;
  for (char32_t c; (c = text[p]) != 0;) {
    tLine* line = m_Lines.back().get();
    if (s.allowNewLines && c == kLineFeed) {
      tPiece piece;
      piece.x = line->penX;
      piece.start = p;
      piece.end = p + 1;
      piece.colour = colour;
      piece.width = fonts->GetSpaceAdvance();
      line->pieces.push_back(std::move(piece));
      line->penX += fonts->GetSpaceAdvance();
      line->piecesAfterLast = static_cast<std::uint32_t>(line->pieces.size());
      CloseLine(p + 1, true);
      wordStart = true;
      ++p;
      continue;
    }
    if (wordStart && !IsBreak(c)) {
      wordStart = false;
      if (s.allowNewLines && s.wordWrap && !line->firstWord &&
          line->penX + GetWordWidth(text + p, fonts, line->penX) >= line->wrapWidth) {
        CloseLine(p, true);
        line = m_Lines.back().get();
      }
    }
    eColourInstruction instruction = COLOUR_INSTRUCTION_NONE;
    Vexil3D::CARGB code{0u};
    const std::uint32_t codeLength = GetColourCodeLength(text + p, &instruction, &code);
    std::uint32_t n = GetCharacterLength(text + p, codeLength == 0 ? 1 : codeLength);
    if (s.rawCodes) instruction = COLOUR_INSTRUCTION_NONE;
    if (instruction == COLOUR_INSTRUCTION_SET) {
      remembered = colour;
      colour = code;
    } else if (instruction == COLOUR_INSTRUCTION_RESTORE) {
      colour = remembered;
    }
    const bool mayWrap = s.characterWrap && (s.includeTrailingWhitespace || c != kSpace);

    if (n == 1) {
      float advance = 0;
      std::uint32_t units = 1;
      CGlyph* glyph = GetGlyph(text + p, fonts, line->penX, &advance, &units);
      if (mayWrap && !line->firstWord && line->penX + advance > line->wrapWidth) {
        CGlyph* direct = fonts->GetGlyph(c);
        const float directAdvance = direct ? direct->GetHorizontalAdvance() : 0.0f;
        if (c == kTab || line->penX + directAdvance >= line->wrapWidth) {
          CloseLine(p, true);
          line = m_Lines.back().get();
          glyph = GetGlyph(text + p, fonts, line->penX, &advance, &units);
        } else {
          glyph = direct;
          advance = directAdvance;
          units = 1;
        }
      }
      Kerned(glyph, text + p + units, fonts, &advance);
      if (glyph != nullptr) {
        line->lineHeight = std::max(line->lineHeight, glyph->GetLineHeight());
        line->baselineOffset = std::max(line->baselineOffset, glyph->GetLineHeight() + glyph->GetDescender());
      }
      const float share = advance / static_cast<float>(units);
      for (std::uint32_t i = 0; i < units; ++i) {
        tPiece piece;
        piece.x = line->penX;
        piece.start = p + i;
        piece.end = p + i + 1;
        piece.colour = colour;
        piece.width = share;
        if (i == 0 && glyph != nullptr) piece.glyphs.push_back({glyph, 0.0f});
        line->pieces.push_back(std::move(piece));
        line->penX += share;
      }
      n = units;
    } else {
      if (mayWrap && !line->firstWord && line->penX + GetWidth(text + p, n, fonts, line->penX) >= line->wrapWidth) {
        CloseLine(p, true);
        line = m_Lines.back().get();
      }
      tPiece piece;
      piece.x = line->penX;
      piece.start = p;
      piece.end = p + n;
      piece.colour = colour;
      piece.colourCode = codeLength != 0 ? 1 : 0;
      for (std::uint32_t q = 0; q < n;) {
        float advance;
        std::uint32_t units;
        CGlyph* glyph = GetGlyph(text + q + p, fonts, line->penX, &advance, &units);
        q += units;
        if (q < n) Kerned(glyph, text + p + q, fonts, &advance);
        if (glyph != nullptr) {
          piece.glyphs.push_back({glyph, piece.width});
          line->lineHeight = std::max(line->lineHeight, glyph->GetLineHeight());
          line->baselineOffset = std::max(line->baselineOffset, glyph->GetLineHeight() + glyph->GetDescender());
        }
        piece.width += advance;
        line->penX += advance;
      }
      line->pieces.push_back(std::move(piece));
    }

    line->piecesAfterLast = static_cast<std::uint32_t>(line->pieces.size());
    if (IsBreak(c)) wordStart = true;
    if (s.includeTrailingWhitespace || c != kSpace) {
      line->nothingVisible = 0;
      line->contentWidth = line->penX;
      line->xAfterLast = line->penX;
      line->countedPieces = static_cast<std::uint32_t>(line->pieces.size());
    }
    line->firstWord = 0;
    p += n;
  }
  CloseLine(p, false);
  m_fWidth = m_Bounds.maxContentX - m_Bounds.minX;
  m_fHeight = m_Bounds.maxBottom - m_Bounds.minY;
}

}  // namespace TamberGUI
