#pragma once
// Textures: surfaces of mip levels holding CARGB (0xAARRGGBB) words, and the PNG decoder that fills a
// level from an engine stream.
//
// A level's pixels are CARGB words (bytes B, G, R, A in memory), not the bytes R, G, B, A in that order:
// every user (the GUI's glyphs and quads, the 2-D renderer's surfaces, script colours) speaks CARGB, so
// the conversion happens once, where bytes come in and go out: the PNG decoder and the texture chunk
// (whose stored format-1 pixels stay R, G, B, A bytes) convert, nothing else does.
//
// Errors: false or null results; a level that cannot be filled keeps what it held. Sides above
// kMaxSide are refused. Locking: none (a texture is loaded on one thread and then only read).
#include <cstdint>
#include <memory>

#include <engine/Colour.h>
#include <engine/Resource.h>

namespace Vexil3D {

class Stream;

// One mip level: width x height CARGB words, row after row.
class CMipLevel {
 public:
  static constexpr std::uint32_t kMaxSide = 16384;

  CMipLevel() = default;
  CMipLevel(const CMipLevel&) = delete;
  CMipLevel& operator=(const CMipLevel&) = delete;

  // Sizes the level and gives it a new zeroed buffer (none for an empty side); false, leaving the
  // level empty, when a side exceeds kMaxSide or allocation fails.
  bool Create(std::uint32_t width, std::uint32_t height);
  // Takes over a buffer of width x height words made with new[].
  void Adopt(CARGB* pixels, std::uint32_t width, std::uint32_t height, bool alpha);
  void Clear();
  // Copies count pixels to the buffer from the start of the row; false when the level is empty, the
  // row is not below the height or the pixels would run past the buffer.
  bool WriteRows(std::uint32_t row, std::uint32_t count, const CARGB* pixels);

  std::uint32_t GetWidth() const { return m_uWidth; }
  std::uint32_t GetHeight() const { return m_uHeight; }
  bool HasAlpha() const { return m_bAlpha != 0; }
  void SetAlpha(bool alpha) { m_bAlpha = alpha ? 1 : 0; }
  CARGB* GetPixels() const { return m_pPixels.get(); }
  std::uint64_t GetPixelCount() const { return std::uint64_t(m_uWidth) * m_uHeight; }

 private:
  [[maybe_unused]] std::uint8_t m_bExternal = 0;  // the buffer always belongs to the level here
  std::uint32_t m_uWidth = 0;
  std::uint32_t m_uHeight = 0;
  std::uint8_t m_bAlpha = 0;
  std::unique_ptr<CARGB[]> m_pPixels;
};

class Surface : public Resource {};

class Texture : public Surface {
 public:
  explicit Texture(std::uint32_t mipCount);
  ~Texture() override;

  // Of the current level; 0 when the texture has no levels.
  virtual std::uint32_t GetWidth();
  virtual std::uint32_t GetHeight();
  // The current level's alpha flag (1 when its pixels carry alpha); 0 without levels.
  virtual std::uint8_t GetFormat();
  virtual bool QueryArgument(void* argument);
  // Null past the last level.
  virtual CMipLevel* GetMipLevel(std::uint32_t index);
  virtual void Lock() {}
  virtual void Unlock() {}

  std::uint32_t GetMipCount() const { return m_uMipCount; }
  std::uint32_t GetCurrentMip() const { return m_uCurrentMip; }

 private:
  CMipLevel* GetCurrentLevel() { return GetMipLevel(m_uCurrentMip); }

  [[maybe_unused]] std::uint32_t m_uReserved = 0;
  std::uint32_t m_uCurrentMip = 0;
  std::uint32_t m_uMipCount;
  std::unique_ptr<CMipLevel[]> m_pLevels;
};

// Decodes a PNG (grey, RGB, grey and alpha, RGBA at any bit depth, interlaced or not) from the
// stream's position into the level. Any failure (no signature, palette image, damaged or truncated
// data, sides above CMipLevel::kMaxSide, no memory) leaves the level as it was.
bool DecodePNG(Stream* stream, CMipLevel* level);

}  // namespace Vexil3D
