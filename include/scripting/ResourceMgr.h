#pragma once
// The root of the engine's scripting framework: the resource manager owns the script registry, the event,
// command, timer and key-bind tables, the constants, the XML classes and the named resources, and unloads
// the native modules registered with it.
//
// Errors: refusals are false or null results; resource start and stop log their lines.
// Ownership: the manager holds one reference on each resource of its map and owns every table. Teardown
// calls each module's "UnregisterModule" first, but frees the modules only after the tables, the registry
// and the engines are gone, since their objects may still call module code. Locking: none; the game's main
// thread only.
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include <engine/Context.h>
#include <engine/HBFChunk.h>
#include <engine/Scripting.h>
#include <platform/modules.h>
#include <scripting/CommandMgr.h>
#include <scripting/Constants.h>
#include <scripting/EventHandlers.h>
#include <scripting/KeyBinds.h>
#include <scripting/Resource.h>
#include <scripting/TimerMgr.h>
#include <scripting/XmlDocument.h>

namespace Vexil3D {

class CResourceMgr {
 public:
  // The module's "UnregisterModule" export, called with its context.
  using UnregisterModuleFunction = void (*)(void* context);

  explicit CResourceMgr(Context* context);
  CResourceMgr(const CResourceMgr&) = delete;
  CResourceMgr& operator=(const CResourceMgr&) = delete;
  virtual ~CResourceMgr();

  // A new resource holding one reference for the caller (who adds it to the map).
  virtual CResource* CreateResource(const char16_t* name);
  virtual void OnNotify(void* value);
  // Called by a resource's stop and end.
  virtual void OnResourceStop(CResource* resource);
  // Each element file of a starting resource; true goes on.
  virtual bool LoadElementChunk(CElementChunk* chunk, CResource* resource);

  // Adds the resource under its name's key (taking a reference); false when the key is taken.
  bool AddResource(CResource* resource);
  CResource* FindResource(const char16_t* name) const;
  // Stops each running resource, then drops every resource with its dependency list (so that resources
  // that depend on each other go too), then collects the engines' garbage.
  void StopAllResources();
  std::size_t GetResourceCount() const { return m_Resources.size(); }

  // Tells OnResourceStop and drops the resource's handlers, commands, timers and binds (and, when unbind is
  // set, the event handlers bound to it as an object) from the tables that still exist.
  void ForgetResource(CResource* resource, bool unbind);

  // A loaded module to unload at teardown (no loader exists in the program).
  void AddNativeModule(HMODULE module, void* context);

  Context* GetContext() const { return m_pContext; }
  CScripting& GetScripting() { return *m_pScripting; }
  EventHandlers::CEventMgr& GetEvents() { return *m_pEvents; }
  CCommandMgr& GetCommands() { return *m_pCommands; }
  const CConstantTable& GetConstants() const { return m_Constants; }
  TimerHandlers::CTimerMgr& GetTimers() { return *m_pTimers; }
  CKeyBinds& GetKeyBinds() { return *m_pKeyBinds; }
  CXmlClasses& GetXmlClasses() { return *m_pXml; }
  ReflectedClass* GetResourceClass() const { return m_pResourceClass; }
  // The types "OnResourceStart" and "OnResourceStop" as the event table holds them now, looked up by name
  // each time: null after the table was cleared, a script's own type once it declared that name again.
  EventHandlers::CEventType* GetStartEvent() const;
  EventHandlers::CEventType* GetStopEvent() const;
  bool GetLoadSecondList() const { return m_bSecondList; }
  void SetLoadSecondList(bool second) { m_bSecondList = second; }

 protected:
  // platform, thisResource, findResourceByName, getResources, exportFunction, openFile, createFile,
  // fileExists, loadTextFile and saveTextFile, with the class Resource. exportFunction's mask is "sc" (the
  // name and the function it reads) where a bare "c" would refuse the name. The file functions and
  // exportFunction act for the calling resource only: a caller with no resource gets null or false (and
  // nothing is exported), since no resource's folder and rights stand behind its paths.
  void RegisterFunctions();
  void RegisterConstants();

 private:
  static bool GetResourcesNative(CNativeState* state, int argumentCount, void* user);

  struct NativeModule {
    std::uint32_t word;
    HMODULE module;
    void* context;
  };

  Context* m_pContext;
  std::unique_ptr<CScripting> m_pScripting;
  std::unique_ptr<EventHandlers::CEventMgr> m_pEvents;
  std::unique_ptr<CCommandMgr> m_pCommands;
  CConstantTable m_Constants;
  std::unique_ptr<TimerHandlers::CTimerMgr> m_pTimers;
  std::unique_ptr<CKeyBinds> m_pKeyBinds;
  std::unique_ptr<CXmlClasses> m_pXml;
  ReflectedClass* m_pResourceClass = nullptr;                 // owned by the registry
  std::unordered_map<std::uint32_t, CResource*> m_Resources;  // one reference each
  std::vector<NativeModule> m_Modules;
  bool m_bSecondList = false;
};

}  // namespace Vexil3D
