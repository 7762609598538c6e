#pragma once
// Natives of the tables Debug, Engine and Engine.QVUtil: the registry table, raw value words and drawing a
// rectangle through the game's quad routine.
//
// Errors: script errors (sq_throwerror) with the texts below; a rectangle that cannot be drawn (no game
// device) draws nothing without error. Locking: none; the game's main thread.
#include <squirrel.h>

extern const SQChar kTextureIndexOutOfBoundsMessage[];

// Each with its table on the stack top; the stack is as before.
void RegisterDebugNatives(HSQUIRRELVM v);   // Debug.GetRegistryTable
void RegisterEngineNatives(HSQUIRRELVM v);  // Engine.GetRawValue, Engine.GetPlayingAudioInstances
void RegisterQVUtilNatives(HSQUIRRELVM v);  // Engine.QVUtil.DrawRectangle
