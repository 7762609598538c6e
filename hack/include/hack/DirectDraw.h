#pragma once
// The parts of the game renderer's COM interfaces that the program calls, in
// their Win32 layouts: DirectDraw 7 surfaces, the Direct3D texture and device
// interfaces, and DirectSound's root object. Each interface is a pointer to a
// table of stdcall routines whose first argument is the object; ComCall calls
// the routine in a given slot.
//
// Errors: HRESULTs as the interfaces return them (negative is failure).
// Locking: none; the game's renderer is used from its main thread.
#include <platform/guid.h>
#include <platform/win32types.h>

#include <cstddef>
#include <cstdint>

struct DDCOLORKEY {
  std::uint32_t low;
  std::uint32_t high;
};

struct DDPIXELFORMAT {
  std::uint32_t dwSize;
  std::uint32_t dwFlags;
  std::uint32_t dwFourCC;
  std::uint32_t dwRGBBitCount;
  std::uint32_t dwRBitMask;
  std::uint32_t dwGBitMask;
  std::uint32_t dwBBitMask;
  std::uint32_t dwRGBAlphaBitMask;
};

struct DDSCAPS2 {
  std::uint32_t dwCaps;
  std::uint32_t dwCaps2;
  std::uint32_t dwCaps3;
  std::uint32_t dwCaps4;
};

struct DDSURFACEDESC2 {
  std::uint32_t dwSize;
  std::uint32_t dwFlags;
  std::uint32_t dwHeight;
  std::uint32_t dwWidth;
  std::int32_t lPitch;
  std::uint32_t dwBackBufferCount;
  std::uint32_t dwMipMapCount;
  std::uint32_t dwAlphaBitDepth;
  std::uint32_t dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  std::uint32_t dwTextureStage;
};
static_assert(sizeof(DDPIXELFORMAT) == 32 && sizeof(DDSURFACEDESC2) == 124);
static_assert(offsetof(DDSURFACEDESC2, lpSurface) == 36 && offsetof(DDSURFACEDESC2, ddpfPixelFormat) == 72 &&
              offsetof(DDSURFACEDESC2, ddsCaps) == 104);

constexpr std::uint32_t DDSD_CAPS = 0x1;
constexpr std::uint32_t DDSD_HEIGHT = 0x2;
constexpr std::uint32_t DDSD_WIDTH = 0x4;
constexpr std::uint32_t DDSD_PIXELFORMAT = 0x1000;
constexpr std::uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr std::uint32_t DDPF_RGB = 0x40;
constexpr std::uint32_t DDSCAPS_TEXTURE = 0x1000;
constexpr std::uint32_t DDSCAPS2_TEXTUREMANAGE = 0x10;
constexpr std::uint32_t DDLOCK_NOSYSLOCK = 0x800;

// {93281502-8CF8-11D0-89AB-00A0C9054129}
constexpr GUID IID_IDirect3DTexture2 = {0x93281502, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};

constexpr std::uint32_t D3DRENDERSTATE_TEXTUREADDRESSU = 44;
constexpr std::uint32_t D3DRENDERSTATE_TEXTUREADDRESSV = 45;
constexpr std::uint32_t D3DTADDRESS_CLAMP = 3;

// Slots of the routine tables.
constexpr std::uint32_t kSlotQueryInterface = 0;
constexpr std::uint32_t kSlotAddRef = 1;
constexpr std::uint32_t kSlotRelease = 2;
constexpr std::uint32_t kSlotDirectDrawCreateSurface = 6;
constexpr std::uint32_t kSlotSurfaceLock = 25;
constexpr std::uint32_t kSlotSurfaceUnlock = 32;
constexpr std::uint32_t kSlotDeviceSetRenderState = 22;  // IDirect3DDevice3

struct IComObject {
  void* const* vtable;
};
struct IDirectDraw7 : IComObject {};
struct IDirectDrawSurface7 : IComObject {};
struct IDirect3DTexture2 : IComObject {};
struct IDirect3DDevice3 : IComObject {};
struct IDirectSound : IComObject {};

// An interface's routine is whatever its maker declared (its own object type in the first parameter): the
// call goes by the table's layout, so the function-type check of the undefined-behaviour sanitizer (clang's)
// does not apply.
#if defined(__clang__)
#define BRINDLE_COM_CALL __attribute__((no_sanitize("function")))
#else
#define BRINDLE_COM_CALL
#endif

template <typename Result = HRESULT, typename... Arguments>
BRINDLE_COM_CALL Result ComCall(IComObject* object, std::uint32_t slot, Arguments... arguments) {
  // The attribute sits inside the declarator: in front of the type GCC drops
  // it from a dependent function pointer type.
  typedef Result(__attribute__((stdcall)) * Routine)(IComObject*, Arguments...);
  return reinterpret_cast<Routine>(object->vtable[slot])(object, arguments...);
}

inline std::uint32_t ComRelease(IComObject* object) { return ComCall<std::uint32_t>(object, kSlotRelease); }
