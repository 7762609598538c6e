// CustomFiles: the path mapper in its three modes, the CD mount, mod overlays and the replaced file calls.
#include <features/CustomFiles.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include <unistd.h>

#include <base/AppContext.h>
#include <base/FileSystem.h>
#include <core/GameStartup.h>
#include <platform/dialogs.h>
#include <platform/files.h>
#include <platform/testing/StderrDialogs.h>

#include "feature_fixture.h"
#include "file_system_test_support.h"

namespace {

using namespace featuretest;

using P = gamedouble::Place;
constexpr P kRead{0x49E05D, 0x4A0831, 0x4A02E1, 0x4E1D20}, kSeek{0x49E174, 0x4A0948, 0x4A03F8, 0x4E1F30};
constexpr P kWrite{0x49F052, 0x4A158B, 0x4A103B, 0x4E4380}, kLength{0x472060, 0x473DA0, 0x473C00, 0x4A3DD0};
constexpr P kWin32WriteSlot{0x4756C4, 0x4774C5, 0x477325, 0x4A8C55}, kClose{0x475799, 0x4775BD, 0x47741D, 0x4A8D4D};
constexpr P kWin32ReadSlot{0x475813, 0x477643, 0x4774A3, 0x4A8E53};
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
    ASSERT_EQ(g_FileSystem, &files);
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
    platform::MapDriveLetter(u'D', nullptr);
    g_InitialisationData = {};
  }
  bool HasCd() const { return B() == Build::IVReleasePatched || B() == Build::VReleasePatched; }
  // What the mapped stream reads ("<null>" for none), and the console lines the mapping writes.
  std::pair<std::string, std::string> Map(const char* path, std::uint32_t mode) {
    std::string content;
    const std::string lines = Console([&] { content = ReadAll(MapGameFile(path, mode)); });
    return {content, lines};
  }

  fstest::TempDir root;
  fstest::CollectingAppContext context;
  CFileSystem files{&context};
};

TEST_P(CustomFilesTest, MapsNamesInItsThreeModesOverTheMods) {
  root.MakeDir("saves");
  root.MakeDir("shots");
  g_InitialisationData.useSavedGamesDirectory = 1;
  SetFieldText(g_InitialisationData.savedGamesDirectory, fstest::Wide(root.Sub("saves")));
  g_InitialisationData.useScreenshotsDirectory = 1;
  SetFieldText(g_InitialisationData.screenshotsDirectory, fstest::Wide(root.Sub("shots")));
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  // Mods overlay the game data; the first listed wins.
  for (const auto& [path, text] : {std::pair{"install/data/title.wad", "title"}, {"install/savegame.3", "data file"},
                                   {"saves/savegame.3", "saved"}, {"mods/first/CustomFiles/level.dat", "first"},
                                   {"mods/second/CustomFiles/level.dat", "second"}, {"install/level.dat", "game"},
                                   {"mods/second/CustomFiles/extra.dat", "second only"}})
    root.Write(path, text);
  // The game's name and mode, the console line, what the mapped stream reads ("<null>": none), the file mode 0 makes.
  const std::tuple<const char*, std::uint32_t, const char*, const char*, const char*> cases[] = {
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
  for (const auto& [path, mode, line, content, created] : cases) {
    SCOPED_TRACE(std::string(path) + " mode " + std::to_string(mode));
    EXPECT_EQ(Map(path, mode), std::pair(std::string(content), "CUSTOM FILES: "s + line + "\n"));
    EXPECT_TRUE(created == nullptr || root.Exists(created));
  }
  EXPECT_EQ(root.Read("install/savegame.3"), "data file");
}

TEST_P(CustomFilesTest, TheCdIsMountedOnceBesideTheInstallDirectory) {
  tHackModule* module = nullptr;
  ASSERT_EQ(Register(u"CustomFiles", &module), 1u);
  root.Write("cd/data/title.wad", "from the cd");
  root.Write("install/only-installed.txt", "installed");
  const std::string opening = "CUSTOM FILES: Opening file \"/GameData/data/title.wad\"\n";
  const std::string title = HasCd() ? "from the cd" : "<null>";
  const auto first = Map("D:\\data\\title.wad", kMapOpenData), second = Map("d:\\data\\title.wad", kMapOpenData);
  // Without a CD the drive's name is a part of the game data's path like any other.
  const auto lines = HasCd() ? std::pair(kCdMessage + opening, opening)
                             : std::pair("CUSTOM FILES: Opening file \"/GameData/D:/data/title.wad\"\n"s,
                                         "CUSTOM FILES: Opening file \"/GameData/d:/data/title.wad\"\n"s);
  EXPECT_EQ((Words{first.first == title, second.first == title}), (Words{1, 1}));
  EXPECT_EQ(std::pair(first.second, second.second), lines);
  // The install directory stays reachable for reading and writing.
  EXPECT_EQ(Map("D:\\only-installed.txt", kMapOpenData).first, HasCd() ? "installed" : "<null>");
  EXPECT_EQ(Map("only-installed.txt", kMapOpenData).first + Map("savegame.1", kMapCreate).first, "installed");
  EXPECT_EQ(std::pair(root.Exists("install/savegame.1"), root.Exists("cd/savegame.1")), std::pair(true, false));
  ASSERT_EQ(UnloadHackModule(module), 1u);
  EXPECT_EQ(ReadAll(files.OpenFile(u"/GameData/data/title.wad", kOpenFileRead)), "<null>");
  // Loaded again, the module mounts the CD again at its first access.
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  const auto again = Map("D:\\data\\title.wad", kMapOpenData);
  EXPECT_EQ(std::pair(again.first, again.second.find("CD") != std::string::npos), std::pair(title, HasCd()));
}

// The game data's path holds 259 units after "/GameData/" and the terminator: a game path of 249 units opens, one of
// 250 is the string routine's message, which ends the process; a saved game's name is not widened and never too long.
TEST_P(CustomFilesTest, AGamePathThatJustFitsOpensAndOneMoreEndsTheProcess) {
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  constexpr std::size_t kLongest = CFileSystem::kMaxPath - 1 - std::size("/GameData/") + 1;
  ASSERT_EQ(kLongest, 249u);
  // The host's own path holds the game data's directory as well: it is mounted on a directory short enough here.
  std::string first = "brindle-" + std::to_string(::getpid()) + "-";
  first.resize(120, 'a');
  const std::string second(120, 'b'), name = "end.dat";
  const std::string fits = first + "\\" + second + "\\" + name;  // the game's separators
  ASSERT_EQ(fits.size(), kLongest);
  const std::filesystem::path host = std::filesystem::path("/tmp") / first;
  std::filesystem::create_directories(host / second);
  std::ofstream(host / second / name) << "deep";
  MountPhysicalDirectory(u"/GameData", false, u"/tmp");
  const std::string opened = Map(fits.c_str(), kMapOpenData).first;
  std::filesystem::remove_all(host);
  EXPECT_EQ(opened, "deep");
  const std::string saved = "savegame." + std::string(kLongest, '7');
  EXPECT_EQ(Map(saved.c_str(), kMapOpenSaved).second.rfind("CUSTOM FILES: Opening file \"/UserData/SavedGames/", 0),
            0u);
  for (std::uint32_t mode : {kMapCreate, kMapOpenData, kMapOpenSaved}) {
    SCOPED_TRACE(mode);
    const std::string longer = fits + "x";
    EXPECT_EXIT(
        {
          static platform::testing::StderrDialogs dialogs;
          platform::SetDialogBackend(&dialogs);
          MapGameFile(longer.c_str(), mode);
        },
        ::testing::ExitedWithCode(int(kFatalExitCode)),
        "An attempt was made to copy a string into a buffer too short to hold the string\\.");
  }
}

// The patched places run as the game runs them: paths from the game's registers, streams where it expects them, the
// save writer and loader through the mapper, the replaced routines from their patched entries on a 4-byte aligned
// stack; the game's own open, close and file imports never run.
TEST_P(CustomFilesTest, ThePatchedPlacesAndReplacedCallsRunThroughTheFileSystem) {
  ASSERT_EQ(Register(u"CustomFiles"), 1u);
  root.Write("install/data/title.wad", "title");
  root.Write("install/savegame.2", "saved");
  root.Write("install/digits.txt", "0123456789");
  const char name[] = "savegame.4", bad[] = "no\\such\\place.sav", absent[] = "savegame.9", text[] = "the saved state";
  char buffer[sizeof text] = {};
  Words opened, saves;
  Console([&] {
    for (const auto& [routine, path] :
         {std::pair{Routine::OpenGameData, "data\\title.wad"}, {Routine::OpenSavedGame, "savegame.2"},
          {Routine::CreateGameFile, "savegame.5"}, {Routine::OpenGameData, "none.wad"},
          {Routine::OpenGameData, "digits.txt"}, {Routine::CreateGameFile, "written.txt"}})
      opened.push_back(game->Call(routine, {Address(path)}));
    saves = {game->Call(Routine::SaveWriter, {Address(name), Address(text), sizeof text}),
             game->Call(Routine::SaveWriter, {Address(bad), Address(text), sizeof text}),
             game->Call(Routine::SaveLoader, {Address(name), Address(buffer), sizeof buffer}),
             game->Call(Routine::SaveLoader, {Address(absent), Address(buffer), sizeof buffer})};
  });
  ASSERT_TRUE(opened[0] != 0 && opened[1] != 0 && opened[2] != 0 && opened[4] != 0 && opened[5] != 0);
  EXPECT_EQ((Words{opened[3], root.Exists("install/savegame.5")}), (Words{0, 1}));

  char digits[16] = {};
  const std::uint32_t s = opened[4], b = Address(digits);
  const auto call = [&](const P& place, std::initializer_list<std::uint32_t> arguments) {
    return game->CallAddress(At(place), arguments);
  };
  // The length keeps the position; the seek answers as the C runtime does: 0 on success, not 0 on failure.
  EXPECT_EQ((Words{call(kRead, {b, 2, 2, s}), call(kLength, {s}), call(kRead, {b + 4, 1, 1, s}), call(kSeek, {s, 8, 0}),
                   call(kRead, {b + 5, 1, 5, s}), call(kSeek, {s, std::uint32_t(-20), 1}) != 0}),
            (Words{2, 10, 1, 0, 2, 1}));
  EXPECT_EQ(std::string(digits, 7), "0123489");
  // The Win32-style read and write through the slots the patched indirect calls use: the callee removes five words;
  // a null count pointer is left alone.
  const auto slot = [&](const P& place) { return game->Read<std::uint32_t>(game->Read<std::uint32_t>(place)); };
  std::uint32_t count = 0xFFFF;
  call(kSeek, {s, 0, 0});
  const gamedouble::RunResult read = game->Run(slot(kWin32ReadSlot), {s, b, 3, Address(&count), 0});
  EXPECT_EQ((Words{read.after.eax, std::uint32_t(read.stackDelta), count,
                   game->Run(slot(kWin32ReadSlot), {s, b, 3, 0, 0}).after.eax}), (Words{3, 20, 3, 3}));
  EXPECT_EQ(std::string(digits, 3), "345");
  reinterpret_cast<CStream*>(std::uintptr_t(s))->Release();
  const char letters[] = "abcdef";
  EXPECT_EQ(call(kWrite, {Address(letters), 3, 1, opened[5]}), 1u);
  count = 0;
  const gamedouble::RunResult written =
      game->Run(slot(kWin32WriteSlot), {opened[5], Address(letters + 3), 3, Address(&count), 0});
  EXPECT_EQ((Words{written.after.eax, std::uint32_t(written.stackDelta), count}), (Words{3, 20, 3}));
  // The Win32-style close the patched call reaches: one word removed, the stream released.
  const std::uint32_t target = At(kClose) + 5 + game->Read<std::uint32_t>(kClose.In(B()) + 1);
  EXPECT_EQ(game->Run(target, {opened[5]}).stackDelta, 4);
  EXPECT_EQ(std::tuple(root.Read("install/written.txt"), saves, std::string(buffer), root.Read("install/savegame.4")),
            std::tuple("abcdef"s, Words{1, 0, 1, 0}, std::string(text), std::string(text, sizeof text)));
  // Each close place releases one reference; the last releases here.
  auto* stream = reinterpret_cast<CStream*>(std::uintptr_t(opened[0]));
  const Routine closers[] = {Routine::CloseCaller1, Routine::CloseCaller2, Routine::CloseCaller3, Routine::CloseCaller4,
                             Routine::CloseCallerV1, Routine::CloseCallerV2, Routine::CloseCallerV3};
  const std::size_t places = V() ? std::size(closers) : 4;
  for (std::size_t i = 0; i < places; ++i) stream->AddRef();
  for (std::size_t i = 0; i < places; ++i) game->Run(closers[i], {opened[0]});
  EXPECT_EQ(ReadAll(stream), "title");
  game->Run(Routine::CloseCaller1, {opened[1]});
  game->Run(Routine::CloseCaller2, {opened[2]});
  for (Routine routine : {Routine::FileOpen, Routine::FileClose, Routine::CreateFileW32, Routine::WriteFileW32,
                          Routine::ReadFileW32, Routine::CloseHandleW32})
    EXPECT_EQ(Calls(routine), 0u) << gamedouble::NameOf(routine);
  // The object test follows the flag at byte 32.
  std::uint8_t object[64] = {};
  for (std::uint8_t flag : {0, 1}) {
    object[32] = flag;
    EXPECT_EQ(game->Run(Routine::ObjectTest, {Address(object)}).after.edx, flag ? 1u : 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, CustomFilesTest, ::testing::ValuesIn(gamedouble::kBuilds), BuildName);

}  // namespace
