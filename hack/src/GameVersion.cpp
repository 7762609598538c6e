// Build detection: which game and build runs, and where its places are.
#include <hack/GameVersion.h>

#include <cstring>

#include <hack/Messages.h>
#include <platform/modules.h>
#include <platform/process.h>

std::uint32_t GameVersion = GAMEVERSION_UNRECOGNISED;
std::uint32_t g_GameImageBase = 0;
std::uint32_t g_GameImageSize = 0;
tTranslateGameAddress TranslateGameAddress = TranslateBeforeBuildSelected;

namespace {

struct MarkerEntry {
  std::uint32_t marker;
  std::uint32_t build;
  const char* line;
};

const MarkerEntry kMarkers[] = {
    {0x24247C89, GAMEVERSION_IV_RELEASE_PATCHED, "BRINDLECORE: Game version detected as IV (Release Patched)\n"},
    {0x1589108B, GAMEVERSION_IV_EDITOR, "BRINDLECORE: Game version detected as IV (Editor)\n"},
    {0x24448B00, GAMEVERSION_IV_DEMO_CORVEL, "BRINDLECORE: Game version detected as IV (Demo Corvel)\n"},
    {0x1CC48300, GAMEVERSION_IV_RELEASE, "BRINDLECORE: Game version detected as IV (Release)\n"},
    {0x0C8D0051, GAMEVERSION_IV_DEMO_BRENNIC, "BRINDLECORE: Game version detected as IV (Demo)\n"},
    {0x12E82C46, GAMEVERSION_V_RELEASE_PATCHED, "BRINDLECORE: Game version detected as V (Release Patched)\n"},
    {0x00000000, GAMEVERSION_II_RELEASE, "BRINDLECORE: Game version detected as II (Release)\n"},
    {0x0146820F, GAMEVERSION_III_RELEASE, "BRINDLECORE: Game version detected as III (Release)\n"},
    {0xEAE82C46, GAMEVERSION_V_RELEASE, "BRINDLECORE: Game version detected as V (Release)\n"},
};

std::uint32_t LoadDistance() { return g_GameImageBase - kGamePreferredBase; }

}  // namespace

std::uint32_t GameVersionFromMarker(std::uint32_t marker) {
  for (const MarkerEntry& entry : kMarkers) {
    if (entry.marker == marker) return entry.build;
  }
  return GAMEVERSION_UNRECOGNISED;
}

std::uint32_t DetectGameVersion() {
  HMODULE image = GetModuleHandleW(nullptr);
  MODULEINFO info{};
  if (image == nullptr || !GetModuleInformation(GetCurrentProcess(), image, &info, sizeof info)) info = MODULEINFO{};
  g_GameImageBase = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll));
  g_GameImageSize = info.SizeOfImage;

  GameVersion = GAMEVERSION_UNRECOGNISED;
  // The marker is four bytes: an image that ends before its last byte has none.
  if (g_GameImageSize >= kGameBuildMarkerOffset + 4) {
    std::uint32_t marker;
    std::memcpy(&marker, reinterpret_cast<const void*>(std::uintptr_t(g_GameImageBase) + kGameBuildMarkerOffset),
                sizeof marker);
    for (const MarkerEntry& entry : kMarkers) {
      if (entry.marker == marker) {
        GameVersion = entry.build;
        LogConsole("%s", entry.line);
        break;
      }
    }
  }
  return GameVersion;
}

bool SelectGameBuild() {
  const char16_t* message = nullptr;
  switch (GameVersion) {
    case GAMEVERSION_IV_EDITOR: TranslateGameAddress = PickAddressColumnA; return true;
    case GAMEVERSION_IV_RELEASE_PATCHED: TranslateGameAddress = PickAddressColumnB; return true;
    case GAMEVERSION_IV_DEMO_CORVEL: TranslateGameAddress = PickAddressColumnC; return true;
    case GAMEVERSION_V_RELEASE_PATCHED: TranslateGameAddress = PickAddressColumnD; return true;
    case GAMEVERSION_II_RELEASE: message = u"Quorvant II: Starring Kelv Dunmar is not currently supported."; break;
    case GAMEVERSION_III_RELEASE: message = u"Quorvant III: Adventures of Kelv Dunmar is not currently supported."; break;
    case GAMEVERSION_IV_RELEASE:
      message = u"The unpatched release version of Quorvant: Ossmere is not currently supported.";
      break;
    case GAMEVERSION_IV_DEMO_BRENNIC: message = u"The Brennic demo of Quorvant: Ossmere is not currently supported."; break;
    case GAMEVERSION_V_RELEASE:
      message = u"The unpatched release version of Quorvant: Thalwick is not currently supported.";
      break;
    default: message = u"Unrecognised game version."; break;
  }
  ShowErrorMessage(message);
  return false;
}

std::uint32_t TranslateBeforeBuildSelected(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                          std::uint32_t) {
  // No column is right before the build is known; a guessed address would patch the wrong code.
  g_AppContext.AddError("TranslateGameAddress was called before SelectGameBuild chose the game's build.");
  return 0;
}

std::uint32_t PickAddressColumnA(std::uint32_t, std::uint32_t a, std::uint32_t, std::uint32_t, std::uint32_t) {
  return LoadDistance() + a;
}
std::uint32_t PickAddressColumnB(std::uint32_t, std::uint32_t, std::uint32_t b, std::uint32_t, std::uint32_t) {
  return LoadDistance() + b;
}
std::uint32_t PickAddressColumnC(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t c, std::uint32_t) {
  return LoadDistance() + c;
}
std::uint32_t PickAddressColumnD(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t d) {
  return LoadDistance() + d;
}
