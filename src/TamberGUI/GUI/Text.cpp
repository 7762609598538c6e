// The text element: attributes, sizing and layout, drawing, caret blink and text positions.
#include <TamberGUI/GUI/Text.h>

#include <algorithm>
#include <cmath>

#include <engine/VexilAssert.h>
#include <platform/window.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>
#include <TamberGUI/StringConversion.h>

namespace TamberGUI::GUI {
namespace {

constexpr float kSubpixels = 64.0f;  // font sizes are counted in 1/64 px
constexpr float kMillisecondsPerSecond = 1000.0f;
// The drop shadow moves by one pixel per 900 lines of viewport.
constexpr float kShadowViewportLines = 900.0f;
constexpr std::uint32_t kPaddingLeft = 0, kPaddingTop = 1, kPaddingRight = 2, kPaddingBottom = 3;

void ReadFlag(const Vexil3D::CElementChunk* chunk, const char16_t* name, std::uint8_t* flag) {
  bool value = false;
  if (chunk->GetBoolAttribute(name, &value)) *flag = value ? 1 : 0;
}

void ReadColour(const Vexil3D::CElementChunk* chunk, const char16_t* name, Vexil3D::CARGB* colour) {
  if (const char16_t* text = chunk->GetStringAttribute(name)) *colour = CElement::ParseColour(text);
}

}  // namespace

CText::CText(CManager* manager) : CElement(manager) {
  m_Layout.GetSelection(true);  // the element has a caret from the start
}

CText::~CText() = default;

void CText::Load(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr) return;
  CElement::Load(chunk);
  TamberGUI::CText::Settings& settings = m_Layout.GetSettings();

  std::uint32_t length = 0;
  const char16_t* text = nullptr;
  if (const char16_t* name = chunk->GetStringAttribute(u"TextName")) text = m_pManager->GetString(name, &length);
  if (text != nullptr) {
    m_WideText.assign(text, length);
  } else if (const char16_t* given = chunk->GetStringAttribute(u"Text")) {
    m_WideText = given;
  }
  m_Text = utf16_to_utf32_n(m_WideText.data(), m_WideText.size());

  const char16_t* colour = chunk->GetStringAttribute(u"Colour");
  VEXIL_ASSERT(colour != nullptr);
  if (colour != nullptr) m_Colour = ParseColour(colour);
  settings.textColour = m_Colour;
  ReadColour(chunk, u"SelectionHighlightColour", &m_SelectionHighlightColour);
  ReadColour(chunk, u"SelectionColour", &m_SelectionColour);
  ReadColour(chunk, u"UnfocusedSelectionHighlightColour", &m_UnfocusedSelectionHighlightColour);
  ReadColour(chunk, u"UnfocusedSelectionColour", &m_UnfocusedSelectionColour);
  ReadFlag(chunk, u"UnfocusedHideSelection", &m_bUnfocusedHideSelection);
  chunk->GetFloatAttribute(u"CaretWidth", &m_fCaretWidth);
  chunk->GetFloatAttribute(u"DropWidth", &m_fDropWidth);
  if (const char16_t* stack = chunk->GetStringAttribute(u"FontStack")) m_FontStackName = stack;

  // A size that is not positive and finite counts as missing: no font stack is made from it.
  float size = 0;
  const bool sized = chunk->GetFloatAttribute(u"Size", &size) && std::isfinite(size) && size > 0;
  VEXIL_ASSERT(sized);
  m_fSize = sized ? size : 0;

  if (chunk->GetFloatAttribute(u"Align", &m_fAlign)) {
    VEXIL_ASSERT(IsWidthFixed());
    if (!IsWidthFixed() || !std::isfinite(m_fAlign)) m_fAlign = 0;
  }
  settings.alignment = m_fAlign;
  ReadFlag(chunk, u"IgnoreSpaces", &settings.ignoreSpaces);
  if (const char16_t* transform = chunk->GetStringAttribute(u"Transform")) {
    const std::u16string_view name(transform);
    if (name == u"None") {
      settings.transform = TEXT_TRANSFORM_NONE;
    } else if (name == u"Uppercase") {
      settings.transform = TEXT_TRANSFORM_UPPER;
    } else if (name == u"Lowercase") {
      settings.transform = TEXT_TRANSFORM_LOWER;
    } else {
      VEXIL_ASSERT(!"unknown Transform");
    }
  }
  chunk->GetFloatAttribute(u"LineSpacing", &settings.lineSpacing);
  chunk->GetFloatAttribute(u"Leading", &settings.leading);
  float padding = 0;
  if (chunk->GetFloatAttribute(u"Padding", &padding)) std::fill(std::begin(m_fPadding), std::end(m_fPadding), padding);
  chunk->GetFloatAttribute(u"PaddingLeft", &m_fPadding[kPaddingLeft]);
  chunk->GetFloatAttribute(u"PaddingTop", &m_fPadding[kPaddingTop]);
  chunk->GetFloatAttribute(u"PaddingRight", &m_fPadding[kPaddingRight]);
  chunk->GetFloatAttribute(u"PaddingBottom", &m_fPadding[kPaddingBottom]);
  bool flag = false;
  if (chunk->GetBoolAttribute(u"Editable", &flag)) SetEditable(flag);
  ReadFlag(chunk, u"Selectable", &m_bSelectable);
  if (m_bEditable) m_bSelectable = 1;
  ReadFlag(chunk, u"AllowNewLines", &settings.allowNewLines);
  ReadFlag(chunk, u"ShrinkToFit", &m_bShrinkToFit);
  ReadFlag(chunk, u"Draggable", &m_bDraggable);
  ReadFlag(chunk, u"DropShadow", &m_bDropShadow);
  ReadFlag(chunk, u"Debug", &settings.debug);
  ReadFlag(chunk, u"ColourCodes", &settings.colourCodes);
  ReadFlag(chunk, u"IncludeTrailingWhitespace", &settings.includeTrailingWhitespace);
  ReadFlag(chunk, u"IncludeTrailingBlankLines", &settings.includeTrailingBlankLines);
  // The caret may stand on trailing blank lines of selectable text.
  if (m_bSelectable) settings.includeTrailingBlankLines = 1;
  if (!IsWidthFixed()) {
    settings.wordWrap = 0;
    settings.characterWrap = 0;
  }
}

// --- Layout ---

void CText::RebuildFontStack() {
  m_pFonts.reset();
  // The nearest page that names the stack: a page nested in another (a window in the main page)
  // uses the stacks of the pages around it unless it defines its own of that name.
  const CPage::FontStack* fonts = nullptr;
  for (CPage* page = GetNearestPage(); page != nullptr && fonts == nullptr; page = page->GetNearestPage()) {
    fonts = page->GetFontStack(m_FontStackName);
  }
  if (fonts == nullptr || fonts->empty() || m_uPixelSize == 0) return;
  std::shared_ptr<CFontSize> primary = fonts->front()->GetSize(m_uPixelSize);
  if (primary == nullptr) return;
  std::vector<std::shared_ptr<CFontSize>> fallbacks;
  for (std::size_t i = 1; i < fonts->size(); ++i) fallbacks.push_back((*fonts)[i]->GetSize(m_uPixelSize));
  m_pFonts = std::make_unique<CFontStack>(std::move(primary), std::move(fallbacks));
}

void CText::Relayout() {
  if (m_pFonts == nullptr) return;
  TamberGUI::CText::Settings& settings = m_Layout.GetSettings();
  settings.heightLimit = IsHeightFixed() ? m_fHeightPx - PaddingY() : std::numeric_limits<float>::infinity();
  m_Layout.Update(m_Text.c_str(), m_pFonts.get());
}

void CText::UpdateWidth() {
  const float laidOut = m_Layout.IsUpdated() ? m_Layout.GetWidth() : 0.0f;
  const float wrap = m_Layout.GetSettings().wrapWidth;
  m_fWidthPx = PaddingX() + (IsWidthFixed() && std::isfinite(wrap) ? wrap : laidOut);
}

void CText::UpdateHeight() { m_fHeightPx = PaddingY() + (m_Layout.IsUpdated() ? m_Layout.GetHeight() : 0.0f); }

void CText::LayoutHorizontal() {
  CElement::LayoutHorizontal();
  if (!IsWidthFixed()) return;
  m_Layout.GetSettings().wrapWidth = std::max(0.0f, m_fWidthPx - PaddingX());
  Relayout();
}

void CText::UpdateLayout() {
  const float pixels = std::round(m_fSize * m_fScale * kSubpixels);
  const std::uint32_t pixelSize =
      std::isfinite(pixels) && pixels > 0 && pixels < float(UINT32_MAX) ? static_cast<std::uint32_t>(pixels) : 0;
  if (pixelSize != m_uPixelSize || m_pFonts == nullptr) {
    m_uPixelSize = pixelSize;
    RebuildFontStack();
    if (!IsWidthFixed()) Relayout();
  }
  CElement::UpdateLayout();
  TamberGUI::CText::Settings& settings = m_Layout.GetSettings();
  settings.originX = m_fLeft + m_fPadding[kPaddingLeft] * m_fScale;
  settings.originY = m_fTopEdge + m_fPadding[kPaddingTop] * m_fScale;
  if (m_bShrinkToFit && IsWidthFixed() && m_Layout.IsUpdated()) {
    const float laidOut = m_Layout.GetWidth();
    m_fLeft += (settings.wrapWidth - laidOut) * m_fAlign;
    m_fWidthPx = laidOut + PaddingX();
    m_fHeightPx = m_Layout.GetHeight() + PaddingY();
  }
}

void CText::UpdateClipRect() {
  CElement::UpdateClipRect();
  if (IsWidthFixed() && !m_bShrinkToFit) {
    m_Clip.x1 = std::max(m_Clip.x1, m_fLeft);
    m_Clip.y1 = std::max(m_Clip.y1, m_fTopEdge);
    m_Clip.x2 = std::min(m_Clip.x2, m_fLeft + m_fWidthPx);
    m_Clip.y2 = std::min(m_Clip.y2, m_fTopEdge + m_fHeightPx);
  }
}

// --- Drawing ---

bool CText::IsFocused() { return m_pManager->GetFocusedElement() == this; }

void CText::RenderCaretAt(Vexil3D::I2D* renderer, const Place& place, float width, float shadowOffset) {
  TamberGUI::CText::tCaretPosition caret;
  if (!m_Layout.FindCharacter(place, &caret)) return;
  if (m_bDropShadow) m_Layout.RenderCaret(renderer, caret, width, Vexil3D::COLOUR_BLACK, {shadowOffset, shadowOffset});
  m_Layout.RenderCaret(renderer, caret, width, m_Colour, {0, 0});
}

void CText::Render(Vexil3D::I2D* renderer) {
  if (m_pFonts == nullptr || !m_Layout.IsUpdated() || m_Layout.GetLineCount() == 0 || renderer == nullptr) return;
  TamberGUI::CText::Settings& settings = m_Layout.GetSettings();
  settings.clipX1 = m_Clip.x1, settings.clipY1 = m_Clip.y1, settings.clipX2 = m_Clip.x2, settings.clipY2 = m_Clip.y2;
  const bool focused = IsFocused();
  Vexil3D::CViewport viewport;
  renderer->GetViewport(&viewport);
  const float shadow = viewport.height / kShadowViewportLines;

  const bool ignoreSelection = m_bUnfocusedHideSelection && !focused;
  if (!ignoreSelection && GetSelectionFirst() != GetSelectionLast()) {
    settings.selectionColour = focused ? m_SelectionHighlightColour : m_UnfocusedSelectionHighlightColour;
    m_Layout.RenderSelection(renderer, {0, 0});
  }
  settings.selectionColour = focused ? m_SelectionColour : m_UnfocusedSelectionColour;
  if (m_bDropShadow) {
    m_Layout.RenderCharacters(renderer, ignoreSelection, true, true, Vexil3D::COLOUR_BLACK, {shadow, shadow});
  }
  m_Layout.RenderCharacters(renderer, ignoreSelection, true, false, m_Colour, {0, 0});
  if (m_bDropCaretShown) RenderCaretAt(renderer, {m_uDropPosition, 0}, m_fDropWidth * m_fScale, shadow);
  if (focused && m_bCaretVisible && HasCaret())
    RenderCaretAt(renderer, GetCaretPlace(), m_fCaretWidth * m_fScale, shadow);
}

void CText::RenderDebug(Vexil3D::I2D*) {}

bool CText::ContainsPoint(const Vexil3D::CVector2D& point) {
  // Text that cannot be selected lets the mouse through to what lies beneath.
  return m_bSelectable && CElement::ContainsPoint(point);
}

bool CText::GetCursor(std::uint32_t* cursor) {
  TamberGUI::CText::tCaretPosition caret;
  const auto& settings = m_Layout.GetSettings();
  const bool overText =
      m_Layout.IsUpdated() && m_Layout.GetLineCount() != 0 &&
      m_Layout.GetCaretPosition(m_fHoverX - settings.originX, m_fHoverY - settings.originY, true, &caret);
  if (!overText) return CElement::GetCursor(cursor);
  *cursor = IsOverSelection({m_fHoverX, m_fHoverY}) ? SDL_SYSTEM_CURSOR_ARROW : SDL_SYSTEM_CURSOR_IBEAM;
  return true;
}

void CText::Process(float seconds) {
  if (!IsFocused()) {
    m_fBlink = 0;
    m_bCaretVisible = 1;
    return;
  }
  m_fBlink += seconds;
  if (m_fBlink > static_cast<float>(GetCaretBlinkTime()) / kMillisecondsPerSecond) {
    m_fBlink = 0;
    m_bCaretVisible = !m_bCaretVisible;
    Invalidate();
  }
}

// --- Text and positions ---

void CText::SetText(const char16_t* text) {
  m_WideText = text != nullptr ? text : u"";
  SetTextUTF32(utf16_to_utf32_n(m_WideText.data(), m_WideText.size()));
}

void CText::SetTextUTF32(const std::u32string& text) {
  if (text != m_Text) {
    m_Text = text;
    Relayout();
  }
  Select(0, 0);
  m_fDesiredX = 0;
  CaretMoved(true);
}

std::u16string CText::GetTextUTF16() const { return utf32_to_utf16(m_Text.data(), m_Text.size(), false); }

std::uint32_t CText::GetSelectionFirst() const {
  const auto* range = const_cast<TamberGUI::CText&>(m_Layout).GetSelection(false);
  if (range == nullptr) return 0;
  return std::min(range->start + range->startAfter, range->end + range->endAfter);
}

std::uint32_t CText::GetSelectionLast() const {
  const auto* range = const_cast<TamberGUI::CText&>(m_Layout).GetSelection(false);
  if (range == nullptr) return 0;
  return std::max(range->start + range->startAfter, range->end + range->endAfter);
}

std::uint32_t CText::GetCaret() const {
  const auto* range = const_cast<TamberGUI::CText&>(m_Layout).GetSelection(false);
  return range == nullptr ? 0 : range->end + range->endAfter;
}

CText::Place CText::GetCaretPlace() const {
  const auto* range = const_cast<TamberGUI::CText&>(m_Layout).GetSelection(false);
  return range == nullptr ? Place{} : Place{range->end, range->endAfter};
}

bool CText::FindCaret(TamberGUI::CText::tCaretPosition* caret) const {
  return m_Layout.IsUpdated() && m_Layout.GetLineCount() != 0 && m_Layout.FindCharacter(GetCaretPlace(), caret) &&
         caret->line != nullptr;
}

std::size_t CText::GetCaretLine() const {
  TamberGUI::CText::tCaretPosition caret;
  return FindCaret(&caret) ? caret.line->index : 0;
}

void CText::Select(std::uint32_t anchor, std::uint32_t caret) { Select(Place{anchor, 0}, Place{caret, 0}); }

void CText::Select(const Place& anchor, const Place& caret) {
  const auto size = static_cast<std::uint32_t>(m_Text.size());
  // A place after a character needs the character; past the end it is the end.
  const auto clamp = [size](const Place& place) {
    if (place.after && place.index < size) return place;
    return Place{static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t(place.index) + place.after, size)),
                 0};
  };
  const Place a = clamp(anchor), c = clamp(caret);
  TamberGUI::CText::tSelection* range = m_Layout.GetSelection(true);
  *range = {a.index, a.after, c.index, c.after};
  // Vertical moves start from where the caret was put.
  TamberGUI::CText::tCaretPosition at;
  if (FindCaret(&at)) m_fDesiredX = m_Layout.GetCaretX(at);
}

void CText::SelectTo(std::uint32_t position) { SelectTo(Place{position, 0}); }

void CText::SelectTo(const Place& place) {
  TamberGUI::CText::tSelection* range = m_Layout.GetSelection(true);
  Select(Place{range->start, range->startAfter}, place);
}

std::uint32_t CText::PositionAt(const Vexil3D::CVector2D& point) const {
  const auto& settings = m_Layout.GetSettings();
  TamberGUI::CText::tCaretPosition caret;
  if (!m_Layout.IsUpdated() || m_Layout.GetLineCount() == 0 ||
      !m_Layout.GetCaretPosition(point.x - settings.originX, point.y - settings.originY, false, &caret)) {
    return 0;
  }
  return m_Layout.CaretToIndex(caret);
}

CText::Place CText::PlaceOf(const TamberGUI::CText::tCaretPosition& caret) const {
  const Place place = m_Layout.CaretToCharacterIndex(caret);
  // The caret never stands after a line break: that place is the next line's start, drawn here.
  if (place.after && place.index < m_Text.size() && m_Text[place.index] == U'\n' &&
      m_Layout.GetSettings().allowNewLines)
    return {place.index, 0};
  return place;
}

CText::Place CText::PlaceAt(const Vexil3D::CVector2D& point) const {
  const auto& settings = m_Layout.GetSettings();
  TamberGUI::CText::tCaretPosition caret;
  if (!m_Layout.IsUpdated() || m_Layout.GetLineCount() == 0 ||
      !m_Layout.GetCaretPosition(point.x - settings.originX, point.y - settings.originY, false, &caret)) {
    return {};
  }
  return PlaceOf(caret);
}

bool CText::IsOverSelection(const Vexil3D::CVector2D& point) const {
  const std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last || !m_Layout.IsUpdated() || m_Layout.GetLineCount() == 0) return false;
  const auto& settings = m_Layout.GetSettings();
  TamberGUI::CText::tCaretPosition caret;
  if (!m_Layout.GetCaretPosition(point.x - settings.originX, point.y - settings.originY, true, &caret)) return false;
  const auto& piece = caret.line->pieces[caret.piece];
  return first <= piece.start && piece.start < last;
}

std::uint32_t CText::NextPosition(std::uint32_t position) const {
  const auto size = static_cast<std::uint32_t>(m_Text.size());
  if (position >= size) return size;
  for (std::size_t l = 0; m_Layout.IsUpdated() && l < m_Layout.GetLineCount(); ++l) {
    for (const auto& piece : m_Layout.GetLine(l).pieces) {
      if (piece.start <= position && position < piece.end) return piece.end;
    }
  }
  return position + 1;
}

std::uint32_t CText::PreviousPosition(std::uint32_t position) const {
  if (position == 0) return 0;
  position = std::min(position, static_cast<std::uint32_t>(m_Text.size()));
  for (std::size_t l = 0; m_Layout.IsUpdated() && l < m_Layout.GetLineCount(); ++l) {
    for (const auto& piece : m_Layout.GetLine(l).pieces) {
      if (piece.start < position && position <= piece.end) return piece.start;
    }
  }
  return position - 1;
}

bool CText::VerticalPlace(int direction, Place* place) const {
  TamberGUI::CText::tCaretPosition caret;
  if (!FindCaret(&caret)) return false;
  const std::size_t target = caret.line->index + direction;
  if (target >= m_Layout.GetLineCount()) return false;
  TamberGUI::CText::tCaretPosition found;
  if (!m_Layout.GetCaretPositionOnLine(target, m_fDesiredX, &found)) return false;
  *place = PlaceOf(found);
  return true;
}

bool CText::LineBounds(Place* home, Place* end) const {
  TamberGUI::CText::tCaretPosition caret;
  if (!FindCaret(&caret)) return false;
  const auto& pieces = caret.line->pieces;
  if (pieces.empty()) {
    *home = *end = {caret.line->first, 0};
    return true;
  }
  *home = {pieces.front().start, 0};
  *end = PlaceOf({caret.line, 1, static_cast<std::uint32_t>(pieces.size() - 1), 1});
  return true;
}

void CText::CaretMoved(bool keepDesiredX) {
  TamberGUI::CText::tCaretPosition caret;
  if (!keepDesiredX && FindCaret(&caret)) m_fDesiredX = m_Layout.GetCaretX(caret);
  m_bCaretVisible = 1;
  m_fBlink = 0;
  Invalidate();
}

void CText::MoveCaret(std::uint32_t position, bool extend, bool keepDesiredX) {
  MoveCaret(Place{position, 0}, extend, keepDesiredX);
}

void CText::MoveCaret(const Place& place, bool extend, bool keepDesiredX) {
  const float desired = m_fDesiredX;
  if (extend) {
    SelectTo(place);
  } else {
    Select(Place{place}, place);
  }
  if (keepDesiredX) m_fDesiredX = desired;
  CaretMoved(keepDesiredX);
}

void CText::ReplaceRange(std::uint32_t first, std::uint32_t last, const std::u32string& text) {
  const auto size = static_cast<std::uint32_t>(m_Text.size());
  first = std::min(first, size);
  last = std::clamp(last, first, size);
  m_Text.replace(first, last - first, text);
  Relayout();
  const auto caret = static_cast<std::uint32_t>(first + text.size());
  Select(caret, caret);
  CaretMoved(false);
}

}  // namespace TamberGUI::GUI
