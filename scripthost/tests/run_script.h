#pragma once
// Script text run in an environment as a resource start runs a file: compiled as "test.nut", called with the
// root table while the environment is the running one; the thread's stack is left as it was found.
#include <gtest/gtest.h>

#include <string>

#include <base/Stream.h>
#include <platform/text.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

namespace scripttest {

// True when the text compiled and ran without an uncaught error.
inline bool RunScript(CScriptEnvironment* environment, const std::u16string& code) {
  CScriptHost* host = environment->GetHost();
  const HSQUIRRELVM t = environment->GetThread();
  const SQInteger top = sq_gettop(t);
  std::string bytes = text::Utf16ToUtf8(code);
  auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
  bool ok = false;
  host->PushRunningEnvironment(environment);
  environment->Enter();
  if (SQ_SUCCEEDED(CompileScriptFile(nullptr, t, stream, u"test.nut"))) {
    sq_pushroottable(t);
    ok = SQ_SUCCEEDED(sq_call(t, 1, SQFalse, SQTrue));
    sq_settop(t, top + 1);
  }
  environment->Leave();
  host->PopRunningEnvironment();
  stream->Release();
  EXPECT_EQ(sq_gettop(t), top);
  sq_settop(t, top);
  return ok;
}

}  // namespace scripttest
