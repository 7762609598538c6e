// The module registry and the event bus: registration, Init and Unload, raising events.
#include <hack/ModuleRegistry.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <hack/Hacks.h>
#include <hack/Messages.h>
#include <platform/modules.h>
#include <platform/text.h>

#include "../testing/include/hack/testing/RegistryReset.h"
#include "Locks.h"

std::uint32_t g_ModuleEventBlocks[MODULEEVENT_COUNT] = {};

namespace {

struct Registry {
  CRITICAL_SECTION lock;
  tList modules;                            // tHackModule*, in creation order
  tList subscribers[MODULEEVENT_COUNT];     // tHackModule* (null: dropped, awaiting unlink)
  std::uint32_t walkDepth[MODULEEVENT_COUNT] = {};
  bool dropsPending[MODULEEVENT_COUNT] = {};

  Registry() { InitializeCriticalSection(&lock); }
};

Registry& TheRegistry() {
  // Never destroyed: hooks and exit-time code may still raise events.
  static Registry* registry = new Registry;
  return *registry;
}

using hack_locks::ModuleLock;
using hack_locks::RegistryLock;

// A subscription that is dropped while its event is being walked (a handler
// may raise the same event again: window messages do) must stay linked until
// the outermost walk is over, or that walk would step through a freed node.
void DropSubscription(Registry& registry, std::uint32_t event, ListNode* node) {
  node->m_pRecord = nullptr;
  if (registry.walkDepth[event] == 0) {
    ListNode::Remove(node);
  } else {
    registry.dropsPending[event] = true;
  }
}

void UnlinkDroppedSubscriptions(Registry& registry, std::uint32_t event) {
  registry.dropsPending[event] = false;
  ListNode* node = registry.subscribers[event].m_pHead;
  while (node != nullptr) {
    ListNode* next = node->m_pNext;
    if (node->m_pRecord == nullptr) ListNode::Remove(node);
    node = next;
  }
}

void DestroyHacks(tHackModule* module) {
  while (module->m_Hacks.m_pTail != nullptr) {
    delete static_cast<CHackHack*>(module->m_Hacks.m_pTail->m_pRecord);
  }
}

bool IsCore(Registry& registry, const tHackModule* module) {
  return registry.modules.m_pHead != nullptr && registry.modules.m_pHead->m_pRecord == module;
}

}  // namespace

tHackModule::tHackModule()
    : m_Path{}, m_hModule(nullptr), m_FreeLibraryOnUnload(0), m_Name{}, m_pHandler(nullptr), m_Busy{},
      m_pSubscription{} {
  InitializeCriticalSection(&m_Lock);
}

tHackModule::~tHackModule() { DeleteCriticalSection(&m_Lock); }

void LockHackRegistry() { EnterCriticalSection(&TheRegistry().lock); }
void UnlockHackRegistry() { LeaveCriticalSection(&TheRegistry().lock); }

tHackModule* CreateHackModule(const char16_t* path, const char16_t* name) {
  Registry& registry = TheRegistry();
  RegistryLock registryLock;
  tHackModule* module = new tHackModule;
  {
    ModuleLock lock(module);
    text::Copy(module->m_Path, std::size(module->m_Path), path != nullptr ? path : u"");
    text::Copy(module->m_Name, std::size(module->m_Name), name != nullptr ? name : u"");
  }
  registry.modules.Append(module);
  return module;
}

std::uint32_t GetHackModules(tHackModule** records, std::uint32_t capacity) {
  Registry& registry = TheRegistry();
  RegistryLock registryLock;
  std::uint32_t count = 0;
  for (ListNode* node = registry.modules.m_pHead; node != nullptr; node = node->m_pNext, ++count) {
    if (count < capacity) records[count] = static_cast<tHackModule*>(node->m_pRecord);
  }
  return count;
}

std::uint32_t RaiseModuleEvent(std::uint32_t event, ModuleEventData* data) {
  if (event >= MODULEEVENT_COUNT) return 0;
  if (g_ModuleEventBlocks[event] > 0) return MODULEREPLY_BLOCKED;

  Registry& registry = TheRegistry();
  ++registry.walkDepth[event];
  std::uint32_t result = 0;
  for (ListNode* node = registry.subscribers[event].m_pTail; node != nullptr; node = node->m_pPrevious) {
    auto* module = static_cast<tHackModule*>(node->m_pRecord);
    if (module == nullptr || module->m_Busy[event] > 0 || module->m_hModule == nullptr ||
        module->m_pHandler == nullptr) {
      continue;
    }
    const std::uint32_t reply = module->m_pHandler(event, data);
    if (reply & MODULEREPLY_HANDLED) {
      result |= reply;
      if (reply & MODULEREPLY_UNLOAD) UnloadHackModule(module);
      if (reply & MODULEREPLY_STOP) break;
    } else if (node->m_pRecord != nullptr) {
      module->m_pSubscription[event] = nullptr;
      DropSubscription(registry, event, node);
    }
  }
  if (--registry.walkDepth[event] == 0 && registry.dropsPending[event]) UnlinkDroppedSubscriptions(registry, event);
  return result;
}

std::uint32_t RegisterHackModule(tHackModule* module, HMODULE handle, bool freeLibraryOnUnload,
                                 ModuleHandler handler) {
  Registry& registry = TheRegistry();
  // The registry lock comes first: an Init that installs a patch takes it
  // while this module's lock is held, and a patch made on another thread takes
  // the two the other way round.
  RegistryLock registryLock;
  ModuleLock lock(module);
  module->m_hModule = handle;
  module->m_FreeLibraryOnUnload = freeLibraryOnUnload ? 1 : 0;
  module->m_pHandler = handler;
  for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) {
    module->m_Busy[event] = 0;
    // A record registered a second time must not stay subscribed twice.
    if (module->m_pSubscription[event] != nullptr) DropSubscription(registry, event, module->m_pSubscription[event]);
    module->m_pSubscription[event] = nullptr;
  }

  std::uint32_t reply = MODULEREPLY_UNLOADNOW;
  if (handler != nullptr) {
    ModuleInitData init{};
    init.size = sizeof(ModuleInitData);
    init.module = module;
    std::memcpy(init.magic, "KAVO", 4);
    init.major = 1;
    init.minor = 0;
    init.build = 12;
    init.revision = 0;
    reply = handler(MODULEEVENT_INIT, &init);
  }

  if (!ReplyHolds(reply, MODULEREPLY_UNLOADNOW) && !ReplyHolds(reply, MODULEREPLY_SKIP)) {
    for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) {
      module->m_pSubscription[event] = registry.subscribers[event].Append(module);
    }
    return reply;
  }

  if (ReplyHolds(reply, MODULEREPLY_NOTCOMPATIBLE)) {
    char16_t message[256];
    text::Format(message, std::size(message),
                 u"The hack \"%s\" is not compatible with this version of Quorvant Mod Launcher.", module->m_Name);
    ShowErrorMessage(message);
  }
  // Whatever the refused Init had patched goes back.
  DestroyHacks(module);
  module->m_hModule = nullptr;
  module->m_pHandler = nullptr;
  return reply;
}

namespace {

// The table handed down; read only before the game runs and at module loading.
const tBuiltInModule* g_BuiltInModules = nullptr;
std::size_t g_BuiltInModuleCount = 0;

}  // namespace

void SetBuiltInModules(const tBuiltInModule* modules, std::size_t count) {
  g_BuiltInModules = modules;
  g_BuiltInModuleCount = modules != nullptr ? count : 0;
}

ModuleHandler FindBuiltInHandler(const char16_t* name) {
  if (name == nullptr) return nullptr;
  for (std::size_t i = 0; i < g_BuiltInModuleCount; ++i) {
    const tBuiltInModule& builtIn = g_BuiltInModules[i];
    if (builtIn.name != nullptr && text::CompareNoCase(name, builtIn.name) == 0) return builtIn.handler;
  }
  return nullptr;
}

std::uint32_t RegisterBuiltInModule(tHackModule* module, HMODULE handle) {
  ModuleHandler handler;
  {
    ModuleLock lock(module);
    handler = FindBuiltInHandler(module->m_Name);
  }
  if (handler != nullptr) {
    // One handler serves one record: a second record of the same name would
    // have the same code initialised and later unloaded twice.
    Registry& registry = TheRegistry();
    RegistryLock registryLock;
    for (ListNode* node = registry.modules.m_pHead; node != nullptr; node = node->m_pNext) {
      auto* other = static_cast<tHackModule*>(node->m_pRecord);
      if (other != module && other->m_hModule != nullptr && other->m_pHandler == handler) {
        return MODULEREPLY_UNLOADNOW;
      }
    }
    return RegisterHackModule(module, handle, true, handler);
  }
  return RegisterHackModule(module, handle, true, nullptr);
}

std::uint32_t UnloadHackModule(tHackModule* module) {
  if (module == nullptr) return 0;
  RegistryLock registryLock;  // before the module's lock, as in RegisterHackModule
  ModuleLock lock(module);
  // A record that is not loaded has nothing to unload (and no handler to call).
  if (module->m_hModule == nullptr || module->m_pHandler == nullptr) return 0;
  const std::uint32_t reply = module->m_pHandler(MODULEEVENT_UNLOAD, nullptr);
  if (ReplyHolds(reply, MODULEREPLY_SKIP)) {
    LogConsole("BRINDLECORE: Failed to unload hack \"%s\"\n", text::Utf16ToUtf8(module->m_Name).c_str());
    return reply;
  }
  DestroyHacks(module);
  if (module->m_FreeLibraryOnUnload) FreeLibrary(module->m_hModule);
  module->m_hModule = nullptr;
  module->m_pHandler = nullptr;
  return reply;
}

void UnloadAllHackModules() {
  Registry& registry = TheRegistry();
  RegistryLock registryLock;
  for (ListNode* node = registry.modules.m_pTail; node != nullptr; node = node->m_pPrevious) {
    auto* module = static_cast<tHackModule*>(node->m_pRecord);
    if (IsCore(registry, module) || module->m_hModule == nullptr) continue;
    UnloadHackModule(module);
  }
}

std::uint32_t CountModuleSubscribers(std::uint32_t event) {
  if (event >= MODULEEVENT_COUNT) return 0;
  std::uint32_t count = 0;
  for (ListNode* node = TheRegistry().subscribers[event].m_pHead; node != nullptr; node = node->m_pNext) {
    if (node->m_pRecord != nullptr) ++count;
  }
  return count;
}

namespace hack::testing {

void ResetHackRegistry() {
  Registry& registry = TheRegistry();
  RegistryLock registryLock;
  for (std::uint32_t event = 0; event < MODULEEVENT_COUNT; ++event) {
    registry.subscribers[event].Clear();
    registry.walkDepth[event] = 0;
    registry.dropsPending[event] = false;
    g_ModuleEventBlocks[event] = 0;
  }
  while (registry.modules.m_pTail != nullptr) {
    auto* module = static_cast<tHackModule*>(registry.modules.m_pTail->m_pRecord);
    DestroyHacks(module);
    ListNode::Remove(registry.modules.m_pTail);
    delete module;
  }
}

void UnloadAndResetHackRegistry() {
  std::vector<tHackModule*> records(GetHackModules(nullptr, 0));
  records.resize(std::min<std::size_t>(records.size(), GetHackModules(records.data(), std::uint32_t(records.size()))));
  for (auto record = records.rbegin(); record != records.rend(); ++record) UnloadHackModule(*record);
  ResetHackRegistry();
}

}  // namespace hack::testing
