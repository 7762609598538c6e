// The AspectRatioSupport module: the game's aspect-ratio computation is replaced by the constant 1.0.
#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>

#include "FeatureStubs.h"
#include "GamePlace.h"

// Loads 1.0 onto the FPU stack where the skipped game code leaves its ratio, and resumes after that code.
extern "C" {
__attribute__((visibility("hidden"))) std::uint32_t g_AspectRatioBack = 0;
void AspectRatioStub();
}
asm(".pushsection .text\n"
    ".globl AspectRatioStub\n"
    ".hidden AspectRatioStub\n"
    ".type AspectRatioStub, @function\n"
    "AspectRatioStub:\n"
    "  fld1\n"
    BRINDLE_JUMP_THROUGH("g_AspectRatioBack")
    ".size AspectRatioStub, .-AspectRatioStub\n"
    ".popsection\n");

namespace {

// Game V has no such place: its column would translate to the load distance alone.
constexpr GamePlace kRatio{0x48D6DB, 0x48FA4B, 0x48F88B, 0};
constexpr GamePlace kRatioBack{0x48D6ED, 0x48FA5D, 0x48F89D, 0};
constexpr std::uint32_t kPatchSize = 6;

std::uint32_t Init(tHackModule* module) {
  if (!kRatio.Exists()) {
    LogConsole("ASPECT RATIO SUPPORT: This game version is not currently supported\n");
    return MODULEREPLY_UNLOADNOW;
  }
  g_AspectRatioBack = kRatioBack.At();
  new CHackJumpHack(module, kRatio.At(kPatchSize), std::uint32_t(reinterpret_cast<std::uintptr_t>(&AspectRatioStub)),
                    kPatchSize);
  return MODULEREPLY_HANDLED;
}

}  // namespace

std::uint32_t AspectRatioSupportModuleHandler(std::uint32_t event, ModuleEventData* data) {
  if (event != MODULEEVENT_INIT) return 0;
  return Init(static_cast<ModuleInitData*>(data)->module);
}
