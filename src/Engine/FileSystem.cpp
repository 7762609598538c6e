// The virtual file system: host-directory mounts and the mount table that resolves virtual paths.
#include <engine/FileSystem.h>

#include <engine/Stream.h>
#include <engine/VexilBase.h>

#include <platform/files.h>

#include <unordered_set>

namespace Vexil3D {

bool CVirtualFileMgr::Enumerate(const char16_t*, EnumerateCallback, void*) { return true; }

std::u16string JoinPath(std::u16string_view base, std::u16string_view part, bool backslash) {
  std::u16string joined(base);
  if (!joined.empty() && joined.back() != u'\\' && joined.back() != u'/') joined += backslash ? u'\\' : u'/';
  joined += part;
  return joined;
}

// ---------------------------------------------------------------------------------------------
// CMountedPath

CMountedPath::CMountedPath(const char16_t* root) : m_Root(root != nullptr ? root : u"") {}

bool CMountedPath::ToHostPath(const char16_t* path, std::u16string* hostPath) const {
  if (path == nullptr) return false;
  std::u16string_view rest(path);
  if (!rest.empty() && rest.front() == u'/') rest.remove_prefix(1);
  // Every component must stay inside the mounted directory: no "." or "..", and no host separator or
  // drive/stream colon hidden inside a component.
  std::u16string_view scan = rest;
  while (true) {
    const std::size_t slash = scan.find(u'/');
    const std::u16string_view part = scan.substr(0, slash);
    if (part == u"." || part == u"..") return false;
    if (part.find(u'\\') != std::u16string_view::npos || part.find(u':') != std::u16string_view::npos) return false;
    if (slash == std::u16string_view::npos) break;
    scan.remove_prefix(slash + 1);
  }
  // Extra leading separators would make the rest an absolute host path: they are dropped.
  while (!rest.empty() && rest.front() == u'/') rest.remove_prefix(1);
  *hostPath = m_Root.empty() ? std::u16string(rest) : JoinPath(m_Root, rest, true);
  return true;
}

Stream* CMountedPath::Open(const char16_t* path, bool write) {
  std::u16string host;
  if (!ToHostPath(path, &host)) return nullptr;
  return CWindowsStream::Open(host.c_str(), write);
}

Stream* CMountedPath::Create(const char16_t* path) {
  std::u16string host;
  if (!ToHostPath(path, &host)) return nullptr;
  // The directories that lead to the file come first.
  const std::size_t cut = host.find_last_of(u"\\/");
  if (cut != std::u16string::npos && cut > 0) {
    const std::u16string directory = host.substr(0, cut);
    SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
  }
  HANDLE file = CreateFileW(host.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return new CWindowsStream(file);
}

bool CMountedPath::Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) {
  std::u16string host;
  if (!ToHostPath(path, &host)) return false;
  const DWORD attributes = GetFileAttributesW(host.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? acceptDirectory : acceptFile;
}

bool CMountedPath::Enumerate(const char16_t* path, EnumerateCallback callback, void* context) {
  std::u16string host;
  if (callback == nullptr || !ToHostPath(path, &host)) return true;
  for (char16_t& c : host)
    if (c == u'/') c = u'\\';
  const std::u16string pattern = JoinPath(host, u"*", true);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool goOn = true;
  do {
    const std::u16string_view name(found.cFileName);
    if (name == u"." || name == u"..") continue;
    EnumerateEntry entry;
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.m_bFile = directory ? 0 : 1;
    entry.m_bDirectory = directory ? 1 : 0;
    entry.m_pName = found.cFileName;
    entry.m_pPath = path;
    if (!callback(entry, context)) {
      goOn = false;
      break;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return goOn;
}

// ---------------------------------------------------------------------------------------------
// CFileSystem

CFileSystem::~CFileSystem() {
  for (auto& [hash, entries] : m_Named) {
    (void)hash;
    for (NamedMount& mount : entries) delete mount.manager;
  }
  m_Named.clear();
  for (CVirtualFileMgr* manager : m_Roots) delete manager;
  m_Roots.clear();
  for (CVirtualFileMgr* manager : m_Retired) delete manager;
}

void CFileSystem::Retire(CVirtualFileMgr* manager) {
  if (m_uLookups != 0)
    m_Retired.push_back(manager);
  else
    delete manager;
}

CFileSystem::LookupScope::LookupScope(CFileSystem& fileSystem) : m_FileSystem(fileSystem) {
  ++m_FileSystem.m_uLookups;
}

CFileSystem::LookupScope::~LookupScope() {
  if (--m_FileSystem.m_uLookups != 0) return;
  // Deleting a manager may unmount others (a manager that owns a file system): they retire again.
  while (!m_FileSystem.m_Retired.empty()) {
    CVirtualFileMgr* manager = m_FileSystem.m_Retired.back();
    m_FileSystem.m_Retired.pop_back();
    delete manager;
  }
}

namespace {

std::u16string_view WithoutLeadingSlash(const char16_t* name) {
  std::u16string_view view(name);
  if (!view.empty() && view.front() == u'/') view.remove_prefix(1);
  return view;
}

}  // namespace

bool CFileSystem::Mount(const char16_t* name, CVirtualFileMgr* manager, bool stop) {
  if (name == nullptr || manager == nullptr || manager == this) return false;
  if (std::u16string_view(name) == u"/") {
    m_Roots.push_back(manager);
    return true;
  }
  const std::uint32_t hash = GetNameHash(WithoutLeadingSlash(name), false);
  m_Named[hash].push_back(NamedMount{manager, stop});
  return true;
}

bool CFileSystem::Unmount(const char16_t* name) {
  if (name == nullptr) return false;
  if (std::u16string_view(name) == u"/") {
    for (CVirtualFileMgr* manager : m_Roots) Retire(manager);
    m_Roots.clear();
    return true;
  }
  auto it = m_Named.find(GetNameHash(WithoutLeadingSlash(name), false));
  if (it == m_Named.end() || it->second.empty()) return false;
  Retire(it->second.front().manager);
  it->second.erase(it->second.begin());
  if (it->second.empty()) m_Named.erase(it);
  return true;
}

// Offers the path to the managers in lookup order; operation(manager, path) returns true for a result.
template <class Operation>
bool CFileSystem::Resolve(const char16_t* path, Operation&& operation) {
  if (path == nullptr) return false;
  const LookupScope scope(*this);
  const bool leadingSlash = path[0] == u'/';
  const char16_t* relative = leadingSlash ? path + 1 : path;
  const std::u16string_view relativeView(relative);
  const std::size_t slash = relativeView.find(u'/');
  const std::u16string_view first = relativeView.substr(0, slash);

  auto named = m_Named.find(GetNameHash(first, false));
  if (named != m_Named.end()) {
    const char16_t* rest = slash == std::u16string_view::npos ? u"" : relative + slash;
    // A callback may mount or unmount: walk a copy (managers unmounted meanwhile live until the scope ends).
    const std::vector<NamedMount> entries = named->second;
    for (const NamedMount& mount : entries) {
      if (operation(mount.manager, rest)) return true;
      if (mount.stop) return false;
    }
  }

  std::u16string withSlash;
  const char16_t* full = path;
  if (!leadingSlash) {
    withSlash = u"/";
    withSlash += path;
    full = withSlash.c_str();
  }
  const std::vector<CVirtualFileMgr*> roots = m_Roots;
  for (CVirtualFileMgr* manager : roots)
    if (operation(manager, full)) return true;
  return false;
}

Stream* CFileSystem::Open(const char16_t* path, bool write) {
  Stream* result = nullptr;
  Resolve(path, [&](CVirtualFileMgr* manager, const char16_t* p) {
    result = manager->Open(p, write);
    return result != nullptr;
  });
  return result;
}

Stream* CFileSystem::Create(const char16_t* path) {
  Stream* result = nullptr;
  Resolve(path, [&](CVirtualFileMgr* manager, const char16_t* p) {
    result = manager->Create(p);
    return result != nullptr;
  });
  return result;
}

bool CFileSystem::Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) {
  return Resolve(path, [&](CVirtualFileMgr* manager, const char16_t* p) {
    return manager->Exists(p, acceptFile, acceptDirectory);
  });
}

namespace {

struct EnumerateOnce {
  EnumerateCallback callback;
  void* context;
  std::unordered_set<std::u16string> seen;
  bool stopped = false;

  static bool Forward(const EnumerateEntry& entry, void* self) {
    auto* state = static_cast<EnumerateOnce*>(self);
    if (entry.m_pName == nullptr || !state->seen.emplace(entry.m_pName).second) return true;
    if (state->callback(entry, state->context)) return true;
    state->stopped = true;
    return false;
  }
};

}  // namespace

bool CFileSystem::Enumerate(const char16_t* path, EnumerateCallback callback, void* context) {
  if (callback == nullptr) return true;
  EnumerateOnce state{callback, context, {}, false};
  // Every manager is asked (a "true" answer means only that it finished); the first false ends it.
  Resolve(path, [&](CVirtualFileMgr* manager, const char16_t* p) {
    return !manager->Enumerate(p, &EnumerateOnce::Forward, &state) || state.stopped;
  });
  return !state.stopped;
}

bool MountPhysicalDirectory(CFileSystem* fileSystem, const char16_t* name, const char16_t* hostDirectory, bool stop) {
  if (fileSystem == nullptr || name == nullptr || hostDirectory == nullptr) return false;
  auto* mount = new CMountedPath(hostDirectory);
  if (!fileSystem->Mount(name, mount, stop)) {
    delete mount;
    return false;
  }
  return true;
}

}  // namespace Vexil3D
