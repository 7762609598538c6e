#pragma once
// The game double's renderer: fake DirectDraw 7 and Direct3D objects with the
// Win32 memory layout (first word a pointer to a table of stdcall entries at
// the real slot indices), the quad records the game's quad routine takes, and
// the software rasteriser that the double's flush routines run.
//
// What the double settles where the game's description leaves it open:
// - Device generation: the game's device is an IDirect3DDevice3 (the
//   generation that pairs with IDirect3DTexture2); SetRenderState is slot 22.
// - Surfaces: CreateSurface makes a surface of the asked width and height
//   whose pixels live in ordinary memory with a pitch of width × 4 +
//   kPitchPadding bytes; the padding of each row holds kPaddingByte, so a
//   write past a row shows. The surface and its IDirect3DTexture2 interface
//   are one object with one reference count, as in DirectDraw: CreateSurface
//   gives 1, QueryInterface adds 1, Release through either interface takes 1,
//   and the object dies at 0.
// - Texture records: 8 bytes, u32 at offset 0 the IDirectDrawSurface7*, u32
//   at offset 4 that surface's IDirect3DTexture2* (or 0). A zero surface draws
//   untextured (texel white); a surface the double did not make, a released
//   one, or a texture interface of another surface counts in BadTextures() and
//   draws untextured.
// - Where the quad routine finds its texture: the quad record's second u16 is
//   a texture index into the game's texture table. Builds A-C: the texture
//   global holds the table's address (the double's own table of
//   kGameTextureSlots records of kTextureRecordStrideIV bytes, its count in
//   the u32 just below the global); the DLL's DrawQuad swaps the global for
//   the address of its own record and draws index 0. Build D: the table is
//   kGameTextureSlots records of kStateBlockSize bytes whose first is the
//   43-byte state block (its count just after the last); DrawQuadV swaps that
//   block with its own. Index 0 is always read; an index from 1 up is read
//   only while it is below the count and the global (A-C) still holds the
//   double's own table, else it counts as a bad texture and draws untextured.
//   The table is read when the queue is flushed, as the game's own renderer
//   does, so a value stored in the wrong place (or put back before the flush)
//   draws untextured.
// - Quad records: QuadRecord below: u16 mode, u16 texture index, then four
//   TLVertex corners in the order of the engine's quad (top left, top right,
//   bottom left, bottom right of the unrotated quad), drawn as the triangles
//   (top left, top right, bottom left) and (top right, bottom right, bottom
//   left). The quad routine is cdecl and takes one argument: the record's
//   address; it copies the record.
// - Vertices: the 32-byte transformed-and-lit layout: x, y, z, rhw (floats),
//   colour, specular (u32 0xAARRGGBB), u, v (floats). The bridge writes the
//   game's depth value into both z and rhw; the rasteriser reads x, y,
//   colour, u and v. Both modes (2 and 3) draw alike; the mode is recorded.
//
// Rasterisation rules: pixel centres on integer coordinates (x, y), so that a
// quad the bridge moves by −0.5 covers exactly the pixels of its rectangle; a
// centre exactly on an edge belongs to the triangle when the edge is a top
// edge (horizontal, the triangle below it) or a left edge, so the shared
// diagonal is drawn once; colour and (u, v) are interpolated linearly
// (barycentric, no perspective); the texel is the nearest one, floor(u ×
// width), floor(v × height), each clamped to the texture; texel × colour per
// channel, (t × c + 127) / 255; blended over the frame with the source alpha
// a: rgb = (s × a + d × (255 − a) + 127) / 255, alpha = a + (d_a × (255 − a)
// + 127) / 255. Quads outside the frame are clipped.
//
// Errors: every COM entry answers an HRESULT; an injected failure answers the
// injected code and changes nothing. No locks: game's main thread only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <hack/testing/Picture.h>

namespace gamedouble {

using HRESULT32 = std::int32_t;
constexpr HRESULT32 kDdOk = 0;
constexpr HRESULT32 kEFail = std::int32_t(0x80004005u);
constexpr HRESULT32 kENoInterface = std::int32_t(0x80004002u);
constexpr HRESULT32 kDdErrInvalidParams = std::int32_t(0x80070057u);

// GUID, as Win32 lays it out.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};
constexpr Guid kIidDirect3DTexture2{0x93281502, 0x8CF8, 0x11D0, {0x89, 0xAB, 0x00, 0xA0, 0xC9, 0x05, 0x41, 0x29}};

// DDPIXELFORMAT (32 bytes) and DDSURFACEDESC2 (124 bytes), Win32 layout.
struct DdPixelFormat {
  std::uint32_t size, flags, fourCC, rgbBitCount, redMask, greenMask, blueMask, alphaMask;
};
struct DdColorKey {
  std::uint32_t low, high;
};
struct DdSurfaceDesc2 {
  std::uint32_t size, flags, height, width;
  std::int32_t pitch;
  std::uint32_t backBufferCount, mipMapCount, alphaBitDepth, reserved;
  std::uint32_t surface;  // lpSurface: the pixels' address while locked
  DdColorKey destOverlay, destBlt, srcOverlay, srcBlt;
  DdPixelFormat pixelFormat;
  std::uint32_t caps, caps2, caps3, caps4;
  std::uint32_t textureStage;
};
static_assert(sizeof(DdPixelFormat) == 32 && sizeof(DdSurfaceDesc2) == 124);
static_assert(offsetof(DdSurfaceDesc2, pixelFormat) == 72 && offsetof(DdSurfaceDesc2, caps) == 104);

constexpr std::uint32_t kDdsdCaps = 0x1, kDdsdHeight = 0x2, kDdsdWidth = 0x4, kDdsdPitch = 0x8;
constexpr std::uint32_t kDdsdPixelFormat = 0x1000, kDdsdLpSurface = 0x800;
constexpr std::uint32_t kDdpfAlphaPixels = 0x1, kDdpfRgb = 0x40;
constexpr std::uint32_t kDdsCapsTexture = 0x1000, kDdsCaps2TextureManage = 0x10;
constexpr std::uint32_t kDdLockWait = 0x1, kDdLockNoSysLock = 0x800;

// Slot indices of the stdcall tables.
constexpr std::uint32_t kSlotQueryInterface = 0, kSlotAddRef = 1, kSlotRelease = 2;
constexpr std::uint32_t kSlotDirectDrawCreateSurface = 6;       // IDirectDraw7
constexpr std::uint32_t kSlotSurfaceLock = 25, kSlotSurfaceUnlock = 32;  // IDirectDrawSurface7
constexpr std::uint32_t kSlotDeviceSetRenderState = 22;         // IDirect3DDevice3

// Render states and values the bridge uses.
constexpr std::uint32_t kRenderStateTextureAddressU = 44, kRenderStateTextureAddressV = 45;
constexpr std::uint32_t kTextureAddressClamp = 3;

// Surface rows are this much longer than width × 4; the padding holds kPaddingByte.
constexpr std::uint32_t kPitchPadding = 24;
constexpr std::uint8_t kPaddingByte = 0xCD;

struct TLVertex {
  float x, y, z, rhw;
  std::uint32_t colour, specular;
  float u, v;
};
static_assert(sizeof(TLVertex) == 32);

constexpr std::uint16_t kQuadModeFlagFalse = 3, kQuadModeFlagTrue = 2;
// Corner indices of a quad record, in the engine quad's order.
constexpr std::uint32_t kCornerTopLeft = 0, kCornerTopRight = 1, kCornerBottomLeft = 2, kCornerBottomRight = 3;
constexpr std::uint32_t kQuadCorners = 4;
struct QuadRecord {
  std::uint16_t mode;
  std::uint16_t textureIndex;
  TLVertex vertices[kQuadCorners];
};
static_assert(sizeof(QuadRecord) == 132);

// The start of a record of the game's texture table (and of the 43-byte
// state block of D, its first record).
struct TextureRecord {
  std::uint32_t surface;  // IDirectDrawSurface7*
  std::uint32_t texture;  // IDirect3DTexture2* of the same surface, or 0
};
constexpr std::uint32_t kStateBlockSize = 43;
// The IV builds' records: surface, texture, width, height.
constexpr std::uint32_t kTextureRecordStrideIV = 16;
constexpr std::uint32_t kGameTextureSlots = 64;

// The methods whose failure tests can inject.
enum class Method : std::uint32_t {
  CreateSurface,
  QueryInterface,  // of a surface, for any interface
  Lock,
  Unlock,
  SetRenderState,
  Count
};

// One fake surface as the double sees it.
struct SurfaceInfo {
  std::uint32_t surface = 0;  // IDirectDrawSurface7* (address of the object)
  std::uint32_t texture = 0;  // its IDirect3DTexture2* interface
  std::uint32_t width = 0, height = 0, pitch = 0;
  std::uint32_t references = 0;  // 0: released (the record stays for tests)
  bool locked = false;
  std::uint32_t lockFlags = 0;   // of the last Lock
  bool lockedWhole = false;      // the last Lock named no rectangle
  std::uint32_t locks = 0, unlocks = 0;
  DdSurfaceDesc2 desc{};  // as CreateSurface received it
};

class CRendererDouble {
 public:
  CRendererDouble();
  ~CRendererDouble();
  CRendererDouble(const CRendererDouble&) = delete;
  CRendererDouble& operator=(const CRendererDouble&) = delete;

  // Addresses of the IDirectDraw7 and IDirect3DDevice3 objects (never 0).
  std::uint32_t DirectDraw() const;
  std::uint32_t Device() const;
  // Reference counts of the two (1 as the game holds them).
  std::uint32_t DirectDrawReferences() const;
  std::uint32_t DeviceReferences() const;

  // The next `count` calls of the method fail with `result` (count 0 stops it).
  void InjectFailure(Method method, HRESULT32 result = kEFail, std::uint32_t count = 1);
  // Calls of each method so far (failed ones included).
  std::uint32_t CallCount(Method method) const;

  // Every surface ever made, oldest first; and how many still hold references.
  const std::vector<SurfaceInfo>& Surfaces() const { return m_Surfaces; }
  std::uint32_t LiveSurfaces() const;
  // The surface info of an IDirectDrawSurface7* or IDirect3DTexture2*, or null.
  const SurfaceInfo* Find(std::uint32_t anyInterface) const;
  // Pixel (x, y) of a surface, read at its pitch.
  std::uint32_t Pixel(std::uint32_t surface, std::uint32_t x, std::uint32_t y) const;
  // True when no row padding byte of the surface was overwritten.
  bool PaddingIntact(std::uint32_t surface) const;
  // A surface made as CreateSurface would (one reference) and filled with
  // rows of pixels; for tests that draw without the bridge. Returns the
  // IDirectDrawSurface7*; TextureOf gives its IDirect3DTexture2*.
  std::uint32_t MakeTexture(std::uint32_t width, std::uint32_t height, const std::vector<std::uint32_t>& pixels);
  std::uint32_t TextureOf(std::uint32_t surface) const;

  // SetRenderState calls in order: (state, value).
  const std::vector<std::array<std::uint32_t, 2>>& RenderStates() const { return m_RenderStates; }

  // The quad queue and what the flushes drew.
  void Queue(const QuadRecord& record) {
    m_Queue.push_back(record);
    m_Submitted.push_back(record);
  }
  const std::vector<QuadRecord>& Queued() const { return m_Queue; }
  // Every record ever queued, oldest first (kept after drawing).
  const std::vector<QuadRecord>& Submitted() const { return m_Submitted; }
  // Rasterises the queue into the frame with the texture record given (null:
  // untextured) and empties it.
  void Flush(const TextureRecord* texture, CPicture& frame);
  // The same with a texture looked up per quad: the lookup answers the record
  // (null: untextured) and clears `valid` for a texture value that no game
  // would hold there (counted in BadTextures()).
  using TextureLookup = std::function<const TextureRecord*(const QuadRecord& quad, bool& valid)>;
  void Flush(const TextureLookup& lookup, CPicture& frame);
  std::uint32_t DrawnQuads() const { return m_DrawnQuads; }
  std::uint32_t BadTextures() const { return m_BadTextures; }

  // Rasterises one quad (see the rules above); a null pixel source draws
  // untextured.
  struct Texels {
    const std::uint8_t* pixels;
    std::uint32_t width, height, pitch;
  };
  static void DrawQuad(const QuadRecord& quad, const Texels* texels, CPicture& frame);

  // What the stdcall tables reach (internal).
  struct Object;
  bool ShouldFail(Method method, HRESULT32& result);
  void RecordRenderState(std::uint32_t state, std::uint32_t value) { m_RenderStates.push_back({state, value}); }
  std::uint32_t NewSurface(const DdSurfaceDesc2& desc);
  SurfaceInfo& SurfaceAt(std::uint32_t index) { return m_Surfaces[index]; }
  std::uint8_t* PixelsAt(std::uint32_t index) { return m_PixelMemory[index] ? m_PixelMemory[index]->data() : nullptr; }
  void ReleaseSurfaceMemory(std::uint32_t index) { m_PixelMemory[index].reset(); }

 private:
  struct Injection {
    HRESULT32 result = kEFail;
    std::uint32_t remaining = 0;
    std::uint32_t calls = 0;
  };
  std::array<Injection, std::size_t(Method::Count)> m_Injections{};
  std::vector<SurfaceInfo> m_Surfaces;
  std::vector<std::unique_ptr<Object>> m_Objects;  // the two game objects, then two per surface
  std::vector<std::unique_ptr<std::vector<std::uint8_t>>> m_PixelMemory;  // one per surface, null once released
  std::vector<std::array<std::uint32_t, 2>> m_RenderStates;
  std::vector<QuadRecord> m_Queue, m_Submitted;
  std::uint32_t m_DrawnQuads = 0;
  std::uint32_t m_BadTextures = 0;
};

}  // namespace gamedouble
