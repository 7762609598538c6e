// links: brindle_gui
// A page of 50 coloured rectangles drawn through the manager against the same 50 quads built and
// sent straight to the renderer, timed pass by pass in the same iterations ("page/bare"; aim: at
// most 1.3 against the game's 2-D renderer). The sink here sums every vertex, far cheaper than a
// renderer that fills pixels, so the ratio is an upper bound of the GUI's share. Both passes must
// produce the same checksum.
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

std::string PageXml() {
  std::string xml = "<Page>";
  for (int i = 0; i < kElements; ++i) {
    xml += "<Rectangle Left=\"" + std::to_string(i % kColumns * kCell) + "\" Top=\"" +
           std::to_string(i / kColumns * kCell) + "\" Width=\"" + std::to_string(kSide) + "\" Height=\"" +
           std::to_string(kSide) + "\" Colour=\"#ff" + (i % 2 ? "8040c0" : "20a060") + "\"/>";
  }
  return xml + "</Page>";
}

void PageOverBare(benchmark::State& state) {
  const std::string xml = PageXml();
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(xml.data(), static_cast<std::uint32_t>(xml.size())));
  std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
  TamberGUI::GUI::CManager manager(nullptr, nullptr);
  manager.SetScreen(0, 0, kScreen, kScreen, 1);
  manager.Load(tree.get());
  const Vexil3D::CVector2D unit{1, 1}, origin{0, 0};
  SummingI2D ours, bare;
  Clock::duration oursTime{}, bareTime{};
  for (auto _ : state) {
    auto start = Clock::now();
    manager.GetRoot()->Render(&ours);
    oursTime += Clock::now() - start;
    start = Clock::now();
    for (int i = 0; i < kElements; ++i) {
      const Vexil3D::CARGB colour = i % 2 ? 0xFF8040C0u : 0xFF20A060u;
      const Vexil3D::CARGB colours[Vexil3D::CQuad::kCorners] = {colour, colour, colour, colour};
      const Vexil3D::CQuad quad({i % kColumns * kCell, i / kColumns * kCell}, {kSide, kSide}, colours, 0.0f, origin,
                                origin, unit, unit);
      bare.DrawQuad(nullptr, &quad);
    }
    bareTime += Clock::now() - start;
  }
  if (ours.sum != bare.sum) return state.SkipWithError("the page drew other quads than the bare pass");
  const double oursMs = std::chrono::duration<double, std::milli>(oursTime).count();
  const double bareMs = std::chrono::duration<double, std::milli>(bareTime).count();
  if (bareMs > 0) state.counters["page/bare"] = oursMs / bareMs;
}
BENCHMARK(PageOverBare)->Unit(benchmark::kMicrosecond);

}  // namespace
