// The configuration tree.
#include <engine/Config.h>

#include <engine/VexilBase.h>

namespace Vexil3D {

ConfigVariable::ConfigVariable(ConfigElement* parent, std::u16string name)
    : m_pParent(parent), m_Name(std::move(name)) {}

ConfigVariable::~ConfigVariable() = default;

ConfigElement::ConfigElement(ConfigElement* parent, std::u16string name) : ConfigVariable(parent, std::move(name)) {
  m_Children.max_load_factor(1.0f);
  m_Children.rehash(8);
}

ConfigElement::~ConfigElement() {
  for (auto& [hash, child] : m_Children) {
    (void)hash;
    delete child;
  }
  m_Children.clear();
}

bool ConfigElement::AddChild(ConfigVariable* child) {
  if (child == nullptr || child == this || (child->GetParent() != nullptr && child->GetParent() != this)) return false;
  return m_Children.emplace(GetNameHash(child->GetName(), false), child).second;
}

ConfigVariable* ConfigElement::FindChild(std::u16string_view name) const {
  auto it = m_Children.find(GetNameHash(name, false));
  return it == m_Children.end() ? nullptr : it->second;
}

}  // namespace Vexil3D
