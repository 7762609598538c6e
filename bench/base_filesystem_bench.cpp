// links: brindle_base
// Resolution of virtual paths through 20 mount points: the mount walk alone
// (MatchPath over every mount), path resolution plus the walk, and whole Exists
// lookups that end at the oldest mount (including the host query).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <platform/text.h>

#include <base/FileSystem.h>

namespace {

constexpr int kMounts = 20;

// 19 mounts over /Mods/NN plus /GameData (the oldest), each on its own host directory.
class TwentyMounts {
 public:
  TwentyMounts() {
    char pattern[] = "/tmp/brindle_fs_bench_XXXXXX";
    root_ = mkdtemp(pattern);
    fileSystem_ = new CFileSystem(&g_AppContext);
    MakeDir("game");
    MakeDir("game/data");
    const std::string file = root_ + "/game/data/title.wad";
    if (FILE* f = std::fopen(file.c_str(), "wb")) std::fclose(f);
    MountPhysicalDirectory(u"/GameData", false, text::Utf8ToUtf16(root_ + "/game").c_str());
    for (int i = 1; i < kMounts; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "mod%02d", i);
      MakeDir(name);
      const std::u16string host = text::Utf8ToUtf16(root_ + "/" + name);
      const std::u16string virtualPath = text::Utf8ToUtf16(std::string("/Mods/") + name);
      MountPhysicalDirectory(virtualPath.c_str(), false, host.c_str());
    }
  }
  ~TwentyMounts() {
    delete fileSystem_;
    nftw(root_.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }
  CFileSystem* FileSystem() const { return fileSystem_; }

 private:
  void MakeDir(const std::string& relative) const { mkdir((root_ + "/" + relative).c_str(), 0755); }

  std::string root_;
  CFileSystem* fileSystem_;
};

// The mount walk of one lookup: every mount is tested, the oldest one covers the path.
void BM_MatchPathWalk20(benchmark::State& state) {
  TwentyMounts mounts;
  const char16_t* resolved = u"/GameData/data/title.wad";
  char16_t relative[CFileSystem::kMaxPath];
  for (auto _ : state) {
    int covering = 0;
    for (CFileSystem::tMountPoint* mount = mounts.FileSystem()->GetNewestMountPoint(); mount != nullptr;
         mount = mount->GetNext()) {
      if (mount->MatchPath(resolved, relative)) ++covering;
    }
    benchmark::DoNotOptimize(covering);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["mounts"] = kMounts;
}
BENCHMARK(BM_MatchPathWalk20);

// Resolving the caller's path, then walking the mounts.
void BM_ResolveAndWalk20(benchmark::State& state) {
  TwentyMounts mounts;
  const char16_t* path = u"GameData//data/title.wad";
  char16_t resolved[CFileSystem::kMaxPath];
  char16_t relative[CFileSystem::kMaxPath];
  for (auto _ : state) {
    mounts.FileSystem()->ResolvePath(path, resolved);
    int covering = 0;
    for (CFileSystem::tMountPoint* mount = mounts.FileSystem()->GetNewestMountPoint(); mount != nullptr;
         mount = mount->GetNext()) {
      if (mount->MatchPath(resolved, relative)) ++covering;
    }
    benchmark::DoNotOptimize(covering);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResolveAndWalk20);

// Whole lookups: resolution, the walk, the host path and the host query.
void BM_Exists20(benchmark::State& state) {
  TwentyMounts mounts;
  const bool expected = mounts.FileSystem()->Exists(u"/GameData/data/title.wad", true, false);
  if (!expected) state.SkipWithError("the file to look up is missing");
  for (auto _ : state) {
    benchmark::DoNotOptimize(mounts.FileSystem()->Exists(u"/GameData/data/title.wad", true, false));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Exists20);

// A lookup that no mount covers: resolution and the walk only.
void BM_ExistsUncovered20(benchmark::State& state) {
  TwentyMounts mounts;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mounts.FileSystem()->Exists(u"/UserData/Screenshots/Vesk0001.tga", true, false));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExistsUncovered20);

}  // namespace
