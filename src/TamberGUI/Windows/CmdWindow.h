#pragma once
// The command console: the GUI page "CmdWindow" with its text element "Input", shown and hidden
// together, a history of submitted lines (at most kHistory, oldest first) and submission of a line
// to the command table as a privileged command.
//
// The window watches its page and input through weak links: when either has gone, the use asserts
// ("m_pRef") and the operation does nothing. A submitted command may remove them.
// Errors: lines of kMaxLine units or more are ignored (the input keeps them); bad history indices
// assert and give an empty entry. Locking: none (the game's main thread only).
#include <cstdint>
#include <cstring>
#include <string>

#include <engine/VexilArray.h>
#include <engine/VexilReference.h>
#include <scripting/CommandMgr.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>
#include <TamberGUI/GUI/Text.h>

namespace Vexil3D {

// A fixed wide buffer: setting it copies at most N units and forces the last to 0, so at most N - 1
// remain.
template <std::uint32_t N>
struct CStringBuffer {
  std::uint32_t m_uLength = 0;
  char16_t m_Buffer[N] = {};

  void Set(const char16_t* text, std::size_t length) {
    const std::size_t copied = length < N ? length : N;
    std::memcpy(m_Buffer, text, copied * sizeof(char16_t));
    if (copied < N) m_Buffer[copied] = 0;
    m_Buffer[N - 1] = 0;
    m_uLength = static_cast<std::uint32_t>(std::char_traits<char16_t>::length(m_Buffer));
  }
  void Clear() {
    m_uLength = 0;
    m_Buffer[0] = 0;
  }
  const char16_t* Get() const { return m_Buffer; }
  std::uint32_t GetLength() const { return m_uLength; }
};

class CCmdWindow2 {
 public:
  static constexpr std::uint32_t kLineUnits = 257;
  static constexpr std::uint32_t kMaxLine = kLineUnits - 1;
  static constexpr std::uint32_t kHistory = 256;
  using Entry = CStringBuffer<kLineUnits>;

  // Finds "CmdWindow" in the manager's root page and its "Input"; starts hidden or shown as the page is.
  explicit CCmdWindow2(TamberGUI::GUI::CManager* manager);
  virtual ~CCmdWindow2();
  CCmdWindow2(const CCmdWindow2&) = delete;
  CCmdWindow2& operator=(const CCmdWindow2&) = delete;

  virtual void SetVisible(bool visible);
  bool IsVisible() const;
  void Submit(CCommandMgr* commands);
  void ClearInput();

  // Assertion "Index < m_Size" and an empty entry for a bad index.
  Entry GetAt(std::uint32_t Index) const;
  std::uint32_t GetCount() const { return m_uCount; }
  std::uint32_t& HistoryCursor() { return m_uHistoryCursor; }
  bool& Browsing() { return m_bBrowsing; }
  Entry& WorkingLine() { return m_WorkingLine; }

 private:
  // The page and input, asserting when gone.
  TamberGUI::GUI::CPage* Page() const;
  TamberGUI::GUI::CText* Input() const;

  bool m_bBrowsing = false;
  Entry m_WorkingLine;
  Array<Entry> m_History;
  std::uint32_t m_uCount = 0;
  std::uint32_t m_uHistoryCursor = 0;
  Weak<TamberGUI::GUI::CPage> m_pPage;
  Weak<TamberGUI::GUI::CText> m_pInput;
};

}  // namespace Vexil3D
