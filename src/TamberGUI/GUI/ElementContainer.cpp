// Children of pages and rectangles: loading, removal, focus hand-over and the walks over them.
#include <TamberGUI/GUI/ElementContainer.h>

#include <algorithm>

#include <engine/VexilAssert.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>

namespace TamberGUI::GUI {

CElementContainer::~CElementContainer() {
  // Children outliving their container (held elsewhere) must not point back at it.
  for (auto& child : m_Children) child->SetParent(nullptr, nullptr);
}

void CElementContainer::LoadChildren(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr || m_pOwner == nullptr) return;
  const bool tooDeep = m_pOwner->GetDepth() + 1 >= kMaxDepth;
  for (std::uint32_t i = 0; i < chunk->GetChildCount(); ++i) {
    const auto* child = dynamic_cast<const Vexil3D::CElementChunk*>(chunk->GetChild(i));
    if (child == nullptr || child->GetName() == u"FontStack") continue;
    if (tooDeep) {
      VEXIL_ASSERT(!"element tree too deep");
      return;
    }
    Vexil3D::Strong<CElement> element;
    element.Attach(m_pOwner->GetManager()->CreateElement(child->GetName()));
    if (element == nullptr) continue;
    element->SetParent(this, m_pOwner);
    element->Load(child);
    m_Children.push_back(element);
    if (element->IsNamed()) {
      CPage* page = dynamic_cast<CPage*>(m_pOwner);
      if (page == nullptr) page = m_pOwner->GetNearestPage();
      if (page != nullptr) page->RegisterName(element->GetName(), element);
    }
  }
}

void CElementContainer::Append(CElement* element) {
  if (element == nullptr) return;
  element->SetParent(this, m_pOwner);
  m_Children.emplace_back(element);
}

bool CElementContainer::Contains(CElement* element) const {
  return std::any_of(m_Children.begin(), m_Children.end(), [&](const auto& child) { return child == element; });
}

bool CElementContainer::RemovePage(CElement* element) {
  if (element == nullptr || !Contains(element)) return false;
  // Held until the end: the calls below may drop other references to it.
  Vexil3D::Strong<CElement> kept(element);
  element->GetManager()->ForgetSubtree(element);
  if (m_pFocused == element) FocusNext(element);
  const auto at = std::find_if(m_Children.begin(), m_Children.end(), [&](const auto& c) { return c == element; });
  if (at != m_Children.end()) m_Children.erase(at);
  if (element->IsNamed()) {
    CPage* page = dynamic_cast<CPage*>(m_pOwner);
    if (page == nullptr && m_pOwner != nullptr) page = m_pOwner->GetNearestPage();
    if (page != nullptr) page->UnregisterName(element->GetName(), element);
  }
  element->SetParent(nullptr, nullptr);
  return true;
}

void CElementContainer::FocusNext(CElement* leaving) {
  for (CElementContainer* container = this; container != nullptr;) {
    CElement* next = nullptr;
    for (auto it = container->m_Children.rbegin(); it != container->m_Children.rend(); ++it) {
      CElement* child = *it;
      if (child == leaving || !child->IsVisible()) continue;
      if (child->ContainsFocusable()) {
        next = child;
        break;
      }
    }
    if (next != nullptr) {
      container->m_pFocused = next;
      return;
    }
    container->m_pFocused = nullptr;
    CElement* owner = container->m_pOwner;
    if (owner == nullptr) return;
    CElementContainer* above = owner->GetParentContainer();
    // Only a container whose focus went through this owner loses it.
    if (above == nullptr || above->m_pFocused != owner) return;
    leaving = owner;
    container = above;
  }
}

void CElementContainer::BringToTop(CElement* element) {
  const auto at = std::find_if(m_Children.begin(), m_Children.end(), [&](const auto& c) { return c == element; });
  if (at == m_Children.end()) return;
  std::rotate(at, at + 1, m_Children.end());
}

void CElementContainer::LayoutChildren(float x, float y, float width, float height, float scale) {
  bool first = true;
  for (auto& child : Snapshot()) {
    child->m_fParentX = x;
    child->m_fParentY = y;
    child->m_fParentWidth = width;
    child->m_fParentHeight = height;
    child->m_fScale = scale;
    child->UpdateLayout();
    const float x1 = child->m_fLeft, y1 = child->m_fTopEdge;
    const float x2 = x1 + child->m_fWidthPx, y2 = y1 + child->m_fHeightPx;
    if (first) {
      m_fBoundsX1 = x1, m_fBoundsY1 = y1, m_fBoundsX2 = x2, m_fBoundsY2 = y2;
      first = false;
    } else {
      m_fBoundsX1 = std::min(m_fBoundsX1, x1), m_fBoundsY1 = std::min(m_fBoundsY1, y1);
      m_fBoundsX2 = std::max(m_fBoundsX2, x2), m_fBoundsY2 = std::max(m_fBoundsY2, y2);
    }
  }
  if (first) m_fBoundsX1 = m_fBoundsY1 = m_fBoundsX2 = m_fBoundsY2 = 0;
}

void CElementContainer::ClipChildren(const CClipRect& clip) {
  for (auto& child : Snapshot()) {
    child->m_ParentClip = clip;
    child->UpdateClipRect();
  }
}

void CElementContainer::RenderChildren(Vexil3D::I2D* renderer, bool debug) {
  // By index, each child held while it draws: cheaper than a snapshot on the per-frame path and as
  // safe (a list that changes under the walk is read again at each step).
  for (std::size_t i = 0; i < m_Children.size(); ++i) {
    const Vexil3D::Strong<CElement> child(m_Children[i]);
    if (!child->IsVisible()) continue;
    if (debug) {
      child->RenderDebug(renderer);
    } else {
      child->Render(renderer);
    }
  }
}

void CElementContainer::ProcessChildren(float seconds) {
  for (std::size_t i = 0; i < m_Children.size(); ++i) {
    const Vexil3D::Strong<CElement> child(m_Children[i]);
    child->Process(seconds);
  }
}

CElement* CElementContainer::HitTestChildren(const Vexil3D::CVector2D& point) {
  const Children children = Snapshot();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (!(*it)->IsVisible()) continue;
    if (CElement* hit = (*it)->HitTest(point)) return hit;
  }
  return nullptr;
}

bool CElementContainer::ContainsFocusable() {
  return std::any_of(m_Children.begin(), m_Children.end(),
                     [](const auto& child) { return child->IsVisible() && child->ContainsFocusable(); });
}

}  // namespace TamberGUI::GUI
