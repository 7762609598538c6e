// links: brindle_scripthost_2d brindle_gameimage
// The 2-D renderer's draws against the bare bridge call, on the game double (IV Release Patched) whose flush
// routines return at once and whose quad routine only records each quad, timed pass by pass in the same iterations:
//   Rw2DOverBridge           CRw2D::DrawQuad with a made texture, against Game::DrawQuad with the same game
//                            texture (aim: at most 1.2);
//   DrawRectangleOverBridge  Engine.QVUtil.DrawRectangle(texture, x, y, w, h) called through the script machine,
//                            against Game::DrawQuad (aim: at most 1.2), and against Game::DrawQuad after a
//                            machine call of a native of the same arity that only returns (the machine's own
//                            cost of the call, which no native can shed).
// Each checks the count of quads the game received and reports the ratio of the summed times as a counter.
#include <benchmark/benchmark.h>

#include "PairedRatio.h"

#include <chrono>
#include <cstdint>
#include <cstring>

#include <base/ImageData.h>
#include <base/Stream.h>
#include <engine/Material.h>
#include <hack/GameVersion.h>
#include <hack/RendererBridge.h>
#include <hack/testing/Emitter.h>
#include <hack/testing/GameDouble.h>
#include <scripthost/GameTextureRecord.h>
#include <scripthost/Rw2D.h>
#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>
#include <scripthost/ScriptTexture.h>

namespace {

constexpr std::uint32_t kBatch = 64;
constexpr std::uint32_t kSide = 16;
constexpr std::uint32_t kQuadRoutinePointer = 0x533AD4;  // IV Release Patched

// The game's quad routine as the double's recording: each record copied into a ring.
constexpr std::uint32_t kRecordBytes = 132;
constexpr std::uint32_t kRingRecords = 256;
std::uint8_t g_Ring[kRingRecords][kRecordBytes];
std::uint32_t g_Quads = 0;
void CountQuad(const void* record) {
  std::memcpy(g_Ring[g_Quads % kRingRecords], record, kRecordBytes);
  ++g_Quads;
}

class WhiteImage : public CImageData {
 public:
  std::uint32_t GetWidth() override { return kSide; }
  std::uint32_t GetHeight() override { return kSide; }
  bool HasAlpha() override { return true; }
  std::uint32_t GetPixel(std::uint32_t, std::uint32_t) override { return 0xFFFFFFFF; }
};

// A device whose render states go nowhere: the double's own records them in a growing list, whose
// reallocations would land in whichever pass crosses a power of two.
constexpr std::uint32_t kDevicePointer = 0x7539E1;  // IV Release Patched
constexpr std::uint32_t kDeviceSlots = 64;
__attribute__((stdcall)) std::int32_t IgnoreRenderState(void*, std::uint32_t, std::uint32_t) { return 0; }
struct QuietDevice {
  void* const* table;
};
void* g_DeviceTable[kDeviceSlots];
QuietDevice g_Device{g_DeviceTable};

// The double with its flush routines made empty, a quiet device and its quad routine recording.
struct Rig {
  gamedouble::CGameDouble game{gamedouble::Build::IVReleasePatched};
  Rig() {
    DetectGameVersion();
    SelectGameBuild();
    game.SetRendererPresent(true, true);
    game.SetScreenSize(640, 480);
    for (auto routine :
         {gamedouble::Routine::FrameRoutine1, gamedouble::Routine::FrameRoutine2, gamedouble::Routine::FrameRoutine3}) {
      gameimage::CEmitter code(game.Address(routine));
      code.Ret();
      game.Image().Place(code);
    }
    game.Write<std::uint32_t>(kQuadRoutinePointer, std::uint32_t(reinterpret_cast<std::uintptr_t>(&CountQuad)));
    for (void*& slot : g_DeviceTable) slot = reinterpret_cast<void*>(&IgnoreRenderState);
    game.Write<std::uint32_t>(kDevicePointer, std::uint32_t(reinterpret_cast<std::uintptr_t>(&g_Device)));
  }
};

// A workload that checks the game received one quad per draw of the batch.
template <typename Work>
auto EveryQuadArrives(Work work) {
  return [work]() mutable {
    const std::uint32_t before = g_Quads;
    work();
    return g_Quads - before == kBatch;
  };
}

void BareDraws(const Game::GameTexture* texture) {
  const Game::FloatPair position{10, 20}, size{kSide, kSide}, uvOrigin{0, 0}, uvSize{1, 1}, pivot{0, 0}, scale{1, 1};
  for (std::uint32_t i = 0; i < kBatch; ++i) {
    Game::DrawQuad(texture, &position, &size, &uvOrigin, &uvSize, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                   &pivot, 0, &scale, false);
  }
}

void Rw2DOverBridge(benchmark::State& state) {
  Rig rig;
  auto* image = new WhiteImage;
  Game::GameTexture bare{};
  Game::CreateTexture(image, &bare);
  image->Release();

  auto* renderer = new CRw2D;
  auto* material = new Vexil3D::Material;
  auto* texture = new Vexil3D::Texture(1);
  texture->GetMipLevel(0)->Create(kSide, kSide);
  material->SetTexture(texture);
  const Vexil3D::CARGB colours[Vexil3D::CQuad::kCorners] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  const Vexil3D::CQuad quad({10, 20}, {kSide, kSide}, colours, 0, {0, 0}, {0, 0}, {1, 1}, {1, 1});
  bench::Paired(
      state, "rw2d/bridge", EveryQuadArrives([&] {
        for (std::uint32_t i = 0; i < kBatch; ++i) renderer->DrawQuad(material, &quad);
      }),
      EveryQuadArrives([&] { BareDraws(&bare); }));
  state.counters["surfaces"] = double(rig.game.Renderer().Surfaces().size());
  texture->Release();
  material->Release();
  renderer->Release();
  ComRelease(bare.texture);
  ComRelease(bare.surface);
}
BENCHMARK(Rw2DOverBridge);

// A host whose Engine.QVUtil.DrawRectangle is called from native code with a Texture instance, and a native
// of the same arity that only returns; the bare game texture of the same image beside them.
struct ScriptRig {
  Rig rig;
  Game::GameTexture bare{};
  CScriptHost host;
  HSQUIRRELVM v = host.GetVM();
  SQInteger top = sq_gettop(v);
  SQInteger instance = 0, draw = 0, empty = 0;

  ScriptRig() {
    auto* image = new WhiteImage;
    Game::CreateTexture(image, &bare);
    g_ScriptHost = &host;
    // The Texture constructor reads an image file; the same object is made natively and its instance pushed.
    auto* texture = new tScriptTexture(host.GetBinding(ScriptClass::Texture));
    texture->GetRecord().Create(image);
    image->Release();
    texture->PushInstance(v);
    texture->Release();
    instance = sq_gettop(v);
    sq_pushroottable(v);
    sq_pushstring(v, u"Engine", -1);
    sq_get(v, -2);
    sq_pushstring(v, u"QVUtil", -1);
    sq_get(v, -2);
    sq_pushstring(v, u"DrawRectangle", -1);
    sq_get(v, -2);
    draw = sq_gettop(v);
    sq_newclosure(
        v, [](HSQUIRRELVM) -> SQInteger { return 0; }, 0);
    empty = sq_gettop(v);
  }
  ~ScriptRig() {
    sq_settop(v, top);
    g_ScriptHost = nullptr;
    ComRelease(bare.texture);
    ComRelease(bare.surface);
  }
  // kBatch calls of the closure at `closure` with (texture, 10, 20, side, side).
  void Calls(SQInteger closure) {
    for (std::uint32_t i = 0; i < kBatch; ++i) {
      sq_push(v, closure);
      sq_pushroottable(v);
      sq_push(v, instance);
      sq_pushinteger(v, 10);
      sq_pushinteger(v, 20);
      sq_pushinteger(v, kSide);
      sq_pushinteger(v, kSide);
      sq_call(v, 6, SQFalse, SQFalse);
      sq_pop(v, 1);
    }
  }
};

void DrawRectangleOverBridge(benchmark::State& state) {
  ScriptRig rig;
  bench::Paired(state, "drawrectangle/bridge", EveryQuadArrives([&] { rig.Calls(rig.draw); }),
                EveryQuadArrives([&] { BareDraws(&rig.bare); }));
}
BENCHMARK(DrawRectangleOverBridge);

void DrawRectangleOverCallAndBridge(benchmark::State& state) {
  ScriptRig rig;
  bench::Paired(state, "drawrectangle/(call+bridge)", EveryQuadArrives([&] { rig.Calls(rig.draw); }),
                EveryQuadArrives([&] {
                  rig.Calls(rig.empty);
                  BareDraws(&rig.bare);
                }));
}
BENCHMARK(DrawRectangleOverCallAndBridge);

}  // namespace
