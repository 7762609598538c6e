// The file system's lookup order written out call by call, and TAR archives whose header bytes are
// laid out here field by field (offsets, octal forms, checksum rules, end blocks, entry kinds).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/FileSystem.h>
#include <engine/Stream.h>
#include <engine/Tar.h>
#include <platform/testing/ScriptedDialogs.h>

using namespace Vexil3D;

namespace {

// ---------------------------------------------------------------------------------------------
// Lookup order

// Records every call as "<tag>:<op>:<path>" into a shared journal; answers for the paths it holds.
class JournalManager : public CVirtualFileMgr {
 public:
  JournalManager(std::string tag, std::vector<std::u16string> files, std::vector<std::string>* journal)
      : m_Tag(std::move(tag)), m_Files(std::move(files)), m_pJournal(journal) {}

  Stream* Open(const char16_t* path, bool) override {
    Note("open", path);
    return Has(path) ? new CMemoryStream(m_Tag.data(), static_cast<std::uint32_t>(m_Tag.size())) : nullptr;
  }
  Stream* Create(const char16_t* path) override {
    Note("create", path);
    return Has(path) ? new CMemoryStream(m_Tag.data(), static_cast<std::uint32_t>(m_Tag.size())) : nullptr;
  }
  bool Exists(const char16_t* path, bool acceptFile, bool) override {
    Note("exists", path);
    return acceptFile && Has(path);
  }

 private:
  bool Has(const char16_t* path) const {
    for (const auto& f : m_Files)
      if (f == path) return true;
    return false;
  }
  void Note(const char* op, const char16_t* path) {
    std::string narrow;
    for (const char16_t* p = path; *p; ++p) narrow += static_cast<char>(*p);
    m_pJournal->push_back(m_Tag + ":" + op + ":" + narrow);
  }

  std::string m_Tag;
  std::vector<std::u16string> m_Files;
  std::vector<std::string>* m_pJournal;
};

std::string Tag(Stream* stream) {
  if (stream == nullptr) return "<none>";
  char text[16] = {};
  stream->Read(text, sizeof(text) - 1);
  stream->Release();
  return text;
}

using Journal = std::vector<std::string>;

TEST(CrossCheckLookup, NamedMountsByFirstComponentThenRootsInMountOrder) {
  Journal journal;
  CFileSystem fs;
  fs.Mount(u"/", new JournalManager("root1", {}, &journal));
  fs.Mount(u"/", new JournalManager("root2", {u"/data/x.txt"}, &journal));
  fs.Mount(u"/data", new JournalManager("named1", {}, &journal));
  fs.Mount(u"/data", new JournalManager("named2", {}, &journal));

  EXPECT_EQ(Tag(fs.Open(u"/data/x.txt", false)), "root2");
  EXPECT_EQ(journal, (Journal{"named1:open:/x.txt", "named2:open:/x.txt", "root1:open:/data/x.txt",
                              "root2:open:/data/x.txt"}));

  // Without its leading "/" the path reaches the named mounts the same way and the roots with one.
  journal.clear();
  EXPECT_EQ(Tag(fs.Open(u"data/x.txt", false)), "root2");
  EXPECT_EQ(journal, (Journal{"named1:open:/x.txt", "named2:open:/x.txt", "root1:open:/data/x.txt",
                              "root2:open:/data/x.txt"}));

  // The component alone gives the named mounts the empty rest.
  journal.clear();
  EXPECT_FALSE(fs.Exists(u"/data", true, true));
  EXPECT_EQ(journal, (Journal{"named1:exists:", "named2:exists:", "root1:exists:/data", "root2:exists:/data"}));

  // The component's hash is taken without case folding: "/DATA" is not the named mount.
  journal.clear();
  EXPECT_EQ(fs.Create(u"/DATA/y"), nullptr);
  EXPECT_EQ(journal, (Journal{"root1:create:/DATA/y", "root2:create:/DATA/y"}));

  // A longer first component that merely begins with the name is another name.
  journal.clear();
  EXPECT_EQ(fs.Open(u"/database/x.txt", false), nullptr);
  EXPECT_EQ(journal, (Journal{"root1:open:/database/x.txt", "root2:open:/database/x.txt"}));
}

TEST(CrossCheckLookup, FirstAnswerWinsAndAStopFlagEndsTheSearch) {
  Journal journal;
  CFileSystem fs;
  fs.Mount(u"/", new JournalManager("root", {u"/pak/a", u"/pak/b", u"/pak/c"}, &journal));
  fs.Mount(u"/pak", new JournalManager("first", {u"/a"}, &journal));
  fs.Mount(u"/pak", new JournalManager("stopper", {u"/b"}, &journal), true);
  fs.Mount(u"/pak", new JournalManager("after", {u"/c"}, &journal));

  EXPECT_EQ(Tag(fs.Open(u"/pak/a", false)), "first");
  EXPECT_EQ(journal, (Journal{"first:open:/a"}));

  journal.clear();
  EXPECT_EQ(Tag(fs.Open(u"/pak/b", false)), "stopper");
  EXPECT_EQ(journal, (Journal{"first:open:/b", "stopper:open:/b"}));

  // The stopping mount does not answer: neither the mount after it nor the roots are asked.
  journal.clear();
  EXPECT_EQ(fs.Open(u"/pak/c", false), nullptr);
  EXPECT_EQ(journal, (Journal{"first:open:/c", "stopper:open:/c"}));
  journal.clear();
  EXPECT_FALSE(fs.Exists(u"/pak/c", true, false));
  EXPECT_EQ(journal, (Journal{"first:exists:/c", "stopper:exists:/c"}));

  // Unmounting the name removes its first manager only; the stop still holds for the rest.
  ASSERT_TRUE(fs.Unmount(u"/pak"));
  journal.clear();
  EXPECT_EQ(fs.Open(u"/pak/a", false), nullptr);
  EXPECT_EQ(journal, (Journal{"stopper:open:/a"}));
}

// ---------------------------------------------------------------------------------------------
// TAR headers laid out by hand

struct TarEntry {
  TarEntry(std::string entryName, std::string entryData) : name(std::move(entryName)), data(std::move(entryData)) {}

  std::string name;
  std::string data;
  char type = '0';
  std::string prefix;
  std::string magic = std::string("ustar\0" "00", 8);
  std::string sizeField;      // 12 bytes at 124 when not empty
  std::string mtimeField;     // 12 bytes at 136 when not empty
  std::string checksumForm = "%06o";  // followed by NUL and blank unless it says otherwise
  bool checksumSigned = false;
  bool checksumTrailer = true;
  int checksumDelta = 0;
};

void Put(std::string& block, std::size_t at, const std::string& value) { block.replace(at, value.size(), value); }

std::string Header(const TarEntry& e) {
  std::string block(512, '\0');
  Put(block, 0, e.name.substr(0, 100));
  Put(block, 100, std::string("0000644\0", 8));
  char field[32];
  std::snprintf(field, sizeof(field), "%011o", static_cast<unsigned>(e.data.size()));
  Put(block, 124, e.sizeField.empty() ? std::string(field, 12) : e.sizeField);
  Put(block, 136, e.mtimeField.empty() ? std::string("14501234567\0", 12) : e.mtimeField);
  block[156] = e.type;
  Put(block, 257, e.magic);
  Put(block, 345, e.prefix.substr(0, 155));
  Put(block, 148, "        ");
  long sum = 0;
  for (unsigned char c : block) sum += e.checksumSigned ? static_cast<signed char>(c) : c;
  sum += e.checksumDelta;
  std::snprintf(field, sizeof(field), e.checksumForm.c_str(), static_cast<unsigned>(sum));
  std::string checksum(field);
  if (e.checksumTrailer) checksum += std::string("\0 ", 2);
  checksum.resize(8, '\0');
  Put(block, 148, checksum);
  return block;
}

std::string Archive(const std::vector<TarEntry>& entries, int endBlocks = 2) {
  std::string out;
  for (const TarEntry& e : entries) {
    out += Header(e);
    out += e.data;
    out.append((512 - e.data.size() % 512) % 512, '\0');
  }
  out.append(static_cast<std::size_t>(endBlocks) * 512, '\0');
  return out;
}

class CrossCheckTar : public testing::Test {
 protected:
  bool Load(const std::vector<TarEntry>& entries, int endBlocks = 2, const std::string& after = std::string()) {
    m_Bytes = Archive(entries, endBlocks) + after;
    auto* stream = new CMemoryStream(m_Bytes.data(), static_cast<std::uint32_t>(m_Bytes.size()));
    const bool ok = m_Archive.Open(stream);
    stream->Release();
    return ok;
  }
  std::string Contents(const char16_t* path) {
    Stream* s = m_Archive.Open(path, false);
    if (s == nullptr) return "<none>";
    std::string out(static_cast<std::size_t>(s->GetLength()), '\0');
    out.resize(s->Read(out.data(), static_cast<std::uint32_t>(out.size())));
    s->Release();
    return out;
  }

  platform::testing::ScriptedDialogs m_Dialogs;  // any dialog would be recorded here
  std::string m_Bytes;
  CTARArchive m_Archive;
};

TEST_F(CrossCheckTar, UstarPrefixAndNameAreJoinedWithASlash) {
  TarEntry e{"file.txt", "joined"};
  e.prefix = "dir/sub";
  ASSERT_TRUE(Load({e}));
  ASSERT_EQ(m_Archive.GetRecordCount(), 1u);
  EXPECT_EQ(std::u16string(m_Archive.GetRecord(0).m_Name), u"dir/sub/file.txt");
  EXPECT_EQ(Contents(u"/dir/sub/file.txt"), "joined");
  EXPECT_TRUE(m_Archive.Exists(u"/dir/sub", false, true));
  EXPECT_FALSE(m_Archive.Exists(u"/dir/sub", true, false));
  EXPECT_EQ(Contents(u"/dirfile.txt"), "<none>");
}

TEST_F(CrossCheckTar, OldGnuMagicAlsoBeginsWithUstar) {
  TarEntry e{"n", "g"};
  e.magic = std::string("ustar  \0", 8);
  e.prefix = "p";
  ASSERT_TRUE(Load({e}));
  EXPECT_EQ(Contents(u"/p/n"), "g");
}

TEST_F(CrossCheckTar, WithoutTheMagicThePrefixBytesAreIgnored) {
  TarEntry e{"n", "v7"};
  e.magic = std::string(8, '\0');
  e.prefix = "ignored";
  ASSERT_TRUE(Load({e}));
  EXPECT_EQ(Contents(u"/n"), "v7");
}

TEST_F(CrossCheckTar, ChecksumFieldForms) {
  // Six digits, NUL, blank (the usual form); seven digits and NUL; leading blanks; signed sums.
  TarEntry usual{"a", "1"};
  TarEntry seven{"b", "2"};
  seven.checksumForm = "%07o";
  seven.checksumTrailer = false;
  TarEntry blanks{"c", "3"};
  blanks.checksumForm = "  %05o";
  blanks.checksumTrailer = false;
  TarEntry high{"d\xC3\xA9", "4"};  // bytes above 0x7F make the signed and unsigned sums differ
  high.checksumSigned = true;
  ASSERT_TRUE(Load({usual, seven, blanks, high}));
  EXPECT_EQ(Contents(u"/a") + Contents(u"/b") + Contents(u"/c") + Contents(u"/d\u00E9"), "1234");
}

TEST_F(CrossCheckTar, AWrongChecksumAnywhereEmptiesTheWholeArchive) {
  TarEntry good{"good", "g"};
  TarEntry bad{"bad", "b"};
  bad.checksumDelta = 1;
  EXPECT_FALSE(Load({good, bad}));
  EXPECT_EQ(m_Archive.GetRecordCount(), 0u);
  EXPECT_FALSE(m_Archive.Exists(u"/good", true, true));
  EXPECT_EQ(m_Dialogs.DialogCount(), 0u);
}

TEST_F(CrossCheckTar, OctalFieldsWithLeadingBlanksAndTheModificationTime) {
  TarEntry e{"t", std::string(1234, 'z')};
  e.sizeField = std::string("       2322\0", 12);  // 1234 in octal behind blanks
  e.mtimeField = std::string("  1450123456", 12);  // no terminator at all
  ASSERT_TRUE(Load({e}));
  ASSERT_EQ(m_Archive.GetRecordCount(), 1u);
  EXPECT_EQ(m_Archive.GetRecord(0).m_uSize, 1234u);
  EXPECT_EQ(m_Archive.GetRecord(0).m_uModified, 01450123456u);
  EXPECT_EQ(m_Archive.GetRecord(0).m_uOffset, 512u);
  EXPECT_EQ(Contents(u"/t"), std::string(1234, 'z'));
}

TEST_F(CrossCheckTar, OneEndBlockOrNoneStillEndsTheArchiveAndNothingAfterTheEndIsRead) {
  ASSERT_TRUE(Load({{"one", "1"}}, 0));
  EXPECT_EQ(Contents(u"/one"), "1");
  // A header after the first zero block belongs to no archive.
  ASSERT_TRUE(Load({{"two", "2"}}, 1, Header(TarEntry{"late", ""})));
  EXPECT_EQ(Contents(u"/two"), "2");
  EXPECT_FALSE(m_Archive.Exists(u"/late", true, true));
  EXPECT_EQ(m_Archive.GetRecordCount(), 1u);
}

TEST_F(CrossCheckTar, OtherEntryKindsAreSkippedWithTheirPaddedData) {
  TarEntry longName{"././@LongLink", std::string(600, 'L')};  // two data blocks to step over
  longName.type = 'L';
  TarEntry link{"sym", ""};
  link.type = '2';
  TarEntry hard{"hard", ""};
  hard.type = '1';
  TarEntry pax{"pax", std::string(30, 'x')};
  pax.type = 'x';
  TarEntry oldStyle{"old", "nul type"};
  oldStyle.type = '\0';
  ASSERT_TRUE(Load({longName, link, hard, pax, oldStyle, {"last", "end"}}));
  EXPECT_EQ(m_Archive.GetRecordCount(), 2u);
  EXPECT_EQ(Contents(u"/old"), "nul type");
  EXPECT_EQ(Contents(u"/last"), "end");
  EXPECT_FALSE(m_Archive.Exists(u"/sym", true, true));
  EXPECT_FALSE(m_Archive.Exists(u"/hard", true, true));
}

TEST_F(CrossCheckTar, DirectoryTree) {
  TarEntry emptyDir{"empty/", ""};
  emptyDir.type = '5';
  ASSERT_TRUE(Load({emptyDir, {"a/b/c.txt", "c"}, {"a/d.txt", "d"}}));
  // A directory record alone makes no node; directories come from the files below them.
  EXPECT_EQ(m_Archive.GetRecordCount(), 3u);
  EXPECT_FALSE(m_Archive.Exists(u"/empty", true, true));
  EXPECT_TRUE(m_Archive.Exists(u"/a/b", false, true));
  EXPECT_TRUE(m_Archive.Exists(u"a/b/c.txt", true, false));
  EXPECT_FALSE(m_Archive.Exists(u"/a/b/c.txt", false, true));
  EXPECT_EQ(m_Archive.Open(u"/a/b", false), nullptr);
  EXPECT_EQ(m_Archive.Open(u"/a/d.txt", true), nullptr);
  EXPECT_EQ(m_Archive.Create(u"/a/new.txt"), nullptr);
  EXPECT_EQ(Contents(u"/A/d.txt"), "<none>");
  // Only directories are descended into.
  EXPECT_FALSE(m_Archive.Exists(u"/a/d.txt/x", true, true));
}

TEST_F(CrossCheckTar, ClashesKeepTheFirstEntryWithoutADialog) {
  ASSERT_TRUE(Load({{"x.txt", "first"}, {"x.txt", "second"}, {"f", "file"}, {"f/under", "u"}, {"d/in", "i"},
                    {"d", "late file"}}));
  EXPECT_EQ(Contents(u"/x.txt"), "first");
  EXPECT_EQ(Contents(u"/f"), "file");
  EXPECT_FALSE(m_Archive.Exists(u"/f/under", true, true));
  EXPECT_TRUE(m_Archive.Exists(u"/d", false, true));
  EXPECT_EQ(Contents(u"/d/in"), "i");
  EXPECT_EQ(m_Dialogs.DialogCount(), 0u);
}

}  // namespace
