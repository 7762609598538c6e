#pragma once
// A fresh directory under /tmp for one test, removed with everything in it.
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <platform/text.h>

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/brindle-platform-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
  }
  ~TempDir() {
    if (path_.empty()) return;
    // Read-only entries must not stop the clean-up.
    ::nftw(
        path_.c_str(),
        [](const char* p, const struct stat* s, int type, FTW*) {
          if (type != FTW_SL) ::chmod(p, (s->st_mode & 07777) | S_IWUSR | S_IRUSR | S_IXUSR);
          return 0;
        },
        16, FTW_PHYS);
    ::nftw(
        path_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Host() const { return path_; }
  // The host path of a name inside.
  std::string Host(const std::string& name) const { return path_ + "/" + name; }
  // A Windows-style path inside, with backslashes.
  std::u16string Win(const std::string& name = std::string()) const {
    std::string joined = path_;
    if (!name.empty()) joined += "\\" + name;
    for (char& c : joined)
      if (c == '/') c = '\\';
    return text::Utf8ToUtf16(std::string_view(joined));
  }

 private:
  std::string path_;
};
