#pragma once
// The chat window: the last seven lines of chat, status and log text in the top-left corner of the
// picture, each in the colour of its kind, with in-text colour codes and a drop shadow. It is a log
// sink, so the engine's log can be routed into it.
//
// Line kinds: 1 ordinary (white), 2 status and notices, 3 errors; any other kind is drawn in the
// colour whose value equals the kind.
// Errors: without "Open Sans" in the registry the window has no font stack and draws nothing.
// Printf output is cut at kFormatCapacity units (terminated); lines are stored whole, but a frame lays out and
// draws only what the window (the renderer's viewport) shows of them: slots that start below it are skipped, and a
// slot's layout stops below the window's bottom edge and is clipped to the window, so the work and the quads of a
// frame are bounded by the window's size, not by the lines' lengths.
// Locking: none (the game's main thread only).
#include <cstdint>
#include <memory>
#include <string>

#include <engine/Colour.h>
#include <engine/Context.h>
#include <engine/I2D.h>

#include <TamberGUI/FontStack.h>

namespace TamberGUI {
class CText;
}

namespace Vexil3D {

class CChatWindow : public Logger {
 public:
  static constexpr std::uint32_t kLines = 7;
  static constexpr std::size_t kFormatCapacity = 512;
  // The wrap split (only when the wrap flag is set): first parts of at most kWrapColumn units, a
  // space searched for within kWrapSearch units before it, rests of at most kMaxRest units.
  static constexpr std::size_t kWrapColumn = 64;
  static constexpr std::size_t kWrapSearch = 9;
  static constexpr std::size_t kMaxRest = 129;
  // A frame's layout of a slot: the units of its first try, and the factor of each next one (see Draw).
  static constexpr std::size_t kFirstLayoutUnits = 256;
  static constexpr std::size_t kLayoutGrowth = 4;

  enum eLineKind : std::uint32_t { LINE_ORDINARY = 1, LINE_STATUS = 2, LINE_ERROR = 3 };

  struct Line {
    std::u16string text;
    std::uint32_t kind = 0;
  };

  CChatWindow(void* owner, TamberGUI::CFonts* fonts, float scale);
  ~CChatWindow() override;

  void Log(int level, const char16_t* text) override;
  void Printf(const char16_t* format, ...);
  void PrintfError(const char16_t* format, ...);
  // Turns colour markup ("[#" and six hexadecimal digits, the next "]" dropped; ConvertColourMarkup) into colour
  // codes, then pushes the line.
  void AddLine(const char16_t* text, std::uint32_t kind);
  void PushLine(const std::u16string& text, std::uint32_t kind);
  // Draws the slots from the oldest down, each laid out anew (nothing while hidden, without a font stack or with
  // a viewport of no area).
  void Draw(I2D* renderer);

  const Line& GetLine(std::uint32_t slot) const { return m_Lines[slot]; }
  bool HasFontStack() const { return m_pFonts != nullptr; }
  void SetVisible(bool visible) { m_bVisible = visible; }
  bool IsVisible() const { return m_bVisible != 0; }
  void SetWrap(bool wrap) { m_bWrap = wrap; }
  void SetStatusColour(CARGB colour) { m_StatusColour = colour; }
  CARGB GetKindColour(std::uint32_t kind) const;
  void* GetOwner() const { return m_pOwner; }
  TamberGUI::CFonts* GetFonts() const { return m_pRegistry; }

 private:
  void Scroll();
  // Lays out the start of text that can show in room pixels below the layout's origin.
  void LayOutShown(TamberGUI::CText* layout, const std::u16string& text, float room) const;

  void* m_pOwner;
  TamberGUI::CFonts* m_pRegistry;
  std::unique_ptr<TamberGUI::CFontStack> m_pFonts;
  Line m_Lines[kLines];
  std::uint8_t m_bVisible = 1;
  std::uint8_t m_bWrap = 0;
  CARGB m_OrdinaryColour = 0xFFFFFFFFu;
  CARGB m_StatusColour = 0xFF00FFFFu;
  CARGB m_ErrorColour = 0xFF04A36Bu;
  CARGB m_ShadowColour = 0xFF000000u;
  float m_fLeft = 25.0f;
  float m_fTop = 30.0f;
  float m_fLineGap = 3.0f;
  float m_fLineHeight = 28.0f;
  float m_fScale;
};

}  // namespace Vexil3D
