// links: brindle_base
// Sequential reads of one 16 MiB file: through a stream view over a file
// stream (save-seek-read-restore per call) against a plain read() loop.
//
// ViewOverPlain is the number that matters: it times both readers pass by pass
// in the same iterations and prints view time / plain time as "view/plain"
// (aim: below 1.2). The single-reader benchmarks show where the time goes.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
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

HANDLE OpenTestFileHandle() {
  const std::u16string path = text::Utf8ToUtf16(TestFile());
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// A view over a file stream, both released together.
class FileView {
 public:
  FileView() {
    const HANDLE file = OpenTestFileHandle();
    if (file == INVALID_HANDLE_VALUE) return;
    m_stream = new CWindowsFileStream(file, false);
    m_view = new CStreamStream(m_stream);
  }
  ~FileView() {
    if (m_view != nullptr) m_view->Release();
    if (m_stream != nullptr) m_stream->Release();
  }
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  bool IsOpen() const { return m_view != nullptr; }

  // Reads the whole file in chunks; false on a short read.
  bool Pass(std::vector<char>& buffer) {
    const auto chunk = static_cast<std::uint32_t>(buffer.size());
    m_view->Rewind();
    std::size_t total = 0;
    for (std::uint32_t got; (got = m_view->Read(buffer.data(), 1, chunk)) != 0;) total += got;
    benchmark::DoNotOptimize(buffer.data());
    return total == kFileSize;
  }

 private:
  CStream* m_stream = nullptr;
  CStream* m_view = nullptr;
};

// The same whole-file read with read() on a descriptor; false on a short read.
bool PlainPass(int fd, std::vector<char>& buffer) {
  lseek(fd, 0, SEEK_SET);
  std::size_t total = 0;
  for (ssize_t got; (got = read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<std::size_t>(got);
  benchmark::DoNotOptimize(buffer.data());
  return total == kFileSize;
}

void StreamViewRead(benchmark::State& state) {
  FileView view;
  if (!view.IsOpen()) {
    state.SkipWithError("cannot open the test file");
    return;
  }
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    if (!view.Pass(buffer)) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
}

void PlainRead(benchmark::State& state) {
  const int fd = open(TestFile().c_str(), O_RDONLY);
  if (fd < 0) {
    state.SkipWithError("cannot open the test file");
    return;
  }
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    if (!PlainPass(fd, buffer)) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFileSize);
  close(fd);
}

// Each iteration reads the file once through the view and once with read(),
// in alternating order so that neither always runs on a cache the other warmed.
// Summing over all iterations before dividing keeps one slow pass from
// deciding the ratio.
void ViewOverPlain(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  FileView view;
  const int fd = open(TestFile().c_str(), O_RDONLY);
  if (!view.IsOpen() || fd < 0) {
    if (fd >= 0) close(fd);
    state.SkipWithError("cannot open the test file");
    return;
  }
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  Clock::duration viewTime{};
  Clock::duration plainTime{};
  bool viewFirst = true;
  for (auto _ : state) {
    const auto timeView = [&] {
      const auto start = Clock::now();
      const bool ok = view.Pass(buffer);
      viewTime += Clock::now() - start;
      return ok;
    };
    const auto timePlain = [&] {
      const auto start = Clock::now();
      const bool ok = PlainPass(fd, buffer);
      plainTime += Clock::now() - start;
      return ok;
    };
    const bool ok = viewFirst ? (timeView() && timePlain()) : (timePlain() && timeView());
    if (!ok) state.SkipWithError("short read");
    viewFirst = !viewFirst;
  }
  close(fd);
  const double passes = static_cast<double>(state.iterations());
  const double viewMs = std::chrono::duration<double, std::milli>(viewTime).count();
  const double plainMs = std::chrono::duration<double, std::milli>(plainTime).count();
  if (passes > 0 && plainMs > 0) {
    state.counters["view_ms"] = viewMs / passes;
    state.counters["plain_ms"] = plainMs / passes;
    state.counters["view/plain"] = viewMs / plainMs;
  }
}

// The host-file layer alone, to tell its cost from the streams' own.
void PlatformReadFile(benchmark::State& state) {
  const auto chunk = static_cast<DWORD>(state.range(0));
  const HANDLE file = OpenTestFileHandle();
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

BENCHMARK(ViewOverPlain)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(PlatformReadFile)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamViewRead)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainRead)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);
