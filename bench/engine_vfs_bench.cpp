// links: brindle_engine
// Mounting a TAR archive of 10,000 entries and looking paths up through the file system.
#include <engine/FileSystem.h>
#include <engine/Stream.h>
#include <engine/Tar.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kEntries = 10000;

std::string EntryName(int i) {
  char name[64];
  std::snprintf(name, sizeof(name), "dir%02d/sub%02d/file%05d.txt", i % 50, (i / 50) % 20, i);
  return name;
}

void PutOctal(char* field, std::size_t width, std::uint64_t value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
}

const std::string& ArchiveBytes() {
  static const std::string bytes = [] {
    std::string tar;
    tar.reserve(static_cast<std::size_t>(kEntries) * 1024 + 1024);
    for (int i = 0; i < kEntries; ++i) {
      const std::string name = EntryName(i);
      const std::string data = "entry " + std::to_string(i);
      char block[512] = {};
      std::memcpy(block, name.data(), name.size());
      PutOctal(block + 100, 8, 0644);
      PutOctal(block + 124, 12, data.size());
      PutOctal(block + 136, 12, 1700000000);
      block[156] = '0';
      std::memcpy(block + 257, "ustar\0" "00", 8);
      std::memset(block + 148, ' ', 8);
      unsigned sum = 0;
      for (unsigned char c : block) sum += c;
      std::snprintf(block + 148, 8, "%06o", sum);
      tar.append(block, 512);
      std::string payload(512, '\0');
      std::memcpy(payload.data(), data.data(), data.size());
      tar += payload;
    }
    tar.append(1024, '\0');
    return tar;
  }();
  return bytes;
}

void BM_MountArchive(benchmark::State& state) {
  const std::string& bytes = ArchiveBytes();
  for (auto _ : state) {
    auto* stream = new Vexil3D::CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    Vexil3D::CFileSystem fs;
    auto* archive = new Vexil3D::CTARArchive();
    const bool opened = archive->Open(stream);
    benchmark::DoNotOptimize(opened);
    fs.Mount(u"/", archive);
    stream->Release();
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_MountArchive)->Unit(benchmark::kMillisecond);

void BM_LookupThroughFileSystem(benchmark::State& state) {
  const std::string& bytes = ArchiveBytes();
  auto* stream = new Vexil3D::CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  Vexil3D::CFileSystem fs;
  auto* archive = new Vexil3D::CTARArchive();
  archive->Open(stream);
  fs.Mount(u"/", archive);
  stream->Release();

  std::vector<std::u16string> paths;
  for (int i = 0; i < kEntries; i += 7) {
    const std::string name = "/" + EntryName(i);
    paths.emplace_back(name.begin(), name.end());
  }
  std::size_t next = 0;
  for (auto _ : state) {
    const bool found = fs.Exists(paths[next].c_str(), true, false);
    benchmark::DoNotOptimize(found);
    if (++next == paths.size()) next = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupThroughFileSystem);

void BM_OpenAndReadThroughFileSystem(benchmark::State& state) {
  const std::string& bytes = ArchiveBytes();
  auto* stream = new Vexil3D::CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  Vexil3D::CFileSystem fs;
  auto* archive = new Vexil3D::CTARArchive();
  archive->Open(stream);
  fs.Mount(u"/", archive);
  stream->Release();

  const std::string name = "/" + EntryName(4321);
  const std::u16string path(name.begin(), name.end());
  char buffer[64];
  for (auto _ : state) {
    Vexil3D::Stream* file = fs.Open(path.c_str(), false);
    benchmark::DoNotOptimize(file->Read(buffer, sizeof(buffer)));
    file->Release();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenAndReadThroughFileSystem);

}  // namespace
