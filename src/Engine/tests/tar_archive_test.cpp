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
#include <tuple>
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

// An entry with one header field changed.
template <class Change>
Entry With(Entry e, Change change) {
  change(e);
  return e;
}

Entry Typed(std::string name, std::string data, char type) {
  return With(Entry{std::move(name), std::move(data)}, [type](Entry& e) { e.type = type; });
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
  EXPECT_EQ((std::tuple{a.archive.GetRecordCount(), a.Read(u"/readme.txt"), a.Read(u"readme.txt"),
                        a.Read(u"/dir/a.bin"), a.Read(u"/dir/sub/b.txt"), a.archive.GetRecord(0).m_uModified,
                        a.archive.GetRecord(1).m_uSize}),
            (std::tuple{3u, "hello", "hello", std::string(700, 'x'), "bee", 1700000000u, 700u}));
  // Paths are case-sensitive.
  Archive cased(Build({{"Dir/File.txt", "x"}}));
  EXPECT_EQ(cased.Read(u"/Dir/File.txt") + cased.Read(u"/dir/file.txt"), "x<null>");
}

// The ustar prefix is joined with a slash, ignored without the magic; old GNU magic also begins with
// "ustar"; checksums of seven digits without a trailer, behind blanks, and over signed bytes are all
// accepted; a long name is cut at 256 units.
TEST_F(TarArchiveTest, HeaderFieldForms) {
  // clang-format off
  Archive a(Build({With(Entry{"file.txt", "data"}, [](Entry& e) { e.prefix = "dir"; }),
                   With(Entry{"file.txt", "plain"}, [](Entry& e) { e.prefix = "dir"; e.ustar = false; }),
                   With(Entry{"n", "g"}, [](Entry& e) { e.magic = std::string("ustar  \0", 8); e.prefix = "p"; }),
                   With(Entry{"b", "2"}, [](Entry& e) { e.checksumField = "%07o"; }),
                   With(Entry{"c", "3"}, [](Entry& e) { e.checksumField = "  %05o"; }),
                   With(Entry{"caf\xC3\xA9.txt", "signed"}, [](Entry& e) { e.signedChecksum = true; }),
                   With(Entry{std::string(100, 'n'), "z"}, [](Entry& e) { e.prefix = std::string(155, 'p'); })}));
  // clang-format on
  ASSERT_TRUE(a.opened);
  EXPECT_EQ((std::tuple{std::u16string(a.archive.GetRecord(0).m_Name), std::u16string(a.archive.GetRecord(1).m_Name)}),
            (std::tuple{u"dir/file.txt", u"file.txt"}));
  EXPECT_EQ(a.Read(u"/dir/file.txt") + a.Read(u"/dirfile.txt") + a.Read(u"/file.txt"), "data<null>plain");
  EXPECT_EQ(a.Read(u"/p/n") + a.Read(u"/b") + a.Read(u"/c") + a.Read(u"/caf\u00e9.txt"), "g23signed");
  EXPECT_EQ(std::u16string(a.archive.GetRecord(6).m_Name).size(), 255u);
}

TEST_F(TarArchiveTest, BadChecksumFailsAndLeavesTheArchiveEmpty) {
  Archive a(Build({{"a.txt", "a"}, With(Entry{"b.txt", "b"}, [](Entry& e) { e.badChecksum = true; })}));
  // The archive let go of the stream.
  EXPECT_EQ((std::tuple{a.opened, a.archive.GetRecordCount(), a.Read(u"/a.txt"),
                        a.archive.Exists(u"/a.txt", true, true), a.stream->GetRefCount()}),
            (std::tuple{false, 0u, "<null>", false, 1}));
}

TEST_F(TarArchiveTest, MissingEndBlocksKeepTheEntriesRead) {
  for (int endBlocks : {0, 1}) {
    Archive a(Build({{"a.txt", "first"}, {"b.txt", "second"}}, endBlocks));
    EXPECT_EQ((std::tuple{a.opened, a.Read(u"/a.txt"), a.Read(u"/b.txt")}), (std::tuple{true, "first", "second"}))
        << endBlocks;
  }
  // A header after the first zero block belongs to no archive.
  Archive late(Build({{"two", "2"}}, 1) + Header(Entry{"late", ""}));
  EXPECT_EQ((std::tuple{late.opened, late.archive.GetRecordCount(), late.archive.Exists(u"/late", true, true)}),
            (std::tuple{true, 1u, false}));
}

TEST_F(TarArchiveTest, CutOffInsideAHeaderKeepsEarlierEntries) {
  std::string bytes = Build({{"a.txt", "first"}, {"b.txt", "second"}}, 0);
  bytes.resize(1024 + 100);  // the second header is incomplete
  Archive a(bytes);
  EXPECT_EQ((std::tuple{a.opened, a.archive.GetRecordCount(), a.Read(u"/a.txt")}), (std::tuple{true, 1u, "first"}));
  Archive empty("");  // an empty stream is an empty archive
  EXPECT_EQ((std::tuple{empty.opened, empty.archive.GetRecordCount(), empty.archive.Exists(u"/", false, true)}),
            (std::tuple{true, 0u, true}));
}

TEST_F(TarArchiveTest, OtherEntryKindsAreSkippedWithTheirData) {
  Archive a(Build({Typed("link", "", '2'), Typed("././@LongLink", std::string(600, 'L'), 'L'), {"kept.txt", "kept"},
                   Typed("pax", "27 path=whatever/else.txt\n", 'x'), Typed("hard", "", '1'),
                   Typed("old.txt", "nul type", '\0')}));
  EXPECT_EQ((std::tuple{a.opened, a.archive.GetRecordCount(), a.Read(u"/kept.txt"), a.Read(u"/old.txt"),
                        a.archive.GetRecord(1).m_Type, a.archive.Exists(u"/link", true, true)}),
            (std::tuple{true, 2u, "kept", "nul type", u'0', false}));
}

TEST_F(TarArchiveTest, DirectoryRecordsAddNoNodeOfTheirOwn) {
  Archive a(Build({Typed("empty/", "", '5'), Typed("full/", "", '5'), {"full/x.txt", "x"}}));
  ASSERT_TRUE(a.opened);
  auto& t = a.archive;  // (the last: only directories are descended into)
  EXPECT_EQ((std::tuple{t.GetRecordCount(), t.Exists(u"/empty", true, true), t.Exists(u"/full", false, true),
                        t.Exists(u"/full", true, false), t.Exists(u"/full/x.txt", true, false),
                        t.Exists(u"/full/x.txt", false, true), t.Exists(u"/full/missing", true, true),
                        t.Exists(u"/full/x.txt/y", true, true)}),
            (std::tuple{3u, false, true, false, true, false, false, false}));
}

// Older writers store a directory as a file entry ('0' or NUL) whose name ends in "/": it is a directory,
// before or after the files below it, at any depth, in the name or in the ustar prefix.
TEST_F(TarArchiveTest, FileTypedEntriesEndingInASlashAreDirectories) {
  for (const char type : {'0', '\0'}) {
    for (const bool directoryFirst : {true, false}) {
      SCOPED_TRACE(testing::Message() << "type " << (type ? "'0'" : "NUL")
                                      << (directoryFirst ? ", directory first" : ", files first"));
      std::vector<Entry> files = {{"dir/file.txt", "below"}, {"dir/sub/deep.txt", "deeper"}};
      // A last "." component names the directory as a trailing "/" does, however it is spelt.
      std::vector<Entry> directories = {Typed("dir/", "", type), Typed("dir/sub/", "", type),
                                        With(Typed("sub/", "", type), [](Entry& e) { e.prefix = "dir/"; }),
                                        Typed("dir//", "", type), Typed("dir/.", "", type),
                                        Typed("./dir/sub/.", "", type), Typed("dir//./.", "", type),
                                        With(Typed(".", "", type), [](Entry& e) { e.prefix = "dir/sub"; })};
      std::vector<Entry> all = directoryFirst ? directories : files;
      all.insert(all.end(), (directoryFirst ? files : directories).begin(),
                 (directoryFirst ? files : directories).end());
      Archive a(Build(all));
      ASSERT_TRUE(a.opened);
      auto& t = a.archive;
      EXPECT_EQ((std::tuple{a.Read(u"/dir/file.txt"), a.Read(u"/dir/sub/deep.txt"), a.Read(u"/dir"),
                            t.Exists(u"/dir", false, true), t.Exists(u"/dir", true, false),
                            t.Exists(u"/dir/sub", false, true), t.Exists(u"/dir/sub", true, false)}),
                (std::tuple{"below", "deeper", "<null>", true, false, true, false}));
      std::set<std::u16string> names;
      EXPECT_TRUE(t.Enumerate(u"/dir", &Collect, &names));
      EXPECT_EQ(names, (std::set<std::u16string>{u"file.txt", u"sub/"}));
    }
  }
  // Alone, such an entry is an empty directory, which (like a type '5' one) has no node.
  Archive alone(Build({Typed("empty/", "", '0')}));
  EXPECT_EQ((std::tuple{alone.opened, alone.archive.GetRecordCount(), alone.archive.Exists(u"/empty", true, true)}),
            (std::tuple{true, 1u, false}));
  EXPECT_EQ(dialogs.DialogCount(), 0u);
}

TEST_F(TarArchiveTest, OctalFieldsMayHaveLeadingSpaces) {
  Archive a(Build({With(Entry{"spaced.txt", "12345"}, [](Entry& e) {
    e.sizeField = "          5";
    e.mtimeField = "   17";
  })}));
  ASSERT_TRUE(a.opened);
  EXPECT_EQ((std::tuple{a.archive.GetRecord(0).m_uSize, a.archive.GetRecord(0).m_uModified, a.Read(u"/spaced.txt")}),
            (std::tuple{5u, 017u, "12345"}));
}

TEST_F(TarArchiveTest, DuplicatesAndFileDirectoryClashesKeepTheFirstWithoutADialog) {
  Archive a(Build({{"same.txt", "first"}, {"same.txt", "second"}}));
  EXPECT_EQ(a.Read(u"/same.txt"), "first");
  Archive fileFirst(Build({{"a", "file"}, {"a/b.txt", "below"}}));
  EXPECT_EQ((std::tuple{fileFirst.opened, fileFirst.Read(u"/a"), fileFirst.Read(u"/a/b.txt")}),
            (std::tuple{true, "file", "<null>"}));
  Archive dirFirst(Build({{"a/b.txt", "below"}, {"a", "file"}}));
  EXPECT_EQ((std::tuple{dirFirst.opened, dirFirst.Read(u"/a/b.txt"), dirFirst.Read(u"/a"),
                        dirFirst.archive.Exists(u"/a", false, true)}),
            (std::tuple{true, "below", "<null>", true}));
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
  // 512 bytes, of which the archive holds 4 and the padding.
  Entry cut = With(Entry{"cut.bin", "tiny"}, [](Entry& e) { e.sizeField = "00000001000"; });
  std::string bytes = Build({{"same.txt", "first"}, {"same.txt", "second"}, cut}, 0);
  bytes.resize(bytes.size() - 8);
  Archive a(bytes);
  const std::string written(buffer);
  EXPECT_NE(written.find("[WARN]    TAR: \"same.txt\""), std::string::npos) << written;
  EXPECT_NE(written.find("[WARN]    TAR: \"cut.bin\" runs past the end of the archive; 504 of its 512 bytes are kept."),
            std::string::npos) << written;
  EXPECT_EQ(dialogs.DialogCount(), 0u);
}

TEST_F(TarArchiveTest, HostileSizesNeverReachPastTheArchive) {
  // A size far beyond the stream: the archive ends before that entry.
  Entry huge = With(Entry{"huge.bin", "tiny"}, [](Entry& e) { e.sizeField = "77777777777"; });
  Archive a(Build({{"ok.txt", "ok"}, huge, {"after.txt", "after"}}));
  // Kept, cut short by the end of the archive: what follows it is its data.
  EXPECT_EQ((std::tuple{a.opened, a.Read(u"/ok.txt"), a.Read(u"/huge.bin"), a.Read(u"/after.txt")}),
            (std::tuple{true, "ok", a.bytes.substr(3 * 512), "<null>"}));
  // Non-octal garbage reads as the digits before it.
  Archive b(Build({With(Entry{"g.txt", "abc"}, [](Entry& e) { e.sizeField = "3zzzzzzzzzz"; })}));
  EXPECT_EQ((std::tuple{b.opened, b.Read(u"/g.txt")}), (std::tuple{true, "abc"}));
}

TEST_F(TarArchiveTest, FilesAreWindowsThatStopAtTheirEnd) {
  Archive a(Build({{"a.txt", "abc"}, {"b.txt", "defgh"}}));
  ASSERT_TRUE(a.opened);
  Stream* file = a.archive.Open(u"/a.txt", false);
  ASSERT_NE(file, nullptr);
  char buffer[64];
  EXPECT_EQ((std::tuple{file->Read(buffer, sizeof(buffer)), std::string(buffer, 3), file->Read(buffer, sizeof(buffer)),
                        file->Write("zz", 2)}),
            (std::tuple{3u, "abc", 0u, 0u}));
  file->Release();
  // Writing, creating and replacing are refused.
  EXPECT_EQ((std::tuple{a.archive.Open(u"/a.txt", true), a.archive.Create(u"/a.txt"), a.archive.Create(u"/new.txt")}),
            (std::tuple{nullptr, nullptr, nullptr}));
}

TEST_F(TarArchiveTest, EnumerateListsOneDirectory) {
  Archive a(Build({{"top.txt", "1"}, {"dir/a.txt", "2"}, {"dir/b.txt", "3"}, {"dir/sub/c.txt", "4"}}));
  ASSERT_TRUE(a.opened);
  using Names = std::set<std::u16string>;
  Names root, dir, missing;
  EXPECT_EQ((std::tuple{a.archive.Enumerate(u"", Collect, &root), a.archive.Enumerate(u"/dir", Collect, &dir),
                        a.archive.Enumerate(u"/nope", Collect, &missing)}),
            (std::tuple{true, true, true}));
  EXPECT_EQ((std::tuple{root, dir, missing}),
            (std::tuple{Names{u"top.txt", u"dir/"}, Names{u"a.txt", u"b.txt", u"sub/"}, Names{}}));

  int calls = 0;
  auto stopAtFirst = [](const Vexil3D::EnumerateEntry&, void* context) {
    ++*static_cast<int*>(context);
    return false;
  };
  EXPECT_EQ((std::tuple{a.archive.Enumerate(u"/dir", stopAtFirst, &calls), calls}), (std::tuple{false, 1}));
}

TEST_F(TarArchiveTest, ReopeningReplacesTheContent) {
  std::string first = Build({{"one.txt", "1"}});
  std::string second = Build({{"two.txt", "2"}});
  auto* s1 = new CMemoryStream(first.data(), static_cast<std::uint32_t>(first.size()));
  auto* s2 = new CMemoryStream(second.data(), static_cast<std::uint32_t>(second.size()));
  {
    CTARArchive archive;
    ASSERT_TRUE(archive.Open(s1));
    const int held = s1->GetRefCount();
    ASSERT_TRUE(archive.Open(s2));
    EXPECT_EQ((std::tuple{held, s1->GetRefCount(), archive.Exists(u"/one.txt", true, false),
                          archive.Exists(u"/two.txt", true, false)}),
              (std::tuple{2, 1, false, true}));
    ASSERT_TRUE(s2->Seek(0, Vexil3D::STREAM_SEEK_BEGIN));
    ASSERT_TRUE(archive.Open(s2));  // the stream it already holds
    EXPECT_EQ((std::tuple{s2->GetRefCount(), archive.Exists(u"/two.txt", true, false)}), (std::tuple{2, true}));
  }
  EXPECT_EQ(s2->GetRefCount(), 1);
  {
    CTARArchive archive;
    ASSERT_TRUE(s2->Seek(0, Vexil3D::STREAM_SEEK_BEGIN));
    ASSERT_TRUE(archive.Open(s2));
    EXPECT_TRUE(archive.Exists(u"/two.txt", true, false));
    EXPECT_EQ((std::tuple{archive.Open(static_cast<Stream*>(nullptr)), archive.GetRecordCount(), s2->GetRefCount()}),
              (std::tuple{false, 0u, 1}));
  }
  s1->Release();
  s2->Release();
}

TEST_F(TarArchiveTest, ArchiveFromTheFileSystemMountedBehindADirectory) {
  char scratch[] = "/tmp/vexil_tar_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string host = scratch;
  std::ofstream(host + "/a.txt") << "from the directory";
  std::ofstream(host + "/Data.tar", std::ios::binary)
      << Build({{"a.txt", "from the archive"}, {"b.txt", "only archived"}});
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
    EXPECT_EQ((std::tuple{read(u"/a.txt"), read(u"/b.txt"), read(u"b.txt")}),
              (std::tuple{"from the directory", "only archived", "only archived"}));

    std::set<std::u16string> names;
    EXPECT_TRUE(fs.Enumerate(u"/", Collect, &names));
    EXPECT_EQ(names, (std::set<std::u16string>{u"a.txt", u"b.txt", u"Data.tar"}));
    EXPECT_EQ((std::tuple{fs.Unmount(u"/"), read(u"/b.txt")}), (std::tuple{true, "<null>"}));
  }
  std::system(("rm -rf '" + host + "'").c_str());
}

}  // namespace
