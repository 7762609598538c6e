#pragma once
// The GUI's element base: attributes read from an element chunk, anchored layout inside the
// parent's rectangle, hit tests, mouse capture and hover through the manager, keyboard focus walks,
// and the 32 virtual operations every element answers (in their slot order below).
//
// Errors: broken invariants (an element without a size of its own and no Width or Height, a
// malformed colour) are engine assertions, after which the call answers an empty value. Locking:
// none (the game's main thread only). Elements are counted objects: whoever creates one holds its
// first reference; containers hold their children through strong references.
#include <cstdint>
#include <limits>
#include <string>

#include <SDL.h>

#include <engine/Colour.h>
#include <engine/HBFChunk.h>
#include <engine/I2D.h>
#include <engine/VexilBase.h>
#include <engine/VexilMath.h>
#include <engine/VexilReference.h>
#include <platform/ole.h>

namespace TamberGUI::GUI {

class CManager;
class CElementContainer;
class CPage;

struct CClipRect {
  float x1 = -std::numeric_limits<float>::infinity();
  float y1 = -std::numeric_limits<float>::infinity();
  float x2 = std::numeric_limits<float>::infinity();
  float y2 = std::numeric_limits<float>::infinity();
};

// One anchor value and whether the element file (or the owner) gave it.
struct CAnchor {
  float value = 0;
  std::uint8_t given = 0;
  void Set(float v) {
    value = v;
    given = 1;
  }
};

class CElement : public Vexil3D::CBaseObject {
 public:
  explicit CElement(CManager* manager);
  ~CElement() override;

  // 1. Reads the attributes every element has.
  virtual void Load(const Vexil3D::CElementChunk* chunk);
  // 2-3. The intrinsic width and height; the base asserts (elements without them need Width/Height).
  virtual void UpdateWidth();
  virtual void UpdateHeight();
  // 4-7.
  virtual void LayoutHorizontal();
  virtual void LayoutVertical();
  virtual void UpdateLayout();
  virtual void UpdateClipRect();
  // 8-9.
  virtual void Render(Vexil3D::I2D* renderer) = 0;
  virtual void RenderDebug(Vexil3D::I2D* renderer) = 0;
  // 10-11. Points in screen pixels.
  virtual bool ContainsPoint(const Vexil3D::CVector2D& point);
  virtual CElement* HitTest(const Vexil3D::CVector2D& point);
  // 12. An SDL system cursor id; the root answers the arrow (0).
  virtual bool GetCursor(std::uint32_t* cursor);
  // 13-14.
  virtual void OnClick();
  virtual int GetWindowHitTest(const Vexil3D::CVector2D& point);
  // 15-19.
  virtual void OnMouseDown(const Vexil3D::CVector2D& point);
  virtual void OnMouseUp(const Vexil3D::CVector2D& point);
  virtual void OnMouseMove(const Vexil3D::CVector2D& point);
  virtual void OnMouseCancel();
  virtual void OnMouseLeave();
  // 20. Moves the element to the end (top) of its parent's children.
  virtual void BringToTop();
  // 21-24. OLE drop target calls; the base passes them to the parent element (false / nothing at
  // the root). effect is a DROPEFFECT_* value.
  virtual bool OnDragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);
  virtual bool OnDragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);
  virtual void OnDragLeave();
  virtual bool OnDrop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);
  // 25-28. True when handled.
  virtual bool OnKeyDown(const SDL_Keysym& key);
  virtual bool OnTextInput(const char* utf8);
  virtual bool OnContextMenu(const Vexil3D::CVector2D& point);
  virtual void OnContextMenuCommand(std::uint32_t id);
  // 29-31.
  virtual CElement* GetFocusedElement();
  virtual bool CanFocus() = 0;
  virtual bool ContainsFocusable();
  // 32. Time passing, in seconds.
  virtual void Process(float seconds);

  // Gives this element (or, when it cannot take it, its nearest focusable ancestor) the focus and
  // makes every ancestor that contains something focusable the focused child of its container.
  void Focus();
  // Hands the focus on when this element is its container's focused child; the walk up ends where the
  // focus lies in another branch (CElementContainer::FocusNext).
  void FocusNext();
  // The element's rectangle into the manager's dirty rectangle.
  void Invalidate();
  // "#RRGGBB" (opaque) or "#AARRGGBB"; anything else asserts and gives transparent black.
  static Vexil3D::CARGB ParseColour(const char16_t* text);

  // The page whose name map holds this element's name: the nearest page above it.
  CPage* GetNearestPage() const;
  // Elements between this one and the root.
  std::uint32_t GetDepth() const;

  CManager* GetManager() const { return m_pManager; }
  CElementContainer* GetParentContainer() const { return m_pParentContainer; }
  CElement* GetParentElement() const { return m_pParentElement; }
  void SetParent(CElementContainer* container, CElement* element) {
    m_pParentContainer = container;
    m_pParentElement = element;
  }
  bool IsNamed() const { return m_bNamed != 0; }
  const std::u16string& GetName() const { return m_Name; }
  void SetName(std::u16string name) {
    m_Name = std::move(name);
    m_bNamed = 1;
  }
  bool IsVisible() const { return m_bVisible != 0; }
  // Hiding the focused element hands the focus on.
  void SetVisible(bool visible);

  // The anchors, public to owners that move and size windows (buttons, the client).
  CAnchor m_Left, m_Top, m_Width, m_Height, m_Right, m_Bottom;
  float m_fX = 0.5f;
  float m_fY = 0.5f;
  std::uint8_t m_bBringToTop = 0;
  std::uint8_t m_bUseClip = 0;

  // The computed rectangle.
  float m_fLeft = 0, m_fTopEdge = 0, m_fWidthPx = 0, m_fHeightPx = 0;
  // Written by the parent before layout and clipping.
  float m_fParentX = 0, m_fParentY = 0, m_fParentWidth = 0, m_fParentHeight = 0, m_fScale = 1;
  CClipRect m_ParentClip;
  CClipRect m_Clip;

 protected:
  // A one-pixel frame around the element's rectangle, clipped to its clip (debug drawing).
  void DrawOutline(Vexil3D::I2D* renderer, Vexil3D::CARGB colour);

  CManager* m_pManager;
  CElementContainer* m_pParentContainer = nullptr;
  CElement* m_pParentElement = nullptr;
  std::uint8_t m_bNamed = 0;
  std::u16string m_Name;
  std::uint8_t m_bVisible = 1;
  void* m_pUserPointer = nullptr;  // the manager's user pointer at construction
};

}  // namespace TamberGUI::GUI
