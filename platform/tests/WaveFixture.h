#pragma once
// WAV files written and read by libsndfile in memory, for the tests of the ACM
// stand-in and of the modules that load samples through it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sndfile.h>

namespace wavefixture {

struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  sf_count_t position = 0;
};

inline SF_VIRTUAL_IO MemoryIo() {
  return {[](void* u) { return sf_count_t(static_cast<MemoryFile*>(u)->bytes.size()); },
          [](sf_count_t offset, int whence, void* u) {
            auto* f = static_cast<MemoryFile*>(u);
            const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->position : sf_count_t(f->bytes.size());
            f->position = base + offset;
            return f->position;
          },
          [](void* p, sf_count_t n, void* u) {
            auto* f = static_cast<MemoryFile*>(u);
            n = std::max<sf_count_t>(0, std::min<sf_count_t>(n, sf_count_t(f->bytes.size()) - f->position));
            std::memcpy(p, f->bytes.data() + f->position, size_t(n));
            f->position += n;
            return n;
          },
          [](const void* p, sf_count_t n, void* u) {
            auto* f = static_cast<MemoryFile*>(u);
            if (f->bytes.size() < size_t(f->position + n)) f->bytes.resize(size_t(f->position + n));
            std::memcpy(f->bytes.data() + f->position, p, size_t(n));
            f->position += n;
            return n;
          },
          [](void* u) { return static_cast<MemoryFile*>(u)->position; }};
}

// The body of a RIFF chunk and its size, or null.
inline const std::uint8_t* FindChunk(const std::vector<std::uint8_t>& file, const char* id, std::uint32_t* size) {
  for (std::size_t at = 12; at + 8 <= file.size();) {
    std::memcpy(size, &file[at + 4], 4);
    if (std::memcmp(&file[at], id, 4) == 0) return &file[at + 8];
    at += 8 + *size + (*size & 1);
  }
  return nullptr;
}

// An MS-ADPCM WAV file of frames (a ramp of distinct values per channel), and
// what libsndfile decodes from its whole blocks.
struct AdpcmFile {
  std::vector<std::uint8_t> bytes;
  std::vector<std::int16_t> decoded;
};
inline AdpcmFile EncodeAdpcm(int channels, int rate, int frames) {
  AdpcmFile out;
  MemoryFile file;
  SF_VIRTUAL_IO io = MemoryIo();
  SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 0, 0};
  SNDFILE* writer = sf_open_virtual(&io, SFM_WRITE, &info, &file);
  if (writer == nullptr) return out;
  std::vector<std::int16_t> input(std::size_t(frames) * channels);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = std::int16_t((i * 7919) % 30000 - 15000);
  sf_writef_short(writer, input.data(), frames);
  sf_close(writer);
  file.position = 0;
  SF_INFO readInfo{};
  SNDFILE* reader = sf_open_virtual(&io, SFM_READ, &readInfo, &file);
  std::uint32_t formatBytes = 0, dataBytes = 0;
  const std::uint8_t* format = FindChunk(file.bytes, "fmt ", &formatBytes);
  FindChunk(file.bytes, "data", &dataBytes);
  std::uint16_t blockAlign = 0, samplesPerBlock = 0;
  std::memcpy(&blockAlign, format + 12, 2);
  std::memcpy(&samplesPerBlock, format + 18, 2);
  out.decoded.resize(std::size_t(dataBytes / blockAlign) * samplesPerBlock * channels);
  sf_readf_short(reader, out.decoded.data(), sf_count_t(out.decoded.size() / channels));
  sf_close(reader);
  out.bytes = std::move(file.bytes);
  return out;
}

}  // namespace wavefixture
