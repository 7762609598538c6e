// links: brindle_platform
// Costs of the platform layer against the host calls beneath it: file reads,
// path mapping (exact and case-folded), locks and events.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <platform/files.h>
#include <platform/sync.h>
#include <platform/text.h>

namespace {

struct Fixture {
  std::string directory;
  std::string file;
  Fixture() {
    char pattern[] = "/tmp/brindle-platform-bench-XXXXXX";
    directory = ::mkdtemp(pattern);
    file = directory + "/data.bin";
    std::vector<char> block(1 << 20, 'x');
    std::FILE* out = std::fopen(file.c_str(), "wb");
    for (int i = 0; i < 16; ++i) std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
    ::mkdir((directory + "/Assets").c_str(), 0777);
    for (int i = 0; i < 200; ++i) {
      const std::string name = directory + "/Assets/Entry" + std::to_string(i) + ".dat";
      std::fclose(std::fopen(name.c_str(), "wb"));
    }
  }
  ~Fixture() {
    for (int i = 0; i < 200; ++i) ::unlink((directory + "/Assets/Entry" + std::to_string(i) + ".dat").c_str());
    ::rmdir((directory + "/Assets").c_str());
    ::unlink(file.c_str());
    ::rmdir(directory.c_str());
  }
};

Fixture& Files() {
  static Fixture fixture;
  return fixture;
}

void BM_ReadFileSequential(benchmark::State& state) {
  const std::u16string name = text::Utf8ToUtf16(Files().file);
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    std::size_t total = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got != 0) total += got;
    CloseHandle(file);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * (16 << 20));
}
BENCHMARK(BM_ReadFileSequential)->Arg(4096)->Arg(65536);

void BM_PosixReadSequential(benchmark::State& state) {
  std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const int fd = ::open(Files().file.c_str(), O_RDONLY);
    ssize_t got;
    std::size_t total = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<std::size_t>(got);
    ::close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * (16 << 20));
}
BENCHMARK(BM_PosixReadSequential)->Arg(4096)->Arg(65536);

void BM_ToHostPathExact(benchmark::State& state) {
  const std::u16string name = text::Utf8ToUtf16(Files().directory + "\\Assets\\Entry150.dat");
  for (auto _ : state) benchmark::DoNotOptimize(platform::ToHostPath(name.c_str()));
}
BENCHMARK(BM_ToHostPathExact);

void BM_ToHostPathCaseFolded(benchmark::State& state) {
  const std::u16string name = text::Utf8ToUtf16(Files().directory + "\\ASSETS\\entry150.DAT");
  for (auto _ : state) benchmark::DoNotOptimize(platform::ToHostPath(name.c_str()));
}
BENCHMARK(BM_ToHostPathCaseFolded);

void BM_CriticalSectionUncontended(benchmark::State& state) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  for (auto _ : state) {
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
  }
  DeleteCriticalSection(&section);
}
BENCHMARK(BM_CriticalSectionUncontended);

void BM_EventSetAndWait(benchmark::State& state) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (auto _ : state) {
    SetEvent(event);
    benchmark::DoNotOptimize(WaitForSingleObject(event, 0));
  }
  CloseHandle(event);
}
BENCHMARK(BM_EventSetAndWait);

}  // namespace
