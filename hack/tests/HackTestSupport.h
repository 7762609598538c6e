#pragma once
// Shared pieces of the patch-framework tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <base/TaskContext.h>
#include <hack/ModuleOptions.h>
#include <hack/ModuleRegistry.h>
#include <platform/dialogs.h>
#include <platform/text.h>

namespace hacktest {

// Writes every dialog's text to standard error, so that death tests can match
// the message that was shown before the process ended.
class StderrDialogs : public platform::IDialogBackend {
 public:
  int MessageBox(HWND, std::u16string_view text, std::u16string_view, UINT) override {
    Print(text);
    return 0;
  }
  HRESULT TaskDialog(const TASKDIALOGCONFIG& config, int* pressed) override {
    Print(config.pszContent ? std::u16string_view(config.pszContent) : std::u16string_view());
    if (pressed) *pressed = 8;  // IDCLOSE
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

// Makes the shown messages visible to death tests; call first in the statement.
inline void ShowMessagesOnStderr() {
  static StderrDialogs dialogs;
  platform::SetDialogBackend(&dialogs);
}

// Handlers are plain function pointers, so each test module gets a slot whose
// behaviour the test sets.
constexpr int kSlots = 6;
using SlotBehaviour = std::function<std::uint32_t(std::uint32_t event, ModuleEventData* data)>;
extern SlotBehaviour g_Slots[kSlots];
extern ModuleHandler const g_SlotHandlers[kSlots];

inline std::u16string U16(const char* s) { return text::Utf8ToUtf16(std::string_view(s)); }

// Registry and options are process-wide: every test starts and ends empty.
class HackRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    hack::testing::ResetHackRegistry();
    hack::testing::ClearModuleOptions();
    for (auto& slot : g_Slots) slot = nullptr;
  }
  // Makes a record and registers it with slot's handler.
  tHackModule* Load(const char16_t* name, int slot, std::uint32_t* initReply = nullptr) {
    tHackModule* module = CreateHackModule(u"C:\\mods\\module.dll", name);
    const std::uint32_t reply =
        RegisterHackModule(module, reinterpret_cast<HMODULE>(0x1000 + slot), false, g_SlotHandlers[slot]);
    if (initReply) *initReply = reply;
    return module;
  }
};

}  // namespace hacktest
