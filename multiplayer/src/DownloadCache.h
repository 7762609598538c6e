#pragma once
// The download cache's host side: cache paths translated to host paths through the mount of "/UserData/Caches",
// and the host calls on them. Nothing here prompts or reports to the game-side file system's (fatal) context:
// every path is checked against the limits before the file system sees it.
#include <cstdint>
#include <string>

class CStream;

namespace cache {

// The cache folder's virtual path, without and with its closing "/".
inline constexpr char16_t kCacheRoot[] = u"/UserData/Caches";
inline constexpr char16_t kCachePrefix[] = u"/UserData/Caches/";

// The host path of a cache path (one made by MakeCachePath, or its folder); false when there is no file system,
// no mount (a writable one when forWriting) or the host path would not fit.
bool HostPathOf(const std::u16string& cachePath, bool forWriting, std::u16string* host);
// Makes every missing folder of a host folder path; true when it exists afterwards.
bool MakeHostFolders(const std::u16string& hostFolder);
// One reference for the caller, or null: an empty new (or emptied) file, or an existing one for reading.
CStream* CreateHostFileQuietly(const std::u16string& host);
CStream* OpenHostFileQuietly(const std::u16string& host);
// Streams the file's bytes through zlib's crc32 in chunks; false when it cannot be read.
bool HostFileCrc(const std::u16string& host, std::uint32_t* crc);

}  // namespace cache
