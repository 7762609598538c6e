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

using fstest::Narrow;
using fstest::Wide;
using Kind = platform::testing::ScriptedDialogs::Kind;
using Names = std::vector<std::string>;

const char kBufferFull[] =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";
const char kCopyTooShort[] = "An attempt was made to copy a string into a buffer too short to hold the string.";
constexpr std::uint32_t kReadWrite = kOpenFileRead | kOpenFileWrite;
constexpr std::uint32_t kReadWriteCreate = kReadWrite | kOpenFileCreateIfMissing;
constexpr std::uint32_t kPromptAlways = kOpenFilePromptIfMissing | kOpenFilePromptOnFailure;

std::string ReadAndRelease(CStream* stream) {
  if (stream == nullptr) return "<null>";
  std::string content;
  char buffer[256];
  for (std::uint32_t got; (got = stream->Read(buffer, 1, sizeof buffer)) != 0;) content.append(buffer, got);
  stream->Release();
  return content;
}

// Writes text through a stream and lets it go; false when there was no stream.
bool WriteAndRelease(CStream* stream, const std::string& text) {
  if (stream == nullptr) return false;
  const bool written = stream->Write(text.data(), 1, std::uint32_t(text.size())) == text.size();
  stream->Release();
  return written;
}

// A console prompt as the file system writes it.
std::u16string Prompt(const std::u16string& what, const std::u16string& path,
                      const std::u16string& buttons = u"[C]lose [R]etry [I]gnore") {
  return u"The following " + what + u":\n\n" + path + u"\n" + buttons + u"\n";
}

// Entries as "name", directories as "name/".
bool Collect(const char16_t* name, bool isDirectory, void* user) {
  static_cast<Names*>(user)->push_back(Narrow(name) + (isDirectory ? "/" : ""));
  return true;
}

bool CountAndStop(const char16_t*, bool, void* user) {
  ++*static_cast<int*>(user);
  return false;
}

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Runs an action the first time a prompt line is written, as a user who fixes things before answering would.
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

  void Files(std::initializer_list<std::pair<std::string, std::string>> files) {
    for (const auto& [path, content] : files) root_.Write(path, content);
  }
  CFileSystem::tMountPoint* Physical(const char16_t* virtualPath, const std::string& host, bool writable = true) {
    root_.MakeDir(host);
    return MountPhysicalDirectory(virtualPath, writable, root_.WideSub(host).c_str());
  }
  CFileSystem::tMountPoint* Virtual(const char16_t* path, bool exclusive, bool writable, const char16_t* target) {
    return MountVirtualDirectory(path, exclusive, writable, target);
  }
  // /GameDir on "game", /GameData on it and /UserData/SavedGames on that, all exclusive and writable.
  void SaveChain() {
    ASSERT_NE(Physical(u"/GameDir", "game"), nullptr);
    ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
    ASSERT_NE(Virtual(u"/UserData/SavedGames", true, true, u"/GameData"), nullptr);
  }
  // /GameData on "game", with the read-only mod "mod" laid over it (not exclusive, not writable).
  void ModOverlay() {
    ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
    ASSERT_NE(Physical(u"/Mods/m", "mod", false), nullptr);
    ASSERT_NE(Virtual(u"/GameData", false, false, u"/Mods/m"), nullptr);
  }

  std::string Open(const char16_t* path, std::uint32_t flags = kOpenFileRead) {
    return ReadAndRelease(fs_->OpenFile(path, flags));
  }
  std::string Create(const char16_t* path, bool promptBeforeOverwrite = false, bool promptOnFailure = false) {
    return ReadAndRelease(fs_->CreateFile(path, promptBeforeOverwrite, promptOnFailure));
  }
  Names List(const char16_t* path, bool oldestFirst = false, bool* result = nullptr) {
    Names entries;
    const bool done = fs_->Enumerate(path, Collect, &entries, oldestFirst);
    if (result != nullptr) *result = done;
    return entries;
  }
  Names Errors() const { return context_.GetErrors(); }

  fstest::TempDir root_;
  fstest::CollectingAppContext context_;
  FixingDialogs dialogs_;
  std::unique_ptr<CFileSystem> fs_;
};

// ---------------------------------------------------------------------------
// Paths

// An empty expectation: the path does not fit and is reported.
TEST_F(FileSystemTest, ResolvePathJoinsComponentsAndReportsWhatDoesNotFit) {
  const std::u16string n255(255, u'n'), a200(200, u'a');
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u"/"},
      {u"/", u"/"},
      {u"a//b", u"/a/b"},
      {u"/a/b", u"/a/b"},
      {u"a/b/", u"/a/b/"},
      {u"///", u"/"},
      {u"/GameData/../x", u"/GameData/../x"},
      {u"./a", u"/./a"},
      {u"a\\b", u"/a\\b"},
      {n255, u"/" + n255},
      {u"ab/" + n255, u"/ab/" + n255},
      {a200 + u"/" + std::u16string(57, u'b'), u"/" + a200 + u"/" + std::u16string(57, u'b')},  // 259 characters
      {std::u16string(256, u'c'), u""},               // one component too long
      {a200 + u"/" + std::u16string(58, u'b'), u""},  // 260 characters: no room for the terminator
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(Narrow(input).substr(0, 20));
    char16_t out[CFileSystem::kMaxPath + 8];
    std::fill(std::begin(out), std::end(out), u'#');
    const std::size_t errors = Errors().size();
    ASSERT_EQ(fs_->ResolvePath(input.c_str(), out), !expected.empty());
    if (!expected.empty()) {
      EXPECT_EQ(Narrow(out), Narrow(expected));
    }
    EXPECT_EQ(Errors().size(), errors + (expected.empty() ? 1 : 0));
    for (std::size_t i = CFileSystem::kMaxPath; i < std::size(out); ++i) EXPECT_EQ(out[i], u'#') << "past at " << i;
  }
  EXPECT_EQ(Errors(), (Names{kBufferFull, kBufferFull}));
}

TEST_F(FileSystemTest, MountPathCoversPathsAtOrBelowIt) {
  const struct {
    std::u16string mount, path;
    const char16_t* relative;  // null: not covered
  } cases[] = {{u"/", u"/any/where", u"/any/where"},     {u"/", u"/", u"/"},
               {u"/UserData", u"/UserData", u"/"},       {u"/UserData", u"/UserData/x/y", u"/x/y"},
               {u"/UserData", u"/UserData/", u"/"},      {u"/UserData", u"/UserDataX", nullptr},
               {u"/UserData", u"/UserDataX/y", nullptr}, {u"/UserData", u"/userdata/x", nullptr},
               {u"/UserData", u"/User", nullptr},        {u"/UserData/SavedGames", u"/UserData", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.mount + u" " + c.path));
    std::unique_ptr<CFileSystem::tMountPoint> mount(Physical(c.mount.c_str(), "m"));
    ASSERT_NE(mount, nullptr);
    char16_t relative[CFileSystem::kMaxPath] = u"untouched";
    EXPECT_EQ(mount->MatchPath(c.path.c_str(), relative), c.relative != nullptr);
    if (c.relative != nullptr) {
      EXPECT_EQ(Narrow(relative), Narrow(c.relative));
    }
  }
}

// ---------------------------------------------------------------------------
// Search order

TEST_F(FileSystemTest, NewestMountIsTheOnlyOneAskedForItsPath) {
  Files({{"old/only-old.txt", "old"}, {"old/both.txt", "old both"}, {"new/both.txt", "new both"}});
  ASSERT_NE(Physical(u"/GameData", "old"), nullptr);
  CFileSystem::tMountPoint* newer = Physical(u"/GameData", "new");
  ASSERT_EQ(fs_->GetNewestMountPoint(), newer);

  EXPECT_EQ(Open(u"/GameData/both.txt"), "new both");
  EXPECT_EQ(Open(u"/GameData/only-old.txt"), "<null>") << "the older mount must never be asked";
  EXPECT_FALSE(fs_->Exists(u"/GameData/only-old.txt", true, true));
  EXPECT_EQ(List(u"/GameData"), Names{"both.txt"});
  // Creating goes to the newest mount too, never next to the older file.
  EXPECT_EQ(Create(u"/GameData/only-old.txt"), "");
  EXPECT_TRUE(root_.Exists("new/only-old.txt"));
  EXPECT_EQ(root_.Read("old/only-old.txt"), "old");
  // Deleting a mount point unlinks it.
  delete newer;
  EXPECT_EQ(Open(u"/GameData/both.txt"), "old both");
  EXPECT_EQ(fs_->GetNewestMountPoint(), fs_->GetOldestMountPoint());
}

// A shared physical mount (the game CD over the install directory) covers only what it holds.
TEST_F(FileSystemTest, SharedPhysicalMountLeavesTheRestToOlderMounts) {
  Files({{"install/only-install.txt", "install"}, {"install/both.txt", "install both"}, {"cd/both.txt", "cd both"}});
  ASSERT_NE(Physical(u"/GameDir", "install"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", true, true, u"/GameDir"), nullptr);
  CFileSystem::tMountPoint* cd = MountSharedPhysicalDirectory(u"/GameDir", false, root_.WideSub("cd").c_str());
  ASSERT_NE(cd, nullptr);
  EXPECT_FALSE(cd->IsExclusive());

  EXPECT_EQ(Open(u"/GameData/both.txt"), "cd both");
  EXPECT_EQ(Open(u"/GameData/only-install.txt"), "install");
  // The read-only CD takes no file: creating reaches the writable install directory.
  EXPECT_EQ(Create(u"/GameData/saved.txt"), "");
  EXPECT_TRUE(root_.Exists("install/saved.txt"));
  EXPECT_FALSE(root_.Exists("cd/saved.txt"));
  delete cd;
  EXPECT_EQ(Open(u"/GameData/both.txt"), "install both");
}

// The overlay's file is the one the path names: it is not opened for writing, nor the game's copy instead.
TEST_F(FileSystemTest, NonExclusiveVirtualMountFallsThroughExclusiveDoesNot) {
  Files({{"game/base.txt", "base"}, {"game/shared.txt", "game shared"}, {"mod/shared.txt", "mod shared"}});
  ModOverlay();
  EXPECT_EQ(Open(u"/GameData/shared.txt"), "mod shared");
  EXPECT_EQ(Open(u"/GameData/base.txt"), "base") << "a file missing in the overlay comes from older mounts";
  EXPECT_TRUE(fs_->Exists(u"/GameData/base.txt", true, false));
  EXPECT_EQ(Open(u"/GameData/shared.txt", kReadWrite), "<null>");
  EXPECT_EQ(Create(u"/GameData/shared.txt"), "<null>");
  EXPECT_EQ(root_.Read("game/shared.txt"), "game shared");
  EXPECT_EQ(root_.Read("mod/shared.txt"), "mod shared");

  delete fs_->GetNewestMountPoint();
  ASSERT_NE(Virtual(u"/GameData", true, false, u"/Mods/m"), nullptr);
  EXPECT_EQ(Open(u"/GameData/shared.txt"), "mod shared");
  EXPECT_EQ(Open(u"/GameData/base.txt"), "<null>") << "an exclusive mount ends the search";
  EXPECT_FALSE(fs_->Exists(u"/GameData/base.txt", true, false));
}

TEST_F(FileSystemTest, HostLookupIgnoresCase) {
  Files({{"game/Data/Title.WAD", "title"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  EXPECT_EQ(Open(u"/GameData/data/title.wad"), "title");
  EXPECT_EQ(Open(u"/GameData/DATA/TITLE.wad"), "title");
  EXPECT_TRUE(fs_->Exists(u"/GameData/data", false, true));
  EXPECT_FALSE(fs_->Exists(u"/GameData/data", true, false)) << "a directory is not a file";
  EXPECT_EQ(Open(u"/GameData/data"), "<null>");
}

TEST_F(FileSystemTest, FilesAndDirectoriesAreMadeThroughAChainOfVirtualMounts) {
  SaveChain();
  EXPECT_EQ(Open(u"/UserData/SavedGames/savegame.0", kReadWrite), "<null>");
  EXPECT_TRUE(WriteAndRelease(fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kReadWriteCreate), "saved"));
  EXPECT_EQ(root_.Read("game/savegame.0"), "saved");
  // A writable open of the existing file.
  CStream* stream = fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kReadWrite);
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->IsWritable());
  ASSERT_TRUE(stream->Seek(0, CStream::kSeekEnd));
  EXPECT_TRUE(WriteAndRelease(stream, "!"));
  EXPECT_EQ(root_.Read("game/savegame.0"), "saved!");

  EXPECT_TRUE(fs_->CreateDirectory(u"/UserData/SavedGames/slot/deep"));
  EXPECT_TRUE(root_.Exists("game/slot/deep"));
  EXPECT_TRUE(fs_->CreateDirectory(u"/UserData/SavedGames/slot"));
  EXPECT_TRUE(dialogs_.Calls().empty());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FileSystemTest, CreateFileReplacesAnExistingFileWhereItIs) {
  Files({{"game/save.dat", "old content"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  // A non-exclusive writable overlay that lacks the file: the file is replaced in the older mount that has it.
  ASSERT_NE(Physical(u"/User", "user"), nullptr);
  ASSERT_NE(Virtual(u"/GameData", false, true, u"/User"), nullptr);
  CStream* stream = fs_->CreateFile(u"/GameData/save.dat", false, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetSize(true), 0u);
  EXPECT_TRUE(WriteAndRelease(stream, "new"));
  EXPECT_EQ(root_.Read("game/save.dat"), "new");
  EXPECT_FALSE(root_.Exists("user/save.dat"));
  // A new file goes to the first covering mount that can create it.
  EXPECT_EQ(Create(u"/GameData/fresh.dat"), "");
  EXPECT_TRUE(root_.Exists("user/fresh.dat"));
}

// ---------------------------------------------------------------------------
// Listing

TEST_F(FileSystemTest, RootListsMountDirectoriesOnceBeforeMountEntries) {
  Files({{"root/readme.txt", "r"}});
  root_.MakeDir("root/GameData");
  root_.MakeDir("root/Other");
  const std::pair<const char16_t*, const char*> mounts[] = {
      {u"/", "root"}, {u"/GameData", "game"}, {u"/UserData/SavedGames", "saves"}, {u"/UserData/Caches", "caches"}};
  for (const auto& [path, host] : mounts) ASSERT_NE(Physical(path, host), nullptr);

  const Names newest = List(u"/"), oldest = List(u"/", true);
  ASSERT_EQ(newest.size(), 4u);
  EXPECT_EQ(Names(newest.begin(), newest.begin() + 2), (Names{"UserData/", "GameData/"}));
  EXPECT_EQ(Sorted(Names(newest.begin() + 2, newest.end())), (Names{"Other/", "readme.txt"}));
  ASSERT_EQ(oldest.size(), 4u);
  EXPECT_EQ(Names(oldest.begin(), oldest.begin() + 2), (Names{"GameData/", "UserData/"}));
  EXPECT_EQ(List(u"/UserData"), (Names{"Caches/", "SavedGames/"}));
}

TEST_F(FileSystemTest, NewerExclusiveMountHidesMountsBelowIt) {
  ASSERT_NE(Physical(u"/GameData/Sub", "sub"), nullptr);
  Files({{"game/file.txt", "f"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  EXPECT_EQ(List(u"/GameData"), Names{"file.txt"});
  EXPECT_EQ(List(u"/"), Names{"GameData/"});
}

// The mod is asked first: its directory "Data" wins over the game's file of that name.
TEST_F(FileSystemTest, DuplicateNamesOnceFromTheFirstMountCaseDifferingNamesBoth) {
  Files({{"game/title.wad", "game"},
         {"game/Title.wad", "game"},
         {"game/Data", "a file"},
         {"game/only-game.txt", "g"},
         {"mod/Title.wad", "mod"}});
  root_.MakeDir("mod/Data");
  ModOverlay();
  EXPECT_EQ(Sorted(List(u"/GameData")), (Names{"Data/", "Title.wad", "only-game.txt", "title.wad"}));
}

TEST_F(FileSystemTest, CallbackCanStopTheListing) {
  Files({{"game/a", ""}, {"game/b", ""}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/UserData/Debug", "debug"), nullptr);
  for (const char16_t* path : {u"/GameData", u"/"}) {
    int calls = 0;
    EXPECT_FALSE(fs_->Enumerate(path, CountAndStop, &calls, false));
    EXPECT_EQ(calls, 1);
  }
  bool result = false;
  EXPECT_TRUE(List(u"/Nowhere", false, &result).empty());
  EXPECT_TRUE(result);
}

// ---------------------------------------------------------------------------
// Nothing escapes a mount

TEST_F(FileSystemTest, EveryOperationRefusesTraversalAndTouchesNothingOutside) {
  Files({{"outside.txt", "secret"},
         {"mnt/inside.txt", "inside"},
         {"mnt/sub/deeper.txt", "deeper"},
         {"mnt/C/x", "drive-relative"}});
  ASSERT_NE(Physical(u"/GameData", "mnt"), nullptr);
  ASSERT_NE(Virtual(u"/Alias", true, true, u"/GameData"), nullptr);
  ASSERT_NE(Virtual(u"/Overlay", false, true, u"/GameData/sub"), nullptr);
  // A mod name such as ".." ends up inside a target path.
  ASSERT_NE(Virtual(u"/Escape", true, true, u"/GameData/.."), nullptr);
  const std::u16string paths[] = {u"/GameData/../outside.txt",
                                  u"/GameData/..",
                                  u"/GameData/sub/../../outside.txt",
                                  u"/GameData/./inside.txt",
                                  u"/GameData/.",
                                  u"/GameData/sub\\..\\..\\outside.txt",
                                  u"/GameData/a\\..\\b",
                                  u"/GameData/sub\\deeper.txt",
                                  u"/GameData/C:x",
                                  u"/GameData/inside.txt:stream",
                                  u"/Alias/../outside.txt",
                                  u"/Overlay/../../outside.txt",
                                  u"/Alias/./inside.txt",
                                  u"/Escape/outside.txt",
                                  u"/Escape"};
  const auto before = root_.Snapshot();
  for (const std::u16string& path : paths) {
    SCOPED_TRACE(Narrow(path));
    dialogs_.QueueConsoleInput(u"i\ni\ni\ni\n");
    EXPECT_FALSE(fs_->Exists(path.c_str(), true, true));
    EXPECT_EQ(Open(path.c_str()), "<null>");
    EXPECT_EQ(Open(path.c_str(), kReadWriteCreate), "<null>");
    EXPECT_EQ(Create(path.c_str()), "<null>");
    EXPECT_FALSE(fs_->CreateDirectory(path.c_str()));  // prompts; the scripted answer is Ignore
    EXPECT_EQ(Create((path + u"/made").c_str()), "<null>");
    EXPECT_FALSE(fs_->CreateDirectory((path + u"/made").c_str()));
    char16_t host[CFileSystem::kMaxPath];
    EXPECT_FALSE(fs_->TranslatePath(path.c_str(), true, true, nullptr, host, CFileSystem::kMaxPath));
    bool listed = false;
    EXPECT_EQ(List(path.c_str(), false, &listed), Names{});
    EXPECT_TRUE(listed);
    EXPECT_EQ(root_.Snapshot(), before) << "a file outside the mount was created or changed";
  }
  EXPECT_TRUE(Errors().empty()) << "a refused component is not found, not an error";
}

// ---------------------------------------------------------------------------
// Read-only mounts, cycles, files that exist but cannot be opened or replaced

TEST_F(FileSystemTest, ReadOnlyMountRefusesCreateAndWritableOpen) {
  Files({{"ro/data.txt", "original"}});
  ASSERT_NE(Physical(u"/GameData", "ro", false), nullptr);
  EXPECT_EQ(Open(u"/GameData/data.txt"), "original");
  EXPECT_EQ(Open(u"/GameData/data.txt", kReadWrite), "<null>");
  EXPECT_EQ(Open(u"/GameData/data.txt", kReadWriteCreate), "<null>") << "a refused open must not turn into a create";
  EXPECT_EQ(Create(u"/GameData/data.txt"), "<null>");
  EXPECT_EQ(Create(u"/GameData/new.txt"), "<null>");
  EXPECT_EQ(Open(u"/GameData/new2.txt", kReadWriteCreate), "<null>");
  EXPECT_EQ(root_.Snapshot().size(), 2u) << "nothing made beside data.txt";
  EXPECT_EQ(root_.Read("ro/data.txt"), "original");
  EXPECT_TRUE(dialogs_.Calls().empty()) << "no prompt without prompt flags";
  // With promptOnFailure the refusal is put to the user.
  dialogs_.QueueConsoleInput(u"i\n");
  EXPECT_EQ(Create(u"/GameData/new.txt", false, true), "<null>");
  EXPECT_EQ(dialogs_.ConsoleOutput(), Prompt(u"file could not be created", u"/GameData/new.txt"));
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
    std::vector<std::unique_ptr<CFileSystem::tMountPoint>> mounts;
    for (const auto& [path, target] : cycle) mounts.emplace_back(Virtual(path, true, true, target));
    const std::size_t before = Errors().size();
    EXPECT_FALSE(fs_->Exists(u"/a/f", true, true));
    EXPECT_EQ(Open(u"/a/f"), "<null>");
    EXPECT_EQ(Create(u"/a/f"), "<null>");
    EXPECT_TRUE(List(u"/a").empty());
    const Names errors = Errors();
    EXPECT_EQ(Names(errors.begin() + before, errors.end()), Names(4, kCycle)) << "once per operation";
  }
}

// A read-only file cannot be opened for writing; creating it would clear the attribute and truncate it.
TEST_F(FileSystemTest, ExistingFileThatFailsToOpenIsNeverCreatedAnew) {
  Files({{"game/keep.txt", "keep me"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  const std::u16string host = root_.WideSub("game/keep.txt");
  ASSERT_TRUE(SetFileAttributesW(host.c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(Open(u"/GameData/keep.txt", kReadWriteCreate), "<null>");
  EXPECT_TRUE(dialogs_.Calls().empty());
  dialogs_.QueueConsoleInput(u"r\ni\n");
  EXPECT_EQ(Open(u"/GameData/keep.txt", kReadWriteCreate | kPromptAlways), "<null>");
  EXPECT_EQ(root_.Read("game/keep.txt"), "keep me");
  EXPECT_NE(GetFileAttributesW(host.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  const std::u16string prompt = Prompt(u"file could not be opened", u"/GameData/keep.txt");
  EXPECT_EQ(dialogs_.ConsoleOutput(), prompt + prompt) << "Retry asks again, Ignore gives up";
  EXPECT_EQ(Open(u"/GameData/keep.txt"), "keep me") << "reading it still works";
}

// A mount point that finds every file but opens none, and counts what it is asked.
class FoundButLockedMount : public CFileSystem::tMountPoint {
 public:
  FoundButLockedMount(CFileSystem* fileSystem, const char16_t* path) : tMountPoint(fileSystem, path, true) {}
  bool TranslatePath(const char16_t*, bool, bool, bool*, char16_t*, std::uint32_t) override { return false; }
  bool OpenFile(const char16_t*, bool, bool, CStream** stream) override {
    ++opens;
    *stream = nullptr;
    return true;
  }
  bool Exists(const char16_t*, bool fileOk, bool) override { return fileOk; }
  CStream* CreateFile(const char16_t*) override {
    ++creates;
    return nullptr;
  }
  bool Enumerate(const char16_t*, tEnumerateCallback, void*, tReportedNames*, bool) override { return true; }
  int opens = 0, creates = 0;
};

TEST_F(FileSystemTest, FoundFileWithoutStreamNeverReachesCreate) {
  auto* mount = new FoundButLockedMount(fs_.get(), u"/Locked");
  for (const std::uint32_t prompts : {0u, std::uint32_t(kOpenFilePromptOnFailure), std::uint32_t(kPromptAlways)}) {
    dialogs_.QueueConsoleInput(u"i\n");
    EXPECT_EQ(Open(u"/Locked/file", kReadWriteCreate | prompts), "<null>");
  }
  EXPECT_EQ(mount->opens, 3);
  EXPECT_EQ(mount->creates, 0);
}

// A socket file exists and takes attributes, but can never be opened as a file.
TEST_F(FileSystemTest, FailedCreateRestoresTheFilesAttributes) {
  root_.MakeDir("game");
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  const std::string socketPath = root_.Sub("game/locked.sav");
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  const std::u16string host = Wide(socketPath);
  ASSERT_TRUE(SetFileAttributesW(host.c_str(), FILE_ATTRIBUTE_READONLY));
  const DWORD before = GetFileAttributesW(host.c_str());
  ASSERT_NE(before & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_NE(before, INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(Create(u"/GameData/locked.sav"), "<null>");
  EXPECT_EQ(GetFileAttributesW(host.c_str()), before) << "the read-only attribute must come back";
  EXPECT_EQ(CreateHostFile(&context_, &context_, host.c_str(), false, false), nullptr);
  EXPECT_EQ(GetFileAttributesW(host.c_str()), before);
  // A create that works replaces the content of an ordinary read-only file.
  Files({{"game/plain.sav", "old"}});
  ASSERT_TRUE(SetFileAttributesW(root_.WideSub("game/plain.sav").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(WriteAndRelease(fs_->CreateFile(u"/GameData/plain.sav", false, false), "new"));
  EXPECT_EQ(root_.Read("game/plain.sav"), "new");
  EXPECT_TRUE(Errors().empty());
}

// ---------------------------------------------------------------------------
// Prompts

TEST_F(FileSystemTest, ConsolePromptsAndTheirAnswers) {
  Files({{"game/save.dat", "precious"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  // Not found: asked again on Retry, the path shown as the caller gave it.
  dialogs_.QueueConsoleInput(u"R\nr\ni\n");
  EXPECT_EQ(Open(u"GameData//missing.txt", kOpenFileRead | kOpenFilePromptIfMissing), "<null>");
  const std::u16string notFound = Prompt(u"file was not found", u"GameData//missing.txt");
  EXPECT_EQ(dialogs_.ConsoleOutput(), notFound + notFound + notFound);
  // Create: No makes nothing; Yes makes the file with one question only.
  const std::u16string create =
      Prompt(u"file does not exist", u"/GameData/new.txt\n\nWould you like to create it?", u"[Y]es [N]o");
  for (const char16_t* answer : {u"n\n", u"y\n"}) {
    dialogs_.ClearCalls();
    dialogs_.QueueConsoleInput(answer);
    EXPECT_EQ(Open(u"/GameData/new.txt", kReadWriteCreate | kOpenFilePromptIfMissing),
              answer[0] == u'y' ? "" : "<null>");
    EXPECT_EQ(root_.Exists("game/new.txt"), answer[0] == u'y');
    EXPECT_EQ(dialogs_.ConsoleOutput(), create);
    EXPECT_EQ(dialogs_.CallsOf(Kind::ConsoleRead).size(), 2u);
  }
  // Already exists: No keeps the file, Yes empties it.
  const std::u16string overwrite =
      Prompt(u"file already exists", u"/GameData/save.dat\n\nWould you like to overwrite it?", u"[Y]es [N]o [C]lose");
  dialogs_.ClearCalls();
  dialogs_.QueueConsoleInput(u"n\n");
  EXPECT_EQ(Create(u"/GameData/save.dat", true, false), "<null>");
  EXPECT_EQ(root_.Read("game/save.dat"), "precious");
  EXPECT_EQ(dialogs_.ConsoleOutput(), overwrite);
  dialogs_.QueueConsoleInput(u"y\n");
  EXPECT_EQ(Create(u"/GameData/save.dat", true, false), "");
  EXPECT_EQ(root_.Read("game/save.dat"), "");
}

TEST_F(FileSystemTest, DirectoryFailurePromptAfterTheChainGivesUp) {
  Files({{"game/blocker", "a file where a directory should go"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.QueueConsoleInput(u"i\ni\n");
  EXPECT_FALSE(fs_->CreateDirectory(u"/GameData/blocker/sub"));
  const std::u16string what = u"directory could not be created";
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            Prompt(what, root_.WideSub("game") + u"\\blocker\\sub") + Prompt(what, u"/GameData/blocker/sub"));
  EXPECT_EQ(root_.Read("game/blocker"), "a file where a directory should go");
}

TEST_F(FileSystemTest, RetryFindsAFileThatAppearedAndCreatesOnceTheWayIsClear) {
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  dialogs_.onFirstPrompt = [this] { root_.Write("game/late.txt", "arrived"); };
  dialogs_.QueueConsoleInput(u"r\n");
  EXPECT_EQ(Open(u"/GameData/late.txt", kOpenFileRead | kOpenFilePromptIfMissing), "arrived");
  EXPECT_EQ(dialogs_.prompts, 1);

  // "blocked/new.txt" cannot be made while "blocked" is a file; the user clears the way before answering Retry.
  Files({{"game/blocked", "a file"}});
  dialogs_.ClearCalls();
  dialogs_.prompts = 0;
  dialogs_.onFirstPrompt = [this] {
    std::remove(root_.Sub("game/blocked").c_str());
    root_.MakeDir("game/blocked");
  };
  dialogs_.QueueConsoleInput(u"r\n");
  EXPECT_TRUE(WriteAndRelease(fs_->CreateFile(u"/GameData/blocked/new.txt", false, true), "made"));
  EXPECT_EQ(root_.Read("game/blocked/new.txt"), "made");
  EXPECT_EQ(dialogs_.ConsoleOutput(), Prompt(u"file could not be created", u"/GameData/blocked/new.txt"));
}

// At the end of input each prompt gives its fallback: never Close (which would end the process), never a
// second question.
TEST_F(FileSystemTest, EndOfInputTakesEachPromptsFallback) {
  Files({{"game/kept.txt", "kept"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  EXPECT_EQ(Open(u"/GameData/none.txt", kOpenFileRead | kPromptAlways), "<null>");     // not found: Ignore
  EXPECT_EQ(Open(u"/GameData/none.txt", kReadWriteCreate | kPromptAlways), "<null>");  // create: No
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  EXPECT_EQ(Create(u"/GameData/kept.txt", true, true), "<null>");  // already exists: No
  EXPECT_EQ(root_.Read("game/kept.txt"), "kept");
  EXPECT_EQ(dialogs_.prompts, 3);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FileSystemTest, EachPromptsIconAndButtonsInAMessageBox) {
  Files({{"game/old.txt", "old"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/ReadOnly", "game", false), nullptr);
  context_.SetDisplayMode(MessageDisplayMode::ServiceMessageBox);
  const struct {
    std::function<CStream*()> ask;
    int answer;
    UINT type;
    std::u16string text;
  } prompts[] = {
      {[&] { return fs_->OpenFile(u"/GameData/none.txt", kOpenFileRead | kOpenFilePromptIfMissing); }, IDIGNORE,
       MB_ABORTRETRYIGNORE | MB_ICONWARNING, u"The following file was not found:\n\n/GameData/none.txt"},
      {[&] { return fs_->OpenFile(u"/GameData/none.txt", kReadWriteCreate | kOpenFilePromptIfMissing); }, IDNO,
       MB_YESNO | MB_ICONWARNING,
       u"The following file does not exist:\n\n/GameData/none.txt\n\nWould you like to create it?"},
      {[&] { return fs_->CreateFile(u"/GameData/old.txt", true, false); }, IDNO, MB_YESNOCANCEL | MB_ICONWARNING,
       u"The following file already exists:\n\n/GameData/old.txt\n\nWould you like to overwrite it?"},
      {[&] { return fs_->CreateFile(u"/ReadOnly/new.txt", false, true); }, IDIGNORE, MB_ABORTRETRYIGNORE | MB_ICONERROR,
       u"The following file could not be created:\n\n/ReadOnly/new.txt"},
  };
  for (const auto& prompt : prompts) {
    SCOPED_TRACE(Narrow(prompt.text));
    dialogs_.ClearCalls();
    dialogs_.QueueMessageBox(prompt.answer);
    EXPECT_EQ(prompt.ask(), nullptr);
    const auto boxes = dialogs_.CallsOf(Kind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, prompt.type | MB_SERVICE_NOTIFICATION);
    EXPECT_EQ(boxes[0].text, prompt.text);
  }
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  EXPECT_EQ(root_.Read("game/old.txt"), "old");
}

// ---------------------------------------------------------------------------
// Buffer limits and host operations

TEST_F(FileSystemTest, OverlongPathsAreReportedNeverWrittenPastABuffer) {
  root_.MakeDir("game");
  // Mounting: virtual path, host directory and target path that do not fit.
  EXPECT_EQ(MountPhysicalDirectory((u"/" + std::u16string(300, u'v')).c_str(), true, u"/tmp"), nullptr);
  EXPECT_EQ(MountPhysicalDirectory(u"/Long", true, (u"/" + std::u16string(300, u'h')).c_str()), nullptr);
  EXPECT_EQ(MountVirtualDirectory(u"/Long", true, true, (u"/" + std::u16string(300, u't')).c_str()), nullptr);
  EXPECT_EQ(Errors(), (Names{kBufferFull, kCopyTooShort, kCopyTooShort}));
  EXPECT_EQ(fs_->GetNewestMountPoint(), nullptr);

  // A host directory of 250 characters leaves no room for a long component.
  const std::u16string game = root_.WideSub("game/");
  ASSERT_NE(MountPhysicalDirectory(u"/Deep", true, (game + std::u16string(250 - game.size(), u'd')).c_str()), nullptr);
  EXPECT_FALSE(fs_->Exists(u"/Deep/a-name-that-does-not-fit", true, true));
  EXPECT_EQ(Create(u"/Deep/a-name-that-does-not-fit", false, true), "<null>");
  EXPECT_EQ(Errors().size(), 5u);
  EXPECT_EQ(Errors().back(), kBufferFull);
  EXPECT_TRUE(dialogs_.Calls().empty()) << "an error in the context is not also a prompt";
  // A virtual target plus the relative path beyond the limit.
  ASSERT_NE(Virtual(u"/V", true, true, (u"/Deep/" + std::u16string(200, u'x')).c_str()), nullptr);
  EXPECT_FALSE(fs_->Exists((u"/V/" + std::u16string(100, u'y')).c_str(), true, true));
  EXPECT_EQ(Errors().size(), 6u);
  // The directory chain is checked before anything is made.
  EXPECT_FALSE(CreateHostDirectoryChain(&context_, &context_, (game + u"chain/" + std::u16string(260, u'c')).c_str()));
  EXPECT_EQ(Errors(),
            (Names{kBufferFull, kCopyTooShort, kCopyTooShort, kBufferFull, kBufferFull, kBufferFull, kBufferFull}));
  EXPECT_FALSE(root_.Exists("game/chain"));
  // A prompt text too long for its buffer is reported, not shown.
  const std::u16string missing = game + std::u16string(2100, u'm');
  EXPECT_EQ(OpenHostFile(&context_, &context_, missing.c_str(), false, true, true), nullptr);
  EXPECT_EQ(Errors().size(), 8u);
  EXPECT_EQ(Errors().back(), kCopyTooShort);
  EXPECT_TRUE(dialogs_.Calls().empty());
}

TEST_F(FileSystemTest, HostDirectoryChainAndListing) {
  const std::u16string chain = root_.WideSub("a/b\\c/");
  EXPECT_TRUE(CreateHostDirectoryChain(&context_, &context_, chain.c_str()));
  EXPECT_TRUE(root_.Exists("a/b/c"));
  EXPECT_TRUE(CreateHostDirectoryChain(&context_, &context_, chain.c_str())) << "existing levels are fine";
  EXPECT_TRUE(dialogs_.Calls().empty());

  Files({{"d/one", "1"}});
  root_.MakeDir("d/two");
  Names entries;
  EXPECT_TRUE(EnumerateHostDirectory(root_.WideSub("d").c_str(), Collect, &entries));
  EXPECT_EQ(Sorted(entries), (Names{"one", "two/"}));
  EXPECT_TRUE(EnumerateHostDirectory(root_.WideSub("missing").c_str(), Collect, &entries));
  int calls = 0;
  EXPECT_FALSE(EnumerateHostDirectory(root_.WideSub("d").c_str(), CountAndStop, &calls));
  EXPECT_EQ(calls, 1);
}

// ---------------------------------------------------------------------------
// Ending the process and unreadable directories (in child processes)

using FileSystemDeathTest = FileSystemTest;

TEST_F(FileSystemDeathTest, CloseEndsTheProcessWithExitCodeZero) {
  Files({{"game/existing.txt", "x"}});
  ASSERT_NE(Physical(u"/GameData", "game"), nullptr);
  ASSERT_NE(Physical(u"/ReadOnly", "ro", false), nullptr);
  const std::function<void()> prompts[] = {
      [&] { fs_->OpenFile(u"/GameData/missing.txt", kOpenFileRead | kOpenFilePromptIfMissing); },
      [&] { fs_->CreateFile(u"/GameData/existing.txt", true, false); },
      [&] { fs_->CreateFile(u"/ReadOnly/new.txt", false, true); },
      [&] { OpenHostFile(&context_, &context_, root_.WideSub("nothing").c_str(), false, true, false); },
  };
  for (const auto& prompt : prompts) {
    EXPECT_EXIT(
        {
          dialogs_.QueueConsoleInput(u"c\n");
          prompt();
          std::exit(42);  // only reached when Close did not end the process
        },
        testing::ExitedWithCode(0), "");
  }
}

// Leaves root (which reads every directory) for an ordinary user; exit code 10 when that is not possible here.
void BecomeOrdinaryUser() {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) std::_Exit(10);
}

TEST_F(FileSystemDeathTest, UnlistableDirectoryDoesNotEndTheListing) {
  Files({{"game/a.txt", "a"}, {"game/b.txt", "b"}, {"mod/hidden.txt", "h"}});
  ModOverlay();
  ASSERT_EQ(chmod(root_.Sub("mod").c_str(), 0311), 0);  // searchable, not listable
  const std::u16string pattern = root_.WideSub("mod") + u"\\*";
  EXPECT_EXIT(
      {
        BecomeOrdinaryUser();
        WIN32_FIND_DATAW probe;
        if (FindFirstFileW(pattern.c_str(), &probe) != INVALID_HANDLE_VALUE) std::_Exit(11);
        bool done = false;
        const Names entries = Sorted(List(u"/GameData", false, &done));
        std::_Exit(!done ? 1 : entries != Names{"a.txt", "b.txt"} ? 2 : 0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
