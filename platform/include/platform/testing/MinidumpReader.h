#pragma once
// A reader of minidump files for tests: the header, the stream directory, one stream by type, strings and the
// captured memory. Every access is bounds-checked against the file; what does not fit reads as absent.
// Locks: none; the file is read once, at construction.
//
// Usage:
//   platform::testing::MinidumpReader dump("/tmp/x.dmp");
//   ASSERT_TRUE(dump.Valid());
//   auto* e = dump.Stream<MINIDUMP_EXCEPTION_STREAM>(ExceptionStream);   // null when missing or cut
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <platform/crash.h>

namespace platform::testing {

class MinidumpReader {
 public:
  explicit MinidumpReader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The signature and version, and a directory inside the file.
  bool Valid() const {
    const auto* h = At<MINIDUMP_HEADER>(0);
    return h != nullptr && h->Signature == MINIDUMP_SIGNATURE && (h->Version & 0xFFFF) == MINIDUMP_VERSION &&
           Fits(h->StreamDirectoryRva, std::uint64_t(h->NumberOfStreams) * sizeof(MINIDUMP_DIRECTORY));
  }
  const MINIDUMP_HEADER& Header() const { return *At<MINIDUMP_HEADER>(0); }
  std::vector<MINIDUMP_DIRECTORY> Directory() const {
    std::vector<MINIDUMP_DIRECTORY> entries;
    if (!Valid()) return entries;
    for (DWORD i = 0; i < Header().NumberOfStreams; ++i) {
      entries.push_back(*At<MINIDUMP_DIRECTORY>(Header().StreamDirectoryRva + i * sizeof(MINIDUMP_DIRECTORY)));
    }
    return entries;
  }
  // The first stream of the type, when it holds at least a T and lies inside the file.
  template <class T>
  const T* Stream(DWORD type, DWORD* size = nullptr) const {
    for (const MINIDUMP_DIRECTORY& d : Directory()) {
      if (d.StreamType != type || d.Location.DataSize < sizeof(T) || !Fits(d.Location.Rva, d.Location.DataSize)) {
        continue;
      }
      if (size != nullptr) *size = d.Location.DataSize;
      return At<T>(d.Location.Rva);
    }
    return nullptr;
  }
  template <class T>
  const T* At(RVA rva) const {
    return Fits(rva, sizeof(T)) ? reinterpret_cast<const T*>(bytes_.data() + rva) : nullptr;
  }
  const std::uint8_t* Bytes(MINIDUMP_LOCATION_DESCRIPTOR where) const {
    return Fits(where.Rva, where.DataSize) ? bytes_.data() + where.Rva : nullptr;
  }
  // A MINIDUMP_STRING as UTF-16.
  std::u16string String(RVA rva) const {
    const auto* length = At<DWORD>(rva);
    if (length == nullptr || !Fits(rva + sizeof(DWORD), *length)) return u"?";
    std::u16string text(*length / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), bytes_.data() + rva + sizeof(DWORD), text.size() * sizeof(char16_t));
    return text;
  }
  // The captured bytes at [address, address + size), from the memory list; empty when not captured whole.
  std::vector<std::uint8_t> Memory(std::uint64_t address, std::uint32_t size) const {
    DWORD streamSize = 0;
    const auto* count = Stream<DWORD>(MemoryListStream, &streamSize);
    if (count == nullptr) return {};
    const auto* d = reinterpret_cast<const MINIDUMP_MEMORY_DESCRIPTOR*>(count + 1);
    if (sizeof(DWORD) + std::uint64_t(*count) * sizeof *d > streamSize) return {};
    for (DWORD i = 0; i < *count; ++i) {
      const std::uint64_t start = d[i].StartOfMemoryRange;
      if (address < start || address + size > start + d[i].Memory.DataSize) continue;
      const std::uint8_t* bytes = Bytes(d[i].Memory);
      if (bytes == nullptr) return {};
      return std::vector<std::uint8_t>(bytes + (address - start), bytes + (address - start) + size);
    }
    return {};
  }

 private:
  bool Fits(std::uint64_t rva, std::uint64_t size) const { return rva + size <= bytes_.size(); }

  std::vector<std::uint8_t> bytes_;
};

}  // namespace platform::testing
