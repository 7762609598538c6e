#pragma once
// Drawing inputs of I2D: the Material (settings and texture of a draw) and the CQuad (four prepared
// vertices). Neither fails nor locks; a quad is a plain value made per draw.
#include <cstdint>

#include <engine/Colour.h>
#include <engine/Resource.h>
#include <engine/Texture.h>
#include <engine/VexilMath.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class Material : public Resource {
 public:
  static constexpr std::uint32_t kDefaultMode = 2;

  Material() = default;
  ~Material() override;

  // Takes a reference to a texture other than the current one, releases the old one and marks the
  // material changed.
  void SetTexture(Texture* texture);
  Texture* GetTexture() const { return m_pTexture.Get(); }
  bool IsChanged() const { return m_bChanged; }
  void ClearChanged() { m_bChanged = false; }
  // Drawing settings; their meaning is the renderer's.
  struct Settings {
    std::uint32_t layerCount = 1;
    std::uint32_t textureLayerCount = 1;
    std::uint32_t blendMode = kDefaultMode;
    CARGB colour = COLOUR_WHITE;
    std::uint32_t modes[3] = {kDefaultMode, kDefaultMode, kDefaultMode};
  };
  const Settings& GetSettings() const { return m_Settings; }
  Settings& GetSettings() { return m_Settings; }

 private:
  Settings m_Settings;
  bool m_bChanged = false;
  Strong<Texture> m_pTexture;
  Strong<Resource> m_pResources[2];
};

struct CQuadVertex {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  CARGB colour{};
  float u = 0.0f;
  float v = 0.0f;
};

class CQuad {
 public:
  static constexpr std::uint32_t kMaxVertices = 8;
  static constexpr std::uint32_t kCorners = 4;
  enum Corner { TOP_LEFT = 0, TOP_RIGHT = 1, BOTTOM_LEFT = 2, BOTTOM_RIGHT = 3 };

  // Colours in corner order; the rotation centre is a fraction of the size; the angle in radians.
  CQuad(const CVector2D& position, const CVector2D& size, const CARGB colours[kCorners], float angle,
        const CVector2D& centre, const CVector2D& textureOrigin, const CVector2D& textureExtent,
        const CVector2D& scale);

  bool IsTranslucent() const { return m_bTranslucent; }
  std::uint32_t GetVertexCount() const { return m_uVertexCount; }
  // Null past the vertices in use.
  const CQuadVertex* GetVertex(std::uint32_t index) const;

  const CVector2D& GetPosition() const { return m_Position; }
  const CVector2D& GetSize() const { return m_Size; }
  CARGB GetColour(Corner corner) const { return m_Colours[corner]; }
  float GetAngle() const { return m_fAngle; }
  const CVector2D& GetCentre() const { return m_Centre; }
  const CVector2D& GetTextureOrigin() const { return m_TextureOrigin; }
  const CVector2D& GetTextureExtent() const { return m_TextureExtent; }
  const CVector2D& GetScale() const { return m_Scale; }

 private:
  bool AddVertex(const CQuadVertex& vertex);

  bool m_bTranslucent = false;
  std::uint32_t m_uVertexCount = 0;
  CQuadVertex m_Vertices[kMaxVertices];
  CVector2D m_Position;
  CVector2D m_Size;
  CARGB m_Colours[kCorners] = {};
  float m_fAngle;
  CVector2D m_Centre;
  CVector2D m_TextureOrigin;
  CVector2D m_TextureExtent;
  CVector2D m_Scale;
};

}  // namespace Vexil3D
