// The task context: messages collected in order, cut at a character boundary, from many threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <base/TaskContext.h>

namespace {

TEST(TaskContext, CollectsMessagesInOrderAndCounts) {
  tTaskContext task;
  EXPECT_EQ(task.GetErrorCount(), 0u);
  task.AddError("first");
  task.AddError("second");
  task.AddError(nullptr);
  EXPECT_EQ(task.GetErrorCount(), 3u);
  EXPECT_EQ(task.GetErrors(), (std::vector<std::string>{"first", "second", ""}));
}

TEST(TaskContext, LongMessagesAreCutAtACharacterBoundary) {
  tTaskContext task;
  task.AddError(std::string(1023, 'a').c_str());
  task.AddError(std::string(5000, 'b').c_str());
  // 1022 ASCII bytes then a two-byte character that would end at byte 1024.
  task.AddError((std::string(1022, 'c') + "\xC3\xA9tail").c_str());
  // A four-byte character straddling the limit.
  task.AddError((std::string(1021, 'd') + "\xF0\x9F\x98\x80").c_str());
  // Stray continuation bytes are no character to keep whole: the cut stays at the limit.
  task.AddError(("e" + std::string(1500, '\xA9')).c_str());
  auto errors = task.GetErrors();
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_EQ(errors[0], std::string(1023, 'a'));
  EXPECT_EQ(errors[1], std::string(1023, 'b'));
  EXPECT_EQ(errors[2], std::string(1022, 'c'));
  EXPECT_EQ(errors[3], std::string(1021, 'd'));
  EXPECT_EQ(errors[4], "e" + std::string(1022, '\xA9'));
}

TEST(TaskContext, ConcurrentAddErrorKeepsEveryMessage) {
  tTaskContext task;
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&task, t] {
      for (int i = 0; i < kEach; ++i) task.AddError(("t" + std::to_string(t) + "-" + std::to_string(i)).c_str());
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(task.GetErrorCount(), std::uint32_t(kThreads * kEach));
  auto errors = task.GetErrors();
  EXPECT_EQ(errors.size(), std::size_t(kThreads * kEach));
  // Each thread's own messages stay in its order.
  std::vector<int> next(kThreads, 0);
  for (const auto& e : errors) {
    const int t = e[1] - '0';
    EXPECT_EQ(e, "t" + std::to_string(t) + "-" + std::to_string(next[t]));
    ++next[t];
  }
}

}  // namespace
