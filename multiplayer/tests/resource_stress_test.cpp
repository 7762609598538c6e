// Real resource records under churn (also run whole under DRD): a list whose files the loopback server sends
// slowly, stalls or holds half-way, and while they are in flight a stop, a restart, a new list or the client's
// destruction, round after round, with the records' scripts running in a real script host on the game double.
#include <gtest/gtest.h>

#include <curl/curl.h>
#include <enet/enet.h>
#include <stdlib.h>
#include <valgrind/valgrind.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <platform/text.h>
#include <scripthost/ScriptHost.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/ClientScripting.h>
#include <multiplayer/QVNetClient.h>
#include <netserver/TestServer.h>
#include "../../tools/netserver/ServerProtocol.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// Every fault with every action, the script cached and downloaded.
constexpr int kRounds = 24;
// Under valgrind every thread ever made stays on DRD's books and makes each later step dearer: every fault with
// every action once there.
constexpr int kRoundsUnderValgrind = 12;
// How long a round's steps may take before the test fails (a failure bound, not a wait).
constexpr auto kBound = std::chrono::seconds(60);
constexpr const char* kFaults[] = {"slow", "stalled", "held"};
enum Action { kStop, kRestart, kNewList, kDestroy, kActionCount };

constexpr char kScript[] = R"(
local me = Multiplayer.GetResourceName(Multiplayer.GetThisResource());
Multiplayer.OutputChatBox("loaded");
foreach (name in ["OnResourceReady", "OnFileDownload"])
  Engine.EventSystem.GetEventType(name).AddHandler(function(e, ...) {
    Multiplayer.OutputChatBox(vargv[0] == Multiplayer.GetThisResource() ? "ready " + Multiplayer.IsResourceReady()
                                                                        : "file " + vargv[0]);
  });
)";

std::string Content(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CollectingContext : public tAppContext {
 public:
  CollectingContext() : tAppContext("Test", nullptr, MessageDisplayMode::Console) {}
  void AddError(const char* text) override { AppendError(text); }
};

class ResourceStress : public ::testing::Test {
 protected:
  void SetUp() override {
    game = std::make_unique<gamedouble::CGameDouble>(gamedouble::Build::IVReleasePatched);
    ASSERT_TRUE(game->IsReady());
    DetectGameVersion();
    ASSERT_TRUE(SelectGameBuild());
    char pattern[] = "/tmp/brindle_resource_stress_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "files" / "drd");
    fs::create_directories(root / "user");
    ASSERT_EQ(0, enet_initialize());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    context = std::make_unique<CollectingContext>();
    fileSystem = std::make_unique<CFileSystem>(context.get());
    ASSERT_NE(MountPhysicalDirectory(u"/UserData", true, text::Utf8ToUtf16((root / "user").string()).c_str()), nullptr);
    server = std::make_unique<nettest::CTestServer>((root / "files").string());
    ASSERT_TRUE(server->Started());
    host = std::make_unique<CScriptHost>();
    g_ScriptHost = host.get();
    state = std::make_unique<CMultiplayerState>(nullptr);
    state->m_pScripting = CClientScripting::Create(host.get(), state.get());
    ASSERT_NE(state->m_pScripting, nullptr);
    state->m_ChatSink = [this](const char* text) { chat.push_back(text); };
  }
  void TearDown() override {
    state.reset();
    g_ScriptHost = nullptr;
    host.reset();
    server.reset();
    fileSystem.reset();
    curl_global_cleanup();
    fs::remove_all(root);
    EXPECT_EQ(0u, context->GetErrorCount());
  }

  void Serve(const std::string& file, const std::string& bytes) {
    std::ofstream(root / "files" / "drd" / file, std::ios::binary) << bytes;
  }
  netserver::File Entry(const std::string& file, std::uint8_t type) {
    const std::string bytes = ReadAll(root / "files" / "drd" / file);
    return {type, file, std::uint32_t(bytes.size()),
            netserver::Crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())};
  }
  bool Fault(const std::string& file, const std::string& mode) {
    return server->Command("fault drd/" + file + " " + mode) ==
           (mode == "none" ? "will serve drd/" + file + " as it is"
                           : "will serve drd/" + file + " with the fault " + mode);
  }
  CQVNetClient* MakeClient() {
    state->m_pClient = std::make_unique<CQVNetClient>(state.get());
    CQVNetClient* client = state->m_pClient.get();
    client->SetResourceTable(CreateClientResourceTable(state.get(), client));
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
    client->SetState(NETCLIENT_IN_GAME);
    return client;
  }
  void Receive(const netserver::Bytes& packet) {
    netserver::Bytes bytes = packet;
    state->m_pClient->ReceivePacket(bytes.data(), bytes.size());
  }
  CClientResource* Record() {
    CClientResources* table = CClientResources::GetCurrent();
    return table != nullptr ? table->FindClientResource(HashResourceName(u"drd")) : nullptr;
  }
  // Frames of the loader until done() or the bound (false).
  bool Frames(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kBound;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      state->m_pClient->GetServerInfo()->GetLoader().ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  bool Idle() {
    CBackgroundLoader& loader = state->m_pClient->GetServerInfo()->GetLoader();
    return !loader.IsStarted() && loader.GetJobCount() == 0;
  }

  std::unique_ptr<gamedouble::CGameDouble> game;
  fs::path root;
  std::unique_ptr<CollectingContext> context;
  std::unique_ptr<CFileSystem> fileSystem;
  std::unique_ptr<nettest::CTestServer> server;
  std::unique_ptr<CScriptHost> host;
  std::unique_ptr<CMultiplayerState> state;
  Lines chat;
};

TEST_F(ResourceStress, StopRestartNewListAndDestructionDuringTransfers) {
  // The slow fault sends 64 bytes every 20 ms: the large file takes about half a second.
  const std::string big = Content(1536, 1), small = Content(512, 2);
  Serve("client.nut", kScript);
  Serve("big.bin", big);
  Serve("small.bin", small);
  const netserver::Bytes list =
      netserver::ResourceList({{"drd", true, {Entry("client.nut", 1), Entry("big.bin", 0), Entry("small.bin", 0)}}});
  testing::internal::CaptureStdout();
  const int rounds = RUNNING_ON_VALGRIND ? kRoundsUnderValgrind : kRounds;
  for (int round = 0; round < rounds; ++round) {
    const char* fault = kFaults[round % std::size(kFaults)];
    const Action action = Action(round % kActionCount);
    SCOPED_TRACE(std::to_string(round) + " " + fault + " action " + std::to_string(action));
    // In half the rounds the script is in the cache already; the files never are.
    if ((round / kActionCount) % 2 == 0) fs::remove_all(root / "user" / "Caches");
    fs::remove(root / "user" / "Caches" / "drd" / "big.bin");
    fs::remove(root / "user" / "Caches" / "drd" / "small.bin");
    ASSERT_TRUE(Fault("big.bin", fault));
    MakeClient();
    chat.clear();
    Receive(list);
    ASSERT_NE(Record(), nullptr);
    // The script is delivered first (one loading thread, list order); the large file is then in flight.
    ASSERT_TRUE(Frames([&] { return std::count(chat.begin(), chat.end(), "loaded") != 0; }));
    for (int frame = 0; frame < 20; ++frame) {
      state->m_pClient->GetServerInfo()->GetLoader().ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Behind a stalled or held file nothing else arrives (a slow one may have ended on a busy machine).
    if (std::string(fault) != "slow") {
      EXPECT_EQ(0, std::count(chat.begin(), chat.end(), "file small.bin"));
    }
    switch (action) {
      case kStop:
        Receive(netserver::ResourceState(netserver::NameHash("drd"), RESOURCE_STOP));
        EXPECT_FALSE(Record()->IsRunning());
        chat.clear();
        ASSERT_TRUE(Fault("big.bin", "none"));
        ASSERT_TRUE(Frames([&] { return Idle(); }));
        // A stopped resource hears nothing of its files.
        EXPECT_EQ(Lines{}, chat);
        EXPECT_EQ(0u, Record()->GetPendingCount());
        break;
      case kRestart:
      case kNewList: {
        // A new list cancels the transfer; a restart leaves it running, so a stalled one ends only with the client.
        const bool ends = action == kNewList || std::string(fault) != "stalled";
        ASSERT_TRUE(Fault("big.bin", "none"));
        chat.clear();
        if (action == kRestart) {
          Receive(netserver::ResourceState(netserver::NameHash("drd"), RESOURCE_RESTART));
        } else {
          Receive(list);
        }
        EXPECT_TRUE(Record()->IsRunning());
        if (!ends) break;
        ASSERT_TRUE(Frames([&] { return Idle(); }));
        EXPECT_EQ(0u, Record()->GetPendingCount());
        if (action == kNewList) {
          // The new list's jobs are the only ones delivered, each once, and ready comes after the last of them.
          EXPECT_EQ(1, std::count(chat.begin(), chat.end(), "file small.bin"));
          EXPECT_EQ("ready true", chat.back());
          EXPECT_EQ(big, ReadAll(root / "user" / "Caches" / "drd" / "big.bin"));
          EXPECT_EQ(small, ReadAll(root / "user" / "Caches" / "drd" / "small.bin"));
        }
        break;
      }
      default:
        break;  // the client goes below, its transfer in flight
    }
    const auto start = Clock::now();
    state->m_pClient.reset();
    EXPECT_LT(Clock::now() - start, kBound);
    ASSERT_TRUE(Fault("big.bin", "none"));
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
