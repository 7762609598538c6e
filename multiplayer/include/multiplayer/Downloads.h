#pragma once
// The multiplayer client's downloads: the background loader and its jobs (tLoadable), the resource files fetched
// over HTTP into the cache "/UserData/Caches/<resource>/<file>" (CClientFile, CClientScriptFile), what a file's
// job needs of its resource (CClientResourceBase), and the cache's paths and check.
//
// Errors: nothing here is fatal and nothing asks the user: the cache goes through host calls with a task context
// of its own, never through the game-side file system's prompts or its fatal context. A file that fails (no 200
// status, another size or CRC-32 than announced, a transfer error, a cancel) prints "Unable to download %s\n"
// with its URL, leaves nothing in the cache and takes its share out of both byte counts.
// Locking: the loader's lock guards its three job lists and each job's thread field; Load runs unlocked on a
// loading thread. A file's lock guards its progress; the server info's lock guards the byte counts and every
// file's share of them. The resource's IsRunning takes the resource's own lock. None of these code paths holds two
// of these locks at once: a job is cancelled (Cancel takes the server info's lock) after the loader's lock is let
// go, and the progress callback takes the resource's lock and the file's one after the other. The one nesting is
// the resource's: its record holds its own lock throughout reading its file list and stopping (ClientResource.h),
// and while it does, the game thread may take the loader's, the server info's or a file's lock, one at a time;
// the loading thread never takes a resource's lock while it holds another, so no cycle can form.
// Waiting: a loading thread with nothing queued waits on the loader's stop and work events (no polling, no
// time-out); the game thread never waits for a loading thread while it holds a lock.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <base/Releasable.h>
#include <base/TaskContext.h>

class CServerInfo;
class CStream;

// One file's share of the server info's byte counts: whether its size is in the total, and the bytes of it in the
// downloaded count. Read and written under the server info's lock alone (CServerInfo's share calls).
struct tDownloadShare {
  bool m_Counted = false;
  std::uint64_t m_Downloaded = 0;
};
class CBackgroundLoadingThread;

// One job of the loader, reference-counted: the loader holds one reference from Queue until the job is delivered
// or cancelled.
class tLoadable : public tReleasable {
 public:
  // Queuing thread; false refuses the job (the loader then holds nothing).
  virtual bool Prepare();
  // A loading thread.
  virtual void Load() = 0;
  // Game thread, after Load.
  virtual void OnLoaded() = 0;
  // Game thread: the job will not be loaded or delivered; finished tells whether Load has run. A running job
  // learns it while it runs and ends early.
  virtual void Cancel(bool finished) = 0;

  // The loading thread running the job; null when not running (the loader's lock).
  CBackgroundLoadingThread* m_pThread = nullptr;
};

class CBackgroundLoader;

class CBackgroundLoadingThread : public tThread {
 public:
  CBackgroundLoadingThread(CBackgroundLoader* loader, bool pinned, std::uint32_t processor)
      : m_pLoader(loader), m_Pinned(pinned), m_Processor(processor) {}
  // Background priority (pinned to its processor when asked), then jobs until the loader's stop event is set
  // and no job is queued.
  std::uint32_t Run() override;

 private:
  CBackgroundLoader* m_pLoader;
  bool m_Pinned;
  std::uint32_t m_Processor;
};

// One connection's loader: idle (no threads) until ProcessFinished finds work, then its threads load the queued
// jobs until ProcessFinished finds every list empty.
class CBackgroundLoader : public tLockable {
 public:
  CBackgroundLoader();
  // Cancels every job, running ones included, and joins the threads.
  ~CBackgroundLoader();
  CBackgroundLoader(const CBackgroundLoader&) = delete;
  CBackgroundLoader& operator=(const CBackgroundLoader&) = delete;

  // Prepare, then the job joins the queued list with a reference of the loader's; the caller keeps its own.
  // False when Prepare refused.
  bool Queue(tLoadable* job);
  // Makes the threads (once); nothing when started. Not started when no thread could be made.
  void Start();
  // The game thread's per-frame call: starts the threads when work waits, delivers finished jobs (OnLoaded, then
  // the loader's reference goes), and stops and joins the threads when nothing is left.
  void ProcessFinished();
  // Queued and finished jobs are cancelled and released; running ones are cancelled and end early (a stalled
  // transfer within about a second); they are released when their thread has finished them.
  void CancelAll();
  // Sets the stop event and waits for every thread (no time-out: the jobs end on their own or by a cancel), then
  // cancels what the threads finished meanwhile. Idle afterwards.
  void WaitForThreads();

  bool IsStarted() const;
  // Jobs in the queued, running and finished lists.
  std::size_t GetJobCount() const;

 private:
  friend class CBackgroundLoadingThread;
  // Under the lock: the next queued job moved to the running list, or null.
  tLoadable* TakeQueued(CBackgroundLoadingThread* thread);
  void MoveToFinished(tLoadable* job);
  void CancelFinished();

  HANDLE m_StopEvent;  // manual reset: the threads end
  HANDLE m_WorkEvent;  // manual reset: set while jobs are queued
  std::vector<std::unique_ptr<CBackgroundLoadingThread>> m_Threads;
  bool m_Started = false;
  std::uint32_t m_ThreadsPerUnit = 1;
  bool m_PerProcessor = false;
  std::list<tLoadable*> m_Queued, m_Running, m_Finished;  // each holds one reference per job
};

// What a file's job needs of its resource (the client's resource record derives from it). The job keeps a plain
// pointer: the resource outlives every job of its (its owner cancels them and joins the loader first).
class CClientResourceBase : public tLockable {
 public:
  virtual ~CClientResourceBase() = default;
  virtual const std::u16string& GetName() const = 0;
  virtual bool IsRunning() = 0;                                               // locks; loading thread calls it
  virtual void OnFileDelivered(const std::u16string& fileName, bool ok) = 0;    // game thread
  virtual void OnScriptDelivered(const std::u16string& fileName, bool ok) = 0;  // game thread
};

// One file of a server resource. Prepare counts its announced size into the server info's total (the caller
// adds nothing); Load fetches it into a temporary file and moves it into place only when it is whole and right;
// OnLoaded tells the resource (OnFileDelivered) unless the job was cancelled, which tells it nothing.
class CClientFile : public tLoadable {
 public:
  // Longest URL built.
  static constexpr std::size_t kMaxUrlLength = 512;
  CClientFile(CServerInfo* info, CClientResourceBase* resource, std::u16string fileName, std::uint32_t size,
              std::uint32_t crc);
  ~CClientFile() override;

  bool Prepare() override;
  void Load() override;
  void OnLoaded() override;
  void Cancel(bool finished) override;

  const std::u16string& GetFileName() const { return m_FileName; }
  // Bytes received so far (under the file's lock).
  std::uint32_t GetProgress() const;
  // Whether Load delivered a whole and right file (read after Load, on the game thread).
  bool Succeeded() const { return m_Ok; }

  // libcurl's callbacks (userdata: the file).
  static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* file);
  static int OnProgress(void* file, std::int64_t total, std::int64_t received, std::int64_t, std::int64_t);

 protected:
  bool IsCancelled() const;

  CClientResourceBase* m_pResource;

 private:
  // The transfer into the open temporary file; true when it delivered exactly the announced bytes with status 200.
  bool Transfer(const std::string& url);
  // Takes the file's share out of both byte counts (once).
  void TakeOutShare();

  CServerInfo* m_pInfo;
  std::u16string m_ResourceName;  // whole: the cache folder is named by all of it
  std::u16string m_FileName;
  HANDLE m_StopEvent;  // manual reset, set by Cancel
  tLockable m_Lock;    // the progress
  std::uint32_t m_Size;
  std::uint32_t m_Crc;
  std::uint32_t m_Progress = 0;
  // The loading thread's transfer state.
  CStream* m_pStream = nullptr;
  std::uint64_t m_Written = 0;
  std::uint32_t m_RunningCrc = 0;
  bool m_TooLong = false;
  tDownloadShare m_Share;  // under the server info's lock
  bool m_Ok = false;
};

// A client script: the same, delivered through OnScriptDelivered (the resource loads it).
class CClientScriptFile : public CClientFile {
 public:
  using CClientFile::CClientFile;
  void OnLoaded() override;
};

// The cache path "/UserData/Caches/<resource>/<file>"; false when it would leave that folder or break the file
// system's limits ("." / ".." components, "/", "\\", ":", control bytes, a component over 255 characters, a path
// over 259, empty names) or name something the Win32 file systems treat specially (IsSpecialHostName).
bool MakeCachePath(std::u16string_view resource, std::u16string_view file, std::u16string* path);
// Whether the cached copy at path (a cache path) exists, opens and has the CRC-32 (read in chunks, zlib crc32).
// A file's CRC-32 is read again only when its size or last write time changed since it was last read (a server
// lists the same files again and again); a file rewritten in place with both kept is taken as it was.
bool IsCachedCopyCurrent(const std::u16string& path, std::uint32_t crc);
// The download URL: "http://" host (in brackets when it holds a ':') ":" port "/" escaped resource
// "/clientfile?" escaped file. False when a name holds a character above 0xFF (reported to task, when given, as
// "An attempt was made to copy a string into a buffer of a type that does not support a character in the
// string.") or the URL passes kMaxUrlLength. A file whose URL cannot be built prints that report on the console
// before its "Unable to download %s\n".
bool BuildDownloadUrl(std::u16string_view host, std::uint16_t port, std::u16string_view resource,
                      std::u16string_view file, std::string* url, tTaskContext* task = nullptr);
// "QuorvantModLauncher/1.0.12 (Windows NT <major>.<minor><suffix>)", the suffix "; WOW64", "; Win64; x64",
// "; Win64; IA64" or nothing.
std::string BuildUserAgent();
