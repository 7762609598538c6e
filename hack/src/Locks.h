#pragma once
// Scoped holds on the patch framework's two locks, shared by patching and
// event dispatch so that both take and leave them the same way. Where both are
// needed, the registry's is taken before a module's.
#include <hack/ModuleRegistry.h>

namespace hack_locks {

class ModuleLock {
 public:
  explicit ModuleLock(tHackModule* module) : m_pModule(module) { EnterCriticalSection(&module->m_Lock); }
  ~ModuleLock() { LeaveCriticalSection(&m_pModule->m_Lock); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;

 private:
  tHackModule* m_pModule;
};

class RegistryLock {
 public:
  RegistryLock() { LockHackRegistry(); }
  ~RegistryLock() { UnlockHackRegistry(); }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;
};

}  // namespace hack_locks
