#pragma once
// A dialog backend for death tests: every dialog's and console line's text goes to standard error, where the parent
// process matches the message that was shown before the child ended. Message boxes answer 0 and task dialogs Close.
#include <cstdio>
#include <string_view>

#include <platform/dialogs.h>
#include <platform/text.h>

namespace platform::testing {

class StderrDialogs : public IDialogBackend {
 public:
  int MessageBox(HWND, std::u16string_view text, std::u16string_view, UINT) override { return Print(text), 0; }
  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
    Print(config.pszContent != nullptr ? std::u16string_view(config.pszContent) : std::u16string_view());
    if (pressed != nullptr) *pressed = IDCLOSE;
    return S_OK;
  }
  void ConsoleWrite(std::u16string_view text) override { Print(text); }
  int ConsoleReadChar() override { return -1; }

 private:
  static void Print(std::u16string_view text) {
    std::fprintf(stderr, "%s\n", text::Utf16ToUtf8(text).c_str());
    std::fflush(stderr);
  }
};

}  // namespace platform::testing
