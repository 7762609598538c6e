#pragma once
// The process-wide item limit: how many of the game's items the modules that
// place their own items (MultiplePlayerSupport, the multiplayer client) may use.
// It is 256, the game's own count, until IncreasedLimits raises the game's item
// array to 1024 items at its Init, and it goes back to 256 when that module is
// unloaded and the game's array with it.
//
// Errors: none. Locking: none; read and written on the game's main thread only.
#include <cstdint>

constexpr std::uint32_t kGameItemLimit = 256;
constexpr std::uint32_t kIncreasedItemLimit = 1024;
// The largest limit any module sets: tables indexed by item number hold this many entries.
constexpr std::uint32_t kMaxItemLimit = kIncreasedItemLimit;

extern std::uint32_t g_ItemLimit;

// Whether item is a number the modules may use now.
inline bool IsUsableItem(std::uint32_t item) { return item < g_ItemLimit && item < kMaxItemLimit; }
