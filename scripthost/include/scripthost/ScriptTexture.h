#pragma once
// The script class Texture: tScriptTexture holds one game texture made from an image file that a module
// decoded (LoadImage). Also reaching a Texture's game record for DrawRectangle.
//
// Errors: the constructor raises the texts below as script errors; decoding reports to a task of its own,
// never to g_AppContext, so a damaged file from a server fails the constructor and nothing else.
// Ownership: counted (from 1); the script instance holds one reference; the object releases the game's two
// interfaces when destroyed. Locking: none; the game's main thread.
#include <squirrel.h>

#include <scripthost/GameTextureRecord.h>
#include <scripthost/Referenceable.h>

class CScriptHost;

class tScriptTexture : public tSquirrelReferenceableReleasable<tScriptTexture> {
 public:
  explicit tScriptTexture(CClassBinding* binding) : tSquirrelReferenceableReleasable(binding) {}

  CGameTextureRecord& GetRecord() { return m_Record; }

 private:
  CGameTextureRecord m_Record;
};

extern const SQChar kDirectDrawMissingMessage[];
extern const SQChar kTextureOpenFailedMessage[];
extern const SQChar kTextureLoadFailedMessage[];
extern const SQChar kTextureCreateFailedMessage[];

// With the Engine table on the stack top: the class Texture and its binding. The stack is as before.
void RegisterTextureClass(CScriptHost* host, HSQUIRRELVM v);
