// links: brindle_base
// Sequential reads of one 16 MiB file: through a stream view over a file
// stream (save-seek-read-restore per call) against a plain read() loop.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <base/Stream.h>
#include <platform/files.h>
#include <platform/text.h>

namespace {

constexpr std::size_t kFileSize = 16u << 20;

// One temporary file for the whole run, removed at exit.
const std::string& TestFile() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "brindle-bench-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) std::abort();
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131);
    for (std::size_t written = 0; written < kFileSize; written += block.size())
      if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
    close(fd);
    std::atexit([] { std::filesystem::remove(TestFile()); });
    return pattern;
  }();
  return path;
}

void StreamViewRead(benchmark::State& state) {
  const auto chunk = static_cast<std::uint32_t>(state.range(0));
  const std::u16string path = text::Utf8ToUtf16(TestFile());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the test file");
    return;
  }
  CStream* stream = new CWindowsFileStream(file, false);
  CStream* view = new CStreamStream(stream);
  std::vector<char> buffer(chunk);
  for (auto _ : state) {
    view->Rewind();
    std::size_t total = 0;
    for (std::uint32_t got; (got = view->Read(buffer.data(), 1, chunk)) != 0;) total += got;
    if (total != kFileSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
  view->Release();
  stream->Release();
}

void PlainRead(benchmark::State& state) {
  const auto chunk = static_cast<std::size_t>(state.range(0));
  const int fd = open(TestFile().c_str(), O_RDONLY);
  if (fd < 0) {
    state.SkipWithError("cannot open the test file");
    return;
  }
  std::vector<char> buffer(chunk);
  for (auto _ : state) {
    lseek(fd, 0, SEEK_SET);
    std::size_t total = 0;
    for (ssize_t got; (got = read(fd, buffer.data(), chunk)) > 0;) total += static_cast<std::size_t>(got);
    if (total != kFileSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
  close(fd);
}

// The host-file layer alone, to tell its cost from the streams' own.
void PlatformReadFile(benchmark::State& state) {
  const auto chunk = static_cast<DWORD>(state.range(0));
  const std::u16string path = text::Utf8ToUtf16(TestFile());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the test file");
    return;
  }
  std::vector<char> buffer(chunk);
  for (auto _ : state) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    std::size_t total = 0;
    for (DWORD got = 0; ReadFile(file, buffer.data(), chunk, &got, nullptr) && got != 0;) total += got;
    if (total != kFileSize) state.SkipWithError("short read");
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
  CloseHandle(file);
}

}  // namespace

BENCHMARK(PlatformReadFile)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamViewRead)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainRead)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
