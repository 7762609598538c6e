#pragma once
// The engine's worker thread and the paged background file loader.
//
// Errors: false or null results. Locking: each loader slot has its own critical section; the slot
// table is fixed before the worker starts (AddSlot, then Start). A Thread's owner stops it (Stop)
// before deleting it: the running thread reaches the object until it is joined.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <engine/MemoryBlock.h>
#include <engine/Stream.h>
#include <engine/VexilReference.h>
#include <platform/sync.h>

namespace Vexil3D {

class Thread {
 public:
  Thread();
  // Stops a thread still running, then closes both handles.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool Start();
  // Sets the exit event and waits for the thread without limit.
  void Stop();
  // Whether the thread handle is signalled (the thread has ended), by a wait of no time.
  bool IsSignalled() const;
  // Manual-reset; set by Stop. Run waits on it to learn that it should end.
  HANDLE GetExitEvent() const { return m_hExit; }

 protected:
  virtual DWORD Run() = 0;

 private:
  static DWORD Entry(LPVOID self);

  HANDLE m_hThread = nullptr;
  HANDLE m_hExit = nullptr;
};

// A source stream read in extents of whole 4096-byte pages, one per slot, either on demand or by
// the worker thread when a slot is requested.
class CAsyncFileLoader {
 public:
  static constexpr std::uint32_t kPageSize = 4096;

  explicit CAsyncFileLoader(Stream* source);
  // Stops the worker (it finishes the slot at hand), then destroys the slots; streams handed out stay
  // readable.
  ~CAsyncFileLoader();
  CAsyncFileLoader(const CAsyncFileLoader&) = delete;
  CAsyncFileLoader& operator=(const CAsyncFileLoader&) = delete;

  // A slot over pages [firstPage, firstPage + pageCount), found by name when it has one; its index, or
  // UINT32_MAX before a started worker (slots are added first).
  std::uint32_t AddSlot(std::uint32_t firstPage, std::uint32_t pageCount, std::u16string_view name = {});
  // The first slot of that (non-empty) name, or UINT32_MAX.
  std::uint32_t FindSlot(std::u16string_view name) const;
  std::uint32_t GetSlotCount() const { return static_cast<std::uint32_t>(m_Slots.size()); }
  bool Start();

  // Asks the worker to load the slot; false for an unknown slot.
  bool Request(std::uint32_t slot);
  bool IsReady(std::uint32_t slot) const;
  // Loads the slot now unless it is ready, then a new stream over its bytes (the bytes read: the
  // last page may be short) that keeps them alive; one reference for the caller, or null.
  Stream* GetStream(std::uint32_t slot);
  // Reads the slot again; streams handed out before keep the bytes they had.
  bool Reload(std::uint32_t slot);

 private:
  struct Slot {
    CRITICAL_SECTION lock;
    HANDLE requested = nullptr;
    HANDLE ready = nullptr;
    HANDLE busy = nullptr;
    Strong<CMemoryBlock> buffer;
    std::uint32_t size = 0;
    std::uint32_t firstPage = 0;
    std::uint32_t pageCount = 0;
    std::u16string name;
  };
  class Worker : public Thread {
   public:
    explicit Worker(CAsyncFileLoader* loader) : m_pLoader(loader) {}
    ~Worker() override { Stop(); }

   protected:
    DWORD Run() override;

   private:
    CAsyncFileLoader* m_pLoader;
  };

  bool LoadSlot(Slot* slot, bool force);
  Slot* GetSlot(std::uint32_t index) const { return index < m_Slots.size() ? m_Slots[index].get() : nullptr; }

  Strong<Stream> m_pSource;
  // Reads of the source go one at a time: every read moves its position.
  CRITICAL_SECTION m_SourceLock;
  HANDLE m_hWork = nullptr;
  std::vector<std::unique_ptr<Slot>> m_Slots;
  std::unique_ptr<Worker> m_pWorker;
};

}  // namespace Vexil3D
