// Pictures of tests: PNG files through libpng's simplified interface, and comparison.
#include <hack/testing/Picture.h>

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace gamedouble {

namespace {
constexpr std::uint32_t kMismatchPixel = 0xFFFF0000;
constexpr std::uint32_t kChannelBits = 8;
constexpr std::uint32_t kChannelMask = 0xFF;
constexpr std::uint32_t kChannels = 4;

// 0xAARRGGBB words lie in memory as B, G, R, A bytes on this little-endian
// machine: libpng's BGRA format reads and writes them as they are.
constexpr auto kPngFormat = PNG_FORMAT_BGRA;

std::uint32_t ChannelDistance(std::uint32_t a, std::uint32_t b) {
  std::uint32_t largest = 0;
  for (std::uint32_t i = 0; i < kChannels; ++i) {
    const std::uint32_t x = (a >> (i * kChannelBits)) & kChannelMask;
    const std::uint32_t y = (b >> (i * kChannelBits)) & kChannelMask;
    largest = std::max(largest, x > y ? x - y : y - x);
  }
  return largest;
}

// Half the brightness, full alpha: the background of a difference picture.
std::uint32_t Dimmed(std::uint32_t pixel) {
  constexpr std::uint32_t kHalfColour = 0x007F7F7F;
  constexpr std::uint32_t kOpaque = 0xFF000000;
  return ((pixel >> 1) & kHalfColour) | kOpaque;
}
}  // namespace

CPicture::CPicture(std::uint32_t width, std::uint32_t height, std::uint32_t fill)
    : m_Width(width), m_Height(height), m_Pixels(std::size_t(width) * height, fill) {}

void CPicture::Fill(std::uint32_t pixel) { std::fill(m_Pixels.begin(), m_Pixels.end(), pixel); }

void CPicture::FillRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h, std::uint32_t pixel) {
  const std::int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
  const std::int32_t x1 = std::min<std::int64_t>(std::int64_t(x) + w, m_Width);
  const std::int32_t y1 = std::min<std::int64_t>(std::int64_t(y) + h, m_Height);
  for (std::int32_t row = y0; row < y1; ++row)
    for (std::int32_t column = x0; column < x1; ++column) Set(column, row, pixel);
}

bool SavePng(const CPicture& picture, const std::string& path, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.Width();
  image.height = picture.Height();
  image.format = kPngFormat;
  const auto stride = png_int_32(PNG_IMAGE_ROW_STRIDE(image));  // in components, four a pixel
  if (png_image_write_to_file(&image, path.c_str(), 0, picture.Pixels().data(), stride, nullptr) == 0) {
    if (error) *error = image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

bool LoadPng(const std::string& path, CPicture& picture, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    if (error) *error = image.message;
    png_image_free(&image);
    return false;
  }
  image.format = kPngFormat;
  CPicture loaded(image.width, image.height);
  if (png_image_finish_read(&image, nullptr, loaded.Pixels().data(), 0, nullptr) == 0) {
    if (error) *error = image.message;
    png_image_free(&image);
    return false;
  }
  picture = std::move(loaded);
  return true;
}

std::string PictureOutputDirectory() {
  const char* configured = std::getenv("BRINDLE_PICTURE_OUTPUT");
  std::filesystem::path directory =
      configured != nullptr && *configured != 0 ? std::filesystem::path(configured) : "picture-failures";
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
  return directory.string();
}

PictureComparison ComparePictures(const CPicture& actual, const CPicture& expected, const std::string& name,
                                  const PictureTolerance& tolerance) {
  PictureComparison result;
  const bool sameSize = actual.Width() == expected.Width() && actual.Height() == expected.Height();
  CPicture difference = sameSize ? expected : actual;
  for (std::uint32_t& pixel : difference.Pixels()) pixel = Dimmed(pixel);
  if (!sameSize) {
    result.differingPixels = actual.Width() * actual.Height();
  } else {
    for (std::uint32_t y = 0; y < actual.Height(); ++y) {
      for (std::uint32_t x = 0; x < actual.Width(); ++x) {
        if (ChannelDistance(actual.At(x, y), expected.At(x, y)) <= tolerance.channel) continue;
        if (result.differingPixels++ == 0) result.firstX = x, result.firstY = y;
        difference.Set(x, y, kMismatchPixel);
      }
    }
  }
  const double allowed = tolerance.fractionBeyond * double(actual.Width()) * double(actual.Height());
  result.same = sameSize && double(result.differingPixels) <= allowed;
  if (result.same) {
    result.report = name + ": pictures match";
    return result;
  }
  const std::string base = PictureOutputDirectory() + "/" + name;
  SavePng(actual, base + ".actual.png");
  SavePng(difference, base + ".difference.png");
  result.report = name + ": " +
                  (sameSize ? std::to_string(result.differingPixels) + " pixels differ, first at (" +
                                  std::to_string(result.firstX) + ", " + std::to_string(result.firstY) + ")"
                            : "size " + std::to_string(actual.Width()) + "x" + std::to_string(actual.Height()) +
                                  " against " + std::to_string(expected.Width()) + "x" +
                                  std::to_string(expected.Height())) +
                  "; wrote " + base + ".actual.png and " + base + ".difference.png";
  return result;
}

PictureComparison ComparePictureWithFile(const CPicture& actual, const std::string& expectedPath,
                                         const std::string& name, const PictureTolerance& tolerance) {
  CPicture expected;
  std::string error;
  if (!LoadPng(expectedPath, expected, &error)) {
    PictureComparison result;
    result.differingPixels = actual.Width() * actual.Height();
    const std::string base = PictureOutputDirectory() + "/" + name;
    SavePng(actual, base + ".actual.png");
    result.report = name + ": cannot read " + expectedPath + " (" + error + "); wrote " + base + ".actual.png";
    return result;
  }
  return ComparePictures(actual, expected, name, tolerance);
}

}  // namespace gamedouble
