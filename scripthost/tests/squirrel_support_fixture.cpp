// Starting and ending the SquirrelSupport module on the game double for its tests.
#include "squirrel_support_fixture.h"

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <core/CoreModule.h>
#include <core/GameStartup.h>
#include <hack/BuiltInModules.h>
#include <hack/GameHooks.h>
#include <launcher/InitialisationData.h>
#include <platform/text.h>

#include "run_script.h"

namespace sstest {

namespace {

constexpr std::uint32_t kMainThreadId = 1;

SQInteger Record(HSQUIRRELVM v) {
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

}  // namespace

Lines& Logged() {
  static Lines lines;
  return lines;
}

bool RunIn(CScriptEnvironment* environment, const std::u16string& code) {
  return scripttest::RunScript(environment, code);
}

void SquirrelSupportTest::SetUp() {
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
  ASSERT_EQ(RegisterBuiltInModule(module, kLibraryHandle), MODULEREPLY_HANDLED);
  ASSERT_NE(g_ScriptHost, nullptr);
  const HSQUIRRELVM v = g_ScriptHost->GetVM();
  g_ScriptHost->GetEngineTable().Push(v);
  RegisterFunction(v, u"Record", Record, 0, nullptr);
  sq_poptop(v);
  environment = new CScriptEnvironment(g_ScriptHost, u"test");
}

void SquirrelSupportTest::AddRecordingHandlers() {
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

void SquirrelSupportTest::ShutDown() {
  if (g_pCoreModule != nullptr && g_pCoreModule->m_hModule != nullptr) UnloadCoreModule();
  delete environment;
  environment = nullptr;
}

bool SquirrelSupportTest::ImagePristine() const {
  return hacktest::ReadBytes(game->At(0x401000), game->CodeEnd() - game->At(0x401000)) == pristine;
}

void SquirrelSupportTest::TearDown() {
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

}  // namespace sstest
