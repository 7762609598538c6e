#pragma once
// Streamed audio output for scripts: the abstract device and instance, and the
// DirectSound device and instance that play queues of CAudioSources.
//
// Errors: creation reports "Failed to create sound buffer." to the task it is
// given and answers null; callers pass a task of their own (a server's file must
// never reach g_AppContext, which ends the process). Other operations fail quietly
// (a refused DirectSound call leaves things as they were).
//
// Threads and locks: the device and the instances are used on one thread (the
// game's). Each playing CDSoundAudioInstance has a streaming thread that refills
// the half of its buffer just played; the instance's own lock guards the queue,
// the current entry, the half records and every refill. Play, Stop, SetSample and
// destruction stop and join that thread first, never while holding the lock.
// Lock order: an instance's lock, then DirectSound's.
//
// A late streaming thread (a refill that took too long, a wake-up that came late)
// lets the cursor play sound it played before. Once the thread runs again it
// silences the half under the cursor, the play position holds where the next
// sound begins, and that sound follows in order in the other half: sound is
// delayed, never played out of order, and GetSample never goes back. A refill that
// the cursor overtook inside its own half plays on from the cursor (the frames it
// passed are lost), which keeps the order too. While the thread is held up, what
// the cursor plays and where GetSample places it are those of the old sound.
#include <cstdint>

#include <base/AudioSource.h>
#include <base/Releasable.h>
#include <base/TaskContext.h>
#include <hack/List.h>
#include <platform/dsound.h>

class CAudioInstance;

// One queued source of an instance.
struct CAudioQueueEntry {
  CAudioQueueEntry* m_pNext;
  CAudioQueueEntry* m_pPrevious;
  CAudioSource* m_pSource;  // counted
  std::uint8_t m_Loop;      // repeats forever
};

class CAudio {
 public:
  // An instance queueing source (which it takes its own reference on), or null
  // with the failure in task (which may be null: the message is then dropped).
  virtual CAudioInstance* CreateInstance(tTaskContext* task, CAudioSource* source, bool loop) = 0;
  virtual void SetMasterVolume(float volume) = 0;
  virtual bool Initialise() = 0;
  virtual void Shutdown() = 0;
  virtual ~CAudio() = default;
};

class CAudioInstance {
 public:
  explicit CAudioInstance(CAudio* device) : m_pDevice(device) {}
  CAudioInstance(const CAudioInstance&) = delete;
  CAudioInstance& operator=(const CAudioInstance&) = delete;

  virtual bool Initialise(tTaskContext* task);
  virtual void Play() = 0;
  virtual void Stop() = 0;
  virtual bool IsPlaying() = 0;
  // Where Play starts next; only while not playing. entry must be one of this queue's.
  virtual void SetSample(CAudioQueueEntry* entry, std::uint32_t frame) = 0;
  // The play position: entry and frame within its source; advanced when the cursor has
  // left the half's entry, ended (frame 0 of the first entry) when past the queue's end.
  // Each pointer may be null.
  virtual std::uint32_t GetSample(CAudioQueueEntry** entry, bool* advanced, bool* ended) = 0;
  // Playback rate; the sources and the buffer's sizes stay.
  virtual void SetSamplesPerSec(std::uint32_t rate) = 0;
  virtual std::uint32_t GetSamplesPerSec() = 0;
  virtual void SetVolume(float volume) = 0;
  // Appends source (adding a reference); the queue plays in order.
  virtual void QueueSource(CAudioSource* source, bool loop) = 0;
  // Releases every queued source.
  virtual ~CAudioInstance();

  // The first queued entry; it never changes after creation.
  CAudioQueueEntry* GetFirstEntry() const { return m_pQueueHead; }

 protected:
  // Appends an entry with a reference of its own on source. The caller holds the instance's lock, if any.
  CAudioQueueEntry* AppendEntry(CAudioSource* source, bool loop);
  bool InQueue(const CAudioQueueEntry* entry) const;

  CAudio* m_pDevice;  // null once the device has gone
  CAudioQueueEntry* m_pQueueHead = nullptr;
  CAudioQueueEntry* m_pQueueTail = nullptr;
  std::uint32_t m_QueueCount = 0;
  CAudioQueueEntry* m_pCurrent = nullptr;
};

class CDSoundAudio : public CAudio {
 public:
  // Opens nothing until Initialise; window may be null (Initialise then fails).
  explicit CDSoundAudio(HWND window) : m_hWindow(window) {}
  CDSoundAudio(const CDSoundAudio&) = delete;
  CDSoundAudio& operator=(const CDSoundAudio&) = delete;

  CAudioInstance* CreateInstance(tTaskContext* task, CAudioSource* source, bool loop) override;
  // Stores volume and applies it to every instance.
  void SetMasterVolume(float volume) override;
  // The default device at the normal cooperative level; false (and no device) on failure.
  bool Initialise() override;
  // Releases the device; buffers still made on it keep it until they go.
  void Shutdown() override;
  // Frees the list; instances still alive are detached and go on with the master volume they had.
  ~CDSoundAudio() override;

  float GetMasterVolume() const { return m_MasterVolume; }

 private:
  friend class CDSoundAudioInstance;

  float m_MasterVolume = 0.0f;  // meaningful from Initialise
  HWND m_hWindow;
  tList m_Instances;  // CDSoundAudioInstance*, not owned
  IDirectSound8* m_pDirectSound = nullptr;
};

class CDSoundAudioInstance : public CAudioInstance, public tLockable {
 public:
  // Half flags.
  static constexpr std::uint32_t kHalfEmpty = 0;    // nothing new in that half
  static constexpr std::uint32_t kHalfEnding = 1;   // the queue ran out inside it; silence after
  static constexpr std::uint32_t kHalfFull = 2;
  static constexpr std::uint32_t kHalfMilliseconds = 250;

  struct tHalf {
    std::uint32_t m_Flag;
    std::uint32_t m_StartFrame;  // of m_pEntry's source at the half's first byte
    HANDLE m_hEvent;             // auto-reset; set as the play cursor enters the half
    CAudioQueueEntry* m_pEntry;
    // Silence over sound already played: the position holds at m_StartFrame of m_pEntry, where the sound of
    // the other half begins, while the cursor crosses this half.
    bool m_Holding;
  };

  class CThread : public tThread {
   public:
    explicit CThread(CDSoundAudioInstance* instance);
    ~CThread() override;
    std::uint32_t Run() override;
    // Signals the stop event and waits for the thread; closes its handle.
    void Join();

    HANDLE m_hStopEvent;  // manual-reset
    CDSoundAudioInstance* m_pInstance;
  };

  explicit CDSoundAudioInstance(CDSoundAudio* device);
  ~CDSoundAudioInstance() override;

  // Makes the looping buffer of two halves from the first source's format.
  bool Initialise(tTaskContext* task) override;
  void Play() override;
  void Stop() override;
  bool IsPlaying() override;
  void SetSample(CAudioQueueEntry* entry, std::uint32_t frame) override;
  std::uint32_t GetSample(CAudioQueueEntry** entry, bool* advanced, bool* ended) override;
  void SetSamplesPerSec(std::uint32_t rate) override;
  std::uint32_t GetSamplesPerSec() override;
  // The buffer's level is -2000 x log10(1 / (volume x master volume)) hundredths of a decibel, truncated toward
  // zero; 0 from a product of 1 up. It is clamped to -10000 (DirectSound's floor, which it refuses to pass): a
  // product below about 1e-5, zero, negative or NaN sets -10000.
  void SetVolume(float volume) override;
  void QueueSource(CAudioSource* source, bool loop) override;

  IDirectSoundBuffer* GetBuffer() const { return m_pBuffer; }

 private:
  friend class CDSoundAudio;

  // Under the lock.
  std::uint32_t FillHalf(std::uint32_t half);
  // Under the lock: the entry and frame under the play cursor; true past the queue's end.
  bool Locate(CAudioQueueEntry** entry, std::uint32_t* frame, bool* advanced);
  bool BufferPlaying();
  void ApplyVolume();
  // The streaming thread's work after half's event; false ends the thread. Under the lock below.
  bool OnHalfEntered(std::uint32_t half);
  // The half under the play cursor, every pending half event taken into entered (a bit per half) as read
  // with it: the events are exactly the entries that the position shows.
  std::uint32_t TakeCursor(std::uint32_t* entered);
  // Fills half with the sound that follows and makes it the next to play; goes on with the other half while
  // the cursor overtook the fill inside it. False when playback ended.
  bool Refill(std::uint32_t half);
  // Silences half, which the cursor crosses, holding the position where the sound of the other half begins.
  void Hold(std::uint32_t half, CAudioQueueEntry* entry, std::uint32_t frame);
  // Stops at the end of the sound, ready to start over.
  void EndPlayback();

  CThread m_Thread;
  IDirectSoundBuffer* m_pBuffer = nullptr;
  tHalf m_Halves[2] = {};
  // The half whose sound plays next, once the cursor enters it (the last one filled).
  std::uint32_t m_Ahead = 0;
  std::uint32_t m_PausedFrame = 0;
  float m_Volume = 1.0f;
  ListNode* m_pNode = nullptr;  // in the device's list; null once detached
  float m_DetachedMaster = 1.0f;
  std::uint32_t m_HalfFrames = 0;
  std::uint32_t m_HalfBytes = 0;
  std::uint32_t m_BlockAlign = 0;
};
