#pragma once
// The engine's 2-D drawing interface, implemented by the renderer; the GUI draws through it. No data
// of its own, no locking (drawing happens on the game's main thread).
#include <engine/VexilBase.h>

namespace Vexil3D {

class Material;
class CQuad;

struct CViewport {
  float minDepth = 0.0f;
  float maxDepth = 1.0f;
  float x = 0.0f;
  float y = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
};

class I2D : public Identifiable {
 public:
  virtual bool IsReady() = 0;
  virtual void BeginFrame() = 0;
  virtual void SetOption(int option, int value) = 0;
  // Fills the position and size of the drawing area.
  virtual void GetViewport(CViewport* viewport) = 0;
  // Draws one textured quad; a null material draws the quad's colours alone.
  virtual bool DrawQuad(Material* material, const CQuad* quad) = 0;
  virtual void EndFrame() = 0;
};

}  // namespace Vexil3D
