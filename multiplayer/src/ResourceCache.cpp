// The cache check over the game-side file system and the hand-over of files to be downloaded.
#include "ResourceCache.h"

#include <vector>

#include <zlib.h>

#include <base/FileSystem.h>
#include <base/Stream.h>
#include <hack/Messages.h>
#include <platform/text.h>

#include <multiplayer/ClientResource.h>

namespace resourcecache {

namespace {

constexpr std::uint32_t kReadChunk = 64 * 1024;

std::u16string CachePath(std::u16string_view resource, std::u16string_view file) {
  std::u16string path = text::Utf8ToUtf16(kResourceCacheRoot);
  path.append(resource).append(u"/").append(file);
  return path;
}

}  // namespace

bool IsCurrent(std::u16string_view resource, std::u16string_view file, std::uint32_t crc) {
  const std::u16string path = CachePath(resource, file);
  if (g_FileSystem == nullptr || !IsInsideCacheFolder(resource, path)) return false;
  if (!g_FileSystem->Exists(path.c_str(), true, false)) return false;
  CStream* stream = g_FileSystem->OpenFile(path.c_str(), kOpenFileRead);
  if (stream == nullptr) return false;
  std::vector<Bytef> buffer(kReadChunk);
  uLong sum = crc32(0L, Z_NULL, 0);
  for (;;) {
    const std::uint32_t got = stream->Read(buffer.data(), 1, kReadChunk);
    if (got == 0) break;
    sum = crc32(sum, buffer.data(), uInt(got));
  }
  stream->Release();
  return std::uint32_t(sum) == crc;
}

bool QueueDownload(CQVNetClient*, CClientResource* resource, const std::u16string& file, std::uint32_t, std::uint32_t,
                   bool) {
  // Without a loader on the connection nothing can be fetched.
  LogConsole("Unable to download %s\n", text::Utf16ToUtf8(CachePath(resource->GetName(), file)).c_str());
  return false;
}

}  // namespace resourcecache
