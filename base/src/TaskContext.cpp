// Lockables and the task context that collects error messages.
#include <base/TaskContext.h>

#include <cstring>
#include <new>

#include "Utf8Prefix.h"

using base_detail::Utf8PrefixLength;

tLockable::tLockable() { InitializeCriticalSection(&m_lock); }

tLockable::~tLockable() { DeleteCriticalSection(&m_lock); }

void tLockable::Lock() const { EnterCriticalSection(&m_lock); }

void tLockable::Unlock() const { LeaveCriticalSection(&m_lock); }

tTaskContext::tTaskContext() = default;

tTaskContext::~tTaskContext() {
  tErrorEntry* entry = m_errorHead;
  while (entry != nullptr) {
    tErrorEntry* next = entry->next;
    delete entry;
    entry = next;
  }
  m_errorHead = m_errorTail = nullptr;
}

void tTaskContext::AddError(const char* text) { AppendError(text); }

void tTaskContext::AppendError(const char* text) {
  if (text == nullptr) text = "";
  tErrorEntry* entry = new tErrorEntry;
  const std::size_t length = Utf8PrefixLength(text, std::strlen(text), tErrorEntry::kMaxErrorText);
  std::memcpy(entry->text, text, length);
  entry->text[length] = '\0';
  entry->next = nullptr;

  tLockGuard guard(*this);
  entry->previous = m_errorTail;
  if (m_errorTail != nullptr)
    m_errorTail->next = entry;
  else
    m_errorHead = entry;
  m_errorTail = entry;
  ++m_errorCount;
}

std::uint32_t tTaskContext::GetErrorCount() const {
  tLockGuard guard(*this);
  return m_errorCount;
}

std::vector<std::string> tTaskContext::GetErrors() const {
  std::vector<std::string> errors;
  ForEachError([&errors](const char* text) { errors.emplace_back(text); });
  return errors;
}
