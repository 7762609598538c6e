#pragma once
// The page: a container element with a name map of its named descendants, named font stacks and a
// title, which may pull its content from another element file ("FileName").
//
// Errors: a duplicate font-stack name asserts ("Result.second") and keeps the first; "FileName"
// chains deeper than kMaxFileDepth, and files past the kMaxFileLoads that one outermost "FileName"
// load may open with all it nests, stop loading (after an assertion), as does a file that does not
// open, while one that opens without an element tree is passed over (the page reads its own
// chunk); missing fonts are skipped.
// Locking: none (the game's main thread only).
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <TamberGUI/Fonts.h>
#include <TamberGUI/GUI/Element.h>
#include <TamberGUI/GUI/ElementContainer.h>

namespace TamberGUI::GUI {

class CPage : public CElement {
 public:
  // Pages loaded through "FileName" inside one another.
  static constexpr std::uint32_t kMaxFileDepth = 8;
  // Files one outermost "FileName" load may open, its nested ones included.
  static constexpr std::uint32_t kMaxFileLoads = 64;

  using FontStack = std::vector<std::shared_ptr<CFont>>;

  explicit CPage(CManager* manager);
  ~CPage() override;

  void Load(const Vexil3D::CElementChunk* chunk) override;
  void UpdateLayout() override;
  void UpdateClipRect() override;
  void Render(Vexil3D::I2D* renderer) override;
  void RenderDebug(Vexil3D::I2D* renderer) override;
  // True everywhere for the root page, false for others: only their children are hit.
  bool ContainsPoint(const Vexil3D::CVector2D& point) override;
  CElement* HitTest(const Vexil3D::CVector2D& point) override;
  CElement* GetFocusedElement() override;
  bool CanFocus() override;
  bool ContainsFocusable() override;
  void Process(float seconds) override;

  // Null when no element of that name was loaded here (or it has gone).
  CElement* FindElement(const std::u16string& name) const;
  void RegisterName(const std::u16string& name, CElement* element);
  // Removes the entry when it names this element.
  void UnregisterName(const std::u16string& name, CElement* element);
  // Null when the page has no stack of that name.
  const FontStack* GetFontStack(const std::u16string& name) const;

  CElementContainer& GetContainer() { return m_Children; }
  const std::u32string& GetTitle() const { return m_Title; }
  bool IsRoot() const { return m_pParentContainer == nullptr; }

  // The page's own flags for a "Width" and "Height" its element file gave (the file a "FileName"
  // names, when it has one); a window drag changes only a size its file gave.
  std::uint8_t m_bWidth = 0;
  std::uint8_t m_bHeight = 0;

 private:
  void LoadFontStacks(const Vexil3D::CElementChunk* chunk);

  CElementContainer m_Children;
  std::unordered_map<std::u16string, Vexil3D::Weak<CElement>> m_Names;
  std::unordered_map<std::u16string, FontStack> m_FontStacks;
  std::u32string m_Title;
};

}  // namespace TamberGUI::GUI
