#pragma once
// The engine's virtual file system: file managers (host directories, archives) combined under
// virtual paths with "/" separators. Takes no lock: mounting and lookups run on the game's main thread.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Vexil3D {

class Stream;

// One entry reported by Enumerate.
struct EnumerateEntry {
  std::uint8_t m_bFile;
  std::uint8_t m_bDirectory;
  const char16_t* m_pName;  // the entry's name
  const char16_t* m_pPath;  // the path that was enumerated
};
// Returns false to stop the enumeration.
using EnumerateCallback = bool (*)(const EnumerateEntry& entry, void* context);

class CVirtualFileMgr {
 public:
  virtual ~CVirtualFileMgr() = default;
  // A new stream holding one reference for the caller, or null.
  virtual Stream* Open(const char16_t* path, bool write) = 0;
  virtual Stream* Create(const char16_t* path) = 0;
  virtual bool Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) = 0;
  // False only when the callback stopped the enumeration.
  virtual bool Enumerate(const char16_t* path, EnumerateCallback callback, void* context);
};

// Appends base and part with one separator ('\\' or '/') between them unless base is empty or already
// ends in a separator.
std::u16string JoinPath(std::u16string_view base, std::u16string_view part, bool backslash);

// A host directory. Paths may not climb out of it: components "." and "..", and components holding
// '\\' or ':', are refused.
class CMountedPath : public CVirtualFileMgr {
 public:
  explicit CMountedPath(const char16_t* root);

  Stream* Open(const char16_t* path, bool write) override;
  Stream* Create(const char16_t* path) override;
  bool Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) override;
  bool Enumerate(const char16_t* path, EnumerateCallback callback, void* context) override;

  const std::u16string& GetRoot() const { return m_Root; }
  // The host path of a virtual path, or false when the path is refused.
  bool ToHostPath(const char16_t* path, std::u16string* hostPath) const;

 private:
  std::u16string m_Root;
};

// Managers mounted by name ("/" for the root list, "/first-component" for a named mount).
class CFileSystem : public CVirtualFileMgr {
 public:
  CFileSystem() = default;
  ~CFileSystem() override;
  CFileSystem(const CFileSystem&) = delete;
  CFileSystem& operator=(const CFileSystem&) = delete;

  // Takes ownership of the manager. With stop set, a path that a named mount does not answer is
  // not offered to the managers after it.
  bool Mount(const char16_t* name, CVirtualFileMgr* manager, bool stop = false);
  // "/" deletes every root manager; another name deletes the first manager mounted under it. Called
  // from inside a lookup (an Enumerate callback), the managers leave the table at once but are
  // deleted only when the outermost lookup ends, so the walk never reaches a freed manager.
  bool Unmount(const char16_t* name);

  Stream* Open(const char16_t* path, bool write) override;
  Stream* Create(const char16_t* path) override;
  bool Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) override;
  // Each name reaches the callback once, from the first manager that reports it.
  bool Enumerate(const char16_t* path, EnumerateCallback callback, void* context) override;

  std::size_t GetRootCount() const { return m_Roots.size(); }

 private:
  struct NamedMount {
    CVirtualFileMgr* manager;
    bool stop;
  };

  // Counts the lookups under way; the last one to end deletes the retired managers.
  class LookupScope {
   public:
    explicit LookupScope(CFileSystem& fileSystem);
    ~LookupScope();
    LookupScope(const LookupScope&) = delete;
    LookupScope& operator=(const LookupScope&) = delete;

   private:
    CFileSystem& m_FileSystem;
  };

  template <class Operation>
  bool Resolve(const char16_t* path, Operation&& operation);
  // Deletes an unmounted manager now, or at the end of the lookups under way.
  void Retire(CVirtualFileMgr* manager);

  std::vector<CVirtualFileMgr*> m_Roots;
  std::unordered_map<std::uint32_t, std::vector<NamedMount>> m_Named;
  std::vector<CVirtualFileMgr*> m_Retired;
  std::uint32_t m_uLookups = 0;
};

// Mounts a host directory under name ("/" appends it to the root list).
bool MountPhysicalDirectory(CFileSystem* fileSystem, const char16_t* name, const char16_t* hostDirectory,
                            bool stop = false);

}  // namespace Vexil3D
