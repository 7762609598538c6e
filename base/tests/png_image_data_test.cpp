// PNG image data: pixels after each transformation, interlaced files, damaged and foreign data.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <png.h>

#include <base/PNGImageData.h>
#include <base/Stream.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct PngSpec {
  std::uint32_t width, height;
  int depth, type;
  Bytes rows;  // packed rows, 16-bit samples big-endian as PNG stores them
  std::vector<png_color> palette = {};
  Bytes transparency = {};  // tRNS of a palette
  bool interlaced = false;
};

Bytes WritePng(const PngSpec& spec) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const auto append = [](png_structp p, png_bytep data, size_t n) {
    static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
  };
  png_set_write_fn(png, &out, append, nullptr);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_IHDR(png, info, spec.width, spec.height, spec.depth, spec.type,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), int(spec.palette.size()));
  if (!spec.transparency.empty())
    png_set_tRNS(png, info, spec.transparency.data(), int(spec.transparency.size()), nullptr);
  png_write_info(png, info);
  const size_t stride = spec.rows.size() / spec.height;
  std::vector<png_bytep> rows(spec.height);
  for (std::uint32_t y = 0; y < spec.height; ++y) rows[y] = const_cast<png_bytep>(spec.rows.data() + y * stride);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct Decoded {
  bool loaded = false, decoded = false;
  std::vector<std::string> errors;
  std::shared_ptr<CPNGImageData> image;
};

// Loads and decodes; the stream is let go in between, as the image keeps it until Decode ends.
Decoded DecodeBytes(Bytes bytes) {
  Decoded out;
  auto* stream = new CByteArrayStream(bytes.data(), std::uint32_t(bytes.size()));
  tTaskContext task;
  out.image.reset(new CPNGImageData, [](CPNGImageData* image) { image->Release(); });
  out.loaded = out.image->Load(&task, stream);
  stream->Release();
  out.decoded = out.loaded && out.image->Decode(&task);
  out.errors = task.GetErrors();
  return out;
}

struct PixelCase {
  const char* name;
  PngSpec spec;
  bool alpha;
  std::vector<std::uint32_t> pixels;
};

TEST(PNGImageData, PixelsAfterTransformations) {
  const PixelCase cases[] = {
      {"palette with a transparent entry", {2, 1, 8, PNG_COLOR_TYPE_PALETTE, {0, 1}, {{0xFF, 0, 0}, {0, 0xFF, 0}},
       {0xFF, 0}}, true, {0xFFFF0000, 0x0000FF00}},
      {"1-bit grey", {2, 1, 1, PNG_COLOR_TYPE_GRAY, {0x40}}, false, {0xFF000000, 0xFFFFFFFF}},
      {"2-bit grey", {2, 1, 2, PNG_COLOR_TYPE_GRAY, {0x70}}, false, {0xFF555555, 0xFFFFFFFF}},
      {"grey and alpha", {1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {0x80, 0x40}}, true, {0x40808080}},
      {"16-bit RGB", {1, 1, 16, PNG_COLOR_TYPE_RGB, {0x80, 0x00, 0xFF, 0xFF, 0x00, 0x00}}, false, {0xFF7FFF00}},
      {"16-bit grey and alpha", {1, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA, {0x12, 0x34, 0xFF, 0xFF}}, true, {0xFF121212}},
      {"RGBA", {2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {1, 2, 3, 4, 5, 6, 7, 8}}, true, {0x04010203, 0x08050607}},
      {"RGB", {1, 2, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3, 9, 8, 7}}, false, {0xFF010203, 0xFF090807}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = DecodeBytes(WritePng(c.spec));
    ASSERT_TRUE(d.decoded) << (d.errors.empty() ? "" : d.errors[0]);
    EXPECT_EQ(d.image->HasAlpha(), c.alpha);
    for (std::uint32_t i = 0; i < c.pixels.size(); ++i)
      EXPECT_EQ(d.image->GetPixel(i % c.spec.width, i / c.spec.width), c.pixels[i]) << i;
  }
}

TEST(PNGImageData, InterlacedEqualsPlainTwin) {
  PngSpec plain{37, 23, 8, PNG_COLOR_TYPE_RGB_ALPHA, Bytes(37 * 23 * 4)};
  std::mt19937 random(7);
  for (auto& b : plain.rows) b = std::uint8_t(random());
  PngSpec interlaced = plain;
  const Decoded a = DecodeBytes(WritePng(plain)), b = DecodeBytes(WritePng((interlaced.interlaced = true, interlaced)));
  ASSERT_TRUE(a.decoded && b.decoded);
  for (std::uint32_t y = 0; y < plain.height; ++y)
    for (std::uint32_t x = 0; x < plain.width; ++x) ASSERT_EQ(a.image->GetPixel(x, y), b.image->GetPixel(x, y));
}

// Every damaged file fails at one of the two steps with libpng's message; none crashes.
TEST(PNGImageData, DamagedFilesFailWithAMessage) {
  PngSpec spec{16, 16, 8, PNG_COLOR_TYPE_RGB, Bytes(16 * 16 * 3)};
  for (std::size_t i = 0; i < spec.rows.size(); ++i) spec.rows[i] = std::uint8_t(i * 31);
  const Bytes good = WritePng(spec);
  std::vector<std::pair<std::string, Bytes>> damaged;
  for (std::size_t cut : {9u, 20u, 33u, 40u, 60u})
    damaged.emplace_back("cut at " + std::to_string(cut), Bytes(good.begin(), good.begin() + cut));
  damaged.emplace_back("cut before IEND", Bytes(good.begin(), good.end() - 12));
  Bytes corrupt = good;
  for (std::size_t i = 45; i < 70; ++i) corrupt[i] ^= 0x5A;  // inside IDAT, behind a valid header
  damaged.emplace_back("corrupt pixel data", corrupt);
  PngSpec wide{CPNGImageData::kMaxDimension + 1, 1, 1, PNG_COLOR_TYPE_GRAY,
               Bytes(CPNGImageData::kMaxDimension / 8 + 1)};
  damaged.emplace_back("too wide", WritePng(wide));
  for (const auto& [name, bytes] : damaged) {
    SCOPED_TRACE(name);
    const Decoded d = DecodeBytes(bytes);
    EXPECT_FALSE(d.decoded || d.errors.empty());
  }
}

TEST(PNGImageData, ForeignDataFailsQuietlyAndStepsKeepTheirOrder) {
  for (const Bytes& bytes : {Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, Bytes{0x89, 'P', 'N'}, Bytes{}}) {
    const Decoded d = DecodeBytes(bytes);
    EXPECT_FALSE(d.loaded || !d.errors.empty());
  }
  tTaskContext task;
  EXPECT_FALSE(CPNGImageData().Decode(&task) || task.GetErrorCount() != 1);
}

}  // namespace
