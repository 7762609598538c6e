#pragma once
// The game side's start-up and shutdown: the launcher's header copy and lists, the start event, the
// initialisation thread's core start, the routine the start hook runs on the game's main thread, the exit hooks'
// unload and the console control handler.
//
// Errors: a refused core or module ends the game's main thread (exit code 2); a module library that does not load
// is logged and skipped; GameStart may end the process with a module's exit code.
// Locks: GameStartRoutine holds the registry lock while it loads and registers modules; the rest takes none.
#include <cstddef>
#include <cstdint>

#include <hack/List.h>
#include <launcher/InitialisationData.h>
#include <platform/actctx.h>
#include <platform/console.h>
#include <platform/win32types.h>

// The header copy and its lists (ModuleDescriptor and ModuleOption records), filled by StartCoreModule.
extern InitialisationData g_InitialisationData;
extern tList g_InitDescriptors;
extern tList g_InitOptions;
// The library's own module handle (DllMain).
extern HMODULE g_hModule;
// Manual-reset, not set until the start routine has raised WindowChanged: the launcher then sees "started".
extern HANDLE g_StartEvent;
// The initialisation thread while it waits for the start (null when none waits). Once the start event is set the
// start routine lets that thread finish before any game code runs: a way out of the process taken while the thread
// was still waking would end it with the process's exit code in place of "started".
extern HANDLE g_InitThread;

constexpr std::uint32_t kStartRefused = 2;
constexpr BOOL kDllProcessAttach = 1;

BOOL DllMain(HMODULE module, DWORD reason, void* reserved);

// The initialisation thread's work before it resumes the game: the header and lists read from the block (at most
// size bytes), the core's record made and named after the library file, the core registered. Returns the core's
// Init reply; 0 when the block did not parse (nothing registered).
std::uint32_t StartCoreModule(const void* block, std::size_t size);
// The library's manifest context made and activated on the calling thread (false: none is active), and undone.
bool ActivateOwnManifest(HANDLE* context, ULONG_PTR* cookie);
void DeactivateOwnManifest(HANDLE context, ULONG_PTR cookie);
// Undoes the start routine's context when it is active (the core's Unload, on the game's main thread).
void DeactivateStartContext();

// Whether a core Init reply refuses the start (17 or 7 held as a whole).
bool CoreRefused(std::uint32_t reply);

// Runs once on the game's main thread before the game's own code (the start hook's routine). After setting the
// start event it waits for the initialisation thread to end (see g_InitThread).
void GameStartRoutine();
// The exit hooks' routine: unloads the core, which unloads every other module first.
void UnloadCoreModule();

constexpr DWORD kCtrlCEvent = 0;
constexpr DWORD kCtrlCloseEvent = 2;
// The game's exit code when Ctrl+C or closing the console ends it: 0 once it has started; before the start event
// STATUS_CONTROL_C_EXIT, which the launcher reads as a start that did not happen (any code but 0 does).
constexpr std::uint32_t kEndedByConsole = 0;
constexpr std::uint32_t kEndedByConsoleBeforeStart = STATUS_CONTROL_C_EXIT;
// Ctrl+C and closing the console end the game with the code above (TRUE); other types are not handled (FALSE).
BOOL ConsoleCtrlHandler(DWORD type);
