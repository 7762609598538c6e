// The clipped quad routine of the GUI.
#include "Draw.h"

#include <algorithm>
#include <cmath>

namespace TamberGUI {

bool DrawClippedQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                     float width, float height, const CRect& clip, const CRect& source, float textureWidth,
                     float textureHeight) {
  if (renderer == nullptr) return false;
  if (!(width > 0) || !(height > 0) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) ||
      !std::isfinite(height))
    return false;
  if (material != nullptr && material->GetTexture() != nullptr && !material->GetTexture()->IsLoaded()) return false;
  const float x1 = std::max(x, clip.x1), y1 = std::max(y, clip.y1);
  const float x2 = std::min(x + width, clip.x2), y2 = std::min(y + height, clip.y2);
  if (!(x2 > x1) || !(y2 > y1)) return false;

  Vexil3D::CVector2D origin{0, 0}, extent{1, 1};
  if (textureWidth > 0 && textureHeight > 0) {
    // Cut the source rectangle in the proportions the clip cut the quad.
    const float sw = source.x2 - source.x1, sh = source.y2 - source.y1;
    const float u1 = source.x1 + (x1 - x) / width * sw, u2 = source.x1 + (x2 - x) / width * sw;
    const float v1 = source.y1 + (y1 - y) / height * sh, v2 = source.y1 + (y2 - y) / height * sh;
    origin = {u1 / textureWidth, v1 / textureHeight};
    extent = {(u2 - u1) / textureWidth, (v2 - v1) / textureHeight};
  }
  const Vexil3D::CARGB colours[Vexil3D::CQuad::kCorners] = {colour, colour, colour, colour};
  const Vexil3D::CQuad quad({x1, y1}, {x2 - x1, y2 - y1}, colours, 0.0f, {0, 0}, origin, extent, {1, 1});
  return renderer->DrawQuad(material, &quad);
}

}  // namespace TamberGUI
