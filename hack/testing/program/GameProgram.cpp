// The game double as a program: the game executable a launcher starts, injects into and waits for.
//
//   quorvant [--build A|B|C|D] [--frames N] [--exit 0..4] [--window W] [--marker M] [--interrupt 1]
//                             [--frame-time MS] [--level L] [--type FRAME[-ENTER]:TEXT]... [--await-bar FRAME:MS]
//                             [--png FILE [--png-frame N]...]
//
// --marker writes another build marker (a build no launcher supports); --interrupt sends the program Ctrl+C
// (SIGINT) after its frames and waits for it to end the process; --frame-time paces each frame as a game would.
// --level makes L the current level and loads its items before the first frame; --type has the player type TEXT
// ("+" for a blank) into the console: the console key and the text before frame FRAME, Return before frame ENTER
// (FRAME when not given; never before it), as SDL events on the game window, which holds the keyboard focus: the
// frames between show the open console with the line. --await-bar runs frame FRAME again, paced, until it draws a
// progress bar with part of it done, for at most MS milliseconds (then it says so and goes on): its picture shows a
// download under way that began whenever the server got round to it. --png saves the picture of the last frame as a PNG
// file: what the frame drew, the modules' drawing and the game's progress bars among it; with --png-frame, frame N is
// saved instead, as FILE with "-N" before its extension (the option may be repeated). The host part maps the double
// (the loader's work), puts the frame loop between the window's creation and the main function's returns, keeps a
// pristine copy of the code and hands over at platform::EnterGameMain, where a suspended start waits. The game part is
// the double's main function: the start hook's place, the window places, N frames through the frame hook (keys read, a
// quad drawn, a sample loaded on the first), and the chosen return. After the exit hooks the code must equal its
// pristine copy. The process ends with the main function's result (0x100 + the return's index), or kImageChanged.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <SDL.h>

#include <hack/testing/GameDouble.h>
#include <hack/testing/Picture.h>
#include <platform/memory.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/window.h>

#include "../src/GamePlaces.h"

namespace {

using gamedouble::Build;
using gamedouble::CGameDouble;
using gamedouble::Routine;

constexpr UINT kImageChanged = 0xBAD1;
constexpr UINT kUsage = 64;
constexpr std::uint32_t kWindowChangedStoreBytes = 5;  // mov [window global], eax
constexpr std::uint8_t kJmpRel32 = 0xE9;
constexpr std::uint32_t kJmpBytes = 5;
constexpr std::uint32_t kScreenWidth = 640, kScreenHeight = 480;
constexpr std::uint32_t kSampleIndex = 3;
constexpr std::uint8_t kKeyDown = 0x80;
// A level's rooms, and the first item number a level leaves free for new items.
constexpr gamedouble::Place kRoomCount{0x53392C, 0x533A5C, 0x533A9C, 0x87514C};
constexpr std::uint16_t kLevelRooms = 20;
constexpr std::uint32_t kFirstFreeItem = 40;

struct Options {
  Build build = Build::VReleasePatched;
  std::uint32_t frames = 3;
  std::uint32_t exitIndex = 0;
  std::uint32_t window = 0x00010010;
  bool marker = false;
  std::uint32_t markerValue = 0;
  bool interrupt = false;
  std::uint32_t frameTime = 0;
  std::int32_t level = -1;
};

// A line the player types: the console opened and the text before one frame, Return before another.
struct Typed {
  std::uint32_t frame;
  std::uint32_t enter;
  std::string text;
};

// A frame run again until it draws a progress bar with part of it done, for at most `ms`.
struct AwaitedBar {
  std::uint32_t frame;
  std::uint32_t ms;
};

CGameDouble* g_Game = nullptr;
std::uint32_t g_Frames = 0;
bool g_Interrupt = false;
std::uint32_t g_FrameTime = 0;
std::int32_t g_Level = -1;
std::vector<Typed> g_Typed;
std::string g_PictureFile;
std::vector<std::uint32_t> g_PictureFrames;  // none: the last
std::optional<AwaitedBar> g_AwaitedBar;
std::uint32_t g_BarsThisRun = 0;  // progress bars with part done that the running frame drew

void SavePicture(std::uint32_t frame, const std::string& file) {
  std::string error;
  if (gamedouble::SavePng(g_Game->Frame(), file, &error))
    std::printf("quorvant: frame %u saved as %s\n", frame, file.c_str());
  else
    std::printf("quorvant: frame %u could not be saved as %s: %s\n", frame, file.c_str(), error.c_str());
  std::fflush(stdout);  // the line takes its place among the other processes' lines on a shared terminal
}

// FILE for the last frame, FILE with "-N" before its extension for a frame asked by number.
void SavePictureOf(std::uint32_t frame) {
  if (g_PictureFile.empty()) return;
  if (g_PictureFrames.empty()) {
    if (frame + 1 == g_Frames) SavePicture(frame, g_PictureFile);
    return;
  }
  if (std::find(g_PictureFrames.begin(), g_PictureFrames.end(), frame) == g_PictureFrames.end()) return;
  const std::size_t slash = g_PictureFile.find_last_of('/');
  std::size_t dot = g_PictureFile.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = g_PictureFile.size();
  SavePicture(frame, g_PictureFile.substr(0, dot) + "-" + std::to_string(frame) + g_PictureFile.substr(dot));
}

// The game's progress bar as the player sees it: its track, and the part done (value of 100) in its colour.
constexpr std::uint32_t kBarTrack = 0xFF303030, kOpaque = 0xFF000000, kWhole = 100;
std::uint32_t DrawProgressBar(const gamedouble::StubCall& call) {
  const std::vector<std::uint32_t>& a = call.arguments;  // x, y, width, height, value, colour, colour
  const auto x = std::int32_t(a[0]), y = std::int32_t(a[1]), width = std::int32_t(a[2]), height = std::int32_t(a[3]);
  if (a[4] != 0) ++g_BarsThisRun;
  g_Game->Frame().FillRect(x, y, width, height, kBarTrack);
  g_Game->Frame().FillRect(x, y, width * std::int32_t(std::min(a[4], kWhole)) / std::int32_t(kWhole), height,
                           kOpaque | a[5]);
  return 0;
}

template <typename F>
F Entry(Routine routine) {
  return reinterpret_cast<F>(std::uintptr_t(g_Game->Address(routine)));
}

gamedouble::QuadRecord QuadAt(float left, float top, float size, std::uint32_t colour) {
  gamedouble::QuadRecord quad{gamedouble::kQuadModeFlagFalse, 0, {}};
  const float xs[] = {left, left + size, left + size, left}, ys[] = {top, top, top + size, top + size};
  for (int i = 0; i < 4; ++i) quad.vertices[i] = {xs[i], ys[i], 0.5f, 1.0f, colour, 0, 0.0f, 0.0f};
  return quad;
}

void PushKey(SDL_Keycode key) {
  SDL_Event event{};
  event.type = SDL_KEYDOWN;
  event.key.state = SDL_PRESSED;
  event.key.keysym.sym = key;
  event.key.keysym.scancode = SDL_GetScancodeFromKey(key);
  SDL_PushEvent(&event);
}

void PushText(const std::string& text) {
  SDL_Event event{};
  event.type = SDL_TEXTINPUT;
  std::strncpy(event.text.text, text.c_str(), sizeof event.text.text - 1);
  SDL_PushEvent(&event);
}

void FocusGameWindow() {
  SetFocus(reinterpret_cast<HWND>(std::uintptr_t(g_Game->Read<std::uint32_t>(gamedouble::places::kWindowGlobal))));
}

// The console key comes as a key and as its character, as a keyboard sends both.
void OpenConsoleAndType(const std::string& line) {
  FocusGameWindow();
  PushKey(SDLK_t);
  PushText("t");
  PushText(line);
}

void PressReturn() {
  FocusGameWindow();
  PushKey(SDLK_RETURN);
}

// One frame's work; `again` when the frame runs once more for its bar (the first frame's sample loads once).
void RunFrame(std::uint32_t frame, bool again) {
  g_BarsThisRun = 0;
  std::uint8_t keys[256] = {};
  keys[frame % std::size(keys)] = kKeyDown;
  g_Game->SetKeyboard(keys);
  std::uint8_t states[256] = {};
  Entry<void (*)(std::uint8_t*)>(Routine::GetKeyStates)(states);
  gamedouble::QuadRecord quad = QuadAt(float(frame * 8), 16.0f, 32.0f, 0xFF20A040u + frame);
  Entry<void (*)(gamedouble::QuadRecord*)>(Routine::QuadRoutine)(&quad);
  if (frame == 0 && !again) {
    static char sample[] = "RIFF not a sample this game decodes";
    Entry<std::uint32_t (*)(void*, std::uint32_t, std::uint32_t, std::uint32_t)>(Routine::LoadSampleCaller)(
        sample, sizeof sample, 0, kSampleIndex);
  }
  Entry<void (*)()>(Routine::Frame)();
}

void AwaitBar(std::uint32_t frame) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_AwaitedBar->ms);
  while (g_BarsThisRun == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::printf("quorvant: frame %u drew no progress bar with part done within %u ms\n", frame, g_AwaitedBar->ms);
      return;
    }
    Sleep(std::max<std::uint32_t>(g_FrameTime, 1));
    RunFrame(frame, true);
  }
}

// The frames, run from game code between the window's creation and the main function's returns.
__attribute__((force_align_arg_pointer)) void RunFrames() {
  if (g_Level >= 0) {
    g_Game->Write<std::uint16_t>(kRoomCount, kLevelRooms);
    static std::uint32_t next = kFirstFreeItem;
    g_Game->OnCall(Routine::AllocateItem, [](const gamedouble::StubCall&) -> std::uint32_t { return next++; });
    g_Game->Write<std::uint8_t>(gamedouble::places::kStateByte, std::uint8_t(g_Level));
    Entry<void (*)()>(Routine::LoadItems)();
  }
  for (std::uint32_t frame = 0; frame < g_Frames; ++frame) {
    for (const Typed& typed : g_Typed) {
      if (typed.frame == frame) OpenConsoleAndType(typed.text);
      if (typed.enter == frame) PressReturn();
    }
    RunFrame(frame, false);
    if (g_AwaitedBar.has_value() && g_AwaitedBar->frame == frame) AwaitBar(frame);
    SavePictureOf(frame);
    if (g_FrameTime != 0) Sleep(g_FrameTime);
  }
  std::printf("quorvant: %u frames run, %zu progress bars drawn\n", g_Frames,
              g_Game->CallsOf(Routine::ProgressBar).size() + g_Game->CallsOf(Routine::ProgressBarV).size());
  std::fflush(stdout);
  if (g_Interrupt) {
    ::kill(::getpid(), SIGINT);
    for (;;) ::pause();  // the console control handler ends the process
  }
}

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--build" && std::strlen(value) == 1 && value[0] >= 'A' && value[0] <= 'D')
      options->build = gamedouble::kBuilds[value[0] - 'A'];
    else if (name == "--frames")
      options->frames = std::uint32_t(std::strtoul(value, nullptr, 0));
    else if (name == "--exit" && std::strtoul(value, nullptr, 0) < std::size(gamedouble::places::kMainExits))
      options->exitIndex = std::uint32_t(std::strtoul(value, nullptr, 0));
    else if (name == "--window")
      options->window = std::uint32_t(std::strtoul(value, nullptr, 0));
    else if (name == "--marker")
      options->marker = true, options->markerValue = std::uint32_t(std::strtoul(value, nullptr, 0));
    else if (name == "--frame-time")
      options->frameTime = std::uint32_t(std::strtoul(value, nullptr, 0));
    else if (name == "--interrupt")
      options->interrupt = std::strtoul(value, nullptr, 0) != 0;
    else if (name == "--level")
      options->level = std::int32_t(std::strtoul(value, nullptr, 0) & 0xFF);
    else if (name == "--type" && std::strchr(value, ':') != nullptr) {
      char* end = nullptr;
      const auto frame = std::uint32_t(std::strtoul(value, &end, 0));
      auto enter = frame;
      if (*end == '-') enter = std::uint32_t(std::strtoul(end + 1, &end, 0));
      if (*end != ':' || enter < frame) return false;
      std::string text = end + 1;
      std::replace(text.begin(), text.end(), '+', ' ');
      g_Typed.push_back({frame, enter, text});
    } else if (name == "--await-bar" && std::strchr(value, ':') != nullptr) {
      char* end = nullptr;
      const auto frame = std::uint32_t(std::strtoul(value, &end, 0));
      if (*end != ':') return false;
      g_AwaitedBar = AwaitedBar{frame, std::uint32_t(std::strtoul(end + 1, nullptr, 0))};
    } else if (name == "--png" && value[0] != 0) {
      g_PictureFile = value;
    } else if (name == "--png-frame") {
      g_PictureFrames.push_back(std::uint32_t(std::strtoul(value, nullptr, 0)));
    } else {
      return false;
    }
  }
  return argc % 2 == 1;
}

// Sends the jump after the WindowChanged store through the frame loop on its way to the returns.
bool PutFrameLoop(CGameDouble& game) {
  const std::uint32_t place = game.At(gamedouble::places::kMainWindowChanged) + kWindowChangedStoreBytes;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(place));
  if (bytes[0] != kJmpRel32) return false;
  std::int32_t relative;
  std::memcpy(&relative, bytes + 1, sizeof relative);
  const std::uint32_t dispatch = place + kJmpBytes + std::uint32_t(relative);
  void* page = VirtualAlloc(nullptr, platform::PageSize(), MEM_COMMIT, PAGE_EXECUTE_READWRITE);
  if (page == nullptr) return false;
  gameimage::CEmitter loop(std::uint32_t(reinterpret_cast<std::uintptr_t>(page)));
  loop.Pushad().Call(std::uint32_t(reinterpret_cast<std::uintptr_t>(&RunFrames))).Popad().Jmp(dispatch);
  std::memcpy(page, loop.Code().data(), loop.Code().size());
  gameimage::CEmitter jump(place);
  jump.Jmp(loop.Origin());
  game.Image().Place(jump);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: quorvant [--build A|B|C|D] [--frames N] [--exit 0..4] [--window W] [--marker M] "
                 "[--interrupt 1] [--frame-time MS] [--level L] [--type FRAME[-ENTER]:TEXT] "
                 "[--await-bar FRAME:MS] [--png FILE [--png-frame N]...]\n");
    return int(kUsage);
  }
  CGameDouble game(options.build);
  if (!game.IsReady()) {
    std::fprintf(stderr, "quorvant: the game image could not be mapped\n");
    return int(kUsage);
  }
  g_Game = &game;
  g_Frames = options.frames;
  g_Interrupt = options.interrupt;
  g_FrameTime = options.frameTime;
  g_Level = options.level;
  for (Routine bar : {Routine::ProgressBar, Routine::ProgressBarV}) game.OnCall(bar, DrawProgressBar);
  if (options.marker) game.Image().WriteMarkerValue(options.markerValue);
  game.SetScreenSize(kScreenWidth, kScreenHeight);
  game.SetMainBehaviour(options.window, options.exitIndex);
  if (!PutFrameLoop(game)) {
    std::fprintf(stderr, "quorvant: the main function is not laid out as expected\n");
    return int(kUsage);
  }
  const auto* code = reinterpret_cast<const std::uint8_t*>(std::uintptr_t(game.At(gameimage::kPreferredBase)));
  const std::vector<std::uint8_t> pristine(code, code + (game.CodeEnd() - game.At(gameimage::kPreferredBase)));

  platform::EnterGameMain();
  using MainFunction =
      __attribute__((stdcall)) std::uint32_t (*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
  const std::uint32_t result = reinterpret_cast<MainFunction>(std::uintptr_t(game.Address(Routine::Main)))(
      game.At(gameimage::kPreferredBase), 0, 0, 1);
  if (std::memcmp(code, pristine.data(), pristine.size()) != 0) {
    std::fprintf(stderr, "quorvant: the code differs from its pristine copy after the exit hooks\n");
    ExitProcess(kImageChanged);
  }
  std::printf("quorvant: the main function returned 0x%X\n", result);
  ExitProcess(result);
}
