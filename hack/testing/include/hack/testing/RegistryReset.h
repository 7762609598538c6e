#pragma once
// The module registry's reset between test cases. Not for the product: it drops records (restoring
// their patches) without unloading them. Fatal errors as the registry's own; takes the registry lock.
namespace hack::testing {

// Empties the registry and the subscriber lists without unloading anything.
void ResetHackRegistry();

// Unloads every registered module, the newest first as the game's shutdown does (a module frees its process-wide
// state at its Unload, and a second Init over a loaded module would lose it), then empties the registry.
void UnloadAndResetHackRegistry();

}  // namespace hack::testing
