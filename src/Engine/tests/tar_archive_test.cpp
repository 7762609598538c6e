// TAR archives built in memory: names, checksums, truncation, entry kinds, duplicates, hostile sizes.
#include <engine/Context.h>
#include <engine/FileSystem.h>
#include <engine/Stream.h>
#include <engine/Tar.h>

#include <platform/testing/ScriptedDialogs.h>
#include <platform/text.h>

#include <gtest/gtest.h>

#include "ChunkFixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Vexil3D::CMemoryStream;
using Vexil3D::CTARArchive;
using Vexil3D::Stream;

struct Entry {
  Entry(std::string entryName, std::string entryData) : name(std::move(entryName)), data(std::move(entryData)) {}

  std::string name;
  std::string data;
  char type = '0';
  std::string prefix;
  bool ustar = true;
  bool signedChecksum = false;
  bool badChecksum = false;
  std::string sizeField;   // replaces the octal size when not empty
  std::string mtimeField;  // replaces the octal time when not empty
  std::string magic;       // replaces the ustar magic and version when not empty
  std::string checksumField;  // "%06o" and NUL, blank unless replaced (a printf form for the sum)
};

void PutField(std::string& block, std::size_t offset, std::size_t width, const std::string& value) {
  std::memcpy(&block[offset], value.data(), std::min(width, value.size()));
}

std::string Octal(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof(text), "%0*llo", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Header(const Entry& e) {
  std::string block(512, '\0');
  PutField(block, 0, 100, e.name);
  PutField(block, 100, 8, "0000644");
  PutField(block, 108, 8, "0001750");
  PutField(block, 116, 8, "0001750");
  PutField(block, 124, 12, e.sizeField.empty() ? Octal(e.data.size(), 11) : e.sizeField);
  PutField(block, 136, 12, e.mtimeField.empty() ? Octal(1700000000, 11) : e.mtimeField);
  block[156] = e.type;
  if (!e.magic.empty()) {
    PutField(block, 257, 8, e.magic);
  } else if (e.ustar) {
    PutField(block, 257, 6, std::string("ustar\0", 6));
    PutField(block, 263, 2, "00");
  }
  PutField(block, 345, 155, e.prefix);
  long sum = 0;
  for (std::size_t i = 0; i < 512; ++i) {
    const unsigned char byte = (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
    sum += e.signedChecksum ? static_cast<signed char>(byte) : byte;
  }
  if (e.badChecksum) sum += 1;
  if (e.checksumField.empty()) {
    PutField(block, 148, 8, Octal(static_cast<std::uint64_t>(sum), 6) + std::string("\0 ", 2));
  } else {
    char field[16];
    std::snprintf(field, sizeof(field), e.checksumField.c_str(), static_cast<unsigned>(sum));
    PutField(block, 148, 8, std::string(field) + std::string(8, '\0'));
  }
  return block;
}

std::string Build(const std::vector<Entry>& entries, int endBlocks = 2) {
  std::string tar;
  for (const Entry& e : entries) {
    tar += Header(e);
    tar += e.data;
    tar.append((512 - e.data.size() % 512) % 512, '\0');
  }
  tar.append(static_cast<std::size_t>(endBlocks) * 512, '\0');
  return tar;
}

// Keeps the archive bytes alive for as long as the archive reads them.
struct Archive {
  std::string bytes;
  CMemoryStream* stream = nullptr;
  CTARArchive archive;
  bool opened = false;

  explicit Archive(std::string data) : bytes(std::move(data)) {
    stream = new CMemoryStream(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    opened = archive.Open(stream);
  }
  ~Archive() { stream->Release(); }

  std::string Read(const char16_t* path) { return enginetest::ReadAll(archive.Open(path, false)); }
};

bool Collect(const Vexil3D::EnumerateEntry& entry, void* context) {
  auto* names = static_cast<std::set<std::u16string>*>(context);
  names->insert(std::u16string(entry.m_pName) + (entry.m_bDirectory ? u"/" : u""));
  return true;
}

// Warnings of the archive reach the log of the current context; no dialog may appear.
class TarArchiveTest : public ::testing::Test {
 protected:
  platform::testing::ScriptedDialogs dialogs;
};

TEST_F(TarArchiveTest, ReadsFilesAndTheirData) {
  Archive a(Build({{"readme.txt", "hello"}, {"dir/a.bin", std::string(700, 'x')}, {"dir/sub/b.txt", "bee"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 3u);
  EXPECT_EQ(a.Read(u"/readme.txt"), "hello");
  EXPECT_EQ(a.Read(u"readme.txt"), "hello");
  EXPECT_EQ(a.Read(u"/dir/a.bin"), std::string(700, 'x'));
  EXPECT_EQ(a.Read(u"/dir/sub/b.txt"), "bee");
  EXPECT_EQ(a.archive.GetRecord(0).m_uModified, 1700000000u);
  EXPECT_EQ(a.archive.GetRecord(1).m_uSize, 700u);
  // Paths are case-sensitive.
  Archive cased(Build({{"Dir/File.txt", "x"}}));
  EXPECT_EQ(cased.Read(u"/Dir/File.txt") + cased.Read(u"/dir/file.txt"), "x<null>");
}

// The ustar prefix is joined with a slash, ignored without the magic; old GNU magic also begins with
// "ustar"; checksums of seven digits without a trailer, behind blanks, and over signed bytes are all
// accepted; a long name is cut at 256 units.
TEST_F(TarArchiveTest, HeaderFieldForms) {
  auto with = [](Entry e, auto change) {
    change(e);
    return e;
  };
  Archive a(Build({with(Entry{"file.txt", "data"}, [](Entry& e) { e.prefix = "dir"; }),
                   with(Entry{"file.txt", "plain"},
                        [](Entry& e) {
                          e.prefix = "dir";
                          e.ustar = false;
                        }),
                   with(Entry{"n", "g"},
                        [](Entry& e) {
                          e.magic = std::string("ustar  \0", 8);
                          e.prefix = "p";
                        }),
                   with(Entry{"b", "2"}, [](Entry& e) { e.checksumField = "%07o"; }),
                   with(Entry{"c", "3"}, [](Entry& e) { e.checksumField = "  %05o"; }),
                   with(Entry{"caf\xC3\xA9.txt", "signed"}, [](Entry& e) { e.signedChecksum = true; }),
                   with(Entry{std::string(100, 'n'), "z"}, [](Entry& e) { e.prefix = std::string(155, 'p'); })}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(std::u16string(a.archive.GetRecord(0).m_Name), u"dir/file.txt");
  EXPECT_EQ(std::u16string(a.archive.GetRecord(1).m_Name), u"file.txt");
  EXPECT_EQ(a.Read(u"/dir/file.txt") + a.Read(u"/dirfile.txt") + a.Read(u"/file.txt"), "data<null>plain");
  EXPECT_EQ(a.Read(u"/p/n") + a.Read(u"/b") + a.Read(u"/c") + a.Read(u"/caf\u00e9.txt"), "g23signed");
  EXPECT_EQ(std::u16string(a.archive.GetRecord(6).m_Name).size(), 255u);
}

TEST_F(TarArchiveTest, BadChecksumFailsAndLeavesTheArchiveEmpty) {
  Entry bad{"b.txt", "b"};
  bad.badChecksum = true;
  Archive a(Build({{"a.txt", "a"}, bad}));
  EXPECT_FALSE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 0u);
  EXPECT_EQ(a.Read(u"/a.txt"), "<null>");
  EXPECT_FALSE(a.archive.Exists(u"/a.txt", true, true));
  // The archive let go of the stream.
  EXPECT_EQ(a.stream->GetRefCount(), 1);
}

TEST_F(TarArchiveTest, MissingEndBlocksKeepTheEntriesRead) {
  for (int endBlocks : {0, 1}) {
    Archive a(Build({{"a.txt", "first"}, {"b.txt", "second"}}, endBlocks));
    ASSERT_TRUE(a.opened) << endBlocks;
    EXPECT_EQ(a.Read(u"/a.txt"), "first");
    EXPECT_EQ(a.Read(u"/b.txt"), "second");
  }
  // A header after the first zero block belongs to no archive.
  Archive late(Build({{"two", "2"}}, 1) + Header(Entry{"late", ""}));
  ASSERT_TRUE(late.opened);
  EXPECT_EQ(late.archive.GetRecordCount(), 1u);
  EXPECT_FALSE(late.archive.Exists(u"/late", true, true));
}

TEST_F(TarArchiveTest, CutOffInsideAHeaderKeepsEarlierEntries) {
  std::string bytes = Build({{"a.txt", "first"}, {"b.txt", "second"}}, 0);
  bytes.resize(1024 + 100);  // the second header is incomplete
  Archive a(bytes);
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 1u);
  EXPECT_EQ(a.Read(u"/a.txt"), "first");
}

TEST_F(TarArchiveTest, EmptyStreamIsAnEmptyArchive) {
  Archive a("");
  EXPECT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 0u);
  EXPECT_TRUE(a.archive.Exists(u"/", false, true));
}

TEST_F(TarArchiveTest, OtherEntryKindsAreSkippedWithTheirData) {
  Entry link{"link", ""};
  link.type = '2';
  Entry longName{"././@LongLink", std::string(600, 'L')};
  longName.type = 'L';
  Entry pax{"pax", "27 path=whatever/else.txt\n"};
  pax.type = 'x';
  Entry nulType{"old.txt", "nul type"};
  nulType.type = '\0';
  Entry hard{"hard", ""};
  hard.type = '1';
  Archive a(Build({link, longName, {"kept.txt", "kept"}, pax, hard, nulType}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 2u);
  EXPECT_EQ(a.Read(u"/kept.txt"), "kept");
  EXPECT_EQ(a.Read(u"/old.txt"), "nul type");
  EXPECT_EQ(a.archive.GetRecord(1).m_Type, u'0');
  EXPECT_FALSE(a.archive.Exists(u"/link", true, true));
}

TEST_F(TarArchiveTest, DirectoryRecordsAddNoNodeOfTheirOwn) {
  Entry emptyDir{"empty/", ""};
  emptyDir.type = '5';
  Entry fullDir{"full/", ""};
  fullDir.type = '5';
  Archive a(Build({emptyDir, fullDir, {"full/x.txt", "x"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecordCount(), 3u);
  EXPECT_FALSE(a.archive.Exists(u"/empty", true, true));
  EXPECT_TRUE(a.archive.Exists(u"/full", false, true));
  EXPECT_FALSE(a.archive.Exists(u"/full", true, false));
  EXPECT_TRUE(a.archive.Exists(u"/full/x.txt", true, false));
  EXPECT_FALSE(a.archive.Exists(u"/full/x.txt", false, true));
  EXPECT_FALSE(a.archive.Exists(u"/full/missing", true, true));
  // Only directories are descended into.
  EXPECT_FALSE(a.archive.Exists(u"/full/x.txt/y", true, true));
}

TEST_F(TarArchiveTest, OctalFieldsMayHaveLeadingSpaces) {
  Entry e{"spaced.txt", "12345"};
  e.sizeField = "          5";
  e.mtimeField = "   17\0";
  Archive a(Build({e}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.archive.GetRecord(0).m_uSize, 5u);
  EXPECT_EQ(a.archive.GetRecord(0).m_uModified, 017u);
  EXPECT_EQ(a.Read(u"/spaced.txt"), "12345");
}

TEST_F(TarArchiveTest, DuplicatesAndFileDirectoryClashesKeepTheFirstWithoutADialog) {
  Archive a(Build({{"same.txt", "first"}, {"same.txt", "second"}}));
  EXPECT_EQ(a.Read(u"/same.txt"), "first");
  Archive fileFirst(Build({{"a", "file"}, {"a/b.txt", "below"}}));
  ASSERT_TRUE(fileFirst.opened);
  EXPECT_EQ(fileFirst.Read(u"/a"), "file");
  EXPECT_EQ(fileFirst.Read(u"/a/b.txt"), "<null>");

  Archive directoryFirst(Build({{"a/b.txt", "below"}, {"a", "file"}}));
  ASSERT_TRUE(directoryFirst.opened);
  EXPECT_EQ(directoryFirst.Read(u"/a/b.txt"), "below");
  EXPECT_EQ(directoryFirst.Read(u"/a"), "<null>");
  EXPECT_TRUE(directoryFirst.archive.Exists(u"/a", false, true));
  EXPECT_EQ(dialogs.DialogCount(), 0u);
}

TEST_F(TarArchiveTest, WarningsReachTheLog) {
  char buffer[4096] = {};  // outlives the context, which writes its closing banner here
  Vexil3D::Context context;
  context.Initialise();
  auto* log = new CMemoryStream(buffer, sizeof(buffer), CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
  context.GetLogWriter().SetStream(log);
  context.GetLogWriter().SetTimeFormat(u"");
  log->Release();
  Entry cut{"cut.bin", "tiny"};
  cut.sizeField = "00000001000";  // 512 bytes, of which the archive holds 4 and the padding
  std::string bytes = Build({{"same.txt", "first"}, {"same.txt", "second"}, cut}, 0);
  bytes.resize(bytes.size() - 8);
  Archive a(bytes);
  const std::string written(buffer);
  EXPECT_NE(written.find("[WARN]    TAR: \"same.txt\""), std::string::npos) << written;
  const std::string cutLine =
      "[WARN]    TAR: \"cut.bin\" runs past the end of the archive; 504 of its 512 bytes are kept.";
  EXPECT_NE(written.find(cutLine), std::string::npos) << written;
  EXPECT_EQ(dialogs.DialogCount(), 0u);
}

TEST_F(TarArchiveTest, HostileSizesNeverReachPastTheArchive) {
  // A size far beyond the stream: the archive ends before that entry.
  Entry huge{"huge.bin", "tiny"};
  huge.sizeField = "77777777777";
  Archive a(Build({{"ok.txt", "ok"}, huge, {"after.txt", "after"}}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ(a.Read(u"/ok.txt"), "ok");
  // Kept, cut short by the end of the archive: what follows it is its data.
  EXPECT_EQ(a.Read(u"/huge.bin"), a.bytes.substr(3 * 512));
  EXPECT_EQ(a.Read(u"/after.txt"), "<null>");

  // Non-octal garbage reads as the digits before it.
  Entry garbage{"g.txt", "abc"};
  garbage.sizeField = "3zzzzzzzzzz";
  Archive b(Build({garbage}));
  ASSERT_TRUE(b.opened);
  EXPECT_EQ(b.Read(u"/g.txt"), "abc");
}

TEST_F(TarArchiveTest, FilesAreWindowsThatStopAtTheirEnd) {
  Archive a(Build({{"a.txt", "abc"}, {"b.txt", "defgh"}}));
  ASSERT_TRUE(a.opened);
  Stream* file = a.archive.Open(u"/a.txt", false);
  ASSERT_NE(file, nullptr);
  char buffer[64];
  EXPECT_EQ(file->Read(buffer, sizeof(buffer)), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(file->Read(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(file->Write("zz", 2), 0u);
  file->Release();
  // Writing, creating and replacing are refused.
  EXPECT_EQ(a.archive.Open(u"/a.txt", true), nullptr);
  EXPECT_EQ(a.archive.Create(u"/a.txt"), nullptr);
  EXPECT_EQ(a.archive.Create(u"/new.txt"), nullptr);
}

TEST_F(TarArchiveTest, EnumerateListsOneDirectory) {
  Archive a(Build({{"top.txt", "1"}, {"dir/a.txt", "2"}, {"dir/b.txt", "3"}, {"dir/sub/c.txt", "4"}}));
  ASSERT_TRUE(a.opened);
  std::set<std::u16string> root, dir, missing;
  EXPECT_TRUE(a.archive.Enumerate(u"", Collect, &root));
  EXPECT_EQ(root, (std::set<std::u16string>{u"top.txt", u"dir/"}));
  EXPECT_TRUE(a.archive.Enumerate(u"/dir", Collect, &dir));
  EXPECT_EQ(dir, (std::set<std::u16string>{u"a.txt", u"b.txt", u"sub/"}));
  EXPECT_TRUE(a.archive.Enumerate(u"/nope", Collect, &missing));
  EXPECT_TRUE(missing.empty());

  int calls = 0;
  auto stopAtFirst = [](const Vexil3D::EnumerateEntry&, void* context) {
    ++*static_cast<int*>(context);
    return false;
  };
  EXPECT_FALSE(a.archive.Enumerate(u"/dir", stopAtFirst, &calls));
  EXPECT_EQ(calls, 1);
}

TEST_F(TarArchiveTest, ReopeningReplacesTheContent) {
  std::string first = Build({{"one.txt", "1"}});
  std::string second = Build({{"two.txt", "2"}});
  auto* s1 = new CMemoryStream(first.data(), static_cast<std::uint32_t>(first.size()));
  auto* s2 = new CMemoryStream(second.data(), static_cast<std::uint32_t>(second.size()));
  {
    CTARArchive archive;
    ASSERT_TRUE(archive.Open(s1));
    EXPECT_EQ(s1->GetRefCount(), 2);
    ASSERT_TRUE(archive.Open(s2));
    EXPECT_EQ(s1->GetRefCount(), 1);
    EXPECT_FALSE(archive.Exists(u"/one.txt", true, false));
    EXPECT_TRUE(archive.Exists(u"/two.txt", true, false));
    ASSERT_TRUE(s2->Seek(0, Vexil3D::STREAM_SEEK_BEGIN));
    ASSERT_TRUE(archive.Open(s2));  // the stream it already holds
    EXPECT_EQ(s2->GetRefCount(), 2);
    EXPECT_TRUE(archive.Exists(u"/two.txt", true, false));
  }
  EXPECT_EQ(s2->GetRefCount(), 1);
  {
    CTARArchive archive;
    ASSERT_TRUE(s2->Seek(0, Vexil3D::STREAM_SEEK_BEGIN));
    ASSERT_TRUE(archive.Open(s2));
    EXPECT_TRUE(archive.Exists(u"/two.txt", true, false));
    EXPECT_FALSE(archive.Open(static_cast<Stream*>(nullptr)));
    EXPECT_EQ(archive.GetRecordCount(), 0u);
    EXPECT_EQ(s2->GetRefCount(), 1);
  }
  s1->Release();
  s2->Release();
}

TEST_F(TarArchiveTest, ArchiveFromTheFileSystemMountedBehindADirectory) {
  char scratch[] = "/tmp/vexil_tar_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string host = scratch;
  std::ofstream(host + "/a.txt") << "from the directory";
  std::ofstream(host + "/Data.tar", std::ios::binary) << Build({{"a.txt", "from the archive"}, {"b.txt", "only archived"}});
  {
    Vexil3D::CFileSystem fs;
    ASSERT_TRUE(Vexil3D::MountPhysicalDirectory(&fs, u"/", text::Utf8ToUtf16(host).c_str()));
    Stream* data = fs.Open(u"/Data.tar", false);
    ASSERT_NE(data, nullptr);
    auto* archive = new CTARArchive();
    ASSERT_TRUE(archive->Open(data));
    data->Release();
    fs.Mount(u"/", archive);

    auto read = [&fs](const char16_t* path) { return enginetest::ReadAll(fs.Open(path, false)); };
    EXPECT_EQ(read(u"/a.txt"), "from the directory");
    EXPECT_EQ(read(u"/b.txt"), "only archived");
    EXPECT_EQ(read(u"b.txt"), "only archived");

    std::set<std::u16string> names;
    EXPECT_TRUE(fs.Enumerate(u"/", Collect, &names));
    EXPECT_EQ(names, (std::set<std::u16string>{u"a.txt", u"b.txt", u"Data.tar"}));
    EXPECT_TRUE(fs.Unmount(u"/"));
    EXPECT_EQ(read(u"/b.txt"), "<null>");
  }
  std::system(("rm -rf '" + host + "'").c_str());
}

}  // namespace
