// Pages: loading (with "FileName" indirection and font stacks), the name map and the child walks.
#include <TamberGUI/GUI/Page.h>

#include <engine/Stream.h>
#include <engine/VexilAssert.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/StringConversion.h>

namespace TamberGUI::GUI {
namespace {

const char16_t kGuiFolder[] = u"/GUI/";

// Counts one "FileName" level for the time it lives.
class FileDepthScope {
 public:
  explicit FileDepthScope(std::uint32_t& depth) : m_Depth(++depth) {}
  ~FileDepthScope() { --m_Depth; }
  FileDepthScope(const FileDepthScope&) = delete;
  FileDepthScope& operator=(const FileDepthScope&) = delete;

 private:
  std::uint32_t& m_Depth;
};

}  // namespace

CPage::CPage(CManager* manager) : CElement(manager), m_Children(this) {}
CPage::~CPage() = default;

void CPage::Load(const Vexil3D::CElementChunk* chunk) {
  if (chunk == nullptr) return;
  CElement::Load(chunk);

  if (const char16_t* fileName = chunk->GetStringAttribute(u"FileName")) {
    std::uint32_t& depth = m_pManager->FileDepth();
    VEXIL_ASSERT(depth < kMaxFileDepth);
    if (depth >= kMaxFileDepth) return;
    // The depth alone leaves the fan-out free: a file naming itself (or the next of a chain) a few times over would
    // load that many to the power of the depth. One outermost "FileName" load and all it pulls in share one budget.
    std::uint32_t& loads = m_pManager->FileLoads();
    if (depth == 0) loads = 0;
    if (loads >= kMaxFileLoads) {
      // Reported once per outermost load; the files it still names are passed over quietly.
      if (loads == kMaxFileLoads) VEXIL_ASSERT(loads < kMaxFileLoads);
      loads = kMaxFileLoads + 1;
      return;
    }
    ++loads;
    Vexil3D::CVirtualFileMgr* files = m_pManager->GetFiles();
    if (files == nullptr) return;
    Vexil3D::Strong<Vexil3D::Stream> stream;
    stream.Attach(files->Open((std::u16string(kGuiFolder) + fileName).c_str(), false));
    if (stream == nullptr) return;
    // A file that opens but holds no element tree leaves this chunk to be read as it stands.
    std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
    if (tree != nullptr) {
      FileDepthScope scope(depth);
      Load(tree.get());
      return;
    }
  }

  std::uint32_t titleLength = 0;
  const char16_t* title = nullptr;
  if (const char16_t* titleName = chunk->GetStringAttribute(u"TitleName")) {
    title = m_pManager->GetString(titleName, &titleLength);
  }
  if (title != nullptr) {
    m_Title = utf16_to_utf32_n(title, titleLength);
  } else if (const char16_t* given = chunk->GetStringAttribute(u"Title")) {
    m_Title = utf16_to_utf32(given);
  }
  float size = 0;
  if (chunk->GetFloatAttribute(u"Width", &size)) m_bWidth = 1;
  if (chunk->GetFloatAttribute(u"Height", &size)) m_bHeight = 1;
  LoadFontStacks(chunk);
  m_Children.LoadChildren(chunk);
}

void CPage::LoadFontStacks(const Vexil3D::CElementChunk* chunk) {
  for (std::uint32_t i = 0; i < chunk->GetChildCount(); ++i) {
    const auto* stackChunk = dynamic_cast<const Vexil3D::CElementChunk*>(chunk->GetChild(i));
    if (stackChunk == nullptr || stackChunk->GetName() != u"FontStack") continue;
    const char16_t* name = stackChunk->GetStringAttribute(u"Name");
    const auto Result = m_FontStacks.try_emplace(name ? name : u"");
    VEXIL_ASSERT(Result.second);
    if (!Result.second) continue;
    FontStack& stack = Result.first->second;
    CFonts* fonts = m_pManager->GetFonts();
    for (std::uint32_t f = 0; f < stackChunk->GetChildCount(); ++f) {
      const auto* font = dynamic_cast<const Vexil3D::CElementChunk*>(stackChunk->GetChild(f));
      if (font == nullptr || font->GetName() != u"Font" || fonts == nullptr) continue;
      const char16_t* family = font->GetStringAttribute(u"Family");
      const char16_t* style = font->GetStringAttribute(u"Style");
      std::shared_ptr<CFont> found = fonts->GetSharedFont(family ? family : u"", style ? style : u"Regular");
      if (found != nullptr) stack.push_back(std::move(found));
    }
  }
}

void CPage::UpdateLayout() {
  CElement::UpdateLayout();
  m_Children.LayoutChildren(m_fLeft, m_fTopEdge, m_fWidthPx, m_fHeightPx, m_fScale);
}

void CPage::UpdateClipRect() {
  CElement::UpdateClipRect();
  m_Children.ClipChildren(m_Clip);
}

void CPage::Render(Vexil3D::I2D* renderer) { m_Children.RenderChildren(renderer, false); }
void CPage::RenderDebug(Vexil3D::I2D* renderer) { m_Children.RenderChildren(renderer, true); }

bool CPage::ContainsPoint(const Vexil3D::CVector2D&) { return IsRoot(); }

CElement* CPage::HitTest(const Vexil3D::CVector2D& point) {
  if (CElement* hit = m_Children.HitTestChildren(point)) return hit;
  return CElement::HitTest(point);
}

CElement* CPage::GetFocusedElement() {
  CElement* focused = m_Children.GetFocused();
  return focused != nullptr ? focused->GetFocusedElement() : this;
}

bool CPage::CanFocus() { return IsRoot(); }
bool CPage::ContainsFocusable() { return m_Children.ContainsFocusable() || CanFocus(); }
void CPage::Process(float seconds) { m_Children.ProcessChildren(seconds); }

CElement* CPage::FindElement(const std::u16string& name) const {
  const auto found = m_Names.find(name);
  return found == m_Names.end() ? nullptr : found->second.Get();
}

void CPage::RegisterName(const std::u16string& name, CElement* element) { m_Names[name] = element; }

void CPage::UnregisterName(const std::u16string& name, CElement* element) {
  const auto found = m_Names.find(name);
  if (found != m_Names.end() && found->second.Get() == element) m_Names.erase(found);
}

const CPage::FontStack* CPage::GetFontStack(const std::u16string& name) const {
  const auto found = m_FontStacks.find(name);
  return found == m_FontStacks.end() ? nullptr : &found->second;
}

}  // namespace TamberGUI::GUI
