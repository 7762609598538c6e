// Textures and their mip levels of CARGB words.
#include <engine/Texture.h>

#include <cstring>
#include <new>

namespace Vexil3D {

// ---------------------------------------------------------------------------------------------
// CMipLevel

bool CMipLevel::Create(std::uint32_t width, std::uint32_t height) {
  Clear();
  if (width > kMaxSide || height > kMaxSide) return false;
  const std::uint64_t count = std::uint64_t(width) * height;
  if (count != 0) {
    m_pPixels.reset(new (std::nothrow) CARGB[count]());
    if (!m_pPixels) return false;
  }
  m_uWidth = width;
  m_uHeight = height;
  return true;
}

void CMipLevel::Adopt(CARGB* pixels, std::uint32_t width, std::uint32_t height, bool alpha) {
  m_pPixels.reset(pixels);
  m_uWidth = width;
  m_uHeight = height;
  SetAlpha(alpha);
}

void CMipLevel::Clear() {
  m_pPixels.reset();
  m_uWidth = 0;
  m_uHeight = 0;
}

bool CMipLevel::WriteRows(std::uint32_t row, std::uint32_t count, const CARGB* pixels) {
  if (m_uWidth == 0 || row >= m_uHeight || !m_pPixels) return false;
  const std::uint64_t start = std::uint64_t(row) * m_uWidth;
  if (start + count > GetPixelCount()) return false;
  if (count != 0) std::memcpy(m_pPixels.get() + start, pixels, std::size_t(count) * sizeof(CARGB));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Texture

Texture::Texture(std::uint32_t mipCount) : m_uMipCount(mipCount) {
  if (mipCount != 0) m_pLevels.reset(new (std::nothrow) CMipLevel[mipCount]);
  if (!m_pLevels) m_uMipCount = 0;
}

Texture::~Texture() { ReleaseHWResource(); }

std::uint32_t Texture::GetWidth() {
  CMipLevel* level = GetCurrentLevel();
  return level ? level->GetWidth() : 0;
}

std::uint32_t Texture::GetHeight() {
  CMipLevel* level = GetCurrentLevel();
  return level ? level->GetHeight() : 0;
}

std::uint8_t Texture::GetFormat() {
  CMipLevel* level = GetCurrentLevel();
  return level && level->HasAlpha() ? 1 : 0;
}

bool Texture::QueryArgument(void*) { return false; }

CMipLevel* Texture::GetMipLevel(std::uint32_t index) { return index < m_uMipCount ? &m_pLevels[index] : nullptr; }

}  // namespace Vexil3D
