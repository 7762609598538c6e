#pragma once
// Temporary host files for the stream tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <base/Stream.h>
#include <platform/files.h>
#include <platform/text.h>

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brindle-stream-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made != nullptr) path_ = made;
  }
  ~TempDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  bool Valid() const { return !path_.empty(); }
  std::u16string WidePath(std::string_view name) const { return text::Utf8ToUtf16(path_ + "/" + std::string(name)); }

  // A new file holding contents, positioned at its start.
  HANDLE CreateWith(std::string_view name, std::string_view contents, bool writable = true) const {
    const std::u16string wide = WidePath(name);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    DWORD written = 0;
    if (!contents.empty()) WriteFile(file, contents.data(), DWORD(contents.size()), &written, nullptr);
    if (!writable) {
      CloseHandle(file);
      file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    } else {
      LARGE_INTEGER zero;
      zero.QuadPart = 0;
      SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    }
    return file;
  }

 private:
  std::string path_;
};

// Owns one reference on a stream for the scope of a test.
struct StreamRef {
  CStream* stream = nullptr;
  explicit StreamRef(CStream* s = nullptr) : stream(s) {}
  ~StreamRef() {
    if (stream != nullptr) stream->Release();
  }
  StreamRef(const StreamRef&) = delete;
  StreamRef& operator=(const StreamRef&) = delete;
  StreamRef(StreamRef&& other) noexcept : stream(other.stream) { other.stream = nullptr; }
  CStream* operator->() const { return stream; }
  CStream* get() const { return stream; }
};

inline std::uint64_t PositionOf(CStream* stream) {
  std::uint64_t position = ~0ull;
  EXPECT_TRUE(stream->GetPosition(&position));
  return position;
}
