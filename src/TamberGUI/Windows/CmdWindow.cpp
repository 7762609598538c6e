// The command console: visibility with focus hand-over, the history and submission.
#include <TamberGUI/Windows/CmdWindow.h>

namespace Vexil3D {

CCmdWindow2::CCmdWindow2(TamberGUI::GUI::CManager* manager) {
  m_History.SetSize(kHistory);
  TamberGUI::GUI::CPage* root = manager != nullptr ? manager->GetRoot() : nullptr;
  auto* page = root != nullptr ? dynamic_cast<TamberGUI::GUI::CPage*>(root->FindElement(u"CmdWindow")) : nullptr;
  m_pPage = page;
  m_pInput = page != nullptr ? dynamic_cast<TamberGUI::GUI::CText*>(page->FindElement(u"Input")) : nullptr;
}

CCmdWindow2::~CCmdWindow2() = default;

TamberGUI::GUI::CPage* CCmdWindow2::Page() const {
  const Weak<TamberGUI::GUI::CPage>& m_pRef = m_pPage;
  VEXIL_ASSERT(m_pRef);
  return m_pRef.Get();
}

TamberGUI::GUI::CText* CCmdWindow2::Input() const {
  const Weak<TamberGUI::GUI::CText>& m_pRef = m_pInput;
  VEXIL_ASSERT(m_pRef);
  return m_pRef.Get();
}

void CCmdWindow2::SetVisible(bool visible) {
  TamberGUI::GUI::CPage* page = Page();
  TamberGUI::GUI::CText* input = Input();
  if (page == nullptr || input == nullptr || page->IsVisible() == visible) return;
  // Shown first, then focused: a hidden page's input cannot take the focus walk.
  page->SetVisible(visible);
  input->SetEditable(visible);
  if (visible) {
    input->Focus();
  } else {
    input->FocusNext();
  }
}

bool CCmdWindow2::IsVisible() const {
  TamberGUI::GUI::CPage* page = Page();
  return page != nullptr && page->IsVisible();
}

void CCmdWindow2::Submit(CCommandMgr* commands) {
  TamberGUI::GUI::CText* input = Input();
  if (input == nullptr) return;
  const std::u16string line = input->GetTextUTF16();
  if (line.size() >= kMaxLine) return;
  if (!line.empty()) {
    if (m_uCount == kHistory) {
      for (std::uint32_t i = 1; i < kHistory; ++i) m_History.SetAt(i - 1, m_History.GetAt(i));
      --m_uCount;
    }
    Entry entry;
    entry.Set(line.c_str(), line.size());
    m_History.SetAt(m_uCount++, entry);
  }
  if (commands != nullptr) commands->ExecuteLine(line.c_str(), true);
  // The command may have removed the console's page or input: look again before each use.
  m_bBrowsing = false;
  m_uHistoryCursor = 0;
  if (m_pInput.Get() == nullptr || m_pPage.Get() == nullptr) return;
  ClearInput();
  if (IsVisible()) SetVisible(false);
}

void CCmdWindow2::ClearInput() {
  m_WorkingLine.Clear();
  if (TamberGUI::GUI::CText* input = Input()) input->SetText(u"");
}

CCmdWindow2::Entry CCmdWindow2::GetAt(std::uint32_t Index) const {
  const std::uint32_t m_Size = m_uCount;
  VEXIL_ASSERT(Index < m_Size);
  return Index < m_Size ? m_History.GetAt(Index) : Entry{};
}

}  // namespace Vexil3D
