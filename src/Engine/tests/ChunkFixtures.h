#pragma once
// Test-side writers: a growing stream, HBF files over the chunks' own WriteData (zlib's compress2 for
// 'Z' bodies), PNG files by libpng's writer, and readable streams over bytes.
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <engine/HBFChunk.h>
#include <engine/Stream.h>
#include <platform/text.h>

namespace enginetest {

using Bytes = std::vector<std::uint8_t>;

// A write-only stream that grows.
class GrowingStream : public Vexil3D::Stream {
 public:
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    return size;
  }
  bool Seek(std::int64_t, std::uint32_t) override { return false; }
  std::uint64_t Tell() override { return bytes.size(); }
  Bytes bytes;
};

struct OwnedBytes : Vexil3D::CRefCounted {
  Bytes bytes;
};

// A read-only stream over a copy of the bytes that lives as long as the stream.
inline Vexil3D::Strong<Vexil3D::Stream> Over(const Bytes& bytes) {
  auto* owner = new OwnedBytes;
  owner->bytes = bytes;
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(owner->bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                           Vexil3D::CMemoryStream::ACCESS_READ, owner));
  owner->Release();
  return stream;
}

// Takes over the maker's reference.
template <class T>
Vexil3D::Strong<T> Own(T* object) {
  Vexil3D::Strong<T> held;
  held.Attach(object);
  return held;
}

// The whole content of a stream, which is released; "<null>" for none.
inline std::string ReadAll(Vexil3D::Stream* stream) {
  if (stream == nullptr) return "<null>";
  std::string out(static_cast<std::size_t>(stream->GetLength()), '\0');
  out.resize(stream->Read(out.data(), static_cast<std::uint32_t>(out.size())));
  stream->Release();
  return out;
}

template <class T>
void Put(Bytes* out, T value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out->insert(out->end(), p, p + sizeof(T));
}

inline void PutName(Bytes* out, const std::string& utf8) {
  std::uint32_t n = static_cast<std::uint32_t>(utf8.size());
  for (; n >= 0x80; n >>= 7) out->push_back(static_cast<std::uint8_t>((n & 0x7F) | 0x80));
  out->push_back(static_cast<std::uint8_t>(n));
  out->insert(out->end(), utf8.begin(), utf8.end());
}

// One chunk record and its subtree (type ids of children included) as a writer of that version
// lays it out; version 6 headers count the whole name prefix unless oneBytePrefix is set, and carry
// extraHeaderBytes zero bytes after the name.
inline void WriteRecord(Bytes* out, Vexil3D::CChunk* chunk, std::uint32_t version, bool oneBytePrefix = false,
                        std::uint16_t extraHeaderBytes = 0) {
  GrowingStream payload;
  chunk->WriteData(&payload);
  const std::string name = text::Utf16ToUtf8(chunk->GetName());
  Bytes nameBytes;
  PutName(&nameBytes, name);
  if (version <= 6) {
    Put<std::uint16_t>(
        out, static_cast<std::uint16_t>((oneBytePrefix ? name.size() + 1 : nameBytes.size()) + extraHeaderBytes));
  }
  out->insert(out->end(), nameBytes.begin(), nameBytes.end());
  if (version <= 6) out->insert(out->end(), extraHeaderBytes, 0);
  if (version <= 6) Put<std::uint32_t>(out, static_cast<std::uint32_t>(4 + payload.bytes.size()));
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(payload.bytes.size()));
  out->insert(out->end(), payload.bytes.begin(), payload.bytes.end());
  if (version <= 6) Put<std::uint16_t>(out, static_cast<std::uint16_t>(chunk->GetChildCount()));
  else Put<std::uint32_t>(out, chunk->GetChildCount());
  for (std::uint32_t i = 0; i < chunk->GetChildCount(); ++i) {
    Put<std::uint32_t>(out, chunk->GetChild(i)->GetType());
    WriteRecord(out, chunk->GetChild(i), version, oneBytePrefix, extraHeaderBytes);
  }
}

// A whole file: header, then the body (the skipped u32 and the root record), compressed on request.
inline Bytes WriteFile(Vexil3D::CChunk* root, std::uint32_t version, bool compressed, bool oneBytePrefix = false,
                       std::uint16_t extraHeaderBytes = 0) {
  Bytes body;
  Put<std::uint32_t>(&body, 0);
  WriteRecord(&body, root, version, oneBytePrefix, extraHeaderBytes);
  Bytes file = {'H', 'B', 'F', static_cast<std::uint8_t>(compressed ? 'Z' : 0xFF)};
  Put<std::uint32_t>(&file, version);
  if (version >= 8) Put<std::uint32_t>(&file, 0);
  if (!compressed) {
    file.insert(file.end(), body.begin(), body.end());
    return file;
  }
  uLongf packedSize = compressBound(static_cast<uLong>(body.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, body.data(), static_cast<uLong>(body.size()), Z_BEST_SPEED);
  Put<std::uint32_t>(&file, static_cast<std::uint32_t>(body.size()));
  Put<std::uint32_t>(&file, static_cast<std::uint32_t>(packedSize));
  Put<std::uint32_t>(&file, 0x1234);
  file.insert(file.end(), packed.begin(), packed.begin() + packedSize);
  return file;
}

inline void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void FlushNothing(png_structp) {}

// A PNG of the given layout whose rows are given as raw sample bytes (big-endian for 16 bits).
inline Bytes WritePng(std::uint32_t width, std::uint32_t height, int colourType, int depth, bool interlaced,
                      const std::vector<Bytes>& rows, const Bytes& palette = {}) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, AppendBytes, FlushNothing);
  png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty())
    png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette.data()), static_cast<int>(palette.size() / 3));
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const Bytes& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace enginetest
