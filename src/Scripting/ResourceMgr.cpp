// The resource manager: construction and teardown in order, the resource map, and the resource script
// functions and class.
#include <scripting/ResourceMgr.h>

#include <engine/Stream.h>
#include <platform/text.h>

namespace Vexil3D {

namespace {

constexpr const char16_t* kPlatformName = u"Windows";
constexpr int kFirstArgument = 0;
constexpr int kSecondArgument = 1;
constexpr int kThirdArgument = 2;
constexpr std::int32_t kOneArgument = 1;
constexpr std::int32_t kTwoArguments = 2;
constexpr std::int32_t kSourceIndex = 0;
constexpr const char16_t* kStartEventName = u"OnResourceStart";
constexpr const char16_t* kStopEventName = u"OnResourceStop";

std::uint32_t ResourceKey(const char16_t* name) {
  return GetNameHash(name, static_cast<std::uint32_t>(text::Length(name)), true);
}

CResourceMgr* Manager(void* user) { return static_cast<CResourceMgr*>(user); }

CResource* ThisResource(CNativeState* state, void* user) {
  CBaseObject* object = nullptr;
  return state->GetThis(Manager(user)->GetResourceClass(), &object) ? static_cast<CResource*>(object) : nullptr;
}

bool OptionalBoolean(CNativeState* state, int argumentCount, int i, bool fallback, bool* out) {
  *out = fallback;
  return argumentCount <= i || state->CheckBoolean(i, out);
}

bool PlatformValue(CNativeState* state, int, void*) {
  return state->ReturnString(kPlatformName, static_cast<std::uint32_t>(text::Length(kPlatformName)));
}

bool ThisResourceValue(CNativeState* state, int, void*) { return state->ReturnObject(state->GetResource()); }

bool FindResourceByName(CNativeState* state, int, void* user) {
  const char16_t* name = state->CheckString(kFirstArgument, nullptr);
  return name && state->ReturnObject(Manager(user)->FindResource(name));
}

bool ExportFunction(CNativeState* state, int, void*) {
  const char16_t* name = state->CheckString(kFirstArgument, nullptr);
  if (!name) return false;
  CFunction* function = state->CheckFunction(kSecondArgument);
  if (!function) return false;
  if (CResource* resource = state->GetResource())
    resource->GetExports().Set(name, new CArgumentFunction(function));
  return true;
}

bool OpenFileNative(CNativeState* state, int argumentCount, void*) {
  const char16_t* path = state->CheckString(kFirstArgument, nullptr);
  bool write = false;
  if (!path || !OptionalBoolean(state, argumentCount, kSecondArgument, false, &write)) return false;
  CResource* resource = state->GetResource();
  Strong<Stream> stream;
  if (resource) stream.Attach(resource->OpenFile(path, write));
  return state->ReturnStream(stream.Get());
}

bool CreateFileNative(CNativeState* state, int, void*) {
  const char16_t* path = state->CheckString(kFirstArgument, nullptr);
  if (!path) return false;
  CResource* resource = state->GetResource();
  Strong<Stream> stream;
  if (resource) stream.Attach(resource->CreateFile(path));
  return state->ReturnStream(stream.Get());
}

bool FileExistsNative(CNativeState* state, int argumentCount, void*) {
  const char16_t* path = state->CheckString(kFirstArgument, nullptr);
  bool files = true;
  bool directories = true;
  if (!path || !OptionalBoolean(state, argumentCount, kSecondArgument, true, &files) ||
      !OptionalBoolean(state, argumentCount, kThirdArgument, true, &directories))
    return false;
  CResource* resource = state->GetResource();
  return state->ReturnBoolean(resource && resource->FileExists(path, files, directories));
}

bool LoadTextFile(CNativeState* state, int, void*) {
  const char16_t* path = state->CheckString(kFirstArgument, nullptr);
  if (!path) return false;
  CResource* resource = state->GetResource();
  Strong<Stream> stream;
  if (resource) stream.Attach(resource->OpenFile(path, false));
  if (!stream) return state->ReturnObject(nullptr);
  CTextReader reader(stream.Get());
  std::uint32_t length = 0;
  const char16_t* text = reader.GetText(&length);
  return text ? state->ReturnString(text, length) : state->ReturnObject(nullptr);
}

bool SaveTextFile(CNativeState* state, int, void*) {
  const char16_t* path = state->CheckString(kFirstArgument, nullptr);
  if (!path) return false;
  std::uint32_t length = 0;
  const char16_t* text = state->CheckString(kSecondArgument, &length);
  if (!text) return false;
  CResource* resource = state->GetResource();
  Strong<Stream> stream;
  if (resource) stream.Attach(resource->CreateFile(path));
  if (!stream) return state->ReturnObject(nullptr);
  CTextWriter writer(stream.Get());
  return state->ReturnBoolean(writer.Write(text, length));
}

bool ResourceName(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnString(resource->GetName().c_str(),
                                         static_cast<std::uint32_t>(resource->GetName().size()));
}

bool ResourceIsStarted(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnBoolean(resource->IsRunning());
}

bool ResourceIsStarting(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnBoolean(resource->IsStarting());
}

bool ResourceExports(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  if (!resource) return false;
  CArgument* copy = resource->GetExports().Clone();
  return copy ? state->GetResults().Adopt(copy) : state->GetResults().AppendNil();
}

bool ResourceStart(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnBoolean(resource->Start());
}

bool ResourceStop(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnBoolean(resource->Stop(false));
}

bool ResourceRestart(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  return resource && state->ReturnBoolean(resource->Restart());
}

bool ResourceGetExport(CNativeState* state, int, void* user) {
  CResource* resource = ThisResource(state, user);
  const char16_t* name = resource ? state->CheckString(kFirstArgument, nullptr) : nullptr;
  if (!name) return false;
  CArgument* value = resource->GetExports().Find(name);
  return value ? state->GetResults().Append(value) : state->GetResults().AppendNil();
}

}  // namespace

bool CResourceMgr::GetResourcesNative(CNativeState* state, int, void* user) {
  auto* array = new CArgumentArray();
  for (const auto& [key, resource] : Manager(user)->m_Resources) array->AppendObject(resource);
  return state->GetResults().Adopt(array);
}

CResourceMgr::CResourceMgr(Context* context) : m_pContext(context) {
  m_Resources.max_load_factor(1.0f);
  m_pScripting = std::make_unique<CScripting>();
  m_pEvents = std::make_unique<EventHandlers::CEventMgr>(this, m_pScripting.get());
  m_pCommands = std::make_unique<CCommandMgr>(this, m_pScripting.get());
  m_pTimers = std::make_unique<TimerHandlers::CTimerMgr>(this, m_pScripting.get());
  m_pKeyBinds = std::make_unique<CKeyBinds>(this, m_pScripting.get());
  m_pXml = std::make_unique<CXmlClasses>(this, m_pScripting.get());
  RegisterFunctions();
  m_pScripting->m_pConstants = &m_Constants;
  RegisterConstants();
  m_pEvents->CreateEventType(kStartEventName, u"Called when a resource starts", kOneArgument, true)
      ->SetBindableIndex(kSourceIndex);
  m_pEvents->CreateEventType(kStopEventName, u"Called when a resource stops", kTwoArguments, true)
      ->SetBindableIndex(kSourceIndex);
}

// The table owns its types and a clear deletes them: a pointer kept from the constructor would dangle.
EventHandlers::CEventType* CResourceMgr::GetStartEvent() const {
  return m_pEvents ? m_pEvents->FindEventType(kStartEventName) : nullptr;
}

EventHandlers::CEventType* CResourceMgr::GetStopEvent() const {
  return m_pEvents ? m_pEvents->FindEventType(kStopEventName) : nullptr;
}

CResourceMgr::~CResourceMgr() {
  StopAllResources();
  for (const NativeModule& entry : m_Modules) {
    auto unregister = reinterpret_cast<UnregisterModuleFunction>(GetProcAddress(entry.module, "UnregisterModule"));
    if (unregister) unregister(entry.context);
  }
  // Functions held by handlers, timers and binds, and user data of objects, may be module code: the
  // modules stay mapped until all of those are gone.
  m_pEvents.reset();
  m_pCommands.reset();
  m_pTimers.reset();
  m_pKeyBinds.reset();
  m_pXml.reset();
  m_pScripting.reset();
  for (const NativeModule& entry : m_Modules) FreeLibrary(entry.module);
  m_Modules.clear();
}

CResource* CResourceMgr::CreateResource(const char16_t* name) { return new CResource(this, name ? name : u""); }

void CResourceMgr::OnNotify(void*) {}

void CResourceMgr::OnResourceStop(CResource*) {}

bool CResourceMgr::LoadElementChunk(CElementChunk*, CResource*) { return true; }

bool CResourceMgr::AddResource(CResource* resource) {
  if (!resource) return false;
  const std::uint32_t key = ResourceKey(resource->GetName().c_str());
  if (m_Resources.count(key)) return false;
  resource->AddRef();
  m_Resources.emplace(key, resource);
  return true;
}

CResource* CResourceMgr::FindResource(const char16_t* name) const {
  auto it = m_Resources.find(ResourceKey(name));
  return it != m_Resources.end() ? it->second : nullptr;
}

void CResourceMgr::StopAllResources() {
  // Stop handlers may call back into the map (even stop everything again): walk a map taken out first.
  std::unordered_map<std::uint32_t, CResource*> resources;
  resources.swap(m_Resources);
  for (auto& [key, resource] : resources)
    if (resource->IsRunning()) resource->Stop(false);
  // Only once every stop has run: a resource still to be stopped may be held by a dependency list alone.
  for (auto& [key, resource] : resources) {
    resource->ClearDependencies();
    resource->Release();
  }
  if (m_pScripting) m_pScripting->CollectGarbage();
}

void CResourceMgr::ForgetResource(CResource* resource, bool unbind) {
  // A resource kept by an object of a table may go while the manager's teardown destroys that table.
  if (unbind && m_pEvents) m_pEvents->UnbindObjectHandlers(resource);
  OnResourceStop(resource);
  if (m_pEvents) m_pEvents->RemoveResourceHandlers(resource);
  if (m_pCommands) m_pCommands->RemoveResourceHandlers(resource);
  if (m_pTimers) m_pTimers->RemoveResourceTimers(resource);
  if (m_pKeyBinds) m_pKeyBinds->RemoveResourceBinds(resource);
}

void CResourceMgr::AddNativeModule(HMODULE module, void* context) { m_Modules.push_back({0, module, context}); }

void CResourceMgr::RegisterFunctions() {
  CReflection& global = m_pScripting->m_Global;
  global.RegisterValue(u"platform", ARGUMENT_STRING, &PlatformValue, this);
  global.RegisterValue(u"thisResource", ARGUMENT_OBJECT, &ThisResourceValue, this);
  global.RegisterFunction(u"findResourceByName", u"s", &FindResourceByName, this);
  global.RegisterFunction(u"getResources", u"", &GetResourcesNative, this);
  global.RegisterFunction(u"exportFunction", u"sc", &ExportFunction, this);
  global.RegisterFunction(u"openFile", u"s|b", &OpenFileNative, this);
  global.RegisterFunction(u"createFile", u"s", &CreateFileNative, this);
  global.RegisterFunction(u"fileExists", u"s|bb", &FileExistsNative, this);
  global.RegisterFunction(u"loadTextFile", u"s", &LoadTextFile, this);
  global.RegisterFunction(u"saveTextFile", u"ss", &SaveTextFile, this);
  m_pResourceClass = global.RegisterClass(u"Resource", nullptr);
  if (!m_pResourceClass) return;
  ReflectedClass& cls = *m_pResourceClass;
  cls.RegisterProperty(u"name", ARGUMENT_STRING, &ResourceName, nullptr, this);
  cls.RegisterProperty(u"isStarted", ARGUMENT_BOOLEAN, &ResourceIsStarted, nullptr, this);
  cls.RegisterProperty(u"isStarting", ARGUMENT_BOOLEAN, &ResourceIsStarting, nullptr, this);
  cls.RegisterProperty(u"exports", ARGUMENT_MAP, &ResourceExports, nullptr, this);
  cls.RegisterMethod(u"start", u"t", &ResourceStart, this, false);
  cls.RegisterMethod(u"stop", u"t", &ResourceStop, this, false);
  cls.RegisterMethod(u"restart", u"t", &ResourceRestart, this, false);
  cls.RegisterMethod(u"getExport", u"ts", &ResourceGetExport, this, false);
}

void CResourceMgr::RegisterConstants() { RegisterScriptConstants(m_Constants); }

}  // namespace Vexil3D
