#pragma once
// The module registry's reset between test cases. Not for the product: it drops records (restoring
// their patches) without unloading them. Fatal errors as the registry's own; takes the registry lock.
namespace hack::testing {

// Empties the registry and the subscriber lists without unloading anything.
void ResetHackRegistry();

}  // namespace hack::testing
