#pragma once
// Roots of every engine object: the reference count, the object with user data and weak holders,
// the owning holder AutoDelete and the named object Identifiable.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <engine/VexilAssert.h>

namespace Vexil3D {

class Pool;
class ReflectedClass;
class CArgument;
class CBaseObject;
class WeakReference;

// The engine's name key: CRC-32 (reflected) over the UTF-8 form of the name, stopping at a zero
// byte; ASCII letters are lowered first when caseFold is set. Every caller chooses both: archive,
// resource and mount keys are case-sensitive. The pointer form hashes length units (0 is the empty
// name, whose hash is 0), or the whole zero-terminated name for kNameHashToTerminator; a null name
// is the empty name.
constexpr std::uint32_t kNameHashToTerminator = 0xFFFFFFFFu;
std::uint32_t GetNameHash(const char16_t* name, std::uint32_t length, bool caseFold);
std::uint32_t GetNameHash(std::u16string_view name, bool caseFold);

class CBase {
 public:
  virtual ~CBase() = default;
};

// Atomic reference count; the maker holds the first reference.
class CRefCounted : public CBase {
 public:
  CRefCounted() = default;
  CRefCounted(const CRefCounted&) = delete;
  CRefCounted& operator=(const CRefCounted&) = delete;

  virtual std::int32_t GetRefCount() const;
  virtual std::int32_t AddRef();
  // The new count; 0 once the object is gone. A count already at 0 or below is a fault of the
  // caller: it is reported and nothing else happens.
  virtual std::int32_t Release();

 protected:
  // Takes one reference off and gives the count before it; gives 0 (after reporting) when there
  // was no reference to take.
  std::int32_t DecrementRef();

  std::atomic<std::int32_t> m_iRefCount{1};
};

// Data that a native module hangs on an object. The object owns it.
class IUserData {
 public:
  virtual ~IUserData() = default;
  // Asked (third place only) when the last reference goes; true keeps the object alive at count 0.
  virtual bool OnLastRelease() { return false; }
};

class CBaseObject : public CRefCounted {
 public:
  static constexpr unsigned kUserDataPlaces = 4;

  CBaseObject() = default;
  ~CBaseObject() override;

  std::int32_t Release() override;
  virtual ReflectedClass* GetReflectedClass() { return m_pReflectedClass; }
  // A new ARGUMENT_OBJECT argument holding this object (with one more reference), null on failure.
  virtual CArgument* CreateArgument();

  void AddWeakReference(WeakReference* holder);
  void RemoveWeakReference(WeakReference* holder);
  std::size_t GetWeakReferenceCount() const { return m_WeakReferences.size(); }

  // Fills the first user-data place; false (and the caller keeps the data) when it is taken.
  bool AddUserData(IUserData* data);
  IUserData* GetUserData(unsigned place) const;
  // Replaces the user data of a place, deleting what stood there.
  void SetUserData(unsigned place, IUserData* data);

  void SetReflectedClass(ReflectedClass* reflectedClass) { m_pReflectedClass = reflectedClass; }
  Pool* GetPool() const { return m_pPool; }
  void SetPool(Pool* pool) { m_pPool = pool; }
  bool IsDestroying() const { return m_bDestroying != 0; }
  // The word a native module keeps in the object (0 until set).
  std::uint32_t GetModuleValue() const { return m_uReserved; }
  void SetModuleValue(std::uint32_t value) { m_uReserved = value; }

 protected:
  std::uint8_t m_bDestroying = 0;
  IUserData* m_pUser = nullptr;
  IUserData* m_pUserData2 = nullptr;
  IUserData* m_pLifetime = nullptr;  // asked by Release before the object goes
  IUserData* m_pUserData4 = nullptr;
  std::unordered_set<WeakReference*> m_WeakReferences;
  Pool* m_pPool = nullptr;
  ReflectedClass* m_pReflectedClass = nullptr;
  std::uint32_t m_uReserved = 0;
};

// An object with a name and the name's hash (case kept).
class Identifiable : public CBaseObject {
 public:
  Identifiable() = default;

  void SetName(std::u16string_view name);
  const std::u16string& GetName() const { return m_Name; }
  std::uint32_t GetNameHashValue() const { return m_uNameHash; }

 protected:
  std::u16string m_Name;
  std::uint32_t m_uNameHash = 0;
};

// Owns one object outright.
template <class T>
class AutoDelete {
 public:
  AutoDelete() = default;
  explicit AutoDelete(T* object) : m_pObject(object) {}
  AutoDelete(const AutoDelete&) = delete;
  AutoDelete& operator=(const AutoDelete&) = delete;
  AutoDelete(AutoDelete&& other) noexcept : m_pObject(other.m_pObject) { other.m_pObject = nullptr; }
  AutoDelete& operator=(AutoDelete&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  ~AutoDelete() { delete m_pObject; }

  AutoDelete& operator=(T* object) {
    Reset(object);
    return *this;
  }
  void Reset(T* object = nullptr) {
    if (object == m_pObject) return;
    T* old = m_pObject;
    m_pObject = object;
    delete old;
  }
  T* Detach() {
    T* object = m_pObject;
    m_pObject = nullptr;
    return object;
  }

  T* Get() const { return m_pObject; }
  T* operator->() const {
    VEXIL_ASSERT(m_pObject);
    return m_pObject;
  }
  explicit operator bool() const { return m_pObject != nullptr; }

 private:
  T* m_pObject = nullptr;
};

}  // namespace Vexil3D
