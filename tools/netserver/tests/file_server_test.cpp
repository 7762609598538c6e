// The test server's HTTP file server, fetched with libcurl: true files, each fault mode, and the request log.
#include <netserver/TestServer.h>

#include <gtest/gtest.h>

#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "ServerProtocol.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = 1000;
constexpr long kStallTimeoutMs = 700;

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  Clock::duration took{};
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

Fetched Fetch(std::uint16_t port, const std::string& path, bool follow, long timeoutMs = kStallTimeoutMs) {
  Fetched result;
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "TestAgent/1.0");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  const auto start = Clock::now();
  result.code = curl_easy_perform(curl);
  result.took = Clock::now() - start;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_cleanup(curl);
  return result;
}

class FileServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() / ("netserver_files_" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "race");
    for (std::size_t i = 0; i < kFileSize; ++i) content += char('a' + i % 26);
    std::ofstream(root / "race" / "client.nut", std::ios::binary) << content;
    server = std::make_unique<nettest::CTestServer>(root.string());
    ASSERT_TRUE(server->Started());
  }
  void TearDown() override {
    server.reset();
    std::filesystem::remove_all(root);
  }

  std::filesystem::path root;
  std::string content;
  std::unique_ptr<nettest::CTestServer> server;
};

struct FaultCase {
  const char* mode;
  bool follow;
  CURLcode code;
  long status;
  long bodySize;  // -1: not checked
  bool sameBody;
};

TEST_F(FileServerTest, EachFaultModeServesAsItSays) {
  const FaultCase cases[] = {
      {"none", false, CURLE_OK, 200, long(kFileSize), true},
      {"404", false, CURLE_OK, 404, -1, false},
      {"500", false, CURLE_OK, 500, -1, false},
      {"short", false, CURLE_OK, 200, long(kFileSize) - 1, false},
      {"long", false, CURLE_OK, 200, long(kFileSize) + 1, false},
      {"truncated", false, CURLE_PARTIAL_FILE, 200, long(kFileSize / 2), false},
      {"slow", false, CURLE_OK, 200, long(kFileSize), true},
      {"stalled", false, CURLE_OPERATION_TIMEDOUT, 200, long(kFileSize / 2), false},
      {"held", false, CURLE_OPERATION_TIMEDOUT, 200, long(kFileSize / 2), false},
      {"crc", false, CURLE_OK, 200, long(kFileSize), false},
      {"redirect", false, CURLE_OK, 302, -1, false},
      {"redirect", true, CURLE_OK, 200, long(kFileSize), true},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.follow ? " followed" : ""));
    ASSERT_EQ(std::string(c.mode) == "none" ? "will serve race/client.nut as it is"
                                            : std::string("will serve race/client.nut with the fault ") + c.mode,
              server->Command(std::string("fault race/client.nut ") + c.mode));
    const Fetched got = Fetch(server->HttpPort(), "/race/clientfile?client.nut", c.follow);
    EXPECT_EQ(c.code, got.code) << curl_easy_strerror(got.code);
    EXPECT_EQ(c.status, got.status);
    if (c.bodySize >= 0) {
      EXPECT_EQ(std::size_t(c.bodySize), got.body.size());
    }
    EXPECT_EQ(c.sameBody, got.body == content);
    if (std::string(c.mode) == "crc") {
      const auto crc = [](const std::string& s) {
        return netserver::Crc32(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
      };
      EXPECT_NE(crc(content), crc(got.body));
    }
    if (std::string(c.mode) == "slow") {
      EXPECT_GE(got.took, std::chrono::milliseconds(200));
    }
  }
}

// A held file stops at half until its fault is changed, to whatever: then the transfer ends as it began, with the
// whole true file, while a new request meets the new fault.
TEST_F(FileServerTest, AHeldFileComesWholeOnceItsFaultIsChanged) {
  constexpr auto kHeldFor = std::chrono::milliseconds(300);
  constexpr long kPatientMs = 10000;
  const struct {
    const char* release;
    long laterStatus;  // of a request after the release
  } cases[] = {{"none", 200}, {"404", 404}, {"crc", 200}, {"stalled", 200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.release);
    ASSERT_EQ("will serve race/client.nut with the fault held", server->Command("fault race/client.nut held"));
    std::future<Fetched> held = std::async(std::launch::async, [&] {
      return Fetch(server->HttpPort(), "/race/clientfile?client.nut", false, kPatientMs);
    });
    EXPECT_EQ(std::future_status::timeout, held.wait_for(kHeldFor));
    const auto released = Clock::now();
    server->Command(std::string("fault race/client.nut ") + c.release);
    const Fetched got = held.get();
    EXPECT_LT(Clock::now() - released, std::chrono::seconds(2));
    EXPECT_EQ(CURLE_OK, got.code) << curl_easy_strerror(got.code);
    EXPECT_EQ(200, got.status);
    EXPECT_TRUE(got.body == content) << got.body.size() << " bytes";
    if (std::string(c.release) != "stalled") {
      EXPECT_EQ(c.laterStatus, Fetch(server->HttpPort(), "/race/clientfile?client.nut", false).status);
    }
  }
}

TEST_F(FileServerTest, RequestsAreLoggedAndPathsOutsideTheFilesRefused) {
  EXPECT_EQ(200, Fetch(server->HttpPort(), "/race/clientfile?client.nut", false).status);
  EXPECT_EQ(404, Fetch(server->HttpPort(), "/race/clientfile?..%2F..%2Fetc%2Fpasswd", false).status);
  EXPECT_EQ(404, Fetch(server->HttpPort(), "/race/clientfile?missing.nut", false).status);
  EXPECT_EQ(404, Fetch(server->HttpPort(), "/race/other?client.nut", false).status);
  // A command round trip brings the log lines written meanwhile.
  ASSERT_EQ("will serve race/client.nut as it is", server->Command("fault race/client.nut none"));
  ASSERT_GE(server->HttpLog().size(), 4u);
  EXPECT_EQ("http: asked for /race/clientfile?client.nut by TestAgent/1.0", server->HttpLog()[0]);
  EXPECT_EQ("http: asked for /race/clientfile?..%2F..%2Fetc%2Fpasswd by TestAgent/1.0", server->HttpLog()[1]);
}

TEST_F(FileServerTest, AHungServerIsEndedByItsProcessId) {
  ASSERT_EQ("stopped answering the player", server->Command("mute"));
  EXPECT_EQ("", server->Command("wait 1 60000", std::chrono::milliseconds(200)));
  const auto start = Clock::now();
  server.reset();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
