#pragma once
// The reflection registry: namespaces (CReflection) of functions, values, classes and sub-namespaces,
// reflected classes with their constructor, methods, properties and the clone, move and toString
// functions, and the process-wide last error text of native calls.
//
// Errors: registry look-ups that miss give null and leave their text in the last error text; the
// clone, move and toString operations do the same. Nothing throws.
// Locking: none; the registry and the error text belong to the game's main thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <engine/VexilReference.h>

namespace Vexil3D {

class CBaseObject;
class CFunction;
class CNativeState;
class ReflectedClass;
namespace Interfaces {
class INativeState;
// Detaches the class's module view (which then answers -5) and frees its module callback records.
void OnReflectedClassDestroyed(ReflectedClass* cls);
}

// An engine native: false means an error whose text stands in the last error text.
using NativeFunction = bool (*)(CNativeState* state, int argumentCount, void* user);
// A native of a native module, reached through the module-side view of the state.
using ModuleNativeFunction = bool (*)(Interfaces::INativeState* state, int argumentCount, void* user);

// The last error text holds this many units with its terminator.
constexpr std::size_t kLastErrorCapacity = 1024;

// The error text of the most recent failed native call (empty when none failed since it was cleared).
const char16_t* GetLastErrorText();
// Stores a text cut to kLastErrorCapacity - 1 units, never between the halves of a surrogate pair.
void SetLastErrorText(std::u16string_view text);
void ClearLastErrorText();

// A named callable: functions, methods, constructors and the special functions. The function object
// is counted here; an empty record has none.
struct CallableRecord {
  std::u16string name;
  // The argument types a script call must bring, one letter each, optional ones after "|" ("iii|i").
  std::u16string typeSpec;
  Strong<CFunction> function;
  void* user = nullptr;

  bool IsSet() const { return function.Get() != nullptr; }
  // Calls the function; a record without one fails with "Cannot call %s".
  bool Call(CNativeState* state, int argumentCount) const;
};

struct FunctionEntry {
  bool flag = false;
  CallableRecord callable;
  void* user = nullptr;
};

// Values of a namespace and properties of a class: a getter and, unless read-only, a setter.
struct ValueEntry {
  CallableRecord getter;
  CallableRecord setter;
  std::u16string name;
  std::uint8_t type = 0;  // ArgumentType of the value
  void* user = nullptr;
};
using PropertyEntry = ValueEntry;

struct MethodEntry {
  bool isStatic = false;
  CallableRecord callable;
  void* user = nullptr;
};

class ReflectedClass {
 public:
  ReflectedClass(std::u16string_view name, ReflectedClass* base);
  ReflectedClass(const ReflectedClass&) = delete;
  ReflectedClass& operator=(const ReflectedClass&) = delete;
  ~ReflectedClass();

  const std::u16string& GetName() const { return m_Name; }
  ReflectedClass* GetBaseClass() const { return m_pBaseClass; }

  // The constructor's record is named after the class.
  void SetConstructor(NativeFunction callback, void* user);
  // False when the class already has a member of that name or the callback is null.
  bool RegisterMethod(std::u16string_view name, std::u16string_view typeSpec, NativeFunction callback, void* user,
                      bool isStatic);
  // A null setter makes the property read-only; false as for methods.
  bool RegisterProperty(std::u16string_view name, std::uint8_t type, NativeFunction getter, NativeFunction setter,
                        void* user);
  void SetClone(NativeFunction callback, void* user);
  void SetMove(NativeFunction callback, void* user);
  void SetToString(NativeFunction callback, void* user);

  const CallableRecord& GetConstructor() const { return m_Constructor; }
  const CallableRecord& GetCloneFunction() const { return m_Clone; }
  const CallableRecord& GetMoveFunction() const { return m_Move; }
  const CallableRecord& GetToStringFunction() const { return m_ToString; }
  const MethodEntry* FindMethod(std::u16string_view name) const;
  const PropertyEntry* FindProperty(std::u16string_view name) const;
  std::size_t GetMethodCount() const { return m_Methods.size(); }
  std::size_t GetPropertyCount() const { return m_Properties.size(); }

  // Removes the constructor, the special functions, every method and every property.
  void Clear();

  // A copy made by the object's class's clone function, holding one reference for the caller, or null.
  static CBaseObject* Clone(CBaseObject* object);
  // The destination's class's move function called on the destination with the source.
  static bool Move(CBaseObject* destination, CBaseObject* source);
  // The text of the object's class's toString function in a new buffer (free with delete[]), or null.
  static char16_t* ToString(CBaseObject* object, std::uint32_t* length);

 private:
  enum class MemberKind : std::uint8_t { Method, Property };
  struct MemberRef {
    MemberKind kind;
    std::size_t index;
  };

  [[maybe_unused]] std::uint32_t m_uReserved = 0;
  std::u16string m_Name;
  ReflectedClass* m_pBaseClass;  // not owned
  // Member names to their method or property; refuses a second member of one name.
  std::unordered_map<std::u16string, MemberRef> m_Members;
  CallableRecord m_Constructor;
  CallableRecord m_Clone;
  CallableRecord m_Move;
  CallableRecord m_ToString;
  std::vector<MethodEntry> m_Methods;
  std::vector<PropertyEntry> m_Properties;
};

// True when base is the class itself or is reached by following the class's base links.
bool IsDerivedFrom(const ReflectedClass* cls, const ReflectedClass* base);

// One namespace of the registry. The namespace named "global" also notes the well-known classes
// "Stream", "Matrix4x4", "Vec2" and "Vec3" when they are registered into it.
class CReflection {
 public:
  explicit CReflection(std::u16string_view name);
  CReflection(const CReflection&) = delete;
  CReflection& operator=(const CReflection&) = delete;
  ~CReflection();

  const std::u16string& GetName() const { return m_Name; }

  // Exact, case-sensitive match among the sub-namespaces; a miss stores "Namespace %s not found.".
  CReflection* FindNamespace(std::u16string_view name);
  // Finds or makes the sub-namespace ("Out of memory." and null when it cannot be made).
  CReflection* GetNamespace(std::u16string_view name);

  // False for a null callback. A later entry of a name already used is kept behind the first, which
  // look-ups find.
  bool RegisterFunction(std::u16string_view name, std::u16string_view typeSpec, NativeFunction callback, void* user);
  // A read-only value.
  bool RegisterValue(std::u16string_view name, std::uint8_t type, NativeFunction getter, void* user);
  // A new class owned by the namespace (null when it cannot be made).
  ReflectedClass* RegisterClass(std::u16string_view name, ReflectedClass* base);

  const FunctionEntry* FindFunction(std::u16string_view name) const;
  const ValueEntry* FindValue(std::u16string_view name) const;
  ReflectedClass* FindClass(std::u16string_view name) const;
  std::size_t GetFunctionCount() const { return m_Functions.size(); }
  std::size_t GetValueCount() const { return m_Values.size(); }
  std::size_t GetClassCount() const { return m_Classes.size(); }
  std::size_t GetNamespaceCount() const { return m_Namespaces.size(); }

  // Frees every function, value, class and sub-namespace (each cleared first); forgets noted classes.
  void Clear();

  // The noted classes (not owned here beyond the class list), null until registered.
  ReflectedClass* m_pStreamClass = nullptr;
  ReflectedClass* m_pMatrix4x4Class = nullptr;
  ReflectedClass* m_pVec2Class = nullptr;
  ReflectedClass* m_pVec3Class = nullptr;

 private:
  [[maybe_unused]] std::uint32_t m_uReserved = 0;
  std::u16string m_Name;
  std::vector<std::unique_ptr<FunctionEntry>> m_Functions;
  std::vector<std::unique_ptr<ValueEntry>> m_Values;
  std::vector<std::unique_ptr<ReflectedClass>> m_Classes;
  std::vector<std::unique_ptr<CReflection>> m_Namespaces;
};

}  // namespace Vexil3D
