#pragma once
// Shared set-up of the script-host tests: a host with small test classes and natives, environments that run
// script text, and capture of what the host writes to standard output and standard error.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <squirrel.h>

#include <platform/text.h>

#include <scripthost/ClassBinding.h>
#include <scripthost/Events.h>
#include <scripthost/Referenceable.h>
#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

#include "run_script.h"

namespace hosttest {

using Lines = std::vector<std::string>;
// Numbers of several kinds compared as one list.
using Nums = std::vector<long long>;

inline std::string Narrow(const std::u16string& s) { return text::Utf16ToUtf8(s); }

// A counted object of the test classes; counts its destructions.
struct tBox : tSquirrelReferenceableReleasable<tBox> {
  explicit tBox(CClassBinding* binding, int value = 0) : tSquirrelReferenceableReleasable(binding), m_value(value) {
    ++s_live;
  }
  ~tBox() override { --s_live; }
  int m_value;
  static inline int s_live = 0;
};

// Test classes, registered in Engine by RegisterTestApi under the binding slots named here:
//   Engine.Box(int)   non-clonable (slot Texture)
//   Engine.Vec1(n)    clonable (slot Vector1D), own _cloned; Engine.Vec3(n) derives from it (slot Vector3D)
//   Engine.Event      no constructor (slot Event): the class of events handed to handlers; PreventDefault()
// and natives Engine.Record(...) (records its arguments), Engine.Depth() (length of the running list),
// Engine.Take(v) (the value of a Vec1 through GetInstance), Engine.AddHandler(name, closure),
// Engine.Fire(name, ...) (a new event of the type, answers PreventDefault), Engine.Handler (the host's
// runtime error handler as a native).
void RegisterTestApi(CScriptHost* host);

// The arguments of every Engine.Record call, one string per call ("integer:1,string:a,table").
std::vector<std::string>& Recorded();

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorded().clear();
    host = std::make_unique<CScriptHost>();
    g_ScriptHost = host.get();
    RegisterTestApi(host.get());
  }
  void TearDown() override {
    environments.clear();
    g_ScriptHost = nullptr;
    host.reset();
    EXPECT_EQ(tBox::s_live, 0);
  }

  CScriptEnvironment* MakeEnvironment(const char16_t* name) {
    environments.push_back(std::make_unique<CScriptEnvironment>(host.get(), name));
    return environments.back().get();
  }
  // Compiles and runs the text in the environment as the resource start does; true on success.
  bool Run(CScriptEnvironment* environment, const std::u16string& code) {
    return scripttest::RunScript(environment, code);
  }
  // Runs code that must succeed; what it recorded.
  Lines Recording(CScriptEnvironment* environment, const std::u16string& code) {
    Recorded().clear();
    EXPECT_TRUE(Run(environment, code)) << Narrow(code);
    return Recorded();
  }
  // Runs code; returns what it wrote to standard error.
  std::string Errors(CScriptEnvironment* environment, const std::u16string& code, bool* ok = nullptr) {
    ::testing::internal::CaptureStderr();
    const bool succeeded = Run(environment, code);
    if (ok != nullptr) *ok = succeeded;
    return ::testing::internal::GetCapturedStderr();
  }
  // Registers a native event type without owner.
  CEventType* AddEventType(const char16_t* name, CScriptEnvironment* owner = nullptr) {
    auto* type = new CEventType(&host->GetEventTypes(), owner, name);
    host->GetEventTypes().Add(type);
    type->Release();
    return type;
  }

  std::unique_ptr<CScriptHost> host;
  std::vector<std::unique_ptr<CScriptEnvironment>> environments;
};

}  // namespace hosttest
