// libFuzzer target: the cache path of any resource and file name (UTF-16 units from the bytes, a 0xFFFF unit
// splitting the two). Whatever it accepts is "/UserData/Caches/" followed by exactly two sound components that fit
// the file system's limits; the URL of the same names stays within its bound or is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <base/FileSystem.h>

#include <multiplayer/Downloads.h>

namespace {

constexpr char16_t kSplit = 0xFFFF;
constexpr std::u16string_view kPrefix = u"/UserData/Caches/";

bool IsSound(std::u16string_view part) {
  if (part.empty() || part.size() > CFileSystem::kMaxComponent || part == u"." || part == u"..") return false;
  for (const char16_t c : part) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\' || c == u':') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(char16_t(data[i] | (data[i + 1] << 8)));
  const std::size_t split = units.find(kSplit);
  const std::u16string_view all(units);
  const std::u16string_view resource = all.substr(0, split);
  const std::u16string_view file = split == std::u16string_view::npos ? std::u16string_view() : all.substr(split + 1);
  std::u16string path;
  if (MakeCachePath(resource, file, &path)) {
    if (path.size() >= CFileSystem::kMaxPath || path.compare(0, kPrefix.size(), kPrefix) != 0) std::abort();
    const std::u16string_view rest = std::u16string_view(path).substr(kPrefix.size());
    const std::size_t slash = rest.find(u'/');
    if (slash == std::u16string_view::npos || !IsSound(rest.substr(0, slash)) || !IsSound(rest.substr(slash + 1))) {
      std::abort();
    }
  }
  std::string url;
  if (BuildDownloadUrl(u"::1", 22000, resource, file, &url) && url.size() > CClientFile::kMaxUrlLength) std::abort();
  return 0;
}
