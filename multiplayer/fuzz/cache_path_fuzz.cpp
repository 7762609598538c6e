// libFuzzer target: the resource environments' path check. Input: the resource name's bytes, a zero byte, then
// the path as UTF-16 units. Whatever passes lies inside "/UserData/Caches/<resource>/" with no way out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <platform/text.h>

#include <multiplayer/ClientResource.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t split = 0;
  while (split < size && data[split] != 0) ++split;
  const std::u16string resource(data, data + split);
  std::u16string path;
  for (std::size_t i = split + 1; i + 1 < size; i += 2) path.push_back(char16_t(data[i] | (data[i + 1] << 8)));
  if (!IsInsideCacheFolder(resource, path)) return 0;
  const std::u16string folder = text::Utf8ToUtf16(kResourceCacheRoot) + resource + u"/";
  if (path.size() >= CClientResourceScriptEnvironment::kMaxPath || path.compare(0, folder.size(), folder) != 0) {
    abort();
  }
  const std::u16string rest = u"/" + path.substr(folder.size()) + u"/";
  for (const char16_t* bad : {u"/./", u"/../", u"//", u"\\", u":"}) {
    if (rest.find(bad) != std::u16string::npos) abort();
  }
  return 0;
}
