// The product's table of built-in modules: the twelve names in their order, each with a handler of its own, and the
// registry of the loaded product finding them (the table was handed down as the library loaded).
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include <hack/ModuleRegistry.h>
#include <platform/text.h>

#include "../BuiltInModules.h"

namespace {

TEST(ProductModules, TheTwelveNamesFindTheirHandlersInTheirOrder) {
  const char16_t* const names[] = {
      u"ADPCMSupport",    u"AspectRatioSupport", u"MultipleInstanceSupport", u"BugFixes",       u"CustomFiles",
      u"IncreasedLimits", u"Multiplayer",        u"MultiplePlayerSupport",   u"NoDrawDistance", u"OggVorbisSupport",
      u"PCMSupport",      u"SquirrelSupport"};
  static_assert(std::size(names) == std::size(g_BuiltInModules));
  std::set<ModuleHandler> distinct;
  for (std::size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE(text::Utf16ToUtf8(names[i]));
    EXPECT_EQ(std::u16string(g_BuiltInModules[i].name), names[i]);
    EXPECT_NE(g_BuiltInModules[i].handler, nullptr);
    distinct.insert(g_BuiltInModules[i].handler);
    std::u16string upper(names[i]), lower(names[i]);
    for (char16_t& c : upper) c = text::ToUpperAscii(c);
    for (char16_t& c : lower) c = text::ToLowerAscii(c);
    for (const std::u16string& name : {std::u16string(names[i]), upper, lower})
      EXPECT_EQ(FindBuiltInHandler(name.c_str()), g_BuiltInModules[i].handler);
  }
  EXPECT_EQ(distinct.size(), std::size(names));
  for (const char16_t* other : {u"BugFixes ", u"Bug", u"Core", u"", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(FindBuiltInHandler(other), nullptr);
}

}  // namespace
