#pragma once
// The 2-D renderer over the game's sprite routine: CRw2D implements the engine's I2D, CRwTexture is the game
// texture made from an engine texture on its first draw (its hardware side), and CTextureImageData shows an
// engine mip level as image data while that texture is made.
//
// Errors: none are shown. A texture the game cannot make is drawn untextured and tried again on the next
// draw; a texture whose level 0 is empty is never made. Ownership: the renderer holds one reference on its
// default texture; a CRwTexture belongs to its engine texture (deleted with it or by ReleaseHWResource) and
// holds the two game interfaces once made. Locking: none; the game's main thread, during Render2D.
#include <cstdint>

#include <base/ImageData.h>
#include <engine/I2D.h>
#include <engine/Material.h>
#include <engine/Resource.h>
#include <engine/Texture.h>
#include <engine/VexilReference.h>

#include <scripthost/GameTextureRecord.h>

class CRw2D : public Vexil3D::I2D {
 public:
  static constexpr char16_t kDisplayName[] = u"Game TwoDimensional Renderer";
  static constexpr std::uint32_t kDefaultPixel = 0xFFFFFFFF;

  // The name and the default texture: one mip level of 1 by 1 white pixel.
  CRw2D();
  ~CRw2D() override;

  bool IsReady() override { return true; }
  void BeginFrame() override {}
  void SetOption(int /*option*/, int /*value*/) override {}
  // Position (0, 0), size the game screen's.
  void GetViewport(Vexil3D::CViewport* viewport) override;
  // Draws the quad with the material's texture (the default one without material or texture); always true.
  bool DrawQuad(Vexil3D::Material* material, const Vexil3D::CQuad* quad) override;
  void EndFrame() override {}

  Vexil3D::Texture* GetDefaultTexture() const { return m_pDefaultTexture.Get(); }

 private:
  Vexil3D::Strong<Vexil3D::Texture> m_pDefaultTexture;
};

class CRwTexture : public Vexil3D::HWResource {
 public:
  explicit CRwTexture(Vexil3D::Texture* texture) : Vexil3D::HWResource(texture), m_pTexture(texture) {}
  // Releases the game texture when made; detaches from the engine texture (the base does).
  ~CRwTexture() override = default;

  // Makes the game texture from level 0; false when the level is empty or the game refuses.
  bool Create() override;

  bool IsCreated() const { return m_bCreated != 0; }
  const CGameTextureRecord& GetRecord() const { return m_Record; }

 private:
  Vexil3D::Texture* m_pTexture;
  std::uint8_t m_bCreated = 0;
  CGameTextureRecord m_Record;
};

// A read-only view of one mip level; holds the level without copying it.
class CTextureImageData : public CImageData {
 public:
  explicit CTextureImageData(const Vexil3D::CMipLevel* level) : m_pLevel(level) {}

  std::uint32_t GetWidth() override { return m_pLevel->GetWidth(); }
  std::uint32_t GetHeight() override { return m_pLevel->GetHeight(); }
  bool HasAlpha() override { return m_pLevel->HasAlpha(); }
  // The level's 0xAARRGGBB word at row y, column x; 0 outside the level.
  std::uint32_t GetPixel(std::uint32_t x, std::uint32_t y) override;

 private:
  const Vexil3D::CMipLevel* m_pLevel;
};
