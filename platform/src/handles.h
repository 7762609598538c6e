#pragma once
// The one table of kernel-object handles (events, threads, files, find handles).
//
// A handle value packs a slot index and the slot's generation, so a closed handle
// that is used again (or a made-up value) is found stale instead of reaching
// another object. Objects are shared: a call that looked one up keeps it alive
// even when another thread closes the handle meanwhile.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <platform/errors.h>
#include <platform/win32types.h>

namespace platform::detail {

enum class HandleKind { Event, Thread, File, Find, Process };

struct HandleObject {
  explicit HandleObject(HandleKind k) : kind(k) {}
  virtual ~HandleObject() = default;
  const HandleKind kind;
};

// Waitable state is guarded by one process-wide mutex and announced on one
// condition variable; waits for several objects need a single view of them all.
std::mutex& WaitMutex();
std::condition_variable& WaitCondition();

struct EventObject : HandleObject {
  EventObject(bool manual, bool initial) : HandleObject(HandleKind::Event), manualReset(manual), signalled(initial) {}
  const bool manualReset;
  bool signalled;  // WaitMutex
};

// Threads and processes: signalled once they have ended, then holding their exit code.
struct EndingObject : HandleObject {
  using HandleObject::HandleObject;
  bool finished = false;  // WaitMutex
  DWORD exitCode = 0;     // WaitMutex
};

struct ProcessObject;

struct ThreadObject : EndingObject {
  ThreadObject() : EndingObject(HandleKind::Thread) {}
  DWORD threadId = 0;     // WaitMutex; set by the thread before it runs its routine
  bool idKnown = false;   // WaitMutex
  // A thread of this process that was not made by CreateThread (OpenThread found it by id): ExitThread and
  // TerminateThread finish it, as nothing else knows when it ends.
  bool adopted = false;
  bool held = false;        // WaitMutex: a main thread created suspended, waiting for ResumeThread
  bool terminated = false;  // WaitMutex: ended by TerminateThread while held
  // A thread of another process (set before the handle is made); empty for the own process's threads.
  std::weak_ptr<ProcessObject> process;
};

struct ChildChannel;

// A process this one started: signalled when it has ended.
struct ProcessObject : EndingObject {
  ProcessObject() : EndingObject(HandleKind::Process) {}
  std::shared_ptr<ChildChannel> channel;  // set before the handle is made
};

struct FileObject : HandleObject {
  FileObject(int descriptor, bool owns, bool read, bool write);
  ~FileObject() override;
  const int fd;
  const bool ownsDescriptor;
  const bool readable;
  const bool writable;
  const bool regularFile;  // reads of files fill the buffer; pipes and terminals give what they have
  std::atomic<WORD> consoleAttribute{7};
};

// Inserts an object; null (ERROR_TOO_MANY_OPEN_FILES) when the table is full.
HANDLE InsertHandle(std::shared_ptr<HandleObject> object);
// The object behind a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle);
// Removes a handle; null with ERROR_INVALID_HANDLE set when it is not open.
std::shared_ptr<HandleObject> RemoveHandle(HANDLE handle);

// Threads of this process by id, for OpenThread (threads_open.cpp): CreateThread registers each of its threads;
// ExitThread of a thread it did not make finishes the object OpenThread adopted for it.
void RegisterOwnThread(const std::shared_ptr<ThreadObject>& thread);
void FinishAdoptedThread(DWORD threadId, DWORD exitCode);
// The object of a thread of this process by id: the registered one, else a new adopted one when the id names a
// live thread of this process; null otherwise.
std::shared_ptr<ThreadObject> AdoptOwnThread(DWORD threadId);

template <class T>
std::shared_ptr<T> Lookup(HANDLE handle, HandleKind kind) {
  std::shared_ptr<HandleObject> object = LookupHandle(handle);
  if (!object) return nullptr;
  if (object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

}  // namespace platform::detail
