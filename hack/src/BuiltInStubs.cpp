// Stand-ins for the built-in modules whose code is not in the program yet.
// Each refuses its Init quietly (17), which makes start-up free the library and
// go on with the next module. Whoever brings a module's code removes its line.
#include <hack/BuiltInModules.h>

namespace {
std::uint32_t RefuseUntilPresent(std::uint32_t, ModuleEventData*) { return MODULEREPLY_UNLOADNOW; }
}  // namespace

#define BRINDLE_MODULE_STUB(handler) \
  std::uint32_t handler(std::uint32_t event, ModuleEventData* data) { return RefuseUntilPresent(event, data); }

BRINDLE_MODULE_STUB(MultiplayerModuleHandler)
BRINDLE_MODULE_STUB(SquirrelSupportModuleHandler)
