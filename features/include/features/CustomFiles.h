#pragma once
// The CustomFiles module's path mapper: a path the game asks for becomes a
// stream of the game-side file system (base/FileSystem.h, g_FileSystem).
//
// The module also puts streams under the game's C runtime and Win32 file calls
// (read, seek, write, length, close). The Win32-style read and write store the
// bytes moved through their count pointer, when one is given, besides returning
// them: the game's callers pass a count pointer as ReadFile and WriteFile take
// one, and a caller that reads it must not see what the stack held before.
//
// Errors: a file no mount point opens or creates gives null; a path too long
// for the file system's 260-character buffers is reported through g_AppContext
// (fatal). Locking: none; all file traffic runs on the game's main thread.
#include <cstdint>

class CStream;

// MapGameFile's modes.
enum : std::uint32_t {
  kMapCreate = 0,     // create (saving); saved-game and screenshot names mapped
  kMapOpenData = 1,   // open a game data file; a drive path mounts the CD over /GameDir on the builds with a CD
  kMapOpenSaved = 2,  // open an existing file (loading); saved-game and screenshot names mapped
};

// "savegame.N" and "VeskNNNN.tga", whole names only, go to /UserData/SavedGames
// and /UserData/Screenshots in modes 0 and 2; every other path goes below
// /GameData with "\" turned into "/". Logs the virtual path. One reference for
// the caller, or null.
CStream* MapGameFile(const char* path, std::uint32_t mode);
