// links: brindle_netclient brindle_netserver_testing
// The resource downloads, each against a bare baseline in the same run:
// - a 64 MiB file fetched from the loopback test server by the loader (thread, libcurl, CRC-32, temporary file,
//   move into place) against the curl command-line tool fetching the same URL into a file
//   (goal: "loader/curl" at most 1.3);
// - the cache check of that 64 MiB file against a plain read through zlib's crc32 (goal: "check/read" at most 1.1).
// Results are checked: the loader's file must count, curl's must have the size, both CRC-32s must match.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <platform/sync.h>
#include <platform/text.h>

#include <multiplayer/Downloads.h>
#include <multiplayer/QVNetClient.h>
#include <netserver/TestServer.h>

#include "PairedRatio.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kFileSize = 64u << 20;
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr int kIterations = 6;

class CBenchResource : public CClientResourceBase {
 public:
  const std::u16string& GetName() const override { return m_Name; }
  bool IsRunning() override { return true; }
  void OnFileDelivered(const std::u16string&, bool ok) override { delivered = ok; }
  void OnScriptDelivered(const std::u16string&, bool ok) override { delivered = ok; }
  bool delivered = false;

 private:
  std::u16string m_Name = u"bench";
};

// The served file, the mounted cache and the server, made once.
struct World {
  World() {
    root = fs::temp_directory_path() / ("brindle_download_bench_" + std::to_string(getpid()));
    fs::create_directories(root / "files" / "bench");
    fs::create_directories(root / "user");
    std::vector<char> bytes(kFileSize);
    for (std::size_t i = 0; i < kFileSize; ++i) bytes[i] = char((i * 2654435761u) >> 13);
    crc = std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
    std::ofstream(root / "files" / "bench" / "big.bin", std::ios::binary).write(bytes.data(), std::streamsize(kFileSize));
    curl_global_init(CURL_GLOBAL_DEFAULT);
    context = std::make_unique<tAppContext>("Bench", nullptr, MessageDisplayMode::Console);
    fileSystem = std::make_unique<CFileSystem>(context.get());
    MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16((root / "user").string()).c_str());
    server = std::make_unique<nettest::CTestServer>((root / "files").string());
    url = "http://127.0.0.1:" + std::to_string(server->HttpPort()) + "/bench/clientfile?big.bin";
  }
  ~World() {
    server.reset();
    fileSystem.reset();
    context.reset();
    curl_global_cleanup();
    fs::remove_all(root);
  }

  fs::path root;
  std::uint32_t crc = 0;
  std::string url;
  std::unique_ptr<tAppContext> context;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<nettest::CTestServer> server;
};

World& TheWorld() {
  static World world;
  return world;
}

bool DownloadWithLoader(World& world) {
  CBenchResource resource;
  CServerInfo info("127.0.0.1", world.server->HttpPort());
  auto* job = new CClientFile(&info, &resource, u"big.bin", std::uint32_t(kFileSize), world.crc);
  info.GetLoader().Queue(job);
  // The game's frames, as the module runs them.
  do {
    info.GetLoader().ProcessFinished();
    Sleep(1);
  } while (info.GetLoader().IsStarted() || info.GetLoader().GetJobCount() != 0);
  const bool ok = job->Succeeded() && resource.delivered;
  job->Release();
  return ok;
}

bool DownloadWithCurlTool(World& world) {
  const fs::path out = world.root / "curl.bin";
  const std::string command = "curl -s -f -o '" + out.string() + "' '" + world.url + "'";
  const bool ran = std::system(command.c_str()) == 0;
  const bool ok = ran && fs::file_size(out) == kFileSize;
  fs::remove(out);
  return ok;
}

void BM_DownloadAgainstCurlTool(benchmark::State& state) {
  World& world = TheWorld();
  bench::Paired(state, "loader/curl", [&] { return DownloadWithLoader(world); },
                [&] { return DownloadWithCurlTool(world); });
}
BENCHMARK(BM_DownloadAgainstCurlTool)->Iterations(kIterations)->Unit(benchmark::kMillisecond);

bool PlainCrc(const fs::path& path, std::uint32_t expected) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<unsigned char> chunk(kReadChunk);
  uLong value = crc32(0L, Z_NULL, 0);
  for (std::size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), file)) != 0;) {
    value = crc32(value, chunk.data(), uInt(got));
  }
  std::fclose(file);
  return std::uint32_t(value) == expected;
}

void BM_CacheCheckAgainstPlainRead(benchmark::State& state) {
  World& world = TheWorld();
  if (!DownloadWithLoader(world)) {
    state.SkipWithError("no cached copy");
    return;
  }
  std::u16string path;
  MakeCachePath(u"bench", u"big.bin", &path);
  const fs::path host = world.root / "user" / "Caches" / "bench" / "big.bin";
  bench::Paired(state, "check/read", [&] { return IsCachedCopyCurrent(path, world.crc); },
                [&] { return PlainCrc(host, world.crc); });
}
BENCHMARK(BM_CacheCheckAgainstPlainRead)->Iterations(kIterations * 2)->Unit(benchmark::kMillisecond);

}  // namespace
