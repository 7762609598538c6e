#pragma once
// The button element: an invisible action region. A click runs its Action ("Custom", "Exit",
// "Close", or whatever the manager's action callback handles); "Move", "SizeGrip" and the "Size"
// edge and corner actions move or resize the enclosing window page while dragged, and a cancelled
// drag puts the window back.
//
// Errors: a window without the anchors an action changes, and a scale of 0, are engine assertions
// after which the drag changes nothing. An empty Custom callback does nothing.
// Locking: none (the game's main thread only).
#include <functional>
#include <string>

#include <TamberGUI/GUI/Element.h>

namespace TamberGUI::GUI {

class CPage;

class CButton : public CElement {
 public:
  explicit CButton(CManager* manager) : CElement(manager) {}
  ~CButton() override;

  void Load(const Vexil3D::CElementChunk* chunk) override;
  void Render(Vexil3D::I2D*) override {}
  void RenderDebug(Vexil3D::I2D* renderer) override;
  bool GetCursor(std::uint32_t* cursor) override;
  void OnClick() override;
  int GetWindowHitTest(const Vexil3D::CVector2D& point) override;
  void OnMouseDown(const Vexil3D::CVector2D& point) override;
  void OnMouseUp(const Vexil3D::CVector2D& point) override;
  void OnMouseMove(const Vexil3D::CVector2D& point) override;
  void OnMouseCancel() override;
  // Escape during a drag cancels it.
  bool OnKeyDown(const SDL_Keysym& key) override;
  bool CanFocus() override { return false; }

  const std::u16string& GetAction() const { return m_Action; }
  void SetAction(std::u16string action) {
    m_Action = std::move(action);
    m_bActionGiven = 1;
  }
  void SetCustomCallback(std::function<void()> callback) { m_Custom = std::move(callback); }
  // The page a drag of this button's action moves or sizes, or null.
  CPage* FindDragWindow() const;
  bool IsDragging() const { return m_pDraggingWindow != nullptr; }
  const Vexil3D::CVector2D& GetDragOffset() const { return m_Dragged; }

 private:
  void ApplyDelta(float dx, float dy);
  void EndDrag() { m_pDraggingWindow = nullptr; }

  std::uint8_t m_bActionGiven = 0;
  std::u16string m_Action;
  std::function<void()> m_Custom;
  // Watched, not held: the window holds this button, and a drag left open at teardown must not
  // keep the two alive through each other.
  Vexil3D::Weak<CPage> m_pDraggingWindow;
  Vexil3D::CVector2D m_LastPointer;
  Vexil3D::CVector2D m_Dragged;  // the offset applied since the press
  struct {
    float left, top, width, height;
  } m_Start{};  // the window's anchors at the press
};

}  // namespace TamberGUI::GUI
