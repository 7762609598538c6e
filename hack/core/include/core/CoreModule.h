#pragma once
// The core module: named after the library's own file, registered first and asked last on every event. Its Init
// checks the launcher's header copy and the game build, makes the game-side file system with its six mounts (a
// physical one whose host directory is empty is refused with a console line, never mounted on the host's root),
// installs the crash filter and every hook; it answers WindowChanged, LoadSample, Flipeffect, UnhandledException
// and LoadImage itself, every other event with 0.
//
// Errors: Init refuses with 71 (a header of another magic, version or build) or 7 (a game build not supported);
// the events' failures leave the event to the game or to another module and report nothing.
// Locks: none of its own. Init and Unload run under the registry lock (see RegisterHackModule); all else on the
// game's main thread but UnhandledException, on the faulting thread.
#include <cstdint>
#include <string>

#include <hack/ModuleRegistry.h>

std::uint32_t CoreModuleHandler(std::uint32_t event, ModuleEventData* data);

// The core's record, set by its Init; null before.
extern tHackModule* g_pCoreModule;

// Around every message box: the game hides the cursor, a message needs it.
void ShowCursorForMessage(class tAppContext* context);
void HideCursorAfterMessage(class tAppContext* context);

// The record name of a library path: the file name after the last "\" or "/", at most 64 units, cut at its
// last ".".
std::u16string CoreModuleName(std::u16string_view path);
