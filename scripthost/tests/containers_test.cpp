// CTaskQueue and NameHashTable on one thread: order, the event, equal hashes and removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <scripthost/NameHashTable.h>
#include <scripthost/TaskQueue.h>

namespace {

using Entries = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The drain loop of the game's frame: wait 0 on the event, then take entries until none is left.
Entries Drain(CTaskQueue& queue, const std::function<void(std::uint32_t)>& onEntry = nullptr) {
  Entries got;
  if (WaitForSingleObject(queue.GetEvent(), 0) != WAIT_OBJECT_0) return got;
  std::uint32_t kind = 0, value = 0;
  while (queue.Pop(&kind, &value)) {
    got.emplace_back(kind, value);
    if (onEntry) onEntry(value);
  }
  return got;
}

TEST(TaskQueue, DrainsInPushOrderThenFindsNothing) {
  CTaskQueue queue;
  EXPECT_EQ(WaitForSingleObject(queue.GetEvent(), 0), DWORD(WAIT_TIMEOUT));
  for (std::uint32_t i = 0; i < 3; ++i) queue.Push(i % 2, 100 + i);
  EXPECT_EQ(Drain(queue), (Entries{{0, 100}, {1, 101}, {0, 102}}));
  EXPECT_TRUE(Drain(queue).empty());
  EXPECT_EQ(queue.GetCount(), 0u);
}

TEST(TaskQueue, EntryPushedDuringTheDrainIsDeliveredByIt) {
  CTaskQueue queue;
  queue.Push(0, 1);
  const Entries got = Drain(queue, [&](std::uint32_t value) {
    if (value == 1) queue.Push(0, 2);
  });
  EXPECT_EQ(got, (Entries{{0, 1}, {0, 2}}));
  EXPECT_EQ(WaitForSingleObject(queue.GetEvent(), 0), DWORD(WAIT_TIMEOUT));
}

TEST(TaskQueue, RemoveEntryUnderTheLockAndDestructionWithEntriesLeft) {
  auto* queue = new CTaskQueue;
  for (std::uint32_t i = 0; i < 4; ++i) queue->Push(0, i);
  queue->Lock();
  queue->RemoveEntry(queue->GetHead()->m_pNext);
  queue->Unlock();
  std::uint32_t kind = 0, value = 0;
  ASSERT_TRUE(queue->Pop(&kind, &value));
  EXPECT_EQ(value, 0u);
  ASSERT_TRUE(queue->Pop(&kind, &value));
  EXPECT_EQ(value, 2u);
  delete queue;  // one entry left: freed with the queue
}

struct HashCase {
  const char* name;
  std::vector<std::uint32_t> hashes;  // added in this order, values 0, 1, 2 ...
  std::vector<int> removed;           // indexes removed afterwards
  std::uint32_t lookup;
  int expected;                       // index found, -1 none
};

class NameHashTableCases : public ::testing::TestWithParam<HashCase> {};

TEST_P(NameHashTableCases, LookupAndOrderAfterRemoval) {
  const HashCase& c = GetParam();
  NameHashTable table;
  std::vector<int> values(c.hashes.size());
  std::vector<NameHashTable::tNode*> nodes;
  for (std::size_t i = 0; i < c.hashes.size(); ++i) {
    values[i] = int(i);
    nodes.push_back(table.Add(c.hashes[i], &values[i]));
  }
  std::vector<int> kept;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (std::find(c.removed.begin(), c.removed.end(), int(i)) != c.removed.end()) {
      NameHashTable::RemoveNode(nodes[i]);
    } else {
      kept.push_back(int(i));
    }
  }
  NameHashTable::tNode* found = table.Find(c.lookup);
  EXPECT_EQ(found != nullptr ? *static_cast<int*>(found->m_pValue) : -1, c.expected);
  std::vector<int> ordered;
  for (const ListNode* node = table.GetOrdered().m_pHead; node != nullptr; node = node->m_pNext) {
    ordered.push_back(*static_cast<int*>(static_cast<NameHashTable::tNode*>(node->m_pRecord)->m_pValue));
  }
  EXPECT_EQ(ordered, kept);
  for (int index : kept) EXPECT_NE(table.Find(c.hashes[std::size_t(index)]), nullptr);
  std::uint32_t inBuckets = 0;
  for (std::uint32_t b = 0; b < NameHashTable::kBucketCount; ++b) inBuckets += table.GetBucket(b).m_Count;
  EXPECT_EQ(inBuckets, kept.size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, NameHashTableCases,
    ::testing::Values(HashCase{"empty", {}, {}, 7, -1}, HashCase{"equal hash yields the first", {5, 5}, {}, 5, 0},
                      HashCase{"same bucket, other hash", {1, 65}, {}, 65, 1},
                      HashCase{"same bucket, missing hash", {1, 65}, {}, 129, -1},
                      HashCase{"removing the first of equals", {9, 9, 9}, {0}, 9, 1},
                      HashCase{"removal keeps the rest in order", {3, 67, 4, 131, 3}, {1, 3}, 3, 0},
                      HashCase{"all removed", {2, 66}, {0, 1}, 2, -1}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

}  // namespace
