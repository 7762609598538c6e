#pragma once
// The game side's doubly linked list. Nodes know their list, so a node alone is
// enough to unlink it; the list never owns the records its nodes point at.
#include <cstdint>

struct tList;

struct ListNode {
  tList* m_pList;
  ListNode* m_pPrevious;
  ListNode* m_pNext;
  void* m_pRecord;

  // Unlinks the node from its list (head, tail and count follow) and frees it.
  static void Remove(ListNode* node);
};

struct tList {
  ListNode* m_pHead = nullptr;
  ListNode* m_pTail = nullptr;
  std::uint32_t m_Count = 0;

  tList() = default;
  // Frees the nodes (never the records).
  ~tList() { Clear(); }
  tList(const tList&) = delete;
  tList& operator=(const tList&) = delete;

  // Appends a new node for record at the tail and returns it.
  ListNode* Append(void* record);
  // Removes and frees every node.
  void Clear();
};
