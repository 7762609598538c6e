// The game double's fake DirectDraw 7 / Direct3D objects and its quad rasteriser.
#include <hack/testing/RendererDouble.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gamedouble {

// Win32 layout: the first word points at the table of stdcall entries.
struct CRendererDouble::Object {
  enum class Kind : std::uint32_t { DirectDraw, Device, Surface, Texture };
  const void* const* table;
  CRendererDouble* owner;
  Kind kind;
  std::uint32_t surfaceIndex;  // Surface and Texture
  std::uint32_t references;    // DirectDraw and Device; surfaces count in their SurfaceInfo
};

namespace {

using Object = CRendererDouble::Object;
using Kind = Object::Kind;

#define DOUBLE_STDCALL __attribute__((stdcall, force_align_arg_pointer))

constexpr HRESULT32 kDdErrSurfaceBusy = std::int32_t(0x887601AEu);
constexpr HRESULT32 kDdErrNotLocked = std::int32_t(0x887602B8u);
constexpr std::uint32_t kBytesPerPixel = 4;
// Enough slots for the highest index each table is asked for.
constexpr std::size_t kTableSlots = 50;

std::uint32_t AddressOf(const void* pointer) { return std::uint32_t(std::uintptr_t(pointer)); }

std::uint32_t& CountOf(Object* self) {
  if (self->kind == Kind::Surface || self->kind == Kind::Texture)
    return self->owner->SurfaceAt(self->surfaceIndex).references;
  return self->references;
}

std::uint32_t DOUBLE_STDCALL AddRef(Object* self) { return ++CountOf(self); }

std::uint32_t DOUBLE_STDCALL Release(Object* self) {
  std::uint32_t& count = CountOf(self);
  if (count == 0) return 0;  // an over-release shows as a count that stays 0
  if (--count == 0 && (self->kind == Kind::Surface || self->kind == Kind::Texture))
    self->owner->ReleaseSurfaceMemory(self->surfaceIndex);
  return count;
}

HRESULT32 DOUBLE_STDCALL QueryInterface(Object* self, const Guid* iid, std::uint32_t* out) {
  if (out == nullptr || iid == nullptr) return kDdErrInvalidParams;
  *out = 0;
  if (self->kind == Kind::Surface || self->kind == Kind::Texture) {
    HRESULT32 failure = kDdOk;
    if (self->owner->ShouldFail(Method::QueryInterface, failure)) return failure;
    if (std::memcmp(iid, &kIidDirect3DTexture2, sizeof(Guid)) != 0) return kENoInterface;
    *out = self->owner->SurfaceAt(self->surfaceIndex).texture;
    AddRef(self);
    return kDdOk;
  }
  return kENoInterface;
}

HRESULT32 DOUBLE_STDCALL CreateSurface(Object* self, DdSurfaceDesc2* desc, std::uint32_t* out, void* outer) {
  HRESULT32 failure = kDdOk;
  if (self->owner->ShouldFail(Method::CreateSurface, failure)) return failure;
  constexpr std::uint32_t kNeeded = kDdsdWidth | kDdsdHeight;
  if (desc == nullptr || out == nullptr || outer != nullptr || desc->size != sizeof(DdSurfaceDesc2) ||
      (desc->flags & kNeeded) != kNeeded || desc->width == 0 || desc->height == 0)
    return kDdErrInvalidParams;
  *out = self->owner->NewSurface(*desc);
  return kDdOk;
}

HRESULT32 DOUBLE_STDCALL Lock(Object* self, const void* rect, DdSurfaceDesc2* desc, std::uint32_t flags,
                              std::uint32_t) {
  HRESULT32 failure = kDdOk;
  if (self->owner->ShouldFail(Method::Lock, failure)) return failure;
  SurfaceInfo& info = self->owner->SurfaceAt(self->surfaceIndex);
  if (desc == nullptr || desc->size != sizeof(DdSurfaceDesc2)) return kDdErrInvalidParams;
  if (info.locked) return kDdErrSurfaceBusy;
  info.locked = true;
  info.lockFlags = flags;
  info.lockedWhole = rect == nullptr;
  ++info.locks;
  *desc = info.desc;
  desc->flags |= kDdsdPitch | kDdsdLpSurface | kDdsdWidth | kDdsdHeight;
  desc->pitch = std::int32_t(info.pitch);
  desc->surface = AddressOf(self->owner->PixelsAt(self->surfaceIndex));
  return kDdOk;
}

HRESULT32 DOUBLE_STDCALL Unlock(Object* self, const void*) {
  HRESULT32 failure = kDdOk;
  if (self->owner->ShouldFail(Method::Unlock, failure)) return failure;
  SurfaceInfo& info = self->owner->SurfaceAt(self->surfaceIndex);
  if (!info.locked) return kDdErrNotLocked;
  info.locked = false;
  ++info.unlocks;
  return kDdOk;
}

HRESULT32 DOUBLE_STDCALL SetRenderState(Object* self, std::uint32_t state, std::uint32_t value) {
  HRESULT32 failure = kDdOk;
  if (self->owner->ShouldFail(Method::SetRenderState, failure)) return failure;
  self->owner->RecordRenderState(state, value);
  return kDdOk;
}

using Table = std::array<const void*, kTableSlots>;

Table CommonTable() {
  Table table{};
  table[kSlotQueryInterface] = reinterpret_cast<const void*>(&QueryInterface);
  table[kSlotAddRef] = reinterpret_cast<const void*>(&AddRef);
  table[kSlotRelease] = reinterpret_cast<const void*>(&Release);
  return table;
}

const Table& TableOf(Kind kind) {
  static const Table directDraw = [] {
    Table table = CommonTable();
    table[kSlotDirectDrawCreateSurface] = reinterpret_cast<const void*>(&CreateSurface);
    return table;
  }();
  static const Table device = [] {
    Table table = CommonTable();
    table[kSlotDeviceSetRenderState] = reinterpret_cast<const void*>(&SetRenderState);
    return table;
  }();
  static const Table surface = [] {
    Table table = CommonTable();
    table[kSlotSurfaceLock] = reinterpret_cast<const void*>(&Lock);
    table[kSlotSurfaceUnlock] = reinterpret_cast<const void*>(&Unlock);
    return table;
  }();
  static const Table texture = CommonTable();
  switch (kind) {
    case Kind::DirectDraw: return directDraw;
    case Kind::Device: return device;
    case Kind::Surface: return surface;
    case Kind::Texture: break;
  }
  return texture;
}

// ---- Rasterisation ----

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kChannelBits = 8;
constexpr std::uint32_t kChannelMax = 255;
constexpr std::uint32_t kRoundHalf = 127;
constexpr std::uint32_t kChannels = 4;
constexpr std::uint32_t kAlphaShift = 24;

std::uint32_t Channel(std::uint32_t pixel, std::uint32_t index) {
  return (pixel >> (index * kChannelBits)) & kChannelMax;
}

std::uint32_t Modulate(std::uint32_t texel, std::uint32_t colour) {
  std::uint32_t out = 0;
  for (std::uint32_t i = 0; i < kChannels; ++i)
    out |= ((Channel(texel, i) * Channel(colour, i) + kRoundHalf) / kChannelMax) << (i * kChannelBits);
  return out;
}

std::uint32_t Blend(std::uint32_t source, std::uint32_t destination) {
  const std::uint32_t a = source >> kAlphaShift;
  std::uint32_t out = 0;
  for (std::uint32_t i = 0; i + 1 < kChannels; ++i) {
    const std::uint32_t mixed =
        (Channel(source, i) * a + Channel(destination, i) * (kChannelMax - a) + kRoundHalf) / kChannelMax;
    out |= mixed << (i * kChannelBits);
  }
  const std::uint32_t alpha = a + ((destination >> kAlphaShift) * (kChannelMax - a) + kRoundHalf) / kChannelMax;
  return out | (alpha << kAlphaShift);
}

struct Point {
  double x, y;
};

// Twice the signed area of (a, b, p): positive when p lies on the inner side
// of a → b for a triangle wound with positive area (clockwise on a screen
// whose y grows downwards).
double Edge(const Point& a, const Point& b, const Point& p) { return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x); }

// Top edge: horizontal with the triangle below; left edge: going up.
bool IsTopLeft(const Point& a, const Point& b) { return (a.y == b.y && b.x > a.x) || b.y < a.y; }

bool Covers(double edge, bool topLeft) { return edge > 0 || (edge == 0 && topLeft); }

std::uint32_t Round(double value) {
  if (std::isnan(value)) return 0;  // far-away corners can make an interpolation 0 × infinity
  return std::uint32_t(std::clamp(std::floor(value + 0.5), 0.0, double(kChannelMax)));
}

std::uint32_t Sample(const CRendererDouble::Texels* texels, double u, double v) {
  if (texels == nullptr) return kWhite;
  const auto clampTo = [](double coordinate, std::uint32_t size) {
    // A coordinate that is no number (the game's interpolator would give
    // garbage) takes the first texel rather than an undefined conversion.
    if (std::isnan(coordinate)) return std::uint32_t(0);
    const double scaled = std::floor(coordinate * size);
    return std::uint32_t(std::clamp(scaled, 0.0, double(size - 1)));
  };
  const std::uint32_t x = clampTo(u, texels->width), y = clampTo(v, texels->height);
  std::uint32_t texel = 0;
  std::memcpy(&texel, texels->pixels + std::size_t(y) * texels->pitch + std::size_t(x) * kBytesPerPixel,
              sizeof texel);
  return texel;
}

void DrawTriangle(const TLVertex& v0, const TLVertex& v1, const TLVertex& v2,
                  const CRendererDouble::Texels* texels, CPicture& frame) {
  const TLVertex* corner[3] = {&v0, &v1, &v2};
  Point p[3] = {{v0.x, v0.y}, {v1.x, v1.y}, {v2.x, v2.y}};
  double area = Edge(p[0], p[1], p[2]);
  if (area == 0 || !std::isfinite(area)) return;
  if (area < 0) {
    std::swap(p[1], p[2]);
    std::swap(corner[1], corner[2]);
    area = -area;
  }
  const bool topLeft[3] = {IsTopLeft(p[1], p[2]), IsTopLeft(p[2], p[0]), IsTopLeft(p[0], p[1])};
  const double minX = std::min({p[0].x, p[1].x, p[2].x}), maxX = std::max({p[0].x, p[1].x, p[2].x});
  // Far outside the frame (or not finite) nothing is drawn; this also keeps the bounds below in range.
  constexpr double kFarAway = 1 << 24;
  if (!(maxX >= 0 && minX <= kFarAway)) return;
  const double minY = std::min({p[0].y, p[1].y, p[2].y}), maxY = std::max({p[0].y, p[1].y, p[2].y});
  if (!(maxY >= 0 && minY <= kFarAway)) return;
  const auto x0 = std::int64_t(std::max(std::floor(minX), 0.0));
  const auto y0 = std::int64_t(std::max(std::floor(minY), 0.0));
  const auto x1 = std::int64_t(std::min(std::ceil(maxX), double(frame.Width()) - 1));
  const auto y1 = std::int64_t(std::min(std::ceil(maxY), double(frame.Height()) - 1));
  for (std::int64_t y = y0; y <= y1; ++y) {
    for (std::int64_t x = x0; x <= x1; ++x) {
      const Point centre{double(x), double(y)};
      const double w0 = Edge(p[1], p[2], centre), w1 = Edge(p[2], p[0], centre), w2 = Edge(p[0], p[1], centre);
      if (!Covers(w0, topLeft[0]) || !Covers(w1, topLeft[1]) || !Covers(w2, topLeft[2])) continue;
      const double b[3] = {w0 / area, w1 / area, w2 / area};
      const double u = b[0] * corner[0]->u + b[1] * corner[1]->u + b[2] * corner[2]->u;
      const double v = b[0] * corner[0]->v + b[1] * corner[1]->v + b[2] * corner[2]->v;
      std::uint32_t colour = 0;
      for (std::uint32_t i = 0; i < kChannels; ++i) {
        const double c = b[0] * Channel(corner[0]->colour, i) + b[1] * Channel(corner[1]->colour, i) +
                         b[2] * Channel(corner[2]->colour, i);
        colour |= Round(c) << (i * kChannelBits);
      }
      const std::uint32_t source = Modulate(Sample(texels, u, v), colour);
      frame.Set(std::uint32_t(x), std::uint32_t(y), Blend(source, frame.At(std::uint32_t(x), std::uint32_t(y))));
    }
  }
}

}  // namespace

CRendererDouble::CRendererDouble() {
  for (Kind kind : {Kind::DirectDraw, Kind::Device}) {
    m_Objects.push_back(std::make_unique<Object>(Object{TableOf(kind).data(), this, kind, 0, 1}));
  }
}

CRendererDouble::~CRendererDouble() = default;

std::uint32_t CRendererDouble::DirectDraw() const { return AddressOf(m_Objects[0].get()); }
std::uint32_t CRendererDouble::Device() const { return AddressOf(m_Objects[1].get()); }
std::uint32_t CRendererDouble::DirectDrawReferences() const { return m_Objects[0]->references; }
std::uint32_t CRendererDouble::DeviceReferences() const { return m_Objects[1]->references; }

void CRendererDouble::InjectFailure(Method method, HRESULT32 result, std::uint32_t count) {
  Injection& injection = m_Injections[std::size_t(method)];
  injection.result = result;
  injection.remaining = count;
}

std::uint32_t CRendererDouble::CallCount(Method method) const { return m_Injections[std::size_t(method)].calls; }

bool CRendererDouble::ShouldFail(Method method, HRESULT32& result) {
  Injection& injection = m_Injections[std::size_t(method)];
  ++injection.calls;
  if (injection.remaining == 0) return false;
  --injection.remaining;
  result = injection.result;
  return true;
}

std::uint32_t CRendererDouble::NewSurface(const DdSurfaceDesc2& desc) {
  const auto index = std::uint32_t(m_Surfaces.size());
  SurfaceInfo info;
  info.width = desc.width;
  info.height = desc.height;
  info.pitch = desc.width * kBytesPerPixel + kPitchPadding;
  info.references = 1;
  info.desc = desc;
  auto pixels = std::make_unique<std::vector<std::uint8_t>>(std::size_t(info.pitch) * info.height, 0);
  for (std::uint32_t row = 0; row < info.height; ++row) {
    std::uint8_t* padding = pixels->data() + std::size_t(row) * info.pitch + info.width * kBytesPerPixel;
    std::memset(padding, kPaddingByte, kPitchPadding);
  }
  m_PixelMemory.push_back(std::move(pixels));
  m_Objects.push_back(std::make_unique<Object>(Object{TableOf(Kind::Surface).data(), this, Kind::Surface, index, 0}));
  info.surface = AddressOf(m_Objects.back().get());
  m_Objects.push_back(std::make_unique<Object>(Object{TableOf(Kind::Texture).data(), this, Kind::Texture, index, 0}));
  info.texture = AddressOf(m_Objects.back().get());
  m_Surfaces.push_back(info);
  return info.surface;
}

std::uint32_t CRendererDouble::LiveSurfaces() const {
  return std::uint32_t(std::count_if(m_Surfaces.begin(), m_Surfaces.end(),
                                     [](const SurfaceInfo& info) { return info.references > 0; }));
}

const SurfaceInfo* CRendererDouble::Find(std::uint32_t anyInterface) const {
  for (const SurfaceInfo& info : m_Surfaces)
    if (info.surface == anyInterface || info.texture == anyInterface) return &info;
  return nullptr;
}

std::uint32_t CRendererDouble::Pixel(std::uint32_t surface, std::uint32_t x, std::uint32_t y) const {
  const SurfaceInfo* info = Find(surface);
  if (info == nullptr || x >= info->width || y >= info->height) return 0;
  const auto index = std::size_t(info - m_Surfaces.data());
  if (!m_PixelMemory[index]) return 0;
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, m_PixelMemory[index]->data() + std::size_t(y) * info->pitch + x * kBytesPerPixel, sizeof pixel);
  return pixel;
}

bool CRendererDouble::PaddingIntact(std::uint32_t surface) const {
  const SurfaceInfo* info = Find(surface);
  if (info == nullptr) return false;
  const auto& memory = m_PixelMemory[std::size_t(info - m_Surfaces.data())];
  if (!memory) return false;
  for (std::uint32_t row = 0; row < info->height; ++row) {
    const std::uint8_t* padding = memory->data() + std::size_t(row) * info->pitch + info->width * kBytesPerPixel;
    if (std::any_of(padding, padding + kPitchPadding, [](std::uint8_t b) { return b != kPaddingByte; })) return false;
  }
  return true;
}

std::uint32_t CRendererDouble::MakeTexture(std::uint32_t width, std::uint32_t height,
                                           const std::vector<std::uint32_t>& pixels) {
  DdSurfaceDesc2 desc{};
  desc.size = sizeof desc;
  desc.flags = kDdsdCaps | kDdsdWidth | kDdsdHeight | kDdsdPixelFormat;
  desc.width = width;
  desc.height = height;
  const std::uint32_t surface = NewSurface(desc);
  const SurfaceInfo& info = *Find(surface);
  std::uint8_t* memory = PixelsAt(std::uint32_t(&info - m_Surfaces.data()));
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width && std::size_t(y) * width + x < pixels.size(); ++x)
      std::memcpy(memory + std::size_t(y) * info.pitch + x * kBytesPerPixel, &pixels[std::size_t(y) * width + x],
                  kBytesPerPixel);
  return surface;
}

std::uint32_t CRendererDouble::TextureOf(std::uint32_t surface) const {
  const SurfaceInfo* info = Find(surface);
  return info != nullptr ? info->texture : 0;
}

void CRendererDouble::Flush(const TextureRecord* texture, CPicture& frame) {
  Flush([texture](const QuadRecord&, bool&) { return texture; }, frame);
}

void CRendererDouble::Flush(const TextureLookup& lookup, CPicture& frame) {
  for (const QuadRecord& quad : m_Queue) {
    bool valid = true;
    const TextureRecord* texture = lookup(quad, valid);
    Texels texels{};
    const Texels* source = nullptr;
    if (valid && texture != nullptr && texture->surface != 0) {
      const SurfaceInfo* info = Find(texture->surface);
      valid = info != nullptr && info->surface == texture->surface && info->references > 0 &&
              (texture->texture == 0 || texture->texture == info->texture);
      if (valid) {
        texels = {PixelsAt(std::uint32_t(info - m_Surfaces.data())), info->width, info->height, info->pitch};
        source = &texels;
      }
    }
    if (!valid) ++m_BadTextures;
    DrawQuad(quad, source, frame);
    ++m_DrawnQuads;
  }
  m_Queue.clear();
}

void CRendererDouble::DrawQuad(const QuadRecord& quad, const Texels* texels, CPicture& frame) {
  const TLVertex* v = quad.vertices;
  DrawTriangle(v[kCornerTopLeft], v[kCornerTopRight], v[kCornerBottomLeft], texels, frame);
  DrawTriangle(v[kCornerTopRight], v[kCornerBottomRight], v[kCornerBottomLeft], texels, frame);
}

}  // namespace gamedouble
