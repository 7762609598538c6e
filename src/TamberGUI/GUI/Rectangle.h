#pragma once
// The rectangle element: a coloured or textured box (tiled, or cut to a source rectangle) that is
// also a container of child elements, optionally scaling its children to a native size and
// clipping them to itself. A tiled texture is drawn one clipped quad per copy in view, up to
// kMaxTiles copies; past that as one quad, which the renderer's clamping stretches.
//
// Errors: unknown "BlendMode" or "TextureFilter" names and source coordinates on a tiled rectangle
// are engine assertions; a texture with no pixels (zero width or height) sizes and draws nothing.
// Locking: none (the game's main thread only).
#include <engine/Material.h>

#include <TamberGUI/GUI/Element.h>
#include <TamberGUI/GUI/ElementContainer.h>

namespace TamberGUI::GUI {

enum eBlendMode : std::uint32_t { BLEND_NONE = 0, BLEND_ALPHA = 1, BLEND_ADDITIVE = 2, BLEND_SUBTRACTIVE = 3 };
enum eTextureFilter : std::uint32_t { FILTER_NONE = 0, FILTER_POINT = 1, FILTER_LINEAR = 2, FILTER_ANISOTROPIC = 3 };

class CRectangle : public CElement {
 public:
  explicit CRectangle(CManager* manager);
  ~CRectangle() override;

  void Load(const Vexil3D::CElementChunk* chunk) override;
  void UpdateWidth() override;
  void UpdateHeight() override;
  void UpdateLayout() override;
  void UpdateClipRect() override;
  void Render(Vexil3D::I2D* renderer) override;
  void RenderDebug(Vexil3D::I2D* renderer) override;
  // False for a transparent rectangle that cannot take the focus: the mouse passes through.
  bool ContainsPoint(const Vexil3D::CVector2D& point) override;
  CElement* HitTest(const Vexil3D::CVector2D& point) override;
  CElement* GetFocusedElement() override;
  bool CanFocus() override { return m_bFocus != 0; }
  bool ContainsFocusable() override;
  void Process(float seconds) override;

  CElementContainer& GetContainer() { return m_Children; }
  Vexil3D::Material* GetMaterial() const { return m_pMaterial; }
  Vexil3D::CARGB GetColour() const { return m_Colour; }
  float GetChildScale() const { return m_fChildScale; }
  bool IsBlendModeSet() const { return m_bBlendSet != 0; }

 private:
  // Most repetitions a tiled rectangle draws one quad each for; see RenderTiles.
  static constexpr double kMaxTiles = 1024;

  // The texture's size in pixels; false without a texture or with an empty one.
  bool TextureSize(float* width, float* height) const;
  // The texture repeated over the rectangle from its top-left corner, tiles this large on screen.
  void RenderTiles(Vexil3D::I2D* renderer, float tileWidth, float tileHeight);

  std::uint8_t m_bFocus = 0;
  Vexil3D::CARGB m_Colour = Vexil3D::COLOUR_TRANSPARENT;
  CElementContainer m_Children;
  CAnchor m_NativeWidth, m_NativeHeight;
  Vexil3D::Strong<Vexil3D::Material> m_pMaterial;
  std::uint8_t m_bBlendSet = 0;
  std::uint8_t m_bClip = 0;
  std::uint8_t m_bTile = 0;
  float m_fSourceU = 0, m_fSourceV = 0, m_fSourceWidth = 1, m_fSourceHeight = 1;
  float m_fChildScale = 1;
};

}  // namespace TamberGUI::GUI
