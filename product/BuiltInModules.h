#pragma once
// The product's table of built-in modules: the twelve names a launcher's module list may give, in the order the
// registry compares them, each with its module's handler. The product hands it to the registry as it loads.
// It is writable so that a test build of the product can put a handler of its own behind a name; nothing else
// changes it, and only before the game runs.
#include <hack/ModuleRegistry.h>

extern tBuiltInModule g_BuiltInModules[12];
