#pragma once
// The base of every native object that scripts see by reference (tSquirrelReferenceable), its script-instance
// cache and release hook, and the templates by which native objects and values are handed to scripts.
//
// Ownership: a bound script instance holds one reference on its object (dropped by ScriptInstanceReleaseHook
// when the machine frees the instance); the cached instance is not a held value, the machine owns it.
// Errors: binding reports a Squirrel error (sq_throwerror) and returns a negative result.
// Locking: none; the game's main thread alone uses these.
#include <cstdint>

#include <squirrel.h>

#include <base/Releasable.h>

class CClassBinding;

class tSquirrelReferenceable {
 public:
  explicit tSquirrelReferenceable(CClassBinding* binding) : m_pBinding(binding) { sq_resetobject(&m_instance); }
  tSquirrelReferenceable(const tSquirrelReferenceable&) = delete;
  tSquirrelReferenceable& operator=(const tSquirrelReferenceable&) = delete;

  // Both act on the object's one count.
  virtual std::uint32_t Release() = 0;
  virtual void AddRef() = 0;
  virtual ~tSquirrelReferenceable() = default;

  // Pushes the object's script instance: the cached one, else a new instance of the binding's class bound to
  // the object and cached (the instance takes one reference). Pushes null when the class is gone.
  void PushInstance(HSQUIRRELVM v);
  // For script constructors and _cloned: binds the instance at stack index 1 (this) to the object, caches it
  // and adds the instance's reference. Refused as BindInstance refuses.
  SQRESULT BindConstructedInstance(HSQUIRRELVM v);
  // Sets the instance's user pointer to the object and its release hook. Refused, with nothing changed, when
  // the value is not a class instance, the instance is already bound, or its own class is not the object's
  // class: a native constructor called on a foreign or used instance must not bind it.
  static SQRESULT BindInstance(HSQUIRRELVM v, SQInteger index, tSquirrelReferenceable* object);

  CClassBinding* GetBinding() const { return m_pBinding; }
  bool HasInstance() const { return m_instance._type == OT_INSTANCE; }
  const HSQOBJECT& GetCachedInstance() const { return m_instance; }

 private:
  friend SQInteger ScriptInstanceReleaseHook(SQUserPointer pointer, SQInteger size);

  CClassBinding* m_pBinding;
  HSQOBJECT m_instance;
};

// Called by the machine when it frees a bound instance: the cache empties and the instance's reference goes.
SQInteger ScriptInstanceReleaseHook(SQUserPointer pointer, SQInteger size);

extern const SQChar kAlreadyBoundMessage[];

// A referenceable object that hands out a value of type T.
template <typename T>
class tSquirrelReferenceableValue : public tSquirrelReferenceable {
 public:
  using tSquirrelReferenceable::tSquirrelReferenceable;
  virtual T* GetValue() = 0;
};

// A counted native object (T derives from this) seen by scripts; the count starts at 1.
template <typename T>
class tSquirrelReferenceableReleasable : public tReleasable, public tSquirrelReferenceableValue<T> {
 public:
  explicit tSquirrelReferenceableReleasable(CClassBinding* binding) : tSquirrelReferenceableValue<T>(binding) {}
  std::uint32_t Release() override { return tReleasable::Release(); }
  void AddRef() override { tReleasable::AddRef(); }
  T* GetValue() override { return static_cast<T*>(this); }
};

// A counted holder of one value T (a vector, a matrix); the caller fills the value after construction.
template <typename T>
class tSquirrelReleasableReferenceableValue : public tReleasable, public tSquirrelReferenceableValue<T> {
 public:
  explicit tSquirrelReleasableReferenceableValue(CClassBinding* binding) : tSquirrelReferenceableValue<T>(binding) {}
  std::uint32_t Release() override { return tReleasable::Release(); }
  void AddRef() override { tReleasable::AddRef(); }
  T* GetValue() override { return &m_value; }

  T m_value{};
};

// A value living inside another counted object (a matrix row): counting goes to the owner, and the value is
// never freed by this object.
template <typename T>
class tSquirrelReferenceableReleasableMemberValue : public tSquirrelReferenceableValue<T> {
 public:
  tSquirrelReferenceableReleasableMemberValue(CClassBinding* binding, tReleasable* owner, T* value)
      : tSquirrelReferenceableValue<T>(binding), m_pOwner(owner), m_pValue(value) {}
  std::uint32_t Release() override { return m_pOwner->Release(); }
  void AddRef() override { m_pOwner->AddRef(); }
  T* GetValue() override { return m_pValue; }
  tReleasable* GetOwner() const { return m_pOwner; }

 private:
  tReleasable* m_pOwner;
  T* m_pValue;
};
