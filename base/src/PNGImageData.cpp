// PNG images decoded from base-library streams through libpng.
#include <base/PNGImageData.h>

#include <csetjmp>
#include <new>

#include <png.h>

#include <base/Stream.h>
#include <base/TaskContext.h>

namespace {

// The eight signature bytes as two little-endian words.
constexpr std::uint32_t kSignatureLow = 0x474E5089;
constexpr std::uint32_t kSignatureHigh = 0x0A1A0A0D;
constexpr int kSignatureBytes = 8;
constexpr std::uint32_t kColourAlphaBit = PNG_COLOR_MASK_ALPHA;
constexpr std::uint32_t kOpaque = 0xFF000000;
constexpr std::uint32_t kSixteenBitMax = 0xFFFF;
constexpr std::uint32_t kEightBitMax = 0xFF;

std::uint32_t Sample(const std::uint8_t* row, std::uint32_t index, std::uint32_t depth) {
  if (depth == 8) return row[index];
  // Little-endian after png_set_swap.
  const std::uint32_t wide = row[2 * index] | (std::uint32_t(row[2 * index + 1]) << 8);
  return wide * kEightBitMax / kSixteenBitMax;
}

std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

}  // namespace

CPNGImageData::~CPNGImageData() {
  if (m_png != nullptr) png_destroy_read_struct(&m_png, m_info != nullptr ? &m_info : nullptr, nullptr);
  ReleaseStream();
}

bool CPNGImageData::HasAlpha() { return (m_colourType & kColourAlphaBit) != 0; }

std::uint32_t CPNGImageData::GetPixel(std::uint32_t x, std::uint32_t y) {
  const std::uint32_t transparent = HasAlpha() ? 0 : kOpaque;
  if (m_state != State::Decoded || (m_bitDepth != 8 && m_bitDepth != 16)) return transparent;
  const std::uint8_t* row = m_rows[y];
  switch (m_colourType) {
    case PNG_COLOR_TYPE_RGB_ALPHA: {
      const std::uint32_t i = x * 4;
      return Argb(Sample(row, i + 3, m_bitDepth), Sample(row, i, m_bitDepth), Sample(row, i + 1, m_bitDepth),
                  Sample(row, i + 2, m_bitDepth));
    }
    case PNG_COLOR_TYPE_RGB: {
      const std::uint32_t i = x * 3;
      return Argb(kEightBitMax, Sample(row, i, m_bitDepth), Sample(row, i + 1, m_bitDepth),
                  Sample(row, i + 2, m_bitDepth));
    }
    case PNG_COLOR_TYPE_GRAY: {
      const std::uint32_t v = Sample(row, x, m_bitDepth);
      return Argb(kEightBitMax, v, v, v);
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const std::uint32_t v = Sample(row, x * 2, m_bitDepth);
      return Argb(Sample(row, x * 2 + 1, m_bitDepth), v, v, v);
    }
    default:
      return transparent;
  }
}

bool CPNGImageData::Load(tTaskContext* task, CStream* stream) {
  if (m_state != State::Empty) {
    task->AddError("The image was already loaded.");
    return false;
  }
  std::uint32_t signature[2] = {};
  if (stream->Read(signature, sizeof(signature[0]), std::size(signature)) != std::size(signature) ||
      signature[0] != kSignatureLow || signature[1] != kSignatureHigh) {
    return false;
  }
  m_state = State::Failed;
  m_task = task;
  const std::uint32_t errorsBefore = task->GetErrorCount();
  m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
  if (m_png != nullptr) m_info = png_create_info_struct(m_png);
  if (m_info == nullptr) {
    task->AddError("Out of memory.");
    return false;
  }
  stream->AddRef();
  m_stream = stream;
  png_set_read_fn(m_png, this, OnRead);
  png_set_sig_bytes(m_png, kSignatureBytes);
  png_set_user_limits(m_png, kMaxDimension, kMaxDimension);
  png_set_chunk_malloc_max(m_png, kMaxChunkBytes);
  if (!ReadHeader() || task->GetErrorCount() != errorsBefore) {
    ReleaseStream();
    return false;
  }
  m_state = State::Loaded;
  return true;
}

bool CPNGImageData::ReadHeader() {
  if (setjmp(png_jmpbuf(m_png))) return false;
  png_read_info(m_png, m_info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0;
  png_get_IHDR(m_png, m_info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(m_png);
  if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(m_png);
  if (png_get_valid(m_png, m_info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(m_png);
  if (depth == 16) png_set_swap(m_png);
  // Interlaced files decode in one png_read_image only with this asked for first.
  png_set_interlace_handling(m_png);
  png_read_update_info(m_png, m_info);
  png_get_IHDR(m_png, m_info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  m_width = width;
  m_height = height;
  m_bitDepth = std::uint32_t(depth);
  m_colourType = std::uint32_t(type);
  m_rowBytes = png_get_rowbytes(m_png, m_info);
  return true;
}

bool CPNGImageData::Decode(tTaskContext* task) {
  if (m_state != State::Loaded) {
    task->AddError("The image has no header to decode.");
    return false;
  }
  m_state = State::Failed;
  m_task = task;
  const std::uint32_t errorsBefore = task->GetErrorCount();
  const std::uint64_t bytes = std::uint64_t(m_rowBytes) * m_height;
  if (bytes > kMaxPixelBytes) {
    task->AddError("The image is too large to decode.");
  } else {
    m_pixels.reset(new (std::nothrow) std::uint8_t[std::size_t(bytes)]);
    m_rows.reset(new (std::nothrow) std::uint8_t*[m_height]);
    if (m_pixels == nullptr || m_rows == nullptr) {
      task->AddError("Out of memory.");
    } else {
      for (std::uint32_t y = 0; y < m_height; ++y) m_rows[y] = m_pixels.get() + std::size_t(y) * m_rowBytes;
      if (ReadRows() && task->GetErrorCount() == errorsBefore) m_state = State::Decoded;
    }
  }
  ReleaseStream();
  return m_state == State::Decoded;
}

bool CPNGImageData::ReadRows() {
  if (setjmp(png_jmpbuf(m_png))) return false;
  png_read_image(m_png, m_rows.get());
  png_read_end(m_png, nullptr);
  return true;
}

void CPNGImageData::ReleaseStream() {
  if (m_stream == nullptr) return;
  m_stream->Release();
  m_stream = nullptr;
}

void CPNGImageData::OnError(png_struct_def* png, const char* message) {
  auto* self = static_cast<CPNGImageData*>(png_get_error_ptr(png));
  self->m_task->AddError(message);
  png_longjmp(png, 1);
}

// Warnings (a bad ancillary chunk CRC, say) leave the image usable.
void CPNGImageData::OnWarning(png_struct_def*, const char*) {}

void CPNGImageData::OnRead(png_struct_def* png, std::uint8_t* buffer, std::size_t length) {
  auto* self = static_cast<CPNGImageData*>(png_get_io_ptr(png));
  if (length > UINT32_MAX || self->m_stream->Read(buffer, 1, std::uint32_t(length)) != length) {
    png_error(png, "Read Error");
  }
}
