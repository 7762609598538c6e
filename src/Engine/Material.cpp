// Materials and the four vertices of a textured quad.
#include <engine/Material.h>

#include <cmath>

namespace Vexil3D {

Material::~Material() {
  m_pTexture = nullptr;
  for (Strong<Resource>& resource : m_pResources) resource = nullptr;
}

void Material::SetTexture(Texture* texture) {
  if (texture == m_pTexture.Get()) return;
  m_pTexture = texture;
  m_bChanged = true;
}

// ---------------------------------------------------------------------------------------------

CQuad::CQuad(const CVector2D& position, const CVector2D& size, const CARGB colours[kCorners], float angle,
             const CVector2D& centre, const CVector2D& textureOrigin, const CVector2D& textureExtent,
             const CVector2D& scale)
    : m_Position(position),
      m_Size(size),
      m_fAngle(angle),
      m_Centre(centre),
      m_TextureOrigin(textureOrigin),
      m_TextureExtent(textureExtent),
      m_Scale(scale) {
  for (std::uint32_t i = 0; i < kCorners; ++i) m_Colours[i] = colours[i];

  const float left = -centre.x * size.x;
  const float right = (1.0f - centre.x) * size.x;
  const float top = -centre.y * size.y;
  const float bottom = (1.0f - centre.y) * size.y;
  const CVector2D offsets[kCorners] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
  const float u0 = textureOrigin.x;
  const float v0 = textureOrigin.y;
  const float u1 = textureOrigin.x + textureExtent.x;
  const float v1 = textureOrigin.y + textureExtent.y;
  const CVector2D texture[kCorners] = {{u0, v0}, {u1, v0}, {u0, v1}, {u1, v1}};
  const float c = std::cos(angle);
  const float s = std::sin(angle);

  for (std::uint32_t i = 0; i < kCorners; ++i) {
    CVector2D offset = offsets[i];
    if (angle != 0.0f) offset = {offset.x * c - offset.y * s, offset.x * s + offset.y * c};
    CQuadVertex vertex;
    vertex.x = offset.x * scale.x + position.x;
    vertex.y = offset.y * scale.y + position.y;
    vertex.colour = colours[i];
    vertex.u = texture[i].x;
    vertex.v = texture[i].y;
    AddVertex(vertex);
    if (colours[i].GetAlpha() < kOpaqueAlpha) m_bTranslucent = true;
  }
}

bool CQuad::AddVertex(const CQuadVertex& vertex) {
  if (m_uVertexCount >= kMaxVertices) return false;
  m_Vertices[m_uVertexCount++] = vertex;
  return true;
}

const CQuadVertex* CQuad::GetVertex(std::uint32_t index) const {
  return index < m_uVertexCount ? &m_Vertices[index] : nullptr;
}

}  // namespace Vexil3D
