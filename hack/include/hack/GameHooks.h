#pragma once
// The hooks that turn places in the game's code into module events, and the
// routine that installs them all as patches of the core module's record.
//
// Jump hooks go through trampolines that keep every register and the flags
// the game relies on, and run their C++ with the direction flag clear (the
// game gets its own back); the entries below are called by the game directly
// (window procedure, sample loader call, replaced routines) or by the system
// (crash filter). Every one of them copes with the game's 4-byte aligned
// stack. What a hook carries from its event to its return path lives on the
// stack of that call, so a hook may be re-entered from inside its own event.
//
// Errors: hooks report nothing; what no module decides, the game's own code or
// rule does. Installing uses the patch classes, whose failures are fatal.
// Locks: none. All hooks run on the game's main thread, but the crash filter,
// which runs on the faulting thread.
#include <hack/ModuleRegistry.h>

#include <cstdint>

class CStream;
class CAudioSource;

// What the start hook runs before the game's main function, and what each exit
// hook runs before the main function returns. The core sets them; until then
// they are stand-ins that only count their calls (GetHookStandInCalls).
using tHookRoutine = void (*)();
extern tHookRoutine g_GameStartRoutine;
extern tHookRoutine g_UnloadCoreModule;
struct HookStandInCalls {
  std::uint32_t gameStart;
  std::uint32_t unloadCore;
};
HookStandInCalls& GetHookStandInCalls();

// Installs every hook of the running build on module (the core's record), in
// this order: the start hook, the five exit hooks, WindowChanged, the
// window-procedure value, DefineAllObjects, SetUpItemLinkedLists, the frame,
// QueryFlagA, GetKeyStates, GetJoypadStates (on game V the replacement
// routine), the LoadSample call, ScriptLoaded, QueryFlagB, LoadItems (both
// places, the second not on the IV Editor), FallDamage, RollingBallDeath,
// DivingRollLandDeath, Flipeffect and ReplacedCall. The module's patches own
// them: unloading the module puts the game's bytes back.
//
// The registers the hooks at a routine's end give back, where the game's
// table says only "one" or "three": ScriptLoaded and LoadItems pop ESI (the
// one word below the frame); game V's frame pops EDI, ESI and EBX, in that
// order, before its frame is released. These are the registers the game's
// routines saved there; restoring any other would hand the caller a
// register it relies on with the routine's own value in it.
void InstallCoreHooks(tHackModule* module);

// The game's window procedure, replaced: raises WindowMessage; a combined
// reply of 11 answers with the block's result, anything else passes the
// message to the game's own procedure.
__attribute__((stdcall, force_align_arg_pointer)) std::uint32_t HookWindowMessage(HWND window, std::uint32_t message,
                                                                                  std::uint32_t wParam,
                                                                                  std::uint32_t lParam);

// The game's call of its sample loader: raises LoadSample; 11 answers the
// block's result, 7 answers false, else the game's loader runs.
__attribute__((force_align_arg_pointer)) std::uint32_t HookLoadSample(const void* data, std::uint32_t size,
                                                                      std::uint32_t third, std::uint32_t index);

// The game's fall-damage routine, replaced: raises FallDamage; 11 answers the
// block's result, 7 answers false, else the game's rule (FallDamageRule).
__attribute__((force_align_arg_pointer)) std::uint32_t HookFallDamage(void* item);
// The game's rule: e = (the item's i16 at byte 32) - 140 as a 16-bit value;
// e <= 0 no damage; e > 14 health (i16 at byte 34) becomes -1 and the fall
// kills; else health drops by e*e*1000/196 and the fall kills when it reaches 0.
bool FallDamageRule(void* item);

// Game V's joypad routine, replaced (no event): the game's stored pad state
// when a pad is present, else zeros.
__attribute__((force_align_arg_pointer)) std::uint32_t GetJoypadStatesV(std::uint32_t* first, std::uint32_t* second);

// The unhandled-exception filter: raises UnhandledException; 1 (execute the
// handler) when the reply holds 7, else 0 (continue the search).
constexpr std::int32_t kExceptionExecuteHandler = 1;
constexpr std::int32_t kExceptionContinueSearch = 0;
__attribute__((stdcall, force_align_arg_pointer)) std::int32_t CrashFilter(void* exceptionPointers);

// Asks the modules for a decoder of stream (OpenAudioSource): the source a
// module supplied with 11 (one reference for the caller), else null.
CAudioSource* OpenAudioSourceFromStream(CStream* stream);
