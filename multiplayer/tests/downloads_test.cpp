// Resource file downloads against the loopback test server: every fault mode, the URL and user agent the server
// saw, cancels and teardown of stalled transfers, the cache's paths under hostile names, and the cache check.
#include "download_fixture.h"

#include <map>

namespace dltest {
namespace {

constexpr std::size_t kFileSize = 1500;
// A stalled transfer must let go well within this (the progress callback aborts within about a second).
constexpr auto kCancelBound = std::chrono::seconds(5);

::testing::Environment* const g_World = ::testing::AddGlobalTestEnvironment(new DownloadWorld);

DownloadWorld& World() { return *DownloadWorld::Get(); }

std::string UrlOf(const std::string& resource, const std::string& file) {
  return "http://127.0.0.1:" + std::to_string(World().server->HttpPort()) + "/" + resource + "/clientfile?" + file;
}

struct FaultCase {
  const char* mode;
  bool script;
  bool ok;
};

class DownloadFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DownloadFaults, OnlyWholeRightFilesAreCachedAndCounted) {
  const FaultCase& c = GetParam();
  const std::string file = std::string(c.mode) + (c.script ? ".nut" : ".bin");
  // An error status is announced with its body's own size and CRC-32: only the status tells it from the file.
  const std::map<std::string, std::string> errorBodies = {{"404", "not found\n"}, {"500", "failed\n"}};
  const auto errorBody = errorBodies.find(c.mode);
  const std::string bytes = errorBody != errorBodies.end() ? errorBody->second
                                                           : Bytes(kFileSize, unsigned(file.size()) + unsigned(c.mode[0]));
  World().Serve("faults", file, bytes);
  ASSERT_TRUE(World().SetFault("faults/" + file, c.mode));
  CRecordingResource resource(u"faults");
  auto info = std::make_unique<CServerInfo>("127.0.0.1", World().server->HttpPort());
  testing::internal::CaptureStdout();
  CClientFile* job = QueueFile(info.get(), &resource, file, bytes, c.script);
  ASSERT_NE(nullptr, job);
  const bool idle = RunUntilIdle(info->GetLoader());
  const std::string console = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(idle);

  const std::string kind = c.script ? "script " : "file ";
  EXPECT_EQ(std::vector<std::string>{kind + file + (c.ok ? " ok" : " failed")}, resource.log);
  const fs::path cached = World().CacheFolder() / "faults" / file;
  EXPECT_EQ(c.ok, fs::exists(cached));
  if (c.ok) {
    EXPECT_EQ(bytes, ReadAll(cached));
  }
  for (const auto& entry : fs::directory_iterator(World().CacheFolder() / "faults")) {
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".part")) << "a temporary file was left";
  }
  std::uint64_t total = 0, downloaded = 0;
  info->GetByteCounts(&total, &downloaded);
  EXPECT_EQ(c.ok ? bytes.size() : 0u, total);
  EXPECT_EQ(c.ok ? bytes.size() : 0u, downloaded);
  const std::string line = "Unable to download " + UrlOf("faults", file) + "\n";
  EXPECT_EQ(!c.ok, console.find(line) != std::string::npos) << console;
  job->Release();
}

INSTANTIATE_TEST_SUITE_P(Modes, DownloadFaults,
                         ::testing::Values(FaultCase{"none", false, true}, FaultCase{"none", true, true},
                                           FaultCase{"404", false, false}, FaultCase{"500", true, false},
                                           FaultCase{"short", false, false}, FaultCase{"long", false, false},
                                           FaultCase{"truncated", false, false}, FaultCase{"slow", false, true},
                                           FaultCase{"crc", true, false}, FaultCase{"redirect", false, true}),
                         [](const auto& info) {
                           return std::string(info.param.mode[0] >= 'a' ? "" : "status") + info.param.mode +
                                  (info.param.script ? "_script" : "_file");
                         });

TEST(DownloadRequest, TheServerSeesTheEscapedUrlAndTheUserAgent) {
  const std::string bytes = Bytes(kFileSize, 3);
  World().Serve("r s", "a b&c.txt", bytes);
  CRecordingResource resource(u"r s");
  CServerInfo info("127.0.0.1", World().server->HttpPort());
  testing::internal::CaptureStdout();
  CClientFile* job = QueueFile(&info, &resource, "a b&c.txt", bytes);
  ASSERT_TRUE(RunUntilIdle(info.GetLoader()));
  testing::internal::GetCapturedStdout();
  job->Release();
  // A command collects the server's log lines that came before its reply.
  ASSERT_TRUE(World().SetFault("x/y", "none"));
  const std::vector<std::string>& log = World().server->HttpLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ("http: asked for /r%20s/clientfile?a%20b%26c.txt by QuorvantModLauncher/1.0.12 (Windows NT 10.0; WOW64)",
            log.back());
}

TEST(DownloadRequest, UrlsBracketIpv6HostsEscapeNamesAndStayShort) {
  const struct {
    std::u16string host, resource, file;
    const char* url;  // null: refused
  } cases[] = {
      {u"127.0.0.1", u"res", u"a.nut", "http://127.0.0.1:22000/res/clientfile?a.nut"},
      {u"::1", u"res", u"a.nut", "http://[::1]:22000/res/clientfile?a.nut"},
      {u"fe80::1%eth0", u"r", u"f", "http://[fe80::1%eth0]:22000/r/clientfile?f"},
      {u"example.org", u"a/b", u"c?d e", "http://example.org:22000/a%2Fb/clientfile?c%3Fd%20e"},
      {u"h\u00F4te", u"\u00E9", u"x", "http://h\xF4te:22000/%E9/clientfile?x"},
      {u"host", u"\u0100", u"x", nullptr},
      {u"host", u"r", std::u16string(200, u'%'), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url != nullptr ? c.url : "refused");
    std::string url;
    tTaskContext task;
    const bool built = BuildDownloadUrl(c.host, 22000, c.resource, c.file, &url, &task);
    EXPECT_EQ(c.url != nullptr, built);
    if (c.url != nullptr) {
      EXPECT_EQ(c.url, url);
    }
    // Only a character the URL cannot carry is reported; a URL too long is refused quietly.
    const std::u16string all = c.host + c.resource + c.file;
    const bool wide = std::any_of(all.begin(), all.end(), [](char16_t unit) { return unit > 0xFF; });
    EXPECT_EQ(wide ? 1u : 0u, task.GetErrorCount());
  }
}

// A character above 0xFF in the host or a name fails the file with the report of that character, on the console
// before its "Unable to download" line; the resource hears of a failed file.
TEST(DownloadRequest, ACharacterAboveLatin1IsReportedBeforeTheFailure) {
  const std::string report =
      "An attempt was made to copy a string into a buffer of a type that does not support a character in the "
      "string.\n";
  const struct {
    const char* host;  // UTF-8
    std::u16string resource;
    const char* file;  // UTF-8
  } cases[] = {
      {"h\xC4\x80st", u"r", "a.txt"},
      {"\xE2\x82\xAC.example", u"r", "b.txt"},
      {"127.0.0.1", u"r\u0101", "c.txt"},
      {"127.0.0.1", u"r", "d\xE4\xB8\xAD.txt"},
      {"127.0.0.1", u"\uFFFF", "\xF0\x9F\x98\x80.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " " + c.file);
    CRecordingResource resource(c.resource);
    CServerInfo info(c.host, World().server->HttpPort());
    testing::internal::CaptureStdout();
    CClientFile* job = QueueFile(&info, &resource, c.file, "bytes");
    ASSERT_NE(nullptr, job);
    const bool idle = RunUntilIdle(info.GetLoader());
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(idle);
    const std::size_t reported = console.find(report);
    ASSERT_NE(std::string::npos, reported) << console;
    EXPECT_EQ(reported + report.size(), console.find("Unable to download ")) << console;
    EXPECT_EQ(std::vector<std::string>{std::string("file ") + c.file + " failed"}, resource.log);
    job->Release();
  }
}

enum class Ending { Cancel, Destroy, StopResource };

class StalledDownload : public ::testing::TestWithParam<Ending> {};

// Half the file arrives, then nothing: every way out lets go within the bound and leaves nothing cached.
TEST_P(StalledDownload, LetsGoWithinTheBound) {
  const std::string file = "stalled" + std::to_string(int(GetParam())) + ".bin";
  const std::string bytes = Bytes(64 * 1024, 9);
  World().Serve("stall", file, bytes);
  ASSERT_TRUE(World().SetFault("stall/" + file, "stalled"));
  CRecordingResource resource(u"stall");
  auto info = std::make_unique<CServerInfo>("127.0.0.1", World().server->HttpPort());
  testing::internal::CaptureStdout();
  CClientFile* job = QueueFile(info.get(), &resource, file, bytes);
  ASSERT_NE(nullptr, job);
  const auto deadline = Clock::now() + kIdleBound;
  while (job->GetProgress() == 0 && Clock::now() < deadline) {
    info->GetLoader().ProcessFinished();
    Sleep(1);
  }
  ASSERT_NE(0u, job->GetProgress());

  const auto start = Clock::now();
  if (GetParam() == Ending::Cancel) {
    info->GetLoader().CancelAll();
    info->GetLoader().WaitForThreads();
    EXPECT_EQ(0u, info->GetLoader().GetJobCount());
  } else if (GetParam() == Ending::Destroy) {
    info.reset();
  } else {
    resource.SetRunning(false);
    EXPECT_TRUE(RunUntilIdle(info->GetLoader()));
  }
  EXPECT_LT(Clock::now() - start, kCancelBound);
  testing::internal::GetCapturedStdout();
  // Only a stopped resource hears of its file; a cancel tells nobody.
  const std::vector<std::string> expected =
      GetParam() == Ending::StopResource ? std::vector<std::string>{"file " + file + " failed"}
                                         : std::vector<std::string>{};
  EXPECT_EQ(expected, resource.log);
  EXPECT_FALSE(fs::exists(World().CacheFolder() / "stall" / file));
  if (info) {
    std::uint64_t total = 1, downloaded = 1;
    info->GetByteCounts(&total, &downloaded);
    EXPECT_EQ(0u, total + downloaded);
  }
  job->Release();
}

INSTANTIATE_TEST_SUITE_P(Endings, StalledDownload,
                         ::testing::Values(Ending::Cancel, Ending::Destroy, Ending::StopResource));

TEST(DownloadCache, PathsStayInTheResourceFolder) {
  const struct {
    std::u16string resource, file;
    bool ok;
  } cases[] = {
      {u"res", u"a.nut", true},
      {std::u16string(128, u'n'), u"f", true},
      {std::u16string(129, u'n'), u"f", true},  // after 128's: a cut name would overwrite its file
      {u"res", std::u16string(255, u'f'), false},  // the whole path passes 259
      {std::u16string(200, u'r'), std::u16string(41, u'f'), true},
      {std::u16string(200, u'r'), std::u16string(42, u'f'), false},
      {u"res", std::u16string(256, u'f'), false},
      {u"..", u"a", false},        {u".", u"a", false},         {u"res", u"..", false},     {u"res", u".", false},
      {u"res", u"../a", false},    {u"res", u"..\\a", false},   {u"res", u"a/../../b", false},
      {u"res", u"/etc/passwd", false}, {u"/abs", u"a", false},  {u"res", u"C:\\x", false},  {u"res", u"C:x", false},
      {u"C:", u"x", false},        {u"res", u"\\\\server\\share", false},                 {u"res", u"a\u0001b", false},
      {u"res", u"a\u007F", false}, {u"re\ns", u"a", false},     {u"", u"a", false},         {u"res", u"", false},
      {u"res", std::u16string(u"a\0b", 3), false},
      // Names a Win32 host would take for a device or another file.
      {u"res", u"CON", false},     {u"nul", u"a", false},       {u"res", u"a.", false},     {u"res", u"...", false},
      {u"res", u"com1.txt", false}, {u"res", u"a ", false},     {u"LPT\u00B9", u"a", false}, {u"res", u"icon", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.resource) + " / " + Utf8(c.file));
    std::u16string path;
    EXPECT_EQ(c.ok, MakeCachePath(c.resource, c.file, &path));
    if (c.ok) {
      EXPECT_EQ(u"/UserData/Caches/" + c.resource + u"/" + c.file, path);
    }
    // Downloaded, a sound name lands in its own folder (129 characters are not cut to share one of 128's) when
    // the host's path fits too; any other leaves nothing anywhere and fails.
    const fs::path host = World().CacheFolder() / Utf8(c.resource) / Utf8(c.file);
    const bool lands = c.ok && host.string().size() < CFileSystem::kMaxPath;
    const std::string bytes = Bytes(kFileSize, unsigned(c.resource.size()));
    if (c.ok) World().Serve(Utf8(c.resource), Utf8(c.file), bytes);
    const std::set<std::string> before = World().Tree();
    CRecordingResource resource(c.resource);
    CServerInfo info("127.0.0.1", World().server->HttpPort());
    testing::internal::CaptureStdout();
    CClientFile* job = QueueFile(&info, &resource, Utf8(c.file), bytes);
    EXPECT_TRUE(RunUntilIdle(info.GetLoader()));
    testing::internal::GetCapturedStdout();
    job->Release();
    EXPECT_EQ(std::vector<std::string>{"file " + Utf8(c.file) + (lands ? " ok" : " failed")}, resource.log);
    if (lands) {
      EXPECT_EQ(bytes, ReadAll(host));
    } else {
      EXPECT_EQ(before, World().Tree());
    }
  }
}

TEST(DownloadCache, ACachedCopyCountsOnlyWithItsCrc) {
  const fs::path folder = World().CacheFolder() / "check";
  fs::create_directories(folder / "folder.bin");
  // Larger than one read of the check, so the chunks must chain.
  const std::string big = Bytes(600 * 1024, 5);
  std::ofstream(folder / "big.bin", std::ios::binary) << big;
  std::ofstream(folder / "empty.bin", std::ios::binary);
  const struct {
    const char16_t* file;
    std::uint32_t crc;
    bool current;
  } cases[] = {
      {u"big.bin", Crc(big), true},      {u"big.bin", Crc(big) ^ 1, false}, {u"empty.bin", 0, true},
      {u"missing.bin", 0, false},        {u"folder.bin", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.file));
    std::u16string path;
    ASSERT_TRUE(MakeCachePath(u"check", c.file, &path));
    EXPECT_EQ(c.current, IsCachedCopyCurrent(path, c.crc));
  }
  EXPECT_FALSE(IsCachedCopyCurrent(u"/UserData/Caches/check/../check/big.bin", Crc(big)));
  EXPECT_FALSE(IsCachedCopyCurrent(u"/UserData/Other/big.bin", Crc(big)));
}

}  // namespace
}  // namespace dltest
