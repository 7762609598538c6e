// Game textures kept in the form each build's quad routine takes them.
#include <scripthost/GameTextureRecord.h>

#include <cstring>

#include <hack/GameVersion.h>

namespace {

// The state block of game V begins with the texture record {surface, texture}.
constexpr std::size_t kBlockSurfaceOffset = 0;
constexpr std::size_t kBlockTextureOffset = sizeof(std::uint32_t);

}  // namespace

bool IsGameVBuild() { return GameVersion == GAMEVERSION_V_RELEASE_PATCHED || GameVersion == GAMEVERSION_V_RELEASE; }

bool CGameTextureRecord::Create(CImageData* image) {
  Release();
  if (IsGameVBuild()) {
    m_Texture.surface = Game::CreateTextureSurface(image, &m_Texture.texture, &m_Texture.width, &m_Texture.height);
    if (m_Texture.surface == nullptr) {
      m_Texture = {};
      return false;
    }
    const auto surface = std::uint32_t(reinterpret_cast<std::uintptr_t>(m_Texture.surface));
    const auto texture = std::uint32_t(reinterpret_cast<std::uintptr_t>(m_Texture.texture));
    std::memcpy(m_StateBlock + kBlockSurfaceOffset, &surface, sizeof surface);
    std::memcpy(m_StateBlock + kBlockTextureOffset, &texture, sizeof texture);
    return true;
  }
  if (!Game::CreateTexture(image, &m_Texture)) {
    m_Texture = {};
    return false;
  }
  return true;
}

void CGameTextureRecord::Release() {
  if (m_Texture.texture != nullptr) ComRelease(m_Texture.texture);
  if (m_Texture.surface != nullptr) ComRelease(m_Texture.surface);
  m_Texture = {};
  std::memset(m_StateBlock, 0, sizeof m_StateBlock);
}

void CGameTextureRecord::Draw(const CGameTextureRecord* record, const Game::FloatPair* position,
                              const Game::FloatPair* size, const Game::FloatPair* uvOrigin,
                              const Game::FloatPair* uvSize, const std::uint32_t colours[4],
                              const Game::FloatPair* pivot, float angle, const Game::FloatPair* scale, bool flag) {
  const bool textured = record != nullptr && record->IsCreated();
  if (IsGameVBuild()) {
    Game::DrawQuadV(textured ? record->m_StateBlock : nullptr, position, size, uvOrigin, uvSize, colours[0], colours[1],
                    colours[2], colours[3], pivot, angle, scale, flag);
  } else {
    Game::DrawQuad(textured ? &record->m_Texture : nullptr, position, size, uvOrigin, uvSize, colours[0], colours[1],
                   colours[2], colours[3], pivot, angle, scale, flag);
  }
}
