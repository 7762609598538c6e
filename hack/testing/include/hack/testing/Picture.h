#pragma once
// Pictures for tests: a 32-bit 0xAARRGGBB pixel grid, saved and loaded as PNG
// (RGBA, 8 bits a channel), and compared with an expected picture.
//
// Errors: loading and saving answer false (with the reason in the optional
// text); a comparison that fails writes "<name>.actual.png" and
// "<name>.difference.png" into PictureOutputDirectory() and says so in its
// report. No locks: a picture belongs to one test thread.
#include <cstdint>
#include <string>
#include <vector>

namespace gamedouble {

class CPicture {
 public:
  CPicture() = default;
  CPicture(std::uint32_t width, std::uint32_t height, std::uint32_t fill = 0);

  std::uint32_t Width() const { return m_Width; }
  std::uint32_t Height() const { return m_Height; }
  // Rows top to bottom, each Width() pixels, no padding.
  const std::vector<std::uint32_t>& Pixels() const { return m_Pixels; }
  std::vector<std::uint32_t>& Pixels() { return m_Pixels; }

  std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return m_Pixels[std::size_t(y) * m_Width + x]; }
  void Set(std::uint32_t x, std::uint32_t y, std::uint32_t pixel) { m_Pixels[std::size_t(y) * m_Width + x] = pixel; }
  void Fill(std::uint32_t pixel);
  // Fills the rectangle [x, x + w) × [y, y + h), clipped to the picture.
  void FillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t pixel);

  bool operator==(const CPicture& other) const = default;

 private:
  std::uint32_t m_Width = 0;
  std::uint32_t m_Height = 0;
  std::vector<std::uint32_t> m_Pixels;
};

// PNG files (colour type RGBA, 8 bits). Loading also accepts grey, grey-alpha,
// RGB and palette files (expanded; missing alpha is 0xFF).
bool SavePng(const CPicture& picture, const std::string& path, std::string* error = nullptr);
bool LoadPng(const std::string& path, CPicture& picture, std::string* error = nullptr);

// Where failed comparisons write their pictures: $BRINDLE_PICTURE_OUTPUT when
// set, else "picture-failures" under the working directory (created on demand).
std::string PictureOutputDirectory();

struct PictureComparison {
  bool same = false;
  // Pixels whose channels differ by more than the channel tolerance (within
  // the allowed fraction they are listed here but the pictures count as same).
  std::uint32_t differingPixels = 0;
  // First such pixel (meaningful when differingPixels > 0).
  std::uint32_t firstX = 0, firstY = 0;
  // Human-readable verdict, naming the written files on a mismatch.
  std::string report;
};

// How far a picture may stray: each channel within `channel` of the expected
// one, except for at most `fractionBeyond` of the pixels (the edges of
// rotated or scaled quads, where rounding decides coverage).
struct PictureTolerance {
  PictureTolerance(std::uint32_t channelTolerance = 0, double fraction = 0)  // NOLINT: a bare number is the channel
      : channel(channelTolerance), fractionBeyond(fraction) {}
  std::uint32_t channel;
  double fractionBeyond;
};
// Axis-aligned 1:1 quads land exactly; rotated, scaled or tinted ones within
// 2 per channel with at most 0.5 % of the pixels beyond.
inline const PictureTolerance kExactPicture{};
inline const PictureTolerance kTransformedPicture{2, 0.005};

// Compares channel by channel, allowing |actual − expected| <= the channel
// tolerance, and at most the fraction of pixels beyond it. A size mismatch
// counts every pixel. On a mismatch writes
// "<name>.actual.png" and "<name>.difference.png" (differing pixels opaque
// red over a dimmed copy of the expected picture, or of the actual one when
// the sizes differ) into PictureOutputDirectory().
PictureComparison ComparePictures(const CPicture& actual, const CPicture& expected, const std::string& name,
                                  const PictureTolerance& tolerance = {});

// As above against a PNG file. A missing or unreadable file is a mismatch and
// still writes the actual picture, so that a new expected picture can be
// inspected and adopted.
PictureComparison ComparePictureWithFile(const CPicture& actual, const std::string& expectedPath,
                                         const std::string& name, const PictureTolerance& tolerance = {});

}  // namespace gamedouble
