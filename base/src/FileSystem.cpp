// The virtual file system: mount points, path resolution, file and directory operations on the mounted tree.
#include <base/FileSystem.h>

#include <cstring>

#include <platform/files.h>
#include <platform/text.h>

#include <base/StringRoutines.h>

#include "FileSystemPrompts.h"

CFileSystem* g_FileSystem = nullptr;

namespace {

constexpr std::uint32_t kMaxPath = CFileSystem::kMaxPath;

void ReportTo(tTaskContext* context, const char* message) {
  // Through the task-context interface: a test context may return where the
  // application context ends the process.
  if (context != nullptr) context->AddError(message);
}

std::uint32_t ErrorCountOf(const tTaskContext* context) { return context != nullptr ? context->GetErrorCount() : 0; }

std::size_t LengthOf(const char16_t* s) { return s != nullptr ? text::Length(s) : 0; }

// Copies a zero-terminated string that is known to fit (lengths checked by the caller).
void CopyFitting(char16_t* destination, std::uint32_t capacity, const char16_t* source) {
  std::size_t length = LengthOf(source);
  if (length >= capacity) length = capacity - 1;
  if (length != 0) std::memcpy(destination, source, length * sizeof(char16_t));
  destination[length] = 0;
}

bool IsDotName(const char16_t* begin, std::size_t length) {
  return (length == 1 && begin[0] == u'.') || (length == 2 && begin[0] == u'.' && begin[1] == u'.');
}

// A component that could reach outside a host directory: a self or parent
// reference, a further separator, or a drive / alternate-stream colon.
bool IsUnsafeComponent(const char16_t* begin, std::size_t length) {
  if (IsDotName(begin, length)) return true;
  for (std::size_t i = 0; i < length; ++i) {
    if (begin[i] == u'\\' || begin[i] == u':') return true;
  }
  return false;
}

bool HasUnsafeComponent(const char16_t* relative) {
  for (const char16_t* p = relative; *p != 0;) {
    while (*p == u'/') ++p;
    const char16_t* begin = p;
    while (*p != 0 && *p != u'/') ++p;
    if (p != begin && IsUnsafeComponent(begin, std::size_t(p - begin))) return true;
  }
  return false;
}

// "/" followed by the "/"-separated components of path, empty ones dropped; false when a component or the
// whole does not fit (nothing reported: the caller decides).
bool ResolveInto(const char16_t* path, char16_t out[kMaxPath]) {
  std::size_t length = 0;
  out[length++] = u'/';
  out[length] = 0;
  const char16_t* p = path != nullptr ? path : u"";
  for (;;) {
    const char16_t* begin = p;
    while (*p != 0 && *p != u'/') ++p;
    const std::size_t componentLength = std::size_t(p - begin);
    const bool separator = out[length - 1] != u'/';
    if (componentLength > CFileSystem::kMaxComponent || length + (separator ? 1 : 0) + componentLength >= kMaxPath) {
      return false;
    }
    if (separator) out[length++] = u'/';
    std::memcpy(out + length, begin, componentLength * sizeof(char16_t));
    length += componentLength;
    out[length] = 0;
    if (*p == 0) break;
    ++p;  // the "/"
  }
  return true;
}

// Virtual mount points hand their operations back to the file system, so mounts that lead into each
// other (/a -> /b -> /a, or a target below its own mount) would recurse without end. The depth is
// counted per thread (the loader thread uses the file system beside the main thread); the cycle is
// reported once per outermost operation.
constexpr std::uint32_t kMaxVirtualDepth = 16;
constexpr char kMountCycleMessage[] = "The virtual mount points of a path lead back into each other.";
thread_local std::uint32_t t_virtualDepth = 0;
thread_local bool t_cycleReported = false;

class tVirtualDepth {
 public:
  explicit tVirtualDepth(const CFileSystem* fileSystem) {
    if (++t_virtualDepth <= kMaxVirtualDepth) return;
    m_exceeded = true;
    if (!t_cycleReported) {
      t_cycleReported = true;
      ReportTo(fileSystem != nullptr ? fileSystem->GetContext() : nullptr, kMountCycleMessage);
    }
  }
  ~tVirtualDepth() {
    if (--t_virtualDepth == 0) t_cycleReported = false;
  }
  tVirtualDepth(const tVirtualDepth&) = delete;
  tVirtualDepth& operator=(const tVirtualDepth&) = delete;

  bool Exceeded() const { return m_exceeded; }

 private:
  bool m_exceeded = false;
};

// Host listing filter of one mount point's phase of a listing: each name once.
struct tFilterData {
  tEnumerateCallback callback;
  void* user;
  tReportedNames* reported;
};

bool FilterReported(const char16_t* name, bool isDirectory, void* user) {
  auto* filter = static_cast<tFilterData*>(user);
  if (filter->reported != nullptr && !filter->reported->Add(name)) return true;
  return filter->callback(name, isDirectory, filter->user);
}

}  // namespace

// ---------------------------------------------------------------------------
// Mount points

CFileSystem::tMountPoint::tMountPoint(CFileSystem* fileSystem, const char16_t* resolvedMountPath, bool exclusive)
    : m_fileSystem(fileSystem), m_exclusive(exclusive ? 1 : 0) {
  CopyFitting(m_mountPath, kMaxPath, resolvedMountPath);
  if (m_fileSystem != nullptr) m_fileSystem->Link(this);
}

CFileSystem::tMountPoint::~tMountPoint() {
  if (m_fileSystem != nullptr) m_fileSystem->Unlink(this);
}

bool CFileSystem::tMountPoint::TranslateForCreate(const char16_t*, char16_t*, std::uint32_t) { return false; }

bool CFileSystem::tMountPoint::FitsLimits(const char16_t*, std::uint32_t) { return true; }

bool CFileSystem::tMountPoint::MatchPath(const char16_t* resolvedPath, char16_t relative[kMaxPath]) const {
  if (resolvedPath == nullptr) return false;
  const char16_t* rest = resolvedPath;
  if (!(m_mountPath[0] == u'/' && m_mountPath[1] == 0)) {
    const char16_t* mount = m_mountPath;
    while (*mount != 0 && *mount == *rest) {
      ++mount;
      ++rest;
    }
    if (*mount != 0) return false;
    if (*rest == 0) {
      relative[0] = u'/';
      relative[1] = 0;
      return true;
    }
    if (*rest != u'/') return false;  // /UserDataX is not below /UserData
  }
  const std::size_t length = text::Length(rest);
  if (length >= kMaxPath) return false;
  std::memcpy(relative, rest, (length + 1) * sizeof(char16_t));
  return true;
}

// Physical ----------------------------------------------------------------

CFileSystem::tPhysicalDirectoryMountPoint::tPhysicalDirectoryMountPoint(CFileSystem* fileSystem,
                                                                        const char16_t* resolvedMountPath,
                                                                        const char16_t* hostDirectory,
                                                                        bool writable, bool exclusive)
    : tMountPoint(fileSystem, resolvedMountPath, exclusive), m_writable(writable ? 1 : 0) {
  CopyFitting(m_hostDirectory, kMaxPath, hostDirectory);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::BuildHostPath(const char16_t* relative, char16_t* out,
                                                               std::uint32_t outSize) {
  return BuildHostPath(relative, out, outSize, m_fileSystem != nullptr ? m_fileSystem->GetContext() : nullptr);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::BuildHostPath(const char16_t* relative, char16_t* out,
                                                              std::uint32_t outSize, tTaskContext* errors) {
  if (relative == nullptr || out == nullptr || outSize == 0) return false;
  // Refuse before building anything: such a path names nothing inside this mount.
  if (HasUnsafeComponent(relative)) return false;

  std::size_t length = text::Length(m_hostDirectory);
  if (length >= outSize) {
    ReportTo(errors, kStringBufferTooShortMessage);
    out[0] = 0;
    return false;
  }
  std::memcpy(out, m_hostDirectory, length * sizeof(char16_t));
  for (const char16_t* p = relative; *p != 0;) {
    while (*p == u'/') ++p;
    const char16_t* begin = p;
    while (*p != 0 && *p != u'/') ++p;
    const std::size_t componentLength = std::size_t(p - begin);
    if (componentLength == 0) continue;
    const bool separator = length == 0 || out[length - 1] != u'\\';
    if (componentLength > kMaxComponent || length + (separator ? 1 : 0) + componentLength >= outSize) {
      ReportTo(errors, kStringBufferTooShortMessage);
      out[length] = 0;
      return false;
    }
    if (separator) out[length++] = u'\\';
    std::memcpy(out + length, begin, componentLength * sizeof(char16_t));
    length += componentLength;
  }
  out[length] = 0;
  return true;
}

bool CFileSystem::tPhysicalDirectoryMountPoint::TranslatePath(const char16_t* relative, bool fileOk,
                                                               bool directoryOk, bool* exists, char16_t* out,
                                                               std::uint32_t outSize) {
  if (exists != nullptr) {
    if (!Exists(relative, fileOk, directoryOk)) {
      *exists = false;
      return true;
    }
    *exists = true;
  }
  return BuildHostPath(relative, out, outSize);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::TranslateForCreate(const char16_t* relative, char16_t* out,
                                                                    std::uint32_t outSize) {
  return m_writable && BuildHostPath(relative, out, outSize);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::FitsLimits(const char16_t* relative, std::uint32_t) {
  if (relative == nullptr) return true;
  // A refused component builds nothing, so it cannot overflow either.
  char16_t host[kMaxPath];
  return HasUnsafeComponent(relative) || BuildHostPath(relative, host, kMaxPath, nullptr);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::Exists(const char16_t* relative, bool fileOk, bool directoryOk) {
  char16_t host[kMaxPath];
  if (!BuildHostPath(relative, host, kMaxPath)) return false;
  if (!PathFileExistsW(host)) return false;
  return PathIsDirectoryW(host) ? directoryOk : fileOk;
}

bool CFileSystem::tPhysicalDirectoryMountPoint::OpenFile(const char16_t* relative, bool, bool writable,
                                                          CStream** stream) {
  *stream = nullptr;
  char16_t host[kMaxPath];
  if (!BuildHostPath(relative, host, kMaxPath)) return false;
  if (!PathFileExistsW(host) || PathIsDirectoryW(host)) return false;
  // The file is there, but a read-only mount never hands out a writable stream.
  if (writable && !m_writable) return true;
  tAppContext* context = m_fileSystem != nullptr ? m_fileSystem->GetContext() : nullptr;
  *stream = OpenHostFile(context, context, host, writable, false, false);
  return true;
}

CStream* CFileSystem::tPhysicalDirectoryMountPoint::CreateFile(const char16_t* relative) {
  if (!m_writable) return nullptr;
  char16_t host[kMaxPath];
  if (!BuildHostPath(relative, host, kMaxPath)) return nullptr;
  tAppContext* context = m_fileSystem != nullptr ? m_fileSystem->GetContext() : nullptr;
  return CreateHostFile(context, context, host, false, false);
}

bool CFileSystem::tPhysicalDirectoryMountPoint::Enumerate(const char16_t* relative, tEnumerateCallback callback,
                                                           void* user, tReportedNames* reported, bool) {
  char16_t host[kMaxPath];
  if (!BuildHostPath(relative, host, kMaxPath)) return true;
  if (!PathIsDirectoryW(host)) return true;
  tFilterData filter{callback, user, reported};
  return EnumerateHostDirectory(host, FilterReported, &filter);
}

// Virtual -----------------------------------------------------------------

CFileSystem::tVirtualDirectoryMountPoint::tVirtualDirectoryMountPoint(CFileSystem* fileSystem,
                                                                      const char16_t* resolvedMountPath,
                                                                      bool exclusive, bool writable,
                                                                      const char16_t* targetPath)
    : tMountPoint(fileSystem, resolvedMountPath, exclusive), m_target(fileSystem), m_writable(writable ? 1 : 0) {
  CopyFitting(m_targetPath, kMaxPath, targetPath);
}

std::u16string CFileSystem::tVirtualDirectoryMountPoint::TargetOf(const char16_t* relative) const {
  // The target file system resolves (and length-checks) the joined path.
  std::u16string target(m_targetPath);
  if (relative != nullptr) target += relative;
  return target;
}

bool CFileSystem::tVirtualDirectoryMountPoint::TranslatePath(const char16_t* relative, bool fileOk,
                                                              bool directoryOk, bool* exists, char16_t* out,
                                                              std::uint32_t outSize) {
  const tVirtualDepth depth(m_fileSystem);
  if (depth.Exceeded() || m_target == nullptr) return false;
  return m_target->TranslatePath(TargetOf(relative).c_str(), fileOk, directoryOk, exists, out, outSize);
}

bool CFileSystem::tVirtualDirectoryMountPoint::TranslateForCreate(const char16_t* relative, char16_t* out,
                                                                   std::uint32_t outSize) {
  const tVirtualDepth depth(m_fileSystem);
  if (depth.Exceeded() || !m_writable || m_target == nullptr) return false;
  return m_target->TranslateForCreate(TargetOf(relative).c_str(), out, outSize);
}

bool CFileSystem::tVirtualDirectoryMountPoint::FitsLimits(const char16_t* relative, std::uint32_t depth) {
  // Entering this mount point one level deeper than the search allows is reported as a cycle.
  if (depth + 1 > kMaxVirtualDepth) return false;
  return m_target == nullptr || m_target->FitsLimitsAt(TargetOf(relative).c_str(), depth + 1);
}

bool CFileSystem::tVirtualDirectoryMountPoint::OpenFile(const char16_t* relative, bool readable, bool writable,
                                                         CStream** stream) {
  *stream = nullptr;
  const tVirtualDepth depth(m_fileSystem);
  if (depth.Exceeded() || m_target == nullptr) return false;
  const std::u16string target = TargetOf(relative);
  if (!m_target->Exists(target.c_str(), true, false)) return false;
  if (writable && !m_writable) return true;
  m_target->FindAndOpenFile(target.c_str(), readable, writable, stream);
  return true;
}

bool CFileSystem::tVirtualDirectoryMountPoint::Exists(const char16_t* relative, bool fileOk, bool directoryOk) {
  const tVirtualDepth depth(m_fileSystem);
  return !depth.Exceeded() && m_target != nullptr && m_target->Exists(TargetOf(relative).c_str(), fileOk, directoryOk);
}

CStream* CFileSystem::tVirtualDirectoryMountPoint::CreateFile(const char16_t* relative) {
  const tVirtualDepth depth(m_fileSystem);
  if (depth.Exceeded() || !m_writable || m_target == nullptr) return nullptr;
  return m_target->CreateFile(TargetOf(relative).c_str(), false, false);
}

bool CFileSystem::tVirtualDirectoryMountPoint::Enumerate(const char16_t* relative, tEnumerateCallback callback,
                                                          void* user, tReportedNames* reported, bool oldestFirst) {
  const tVirtualDepth depth(m_fileSystem);
  if (depth.Exceeded() || m_target == nullptr) return true;
  const std::u16string target = TargetOf(relative);
  if (!m_target->Exists(target.c_str(), false, true)) return true;
  return m_target->EnumerateInto(target.c_str(), callback, user, reported, oldestFirst);
}

// ---------------------------------------------------------------------------
// The file system

CFileSystem::CFileSystem(tAppContext* context) : m_context(context) {
  if (g_FileSystem == nullptr) g_FileSystem = this;
}

CFileSystem::~CFileSystem() {
  while (m_head != nullptr) delete m_head;
  if (g_FileSystem == this) g_FileSystem = nullptr;
}

void CFileSystem::Link(tMountPoint* mountPoint) {
  mountPoint->m_previous = nullptr;
  mountPoint->m_next = m_head;
  if (m_head != nullptr) m_head->m_previous = mountPoint;
  m_head = mountPoint;
  if (m_tail == nullptr) m_tail = mountPoint;
}

void CFileSystem::Unlink(tMountPoint* mountPoint) {
  if (mountPoint->m_previous != nullptr) {
    mountPoint->m_previous->m_next = mountPoint->m_next;
  } else if (m_head == mountPoint) {
    m_head = mountPoint->m_next;
  }
  if (mountPoint->m_next != nullptr) {
    mountPoint->m_next->m_previous = mountPoint->m_previous;
  } else if (m_tail == mountPoint) {
    m_tail = mountPoint->m_previous;
  }
  mountPoint->m_previous = nullptr;
  mountPoint->m_next = nullptr;
}

bool CFileSystem::ResolvePath(const char16_t* path, char16_t out[kMaxPath]) {
  if (ResolveInto(path, out)) return true;
  ReportTo(m_context, kStringBufferTooShortMessage);
  return false;
}

bool CFileSystem::FitsLimits(const char16_t* path) { return FitsLimitsAt(path, 0); }

bool CFileSystem::FitsLimitsAt(const char16_t* path, std::uint32_t depth) {
  char16_t resolved[kMaxPath];
  if (!ResolveInto(path, resolved)) return false;
  char16_t relative[kMaxPath];
  // Every mount point the searches might ask, whether or not it has the file: which one answers depends on the
  // host, which may change between this check and the operation.
  for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
    if (!mount->MatchPath(resolved, relative)) continue;
    if (!mount->FitsLimits(relative, depth)) return false;
    if (mount->IsExclusive()) break;
  }
  return true;
}

bool CFileSystem::Exists(const char16_t* path, bool fileOk, bool directoryOk) {
  char16_t resolved[kMaxPath];
  if (!ResolvePath(path, resolved)) return false;
  char16_t relative[kMaxPath];
  for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
    if (!mount->MatchPath(resolved, relative)) continue;
    if (mount->Exists(relative, fileOk, directoryOk)) return true;
    if (mount->IsExclusive()) break;
  }
  return false;
}

bool CFileSystem::TranslatePath(const char16_t* path, bool fileOk, bool directoryOk, bool* exists, char16_t* out,
                                std::uint32_t outSize) {
  char16_t resolved[kMaxPath];
  if (!ResolvePath(path, resolved)) return false;
  char16_t relative[kMaxPath];
  for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
    if (!mount->MatchPath(resolved, relative)) continue;
    if (mount->TranslatePath(relative, fileOk, directoryOk, exists, out, outSize)) return true;
    if (mount->IsExclusive()) break;
  }
  return false;
}

bool CFileSystem::TranslateForCreate(const char16_t* path, char16_t* out, std::uint32_t outSize) {
  char16_t resolved[kMaxPath];
  if (!ResolvePath(path, resolved)) return false;
  char16_t relative[kMaxPath];
  for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
    if (!mount->MatchPath(resolved, relative)) continue;
    if (mount->TranslateForCreate(relative, out, outSize)) return true;
    if (mount->IsExclusive()) break;
  }
  return false;
}

bool CFileSystem::FindAndOpenFile(const char16_t* path, bool readable, bool writable, CStream** stream) {
  *stream = nullptr;
  char16_t resolved[kMaxPath];
  if (!ResolvePath(path, resolved)) return false;
  char16_t relative[kMaxPath];
  for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
    if (!mount->MatchPath(resolved, relative)) continue;
    CStream* opened = nullptr;
    if (mount->OpenFile(relative, readable, writable, &opened)) {
      *stream = opened;
      return true;
    }
    if (mount->IsExclusive()) break;
  }
  return false;
}

CStream* CFileSystem::OpenFile(const char16_t* path, std::uint32_t flags) {
  const bool readable = (flags & kOpenFileRead) != 0;
  const bool writable = (flags & kOpenFileWrite) != 0;
  const bool createIfMissing = (flags & kOpenFileCreateIfMissing) != 0;
  const bool promptIfMissing = (flags & kOpenFilePromptIfMissing) != 0;
  const bool promptOnFailure = (flags & kOpenFilePromptOnFailure) != 0;
  for (;;) {
    const std::uint32_t errorsBefore = ErrorCountOf(m_context);
    CStream* stream = nullptr;
    if (FindAndOpenFile(path, readable, writable, &stream)) {
      if (stream != nullptr) return stream;
      // The file exists but could not be opened: report it, never create it anew
      // over the existing one.
      if (ErrorCountOf(m_context) != errorsBefore || !promptOnFailure) return nullptr;
      if (fsprompt::AskAfterFailure(m_context, m_context, false, false, path)) continue;
      return nullptr;
    }
    if (ErrorCountOf(m_context) != errorsBefore) return nullptr;
    if (!promptIfMissing) return createIfMissing ? CreateFile(path, false, promptOnFailure) : nullptr;
    if (createIfMissing) {
      return fsprompt::AskCreate(m_context, m_context, path) ? CreateFile(path, true, promptOnFailure) : nullptr;
    }
    if (fsprompt::AskAfterNotFound(m_context, m_context, path)) continue;
    return nullptr;
  }
}

CStream* CFileSystem::CreateFile(const char16_t* path, bool promptBeforeOverwrite, bool promptOnFailure) {
  for (;;) {
    const std::uint32_t errorsBefore = ErrorCountOf(m_context);
    char16_t resolved[kMaxPath];
    if (!ResolvePath(path, resolved)) return nullptr;
    char16_t relative[kMaxPath];
    CStream* stream = nullptr;

    // An existing file is replaced where it is found, so that the next open sees the new one.
    bool existing = false;
    for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
      if (!mount->MatchPath(resolved, relative)) continue;
      if (mount->Exists(relative, true, false)) {
        if (promptBeforeOverwrite && !fsprompt::AskOverwrite(m_context, m_context, false, path)) return nullptr;
        existing = true;
        stream = mount->CreateFile(relative);
        break;
      }
      if (mount->IsExclusive()) break;
    }
    if (!existing && ErrorCountOf(m_context) == errorsBefore) {
      for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
        if (!mount->MatchPath(resolved, relative)) continue;
        stream = mount->CreateFile(relative);
        if (stream != nullptr || mount->IsExclusive()) break;
      }
    }
    if (stream != nullptr) return stream;
    if (ErrorCountOf(m_context) != errorsBefore || !promptOnFailure) return nullptr;
    if (fsprompt::AskAfterFailure(m_context, m_context, false, true, path)) continue;
    return nullptr;
  }
}

bool CFileSystem::CreateDirectory(const char16_t* path) {
  for (;;) {
    const std::uint32_t errorsBefore = ErrorCountOf(m_context);
    char16_t resolved[kMaxPath];
    if (!ResolvePath(path, resolved)) return false;
    char16_t relative[kMaxPath];
    for (tMountPoint* mount = m_head; mount != nullptr; mount = mount->m_next) {
      if (!mount->MatchPath(resolved, relative)) continue;
      if (mount->Exists(relative, false, true)) return true;
      if (mount->IsExclusive()) break;
    }
    // A read-only mount point refuses, as it refuses a writable open.
    char16_t host[kMaxPath];
    if (TranslateForCreate(path, host, kMaxPath) && CreateHostDirectoryChain(m_context, m_context, host)) return true;
    if (ErrorCountOf(m_context) != errorsBefore) return false;
    if (fsprompt::AskAfterFailure(m_context, m_context, true, true, path)) continue;
    return false;
  }
}

bool CFileSystem::Enumerate(const char16_t* directoryPath, tEnumerateCallback callback, void* user,
                            bool oldestFirst) {
  tReportedNames reported;
  return EnumerateInto(directoryPath, callback, user, &reported, oldestFirst);
}

bool CFileSystem::EnumerateInto(const char16_t* directoryPath, tEnumerateCallback callback, void* user,
                                tReportedNames* reported, bool oldestFirst) {
  if (callback == nullptr) return true;
  tReportedNames local;
  if (reported == nullptr) reported = &local;

  char16_t directory[kMaxPath];
  if (!ResolvePath(directoryPath, directory)) return true;
  // The directory without a trailing "/" ("" for the root): children are base + "/" + name.
  std::size_t baseLength = text::Length(directory);
  if (baseLength > 0 && directory[baseLength - 1] == u'/') --baseLength;

  auto first = [&]() { return oldestFirst ? m_tail : m_head; };
  auto after = [&](tMountPoint* mount) { return oldestFirst ? mount->m_previous : mount->m_next; };

  // Phase 1: mount points below the directory show up as its subdirectories.
  char16_t child[kMaxPath];
  char16_t relative[kMaxPath];
  for (tMountPoint* mount = first(); mount != nullptr; mount = after(mount)) {
    const char16_t* mountPath = mount->m_mountPath;
    const std::size_t mountLength = text::Length(mountPath);
    if (mountLength <= baseLength + 1) continue;
    if (std::memcmp(mountPath, directory, baseLength * sizeof(char16_t)) != 0) continue;
    if (mountPath[baseLength] != u'/') continue;
    std::size_t end = baseLength + 1;
    while (mountPath[end] != 0 && mountPath[end] != u'/') ++end;
    if (end == baseLength + 1) continue;
    std::memcpy(child, mountPath, end * sizeof(char16_t));
    child[end] = 0;

    bool hidden = false;
    for (tMountPoint* newer = mount->m_previous; newer != nullptr && !hidden; newer = newer->m_previous) {
      hidden = newer->IsExclusive() && newer->MatchPath(child, relative);
    }
    if (hidden) continue;
    const char16_t* name = child + baseLength + 1;
    if (!reported->Add(name)) continue;
    if (!callback(name, true, user)) return false;
  }

  // Phase 2: the entries of the mount points that cover the directory.
  for (tMountPoint* mount = first(); mount != nullptr; mount = after(mount)) {
    if (!mount->MatchPath(directory, relative)) continue;
    if (!mount->Enumerate(relative, callback, user, reported, oldestFirst)) return false;
    if (mount->IsExclusive()) break;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Mounting

namespace {

// Both kinds of mount resolve the mount path and refuse a source path that the
// mount point could not hold before anything is made; `make` gets the file
// system and the resolved path.
template <typename Make>
CFileSystem::tMountPoint* Mount(const char16_t* virtualPath, const char16_t* sourcePath, Make make) {
  CFileSystem* fileSystem = g_FileSystem;
  if (fileSystem == nullptr) return nullptr;
  char16_t resolved[kMaxPath];
  if (!fileSystem->ResolvePath(virtualPath, resolved)) return nullptr;
  if (LengthOf(sourcePath) >= kMaxPath) {
    ReportTo(fileSystem->GetContext(), kCopyStringTooShortMessage);
    return nullptr;
  }
  return make(fileSystem, resolved);
}

}  // namespace

CFileSystem::tMountPoint* MountPhysicalDirectory(const char16_t* virtualPath, bool writable,
                                                 const char16_t* hostDirectory) {
  return Mount(virtualPath, hostDirectory, [&](CFileSystem* fileSystem, const char16_t* resolved) {
    return new CFileSystem::tPhysicalDirectoryMountPoint(fileSystem, resolved, hostDirectory, writable);
  });
}

CFileSystem::tMountPoint* MountSharedPhysicalDirectory(const char16_t* virtualPath, bool writable,
                                                       const char16_t* hostDirectory) {
  return Mount(virtualPath, hostDirectory, [&](CFileSystem* fileSystem, const char16_t* resolved) {
    return new CFileSystem::tPhysicalDirectoryMountPoint(fileSystem, resolved, hostDirectory, writable, false);
  });
}

CFileSystem::tMountPoint* MountVirtualDirectory(const char16_t* virtualPath, bool exclusive, bool writable,
                                                const char16_t* targetVirtualPath) {
  return Mount(virtualPath, targetVirtualPath, [&](CFileSystem* fileSystem, const char16_t* resolved) {
    return new CFileSystem::tVirtualDirectoryMountPoint(fileSystem, resolved, exclusive, writable,
                                                        targetVirtualPath != nullptr ? targetVirtualPath : u"");
  });
}
