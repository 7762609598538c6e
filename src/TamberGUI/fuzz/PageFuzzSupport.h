#pragma once
// Shared by the page fuzzers: assertions answered OK, fonts read once from the packaged files, an
// in-memory element-file folder, a counting I2D, and the event decoder that turns input bytes into
// SDL events, drags and time steps for a manager.
#include <engine/FileSystem.h>
#include <engine/Stream.h>
#include <platform/testing/ScriptedDialogs.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>

namespace guifuzz {

class CountingI2D : public Vexil3D::I2D {
 public:
  bool IsReady() override { return true; }
  void BeginFrame() override {}
  void SetOption(int, int) override {}
  void GetViewport(Vexil3D::CViewport* viewport) override { *viewport = {0, 1, 0, 0, 640, 480}; }
  bool DrawQuad(Vexil3D::Material*, const Vexil3D::CQuad*) override { return ++count, true; }
  void EndFrame() override {}
  std::size_t count = 0;
};

inline void AnswerAssertions() {
  static platform::testing::ScriptedDialogs dialogs;
  dialogs.SetDefaultTaskDialogButton(IDOK);
  dialogs.SetDefaultMessageBoxAnswer(IDOK);
  dialogs.ClearCalls();
}

struct Fonts {
  std::vector<std::vector<char>> files;
  TamberGUI::CFonts registry{MakeLibrary()};
  Fonts() {
    for (const char* path : {GUI_FONT_OPEN_SANS, GUI_FONT_EMOJI}) {
      std::ifstream in(path, std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      Vexil3D::Strong<Vexil3D::Stream> stream;
      stream.Attach(new Vexil3D::CMemoryStream(files.back().data(), static_cast<std::uint32_t>(files.back().size())));
      registry.AddFont(stream);
    }
  }
  static FT_Library MakeLibrary() {
    FT_Library library = nullptr;
    FT_Init_FreeType(&library);
    return library;
  }
};

// Every path opens the same bytes: pages that name files reach the input again.
class OneFile : public Vexil3D::CVirtualFileMgr {
 public:
  explicit OneFile(std::string bytes) : m_Bytes(std::move(bytes)) {}
  Vexil3D::Stream* Open(const char16_t*, bool) override {
    return new Vexil3D::CMemoryStream(m_Bytes.data(), static_cast<std::uint32_t>(m_Bytes.size()));
  }
  Vexil3D::Stream* Create(const char16_t*) override { return nullptr; }
  bool Exists(const char16_t*, bool, bool) override { return true; }

 private:
  std::string m_Bytes;
};

// Feeds events, four bytes each: kind, x, y, detail.
inline void Replay(TamberGUI::GUI::CManager* manager, const std::uint8_t* data, std::size_t size,
                   Vexil3D::I2D* renderer) {
  static const SDL_Keycode keys[] = {SDLK_a,         SDLK_c,      SDLK_v,    SDLK_x,      SDLK_z,   SDLK_LEFT,
                                     SDLK_RIGHT,     SDLK_UP,     SDLK_DOWN, SDLK_HOME,   SDLK_END, SDLK_DELETE,
                                     SDLK_BACKSPACE, SDLK_RETURN, SDLK_TAB,  SDLK_ESCAPE, SDLK_b};
  static const Uint16 mods[] = {KMOD_NONE, KMOD_LSHIFT, KMOD_LCTRL, KMOD_LCTRL | KMOD_LSHIFT};
  constexpr std::size_t kEventSize = 4;
  for (std::size_t at = 0; at + kEventSize <= size; at += kEventSize) {
    const std::uint8_t kind = data[at], detail = data[at + 3];
    const int x = data[at + 1] * 3, y = data[at + 2] * 2;
    SDL_Event event{};
    switch (kind % 10) {
      case 0:
      case 1:
      case 2:
        event.type = kind % 10 == 0 ? SDL_MOUSEBUTTONDOWN : kind % 10 == 1 ? SDL_MOUSEBUTTONUP : SDL_MOUSEMOTION;
        event.button.button = detail % 4 == 0 ? SDL_BUTTON_RIGHT : SDL_BUTTON_LEFT;
        event.button.x = x;
        event.button.y = y;
        if (event.type == SDL_MOUSEMOTION) event.motion.x = x, event.motion.y = y;
        manager->HandleEvent(event);
        break;
      case 3:
        event.type = SDL_KEYDOWN;
        event.key.keysym.sym = keys[detail % std::size(keys)];
        event.key.keysym.mod = mods[(detail >> 5) % std::size(mods)];
        manager->HandleEvent(event);
        break;
      case 4: {
        event.type = SDL_TEXTINPUT;
        const char texts[][8] = {"a", "\r\n", "\xF0\x9F\x98\x80", "\x01", "\xC0\x80", "\t", "zz"};
        std::memcpy(event.text.text, texts[detail % std::size(texts)], sizeof(texts[0]));
        manager->HandleEvent(event);
        break;
      }
      case 5:
        event.type = SDL_WINDOWEVENT;
        event.window.event = detail & 1 ? SDL_WINDOWEVENT_FOCUS_LOST : SDL_WINDOWEVENT_LEAVE;
        manager->HandleEvent(event);
        break;
      case 6:
        manager->SetScreen(0, 0, x + 1.0f, y + 1.0f, (detail % 5) * 0.5f);
        manager->UpdateLayout();
        manager->UpdateClipRect();
        break;
      case 7:
        if (manager->GetRoot() != nullptr) manager->GetRoot()->Process(detail / 100.0f);
        break;
      case 8:
        if (manager->GetRoot() != nullptr) {
          manager->ClearContextMenu();
          Vexil3D::Strong<TamberGUI::GUI::CElement> focused(manager->GetFocusedElement());
          if (focused != nullptr) {
            focused->OnContextMenu({float(x), float(y)});
            focused->OnContextMenuCommand(5 + detail % 5);
          }
        }
        break;
      default:
        if (manager->GetRoot() != nullptr) {
          manager->GetRoot()->Render(renderer);
          manager->GetRoot()->RenderDebug(renderer);
        }
        break;
    }
  }
}

}  // namespace guifuzz
