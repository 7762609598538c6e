// links: brindle_features brindle_core brindle_gameimage
// CustomFiles' costs against the base library's own: the read replacement reached through the game's patched
// read routine against CStream::Read on the same file ("replacement/read", goal under 1.1), and an open through
// MapGameFile with ten mod overlays over /GameData against CFileSystem::OpenFile of the path it resolves to
// ("mapped/open"). Each iteration times a batch of each, in alternating order; the reads' checksums and the
// opens' successes are checked. Then the cost of switching players: the game's patched control place with
// eight remote players linked (nine runs of the game's control routine, eight switches there and back) against
// that routine called nine times bare ("switched/bare"); both count the routine's calls.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <base/FileSystem.h>
#include <features/CustomFiles.h>
#include <features/FeatureModules.h>
#include <features/MultiplePlayerSupport.h>
#include <hack/GameVersion.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>
#include <platform/text.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 2000;
constexpr int kMods = 10;
constexpr std::uint32_t kChunk = 64;
constexpr std::uint32_t kFileBytes = 4096;
// The IV Editor's read routine, which CustomFiles replaces by a jump.
constexpr std::uint32_t kReadEditor = 0x49E05D;

// A scratch tree: the install directory and ten mods, each with a CustomFiles folder.
class Tree {
 public:
  Tree() {
    char pattern[] = "/tmp/brindle_features_bench_XXXXXX";
    root_ = mkdtemp(pattern);
    Make("install");
    std::ofstream(root_ + "/install/level.dat", std::ios::binary) << std::string(kFileBytes, 'x');
    for (int i = 0; i < kMods; ++i) Make("mods/m" + std::to_string(i) + "/CustomFiles");
  }
  ~Tree() { std::system(("rm -rf " + root_).c_str()); }
  std::u16string Wide(const std::string& relative) const { return text::Utf8ToUtf16(root_ + "/" + relative); }

 private:
  void Make(const std::string& relative) { std::system(("mkdir -p " + root_ + "/" + relative).c_str()); }
  std::string root_;
};

// Standard output goes nowhere while the mapper logs its lines.
class QuietOutput {
 public:
  QuietOutput() : saved_(dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~QuietOutput() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

struct Setup {
  Tree tree;
  CFileSystem files{&g_AppContext};
  gamedouble::CGameDouble game{gamedouble::Build::IVEditor};
  bool ok = false;

  Setup() {
    hack::testing::ResetHackRegistry();
    if (!game.IsReady()) return;
    DetectGameVersion();
    SelectGameBuild();
    MountPhysicalDirectory(u"/GameDir", true, tree.Wide("install").c_str());
    MountVirtualDirectory(u"/GameData", true, true, u"/GameDir");
    for (int i = 0; i < kMods; ++i) {
      const std::string name = "m" + std::to_string(i);
      MountPhysicalDirectory((u"/Mods/" + text::Utf8ToUtf16(name)).c_str(), false, tree.Wide("mods/" + name).c_str());
    }
    QuietOutput quiet;
    tHackModule* module = CreateHackModule(u"module.dll", u"CustomFiles");
    ok = RegisterHackModule(module, reinterpret_cast<HMODULE>(0x2000), false, CustomFilesModuleHandler) ==
         MODULEREPLY_HANDLED;
  }
  ~Setup() { hack::testing::ResetHackRegistry(); }
};

void Report(benchmark::State& state, const char* name, Clock::duration ours, Clock::duration theirs) {
  const double calls = static_cast<double>(state.iterations()) * kBatch;
  const double oursNs = std::chrono::duration<double, std::nano>(ours).count();
  const double theirsNs = std::chrono::duration<double, std::nano>(theirs).count();
  if (calls > 0 && theirsNs > 0) {
    state.counters["ours_ns"] = oursNs / calls;
    state.counters["base_ns"] = theirsNs / calls;
    state.counters[name] = oursNs / theirsNs;
  }
}

void ReplacementOverRead(benchmark::State& state) {
  Setup setup;
  if (!setup.ok) {
    state.SkipWithError("could not set up the double");
    return;
  }
  CStream* stream = setup.files.OpenFile(u"/GameData/level.dat", kOpenFileRead);
  const auto gameRead = reinterpret_cast<std::uint32_t (*)(void*, std::uint32_t, std::uint32_t, void*)>(
      std::uintptr_t(setup.game.At(kReadEditor)));
  char buffer[kChunk];
  Clock::duration ours{}, theirs{};
  bool first = true, ok = stream != nullptr;
  for (auto _ : state) {
    const auto timeOurs = [&] {
      stream->Rewind();
      const auto start = Clock::now();
      std::uint32_t sum = 0;
      for (int i = 0; i < kBatch; ++i) {
        if (i % (kFileBytes / kChunk) == 0) stream->Rewind();
        sum += gameRead(buffer, 1, kChunk, stream);
      }
      ours += Clock::now() - start;
      ok = ok && sum == kChunk * kBatch;
    };
    const auto timeTheirs = [&] {
      const auto start = Clock::now();
      std::uint32_t sum = 0;
      for (int i = 0; i < kBatch; ++i) {
        if (i % (kFileBytes / kChunk) == 0) stream->Rewind();
        sum += stream->Read(buffer, 1, kChunk);
      }
      theirs += Clock::now() - start;
      ok = ok && sum == kChunk * kBatch;
    };
    if (first) {
      timeOurs();
      timeTheirs();
    } else {
      timeTheirs();
      timeOurs();
    }
    first = !first;
  }
  if (stream != nullptr) stream->Release();
  if (!ok) state.SkipWithError("a read went astray");
  Report(state, "replacement/read", ours, theirs);
}
BENCHMARK(ReplacementOverRead);

void MappedOverOpen(benchmark::State& state) {
  Setup setup;
  if (!setup.ok) {
    state.SkipWithError("could not set up the double");
    return;
  }
  Clock::duration ours{}, theirs{};
  bool first = true, ok = true;
  for (auto _ : state) {
    QuietOutput quiet;
    const auto timeOurs = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kBatch / 10; ++i) {
        CStream* stream = MapGameFile("level.dat", kMapOpenData);
        ok = ok && stream != nullptr;
        if (stream != nullptr) stream->Release();
      }
      ours += Clock::now() - start;
    };
    const auto timeTheirs = [&] {
      const auto start = Clock::now();
      for (int i = 0; i < kBatch / 10; ++i) {
        CStream* stream = setup.files.OpenFile(u"/GameData/level.dat", kOpenFileRead);
        ok = ok && stream != nullptr;
        if (stream != nullptr) stream->Release();
      }
      theirs += Clock::now() - start;
    };
    if (first) {
      timeOurs();
      timeTheirs();
    } else {
      timeTheirs();
      timeOurs();
    }
    first = !first;
  }
  if (!ok) state.SkipWithError("an open failed");
  Report(state, "mapped/open", ours, theirs);
}
BENCHMARK(MappedOverOpen);

void SwitchedOverBare(benchmark::State& state) {
  constexpr int kRemotePlayers = 8;
  constexpr int kRuns = kRemotePlayers + 1;
  constexpr int kControlBatch = 200;
  hack::testing::ResetHackRegistry();
  gamedouble::CGameDouble game(gamedouble::Build::IVReleasePatched);
  if (!game.IsReady()) {
    state.SkipWithError("could not map the double");
    return;
  }
  DetectGameVersion();
  SelectGameBuild();
  tHackModule* module = CreateHackModule(u"module.dll", u"MultiplePlayerSupport");
  bool ok = RegisterHackModule(module, reinterpret_cast<HMODULE>(0x2000), false, MultiplePlayerSupportModuleHandler) ==
            MODULEREPLY_HANDLED;
  for (std::uint16_t item = 1; item <= kRemotePlayers; ++item) ok = ok && MultiplePlayerSupport::LinkPlayer(item);
  std::uint64_t calls = 0;
  game.OnCall(gamedouble::Routine::PlayerControlRoutine, [&calls](const gamedouble::StubCall&) -> std::uint32_t {
    ++calls;
    return 0;
  });
  using Routine = void (*)();
  const auto switched =
      reinterpret_cast<Routine>(std::uintptr_t(game.Address(gamedouble::Routine::PlayerControlCaller)));
  const auto bare = reinterpret_cast<Routine>(std::uintptr_t(game.Address(gamedouble::Routine::PlayerControlRoutine)));
  Clock::duration ours{}, theirs{};
  bool first = true;
  for (auto _ : state) {
    const auto timeOurs = [&] {
      const std::uint64_t before = calls;
      const auto start = Clock::now();
      for (int i = 0; i < kControlBatch; ++i) switched();
      ours += Clock::now() - start;
      ok = ok && calls - before == std::uint64_t(kRuns) * kControlBatch;
    };
    const auto timeTheirs = [&] {
      const std::uint64_t before = calls;
      const auto start = Clock::now();
      for (int i = 0; i < kControlBatch; ++i)
        for (int run = 0; run < kRuns; ++run) bare();
      theirs += Clock::now() - start;
      ok = ok && calls - before == std::uint64_t(kRuns) * kControlBatch;
    };
    if (first) {
      timeOurs();
      timeTheirs();
    } else {
      timeTheirs();
      timeOurs();
    }
    first = !first;
    game.ClearCalls();
  }
  hack::testing::ResetHackRegistry();
  if (!ok) state.SkipWithError("a control run went astray");
  const double batches = static_cast<double>(state.iterations()) * kControlBatch;
  const double oursNs = std::chrono::duration<double, std::nano>(ours).count();
  const double theirsNs = std::chrono::duration<double, std::nano>(theirs).count();
  if (batches > 0 && theirsNs > 0) {
    state.counters["switched_ns"] = oursNs / batches;
    state.counters["bare_ns"] = theirsNs / batches;
    state.counters["switched/bare"] = oursNs / theirsNs;
  }
}
BENCHMARK(SwitchedOverBare);

}  // namespace
