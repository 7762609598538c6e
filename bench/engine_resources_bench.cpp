// links: brindle_engine
// Texture, element-file and HBF loading against the bare libraries in the same iterations: a 1024 x 1024
// RGBA PNG texture against libpng decoding into a buffer ("engine/bare"), a 5,000-element XML file
// against TinyXML's parse of it, and a compressed HBF file of 10,000 element chunks against
// uncompress2 of its body plus reading the same tree from the inflated bytes. Each pass checks its result.
#include <engine/HBFChunk.h>
#include <engine/Stream.h>
#include <engine/Texture.h>

#include <benchmark/benchmark.h>

#include "PairedRatio.h"
#include <png.h>
#include <tinyxml.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Vexil3D::Strong;

constexpr std::uint32_t kSide = 1024;
constexpr std::uint32_t kChannels = 4;
constexpr int kXmlElements = 5000;
constexpr int kHbfElements = 10000;
constexpr std::uint32_t kHbfVersion = 8;

Strong<Vexil3D::Stream> Over(const Bytes& bytes) {
  Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  return stream;
}

// Times one engine pass and one bare pass per iteration and reports the ratio of the sums.
// ---------------------------------------------------------------------------------------------
// PNG texture

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}

const Bytes& PngBytes() {
  static const Bytes bytes = [] {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    Bytes row(kSide * kChannels);
    for (std::uint32_t y = 0; y < kSide; ++y) {
      for (std::uint32_t i = 0; i < row.size(); ++i) row[i] = static_cast<std::uint8_t>((i * 3 + y * 5) ^ (i >> 6));
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
  }();
  return bytes;
}

struct MemoryReader {
  const Bytes* bytes;
  std::size_t at;
};

void ReadMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (reader->at + length > reader->bytes->size()) png_error(png, "truncated");
  std::memcpy(data, reader->bytes->data() + reader->at, length);
  reader->at += length;
}

// Into a new buffer per pass, as a loader of a new texture does.
bool BareDecode(const Bytes& file, std::unique_ptr<std::uint8_t[]>* rgba) {
  MemoryReader reader{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows(kSide);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, ReadMemory);
  png_read_info(png, info);
  rgba->reset(new std::uint8_t[std::size_t(kSide) * kSide * kChannels]);
  for (std::uint32_t y = 0; y < kSide; ++y) rows[y] = rgba->get() + std::size_t(y) * kSide * kChannels;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void BM_PngTexture(benchmark::State& state) {
  const Bytes& file = PngBytes();
  std::unique_ptr<std::uint8_t[]> rgba;
  Vexil3D::CARGB first{}, last{};
  // As read from a file: the chunk holds the PNG bytes, loading makes the texture.
  Vexil3D::CTextureChunk chunk;
  auto* level = new Vexil3D::CImageDataChunk;
  level->SetData(file.data(), static_cast<std::uint32_t>(file.size()));
  chunk.AppendChild(level);
  bench::Paired(state, "engine/bare",
      [&] {
        chunk.OnLoaded();
        Vexil3D::CMipLevel* decoded = chunk.GetTexture()->GetMipLevel(0);
        if (!decoded->GetPixels() || decoded->GetWidth() != kSide) return false;
        first = decoded->GetPixels()[1];
        last = decoded->GetPixels()[decoded->GetPixelCount() - 1];
        return true;
      },
      [&] {
        if (!BareDecode(file, &rgba)) return false;
        const std::uint8_t* p = rgba.get() + kChannels;
        const std::uint8_t* q = rgba.get() + std::size_t(kSide) * kSide * kChannels - kChannels;
        return first == Vexil3D::CARGB(p[3], p[0], p[1], p[2]) && last == Vexil3D::CARGB(q[3], q[0], q[1], q[2]);
      });
}
BENCHMARK(BM_PngTexture)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// XML element file

const std::string& XmlText() {
  static const std::string text = [] {
    std::string xml = "<?xml version=\"1.0\"?>\n<Page Name=\"Main\">\n";
    for (int i = 0; i < kXmlElements; ++i) {
      xml += "  <Text Name=\"t" + std::to_string(i) + "\" X=\"" + std::to_string(i % 640) +
             "\" Visible=\"true\" Colour=\"#FFCC00\">Line " + std::to_string(i) + "</Text>\n";
    }
    return xml + "</Page>\n";
  }();
  return text;
}

void BM_XmlElements(benchmark::State& state) {
  const std::string& text = XmlText();
  const Bytes bytes(text.begin(), text.end());
  bench::Paired(state, "engine/bare",
      [&] {
        std::unique_ptr<Vexil3D::CElementChunk> page(Vexil3D::CElementChunk::Load(Over(bytes)));
        return page && page->GetChildCount() == kXmlElements;
      },
      [&] {
        TiXmlDocument document;
        document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        int count = 0;
        for (const TiXmlElement* e = document.FirstChildElement()->FirstChildElement(); e; e = e->NextSiblingElement())
          ++count;
        return count == kXmlElements;
      });
}
BENCHMARK(BM_XmlElements)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Compressed HBF

class Growing : public Vexil3D::Stream {
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

template <class T>
void Put(Bytes* out, T value) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out->insert(out->end(), p, p + sizeof(T));
}

void PutRecord(Bytes* out, const std::string& name, Vexil3D::CChunk* payloadOf, std::uint32_t children) {
  out->push_back(static_cast<std::uint8_t>(name.size()));
  out->insert(out->end(), name.begin(), name.end());
  Strong<Growing> payload;
  payload.Attach(new Growing);
  payloadOf->WriteData(payload);
  Put<std::uint32_t>(out, static_cast<std::uint32_t>(payload->bytes.size()));
  out->insert(out->end(), payload->bytes.begin(), payload->bytes.end());
  Put<std::uint32_t>(out, children);
}

struct HbfFile {
  Bytes file;
  Bytes body;  // as inflated
};

const HbfFile& HbfBytes() {
  static const HbfFile hbf = [] {
    HbfFile out;
    Put<std::uint32_t>(&out.body, 0);
    Vexil3D::CElementChunk root;
    PutRecord(&out.body, "root", &root, kHbfElements);
    for (int i = 0; i < kHbfElements; ++i) {
      Vexil3D::CElementChunk element;
      element.GetText().SetValue(u"Line");
      element.GetAttributes().Set(u"X", new Vexil3D::CArgumentString(u"320"));
      element.GetAttributes().Set(u"Visible", new Vexil3D::CArgumentString(u"true"));
      Put<std::uint32_t>(&out.body, Vexil3D::CHUNK_ELEMENT);
      PutRecord(&out.body, "Text", &element, 0);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(out.body.size()));
    Bytes packed(packedSize);
    compress2(packed.data(), &packedSize, out.body.data(), static_cast<uLong>(out.body.size()), Z_DEFAULT_COMPRESSION);
    out.file = {'H', 'B', 'F', 'Z'};
    Put<std::uint32_t>(&out.file, kHbfVersion);
    Put<std::uint32_t>(&out.file, 0);
    Put<std::uint32_t>(&out.file, static_cast<std::uint32_t>(out.body.size()));
    Put<std::uint32_t>(&out.file, static_cast<std::uint32_t>(packedSize));
    Put<std::uint32_t>(&out.file, 0);
    out.file.insert(out.file.end(), packed.begin(), packed.begin() + packedSize);
    return out;
  }();
  return hbf;
}

void BM_CompressedHbf(benchmark::State& state) {
  const HbfFile& hbf = HbfBytes();
  constexpr std::size_t header = 24;  // magic and flag, version, a u32, inflated and compressed sizes, a u32
  bench::Paired(state, "engine/bare",
      [&] {
        Vexil3D::CRootChunk root;
        return root.Read(Over(hbf.file)) && root.GetChildCount() == kHbfElements;
      },
      [&] {
        Bytes inflated(hbf.body.size());
        uLongf size = static_cast<uLongf>(inflated.size());
        uLong taken = static_cast<uLong>(hbf.file.size() - header);
        if (uncompress2(inflated.data(), &size, hbf.file.data() + header, &taken) != Z_OK) return false;
        Strong<Vexil3D::Stream> body = Over(inflated);
        std::uint32_t skipped = 0;
        body->Read(&skipped, sizeof(skipped));
        Vexil3D::CRootChunk root;
        return static_cast<Vexil3D::CChunk&>(root).Read(body) && root.GetChildCount() == kHbfElements;
      });
}
BENCHMARK(BM_CompressedHbf)->Unit(benchmark::kMillisecond);

}  // namespace
