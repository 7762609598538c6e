#pragma once
// The SquirrelSupport module started as in the game: the game double of one build, the core with its hooks, the
// module registered by its built-in name, and one script environment whose handlers record what they receive
// through Engine.Record.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <hack/GameVersion.h>
#include <hack/ModuleEventData.h>
#include <hack/testing/GameDouble.h>

#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

#include "HackTestSupport.h"

namespace sstest {

using Lines = std::vector<std::string>;

const HMODULE kLibraryHandle = reinterpret_cast<HMODULE>(0x7000);
const HWND kWindow = reinterpret_cast<HWND>(0x777);
constexpr std::uint32_t kClockRate = 44100;

inline std::uint32_t Address(const void* p) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(p)); }

// Every Engine.Record call: its arguments joined by spaces (integers as numbers, null as "null").
Lines& Logged();
// Compiles and runs script text in the environment as a resource start does; true on success.
bool RunIn(CScriptEnvironment* environment, const std::u16string& code);

class SquirrelSupportTest : public hacktest::HackRegistryTest, public ::testing::WithParamInterface<gamedouble::Build> {
 protected:
  void SetUp() override;
  void TearDown() override;

  bool Run(const std::u16string& code) { return RunIn(environment, code); }
  // A handler on each of the sixteen game types that records the type's name and its arguments, and prevents
  // the default while the global Prevent is true.
  void AddRecordingHandlers();
  // The game's exit: the core unloads every module (OnUnload still reaches the environment's handlers); the
  // environment, detached from the host by then, goes after.
  void ShutDown();
  bool ImagePristine() const;

  std::unique_ptr<gamedouble::CGameDouble> game;
  tHackModule* module = nullptr;
  CScriptEnvironment* environment = nullptr;
  hacktest::Bytes pristine;
};

}  // namespace sstest
