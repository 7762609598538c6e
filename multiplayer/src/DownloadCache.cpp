// The download cache: its paths, their host side and the CRC-32 check of a cached copy.
#include "DownloadCache.h"

#include <zlib.h>

#include <map>
#include <mutex>
#include <vector>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <base/TaskContext.h>
#include <platform/files.h>
#include <platform/sync.h>

#include <multiplayer/Downloads.h>
#include <multiplayer/Protocol.h>

namespace {

// Bytes read per step of the cache check: large enough that the stream's per-call lock is noise.
constexpr std::uint32_t kCrcChunk = 256 * 1024;
constexpr std::size_t kPrefixLength = std::size(cache::kCachePrefix) - 1;

bool IsSoundComponent(std::u16string_view name) {
  if (name.empty() || name.size() > CFileSystem::kMaxComponent || name == u"." || name == u"..") return false;
  for (const char16_t c : name) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\' || c == u':') return false;
  }
  // On the real platform these would reach a device or an aliased file instead of the cache's own.
  return !IsSpecialHostName(name);
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// A cached file as last checked: its size and last write time when its CRC-32 was read.
struct CheckedFile {
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  std::uint32_t crc = 0;
};

// Every list names its files again, and a server may list every frame: reading a large cached file whole each
// time would hold every frame that long. A file's CRC-32 is read again only when its size or last write time
// changed. The table forgets everything once full, which costs one more read of each file.
constexpr std::size_t kMaxCheckedFiles = 65536;
std::mutex g_CheckedLock;
std::map<std::u16string, CheckedFile> g_Checked;  // by host path; ordered, as a server chooses the names

bool ReadStamp(const std::u16string& host, CheckedFile* stamp) {
  const HANDLE file = CreateFileW(host.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  FILETIME written{};
  const bool read = GetFileSizeEx(file, &size) && GetFileTime(file, nullptr, nullptr, &written);
  CloseHandle(file);
  stamp->size = std::uint64_t(size.QuadPart);
  stamp->written = std::uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime;
  return read;
}

}  // namespace

bool MakeCachePath(std::u16string_view resource, std::u16string_view file, std::u16string* path) {
  if (!IsSoundComponent(resource) || !IsSoundComponent(file)) return false;
  // The terminator takes the last unit of the file system's buffers.
  if (kPrefixLength + resource.size() + 1 + file.size() >= CFileSystem::kMaxPath) return false;
  path->assign(cache::kCachePrefix);
  path->append(resource);
  path->push_back(u'/');
  path->append(file);
  return true;
}

bool IsCachedCopyCurrent(const std::u16string& path, std::uint32_t crc) {
  std::u16string host;
  CheckedFile now;
  // The stamp is taken before the read: a file replaced meanwhile has another stamp at the next check.
  if (!cache::HostPathOf(path, false, &host) || PathIsDirectoryW(host.c_str()) || !ReadStamp(host, &now)) return false;
  {
    std::lock_guard<std::mutex> lock(g_CheckedLock);
    const auto found = g_Checked.find(host);
    if (found != g_Checked.end() && found->second.size == now.size && found->second.written == now.written)
      return found->second.crc == crc;
  }
  if (!cache::HostFileCrc(host, &now.crc)) return false;
  std::lock_guard<std::mutex> lock(g_CheckedLock);
  if (g_Checked.size() >= kMaxCheckedFiles) g_Checked.clear();
  g_Checked[host] = now;
  return now.crc == crc;
}

namespace cache {

bool HostPathOf(const std::u16string& cachePath, bool forWriting, std::u16string* host) {
  if (g_FileSystem == nullptr || cachePath.size() >= CFileSystem::kMaxPath) return false;
  const std::u16string_view root(kCacheRoot);
  if (cachePath.compare(0, root.size(), root) != 0) return false;
  const std::u16string_view rest = std::u16string_view(cachePath).substr(root.size());
  if (!rest.empty() && rest[0] != u'/') return false;
  // Every component below the root was checked by MakeCachePath; check again, as callers may pass folders.
  for (std::size_t begin = 1; begin < rest.size();) {
    std::size_t end = rest.find(u'/', begin);
    if (end == std::u16string_view::npos) end = rest.size();
    if (!IsSoundComponent(rest.substr(begin, end - begin))) return false;
    begin = end + 1;
  }
  // The root itself is short, so translating it never overflows into the file system's context.
  char16_t translated[CFileSystem::kMaxPath];
  const bool found = forWriting ? g_FileSystem->TranslateForCreate(kCacheRoot, translated, CFileSystem::kMaxPath)
                                : g_FileSystem->TranslatePath(kCacheRoot, false, true, nullptr, translated,
                                                              CFileSystem::kMaxPath);
  if (!found) return false;
  host->assign(translated);
  for (const char16_t c : rest) host->push_back(c == u'/' ? u'\\' : c);
  return host->size() < CFileSystem::kMaxPath;
}

bool MakeHostFolders(const std::u16string& hostFolder) {
  for (std::size_t i = 1; i <= hostFolder.size(); ++i) {
    if (i != hostFolder.size() && !IsSeparator(hostFolder[i])) continue;
    const std::u16string prefix = hostFolder.substr(0, i);
    if (!PathIsDirectoryW(prefix.c_str())) CreateDirectoryW(prefix.c_str(), nullptr);
  }
  return !hostFolder.empty() && PathIsDirectoryW(hostFolder.c_str());
}

CStream* CreateHostFileQuietly(const std::u16string& host) {
  tTaskContext task;
  return CreateHostFile(&task, nullptr, host.c_str(), false, false);
}

CStream* OpenHostFileQuietly(const std::u16string& host) {
  if (!PathFileExistsW(host.c_str()) || PathIsDirectoryW(host.c_str())) return nullptr;
  tTaskContext task;
  return OpenHostFile(&task, nullptr, host.c_str(), false, false, false);
}

bool HostFileCrc(const std::u16string& host, std::uint32_t* crc) {
  CStream* stream = OpenHostFileQuietly(host);
  if (stream == nullptr) return false;
  std::vector<unsigned char> chunk(kCrcChunk);
  uLong value = crc32(0L, Z_NULL, 0);
  for (;;) {
    const std::uint32_t got = stream->Read(chunk.data(), 1, kCrcChunk);
    if (got == 0) break;
    value = crc32(value, chunk.data(), got);
  }
  stream->Release();
  *crc = std::uint32_t(value);
  return true;
}

}  // namespace cache
