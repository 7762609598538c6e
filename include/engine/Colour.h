#pragma once
// Colours of the engine: CARGB, one 32-bit 0xAARRGGBB word, and the named COLOUR_* values. Plain
// values: no errors, no locking.
#include <cstdint>

namespace Vexil3D {

// Trivially constructible, so that pixel buffers can be made without clearing them: `CARGB c{}` is
// transparent black, `CARGB c;` is unset.
struct CARGB {
  std::uint32_t argb;

  constexpr CARGB() = default;
  constexpr CARGB(std::uint32_t value) : argb(value) {}
  constexpr CARGB(std::uint8_t a, std::uint8_t r, std::uint8_t g, std::uint8_t b)
      : argb(std::uint32_t(a) << 24 | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | b) {}

  constexpr std::uint8_t GetAlpha() const { return static_cast<std::uint8_t>(argb >> 24); }
  constexpr std::uint8_t GetRed() const { return static_cast<std::uint8_t>(argb >> 16); }
  constexpr std::uint8_t GetGreen() const { return static_cast<std::uint8_t>(argb >> 8); }
  constexpr std::uint8_t GetBlue() const { return static_cast<std::uint8_t>(argb); }
  constexpr operator std::uint32_t() const { return argb; }
};
static_assert(sizeof(CARGB) == 4, "pixels and vertex colours are one word each");

constexpr std::uint8_t kOpaqueAlpha = 0xFF;

constexpr CARGB COLOUR_TRANSPARENT{0x00000000u};
constexpr CARGB COLOUR_WHITE{0xFFFFFFFFu};
constexpr CARGB COLOUR_BLACK{0xFF000000u};
constexpr CARGB COLOUR_RED{0xFFFF0000u};
constexpr CARGB COLOUR_LIME{0xFF00FF00u};
constexpr CARGB COLOUR_BLUE{0xFF0000FFu};
constexpr CARGB COLOUR_YELLOW{0xFFFFFF00u};
constexpr CARGB COLOUR_AQUA{0xFF00FFFFu};
constexpr CARGB COLOUR_FUCHSIA{0xFFFF00FFu};
constexpr CARGB COLOUR_SKYBLUE{0xFF66CCFFu};
constexpr CARGB COLOUR_SILVER{0xFFC3C3C3u};
constexpr CARGB COLOUR_GREEN{0xFF007F00u};
constexpr CARGB COLOUR_ORANGE{0xFFFF7F00u};

}  // namespace Vexil3D
