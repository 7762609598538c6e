#pragma once
// A PNG image decoded through libpng into 8- or 16-bit rows of grey, grey and
// alpha, RGB or RGBA (palettes expand to RGB, low-bit grey to 8 bits, a tRNS
// chunk to an alpha channel; 16-bit samples are kept little-endian).
//
// Errors: libpng's own messages reach the task of the step running (a short
// read from the stream is one of them) and the step answers false. Hostile
// files are bounded: at most kMaxDimension pixels a side, kMaxChunkBytes per
// ancillary chunk and kMaxPixelBytes of decoded rows. Locking: none.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <base/LoadedImageData.h>

struct png_struct_def;
struct png_info_def;

class CPNGImageData : public CLoadedImageData {
 public:
  static constexpr std::uint32_t kMaxDimension = 16384;
  static constexpr std::uint32_t kMaxChunkBytes = 8u << 20;
  static constexpr std::uint64_t kMaxPixelBytes = 256u << 20;

  // Count 1; nothing read yet.
  CPNGImageData() = default;
  ~CPNGImageData() override;

  std::uint32_t GetWidth() override { return m_width; }
  std::uint32_t GetHeight() override { return m_height; }
  // Colour types 4 and 6 after the transformations (RGB with tRNS included).
  bool HasAlpha() override;
  // 0xAARRGGBB of a pixel inside the image (not range-checked); 16-bit samples
  // are scaled down to 8 bits, rounding down.
  std::uint32_t GetPixel(std::uint32_t x, std::uint32_t y) override;

  bool Load(tTaskContext* task, CStream* stream) override;
  bool Decode(tTaskContext* task) override;

  // After Load: libpng's bit depth and colour type of the decoded rows.
  std::uint32_t GetBitDepth() const { return m_bitDepth; }
  std::uint32_t GetColourType() const { return m_colourType; }

 private:
  enum class State : std::uint8_t { Empty, Loaded, Decoded, Failed };

  // The libpng calls of each step; these frames hold nothing with a destructor,
  // since libpng's error return jumps out of them.
  bool ReadHeader();
  bool ReadRows();
  void ReleaseStream();

  static void OnError(png_struct_def* png, const char* message);
  static void OnWarning(png_struct_def* png, const char* message);
  static void OnRead(png_struct_def* png, std::uint8_t* buffer, std::size_t length);

  png_struct_def* m_png = nullptr;  // owned, with m_info
  png_info_def* m_info = nullptr;
  std::uint32_t m_bitDepth = 0;
  std::uint32_t m_colourType = 0;
  std::unique_ptr<std::uint8_t[]> m_pixels;   // height x m_rowBytes
  std::unique_ptr<std::uint8_t*[]> m_rows;    // one pointer per row into m_pixels
  std::size_t m_rowBytes = 0;
  std::uint32_t m_width = 0;
  std::uint32_t m_height = 0;
  CStream* m_stream = nullptr;      // counted, from Load until Decode ends
  tTaskContext* m_task = nullptr;   // the step running; not counted
  State m_state = State::Empty;
};
