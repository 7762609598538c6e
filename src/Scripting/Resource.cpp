// A resource of the scripting framework: its manager, name and privilege.
#include <scripting/Resource.h>

namespace Vexil3D {

CResource::CResource(CResourceMgr* manager, std::u16string_view name) : m_pManager(manager), m_Name(name) {}

}  // namespace Vexil3D
