// The button element: cursors, click actions and window dragging.
#include <TamberGUI/GUI/Button.h>

#include <platform/window.h>

#include <engine/VexilAssert.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>
#include <TamberGUI/GUI/Rectangle.h>

// A failed check reported under the text a window author reads in the dialog: the flag it names
// is the given flag of the window's anchor.
#define BUTTON_ASSERT_NAMED(condition, text)           \
  (static_cast<bool>(condition) ? static_cast<void>(0) \
                                : ::Vexil3D::AssertionFailed(text, VEXIL_SOURCE_PATH, __PRETTY_FUNCTION__, __LINE__))

namespace TamberGUI::GUI {
namespace {

struct DragAction {
  const char16_t* action;
  float dLeft, dTop, dWidth,
      dHeight;  // left += dLeft * dx, top += dTop * dy, width += dWidth * dx, height += dHeight * dy
};

constexpr DragAction kDragActions[] = {
    {u"SizeGrip", 0, 0, 1, 1},      {u"SizeBottomRight", 0, 0, 1, 1}, {u"SizeRight", 0, 0, 1, 0},
    {u"SizeBottom", 0, 0, 0, 1},    {u"SizeBottomLeft", 1, 0, -1, 1}, {u"SizeLeft", 1, 0, -1, 0},
    {u"SizeTopLeft", 1, 1, -1, -1}, {u"SizeTop", 0, 1, 0, -1},        {u"SizeTopRight", 0, 1, 1, -1},
    {u"Move", 1, 1, 0, 0},
};

const DragAction* FindDragAction(const std::u16string& action) {
  for (const DragAction& entry : kDragActions) {
    if (action == entry.action) return &entry;
  }
  return nullptr;
}

struct CursorRule {
  const char16_t* action;
  std::uint32_t cursor;
};

constexpr CursorRule kCursors[] = {
    {u"Custom", SDL_SYSTEM_CURSOR_HAND},
    {u"Exit", SDL_SYSTEM_CURSOR_HAND},
    {u"Notepad", SDL_SYSTEM_CURSOR_HAND},
    {u"SizeBottomRight", SDL_SYSTEM_CURSOR_SIZENWSE},
    {u"SizeGrip", SDL_SYSTEM_CURSOR_SIZENWSE},
    {u"SizeTopLeft", SDL_SYSTEM_CURSOR_SIZENWSE},
    {u"SizeLeft", SDL_SYSTEM_CURSOR_SIZEWE},
    {u"SizeRight", SDL_SYSTEM_CURSOR_SIZEWE},
    {u"SizeBottomLeft", SDL_SYSTEM_CURSOR_SIZENESW},
    {u"SizeTopRight", SDL_SYSTEM_CURSOR_SIZENESW},
    {u"SizeTop", SDL_SYSTEM_CURSOR_SIZENS},
    {u"SizeBottom", SDL_SYSTEM_CURSOR_SIZENS},
};

}  // namespace

CButton::~CButton() = default;

void CButton::Load(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr) return;
  CElement::Load(chunk);
  if (const char16_t* action = chunk->GetStringAttribute(u"Action")) SetAction(action);
}

void CButton::RenderDebug(Vexil3D::I2D* renderer) { DrawOutline(renderer, Vexil3D::COLOUR_LIME); }

bool CButton::GetCursor(std::uint32_t* cursor) {
  if (!m_bActionGiven) {
    *cursor = SDL_SYSTEM_CURSOR_NO;
    return true;
  }
  if (m_Action == u"Close" || m_Action == u"Move") return CElement::GetCursor(cursor);
  *cursor = SDL_SYSTEM_CURSOR_HAND;
  for (const CursorRule& rule : kCursors) {
    if (m_Action == rule.action) *cursor = rule.cursor;
  }
  return true;
}

int CButton::GetWindowHitTest(const Vexil3D::CVector2D&) {
  return m_Action == u"SizeGrip" && FindDragWindow() != nullptr ? HTBOTTOMRIGHT : HTCLIENT;
}

void CButton::OnClick() {
  // Held: Close removes the page that holds this button.
  Vexil3D::Strong<CElement> self(this);
  const CManager::ActionCallback& callback = m_pManager->GetActionCallback();
  if (callback && callback(m_Action, this)) return;
  if (m_Action == u"Custom") {
    // An owner that set no callback gets no call (nothing may throw into the game's frame).
    if (m_Custom) m_Custom();
  } else if (m_Action == u"Exit") {
    SendMessageW(GetAncestor(m_pManager->GetWindow(), GA_ROOT), WM_CLOSE, 0, 0);
  } else if (m_Action == u"Close") {
    CPage* page = GetNearestPage();
    if (page != nullptr && page->GetParentContainer() != nullptr) page->GetParentContainer()->RemovePage(page);
  }
}

CPage* CButton::FindDragWindow() const {
  const DragAction* action = FindDragAction(m_Action);
  if (action == nullptr) return nullptr;
  CPage* page = GetNearestPage();
  if (page == nullptr) return nullptr;
  if (m_Action == u"Move") return page->GetNearestPage();
  if (m_Action != u"SizeGrip") return page;
  auto* rectangle = dynamic_cast<CRectangle*>(page->GetParentElement());
  CElement* holder = rectangle != nullptr ? rectangle->GetParentElement() : nullptr;
  return holder != nullptr ? holder->GetNearestPage() : nullptr;
}

void CButton::OnMouseDown(const Vexil3D::CVector2D& point) {
  CElement::OnMouseDown(point);
  m_pDraggingWindow = FindDragWindow();
  m_LastPointer = point;
  m_Dragged = {0, 0};
  if (m_pDraggingWindow != nullptr) {
    const CPage* window = m_pDraggingWindow;
    m_Start = {window->m_Left.value, window->m_Top.value, window->m_Width.value, window->m_Height.value};
  }
}

void CButton::OnMouseMove(const Vexil3D::CVector2D& point) {
  CElement::OnMouseMove(point);
  // A drag lives only as long as this button's press.
  if (m_pDraggingWindow == nullptr || m_pManager->GetPressed() != this) return;
  const float fScalar = m_pDraggingWindow->m_fScale;
  VEXIL_ASSERT(fScalar != 0.0);
  if (fScalar == 0.0f) return;
  const float dx = (point.x - m_LastPointer.x) / fScalar, dy = (point.y - m_LastPointer.y) / fScalar;
  ApplyDelta(dx, dy);
  m_LastPointer = point;
}

void CButton::ApplyDelta(float dx, float dy) {
  const DragAction* action = FindDragAction(m_Action);
  CPage* window = m_pDraggingWindow;
  if (action == nullptr || window == nullptr) return;
  // Width and Height must have come from the window's own file (its page flags, which imply the
  // anchors layout uses); Left and Top are the anchors' own flags.
  bool anchored = true;
  if (action->dLeft != 0) {
    BUTTON_ASSERT_NAMED(window->m_Left.given, "m_pDraggingWindow->m_bLeft");
    anchored = anchored && window->m_Left.given;
  }
  if (action->dTop != 0) {
    BUTTON_ASSERT_NAMED(window->m_Top.given, "m_pDraggingWindow->m_bTop");
    anchored = anchored && window->m_Top.given;
  }
  if (action->dWidth != 0) {
    VEXIL_ASSERT(m_pDraggingWindow->m_bWidth);
    anchored = anchored && window->m_bWidth && window->m_Width.given;
  }
  if (action->dHeight != 0) {
    VEXIL_ASSERT(m_pDraggingWindow->m_bHeight);
    anchored = anchored && window->m_bHeight && window->m_Height.given;
  }
  if (!anchored) return;
  window->Invalidate();
  window->m_Left.value += action->dLeft * dx;
  window->m_Top.value += action->dTop * dy;
  window->m_Width.value += action->dWidth * dx;
  window->m_Height.value += action->dHeight * dy;
  m_Dragged.x += dx;
  m_Dragged.y += dy;
}

void CButton::OnMouseUp(const Vexil3D::CVector2D& point) {
  Vexil3D::Strong<CElement> self(this);
  EndDrag();
  CElement::OnMouseUp(point);
}

void CButton::OnMouseCancel() {
  if (m_pDraggingWindow != nullptr) {
    // Undoing the accumulated offset by arithmetic could leave rounding behind: restore instead.
    CPage* window = m_pDraggingWindow;
    window->Invalidate();
    window->m_Left.value = m_Start.left;
    window->m_Top.value = m_Start.top;
    window->m_Width.value = m_Start.width;
    window->m_Height.value = m_Start.height;
    m_Dragged = {0, 0};
    EndDrag();
  }
  CElement::OnMouseCancel();
}

bool CButton::OnKeyDown(const SDL_Keysym& key) {
  if (key.sym != SDLK_ESCAPE || m_pDraggingWindow == nullptr) return false;
  OnMouseCancel();
  return true;
}

}  // namespace TamberGUI::GUI
