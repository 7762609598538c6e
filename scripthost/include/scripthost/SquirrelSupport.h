#pragma once
// The SquirrelSupport module: its handler (SquirrelSupportModuleHandler, the built-in module "SquirrelSupport"),
// the sixteen game event types it fires, its key-event queue, its audio device and its module record.
//
// Ownership: the module owns the script host (g_ScriptHost), the game event types (one reference each in
// g_GameEventTypes, one more in the host's registry), the audio device and, through the playing list, the
// playing AudioInstance objects. All of it is made at Init (the device at the first WindowChanged that can
// make one) and goes in the tear-down, which Unload runs and an Init whose OnLoad was prevented.
// Errors: none reported; script errors in handlers are printed by the host and the firing goes on.
// Locking: module events run on the game's main thread; the key-event queue alone is filled from the window
// procedure's thread and carries its own lock.
#include <cstdint>

#include <hack/ModuleRegistry.h>

std::uint32_t SquirrelSupportModuleHandler(std::uint32_t event, ModuleEventData* data);

class CAudio;
class CEventType;
class CScriptEnvironment;
class CScriptHost;
class CTaskQueue;

// The game event types, in their order of creation.
enum GameEventType : std::uint32_t {
  kOnLoadedScript,
  kOnDefineAllObjects,
  kOnSetUpItemLinkedLists,
  kOnLoadItems,
  kOnProcess,
  kOnRender2D,
  kOnFallDamage,
  kOnRollingBallDeath,
  kOnDivingRollLandDeath,
  kOnFlipeffect,
  kOnKeyDown,
  kOnKeyUp,
  kOnLoad,
  kOnUnload,
  kOnGetKeyStates,
  kOnGetJoypadStates,
  kGameEventTypeCount
};
extern const char16_t* const kGameEventTypeNames[kGameEventTypeCount];
// The types while the module runs; null before Init and after the tear-down.
extern CEventType* g_GameEventTypes[kGameEventTypeCount];

// The module's record (from its Init block): patches that natives install belong to it.
extern tHackModule* g_pSquirrelSupportModule;
// The one audio device, or null (none made yet, or its initialisation failed).
extern CAudio* g_pAudio;

// Kinds of the key-event queue's entries; the value is the virtual-key code.
enum KeyEventKind : std::uint32_t { kKeyEventDown = 0, kKeyEventUp = 1 };
// The process-wide key-event queue.
CTaskQueue& GetKeyEventQueue();
// Safe from any thread.
void QueueKeyEvent(std::uint32_t kind, std::uint32_t code);
// Fires OnKeyDown or OnKeyUp once per queued entry, in arrival order, with the code as the one argument.
void DispatchKeyEvents();

// Creates the sixteen types on the host's registry, without owner, and adds each to the registry.
void CreateGameEventTypes(CScriptHost* host);
// Drops the module's own reference of each type, in creation order.
void ReleaseGameEventTypes();

// Given with the AudioInstance class, which knows the playing list's objects. The first unlists (dropping the
// list's reference) every instance whose sound stopped by itself; the second stops and unlists every instance
// of the environment (every one for null), dropping the list's reference.
void UnlistStoppedAudioInstances();
void StopEnvironmentAudio(CScriptEnvironment* environment);
