// The resource records' cache check and their hand-over of files to the connection's loader.
#include "ResourceCache.h"

#include <hack/Messages.h>
#include <platform/text.h>

#include <multiplayer/ClientResource.h>
#include <multiplayer/Downloads.h>
#include <multiplayer/QVNetClient.h>

namespace resourcecache {

namespace {

std::u16string CachePath(std::u16string_view resource, std::u16string_view file) {
  std::u16string path = text::Utf8ToUtf16(kResourceCacheRoot);
  path.append(resource).append(u"/").append(file);
  return path;
}

}  // namespace

bool IsCurrent(std::u16string_view resource, std::u16string_view file, std::uint32_t crc) {
  std::u16string path;
  return MakeCachePath(resource, file, &path) && IsCachedCopyCurrent(path, crc);
}

bool QueueDownload(CQVNetClient* client, CClientResource* resource, const std::u16string& file, std::uint32_t size,
                   std::uint32_t crc, bool script) {
  CServerInfo* info = client != nullptr ? client->GetServerInfo() : nullptr;
  if (info == nullptr) {
    LogConsole("Unable to download %s\n", text::Utf16ToUtf8(CachePath(resource->GetName(), file)).c_str());
    return false;
  }
  CClientFile* job = script ? new CClientScriptFile(info, resource, file, size, crc)
                            : new CClientFile(info, resource, file, size, crc);
  const bool queued = info->GetLoader().Queue(job);
  job->Release();
  return queued;
}

}  // namespace resourcecache
