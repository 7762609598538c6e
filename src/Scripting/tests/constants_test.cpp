// Script constants: the count, the order of the groups, the kinds and the values of the table's landmarks.
#include <gtest/gtest.h>

#include <scripting/Constants.h>

using namespace Vexil3D;

TEST(ConstantsTest, CountOrderKindsAndLandmarks) {
  CConstantTable table;
  RegisterScriptConstants(table);
  const auto& entries = table.GetEntries();
  ASSERT_EQ(entries.size(), 523u);
  const struct {
    std::size_t index;
    const char16_t* name;
    std::uint32_t kind;
    std::uint32_t value;
  } cases[] = {
      {0, u"KEYSTATE_UP", SCRIPT_CONSTANT_INTEGER, 0},
      {2, u"KEYSTATE_BOTH", SCRIPT_CONSTANT_INTEGER, 2},
      {3, u"SDL_SCANCODE_UNKNOWN", SCRIPT_CONSTANT_INTEGER, 0},
      {4, u"SDL_SCANCODE_A", SCRIPT_CONSTANT_INTEGER, 4},
      {245, u"SDL_SCANCODE_AUDIOFASTFORWARD", SCRIPT_CONSTANT_INTEGER, 286},
      {246, u"SDL_NUM_SCANCODES", SCRIPT_CONSTANT_INTEGER, 512},
      {247, u"SDLK_UNKNOWN", SCRIPT_CONSTANT_INTEGER, 0},
      {248, u"SDLK_RETURN", SCRIPT_CONSTANT_INTEGER, 13},
      {249, u"SDLK_ESCAPE", SCRIPT_CONSTANT_INTEGER, 27},
      {481, u"SDLK_EJECT", SCRIPT_CONSTANT_INTEGER, 0x40000119},
      {482, u"SDLK_SLEEP", SCRIPT_CONSTANT_INTEGER, 0x4000011A},
      {483, u"KMOD_NONE", SCRIPT_CONSTANT_INTEGER, 0},
      {496, u"KMOD_CTRL", SCRIPT_CONSTANT_INTEGER, 192},
      {499, u"KMOD_GUI", SCRIPT_CONSTANT_INTEGER, 3072},
      {500, u"SEEK_SET", SCRIPT_CONSTANT_INTEGER, 0},
      {503, u"LOGTYPE_NONE", SCRIPT_CONSTANT_INTEGER, 0},
      {509, u"LOGTYPE_CRITICAL", SCRIPT_CONSTANT_INTEGER, 6},
      {510, u"COLOUR_TRANSPARENT", SCRIPT_CONSTANT_COLOUR, 0},
      {519, u"COLOUR_SKYBLUE", SCRIPT_CONSTANT_COLOUR, 0xFF66CCFF},
      {522, u"COLOUR_ORANGE", SCRIPT_CONSTANT_COLOUR, 0xFFFF7F00},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_TRUE(entries[c.index].name == c.name);
    EXPECT_EQ(entries[c.index].kind, c.kind);
    EXPECT_EQ(entries[c.index].value, c.value);
  }
  // Only the thirteen colours are of the colour kind.
  std::size_t colours = 0;
  for (const auto& entry : entries) colours += entry.kind == SCRIPT_CONSTANT_COLOUR;
  EXPECT_EQ(colours, 13u);
}
