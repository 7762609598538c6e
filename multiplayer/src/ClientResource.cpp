// CClientResource: one server resource's record, its start and stop, its file list and its delivered files.
#include <multiplayer/ClientResource.h>

#include <hack/Messages.h>
#include <hack/ModuleOptions.h>
#include <platform/text.h>

#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientScripting.h>

#include "ResourceCache.h"

std::u16string WidenBytes(std::string_view bytes) {
  std::u16string wide(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) wide[i] = char16_t(static_cast<unsigned char>(bytes[i]));
  return wide;
}

std::uint32_t HashResourceName(std::u16string_view name) {
  const std::u16string terminated(name);
  return HashName(terminated.c_str(), true);
}

CClientResource::CClientResource(CClientResources* table, std::u16string name)
    : m_pTable(table), m_Name(std::move(name)), m_NameHash(HashResourceName(m_Name)) {}

CClientResource::~CClientResource() {
  CClientResourceScriptEnvironment* environment = nullptr;
  {
    tLockGuard guard(*this);
    environment = m_pEnvironment;
    m_pEnvironment = nullptr;
  }
  delete environment;
}

bool CClientResource::IsRunning() {
  tLockGuard guard(*this);
  return m_pEnvironment != nullptr;
}

std::uint32_t CClientResource::GetPendingCount() {
  tLockGuard guard(*this);
  return m_Pending;
}

std::string CClientResource::PrintableName() const { return text::Utf16ToUtf8(m_Name); }

namespace {

// The arguments of a resource event: the record as a user pointer, and the restarting flag when given.
bool FireWithResource(CClientScripting* scripting, ClientEvent which, CClientResource* resource,
                      const bool* restarting) {
  if (scripting == nullptr || scripting->GetHost() == nullptr) return false;
  CListScriptArguments arguments(scripting->GetHost());
  arguments.AddUserPointer(resource);
  if (restarting != nullptr) arguments.AddBool(*restarting);
  const bool prevented = TriggerClientEvent(scripting->GetEventType(which), &arguments);
  arguments.Clear();
  return prevented;
}

}  // namespace

bool CClientResource::Start() {
  const std::string name = PrintableName();
  LogConsole("START: Starting resource %s...\n", name.c_str());
  if (IsRunning()) {
    LogConsole("START: Resource %s already running!\n", name.c_str());
    return false;
  }
  CClientScripting* scripting = m_pTable->GetScripting();
  if (scripting == nullptr || scripting->GetHost() == nullptr) {
    LogConsole("START: Resource %s failed to load!\n", name.c_str());
    return false;
  }
  auto* environment = new CClientResourceScriptEnvironment(scripting->GetHost(), this, scripting->GetNatives());
  {
    tLockGuard guard(*this);
    m_pEnvironment = environment;
  }
  // By index: nothing a script does changes the list, but its storage may move were it ever to.
  for (std::size_t i = 0; i < m_Scripts.size(); ++i) {
    if (m_Scripts[i].m_Pending) continue;
    const std::u16string fileName = m_Scripts[i].m_FileName;
    if (!environment->LoadScript(fileName)) {
      LogConsole("START: Resource %s failed to load!\n", name.c_str());
      StopResource(false, true);
      return false;
    }
  }
  if (FireWithResource(scripting, ClientEvent::ResourceStart, this, nullptr)) {
    LogConsole("START: Resource %s failed to load!\n", name.c_str());
    StopResource(false, true);
    return false;
  }
  LogConsole("START: Resource %s started.\n", name.c_str());
  return true;
}

bool CClientResource::Stop(bool restarting) { return StopResource(restarting, false); }

bool CClientResource::StopResource(bool restarting, bool force) {
  // Held throughout, on every path: a loading thread that asks whether the resource runs waits for the answer
  // until the stop has settled it.
  tLockGuard guard(*this);
  const std::string name = PrintableName();
  LogConsole("STOP: Stopping resource %s...\n", name.c_str());
  if (!IsRunning()) {
    LogConsole("STOP: Resource %s already stopped!\n", name.c_str());
    return false;
  }
  const bool prevented = FireWithResource(m_pTable->GetScripting(), ClientEvent::ResourceStop, this, &restarting);
  // A start that failed must not leave the resource running, whatever its handlers ask.
  if (prevented && !force) {
    LogConsole("STOP: Resource %s failed to stop!\n", name.c_str());
    return false;
  }
  CClientResourceScriptEnvironment* environment = m_pEnvironment;
  m_pEnvironment = nullptr;
  delete environment;
  LogConsole("STOP: Resource %s stopped.\n", name.c_str());
  return true;
}

void CClientResource::CreateFromList(CClientResources* table, const ResourceListMessage& list) {
  for (const ResourceRecord& record : list.resources) {
    const std::u16string name = WidenBytes(record.name);
    LogConsole("CREATE: Creating resource %s...\n", text::Utf16ToUtf8(name).c_str());
    table->FindOrCreate(name)->ReadFileList(record);
  }
}

void CClientResource::ReadFileList(const ResourceRecord& record) {
  // Held throughout (it is recursive: the stop, the start and the counts below take it again). Meanwhile this
  // thread takes the loader's, the server info's and the files' locks, one at a time (Downloads.h).
  tLockGuard guard(*this);
  m_Pending = 0;
  if (IsRunning()) Stop(record.running);
  // The connection's jobs of the old list are cancelled by now: nothing points into the old entries.
  m_Scripts.clear();
  for (const ResourceFileRecord& file : record.files) {
    const std::u16string fileName = WidenBytes(file.name);
    const bool script = file.type == RESOURCE_FILE_SCRIPT;
    const bool cached = resourcecache::IsCurrent(m_Name, fileName, file.crc);
    if (script) m_Scripts.push_back(tScript{!cached, fileName});
    if (cached) continue;
    if (resourcecache::QueueDownload(m_pTable->GetClient(), this, fileName, file.size, file.crc, script)) {
      ++m_Pending;
    } else if (script) {
      m_Scripts.pop_back();  // never arrives
    }
  }
  if (record.running) {
    Start();
    if (GetPendingCount() == 0) FireWithResource(m_pTable->GetScripting(), ClientEvent::ResourceReady, this, nullptr);
  }
  LogConsole("Resource %s downloading count: %u\n", PrintableName().c_str(), unsigned(GetPendingCount()));
}

void CClientResource::FinishPending() {
  bool ready = false;
  {
    tLockGuard guard(*this);
    if (m_Pending != 0) {
      --m_Pending;
      ready = m_Pending == 0;
    }
  }
  if (ready) FireWithResource(m_pTable->GetScripting(), ClientEvent::ResourceReady, this, nullptr);
}

void CClientResource::OnFileDelivered(const std::u16string& fileName, bool ok) {
  CClientScripting* scripting = m_pTable->GetScripting();
  // Only the resource's own environment hears of its files, and only while it runs.
  CClientResourceScriptEnvironment* environment = IsRunning() ? m_pEnvironment : nullptr;
  if (ok && environment != nullptr && scripting != nullptr && scripting->GetHost() != nullptr) {
    CListScriptArguments arguments(scripting->GetHost());
    arguments.AddString(fileName.c_str(), SQInteger(fileName.size()));
    TriggerClientEvent(scripting->GetEventType(ClientEvent::FileDownload), &arguments, environment);
    arguments.Clear();
  }
  FinishPending();
}

void CClientResource::OnScriptDelivered(const std::u16string& fileName, bool ok) {
  for (std::size_t i = 0; i < m_Scripts.size(); ++i) {
    if (!m_Scripts[i].m_Pending || m_Scripts[i].m_FileName != fileName) continue;
    if (!ok) {
      m_Scripts.erase(m_Scripts.begin() + std::ptrdiff_t(i));
      break;
    }
    m_Scripts[i].m_Pending = false;
    // A script that does not load ends its resource as it does at a start from the cache, so that where a
    // script came from never decides whether its resource runs.
    CClientResourceScriptEnvironment* environment = IsRunning() ? m_pEnvironment : nullptr;
    if (environment != nullptr && !environment->LoadScript(fileName)) {
      LogConsole("START: Resource %s failed to load!\n", PrintableName().c_str());
      StopResource(false, true);
    }
    break;
  }
  OnFileDelivered(fileName, ok);
}
