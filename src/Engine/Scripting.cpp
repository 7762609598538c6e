// The script registry of the resource framework: the "global" namespace and the script engines.
#include <engine/Scripting.h>

#include <engine/CoreLibrary.h>

#include <platform/text.h>

namespace Vexil3D {

namespace {

// Engine names are matched by key with their case kept.
std::uint32_t EngineKey(const char16_t* name) {
  const auto length = static_cast<std::uint32_t>(text::Length(name));
  return GetNameHash(name, length, false);
}

}  // namespace

CScripting::CScripting() : m_Global(u"global") { RegisterCoreLibrary(this); }

CScripting::~CScripting() {
  // Registered natives may belong to an engine's code: the namespace goes first.
  m_Global.Clear();
  m_Engines.clear();
}

bool CScripting::RegisterScriptEngine(const char16_t* name, CScriptEngine* engine) {
  if (!engine) return false;
  m_Engines.push_back(EngineEntry{EngineKey(name), std::unique_ptr<CScriptEngine>(engine)});
  return true;
}

CScriptEngine* CScripting::FindScriptEngine(const char16_t* name) const {
  const std::uint32_t key = EngineKey(name);
  for (const auto& entry : m_Engines)
    if (entry.key == key) return entry.engine.get();
  return nullptr;
}

void CScripting::CollectGarbage() {
  for (const auto& entry : m_Engines) entry.engine->CollectGarbage();
}

}  // namespace Vexil3D
