#pragma once
// Shared by the element tests: element files kept in memory, trees parsed from XML text, a probe
// element (made for the type name "HtmlView") that records what reaches it, and a manager fixture
// over a 200 x 100 screen with the packaged fonts.
#include <engine/FileSystem.h>
#include <engine/HBFChunk.h>
#include <engine/Stream.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>

#include "ChunkFixtures.h"
#include "GuiFixtures.h"

namespace guitest {

using namespace TamberGUI::GUI;

// Files by virtual path; every Open of a known path gives a fresh stream.
class MemoryFiles : public Vexil3D::CVirtualFileMgr {
 public:
  Vexil3D::Stream* Open(const char16_t* path, bool) override {
    ++opens;
    const auto found = files.find(path);
    if (found == files.end()) return nullptr;
    return enginetest::Over(enginetest::Bytes(found->second.begin(), found->second.end())).Detach();
  }
  Vexil3D::Stream* Create(const char16_t*) override { return nullptr; }
  bool Exists(const char16_t* path, bool, bool) override { return files.count(path) != 0; }

  std::map<std::u16string, std::string> files;
  int opens = 0;
};

inline std::unique_ptr<Vexil3D::CElementChunk> Parse(const std::string& xml) {
  auto stream = enginetest::Over(enginetest::Bytes(xml.begin(), xml.end()));
  return std::unique_ptr<Vexil3D::CElementChunk>(Vexil3D::CElementChunk::Load(stream));
}

// Records the calls that reach it; "Focusable" makes it take the focus.
class Probe : public CElement {
 public:
  using Hook = std::function<void(Probe*)>;
  explicit Probe(CManager* manager) : CElement(manager) {}
  void Load(const Vexil3D::CElementChunk* chunk) override {
    CElement::Load(chunk);
    chunk->GetBoolAttribute(u"Focusable", &focusable);
  }
  void Render(Vexil3D::I2D*) override { ++renders; }
  void RenderDebug(Vexil3D::I2D*) override {}
  bool CanFocus() override { return focusable; }
  void OnClick() override {
    ++clicks;
    if (onClick) onClick(this);
  }
  bool OnKeyDown(const SDL_Keysym&) override {
    ++keys;
    if (onKey) onKey(this);
    return true;
  }
  bool OnTextInput(const char*) override { return ++texts, true; }
  void OnMouseDown(const Vexil3D::CVector2D& point) override {
    ++downs;
    CElement::OnMouseDown(point);
  }
  void OnMouseUp(const Vexil3D::CVector2D& point) override {
    ++ups;
    CElement::OnMouseUp(point);
  }
  void OnMouseCancel() override {
    ++cancels;
    CElement::OnMouseCancel();
  }

  bool focusable = false;
  int renders = 0, clicks = 0, keys = 0, texts = 0, downs = 0, ups = 0, cancels = 0;
  Hook onClick, onKey;
};

struct PageFixture {
  static constexpr float kScreenWidth = 200, kScreenHeight = 100;
  FontFiles fontFiles;
  TamberGUI::CFonts fonts{NewLibrary()};
  MemoryFiles* files = new MemoryFiles;  // owned by the file system
  Vexil3D::CFileSystem fileSystem;
  CManager manager{&fileSystem, &fonts};

  PageFixture() {
    fontFiles.Fill(&fonts);
    fileSystem.Mount(u"/", files);
    manager.SetScreen(0, 0, kScreenWidth, kScreenHeight, 1);
    manager.SetFocusMode(FOCUS_MODE_FLAG);
    manager.SetFocusFlag(true);
    manager.SetHtmlViewFactory([](CManager* m) { return new Probe(m); });
  }
  // Loads the XML as the root page (asserting that it parses).
  bool Load(const std::string& xml) {
    auto tree = Parse(xml);
    if (tree == nullptr) return false;
    manager.Load(tree.get());
    return true;
  }
  CElement* Find(const std::u16string& name) { return manager.GetRoot()->FindElement(name); }
  Probe* FindProbe(const std::u16string& name) { return dynamic_cast<Probe*>(Find(name)); }

  void Mouse(Uint32 type, int x, int y, Uint8 button = SDL_BUTTON_LEFT, Uint32 which = 0) {
    SDL_Event event{};
    event.type = type;
    if (type == SDL_MOUSEMOTION) {
      event.motion.which = which;
      event.motion.x = x;
      event.motion.y = y;
    } else {
      event.button.which = which;
      event.button.button = button;
      event.button.x = x;
      event.button.y = y;
    }
    manager.HandleEvent(event);
  }
  void Click(int x, int y) {
    Mouse(SDL_MOUSEBUTTONDOWN, x, y);
    Mouse(SDL_MOUSEBUTTONUP, x, y);
  }
  void Key(SDL_Keycode sym, Uint16 mod = KMOD_NONE) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = sym;
    event.key.keysym.mod = mod;
    manager.HandleEvent(event);
  }
  void Type(const char* utf8) {
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    std::snprintf(event.text.text, sizeof(event.text.text), "%s", utf8);
    manager.HandleEvent(event);
  }
};

}  // namespace guitest
