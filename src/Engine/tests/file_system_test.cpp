// The mount table's lookup order, named mounts and their stop flag, host-directory mounts and the
// refusal of paths that would climb out of a mounted directory.
#include <engine/FileSystem.h>
#include <engine/Stream.h>

#include <platform/text.h>

#include "ChunkFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Vexil3D::CFileSystem;
using Vexil3D::CMemoryStream;
using Vexil3D::CMountedPath;
using Vexil3D::CVirtualFileMgr;
using Vexil3D::EnumerateEntry;
using Vexil3D::Stream;
using Names = std::vector<std::u16string>;
using enginetest::ReadAll;

using Journal = std::vector<std::string>;

// A manager that answers for the paths it holds (its tag is the content of each), records every call
// as "<tag>:<op>:<path>" into a journal when given one, and counts its own deletion.
class Manager : public CVirtualFileMgr {
 public:
  Manager(std::string tag, std::vector<std::u16string> files, Journal* journal = nullptr, int* destroyed = nullptr)
      : m_Tag(std::move(tag)), m_Files(std::move(files)), m_pJournal(journal), m_pDestroyed(destroyed) {}
  ~Manager() override {
    if (m_pDestroyed != nullptr) ++*m_pDestroyed;
  }

  Stream* Open(const char16_t* path, bool) override { return Note("open", path) ? Tagged() : nullptr; }
  Stream* Create(const char16_t* path) override { return Note("create", path) ? Tagged() : nullptr; }
  bool Exists(const char16_t* path, bool acceptFile, bool) override { return Note("exists", path) && acceptFile; }
  bool Enumerate(const char16_t* path, Vexil3D::EnumerateCallback callback, void* context) override {
    for (const auto& name : m_Files) {
      const std::u16string leaf = name.substr(name.find_last_of(u'/') + 1);
      if (!callback(EnumerateEntry{1, 0, leaf.c_str(), path}, context)) return false;
    }
    return true;
  }

 private:
  Stream* Tagged() { return new CMemoryStream(m_Tag.data(), static_cast<std::uint32_t>(m_Tag.size())); }
  // Records the call; true when the manager holds the path.
  bool Note(const char* op, const char16_t* path) {
    if (m_pJournal != nullptr) m_pJournal->push_back(m_Tag + ":" + op + ":" + text::Utf16ToUtf8(path));
    return std::find(m_Files.begin(), m_Files.end(), path) != m_Files.end();
  }

  std::string m_Tag;
  std::vector<std::u16string> m_Files;
  Journal* m_pJournal;
  int* m_pDestroyed;
};


// The calls recorded so far, leaving the journal empty for the next step.
Journal Take(Journal& journal) { return std::exchange(journal, {}); }

bool CollectNames(const EnumerateEntry& entry, void* context) {
  static_cast<std::vector<std::u16string>*>(context)->push_back(entry.m_pName);
  return true;
}

TEST(FileSystemMounts, NamedMountsByFirstComponentThenRootsInMountOrder) {
  Journal journal;
  CFileSystem fs;
  fs.Mount(u"/", new Manager("root1", {}, &journal));
  fs.Mount(u"/", new Manager("root2", {u"/data/x.txt"}, &journal));
  fs.Mount(u"/data", new Manager("named1", {}, &journal));
  fs.Mount(u"/data", new Manager("named2", {}, &journal));
  const Journal all{"named1:open:/x.txt", "named2:open:/x.txt", "root1:open:/data/x.txt", "root2:open:/data/x.txt"};
  EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/data/x.txt", false)), Take(journal)}), (std::tuple{"root2", all}));
  // Without its leading "/" the path reaches the named mounts the same way and the roots with one.
  EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"data/x.txt", false)), Take(journal)}), (std::tuple{"root2", all}));
  // The component alone gives the named mounts the empty rest.
  EXPECT_EQ((std::tuple{fs.Exists(u"/data", true, true), Take(journal)}),
            (std::tuple{false,
                        Journal{"named1:exists:", "named2:exists:", "root1:exists:/data", "root2:exists:/data"}}));
  // The component's hash is taken without case folding: "/DATA" is not the named mount.
  EXPECT_EQ((std::tuple{fs.Create(u"/DATA/y"), Take(journal)}),
            (std::tuple{nullptr, Journal{"root1:create:/DATA/y", "root2:create:/DATA/y"}}));
  // A longer first component that merely begins with the name is another name.
  EXPECT_EQ((std::tuple{fs.Open(u"/database/x.txt", false), Take(journal)}),
            (std::tuple{nullptr, Journal{"root1:open:/database/x.txt", "root2:open:/database/x.txt"}}));
}

TEST(FileSystemMounts, FirstAnswerWinsAndAStopFlagEndsTheSearch) {
  Journal journal;
  CFileSystem fs;
  fs.Mount(u"/", new Manager("root", {u"/pak/a", u"/pak/b", u"/pak/c"}, &journal));
  fs.Mount(u"/pak", new Manager("first", {u"/a"}, &journal));
  fs.Mount(u"/pak", new Manager("stopper", {u"/b"}, &journal), true);
  fs.Mount(u"/pak", new Manager("after", {u"/c"}, &journal));
  EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/pak/a", false)), Take(journal)}),
            (std::tuple{"first", Journal{"first:open:/a"}}));
  EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/pak/b", false)), Take(journal)}),
            (std::tuple{"stopper", Journal{"first:open:/b", "stopper:open:/b"}}));
  // The stopping mount does not answer: neither the mount after it nor the roots are asked.
  EXPECT_EQ((std::tuple{fs.Open(u"/pak/c", false), Take(journal)}),
            (std::tuple{nullptr, Journal{"first:open:/c", "stopper:open:/c"}}));
  EXPECT_EQ((std::tuple{fs.Exists(u"/pak/c", true, false), Take(journal)}),
            (std::tuple{false, Journal{"first:exists:/c", "stopper:exists:/c"}}));
  // Unmounting the name removes its first manager only; the stop still holds for the rest.
  ASSERT_TRUE(fs.Unmount(u"/pak"));
  Take(journal);
  EXPECT_EQ((std::tuple{fs.Open(u"/pak/a", false), Take(journal)}), (std::tuple{nullptr, Journal{"stopper:open:/a"}}));
}

TEST(FileSystemMounts, UnmountDeletesManagers) {
  int destroyed = 0;
  {
    CFileSystem fs;
    for (auto [at, tag, files] : {std::tuple{u"/", "r1", Names{}}, {u"/", "r2", Names{}}, {u"/N", "n1", Names{u"/f"}},
                                  {u"/N", "n2", Names{u"/f"}}, {u"/M", "m", Names{}}})
      fs.Mount(at, new Manager(tag, files, nullptr, &destroyed));
    EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/N/f", false)), fs.Unmount(u"/N"), destroyed}),
              (std::tuple{"n1", true, 1}));
    EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/N/f", false)), fs.Unmount(u"/"), destroyed, fs.GetRootCount(),
                          fs.Unmount(u"/Unknown")}),
              (std::tuple{"n2", true, 3, 0u, false}));
  }
  EXPECT_EQ(destroyed, 5);
}

TEST(FileSystemMounts, UnmountFromACallbackWaitsForTheLookupToEnd) {
  struct Probe {
    CFileSystem fs;
    int destroyed = 0;
    int destroyedInCallback = -1;
  } probe;
  probe.fs.Mount(u"/", new Manager("r1", {u"/a"}, nullptr, &probe.destroyed));
  probe.fs.Mount(u"/", new Manager("r2", {u"/b"}, nullptr, &probe.destroyed));
  auto unmountAll = [](const EnumerateEntry&, void* context) {
    auto* p = static_cast<Probe*>(context);
    if (p->destroyedInCallback < 0) {
      EXPECT_TRUE(p->fs.Unmount(u"/"));
      p->destroyedInCallback = p->destroyed;
    }
    return true;
  };
  EXPECT_TRUE(probe.fs.Enumerate(u"/", unmountAll, &probe));
  // The walk still holds both root managers while the callback runs.
  EXPECT_EQ((std::tuple{probe.destroyedInCallback, probe.destroyed, probe.fs.GetRootCount()}), (std::tuple{0, 2, 0u}));
}

TEST(FileSystemMounts, EnumerateReportsEachNameOnce) {
  CFileSystem fs;
  fs.Mount(u"/", new Manager("first", {u"/a.txt", u"/b.txt"}));
  fs.Mount(u"/", new Manager("second", {u"/a.txt", u"/c.txt"}));
  std::vector<std::u16string> names;
  EXPECT_TRUE(fs.Enumerate(u"/", CollectNames, &names));
  std::multiset<std::u16string> counted(names.begin(), names.end());
  EXPECT_EQ(counted, (std::multiset<std::u16string>{u"a.txt", u"b.txt", u"c.txt"}));

  int calls = 0;
  auto stop = [](const EnumerateEntry&, void* context) {
    ++*static_cast<int*>(context);
    return false;
  };
  EXPECT_EQ((std::tuple{fs.Enumerate(u"/", stop, &calls), calls}), (std::tuple{false, 1}));
  // Null and self mounts are refused.
  EXPECT_EQ((std::tuple{fs.Mount(u"/", nullptr), fs.Mount(u"/", &fs), fs.Open(nullptr, false)}),
            (std::tuple{false, false, nullptr}));
}

struct JoinCase { const char16_t* base; const char16_t* part; bool backslash; const char16_t* joined; };

class JoinPathTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTest, Joins) {
  const JoinCase& c = GetParam();
  EXPECT_EQ(Vexil3D::JoinPath(c.base, c.part, c.backslash), c.joined);
}

INSTANTIATE_TEST_SUITE_P(Table, JoinPathTest,
                         ::testing::Values(JoinCase{u"", u"a.txt", true, u"a.txt"},
                                           JoinCase{u"C:\\dir", u"a.txt", true, u"C:\\dir\\a.txt"},
                                           JoinCase{u"C:\\dir\\", u"a.txt", true, u"C:\\dir\\a.txt"},
                                           JoinCase{u"/root/", u"a.txt", true, u"/root/a.txt"},
                                           JoinCase{u"/root", u"a.txt", false, u"/root/a.txt"},
                                           JoinCase{u"/root", u"", false, u"/root/"}));

// A scratch host directory that disappears with the test.
class MountedPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vexil_fs_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_Host = pattern;
    ASSERT_EQ(mkdir((m_Host + "/inside").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((m_Host + "/inside/sub").c_str(), 0755), 0);
    WriteHost("/inside/a.txt", "alpha");
    WriteHost("/secret.txt", "outside");
    m_Root = text::Utf8ToUtf16(m_Host + "/inside");
  }
  void TearDown() override {
    if (!m_Host.empty()) std::system(("rm -rf '" + m_Host + "'").c_str());
  }
  void WriteHost(const std::string& relative, const std::string& data) {
    std::ofstream(m_Host + relative, std::ios::binary) << data;
  }
  bool HostExists(const std::string& relative) {
    struct stat st;
    return stat((m_Host + relative).c_str(), &st) == 0;
  }

  std::string m_Host;
  std::u16string m_Root;
};

TEST_F(MountedPathTest, OpensExistsAndEnumerates) {
  CMountedPath mount(m_Root.c_str());
  EXPECT_EQ((std::tuple{ReadAll(mount.Open(u"/a.txt", false)), ReadAll(mount.Open(u"/missing.txt", false)),
                        mount.Exists(u"/a.txt", true, false), mount.Exists(u"/a.txt", false, true),
                        mount.Exists(u"/sub", false, true), mount.Exists(u"/sub", true, false),
                        mount.Exists(u"/nothing", true, true)}),
            (std::tuple{"alpha", "<null>", true, false, true, false, false}));
  std::vector<std::u16string> names, none;
  EXPECT_TRUE(mount.Enumerate(u"/", CollectNames, &names) && mount.Enumerate(u"/no/such/dir", CollectNames, &none));
  EXPECT_EQ((std::tuple{std::set<std::u16string>(names.begin(), names.end()), none.size()}),
            (std::tuple{std::set<std::u16string>{u"a.txt", u"sub"}, 0u}));
}

TEST_F(MountedPathTest, CreateMakesTheMissingDirectories) {
  CMountedPath mount(m_Root.c_str());
  Stream* created = mount.Create(u"/deep/er/new.txt");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Write("fresh", 5), 5u);
  created->Release();
  EXPECT_EQ((std::tuple{ReadAll(mount.Open(u"/deep/er/new.txt", false)), HostExists("/inside/deep/er/new.txt")}),
            (std::tuple{"fresh", true}));
  // A writable open writes through.
  Stream* file = mount.Open(u"/a.txt", true);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("ALPHA", 5), 5u);
  file->Release();
  EXPECT_EQ(ReadAll(mount.Open(u"/a.txt", false)), "ALPHA");
}

class TraversalTest : public MountedPathTest, public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(TraversalTest, EscapingPathsAreRefused) {
  CMountedPath mount(m_Root.c_str());
  const char16_t* path = GetParam();
  std::u16string host;
  std::vector<std::u16string> names;
  // (ReadAll releases what an open or create wrongly gives.)
  EXPECT_EQ((std::tuple{mount.ToHostPath(path, &host), ReadAll(mount.Open(path, false)),
                        ReadAll(mount.Open(path, true)), mount.Exists(path, true, true), ReadAll(mount.Create(path)),
                        mount.Enumerate(path, CollectNames, &names), names.size()}),
            (std::tuple{false, "<null>", "<null>", false, "<null>", true, 0u}))
      << text::Utf16ToUtf8(path);
  // Nothing beside the mounted directory was touched.
  EXPECT_EQ((std::tuple{ReadAll(CMountedPath(text::Utf8ToUtf16(m_Host).c_str()).Open(u"/secret.txt", false)),
                        HostExists("/evil.txt")}),
            (std::tuple{"outside", false}));
}

INSTANTIATE_TEST_SUITE_P(Paths, TraversalTest,
                         ::testing::Values(u"/../secret.txt", u"../secret.txt", u"/sub/../../secret.txt",
                                           u"/./a.txt", u"/..", u"/sub/..", u"/..\\secret.txt",
                                           u"/sub\\..\\..\\secret.txt", u"/C:secret.txt", u"/a.txt:stream",
                                           u"/../evil.txt", u"/sub/./../../evil.txt"));

TEST_F(MountedPathTest, ExtraLeadingSlashesStayInside) {
  CMountedPath mount(m_Root.c_str());
  CMountedPath unrooted(u"");
  std::u16string inRoot, etc, rel;
  EXPECT_EQ((std::tuple{mount.ToHostPath(u"//a.txt", &inRoot), inRoot, ReadAll(mount.Open(u"///a.txt", false)),
                        unrooted.ToHostPath(u"//etc/passwd", &etc), etc, unrooted.ToHostPath(u"/rel/file", &rel), rel}),
            (std::tuple{true, m_Root + u"\\a.txt", "alpha", true, u"etc/passwd", true, u"rel/file"}));
}

TEST_F(MountedPathTest, OrdinaryNamesWithDotsAreFine) {
  WriteHost("/inside/..hidden", "h");
  WriteHost("/inside/a.b.c", "abc");
  CMountedPath mount(m_Root.c_str());
  EXPECT_EQ(ReadAll(mount.Open(u"/..hidden", false)) + ReadAll(mount.Open(u"/a.b.c", false)), "habc");
}

TEST_F(MountedPathTest, MountPhysicalDirectoryServesTheFileSystem) {
  CFileSystem fs;
  ASSERT_TRUE(Vexil3D::MountPhysicalDirectory(&fs, u"/", m_Root.c_str()));
  ASSERT_TRUE(Vexil3D::MountPhysicalDirectory(&fs, u"/Host", text::Utf8ToUtf16(m_Host).c_str()));
  EXPECT_EQ((std::tuple{ReadAll(fs.Open(u"/a.txt", false)), ReadAll(fs.Open(u"/Host/secret.txt", false)),
                        ReadAll(fs.Open(u"/Host/../secret.txt", false)), ReadAll(fs.Open(u"/../secret.txt", false)),
                        Vexil3D::MountPhysicalDirectory(nullptr, u"/", m_Root.c_str())}),
            (std::tuple{"alpha", "outside", "<null>", "<null>", false}));
}

}  // namespace
