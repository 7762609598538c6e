// The real launcher starting the real game double: two processes, the start, refusals, every way out, and each
// step of the start forced to fail in the platform layer.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <launcher/StartGame.h>

namespace {

struct LaunchRun {
  std::string output;
  int status = -1;
};

// The user's data folder of every run: the launcher makes its caches and debug folders there unless told others.
// It goes with the test program.
const std::filesystem::path& UserData() {
  static const struct Folder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("brindle-launch-user-" + std::to_string(::getpid()));
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } folder;
  return folder.path;
}

// Runs the launcher on the double with the environment given; the output of both processes, and the exit status.
LaunchRun Launch(const std::string& environment, const std::string& launcherArguments, const std::string& gameArguments) {
  const std::string dataHome =
      environment.find("XDG_DATA_HOME") == std::string::npos ? " XDG_DATA_HOME=" + UserData().string() : "";
  const std::string command = "env " + environment + dataHome + " " BRINDLE_LAUNCH " --game " BRINDLE_GAME " " +
                              launcherArguments + " -- " + gameArguments + " </dev/null 2>&1";
  LaunchRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

constexpr const char* kScripted = "LD_LIBRARY_PATH=" BRINDLE_SCRIPTED_DIR;
constexpr const char* kUnloading = "BRINDLECORE: Unloading...";
constexpr const char* kNoGameCode = "quorvant: ";  // anything the game's own code prints

struct Case {
  const char* what;
  const char* environment;
  const char* launcher;
  const char* game;
  int status;
  std::vector<const char*> expected;  // in this order
  std::size_t unloads;
  bool gameCodeRan;
  bool started;  // the launcher says "the game has started"
};

constexpr const char* kStarted = "the game has started";
constexpr const char* kCalledOff = "Ctrl+C came while the game was being made";

// Runs one row and checks everything it promises.
void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  const LaunchRun run = Launch(c.environment, c.launcher, c.game);
  SCOPED_TRACE(run.output);
  EXPECT_EQ(run.status, c.status);
  std::size_t at = 0;
  for (const char* piece : c.expected) {
    at = run.output.find(piece, at);
    EXPECT_NE(at, std::string::npos) << piece;
    if (at == std::string::npos) break;
  }
  EXPECT_EQ(Count(run.output, kUnloading), c.unloads);
  EXPECT_EQ(run.output.find(kNoGameCode) != std::string::npos, c.gameCodeRan);
  EXPECT_EQ(run.output.find("differs from its pristine copy"), std::string::npos);
  EXPECT_EQ(run.output.find(kStarted) != std::string::npos, c.started);
  // The message only where the row expects it: never for a game that started.
  const bool terminatedExpected = std::find(c.expected.begin(), c.expected.end(), std::string_view(
                                                kTerminatedWhileInitialising)) != c.expected.end();
  EXPECT_EQ(Count(run.output, kTerminatedWhileInitialising), terminatedExpected ? 1u : 0u);
}

TEST(StartGame, TheRealLauncherOnTheDouble) {
  const Case cases[] = {
      {"started with every module", "", "--all-modules", "--frames 2 --exit 1 --frame-time 40", 1,
       {"BRINDLECORE: Game version detected as V", "quorvant: 2 frames run", kUnloading,
        "the main function returned 0x101", "exit code 0x101"}, 1, true, true},
      {"another magic", "", "--magic KAVX", "", 2,
       {"The hack \"Brindlecore\" is not compatible with this version of Quorvant Mod Launcher.",
        "did not start (initialisation ended with 2)"}, 0, false, false},
      {"an unsupported build", "", "", "--marker 5 --build B", 2,
       {"Unrecognised game version.", "did not start"}, 0, false, false},
      {"a module refuses with 7", kScripted, "--module BugFixes --option BugFixes.Init=7", "", 2,
       {"SCRIPTED: 0", kUnloading, "did not start"}, 1, false, false},
      {"the game disabled", "", "--disable-game", "", 2,
       {"Game disabled for debugging purposes.", kUnloading, "did not start"}, 1, false, false},
      {"an unknown name is skipped", kScripted, "--module Nameless --module BugFixes", "--exit 0 --frame-time 40", 0,
       {"SCRIPTED: 0", "SCRIPTED: 2 window 0", "SCRIPTED: 5 started", "SCRIPTED: 10", kUnloading, "SCRIPTED: 1",
        "exit code 0x100"}, 1, true, true},
      {"GameStart 11", kScripted, "--module BugFixes --option BugFixes.GameStart=11 --option BugFixes.ExitCode=42", "",
       42, {"SCRIPTED: 5 started", kUnloading, "SCRIPTED: 1", "exit code 0x2A"}, 1, false, true},
      {"GameStart 7", kScripted, "--module BugFixes --option BugFixes.GameStart=7 --option BugFixes.ExitCode=42", "",
       0, {"SCRIPTED: 5 started", kUnloading, "exit code 0x0"}, 1, false, true},
      {"the main thread ends with 0 first", kScripted, "--module BugFixes --option BugFixes.EndMainThread=0", "", 1,
       {"SCRIPTED: 0 ending the main thread", kTerminatedWhileInitialising, "did not start (initialisation ended with 1)"},
       0, false, false},
      {"the main thread ends with 5 first", kScripted, "--module BugFixes --option BugFixes.EndMainThread=5", "", 5,
       {"SCRIPTED: 0 ending the main thread", "did not start (initialisation ended with 5)"}, 0, false, false},
      {"Ctrl+C ends the game", "", "", "--interrupt 1", 0, {"quorvant: 3 frames run", "exit code 0x0"}, 0, true, true},
      {"no process", "BRINDLE_FORCE_FAILURE=CreateProcessW:1", "", "", 1, {kFailedToStartGame}, 0, false, false},
      {"SDL2's path", "BRINDLE_FORCE_FAILURE=VirtualAllocEx:1", "", "", 1,
       {kFailedToAllocatePath, "Failed to inject SDL2.dll"}, 0, false, false},
      {"SDL2's path written short", "BRINDLE_FORCE_FAILURE=WriteProcessMemory:1", "", "", 1,
       {kFailedToWritePath, "Failed to inject SDL2.dll"}, 0, false, false},
      {"SDL2's loader", "BRINDLE_FORCE_FAILURE=CreateRemoteThread:1", "", "", 1,
       {kFailedToStartLoader, "Failed to inject SDL2.dll"}, 0, false, false},
      {"SDL2 missing", "", "--sdl /nonexistent", "", 1, {"Failed to inject SDL2.dll"}, 0, false, false},
      // The loader's thread never ends by itself: the game's end must end the wait, and no handle is taken from it.
      {"the game dies as SDL2 loads", "", "--sdl " BRINDLE_DYING_DIR, "", 1, {"Failed to inject SDL2.dll"}, 0, false,
       false},
      {"the library's loader", "BRINDLE_FORCE_FAILURE=CreateRemoteThread:2", "", "", 1,
       {kFailedToStartLoader, kFailedToInjectSelf}, 0, false, false},
      {"the block", "BRINDLE_FORCE_FAILURE=VirtualAllocEx:3", "", "", 1, {kFailedToAllocateBlock}, 0, false, false},
      {"the block written short", "BRINDLE_FORCE_FAILURE=WriteProcessMemory:3", "", "", 1, {kFailedToWriteBlock}, 0,
       false, false},
      {"the initialisation thread", "BRINDLE_FORCE_FAILURE=CreateRemoteThread:3", "", "", 1,
       {kFailedToStartInitThread}, 0, false, false},
  };
  for (const Case& c : cases) Check(c);
}

// Without --caches or --debug each goes to its folder under the user's data folder, made when missing, and the
// first line says where; a directory given keeps its place; with no user folder at all the launcher starts nothing
// (an empty directory would have the game mount the host's root).
TEST(StartGame, CachesAndDebugFilesGoToTheUsersFolderUnlessGiven) {
  namespace fs = std::filesystem;
  const fs::path root = UserData() / "defaults";
  const fs::path home = root / "home", data = root / "data", mine = root / "mine";
  const std::string share = (home / ".local/share/Brindlecore").string(), ours = (data / "Brindlecore").string();
  // A data folder whose caches folder needs the block's 260 units and so no room for its terminator.
  const std::string caches = "/Brindlecore/Caches";
  const std::string deep = (root / std::string(260 - caches.size() - root.string().size() - 1, 'd')).string();
  const std::string fits = deep.substr(0, deep.size() - 1);
  const std::string noFolder =
      "brindle_launch: the user has no data folder to keep the caches and debug files in; give --caches DIR and "
      "--debug DIR";
  const struct {
    const char* what;
    std::string environment, launcher;
    std::string caches, debug;  // said on the first line and made
    std::string refusal;        // instead, the first line of a launcher that starts nothing
  } rows[] = {
      {"the home's share folder", "XDG_DATA_HOME= HOME=" + home.string(), "", share + "/Caches", share + "/Debug", ""},
      {"a relative data folder", "XDG_DATA_HOME=data HOME=" + home.string(), "", share + "/Caches", share + "/Debug",
       ""},
      {"the data folder", "XDG_DATA_HOME=" + data.string(), "", ours + "/Caches", ours + "/Debug", ""},
      {"caches given", "XDG_DATA_HOME=" + data.string(), "--caches " + mine.string(), mine.string(), ours + "/Debug",
       ""},
      {"debug given", "XDG_DATA_HOME=" + data.string(), "--debug " + mine.string(), ours + "/Caches", mine.string(),
       ""},
      {"both given", "-u XDG_DATA_HOME -u HOME", "--caches " + mine.string() + " --debug " + mine.string(),
       mine.string(), mine.string(), ""},
      {"no user folder", "-u XDG_DATA_HOME -u HOME", "", "", "", noFolder},
      {"no user folder, caches given", "-u XDG_DATA_HOME -u HOME", "--caches " + mine.string(), "", "", noFolder},
      {"the longest folder", "XDG_DATA_HOME=" + fits, "", fits + caches, fits + "/Brindlecore/Debug", ""},
      {"a folder too long", "XDG_DATA_HOME=" + deep, "", "", "",
       "brindle_launch: the folder \"" + deep + caches + "\" cannot be made"},
      {"a folder that cannot be made", "XDG_DATA_HOME=/proc/brindle", "", "", "",
       "brindle_launch: the folder \"/proc/brindle/Brindlecore/Caches\" cannot be made"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(root);
    fs::create_directories(mine);
    const LaunchRun run = Launch(row.environment, row.launcher, "--frames 1 --exit 0");
    SCOPED_TRACE(run.output);
    const std::string firstLine = run.output.substr(0, run.output.find('\n'));
    if (!row.refusal.empty()) {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(firstLine, row.refusal);
      EXPECT_EQ(run.output.find(kStarted), std::string::npos);
      continue;
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(firstLine, "brindle_launch: caches in \"" + row.caches + "\", debug files in \"" + row.debug + "\"");
    EXPECT_TRUE(fs::is_directory(row.caches) && fs::is_directory(row.debug));
    EXPECT_NE(run.output.find(kStarted), std::string::npos);
    EXPECT_EQ(run.output.find("No host directory was given"), std::string::npos);
  }
  fs::remove_all(root);
}

// The launcher, started with these words in a process group of its own (as a terminal starts a job, so a signal to
// the group reaches it and the game), its output and errors going to the pipe whose read end comes back in output.
pid_t LaunchInOwnGroup(std::vector<std::string> words, int* output) {
  int out[2];
  if (::pipe(out) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::setpgid(0, 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(child, child);  // either side may come first
  ::close(out[1]);
  if (child < 0) ::close(out[0]);
  *output = out[0];
  return child;
}

// Ctrl+C (SIGINT to the launcher's process group, as a terminal sends it) once the line is seen: during the start
// delay the game ends as not started, the launcher says so and fails; once started the game ends with 0.
TEST(StartGame, CtrlCBeforeTheStartIsNotAStart) {
  const struct {
    const char* what;
    std::vector<std::string> arguments;
    const char* sendAfter;
    int status;
    bool started;
  } rows[] = {
      {"during the start delay", {"--start-delay", "5000", "--", "--frames", "1"}, "Game version detected", 1, false},
      {"during the start delay, every module",
       {"--start-delay", "5000", "--all-modules"},
       "Game version detected",
       1,
       false},
      {"while the game runs", {"--", "--frames", "100000", "--frame-time", "10"}, kStarted, 0, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string dataHome = "XDG_DATA_HOME=" + UserData().string();
    std::vector<std::string> words = {"env", dataHome, BRINDLE_LAUNCH, "--game", BRINDLE_GAME};
    words.insert(words.end(), row.arguments.begin(), row.arguments.end());
    const auto began = std::chrono::steady_clock::now();
    int out = -1;
    const pid_t child = LaunchInOwnGroup(words, &out);
    ASSERT_GE(child, 0);
    std::string output;
    bool sent = false;
    char buffer[4096];
    for (ssize_t got; (got = ::read(out, buffer, sizeof buffer)) > 0;) {
      output.append(buffer, std::size_t(got));
      if (!sent && output.find(row.sendAfter) != std::string::npos) {
        sent = ::kill(-child, SIGINT) == 0;
      }
    }
    ::close(out);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    SCOPED_TRACE(output);
    EXPECT_TRUE(sent);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status);
    EXPECT_EQ(output.find(kStarted) != std::string::npos, row.started);
    EXPECT_EQ(output.find("the game did not start") != std::string::npos, !row.started);
    if (!row.started) {
      EXPECT_EQ(output.find(kNoGameCode), std::string::npos);
      EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));  // the delay was cut short
    }
  }
}

// Whether a process of the group is alive (a zombie waits for its reaping, it does not run).
bool GroupRuns(pid_t group) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    if (!std::getline(in, stat)) continue;
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0, processGroup = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &processGroup) == 3 &&
        processGroup == group && state != 'Z')
      return true;
  }
  return false;
}

// A Ctrl+C that comes while the launcher is making the game (after it took the console's events, before the game
// exists to take them too) still stops the start. The signal goes to the process group as the launcher says what
// folders it uses, the line right before it takes the events, and a little later at every step of a range: each
// run ends soon (the game alone would run for minutes), says it started only where it ended with 0, leaves no
// process behind, and the ones that ended on their own say the game did not start.
TEST(StartGame, CtrlCWhileTheGameIsMadeStopsIt) {
  const std::string dataHome = "XDG_DATA_HOME=" + UserData().string();
  std::vector<std::string> words = {"env", dataHome,   BRINDLE_LAUNCH, "--game",       BRINDLE_GAME,
                                    "--",  "--frames", "100000",       "--frame-time", "10"};
  int endedOnTheirOwn = 0;
  for (int microseconds = 0; microseconds <= 40000; microseconds += microseconds < 2000 ? 250 : 2000) {
    SCOPED_TRACE(microseconds);
    int out = -1;
    const pid_t child = LaunchInOwnGroup(words, &out);
    ASSERT_GE(child, 0);
    const auto began = std::chrono::steady_clock::now();
    std::string output;
    bool sent = false, killed = false;
    char buffer[4096];
    for (;;) {
      pollfd ready{out, POLLIN, 0};
      if (::poll(&ready, 1, 100) > 0) {
        const ssize_t got = ::read(out, buffer, sizeof buffer);
        if (got <= 0) break;
        output.append(buffer, std::size_t(got));
      }
      if (!sent && output.find("debug files in") != std::string::npos) {
        ::usleep(useconds_t(microseconds));
        sent = ::kill(-child, SIGINT) == 0;
      }
      if (!killed && std::chrono::steady_clock::now() - began > std::chrono::seconds(10)) {
        killed = ::kill(-child, SIGKILL) == 0;
      }
    }
    ::close(out);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    SCOPED_TRACE(output);
    EXPECT_TRUE(sent);
    EXPECT_FALSE(killed) << "the launcher and the game went on after the Ctrl+C";
    if (killed) continue;
    for (int waited = 0; GroupRuns(child) && waited < 100; ++waited) ::usleep(10000);
    EXPECT_FALSE(GroupRuns(child)) << "a process of the group outlived the launcher";
    if (!WIFEXITED(status)) continue;  // the signal came before the launcher took the console's events
    ++endedOnTheirOwn;
    const bool started = output.find(kStarted) != std::string::npos;
    EXPECT_EQ(WEXITSTATUS(status), started ? 0 : 1);
    // The launcher stops a game it made after the Ctrl+C, which may have run a little of its own code by then;
    // a game that took the Ctrl+C itself ends before its code runs.
    const bool calledOff = output.find(kCalledOff) != std::string::npos;
    if (calledOff) {
      EXPECT_FALSE(started);
    }
    if (!started && !calledOff) {
      EXPECT_EQ(output.find(kNoGameCode), std::string::npos);
    }
  }
  EXPECT_GT(endedOnTheirOwn, 0);
}

// SIGTERM to the launcher's process group, once the game runs with every module: the game ends with the launcher,
// none of its libraries having taken the signal for itself.
TEST(StartGame, SigtermToTheGroupEndsTheGame) {
  const std::vector<std::vector<std::string>> choices = {{"--all-modules"}, {"--module", "Multiplayer"}};
  for (const auto& modules : choices) {
    SCOPED_TRACE(modules.back());
    std::vector<std::string> words = {"env", "XDG_DATA_HOME=" + UserData().string(), BRINDLE_LAUNCH, "--game",
                                      BRINDLE_GAME};
    words.insert(words.end(), modules.begin(), modules.end());
    words.insert(words.end(), {"--", "--frames", "100000", "--frame-time", "10"});
    int out = -1;
    const pid_t child = LaunchInOwnGroup(words, &out);
    ASSERT_GE(child, 0);
    std::string output;
    char buffer[4096];
    while (output.find(kStarted) == std::string::npos) {
      const ssize_t got = ::read(out, buffer, sizeof buffer);
      if (got <= 0) break;
      output.append(buffer, std::size_t(got));
    }
    ASSERT_NE(output.find(kStarted), std::string::npos) << output;
    ::kill(-child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    bool runs = true;
    for (int waited = 0; (runs = GroupRuns(child)) && waited < 300; ++waited) ::usleep(10000);
    EXPECT_FALSE(runs) << "the game outlived its launcher";
    if (runs) ::kill(-child, SIGKILL);
    ::close(out);
  }
}

// A game that ends right after its start (one frame, or GameStart ending the process) ends before the launcher's
// first poll: it still started, and the launcher still ends with the game's own code. Run often, for the two
// processes' order differs from run to run.
TEST(StartGame, AGameThatEndsAtOnceStillStartedAndEndsWithItsOwnCode) {
  const Case cases[] = {
      {"one frame", "", "", "--frames 1 --exit 3", 3, {"quorvant: 1 frames run", kUnloading, "exit code 0x103"}, 1,
       true, true},
      {"one frame, every module", "", "--all-modules", "--frames 1 --exit 2", 2,
       {"quorvant: 1 frames run", kUnloading, "exit code 0x102"}, 1, true, true},
      {"GameStart 11", kScripted, "--module BugFixes --option BugFixes.GameStart=11 --option BugFixes.ExitCode=42", "",
       42, {"SCRIPTED: 5 started", kUnloading, "exit code 0x2A"}, 1, false, true},
      {"GameStart 11 with 0", kScripted,
       "--module BugFixes --option BugFixes.GameStart=11 --option BugFixes.ExitCode=0", "", 0,
       {"SCRIPTED: 5 started", kUnloading, "exit code 0x0"}, 1, false, true},
      {"GameStart 7", kScripted, "--module BugFixes --option BugFixes.GameStart=7 --option BugFixes.ExitCode=42", "",
       0, {"SCRIPTED: 5 started", kUnloading, "exit code 0x0"}, 1, false, true},
  };
  constexpr int kRounds = 8;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    for (const Case& c : cases) Check(c);
  }
}

// The game double run on its own saves the frames asked as PNG pictures of the screen's size: the last by default,
// numbered ones beside it, nothing for a frame it never runs.
TEST(GameProgram, SavesTheFramesAskedAsPictures) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("brindle-pictures-" + std::to_string(::getpid()));
  struct Row {
    const char* what;
    std::string arguments;
    std::vector<std::string> files;  // in the folder afterwards
    std::vector<int> frames;          // the frames said to be saved, in order
  };
  const std::string base = (folder / "frame.png").string(), bare = (folder / "frame").string();
  const Row rows[] = {
      {"the last", "--frames 2 --png " + base, {"frame.png"}, {1}},
      {"numbered", "--frames 3 --png " + base + " --png-frame 2 --png-frame 0", {"frame-0.png", "frame-2.png"}, {0, 2}},
      {"without an extension", "--frames 1 --png " + bare + " --png-frame 0", {"frame-0"}, {0}},
      {"a frame never run", "--frames 2 --png " + base + " --png-frame 5", {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string command = std::string(BRINDLE_GAME) + " " + row.arguments + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[1024];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    ASSERT_EQ(::pclose(pipe), 0) << output;
    std::vector<int> said;
    for (std::size_t at = output.find("quorvant: frame "); at != std::string::npos;
         at = output.find("quorvant: frame ", at + 1))
      said.push_back(std::atoi(output.c_str() + at + std::strlen("quorvant: frame ")));
    EXPECT_EQ(said, row.frames) << output;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, row.files);
    for (const std::string& file : files) {
      // The signature, then the header chunk's width and height (big-endian).
      std::ifstream in(folder / file, std::ios::binary);
      unsigned char head[24] = {};
      in.read(reinterpret_cast<char*>(head), sizeof head);
      const auto be32 = [&](int at) {
        return std::uint32_t(head[at]) << 24 | std::uint32_t(head[at + 1]) << 16 | std::uint32_t(head[at + 2]) << 8 |
               head[at + 3];
      };
      EXPECT_EQ((std::tuple{std::string(reinterpret_cast<char*>(head) + 1, 3), be32(16), be32(20)}),
                (std::tuple{std::string("PNG"), 640u, 480u}))
          << file;
    }
  }
  fs::remove_all(folder);
}

// The game double on its own: the output, the exit status, and how long it ran.
struct GameRun {
  LaunchRun run;
  std::chrono::steady_clock::duration took{};
};

GameRun RunGame(const std::string& arguments) {
  GameRun game;
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = ::popen((std::string(BRINDLE_GAME) + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return game;
  char buffer[1024];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) game.run.output.append(buffer, got);
  const int status = ::pclose(pipe);
  game.took = std::chrono::steady_clock::now() - start;
  game.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return game;
}

// A typed line whose Return would come before it, and frame options without their parts, are usage errors; the
// forms that parse run the game.
TEST(GameProgram, RefusesTypingAndAwaitingOptionsItCannotRead) {
  constexpr int kUsage = 64;
  const struct {
    const char* arguments;
    int status;
  } rows[] = {
      {"--frames 1 --type 3-2:/say+hi", kUsage}, {"--frames 1 --type 3x:/say+hi", kUsage},
      {"--frames 1 --type 3-:/say+hi", kUsage},  {"--frames 1 --type 3-4x:/say+hi", kUsage},
      {"--frames 1 --await-bar 3", kUsage},      {"--frames 1 --await-bar 3-4:10", kUsage},
      {"--frames 1 --type 3:/say+hi", 0},        {"--frames 1 --type 3-3:/say+hi", 0},
      {"--frames 1 --type 3-40:/say+hi", 0},     {"--frames 1 --await-bar 3:10", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments);
    const GameRun game = RunGame(row.arguments);
    EXPECT_EQ(row.status, game.run.status) << game.run.output;
    EXPECT_EQ(row.status == kUsage, game.run.output.find("usage: quorvant") != std::string::npos) << game.run.output;
  }
}

// Alone, the double draws no progress bar: an awaited frame runs again for its whole bound, says so, and the frames
// go on; a frame never run is never awaited.
TEST(GameProgram, AnAwaitedFrameWithoutABarGivesUpAfterItsBound) {
  using std::chrono::milliseconds;
  const struct {
    const char* arguments;
    const char* said;  // "" when nothing is said
    milliseconds atLeast;
  } rows[] = {
      {"--frames 3 --frame-time 5 --await-bar 1:300",
       "quorvant: frame 1 drew no progress bar with part done within 300 ms\nquorvant: 3 frames run",
       milliseconds(300)},
      {"--frames 3 --await-bar 0:100", "quorvant: frame 0 drew no progress bar with part done within 100 ms\n",
       milliseconds(100)},
      {"--frames 2 --await-bar 5:20000", "", milliseconds(0)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments);
    const GameRun game = RunGame(row.arguments);
    EXPECT_EQ(0, game.run.status) << game.run.output;
    if (*row.said != 0) {
      EXPECT_NE(std::string::npos, game.run.output.find(row.said)) << game.run.output;
    } else {
      EXPECT_EQ(std::string::npos, game.run.output.find("drew no progress bar")) << game.run.output;
    }
    EXPECT_GE(game.took, row.atLeast);
    EXPECT_LT(game.took, row.atLeast + std::chrono::seconds(10));
  }
}

}  // namespace
