// The task context: messages collected in order, cut at a character boundary, from many threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <base/TaskContext.h>

namespace {

// Messages keep their order; a null one is empty; a long one is cut to 1023 bytes, never inside a character.
TEST(TaskContext, CollectsMessagesInOrderCutAtACharacterBoundary) {
  const std::pair<std::string, std::string> cases[] = {
      {"first", "first"},
      {std::string(1023, 'a'), std::string(1023, 'a')},
      {std::string(5000, 'b'), std::string(1023, 'b')},
      {std::string(1022, 'c') + "\xC3\xA9tail", std::string(1022, 'c')},      // the character would end at byte 1024
      {std::string(1021, 'd') + "\xF0\x9F\x98\x80", std::string(1021, 'd')},  // it straddles the limit
      // Stray continuation bytes are no character to keep whole: the cut stays at the limit.
      {"e" + std::string(1500, '\xA9'), "e" + std::string(1022, '\xA9')}};
  tTaskContext task;
  task.AddError(nullptr);
  std::vector<std::string> expected = {""};
  for (const auto& [message, kept] : cases) {
    task.AddError(message.c_str());
    expected.push_back(kept);
  }
  EXPECT_EQ(task.GetErrorCount(), expected.size());
  EXPECT_EQ(task.GetErrors(), expected);
}

TEST(TaskContext, ConcurrentAddErrorKeepsEveryMessage) {
  tTaskContext task;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&task, t] {
      for (int i = 0; i < kEach; ++i) task.AddError(("t" + std::to_string(t) + "-" + std::to_string(i)).c_str());
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(task.GetErrorCount(), std::uint32_t(kThreads * kEach));
  // Each thread's own messages stay in its order.
  std::vector<int> next(kThreads, 0);
  for (const auto& e : task.GetErrors()) {
    const int t = e[1] - '0';
    EXPECT_EQ(e, "t" + std::to_string(t) + "-" + std::to_string(next[t]++));
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
}

}  // namespace
