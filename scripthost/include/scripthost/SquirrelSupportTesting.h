#pragma once
// Test seam of the SquirrelSupport module: no script can stand before OnLoad fires (the host is made in the
// same Init), so a test that wants OnLoad handled adds its handlers through this hook.
//
// Errors: none. Locking: none; set it before Init, on the thread that sends Init.
class CScriptHost;

namespace scripthost::testing {

// Called at Init once the host and the game event types exist, right before OnLoad fires; null for none.
using tHostReadyHook = void (*)(CScriptHost* host);
void SetHostReadyHook(tHostReadyHook hook);

}  // namespace scripthost::testing
