#pragma once
// The named constants that the resource manager offers to scripts: key states, SDL scan codes, key codes
// and modifier masks, stream seek origins, log types and colours, in registration order.
//
// Errors: none. Ownership: the table owns copies of the names. Locking: none; filled once at the manager's
// construction and never changed after.
#include <cstdint>
#include <string>
#include <vector>

#include <engine/Colour.h>

namespace Vexil3D {

enum ScriptConstantKind : std::uint32_t {
  SCRIPT_CONSTANT_INTEGER = 0,
  SCRIPT_CONSTANT_COLOUR = 1,
};

struct ScriptConstant {
  std::u16string name;
  std::uint32_t kind;
  std::uint32_t value;  // the integer, or the colour as 0xAARRGGBB
};

class CConstantTable {
 public:
  void RegisterInteger(const char16_t* name, std::uint32_t value);
  void RegisterColour(const char16_t* name, CARGB colour);
  const std::vector<ScriptConstant>& GetEntries() const { return m_Entries; }

 private:
  std::vector<ScriptConstant> m_Entries;
};

// Appends the 523 constants in their order.
void RegisterScriptConstants(CConstantTable& table);

}  // namespace Vexil3D
