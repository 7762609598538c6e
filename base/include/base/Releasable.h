#pragma once
// Plain reference-counted objects and the root of the program's own threads.
#include <cstdint>

#include <platform/win32types.h>

// The count is a plain integer: holders serialise their own access (one
// thread at a time, or under a lock of their own).
class tReleasable {
 public:
  virtual ~tReleasable() = default;

  tReleasable() = default;
  tReleasable(const tReleasable&) = delete;
  tReleasable& operator=(const tReleasable&) = delete;

  void AddRef() { ++m_refCount; }
  // Above 1 the count drops and the new count is returned; otherwise the
  // object is destroyed and 0 is returned.
  std::uint32_t Release();
  std::uint32_t GetRefCount() const { return m_refCount; }

 protected:
  std::uint32_t m_refCount = 1;
};

// A worker thread's object. Owners stop and join their thread before they
// destroy the object: the destructor closes the handle and never waits.
class tThread {
 public:
  tThread() = default;
  tThread(const tThread&) = delete;
  tThread& operator=(const tThread&) = delete;

  // The thread's exit code.
  virtual std::uint32_t Run() = 0;
  virtual ~tThread();

  // Start routine for CreateThread with the tThread as parameter.
  static DWORD WINAPI ThreadProc(void* parameter);

  // Starts Run on a new thread; a handle left from an earlier run is closed
  // first. False when the thread could not be made.
  bool Start();
  HANDLE GetHandle() const { return m_thread; }

 protected:
  HANDLE m_thread = nullptr;
};
