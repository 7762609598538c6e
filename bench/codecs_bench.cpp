// links: brindle_base brindle_platform png16 vorbisfile vorbisenc vorbis ogg sndfile
// Decoders against the bare library calls on the same data, each iteration timing one decode of each in
// alternating order; the sums give "ratio" = ours / bare and every decode's checksum must match its twin's.
// - PngDecode: a 1024 x 1024 RGBA PNG through CPNGImageData (goal below 1.1) against libpng's reader.
// - OggDecode: 60 s of stereo Ogg Vorbis through COggAudioSource (goal below 1.1) against ov_read_float.
// - AcmDecode: 60 s of mono MS-ADPCM through the ACM stand-in (goal below 1.2) against libsndfile reading the WAV.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include <png.h>
#include <vorbis/vorbisfile.h>

#include <base/OggAudioSource.h>
#include <base/PNGImageData.h>
#include <base/Stream.h>
#include <platform/acm.h>

#include "../base/tests/OggFixture.h"
#include "../platform/tests/WaveFixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
// The machine is shared: the thread's own CPU time keeps the ratio steady under load.
std::chrono::nanoseconds ThreadTime() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}
constexpr std::uint32_t kImageSide = 1024;
constexpr std::uint32_t kPixelStep = 97;  // pixels between the checksummed ones

// Runs ours and bare alternately; checksums of each pair must agree.
void Compare(benchmark::State& state, const std::function<std::uint64_t()>& ours,
             const std::function<std::uint64_t()>& bare) {
  std::chrono::nanoseconds oursTime{}, bareTime{};
  bool oursFirst = true;
  for (auto _ : state) {
    std::uint64_t a = 0, b = 0;
    const auto timeOurs = [&] { const auto t = ThreadTime(); a = ours(); oursTime += ThreadTime() - t; };
    const auto timeBare = [&] { const auto t = ThreadTime(); b = bare(); bareTime += ThreadTime() - t; };
    if (oursFirst) timeOurs(), timeBare(); else timeBare(), timeOurs();
    oursFirst = !oursFirst;
    if (a != b || a == 0) {
      state.SkipWithError("decoded data differ");
      return;
    }
  }
  state.counters["ratio"] = std::chrono::duration<double>(oursTime).count() / std::chrono::duration<double>(bareTime).count();
}

Bytes EncodePng() {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, [](png_structp p, png_bytep d, size_t n) {
    auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
    o->insert(o->end(), d, d + n);
  }, nullptr);
  png_set_IHDR(png, info, kImageSide, kImageSide, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  Bytes row(kImageSide * 4);
  for (std::uint32_t y = 0; y < kImageSide; ++y) {
    for (std::uint32_t x = 0; x < row.size(); ++x) row[x] = std::uint8_t((x * y) ^ (x + 3 * y));
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void PngDecode(benchmark::State& state) {
  Bytes file = EncodePng();
  Compare(state, [&] {
    auto* stream = new CByteArrayStream(file.data(), std::uint32_t(file.size()));
    auto* image = new CPNGImageData;
    tTaskContext task;
    std::uint64_t sum = 0;
    if (image->Load(&task, stream) && image->Decode(&task))
      for (std::uint32_t i = 0; i < kImageSide * kImageSide; i += kPixelStep)
        sum += image->GetPixel(i % kImageSide, i / kImageSide);
    image->Release();
    stream->Release();
    return sum;
  }, [&] {
    struct Reader { const Bytes* file; std::size_t at; } reader{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &reader, [](png_structp p, png_bytep d, size_t n) {
      auto* r = static_cast<Reader*>(png_get_io_ptr(p));
      std::memcpy(d, r->file->data() + r->at, n);
      r->at += n;
    });
    png_read_info(png, info);
    png_read_update_info(png, info);
    const std::size_t stride = png_get_rowbytes(png, info);
    Bytes pixels(stride * kImageSide);
    std::vector<png_bytep> rows(kImageSide);
    for (std::uint32_t y = 0; y < kImageSide; ++y) rows[y] = pixels.data() + y * stride;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::uint64_t sum = 0;
    for (std::uint32_t i = 0; i < kImageSide * kImageSide; i += kPixelStep) {
      const std::uint8_t* p = &pixels[std::size_t(i) * 4];
      sum += (std::uint32_t(p[3]) << 24) | (p[0] << 16) | (p[1] << 8) | p[2];
    }
    return sum;
  });
}
BENCHMARK(PngDecode)->Unit(benchmark::kMillisecond);

constexpr long kOggRate = 44100;
constexpr long kSeconds = 60;
constexpr std::uint32_t kReadBytes = 65536;

std::uint64_t FloatSum(const float* samples, std::size_t count, std::uint64_t sum) {
  for (std::size_t i = 0; i < count; ++i) sum += std::uint64_t(std::llround(std::fabs(samples[i]) * 1e6));
  return sum;
}

void OggDecode(benchmark::State& state) {
  static const Bytes file = oggfixture::Encode(2, kOggRate, kOggRate * kSeconds);
  std::vector<float> buffer(kReadBytes / sizeof(float));
  Compare(state, [&] {
    auto* stream = new CByteArrayStream(const_cast<std::uint8_t*>(file.data()), std::uint32_t(file.size()));
    auto* source = new COggAudioSource(stream);
    stream->Release();
    tTaskContext task;
    std::uint64_t sum = 0;
    if (source->Open(&task))
      for (std::uint32_t got; (got = source->Read(buffer.data(), kReadBytes)) != 0;)
        sum = FloatSum(buffer.data(), got / sizeof(float), sum);
    source->Release();
    return sum;
  }, [&] {
    struct Reader { const Bytes* file; std::size_t at; } reader{&file, 0};
    ov_callbacks callbacks{
        [](void* p, size_t size, size_t count, void* u) -> size_t {
          auto* r = static_cast<Reader*>(u);
          const size_t n = std::min(count, (r->file->size() - r->at) / size);
          std::memcpy(p, r->file->data() + r->at, n * size);
          r->at += n * size;
          return n;
        },
        [](void* u, ogg_int64_t offset, int whence) -> int {
          auto* r = static_cast<Reader*>(u);
          r->at = std::size_t((whence == SEEK_SET ? 0 : whence == SEEK_CUR ? std::int64_t(r->at) : std::int64_t(r->file->size())) + offset);
          return 0;
        },
        nullptr, [](void* u) -> long { return long(static_cast<Reader*>(u)->at); }};
    OggVorbis_File vf;
    std::uint64_t sum = 0;
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return sum;
    const int channels = ov_info(&vf, -1)->channels;
    const int frames = int(kReadBytes / sizeof(float)) / channels;
    for (;;) {
      float** pcm = nullptr;
      int section = 0, stored = 0;
      while (stored < frames) {
        const long got = ov_read_float(&vf, &pcm, frames - stored, &section);
        if (got <= 0) break;
        for (long f = 0; f < got; ++f)
          for (int c = 0; c < channels; ++c) buffer[std::size_t(stored + f) * channels + c] = pcm[c][f];
        stored += int(got);
      }
      if (stored == 0) break;
      sum = FloatSum(buffer.data(), std::size_t(stored) * channels, sum);
    }
    ov_clear(&vf);
    return sum;
  });
}
BENCHMARK(OggDecode)->Unit(benchmark::kMillisecond);

constexpr int kAdpcmRate = 22050;

std::uint64_t SampleSum(const std::int16_t* samples, std::size_t count) {
  std::uint64_t sum = 1;
  for (std::size_t i = 0; i < count; ++i) sum = sum * 31 + std::uint16_t(samples[i]);
  return sum;
}

void AcmDecode(benchmark::State& state) {
  static const wavefixture::AdpcmFile wave = wavefixture::EncodeAdpcm(1, kAdpcmRate, kAdpcmRate * kSeconds);
  std::uint32_t formatBytes = 0, dataBytes = 0;
  auto* format = reinterpret_cast<const ADPCMWAVEFORMAT*>(wavefixture::FindChunk(wave.bytes, "fmt ", &formatBytes));
  const std::uint8_t* data = wavefixture::FindChunk(wave.bytes, "data", &dataBytes);
  std::vector<std::int16_t> output(wave.decoded.size());
  Compare(state, [&] {
    ADPCMWAVEFORMAT source = *format;
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 1, kAdpcmRate, kAdpcmRate * 2, 2, 16, 0};
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, &source.wfx, &pcm, nullptr, 0, 0, 0) != MMSYSERR_NOERROR) return std::uint64_t(0);
    ACMSTREAMHEADER header{sizeof(header), 0, 0, const_cast<BYTE*>(data), dataBytes, 0, 0,
                           reinterpret_cast<BYTE*>(output.data()), DWORD(output.size() * 2), 0, 0, {}};
    acmStreamPrepareHeader(stream, &header, 0);
    acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
    return SampleSum(output.data(), header.cbDstLengthUsed / 2);
  }, [&] {
    wavefixture::MemoryFile file{wave.bytes, 0};
    SF_VIRTUAL_IO io = wavefixture::MemoryIo();
    SF_INFO info{};
    SNDFILE* reader = sf_open_virtual(&io, SFM_READ, &info, &file);
    const sf_count_t got = sf_readf_short(reader, output.data(), sf_count_t(output.size()));
    sf_close(reader);
    return SampleSum(output.data(), std::size_t(got));
  });
}
BENCHMARK(AcmDecode)->Unit(benchmark::kMillisecond);

}  // namespace
