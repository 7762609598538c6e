#pragma once
// Error collectors of the game side: the lockable base and the task context that collects messages.
//
// Nothing here throws: every operation that can fail takes a task context and
// appends a message to it; the caller tests GetErrorCount() after each step and
// stops at the first non-zero count. The context that shows its messages, and
// ends the process on any of them, is tAppContext (base/AppContext.h).
// Locking: each context's recursive lock guards its list of messages.
#include <cstdint>
#include <string>
#include <vector>

#include <platform/sync.h>
#include <platform/win32types.h>

// One recursive critical section; the lock of contexts, streams and audio
// instances. Deliberately without virtual operations.
class tLockable {
 public:
  tLockable();
  ~tLockable();
  tLockable(const tLockable&) = delete;
  tLockable& operator=(const tLockable&) = delete;

  void Lock() const;
  void Unlock() const;

 protected:
  mutable CRITICAL_SECTION m_lock;
};

// Holds a tLockable's lock for one scope.
class tLockGuard {
 public:
  explicit tLockGuard(const tLockable& lockable) : m_lockable(lockable) { m_lockable.Lock(); }
  ~tLockGuard() { m_lockable.Unlock(); }
  tLockGuard(const tLockGuard&) = delete;
  tLockGuard& operator=(const tLockGuard&) = delete;

 private:
  const tLockable& m_lockable;
};

// One collected message: UTF-8, at most kMaxErrorText bytes plus terminator.
struct tErrorEntry {
  static constexpr std::uint32_t kMaxErrorText = 1023;
  tErrorEntry* next;
  tErrorEntry* previous;
  char text[kMaxErrorText + 1];
};

class tTaskContext : public tLockable {
 public:
  tTaskContext();
  // Appends a copy of the text (cut at a character boundary to 1023 bytes).
  virtual void AddError(const char* text);
  virtual ~tTaskContext();

  tTaskContext(const tTaskContext&) = delete;
  tTaskContext& operator=(const tTaskContext&) = delete;

  // Zero means the task has not failed so far. The count only grows.
  std::uint32_t GetErrorCount() const;
  // Copies of the messages, oldest first.
  std::vector<std::string> GetErrors() const;
  // Walks the messages under this context's lock.
  template <typename F>
  void ForEachError(F&& visit) const {
    tLockGuard guard(*this);
    for (const tErrorEntry* entry = m_errorHead; entry != nullptr; entry = entry->next) visit(entry->text);
  }

 protected:
  void AppendError(const char* text);

  tErrorEntry* m_errorHead = nullptr;
  tErrorEntry* m_errorTail = nullptr;
  std::uint32_t m_errorCount = 0;
};
