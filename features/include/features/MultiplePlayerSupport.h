#pragma once
// The MultiplePlayerSupport module's face for the multiplayer client: further
// items of the game act as player characters, each with its own snapshot of
// the game's player state. The client links their items into the module's
// remote-player list and writes their snapshots; the module's hooks switch the
// game's globals to each remote player around the game's own control, draw and
// item code.
//
// The module's tables (remote snapshots, list links, owners) hold an entry for
// each of kMaxItemLimit (1,024) item numbers, not 256: IncreasedLimits raises the
// item limit to 1,024, and the tables must cover every item number the game
// may hand out whichever of the two modules loads first. The snapshots take
// 3.9 MB, made at Init and freed at Unload.
//
// Owner rules, stricter than "switch to the owner whenever it is not the
// current player": around an item's routine the module switches only to an
// owner that is a linked remote player, and only while no remote player is
// current already; it switches back only when it switched. An owner that is no
// linked remote player (a player item gone since, an item made before the
// list held it) has no snapshot worth loading, and a switch inside a switch
// would save one remote player's state over the local snapshot.
//
// Errors: every call answers safely whatever the module's state: before the
// module's Init, after its Unload, or with an item number outside the item
// limit (features/ItemLimit.h), nothing is linked, no snapshot is reached (null)
// and no switch happens (false). Locking: none; everything runs on the game's
// main thread.
#include <cstdint>

namespace MultiplePlayerSupport {

// Bytes of one snapshot of the game's player state; its first u16 is the
// player character's item number.
constexpr std::uint32_t kSnapshotSize = 3840;
// The u16 that means "no item".
constexpr std::uint16_t kNoItem = 0xFFFF;

// Copies every piece of the game's player state into snapshot (kSnapshotSize
// bytes), and back into the game. Game places only: these work in any state.
void SavePlayerState(std::uint8_t* snapshot);
void LoadPlayerState(const std::uint8_t* snapshot);

// Makes item the game's player item and loads its remote snapshot. False (and
// nothing changed) when the module is not loaded or item is not usable.
bool SwitchToPlayer(std::int16_t item);
// Clears the remote-current flag, makes the local player's item (the local
// snapshot's first u16) the player item again and loads the local snapshot.
// Does nothing when the module is not loaded.
void SwitchToLocalPlayer();

// The remote-player list. Link appends item at the tail; false when the module
// is not loaded, item is not usable or already linked. Unlink removes it; false
// when it was not linked.
bool LinkPlayer(std::uint16_t item);
bool UnlinkPlayer(std::uint16_t item);
bool IsPlayerLinked(std::uint16_t item);
std::uint32_t CountPlayers();

// The remote snapshot of item (kSnapshotSize bytes), and the local player's
// snapshot; null when the module is not loaded or item is not usable.
std::uint8_t* GetPlayerSnapshot(std::uint16_t item);
std::uint8_t* GetLocalSnapshot();

// The flag that is set while a remote player's state is in the game's globals.
void SetRemoteCurrent(bool current);
bool IsRemoteCurrent();

// The player character that was current when item was created; kNoItem when
// none is recorded or item is not usable.
std::uint16_t GetItemOwner(std::uint16_t item);

}  // namespace MultiplePlayerSupport
