#pragma once
// CGameTextureRecord: one game texture as the 2-D renderer and the script class Texture keep it: the bridge's
// texture record on game IV builds, and on game V builds the renderer state block that the game swaps in (its
// first two words the same surface and texture interfaces); made from an image, drawn with, released.
//
// Errors: Create fails quietly (false, nothing held) when the game cannot make the texture; drawing reports
// nothing. Ownership: the record holds one reference on each of its two interfaces while created and releases
// them in Release and its destructor. Locking: none; the game's main thread only.
#include <cstdint>

#include <hack/RendererBridge.h>

class CImageData;

class CGameTextureRecord {
 public:
  CGameTextureRecord() = default;
  ~CGameTextureRecord() { Release(); }
  CGameTextureRecord(const CGameTextureRecord&) = delete;
  CGameTextureRecord& operator=(const CGameTextureRecord&) = delete;

  // Makes the game texture of the image's pixels (a texture made before is released first).
  bool Create(CImageData* image);
  // Releases both interfaces and clears the record.
  void Release();
  bool IsCreated() const { return m_Texture.surface != nullptr; }
  std::uint32_t GetWidth() const { return m_Texture.width; }
  std::uint32_t GetHeight() const { return m_Texture.height; }

  // Draws one quad with the texture of record (null or not created: untextured) through the running build's
  // routine: Game::DrawQuadV on game V builds, Game::DrawQuad on the others.
  static void Draw(const CGameTextureRecord* record, const Game::FloatPair* position, const Game::FloatPair* size,
                   const Game::FloatPair* uvOrigin, const Game::FloatPair* uvSize, const std::uint32_t colours[4],
                   const Game::FloatPair* pivot, float angle, const Game::FloatPair* scale, bool flag);

 private:
  Game::GameTexture m_Texture{};
  // Game V: the state block the game swaps in, beginning with the two interfaces.
  std::uint8_t m_StateBlock[Game::kRenderStateBlockSize] = {};
};

// Game V builds keep their texture in a renderer state block (GameVersion 7 and 8).
bool IsGameVBuild();
