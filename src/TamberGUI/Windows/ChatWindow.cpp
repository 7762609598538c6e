// The chat window: line slots, log levels to kinds, printf lines, markup, the wrap split and drawing.
#include <TamberGUI/Windows/ChatWindow.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>

#include <engine/OS.h>
#include <platform/text.h>

#include <TamberGUI/StringConversion.h>
#include <TamberGUI/Text.h>

namespace Vexil3D {
namespace {

constexpr float kBasePixels = 23.0f;
constexpr float kSubpixels = 64.0f;
constexpr float kShadowViewportLines = 900.0f;
constexpr char16_t kSurrogateMask = 0xFC00, kHighSurrogate = 0xD800, kLowSurrogate = 0xDC00;

std::shared_ptr<TamberGUI::CFontSize> SizeOf(TamberGUI::CFonts* fonts, const char16_t* family, std::uint32_t size) {
  TamberGUI::CFont* font = fonts != nullptr ? fonts->GetFont(family, u"Regular") : nullptr;
  return font != nullptr ? font->GetSize(size) : nullptr;
}

}  // namespace

CChatWindow::CChatWindow(void* owner, TamberGUI::CFonts* fonts, float scale)
    : m_pOwner(owner), m_pRegistry(fonts), m_fScale(scale) {
  const float pixels = std::round(scale * kBasePixels * kSubpixels);
  const std::uint32_t size =
      std::isfinite(pixels) && pixels > 0 && pixels < float(UINT32_MAX) ? static_cast<std::uint32_t>(pixels) : 0;
  std::shared_ptr<TamberGUI::CFontSize> primary = size != 0 ? SizeOf(fonts, u"Open Sans", size) : nullptr;
  if (primary != nullptr) {
    m_pFonts = std::make_unique<TamberGUI::CFontStack>(
        std::move(primary),
        std::vector{SizeOf(fonts, u"Segoe UI Emoji", size), SizeOf(fonts, u"Noto Color Emoji", size)});
  }
}

CChatWindow::~CChatWindow() = default;

void CChatWindow::Log(int level, const char16_t* text) {
  std::uint32_t kind = LINE_ERROR;
  if (level == LOG_NONE || level == LOG_INFO) kind = LINE_ORDINARY;
  if (level == LOG_WARN) kind = LINE_STATUS;
  AddLine(text, kind);
}

void CChatWindow::Printf(const char16_t* format, ...) {
  char16_t line[kFormatCapacity];
  va_list args;
  va_start(args, format);
  text::FormatV(line, kFormatCapacity, format, args);
  va_end(args);
  AddLine(line, LINE_STATUS);
}

void CChatWindow::PrintfError(const char16_t* format, ...) {
  char16_t line[kFormatCapacity];
  va_list args;
  va_start(args, format);
  text::FormatV(line, kFormatCapacity, format, args);
  va_end(args);
  AddLine(line, LINE_ERROR);
}

void CChatWindow::AddLine(const char16_t* text, std::uint32_t kind) {
  if (text == nullptr) text = u"";
  std::uint32_t length = 0;
  std::unique_ptr<char16_t[]> converted(
      ConvertColourMarkup(text, static_cast<std::uint32_t>(std::char_traits<char16_t>::length(text)), &length));
  PushLine(converted ? std::u16string(converted.get(), length) : std::u16string(text), kind);
}

void CChatWindow::Scroll() {
  for (std::uint32_t i = 1; i < kLines; ++i) m_Lines[i - 1] = std::move(m_Lines[i]);
  m_Lines[kLines - 1] = {};
}

void CChatWindow::PushLine(const std::u16string& text, std::uint32_t kind) {
  Scroll();
  if (!m_bWrap || text.size() <= kWrapColumn) {
    m_Lines[kLines - 1] = {text, kind};
    return;
  }
  std::size_t firstEnd = kWrapColumn, restStart = kWrapColumn;
  const std::size_t space = text.rfind(u' ', kWrapColumn);
  if (space != std::u16string::npos && kWrapColumn - space < kWrapSearch) {
    firstEnd = space;
    restStart = space + 1;
  }
  m_Lines[kLines - 1] = {text.substr(0, firstEnd), kind};
  Scroll();
  m_Lines[kLines - 1] = {text.substr(restStart, kMaxRest), kind};
}

CARGB CChatWindow::GetKindColour(std::uint32_t kind) const {
  switch (kind) {
    case LINE_ORDINARY:
      return m_OrdinaryColour;
    case LINE_STATUS:
      return m_StatusColour;
    case LINE_ERROR:
      return m_ErrorColour;
    default:
      return CARGB(kind);
  }
}

// A line is stored whole but may be far longer than the window holds (a server's chat line can be a million
// units): each frame lays out only a start of it, prefixes growing fourfold until a row lies wholly below the
// window (the rows before it are then what the whole line gives, since a row's breaks and height depend only on
// what it holds), until the line ends, or until one unit per pixel of every row that can show, which bounds text
// that never fills a row (marks and codes without advance).
void CChatWindow::LayOutShown(TamberGUI::CText* layout, const std::u16string& text, float room) const {
  const float rowHeight = std::max(m_pFonts->GetPrimary()->GetLineHeight(), 1.0f);
  const double rows = std::floor(double(room) / rowHeight) + 2;
  const double columns = std::floor(std::max(double(layout->GetSettings().wrapWidth), 0.0)) + 1;
  const auto cap = static_cast<std::size_t>(std::min(rows * columns, double(text.size())));
  std::size_t units = std::min(kFirstLayoutUnits, cap);
  for (;;) {
    // A cut between the halves of a pair would leave each half a character of its own.
    const bool splitsPair = units > 0 && units < text.size() && (text[units - 1] & kSurrogateMask) == kHighSurrogate &&
                            (text[units] & kSurrogateMask) == kLowSurrogate;
    if (splitsPair) ++units;
    const std::u32string shown = TamberGUI::utf16_to_utf32(text.substr(0, units).c_str());
    layout->Update(shown.c_str(), m_pFonts.get());
    if (units >= cap) return;
    const std::size_t lines = layout->GetLineCount();
    if (lines >= 2 && layout->GetLine(lines - 2).top >= room) return;
    units = std::min(units * kLayoutGrowth, cap);
  }
}

void CChatWindow::Draw(I2D* renderer) {
  if (!m_bVisible || renderer == nullptr || m_pFonts == nullptr) return;
  CViewport viewport;
  renderer->GetViewport(&viewport);
  // A window without a finite area shows nothing.
  if (!(viewport.width > 0) || !(viewport.height > 0) || !std::isfinite(viewport.width) ||
      !std::isfinite(viewport.height))
    return;
  const float x = m_fLeft;
  float y = m_fTop;
  const float shadow = viewport.height / kShadowViewportLines;
  for (const Line& line : m_Lines) {
    // Slots go down the window: from the first that starts below it on, none shows.
    if (!(y < viewport.height)) break;
    TamberGUI::CText layout;
    auto& settings = layout.GetSettings();
    settings.colourCodes = 1;
    settings.allowNewLines = 0;
    settings.includeTrailingWhitespace = 1;
    settings.includeTrailingBlankLines = 0;
    settings.textColour = GetKindColour(line.kind);
    settings.wrapWidth = viewport.width - m_fLeft;
    settings.originX = x;
    settings.originY = y;
    settings.clipX1 = 0;
    settings.clipY1 = 0;
    settings.clipX2 = viewport.width;
    settings.clipY2 = viewport.height;
    layout.AddShadow(shadow, shadow, m_ShadowColour);
    LayOutShown(&layout, line.text, viewport.height - y);
    layout.RenderCharacters(renderer, true, false, false, settings.textColour, {0, 0});
    y += (m_fLineGap + m_fLineHeight) * m_fScale;
  }
}

}  // namespace Vexil3D
