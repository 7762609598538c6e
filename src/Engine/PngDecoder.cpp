// The PNG decoder of texture mip levels: libpng reading from an engine stream.
#include <engine/Stream.h>
#include <engine/Texture.h>

#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <new>

namespace Vexil3D {

namespace {

static_assert(std::endian::native == std::endian::little,
              "B, G, R, A bytes are the CARGB word 0xAARRGGBB only on a little-endian machine");

constexpr std::uint32_t kCheckedSignatureBytes = 4;
constexpr png_byte kOpaque = 0xFF;
constexpr int kEightBits = 8;
constexpr int kBitsPerByte = 8;
// Deflate never expands its input by more than this: an image whose rows need more than this many
// times the bytes left cannot be in them, and is refused before its pixels are allocated.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr png_size_t kLargestRead = 0x7FFFFFFF;

// Everything the decode owns, kept outside the frame that libpng's error jump leaves: that frame
// holds no object with a destructor.
struct PngDecode {
  Stream* stream = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  CARGB* pixels = nullptr;
  png_bytep* rows = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  bool alpha = false;
};

void ReadFromStream(png_structp png, png_bytep data, png_size_t length) {
  auto* stream = static_cast<Stream*>(png_get_io_ptr(png));
  while (length > 0) {
    const auto chunk = static_cast<std::uint32_t>(length > kLargestRead ? kLargestRead : length);
    const std::uint32_t got = stream->Read(data, chunk);
    if (got == 0) png_error(png, "truncated");
    data += got;
    length -= got;
  }
}

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

// Every allocation here goes through new (std::nothrow) into the PngDecode record, which the caller frees.
bool DecodeRows(PngDecode* d) {
  if (setjmp(png_jmpbuf(d->png))) return false;
  png_set_read_fn(d->png, d->stream, ReadFromStream);
  png_set_sig_bytes(d->png, kCheckedSignatureBytes);
  png_set_user_limits(d->png, CMipLevel::kMaxSide, CMipLevel::kMaxSide);
  png_read_info(d->png, d->info);

  int bitDepth = 0;
  int colourType = 0;
  int interlace = 0;
  png_get_IHDR(d->png, d->info, &d->width, &d->height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_RGB: d->alpha = false; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA: d->alpha = true; break;
    default: return false;
  }
  if (bitDepth > kEightBits) png_set_strip_16(d->png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < kEightBits) png_set_expand_gray_1_2_4_to_8(d->png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(d->png);
  if (!d->alpha) png_set_filler(d->png, kOpaque, PNG_FILLER_AFTER);
  // B, G, R, A in memory is the word 0xAARRGGBB.
  png_set_bgr(d->png);
  png_set_interlace_handling(d->png);
  const std::uint64_t rowBytes =
      (std::uint64_t(d->width) * png_get_channels(d->png, d->info) * bitDepth + kBitsPerByte - 1) / kBitsPerByte;
  if (std::uint64_t(d->height) * (rowBytes + 1) > d->stream->GetRemaining() * kMaxDeflateRatio) return false;
  png_read_update_info(d->png, d->info);
  if (png_get_rowbytes(d->png, d->info) != std::size_t(d->width) * sizeof(CARGB)) return false;

  const std::size_t count = std::size_t(d->width) * d->height;
  d->pixels = new (std::nothrow) CARGB[count];
  d->rows = new (std::nothrow) png_bytep[d->height];
  if (!d->pixels || !d->rows) return false;
  for (png_uint_32 y = 0; y < d->height; ++y) d->rows[y] = reinterpret_cast<png_bytep>(d->pixels + std::size_t(y) * d->width);
  png_read_image(d->png, d->rows);
  png_read_end(d->png, nullptr);
  return true;
}

}  // namespace

bool DecodePNG(Stream* stream, CMipLevel* level) {
  if (!stream || !level) return false;
  png_byte signature[kCheckedSignatureBytes];
  if (stream->Read(signature, kCheckedSignatureBytes) != kCheckedSignatureBytes) return false;
  if (png_sig_cmp(signature, 0, kCheckedSignatureBytes) != 0) return false;

  PngDecode d;
  d.stream = stream;
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!d.png) return false;
  d.info = png_create_info_struct(d.png);
  const bool decoded = d.info && DecodeRows(&d);
  png_destroy_read_struct(&d.png, d.info ? &d.info : nullptr, nullptr);
  delete[] d.rows;
  if (!decoded) {
    delete[] d.pixels;
    return false;
  }
  level->Adopt(d.pixels, d.width, d.height, d.alpha);
  return true;
}

}  // namespace Vexil3D
