#pragma once
// The bridge to the game's DirectDraw 7 and Direct3D renderer: game textures
// made from decoded images, and one rotated, scaled, tinted quad submitted
// through the game's own quad routine between flushes of what the game queued.
//
// Errors: texture creation fails quietly with null or false (every interface
// made on the way is released again); drawing reports nothing. Before the
// game made its renderer (no DirectDraw object, or no device) nothing is
// created and nothing is drawn. Locks: none; the game's main thread only,
// during Render2D.
#include <hack/DirectDraw.h>

#include <cstdint>

class CImageData;

namespace Game {

// A pair of floats (position, size, texture coordinates, pivot, scale).
struct FloatPair {
  float x, y;
};

// A game texture as its creator keeps it. Its first two words are what the
// game's texture global (IV builds) points at and what the game's state block
// (game V) begins with.
struct GameTexture {
  IDirectDrawSurface7* surface;
  IDirect3DTexture2* texture;
  std::uint32_t width;
  std::uint32_t height;
};

// The size of game V's renderer state block that Game::DrawQuadV swaps in.
constexpr std::uint32_t kRenderStateBlockSize = 43;

// A 32-bit texture surface holding image's pixels (0xAARRGGBB). The surface's
// texture interface goes to *texture (or is released when texture is null);
// the image's size to *width and *height when given. Returns the surface (one
// reference for the caller) or null.
IDirectDrawSurface7* CreateTextureSurface(CImageData* image, IDirect3DTexture2** texture, std::uint32_t* width,
                                          std::uint32_t* height);
// Fills record through CreateTextureSurface; false when no surface was made.
bool CreateTexture(CImageData* image, GameTexture* record);

// Hands the game one quad: corners (0, 0) to (1, 1) of size taken about pivot
// (a fraction of the size), rotated by angle (radians), scaled, moved to
// position; texture coordinates from uvOrigin to uvOrigin + uvSize; corner
// colours top left, top right, bottom left, bottom right; flag chooses the
// game's quad mode (2 when set, 3 when not). textureIndex goes into the quad
// record's second u16: the game's own texture of that index, or 0, which
// draws with whatever texture the game has current (DrawQuad, DrawQuadV).
void DrawRotatedQuad(const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
                     const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
                     std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag,
                     std::uint16_t textureIndex);

// Draws what the game has queued so far (the three routines of its frame).
void FlushGameDrawing();

// IV builds: flushes, makes texture (a GameTexture, or null for none) the
// game's current texture, draws the quad, flushes again and puts the game's
// texture back.
void DrawQuad(const GameTexture* texture, const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
              const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
              std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag);
// Game V: the same with the caller's kRenderStateBlockSize-byte state block
// (null: a zeroed one, no texture) in place of the game's.
void DrawQuadV(const void* block, const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
               const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
               std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag);

}  // namespace Game
