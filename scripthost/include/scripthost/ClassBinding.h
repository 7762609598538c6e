#pragma once
// CClassBinding: the host's record of one script class that stands for native objects; its address is the
// class's type tag. Also the list of playing AudioInstance objects and its linking.
//
// Errors: Squirrel errors raised with sq_throwerror, returned as a negative result to the calling native.
// Locking: none; the game's main thread alone uses these.
#include <squirrel.h>

#include <hack/List.h>

#include <scripthost/ScriptObjectRef.h>

class tSquirrelReferenceable;

class CClassBinding {
 public:
  // With the new class on the stack top (it stays there): holds it, becomes its type tag and registers the
  // refusal of derivation (_inherited) and, unless clonable, of cloning (_cloned).
  CClassBinding(HSQUIRRELVM v, bool clonable);
  CClassBinding(const CClassBinding&) = delete;
  CClassBinding& operator=(const CClassBinding&) = delete;

  // The object behind the value at the stack index (negative from the top, positive from the frame's base).
  // Null gives null and success. Other values fail unless they are class instances; with a binding the
  // instance's class or one of its bases must carry it and the instance must be bound. *out is null on failure.
  static SQRESULT GetInstance(CClassBinding* binding, HSQUIRRELVM v, SQInteger index, SQUserPointer* out);
  // The same check, writing *out only on success.
  static SQRESULT GetInstance(CClassBinding* binding, HSQUIRRELVM v, SQInteger index, tSquirrelReferenceable** out);

  void PushClass(HSQUIRRELVM v) const { m_class.Push(v); }
  // Drops the held class (the host does this before it closes the machine).
  void ReleaseClass() { m_class.Release(); }
  bool HasClass() const { return !m_class.IsNull(); }

 private:
  CScriptObjectRef m_class;
};

extern const SQChar kNotInheritableMessage[];
extern const SQChar kNotClonableMessage[];
extern const SQChar kNotBoundMessage[];

// AudioInstance objects that are playing; each node's record is the tScriptAudioInstance, and the list holds
// one reference on each.
class tScriptAudioInstance;
extern tList g_PlayingAudioInstances;

// Links a new node (its list already set) after previous, or at the head when previous is null.
void AddPlayingAudioInstance(ListNode* node, ListNode* previous);
inline tScriptAudioInstance* GetPlayingAudioInstance(const ListNode* node) {
  return static_cast<tScriptAudioInstance*>(node->m_pRecord);
}
