// CClientResources: the client's table of resource records and its messages 9, 10 and 11.
#include <multiplayer/ClientResource.h>

#include <algorithm>

#include <multiplayer/ClientScripting.h>

namespace {

CClientResources* g_CurrentResources = nullptr;

}  // namespace

CClientResources::CClientResources(CMultiplayerState* state, CQVNetClient* client)
    : m_pState(state), m_pClient(client) {
  g_CurrentResources = this;
}

CClientResources::~CClientResources() {
  DestroyResources();
  if (g_CurrentResources == this) g_CurrentResources = nullptr;
}

CClientResources* CClientResources::GetCurrent() { return g_CurrentResources; }

CClientScripting* CClientResources::GetScripting() const {
  return m_pState != nullptr ? m_pState->m_pScripting.get() : nullptr;
}

CClientResource* CClientResources::FindClientResource(std::uint32_t key) const {
  for (CClientResource* record : m_Buckets[key % kBucketCount]) {
    if (record->GetNameHash() == key) return record;
  }
  return nullptr;
}

CClientResource* CClientResources::FindOrCreate(const std::u16string& name) {
  const std::uint32_t key = HashResourceName(name);
  if (CClientResource* record = FindClientResource(key)) return record;
  auto* record = new CClientResource(this, name);
  m_Ordered.push_back(record);
  m_Buckets[key % kBucketCount].push_back(record);
  return record;
}

bool CClientResources::Contains(const void* record) const {
  return std::find(m_Ordered.begin(), m_Ordered.end(), record) != m_Ordered.end();
}

void CClientResources::OnResourceList(const ResourceListMessage& list) {
  // The old list's jobs point into the records' script lists, which the new list replaces.
  if (CServerInfo* info = m_pClient != nullptr ? m_pClient->GetServerInfo() : nullptr) {
    info->GetLoader().CancelAll();
    info->GetLoader().WaitForThreads();
    info->ResetByteCounts();
  }
  CClientResource::CreateFromList(this, list);
}

void CClientResources::OnResourceState(const ResourceStateMessage& state) {
  CClientResource* record = FindClientResource(state.nameHash);
  if (record == nullptr) return;
  switch (state.action) {
    case RESOURCE_STOP:
      if (record->IsRunning()) record->Stop(false);
      break;
    case RESOURCE_START:
      if (!record->IsRunning()) record->Start();
      break;
    case RESOURCE_RESTART:
      if (record->IsRunning()) record->Stop(false);
      record->Start();
      break;
    default:
      break;
  }
}

void CClientResources::OnScriptEvent(const ScriptEventMessage& event) {
  if (CClientScripting* scripting = GetScripting()) scripting->OnServerEvent(event);
}

void CClientResources::DestroyResources() {
  for (auto& bucket : m_Buckets) bucket.clear();
  std::vector<CClientResource*> records;
  records.swap(m_Ordered);
  for (CClientResource* record : records) delete record;
}

std::unique_ptr<CClientResourceTable> CreateClientResourceTable(CMultiplayerState* state, CQVNetClient* client) {
  return std::make_unique<CClientResources>(state, client);
}
