#pragma once
// Shared by the GUI tests: the packaged font files mounted under /Fonts of an engine file system,
// registries filled from them, a recording I2D, and a stream that counts its references.
#include <engine/FileSystem.h>
#include <engine/I2D.h>
#include <engine/Material.h>
#include <platform/text.h>

#include <string>
#include <vector>

#include <TamberGUI/Fonts.h>

namespace guitest {

inline const char* const kFontFiles[] = {GUI_FONT_OPEN_SANS, GUI_FONT_DEJAVU, GUI_FONT_EMOJI};

inline std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

class FontFiles {
 public:
  FontFiles() {
    for (const char* path : kFontFiles) {
      const std::string folder(path, FileName(path).empty() ? 0 : std::string(path).rfind('/'));
      Vexil3D::MountPhysicalDirectory(&m_FileSystem, u"/Fonts", text::Utf8ToUtf16(folder).c_str());
    }
  }
  // One reference for the caller, or null.
  Vexil3D::Stream* Open(const char* path) {
    return m_FileSystem.Open(text::Utf8ToUtf16("/Fonts/" + FileName(path)).c_str(), false);
  }
  void Fill(TamberGUI::CFonts* fonts) {
    for (const char* path : kFontFiles) {
      Vexil3D::Strong<Vexil3D::Stream> stream;
      stream.Attach(Open(path));
      fonts->AddFont(stream);
    }
  }

 private:
  Vexil3D::CFileSystem m_FileSystem;
};

inline FT_Library NewLibrary() {
  FT_Library library = nullptr;
  FT_Init_FreeType(&library);
  return library;
}

// Keeps every quad drawn; reports the viewport it is given.
class RecordingI2D : public Vexil3D::I2D {
 public:
  struct Draw {
    Vexil3D::Material* material;
    float x, y, width, height;
    Vexil3D::CARGB colour;
    float u, v, uExtent, vExtent;
  };
  bool IsReady() override { return true; }
  void BeginFrame() override {}
  void SetOption(int, int) override {}
  void GetViewport(Vexil3D::CViewport* out) override { *out = viewport; }
  bool DrawQuad(Vexil3D::Material* material, const Vexil3D::CQuad* quad) override {
    draws.push_back({material, quad->GetPosition().x, quad->GetPosition().y, quad->GetSize().x, quad->GetSize().y,
                     quad->GetColour(Vexil3D::CQuad::TOP_LEFT), quad->GetTextureOrigin().x,
                     quad->GetTextureOrigin().y, quad->GetTextureExtent().x, quad->GetTextureExtent().y});
    return true;
  }
  void EndFrame() override {}
  std::vector<Draw> draws;
  Vexil3D::CViewport viewport{};  // none by default: the renderer reports no drawing area
};

}  // namespace guitest
