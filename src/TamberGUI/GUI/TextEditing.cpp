// The text element's editing: keys, text input, the clipboard, the context menu and the mouse.
#include <TamberGUI/GUI/Text.h>

#include <memory>

#include <engine/OS.h>
#include <platform/ui.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/StringConversion.h>

namespace TamberGUI::GUI {
namespace {

constexpr SHORT kKeyDown = static_cast<SHORT>(0x8000);
constexpr std::uint32_t kSeparatorId = 0xFFFFFFFFu;

}  // namespace

// --- Editing operations ---

void CText::InsertCharacter(char32_t c) { ReplaceRange(GetSelectionFirst(), GetSelectionLast(), std::u32string(1, c)); }

bool CText::SelectAll() {
  if (m_Text.empty()) return false;
  Select(0, static_cast<std::uint32_t>(m_Text.size()));
  CaretMoved(false);
  return true;
}

bool CText::DeleteForward() {
  std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last) last = NextPosition(first);
  if (first == last) return false;
  ReplaceRange(first, last, {});
  return true;
}

bool CText::DeleteBackward() {
  std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last) first = PreviousPosition(last);
  if (first == last) return false;
  ReplaceRange(first, last, {});
  return true;
}

bool CText::Copy() {
  const std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last) return false;
  const std::u16string text = utf32_to_utf16(m_Text.data() + first, last - first, true);
  Vexil3D::OS::SetClipboardText(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool CText::Cut() {
  const std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last) return false;
  const std::u16string text = utf32_to_utf16(m_Text.data() + first, last - first, true);
  if (!Vexil3D::OS::SetClipboardText(text.data(), static_cast<unsigned>(text.size()))) return false;
  ReplaceRange(first, last, {});
  return true;
}

bool CText::Paste() {
  std::unique_ptr<char16_t[]> text(Vexil3D::OS::GetClipboardText());
  if (text == nullptr) return false;
  ReplaceRange(GetSelectionFirst(), GetSelectionLast(), utf16_to_utf32(text.get()));
  return true;
}

// --- Keys and text ---

bool CText::OnKeyDown(const SDL_Keysym& key) {
  // Held for the whole call: the Enter and Escape callbacks may remove the element's page.
  Vexil3D::Strong<CElement> self(this);
  const bool shift = (key.mod & KMOD_SHIFT) != 0;
  const bool ctrl = (key.mod & KMOD_CTRL) != 0;
  const bool caret = HasCaret();
  const bool editing = m_bEditable && caret;
  switch (key.sym) {
    case SDLK_DELETE:
      if (ctrl || !editing) return false;
      if (shift) {
        DeleteBackward();
      } else {
        DeleteForward();
      }
      return true;
    case SDLK_BACKSPACE:
      if (ctrl || !editing) return false;
      DeleteBackward();
      return true;
    case SDLK_a:
      if (ctrl) return !shift && SelectAll();
      break;
    case SDLK_x:
      if (ctrl) return !shift && editing && (Cut(), true);
      break;
    case SDLK_v:
      if (ctrl) return !shift && editing && (Paste(), true);
      break;
    case SDLK_c:
      if (ctrl) return !shift && caret && (Copy(), true);
      break;
    case SDLK_LEFT:
    case SDLK_RIGHT: {
      if (ctrl || !caret) return false;
      const bool right = key.sym == SDLK_RIGHT;
      const std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
      if (!shift && first != last) {
        MoveCaret(right ? last : first, false, false);
      } else {
        const std::uint32_t from = GetCaret();
        MoveCaret(right ? NextPosition(from) : PreviousPosition(from), shift, false);
      }
      return true;
    }
    case SDLK_UP:
    case SDLK_DOWN: {
      if (ctrl || !caret) return false;
      Place place;
      if (VerticalPlace(key.sym == SDLK_UP ? -1 : 1, &place)) MoveCaret(place, shift, true);
      return true;
    }
    case SDLK_HOME:
    case SDLK_END: {
      if (ctrl || !caret) return false;
      Place home, end;
      if (LineBounds(&home, &end)) MoveCaret(key.sym == SDLK_HOME ? home : end, shift, false);
      return true;
    }
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      if (!shift && m_EnterCallback && m_EnterCallback(this)) return true;
      if (!editing || !m_Layout.GetSettings().allowNewLines) return false;
      InsertCharacter(U'\n');
      return true;
    case SDLK_TAB:
      if (!editing || (GetKeyState(VK_SHIFT) & kKeyDown) != 0) return false;
      InsertCharacter(U'\t');
      return true;
    case SDLK_ESCAPE:
      return m_EscapeCallback && m_EscapeCallback(this);
    default:
      break;
  }
  // The character itself arrives through OnTextInput.
  return !ctrl && editing;
}

bool CText::OnTextInput(const char* utf8) {
  if (!m_bEditable || utf8 == nullptr) return false;
  std::u32string typed;
  for (char32_t c : utf8_to_utf32(utf8)) {
    if (c != U'\r' && c != U'\n') typed.push_back(c);
  }
  if (!typed.empty()) ReplaceRange(GetSelectionFirst(), GetSelectionLast(), typed);
  return true;
}

// --- Context menu ---

bool CText::OnContextMenu(const Vexil3D::CVector2D&) {
  const bool selection = GetSelectionFirst() != GetSelectionLast();
  m_pManager->AddContextMenuItem(u"Cut", TEXT_MENU_CUT, m_bEditable && selection);
  m_pManager->AddContextMenuItem(u"Copy", TEXT_MENU_COPY, selection);
  m_pManager->AddContextMenuItem(u"Paste", TEXT_MENU_PASTE, m_bEditable && IsClipboardFormatAvailable(CF_UNICODETEXT));
  m_pManager->AddContextMenuItem(u"Delete", TEXT_MENU_DELETE, m_bEditable && selection);
  m_pManager->AddContextMenuItem(nullptr, kSeparatorId, false);
  m_pManager->AddContextMenuItem(u"Select All", TEXT_MENU_SELECT_ALL, !m_Text.empty());
  return true;
}

void CText::OnContextMenuCommand(std::uint32_t id) {
  switch (id) {
    case TEXT_MENU_CUT:
      if (m_bEditable) Cut();
      break;
    case TEXT_MENU_COPY:
      Copy();
      break;
    case TEXT_MENU_PASTE:
      if (m_bEditable) Paste();
      break;
    case TEXT_MENU_DELETE:
      if (m_bEditable && GetSelectionFirst() != GetSelectionLast()) DeleteForward();
      break;
    case TEXT_MENU_SELECT_ALL:
      SelectAll();
      break;
    default:
      break;
  }
}

// --- Mouse ---

void CText::OnMouseDown(const Vexil3D::CVector2D& point) {
  Vexil3D::Strong<CElement> self(this);
  CElement::OnMouseDown(point);
  if (!m_bSelectable) return;
  const Place position = PlaceAt(point);
  if ((Vexil3D::GetModState() & (Vexil3D::MOD_LSHIFT | Vexil3D::MOD_RSHIFT)) != 0) {
    MoveCaret(position, true, false);
  } else if (!IsOverSelection(point)) {
    MoveCaret(position, false, false);
    m_bDragSelecting = 1;
  } else {
    m_bDragPending = 1;
  }
}

void CText::OnMouseMove(const Vexil3D::CVector2D& point) {
  Vexil3D::Strong<CElement> self(this);
  CElement::OnMouseMove(point);
  m_fHoverX = point.x;
  m_fHoverY = point.y;
  if (m_bDragSelecting) {
    MoveCaret(PlaceAt(point), true, false);
  } else if (m_bDragPending && m_bDraggable) {
    m_bDragPending = 0;
    StartTextDrag();
  }
}

void CText::OnMouseUp(const Vexil3D::CVector2D& point) {
  Vexil3D::Strong<CElement> self(this);
  // A press on the selection that never became a drag places the caret.
  if (m_bDragPending) MoveCaret(PlaceAt(point), false, false);
  m_bDragSelecting = 0;
  m_bDragPending = 0;
  CElement::OnMouseUp(point);
}

void CText::OnMouseCancel() {
  m_bDragSelecting = 0;
  m_bDragPending = 0;
  CElement::OnMouseCancel();
}

}  // namespace TamberGUI::GUI
