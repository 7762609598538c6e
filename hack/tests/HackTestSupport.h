#pragma once
// Shared pieces of the patch-framework tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <base/AppContext.h>
#include <hack/ModuleOptions.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/RegistryReset.h>
#include <platform/dialogs.h>
#include <platform/memory.h>
#include <platform/testing/StderrDialogs.h>
#include <platform/text.h>

namespace hacktest {

// Makes the shown messages visible to death tests; call first in the statement.
inline void ShowMessagesOnStderr() {
  static platform::testing::StderrDialogs dialogs;
  platform::SetDialogBackend(&dialogs);
}

// Handlers are plain function pointers, so each test module gets a slot whose
// behaviour the test sets.
constexpr int kSlots = 6;
using SlotBehaviour = std::function<std::uint32_t(std::uint32_t event, ModuleEventData* data)>;
extern SlotBehaviour g_Slots[kSlots];
extern ModuleHandler const g_SlotHandlers[kSlots];

inline std::u16string U16(const char* s) { return text::Utf8ToUtf16(std::string_view(s)); }

using Bytes = std::vector<std::uint8_t>;

// The n bytes now at a runtime address of the game image.
inline Bytes ReadBytes(std::uint32_t at, std::uint32_t n) {
  Bytes bytes(n);
  if (n > 0) std::memcpy(bytes.data(), reinterpret_cast<const void*>(std::uintptr_t(at)), n);
  return bytes;
}

// The protection of the page holding `at`. VirtualProtect is the only way to
// learn it, so a readable probe is set and the old protection put back.
inline DWORD ProtectionAt(std::uint32_t at) {
  DWORD old = 0;
  void* p = reinterpret_cast<void*>(std::uintptr_t(at));
  EXPECT_TRUE(VirtualProtect(p, 1, PAGE_READONLY, &old));
  DWORD unused = 0;
  EXPECT_TRUE(VirtualProtect(p, 1, old, &unused));
  return old;
}

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
