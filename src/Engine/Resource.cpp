// Resources, the live list of hardware sides, and the locked resource lists of the client's table.
#include <engine/Resource.h>

#include <mutex>
#include <vector>

namespace Vexil3D {

namespace {

struct LiveList {
  std::mutex lock;
  std::list<HWResource*> nodes;
};

LiveList& GetLiveList() {
  static LiveList* live = new LiveList;  // never destroyed: hardware sides may outlive static teardown
  return *live;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Resource

Resource::~Resource() {
  if (m_pHWResource && m_pHWResource->m_bPartOfOwner) {
    // The hardware part of this object still stands (it is destroyed after us): it must not reach
    // back into the part that is going now.
    m_pHWResource->m_pOwner = nullptr;
    m_pHWResource = nullptr;
  }
  Resource::ReleaseHWResource();
}

void Resource::ReleaseHWResource() {
  HWResource* hardware = m_pHWResource;
  m_pHWResource = nullptr;
  if (hardware && !hardware->m_bPartOfOwner) delete hardware;
}

void Resource::SetHWResource(HWResource* hardware) {
  if (hardware == m_pHWResource) return;
  ReleaseHWResource();
  m_pHWResource = hardware;
  if (hardware) hardware->m_bPartOfOwner = dynamic_cast<void*>(hardware) == dynamic_cast<void*>(this);
}

// ---------------------------------------------------------------------------------------------
// HWResource

HWResource::HWResource(Resource* owner) : m_pOwner(owner) {
  LiveList& live = GetLiveList();
  std::lock_guard<std::mutex> guard(live.lock);
  m_Node = live.nodes.insert(live.nodes.end(), this);
}

HWResource::~HWResource() {
  {
    LiveList& live = GetLiveList();
    std::lock_guard<std::mutex> guard(live.lock);
    live.nodes.erase(m_Node);
  }
  if (m_pOwner && m_pOwner->m_pHWResource == this) m_pOwner->m_pHWResource = nullptr;
}

void HWResource::ReleaseAll() {
  std::vector<HWResource*> doomed;
  {
    LiveList& live = GetLiveList();
    std::lock_guard<std::mutex> guard(live.lock);
    for (HWResource* hardware : live.nodes) {
      if (!hardware->m_bPartOfOwner) {
        doomed.push_back(hardware);
      } else if (hardware->m_pOwner && hardware->m_pOwner->m_pHWResource == hardware) {
        hardware->m_pOwner->m_pHWResource = nullptr;
      }
    }
  }
  for (HWResource* hardware : doomed) delete hardware;
}

std::uint32_t HWResource::GetLiveCount() {
  LiveList& live = GetLiveList();
  std::lock_guard<std::mutex> guard(live.lock);
  return static_cast<std::uint32_t>(live.nodes.size());
}

// ---------------------------------------------------------------------------------------------
// CLockedResourceList

CLockedResourceList::CLockedResourceList() { InitializeCriticalSectionAndSpinCount(&m_Lock, kSpinCount); }

CLockedResourceList::~CLockedResourceList() {
  Clear();
  DeleteCriticalSection(&m_Lock);
}

void CLockedResourceList::Add(Resource* resource) {
  if (!resource) return;
  resource->AddRef();
  EnterCriticalSection(&m_Lock);
  m_Resources.push_back(resource);
  LeaveCriticalSection(&m_Lock);
}

std::uint32_t CLockedResourceList::ReleaseHWResources() {
  std::uint32_t released = 0;
  EnterCriticalSection(&m_Lock);
  for (Resource* resource : m_Resources) {
    if (!resource->GetHWResource()) continue;
    resource->ReleaseHWResource();
    ++released;
  }
  LeaveCriticalSection(&m_Lock);
  return released;
}

std::uint32_t CLockedResourceList::Clear() {
  std::list<Resource*> taken;
  EnterCriticalSection(&m_Lock);
  taken.swap(m_Resources);
  LeaveCriticalSection(&m_Lock);
  // Outside the lock: a resource's destructor may come back to this list.
  std::uint32_t gone = 0;
  for (Resource* resource : taken)
    if (resource->Release() == 0) ++gone;
  return gone;
}

Strong<Resource> CLockedResourceList::FindByHash(std::uint32_t hash) {
  Strong<Resource> found;
  EnterCriticalSection(&m_Lock);
  for (Resource* resource : m_Resources) {
    if (resource->GetNameHashValue() != hash) continue;
    found = resource;
    break;
  }
  LeaveCriticalSection(&m_Lock);
  return found;
}

Strong<Resource> CLockedResourceList::Find(const char16_t* name) {
  if (!name) return nullptr;
  return FindByHash(GetNameHash(std::u16string_view(name), false));
}

std::uint32_t CLockedResourceList::GetCount() {
  EnterCriticalSection(&m_Lock);
  const auto count = static_cast<std::uint32_t>(m_Resources.size());
  LeaveCriticalSection(&m_Lock);
  return count;
}

// ---------------------------------------------------------------------------------------------
// CResourceTable

Strong<Resource> CResourceTable::Find(const char16_t* name) {
  if (!name) return nullptr;
  const std::uint32_t hash = GetNameHash(std::u16string_view(name), false);
  for (Group& group : m_Groups)
    if (Strong<Resource> found = group.lists[0].FindByHash(hash)) return found;
  return nullptr;
}

std::uint32_t CResourceTable::ReleaseHardware() {
  std::uint32_t released = 0;
  for (Group& group : m_Groups)
    for (unsigned list : kHardwareLists) released += group.lists[list].ReleaseHWResources();
  return released;
}

}  // namespace Vexil3D
