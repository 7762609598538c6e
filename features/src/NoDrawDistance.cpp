// The NoDrawDistance module: the IV Editor's draw-distance checks are jumped over.
#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>

#include "GamePlace.h"

namespace {

struct ShortJump {
  GamePlace place, target;
};
// Column A only: the other builds lack the places.
constexpr ShortJump kJumps[] = {
    {{0x4702A6, 0, 0, 0}, {0x4702B6, 0, 0, 0}},
    {{0x470492, 0, 0, 0}, {0x4704A1, 0, 0, 0}},
    {{0x4706A8, 0, 0, 0}, {0x4706B7, 0, 0, 0}},
};
constexpr std::uint32_t kShortJumpSize = 2;

std::uint32_t Init(tHackModule* module) {
  // Patching elsewhere would write at the load distance alone; refusing needs Unload in the reply, which a bare
  // Incompatible lacks.
  if (GameVersion != GAMEVERSION_IV_EDITOR) {
    LogConsole("NO DRAW DISTANCE: Only the editor of Quorvant: Ossmere is currently supported\n");
    return MODULEREPLY_UNLOADNOW;
  }
  for (const ShortJump& jump : kJumps)
    new CHackJumpHack(module, jump.place.At(kShortJumpSize), jump.target.At(), kShortJumpSize);
  return MODULEREPLY_HANDLED;
}

}  // namespace

std::uint32_t NoDrawDistanceModuleHandler(std::uint32_t event, ModuleEventData* data) {
  if (event != MODULEEVENT_INIT) return 0;
  return Init(static_cast<ModuleInitData*>(data)->module);
}
