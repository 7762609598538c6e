// The game side's doubly linked list.
#include <hack/List.h>

ListNode* tList::Append(void* record) {
  ListNode* node = new ListNode{this, m_pTail, nullptr, record};
  if (m_pTail != nullptr) {
    m_pTail->m_pNext = node;
  } else {
    m_pHead = node;
  }
  m_pTail = node;
  ++m_Count;
  return node;
}

void tList::Clear() {
  while (m_pHead != nullptr) ListNode::Remove(m_pHead);
}

void ListNode::Remove(ListNode* node) {
  if (node == nullptr) return;
  tList* list = node->m_pList;
  if (node->m_pPrevious != nullptr) {
    node->m_pPrevious->m_pNext = node->m_pNext;
  } else if (list != nullptr) {
    list->m_pHead = node->m_pNext;
  }
  if (node->m_pNext != nullptr) {
    node->m_pNext->m_pPrevious = node->m_pPrevious;
  } else if (list != nullptr) {
    list->m_pTail = node->m_pPrevious;
  }
  if (list != nullptr) --list->m_Count;
  delete node;
}
