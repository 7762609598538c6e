#pragma once
// The GUI manager of one window: the root page loaded from an element tree, the pressed, hovered
// and drag-target elements, routing of SDL events and OLE drag calls to elements, focus modes, the
// context menu, the dirty rectangle, the string table and the one quad routine elements draw with.
//
// Every element the manager calls is held by a strong reference for the whole call, so an element
// that removes itself or its page (a "Close" button, an Enter callback) is freed only afterwards.
// Errors: missing files and element types the factory lacks are skipped; a full context menu
// refuses with kNoMenuItem. Locking: none (the game's main thread only).
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include <SDL.h>

#include <engine/FileSystem.h>
#include <engine/Material.h>
#include <engine/Resource.h>
#include <engine/Texture.h>
#include <platform/window.h>

#include <TamberGUI/Draw.h>
#include <TamberGUI/Fonts.h>
#include <TamberGUI/GUI/Element.h>

namespace TamberGUI::GUI {

class CPage;
class CButton;

enum eFocusMode : std::uint8_t {
  FOCUS_MODE_WINDOW = 0,  // elements have the focus while the game window has the keyboard focus
  FOCUS_MODE_FLAG = 1,    // ... while the owner's focus flag is set
};

struct CContextMenuItem {
  std::u16string label;
  std::uint32_t id = 0;
  std::uint8_t enabled = 0;
  std::uint8_t separator = 0;
};

class CManager {
 public:
  static constexpr std::uint32_t kMaxContextMenuItems = 32;
  static constexpr std::uint32_t kNoMenuItem = 0xFFFFFFFFu;

  // Returns true when the owner handled the action of a button.
  using ActionCallback = std::function<bool(const std::u16string& action, CButton* button)>;
  // Makes an "HtmlView" element (one reference for the caller), or null.
  using ElementFactory = std::function<CElement*(CManager* manager)>;
  // A texture by name (one reference for the caller), or null.
  using TextureProvider = std::function<Vexil3D::Texture*(const char16_t* name)>;

  // The file system opens "GUI/Client.xml" and the files pages name; the registry gives page fonts.
  // Either may be null (nothing is opened, no font found).
  CManager(Vexil3D::CVirtualFileMgr* files, CFonts* fonts);
  ~CManager();
  CManager(const CManager&) = delete;
  CManager& operator=(const CManager&) = delete;

  // Builds the root page from the tree (and the "Client" page when asked), then lays it out.
  void Load(const Vexil3D::CElementChunk* root);
  void UpdateLayout();
  void UpdateClipRect();
  void HandleEvent(const SDL_Event& event);
  void OnMouseMove(const Vexil3D::CVector2D& point);
  // The element that takes keys and text, or null (see the focus modes).
  CElement* GetFocusedElement();
  // A new element of that type name (one reference for the caller), or null.
  CElement* CreateElement(const std::u16string& type);

  // OLE drop target calls for the window: the element under the point (or the one a drag is
  // over) answers; the manager keeps that element as the drag target until the drag leaves. effect
  // comes in as the effects the source allows and goes out as the one chosen (none: false).
  bool DragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);
  bool DragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);
  void DragLeave();
  bool Drop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect);

  // Draws one quad of the element rectangle, clipped; the source rectangle in the units of the
  // texture size (1 x 1 for texture coordinates), texture size 0 for the whole texture. Nothing for a texture that is
  // not ready or a rectangle outside the clip.
  void DrawQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                float width, float height, const CClipRect& clip, float sourceX, float sourceY, float sourceWidth,
                float sourceHeight, float textureWidth, float textureHeight);
  void Invalidate(const Vexil3D::CVector2D& position, const Vexil3D::CVector2D& size);
  // The item's index, or kNoMenuItem when the menu is full. A null label makes a separator.
  std::uint32_t AddContextMenuItem(const char16_t* label, std::uint32_t id, bool enabled);
  void ClearContextMenu() { m_uContextMenuCount = 0; }
  std::uint32_t GetContextMenuCount() const { return m_uContextMenuCount; }
  const CContextMenuItem& GetContextMenuItem(std::uint32_t index) const { return m_ContextMenu[index]; }

  // The text filed under the name (by its case-folded name key), or null; length when asked.
  const char16_t* GetString(const char16_t* name, std::uint32_t* length) const;
  void SetString(const char16_t* name, std::u16string text);

  // Mouse capture, hover and drag target, set by the elements' own mouse operations.
  CElement* GetPressed() const { return m_pPressed; }
  // Moves the press: an element that loses it to another (or to none) gets its OnMouseCancel, so
  // that what its press began (a window drag, a drag selection) cannot outlive the press.
  void SetPressed(CElement* element);
  // The press of that element ends as it should (a release): no cancel. Nothing when another holds it.
  void EndPress(CElement* element) {
    if (m_pPressed == element) m_pPressed = nullptr;
  }
  CElement* GetHovered() const { return m_pHovered; }
  void SetHovered(CElement* element) { m_pHovered = element; }
  CElement* GetDragTarget() const { return m_pDragTarget; }
  // Lets go of the pressed, hovered and drag-target elements that lie in the element's subtree,
  // telling each (OnMouseCancel, OnMouseLeave, OnDragLeave).
  void ForgetSubtree(CElement* element);

  CPage* GetRoot() const { return m_pRoot; }
  CElement* GetScriptElement() const { return m_pScript; }
  Vexil3D::CVirtualFileMgr* GetFiles() const { return m_pFiles; }
  CFonts* GetFonts() const { return m_pFonts; }
  // A texture by name (one reference for the caller) for a rectangle's "Texture": found in the owner's
  // resource table when one is set, else through the texture provider; null when neither has it.
  Vexil3D::Texture* ProvideTexture(const char16_t* name) const;

  // Owner settings.
  void SetScreen(float x, float y, float width, float height, float scale) {
    m_Screen = {x, y, width, height};
    m_fScale = scale;
  }
  void SetClip(const CClipRect& clip) { m_Clip = clip; }
  void SetWindow(HWND window) { m_hWindow = window; }
  HWND GetWindow() const { return m_hWindow; }
  void SetFocusMode(eFocusMode mode) { m_uFocusMode = mode; }
  void SetFocusFlag(bool focus) { m_bFocus = focus; }
  void SetActionCallback(ActionCallback callback) { m_ActionCallback = std::move(callback); }
  const ActionCallback& GetActionCallback() const { return m_ActionCallback; }
  void SetHtmlViewFactory(ElementFactory factory) { m_HtmlViewFactory = std::move(factory); }
  void SetTextureProvider(TextureProvider provider) { m_TextureProvider = std::move(provider); }
  // The owner's resource table (not owned; null: none), which outlives the manager.
  void SetResourceTable(Vexil3D::CResourceTable* table) { m_pResourceTable = table; }
  void SetClientPage(bool load) { m_bClientPage = load; }
  void SetDebugDraw(bool debug) { m_bDebugDraw = debug; }
  bool GetDebugDraw() const { return m_bDebugDraw; }
  void SetUserPointer(void* user) { m_pUserPointer = user; }
  void* GetUserPointer() const { return m_pUserPointer; }
  // The element-file loads under way inside one another (pages through "FileName").
  std::uint32_t& FileDepth() { return m_uFileDepth; }
  // The files the outermost of those loads has opened so far, its nested ones included.
  std::uint32_t& FileLoads() { return m_uFileLoads; }

  struct DirtyRect {
    float x = 0, y = 0, width = 0, height = 0;
    bool set = false;
  };
  const DirtyRect& GetDirtyRect() const { return m_Dirty; }
  void ClearDirty() { m_Dirty.set = false; }

 private:
  struct ScreenRect {
    float x = 0, y = 0, width = 0, height = 0;
  };

  CPage* LoadClientPage(CPage* root);

  Vexil3D::CVirtualFileMgr* m_pFiles;
  CFonts* m_pFonts;
  std::uint8_t m_bDebugDraw = 0;
  std::uint8_t m_bClientPage = 0;
  Vexil3D::Strong<CElement> m_pPressed;
  Vexil3D::Strong<CElement> m_pHovered;
  Vexil3D::Strong<CElement> m_pDragTarget;
  Vexil3D::Strong<CPage> m_pRoot;
  Vexil3D::Strong<CElement> m_pScript;
  ScreenRect m_Screen;
  float m_fScale = 1;
  CClipRect m_Clip;
  HWND m_hWindow = nullptr;
  std::uint8_t m_uFocusMode = FOCUS_MODE_WINDOW;
  std::uint8_t m_bFocus = 0;
  ActionCallback m_ActionCallback;
  ElementFactory m_HtmlViewFactory;
  TextureProvider m_TextureProvider;
  Vexil3D::CResourceTable* m_pResourceTable = nullptr;
  std::unordered_map<std::uint32_t, std::u16string> m_Strings;
  DirtyRect m_Dirty;
  std::uint32_t m_uContextMenuCount = 0;
  CContextMenuItem m_ContextMenu[kMaxContextMenuItems];
  void* m_pUserPointer = nullptr;
  std::uint32_t m_uFileDepth = 0;
  std::uint32_t m_uFileLoads = 0;
};

}  // namespace TamberGUI::GUI
