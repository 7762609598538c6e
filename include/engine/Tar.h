#pragma once
// Read-only TAR (ustar) archives as file managers. Paths inside an archive are case-sensitive.
//
// Where the reading departs from the plain ustar rule, and why:
// - a ustar prefix is joined to the name with "/" ("dir" + "file.txt" is "dir/file.txt"), since writers
//   split a long path at a "/" and drop that slash; joining them bare would name a file no one stored;
// - empty and "." components ("a//b", "./a") name no directory of their own, and a file-typed entry whose
//   name ends in "/" or in a "." component ("dir/", "dir/.") is its directory, not a file;
// - a file that lies below a file, or a second entry of a name already in the tree, is logged
//   ("TAR: ... lies below the file ...", "... is already in the archive ...") and ignored, the first
//   entry kept: an archive is data from a server, so its faults are warnings, never assertions;
// - octal fields skip leading blanks before their digits (as older writers pad them), then stop at the
//   first character that is no octal digit; a field of blanks or NULs reads 0.
// Errors: a header whose checksum fails empties the archive (false); an entry cut off by the end of the
// stream keeps what there is and ends the reading, with a warning. Locking: none (the game's main thread).
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <engine/FileSystem.h>

namespace Vexil3D {

class Stream;

class CTARArchive : public CVirtualFileMgr {
 public:
  static constexpr std::size_t kNameCapacity = 256;

  // One kept header.
  struct Record {
    char16_t m_Name[kNameCapacity];  // zero-terminated
    char16_t m_Type;                 // '0' file (NUL too; named "x/" or "x/.": a directory), '5' directory
    char16_t m_Padding[3];
    std::uint64_t m_uOffset;  // of the data in the archive stream
    std::uint64_t m_uSize;
    std::uint64_t m_uModified;  // seconds since 1970
  };
  static_assert(sizeof(Record) == 544, "archive records keep their size");

  CTARArchive();
  ~CTARArchive() override;
  CTARArchive(const CTARArchive&) = delete;
  CTARArchive& operator=(const CTARArchive&) = delete;

  // Reads the archive's headers (adding a reference to the stream). False, and an empty archive, when a
  // header's checksum is wrong.
  bool Open(Stream* stream);

  Stream* Open(const char16_t* path, bool write) override;
  Stream* Create(const char16_t* path) override;
  bool Exists(const char16_t* path, bool acceptFile, bool acceptDirectory) override;
  bool Enumerate(const char16_t* path, EnumerateCallback callback, void* context) override;

  std::size_t GetRecordCount() const { return m_Records.size(); }
  const Record& GetRecord(std::size_t index) const { return m_Records[index]; }

 private:
  struct Node {
    bool m_bDirectory = false;
    std::u16string m_Name;
    std::uint32_t m_uRecord = 0;                                     // files
    std::unordered_map<std::uint32_t, std::unique_ptr<Node>> m_Children;  // directories
    bool m_bCaseSensitive = true;
  };

  void Clear();
  void BuildTree();
  std::uint32_t HashOf(const Node& directory, std::u16string_view name) const;
  // The node that the path names, or null.
  const Node* Find(const char16_t* path) const;

  Stream* m_pStream = nullptr;
  std::vector<Record> m_Records;
  Node m_Root;
};

}  // namespace Vexil3D
