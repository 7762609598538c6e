#pragma once
// Answers every engine assertion with OK (so the code under test goes on) and records them.
#include <cstddef>
#include <string>
#include <vector>

#include <platform/testing/ScriptedDialogs.h>

namespace enginetest {

class AssertionCapture {
 public:
  AssertionCapture() {
    m_Dialogs.SetDefaultTaskDialogButton(IDOK);
    m_Dialogs.SetDefaultMessageBoxAnswer(IDOK);
  }

  std::size_t Count() const { return m_Dialogs.DialogCount(); }

  // The texts of the assertions reported so far.
  std::vector<std::u16string> Texts() const {
    std::vector<std::u16string> texts;
    for (const auto& call : m_Dialogs.Calls()) {
      if (call.kind == platform::testing::ScriptedDialogs::Kind::TaskDialog) texts.push_back(call.content);
      if (call.kind == platform::testing::ScriptedDialogs::Kind::MessageBox) texts.push_back(call.text);
    }
    return texts;
  }

  // True when the last assertion names the expression.
  bool LastNames(const std::u16string& expression) const {
    const auto texts = Texts();
    return !texts.empty() && texts.back().find(u"Expression: " + expression) != std::u16string::npos;
  }

  void Clear() { m_Dialogs.ClearCalls(); }

 private:
  platform::testing::ScriptedDialogs m_Dialogs;
};

}  // namespace enginetest
