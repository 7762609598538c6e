// Game textures from images and quads drawn through the game's own renderer.
#include <base/ImageData.h>
#include <hack/GameRoutines.h>
#include <hack/RendererBridge.h>

#include <cmath>
#include <cstring>

#include "GamePlace.h"

namespace {

constexpr std::uint32_t kPixelBits = 32;
constexpr std::uint32_t kRedMask = 0x00FF0000;
constexpr std::uint32_t kGreenMask = 0x0000FF00;
constexpr std::uint32_t kBlueMask = 0x000000FF;
constexpr std::uint32_t kAlphaMask = 0xFF000000;
constexpr std::uint32_t kSpecular = 0xFF000000;
constexpr float kPixelCentre = 0.5f;
constexpr std::uint16_t kQuadModeFlagSet = 2;
constexpr std::uint16_t kQuadModeFlagClear = 3;
constexpr std::uint32_t kQuadPrimitiveVertices = 4;

// The game's transformed-and-lit vertex and the record its quad routine takes.
struct GameVertex {
  float x, y, z, rhw;
  std::uint32_t colour, specular;
  float u, v;
};
struct GameQuad {
  std::uint16_t mode;
  std::uint16_t zero;
  GameVertex vertices[kQuadPrimitiveVertices];
};
static_assert(sizeof(GameVertex) == 32 && sizeof(GameQuad) == 132);

constexpr GamePlace kDepth{0x753C28, 0x753CC0, 0x753D00, 0x55D25C};
constexpr GamePlace kQuadStatePointer{0x753854, 0x75397C, 0x7539BC, 0xD9AB34};
constexpr GamePlace kPrimitiveVertices{0x7E70D0, 0x7E71E0, 0x7E7220, 0xE4B100};
constexpr GamePlace kQuadRoutinePointer{0x5339A4, 0x533AD4, 0x533B14, 0x876C04};
constexpr GamePlace kTextureGlobal{0x7537C8, 0x7538F4, 0x753934, 0};
constexpr GamePlace kStateBlock{0, 0, 0, 0xD99DA8};

IDirectDrawSurface7* ReleaseBoth(IDirectDrawSurface7* surface, IDirect3DTexture2* texture) {
  if (texture != nullptr) ComRelease(texture);
  ComRelease(surface);
  return nullptr;
}

}  // namespace

namespace Game {

IDirectDrawSurface7* CreateTextureSurface(CImageData* image, IDirect3DTexture2** texture, std::uint32_t* width,
                                          std::uint32_t* height) {
  if (texture != nullptr) *texture = nullptr;
  // Scripts may make textures before the game made its renderer.
  IDirectDraw7* directDraw = GetDirectDraw();
  if (image == nullptr || directDraw == nullptr) return nullptr;

  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  desc.dwWidth = image->GetWidth();
  desc.dwHeight = image->GetHeight();
  if (width != nullptr) *width = desc.dwWidth;
  if (height != nullptr) *height = desc.dwHeight;
  desc.ddpfPixelFormat.dwSize = sizeof desc.ddpfPixelFormat;
  desc.ddpfPixelFormat.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
  desc.ddpfPixelFormat.dwRGBBitCount = kPixelBits;
  desc.ddpfPixelFormat.dwRBitMask = kRedMask;
  desc.ddpfPixelFormat.dwGBitMask = kGreenMask;
  desc.ddpfPixelFormat.dwBBitMask = kBlueMask;
  desc.ddpfPixelFormat.dwRGBAlphaBitMask = kAlphaMask;
  desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
  desc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;

  IDirectDrawSurface7* surface = nullptr;
  if (ComCall(directDraw, kSlotDirectDrawCreateSurface, &desc, &surface, static_cast<void*>(nullptr)) < 0 ||
      surface == nullptr) {
    return nullptr;
  }
  IDirect3DTexture2* textureInterface = nullptr;
  if (ComCall(surface, kSlotQueryInterface, &IID_IDirect3DTexture2, reinterpret_cast<void**>(&textureInterface)) < 0 ||
      textureInterface == nullptr) {
    return ReleaseBoth(surface, nullptr);
  }

  DDSURFACEDESC2 locked{};
  locked.dwSize = sizeof locked;
  if (ComCall(surface, kSlotSurfaceLock, static_cast<void*>(nullptr), &locked, DDLOCK_NOSYSLOCK,
              static_cast<void*>(nullptr)) < 0 ||
      locked.lpSurface == nullptr) {
    return ReleaseBoth(surface, textureInterface);
  }
  auto* rows = static_cast<std::uint8_t*>(locked.lpSurface);
  for (std::uint32_t y = 0; y < desc.dwHeight; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(rows + std::size_t(y) * std::uint32_t(locked.lPitch));
    for (std::uint32_t x = 0; x < desc.dwWidth; ++x) row[x] = image->GetPixel(x, y);
  }
  ComCall(surface, kSlotSurfaceUnlock, static_cast<void*>(nullptr));

  if (texture != nullptr) {
    *texture = textureInterface;
  } else {
    ComRelease(textureInterface);
  }
  return surface;
}

bool CreateTexture(CImageData* image, GameTexture* record) {
  if (record == nullptr) return false;
  record->surface = CreateTextureSurface(image, &record->texture, &record->width, &record->height);
  return record->surface != nullptr;
}

void DrawRotatedQuad(const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
                     const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
                     std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag) {
  IDirect3DDevice3* device = GetDirect3DDevice();
  if (device == nullptr) return;

  // Corners in the engine quad's order: top left, top right, bottom left, bottom right.
  constexpr float kCornerX[kQuadPrimitiveVertices] = {0, 1, 0, 1};
  constexpr float kCornerY[kQuadPrimitiveVertices] = {0, 0, 1, 1};
  const std::uint32_t colours[kQuadPrimitiveVertices] = {colour0, colour1, colour2, colour3};
  const float depth = ReadAt<float>(kDepth);
  const float cosine = std::cos(angle);
  const float sine = std::sin(angle);

  GameQuad quad{};
  quad.mode = flag ? kQuadModeFlagSet : kQuadModeFlagClear;
  for (std::uint32_t i = 0; i < kQuadPrimitiveVertices; ++i) {
    float x = (kCornerX[i] - pivot->x) * size->x;
    float y = (kCornerY[i] - pivot->y) * size->y;
    if (angle != 0) {
      const float rotatedX = x * cosine - y * sine;
      y = x * sine + y * cosine;
      x = rotatedX;
    }
    GameVertex& vertex = quad.vertices[i];
    vertex.x = x * scale->x + position->x - kPixelCentre;
    vertex.y = y * scale->y + position->y - kPixelCentre;
    vertex.z = depth;
    vertex.rhw = depth;
    vertex.colour = colours[i];
    vertex.specular = kSpecular;
    vertex.u = uvOrigin->x + kCornerX[i] * uvSize->x;
    vertex.v = uvOrigin->y + kCornerY[i] * uvSize->y;
  }

  const auto state = ReadAt<std::uint32_t>(kQuadStatePointer);
  if (state != 0) {
    WriteGame<std::uint64_t>(state, 0);  // its two u32
  }
  WriteGame<std::uint32_t>(kPrimitiveVertices.At(), kQuadPrimitiveVertices);
  ComCall(device, kSlotDeviceSetRenderState, D3DRENDERSTATE_TEXTUREADDRESSU, D3DTADDRESS_CLAMP);
  ComCall(device, kSlotDeviceSetRenderState, D3DRENDERSTATE_TEXTUREADDRESSV, D3DTADDRESS_CLAMP);

  const auto routine = ReadAt<std::uint32_t>(kQuadRoutinePointer);
  if (routine != 0) reinterpret_cast<void (*)(GameQuad*)>(std::uintptr_t(routine))(&quad);
}

void FlushGameDrawing() {
  RunFrameRoutine2();
  RunFrameRoutine3();
  RunFrameRoutine1();
}

void DrawQuad(const GameTexture* texture, const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
              const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
              std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag) {
  if (GetDirect3DDevice() == nullptr) return;
  FlushGameDrawing();
  const std::uint32_t global = kTextureGlobal.At();
  const auto saved = ReadGame<std::uint32_t>(global);
  WriteGame(global, std::uint32_t(reinterpret_cast<std::uintptr_t>(texture)));
  DrawRotatedQuad(position, size, uvOrigin, uvSize, colour0, colour1, colour2, colour3, pivot, angle, scale, flag);
  FlushGameDrawing();
  WriteGame(global, saved);
}

void DrawQuadV(const void* block, const FloatPair* position, const FloatPair* size, const FloatPair* uvOrigin,
               const FloatPair* uvSize, std::uint32_t colour0, std::uint32_t colour1, std::uint32_t colour2,
               std::uint32_t colour3, const FloatPair* pivot, float angle, const FloatPair* scale, bool flag) {
  if (GetDirect3DDevice() == nullptr) return;
  // A texture that could not be made arrives as null: the quad goes untextured.
  static const std::uint8_t kNoTexture[kRenderStateBlockSize] = {};
  FlushGameDrawing();
  void* game = GamePointer(kStateBlock.At());
  std::uint8_t saved[kRenderStateBlockSize];
  std::memcpy(saved, game, sizeof saved);
  std::memcpy(game, block != nullptr ? block : kNoTexture, kRenderStateBlockSize);
  DrawRotatedQuad(position, size, uvOrigin, uvSize, colour0, colour1, colour2, colour3, pivot, angle, scale, flag);
  FlushGameDrawing();
  std::memcpy(game, saved, sizeof saved);
}

}  // namespace Game
