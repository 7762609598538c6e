#pragma once
// The client's server resources: one CClientResource per resource the server announced (its files in the cache
// under "/UserData/Caches/<name>/", its client scripts, and while it runs one CClientResourceScriptEnvironment),
// the table of them that acts on messages 9 (the list), 10 (start, stop, restart) and 11 (script events), and
// the resource environment whose scripts reach only their own cache folder.
//
// Console lines: "CREATE: Creating resource %s...\n", "START: ..." and "STOP: ..." as each step says, and
// "Resource %s downloading count: %d\n" after each resource of a list.
// Errors: everything a server or a script does ends as a console line, a false result or a script error; no path
// reaches the file system beyond its limits (whose errors would be fatal) and nothing prompts.
// Ownership: the table owns its records (destroyed with it or by DestroyResources); a record owns its
// environment and its script list. A download job refers to its record; the connection cancels and joins its
// loader before any record goes.
// Locking: all of it runs on the game's main thread, but for the record's lock (recursive), which guards the
// environment pointer and the pending count (the loading thread reads IsRunning). ReadFileList and Stop hold it
// throughout, the scripts that they start or stop included; meanwhile the game thread may take the loader's, the
// server info's or a file's lock, one at a time, inside it. That is the only nesting of the client's locks, and
// its order is fixed: a resource's lock first. The loading thread takes a resource's lock holding no other, and
// the game thread never waits for a loading thread while it holds one, so the order cannot deadlock.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <scripthost/ScriptEnvironment.h>

#include <multiplayer/Downloads.h>
#include <multiplayer/QVNetClient.h>

class CClientResource;
class CClientScripting;

// Text that travels one byte per character, widened unit by unit (0x80 to 0xFF stay themselves).
std::u16string WidenBytes(std::string_view bytes);

// The table's key of a resource name: the case-folded name hash over the name's bytes; "" gives 0.
std::uint32_t HashResourceName(std::u16string_view name);

// A script environment for one resource's scripts, with the natives' table under "Multiplayer" in its root.
class CClientResourceScriptEnvironment : public CScriptEnvironment {
 public:
  // The path buffers of the file system, in characters with the terminator.
  static constexpr std::size_t kMaxPath = 260;

  CClientResourceScriptEnvironment(CScriptHost* host, CClientResource* resource, const CScriptObjectRef& natives);

  // Opens a path only when it lies inside "/UserData/Caches/<own resource>/" (IsInsideCacheFolder) and the base
  // can hold it on the host; without prompting; one reference for the caller, or null.
  CStream* OpenFile(const char16_t* path, bool readable, bool writable, bool createIfMissing) override;
  // Compiles and runs the cached script "/UserData/Caches/<resource>/<file>" with the root table as this. True once
  // it compiled and was called, even when it raised at its top level (the host reports that error as every script
  // error); false when the path is too long (with a console line), the file does not open or does not compile.
  bool LoadScript(const std::u16string& fileName);

  CClientResource* GetResource() const { return m_pResource; }

 private:
  CClientResource* m_pResource;
};

// Whether path names something inside the cache folder of the resource: "/UserData/Caches/" + resource + "/"
// (case-sensitive) followed by one or more components that are not empty, ".", "..", hold no "\", ":" or control
// character, name nothing special to the Win32 file systems (IsSpecialHostName), keep within the file system's
// component length, the whole within its path length.
bool IsInsideCacheFolder(std::u16string_view resource, std::u16string_view path);

class CClientResources;

class CClientResource : public CClientResourceBase {
 public:
  struct tScript {
    bool m_Pending;  // the file is still downloading
    std::u16string m_FileName;
  };

  CClientResource(CClientResources* table, std::u16string name);
  // Deletes the environment (firing nothing) and the script list.
  ~CClientResource() override;

  const std::u16string& GetName() const override { return m_Name; }
  // Whether the environment is present (under the lock).
  bool IsRunning() override;
  // A finished file: OnFileDownload to this resource's environment when ok and running; the pending count falls
  // and OnResourceReady goes to every environment when it reaches 0.
  void OnFileDelivered(const std::u16string& fileName, bool ok) override;
  // A finished script: its pending entry is done; loaded when ok and running, dropped from the list when not ok
  // (it never arrived); then as OnFileDelivered. A script that does not load (does not compile, or its path does
  // not open) fails the resource as at a start: "START: Resource %s failed to load!\n" and a forced stop.
  void OnScriptDelivered(const std::u16string& fileName, bool ok) override;

  // Message 9: a resource list's records, created in the table when new, each with ReadFileList.
  static void CreateFromList(CClientResources* table, const ResourceListMessage& list);
  // One resource's part of message 9: a running resource is stopped (restarting as the list says), the script
  // list is replaced by the list's scripts, files not cached are queued, and a resource listed as running starts
  // (OnResourceReady when nothing is pending).
  void ReadFileList(const ResourceRecord& record);
  // True when the resource runs afterwards by this call.
  bool Start();
  // True when stopped by this call; a handler that prevents OnResourceStop keeps it running. The script list
  // stays: files belong to the record whatever its state.
  bool Stop(bool restarting);

  std::uint32_t GetNameHash() const { return m_NameHash; }
  std::uint32_t GetPendingCount();
  // The environment while running, else null (game thread).
  CClientResourceScriptEnvironment* GetEnvironment() const { return m_pEnvironment; }
  const std::vector<tScript>& GetScripts() const { return m_Scripts; }

 private:
  // Stop's work; a forced stop (after a failed start) ends the environment even when a handler prevents it.
  bool StopResource(bool restarting, bool force);
  // The pending count falls; OnResourceReady at 0.
  void FinishPending();
  std::string PrintableName() const;

  CClientResources* m_pTable;
  std::u16string m_Name;
  std::uint32_t m_NameHash;
  CClientResourceScriptEnvironment* m_pEnvironment = nullptr;  // owned; under the lock
  std::uint32_t m_Pending = 0;                                 // under the lock
  std::vector<tScript> m_Scripts;
};

// The client's table of resources: 64 buckets by HashResourceName (keys compared whole) and the records in
// order of creation. Each bucket is ordered by key: the server chooses the names, and with them the bucket each
// falls in, so a lookup costs the logarithm of the records held, never their number.
class CClientResources : public CClientResourceTable {
 public:
  static constexpr std::uint32_t kBucketCount = 64;

  CClientResources(CMultiplayerState* state, CQVNetClient* client);
  ~CClientResources() override;

  // Merges repeated listings (a later listing of a record's key, or of a file of one record with letter case
  // folded, replaces the earlier one in its place), refuses a list that would make the table hold
  // kMaxResourcesHeld records or more (a console line, nothing changed), else cancels the connection's downloads
  // and resets its byte counts, then CreateFromList. It does not wait for the loading thread to end a cancelled
  // transfer (a stalled one notices at its next progress call, up to a second later): a server that stalls a file
  // and lists every frame would hold every frame that long. A cancelled job delivers nothing, and the one loading
  // thread ends it before it takes the next job.
  void OnResourceList(const ResourceListMessage& list) override;
  // Stop: stop when running; start: start when stopped; restart: stop when running, then start. The work is the
  // record's script count when a start was made.
  std::uint32_t OnResourceState(const ResourceStateMessage& state) override;
  void OnScriptEvent(const ScriptEventMessage& event) override;
  void DestroyResources() override;

  CClientResource* FindClientResource(std::uint32_t key) const;
  // The record of that name, made (appended, entered in its bucket) when there is none.
  CClientResource* FindOrCreate(const std::u16string& name);
  // Whether the pointer is a record of this table (what scripts hand back is checked with this).
  bool Contains(const void* record) const;
  const std::vector<CClientResource*>& GetResources() const { return m_Ordered; }

  CMultiplayerState* GetState() const { return m_pState; }
  CQVNetClient* GetClient() const { return m_pClient; }
  // The module's script side, or null.
  CClientScripting* GetScripting() const;
  // The table whose records scripts may name (the newest live one), or null.
  static CClientResources* GetCurrent();

 private:
  CMultiplayerState* m_pState;
  CQVNetClient* m_pClient;
  std::map<std::uint32_t, CClientResource*> m_Buckets[kBucketCount];
  std::vector<CClientResource*> m_Ordered;  // owned
};
