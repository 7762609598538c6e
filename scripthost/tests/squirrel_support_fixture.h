#pragma once
// The SquirrelSupport module started as in the game: the game double of one build, the core with its hooks, the
// module registered by its built-in name, and one script environment whose handlers record what they receive
// through Engine.Record.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <core/CoreModule.h>
#include <core/GameStartup.h>
#include <hack/GameHooks.h>
#include <hack/GameVersion.h>
#include <hack/ModuleEventData.h>
#include <hack/testing/GameDouble.h>
#include <launcher/InitialisationData.h>
#include <platform/text.h>

#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

#include "HackTestSupport.h"
#include "run_script.h"

namespace sstest {

using Lines = std::vector<std::string>;

const HMODULE kLibraryHandle = reinterpret_cast<HMODULE>(0x7000);
const HWND kWindow = reinterpret_cast<HWND>(0x777);
constexpr std::uint32_t kClockRate = 44100;

inline std::uint32_t Address(const void* p) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(p)); }

constexpr std::uint32_t kMainThreadId = 1;

// Every Engine.Record call: its arguments joined by spaces (integers as numbers, null as "null").
inline Lines& Logged() {
  static Lines lines;
  return lines;
}
// Compiles and runs script text in the environment as a resource start does; true on success.
inline bool RunIn(CScriptEnvironment* environment, const std::u16string& code) {
  return scripttest::RunScript(environment, code);
}

inline SQInteger Record(HSQUIRRELVM v) {
  std::string line;
  for (SQInteger i = 2; i <= sq_gettop(v); ++i) {
    if (i > 2) line += " ";
    const SQChar* text = nullptr;
    SQInteger number = 0;
    if (sq_gettype(v, i) == OT_STRING && SQ_SUCCEEDED(sq_getstring(v, i, &text))) {
      line += text::Utf16ToUtf8(text);
    } else if (sq_gettype(v, i) == OT_INTEGER && SQ_SUCCEEDED(sq_getinteger(v, i, &number))) {
      line += std::to_string(number);
    } else {
      line += sq_gettype(v, i) == OT_NULL ? "null" : "?";
    }
  }
  Logged().push_back(line);
  return 0;
}

class SquirrelSupportTest : public hacktest::HackRegistryTest, public ::testing::WithParamInterface<gamedouble::Build> {
 protected:
  void SetUp() override {
    HackRegistryTest::SetUp();
    Logged().clear();
    game = std::make_unique<gamedouble::CGameDouble>(GetParam());
    ASSERT_TRUE(game->IsReady());
    // Run writes its calling thunk into the code section: one plain run first, so the snapshot holds it.
    game->Run(gamedouble::Routine::QueryFlagA);
    pristine = hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000));
    DllMain(kLibraryHandle, kDllProcessAttach, nullptr);
    tList descriptors, options;
    const auto block = SerialiseInitialisationData(MakeInitialisationHeader(), kMainThreadId, descriptors, options);
    ASSERT_EQ(StartCoreModule(block.data(), block.size()), MODULEREPLY_HANDLED);
    module = CreateHackModule(u"SquirrelSupport.dll", u"SquirrelSupport");
    ASSERT_EQ(RegisterHackModule(module, kLibraryHandle, true, SquirrelSupportModuleHandler), MODULEREPLY_HANDLED);
    ASSERT_NE(g_ScriptHost, nullptr);
    const HSQUIRRELVM v = g_ScriptHost->GetVM();
    g_ScriptHost->GetEngineTable().Push(v);
    RegisterFunction(v, u"Record", Record, 0, nullptr);
    sq_poptop(v);
    environment = new CScriptEnvironment(g_ScriptHost, u"test");
  }
  void TearDown() override {
    ShutDown();
    hack::testing::ResetHackRegistry();
    delete g_FileSystem;
    g_FileSystem = nullptr;
    g_pCoreModule = nullptr;
    g_GameStartRoutine = [] { ++GetHookStandInCalls().gameStart; };
    g_UnloadCoreModule = [] { ++GetHookStandInCalls().unloadCore; };
    game.reset();
    HackRegistryTest::TearDown();
  }

  bool Run(const std::u16string& code) { return RunIn(environment, code); }
  // A handler on each of the sixteen game types that records the type's name and its arguments, and prevents
  // the default while the global Prevent is true.
  void AddRecordingHandlers() {
    ASSERT_TRUE(Run(u"::Prevent <- false;"
                    u"foreach (name in [\"OnLoadedScript\", \"OnDefineAllObjects\", \"OnSetUpItemLinkedLists\","
                    u"    \"OnLoadItems\", \"OnProcess\", \"OnRender2D\", \"OnFallDamage\", \"OnRollingBallDeath\","
                    u"    \"OnDivingRollLandDeath\", \"OnFlipeffect\", \"OnKeyDown\", \"OnKeyUp\", \"OnLoad\","
                    u"    \"OnUnload\", \"OnGetKeyStates\", \"OnGetJoypadStates\"]) {"
                    u"  local n = name;"
                    u"  Engine.EventSystem.GetEventType(n).AddHandler(function(e, ...) {"
                    u"    Engine.Record.acall([this, n].extend(vargv));"
                    u"    if (::Prevent) e.PreventDefault();"
                    u"  });"
                    u"}"));
  }
  // The game's exit: the core unloads every module (OnUnload still reaches the environment's handlers); the
  // environment, detached from the host by then, goes after.
  void ShutDown() {
    if (g_pCoreModule != nullptr && g_pCoreModule->m_hModule != nullptr) UnloadCoreModule();
    delete environment;
    environment = nullptr;
  }
  bool ImagePristine() const {
    return hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000)) == pristine;
  }

  std::unique_ptr<gamedouble::CGameDouble> game;
  tHackModule* module = nullptr;
  CScriptEnvironment* environment = nullptr;
  hacktest::Bytes pristine;
};

}  // namespace sstest
