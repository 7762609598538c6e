#pragma once
// The download tests' world: a temporary folder with the test server's files and the client's "/UserData" mount
// (once per program, with libcurl's global state), the loopback test server, a recording resource, and the game
// thread's frames that drive a loader until it is idle.
#include <gtest/gtest.h>

#include <curl/curl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <platform/sync.h>
#include <platform/text.h>

#include <multiplayer/Downloads.h>
#include <multiplayer/QVNetClient.h>
#include <netserver/TestServer.h>

namespace dltest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long the loader may take to go idle before a test fails (a failure bound, not a wait).
constexpr auto kIdleBound = std::chrono::seconds(30);

// The temporary root: "files" (served) and "user" (mounted at "/UserData").
class DownloadWorld : public ::testing::Environment {
 public:
  static DownloadWorld* Get() { return s_pWorld; }
  void SetUp() override {
    s_pWorld = this;
    root = fs::temp_directory_path() / ("brindle_downloads_" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "files");
    fs::create_directories(root / "user");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    context = std::make_unique<tAppContext>("Test", nullptr, MessageDisplayMode::Console);
    fileSystem = std::make_unique<CFileSystem>(context.get());
    MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16((root / "user").string()).c_str());
    server = std::make_unique<nettest::CTestServer>((root / "files").string());
  }
  void TearDown() override {
    server.reset();
    fileSystem.reset();
    context.reset();
    curl_global_cleanup();
    fs::remove_all(root);
    s_pWorld = nullptr;
  }

  fs::path CacheFolder() const { return root / "user" / "Caches"; }
  // Puts a file where the server serves it.
  void Serve(const std::string& resource, const std::string& file, const std::string& bytes) const {
    fs::create_directories(root / "files" / resource);
    std::ofstream(root / "files" / resource / file, std::ios::binary) << bytes;
  }
  bool SetFault(const std::string& key, const std::string& mode) const {
    return server->Command("fault " + key + " " + mode) ==
           (mode == "none" ? "will serve " + key + " as it is" : "will serve " + key + " with the fault " + mode);
  }
  // Every path below the root (relative), to see what a download left anywhere.
  std::set<std::string> Tree() const {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      entries.insert(fs::relative(entry.path(), root).string());
    }
    return entries;
  }

  fs::path root;
  std::unique_ptr<tAppContext> context;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<nettest::CTestServer> server;

 private:
  static inline DownloadWorld* s_pWorld = nullptr;
};

inline std::string Utf8(const std::u16string& text) { return text::Utf16ToUtf8(text); }

inline std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

inline std::uint32_t Crc(const std::string& bytes) {
  return std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A resource record that notes what its files delivered.
class CRecordingResource : public CClientResourceBase {
 public:
  explicit CRecordingResource(std::u16string name) : m_Name(std::move(name)) {}
  const std::u16string& GetName() const override { return m_Name; }
  bool IsRunning() override {
    tLockGuard guard(*this);
    return m_Running;
  }
  void SetRunning(bool running) {
    tLockGuard guard(*this);
    m_Running = running;
  }
  void OnFileDelivered(const std::u16string& fileName, bool ok) override {
    log.push_back("file " + Utf8(fileName) + (ok ? " ok" : " failed"));
  }
  void OnScriptDelivered(const std::u16string& fileName, bool ok) override {
    log.push_back("script " + Utf8(fileName) + (ok ? " ok" : " failed"));
  }

  std::vector<std::string> log;

 private:
  std::u16string m_Name;
  bool m_Running = true;
};

// Game frames until the loader has stopped its threads with no job left; false at the bound.
inline bool RunUntilIdle(CBackgroundLoader& loader) {
  const auto deadline = Clock::now() + kIdleBound;
  do {
    loader.ProcessFinished();
    if (!loader.IsStarted() && loader.GetJobCount() == 0) return true;
    Sleep(1);
  } while (Clock::now() < deadline);
  return false;
}

// Queues a file of the resource on the info's loader, keeping the caller's reference (null when refused).
inline CClientFile* QueueFile(CServerInfo* info, CClientResourceBase* resource, const std::string& file,
                              const std::string& bytes, bool script = false) {
  CClientFile* job = script ? new CClientScriptFile(info, resource, text::Utf8ToUtf16(file),
                                                    std::uint32_t(bytes.size()), Crc(bytes))
                            : new CClientFile(info, resource, text::Utf8ToUtf16(file), std::uint32_t(bytes.size()),
                                              Crc(bytes));
  if (!info->GetLoader().Queue(job)) {
    job->Release();
    return nullptr;
  }
  return job;
}

}  // namespace dltest
