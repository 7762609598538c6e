// The loader under churn: downloads cancelled mid-transfer, the lists replaced as a new resource list does, and
// the connection torn down with jobs in flight, round after round (also run whole under DRD).
#include "download_fixture.h"

#include <valgrind/valgrind.h>

namespace dltest {
namespace {

constexpr int kRounds = 200;
// Under valgrind every thread ever made stays on DRD's books and makes each later step dearer: fewer rounds there.
constexpr int kRoundsUnderValgrind = 40;
constexpr std::size_t kGoodSize = 4096, kSlowSize = 2048;

::testing::Environment* const g_World = ::testing::AddGlobalTestEnvironment(new DownloadWorld);

TEST(DownloadStress, CancelRequeueAndTeardownStayClean) {
  DownloadWorld& world = *DownloadWorld::Get();
  const std::string good = Bytes(kGoodSize, 1), slow = Bytes(kSlowSize, 2);
  world.Serve("stress", "g.bin", good);
  world.Serve("stress", "s.bin", slow);
  ASSERT_TRUE(world.SetFault("stress/s.bin", "slow"));
  testing::internal::CaptureStdout();
  int delivered = 0;
  const int rounds = RUNNING_ON_VALGRIND ? kRoundsUnderValgrind : kRounds;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    CRecordingResource resource(u"stress");
    auto info = std::make_unique<CServerInfo>("127.0.0.1", world.server->HttpPort());
    CBackgroundLoader& loader = info->GetLoader();
    CClientFile* jobs[] = {QueueFile(info.get(), &resource, "g.bin", good),
                           QueueFile(info.get(), &resource, "s.bin", slow)};
    loader.ProcessFinished();
    // Every other round the slow file is caught mid-transfer; the others cancel whatever state it is in.
    const auto deadline = Clock::now() + kIdleBound;
    while (round % 2 == 1 && jobs[1]->GetProgress() == 0 && Clock::now() < deadline) {
      loader.ProcessFinished();
      Sleep(1);
    }
    // A new resource list: cancel, join, new counts, new jobs.
    loader.CancelAll();
    loader.WaitForThreads();
    EXPECT_EQ(0u, loader.GetJobCount());
    info->ResetByteCounts();
    CClientFile* again = QueueFile(info.get(), &resource, "g.bin", good);
    if (round % 4 == 0) {
      ASSERT_TRUE(RunUntilIdle(loader));
      std::uint64_t total = 0, downloaded = 0;
      info->GetByteCounts(&total, &downloaded);
      EXPECT_EQ(kGoodSize, total);
      EXPECT_EQ(kGoodSize, downloaded);
      EXPECT_EQ("file g.bin ok", resource.log.back());
    } else {
      loader.ProcessFinished();
    }
    // Only the good file is ever delivered, and only as whole.
    for (const std::string& line : resource.log) EXPECT_EQ("file g.bin ok", line);
    delivered += int(resource.log.size());
    // The connection goes with its jobs in flight.
    info.reset();
    for (CClientFile* job : jobs) job->Release();
    again->Release();
  }
  testing::internal::GetCapturedStdout();
  EXPECT_GE(delivered, rounds / 4);
  for (const auto& entry : fs::directory_iterator(world.CacheFolder() / "stress")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "g.bin" || name == "s.bin") << name << " was left";
  }
  // A job that starts removes the older copy first, so the last teardown may have left none; never a part.
  const fs::path cached = world.CacheFolder() / "stress" / "g.bin";
  if (fs::exists(cached)) {
    EXPECT_EQ(good, ReadAll(cached));
  }
}

}  // namespace
}  // namespace dltest
