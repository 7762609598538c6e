// What a hostile server can ask of the resource records: paths its scripts name that fit virtually but not on the
// host, resource lists at and over their bounds, lists that name a record or a file twice, and scripts that do not
// compile, each ending the same way wherever the script came from.
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <unordered_map>

#include <base/Stream.h>

#include <scripthost/Audio.h>
#include <scripthost/ScriptArguments.h>
#include <scripthost/SquirrelSupport.h>

#include "resources_fixture.h"

namespace nettest {
namespace {

// An audio device that makes no instances: the AudioInstance constructor needs one before it opens its path.
class CNoAudio : public CAudio {
 public:
  CAudioInstance* CreateInstance(tTaskContext*, CAudioSource*, bool) override { return nullptr; }
  void SetMasterVolume(float) override {}
  bool Initialise() override { return true; }
  void Shutdown() override {}
};

// A file's bytes ("" when it cannot be read).
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one list at the bounds may cost the game thread here, on a busy machine (a quarter of it in a plain build
// when idle); the sanitizer's checks make the same work about four times dearer.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kListTimeBoundMs = 4000;
#else
constexpr int kListTimeBoundMs = 1000;
#endif

// Makes every file a script names through Texture and AudioInstance say how it ended in the chat.
constexpr char kProbeScript[] = R"(
::Probe <- function(path) {
  foreach (make in [@(p) Engine.Texture(p), @(p) Engine.AudioInstance(p, false)]) {
    try { make(path); Multiplayer.OutputChatBox("made"); } catch (e) { Multiplayer.OutputChatBox(e); }
  }
}
)";

// A host folder of exactly `length` characters below root, made of components of at most 100.
std::string HostFolderOfLength(const std::string& root, std::size_t length) {
  std::string folder = root + "/h";
  while (folder.size() < length) {
    const std::size_t left = length - folder.size();
    folder += left == 1 ? std::string("x") : "/" + std::string(std::min<std::size_t>(left - 1, 100), 'd');
  }
  std::filesystem::create_directories(folder);
  return folder;
}

// "<prefix><index>" for count indices from first, each a stopped resource with `files` plain files.
std::vector<netserver::Resource> Stopped(const std::string& prefix, std::uint32_t first, std::uint32_t count,
                                         std::uint32_t files = 0) {
  std::vector<netserver::Resource> resources(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    resources[i].name = prefix + std::to_string(first + i);
    for (std::uint32_t f = 0; f < files; ++f) resources[i].files.push_back({0, "f" + std::to_string(f) + ".dat", 1, 0});
  }
  return resources;
}

// A script path is checked as the host sees it: with the cache folder's host path at several lengths, names around
// the length at which "<host folder>/race/<name>" reaches the file system's buffers (and around the virtual limit)
// either open (the file is no image or sound: "failed to load ...") or are the script error of a file that does
// not open. None reaches the file system's context, whose errors would end the game.
TEST_P(ResourcesTest, PathsThatOverflowOnTheHostAreScriptErrors) {
  MakeResourceClient();
  game->SetRendererPresent(true, true);
  CNoAudio audio;
  g_pAudio = &audio;
  Receive(netserver::ResourceList({{"race", true, {Cache("race", "client.nut", kProbeScript)}}}));
  CClientResourceScriptEnvironment* environment = Find(u"race")->GetEnvironment();
  ASSERT_NE(environment, nullptr);
  const HSQUIRRELVM t = environment->GetThread();
  CScriptObjectRef probe;
  sq_pushroottable(t);
  sq_pushstring(t, u"Probe", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(t, -2)));
  probe.SetFromStack(t, -1);
  sq_pop(t, 2);

  const std::size_t virtualPrefix = kResourceCacheRoot.size() + std::string("race/").size();
  for (const std::size_t hostLength : {40u, 120u, 200u, 236u}) {
    const std::string folder = HostFolderOfLength(root, hostLength);
    std::unique_ptr<CFileSystem::tMountPoint> mount(
        MountPhysicalDirectory(u"/UserData/Caches", true, text::Utf8ToUtf16(folder).c_str()));
    ASSERT_NE(mount, nullptr);
    // The first name length whose host path ("<folder>/race/<name>") or virtual path does not fit.
    const std::size_t hostFirst = CFileSystem::kMaxPath - (hostLength + 6);
    const std::size_t virtualFirst = CFileSystem::kMaxPath - virtualPrefix;
    std::set<std::size_t> lengths{1, virtualFirst - 1, virtualFirst, virtualFirst + 1};
    for (std::size_t n = hostFirst - 2; n <= hostFirst + 2; ++n) lengths.insert(n);
    for (const std::size_t n : lengths) {
      SCOPED_TRACE(std::to_string(hostLength) + " " + std::to_string(n));
      const std::string name(n, 'p');
      // The file is there on the host either way: a refusal is the path's, not a missing file's.
      std::filesystem::create_directories(folder + "/race");
      std::ofstream(folder + "/race/" + name) << "neither image nor sound";
      const bool fits = n < std::min(hostFirst, virtualFirst);
      chat.clear();
      CListScriptArguments arguments(host.get());
      const std::u16string path = u"/UserData/Caches/race/" + text::Utf8ToUtf16(name);
      arguments.AddString(path.c_str(), SQInteger(path.size()));
      EXPECT_TRUE(environment->CallHandler(probe, &arguments));
      arguments.Clear();
      EXPECT_EQ(fits ? (Lines{"failed to load texture", "failed to load audio file"})
                     : (Lines{"failed to open texture file", "failed to open audio file"}),
                chat);
      EXPECT_EQ(0u, appContext->GetErrorCount());
    }
  }
  g_pAudio = nullptr;
}

// Each bound of the lists at its value is taken and one past it refused whole with the line that names it,
// nothing of the list acted on.
TEST_P(ResourcesTest, ListsAtTheirBoundsAreTakenAndPastThemRefusedWhole) {
  MakeResourceClient();
  const std::uint32_t half = kMaxFilesPerList / 2;
  const struct {
    const char* label;
    std::vector<netserver::Resource> resources;
    const char* refusal;  // null: taken
  } cases[] = {
      {"resources", Stopped("a", 0, kMaxResourcesPerList), nullptr},
      {"resources + 1", Stopped("b", 0, kMaxResourcesPerList + 1), "10001 resources (at most 10000)"},
      {"files of one", Stopped("c", 0, 1, kMaxFilesPerResource), nullptr},
      {"files of one + 1", Stopped("d", 0, 1, kMaxFilesPerResource + 1), "10001 files in one resource (at most 10000)"},
      {"files", Stopped("e", 0, 2, half), nullptr},
      {"files + 1",
       [&] {
         auto resources = Stopped("f", 0, 2, half);
         resources[1].files.push_back({0, "extra.dat", 1, 0});
         return resources;
       }(),
       "10001 files or more (at most 10000)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::size_t before = Resources()->GetResources().size();
    const std::string console = Console([&] { Receive(netserver::ResourceList(c.resources)); });
    const std::size_t made = Resources()->GetResources().size() - before;
    if (c.refusal == nullptr) {
      EXPECT_EQ(c.resources.size(), made);
      EXPECT_FALSE(Has(console, "Refused")) << console.substr(0, 200);
    } else {
      EXPECT_EQ(0u, made);
      EXPECT_EQ("MULTIPLAYER: Refused a resource list of " + std::string(c.refusal) + "\n", console.substr(0, 200));
    }
  }
  // The records held: a list that would reach kMaxResourcesHeld is refused, one that names held records is not.
  for (std::uint32_t first = 0; Resources()->GetResources().size() + kMaxResourcesPerList < kMaxResourcesHeld;
       first += kMaxResourcesPerList) {
    Console([&] { Receive(netserver::ResourceList(Stopped("g", first, kMaxResourcesPerList))); });
  }
  const std::uint32_t held = std::uint32_t(Resources()->GetResources().size());
  const std::uint32_t room = kMaxResourcesHeld - 1 - held;
  ASSERT_LT(room, kMaxResourcesPerList);
  std::string console = Console([&] { Receive(netserver::ResourceList(Stopped("h", 0, room + 1))); });
  EXPECT_EQ("MULTIPLAYER: Refused a resource list of 50000 resources held (at most 49999)\n", console);
  EXPECT_EQ(held, Resources()->GetResources().size());
  // Held names and names listed twice count once.
  auto listing = Stopped("h", 0, room);
  listing.push_back({"a0", true, {}});
  listing.push_back({"H0", false, {}});
  console = Console([&] { Receive(netserver::ResourceList(listing)); });
  EXPECT_FALSE(Has(console, "Refused"));
  EXPECT_EQ(kMaxResourcesHeld - 1, Resources()->GetResources().size());
  EXPECT_TRUE(Find(u"a0")->IsRunning());
}

// The largest packet the client takes is the largest list within the bounds, every name at its longest; such a
// list is read whole.
TEST_P(ResourcesTest, TheLargestPacketIsTheLargestValidList) {
  std::vector<netserver::Resource> resources(kMaxResourcesPerList);
  for (std::uint32_t i = 0; i < kMaxResourcesPerList; ++i) {
    std::string name = std::to_string(i);
    resources[i].name = name + std::string(kLongestWireName - name.size(), 'r');
    resources[i].files.push_back({1, std::string(kLongestWireName, 'f'), 1, 0});
  }
  Bytes packet = netserver::ResourceList(resources);
  EXPECT_EQ(kMaxPacketSize, packet.size());
  std::uint32_t id = 0;
  ASSERT_TRUE(ReadPacketHeader(packet.data(), packet.size(), &id));
  CByteArrayStream* stream = OpenPacket(packet.data(), packet.size());
  ASSERT_NE(stream, nullptr);
  ResourceListMessage list;
  EXPECT_TRUE(ReadResourceList(stream, &list));
  stream->Release();
  EXPECT_EQ("", list.refusedWhole);

  ASSERT_NO_FATAL_FAILURE(ConnectAndAccept(1, 0));
  EXPECT_EQ(kMaxPacketSize, state->m_pClient->GetHost()->maximumPacketSize);
}

// One list at each bound costs the game thread a fraction of a second: every resource running (an environment
// each), or every file of one resource to fetch (a cache check and a queued job each).
TEST_P(ResourcesTest, AListAtItsBoundsTakesAFractionOfASecond) {
  std::vector<netserver::Resource> running = Stopped("run", 0, kMaxResourcesPerList);
  for (auto& resource : running) resource.running = true;
  const struct {
    const char* label;
    Bytes packet;
    std::size_t records, jobs;
  } cases[] = {
      {"running resources", netserver::ResourceList(running), kMaxResourcesPerList, 0},
      {"files to fetch", netserver::ResourceList(Stopped("fetch", 0, 1, kMaxFilesPerResource)), 1,
       kMaxFilesPerResource},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    CQVNetClient* client = MakeResourceClient();
    Bytes packet = c.packet;
    const auto start = Clock::now();
    Console([&] { client->ReceivePacket(packet.data(), packet.size()); });
    const auto took = Clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(kListTimeBoundMs))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_EQ(c.records, Resources()->GetResources().size());
    EXPECT_EQ(c.records,
              std::size_t(std::count_if(Resources()->GetResources().begin(), Resources()->GetResources().end(),
                                        [&](CClientResource* r) { return r->IsRunning() == (c.jobs == 0); })));
    EXPECT_EQ(c.jobs, client->GetServerInfo()->GetLoader().GetJobCount());
    state->m_pClient.reset();
  }
}

// Stopped resources of distinct keys, none of them held before, whose keys satisfy `wanted`: "k<n>_" and four more
// letters or digits, whose CRC-32 (the key of a name without capitals) is taken a byte at a time so that a search
// over millions of names stays short.
std::vector<netserver::Resource> NamesOfKeys(std::size_t count, const std::function<bool(std::uint32_t)>& wanted) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0xEDB88320u : 0);
      entries[i] = crc;
    }
    return entries;
  }();
  const auto step = [&](std::uint32_t crc, char c) { return (crc >> 8) ^ table[(crc ^ std::uint8_t(c)) & 0xFF]; };
  static const std::string kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::vector<netserver::Resource> names;
  std::set<std::uint32_t> keys;
  for (std::uint32_t prefix = 0; names.size() < count; ++prefix) {
    const std::string head = "k" + std::to_string(prefix) + "_";
    std::uint32_t headCrc = 0xFFFFFFFFu;
    for (const char c : head) headCrc = step(headCrc, c);
    for (const char a : kLetters) {
      for (const char b : kLetters) {
        for (const char c : kLetters) {
          const std::uint32_t partial = step(step(step(headCrc, a), b), c);
          for (const char d : kLetters) {
            const std::uint32_t key = ~step(partial, d);
            if (names.size() < count && wanted(key) && keys.insert(key).second) {
              names.push_back({head + a + b + c + d, false, {}});
            }
          }
        }
      }
    }
  }
  for (const auto& name : names) EXPECT_TRUE(wanted(HashResourceName(WidenBytes(name.name)))) << name.name;
  return names;
}

// A server names its resources, and with them their keys: the bucket of the table each falls in, and the bucket of
// any hash table keyed by them. Lists of names whose keys share one bucket of the table (filling it to its bound,
// then naming records already held), or one bucket of a hash table of a list's keys, cost a list no more than names
// spread over every bucket do. All shapes run in one process, so the comparison holds on a busy machine.
TEST_P(ResourcesTest, ListsCostTheSameWhateverKeysTheirNamesHave) {
  std::unordered_map<std::uint32_t, std::size_t> sized;
  for (std::uint32_t i = 0; i < kMaxResourcesPerList; ++i) sized.emplace(i, i);
  const std::uint32_t hashBuckets = std::uint32_t(sized.bucket_count());
  const auto anyKey = [](std::uint32_t) { return true; };
  const auto tableBucket = [](std::uint32_t bucket) {
    return [bucket](std::uint32_t key) { return key % CClientResources::kBucketCount == bucket; };
  };
  const struct {
    const char* label;
    std::size_t names;
    std::function<bool(std::uint32_t)> wanted;
  } shapes[] = {
      {"every bucket", kMaxResourcesHeld - 1, anyKey},
      {"table bucket 0", kMaxResourcesHeld - 1, tableBucket(0)},
      {"table bucket 63", kMaxResourcesHeld - 1, tableBucket(CClientResources::kBucketCount - 1)},
      {"one hash-table bucket", kMaxResourcesPerList, [&](std::uint32_t key) { return key % hashBuckets == 0; }},
  };
  std::vector<double> secondsPerList;
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.label);
    const std::vector<netserver::Resource> names = NamesOfKeys(shape.names, shape.wanted);
    MakeResourceClient();
    std::vector<std::vector<netserver::Resource>> lists;
    for (std::size_t first = 0; first < names.size(); first += kMaxResourcesPerList) {
      lists.emplace_back(names.begin() + std::ptrdiff_t(first),
                         names.begin() + std::ptrdiff_t(std::min(names.size(), first + kMaxResourcesPerList)));
    }
    lists.push_back(lists.front());
    Clock::duration took{};
    for (const auto& list : lists) {
      Bytes packet = netserver::ResourceList(list);
      const auto start = Clock::now();
      Console([&] { Receive(packet); });
      took += Clock::now() - start;
    }
    EXPECT_EQ(names.size(), Resources()->GetResources().size());
    secondsPerList.push_back(std::chrono::duration<double>(took).count() / double(lists.size()));
    state->m_pClient.reset();
  }
  // Before the buckets were ordered, a list of one table bucket cost ten times a spread one, and of one hash-table
  // bucket twenty.
  for (std::size_t i = 1; i < std::size(shapes); ++i) {
    EXPECT_LT(secondsPerList[i], 3 * secondsPerList[0] + 0.1)
        << shapes[i].label << ": " << secondsPerList[i] << " s a list against " << secondsPerList[0];
  }
}

// Starts cost the frame's work budget their scripts: restarts of a resource of many scripts that arrive together
// spread over frames, each frame starting no more than the budget holds, and none is lost.
TEST_P(ResourcesTest, RestartsSpreadOverFramesByTheirScripts) {
  ASSERT_NO_FATAL_FAILURE(ConnectAndEnterGame());
  constexpr std::uint32_t kScripts = 1000, kRestarts = 60;
  std::vector<netserver::Resource> resources = Stopped("storm", 0, 1);
  for (std::uint32_t i = 0; i < kScripts; ++i) resources[0].files.push_back({1, std::to_string(i) + ".nut", 1, 0});
  Console([&] { Receive(netserver::ResourceList(resources)); });
  for (std::uint32_t i = 0; i < kRestarts; ++i) {
    ASSERT_EQ("told the player to restart the resource storm0", server->Command("resstate storm0 2"));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto [most, total] = CountPerFrame("started.\n", kRestarts);
  EXPECT_EQ(kRestarts, total);
  // Each restart spends its event and its scripts; the one that passes the budget is made whole.
  EXPECT_LE(most, std::size_t((CQVNetClient::kWorkPerFrame + kScripts) / (kScripts + 1)));
  EXPECT_GT(most, 1u);
}

// Each list first cancels the jobs of the one before: lists that arrive together are handled one a frame, small or
// large, with a stalled download and without, and none is lost.
TEST_P(ResourcesTest, ListsThatArriveTogetherAreHandledOneAFrame) {
  ASSERT_NO_FATAL_FAILURE(ConnectAndEnterGame());
  Write("server/race", "slow.txt", "a file the server stalls", 0);
  for (const char* fault : {"stalled", "none"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(Fault("race/slow.txt", fault));
    constexpr std::size_t kLists = 6;
    for (std::size_t i = 0; i < kLists; ++i)
      ASSERT_EQ("listed the resource race (running, 1 file)", server->Command("resources race:1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto [most, total] = CountPerFrame("downloading count", kLists);
    EXPECT_EQ(kLists, total);
    EXPECT_EQ(1u, most);
  }
}

// A list cancels the downloads of the one before, but never waits for a transfer its server keeps from ending: a
// server that lists a resource again every frame while a file of it stalls, is held half-way or drips slowly keeps
// the frames short, and once it serves the file the last list's copy arrives whole.
TEST_P(ResourcesTest, AListNeverWaitsForTheTransfersItCancels) {
  ASSERT_NO_FATAL_FAILURE(ConnectAndEnterGame());
  const std::string content(100000, 'x');
  Write("server/race", "slow.txt", content, 0);
  for (const char* fault : {"stalled", "held", "slow"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(Fault("race/slow.txt", fault));
    // Spacings of the lists: the cancelled transfer's next progress call comes up to a second later, wherever in
    // its wait the cancel finds it.
    const int spacingsMs[] = {100, 250, 400, 550, 700, 850};
    for (const int spacing : spacingsMs) {
      ASSERT_EQ("listed the resource race (running, 1 file)", server->Command("resources race:1"));
      std::this_thread::sleep_for(std::chrono::milliseconds(spacing));
      const auto start = Clock::now();
      Console([&] { ProcessNetFrame(state.get()); });
      const auto took = Clock::now() - start;
      // Before, each list waited for the cancelled transfer's next progress call: up to a second.
      EXPECT_LT(took, std::chrono::milliseconds(300))
          << "lists " << spacing << " ms apart: " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
          << " ms";
    }
    ASSERT_TRUE(Fault("race/slow.txt", "none"));
    ASSERT_EQ("listed the resource race (running, 1 file)", server->Command("resources race:1"));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Console([&] { ProcessNetFrame(state.get()); });
    ASSERT_TRUE(PumpUntil([&] { return Find(u"race")->GetPendingCount() == 0; }));
    EXPECT_EQ(content, ReadFile(root + "/Caches/race/slow.txt"));
    Drain(state->m_pClient.get());
    std::size_t left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root + "/Caches/race"))
      left += entry.is_regular_file();
    EXPECT_EQ(1u, left) << "only the file itself stays, no partial copy";
    std::filesystem::remove_all(root + "/Caches/race");
  }
}

// One list that names a record twice (by its name or another spelling of its key), or a file of a record twice:
// the later listing replaces the earlier, so each file is fetched once and the record is ready only when every
// file listed is in. Here the last file is held half-way by the server meanwhile.
TEST_P(ResourcesTest, ARepeatedListingReplacesTheFirstAndReadyWaitsForEveryFile) {
  const netserver::File script = Cache("race", "client.nut", kReportingScript);
  const netserver::File a = Write("server/race", "a.txt", "first file", 0);
  const netserver::File b = Write("server/race", "b.txt", "second file", 0);
  const struct {
    const char* label;
    std::vector<netserver::Resource> resources;
  } cases[] = {
      {"a name twice", {{"race", true, {script, a}}, {"race", true, {script, a, b}}}},
      {"another spelling", {{"race", true, {script, a}}, {"RACE", true, {script, a, b}}}},
      {"a file twice", {{"race", true, {script, a, a, b}}}},
      {"a name twice, stopped first", {{"race", false, {a}}, {"race", true, {script, a, b}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(root + "/Caches/race/a.txt");
    std::filesystem::remove(root + "/Caches/race/b.txt");
    CQVNetClient* client = MakeResourceClient();
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
    ASSERT_TRUE(Fault("race/b.txt", "held"));
    chat.clear();
    Console([&] { Receive(netserver::ResourceList(c.resources)); });
    CBackgroundLoader& loader = client->GetServerInfo()->GetLoader();
    // Frames until the held file has half its bytes and everything before it is delivered.
    const auto deadline = Clock::now() + kPumpTimeout;
    while (std::count(chat.begin(), chat.end(), "file race a.txt") == 0 && Clock::now() < deadline) {
      loader.ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int frame = 0; frame < 50; ++frame) {
      loader.ProcessFinished();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ((Lines{"loaded race", "start race race", "file race a.txt"}), chat);
    EXPECT_EQ(1u, Find(u"race")->GetPendingCount());
    ASSERT_TRUE(Fault("race/b.txt", "none"));
    Drain(client);
    EXPECT_EQ((Lines{"loaded race", "start race race", "file race a.txt", "file race b.txt", "ready race race"}), chat);
    EXPECT_EQ("second file", ReadFile(root + "/Caches/race/b.txt"));
    state->m_pClient.reset();
  }
}

// A script that does not compile ends its resource the same way whether it came from the cache or was downloaded:
// "START: Resource race failed to load!" and the resource stops; from then on it is cached and fails alike.
TEST_P(ResourcesTest, AScriptThatDoesNotCompileFailsItsResourceCachedOrDownloaded) {
  const char* const broken[] = {"local x = ;", "function f( {", "Multiplayer.OutputChatBox(\"unterminated);", "}",
                                "if (true"};
  for (const char* code : broken) {
    for (const bool cached : {true, false}) {
      SCOPED_TRACE(std::string(code) + (cached ? " cached" : " downloaded"));
      std::filesystem::remove_all(root + "/Caches");
      CQVNetClient* client = MakeResourceClient();
      client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
      const netserver::File good = Cache("race", "first.nut", "Multiplayer.OutputChatBox(\"first ran\");");
      const netserver::File bad = cached ? Cache("race", "second.nut", code) : Write("server/race", "second.nut", code);
      testing::internal::CaptureStderr();
      const std::string console = Console([&] {
        Receive(netserver::ResourceList({{"race", true, {good, bad}}}));
        Drain(client);
      });
      const std::string errors = testing::internal::GetCapturedStderr();
      EXPECT_TRUE(Has(errors, "second.nut")) << errors;
      EXPECT_TRUE(Has(console, "START: Resource race failed to load!\n")) << console;
      EXPECT_TRUE(Has(console, "STOP: Resource race stopped.\n")) << console;
      EXPECT_FALSE(Find(u"race")->IsRunning());
      // Cached by now either way: a start fails the same.
      testing::internal::CaptureStderr();
      const std::string again =
          Console([&] { Receive(netserver::ResourceState(netserver::NameHash("race"), RESOURCE_START)); });
      testing::internal::GetCapturedStderr();
      EXPECT_TRUE(Has(again, "START: Resource race failed to load!\n")) << again;
      EXPECT_FALSE(Find(u"race")->IsRunning());
      state->m_pClient.reset();
    }
  }
}

// A server may list the same cached files every frame: a file's CRC-32 is read when it is first checked and again
// only once its size or last write time changed, so a list costs no read of files it named before. The rows change
// the file between lists; the one that keeps both its size and its time shows the check trusts what it read.
TEST_P(ResourcesTest, ACachedFileIsReadAgainOnlyWhenItChanged) {
  CQVNetClient* client = MakeResourceClient();
  std::string bytes(16 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 2654435761u >> 24);
  const std::string host = root + "/Caches/big/data.bin";
  netserver::Resource listed{"big", false, {Cache("big", "data.bin", bytes, 0)}};
  // Process time of one list and whether it found the cached copy current.
  auto list = [&](double* seconds) {
    const std::clock_t began = std::clock();
    Console([&] { Receive(netserver::ResourceList({listed})); });
    *seconds = double(std::clock() - began) / CLOCKS_PER_SEC;
    client->GetServerInfo()->GetLoader().CancelAll();
    return Find(u"big")->GetPendingCount() == 0;
  };
  double first = 0, again = 0;
  ASSERT_TRUE(list(&first));
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(list(&again));
    EXPECT_LT(again, first / 4) << "a list read the file again: " << again << " s against " << first << " s";
  }

  const auto kept = std::filesystem::last_write_time(host);
  const struct {
    const char* label;
    std::function<void()> change;
    bool current;  // with the list's CRC-32 of the first bytes
  } rows[] = {
      {"other bytes, its size and time kept",
       [&] {
         std::string other = bytes;
         other[7] ^= 1;
         std::ofstream(host, std::ios::binary) << other;
         std::filesystem::last_write_time(host, kept);
       },
       true},
      {"other bytes of the same size",
       [&] {
         std::string other = bytes;
         other[7] ^= 1;
         std::ofstream(host, std::ios::binary) << other;
       },
       false},
      {"its bytes written again", [&] { std::ofstream(host, std::ios::binary) << bytes; }, true},
      {"one byte more", [&] { std::ofstream(host, std::ios::binary) << bytes << 'x'; }, false},
      {"its bytes, its time kept",
       [&] {
         std::ofstream(host, std::ios::binary) << bytes;
         std::filesystem::last_write_time(host, kept);
       },
       true},
      {"removed", [&] { std::filesystem::remove(host); }, false},
      {"made again", [&] { std::ofstream(host, std::ios::binary) << bytes; }, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a new write gets a later time
    row.change();
    EXPECT_EQ(row.current, list(&again));
  }
}
}  // namespace
}  // namespace nettest
