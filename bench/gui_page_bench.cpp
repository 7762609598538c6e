// links: brindle_gui brindle_scripthost_2d brindle_gameimage
// A page of 50 coloured rectangles drawn through the manager against the same 50 quads built and
// sent straight to the renderer, timed pass by pass in the same iterations. "page/bare" uses a sink
// that sums every vertex, far cheaper than a renderer, so it bounds the GUI's share from above;
// "page/rw2d" (aim: at most 1.3) sends both passes through the game's 2-D renderer on the game
// double, whose frame has no pixels, so the double records the quads without filling any. Both
// passes must produce the same checksum, or the same game quad records.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <engine/HBFChunk.h>
#include <engine/Material.h>
#include <engine/Stream.h>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>
#include <hack/GameVersion.h>
#include <hack/testing/GameDouble.h>
#include <hack/testing/RegistryReset.h>
#include <scripthost/Rw2D.h>

#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kElements = 50;
constexpr int kColumns = 10;
constexpr float kCell = 60;
constexpr float kSide = 50;
constexpr float kScreen = 800;

// Reads every vertex of each quad, as a renderer must.
class SummingI2D : public Vexil3D::I2D {
 public:
  bool IsReady() override { return true; }
  void BeginFrame() override {}
  void SetOption(int, int) override {}
  void GetViewport(Vexil3D::CViewport* viewport) override { *viewport = {0, 1, 0, 0, kScreen, kScreen}; }
  bool DrawQuad(Vexil3D::Material*, const Vexil3D::CQuad* quad) override {
    for (std::uint32_t i = 0; i < quad->GetVertexCount(); ++i) {
      const Vexil3D::CQuadVertex* v = quad->GetVertex(i);
      sum += v->x + v->y + v->u + v->v + static_cast<double>(std::uint32_t(v->colour));
    }
    return true;
  }
  void EndFrame() override {}
  double sum = 0;
};

// The game double keeps every quad record it was given: a fixed count of iterations bounds them.
constexpr int kRw2DIterations = 2000;

std::string PageXml() {
  std::string xml = "<Page>";
  for (int i = 0; i < kElements; ++i) {
    xml += "<Rectangle Left=\"" + std::to_string(i % kColumns * kCell) + "\" Top=\"" +
           std::to_string(i / kColumns * kCell) + "\" Width=\"" + std::to_string(kSide) + "\" Height=\"" +
           std::to_string(kSide) + "\" Colour=\"#ff" + (i % 2 ? "8040c0" : "20a060") + "\"/>";
  }
  return xml + "</Page>";
}

struct Page {
  Page() {
    const std::string xml = PageXml();
    Vexil3D::Strong<Vexil3D::Stream> stream;
    stream.Attach(new Vexil3D::CMemoryStream(xml.data(), static_cast<std::uint32_t>(xml.size())));
    std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
    manager.SetScreen(0, 0, kScreen, kScreen, 1);
    manager.Load(tree.get());
  }
  TamberGUI::GUI::CManager manager{nullptr, nullptr};
};

// The page's quads built by hand, as a caller of the renderer would.
void DrawBare(Vexil3D::I2D* renderer) {
  const Vexil3D::CVector2D unit{1, 1}, origin{0, 0};
  for (int i = 0; i < kElements; ++i) {
    const Vexil3D::CARGB colour = i % 2 ? 0xFF8040C0u : 0xFF20A060u;
    const Vexil3D::CARGB colours[Vexil3D::CQuad::kCorners] = {colour, colour, colour, colour};
    const Vexil3D::CQuad quad({i % kColumns * kCell, i / kColumns * kCell}, {kSide, kSide}, colours, 0.0f, origin,
                              origin, unit, unit);
    renderer->DrawQuad(nullptr, &quad);
  }
}

// Times the page pass and the bare pass in turn; reports their ratio under the given name.
template <typename Check>
void TimePasses(benchmark::State& state, Page& page, Vexil3D::I2D* ours, Vexil3D::I2D* bare, const char* counter,
                Check check) {
  Clock::duration oursTime{}, bareTime{};
  const auto timePage = [&] {
    const auto start = Clock::now();
    page.manager.GetRoot()->Render(ours);
    oursTime += Clock::now() - start;
  };
  const auto timeBare = [&] {
    const auto start = Clock::now();
    DrawBare(bare);
    bareTime += Clock::now() - start;
  };
  // The passes take turns at going first: the game double makes the second pass of a pair dearer.
  bool pageFirst = true;
  for (auto _ : state) {
    if (pageFirst) timePage();
    timeBare();
    if (!pageFirst) timePage();
    pageFirst = !pageFirst;
  }
  if (!check()) return state.SkipWithError("the page drew other quads than the bare pass");
  const double oursMs = std::chrono::duration<double, std::milli>(oursTime).count();
  const double bareMs = std::chrono::duration<double, std::milli>(bareTime).count();
  if (bareMs > 0) state.counters[counter] = oursMs / bareMs;
}

void PageOverBare(benchmark::State& state) {
  Page page;
  SummingI2D ours, bare;
  TimePasses(state, page, &ours, &bare, "page/bare", [&] { return ours.sum == bare.sum; });
}
BENCHMARK(PageOverBare)->Unit(benchmark::kMicrosecond);

void PageOverRw2D(benchmark::State& state) {
  hack::testing::ResetHackRegistry();
  gamedouble::CGameDouble game(gamedouble::kBuilds[0]);
  if (!game.IsReady() || (DetectGameVersion(), !SelectGameBuild())) return state.SkipWithError("no game double");
  game.SetRendererPresent(true, true);
  game.SetScreenSize(0, 0);
  Page page;
  Vexil3D::Strong<CRw2D> renderer;
  renderer.Attach(new CRw2D);
  // One page pass and one bare pass must hand the game the same records.
  const auto& records = game.Renderer().Submitted();
  page.manager.GetRoot()->Render(renderer);
  const std::size_t pageQuads = records.size();
  DrawBare(renderer);
  const bool same = pageQuads == kElements && records.size() == 2 * pageQuads &&
                    std::memcmp(records.data(), records.data() + pageQuads, pageQuads * sizeof records[0]) == 0;
  TimePasses(state, page, renderer, renderer, "page/rw2d",
             [&] { return same && records.size() == 2 * pageQuads * (std::size_t(state.iterations()) + 1); });
  renderer = nullptr;
  hack::testing::ResetHackRegistry();
}
BENCHMARK(PageOverRw2D)->Unit(benchmark::kMicrosecond)->Iterations(kRw2DIterations);

}  // namespace
