// CustomFiles: the path mapper in its three modes, the CD mount, mod overlays and the replaced file calls.
#include <features/CustomFiles.h>

#include <base/FileSystem.h>
#include <core/GameStartup.h>
#include <platform/files.h>

#include "feature_fixture.h"
#include "file_system_test_support.h"

namespace {

using namespace featuretest;
using fstest::TempDir;

constexpr gamedouble::Place kRead{0x49E05D, 0x4A0831, 0x4A02E1, 0x4E1D20};
constexpr gamedouble::Place kSeek{0x49E174, 0x4A0948, 0x4A03F8, 0x4E1F30};
constexpr gamedouble::Place kWrite{0x49F052, 0x4A158B, 0x4A103B, 0x4E4380};
constexpr gamedouble::Place kLength{0x472060, 0x473DA0, 0x473C00, 0x4A3DD0};
constexpr gamedouble::Place kWin32WriteSlot{0x4756C4, 0x4774C5, 0x477325, 0x4A8C55};
constexpr gamedouble::Place kWin32ReadSlot{0x475813, 0x477643, 0x4774A3, 0x4A8E53};
constexpr gamedouble::Place kWin32Close{0x475799, 0x4775BD, 0x47741D, 0x4A8D4D};
constexpr char kCdMessage[] =
    "CUSTOM FILES: Game attempting to access file from CD for the first time; mounting \"D:\\\" over \"/GameDir\"\n";

std::string ReadAll(CStream* stream) {
  if (stream == nullptr) return "<null>";
  std::string text(std::size_t(stream->GetSize(true)), '\0');
  stream->Read(text.data(), 1, std::uint32_t(text.size()));
  stream->Release();
  return text;
}

// The core's mounts over scratch directories, two mods, the CD as drive D.
class CustomFilesTest : public FeatureTest {
 protected:
  void SetUp() override {
    FeatureTest::SetUp();
    files = std::make_unique<CFileSystem>(&context);
    ASSERT_EQ(g_FileSystem, files.get());
    root.MakeDir("install");
    MountPhysicalDirectory(u"/GameDir", true, root.WideSub("install").c_str());
    MountVirtualDirectory(u"/GameData", true, true, u"/GameDir");
    MountVirtualDirectory(u"/UserData/SavedGames", true, true, u"/GameData");
    MountVirtualDirectory(u"/UserData/Screenshots", true, true, u"/GameData");
    for (const char* mod : {"first", "second"}) {
      root.MakeDir(std::string("mods/") + mod + "/CustomFiles");
      MountPhysicalDirectory((u"/Mods/" + fstest::Wide(mod)).c_str(), false,
                             root.WideSub(std::string("mods/") + mod).c_str());
    }
    root.MakeDir("cd");
    ASSERT_TRUE(platform::MapDriveLetter(u'D', root.WideSub("cd").c_str()));
    g_InitialisationData = {};
  }
  void TearDown() override {
    FeatureTest::TearDown();
    files.reset();
    platform::MapDriveLetter(u'D', nullptr);
    g_InitialisationData = {};
  }
  bool HasCd() const { return B() == Build::IVReleasePatched || B() == Build::VReleasePatched; }
  // The console lines a mapping writes, and its result.
  std::string Map(const char* path, std::uint32_t mode, std::string* lines = nullptr) {
    std::string content;
    const std::string out = Console([&] { content = ReadAll(MapGameFile(path, mode)); });
    if (lines != nullptr) *lines = out;
    return content;
  }
  CStream* Open(const char* path, std::uint32_t mode) {
    CStream* stream = nullptr;
    Console([&] { stream = MapGameFile(path, mode); });
    return stream;
  }

  TempDir root;
  fstest::CollectingAppContext context;
  std::unique_ptr<CFileSystem> files;
};

TEST_P(CustomFilesTest, MapsNamesInItsThreeModesOverTheMods) {
  root.MakeDir("saves");
  root.MakeDir("shots");
  g_InitialisationData.useSavedGamesDirectory = 1;
  SetFieldText(g_InitialisationData.savedGamesDirectory, fstest::Wide(root.Sub("saves")));
  g_InitialisationData.useScreenshotsDirectory = 1;
  SetFieldText(g_InitialisationData.screenshotsDirectory, fstest::Wide(root.Sub("shots")));
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  root.Write("install/data/title.wad", "title");
  root.Write("install/savegame.3", "data file");
  root.Write("saves/savegame.3", "saved");
  // Mods overlay the game data; the first listed wins.
  root.Write("mods/first/CustomFiles/level.dat", "first");
  root.Write("mods/second/CustomFiles/level.dat", "second");
  root.Write("mods/second/CustomFiles/extra.dat", "second only");
  root.Write("install/level.dat", "game");

  struct Case {
    const char* path;
    std::uint32_t mode;
    const char* line;
    const char* content;  // what the mapped stream reads, "<null>" for none
    const char* created;  // the host file mode 0 makes
  };
  const Case cases[] = {
      {"data\\title.wad", kMapOpenData, "Opening file \"/GameData/data/title.wad\"", "title", nullptr},
      {"savegame.3", kMapOpenSaved, "Opening file \"/UserData/SavedGames/savegame.3\"", "saved", nullptr},
      {"savegame.3", kMapOpenData, "Opening file \"/GameData/savegame.3\"", "data file", nullptr},
      {"savegame.7", kMapCreate, "Creating file \"/UserData/SavedGames/savegame.7\"", "", "saves/savegame.7"},
      {"savegame.3.bak", kMapCreate, "Creating file \"/GameData/savegame.3.bak\"", "", "install/savegame.3.bak"},
      {"savegame.", kMapCreate, "Creating file \"/GameData/savegame.\"", "", "install/savegame."},
      {"Vesk12.tga", kMapCreate, "Creating file \"/UserData/Screenshots/Vesk0012.tga\"", "", "shots/Vesk0012.tga"},
      {"Vesk0012.tga.old", kMapOpenSaved, "Opening file \"/GameData/Vesk0012.tga.old\"", "<null>", nullptr},
      {"data\\missing.wad", kMapOpenData, "Opening file \"/GameData/data/missing.wad\"", "<null>", nullptr},
      {"level.dat", kMapOpenData, "Opening file \"/GameData/level.dat\"", "first", nullptr},
      {"extra.dat", kMapOpenData, "Opening file \"/GameData/extra.dat\"", "second only", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " mode " + std::to_string(c.mode));
    std::string lines;
    EXPECT_EQ(Map(c.path, c.mode, &lines), c.content);
    EXPECT_EQ(lines, std::string("CUSTOM FILES: ") + c.line + "\n");
    if (c.created != nullptr) {
      EXPECT_TRUE(root.Exists(c.created));
    }
  }
  EXPECT_EQ(root.Read("install/savegame.3"), "data file");
}

TEST_P(CustomFilesTest, TheCdIsMountedOnceBesideTheInstallDirectory) {
  tHackModule* module = nullptr;
  ASSERT_EQ(Register(u"CustomFiles", &module), 1u);
  root.Write("cd/data/title.wad", "from the cd");
  root.Write("install/only-installed.txt", "installed");
  std::string first, second;
  const std::string title = Map("D:\\data\\title.wad", kMapOpenData, &first);
  EXPECT_EQ(title, HasCd() ? "from the cd" : "<null>");
  EXPECT_EQ(Map("d:\\data\\title.wad", kMapOpenData, &second), title);
  if (HasCd()) {
    EXPECT_EQ(first, std::string(kCdMessage) + "CUSTOM FILES: Opening file \"/GameData/data/title.wad\"\n");
    EXPECT_EQ(second, "CUSTOM FILES: Opening file \"/GameData/data/title.wad\"\n");
  } else {
    EXPECT_EQ(first.find("CD"), std::string::npos);
  }
  // The install directory stays reachable for reading and writing.
  EXPECT_EQ(Map("D:\\only-installed.txt", kMapOpenData), HasCd() ? "installed" : "<null>");
  EXPECT_EQ(Map("only-installed.txt", kMapOpenData), "installed");
  EXPECT_EQ(Map("savegame.1", kMapCreate), "");
  EXPECT_TRUE(root.Exists("install/savegame.1"));
  EXPECT_FALSE(root.Exists("cd/savegame.1"));

  ASSERT_EQ(UnloadHackModule(module), 1u);
  EXPECT_EQ(ReadAll(files->OpenFile(u"/GameData/data/title.wad", kOpenFileRead)), "<null>");
  // Loaded again, the module mounts the CD again at its first access.
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  EXPECT_EQ(Map("D:\\data\\title.wad", kMapOpenData, &first), title);
  EXPECT_EQ(first.find("CD") != std::string::npos, HasCd());
}

// The replaced routines run from their patched entries, as the game calls them, on a 4-byte aligned stack.
TEST_P(CustomFilesTest, TheReplacedFileCallsAnswerAsTheGameExpects) {
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  root.Write("install/digits.txt", "0123456789");
  CStream* stream = Open("digits.txt", kMapOpenData);
  ASSERT_NE(stream, nullptr);
  char buffer[16] = {};
  const std::uint32_t s = Address(stream), b = Address(buffer);
  EXPECT_EQ(game->CallAddress(At(kRead), {b, 2, 2, s}), 2u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(game->CallAddress(At(kLength), {s}), 10u);
  EXPECT_EQ(game->CallAddress(At(kRead), {b, 1, 1, s}), 1u);
  EXPECT_EQ(buffer[0], '4') << "the length keeps the position";
  // The C runtime's answer: 0 on success, not 0 on failure.
  EXPECT_EQ(game->CallAddress(At(kSeek), {s, 8, 0}), 0u);
  EXPECT_EQ(game->CallAddress(At(kRead), {b, 1, 5, s}), 2u);
  EXPECT_NE(game->CallAddress(At(kSeek), {s, std::uint32_t(-20), 1}), 0u);

  // The Win32-style read through the slot the patched indirect call uses: the callee removes five words.
  const auto slot = [&](const gamedouble::Place& place) {
    return game->Read<std::uint32_t>(game->Read<std::uint32_t>(place));
  };
  std::uint32_t count = 0xFFFF;
  game->CallAddress(At(kSeek), {s, 0, 0});
  const gamedouble::RunResult read = game->Run(slot(kWin32ReadSlot), {s, b, 3, Address(&count), 0});
  EXPECT_EQ(read.after.eax, 3u);
  EXPECT_EQ(read.stackDelta, 20);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(game->Run(slot(kWin32ReadSlot), {s, b, 3, 0, 0}).after.eax, 3u) << "a null count pointer is left alone";
  EXPECT_EQ(std::string(buffer, 3), "345");
  stream->Release();

  CStream* created = Open("written.txt", kMapCreate);
  ASSERT_NE(created, nullptr);
  const char text[] = "abcdef";
  EXPECT_EQ(game->CallAddress(At(kWrite), {Address(text), 3, 1, Address(created)}), 1u);
  const gamedouble::RunResult written =
      game->Run(slot(kWin32WriteSlot), {Address(created), Address(text + 3), 3, Address(&count), 0});
  EXPECT_EQ(written.after.eax, 3u);
  EXPECT_EQ(written.stackDelta, 20);
  EXPECT_EQ(count, 3u);
  // The Win32-style close the patched call reaches: one word removed, the stream released.
  const std::uint32_t call = At(kWin32Close);
  const std::uint32_t target = call + 5 + game->Read<std::uint32_t>(kWin32Close.In(B()) + 1);
  EXPECT_EQ(game->Run(target, {Address(created)}).stackDelta, 4);
  EXPECT_EQ(root.Read("install/written.txt"), "abcdef");
}

// The patched places run as the game runs them: paths from the game's registers, streams where it expects them.
TEST_P(CustomFilesTest, ThePatchedPlacesOpenCreateCloseAndTestThroughTheFileSystem) {
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  root.Write("install/data/title.wad", "title");
  root.Write("install/savegame.2", "saved");
  const char data[] = "data\\title.wad", saved[] = "savegame.2", created[] = "savegame.5", missing[] = "none.wad";
  const auto open = [&](Routine routine, const char* path) {
    std::uint32_t stream = 0;
    Console([&] { stream = game->Call(routine, {Address(path)}); });
    return stream;
  };
  const std::uint32_t title = open(Routine::OpenGameData, data);
  const std::uint32_t save = open(Routine::OpenSavedGame, saved);
  const std::uint32_t made = open(Routine::CreateGameFile, created);
  EXPECT_EQ(open(Routine::OpenGameData, missing), 0u);
  EXPECT_TRUE(game->CallsOf(Routine::FileOpen).empty()) << "the game's own open never runs";
  ASSERT_NE(title, 0u);
  ASSERT_NE(save, 0u);
  ASSERT_NE(made, 0u);
  EXPECT_TRUE(root.Exists("install/savegame.5"));

  // Each close place releases one reference; the last releases here.
  auto* stream = reinterpret_cast<CStream*>(std::uintptr_t(title));
  const Routine closers[] = {Routine::CloseCaller1, Routine::CloseCaller2,  Routine::CloseCaller3,
                             Routine::CloseCaller4, Routine::CloseCallerV1, Routine::CloseCallerV2,
                             Routine::CloseCallerV3};
  const std::size_t count = V() ? std::size(closers) : 4;
  for (std::size_t i = 0; i < count; ++i) stream->AddRef();
  for (std::size_t i = 0; i < count; ++i) game->Run(closers[i], {title});
  EXPECT_TRUE(game->CallsOf(Routine::FileClose).empty());
  EXPECT_EQ(ReadAll(stream), "title");
  game->Run(Routine::CloseCaller1, {save});
  game->Run(Routine::CloseCaller2, {made});
  // The object test follows the flag at byte 32.
  std::uint8_t object[64] = {};
  for (std::uint8_t flag : {0, 1}) {
    object[32] = flag;
    EXPECT_EQ(game->Run(Routine::ObjectTest, {Address(object)}).after.edx, flag ? 1u : 2u);
  }
}

// The Win32-style save writer and loader: through the mapper and the stream, never the game's imports.
TEST_P(CustomFilesTest, TheSaveWriterAndLoaderUseTheStream) {
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  ::testing::internal::CaptureStdout();
  const char name[] = "savegame.4", bad[] = "no\\such\\place.sav", absent[] = "savegame.9";
  const char text[] = "the saved state";
  EXPECT_EQ(game->Call(Routine::SaveWriter, {Address(name), Address(text), sizeof text}), 1u);
  EXPECT_EQ(game->Call(Routine::SaveWriter, {Address(bad), Address(text), sizeof text}), 0u);
  char buffer[sizeof text] = {};
  EXPECT_EQ(game->Call(Routine::SaveLoader, {Address(name), Address(buffer), sizeof buffer}), 1u);
  EXPECT_EQ(game->Call(Routine::SaveLoader, {Address(absent), Address(buffer), sizeof buffer}), 0u);
  ::testing::internal::GetCapturedStdout();
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(root.Read("install/savegame.4"), std::string(text, sizeof text));
  for (Routine routine : {Routine::CreateFileW32, Routine::WriteFileW32, Routine::ReadFileW32, Routine::CloseHandleW32})
    EXPECT_TRUE(game->CallsOf(routine).empty()) << gamedouble::NameOf(routine);
}

INSTANTIATE_TEST_SUITE_P(Builds, CustomFilesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
