#pragma once
// A resource of the scripting framework: a package of scripts and element files that its manager
// starts and stops as a whole. This holds what the command table needs of it (its manager, its name
// and whether its scripts may run restricted console commands).
//
// Errors: none. Locking: none; the game's main thread only.
#include <string>
#include <string_view>

#include <engine/VexilBase.h>

namespace Vexil3D {

class CResourceMgr;

class CResource : public CBaseObject {
 public:
  CResource(CResourceMgr* manager, std::u16string_view name);

  CResourceMgr* GetManager() const { return m_pManager; }
  const std::u16string& GetName() const { return m_Name; }
  bool IsPrivileged() const { return m_bPrivileged; }
  void SetPrivileged(bool privileged) { m_bPrivileged = privileged; }

 protected:
  CResourceMgr* m_pManager;  // not counted: the manager outlives its resources
  std::u16string m_Name;
  bool m_bPrivileged = false;
};

}  // namespace Vexil3D
