#pragma once
// The script class AudioInstance: tScriptAudioInstance wraps one CAudioInstance of the SquirrelSupport
// module's audio device; the playing list (g_PlayingAudioInstances) holds the instances scripts started.
// Also Engine.GetPlayingAudioInstances and StopEnvironmentAudio.
//
// Errors: the natives raise script errors with the texts below; creation failures reach a task of the
// constructor's own, never g_AppContext. Ownership: counted (from 1); the script instance holds one reference
// and the playing list one on each listed instance; the object owns its CAudioInstance. Locking: none; the
// game's main thread (the CAudioInstance guards itself against its streaming thread).
#include <cstdint>

#include <squirrel.h>

#include <scripthost/Audio.h>
#include <scripthost/Referenceable.h>

class CScriptEnvironment;
class CScriptHost;

class tScriptAudioInstance : public tSquirrelReferenceableReleasable<tScriptAudioInstance> {
 public:
  // Takes over instance; environment is the one whose script made it (none for native code).
  tScriptAudioInstance(CClassBinding* binding, CAudioInstance* instance, CScriptEnvironment* environment);
  // Deletes the CAudioInstance and leaves the playing list and the list of live instances.
  ~tScriptAudioInstance() override;

  CAudioInstance* GetAudioInstance() const { return m_pInstance; }
  CScriptEnvironment* GetEnvironment() const { return m_pEnvironment; }
  bool IsListed() const { return m_pPlayingNode != nullptr; }
  // Play: starts and appends to the playing list with a reference of the list's, unless listed.
  void Play();
  // Stop: when listed, stops and leaves the list, dropping the list's reference (which may destroy this).
  void Stop();
  // Leaves the playing list without stopping and drops the list's reference (which may destroy this); for
  // the module's sweep of sounds that ended by themselves.
  void Unlist();

 private:
  friend void StopEnvironmentAudio(CScriptEnvironment* environment);

  CAudioInstance* m_pInstance;
  ListNode* m_pPlayingNode = nullptr;
  CScriptEnvironment* m_pEnvironment;
  ListNode* m_pLiveNode;
};

// Unlists every listed instance whose sound ended by itself, dropping the list's reference (the module's
// Process handling, before OnProcess).
void UnlistStoppedAudioInstances();
// Stops every listed instance that belongs to the environment (every one when null), unlists it and drops
// the list's reference; instances that scripts still hold live on, stopped. Instances of the environment
// that were not playing forget it, so none keeps a destroyed environment.
void StopEnvironmentAudio(CScriptEnvironment* environment);

// Texts the class raises.
extern const SQChar kAudioNotInitialisedMessage[];
extern const SQChar kAudioOpenFailedMessage[];
extern const SQChar kAudioLoadFailedMessage[];
extern const SQChar kAudioCreateFailedMessage[];

// With the Engine table on the stack top: the class AudioInstance and its binding, and
// Engine.GetPlayingAudioInstances. The stack is as before.
void RegisterAudioInstanceClass(CScriptHost* host, HSQUIRRELVM v);
void RegisterPlayingAudioInstancesNative(HSQUIRRELVM v);
