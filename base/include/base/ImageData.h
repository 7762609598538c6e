#pragma once
// Decoded images: a size, an alpha flag and the colour of each pixel as
// 0xAARRGGBB. Implementations decode files or view other pixel stores.
//
// Errors: a pixel outside the image has no defined colour (callers ask only
// for pixels inside). Locking: none; a holder serialises its own access.
#include <base/Releasable.h>

#include <cstdint>

class CImageData : public tReleasable {
 public:
  virtual std::uint32_t GetWidth() = 0;
  virtual std::uint32_t GetHeight() = 0;
  virtual bool HasAlpha() = 0;
  virtual std::uint32_t GetPixel(std::uint32_t x, std::uint32_t y) = 0;
};
