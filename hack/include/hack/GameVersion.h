#pragma once
// Which build of which game runs, and where its places are in this process.
#include <cstdint>

enum : std::uint32_t {
  GAMEVERSION_II_RELEASE = 0,
  GAMEVERSION_III_RELEASE = 1,
  GAMEVERSION_IV_RELEASE_PATCHED = 2,
  GAMEVERSION_IV_EDITOR = 3,
  GAMEVERSION_IV_DEMO_CORVEL = 4,
  GAMEVERSION_IV_RELEASE = 5,
  GAMEVERSION_IV_DEMO_BRENNIC = 6,
  GAMEVERSION_V_RELEASE_PATCHED = 7,
  GAMEVERSION_V_RELEASE = 8,
  GAMEVERSION_UNRECOGNISED = 9,
};

// The running build; set once by DetectGameVersion.
extern std::uint32_t GameVersion;
// The game image's load address and size, kept by DetectGameVersion.
extern std::uint32_t g_GameImageBase;
extern std::uint32_t g_GameImageSize;

// The preferred base every game place is written against.
constexpr std::uint32_t kGamePreferredBase = 0x400000;
// Where the build marker (a u32) lies in the image.
constexpr std::uint32_t kGameBuildMarkerOffset = 0x6B487;

// Reads the marker of the main module, sets GameVersion and logs the build.
std::uint32_t DetectGameVersion();
// The build the marker value stands for (GAMEVERSION_UNRECOGNISED if none).
std::uint32_t GameVersionFromMarker(std::uint32_t marker);

// Accepts the detected build and chooses TranslateGameAddress, or shows why the
// build is not supported and returns false.
bool SelectGameBuild();

// (size to be patched or 0, IV Editor, IV Release Patched, IV Demo Corvel,
// V Release Patched) -> the address in the running game.
using tTranslateGameAddress = std::uint32_t (*)(std::uint32_t size, std::uint32_t a, std::uint32_t b,
                                                std::uint32_t c, std::uint32_t d);
// TranslateBeforeBuildSelected until SelectGameBuild accepts a build.
extern tTranslateGameAddress TranslateGameAddress;

// A misuse: ends the process through g_AppContext with a message naming the call.
std::uint32_t TranslateBeforeBuildSelected(std::uint32_t size, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                          std::uint32_t d);

std::uint32_t PickAddressColumnA(std::uint32_t size, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
std::uint32_t PickAddressColumnB(std::uint32_t size, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
std::uint32_t PickAddressColumnC(std::uint32_t size, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
std::uint32_t PickAddressColumnD(std::uint32_t size, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
