// The file system: path resolution, mount points, listings, host files, prompts, buffer limits and cycles.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <platform/files.h>
#include <platform/testing/ScriptedDialogs.h>

#include <base/FileSystem.h>

#include "file_system_test_support.h"

namespace {

using fstest::CollectingAppContext;
using fstest::Narrow;
using fstest::TempDir;
using fstest::Wide;

const char kBufferFull[] =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";
const char kCopyTooShort[] = "An attempt was made to copy a string into a buffer too short to hold the string.";

std::string ReadAndRelease(CStream* stream) {
  std::string content;
  if (stream == nullptr) return "<null>";
  char buffer[256];
  for (;;) {
    const std::uint32_t got = stream->Read(buffer, 1, sizeof buffer);
    if (got == 0) break;
    content.append(buffer, got);
  }
  stream->Release();
  return content;
}

struct Entry {
  std::string name;
  bool isDirectory;
  bool operator==(const Entry& other) const { return name == other.name && isDirectory == other.isDirectory; }
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << entry.name << (entry.isDirectory ? "/" : "");
}

bool Collect(const char16_t* name, bool isDirectory, void* user) {
  static_cast<std::vector<Entry>*>(user)->push_back({Narrow(name), isDirectory});
  return true;
}

// Runs an action the first time a prompt line is written, as a user who fixes
// things before answering would.
class FixingDialogs : public platform::testing::ScriptedDialogs {
 public:
  std::function<void()> onFirstPrompt;
  int prompts = 0;
  void ConsoleWrite(std::u16string_view text) override {
    ScriptedDialogs::ConsoleWrite(text);
    if (!text.empty() && text.front() == u'[' && ++prompts == 1 && onFirstPrompt) onFirstPrompt();
  }
};

class FileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_FileSystem, nullptr);
    fs_ = std::make_unique<CFileSystem>(&context_);
    ASSERT_EQ(g_FileSystem, fs_.get()) << "the first file system is the process-wide one";
  }
  void TearDown() override {
    fs_.reset();
    EXPECT_EQ(g_FileSystem, nullptr);
  }

  CFileSystem::tMountPoint* Physical(const char16_t* virtualPath, const std::string& hostDirectory,
                                     bool writable = true) {
    root_.MakeDir(hostDirectory);
    return MountPhysicalDirectory(virtualPath, writable, root_.WideSub(hostDirectory).c_str());
  }
  CFileSystem::tMountPoint* Virtual(const char16_t* virtualPath, bool exclusive, bool writable,
                                    const char16_t* target) {
    return MountVirtualDirectory(virtualPath, exclusive, writable, target);
  }

  std::string Open(const char16_t* path) { return ReadAndRelease(fs_->OpenFile(path, kOpenFileRead)); }

  std::vector<Entry> List(const char16_t* path, bool oldestFirst = false, bool* result = nullptr) {
    std::vector<Entry> entries;
    const bool done = fs_->Enumerate(path, Collect, &entries, oldestFirst);
    if (result != nullptr) *result = done;
    return entries;
  }

  std::vector<std::string> Errors() const { return context_.GetErrors(); }

  TempDir root_;
  CollectingAppContext context_;
  FixingDialogs dialogs_;
  std::unique_ptr<CFileSystem> fs_;
};

// ---------------------------------------------------------------------------
// Path resolution

struct ResolveCase {
  std::u16string input;
  std::u16string expected;
};

class ResolvePathTest : public FileSystemTest, public testing::WithParamInterface<ResolveCase> {};

TEST_P(ResolvePathTest, JoinsComponentsWithSingleSlashes) {
  char16_t out[CFileSystem::kMaxPath];
  ASSERT_TRUE(fs_->ResolvePath(GetParam().input.c_str(), out));
  EXPECT_EQ(Narrow(out), Narrow(GetParam().expected));
  EXPECT_TRUE(Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Paths, ResolvePathTest,
                         testing::Values(ResolveCase{u"", u"/"}, ResolveCase{u"/", u"/"},
                                         ResolveCase{u"a//b", u"/a/b"}, ResolveCase{u"/a/b", u"/a/b"},
                                         ResolveCase{u"a/b/", u"/a/b/"}, ResolveCase{u"///", u"/"},
                                         ResolveCase{u"/GameData/../x", u"/GameData/../x"},
                                         ResolveCase{u"./a", u"/./a"}, ResolveCase{u"a\\b", u"/a\\b"},
                                         ResolveCase{std::u16string(255, u'n'), u"/" + std::u16string(255, u'n')},
                                         ResolveCase{u"ab/" + std::u16string(255, u'n'),
                                                     u"/ab/" + std::u16string(255, u'n')}));

TEST_F(FileSystemTest, ResolvePathReportsWhatDoesNotFit) {
  char16_t out[CFileSystem::kMaxPath + 8];
  std::fill(std::begin(out), std::end(out), u'#');
  // A component of 256 characters, and a result of 260 characters (no room for the
  // terminator) made of components that fit.
  const std::u16string longComponent(256, u'c');
  const std::u16string longPath = std::u16string(200, u'a') + u"/" + std::u16string(58, u'b');
  EXPECT_FALSE(fs_->ResolvePath(longComponent.c_str(), out));
  EXPECT_FALSE(fs_->ResolvePath(longPath.c_str(), out));
  EXPECT_EQ(Errors(), (std::vector<std::string>{kBufferFull, kBufferFull}));
  for (std::size_t i = CFileSystem::kMaxPath; i < CFileSystem::kMaxPath + 8; ++i) {
    EXPECT_EQ(out[i], u'#') << "written past the buffer at " << i;
  }
  // One character less fits exactly.
  const std::u16string fitting = std::u16string(200, u'a') + u"/" + std::u16string(57, u'b');
  EXPECT_TRUE(fs_->ResolvePath(fitting.c_str(), out));
  EXPECT_EQ(text::Length(out), CFileSystem::kMaxPath - 1);
}

struct MatchCase {
  std::u16string mount;
  std::u16string path;
  bool matches;
  std::u16string relative;
};

class MatchPathTest : public FileSystemTest, public testing::WithParamInterface<MatchCase> {};

TEST_P(MatchPathTest, CoversPathsAtOrBelowTheMountPath) {
  CFileSystem::tMountPoint* mount = Physical(GetParam().mount.c_str(), "m");
  ASSERT_NE(mount, nullptr);
  char16_t relative[CFileSystem::kMaxPath] = u"untouched";
  EXPECT_EQ(mount->MatchPath(GetParam().path.c_str(), relative), GetParam().matches);
  if (GetParam().matches) {
    EXPECT_EQ(Narrow(relative), Narrow(GetParam().relative));
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, MatchPathTest,
                         testing::Values(MatchCase{u"/", u"/any/where", true, u"/any/where"},
                                         MatchCase{u"/", u"/", true, u"/"},
                                         MatchCase{u"/UserData", u"/UserData", true, u"/"},
                                         MatchCase{u"/UserData", u"/UserData/x/y", true, u"/x/y"},
                                         MatchCase{u"/UserData", u"/UserData/", true, u"/"},
                                         MatchCase{u"/UserData", u"/UserDataX", false, u""},
                                         MatchCase{u"/UserData", u"/UserDataX/y", false, u""},
                                         MatchCase{u"/UserData", u"/userdata/x", false, u""},
                                         MatchCase{u"/UserData", u"/User", false, u""},
                                         MatchCase{u"/UserData/SavedGames", u"/UserData", false, u""}));

// ---------------------------------------------------------------------------
// Search order

TEST_F(FileSystemTest, NewestMountIsTheOnlyOneAskedForItsPath) {
  root_.Write("old/only-old.txt", "old");
  root_.Write("old/both.txt", "old both");
  root_.Write("new/both.txt", "new both");
  ASSERT_NE(Physical(u"/GameData", "old"), nullptr);
  ASSERT_NE(Physical(u"/GameData", "new"), nullptr);

  EXPECT_EQ(Open(u"/GameData/both.txt"), "new both");
  EXPECT_EQ(Open(u"/GameData/only-old.txt"), "<null>") << "the older mount must never be asked";
  EXPECT_FALSE(fs_->Exists(u"/GameData/only-old.txt", true, true));
  std::vector<Entry> entries = List(u"/GameData");
  EXPECT_EQ(entries, (std::vector<Entry>{{"both.txt", false}}));

  // Creating goes to the newest mount too, never next to the older file.
  ReadAndRelease(fs_->CreateFile(u"/GameData/only-old.txt", false, false));
  EXPECT_TRUE(root_.Exists("new/only-old.txt"));
  EXPECT_EQ(root_.Read("old/only-old.txt"), "old");
}

// A shared physical mount (the game CD over the install directory) covers only what it holds.
TEST_F(FileSystemTest, SharedPhysicalMountLeavesTheRestToOlderMounts) {
  root_.Write("install/only-install.txt", "install");
  root_.Write("install/both.txt", "install both");
  root_.Write("cd/both.txt", "cd both");
  ASSERT_NE(Physical(u"/GameDir", "install"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
  CFileSystem::tMountPoint* cd = MountSharedPhysicalDirectory(u"/GameDir", false, root_.WideSub("cd").c_str());
  ASSERT_NE(cd, nullptr);
  EXPECT_FALSE(cd->IsExclusive());

  EXPECT_EQ(Open(u"/GameData/both.txt"), "cd both");
  EXPECT_EQ(Open(u"/GameData/only-install.txt"), "install");
  // The read-only CD takes no file: creating reaches the writable install directory.
  ReadAndRelease(fs_->CreateFile(u"/GameData/saved.txt", false, false));
  EXPECT_TRUE(root_.Exists("install/saved.txt"));
  EXPECT_FALSE(root_.Exists("cd/saved.txt"));
  delete cd;
  EXPECT_EQ(Open(u"/GameData/both.txt"), "install both");
}

TEST_F(FileSystemTest, DeletingAMountPointUnlinksIt) {
  root_.Write("old/a.txt", "old");
  root_.Write("new/a.txt", "new");
  ASSERT_NE(Physical(u"/GameData", "old"), nullptr);
  CFileSystem::tMountPoint* newer = Physical(u"/GameData", "new");
  EXPECT_EQ(fs_->GetNewestMountPoint(), newer);
  delete newer;
  EXPECT_EQ(Open(u"/GameData/a.txt"), "old");
  EXPECT_EQ(fs_->GetNewestMountPoint(), fs_->GetOldestMountPoint());
}

TEST_F(FileSystemTest, NonExclusiveVirtualMountFallsThroughExclusiveDoesNot) {
  root_.Write("game/base.txt", "base");
  root_.Write("game/shared.txt", "game shared");
  root_.Write("mod/shared.txt", "mod shared");
  ASSERT_NE(Physical(u"/GameDir", "game"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
  ASSERT_NE(Physical(u"/Mods/m", "mod", false), nullptr);
  CFileSystem::tMountPoint* overlay = Virtual(u"/GameData", false, false, u"/Mods/m");
  ASSERT_NE(overlay, nullptr);

  EXPECT_EQ(Open(u"/GameData/shared.txt"), "mod shared");
  EXPECT_EQ(Open(u"/GameData/base.txt"), "base") << "a file missing in the overlay comes from older mounts";
  EXPECT_TRUE(fs_->Exists(u"/GameData/base.txt", true, false));

  delete overlay;
  ASSERT_NE(Virtual(u"/GameData", true, false, u"/Mods/m"), nullptr);
  EXPECT_EQ(Open(u"/GameData/shared.txt"), "mod shared");
  EXPECT_EQ(Open(u"/GameData/base.txt"), "<null>") << "an exclusive mount ends the search";
  EXPECT_FALSE(fs_->Exists(u"/GameData/base.txt", true, false));
}

TEST_F(FileSystemTest, HostLookupIgnoresCase) {
  root_.Write("game/Data/Title.WAD", "title");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  EXPECT_EQ(Open(u"/GameData/data/title.wad"), "title");
  EXPECT_EQ(Open(u"/GameData/DATA/TITLE.wad"), "title");
  EXPECT_TRUE(fs_->Exists(u"/GameData/data", false, true));
  EXPECT_FALSE(fs_->Exists(u"/GameData/data", true, false)) << "a directory is not a file";
  EXPECT_EQ(Open(u"/GameData/data"), "<null>");
}

TEST_F(FileSystemTest, OpenCreatesInTheNewestWritableMountWhenAsked) {
  root_.MakeDir("game");
  ASSERT_NE(Physical(u"/GameDir", "game"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
  ASSERT_NE(Virtual(u"/UserData/SavedGames", true, true, u"/GameData"), nullptr);

  EXPECT_EQ(fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kOpenFileRead | kOpenFileWrite), nullptr);
  CStream* stream =
      fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("saved", 1, 5), 5u);
  stream->Release();
  EXPECT_EQ(root_.Read("game/savegame.0"), "saved");

  // A writable open of the existing file through the chain of virtual mounts.
  stream = fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kOpenFileRead | kOpenFileWrite);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->IsWritable());
  ASSERT_TRUE(stream->Seek(0, CStream::kSeekEnd));
  EXPECT_EQ(stream->Write("!", 1, 1), 1u);
  stream->Release();
  EXPECT_EQ(root_.Read("game/savegame.0"), "saved!");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FileSystemTest, CreateFileReplacesAnExistingFileWhereItIs) {
  root_.Write("game/save.dat", "old content");
  root_.MakeDir("user");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  // A non-exclusive writable overlay that lacks the file: the file is replaced in
  // the older mount that has it, so the next open sees the new one.
  ASSERT_NE(Physical(u"/User", "user"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", false, true, u"/User"), nullptr);
  CStream* stream = fs_->CreateFile(u"/GameData/save.dat", false, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetSize(true), 0u);
  stream->Write("new", 1, 3);
  stream->Release();
  EXPECT_EQ(root_.Read("game/save.dat"), "new");
  EXPECT_FALSE(root_.Exists("user/save.dat"));
  // A new file goes to the first covering mount that can create it.
  ReadAndRelease(fs_->CreateFile(u"/GameData/fresh.dat", false, false));
  EXPECT_TRUE(root_.Exists("user/fresh.dat"));
}

TEST_F(FileSystemTest, CreateDirectoryMakesTheHostChainThroughVirtualMounts) {
  root_.MakeDir("game");
  ASSERT_NE(Physical(u"/GameDir", "game"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
  ASSERT_NE(Virtual(u"/UserData/SavedGames", true, true, u"/GameData"), nullptr);
  EXPECT_TRUE(fs_->CreateDirectory(u"/UserData/SavedGames/slot/deep"));
  EXPECT_TRUE(root_.Exists("game/slot/deep"));
  EXPECT_TRUE(fs_->CreateDirectory(u"/UserData/SavedGames/slot"));
  EXPECT_EQ(dialogs_.DialogCount() + dialogs_.CallsOf(platform::testing::ScriptedDialogs::Kind::ConsoleWrite).size(),
            0u);
  EXPECT_TRUE(Errors().empty());
}

// ---------------------------------------------------------------------------
// Listing

TEST_F(FileSystemTest, RootListsMountDirectoriesOnceBeforeMountEntries) {
  root_.Write("root/readme.txt", "r");
  root_.MakeDir("root/GameData");
  root_.MakeDir("root/Other");
  ASSERT_NE(Physical(u"/", "root"), nullptr);
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/UserData/SavedGames", "saves"), nullptr);
  ASSERT_NE(Physical(u"/UserData/Caches", "caches"), nullptr);

  std::vector<Entry> newest = List(u"/");
  ASSERT_GE(newest.size(), 2u);
  EXPECT_EQ(std::vector<Entry>(newest.begin(), newest.begin() + 2),
            (std::vector<Entry>{{"UserData", true}, {"GameData", true}}));
  std::vector<Entry> rest(newest.begin() + 2, newest.end());
  std::sort(rest.begin(), rest.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  EXPECT_EQ(rest, (std::vector<Entry>{{"Other", true}, {"readme.txt", false}}));

  std::vector<Entry> oldest = List(u"/", true);
  ASSERT_GE(oldest.size(), 2u);
  EXPECT_EQ(std::vector<Entry>(oldest.begin(), oldest.begin() + 2),
            (std::vector<Entry>{{"GameData", true}, {"UserData", true}}));
  EXPECT_EQ(oldest.size(), 4u);

  EXPECT_EQ(List(u"/UserData"), (std::vector<Entry>{{"Caches", true}, {"SavedGames", true}}));
}

TEST_F(FileSystemTest, NewerExclusiveMountHidesMountsBelowIt) {
  ASSERT_NE(Physical(u"/GameData/Sub", "sub"), nullptr);
  root_.Write("game/file.txt", "f");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  // /GameData/Sub is covered by the newer exclusive /GameData: only its own entries count.
  EXPECT_EQ(List(u"/GameData"), (std::vector<Entry>{{"file.txt", false}}));
  EXPECT_EQ(List(u"/"), (std::vector<Entry>{{"GameData", true}}));
}

TEST_F(FileSystemTest, DuplicateNamesOnceFromTheFirstMountCaseDifferingNamesBoth) {
  root_.Write("game/title.wad", "game");
  root_.Write("game/Title.wad", "game");
  root_.Write("game/Data", "a file in the game");
  root_.Write("game/only-game.txt", "g");
  root_.Write("mod/Title.wad", "mod");
  root_.MakeDir("mod/Data");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/Mods/m", "mod", false), nullptr);
  ASSERT_NE(Virtual(u"/GameData", false, false, u"/Mods/m"), nullptr);

  std::vector<Entry> entries = List(u"/GameData");
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  EXPECT_EQ(entries, (std::vector<Entry>{
                         {"Data", true},  // the mod was asked first: its directory wins
                         {"Title.wad", false},
                         {"only-game.txt", false},
                         {"title.wad", false},
                     }));
}

TEST_F(FileSystemTest, CallbackCanStopTheListing) {
  root_.Write("game/a", "");
  root_.Write("game/b", "");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/UserData/Debug", "debug"), nullptr);
  int calls = 0;
  auto stop = [](const char16_t*, bool, void* user) {
    ++*static_cast<int*>(user);
    return false;
  };
  EXPECT_FALSE(fs_->Enumerate(u"/GameData", stop, &calls, false));
  EXPECT_EQ(calls, 1);
  calls = 0;
  EXPECT_FALSE(fs_->Enumerate(u"/", stop, &calls, false));
  EXPECT_EQ(calls, 1);
  bool result = false;
  EXPECT_TRUE(List(u"/Nowhere", false, &result).empty());
  EXPECT_TRUE(result);
}

// ---------------------------------------------------------------------------
// Nothing escapes a mount

struct TraversalCase {
  const char* name;
  std::u16string path;
};

void PrintTo(const TraversalCase& c, std::ostream* out) { *out << c.name; }

class TraversalTest : public FileSystemTest, public testing::WithParamInterface<TraversalCase> {
 protected:
  void SetUp() override {
    FileSystemTest::SetUp();
    root_.Write("outside.txt", "secret");
    root_.Write("mnt/inside.txt", "inside");
    root_.Write("mnt/sub/deeper.txt", "deeper");
    root_.Write("mnt/C/x", "drive-relative");
    ASSERT_NE(Physical(u"/GameData", "mnt"), nullptr);
    ASSERT_NE(Virtual(u"/Alias", true, true, u"/GameData"), nullptr);
    ASSERT_NE(Virtual(u"/Overlay", false, true, u"/GameData/sub"), nullptr);
    dialogs_.QueueConsoleInput(u"i\ni\ni\ni\ni\ni\ni\ni\n");
  }
};

TEST_P(TraversalTest, EveryOperationRefusesAndTouchesNothingOutside) {
  const auto before = root_.Snapshot();
  const char16_t* path = GetParam().path.c_str();

  EXPECT_FALSE(fs_->Exists(path, true, true));
  EXPECT_EQ(ReadAndRelease(fs_->OpenFile(path, kOpenFileRead)), "<null>");
  EXPECT_EQ(ReadAndRelease(fs_->OpenFile(path, kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing)), "<null>");
  EXPECT_EQ(ReadAndRelease(fs_->CreateFile(path, false, false)), "<null>");
  EXPECT_FALSE(fs_->CreateDirectory(path));  // prompts; the scripted answer is Ignore
  const std::u16string child = GetParam().path + u"/made";
  EXPECT_EQ(ReadAndRelease(fs_->CreateFile(child.c_str(), false, false)), "<null>");
  EXPECT_FALSE(fs_->CreateDirectory(child.c_str()));
  char16_t host[CFileSystem::kMaxPath];
  EXPECT_FALSE(fs_->TranslatePath(path, true, true, nullptr, host, CFileSystem::kMaxPath));
  bool listed = false;
  EXPECT_EQ(List(path, false, &listed), std::vector<Entry>{});
  EXPECT_TRUE(listed);

  EXPECT_EQ(root_.Snapshot(), before) << "a file outside the mount was created or changed";
  EXPECT_TRUE(Errors().empty()) << "a refused component is not found, not an error";
}

INSTANTIATE_TEST_SUITE_P(
    Components, TraversalTest,
    testing::Values(TraversalCase{"Parent", u"/GameData/../outside.txt"},
                    TraversalCase{"ParentOnly", u"/GameData/.."},
                    TraversalCase{"ParentAfterSub", u"/GameData/sub/../../outside.txt"},
                    TraversalCase{"Self", u"/GameData/./inside.txt"},
                    TraversalCase{"SelfOnly", u"/GameData/."},
                    TraversalCase{"BackslashParent", u"/GameData/sub\\..\\..\\outside.txt"},
                    TraversalCase{"BackslashInName", u"/GameData/a\\..\\b"},
                    TraversalCase{"Backslash", u"/GameData/sub\\deeper.txt"},
                    TraversalCase{"DriveColon", u"/GameData/C:x"},
                    TraversalCase{"StreamColon", u"/GameData/inside.txt:stream"},
                    TraversalCase{"ViaExclusiveVirtual", u"/Alias/../outside.txt"},
                    TraversalCase{"ViaNonExclusiveVirtual", u"/Overlay/../../outside.txt"},
                    TraversalCase{"ViaVirtualSelf", u"/Alias/./inside.txt"}),
    [](const testing::TestParamInfo<TraversalCase>& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, TargetPathWithParentComponentStaysInside) {
  root_.Write("outside.txt", "secret");
  root_.Write("mnt/inside.txt", "inside");
  ASSERT_NE(Physical(u"/GameData", "mnt"), nullptr);
  // A mod name such as ".." ends up inside a target path: it must not leave the mount.
  ASSERT_NE(Virtual(u"/Escape", true, true, u"/GameData/.."), nullptr);
  EXPECT_EQ(Open(u"/Escape/outside.txt"), "<null>");
  EXPECT_EQ(ReadAndRelease(fs_->CreateFile(u"/Escape/created.txt", false, false)), "<null>");
  EXPECT_FALSE(root_.Exists("created.txt"));
  EXPECT_EQ(List(u"/Escape"), std::vector<Entry>{});
}

// ---------------------------------------------------------------------------
// Read-only mounts

TEST_F(FileSystemTest, ReadOnlyMountRefusesCreateAndWritableOpen) {
  root_.Write("ro/data.txt", "original");
  ASSERT_NE(Physical(u"/GameData", "ro", false), nullptr);

  EXPECT_EQ(Open(u"/GameData/data.txt"), "original");
  EXPECT_EQ(fs_->OpenFile(u"/GameData/data.txt", kOpenFileRead | kOpenFileWrite), nullptr);
  EXPECT_EQ(fs_->OpenFile(u"/GameData/data.txt", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing), nullptr)
      << "a refused writable open must not turn into a create";
  EXPECT_EQ(fs_->CreateFile(u"/GameData/data.txt", false, false), nullptr);
  EXPECT_EQ(fs_->CreateFile(u"/GameData/new.txt", false, false), nullptr);
  EXPECT_EQ(fs_->OpenFile(u"/GameData/new2.txt", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing), nullptr);
  EXPECT_EQ(root_.Read("ro/data.txt"), "original");
  EXPECT_FALSE(root_.Exists("ro/new.txt"));
  EXPECT_FALSE(root_.Exists("ro/new2.txt"));
  EXPECT_TRUE(dialogs_.Calls().empty()) << "no prompt without prompt flags";

  // With promptOnFailure the refusal is put to the user.
  dialogs_.QueueConsoleInput(u"i\n");
  EXPECT_EQ(fs_->CreateFile(u"/GameData/new.txt", false, true), nullptr);
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            u"The following file could not be created:\n\n/GameData/new.txt\n[C]lose [R]etry [I]gnore\n");

  // A directory that is there already is the answer; a new one is refused like a writable open.
  root_.MakeDir("ro/sub");
  EXPECT_TRUE(fs_->CreateDirectory(u"/GameData/sub"));
  EXPECT_FALSE(fs_->CreateDirectory(u"/GameData/made"));
  EXPECT_FALSE(root_.Exists("ro/made"));
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FileSystemTest, CyclesOfVirtualMountsAreReportedAndFail) {
  const char kCycle[] = "The virtual mount points of a path lead back into each other.";
  using Mounts = std::vector<std::pair<const char16_t*, const char16_t*>>;
  // Onto itself, through a second mount, and a target below its own mount (which grows the path).
  const Mounts cycles[] = {{{u"/a", u"/a"}}, {{u"/a", u"/b"}, {u"/b", u"/a"}}, {{u"/a", u"/a/x"}}};
  for (const Mounts& cycle : cycles) {
    SCOPED_TRACE(Narrow(cycle.back().second));
    std::vector<CFileSystem::tMountPoint*> mounts;
    for (const auto& [path, target] : cycle) mounts.push_back(Virtual(path, true, true, target));
    const std::size_t before = Errors().size();
    EXPECT_FALSE(fs_->Exists(u"/a/f", true, true));
    EXPECT_EQ(Open(u"/a/f"), "<null>");
    EXPECT_EQ(fs_->CreateFile(u"/a/f", false, false), nullptr);
    EXPECT_TRUE(List(u"/a").empty());
    const std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), before + 4);  // once per operation
    for (std::size_t i = before; i < errors.size(); ++i) EXPECT_EQ(errors[i], kCycle);
    for (CFileSystem::tMountPoint* mount : mounts) delete mount;
  }
}

TEST_F(FileSystemTest, ReadOnlyVirtualMountRefusesWritesAndDoesNotFallThrough) {
  root_.Write("game/data.txt", "game");
  root_.Write("mod/data.txt", "mod");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/Mods/m", "mod", false), nullptr);
  ASSERT_NE(Virtual(u"/GameData", false, false, u"/Mods/m"), nullptr);

  EXPECT_EQ(fs_->OpenFile(u"/GameData/data.txt", kOpenFileRead | kOpenFileWrite), nullptr)
      << "the overlay's file is the one the path names; the game's copy must not be opened for writing";
  EXPECT_EQ(fs_->CreateFile(u"/GameData/data.txt", false, false), nullptr);
  EXPECT_EQ(root_.Read("game/data.txt"), "game");
  EXPECT_EQ(root_.Read("mod/data.txt"), "mod");
  EXPECT_EQ(Open(u"/GameData/data.txt"), "mod");
}

// ---------------------------------------------------------------------------
// Files that exist but cannot be opened or replaced

TEST_F(FileSystemTest, ExistingFileThatFailsToOpenIsNeverCreatedAnew) {
  // A read-only file cannot be opened for writing; creating it would clear the
  // attribute and truncate it.
  root_.Write("game/keep.txt", "keep me");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  const std::u16string host = root_.WideSub("game/keep.txt");
  ASSERT_TRUE(SetFileAttributesW(host.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(fs_->OpenFile(u"/GameData/keep.txt", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing), nullptr);
  EXPECT_TRUE(dialogs_.Calls().empty());
  dialogs_.QueueConsoleInput(u"r\ni\n");
  EXPECT_EQ(fs_->OpenFile(u"/GameData/keep.txt", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing |
                                                     kOpenFilePromptIfMissing | kOpenFilePromptOnFailure),
            nullptr);

  EXPECT_EQ(root_.Read("game/keep.txt"), "keep me");
  EXPECT_NE(GetFileAttributesW(host.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  const std::u16string prompt =
      u"The following file could not be opened:\n\n/GameData/keep.txt\n[C]lose [R]etry [I]gnore\n";
  EXPECT_EQ(dialogs_.ConsoleOutput(), prompt + prompt) << "Retry asks again, Ignore gives up";
  EXPECT_EQ(Open(u"/GameData/keep.txt"), "keep me") << "reading it still works";
}

// Records what the file system asks of a mount point.
class ScriptedMount : public CFileSystem::tMountPoint {
 public:
  ScriptedMount(CFileSystem* fileSystem, const char16_t* path) : tMountPoint(fileSystem, path, true) {}
  bool TranslatePath(const char16_t*, bool, bool, bool*, char16_t*, std::uint32_t) override { return false; }
  bool OpenFile(const char16_t*, bool, bool, CStream** stream) override {
    ++opens;
    *stream = nullptr;
    return true;  // found, but it could not be opened
  }
  bool Exists(const char16_t*, bool fileOk, bool) override { return fileOk; }
  CStream* CreateFile(const char16_t*) override {
    ++creates;
    return nullptr;
  }
  bool Enumerate(const char16_t*, tEnumerateCallback, void*, tReportedNames*, bool) override { return true; }
  int opens = 0;
  int creates = 0;
};

TEST_F(FileSystemTest, FoundFileWithoutStreamNeverReachesCreate) {
  auto* mount = new ScriptedMount(fs_.get(), u"/Locked");
  for (const bool prompt : {false, true}) {
    dialogs_.QueueConsoleInput(u"i\n");
    EXPECT_EQ(fs_->OpenFile(u"/Locked/file", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing |
                                                 (prompt ? kOpenFilePromptOnFailure : 0u)),
              nullptr);
    EXPECT_EQ(fs_->OpenFile(u"/Locked/file", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing |
                                                 (prompt ? kOpenFilePromptIfMissing | kOpenFilePromptOnFailure : 0u)),
              nullptr);
  }
  EXPECT_EQ(mount->opens, 4);
  EXPECT_EQ(mount->creates, 0);
}

// A socket file exists and takes attributes, but can never be opened as a file.
std::u16string MakeSocketFile(const TempDir& root, const std::string& relative) {
  const std::string path = root.Sub(relative);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) close(fd);
  return bound ? Wide(path) : std::u16string();
}

TEST_F(FileSystemTest, FailedCreateRestoresTheFilesAttributes) {
  root_.MakeDir("game");
  const std::u16string host = MakeSocketFile(root_, "game/locked.sav");
  ASSERT_FALSE(host.empty());
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_TRUE(SetFileAttributesW(host.c_str(), FILE_ATTRIBUTE_READONLY));
  const DWORD before = GetFileAttributesW(host.c_str());
  ASSERT_NE(before, INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(before & FILE_ATTRIBUTE_READONLY, 0u);

  EXPECT_EQ(fs_->CreateFile(u"/GameData/locked.sav", false, false), nullptr);
  EXPECT_EQ(GetFileAttributesW(host.c_str()), before) << "the read-only attribute must come back";
  EXPECT_EQ(CreateHostFile(&context_, &context_, host.c_str(), false, false), nullptr);
  EXPECT_EQ(GetFileAttributesW(host.c_str()), before);

  // A create that works replaces the content of an ordinary read-only file.
  root_.Write("game/plain.sav", "old");
  const std::u16string plain = root_.WideSub("game/plain.sav");
  ASSERT_TRUE(SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_READONLY));
  CStream* stream = fs_->CreateFile(u"/GameData/plain.sav", false, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("new", 1, 3), 3u);
  stream->Release();
  EXPECT_EQ(root_.Read("game/plain.sav"), "new");
  EXPECT_TRUE(Errors().empty());
}

// ---------------------------------------------------------------------------
// Prompts

TEST_F(FileSystemTest, NotFoundPromptRetriesUntilIgnored) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.QueueConsoleInput(u"R\nr\ni\n");
  EXPECT_EQ(fs_->OpenFile(u"GameData//missing.txt", kOpenFileRead | kOpenFilePromptIfMissing), nullptr);
  const std::u16string prompt = u"The following file was not found:\n\nGameData//missing.txt\n[C]lose [R]etry [I]gnore\n";
  EXPECT_EQ(dialogs_.ConsoleOutput(), prompt + prompt + prompt) << "the path is shown as the caller gave it";
}

TEST_F(FileSystemTest, CreatePromptCreatesOnYesOnly) {
  root_.MakeDir("game");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.QueueConsoleInput(u"n\n");
  EXPECT_EQ(fs_->OpenFile(u"/GameData/new.txt",
                          kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing | kOpenFilePromptIfMissing),
            nullptr);
  EXPECT_FALSE(root_.Exists("game/new.txt"));
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            u"The following file does not exist:\n\n/GameData/new.txt\n\nWould you like to create it?\n[Y]es [N]o\n");

  dialogs_.ClearCalls();
  dialogs_.QueueConsoleInput(u"y\n");
  CStream* stream = fs_->OpenFile(u"/GameData/new.txt",
                                  kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing | kOpenFilePromptIfMissing);
  ASSERT_NE(stream, nullptr);
  stream->Release();
  EXPECT_TRUE(root_.Exists("game/new.txt"));
  EXPECT_EQ(dialogs_.CallsOf(platform::testing::ScriptedDialogs::Kind::ConsoleRead).size(), 2u)
      << "one prompt: the file did not exist, so no overwrite question follows";
}

TEST_F(FileSystemTest, OverwritePromptKeepsTheFileOnNo) {
  root_.Write("game/save.dat", "precious");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.QueueConsoleInput(u"n\n");
  EXPECT_EQ(fs_->CreateFile(u"/GameData/save.dat", true, false), nullptr);
  EXPECT_EQ(root_.Read("game/save.dat"), "precious");
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            u"The following file already exists:\n\n/GameData/save.dat\n\nWould you like to overwrite it?\n"
            u"[Y]es [N]o [C]lose\n");

  dialogs_.QueueConsoleInput(u"y\n");
  CStream* stream = fs_->CreateFile(u"/GameData/save.dat", true, false);
  ASSERT_NE(stream, nullptr);
  stream->Release();
  EXPECT_EQ(root_.Read("game/save.dat"), "");
}

TEST_F(FileSystemTest, DirectoryFailurePromptAfterTheChainGivesUp) {
  root_.Write("game/blocker", "a file where a directory should go");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.QueueConsoleInput(u"i\ni\n");
  EXPECT_FALSE(fs_->CreateDirectory(u"/GameData/blocker/sub"));
  const std::string output = Narrow(dialogs_.ConsoleOutput());
  EXPECT_NE(output.find("The following directory could not be created:\n\n" + root_.Sub("game") +
                        "\\blocker\\sub\n[C]lose [R]etry [I]gnore\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("The following directory could not be created:\n\n/GameData/blocker/sub\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(root_.Read("game/blocker"), "a file where a directory should go");
}

TEST_F(FileSystemTest, RetryAfterNotFoundFindsAFileThatAppeared) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.onFirstPrompt = [this] { root_.Write("game/late.txt", "arrived"); };
  dialogs_.QueueConsoleInput(u"r\n");
  CStream* stream = fs_->OpenFile(u"/GameData/late.txt", kOpenFileRead | kOpenFilePromptIfMissing);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(ReadAndRelease(stream), "arrived");
  EXPECT_EQ(dialogs_.prompts, 1);
}

TEST_F(FileSystemTest, RetryAfterAFailedCreateSucceedsOnceTheWayIsClear) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  // "blocked/new.txt" cannot be made while "blocked" is a file; the user clears the
  // way before answering Retry, and the second attempt makes the file.
  root_.Write("game/blocked", "a file");
  dialogs_.onFirstPrompt = [this] {
    std::remove(root_.Sub("game/blocked").c_str());
    root_.MakeDir("game/blocked");
  };
  dialogs_.QueueConsoleInput(u"r\n");
  CStream* stream = fs_->CreateFile(u"/GameData/blocked/new.txt", false, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("made", 1, 4), 4u);
  stream->Release();
  EXPECT_EQ(root_.Read("game/blocked/new.txt"), "made");
  EXPECT_EQ(dialogs_.prompts, 1);
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            u"The following file could not be created:\n\n/GameData/blocked/new.txt\n[C]lose [R]etry [I]gnore\n");
}

// At the end of input each prompt gives its fallback: never Close (which would end
// the process), never a second question.
TEST_F(FileSystemTest, EndOfInputTakesEachPromptsFallback) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  root_.Write("game/kept.txt", "kept");
  // Not found: Ignore.
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", kOpenFileRead | kOpenFilePromptIfMissing | kOpenFilePromptOnFailure),
            nullptr);
  // Create: No.
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing |
                                                     kOpenFilePromptIfMissing | kOpenFilePromptOnFailure),
            nullptr);
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  // Already exists: No.
  EXPECT_EQ(fs_->CreateFile(u"/GameData/kept.txt", true, true), nullptr);
  EXPECT_EQ(root_.Read("game/kept.txt"), "kept");
  EXPECT_EQ(dialogs_.prompts, 3);
  EXPECT_TRUE(context_.GetErrors().empty());
}

// Each prompt's icon and buttons as a message box: not found (warning, Close /
// Retry / Ignore), create (warning, Yes / No), already exists (warning, Yes / No /
// Close), failure (error, Close / Retry / Ignore).
TEST_F(FileSystemTest, EachPromptsIconAndButtonsInAMessageBox) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  using Kind = platform::testing::ScriptedDialogs::Kind;
  context_.SetDisplayMode(MessageDisplayMode::ServiceMessageBox);
  root_.Write("game/old.txt", "old");
  MountPhysicalDirectory(u"/ReadOnly", false, root_.WideSub("game").c_str());
  dialogs_.QueueMessageBox(IDIGNORE);  // not found: Ignore
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", kOpenFileRead | kOpenFilePromptIfMissing), nullptr);
  dialogs_.QueueMessageBox(IDNO);  // create: No
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt",
                          kOpenFileRead | kOpenFileWrite | kOpenFileCreateIfMissing | kOpenFilePromptIfMissing),
            nullptr);
  dialogs_.QueueMessageBox(IDNO);  // already exists: No
  EXPECT_EQ(fs_->CreateFile(u"/GameData/old.txt", true, false), nullptr);
  dialogs_.QueueMessageBox(IDIGNORE);  // failure: Ignore
  EXPECT_EQ(fs_->CreateFile(u"/ReadOnly/new.txt", false, true), nullptr);

  const auto boxes = dialogs_.CallsOf(Kind::MessageBox);
  ASSERT_EQ(boxes.size(), 4u);
  const struct {
    UINT type;
    std::u16string text;
  } expected[] = {
      {MB_ABORTRETRYIGNORE | MB_ICONWARNING, u"The following file was not found:\n\n/GameData/none.txt"},
      {MB_YESNO | MB_ICONWARNING,
       u"The following file does not exist:\n\n/GameData/none.txt\n\nWould you like to create it?"},
      {MB_YESNOCANCEL | MB_ICONWARNING,
       u"The following file already exists:\n\n/GameData/old.txt\n\nWould you like to overwrite it?"},
      {MB_ABORTRETRYIGNORE | MB_ICONERROR, u"The following file could not be created:\n\n/ReadOnly/new.txt"},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(boxes[i].type, expected[i].type | MB_SERVICE_NOTIFICATION);
    EXPECT_EQ(boxes[i].text, expected[i].text);
  }
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  EXPECT_EQ(root_.Read("game/old.txt"), "old");
}

TEST_F(FileSystemTest, OverlongPromptTextIsReportedNotShown) {
  root_.MakeDir("game");
  const std::u16string missing = root_.WideSub("game/") + std::u16string(2100, u'm');
  EXPECT_EQ(OpenHostFile(&context_, &context_, missing.c_str(), false, true, true), nullptr);
  EXPECT_EQ(Errors(), std::vector<std::string>{kCopyTooShort});
  EXPECT_TRUE(dialogs_.Calls().empty());
}

// ---------------------------------------------------------------------------
// Buffer limits

TEST_F(FileSystemTest, OverlongPathsAreReportedNeverWrittenPastABuffer) {
  root_.MakeDir("game");
  // Mounting: virtual path, host directory and target path that do not fit.
  EXPECT_EQ(MountPhysicalDirectory((u"/" + std::u16string(300, u'v')).c_str(), true, u"/tmp"), nullptr);
  EXPECT_EQ(MountPhysicalDirectory(u"/Long", true, (u"/" + std::u16string(300, u'h')).c_str()), nullptr);
  EXPECT_EQ(MountVirtualDirectory(u"/Long", true, true, (u"/" + std::u16string(300, u't')).c_str()), nullptr);
  EXPECT_EQ(Errors(), (std::vector<std::string>{kBufferFull, kCopyTooShort, kCopyTooShort}));
  EXPECT_EQ(fs_->GetNewestMountPoint(), nullptr);

  // A host directory of 250 characters leaves no room for a long component.
  const std::u16string longHost = root_.WideSub("game/") + std::u16string(250 - root_.WideSub("game/").size(), u'd');
  ASSERT_NE(MountPhysicalDirectory(u"/Deep", true, longHost.c_str()), nullptr);
  const std::size_t before = Errors().size();
  EXPECT_FALSE(fs_->Exists(u"/Deep/a-name-that-does-not-fit", true, true));
  EXPECT_EQ(fs_->CreateFile(u"/Deep/a-name-that-does-not-fit", false, true), nullptr);
  EXPECT_EQ(Errors().size(), before + 2);
  EXPECT_EQ(Errors().back(), kBufferFull);
  EXPECT_TRUE(dialogs_.Calls().empty()) << "an error in the context is not also a prompt";

  // A virtual target plus the relative path beyond the limit.
  ASSERT_NE(Virtual(u"/V", true, true, (u"/Deep/" + std::u16string(200, u'x')).c_str()), nullptr);
  EXPECT_FALSE(fs_->Exists((u"/V/" + std::u16string(100, u'y')).c_str(), true, true));
  EXPECT_EQ(Errors().back(), kBufferFull);

  // The directory chain is checked before anything is made.
  const std::u16string longChain = root_.WideSub("game/chain/") + std::u16string(260, u'c');
  EXPECT_FALSE(CreateHostDirectoryChain(&context_, &context_, longChain.c_str()));
  EXPECT_EQ(Errors().back(), kBufferFull);
  EXPECT_FALSE(root_.Exists("game/chain"));
}

// ---------------------------------------------------------------------------
// Host operations

TEST_F(FileSystemTest, HostDirectoryChainCreatesEachMissingLevel) {
  const std::u16string chain = root_.WideSub("a/b\\c/");
  EXPECT_TRUE(CreateHostDirectoryChain(&context_, &context_, chain.c_str()));
  EXPECT_TRUE(root_.Exists("a/b/c"));
  EXPECT_TRUE(CreateHostDirectoryChain(&context_, &context_, chain.c_str())) << "existing levels are fine";
  EXPECT_TRUE(dialogs_.Calls().empty());
}

TEST_F(FileSystemTest, HostListingSkipsDotEntriesAndStopsOnFalse) {
  root_.Write("d/one", "1");
  root_.MakeDir("d/two");
  std::vector<Entry> entries;
  EXPECT_TRUE(EnumerateHostDirectory(root_.WideSub("d").c_str(), Collect, &entries));
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  EXPECT_EQ(entries, (std::vector<Entry>{{"one", false}, {"two", true}}));
  EXPECT_TRUE(EnumerateHostDirectory(root_.WideSub("missing").c_str(), Collect, &entries));
  int calls = 0;
  EXPECT_FALSE(EnumerateHostDirectory(
      root_.WideSub("d").c_str(),
      [](const char16_t*, bool, void* user) {
        ++*static_cast<int*>(user);
        return false;
      },
      &calls));
  EXPECT_EQ(calls, 1);
}

// ---------------------------------------------------------------------------
// Ending the process and unreadable directories (in child processes)

using FileSystemDeathTest = FileSystemTest;

struct ClosePrompt {
  const char* name;
  int which;
};

class FileSystemCloseDeathTest : public FileSystemTest, public testing::WithParamInterface<ClosePrompt> {};

TEST_P(FileSystemCloseDeathTest, CloseEndsTheProcessWithExitCodeZero) {
  root_.Write("game/existing.txt", "x");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/ReadOnly", "ro", false), nullptr);
  const int which = GetParam().which;
  EXPECT_EXIT(
      {
        dialogs_.QueueConsoleInput(u"c\n");
        switch (which) {
          case 0:  // not found
            fs_->OpenFile(u"/GameData/missing.txt", kOpenFileRead | kOpenFilePromptIfMissing);
            break;
          case 1:  // already exists
            fs_->CreateFile(u"/GameData/existing.txt", true, false);
            break;
          case 2:  // failure
            fs_->CreateFile(u"/ReadOnly/new.txt", false, true);
            break;
          default:  // host not found
            OpenHostFile(&context_, &context_, root_.WideSub("nothing").c_str(), false, true, false);
            break;
        }
        std::exit(42);  // only reached when Close did not end the process
      },
      testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Prompts, FileSystemCloseDeathTest,
                         testing::Values(ClosePrompt{"NotFound", 0}, ClosePrompt{"AlreadyExists", 1},
                                         ClosePrompt{"Failure", 2}, ClosePrompt{"HostNotFound", 3}),
                         [](const testing::TestParamInfo<ClosePrompt>& info) { return std::string(info.param.name); });

// Leaves root (which reads every directory) for an ordinary user; exit code 10
// when that is not possible here.
void BecomeOrdinaryUser() {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) std::_Exit(10);
}

TEST_F(FileSystemDeathTest, UnlistableDirectoryDoesNotEndTheListing) {
  root_.Write("game/a.txt", "a");
  root_.Write("game/b.txt", "b");
  root_.Write("mod/hidden.txt", "h");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/Mods/m", "mod", false), nullptr);
  ASSERT_NE(Virtual(u"/GameData", false, false, u"/Mods/m"), nullptr);
  ASSERT_EQ(chmod(root_.Sub("mod").c_str(), 0311), 0);  // searchable, not listable
  const std::u16string pattern = root_.WideSub("mod") + u"\\*";
  EXPECT_EXIT(
      {
        BecomeOrdinaryUser();
        WIN32_FIND_DATAW probe;
        if (FindFirstFileW(pattern.c_str(), &probe) != INVALID_HANDLE_VALUE) std::_Exit(11);
        std::vector<Entry> entries;
        const bool done = fs_->Enumerate(u"/GameData", Collect, &entries, false);
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
        if (!done) std::_Exit(1);
        if (entries != std::vector<Entry>{{"a.txt", false}, {"b.txt", false}}) std::_Exit(2);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
