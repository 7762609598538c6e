#pragma once
// Named engine resources, their hardware sides and the client's resource tables.
//
// Errors: none beyond null results (a name that no resource carries finds null).
// Locking: HWResource's live list has its own lock (hardware sides may be made and dropped on any
// thread); each list of a resource table has its own critical section; Resource itself takes none.
#include <cstdint>
#include <list>

#include <engine/VexilBase.h>
#include <engine/VexilReference.h>
#include <platform/sync.h>

namespace Vexil3D {

class HWResource;

// A named object the renderer can use; its hardware side is made on first use and may be dropped
// at any time (the next use makes it again).
class Resource : public Identifiable {
 public:
  Resource() = default;
  ~Resource() override;

  // Deletes the hardware side unless it is this very object, and clears the pointer either way.
  virtual void ReleaseHWResource();
  // Whether the resource can be used now (a material whose texture answers false is not drawn).
  virtual bool IsLoaded() { return true; }

  HWResource* GetHWResource() const { return m_pHWResource; }
  // Attaches a hardware side, which the resource then owns unless it is this very object. A side
  // attached before is released first.
  void SetHWResource(HWResource* hardware);

 private:
  friend class HWResource;

  [[maybe_unused]] std::uint32_t m_uReserved = 0;
  HWResource* m_pHWResource = nullptr;
};

// The device side of a resource. Every live one stands in a process-wide list, so that a lost device
// can drop them all. Deleting one, on any path, clears its owner's pointer to it.
class HWResource {
 public:
  explicit HWResource(Resource* owner);
  virtual ~HWResource();
  HWResource(const HWResource&) = delete;
  HWResource& operator=(const HWResource&) = delete;

  // Builds the device object from the owner's data.
  virtual bool Create() = 0;
  virtual void OnDeviceReset() {}

  Resource* GetOwner() const { return m_pOwner; }

  // Deletes every live hardware side (each clears its owner's pointer); one that is part of its own
  // resource is only detached from it. Runs on the thread that owns the device, while no other
  // thread deletes hardware sides.
  static void ReleaseAll();
  static std::uint32_t GetLiveCount();

 private:
  friend class Resource;

  Resource* m_pOwner;
  // Set when attached to a resource that is this very object (told apart at attachment: inside
  // destructors the dynamic type no longer says).
  bool m_bPartOfOwner = false;
  std::list<HWResource*>::iterator m_Node;
};

// A list of resources under its own critical section. The list holds one reference to each.
class CLockedResourceList {
 public:
  static constexpr DWORD kSpinCount = 2000;

  CLockedResourceList();
  ~CLockedResourceList();
  CLockedResourceList(const CLockedResourceList&) = delete;
  CLockedResourceList& operator=(const CLockedResourceList&) = delete;

  // Appends the resource and adds a reference to it (the caller keeps its own).
  void Add(Resource* resource);
  // Drops the hardware side of every resource that has one; how many were dropped.
  std::uint32_t ReleaseHWResources();
  // Empties the list, then releases each resource outside the lock; how many went (Release gave 0).
  std::uint32_t Clear();
  // The first resource whose name hash matches the name's (case kept), with a reference for the caller.
  Strong<Resource> Find(const char16_t* name);
  Strong<Resource> FindByHash(std::uint32_t hash);
  std::uint32_t GetCount();

 private:
  CRITICAL_SECTION m_Lock;
  std::list<Resource*> m_Resources;
};

// Four groups of five lists, as the client keeps its resources.
class CResourceTable {
 public:
  static constexpr unsigned kGroupCount = 4;
  static constexpr unsigned kListsPerGroup = 5;

  // The lists whose hardware sides go when the device does: the first and the fifth of each group.
  static constexpr unsigned kHardwareLists[] = {0, 4};

  CLockedResourceList& GetList(unsigned group, unsigned list) { return m_Groups[group].lists[list]; }
  // The first match in the first list of each group, in group order.
  Strong<Resource> Find(const char16_t* name);
  // The hardware sides of the device lists of every group (each under its list's lock); how many went.
  std::uint32_t ReleaseHardware();

 private:
  struct Group {
    std::uint32_t reserved = 0;
    CLockedResourceList lists[kListsPerGroup];
  };
  Group m_Groups[kGroupCount];
};

}  // namespace Vexil3D
