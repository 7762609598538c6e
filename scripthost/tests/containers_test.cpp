// CTaskQueue and NameHashTable on one thread: order, the event, equal hashes and removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include <scripthost/NameHashTable.h>
#include <scripthost/TaskQueue.h>

namespace {

using Entries = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The drain loop of the game's frame: a wait of 0 on the event, then entries until none is left; an entry of
// value 1 pushes another while the drain runs.
Entries Drain(CTaskQueue& queue) {
  Entries got;
  if (WaitForSingleObject(queue.GetEvent(), 0) != WAIT_OBJECT_0) return got;
  std::uint32_t kind = 0, value = 0;
  while (queue.Pop(&kind, &value)) {
    got.emplace_back(kind, value);
    if (value == 1) queue.Push(9, 99);
  }
  return got;
}

TEST(TaskQueue, DrainOrderAndTheEvent) {
  CTaskQueue queue;
  EXPECT_TRUE(Drain(queue).empty());
  for (std::uint32_t i = 2; i < 5; ++i) queue.Push(i % 2, i);
  EXPECT_EQ(Drain(queue), (Entries{{0, 2}, {1, 3}, {0, 4}}));
  EXPECT_TRUE(Drain(queue).empty());
  queue.Push(0, 1);
  EXPECT_EQ(Drain(queue), (Entries{{0, 1}, {9, 99}}));
  EXPECT_EQ(WaitForSingleObject(queue.GetEvent(), 0), DWORD(WAIT_TIMEOUT));
  for (std::uint32_t i = 2; i < 6; ++i) queue.Push(0, i);
  queue.Lock();
  queue.RemoveEntry(queue.GetHead()->m_pNext);
  queue.Unlock();
  EXPECT_EQ(Drain(queue), (Entries{{0, 2}, {0, 4}, {0, 5}}));
  queue.Push(0, 7);  // left for the destructor
}

TEST(NameHashTable, LookupAndOrderAfterRemoval) {
  struct Case {
    std::vector<std::uint32_t> hashes;  // added in this order, values 0, 1, 2 ...
    std::vector<int> removed;           // indexes removed afterwards
    std::uint32_t lookup;
    int expected;                       // index found, -1 none
  };
  const std::vector<Case> cases = {
      {{}, {}, 7, -1},           {{5, 5}, {}, 5, 0},       {{1, 65}, {}, 65, 1},
      {{1, 65}, {}, 129, -1},    {{9, 9, 9}, {0}, 9, 1},   {{3, 67, 4, 131, 3}, {1, 3}, 3, 0},
      {{2, 66}, {0, 1}, 2, -1},
  };
  for (std::size_t n = 0; n < cases.size(); ++n) {
    SCOPED_TRACE(n);
    const Case& c = cases[n];
    NameHashTable table;
    std::vector<int> values(c.hashes.size()), kept;
    std::vector<NameHashTable::tNode*> nodes;
    for (std::size_t i = 0; i < c.hashes.size(); ++i) nodes.push_back(table.Add(c.hashes[i], &(values[i] = int(i))));
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const bool remove = std::find(c.removed.begin(), c.removed.end(), int(i)) != c.removed.end();
      remove ? NameHashTable::RemoveNode(nodes[i]) : kept.push_back(int(i));
    }
    NameHashTable::tNode* found = table.Find(c.lookup);
    EXPECT_EQ(found != nullptr ? *static_cast<int*>(found->m_pValue) : -1, c.expected);
    std::vector<int> ordered;
    for (const ListNode* node = table.GetOrdered().m_pHead; node != nullptr; node = node->m_pNext) {
      ordered.push_back(*static_cast<int*>(static_cast<NameHashTable::tNode*>(node->m_pRecord)->m_pValue));
    }
    EXPECT_EQ(ordered, kept);
    std::uint32_t inBuckets = 0;
    for (std::uint32_t b = 0; b < NameHashTable::kBucketCount; ++b) inBuckets += table.GetBucket(b).m_Count;
    EXPECT_EQ(inBuckets, kept.size());
    for (int index : kept) EXPECT_NE(table.Find(c.hashes[std::size_t(index)]), nullptr);
  }
}

}  // namespace
