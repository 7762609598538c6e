#pragma once
// A game place as its four build columns, and per-build values, for the code
// that names game places at its point of use (hooks, accessors, renderer bridge).
//
// Errors: none; a place the running build lacks translates to the load
// distance alone (callers test Exists or the build first). Locks: none; the
// translation is chosen once before the game runs.
#include <hack/GameVersion.h>

#include <cstdint>
#include <cstring>

// Columns A IV Editor, B IV Release Patched, C IV Demo Corvel, D V Release
// Patched, as in the game's image at its preferred base; 0 where a build lacks it.
struct GamePlace {
  std::uint32_t a, b, c, d;

  // The place in the running game; size is what the caller will patch (0 to use it).
  std::uint32_t At(std::uint32_t size = 0) const { return TranslateGameAddress(size, a, b, c, d); }
  // Whether the running build has the place.
  bool Exists() const { return ByBuild(a, b, c, d) != 0; }

  // The running build's column of four plain values (not translated).
  static std::uint32_t ByBuild(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    switch (GameVersion) {
      case GAMEVERSION_IV_EDITOR:
        return a;
      case GAMEVERSION_IV_RELEASE_PATCHED:
        return b;
      case GAMEVERSION_IV_DEMO_CORVEL:
        return c;
      case GAMEVERSION_V_RELEASE_PATCHED:
        return d;
      default:
        return 0;
    }
  }
};

inline bool IsGameV() { return GameVersion == GAMEVERSION_V_RELEASE_PATCHED || GameVersion == GAMEVERSION_V_RELEASE; }

inline void* GamePointer(std::uint32_t address) { return reinterpret_cast<void*>(std::uintptr_t(address)); }

// A value of the game's data. memcpy: some of the game's globals lie at odd addresses.
template <typename T>
T ReadGame(std::uint32_t address) {
  T value;
  std::memcpy(&value, GamePointer(address), sizeof value);
  return value;
}
template <typename T>
void WriteGame(std::uint32_t address, const T& value) {
  std::memcpy(GamePointer(address), &value, sizeof value);
}
template <typename T>
T ReadAt(const GamePlace& place) {
  return ReadGame<T>(place.At());
}
