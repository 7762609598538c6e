#pragma once
// The launcher's exports: start the game suspended with SDL2 and this library injected, hand it the
// initialisation block and start the initialisation thread there; then poll until that thread tells whether the
// game runs.
//
// Errors: every failure adds its message to the caller's tTaskContext, terminates the game (exit code 0) and
// answers null or 0; nothing is retried. The handles returned belong to the caller.
// Locks: none; one start at a time per caller.
#include <cstdint>

#include <platform/win32types.h>

class tTaskContext;
struct InitialisationData;
struct tList;

constexpr const char* kFailedToStartGame = "Failed to start the game executable.";
constexpr const char* kFailedToInject = "Failed to inject %s";
constexpr const char* kFailedToInjectSelf = "Failed to inject Brindlecore.dll";
constexpr const char* kFailedToAllocateBlock =
    "Failed to allocate memory in the game process to store the initialisation data of Brindlecore.";
constexpr const char* kFailedToWriteBlock = "Failed to write the initialisation data of Brindlecore.";
constexpr const char* kFailedToStartInitThread =
    "Failed to create a thread in the game process to initialise Brindlecore.";
constexpr const char* kFailedToAllocatePath =
    "Failed to allocate memory in the game process to store the path of the DLL to inject.";
constexpr const char* kFailedToWritePath = "Failed to write the path of the DLL to inject in the game.";
constexpr const char* kFailedToStartLoader = "Failed to create a thread in the game process to load the DLL to inject.";
constexpr const char* kTerminatedWhileInitialising = "The game was terminated while Brindlecore was initialising.";

// Starts the game: the process handle, with the initialisation thread's handle stored through initThread; null
// after reporting why. arguments may be null or empty (the command line is then the quoted path alone).
HANDLE BeginStartingGame(tTaskContext* errors, LPCWSTR workingDirectory, LPCWSTR executablePath, LPCWSTR arguments,
                         const InitialisationData* settings, const tList* descriptors, const tList* options,
                         HANDLE* initThread);

// False while the initialisation thread runs. Once it has ended: true, with started set when it reported the start
// (exit code 0), whether or not the game has ended since; otherwise the game is terminated and started is false
// (exit code 1 also reports kTerminatedWhileInitialising).
bool WaitForGameToStart(tTaskContext* errors, HANDLE initThread, HANDLE process, bool* started);

// Loads a library into the game by a remote LoadLibraryW thread: the module handle it returned there (its load
// base), or 0. The wait for the thread also ends when the game ends.
std::uint32_t InjectLibrary(tTaskContext* errors, HANDLE process, LPCWSTR path);

// The initialisation thread's entry in the game (the game side defines it): 0 started, 2 refused, 1 or the main
// thread's exit code when the start failed.
std::uint32_t InitThreadMain(void* block);
