#pragma once
// Key binds of scripts: CKeyBind (a function bound to an SDL key code for presses, releases or both),
// CKeyEvent (the record handed to each bind) and the table CKeyBinds that the client feeds with every key
// press and release it takes from SDL.
//
// Errors: none reported; destroying the table during a dispatch is an engine assertion.
// Ownership: the table owns its binds. A bind removed during a dispatch is only flagged and erased when the
// outermost dispatch ends; a bind added during a dispatch waits for the next one. Binds of one key run in
// the order they were added. Locking: none; the game's main thread only.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include <SDL_keyboard.h>

#include <engine/Native.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CKeyBinds;
class CKeyEvent;
class CResource;
class CResourceMgr;
class CScripting;

enum KeyState : std::int32_t {
  KEYSTATE_UP = 0,
  KEYSTATE_DOWN = 1,
  KEYSTATE_BOTH = 2,
};

class CKeyBind {
 public:
  explicit CKeyBind(CResource* resource) : m_pResource(resource) {}
  CKeyBind(const CKeyBind&) = delete;
  CKeyBind& operator=(const CKeyBind&) = delete;
  virtual ~CKeyBind() = default;

  virtual void Call(CBaseObject* caller, CKeyEvent* event) = 0;

  bool IsDeleted() const { return m_bDeleted; }
  CKeyBinds* GetTable() const { return m_pTable; }
  CResource* GetResource() const { return m_pResource; }
  SDL_Keycode GetKey() const { return m_iKey; }
  std::int32_t GetKeyState() const { return m_iKeyState; }
  bool AllowsRepeat() const { return m_bAllowRepeat; }

 private:
  friend class CKeyBinds;

  bool m_bDeleted = false;
  CKeyBinds* m_pTable = nullptr;
  CResource* m_pResource;  // null for native binds; not counted
  SDL_Keycode m_iKey = SDLK_UNKNOWN;
  std::int32_t m_iKeyState = KEYSTATE_DOWN;
  bool m_bAllowRepeat = false;
};

// Calls a script function with the event (and the caller, when the table passes callers), as its resource,
// which it holds for the call.
class CScriptKeyBind : public CKeyBind {
 public:
  CScriptKeyBind(CResource* resource, CFunction* function) : CKeyBind(resource), m_pFunction(function) {}
  void Call(CBaseObject* caller, CKeyEvent* event) override;

 private:
  Strong<CFunction> m_pFunction;
};

class CKeyEvent : public CBaseObject {
 public:
  CKeyEvent(CKeyBinds* table, const SDL_Keysym& key, std::int32_t repeat, bool down);

  ReflectedClass* GetReflectedClass() override;

  bool IsDefaultPrevented() const { return m_bDefaultPrevented; }
  void PreventDefault() { m_bDefaultPrevented = true; }
  const SDL_Keysym& GetKey() const { return m_Key; }
  // 0 for a first press.
  std::int32_t GetRepeat() const { return m_iRepeat; }
  bool IsDown() const { return m_bDown; }

 private:
  CKeyBinds* m_pTable;
  bool m_bDefaultPrevented = false;
  SDL_Keysym m_Key;
  std::int32_t m_iRepeat;
  bool m_bDown;
};

class CKeyBinds {
 public:
  // Registers bindKey, unbindKey, unbindAllKeys and the class "KeyEvent" into scripting's "global"
  // namespace (when given).
  CKeyBinds(CResourceMgr* owner, CScripting* scripting);
  CKeyBinds(const CKeyBinds&) = delete;
  CKeyBinds& operator=(const CKeyBinds&) = delete;
  ~CKeyBinds();

  // Takes ownership; always true (false only for a null bind).
  bool AddKeyBind(CKeyBind* bind, SDL_Keycode key, std::int32_t keyState, bool allowRepeat);
  // The binds of the key of that resource (all of the key's when null); the count removed.
  std::uint32_t RemoveKeyBinds(SDL_Keycode key, CResource* resource);
  // Every bind of the resource (a null resource matches the native binds only); the count removed.
  std::uint32_t RemoveResourceBinds(CResource* resource);
  // Calls the binds of the record's key that match the direction and repeat; true when any was called.
  // A bind that throws still leaves the table as it was before the dispatch began.
  bool Dispatch(const SDL_Keysym& key, std::int32_t repeat, bool down);

  // Binds in the table, flagged ones included.
  std::size_t GetCount() const;
  int GetIterating() const { return m_iIterating; }
  void SetPassCaller(bool pass) { m_bPassCaller = pass; }
  bool GetPassCaller() const { return m_bPassCaller; }
  ReflectedClass* GetKeyEventClass() const { return m_pKeyEventClass; }
  CResourceMgr* GetOwner() const { return m_pOwner; }
  CScripting* GetScripting() const { return m_pScripting; }

  // bindKey, unbindKey, unbindAllKeys and the class KeyEvent. bindKey's mask is "iic|b": key code, key
  // state, function, and the optional allow-repeat boolean stated in the mask rather than left unchecked
  // ("iic" would accept no fourth argument). unbindKey answers false, and unbindAllKeys does nothing, for a
  // caller with no resource: a removal on behalf of no resource would take the native binds too.
  void RegisterFunctions(CScripting* scripting);

 private:
  struct KeyHash {
    std::size_t operator()(SDL_Keycode key) const;
  };
  class DispatchScope;

  std::uint32_t Remove(bool (*match)(const CKeyBind*, SDL_Keycode, CResource*), SDL_Keycode key,
                       CResource* resource);
  void EraseFlagged();

  static bool NativeBindKey(CNativeState* state, int argumentCount, void* user);
  static bool NativeUnbindKey(CNativeState* state, int argumentCount, void* user);
  static bool NativeUnbindAllKeys(CNativeState* state, int argumentCount, void* user);

  bool m_bPassCaller = false;
  CResourceMgr* m_pOwner;
  int m_iIterating = 0;
  // Binds of each key in binding order (owned).
  std::unordered_map<SDL_Keycode, std::vector<CKeyBind*>, KeyHash> m_Binds;
  ReflectedClass* m_pKeyEventClass = nullptr;  // owned by the registry
  CScripting* m_pScripting;                    // not owned
};

}  // namespace Vexil3D
