#pragma once
// Holders of counted objects: Strong keeps one reference, Weak only watches (the object nulls it
// when it goes).
#include <cstddef>
#include <utility>

#include <engine/VexilAssert.h>
#include <engine/VexilBase.h>

namespace Vexil3D {

// Holds one counted reference to T (anything with AddRef and Release).
template <class T>
class Strong {
 public:
  Strong() = default;
  Strong(std::nullptr_t) {}
  Strong(T* object) : m_pRef(object) {
    if (m_pRef) m_pRef->AddRef();
  }
  Strong(const Strong& other) : Strong(other.m_pRef) {}
  template <class U>
  Strong(const Strong<U>& other) : Strong(other.Get()) {}
  Strong(Strong&& other) noexcept : m_pRef(other.m_pRef) { other.m_pRef = nullptr; }
  ~Strong() {
    if (m_pRef) m_pRef->Release();
  }

  Strong& operator=(T* object) {
    if (object == m_pRef) return *this;
    // The new reference is taken before the old one goes: the old object may hold the only
    // reference to the new one.
    if (object) object->AddRef();
    T* old = m_pRef;
    m_pRef = object;
    if (old) old->Release();
    return *this;
  }
  Strong& operator=(const Strong& other) { return *this = other.m_pRef; }
  template <class U>
  Strong& operator=(const Strong<U>& other) {
    return *this = other.Get();
  }
  Strong& operator=(Strong&& other) noexcept {
    if (this != &other) {
      T* old = m_pRef;
      m_pRef = other.m_pRef;
      other.m_pRef = nullptr;
      if (old) old->Release();
    }
    return *this;
  }

  // Takes over a reference the caller already holds (no AddRef).
  void Attach(T* object) {
    T* old = m_pRef;
    m_pRef = object;
    if (old) old->Release();
  }
  // Hands the held reference to the caller.
  T* Detach() {
    T* object = m_pRef;
    m_pRef = nullptr;
    return object;
  }

  T* Get() const { return m_pRef; }
  operator T*() const { return m_pRef; }
  T* operator->() const {
    VEXIL_ASSERT(m_pRef);
    return m_pRef;
  }
  // An empty holder asserts; continuing past the assertion dereferences null.
  T& operator*() const {
    VEXIL_ASSERT(m_pRef);
    return *m_pRef;
  }

 private:
  T* m_pRef = nullptr;
};

// The untyped part of Weak<T>: the address the watched object nulls when it goes.
class WeakReference {
 public:
  WeakReference() = default;
  WeakReference(const WeakReference&) = delete;
  WeakReference& operator=(const WeakReference&) = delete;
  ~WeakReference() { Assign(nullptr); }

 protected:
  void Assign(CBaseObject* object) {
    // An object already going could no longer null the holder: watch nothing instead.
    if (object && object->IsDestroying()) object = nullptr;
    if (object == m_pRef) return;
    if (m_pRef) m_pRef->RemoveWeakReference(this);
    m_pRef = object;
    if (m_pRef) m_pRef->AddWeakReference(this);
  }

  CBaseObject* m_pRef = nullptr;

 private:
  friend class CBaseObject;
};

// Watches a CBaseObject-derived T without keeping it alive.
template <class T>
class Weak : public WeakReference {
 public:
  Weak() = default;
  Weak(std::nullptr_t) {}
  Weak(T* object) { Assign(object); }
  Weak(const Weak& other) : WeakReference() { Assign(other.m_pRef); }
  Weak& operator=(const Weak& other) {
    Assign(other.m_pRef);
    return *this;
  }
  Weak& operator=(T* object) {
    Assign(object);
    return *this;
  }

  T* Get() const { return static_cast<T*>(m_pRef); }
  operator T*() const { return Get(); }
  T* operator->() const {
    VEXIL_ASSERT(m_pRef);
    return Get();
  }
  // An empty holder asserts; continuing past the assertion dereferences null.
  T& operator*() const {
    VEXIL_ASSERT(m_pRef);
    return *Get();
  }
};

}  // namespace Vexil3D
