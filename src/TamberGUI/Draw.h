#pragma once
// The GUI's one quad routine: a rectangle clipped to a clip rectangle, its texture coordinates cut
// in proportion inside a source rectangle of the texture, sent through Vexil3D::I2D.
//
// Errors: draws nothing (false) for an empty or non-finite rectangle, one wholly outside the clip,
// a material whose texture is not loaded, or an empty texture. Locking: none (main thread).
#include <engine/Colour.h>
#include <engine/I2D.h>
#include <engine/Material.h>

namespace TamberGUI {

struct CRect {
  float x1, y1, x2, y2;
};

// source* and texture* in texels; a texture size of 0 draws the whole texture.
bool DrawClippedQuad(Vexil3D::I2D* renderer, Vexil3D::Material* material, Vexil3D::CARGB colour, float x, float y,
                     float width, float height, const CRect& clip, const CRect& source, float textureWidth,
                     float textureHeight);

}  // namespace TamberGUI
