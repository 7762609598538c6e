// A long game session in one process: the Multiplayer module started again and again (its client object loading
// the console page each time), connected to the loopback test server, levels loaded, and a server resource
// downloaded, started and restarted with its script run each time. Whatever a load keeps for ever adds up over
// hours, so the process's live heap must stay flat once the first rounds have filled the caches.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <vector>

#include <hack/ModuleEventData.h>

#include "module_fixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of the bytes its allocator holds for the program (GCC ships no header declaring it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace mptest {
namespace {

using Clock = std::chrono::steady_clock;

#if !defined(__SANITIZE_ADDRESS__)
// The C library keeps a few freed blocks of each small size in a cache of the freeing thread and counts them as in
// use. How many a size holds after a round depends on the order of that round's frees (and which thread made the
// blocks), so the count drifts by a block now and then for a thousand rounds and more before every size is full.
// Filling every size now makes the cache hold the same bytes at each count: taking more blocks of a size than the
// cache can hold empties it, and giving them back fills it to its bound and sends the rest to the free lists.
void FillThreadCacheOfFreedBlocks() {
  constexpr std::size_t kLargestCachedBlock = 1100, kBlocksPerSize = 32;
  std::vector<void*> blocks;
  blocks.reserve(kLargestCachedBlock / 8 * kBlocksPerSize);
  for (std::size_t size = 8; size <= kLargestCachedBlock; size += 8) {
    for (std::size_t i = 0; i < kBlocksPerSize; ++i) blocks.push_back(std::malloc(size));
  }
  for (void* block : blocks) std::free(block);
}
#endif

// Bytes the program holds on the heap now: the sanitizer allocator's count under AddressSanitizer (which
// replaces malloc), the C library's in-use total of every arena and mapped block otherwise, its thread cache of
// freed blocks filled first so that the cache adds the same bytes to every count.
std::size_t LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  FillThreadCacheOfFreedBlocks();
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// The resource's script greets the server once its resource is ready: all files in (downloaded at the first start
// of a round, cached for the rest of it) and the scripts run.
constexpr const char* kScript = R"(
local name = Multiplayer.GetResourceName(Multiplayer.GetThisResource());
Engine.EventSystem.GetEventType("OnResourceReady").AddHandler(function(e, resource) {
  Multiplayer.OutputChatBox("Hello from " + name);
  Multiplayer.TriggerServerEvent("onWelcome", name);
});
)";
constexpr std::size_t kDataBytes = 3000;
constexpr std::uint8_t kLevels[] = {5, 7, 5};
const gamedouble::Place kStateByte{0x7FD170, 0x7FD290, 0x7FD2D0, 0xE5C2D0};

// The measure itself: a block counts from its allocation to its release and not a byte longer, whatever its size
// (cached per thread, kept on the free lists, or mapped on its own) and whatever the order of the releases.
TEST(LiveHeapBytesTest, CountsBlocksWhileHeldAndNoneOnceFreed) {
  struct Case {
    std::size_t size, count;
    bool reverse;
  };
  constexpr Case kCases[] = {{1, 1, false},   {24, 3, false},   {100, 8, true},  {500, 20, false},
                             {1000, 7, true}, {1020, 9, false}, {4000, 4, true}, {300000, 2, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.count) + " blocks of " + std::to_string(c.size) + " bytes");
    std::vector<void*> blocks;
    blocks.reserve(c.count);
    const std::size_t before = LiveHeapBytes();
    for (std::size_t i = 0; i < c.count; ++i) blocks.push_back(std::malloc(c.size));
    const std::size_t held = LiveHeapBytes();
    if (c.reverse) std::reverse(blocks.begin(), blocks.end());
    for (void* block : blocks) std::free(block);
    const std::size_t after = LiveHeapBytes();
    EXPECT_GE(held, before + c.count * c.size);
    EXPECT_EQ(before, after);
  }
}

class SessionTest : public ModuleTest {
 protected:
  // Frames until the server has answered a line that begins with `prefix` (every other reply is skipped).
  ::testing::AssertionResult FrameUntilReply(const std::string& prefix) {
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    std::string last;
    while (Clock::now() < deadline) {
      Frame();
      const std::string reply = server->Reply(std::chrono::milliseconds(2));
      if (reply.rfind(prefix, 0) == 0) return ::testing::AssertionSuccess();
      if (!reply.empty()) last = reply;
    }
    return ::testing::AssertionFailure() << "no \"" << prefix << "\" reply; the last was \"" << last << "\"";
  }

  // One session: connect, then for each level a level load and the resource listed again (started, or restarted
  // with its script run again), then the module unloaded as the game leaves.
  void PlayRound() {
    std::vector<std::string> scenario{"wait 1 5000", "accept 0 5 9 0 0", "wait 3 5000"};
    for (std::size_t i = 0; i < std::size(kLevels); ++i) {
      scenario.push_back("resources welcome:1");
      scenario.push_back("wait 11 10000");
    }
    scenario.push_back("wait disconnect 15000");
    ASSERT_NO_FATAL_FAILURE(Serve(scenario));
    ASSERT_EQ(MODULEREPLY_HANDLED, Start(Address()));
    Frame();
    ASSERT_NE(nullptr, Client());
    ASSERT_NE(nullptr, Client()->GetGui()->GetRoot()->FindElement(u"CmdWindow")) << "the page was not loaded";
    for (const std::uint8_t level : kLevels) {
      game->Write<std::uint8_t>(kStateByte, level);
      Send(MODULEEVENT_LOADITEMS);
      ASSERT_TRUE(FrameUntilReply("received event onWelcome "));
      EXPECT_EQ("Hello from welcome", LastChat());
    }
    Send(MODULEEVENT_UNLOAD);
    EXPECT_EQ(nullptr, multiplayer::GetModule());
    ASSERT_EQ(0u, server->Reply().rfind("the player disconnected", 0));
  }
};

TEST_P(SessionTest, RepeatedLevelsPagesAndResourcesKeepTheLiveHeapFlat) {
  // Rounds before the baseline fill what is made once per process (SDL, the script host's tables, fonts); the
  // rounds after it must give back what each took.
  constexpr int kWarmRounds = 6, kMeasuredRounds = 10;
  // Both counts give the same figure round after round once warm, so the bound is tight: a buffer that grows once
  // more may add a little, but a leak of one object of a few dozen bytes per round exceeds it within the measured
  // rounds.
  constexpr std::size_t kAllowedGrowth = 256;
  std::filesystem::create_directories(folder / "welcome");
  std::ofstream(folder / "welcome" / "client.nut") << kScript;
  std::ofstream(folder / "welcome" / "motd.txt") << std::string(kDataBytes, 'm');

  std::vector<std::size_t> live;
  live.reserve(kWarmRounds + kMeasuredRounds);
  for (int round = 0; round < kWarmRounds + kMeasuredRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_NO_FATAL_FAILURE(PlayRound());
    server.reset();
    // Every round downloads the data file again.
    std::filesystem::remove_all(folder / "UserData" / "Caches");
    live.push_back(LiveHeapBytes());
  }
  const std::size_t baseline = live[kWarmRounds - 1];
  const std::size_t highest = *std::max_element(live.begin() + kWarmRounds, live.end());
  std::string figures;
  for (const std::size_t bytes : live) figures += " " + std::to_string(bytes);
  EXPECT_LE(highest, baseline + kAllowedGrowth) << "live heap after each round:" << figures;
}

INSTANTIATE_TEST_SUITE_P(Builds, SessionTest, ::testing::Values(gamedouble::Build::VReleasePatched),
                         [](const auto& info) { return std::string(gamedouble::NameOf(info.param)); });

}  // namespace
}  // namespace mptest
