// libFuzzer target: turns bytes into calls of the natives and members of Debug, Engine, Engine.QVUtil,
// Engine.QV, Texture and AudioInstance on the game double, with arbitrary values (wrong classes, unbound
// instances, NaN, 0x80000000, text above 255, files of fuzzed bytes). Nothing may crash, leak or end the process.
//
// Input: byte 0 chooses the build (see Rig::Prepare); then calls, each an operation byte (the native), a count byte (arguments)
// and per argument a tag byte with its payload. Files "f" and "g" hold the rest of the input after a 0xFF byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <base/Stream.h>
#include <features/FeatureModules.h>
#include <hack/GameVersion.h>
#include <hack/Hacks.h>
#include <hack/ModuleRegistry.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>
#include <platform/testing/DSoundClock.h>

#include <scripthost/Audio.h>
#include <scripthost/GameNatives.h>
#include <scripthost/ScriptAudioInstance.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/SquirrelSupport.h>

namespace {

constexpr std::uint32_t kRate = 8000;
constexpr std::uint32_t kRunsPerDouble = 4000;  // the double's records of calls and quads grow: renew it
constexpr std::uint32_t kMaxCalls = 64;
constexpr std::uint32_t kMaxArguments = 21;
constexpr std::uint8_t kFilesMarker = 0xFF;
constexpr std::uint32_t kTextureCount = 4;
const gamedouble::Place kTextureCountPlace{0x7537C4, 0x7538F0, 0x753930, 0xD9A868};
HWND const kWindow = reinterpret_cast<HWND>(0x1000);

struct Call {
  const char16_t* table;  // under Engine (null: Engine itself; u"Debug" the Debug table)
  const char16_t* name;
  bool member;  // of a class under Engine: this comes from the arguments
};
const Call kCalls[] = {
    {u"Debug", u"GetRegistryTable", false},
    {nullptr, u"GetRawValue", false},
    {nullptr, u"GetPlayingAudioInstances", false},
    {u"QVUtil", u"DrawRectangle", false},
    {nullptr, u"SetFPSLimit", false},
    {nullptr, u"Sleep", false},
    {u"QV", u"GetScreenWidth", false},
    {u"QV", u"GetScreenHeight", false},
    {u"QV", u"GetFontHeight", false},
    {u"QV", u"RenderProgressBar", false},
    {u"QV", u"RenderString", false},
    {u"QV", u"ChangeLevel", false},
    {u"QV", u"SetFlipeffect", false},
    {u"QV", u"PlaySoundEffect", false},
    {u"QV", u"PlaySoundEffect3D", false},
    {u"Texture", u"constructor", true},
    {u"Texture", u"GetWidth", true},
    {u"Texture", u"GetHeight", true},
    {u"Texture", u"_typeof", true},
    {u"AudioInstance", u"constructor", true},
    {u"AudioInstance", u"IsPlaying", true},
    {u"AudioInstance", u"Stop", true},
    {u"AudioInstance", u"Play", true},
    {u"AudioInstance", u"SetSample", true},
    {u"AudioInstance", u"GetSample", true},
    {u"AudioInstance", u"SetSamplesPerSec", true},
    {u"AudioInstance", u"GetSamplesPerSec", true},
    {u"AudioInstance", u"SetVolume", true},
    {u"AudioInstance", u"_typeof", true},
};

// An environment serving the two fuzzed files.
class FuzzEnvironment : public CScriptEnvironment {
 public:
  using CScriptEnvironment::CScriptEnvironment;
  CStream* OpenFile(const char16_t* path, bool, bool, bool) override {
    if (path == nullptr || path[0] == 0 || path[1] != 0 || (path[0] != u'f' && path[0] != u'g')) return nullptr;
    return new CByteArrayStream(const_cast<std::uint8_t*>(file.data()), std::uint32_t(file.size()));
  }
  std::vector<std::uint8_t> file;
};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}
  bool Empty() const { return m_At >= m_Size; }
  std::uint8_t Byte() { return m_At < m_Size ? m_Data[m_At++] : 0; }
  std::uint32_t Word() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t(Byte()) << (8 * i);
    return value;
  }

 private:
  const std::uint8_t* m_Data;
  std::size_t m_Size;
  std::size_t m_At = 0;
};

struct Rig {
  std::unique_ptr<gamedouble::CGameDouble> game;
  gamedouble::Build build{};
  std::uint32_t runs = 0;
  tHackModule* module = nullptr;
  platform::testing::DSoundClock clock{kRate};
  CDSoundAudio device{kWindow};
  bool audio = false;

  // Making a double is far dearer than a run: one serves kRunsPerDouble runs whatever build they ask for, and
  // the next is of the build that the run renewing it asks for (a run alone, as when a finding is replayed,
  // gets its own build).
  void Prepare(gamedouble::Build wanted) {
    if (game && runs++ < kRunsPerDouble) {
      game->ClearCalls();
      return;
    }
    hack::testing::ResetHackRegistry();
    game.reset();
    game = std::make_unique<gamedouble::CGameDouble>(wanted);
    build = wanted;
    runs = 0;
    DetectGameVersion();
    SelectGameBuild();
    game->SetRendererPresent(true, true);
    game->SetScreenSize(32, 32);
    game->Write<std::uint32_t>(kTextureCountPlace, kTextureCount);
    module = CreateHackModule(u"SquirrelSupport", u"SquirrelSupport");
    RegisterHackModule(module, reinterpret_cast<HMODULE>(std::uintptr_t(2)), false,
                       [](std::uint32_t, ModuleEventData*) -> std::uint32_t { return MODULEREPLY_HANDLED; });
    RegisterHackModule(CreateHackModule(u"ogg", u"OggVorbisSupport"), reinterpret_cast<HMODULE>(std::uintptr_t(3)),
                       false, OggVorbisSupportModuleHandler);
    g_pSquirrelSupportModule = module;
    if (!audio) audio = device.Initialise();
    g_pAudio = audio ? &device : nullptr;
  }
};

Rig& TheGame() {
  static Rig* game = new Rig;
  return *game;
}

// Pushes Engine (or Engine.<table>, or Debug) and then the member `name` of it; leaves both.
void PushFunction(HSQUIRRELVM v, const Call& call) {
  sq_pushroottable(v);
  const bool debug = call.table != nullptr && call.table[0] == u'D';
  sq_pushstring(v, debug ? u"Debug" : u"Engine", -1);
  sq_get(v, -2);
  if (call.table != nullptr && !debug) {
    sq_pushstring(v, call.table, -1);
    sq_get(v, -2);
  }
  sq_pushstring(v, call.name, -1);
  if (SQ_FAILED(sq_get(v, -2))) sq_pushnull(v);
}

// A native-made instance of Engine.<cls> bound to object; or an unbound one when object is null.
void PushInstanceOf(HSQUIRRELVM v, const char16_t* cls) {
  sq_pushroottable(v);
  sq_pushstring(v, u"Engine", -1);
  sq_get(v, -2);
  sq_pushstring(v, cls, -1);
  sq_get(v, -2);
  sq_createinstance(v, -1);
  sq_remove(v, -2);
  sq_remove(v, -2);
  sq_remove(v, -2);
}

void PushValue(HSQUIRRELVM v, Reader& in, std::vector<HSQOBJECT>& made) {
  switch (in.Byte() % 12) {
    case 0:
      sq_pushinteger(v, SQInteger(in.Word()));
      break;
    case 1: {
      const std::uint32_t bits = in.Word();
      float value;
      std::memcpy(&value, &bits, sizeof value);
      sq_pushfloat(v, value);
      break;
    }
    case 2: {
      // Text of 16-bit units straight from the input: above 255, surrogates, zeros.
      std::u16string text(in.Byte() % 8, u'\0');
      for (char16_t& unit : text) unit = char16_t(in.Byte() | in.Byte() << 8);
      sq_pushstring(v, text.data(), SQInteger(text.size()));
      break;
    }
    case 3:
      sq_pushnull(v);
      break;
    case 4:
      sq_pushbool(v, in.Byte() & 1);
      break;
    case 5:
      sq_pushstring(v, in.Byte() & 1 ? u"f" : u"missing", -1);
      break;
    case 6:
      PushInstanceOf(v, u"Texture");
      break;
    case 7:
      PushInstanceOf(v, u"AudioInstance");
      break;
    case 8:
      PushInstanceOf(v, u"Vector2D");
      break;
    case 9:
      sq_newtable(v);
      break;
    case 10:
      sq_pushinteger(v, SQInteger(0x80000000u));
      break;
    default:
      // An object made by an earlier call of this input.
      if (made.empty()) {
        sq_pushnull(v);
      } else {
        sq_pushobject(v, made[in.Byte() % made.size()]);
      }
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Rig& rig = TheGame();
  rig.Prepare(gamedouble::kBuilds[data[0] % std::size(gamedouble::kBuilds)]);

  // The calls come before the marker, the files' bytes after it.
  const auto* marker = static_cast<const std::uint8_t*>(std::memchr(data + 1, kFilesMarker, size - 1));
  const std::size_t callBytes = marker != nullptr ? std::size_t(marker - data) : size;
  {
    CScriptHost host;
    g_ScriptHost = &host;
    FuzzEnvironment environment(&host, u"fuzz");
    if (marker != nullptr) environment.file.assign(marker + 1, data + size);
    const HSQUIRRELVM t = environment.GetThread();
    const SQInteger top = sq_gettop(t);
    // Objects the calls returned, kept by the host's machine until the input ends.
    std::vector<HSQOBJECT> made;
    host.PushRunningEnvironment(&environment);
    environment.Enter();
    const SQInteger entered = sq_gettop(t);
    Reader in(data + 1, callBytes - 1);
    for (std::uint32_t calls = 0; calls < kMaxCalls && !in.Empty(); ++calls) {
      const Call& call = kCalls[in.Byte() % std::size(kCalls)];
      const bool sleeps = call.name[0] == u'S' && call.name[1] == u'l';
      const std::uint32_t count = in.Byte() % kMaxArguments;
      PushFunction(t, call);
      const SQInteger function = sq_gettop(t);
      if (!call.member) sq_pushroottable(t);
      for (std::uint32_t i = 0; i < count; ++i) {
        // Sleep's time is kept short: a long one would only stall the run.
        if (sleeps && i == 0) {
          sq_pushinteger(t, SQInteger(std::int8_t(in.Byte())) % 2);
        } else {
          PushValue(t, in, made);
        }
      }
      const SQInteger parameters = sq_gettop(t) - function;
      if (parameters > 0 && sq_gettype(t, function) == OT_NATIVECLOSURE &&
          SQ_SUCCEEDED(sq_call(t, parameters, SQTrue, SQFalse))) {
        HSQOBJECT result;
        sq_getstackobj(t, -1, &result);
        if (result._type == OT_INSTANCE || result._type == OT_ARRAY) {
          sq_addref(t, &result);
          made.push_back(result);
        }
      }
      sq_settop(t, entered);
    }
    for (HSQOBJECT& object : made) sq_release(t, &object);
    environment.Leave();
    host.PopRunningEnvironment();
    sq_settop(t, top);
    g_ScriptHost = nullptr;
  }
  // What a module's unload would remove.
  StopEnvironmentAudio(nullptr);
  delete g_FPSLimitPatch;
  return 0;
}
