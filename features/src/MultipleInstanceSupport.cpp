// The MultipleInstanceSupport module: the game's main function no longer keeps a second copy from running.
#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/ModuleEventData.h>

#include "GamePlace.h"

namespace {

struct Removal {
  GamePlace place;
  std::uint32_t size;
  std::int32_t stackAdjustment;  // the removed code's own effect on the stack, which stays
};
constexpr Removal kRemovalsIV[] = {
    {{0x48C735, 0x48E9D9, 0x48E849, 0}, 10, 0},
    {{0x48C742, 0x48E9E6, 0x48E856, 0}, 5, 0},
    {{0x48C758, 0x48E9FC, 0x48E86C, 0}, 16, 0},
};
constexpr Removal kRemovalV{{0, 0, 0, 0x4D1D37}, 31, 60};
constexpr Removal kRemovalAll{{0x48CBF4, 0x48EF34, 0x48ED74, 0x4D23F4}, 12, 0};

void Remove(tHackModule* module, const Removal& removal) {
  new CHackNOPHack(module, removal.place.At(removal.size), removal.size, removal.stackAdjustment);
}

std::uint32_t Init(tHackModule* module) {
  if (IsGameV()) {
    Remove(module, kRemovalV);
  } else {
    for (const Removal& removal : kRemovalsIV) Remove(module, removal);
  }
  Remove(module, kRemovalAll);
  return MODULEREPLY_HANDLED;
}

}  // namespace

std::uint32_t MultipleInstanceSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  if (event != MODULEEVENT_INIT) return 0;
  return Init(static_cast<ModuleInitData*>(data)->module);
}
