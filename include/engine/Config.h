#pragma once
// The configuration tree: named variables under elements; an element owns its children.
#include <cstdint>
#include <string>
#include <unordered_map>

namespace Vexil3D {

class ConfigElement;

class ConfigVariable {
 public:
  ConfigVariable(ConfigElement* parent, std::u16string name);
  virtual ~ConfigVariable();
  ConfigVariable(const ConfigVariable&) = delete;
  ConfigVariable& operator=(const ConfigVariable&) = delete;

  ConfigElement* GetParent() const { return m_pParent; }
  const std::u16string& GetName() const { return m_Name; }

 private:
  ConfigElement* m_pParent;
  std::uint32_t m_uReserved = 0;
  std::u16string m_Name;
};

class ConfigElement : public ConfigVariable {
 public:
  explicit ConfigElement(ConfigElement* parent = nullptr, std::u16string name = std::u16string());
  ~ConfigElement() override;

  // Takes ownership; false (the caller keeps the child) when the name is taken or the child
  // belongs to another element.
  bool AddChild(ConfigVariable* child);
  ConfigVariable* FindChild(std::u16string_view name) const;
  std::size_t GetChildCount() const { return m_Children.size(); }

 private:
  std::unordered_map<std::uint32_t, ConfigVariable*> m_Children;
};

}  // namespace Vexil3D
