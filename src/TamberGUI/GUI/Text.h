#pragma once
// The text element: a CElement owning a text layout, sized by its text unless Width or Left and Right
// fix it, and, when Selectable or Editable, a caret, a selection, keyboard editing, the clipboard
// (CF_UNICODETEXT, LF written as CR LF), a context menu (ids 5 to 9) and OLE drag and drop of text.
//
// Positions in the text are UTF-32 indices; the selection's start is its anchor and its end the
// moving end where the caret stands. Both ends keep the side of their character (Place), so a
// caret at the end of a soft-wrapped line stays on it. The page font stack named by "FontStack"
// is looked up in the nearest page that has one of that name, from the element's own page out.
// Errors: a missing "Size" (or one not positive and finite) or "Colour", "Align" without a fixed
// width, an unknown "Transform" and a failing OLE query are engine assertions, after which the
// element goes on with defaults (no size: no font stack, nothing drawn). A missing or empty font
// stack draws nothing. Clipboard failures leave the text unchanged. Dropped text is bounded by its
// memory block, terminated or not.
// Locking: none (the game's main thread only).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <TamberGUI/FontStack.h>
#include <TamberGUI/GUI/Element.h>
#include <TamberGUI/Text.h>

namespace TamberGUI::GUI {

enum eTextMenuCommand : std::uint32_t {
  TEXT_MENU_CUT = 5,
  TEXT_MENU_COPY = 6,
  TEXT_MENU_PASTE = 7,
  TEXT_MENU_DELETE = 8,
  TEXT_MENU_SELECT_ALL = 9,
};

class CText : public CElement {
 public:
  // Called with the element; true when the key was handled.
  using KeyCallback = std::function<bool(CText* element)>;

  explicit CText(CManager* manager);
  ~CText() override;

  void Load(const Vexil3D::CElementChunk* chunk) override;
  void UpdateWidth() override;
  void UpdateHeight() override;
  void LayoutHorizontal() override;
  void UpdateLayout() override;
  void UpdateClipRect() override;
  void Render(Vexil3D::I2D* renderer) override;
  void RenderDebug(Vexil3D::I2D* renderer) override;
  bool ContainsPoint(const Vexil3D::CVector2D& point) override;
  bool GetCursor(std::uint32_t* cursor) override;
  void OnMouseDown(const Vexil3D::CVector2D& point) override;
  void OnMouseUp(const Vexil3D::CVector2D& point) override;
  void OnMouseMove(const Vexil3D::CVector2D& point) override;
  void OnMouseCancel() override;
  bool OnDragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) override;
  bool OnDragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) override;
  void OnDragLeave() override;
  bool OnDrop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) override;
  bool OnKeyDown(const SDL_Keysym& key) override;
  bool OnTextInput(const char* utf8) override;
  bool OnContextMenu(const Vexil3D::CVector2D& point) override;
  void OnContextMenuCommand(std::uint32_t id) override;
  bool CanFocus() override { return m_bSelectable != 0; }
  void Process(float seconds) override;

  void SetText(const char16_t* text);
  void SetTextUTF32(const std::u32string& text);
  // Replaces the selection with the character and puts the caret after it.
  void InsertCharacter(char32_t c);
  // A place in the text as the layout keeps it: the index of a character and whether the caret
  // stands after it, so that the end of a soft-wrapped line and the start of the next stay apart.
  using Place = TamberGUI::CText::tCharacterIndex;

  // Moves the selection's moving end.
  void SelectTo(std::uint32_t position);
  void SelectTo(const Place& place);
  void Select(std::uint32_t anchor, std::uint32_t caret);
  void Select(const Place& anchor, const Place& caret);
  bool SelectAll();
  // Deletes the selection, or one character after (forward) or before the caret. False when nothing went.
  bool DeleteForward();
  bool DeleteBackward();
  // True when the selection is not empty (copy) and the clipboard took the text (cut).
  bool Copy();
  bool Cut();
  // False without clipboard text.
  bool Paste();

  const std::u32string& GetText() const { return m_Text; }
  std::u16string GetTextUTF16() const;
  // The ordered selection [first, last) and the caret position.
  std::uint32_t GetSelectionFirst() const;
  std::uint32_t GetSelectionLast() const;
  std::uint32_t GetCaret() const;
  // The caret with the side of its character it stands on.
  Place GetCaretPlace() const;
  // The line of the layout the caret is drawn on (0 without lines).
  std::size_t GetCaretLine() const;
  bool HasCaret() const { return const_cast<CText*>(this)->m_Layout.GetSelection(false) != nullptr; }
  bool IsCaretVisible() const { return m_bCaretVisible != 0; }
  bool IsDropCaretShown() const { return m_bDropCaretShown != 0; }
  bool HasFontStack() const { return m_pFonts != nullptr; }
  TamberGUI::CText& GetLayout() { return m_Layout; }
  void SetEditable(bool editable) {
    m_bEditable = editable ? 1 : 0;
    if (editable) m_bSelectable = 1;
  }
  bool IsEditable() const { return m_bEditable != 0; }
  void SetEnterCallback(KeyCallback callback) { m_EnterCallback = std::move(callback); }
  void SetEscapeCallback(KeyCallback callback) { m_EscapeCallback = std::move(callback); }

 private:
  friend class CTextDragSource;

  bool IsWidthFixed() const { return (m_Left.given && m_Right.given) || m_Width.given; }
  bool IsHeightFixed() const { return (m_Top.given && m_Bottom.given) || m_Height.given; }
  float PaddingX() const { return (m_fPadding[0] + m_fPadding[2]) * m_fScale; }
  float PaddingY() const { return (m_fPadding[1] + m_fPadding[3]) * m_fScale; }
  void RebuildFontStack();
  void Relayout();
  bool IsFocused();
  // The text position under a screen point, and the same as a place.
  std::uint32_t PositionAt(const Vexil3D::CVector2D& point) const;
  Place PlaceAt(const Vexil3D::CVector2D& point) const;
  // The place of a caret of the layout; after a line break it stands before it, on its line.
  Place PlaceOf(const TamberGUI::CText::tCaretPosition& caret) const;
  bool FindCaret(TamberGUI::CText::tCaretPosition* caret) const;
  bool IsOverSelection(const Vexil3D::CVector2D& point) const;
  std::uint32_t NextPosition(std::uint32_t position) const;
  std::uint32_t PreviousPosition(std::uint32_t position) const;
  // The place on the line before (-1) or after (+1) the caret's at the desired x; false without one.
  bool VerticalPlace(int direction, Place* place) const;
  // The places before the first and after the last piece of the caret's line.
  bool LineBounds(Place* home, Place* end) const;
  void ReplaceRange(std::uint32_t first, std::uint32_t last, const std::u32string& text);
  void CaretMoved(bool keepDesiredX);
  void MoveCaret(std::uint32_t position, bool extend, bool keepDesiredX);
  void MoveCaret(const Place& place, bool extend, bool keepDesiredX);
  void RenderCaretAt(Vexil3D::I2D* renderer, const Place& place, float width, float shadowOffset);
  void StartTextDrag();
  // The dropped text of the data object, bounded by its memory block; false when it has none.
  bool ReadDropText(IDataObject* data, std::u32string* text);

  std::u32string m_Text;
  std::u16string m_WideText;
  float m_fSize = 0;
  std::uint32_t m_uPixelSize = 0;
  TamberGUI::CText m_Layout;
  std::unique_ptr<CFontStack> m_pFonts;
  std::u16string m_FontStackName;
  float m_fPadding[4] = {0, 0, 0, 0};  // left, top, right, bottom
  float m_fCaretWidth = 1.0f;
  float m_fDropWidth = 2.0f;
  float m_fAlign = 0;
  std::uint8_t m_bSelectable = 0;
  std::uint8_t m_bEditable = 0;
  Vexil3D::CARGB m_Colour = Vexil3D::COLOUR_WHITE;
  Vexil3D::CARGB m_SelectionHighlightColour = Vexil3D::COLOUR_RED;
  Vexil3D::CARGB m_SelectionColour = Vexil3D::COLOUR_WHITE;
  Vexil3D::CARGB m_UnfocusedSelectionHighlightColour = Vexil3D::COLOUR_RED;
  Vexil3D::CARGB m_UnfocusedSelectionColour = Vexil3D::COLOUR_WHITE;
  std::uint8_t m_bUnfocusedHideSelection = 1;
  std::uint8_t m_bShrinkToFit = 0;
  std::uint8_t m_bDraggable = 1;
  std::uint8_t m_bDropShadow = 0;
  float m_fDesiredX = 0;
  float m_fBlink = 0;
  std::uint8_t m_bCaretVisible = 1;
  // Mouse: a drag selection under way, or a press over the selection that may start a text drag.
  std::uint8_t m_bDragSelecting = 0;
  std::uint8_t m_bDragPending = 0;
  float m_fHoverX = 0, m_fHoverY = 0;  // the last point the mouse moved to, for the cursor
  // OLE, as a target: the data offered has text; the drop caret and its position.
  std::uint8_t m_bDropAccepted = 0;
  std::uint8_t m_bDropCaretShown = 0;
  std::uint32_t m_uDropPosition = 0;
  // OLE, as a source: this element's own text is being dragged, and where it was dropped on itself.
  std::uint8_t m_bDraggingOwn = 0;
  std::uint8_t m_bOwnDropMarked = 0;
  std::uint32_t m_uOwnDropPosition = 0;
  DWORD m_uOwnDropEffect = DROPEFFECT_NONE;
  KeyCallback m_EnterCallback;
  KeyCallback m_EscapeCallback;
};

}  // namespace TamberGUI::GUI
