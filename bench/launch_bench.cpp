// links: Brindlecore brindle_platform_shared
// The two-process start: from BeginStartingGame to "started" with the core only, against spawning the same game
// double plainly to its first frame (and end) in the same run; and each injection step on its own.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <string>

#include <base/TaskContext.h>
#include <hack/List.h>
#include <launcher/InitialisationData.h>
#include <launcher/StartGame.h>

namespace gamedouble {
constexpr DWORD kMainExitCode = 0x100;  // what the double's main function answers by its first return
}
#include <platform/memory.h>
#include <platform/modules.h>
#include <platform/process.h>
#include <platform/sync.h>
#include <platform/text.h>

namespace {

using Clock = std::chrono::steady_clock;

std::u16string GamePath() {
  char self[4096] = {};
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, length > 0 ? std::size_t(length) : 0);
  path = path.substr(0, path.find_last_of('/'));  // build/bench
  return text::Utf8ToUtf16(path + "/../hack/testing/program/quorvant");
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// The game with one frame, no suspension, no injection: what a plain start costs (seconds; 0 when it failed).
double PlainSpawnToFirstFrame(const std::u16string& game) {
  const auto at = Clock::now();
  std::u16string line = u"\"" + game + u"\" --frames 1";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(game.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return 0;
  WaitForSingleObject(info.hProcess, INFINITE);
  const double seconds = Seconds(at);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code == gamedouble::kMainExitCode ? seconds : 0;
}

// The launcher's start with the core only, until WaitForGameToStart says started (the game's end not timed), and
// as its baseline a plain spawn of the same double to its first frame, each run.
void BM_StartToStarted(benchmark::State& state) {
  const std::u16string game = GamePath();
  InitialisationData header = MakeInitialisationHeader();
  SetFieldText(header.sdlDirectory, u"/usr/lib/i386-linux-gnu");
  tList descriptors, options;
  double plain = 0, injected = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const double baseline = PlainSpawnToFirstFrame(game);
    if (baseline == 0) {
      state.SkipWithError("the plain double did not run");
      return;
    }
    plain += baseline;
    state.ResumeTiming();
    const auto at = Clock::now();
    tTaskContext errors;
    HANDLE initThread = nullptr;
    HANDLE process = BeginStartingGame(&errors, nullptr, game.c_str(), u"--frames 1 --frame-time 50", &header,
                                       &descriptors, &options, &initThread);
    bool started = false;
    while (process != nullptr && !WaitForGameToStart(&errors, initThread, process, &started))
      WaitForSingleObject(initThread, INFINITE);
    injected += Seconds(at);
    state.PauseTiming();
    if (process == nullptr || !started) {
      state.SkipWithError("the game did not start");
      return;
    }
    WaitForSingleObject(process, INFINITE);
    CloseHandle(initThread);
    CloseHandle(process);
    state.ResumeTiming();
  }
  const double runs = double(state.iterations());
  state.counters["plain_ms"] = plain * 1e3 / runs;
  state.counters["started_ms"] = injected * 1e3 / runs;
  state.counters["ratio"] = injected / plain;
}
BENCHMARK(BM_StartToStarted)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each step on a suspended game: its creation, the SDL2 injection, this library's injection, the block's crossing.
void BM_InjectionSteps(benchmark::State& state) {
  const std::u16string game = GamePath();
  double create = 0, sdl = 0, self = 0, block = 0;
  char16_t ownPath[MAX_PATH + 1] = {};
  HMODULE own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&BeginStartingGame), &own);
  GetModuleFileNameW(own, reinterpret_cast<LPWSTR>(ownPath), MAX_PATH);
  const std::vector<std::uint8_t> bytes(kInitEmptyBlockSize);
  for (auto _ : state) {
    tTaskContext errors;
    auto at = Clock::now();
    std::u16string line = u"\"" + game + u"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    CreateProcessW(game.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                   &info);
    create += Seconds(at);
    at = Clock::now();
    const bool sdlLoaded = InjectLibrary(&errors, info.hProcess, u"/usr/lib/i386-linux-gnu\\SDL2.dll") != 0;
    sdl += Seconds(at);
    at = Clock::now();
    const bool selfLoaded = InjectLibrary(&errors, info.hProcess, ownPath) != 0;
    self += Seconds(at);
    at = Clock::now();
    void* remote = VirtualAllocEx(info.hProcess, nullptr, bytes.size(), MEM_COMMIT, PAGE_READWRITE);
    SIZE_T written = 0;
    WriteProcessMemory(info.hProcess, remote, bytes.data(), bytes.size(), &written);
    block += Seconds(at);
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (!sdlLoaded || !selfLoaded || written != bytes.size()) {
      state.SkipWithError("a step failed");
      return;
    }
  }
  const double runs = double(state.iterations());
  state.counters["create_ms"] = create * 1e3 / runs;
  state.counters["inject_sdl_ms"] = sdl * 1e3 / runs;
  state.counters["inject_self_ms"] = self * 1e3 / runs;
  state.counters["block_ms"] = block * 1e3 / runs;
}
BENCHMARK(BM_InjectionSteps)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
