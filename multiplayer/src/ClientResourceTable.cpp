// CClientResources: the client's table of resource records and its messages 9, 10 and 11.
#include <multiplayer/ClientResource.h>

#include <algorithm>
#include <map>
#include <unordered_map>

#include <multiplayer/ClientScripting.h>

#include <hack/Messages.h>

namespace {

CClientResources* g_CurrentResources = nullptr;

// A file name as the cache's hosts compare it: their file systems fold letter case.
std::string FoldedFileName(std::string name) {
  for (char& c : name) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  return name;
}

// A list in which each record and each file of a record is listed once: a later listing of the same key (a
// repeated name, or another spelling of it) replaces the earlier one's running flag and files in its place,
// under the first spelling (the one a new record is made with), and a later listing of the same file within a
// record replaces the earlier one. Two listings of one record or file would otherwise share its pending count or
// cache file while being counted and written twice.
std::vector<ResourceRecord> MergeRepeatedListings(const ResourceListMessage& list) {
  std::vector<ResourceRecord> merged;
  // Ordered, as the table's buckets are: the server chooses the keys, and with them any hash table's buckets.
  std::map<std::uint32_t, std::size_t> places;
  for (const ResourceRecord& record : list.resources) {
    const auto [place, first] = places.emplace(HashResourceName(WidenBytes(record.name)), merged.size());
    if (first) merged.push_back(ResourceRecord{record.name, record.running, {}});
    ResourceRecord& target = merged[place->second];
    target.running = record.running;
    target.files.clear();
    std::vector<ResourceFileRecord>& files = target.files;
    std::unordered_map<std::string, std::size_t> filePlaces;
    for (const ResourceFileRecord& file : record.files) {
      const auto [filePlace, firstFile] = filePlaces.emplace(FoldedFileName(file.name), files.size());
      if (firstFile) {
        files.push_back(file);
      } else {
        files[filePlace->second] = file;
      }
    }
  }
  return merged;
}

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
  const auto& bucket = m_Buckets[key % kBucketCount];
  const auto found = bucket.find(key);
  return found != bucket.end() ? found->second : nullptr;
}

CClientResource* CClientResources::FindOrCreate(const std::u16string& name) {
  const std::uint32_t key = HashResourceName(name);
  if (CClientResource* record = FindClientResource(key)) return record;
  auto* record = new CClientResource(this, name);
  m_Ordered.push_back(record);
  m_Buckets[key % kBucketCount].emplace(key, record);
  return record;
}

bool CClientResources::Contains(const void* record) const {
  return std::find(m_Ordered.begin(), m_Ordered.end(), record) != m_Ordered.end();
}

void CClientResources::OnResourceList(const ResourceListMessage& list) {
  ResourceListMessage merged;
  merged.resources = MergeRepeatedListings(list);
  // Records live as long as the client: the bound on them is kept by refusing what would pass it, before
  // anything changes.
  std::uint32_t added = 0;
  for (const ResourceRecord& record : merged.resources) {
    if (FindClientResource(HashResourceName(WidenBytes(record.name))) == nullptr) ++added;
  }
  const std::uint32_t held = std::uint32_t(m_Ordered.size()) + added;
  if (held >= kMaxResourcesHeld) {
    LogConsole("%s", ResourceListRefusal(held, "resources held", kMaxResourcesHeld - 1).c_str());
    return;
  }
  // The old list's jobs must deliver nothing into the records the new list refreshes. A running one is told and
  // ends at its transfer's next progress call, up to a second later, delivering nothing: waiting for it here
  // would let a server that stalls a file and lists again every frame hold every frame that long. Its share of
  // the byte counts left with the cancel, and it names its file by value, never through a record's script list.
  if (CServerInfo* info = m_pClient != nullptr ? m_pClient->GetServerInfo() : nullptr) {
    info->GetLoader().CancelAll();
    info->ResetByteCounts();
  }
  CClientResource::CreateFromList(this, merged);
}

std::uint32_t CClientResources::OnResourceState(const ResourceStateMessage& state) {
  CClientResource* record = FindClientResource(state.nameHash);
  if (record == nullptr) return 0;
  // A start that fails has loaded scripts too: every attempt counts.
  bool starting = false;
  switch (state.action) {
    case RESOURCE_STOP:
      if (record->IsRunning()) record->Stop(false);
      break;
    case RESOURCE_START:
      starting = !record->IsRunning();
      if (starting) record->Start();
      break;
    case RESOURCE_RESTART:
      if (record->IsRunning()) record->Stop(false);
      starting = true;
      record->Start();
      break;
    default:
      break;
  }
  return starting ? std::uint32_t(record->GetScripts().size()) : 0;
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
