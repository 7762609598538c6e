// links: brindle_engine
// Compact integer throughput and the stream round trip of a nested argument array.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include <engine/Arguments.h>
#include <engine/Stream.h>
#include <engine/VexilReference.h>

using namespace Vexil3D;

namespace {

// Values of every encoded length, 1 to 5 bytes.
std::vector<std::uint32_t> CompactValues() {
  std::vector<std::uint32_t> values;
  std::uint32_t state = 12345;
  for (int i = 0; i < 4096; ++i) {
    state = state * 1664525u + 1013904223u;
    values.push_back(state >> ((i % 5) * 7));
  }
  return values;
}

void BM_CompactIntegerEncode(benchmark::State& state) {
  const auto values = CompactValues();
  std::vector<std::uint8_t> buffer(values.size() * 5);
  CMemoryStream* stream = new CMemoryStream(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                            CMemoryStream::ACCESS_WRITE);
  for (auto _ : state) {
    stream->Seek(0, STREAM_SEEK_BEGIN);
    for (std::uint32_t value : values) WriteCompactInteger(stream, value);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  stream->Release();
}
BENCHMARK(BM_CompactIntegerEncode);

void BM_CompactIntegerDecode(benchmark::State& state) {
  const auto values = CompactValues();
  std::vector<std::uint8_t> buffer(values.size() * 5);
  CMemoryStream* stream = new CMemoryStream(buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                            CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
  for (std::uint32_t value : values) WriteCompactInteger(stream, value);
  std::uint64_t sum = 0;
  for (auto _ : state) {
    stream->Seek(0, STREAM_SEEK_BEGIN);
    for (std::size_t i = 0; i < values.size(); ++i) {
      std::uint32_t value = 0;
      ReadCompactInteger(stream, &value);
      sum += value;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
  stream->Release();
}
BENCHMARK(BM_CompactIntegerDecode);

// 1,000 values in ten inner arrays of 100 (the one-byte count holds at most 255 per array).
CArgumentArray* NestedThousand() {
  auto* outer = new CArgumentArray();
  for (int group = 0; group < 10; ++group) {
    auto* inner = new CArgumentArray();
    for (int i = 0; i < 100; ++i) {
      switch (i % 4) {
        case 0: inner->AppendInteger(group * 100 + i); break;
        case 1: inner->AppendFloat(static_cast<float>(i) * 0.5f); break;
        case 2: inner->AppendString(u"value", 5); break;
        default: inner->AppendBoolean(i % 8 == 3); break;
      }
    }
    outer->Adopt(inner);
  }
  return outer;
}

void BM_ArgumentArrayRoundTrip(benchmark::State& state) {
  Strong<CArgumentArray> source;
  source.Attach(NestedThousand());
  std::uint32_t size = 0;
  source->GetSerialisedSize(&size);
  std::vector<std::uint8_t> buffer(size);
  CMemoryStream* stream = new CMemoryStream(buffer.data(), size, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
  for (auto _ : state) {
    stream->Seek(0, STREAM_SEEK_BEGIN);
    if (!source->Write(stream)) state.SkipWithError("write failed");
    stream->Seek(0, STREAM_SEEK_BEGIN);
    CArgumentArray* copy = new CArgumentArray();
    if (!copy->Read(stream)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(copy);
    copy->Release();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size * 2);
  stream->Release();
}
BENCHMARK(BM_ArgumentArrayRoundTrip);

}  // namespace
