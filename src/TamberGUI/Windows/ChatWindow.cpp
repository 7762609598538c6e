// The chat window: line slots, log levels to kinds, printf lines, markup, the wrap split and drawing.
#include <TamberGUI/Windows/ChatWindow.h>

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

void CChatWindow::Draw(I2D* renderer) {
  if (!m_bVisible || renderer == nullptr || m_pFonts == nullptr) return;
  CViewport viewport;
  renderer->GetViewport(&viewport);
  const float x = m_fLeft;
  float y = m_fTop;
  const float shadow = viewport.height / kShadowViewportLines;
  for (const Line& line : m_Lines) {
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
    layout.AddShadow(shadow, shadow, m_ShadowColour);
    const std::u32string text = TamberGUI::utf16_to_utf32(line.text.c_str());
    layout.Update(text.c_str(), m_pFonts.get());
    layout.RenderCharacters(renderer, true, false, false, settings.textColour, {0, 0});
    y += (m_fLineGap + m_fLineHeight) * m_fScale;
  }
}

}  // namespace Vexil3D
