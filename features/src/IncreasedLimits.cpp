// The IncreasedLimits module: raises the IV Editor's fixed limits, the item array among them, by patching constants.
#include <features/ItemLimit.h>

#include <features/FeatureModules.h>
#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <hack/ModuleEventData.h>

#include "FeatureStubs.h"
#include "GamePlace.h"

std::uint32_t g_ItemLimit = kGameItemLimit;

// The stub behind the 8-byte jump: the game's 16-bit result is stored at [EBP + 10], as 0 when AL is 0; flags
// and registers are kept. It resumes at g_IncreasedLimitsBack, the translated place after the stretch.
extern "C" {
__attribute__((visibility("hidden"))) std::uint32_t g_IncreasedLimitsBack = 0;
void IncreasedLimitsStub();
}
asm(".pushsection .text\n"
    ".globl IncreasedLimitsStub\n"
    ".hidden IncreasedLimitsStub\n"
    ".type IncreasedLimitsStub, @function\n"
    "IncreasedLimitsStub:\n"
    "  pushfl\n"
    "  testb %al, %al\n"
    "  jz 1f\n"
    "  movw %ax, 10(%ebp)\n"
    "  jmp 2f\n"
    "1:\n"
    "  movw $0, 10(%ebp)\n"
    "2:\n"
    "  popfl\n"
    BRINDLE_JUMP_THROUGH("g_IncreasedLimitsBack")
    ".size IncreasedLimitsStub, .-IncreasedLimitsStub\n"
    ".popsection\n");

namespace {

// Places in the IV Editor's column only: the other builds refuse the module.
GamePlace Editor(std::uint32_t place) { return {place, 0, 0, 0}; }

constexpr std::uint32_t kItemRecordBytes = 5622;

struct WordPatch {
  std::uint32_t place, value;
};
struct BytePatch {
  std::uint32_t place;
  std::uint8_t value;
};

// What each raised constant counts is the game's matter; the values are what the raised game needs.
constexpr WordPatch kWordPatches[] = {
    {0x42DD19, 8},        {0x4546EC, 113528},   {0x454703, 8},        {0x4746EC, 5000000},
    {0x48EBB1, 20000000}, {0x48EBC8, 20000000}, {0x48EBD7, 20000000},
};
constexpr BytePatch kBytePatches[] = {
    {0x4547D2, 8}, {0x4547EC, 8}, {0x4548C8, 8}, {0x46FBD9, 0}, {0x470BC0, 127}, {0x470C48, 127},
};
// Places holding the item count itself, and the item array's size in bytes and its count.
constexpr std::uint32_t kItemCountPlaces[] = {0x45A04E, 0x45A074, 0x45A0B6, 0x45A0D9, 0x45A291, 0x45A2CD};
constexpr std::uint32_t kItemArrayBytesPlace = 0x474188;
constexpr std::uint32_t kItemArrayCountPlace = 0x47419C;

constexpr std::uint32_t kStubPlace = 0x46F5CF;
constexpr std::uint32_t kStubBack = 0x46F5D7;
constexpr std::uint32_t kStubPatchSize = 8;
constexpr std::uint32_t kWordSize = 4;

std::uint32_t Init(tHackModule* module) {
  switch (GameVersion) {
    case GAMEVERSION_IV_RELEASE_PATCHED:
      LogConsole("INCREASED LIMITS: The patched release of Quorvant: Ossmere is not currently supported\n");
      return MODULEREPLY_UNLOADNOW;
    case GAMEVERSION_IV_DEMO_CORVEL:
      LogConsole("INCREASED LIMITS: The Corvel Demo of Quorvant: Ossmere is not currently supported\n");
      return MODULEREPLY_UNLOADNOW;
    case GAMEVERSION_V_RELEASE_PATCHED:
      LogConsole("INCREASED LIMITS: The patched release of Quorvant Thalwick is not currently supported\n");
      return MODULEREPLY_UNLOADNOW;
    default:
      break;
  }
  for (const WordPatch& patch : kWordPatches)
    new CHackValueHack(module, Editor(patch.place).At(kWordSize), patch.value);
  for (const BytePatch& patch : kBytePatches) new CHackValueHack(module, Editor(patch.place).At(1), patch.value);
  g_ItemLimit = kIncreasedItemLimit;
  for (std::uint32_t place : kItemCountPlaces) new CHackValueHack(module, Editor(place).At(kWordSize), g_ItemLimit);
  new CHackValueHack(module, Editor(kItemArrayBytesPlace).At(kWordSize), g_ItemLimit * kItemRecordBytes);
  new CHackValueHack(module, Editor(kItemArrayCountPlace).At(kWordSize), g_ItemLimit);
  g_IncreasedLimitsBack = Editor(kStubBack).At();
  new CHackJumpHack(module, Editor(kStubPlace).At(kStubPatchSize),
                    std::uint32_t(reinterpret_cast<std::uintptr_t>(&IncreasedLimitsStub)), kStubPatchSize);
  return MODULEREPLY_HANDLED;
}

}  // namespace

std::uint32_t IncreasedLimitsModuleHandler(std::uint32_t event, ModuleEventData* data) {
  switch (event) {
    case MODULEEVENT_INIT:
      return Init(static_cast<ModuleInitData*>(data)->module);
    case MODULEEVENT_UNLOAD:
      // The patches go back with the module, and with them the game's own item count.
      g_ItemLimit = kGameItemLimit;
      return 0;
    default:
      return 0;
  }
}
