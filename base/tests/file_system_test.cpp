// The file system: path resolution, mount points, listings, host files, prompts, buffer limits and cycles.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <platform/files.h>
#include <platform/testing/ScriptedDialogs.h>

#include <base/FileSystem.h>

#include "file_system_test_support.h"

namespace {

using fstest::Narrow;
using Kind = platform::testing::ScriptedDialogs::Kind;
using Names = std::vector<std::string>;
using Mount = CFileSystem::tMountPoint;

const char kBufferFull[] =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";
const char kCopyTooShort[] = "An attempt was made to copy a string into a buffer too short to hold the string.";
constexpr std::uint32_t kReadWrite = kOpenFileRead | kOpenFileWrite;
constexpr std::uint32_t kReadWriteCreate = kReadWrite | kOpenFileCreateIfMissing;
constexpr std::uint32_t kPromptAlways = kOpenFilePromptIfMissing | kOpenFilePromptOnFailure;
constexpr char kNoStream[] = "<null>";

// What a stream holds (it is released), or kNoStream.
std::string ReadAndRelease(CStream* stream) {
  if (stream == nullptr) return kNoStream;
  std::string content;
  char buffer[256];
  for (std::uint32_t got; (got = stream->Read(buffer, 1, sizeof buffer)) != 0;) content.append(buffer, got);
  stream->Release();
  return content;
}

// False when there was no stream.
bool WriteAndRelease(CStream* stream, const std::string& text) {
  if (stream == nullptr) return false;
  const bool written = stream->Write(text.data(), 1, std::uint32_t(text.size())) == text.size();
  return stream->Release(), written;
}

std::u16string Prompt(const std::u16string& what, const std::u16string& path,
                      const std::u16string& buttons = u"[C]lose [R]etry [I]gnore") {
  return u"The following " + what + u":\n\n" + path + u"\n" + buttons + u"\n";
}

// Entries as "name", directories as "name/".
bool Collect(const char16_t* name, bool isDirectory, void* user) {
  static_cast<Names*>(user)->push_back(Narrow(name) + (isDirectory ? "/" : ""));
  return true;
}
bool CountAndStop(const char16_t*, bool, void* user) { return ++*static_cast<int*>(user), false; }
Names Sorted(Names names) { return std::sort(names.begin(), names.end()), names; }

// Runs an action the first time a prompt line is written, as a user who fixes things before answering would.
struct FixingDialogs : platform::testing::ScriptedDialogs {
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
  // Host files' contents, "<dir>" for a directory, "<none>" for nothing.
  Names Host(std::initializer_list<const char*> paths) {
    Names contents;
    for (const char* path : paths) {
      const DWORD attributes = GetFileAttributesW(root_.WideSub(path).c_str());
      contents.push_back(attributes == INVALID_FILE_ATTRIBUTES          ? "<none>"
                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "<dir>"
                                                                        : root_.Read(path));
    }
    return contents;
  }
  Mount* Physical(const char16_t* virtualPath, const std::string& host, bool writable = true) {
    root_.MakeDir(host);
    Mount* mount = MountPhysicalDirectory(virtualPath, writable, root_.WideSub(host).c_str());
    EXPECT_NE(mount, nullptr);
    return mount;
  }
  Mount* Virtual(const char16_t* path, bool exclusive, bool writable, const char16_t* target) {
    Mount* mount = MountVirtualDirectory(path, exclusive, writable, target);
    EXPECT_NE(mount, nullptr);
    return mount;
  }
  // The layout of the prompt cases: /GameData on "game" and the same directory read-only as /ReadOnly.
  void PromptLayout() {
    Files({{"game/save.dat", "precious"}, {"game/blocker", "a file where a directory should go"}});
    Physical(u"/GameData", "game");
    Physical(u"/ReadOnly", "game", false);
  }
  // /GameData on "game", with the read-only mod "mod" laid over it (not exclusive, not writable).
  void ModOverlay() {
    Physical(u"/GameData", "game");
    Physical(u"/Mods/m", "mod", false);
    Virtual(u"/GameData", false, false, u"/Mods/m");
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

// An empty expectation: the path does not fit, is reported and nothing is written past the buffer.
TEST_F(FileSystemTest, ResolvePathJoinsComponentsAndReportsWhatDoesNotFit) {
  const std::u16string n255(255, u'n'), a200(200, u'a'), b57(57, u'b'), b58(58, u'b');
  // clang-format off
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"", u"/"}, {u"/", u"/"}, {u"a//b", u"/a/b"}, {u"/a/b", u"/a/b"}, {u"a/b/", u"/a/b/"}, {u"///", u"/"},
      {u"/GameData/../x", u"/GameData/../x"}, {u"./a", u"/./a"}, {u"a\\b", u"/a\\b"}, {n255, u"/" + n255},
      {u"ab/" + n255, u"/ab/" + n255}, {a200 + u"/" + b57, u"/" + a200 + u"/" + b57} /* 259 characters */,
      {std::u16string(256, u'c'), u""} /* one component too long */, {a200 + u"/" + b58, u""} /* no terminator */};
  // clang-format on
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(Narrow(input).substr(0, 20));
    char16_t out[CFileSystem::kMaxPath + 8];
    std::fill(std::begin(out), std::end(out), u'#');
    ASSERT_EQ(fs_->ResolvePath(input.c_str(), out), !expected.empty());
    EXPECT_EQ(expected.empty() ? u"" : std::u16string(out), expected);
    EXPECT_EQ(std::u16string(out + CFileSystem::kMaxPath, 8), std::u16string(8, u'#'));
  }
  EXPECT_EQ(Errors(), (Names{kBufferFull, kBufferFull}));
}

// A mount covers its path and what lies below it, compared as written.
TEST_F(FileSystemTest, MountPathCoversPathsAtOrBelowIt) {
  // clang-format off
  const std::tuple<std::u16string, std::u16string, const char16_t*> cases[] = {  // relative path, or null: not covered
      {u"/", u"/any/where", u"/any/where"}, {u"/", u"/", u"/"}, {u"/UserData", u"/UserData", u"/"},
      {u"/UserData", u"/UserData/x/y", u"/x/y"}, {u"/UserData", u"/UserData/", u"/"},
      {u"/UserData", u"/UserDataX", nullptr}, {u"/UserData", u"/UserDataX/y", nullptr},
      {u"/UserData", u"/userdata/x", nullptr}, {u"/UserData", u"/User", nullptr},
      {u"/UserData/SavedGames", u"/UserData", nullptr}};
  // clang-format on
  for (const auto& [mountPath, path, expected] : cases) {
    SCOPED_TRACE(Narrow(mountPath + u" " + path));
    std::unique_ptr<Mount> mount(Physical(mountPath.c_str(), "m"));
    char16_t relative[CFileSystem::kMaxPath] = u"untouched";
    EXPECT_EQ(mount->MatchPath(path.c_str(), relative), expected != nullptr);
    EXPECT_EQ(std::u16string(relative), expected != nullptr ? expected : u"untouched");
  }
}

// The newest mount is the only one asked for its path, creating included; deleting a mount point unlinks it.
TEST_F(FileSystemTest, NewestMountIsTheOnlyOneAskedForItsPath) {
  Files({{"old/only-old.txt", "old"}, {"old/both.txt", "old both"}, {"new/Both.txt", "new both"}});
  root_.MakeDir("new/Data"), Physical(u"/GameData", "old");
  Mount* newer = Physical(u"/GameData", "new");
  ASSERT_EQ(fs_->GetNewestMountPoint(), newer);
  // Host names in any case.
  EXPECT_EQ((Names{Open(u"/GameData/both.txt"), Open(u"/GameData/BOTH.TXT"), Open(u"/GameData/only-old.txt"),
                   Open(u"/GameData/data")}),
            (Names{"new both", "new both", kNoStream, kNoStream}));
  EXPECT_EQ((std::tuple{fs_->Exists(u"/GameData/only-old.txt", true, true), fs_->Exists(u"/GameData/data", false, true),
                        fs_->Exists(u"/GameData/data", true, false)}),
            (std::tuple{false, true, false}))
      << "a directory is not a file";
  EXPECT_EQ((std::tuple{Sorted(List(u"/GameData")), Create(u"/GameData/only-old.txt")}),
            (std::tuple{Names{"Both.txt", "Data/"}, ""}));
  EXPECT_EQ(Host({"new/only-old.txt", "old/only-old.txt"}), (Names{"", "old"}));
  delete newer;
  EXPECT_EQ((std::tuple{Open(u"/GameData/both.txt"), fs_->GetNewestMountPoint()}),
            (std::tuple{"old both", fs_->GetOldestMountPoint()}));
}

// A shared physical mount (the game CD over the install directory) covers only what it holds; the read-only CD
// takes no file, so creating reaches the writable install directory.
TEST_F(FileSystemTest, SharedPhysicalMountLeavesTheRestToOlderMounts) {
  Files({{"install/only-install.txt", "install"}, {"install/both.txt", "install both"}, {"cd/both.txt", "cd both"}});
  Physical(u"/GameDir", "install"), Virtual(u"/GameData", true, true, u"/GameDir");
  Mount* cd = MountSharedPhysicalDirectory(u"/GameDir", false, root_.WideSub("cd").c_str());
  ASSERT_TRUE(cd != nullptr && !cd->IsExclusive());
  EXPECT_EQ((Names{Open(u"/GameData/both.txt"), Open(u"/GameData/only-install.txt"), Create(u"/GameData/saved.txt")}),
            (Names{"cd both", "install", ""}));
  EXPECT_EQ(Host({"install/saved.txt", "cd/saved.txt"}), (Names{"", "<none>"}));
  delete cd;
  EXPECT_EQ(Open(u"/GameData/both.txt"), "install both");
}

// A file missing in a non-exclusive overlay comes from older mounts; the overlay's own file is the one the path
// names, so it is not opened for writing, nor the game's copy instead. An exclusive mount ends the search.
TEST_F(FileSystemTest, NonExclusiveVirtualMountFallsThroughExclusiveDoesNot) {
  Files({{"game/base.txt", "base"}, {"game/shared.txt", "game shared"}, {"mod/shared.txt", "mod shared"}});
  ModOverlay();
  EXPECT_EQ((Names{Open(u"/GameData/shared.txt"), Open(u"/GameData/base.txt"),
                   Open(u"/GameData/shared.txt", kReadWrite), Create(u"/GameData/shared.txt")}),
            (Names{"mod shared", "base", kNoStream, kNoStream}));
  EXPECT_TRUE(fs_->Exists(u"/GameData/base.txt", true, false));
  EXPECT_EQ(Host({"game/shared.txt", "mod/shared.txt"}), (Names{"game shared", "mod shared"}));
  delete fs_->GetNewestMountPoint();
  Virtual(u"/GameData", true, false, u"/Mods/m");
  EXPECT_EQ((Names{Open(u"/GameData/shared.txt"), Open(u"/GameData/base.txt")}), (Names{"mod shared", kNoStream}));
  EXPECT_FALSE(fs_->Exists(u"/GameData/base.txt", true, false));
}

// Through a chain of virtual mounts a missing file is made only when asked, and directories are made on the host.
// Beside it, a writable overlay that lacks a file: the file is replaced in the older mount that has it, and a new file
// goes to the first covering mount that can create it.
TEST_F(FileSystemTest, FilesAreMadeThroughVirtualMountsAndReplacedWhereTheyAre) {
  Files({{"game/save.dat", "old content"}});
  Physical(u"/GameDir", "game"), Virtual(u"/GameData", true, true, u"/GameDir");
  Virtual(u"/UserData/SavedGames", true, true, u"/GameData");
  EXPECT_EQ(Open(u"/UserData/SavedGames/savegame.0", kReadWrite), kNoStream);
  EXPECT_TRUE(WriteAndRelease(fs_->OpenFile(u"/UserData/SavedGames/savegame.0", kReadWriteCreate), "saved"));
  EXPECT_EQ(Open(u"/UserData/SavedGames/savegame.0", kReadWrite), "saved");
  EXPECT_TRUE(fs_->CreateDirectory(u"/UserData/SavedGames/slot/deep") &&
              fs_->CreateDirectory(u"/UserData/SavedGames/slot"));
  Physical(u"/User", "user"), Virtual(u"/GameData", false, true, u"/User");
  CStream* stream = fs_->CreateFile(u"/GameData/save.dat", false, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->GetSize(true), 0u);
  EXPECT_TRUE(WriteAndRelease(stream, "new"));
  EXPECT_EQ(Create(u"/GameData/fresh.dat"), "");
  EXPECT_EQ(Host({"game/savegame.0", "game/slot/deep", "game/save.dat", "user/save.dat", "user/fresh.dat"}),
            (Names{"saved", "<dir>", "new", "<none>", ""}));
  EXPECT_TRUE(dialogs_.Calls().empty() && Errors().empty());
}

// Mount directories come once, before the mounts' own entries; a newer exclusive mount hides the mounts below it; the
// callback can stop a listing; an unknown path lists nothing. Duplicate names come once from the first mount asked
// (the mod's directory "Data" over the game's file), names that differ in case both.
TEST_F(FileSystemTest, ListingsOfMountsAndTheirDirectories) {
  Files({{"root/readme.txt", "r"}, {"sub/hidden", ""}, {"game/a", ""}});
  root_.MakeDir("root/GameData"), root_.MakeDir("root/Other");
  for (const auto& [path, host] : {std::pair{u"/", "root"}, {u"/GameData/Sub", "sub"}, {u"/GameData", "game"},
                                   {u"/UserData/SavedGames", "saves"}, {u"/UserData/Caches", "caches"}})
    Physical(path, host);
  const Names newest = List(u"/"), oldest = List(u"/", true);
  ASSERT_EQ(newest.size() + oldest.size(), 8u);
  EXPECT_EQ((Names{newest[0], newest[1], oldest[0], oldest[1]}),
            (Names{"UserData/", "GameData/", "GameData/", "UserData/"}));
  EXPECT_EQ(Sorted(Names(newest.begin() + 2, newest.end())), (Names{"Other/", "readme.txt"}));
  EXPECT_EQ(List(u"/UserData"), (Names{"Caches/", "SavedGames/"}));
  EXPECT_EQ(List(u"/GameData"), Names{"a"});
  for (const char16_t* path : {u"/GameData", u"/"}) {
    int calls = 0;
    EXPECT_EQ((std::tuple{fs_->Enumerate(path, CountAndStop, &calls, false), calls}), (std::tuple{false, 1}));
  }
  bool result = false;
  EXPECT_EQ((std::tuple{List(u"/Nowhere", false, &result), result}), (std::tuple{Names{}, true}));
  Files({{"game/title.wad", "game"}, {"game/Title.wad", "game"}, {"game/Data", "a file"}, {"mod/Title.wad", "mod"}});
  root_.MakeDir("mod/Data");
  Physical(u"/Mods/m", "mod", false), Virtual(u"/GameData", false, false, u"/Mods/m");
  EXPECT_EQ(Sorted(List(u"/GameData")), (Names{"Data/", "Title.wad", "a", "title.wad"}));
}

TEST_F(FileSystemTest, EveryOperationRefusesTraversalAndTouchesNothingOutside) {
  Files({{"outside.txt", "secret"}, {"mnt/inside.txt", "inside"}, {"mnt/sub/deeper.txt", "deeper"},
         {"mnt/C/x", "drive-relative"}});
  Physical(u"/GameData", "mnt"), Virtual(u"/Alias", true, true, u"/GameData");
  Virtual(u"/Overlay", false, true, u"/GameData/sub");
  Virtual(u"/Escape", true, true, u"/GameData/..");  // a mod name such as ".." ends up inside a target path
  // clang-format off
  const std::u16string paths[] = {
      u"/GameData/../outside.txt", u"/GameData/..", u"/GameData/sub/../../outside.txt", u"/GameData/./inside.txt",
      u"/GameData/.", u"/GameData/sub\\..\\..\\outside.txt", u"/GameData/a\\..\\b", u"/GameData/sub\\deeper.txt",
      u"/GameData/C:x", u"/GameData/inside.txt:stream", u"/Alias/../outside.txt", u"/Overlay/../../outside.txt",
      u"/Alias/./inside.txt", u"/Escape/outside.txt", u"/Escape"};
  // clang-format on
  const auto before = root_.Snapshot();
  for (const std::u16string& path : paths) {
    SCOPED_TRACE(Narrow(path));
    dialogs_.QueueConsoleInput(u"i\ni\n");  // the directory prompts
    const std::u16string child = path + u"/made";
    EXPECT_EQ(
        (Names{Open(path.c_str()), Open(path.c_str(), kReadWriteCreate), Create(path.c_str()), Create(child.c_str())}),
        Names(4, kNoStream));
    char16_t host[CFileSystem::kMaxPath];
    bool listed = false;
    EXPECT_EQ((std::tuple{fs_->Exists(path.c_str(), true, true), fs_->CreateDirectory(path.c_str()),
                          fs_->CreateDirectory(child.c_str()),
                          fs_->TranslatePath(path.c_str(), true, true, nullptr, host, CFileSystem::kMaxPath),
                          List(path.c_str(), false, &listed), listed}),
              (std::tuple{false, false, false, false, Names{}, true}));
    EXPECT_EQ(root_.Snapshot(), before) << "a file outside the mount was created or changed";
  }
  EXPECT_TRUE(Errors().empty()) << "a refused component is not found, not an error";
}

// A refused writable open never turns into a create; prompts only with prompt flags; an existing directory is the
// answer to CreateDirectory, a new one is refused.
TEST_F(FileSystemTest, ReadOnlyMountRefusesCreateAndWritableOpen) {
  Files({{"ro/data.txt", "original"}});
  root_.MakeDir("ro/sub"), Physical(u"/GameData", "ro", false);
  EXPECT_EQ((Names{Open(u"/GameData/data.txt"), Open(u"/GameData/data.txt", kReadWrite),
                   Open(u"/GameData/data.txt", kReadWriteCreate), Create(u"/GameData/data.txt"),
                   Create(u"/GameData/new.txt"), Open(u"/GameData/new2.txt", kReadWriteCreate)}),
            (Names{"original", kNoStream, kNoStream, kNoStream, kNoStream, kNoStream}));
  EXPECT_TRUE(dialogs_.Calls().empty());
  dialogs_.QueueConsoleInput(u"i\n");
  EXPECT_EQ(Create(u"/GameData/new.txt", false, true), kNoStream);
  EXPECT_EQ(dialogs_.ConsoleOutput(), Prompt(u"file could not be created", u"/GameData/new.txt"));
  EXPECT_TRUE(fs_->CreateDirectory(u"/GameData/sub") && !fs_->CreateDirectory(u"/GameData/made"));
  EXPECT_EQ(root_.Snapshot().size(), 3u) << "nothing made beside data.txt and sub";
  EXPECT_EQ((std::tuple{Host({"ro/data.txt"}), Errors()}), (std::tuple{Names{"original"}, Names{}}));
}

TEST_F(FileSystemTest, CyclesOfVirtualMountsAreReportedAndFail) {
  const char kCycle[] = "The virtual mount points of a path lead back into each other.";
  using Mounts = std::vector<std::pair<const char16_t*, const char16_t*>>;
  // Onto itself, through a second mount, and a target below its own mount (which grows the path).
  for (const Mounts& cycle :
       {Mounts{{u"/a", u"/a"}}, Mounts{{u"/a", u"/b"}, {u"/b", u"/a"}}, Mounts{{u"/a", u"/a/x"}}}) {
    SCOPED_TRACE(Narrow(cycle.back().second));
    std::vector<std::unique_ptr<Mount>> mounts;
    for (const auto& [path, target] : cycle) mounts.emplace_back(Virtual(path, true, true, target));
    const std::size_t before = Errors().size();
    EXPECT_EQ((std::tuple{fs_->Exists(u"/a/f", true, true), Open(u"/a/f"), Create(u"/a/f"), List(u"/a")}),
              (std::tuple{false, kNoStream, kNoStream, Names{}}));
    const Names errors = Errors();
    EXPECT_EQ(Names(errors.begin() + before, errors.end()), Names(4, kCycle)) << "once per operation";
  }
}

// A read-only file cannot be opened for writing; creating it would clear the attribute and truncate it, whatever the
// prompt flags. Retry asks again, Ignore gives up, and reading it still works.
TEST_F(FileSystemTest, ExistingFileThatFailsToOpenIsNeverCreatedAnew) {
  Files({{"game/keep.txt", "keep me"}}), Physical(u"/GameData", "game");
  const std::u16string host = root_.WideSub("game/keep.txt");
  ASSERT_TRUE(SetFileAttributesW(host.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ((std::tuple{Open(u"/GameData/keep.txt", kReadWriteCreate), dialogs_.Calls().size()}),
            (std::tuple{kNoStream, 0u}));
  dialogs_.QueueConsoleInput(u"r\ni\ni\n");
  EXPECT_EQ((Names{Open(u"/GameData/keep.txt", kReadWriteCreate | kPromptAlways),
                   Open(u"/GameData/keep.txt", kReadWriteCreate | kOpenFilePromptOnFailure)}),
            Names(2, kNoStream));
  EXPECT_NE(GetFileAttributesW(host.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  const std::u16string prompt = Prompt(u"file could not be opened", u"/GameData/keep.txt");
  EXPECT_EQ(dialogs_.ConsoleOutput(), prompt + prompt + prompt);
  EXPECT_EQ(Open(u"/GameData/keep.txt"), "keep me");
}

// A socket file exists and takes attributes, but can never be opened as a file: a failed create puts its read-only
// attribute back. A create that works replaces the content of an ordinary read-only file.
TEST_F(FileSystemTest, FailedCreateRestoresTheFilesAttributes) {
  Files({{"game/plain.sav", "old"}}), Physical(u"/GameData", "game");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", root_.Sub("game/locked.sav").c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  for (const char* name : {"game/locked.sav", "game/plain.sav"})
    ASSERT_TRUE(SetFileAttributesW(root_.WideSub(name).c_str(), FILE_ATTRIBUTE_READONLY));
  const std::u16string host = root_.WideSub("game/locked.sav");
  const DWORD before = GetFileAttributesW(host.c_str());
  ASSERT_NE(before, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Create(u"/GameData/locked.sav"), kNoStream);
  EXPECT_EQ(GetFileAttributesW(host.c_str()), before) << "the read-only attribute must come back";
  EXPECT_EQ(
      (std::tuple{CreateHostFile(&context_, &context_, host.c_str(), false, false), GetFileAttributesW(host.c_str())}),
      (std::tuple{nullptr, before}));
  EXPECT_TRUE(WriteAndRelease(fs_->CreateFile(u"/GameData/plain.sav", false, false), "new"));
  EXPECT_EQ((std::tuple{Host({"game/plain.sav"}), Errors()}), (std::tuple{Names{"new"}, Names{}}));
}

// Each console prompt with its answers: Retry asks again, the path shown as the caller gave it; Create asks once and
// makes the file on Yes; Overwrite keeps the file on No and empties it on Yes; a directory the host cannot make shows
// first the host's own prompt, then the file system's once the chain gives up.
TEST_F(FileSystemTest, ConsolePromptsAndTheirAnswers) {
  PromptLayout();
  const std::u16string noDir = u"directory could not be created",
      notFound = Prompt(u"file was not found", u"GameData//missing.txt"),
      create = Prompt(u"file does not exist", u"/GameData/new.txt\n\nWould you like to create it?", u"[Y]es [N]o"),
      overwrite = Prompt(u"file already exists", u"/GameData/save.dat\n\nWould you like to overwrite it?",
                         u"[Y]es [N]o [C]lose");
  const struct {
    const char16_t* input;
    std::function<std::string()> ask;
    std::string result;
    std::u16string output;
    std::size_t reads;  // console reads: the answers and nothing more
  } cases[] = {
      {u"R\nr\ni\n", [&] { return Open(u"GameData//missing.txt", kOpenFileRead | kOpenFilePromptIfMissing); },
       kNoStream, notFound + notFound + notFound, 6},
      {u"n\n", [&] { return Open(u"/GameData/new.txt", kReadWriteCreate | kOpenFilePromptIfMissing); }, kNoStream,
       create, 2},
      {u"y\n", [&] { return Open(u"/GameData/new.txt", kReadWriteCreate | kOpenFilePromptIfMissing); }, "", create, 2},
      {u"n\ny\n",
       [&] {
         const std::string kept = Create(u"/GameData/save.dat", true, false) + Host({"game/save.dat"})[0];
         return kept + "|" + Create(u"/GameData/save.dat", true, false);
       },
       std::string(kNoStream) + "precious|", overwrite + overwrite, 4},
      {u"i\ni\n", [&] { return std::to_string(fs_->CreateDirectory(u"/GameData/blocker/sub")); }, "0",
       Prompt(noDir, root_.WideSub("game") + u"\\blocker\\sub") + Prompt(noDir, u"/GameData/blocker/sub"), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.output));
    dialogs_.ClearCalls();
    dialogs_.QueueConsoleInput(c.input);
    EXPECT_EQ(c.ask(), c.result);
    EXPECT_EQ(dialogs_.ConsoleOutput(), c.output);
    EXPECT_EQ(dialogs_.CallsOf(Kind::ConsoleRead).size(), c.reads);
  }
  EXPECT_EQ(Host({"game/new.txt", "game/save.dat", "game/blocker"}),
            (Names{"", "", "a file where a directory should go"}));
}

// Retry after the user fixed things: a file that appeared is found, a file is created once its way is clear.
TEST_F(FileSystemTest, RetryFindsAFileThatAppearedAndCreatesOnceTheWayIsClear) {
  Physical(u"/GameData", "game"), dialogs_.onFirstPrompt = [this] { root_.Write("game/late.txt", "arrived"); };
  dialogs_.QueueConsoleInput(u"r\n");
  EXPECT_EQ((std::tuple{Open(u"/GameData/late.txt", kOpenFileRead | kOpenFilePromptIfMissing), dialogs_.prompts}),
            (std::tuple{"arrived", 1}));
  Files({{"game/blocked", "a file"}}), dialogs_.ClearCalls(), dialogs_.prompts = 0;
  dialogs_.onFirstPrompt = [this] { std::remove(root_.Sub("game/blocked").c_str()), root_.MakeDir("game/blocked"); };
  dialogs_.QueueConsoleInput(u"r\n");
  EXPECT_TRUE(WriteAndRelease(fs_->CreateFile(u"/GameData/blocked/new.txt", false, true), "made"));
  EXPECT_EQ(Host({"game/blocked/new.txt"}), Names{"made"});
  EXPECT_EQ(dialogs_.ConsoleOutput(), Prompt(u"file could not be created", u"/GameData/blocked/new.txt"));
}

using FileSystemDeathTest = FileSystemTest;

// Each prompt's icon and buttons in a message box; at the end of console input each gives its fallback: never Close
// (which would end the process), never a second question. Close, where offered, ends the process with exit code 0.
TEST_F(FileSystemDeathTest, EachPromptInAMessageBoxAtTheEndOfInputAndClosed) {
  PromptLayout();
  const struct {
    std::function<CStream*()> ask;
    int answer;
    UINT type;
    std::u16string text;
  } prompts[] = {
      {[&] { return fs_->OpenFile(u"/GameData/none.txt", kOpenFileRead | kPromptAlways); }, IDIGNORE,
       MB_ABORTRETRYIGNORE | MB_ICONWARNING, u"The following file was not found:\n\n/GameData/none.txt"},
      {[&] { return fs_->OpenFile(u"/GameData/none.txt", kReadWriteCreate | kPromptAlways); }, IDNO,
       MB_YESNO | MB_ICONWARNING,
       u"The following file does not exist:\n\n/GameData/none.txt\n\nWould you like to create it?"},
      {[&] { return fs_->CreateFile(u"/GameData/save.dat", true, true); }, IDNO, MB_YESNOCANCEL | MB_ICONWARNING,
       u"The following file already exists:\n\n/GameData/save.dat\n\nWould you like to overwrite it?"},
      {[&] { return fs_->CreateFile(u"/ReadOnly/new.txt", false, true); }, IDIGNORE, MB_ABORTRETRYIGNORE | MB_ICONERROR,
       u"The following file could not be created:\n\n/ReadOnly/new.txt"},
  };
  for (const MessageDisplayMode mode : {MessageDisplayMode::ServiceMessageBox, MessageDisplayMode::Console}) {
    context_.SetDisplayMode(mode);
    for (const auto& prompt : prompts) {
      SCOPED_TRACE(Narrow(prompt.text));
      dialogs_.ClearCalls();
      if (mode != MessageDisplayMode::Console) dialogs_.QueueMessageBox(prompt.answer);
      EXPECT_EQ(prompt.ask(), nullptr);
      const auto boxes = dialogs_.CallsOf(Kind::MessageBox);
      if (mode == MessageDisplayMode::Console) continue;
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ((std::tuple{boxes[0].type, boxes[0].text}),
                (std::tuple{prompt.type | MB_SERVICE_NOTIFICATION, prompt.text}));
    }
  }
  EXPECT_EQ((std::tuple{dialogs_.prompts, Host({"game/none.txt", "game/save.dat"}), Errors()}),
            (std::tuple{4, Names{"<none>", "precious"}, Names{}}));
  const auto host = [&] { OpenHostFile(&context_, &context_, root_.WideSub("x").c_str(), false, true, false); };
  const std::function<void()> closes[] = {prompts[0].ask, prompts[2].ask, prompts[3].ask, host};
  for (const auto& close : closes)
    EXPECT_EXIT((dialogs_.QueueConsoleInput(u"c\n"), close(), std::exit(42)),  // 42: Close did not end the process
                testing::ExitedWithCode(0), "");
}

// Paths that do not fit are reported, never written past a buffer, and an error in the context is not also a prompt.
// The host's directory chain takes either separator and existing levels; host listings skip the dot entries, find
// nothing in a missing directory and stop when the callback says so.
TEST_F(FileSystemTest, OverlongPathsHostDirectoryChainsAndHostListings) {
  root_.MakeDir("game");
  EXPECT_EQ(MountPhysicalDirectory((u"/" + std::u16string(300, u'v')).c_str(), true, u"/tmp"), nullptr);
  EXPECT_EQ(MountPhysicalDirectory(u"/Long", true, (u"/" + std::u16string(300, u'h')).c_str()), nullptr);
  EXPECT_EQ(MountVirtualDirectory(u"/Long", true, true, (u"/" + std::u16string(300, u't')).c_str()), nullptr);
  EXPECT_EQ(fs_->GetNewestMountPoint(), nullptr);
  const std::u16string game = root_.WideSub("game/");  // 250 characters leave no room for a long component
  ASSERT_NE(MountPhysicalDirectory(u"/Deep", true, (game + std::u16string(250 - game.size(), u'd')).c_str()), nullptr);
  EXPECT_EQ((std::tuple{fs_->Exists(u"/Deep/a-name-that-does-not-fit", true, true),
                        Create(u"/Deep/a-name-that-does-not-fit", false, true)}),
            (std::tuple{false, kNoStream}));
  Virtual(u"/V", true, true, (u"/Deep/" + std::u16string(200, u'x')).c_str());  // target plus relative path too long
  EXPECT_FALSE(fs_->Exists((u"/V/" + std::u16string(100, u'y')).c_str(), true, true));
  // The directory chain is checked before anything is made; a prompt text too long for its buffer is not shown.
  EXPECT_FALSE(CreateHostDirectoryChain(&context_, &context_, (game + u"chain/" + std::u16string(260, u'c')).c_str()));
  EXPECT_EQ(OpenHostFile(&context_, &context_, (game + std::u16string(2100, u'm')).c_str(), false, true, true),
            nullptr);
  EXPECT_EQ(Host({"game/chain"}), Names{"<none>"});

  const std::u16string chain = root_.WideSub("a/b\\c/");
  EXPECT_TRUE(CreateHostDirectoryChain(&context_, &context_, chain.c_str()) &&
              CreateHostDirectoryChain(&context_, &context_, chain.c_str()));
  Files({{"a/one", "1"}});
  Names entries;
  int calls = 0;
  EXPECT_TRUE(EnumerateHostDirectory(root_.WideSub("a").c_str(), Collect, &entries) &&
              EnumerateHostDirectory(root_.WideSub("missing").c_str(), Collect, &entries));
  EXPECT_FALSE(EnumerateHostDirectory(root_.WideSub("a").c_str(), CountAndStop, &calls));
  EXPECT_EQ((std::tuple{Sorted(entries), calls, Host({"a/b/c"})}), (std::tuple{Names{"b/", "one"}, 1, Names{"<dir>"}}));
  EXPECT_EQ(Errors(), (Names{kBufferFull, kCopyTooShort, kCopyTooShort, kBufferFull, kBufferFull, kBufferFull,
                             kBufferFull, kCopyTooShort}));
  EXPECT_TRUE(dialogs_.Calls().empty()) << "the host chain and listings report nothing";
}

// The quiet check agrees with the operations: with the host directory at several lengths, behind a physical mount
// and behind a virtual one, each name length around the host and the virtual limits fits exactly when testing,
// opening and creating the path report nothing. The check itself reports nothing, and refuses a cycle quietly.
TEST_F(FileSystemTest, FitsLimitsAgreesWithWhatTheOperationsReport) {
  Virtual(u"/C", true, true, u"/C/x");
  for (const std::size_t hostLength : {40u, 120u, 200u, 250u}) {
    SCOPED_TRACE(hostLength);
    // The host directory: components of at most 100 characters up to the length.
    std::string host = "h" + std::to_string(hostLength);
    while (root_.Sub(host).size() < hostLength) {
      const std::size_t left = hostLength - root_.Sub(host).size();
      host += left == 1 ? std::string("x") : "/" + std::string(std::min<std::size_t>(left - 1, 100), 'd');
    }
    ASSERT_EQ(root_.Sub(host).size(), hostLength);
    std::unique_ptr<Mount> physical(Physical(u"/P", host));
    std::unique_ptr<Mount> virtualMount(Virtual(u"/V", true, true, u"/P/sub"));
    root_.MakeDir(host + "/sub");
    // The first name length that overflows the host path ("<host>/<name>"), and the virtual one's.
    const std::size_t hostFirst = CFileSystem::kMaxPath - 1 - hostLength;
    std::set<std::size_t> lengths{1, 250, 251, 252, 253, 254, 255, 256};
    for (std::size_t n = hostFirst - 6; n <= hostFirst + 2; ++n) lengths.insert(n);
    std::size_t fitting = 0, overflowing = 0;
    for (const std::size_t n : lengths) {
      for (const std::u16string prefix : {u"/P/", u"/V/", u"/C/"}) {
        const std::u16string path = prefix + std::u16string(n, u'n');
        SCOPED_TRACE(Narrow(prefix) + std::to_string(n));
        const std::size_t before = Errors().size();
        const bool fits = fs_->FitsLimits(path.c_str());
        ASSERT_EQ(Errors().size(), before) << "the check reports nothing";
        if (prefix == std::u16string(u"/P/")) {
          EXPECT_EQ(fits, n < hostFirst && n <= CFileSystem::kMaxComponent);
        }
        if (prefix == std::u16string(u"/C/")) {
          EXPECT_FALSE(fits);
          continue;  // a cycle is reported by every operation: the check is what keeps it from them
        }
        (fits ? fitting : overflowing) += 1;
        fs_->Exists(path.c_str(), true, true);
        Open(path.c_str());
        Create(path.c_str());
        Open(path.c_str(), kOpenFileRead | kOpenFileWrite);
        EXPECT_EQ(Errors().size() == before, fits) << (Errors().size() > before ? Errors().back() : "");
      }
    }
    EXPECT_TRUE(fitting != 0 && overflowing != 0);
  }
}

// Run as an ordinary user: root reads every directory. Exit code 10 when that is not possible here.
TEST_F(FileSystemDeathTest, UnlistableDirectoryDoesNotEndTheListing) {
  Files({{"game/a.txt", "a"}, {"game/b.txt", "b"}, {"mod/hidden.txt", "h"}});
  ModOverlay();
  ASSERT_EQ(chmod(root_.Sub("mod").c_str(), 0311), 0);  // searchable, not listable
  const std::u16string pattern = root_.WideSub("mod") + u"\\*";
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(10);
        WIN32_FIND_DATAW probe;
        if (FindFirstFileW(pattern.c_str(), &probe) != INVALID_HANDLE_VALUE) std::_Exit(11);
        bool done = false;
        const Names entries = Sorted(List(u"/GameData", false, &done));
        std::_Exit(!done ? 1 : entries != Names{"a.txt", "b.txt"} ? 2 : 0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
