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

  EXPECT_EQ(ReadAll(fs.Open(u"/data/x.txt", false)), "root2");
  EXPECT_EQ(journal, (Journal{"named1:open:/x.txt", "named2:open:/x.txt", "root1:open:/data/x.txt",
                              "root2:open:/data/x.txt"}));

  // Without its leading "/" the path reaches the named mounts the same way and the roots with one.
  journal.clear();
  EXPECT_EQ(ReadAll(fs.Open(u"data/x.txt", false)), "root2");
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

TEST(FileSystemMounts, FirstAnswerWinsAndAStopFlagEndsTheSearch) {
  Journal journal;
  CFileSystem fs;
  fs.Mount(u"/", new Manager("root", {u"/pak/a", u"/pak/b", u"/pak/c"}, &journal));
  fs.Mount(u"/pak", new Manager("first", {u"/a"}, &journal));
  fs.Mount(u"/pak", new Manager("stopper", {u"/b"}, &journal), true);
  fs.Mount(u"/pak", new Manager("after", {u"/c"}, &journal));

  EXPECT_EQ(ReadAll(fs.Open(u"/pak/a", false)), "first");
  EXPECT_EQ(journal, (Journal{"first:open:/a"}));

  journal.clear();
  EXPECT_EQ(ReadAll(fs.Open(u"/pak/b", false)), "stopper");
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

TEST(FileSystemMounts, UnmountDeletesManagers) {
  int destroyed = 0;
  {
    CFileSystem fs;
    for (auto [at, tag, files] : {std::tuple{u"/", "r1", Names{}}, {u"/", "r2", Names{}}, {u"/N", "n1", Names{u"/f"}},
                                  {u"/N", "n2", Names{u"/f"}}, {u"/M", "m", Names{}}})
      fs.Mount(at, new Manager(tag, files, nullptr, &destroyed));
    EXPECT_EQ(ReadAll(fs.Open(u"/N/f", false)), "n1");
    EXPECT_TRUE(fs.Unmount(u"/N"));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(ReadAll(fs.Open(u"/N/f", false)), "n2");
    EXPECT_TRUE(fs.Unmount(u"/"));
    EXPECT_EQ(destroyed, 3);
    EXPECT_EQ(fs.GetRootCount(), 0u);
    EXPECT_FALSE(fs.Unmount(u"/Unknown"));
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
  EXPECT_EQ(probe.destroyedInCallback, 0) << "the walk still holds both root managers";
  EXPECT_EQ(probe.destroyed, 2);
  EXPECT_EQ(probe.fs.GetRootCount(), 0u);
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
  EXPECT_FALSE(fs.Enumerate(u"/", stop, &calls));
  EXPECT_EQ(calls, 1);
}

TEST(FileSystemMounts, NullAndSelfMountsAreRefused) {
  CFileSystem fs;
  EXPECT_FALSE(fs.Mount(u"/", nullptr));
  EXPECT_FALSE(fs.Mount(u"/", &fs));
  EXPECT_EQ(fs.Open(nullptr, false), nullptr);
}

struct JoinCase {
  const char16_t* base;
  const char16_t* part;
  bool backslash;
  const char16_t* joined;
};

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
  EXPECT_EQ(ReadAll(mount.Open(u"/a.txt", false)), "alpha");
  EXPECT_EQ(ReadAll(mount.Open(u"/missing.txt", false)), "<null>");
  EXPECT_TRUE(mount.Exists(u"/a.txt", true, false));
  EXPECT_FALSE(mount.Exists(u"/a.txt", false, true));
  EXPECT_TRUE(mount.Exists(u"/sub", false, true));
  EXPECT_FALSE(mount.Exists(u"/sub", true, false));
  EXPECT_FALSE(mount.Exists(u"/nothing", true, true));

  std::vector<std::u16string> names;
  EXPECT_TRUE(mount.Enumerate(u"/", CollectNames, &names));
  EXPECT_EQ(std::set<std::u16string>(names.begin(), names.end()), (std::set<std::u16string>{u"a.txt", u"sub"}));
  names.clear();
  EXPECT_TRUE(mount.Enumerate(u"/no/such/dir", CollectNames, &names));
  EXPECT_TRUE(names.empty());
}

TEST_F(MountedPathTest, CreateMakesTheMissingDirectories) {
  CMountedPath mount(m_Root.c_str());
  Stream* created = mount.Create(u"/deep/er/new.txt");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Write("fresh", 5), 5u);
  created->Release();
  EXPECT_EQ(ReadAll(mount.Open(u"/deep/er/new.txt", false)), "fresh");
  EXPECT_TRUE(HostExists("/inside/deep/er/new.txt"));
}

TEST_F(MountedPathTest, WritableOpenWritesThrough) {
  CMountedPath mount(m_Root.c_str());
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
  EXPECT_FALSE(mount.ToHostPath(path, &host)) << text::Utf16ToUtf8(path);
  EXPECT_EQ(mount.Open(path, false), nullptr);
  EXPECT_EQ(mount.Open(path, true), nullptr);
  EXPECT_FALSE(mount.Exists(path, true, true));
  Stream* created = mount.Create(path);
  EXPECT_EQ(created, nullptr);
  if (created != nullptr) created->Release();
  std::vector<std::u16string> names;
  EXPECT_TRUE(mount.Enumerate(path, CollectNames, &names));
  EXPECT_TRUE(names.empty());
  // Nothing beside the mounted directory was touched.
  EXPECT_EQ(ReadAll(CMountedPath(text::Utf8ToUtf16(m_Host).c_str()).Open(u"/secret.txt", false)), "outside");
  EXPECT_FALSE(HostExists("/evil.txt"));
}

INSTANTIATE_TEST_SUITE_P(Paths, TraversalTest,
                         ::testing::Values(u"/../secret.txt", u"../secret.txt", u"/sub/../../secret.txt",
                                           u"/./a.txt", u"/..", u"/sub/..", u"/..\\secret.txt",
                                           u"/sub\\..\\..\\secret.txt", u"/C:secret.txt", u"/a.txt:stream",
                                           u"/../evil.txt", u"/sub/./../../evil.txt"));

TEST_F(MountedPathTest, ExtraLeadingSlashesStayInside) {
  CMountedPath mount(m_Root.c_str());
  std::u16string host;
  ASSERT_TRUE(mount.ToHostPath(u"//a.txt", &host));
  EXPECT_EQ(host, m_Root + u"\\a.txt");
  EXPECT_EQ(ReadAll(mount.Open(u"///a.txt", false)), "alpha");
  CMountedPath unrooted(u"");
  ASSERT_TRUE(unrooted.ToHostPath(u"//etc/passwd", &host));
  EXPECT_EQ(host, u"etc/passwd");
  ASSERT_TRUE(unrooted.ToHostPath(u"/rel/file", &host));
  EXPECT_EQ(host, u"rel/file");
}

TEST_F(MountedPathTest, OrdinaryNamesWithDotsAreFine) {
  WriteHost("/inside/..hidden", "h");
  WriteHost("/inside/a.b.c", "abc");
  CMountedPath mount(m_Root.c_str());
  EXPECT_EQ(ReadAll(mount.Open(u"/..hidden", false)), "h");
  EXPECT_EQ(ReadAll(mount.Open(u"/a.b.c", false)), "abc");
}

TEST_F(MountedPathTest, MountPhysicalDirectoryServesTheFileSystem) {
  CFileSystem fs;
  ASSERT_TRUE(Vexil3D::MountPhysicalDirectory(&fs, u"/", m_Root.c_str()));
  ASSERT_TRUE(Vexil3D::MountPhysicalDirectory(&fs, u"/Host", text::Utf8ToUtf16(m_Host).c_str()));
  EXPECT_EQ(ReadAll(fs.Open(u"/a.txt", false)), "alpha");
  EXPECT_EQ(ReadAll(fs.Open(u"/Host/secret.txt", false)), "outside");
  EXPECT_EQ(ReadAll(fs.Open(u"/Host/../secret.txt", false)), "<null>");
  EXPECT_EQ(ReadAll(fs.Open(u"/../secret.txt", false)), "<null>");
  EXPECT_FALSE(Vexil3D::MountPhysicalDirectory(nullptr, u"/", m_Root.c_str()));
}

}  // namespace
