// Fuzzes the GUI's string conversions: the bytes as UTF-8, as UTF-16 units and as UTF-32 code points,
// checking the round trips that must hold.
#include <TamberGUI/StringConversion.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string utf8(reinterpret_cast<const char*>(data), size);
  TamberGUI::utf8_to_utf32(utf8.c_str());

  std::u16string units(size / sizeof(char16_t), u'\0');
  std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
  const std::u32string exact = TamberGUI::utf16_to_utf32_n(units.data(), units.size());
  // Counted conversion keeps every unit: back to UTF-16 it gives the same units.
  if (TamberGUI::utf32_to_utf16(exact.data(), exact.size(), false) != units) std::abort();
  TamberGUI::utf16_to_utf32(units.c_str());

  std::u32string points(size / sizeof(char32_t), U'\0');
  std::memcpy(points.data(), data, points.size() * sizeof(char32_t));
  const std::u16string wide = TamberGUI::utf32_to_utf16(points.data(), points.size(), true);
  const std::u32string back = TamberGUI::utf16_to_utf32_n(wide.data(), wide.size());
  // Every code point comes back (LF as CR LF), unless surrogate code points, which are written as
  // they are, meet and pair up.
  bool surrogates = false;
  for (char32_t c : points) surrogates |= c >= kFirstSurrogate && c <= kLastSurrogate;
  if (!surrogates && back.size() < points.size()) std::abort();
  return 0;
}
