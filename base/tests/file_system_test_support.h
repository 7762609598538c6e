#pragma once
// Helpers of the file-system tests: scratch directories on the host, a context
// that collects errors instead of ending the process, and a way to make opening
// files fail.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <platform/text.h>

#include <base/AppContext.h>

namespace fstest {

inline std::u16string Wide(const std::string& s) { return text::Utf8ToUtf16(s); }
inline std::string Narrow(const std::u16string& s) { return text::Utf16ToUtf8(s); }

// A scratch directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/brindle_fs_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
    chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string Sub(const std::string& relative) const { return path_ + "/" + relative; }
  std::u16string WideSub(const std::string& relative) const { return Wide(Sub(relative)); }

  void MakeDir(const std::string& relative) const {
    std::string partial = path_;
    std::stringstream parts(relative);
    std::string part;
    while (std::getline(parts, part, '/')) {
      if (part.empty()) continue;
      partial += "/" + part;
      mkdir(partial.c_str(), 0755);
    }
  }
  void Write(const std::string& relative, const std::string& content) const {
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string::npos) MakeDir(relative.substr(0, slash));
    std::ofstream(Sub(relative), std::ios::binary) << content;
  }
  bool Exists(const std::string& relative) const {
    struct stat info;
    return stat(Sub(relative).c_str(), &info) == 0;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Sub(relative), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  // Every entry below the directory with its content ("<dir>" for directories)
  // and mode, to prove that nothing outside a mount was touched.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
      const std::string relative = std::filesystem::relative(entry.path(), path_).string();
      const std::string mode = " mode " + std::to_string(static_cast<int>(entry.status().permissions()));
      entries[relative] = (entry.is_directory() ? std::string("<dir>") : Read(relative)) + mode;
    }
    return entries;
  }

  static void RemoveTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
      chmod(path.c_str(), 0755);
      if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
          const std::string name = entry->d_name;
          if (name != "." && name != "..") RemoveTree(path + "/" + name);
        }
        closedir(dir);
      }
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

 private:
  std::string path_;
};

// An application context for tests: errors are collected and the process goes on,
// so that a test can see what was reported. Prompts use the console mode, whose
// answers a scripted dialog backend supplies.
class CollectingAppContext : public tAppContext {
 public:
  CollectingAppContext() : tAppContext("Test", nullptr, MessageDisplayMode::Console) {}
  void AddError(const char* text) override { AppendError(text); }
};

}  // namespace fstest
