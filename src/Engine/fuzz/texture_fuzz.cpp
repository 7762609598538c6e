// Fuzzes a texture chunk record (description and image-data children, PNG or raw) and the texture
// that loading makes of it, written back through the image-data writer.
#include <engine/HBFChunk.h>

#include <vector>

#include "FuzzStream.h"

namespace {

class Discard : public Vexil3D::Stream {
 public:
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t size) override { return size; }
  bool Seek(std::int64_t, std::uint32_t) override { return false; }
  std::uint64_t Tell() override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Vexil3D::CTextureChunk chunk;
  if (!chunk.Read(enginefuzz::Over(data, size))) return 0;
  chunk.OnLoaded();
  Vexil3D::Texture* texture = chunk.GetTexture();
  if (!texture) return 0;
  texture->GetWidth();
  texture->GetHeight();
  Vexil3D::Strong<Vexil3D::Stream> sink;
  sink.Attach(new Discard);
  for (std::uint32_t i = 0; i < chunk.GetChildCount(); ++i) chunk.GetChild(i)->WriteData(sink);
  return 0;
}
