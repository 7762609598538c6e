#pragma once
// Text layout: a UTF-32 string laid out with a font stack into lines of pieces (one per character,
// cluster, colour code or line break), caret and hit questions about the result, and drawing
// through Vexil3D::I2D.
//
// In-text colour codes (with ColourCodes on): U+0001 and eight hex digits (alpha, red, green, blue)
// set the colour and remember the one before; U+0002 restores the remembered colour (one level).
// A U+0001 without eight hex digits is an ordinary character.
//
// Errors: caret queries and drawing on a layout never updated assert ("m_bUpdated") and answer
// nothing. Update without a font stack asserts and leaves an empty layout. The layout keeps the
// sizes it was laid out with alive, so its glyphs stay valid until the next update.
// Locking: none (the game's main thread only).
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <engine/Colour.h>
#include <engine/I2D.h>
#include <engine/VexilMath.h>

#include "FontStack.h"

namespace TamberGUI {

enum eColourInstruction : std::uint8_t {
  COLOUR_INSTRUCTION_NONE = 0,
  COLOUR_INSTRUCTION_SET = 1,
  COLOUR_INSTRUCTION_RESTORE = 2,
};
enum eTextTransform : std::uint32_t { TEXT_TRANSFORM_NONE = 0, TEXT_TRANSFORM_UPPER = 1, TEXT_TRANSFORM_LOWER = 2 };

class CText {
 public:
  static constexpr std::uint32_t kMaxShadows = 8;

  struct tPieceGlyph {
    CGlyph* glyph;
    float x;  // offset within the piece
  };
  // The glyphs of a piece: almost always none or one, which are kept without an allocation.
  class tPieceGlyphs {
   public:
    void push_back(const tPieceGlyph& glyph) {
      if (m_uCount++ == 0) {
        m_First = glyph;
      } else {
        m_More.push_back(glyph);
      }
    }
    std::size_t size() const { return m_uCount; }
    bool empty() const { return m_uCount == 0; }
    const tPieceGlyph& operator[](std::size_t index) const { return index == 0 ? m_First : m_More[index - 1]; }

   private:
    std::uint32_t m_uCount = 0;
    tPieceGlyph m_First{};
    std::vector<tPieceGlyph> m_More;
  };
  struct tPiece {
    tPieceGlyphs glyphs;
    float x = 0;  // pen position at the piece's start
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // exclusive
    float width = 0;
    Vexil3D::CARGB colour{};
    std::uint8_t colourCode = 0;
  };
  struct tLine {
    float alignmentOffset = 0;
    float startX = 0;
    float top = 0;
    float penX = 0;
    float contentWidth = 0;  // pen x after the last character that counts
    float wrapWidth = 0;
    float xAfterLast = 0;
    float lineHeight = 0;
    float baselineOffset = 0;
    std::vector<tPiece> pieces;
    std::uint32_t countedPieces = 0;
    std::uint32_t piecesAfterLast = 0;
    std::uint8_t nothingVisible = 1;
    std::uint8_t firstWord = 1;
    std::uint32_t index = 0;
    std::uint32_t first = 0;
    std::uint32_t end = 0;
  };
  struct tCaretPosition {
    const tLine* line = nullptr;
    std::uint8_t hasPiece = 0;
    std::uint32_t piece = 0;
    std::uint8_t after = 0;
  };
  struct tCharacterIndex {
    std::uint32_t index = 0;
    std::uint8_t after = 0;
  };
  struct tSelection {
    std::uint32_t start = 0;
    std::uint8_t startAfter = 0;
    std::uint32_t end = 0;
    std::uint8_t endAfter = 0;
  };
  struct tShadow {
    float x = 0;
    float y = 0;
    Vexil3D::CARGB colour{};
  };
  struct tBounds {
    float minX, minY, maxContentX, maxPenX, maxBottom, maxBottomAll;
  };

  // The layout's settings; the owner changes them between updates.
  struct Settings {
    float originX = 0;
    float originY = 0;
    float wrapWidth = std::numeric_limits<float>::infinity();
    float heightLimit = std::numeric_limits<float>::infinity();
    float alignment = 0;  // 0 left, 0.5 centre, 1 right
    std::uint8_t allowNewLines = 1;
    std::uint8_t wordWrap = 1;
    std::uint8_t characterWrap = 1;
    std::uint8_t includeTrailingWhitespace = 0;
    std::uint8_t includeTrailingBlankLines = 0;
    std::uint8_t reserved = 1;  // read by nothing
    float clipX1 = -std::numeric_limits<float>::infinity();
    float clipY1 = -std::numeric_limits<float>::infinity();
    float clipX2 = std::numeric_limits<float>::infinity();
    float clipY2 = std::numeric_limits<float>::infinity();
    std::uint8_t ignoreSpaces = 0;
    std::uint32_t transform = TEXT_TRANSFORM_NONE;
    float lineSpacing = 1;
    float leading = 1;
    std::uint8_t debug = 0;  // joiners and variation selectors laid out as characters of their own
    std::uint8_t colourCodes = 0;
    std::uint8_t rawCodes = 0;  // codes are measured but do not change the colour
    Vexil3D::CARGB textColour = Vexil3D::COLOUR_WHITE;
    Vexil3D::CARGB selectionColour = Vexil3D::COLOUR_SKYBLUE;
  };

  CText();
  ~CText();
  CText(const CText&) = delete;
  CText& operator=(const CText&) = delete;

  Settings& GetSettings() { return m_Settings; }
  const Settings& GetSettings() const { return m_Settings; }

  // Lays the zero-terminated text out; afterwards width, height and the updated flag are set.
  void Update(const char32_t* text, CFontStack* fonts);

  // length extended over the following variation selectors and joiners (unless Debug).
  std::uint32_t GetCharacterLength(const char32_t* text, std::uint32_t length) const;
  // 9 for a set code, 1 for a restore, 0 for none (ColourCodes off or malformed). Never reads past
  // the first character that breaks the code, so never past the terminator.
  std::uint32_t GetColourCodeLength(const char32_t* text, eColourInstruction* instruction,
                                    Vexil3D::CARGB* colour) const;
  // The glyph of the character at text (null for a colour code), its advance at pen x and its unit count.
  CGlyph* GetGlyph(const char32_t* text, CFontStack* fonts, float x, float* advance, std::uint32_t* units) const;
  // The advance of length units from text at pen x, kerned within one size.
  float GetWidth(const char32_t* text, std::uint32_t length, CFontStack* fonts, float x) const;
  // The advance (kerned) up to the next space, hyphen-minus, tab, line feed or the end.
  float GetWordWidth(const char32_t* text, CFontStack* fonts, float x) const;

  // The caret nearest to the point (relative to the origin). With clamp the point must lie inside
  // the bounds and on a piece; false when it does not.
  bool GetCaretPosition(float x, float y, bool clamp, tCaretPosition* caret) const;
  // The caret nearest to x (relative to the origin) on the line of that index, by the same piece
  // test; false when there is no such line. Vertical caret moves pick their line by index, since
  // line tops summed in floats need not land inside the line a point test takes.
  bool GetCaretPositionOnLine(std::size_t line, float x, tCaretPosition* caret) const;
  // The line and piece holding a character index.
  bool FindCharacter(const tCharacterIndex& index, tCaretPosition* caret) const;
  std::uint32_t CaretToIndex(const tCaretPosition& caret) const;
  tCharacterIndex CaretToCharacterIndex(const tCaretPosition& caret) const;
  float GetCaretX(const tCaretPosition& caret) const;

  // Draws the glyphs (shadows first) at offset from the origin. A glyph's surface is made only when its
  // quad, measured from the glyph's metrics with two pixels (at a strike's scale) for the bitmap's rounding,
  // reaches into the clip rectangle and into the renderer's drawing area when the renderer reports one;
  // glyphs wholly outside still lay the text out but are neither rendered nor sent. Nothing is made
  // without a renderer.
  void RenderCharacters(Vexil3D::I2D* renderer, bool ignoreSelection, bool drawSelected, bool forceColour,
                        Vexil3D::CARGB colour, const Vexil3D::CVector2D& offset);
  // A filled quad per line of the first selection in the selection colour.
  void RenderSelection(Vexil3D::I2D* renderer, const Vexil3D::CVector2D& offset);
  // A quad at the caret's x and line top, width wide and one line high.
  void RenderCaret(Vexil3D::I2D* renderer, const tCaretPosition& caret, float width, Vexil3D::CARGB colour,
                   const Vexil3D::CVector2D& offset);

  // The first selection range; with create, a zeroed one is made when there is none and every
  // range after the first is dropped. Null without ranges when create is false.
  tSelection* GetSelection(bool create);
  void ClearSelections() { m_Selections.clear(); }
  // False when kMaxShadows are there already.
  bool AddShadow(float x, float y, Vexil3D::CARGB colour);
  void ClearShadows() { m_uShadowCount = 0; }

  bool IsUpdated() const { return m_bUpdated != 0; }
  float GetWidth() const { return m_fWidth; }
  float GetHeight() const { return m_fHeight; }
  const tBounds& GetBounds() const { return m_Bounds; }
  std::size_t GetLineCount() const { return m_Lines.size(); }
  const tLine& GetLine(std::size_t index) const { return *m_Lines[index]; }
  std::uint32_t GetVisibleLineCount() const { return m_uVisibleLines; }

 private:
  struct LayoutState;

  char32_t Transform(char32_t c) const;
  bool IsJoiner(char32_t c) const;
  bool CaretOnLine(const tLine& line, float x, bool clamp, tCaretPosition* caret) const;
  CGlyph* Kerned(CGlyph* glyph, const char32_t* next, CFontStack* fonts, float* advance) const;
  void OpenLine(std::uint32_t first);
  void CloseLine(std::uint32_t end, bool openNext);
  void ResetBounds();
  void RenderGlyphs(Vexil3D::I2D* renderer, bool ignoreSelection, bool drawSelected, bool forceColour,
                    Vexil3D::CARGB colour, const Vexil3D::CVector2D& offset);
  bool IsSelected(std::uint32_t index) const;
  void DrawQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                float width, float height);

  Settings m_Settings;
  std::vector<tSelection> m_Selections;
  std::vector<std::unique_ptr<tLine>> m_Lines;
  std::uint32_t m_uVisibleLines = 0;
  tBounds m_Bounds{};
  float m_fWidth = 0;
  float m_fHeight = 0;
  float m_fRunningY = 0;
  float m_fPrimaryLineHeight = 0;
  float m_fPrimaryBaseline = 0;
  tShadow m_Shadows[kMaxShadows];
  std::uint32_t m_uShadowCount = 0;
  std::uint8_t m_bUpdated = 0;
  // The sizes the glyphs of the lines belong to, kept until the next update.
  std::vector<std::shared_ptr<CFontSize>> m_Sizes;
};

}  // namespace TamberGUI
