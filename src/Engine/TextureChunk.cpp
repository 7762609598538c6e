// The texture chunk: its description payload, the texture it makes from its image-data children, and
// the image-data writer.
#include <engine/Context.h>
#include <engine/HBFChunk.h>
#include <engine/Stream.h>

#include <new>
#include <vector>

namespace Vexil3D {

namespace {

constexpr std::uint32_t kDescriptionBytes = 16;
constexpr std::uint32_t kBytesPerPixel = 4;
constexpr std::uint32_t kWordBits = 32;

#pragma pack(push, 1)
struct TextureDescription {
  std::uint16_t format;
  std::uint16_t reserved1;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t reserved2;
};
#pragma pack(pop)
static_assert(sizeof(TextureDescription) == kDescriptionBytes, "the payload's layout");

// Stored files hold format-1 pixels as the bytes R, G, B, A.
CARGB PixelFromBytes(const std::uint8_t* p) { return CARGB(p[3], p[0], p[1], p[2]); }

void PixelToBytes(CARGB pixel, std::uint8_t* p) {
  p[0] = pixel.GetRed();
  p[1] = pixel.GetGreen();
  p[2] = pixel.GetBlue();
  p[3] = pixel.GetAlpha();
}

std::uint32_t LevelSide(std::uint32_t side, std::uint32_t level) { return level < kWordBits ? side >> level : 0; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// CTextureChunk

void CTextureChunk::SetDescription(std::uint16_t format, std::uint32_t width, std::uint32_t height) {
  m_uFormat = format;
  m_uWidth = width;
  m_uHeight = height;
}

bool CTextureChunk::ReadData(Stream* payload) {
  TextureDescription description{};
  const std::uint64_t length = payload->GetLength();
  if (length != 0 && payload->Read(&description, kDescriptionBytes) != kDescriptionBytes) return false;
  m_uFormat = description.format;
  m_uReserved1 = description.reserved1;
  m_uWidth = description.width;
  m_uHeight = description.height;
  m_uReserved2 = description.reserved2;
  return true;
}

bool CTextureChunk::WriteData(Stream* stream) {
  const TextureDescription description{m_uFormat, m_uReserved1, m_uWidth, m_uHeight, m_uReserved2};
  return stream->Write(&description, kDescriptionBytes) == kDescriptionBytes;
}

void CTextureChunk::OnLoaded() {
  m_pTexture.Attach(new (std::nothrow) Texture(GetChildCount()));
  if (!m_pTexture) return;
  m_pTexture->SetName(GetName());
  for (std::uint32_t i = 0; i < m_pTexture->GetMipCount(); ++i) LoadLevel(i);
}

void CTextureChunk::LoadLevel(std::uint32_t index) {
  CMipLevel* level = m_pTexture->GetMipLevel(index);
  // Only data chunks carry level bytes; anything else leaves its level empty.
  auto* data = dynamic_cast<CDataChunk*>(GetChild(index));
  if (!level || !data) return;
  switch (m_uFormat) {
    case FORMAT_PNG: {
      Strong<Stream> stream;
      stream.Attach(new (std::nothrow) CMemoryStream(data->GetData(), data->GetSize()));
      if (stream) DecodePNG(stream, level);
      return;
    }
    case FORMAT_RAW: {
      const std::uint32_t width = LevelSide(m_uWidth, index);
      const std::uint32_t height = LevelSide(m_uHeight, index);
      if (width > CMipLevel::kMaxSide || height > CMipLevel::kMaxSide) {
        LogF(LOG_ERROR, u"Mip level %u of texture %s is %u by %u pixels, over %u!", index, GetName().c_str(), width,
             height, CMipLevel::kMaxSide);
        return;
      }
      const std::uint64_t needed = std::uint64_t(width) * height * kBytesPerPixel;
      if (data->GetSize() < needed) {
        LogF(LOG_ERROR, u"Mip level %u of texture %s holds %u bytes of %llu!", index, GetName().c_str(),
             data->GetSize(), static_cast<unsigned long long>(needed));
        return;
      }
      if (!level->Create(width, height)) return;
      level->SetAlpha(true);
      CARGB* pixels = level->GetPixels();
      const std::uint8_t* bytes = data->GetData();
      for (std::uint64_t i = 0; i < level->GetPixelCount(); ++i) pixels[i] = PixelFromBytes(bytes + i * kBytesPerPixel);
      return;
    }
    default:
      LogF(LOG_ERROR, u"Unknown texture format %d in texture %s!", int(m_uFormat), GetName().c_str());
      return;
  }
}

// ---------------------------------------------------------------------------------------------
// CImageDataChunk

bool CImageDataChunk::WriteData(Stream* stream) {
  auto* texture = dynamic_cast<CTextureChunk*>(GetParent());
  CMipLevel* level = texture && texture->GetFormat() == CTextureChunk::FORMAT_RAW && texture->GetTexture()
                         ? texture->GetTexture()->GetMipLevel(GetIndex())
                         : nullptr;
  if (!level || !level->GetPixels()) return CDataChunk::WriteData(stream);
  const std::uint64_t size = level->GetPixelCount() * kBytesPerPixel;
  if (size > UINT32_MAX) return false;
  std::vector<std::uint8_t> bytes;
  bytes.resize(static_cast<std::size_t>(size));
  for (std::uint64_t i = 0; i < level->GetPixelCount(); ++i) PixelToBytes(level->GetPixels()[i], &bytes[i * kBytesPerPixel]);
  return stream->Write(bytes.data(), static_cast<std::uint32_t>(size)) == size;
}

}  // namespace Vexil3D
