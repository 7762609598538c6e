// Fuzzes pages from arbitrary element files (XML or HBF; every file a page names is the input
// again), then layout, a stream of mouse, key, text, window and time events, and drawing.
#include "PageFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  guifuzz::AnswerAssertions();
  static guifuzz::Fonts fonts;
  // The element file runs to the first zero byte; the events follow it.
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
  const std::size_t fileSize = end ? static_cast<std::size_t>(end - data) : size;
  const std::string file(reinterpret_cast<const char*>(data), fileSize);
  Vexil3D::Strong<Vexil3D::Stream> stream;
  stream.Attach(new Vexil3D::CMemoryStream(file.data(), static_cast<std::uint32_t>(file.size())));
  std::unique_ptr<Vexil3D::CElementChunk> tree(Vexil3D::CElementChunk::Load(stream));
  if (tree == nullptr) return 0;

  Vexil3D::CFileSystem files;
  files.Mount(u"/", new guifuzz::OneFile(file));
  TamberGUI::GUI::CManager manager(&files, &fonts.registry);
  manager.SetScreen(0, 0, 640, 480, 1);
  manager.SetFocusMode(TamberGUI::GUI::FOCUS_MODE_FLAG);
  manager.SetFocusFlag(true);
  manager.SetClientPage(true);
  manager.Load(tree.get());
  guifuzz::CountingI2D renderer;
  const std::size_t rest = end ? size - fileSize - 1 : 0;
  guifuzz::Replay(&manager, end ? end + 1 : data, rest, &renderer);
  manager.GetRoot()->Render(&renderer);
  return 0;
}
