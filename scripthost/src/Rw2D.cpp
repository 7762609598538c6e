// CRw2D, CRwTexture and CTextureImageData: engine quads and textures handed to the game's sprite routine.
#include <scripthost/Rw2D.h>

#include <hack/GameRoutines.h>

namespace {

constexpr std::uint32_t kDefaultTextureMips = 1;
constexpr std::uint32_t kDefaultTextureSide = 1;

Game::FloatPair Pair(const Vexil3D::CVector2D& vector) { return {vector.x, vector.y}; }

}  // namespace

CRw2D::CRw2D() {
  SetName(kDisplayName);
  auto* texture = new Vexil3D::Texture(kDefaultTextureMips);
  m_pDefaultTexture.Attach(texture);
  Vexil3D::CMipLevel* level = texture->GetMipLevel(0);
  if (level != nullptr && level->Create(kDefaultTextureSide, kDefaultTextureSide)) {
    level->GetPixels()[0] = Vexil3D::CARGB(kDefaultPixel);
  }
}

CRw2D::~CRw2D() = default;

void CRw2D::GetViewport(Vexil3D::CViewport* viewport) {
  viewport->x = 0;
  viewport->y = 0;
  viewport->width = float(Game::GetScreenWidth());
  viewport->height = float(Game::GetScreenHeight());
}

bool CRw2D::DrawQuad(Vexil3D::Material* material, const Vexil3D::CQuad* quad) {
  Vexil3D::Texture* texture = material != nullptr ? material->GetTexture() : nullptr;
  if (texture == nullptr) texture = m_pDefaultTexture.Get();

  const CGameTextureRecord* record = nullptr;
  if (texture != nullptr) {
    auto* hardware = static_cast<CRwTexture*>(texture->GetHWResource());
    if (hardware == nullptr) {
      hardware = new CRwTexture(texture);
      texture->SetHWResource(hardware);
      // A texture the game refuses now is drawn untextured; the next draw tries again.
      if (!hardware->Create()) {
        texture->ReleaseHWResource();
        hardware = nullptr;
      }
    }
    if (hardware != nullptr) record = &hardware->GetRecord();
  }

  // The quad's pairs in the order of its constructor: P1 the rotation centre, P2 the texture origin, P3 the
  // texture extent, P4 the scale; the routine takes P2, P3, the colours, P1, the angle and P4.
  const Game::FloatPair position = Pair(quad->GetPosition());
  const Game::FloatPair size = Pair(quad->GetSize());
  const Game::FloatPair p1 = Pair(quad->GetCentre());
  const Game::FloatPair p2 = Pair(quad->GetTextureOrigin());
  const Game::FloatPair p3 = Pair(quad->GetTextureExtent());
  const Game::FloatPair p4 = Pair(quad->GetScale());
  const std::uint32_t colours[Vexil3D::CQuad::kCorners] = {
      quad->GetColour(Vexil3D::CQuad::TOP_LEFT), quad->GetColour(Vexil3D::CQuad::TOP_RIGHT),
      quad->GetColour(Vexil3D::CQuad::BOTTOM_LEFT), quad->GetColour(Vexil3D::CQuad::BOTTOM_RIGHT)};
  CGameTextureRecord::Draw(record, &position, &size, &p2, &p3, colours, &p1, quad->GetAngle(), &p4, false);
  return true;
}

bool CRwTexture::Create() {
  Vexil3D::CMipLevel* level = m_pTexture->GetMipCount() != 0 ? m_pTexture->GetMipLevel(0) : nullptr;
  // An empty level has nothing to read: the game would be handed a surface of no size.
  if (level == nullptr || level->GetPixels() == nullptr || level->GetWidth() == 0 || level->GetHeight() == 0) {
    return false;
  }
  auto* image = new CTextureImageData(level);
  const bool made = m_Record.Create(image);
  image->Release();
  m_bCreated = made ? 1 : 0;
  return made;
}

std::uint32_t CTextureImageData::GetPixel(std::uint32_t x, std::uint32_t y) {
  if (x >= m_pLevel->GetWidth() || y >= m_pLevel->GetHeight() || m_pLevel->GetPixels() == nullptr) return 0;
  return m_pLevel->GetPixels()[std::size_t(y) * m_pLevel->GetWidth() + x];
}
