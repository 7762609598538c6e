// The GUI manager: loading, event routing, focus modes, the element factory and the quad routine.
#include <TamberGUI/GUI/Manager.h>

#include <algorithm>
#include <memory>

#include <engine/Stream.h>

#include <TamberGUI/GUI/Button.h>
#include <TamberGUI/GUI/Page.h>
#include <TamberGUI/GUI/Rectangle.h>
#include <TamberGUI/GUI/Text.h>

namespace TamberGUI::GUI {
namespace {

const char16_t kClientFile[] = u"GUI/Client.xml";
const char16_t kClientName[] = u"Client";
const char16_t kScriptName[] = u"Script";
constexpr std::uint8_t kLeftButton = SDL_BUTTON_LEFT;

// The root fills its parent rectangle: every edge anchored at 0.
void AnchorToEdges(CElement* element) {
  element->m_Left.Set(0);
  element->m_Top.Set(0);
  element->m_Right.Set(0);
  element->m_Bottom.Set(0);
}

bool IsWithin(const CElement* element, const CElement* ancestor) {
  for (const CElement* e = element; e != nullptr; e = e->GetParentElement()) {
    if (e == ancestor) return true;
  }
  return false;
}

}  // namespace

CManager::CManager(Vexil3D::CVirtualFileMgr* files, CFonts* fonts) : m_pFiles(files), m_pFonts(fonts) {}

CManager::~CManager() {
  m_pPressed = nullptr;
  m_pHovered = nullptr;
  m_pDragTarget = nullptr;
  m_pScript = nullptr;
  m_pRoot = nullptr;
}

void CManager::Load(const Vexil3D::CElementChunk* chunk) {
  Vexil3D::Strong<CPage> root;
  root.Attach(new CPage(this));
  AnchorToEdges(root);
  root->Load(chunk);
  if (m_bClientPage) LoadClientPage(root);

  // The old tree goes: nothing may stay pressed, hovered or under a drag in it.
  if (m_pRoot != nullptr) ForgetSubtree(m_pRoot);
  m_pRoot = root;
  m_pScript = m_pRoot->FindElement(kScriptName);
  UpdateLayout();
  UpdateClipRect();
}

CPage* CManager::LoadClientPage(CPage* root) {
  if (m_pFiles == nullptr) return nullptr;
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(m_pFiles->Open(kClientFile, false));
  if (stream == nullptr) return nullptr;
  std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
  if (tree == nullptr) return nullptr;
  Vexil3D::Strong<CPage> client;
  client.Attach(new CPage(this));
  client->SetParent(&root->GetContainer(), root);
  client->SetName(kClientName);
  AnchorToEdges(client);
  client->Load(tree.get());
  root->GetContainer().Append(client);
  root->RegisterName(kClientName, client);
  return client;
}

void CManager::UpdateLayout() {
  if (m_pRoot == nullptr) return;
  Vexil3D::Strong<CPage> root(m_pRoot);
  root->m_fParentX = m_Screen.x;
  root->m_fParentY = m_Screen.y;
  root->m_fParentWidth = m_Screen.width;
  root->m_fParentHeight = m_Screen.height;
  root->m_fScale = m_fScale;
  root->UpdateLayout();
}

void CManager::UpdateClipRect() {
  if (m_pRoot == nullptr) return;
  Vexil3D::Strong<CPage> root(m_pRoot);
  root->m_ParentClip = m_Clip;
  root->UpdateClipRect();
}

CElement* CManager::GetFocusedElement() {
  if (m_pRoot == nullptr) return nullptr;
  if (m_uFocusMode == FOCUS_MODE_WINDOW && (m_hWindow == nullptr || GetFocus() != m_hWindow)) return nullptr;
  if (m_uFocusMode == FOCUS_MODE_FLAG && !m_bFocus) return nullptr;
  return m_pRoot->GetFocusedElement();
}

void CManager::OnMouseMove(const Vexil3D::CVector2D& point) {
  if (m_pRoot == nullptr) return;
  Vexil3D::Strong<CElement> target(m_pPressed != nullptr ? m_pPressed.Get() : m_pRoot->HitTest(point));
  if (target != nullptr) target->OnMouseMove(point);
}

void CManager::HandleEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_KEYDOWN: {
      Vexil3D::Strong<CElement> focused(GetFocusedElement());
      if (focused != nullptr) focused->OnKeyDown(event.key.keysym);
      break;
    }
    case SDL_TEXTINPUT: {
      Vexil3D::Strong<CElement> focused(GetFocusedElement());
      if (focused != nullptr) focused->OnTextInput(event.text.text);
      break;
    }
    case SDL_MOUSEMOTION:
      if (event.motion.which == SDL_TOUCH_MOUSEID) break;
      OnMouseMove({static_cast<float>(event.motion.x), static_cast<float>(event.motion.y)});
      break;
    case SDL_MOUSEBUTTONDOWN: {
      if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != kLeftButton || m_pRoot == nullptr) break;
      const Vexil3D::CVector2D point{static_cast<float>(event.button.x), static_cast<float>(event.button.y)};
      Vexil3D::Strong<CElement> hit(m_pRoot->HitTest(point));
      if (hit != nullptr) hit->OnMouseDown(point);
      break;
    }
    case SDL_MOUSEBUTTONUP: {
      if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != kLeftButton) break;
      Vexil3D::Strong<CElement> pressed(m_pPressed);
      if (pressed != nullptr)
        pressed->OnMouseUp({static_cast<float>(event.button.x), static_cast<float>(event.button.y)});
      break;
    }
    case SDL_WINDOWEVENT: {
      Vexil3D::Strong<CElement> target;
      if (event.window.event == SDL_WINDOWEVENT_LEAVE) target = m_pHovered;
      if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) target = m_pPressed;
      if (target != nullptr) target->OnMouseCancel();
      break;
    }
    default:
      break;
  }
}

CElement* CManager::CreateElement(const std::u16string& type) {
  if (type == u"Rectangle") return new CRectangle(this);
  if (type == u"Text") return new CText(this);
  if (type == u"Button") return new CButton(this);
  if (type == u"Page") return new CPage(this);
  if (type == u"HtmlView") return m_HtmlViewFactory ? m_HtmlViewFactory(this) : nullptr;
  return nullptr;
}

bool CManager::DragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  Vexil3D::Strong<CElement> target(m_pRoot != nullptr ? m_pRoot->HitTest(point) : nullptr);
  m_pDragTarget = target;
  if (target != nullptr && target->OnDragEnter(data, keyState, point, effect)) return true;
  *effect = DROPEFFECT_NONE;
  return false;
}

bool CManager::DragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  Vexil3D::Strong<CElement> target(m_pDragTarget);
  if (target != nullptr && target->OnDragOver(keyState, point, effect)) return true;
  *effect = DROPEFFECT_NONE;
  return false;
}

void CManager::DragLeave() {
  Vexil3D::Strong<CElement> target(m_pDragTarget);
  m_pDragTarget = nullptr;
  if (target != nullptr) target->OnDragLeave();
}

bool CManager::Drop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  Vexil3D::Strong<CElement> target(m_pDragTarget);
  m_pDragTarget = nullptr;
  if (target != nullptr && target->OnDrop(data, keyState, point, effect)) return true;
  *effect = DROPEFFECT_NONE;
  return false;
}

void CManager::SetPressed(CElement* element) {
  if (m_pPressed == element) return;
  // Cleared before the cancel runs: the loser's own cancel asks to clear the press again.
  Vexil3D::Strong<CElement> previous(m_pPressed);
  m_pPressed = nullptr;
  if (previous != nullptr) previous->OnMouseCancel();
  m_pPressed = element;
}

void CManager::ForgetSubtree(CElement* element) {
  if (m_pPressed != nullptr && IsWithin(m_pPressed, element)) SetPressed(nullptr);
  if (m_pHovered != nullptr && IsWithin(m_pHovered, element)) {
    Vexil3D::Strong<CElement> hovered(m_pHovered);
    hovered->OnMouseLeave();
    if (m_pHovered == hovered) m_pHovered = nullptr;
  }
  if (m_pDragTarget != nullptr && IsWithin(m_pDragTarget, element)) {
    Vexil3D::Strong<CElement> target(m_pDragTarget);
    m_pDragTarget = nullptr;
    target->OnDragLeave();
  }
}

void CManager::DrawQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                        float width, float height, const CClipRect& clip, float sourceX, float sourceY,
                        float sourceWidth, float sourceHeight, float textureWidth, float textureHeight) {
  DrawClippedQuad(renderer, material, colour, x, y, width, height, {clip.x1, clip.y1, clip.x2, clip.y2},
                  {sourceX, sourceY, sourceX + sourceWidth, sourceY + sourceHeight}, textureWidth, textureHeight);
}

void CManager::Invalidate(const Vexil3D::CVector2D& position, const Vexil3D::CVector2D& size) {
  if (!m_Dirty.set) {
    m_Dirty = {position.x, position.y, size.x, size.y, true};
    return;
  }
  if (position.x < m_Dirty.x) {
    m_Dirty.width += m_Dirty.x - position.x;
    m_Dirty.x = position.x;
  }
  if (position.y < m_Dirty.y) {
    m_Dirty.height += m_Dirty.y - position.y;
    m_Dirty.y = position.y;
  }
  m_Dirty.width = std::max(m_Dirty.width, size.x);
  m_Dirty.height = std::max(m_Dirty.height, size.y);
}

std::uint32_t CManager::AddContextMenuItem(const char16_t* label, std::uint32_t id, bool enabled) {
  if (m_uContextMenuCount >= kMaxContextMenuItems) return kNoMenuItem;
  CContextMenuItem& item = m_ContextMenu[m_uContextMenuCount];
  item.label = label != nullptr ? label : u"";
  item.id = id;
  item.enabled = enabled ? 1 : 0;
  item.separator = label == nullptr ? 1 : 0;
  return m_uContextMenuCount++;
}

const char16_t* CManager::GetString(const char16_t* name, std::uint32_t* length) const {
  if (name == nullptr || m_Strings.empty()) return nullptr;
  const auto found = m_Strings.find(Vexil3D::GetNameHash(name, Vexil3D::kNameHashToTerminator, true));
  if (found == m_Strings.end()) return nullptr;
  if (length != nullptr) *length = static_cast<std::uint32_t>(found->second.size());
  return found->second.c_str();
}

void CManager::SetString(const char16_t* name, std::u16string text) {
  m_Strings[Vexil3D::GetNameHash(name, Vexil3D::kNameHashToTerminator, true)] = std::move(text);
}

Vexil3D::Texture* CManager::ProvideTexture(const char16_t* name) const {
  if (m_pResourceTable != nullptr) {
    const Vexil3D::Strong<Vexil3D::Resource> found = m_pResourceTable->Find(name);
    auto* texture = dynamic_cast<Vexil3D::Texture*>(found.Get());
    if (texture != nullptr) texture->AddRef();
    return texture;
  }
  return m_TextureProvider ? m_TextureProvider(name) : nullptr;
}

}  // namespace TamberGUI::GUI
