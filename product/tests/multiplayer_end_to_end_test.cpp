// The whole client end to end: the launcher starts the game double with the feature modules, SquirrelSupport and
// Multiplayer against the loopback test server, the player types into the console, and the game leaves normally;
// the pictures of the game show the open console and the download bar as the player saw them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <hack/testing/Picture.h>
#include <netserver/TestServer.h>

namespace {

namespace fs = std::filesystem;

// The game's frames (paced), when the player types, and the level the server names.
constexpr int kFrames = 400, kFrameTimeMs = 10, kSayFrame = 250, kQuitFrame = 350, kLevel = 5;
// The server's resource: a script that greets at its start or once its files are in, and a data file that comes
// slowly enough for the bar to show.
constexpr const char* kScript = R"(
local function greet(e, resource) {
  local name = Multiplayer.GetResourceName(resource);
  Multiplayer.OutputChatBox("Hello from " + name);
  Multiplayer.TriggerServerEvent("onWelcome", name);
}
Engine.EventSystem.GetEventType("OnResourceStart").AddHandler(greet);
Engine.EventSystem.GetEventType("OnResourceReady").AddHandler(greet);
Engine.EventSystem.GetEventType("OnFileDownload").AddHandler(function(e, file) {
  Multiplayer.OutputChatBox("Downloaded " + file);
});
)";
constexpr std::size_t kDataBytes = 2000;
constexpr const char* kMainPage = R"(<Page>
  <FontStack Name="Mono"><Font Family="Open Sans"/></FontStack>
  <Page Name="CmdWindow" Left="0" Top="20" Width="400" Height="30" Visible="false">
    <Text Name="Input" Left="0" Top="0" Width="400" FontStack="Mono" Size="14" Colour="#ffffff" AllowNewLines="false"/>
  </Page></Page>)";
constexpr const char* kModules[] = {"CustomFiles", "IncreasedLimits", "BugFixes", "MultiplePlayerSupport",
                                    "SquirrelSupport", "Multiplayer"};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("mp_end_to_end_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "client" / "Fonts");
    fs::create_directories(folder / "client" / "GUI");
    fs::create_directories(folder / "files" / "welcome");
    fs::create_directories(folder / "caches");
    fs::create_directories(folder / "debug");
    std::ofstream(folder / "files" / "welcome" / "client.nut") << kScript;
    std::ofstream(folder / "files" / "welcome" / "motd.txt") << std::string(kDataBytes, 'm');
    for (const char* font : {GUI_FONT_OPEN_SANS, GUI_FONT_DEJAVU})
      fs::copy_file(font, folder / "client" / "Fonts" / fs::path(font).filename());
    std::ofstream(folder / "client" / "GUI" / "Main.xml") << kMainPage;
  }
  void TearDown() override {
    server.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  void Serve(const std::vector<std::string>& scenario) {
    std::ofstream out(folder / "scenario.txt");
    for (const std::string& line : scenario) out << line << "\n";
    out.close();
    server = std::make_unique<nettest::CTestServer>((folder / "files").string(), (folder / "scenario.txt").string());
    ASSERT_TRUE(server->Started());
  }

  // Runs the launcher to the game's end, the game with `play` (its frames, typing and pictures); its exit status,
  // the output in `output`.
  int Play(const std::string& play = " --frames " + std::to_string(kFrames) + " --type " + std::to_string(kSayFrame) +
                                     ":/say+Hello+there --type " + std::to_string(kQuitFrame) + ":/quit") {
    std::ostringstream command;
    command << "SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy " << BRINDLE_LAUNCH << " --game " << BRINDLE_GAME
            << " --client-data " << (folder / "client").string() << " --caches " << (folder / "caches").string()
            << " --debug " << (folder / "debug").string();
    for (const char* module : kModules) command << " --module " << module;
    command << " --option Multiplayer.Server=127.0.0.1:" << server->EnetPort()
            << " --option Multiplayer.Nickname=Kelv -- --frame-time " << kFrameTimeMs << " --level " << kLevel << play
            << " > " << (folder / "game.txt").string() << " 2>&1";
    const int status = std::system(command.str().c_str());
    std::ifstream in(folder / "game.txt");
    output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Printed(const std::string& line) const { return output.find(line) != std::string::npos; }

  fs::path folder;
  std::unique_ptr<nettest::CTestServer> server;
  std::string output;
};

TEST_F(EndToEndTest, APlayedGameDownloadsRunsChatsMeetsAPlayerAndQuitsAndASecondDownloadsNothing) {
  for (const bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "second run" : "first run");
    Serve({"wait 1 10000", "accept 0 " + std::to_string(kLevel) + " 9 0 0", "chat Welcome aboard", "wait 3 10000",
           "fault welcome/motd.txt slow", "resources welcome:1", "wait 11 10000", "states 1,3,1000,-50,7",
           "wait 4 5000", "update 1 1 3 2000 -50 7 0 0", "wait 4 5000", "wait 6 10000", "left 1", "wait 4 5000",
           "wait disconnect 10000"});
    EXPECT_EQ(0, Play()) << output;
    EXPECT_TRUE(Printed("MULTIPLAYER: Using server \"127.0.0.1\" and port \"" +
                        std::to_string(server->EnetPort()) + "\"\n"))
        << output;
    for (const char* line : {"CHAT: Waiting for server...\n", "CHAT: Connected\n", "CHAT: Welcome aboard\n",
                             "CHAT: Hello from welcome\n", "brindle_launch: the game has started\n",
                             "BRINDLECORE: Unloading...\n", "brindle_launch: the game ended with exit code 0x100\n"})
      EXPECT_TRUE(Printed(line)) << line << output;
    // The data file came in while the game ran, under its bar; a cached copy is neither fetched nor announced.
    EXPECT_EQ(!cached, Printed("CHAT: Downloaded motd.txt\n")) << output;
    EXPECT_EQ(cached, Printed(" 0 progress bars drawn")) << output;

    // What the server says it did and heard, in order: it reads as the story of the game.
    const std::string expected[] = {
        "the player \"Kelv\" asks to join (protocol 24, game 7, client value 0, password \"\")",
        "accepted the player as player 0 on level 5 (second level 9, features 0, value 0)",
        "sent chat: Welcome aboard",
        "the player is in the game",
        "will serve welcome/motd.txt with the fault slow",
        "listed the resource welcome (running, 2 files)",
        "received event onWelcome with arguments 0100000004070077656c636f6d65",
        "sent another player's state: player 1 in room 3 at 1000 -50 7",
        "received the player's state: room ",
        "sent an update of player 1: room 3",
        "received the player's state: room ",
        "received chat: Hello there",
        "told the player that player 1 left",
        "received the player's state: room ",
        "the player disconnected, reason 6 (quit)"};
    for (const std::string& reply : expected) {
      const std::string got = server->Reply();
      EXPECT_EQ(0u, got.rfind(reply, 0)) << reply << " / " << got;
    }
    EXPECT_EQ(cached ? 0u : 2u, server->HttpLog().size());
  }
}

// What a picture shows of the download bar and of the console's line.
struct Seen {
  double barShare = -1;           // the filled part of the bar's rows; -1 without a bar
  std::size_t consolePixels = 0;  // near-white pixels where the console's line is
};

Seen Look(const gamedouble::CPicture& picture) {
  // The bar's colours (the module's fill over the game double's track); the console's line is white on black, the
  // chat's lines are coloured, and the page puts the line below the top 20 rows.
  constexpr std::uint32_t kFill = 0xFF00FFFF, kTrack = 0xFF303030, kBright = 0xC0;
  constexpr std::uint32_t kConsoleTop = 20, kConsoleBottom = 50, kConsoleRight = 400;
  Seen seen;
  std::size_t filled = 0, track = 0;
  for (std::uint32_t y = 0; y < picture.Height(); ++y) {
    std::size_t rowFilled = 0, rowTrack = 0;
    for (std::uint32_t x = 0; x < picture.Width(); ++x) {
      const std::uint32_t pixel = picture.At(x, y);
      rowFilled += pixel == kFill;
      rowTrack += pixel == kTrack;
      const bool white = (pixel >> 16 & 0xFF) >= kBright && (pixel >> 8 & 0xFF) >= kBright && (pixel & 0xFF) >= kBright;
      if (white && y >= kConsoleTop && y < kConsoleBottom && x < kConsoleRight) ++seen.consolePixels;
    }
    if (rowTrack == 0) continue;  // a row without the track holds no bar (the chat's text may share its colour)
    filled += rowFilled;
    track += rowTrack;
  }
  if (track != 0) seen.barShare = double(filled) / double(filled + track);
  return seen;
}

// The server lists its resource late and holds the data file half-way until the player's line comes; the player
// opens the console and types the line in one frame and sends it in the next. The first of the two comes before the
// download begins and is run again until it draws the bar, so its picture shows the console with the line over the
// bar at the held share; the last picture shows neither, the file having come once the line was sent.
TEST_F(EndToEndTest, TheAwaitedFrameShowsTheOpenConsoleOverTheHeldDownload) {
  // The typing frame's quad lies right of the console's line; the server's pause (for a message the client never
  // sends) ends well after that frame's first run.
  constexpr int kTypeFrame = 60, kLastFrame = 199, kQuitFrame = 180, kPauseMs = 1500;
  Serve({"wait 1 10000", "accept 0 " + std::to_string(kLevel) + " 9 0 0", "wait 3 10000",
         "wait 10 " + std::to_string(kPauseMs), "fault welcome/motd.txt held", "resources welcome:1", "wait 6 15000",
         "fault welcome/motd.txt none", "wait 11 10000", "wait disconnect 10000"});
  const fs::path pictures = folder / "frame.png";
  EXPECT_EQ(0, Play(" --frames " + std::to_string(kLastFrame + 1) + " --type " + std::to_string(kTypeFrame) + "-" +
                    std::to_string(kTypeFrame + 1) + ":/say+Hello+there --type " + std::to_string(kQuitFrame) +
                    ":/quit --await-bar " + std::to_string(kTypeFrame) + ":15000 --png " + pictures.string() +
                    " --png-frame " + std::to_string(kTypeFrame) + " --png-frame " + std::to_string(kLastFrame)))
      << output;
  EXPECT_FALSE(Printed("drew no progress bar")) << output;
  EXPECT_TRUE(Printed("CHAT: Downloaded motd.txt\n")) << output;

  const std::string expected[] = {"the player \"Kelv\" asks to join",
                                  "accepted the player as player 0",
                                  "the player is in the game",
                                  "heard nothing in time",
                                  "will serve welcome/motd.txt with the fault held",
                                  "listed the resource welcome (running, 2 files)",
                                  "received chat: Hello there",
                                  "will serve welcome/motd.txt as it is",
                                  "received event onWelcome",
                                  "the player disconnected, reason 6 (quit)"};
  for (const std::string& reply : expected) {
    const std::string got = server->Reply();
    EXPECT_EQ(0u, got.rfind(reply, 0)) << reply << " / " << got;
  }

  gamedouble::CPicture typed, last;
  std::string error;
  ASSERT_TRUE(gamedouble::LoadPng((folder / ("frame-" + std::to_string(kTypeFrame) + ".png")).string(), typed, &error))
      << error << output;
  ASSERT_TRUE(gamedouble::LoadPng((folder / ("frame-" + std::to_string(kLastFrame) + ".png")).string(), last, &error))
      << error << output;
  // Part done, and at most the script whole and half the data file, of both whole (the bar's value is the floor of
  // that in percent).
  const double script = double(std::strlen(kScript)), data = double(kDataBytes);
  const double held = std::floor(100.0 * (script + data / 2) / (script + data)) / 100.0;
  const Seen during = Look(typed), after = Look(last);
  EXPECT_GT(during.barShare, 0.0);
  EXPECT_LE(during.barShare, held + 0.01);
  EXPECT_GT(during.consolePixels, 100u) << during.consolePixels;
  EXPECT_EQ(-1.0, after.barShare);
  EXPECT_EQ(0u, after.consolePixels);
}

}  // namespace
