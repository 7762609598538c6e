// The product library's entry: the loader's attach call, the table of built-in modules handed to the registry,
// and the exports that launchers and the game look up.
#include <core/GameStartup.h>
#include <hack/ModuleRegistry.h>
#include <launcher/InitialisationData.h>
#include <launcher/StartGame.h>
#include <platform/modules.h>

#include <iterator>

#include "BuiltInModules.h"

namespace {

// The exports: naming them here keeps each in the library, whatever else of its archive is used.
[[gnu::used]] const void* const kExports[] = {
    reinterpret_cast<const void*>(&BeginStartingGame), reinterpret_cast<const void*>(&WaitForGameToStart),
    reinterpret_cast<const void*>(&InjectLibrary),     reinterpret_cast<const void*>(&InitThreadMain),
    reinterpret_cast<const void*>(&FreeInitDataLists),
};

// The host loader calls no DllMain: its constructor does, with this library's own module handle.
__attribute__((constructor)) void AttachLibrary() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&AttachLibrary), &self);
  DllMain(self, kDllProcessAttach, nullptr);
  SetBuiltInModules(g_BuiltInModules, std::size(g_BuiltInModules));
}

}  // namespace
