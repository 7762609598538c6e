#pragma once
// The children of a page or rectangle: strong references in drawing order (first drawn first), the
// focused child, and the bounding box of the children after layout.
//
// Walks that call into children hold each child while it is called and either go over a snapshot
// of the list (layout, clipping, hit tests) or read the list again at each step (drawing, time), so
// a child that removes itself or a sibling during the call leaves the walk sound.
// Errors: element trees deeper than kMaxDepth load no further children (after an assertion).
// Locking: none (the game's main thread only).
#include <vector>

#include <TamberGUI/GUI/Element.h>

namespace TamberGUI::GUI {

class CElementContainer {
 public:
  // Deepest element nesting that is loaded: element files are untrusted input.
  static constexpr std::uint32_t kMaxDepth = 64;

  using Children = std::vector<Vexil3D::Strong<CElement>>;

  explicit CElementContainer(CElement* owner) : m_pOwner(owner) {}
  ~CElementContainer();
  CElementContainer(const CElementContainer&) = delete;
  CElementContainer& operator=(const CElementContainer&) = delete;

  // Creates, loads and appends an element for each child chunk but "FontStack" ones (types the
  // manager cannot make are skipped); named ones are entered in the nearest page's name map.
  void LoadChildren(const Vexil3D::CElementChunk* chunk);
  // Appends an element that has no parent (adding a reference).
  void Append(CElement* element);
  // Takes the element out of this container: the manager lets go of its mouse, hover and drag
  // state in it, the focus moves on, the name leaves the page's map and the parent links are
  // cleared. False when the element is not a child here.
  bool RemovePage(CElement* element);
  // Hands the focus on from the leaving child (see CElement::FocusNext): the last other visible child that
  // contains something focusable takes it; with none, the focus is cleared here and the walk goes one level
  // up. It stops below the root at the first container whose focused child is not the one it came from:
  // the focus there lies in another branch, which the leaving element never held, and climbing on would
  // take it from that branch.
  void FocusNext(CElement* leaving);
  // Moves the child to the end of the list.
  void BringToTop(CElement* element);

  // The parent rectangle, scale and clip given to every child.
  void LayoutChildren(float x, float y, float width, float height, float scale);
  void ClipChildren(const CClipRect& clip);
  void RenderChildren(Vexil3D::I2D* renderer, bool debug);
  void ProcessChildren(float seconds);
  // The visible children's HitTest, last to first.
  CElement* HitTestChildren(const Vexil3D::CVector2D& point);
  bool ContainsFocusable();

  Children Snapshot() const { return m_Children; }
  const Children& GetChildren() const { return m_Children; }
  CElement* GetOwner() const { return m_pOwner; }
  CElement* GetFocused() const { return m_pFocused; }
  void SetFocused(CElement* element) { m_pFocused = element; }
  // The bounding box of the children after the last LayoutChildren (empty: zeros).
  float m_fBoundsX1 = 0, m_fBoundsY1 = 0, m_fBoundsX2 = 0, m_fBoundsY2 = 0;

 private:
  bool Contains(CElement* element) const;

  CElement* m_pOwner;
  CElement* m_pFocused = nullptr;  // one of the children, or null (not counted)
  Children m_Children;
};

}  // namespace TamberGUI::GUI
