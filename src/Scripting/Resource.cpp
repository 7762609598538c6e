// Resources: start, stop and restart with their log lines, file lists, the archive and file access.
#include <scripting/Resource.h>

#include <engine/Context.h>
#include <engine/FileSystem.h>
#include <engine/Scripting.h>
#include <engine/Stream.h>
#include <engine/Tar.h>
#include <scripting/ResourceMgr.h>

namespace Vexil3D {

namespace {

constexpr char16_t kRoot = u'/';

bool Climbs(std::u16string_view path) { return path.find(u"..") != std::u16string_view::npos; }
bool Rooted(std::u16string_view path) { return !path.empty() && path.front() == kRoot; }

CFileSystem* FileSystemOf(CResourceMgr* manager) {
  Context* context = manager ? manager->GetContext() : nullptr;
  return context ? context->GetFileSystem() : nullptr;
}

}  // namespace

namespace {
constexpr DWORD kLoaderLockSpins = 2000;
}  // namespace

CResource::CResource(CResourceMgr* manager, std::u16string_view name) : m_pManager(manager), m_Name(name) {
  InitializeCriticalSectionAndSpinCount(&m_LoaderLock, kLoaderLockSpins);
}

CResource::~CResource() {
  FreeFiles();
  if (m_pManager) m_pManager->ForgetResource(this, true);
  ReleaseContexts();
  UnmountArchive();
  m_pLoader.reset();
  DeleteCriticalSection(&m_LoaderLock);
}

void CResource::SetLoader(CAsyncFileLoader* loader) {
  std::unique_ptr<CAsyncFileLoader> old;
  EnterCriticalSection(&m_LoaderLock);
  old = std::move(m_pLoader);
  m_pLoader.reset(loader);
  LeaveCriticalSection(&m_LoaderLock);
}

Stream* CResource::OpenLoaderSlot(std::u16string_view path) {
  EnterCriticalSection(&m_LoaderLock);
  const std::uint32_t slot = m_pLoader ? m_pLoader->FindSlot(path) : UINT32_MAX;
  Stream* stream = slot != UINT32_MAX ? m_pLoader->GetStream(slot) : nullptr;
  LeaveCriticalSection(&m_LoaderLock);
  return stream;
}

bool CResource::HasLoaderSlot(std::u16string_view path) {
  EnterCriticalSection(&m_LoaderLock);
  const bool found = m_pLoader && m_pLoader->FindSlot(path) != UINT32_MAX;
  LeaveCriticalSection(&m_LoaderLock);
  return found;
}

ReflectedClass* CResource::GetReflectedClass() { return m_pManager ? m_pManager->GetResourceClass() : nullptr; }

void CResource::AddDependency(CResource* resource) {
  if (resource && resource != this) m_Dependencies.emplace_back(resource);
}

void CResource::ClearDependencies() {
  // Taken out first: releasing one may destroy resources whose teardown reaches this list.
  std::vector<Strong<CResource>> going;
  going.swap(m_Dependencies);
}

void CResource::AddFile(bool secondList, std::uint32_t type, std::u16string_view name, std::vector<std::uint8_t> data) {
  m_Files[secondList ? 1 : 0].push_back(FileRecord{type, std::u16string(name), std::move(data)});
}

bool CResource::Start() {
  const char16_t* name = m_Name.c_str();
  LogF(LOG_INFO, u"START: Starting resource %s...", name);
  if (m_bStarting) {
    LogF(LOG_WARN, u"START: Resource %s already starting!", name);
    return false;
  }
  if (m_bRunning) {
    LogF(LOG_WARN, u"START: Resource %s already running!", name);
    return false;
  }
  // A start handler (this resource's, or a dependency's) may stop every resource, which releases the
  // manager's reference and empties the dependency lists: the resource and the list walked are held here.
  Strong<CResource> self(this);
  const std::vector<Strong<CResource>> dependencies = m_Dependencies;
  m_bStarting = true;
  for (const auto& dependency : dependencies) {
    if (dependency->IsStarting() || dependency->IsRunning()) continue;
    if (!dependency->Start()) {
      LogF(LOG_ERROR, u"START: Failed to start dependant resources for %s!", name);
      m_bStarting = false;
      return false;
    }
  }
  if (m_pManager) {
    for (std::size_t i = 0; i < kEngineCount; ++i) {
      CScriptEngine* engine = m_pManager->GetScripting().FindScriptEngine(kEngineNames[i]);
      m_pContexts[i] = engine ? engine->CreateContext(name) : nullptr;
      if (m_pContexts[i]) m_pContexts[i]->SetResource(this);
    }
  }
  m_bRunning = true;
  bool started = LoadFiles(m_pManager && m_pManager->GetLoadSecondList());
  if (started && m_pManager) {
    Strong<CArgumentArray> arguments;
    arguments.Attach(new CArgumentArray());
    arguments->AppendObject(this);
    bool prevented = false;
    if (EventHandlers::CEventType* type = m_pManager->GetStartEvent()) type->Trigger(arguments.Get(), &prevented);
    // A start handler that stopped the resource has failed the start as surely as one that prevented it.
    started = !prevented && m_bRunning;
  }
  if (!started) {
    LogF(LOG_ERROR, u"START: Resource %s failed to load!", name);
    if (m_bRunning) StopRunning(false, true);
    m_bStarting = false;
    return false;
  }
  LogF(LOG_INFO, u"START: Resource %s started.", name);
  m_bStarting = false;
  return true;
}

bool CResource::Stop(bool restarting) { return StopRunning(restarting, false); }

bool CResource::StopRunning(bool restarting, bool force) {
  // A stop handler that stops this resource again (itself, or through another resource's handler)
  // would trigger the handlers without end.
  if (m_bStopping) return false;
  const char16_t* name = m_Name.c_str();
  LogF(LOG_INFO, u"STOP: Stopping resource %s...", name);
  if (!m_bRunning) {
    LogF(LOG_WARN, u"STOP: Resource %s already stopped!", name);
    return false;
  }
  // The stop handlers may release the last outside reference.
  Strong<CResource> self(this);
  if (m_pManager) {
    Strong<CArgumentArray> arguments;
    arguments.Attach(new CArgumentArray());
    arguments->AppendObject(this);
    arguments->AppendBoolean(restarting);
    bool prevented = false;
    m_bStopping = true;
    if (EventHandlers::CEventType* type = m_pManager->GetStopEvent()) type->Trigger(arguments.Get(), &prevented);
    m_bStopping = false;
    if (prevented && !force) {
      LogF(LOG_ERROR, u"STOP: Resource %s failed to stop!", name);
      return false;
    }
    if (prevented) LogF(LOG_WARN, u"STOP: Resource %s failed to start and cannot be kept running.", name);
    if (!m_bRunning) return true;  // a stop handler stopped it meanwhile
    m_pManager->ForgetResource(this, false);
  }
  ReleaseContexts();
  UnmountArchive();
  m_bRunning = false;
  LogF(LOG_INFO, u"STOP: Resource %s stopped.", name);
  return true;
}

bool CResource::Restart() {
  LogF(LOG_INFO, u"RESTART: Restarting resource %s...", m_Name.c_str());
  if (!m_bRunning) return false;
  // A stop handler may stop every resource, which releases the manager's reference: the start that follows
  // needs the resource still there.
  Strong<CResource> self(this);
  return Stop(true) && Start();
}

void CResource::ReleaseContexts() {
  for (CScriptContext*& context : m_pContexts)
    if (CScriptContext* going = std::exchange(context, nullptr)) going->Release();
}

bool CResource::LoadFiles(bool secondList) {
  if (!MountArchive()) return false;
  for (FileRecord& file : m_Files[secondList ? 1 : 0]) {
    Strong<Stream> stream;
    stream.Attach(new CMemoryStream(file.data.data(), static_cast<std::uint32_t>(file.data.size())));
    CScriptContext* context = nullptr;
    switch (file.type) {
      case RESOURCE_FILE_LUA: context = m_pContexts[0]; break;
      case RESOURCE_FILE_SPIDERMONKEY: context = m_pContexts[1]; break;
      case RESOURCE_FILE_SQUIRREL: context = m_pContexts[2]; break;
      case RESOURCE_FILE_ELEMENTS: {
        std::unique_ptr<CElementChunk> tree(CElementChunk::Load(stream.Get()));
        if (!tree || (m_pManager && !m_pManager->LoadElementChunk(tree.get(), this))) return false;
        continue;
      }
      default: return false;
    }
    if (!context || !context->LoadScript(stream.Get(), file.name.c_str())) return false;
  }
  return true;
}

void CResource::FreeFiles() {
  for (auto& list : m_Files) list.clear();
}

bool CResource::MountArchive() {
  if (!m_pArchive && !m_ArchivePath.empty()) {
    CFileSystem* fileSystem = FileSystemOf(m_pManager);
    Strong<Stream> stream;
    if (fileSystem) stream.Attach(fileSystem->Open(m_ArchivePath.c_str(), false));
    m_pArchive = new CTARArchive();
    if (!stream || !m_pArchive->Open(stream.Get())) UnmountArchive();
  }
  return m_pArchive || !m_DirectoryPath.empty();
}

void CResource::UnmountArchive() {
  delete m_pArchive;
  m_pArchive = nullptr;
}

std::u16string CResource::InDirectory(std::u16string_view path) const {
  return m_DirectoryPath.empty() ? std::u16string() : JoinPath(m_DirectoryPath, path, false);
}

Stream* CResource::OpenFile(std::u16string_view path, bool write) {
  if (Climbs(path) || !MountArchive()) return nullptr;
  CFileSystem* fileSystem = FileSystemOf(m_pManager);
  const std::u16string text(path);
  if (Rooted(path)) return write || !fileSystem ? nullptr : fileSystem->Open(text.c_str(), false);
  if (!write && m_pArchive)
    if (Stream* stream = m_pArchive->Open(text.c_str(), false)) return stream;
  if (!write)
    if (Stream* stream = OpenLoaderSlot(path)) return stream;
  // Without a directory a relative path would land at the engine root.
  const std::u16string joined = InDirectory(path);
  return joined.empty() || !fileSystem ? nullptr : fileSystem->Open(joined.c_str(), write);
}

Stream* CResource::CreateFile(std::u16string_view path) {
  if (m_pArchive || Rooted(path) || Climbs(path)) return nullptr;
  CFileSystem* fileSystem = FileSystemOf(m_pManager);
  const std::u16string joined = InDirectory(path);
  return joined.empty() || !fileSystem ? nullptr : fileSystem->Create(joined.c_str());
}

bool CResource::FileExists(std::u16string_view path, bool files, bool directories) {
  if (Climbs(path)) return false;
  CFileSystem* fileSystem = FileSystemOf(m_pManager);
  const std::u16string text(path);
  if (Rooted(path)) return fileSystem && fileSystem->Exists(text.c_str(), files, directories);
  if (MountArchive() && m_pArchive && m_pArchive->Exists(text.c_str(), files, directories)) return true;
  if (files && HasLoaderSlot(path)) return true;
  const std::u16string joined = InDirectory(path);
  return !joined.empty() && fileSystem && fileSystem->Exists(joined.c_str(), files, directories);
}

}  // namespace Vexil3D
