#pragma once
// The remote players in the game: each is a puppet item of the player character's object that the client
// creates, moves, animates and respawns from the server's messages, switching the game's player globals to it
// only through MultiplePlayerSupport's interface; and the local player's state as message 4 carries it.
//
// Errors: none reported. Game data comes from the Game accessors and places named here; a room outside the
// level's rooms never reaches the game, no free item leaves an entry without a puppet, and the local player's
// own item is never removed. Locking: none; the game's main thread alone.
#include <cstdint>
#include <vector>

#include <multiplayer/Protocol.h>
#include <multiplayer/QVNetClient.h>

// The level's number of rooms, and whether room is one of them.
std::uint16_t GetRoomCount();
bool IsValidRoom(std::int32_t room);
// The local player's item number: the one saved in the local snapshot while a remote player is swapped in.
std::uint16_t GetLocalPlayerItem();

// The local player's state from its item record, the player state word and the player record; false when the
// game has no player item.
bool FillPlayerState(PlayerStateFormat* state);

// Creates the entry's puppet (when it has none) from its stored state; false when no item is free.
bool CreateRemotePlayerItem(CRemotePlayer* entry);
// Applies the stored state to the puppet; switched: the puppet's state is already in the game's globals.
void ApplyRemotePlayerState(CRemotePlayer* entry, bool switched);
// flag 1 calls the game's routine E; flag 0 ends the puppet's effects of the flag when its bit is set.
void ApplyRemotePlayerStateFlag(CRemotePlayer* entry, std::uint32_t flag);
// Removes the puppet from the game and the remote list; the entry has none afterwards.
void DeleteRemotePlayerItem(CRemotePlayer* entry);
// Message 8's flag 0x10: respawns the puppet, or creates it when the entry has none.
void RespawnRemotePlayer(CRemotePlayer* entry);

// Message 4's entries (the own id and ids outside the table skipped).
void ApplyRemotePlayerStates(CMultiplayerState* state, std::int32_t ownId,
                             const std::vector<RemotePlayerStateEntry>& entries);
// Message 8 on the entry it names (the own id's entry moves the local player).
void ApplyPlayerUpdate(CMultiplayerState* state, CRemotePlayer* entry, const PlayerUpdateMessage& update);
