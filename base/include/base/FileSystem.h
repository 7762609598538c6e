#pragma once
// The game side's tree of virtual paths ("/GameData/...", "/UserData/SavedGames/...",
// "/Mods/..."), built from mount points. A mount point maps a virtual directory onto
// a host directory (physical) or onto another virtual path of the same tree
// (virtual). Mount points are searched newest first; a covering exclusive mount
// point that fails an operation ends the search.
//
// Virtual paths are UTF-16 and separated by "/"; host paths use "\". Errors (a
// path too long for its buffer, virtual mount points nested more than 16 deep as
// a cycle of them makes) go to the file system's context and fail the operation; for the one
// instance that is g_AppContext, so they are fatal (FitsLimits tells beforehand, quietly, whether a
// path would make one). Failures can be put to the user as retry / ignore / close, create and
// overwrite prompts.
//
// Nothing here takes a lock: mount lists are built during start-up and stay as
// they are while files are in use.
#include <cstdint>
#include <string>
#include <unordered_set>

#include <platform/win32types.h>

#include <base/AppContext.h>
#include <base/Stream.h>

// Receives one directory entry; false stops the listing.
using tEnumerateCallback = bool (*)(const char16_t* name, bool isDirectory, void* user);

// Names already handed to the caller during one listing (compared exactly, so
// names that differ only in case are different names).
class tReportedNames {
 public:
  bool Contains(const char16_t* name) const { return m_names.count(name) != 0; }
  // False when the name was there already.
  bool Add(const char16_t* name) { return m_names.emplace(name).second; }

 private:
  std::unordered_set<std::u16string> m_names;
};

// How CFileSystem::OpenFile opens a file; OR them together. One flags word stands for five booleans in a
// row (readable, writable, create if missing, prompt if missing, prompt on failure): a call names what it
// asks for, and two swapped booleans cannot turn into the other request unseen.
enum OpenFileFlags : std::uint32_t {
  kOpenFileRead = 1u << 0,
  kOpenFileWrite = 1u << 1,
  // No mount point has the file: create it (after asking, with kOpenFilePromptIfMissing).
  kOpenFileCreateIfMissing = 1u << 2,
  // No mount point has the file: ask (Retry / Ignore, or Yes / No before creating it).
  kOpenFilePromptIfMissing = 1u << 3,
  // The file exists but cannot be opened, or cannot be created: ask (Retry / Ignore).
  kOpenFilePromptOnFailure = 1u << 4,
};

class CFileSystem {
 public:
  // Virtual and host path buffers, in characters with the terminator.
  static constexpr std::uint32_t kMaxPath = 260;
  // Longest single path component.
  static constexpr std::uint32_t kMaxComponent = 255;
  // Prompt texts, in characters with the terminator.
  static constexpr std::uint32_t kPromptCapacity = 2048;

  class tMountPoint {
   public:
    tMountPoint(const tMountPoint&) = delete;
    tMountPoint& operator=(const tMountPoint&) = delete;

    // Every operation takes the path relative to the mount point, beginning with "/".
    // With `exists` given, a path that does not exist (as a file when fileOk, as a
    // directory when directoryOk) sets it to false and succeeds without a host path.
    virtual bool TranslatePath(const char16_t* relative, bool fileOk, bool directoryOk, bool* exists,
                               char16_t* out, std::uint32_t outSize) = 0;
    // True when the file was found; *stream is null when it exists but could not be opened. A read-only
    // mount point (physical or virtual) finds the file but refuses a writable open (null stream): the
    // writable flag then guards writes as it guards creation, where a plain open would hand out a
    // stream that writes through a mount made read-only.
    virtual bool OpenFile(const char16_t* relative, bool readable, bool writable, CStream** stream) = 0;
    virtual bool Exists(const char16_t* relative, bool fileOk, bool directoryOk) = 0;
    // An empty file (an existing one is replaced), or null.
    virtual CStream* CreateFile(const char16_t* relative) = 0;
    // False when the callback stopped the listing.
    virtual bool Enumerate(const char16_t* relative, tEnumerateCallback callback, void* user,
                           tReportedNames* reported, bool oldestFirst) = 0;
    // Unlinks the mount point from its file system.
    virtual ~tMountPoint();
    // The host path at which a directory may be made; false on a read-only mount point (and for
    // mount points that make no directories, the default).
    virtual bool TranslateForCreate(const char16_t* relative, char16_t* out, std::uint32_t outSize);
    // Whether every path this mount point would build for relative fits its buffer (CFileSystem::FitsLimits;
    // depth: virtual mount points entered so far). Reports nothing. True by default: nothing built.
    virtual bool FitsLimits(const char16_t* relative, std::uint32_t depth);

    // Whether the resolved path lies at or below the mount path; relative receives the
    // rest of it from its "/" ("/" for the mount path itself, the whole path for a
    // mount at "/"). Case-sensitive: /UserDataX is not under /UserData.
    bool MatchPath(const char16_t* resolvedPath, char16_t relative[kMaxPath]) const;

    CFileSystem* GetFileSystem() const { return m_fileSystem; }
    const char16_t* GetMountPath() const { return m_mountPath; }
    bool IsExclusive() const { return m_exclusive != 0; }
    tMountPoint* GetNext() const { return m_next; }
    tMountPoint* GetPrevious() const { return m_previous; }

   protected:
    // Links the mount point at the head of the file system's list (newest first).
    tMountPoint(CFileSystem* fileSystem, const char16_t* resolvedMountPath, bool exclusive);

    CFileSystem* m_fileSystem;
    tMountPoint* m_previous = nullptr;  // newer
    tMountPoint* m_next = nullptr;      // older
    char16_t m_mountPath[kMaxPath];
    std::uint8_t m_exclusive;

    friend class CFileSystem;
  };

  // A host directory; exclusive unless made otherwise. Refuses any component that could leave it.
  class tPhysicalDirectoryMountPoint : public tMountPoint {
   public:
    tPhysicalDirectoryMountPoint(CFileSystem* fileSystem, const char16_t* resolvedMountPath,
                                 const char16_t* hostDirectory, bool writable, bool exclusive = true);

    bool TranslatePath(const char16_t* relative, bool fileOk, bool directoryOk, bool* exists, char16_t* out,
                       std::uint32_t outSize) override;
    bool OpenFile(const char16_t* relative, bool readable, bool writable, CStream** stream) override;
    bool Exists(const char16_t* relative, bool fileOk, bool directoryOk) override;
    CStream* CreateFile(const char16_t* relative) override;
    bool Enumerate(const char16_t* relative, tEnumerateCallback callback, void* user, tReportedNames* reported,
                   bool oldestFirst) override;
    bool TranslateForCreate(const char16_t* relative, char16_t* out, std::uint32_t outSize) override;
    bool FitsLimits(const char16_t* relative, std::uint32_t depth) override;

    const char16_t* GetHostDirectory() const { return m_hostDirectory; }
    bool IsWritable() const { return m_writable != 0; }

   private:
    // The host path of a relative path; false (nothing reported) for a refused
    // component, false with an error in errors (when given) for one that does not fit.
    bool BuildHostPath(const char16_t* relative, char16_t* out, std::uint32_t outSize, tTaskContext* errors);
    bool BuildHostPath(const char16_t* relative, char16_t* out, std::uint32_t outSize);

    char16_t m_hostDirectory[kMaxPath];
    std::uint8_t m_writable;
  };

  // Another virtual path of the same tree. The target path is kept as given.
  class tVirtualDirectoryMountPoint : public tMountPoint {
   public:
    tVirtualDirectoryMountPoint(CFileSystem* fileSystem, const char16_t* resolvedMountPath, bool exclusive,
                                bool writable, const char16_t* targetPath);

    bool TranslatePath(const char16_t* relative, bool fileOk, bool directoryOk, bool* exists, char16_t* out,
                       std::uint32_t outSize) override;
    bool OpenFile(const char16_t* relative, bool readable, bool writable, CStream** stream) override;
    bool Exists(const char16_t* relative, bool fileOk, bool directoryOk) override;
    CStream* CreateFile(const char16_t* relative) override;
    bool Enumerate(const char16_t* relative, tEnumerateCallback callback, void* user, tReportedNames* reported,
                   bool oldestFirst) override;
    bool TranslateForCreate(const char16_t* relative, char16_t* out, std::uint32_t outSize) override;
    bool FitsLimits(const char16_t* relative, std::uint32_t depth) override;

    CFileSystem* GetTargetFileSystem() const { return m_target; }
    const char16_t* GetTargetPath() const { return m_targetPath; }
    bool IsWritable() const { return m_writable != 0; }

   private:
    std::u16string TargetOf(const char16_t* relative) const;

    CFileSystem* m_target;
    char16_t m_targetPath[kMaxPath];
    std::uint8_t m_writable;
  };

  // An empty mount list whose errors and prompts go to `context`. The first file
  // system made becomes the process-wide one (g_FileSystem).
  explicit CFileSystem(tAppContext* context);
  // Destroys the mount points still linked.
  ~CFileSystem();
  CFileSystem(const CFileSystem&) = delete;
  CFileSystem& operator=(const CFileSystem&) = delete;

  // "/" followed by the "/"-separated components of path, empty ones dropped (a
  // trailing "/" is kept). "." and ".." are ordinary components here. False, with an
  // error in the context, when a component or the result does not fit.
  bool ResolvePath(const char16_t* path, char16_t out[kMaxPath]);
  // Whether an operation on path builds every path it needs within the buffers: the resolved path, and at each
  // mount point that covers it up to the first exclusive one, its host path or (virtual mount points followed
  // to their targets) its target path; mount points that lead into each other more than the search allows do
  // not fit. Reports nothing and touches no host file. A path that fits never makes an operation report a buffer
  // too short; one that does not must not be given to them when the context's errors are fatal (a path that
  // comes from a script or a server).
  bool FitsLimits(const char16_t* path);

  bool Exists(const char16_t* path, bool fileOk, bool directoryOk);
  // One reference for the caller, or null. flags: OpenFileFlags OR-ed together.
  CStream* OpenFile(const char16_t* path, std::uint32_t flags);
  // An empty file (an existing one is replaced), or null.
  CStream* CreateFile(const char16_t* path, bool promptBeforeOverwrite, bool promptOnFailure);
  // Creates every missing host directory of the path. True when the directory exists already,
  // even on a read-only mount point; a read-only mount point never gets one made.
  bool CreateDirectory(const char16_t* path);
  // Lists a directory: first the mount points below it (as directories), then the
  // entries of the mount points that cover it. Each name once. False when the
  // callback stopped it.
  bool Enumerate(const char16_t* directoryPath, tEnumerateCallback callback, void* user, bool oldestFirst);

  // Enumerate sharing the caller's list of reported names (virtual mount points list
  // their target this way).
  bool EnumerateInto(const char16_t* directoryPath, tEnumerateCallback callback, void* user,
                     tReportedNames* reported, bool oldestFirst);
  // OpenFile's search without prompts: true when a covering mount point has the file.
  bool FindAndOpenFile(const char16_t* path, bool readable, bool writable, CStream** stream);
  // TranslatePath of the first covering mount point that can translate the path.
  bool TranslatePath(const char16_t* path, bool fileOk, bool directoryOk, bool* exists, char16_t* out,
                     std::uint32_t outSize);
  // TranslateForCreate of the first covering mount point that allows it.
  bool TranslateForCreate(const char16_t* path, char16_t* out, std::uint32_t outSize);

  tAppContext* GetContext() const { return m_context; }
  tMountPoint* GetNewestMountPoint() const { return m_head; }
  tMountPoint* GetOldestMountPoint() const { return m_tail; }

 private:
  void Link(tMountPoint* mountPoint);
  void Unlink(tMountPoint* mountPoint);
  bool FitsLimitsAt(const char16_t* path, std::uint32_t depth);

  tMountPoint* m_head = nullptr;  // newest
  tMountPoint* m_tail = nullptr;  // oldest
  tAppContext* m_context;
};

// The process-wide file system that the mount operations and the virtual mount
// points work on; null while there is none.
extern CFileSystem* g_FileSystem;

// Mounts a host directory at a virtual path of g_FileSystem (exclusive). Null when
// there is no file system or a path does not fit.
CFileSystem::tMountPoint* MountPhysicalDirectory(const char16_t* virtualPath, bool writable,
                                                 const char16_t* hostDirectory);
// The same, not exclusive: what it lacks is searched for in older mount points.
CFileSystem::tMountPoint* MountSharedPhysicalDirectory(const char16_t* virtualPath, bool writable,
                                                       const char16_t* hostDirectory);
// Mounts another virtual path of g_FileSystem at a virtual path.
CFileSystem::tMountPoint* MountVirtualDirectory(const char16_t* virtualPath, bool exclusive, bool writable,
                                                const char16_t* targetVirtualPath);

// Host file operations. Errors go to `task`, prompts through `context`; the path in
// the prompts is the host path. A Close answer ends the process.
CStream* OpenHostFile(tTaskContext* task, tAppContext* context, const char16_t* path, bool writable,
                      bool promptIfMissing, bool promptOnFailure);
// Replaces an existing file (keeping its attributes) or makes a new one.
CStream* CreateHostFile(tTaskContext* task, tAppContext* context, const char16_t* path,
                        bool promptBeforeOverwrite, bool promptOnFailure);
bool CreateHostDirectoryChain(tTaskContext* task, tAppContext* context, const char16_t* path);
// Hands each entry but "." and ".." to the filter. A directory that cannot be
// listed lists nothing and gives true; false only when the filter stopped it.
bool EnumerateHostDirectory(const char16_t* path, tEnumerateCallback filter, void* user);
