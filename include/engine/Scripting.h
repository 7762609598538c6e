#pragma once
// The script registry of the resource framework (CScripting): the "global" reflection namespace that
// natives register into, and the registered script engines with their contexts.
//
// Errors: a missing engine is a null result. Ownership: CScripting owns its engines and deletes them
// (after clearing the namespace) when it goes. Locking: none; the game's main thread only.
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <engine/Reflection.h>

namespace Vexil3D {

class CConstantTable;
class CResource;
class Stream;

// One script context of a resource on one engine.
class CScriptContext {
 public:
  virtual ~CScriptContext() = default;
  // Lets go of the context (engines decide whether that deletes it).
  virtual void Release() = 0;
  virtual bool LoadScript(Stream* stream, const char16_t* name) = 0;

  CResource* GetResource() const { return m_pResource; }
  void SetResource(CResource* resource) { m_pResource = resource; }

 protected:
  CResource* m_pResource = nullptr;  // the owning resource, not counted
};

// A script engine that consumes the registry.
class CScriptEngine {
 public:
  virtual ~CScriptEngine() = default;
  virtual void CollectGarbage() = 0;
  // A new context for the resource of that name, or null.
  virtual CScriptContext* CreateContext(const char16_t* name) = 0;
};

class CScripting {
 public:
  CScripting();
  CScripting(const CScripting&) = delete;
  CScripting& operator=(const CScripting&) = delete;
  ~CScripting();

  // Takes ownership of the engine under the key of its name (no case folding); false (the caller keeps
  // the engine) for a null engine.
  bool RegisterScriptEngine(const char16_t* name, CScriptEngine* engine);
  // The first engine registered under the name's key, or null.
  CScriptEngine* FindScriptEngine(const char16_t* name) const;
  std::size_t GetScriptEngineCount() const { return m_Engines.size(); }
  // Each engine's garbage collection, in registration order.
  void CollectGarbage();

  CReflection m_Global;
  // The resource manager's constants, for an engine to publish (not owned; null until handed over).
  const CConstantTable* m_pConstants = nullptr;

 private:
  struct EngineEntry {
    std::uint32_t key;
    std::unique_ptr<CScriptEngine> engine;
  };
  std::vector<EngineEntry> m_Engines;
};

}  // namespace Vexil3D
