#pragma once
// Helpers of the file-system tests: scratch directories on the host, and a context that collects errors instead of
// ending the process. No locking: each test owns its own.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <platform/text.h>

#include <base/AppContext.h>

namespace fstest {

namespace fs = std::filesystem;
inline std::u16string Wide(const std::string& s) { return text::Utf8ToUtf16(s); }
inline std::string Narrow(const std::u16string& s) { return text::Utf16ToUtf8(s); }

// A scratch directory, removed with everything in it (unreadable directories included) at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/brindle_fs_XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
    if (made != nullptr) fs::permissions(path_, fs::perms(0755));
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
      if (it->is_directory(ignored)) fs::permissions(it->path(), fs::perms(0755), ignored);
    fs::permissions(path_, fs::perms(0755), ignored);
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string Sub(const std::string& relative) const { return path_ + "/" + relative; }
  std::u16string WideSub(const std::string& relative) const { return Wide(Sub(relative)); }
  void MakeDir(const std::string& relative) const { fs::create_directories(Sub(relative)); }
  void Write(const std::string& relative, const std::string& content) const {
    fs::create_directories(fs::path(Sub(relative)).parent_path());
    std::ofstream(Sub(relative), std::ios::binary) << content;
  }
  bool Exists(const std::string& relative) const { return fs::exists(Sub(relative)); }
  std::string Read(const std::string& relative) const {
    std::stringstream content;
    content << std::ifstream(Sub(relative), std::ios::binary).rdbuf();
    return content.str();
  }
  // Every entry below the directory with its content ("<dir>" for directories) and mode, to prove that nothing
  // outside a mount was touched.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(path_)) {
      const std::string relative = fs::relative(entry.path(), path_).string();
      entries[relative] = (entry.is_directory() ? std::string("<dir>") : Read(relative)) + " mode " +
                          std::to_string(static_cast<int>(entry.status().permissions()));
    }
    return entries;
  }

 private:
  std::string path_;
};

// Errors are collected and the process goes on; prompts use the console mode, answered by scripted dialogs.
class CollectingAppContext : public tAppContext {
 public:
  CollectingAppContext() : tAppContext("Test", nullptr, MessageDisplayMode::Console) {}
  void AddError(const char* text) override { AppendError(text); }
};

}  // namespace fstest
