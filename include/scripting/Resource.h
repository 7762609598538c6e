#pragma once
// A resource of the scripting framework: a package of script and element files that its manager starts and
// stops as a whole, each script running in a context of a registered script engine, with its files read from
// its TAR archive or its directory through the engine file system.
//
// Errors: Start, Stop and Restart log their lines ("START:", "STOP:", "RESTART:") and answer false; file
// access answers null or false. A resource runs from the moment Start has made its contexts (with any
// engines or none) until a Stop succeeds; a failed Start ends stopped, also when a start handler stopped
// it. A Stop entered while a stop of the same resource runs (from a stop handler) does nothing and
// answers false.
// Ownership: the resource owns its file lists, contexts (released on stop), archive and exports; its
// dependencies are counted, and let go when the manager stops all resources, so that resources that
// depend on each other do not keep each other alive. Start, Stop and Restart hold the resource (and Start its
// dependencies) for their own length: a handler may stop every resource, releasing the manager's
// references, without ending a resource whose start or stop is under way.
// Locking: the paged-loader lock only; everything else on the game's main thread.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <engine/Arguments.h>
#include <engine/Thread.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CResourceMgr;
class CScriptContext;
class CTARArchive;
class Stream;

enum ResourceFileType : std::uint32_t {
  RESOURCE_FILE_LUA = 1,
  RESOURCE_FILE_SQUIRREL = 2,
  RESOURCE_FILE_SPIDERMONKEY = 3,
  RESOURCE_FILE_ELEMENTS = 4,
};

class CResource : public CBaseObject {
 public:
  // The engines a resource gets a context of, in this order.
  static constexpr const char16_t* kEngineNames[] = {u"Lua", u"SpiderMonkey", u"Squirrel"};
  static constexpr std::size_t kEngineCount = std::size(kEngineNames);

  struct FileRecord {
    std::uint32_t type;
    std::u16string name;
    std::vector<std::uint8_t> data;
  };

  CResource(CResourceMgr* manager, std::u16string_view name);
  ~CResource() override;

  ReflectedClass* GetReflectedClass() override;

  virtual bool Start();
  bool Stop(bool restarting);
  bool Restart();

  // Scripts to their engine's context, element files to the manager; false at the first failure.
  bool LoadFiles(bool secondList);
  void FreeFiles();
  // True when an archive is mounted (opening the archive path when none is yet) or the resource has a
  // directory.
  bool MountArchive();
  void UnmountArchive();

  // A new stream for the caller, or null. Paths holding ".." are refused; "/"-rooted paths go to the
  // engine file system (never for writing); others to the archive, then the directory.
  Stream* OpenFile(std::u16string_view path, bool write);
  // Null for a resource with an archive, a "/"-rooted path or one holding "..".
  Stream* CreateFile(std::u16string_view path);
  bool FileExists(std::u16string_view path, bool files, bool directories);

  CResourceMgr* GetManager() const { return m_pManager; }
  const std::u16string& GetName() const { return m_Name; }
  bool IsPrivileged() const { return m_bPrivileged; }
  void SetPrivileged(bool privileged) { m_bPrivileged = privileged; }
  bool IsStarting() const { return m_bStarting; }
  bool IsRunning() const { return m_bRunning; }
  CScriptContext* GetContext(std::size_t engine) const { return engine < kEngineCount ? m_pContexts[engine] : nullptr; }
  CArgumentMap& GetExports() { return m_Exports; }

  // What the owner fills (no loader in the program does).
  void AddDependency(CResource* resource);
  void ClearDependencies();
  void AddFile(bool secondList, std::uint32_t type, std::u16string_view name, std::vector<std::uint8_t> data);
  void SetDirectoryPath(std::u16string_view path) { m_DirectoryPath = path; }
  void SetArchivePath(std::u16string_view path) { m_ArchivePath = path; }
  // Takes ownership of the paged loader whose named slots reads look in after the archive (null: none).
  void SetLoader(CAsyncFileLoader* loader);

 protected:
  // The stream of the loader's slot named path; null without a loader or such a slot.
  Stream* OpenLoaderSlot(std::u16string_view path);
  bool HasLoaderSlot(std::u16string_view path);
  // Runs the stop; force carries on when a handler prevents it (after a failed start).
  bool StopRunning(bool restarting, bool force);
  void ReleaseContexts();
  // The path joined to the directory; empty when the resource has none.
  std::u16string InDirectory(std::u16string_view path) const;

  CResourceMgr* m_pManager;  // not counted: the manager outlives its resources
  std::u16string m_Name;
  CScriptContext* m_pContexts[kEngineCount] = {};
  std::vector<Strong<CResource>> m_Dependencies;
  std::vector<FileRecord> m_Files[2];
  bool m_bStarting = false;
  bool m_bPrivileged = false;
  bool m_bRunning = false;
  bool m_bStopping = false;  // the stop handlers run
  std::u16string m_DirectoryPath;
  std::u16string m_ArchivePath;
  // Guards the loader pointer: the loader's own worker thread may be at work on its slots.
  CRITICAL_SECTION m_LoaderLock;
  std::unique_ptr<CAsyncFileLoader> m_pLoader;
  CTARArchive* m_pArchive = nullptr;  // owned
  CArgumentMap m_Exports;
};

}  // namespace Vexil3D
