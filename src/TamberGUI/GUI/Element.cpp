// The element base: attributes, anchored layout, hit tests, mouse state, focus walks and colours.
#include <TamberGUI/GUI/Element.h>

#include <cmath>

#include <engine/VexilAssert.h>

#include <TamberGUI/GUI/ElementContainer.h>
#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>

namespace TamberGUI::GUI {
namespace {

constexpr std::size_t kRgbDigits = 6;
constexpr std::size_t kArgbDigits = 8;
constexpr unsigned kBitsPerDigit = 4;

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void ReadAnchor(const Vexil3D::CElementChunk* chunk, const char16_t* name, CAnchor* anchor) {
  float value = 0;
  if (chunk->GetFloatAttribute(name, &value)) anchor->Set(value);
}

void ReadFlag(const Vexil3D::CElementChunk* chunk, const char16_t* name, std::uint8_t* flag) {
  bool value = false;
  if (chunk->GetBoolAttribute(name, &value)) *flag = value ? 1 : 0;
}

// The horizontal rule; vertical passes its own anchors.
void LayoutAxis(CElement* element, const CAnchor& near, const CAnchor& size, const CAnchor& far, float parent,
                float parentSize, float relative, float* position, float* extent, bool vertical,
                void (CElement::*intrinsic)()) {
  const float s = element->m_fScale;
  auto measure = [&] {
    if (size.given) {
      *extent = size.value * s;
    } else {
      (element->*intrinsic)();
    }
  };
  if (near.given && far.given) {
    *position = parent + near.value * s;
    *extent = parent + parentSize - far.value * s - *position;
    if (vertical && size.given) *extent -= size.value * s;
  } else if (near.given) {
    measure();
    *position = parent + near.value * s;
  } else if (far.given) {
    measure();
    *position = parent + parentSize - far.value * s - *extent;
  } else {
    measure();
    *position = parent + (parentSize - *extent) * relative;
  }
  *position = std::round(*position);  // half away from zero
}

}  // namespace

CElement::CElement(CManager* manager) : m_pManager(manager) {
  if (manager != nullptr) m_pUserPointer = manager->GetUserPointer();
}

CElement::~CElement() = default;

void CElement::Load(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr) return;
  if (const char16_t* name = chunk->GetStringAttribute(u"Name")) SetName(name);
  ReadAnchor(chunk, u"Left", &m_Left);
  ReadAnchor(chunk, u"Top", &m_Top);
  ReadAnchor(chunk, u"Width", &m_Width);
  ReadAnchor(chunk, u"Height", &m_Height);
  ReadAnchor(chunk, u"Right", &m_Right);
  ReadAnchor(chunk, u"Bottom", &m_Bottom);
  chunk->GetFloatAttribute(u"X", &m_fX);
  chunk->GetFloatAttribute(u"Y", &m_fY);
  ReadFlag(chunk, u"BringToTop", &m_bBringToTop);
  ReadFlag(chunk, u"Visible", &m_bVisible);
  ReadFlag(chunk, u"UseClip", &m_bUseClip);
}

void CElement::UpdateWidth() {
  VEXIL_ASSERT(!"elements without a width of their own need Width");
  m_fWidthPx = 0;
}

void CElement::UpdateHeight() {
  VEXIL_ASSERT(!"elements without a height of their own need Height");
  m_fHeightPx = 0;
}

void CElement::LayoutHorizontal() {
  LayoutAxis(this, m_Left, m_Width, m_Right, m_fParentX, m_fParentWidth, m_fX, &m_fLeft, &m_fWidthPx, false,
             &CElement::UpdateWidth);
}

void CElement::LayoutVertical() {
  LayoutAxis(this, m_Top, m_Height, m_Bottom, m_fParentY, m_fParentHeight, m_fY, &m_fTopEdge, &m_fHeightPx, true,
             &CElement::UpdateHeight);
}

void CElement::UpdateLayout() {
  // An intrinsic height may depend on the width, unless the height is fixed.
  if ((m_Top.given && m_Bottom.given) || m_Height.given) {
    LayoutVertical();
    LayoutHorizontal();
  } else {
    LayoutHorizontal();
    LayoutVertical();
  }
}

void CElement::UpdateClipRect() { m_Clip = m_ParentClip; }

bool CElement::ContainsPoint(const Vexil3D::CVector2D& point) {
  if (m_bUseClip) return m_Clip.x1 <= point.x && point.x < m_Clip.x2 && m_Clip.y1 <= point.y && point.y < m_Clip.y2;
  return m_fLeft <= point.x && point.x < m_fLeft + m_fWidthPx && m_fTopEdge <= point.y &&
         point.y < m_fTopEdge + m_fHeightPx;
}

CElement* CElement::HitTest(const Vexil3D::CVector2D& point) { return ContainsPoint(point) ? this : nullptr; }

bool CElement::GetCursor(std::uint32_t* cursor) {
  if (m_pParentElement != nullptr) return m_pParentElement->GetCursor(cursor);
  *cursor = SDL_SYSTEM_CURSOR_ARROW;
  return true;
}

void CElement::OnClick() {}

int CElement::GetWindowHitTest(const Vexil3D::CVector2D&) { return HTCLIENT; }

void CElement::OnMouseDown(const Vexil3D::CVector2D&) {
  m_pManager->SetPressed(this);
  Focus();
}

void CElement::OnMouseUp(const Vexil3D::CVector2D& point) {
  Vexil3D::Strong<CElement> pressed(m_pManager->GetPressed());
  if (pressed == nullptr) return;
  if (pressed->ContainsPoint(point)) pressed->OnClick();
  m_pManager->EndPress(pressed);
}

void CElement::OnMouseMove(const Vexil3D::CVector2D&) {
  if (m_pManager->GetPressed() != nullptr) return;
  Vexil3D::Strong<CElement> previous(m_pManager->GetHovered());
  if (previous == this) return;
  if (previous != nullptr) previous->OnMouseLeave();
  m_pManager->SetHovered(this);
}

void CElement::OnMouseCancel() {
  // Its own press ends quietly; another element's press ends with that element's cancel.
  if (m_pManager->GetPressed() == this) {
    m_pManager->EndPress(this);
  } else {
    m_pManager->SetPressed(nullptr);
  }
}

void CElement::OnMouseLeave() {
  if (m_pManager->GetHovered() == this) m_pManager->SetHovered(nullptr);
}

void CElement::BringToTop() {
  if (m_pParentContainer != nullptr) m_pParentContainer->BringToTop(this);
}

bool CElement::OnDragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  return m_pParentElement != nullptr && m_pParentElement->OnDragEnter(data, keyState, point, effect);
}

bool CElement::OnDragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  return m_pParentElement != nullptr && m_pParentElement->OnDragOver(keyState, point, effect);
}

void CElement::OnDragLeave() {
  if (m_pParentElement != nullptr) m_pParentElement->OnDragLeave();
}

bool CElement::OnDrop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  return m_pParentElement != nullptr && m_pParentElement->OnDrop(data, keyState, point, effect);
}

bool CElement::OnKeyDown(const SDL_Keysym&) { return false; }
bool CElement::OnTextInput(const char*) { return false; }
bool CElement::OnContextMenu(const Vexil3D::CVector2D&) { return false; }
void CElement::OnContextMenuCommand(std::uint32_t) {}
CElement* CElement::GetFocusedElement() { return this; }
bool CElement::ContainsFocusable() { return CanFocus(); }
void CElement::Process(float) {}

void CElement::Focus() {
  // Hold the chain: bringing an element to the top moves the references that keep it.
  Vexil3D::Strong<CElement> self(this);
  bool met = false;
  for (CElement* element = this; element != nullptr; element = element->m_pParentElement) {
    if (!met) met = element->CanFocus();
    if (met && (element->CanFocus() || element->ContainsFocusable()) && element->m_pParentContainer != nullptr) {
      element->m_pParentContainer->SetFocused(element);
    }
    if (element->m_bBringToTop) element->BringToTop();
  }
}

void CElement::FocusNext() {
  if (m_pParentContainer != nullptr && m_pParentContainer->GetFocused() == this) m_pParentContainer->FocusNext(this);
}

void CElement::SetVisible(bool visible) {
  m_bVisible = visible ? 1 : 0;
  if (!visible) FocusNext();
}

void CElement::Invalidate() { m_pManager->Invalidate({m_fLeft, m_fTopEdge}, {m_fWidthPx, m_fHeightPx}); }

Vexil3D::CARGB CElement::ParseColour(const char16_t* psz) {
  if (psz == nullptr) return Vexil3D::COLOUR_TRANSPARENT;
  VEXIL_ASSERT(*psz == '#');
  if (*psz != '#') return Vexil3D::COLOUR_TRANSPARENT;
  const char16_t* digits = psz + 1;
  std::size_t count = 0;
  while (digits[count] != 0) ++count;
  const bool known = count == kRgbDigits || count == kArgbDigits;
  std::uint32_t value = 0;
  bool ok = known;
  for (std::size_t i = 0; ok && i < count; ++i) {
    const int digit = HexDigit(digits[i]);
    ok = digit >= 0;
    value = value << kBitsPerDigit | static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
  }
  VEXIL_ASSERT(ok);
  if (!ok) return Vexil3D::COLOUR_TRANSPARENT;
  if (count == kRgbDigits) value |= std::uint32_t(Vexil3D::kOpaqueAlpha) << (kRgbDigits * kBitsPerDigit);
  return Vexil3D::CARGB(value);
}

void CElement::DrawOutline(Vexil3D::I2D* renderer, Vexil3D::CARGB colour) {
  constexpr float kLine = 1.0f;
  const float x = m_fLeft, y = m_fTopEdge, w = m_fWidthPx, h = m_fHeightPx;
  const float edges[][4] = {
      {x, y, w, kLine}, {x, y + h - kLine, w, kLine}, {x, y, kLine, h}, {x + w - kLine, y, kLine, h}};
  for (const auto& e : edges)
    m_pManager->DrawQuad(renderer, nullptr, colour, e[0], e[1], e[2], e[3], m_Clip, 0, 0, 1, 1, 0, 0);
}

CPage* CElement::GetNearestPage() const {
  for (CElement* element = m_pParentElement; element != nullptr; element = element->m_pParentElement) {
    if (auto* page = dynamic_cast<CPage*>(element)) return page;
  }
  return nullptr;
}

std::uint32_t CElement::GetDepth() const {
  std::uint32_t depth = 0;
  for (const CElement* element = m_pParentElement; element != nullptr; element = element->m_pParentElement) ++depth;
  return depth;
}

}  // namespace TamberGUI::GUI
