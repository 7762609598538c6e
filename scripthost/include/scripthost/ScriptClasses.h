#pragma once
// The script classes of events and math: EventType and Event with the natives of Engine.EventSystem, Vector1D
// to Vector4D, and Matrix4x4 with its four row views; the registrations the host runs for them.
//
// Errors: natives raise Squirrel errors (sq_throwerror) and return a negative result; natives never throw.
// Ownership: new objects start with one reference, which the native drops once their script instance holds
// them; a row view counts on its matrix, so a script that holds a row keeps the whole matrix.
// Locking: none; the game's main thread alone runs scripts.
#include <cstdint>

#include <squirrel.h>

#include <scripthost/Referenceable.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/ScriptMath.h>

// The native object of a VectorND script instance.
template <std::uint32_t N>
using tScriptVector = tSquirrelReleasableReferenceableValue<tVector<float, N>>;

class tScriptMatrix4x4 : public tSquirrelReleasableReferenceableValue<tMatrix4x4<float>> {
 public:
  using tRowView = tSquirrelReferenceableReleasableMemberValue<tVector4D<float>>;

  // Elements unset (zero); the row views carry the Vector4D binding.
  tScriptMatrix4x4(CClassBinding* matrix, CClassBinding* vector4);
  tRowView& Row(std::uint32_t row) { return m_rows[row]; }

 private:
  tRowView m_rows[tMatrix4x4<float>::kRows];
};

// The components behind a bound vector object (any of the four classes, or a row view); null for an object of
// another class. At least as many components as the class the object was checked against.
float* VectorComponents(CScriptHost* host, tSquirrelReferenceable* object);

// With Engine.EventSystem on the stack top: GetEventType, AddEventType, RemoveEventType, IsEventTypeAdded.
// RemoveEventType of a type added twice removes one entry; the other keeps the type registered and found
// (CEventTypeRegistry::Remove).
void RegisterEventSystem(HSQUIRRELVM v);
// With Engine on the stack top, which stays: the EventType and Event classes, then Vector1D to Vector4D, then
// Matrix4x4, each with its binding in the host. EventType.AddHandler called while no environment runs (a
// closure called from native code outside every environment) is refused with kNoEnvironmentMessage: a handler
// belongs to the environment that added it and has no other place to run.
void RegisterEventClasses(CScriptHost* host, HSQUIRRELVM v);
void RegisterVectorClasses(CScriptHost* host, HSQUIRRELVM v);
void RegisterMatrixClass(CScriptHost* host, HSQUIRRELVM v);

// Texts of the natives.
extern const SQChar kNotANumberMessage[];
extern const SQChar kNoEnvironmentMessage[];
