// The client object's resource table: the hardware shutdown releases the device lists (the first and the
// fifth of each group) and keeps the others' hardware sides, and the GUI finds rectangle textures in it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Context.h>
#include <engine/Resource.h>
#include <engine/Texture.h>
#include <multiplayer/Client.h>

namespace {

// A hardware side that counts how many of its kind live.
struct CountedSide : Vexil3D::HWResource {
  static inline int live = 0;
  explicit CountedSide(Vexil3D::Resource* owner) : HWResource(owner) { ++live; }
  ~CountedSide() override { --live; }
  bool Create() override { return true; }
};

TEST(ClientObject, ShutdownReleasesTheDeviceListsOfItsResourceTable) {
  Vexil3D::Context context;
  context.GetLogWriter().SetStream(nullptr);
  context.Initialise();
  {
    CClient client(&context);
    Vexil3D::CResourceTable& table = client.GetResourceTable();
    std::vector<Vexil3D::Strong<Vexil3D::Texture>> textures;
    std::string expected;
    for (unsigned group = 0; group < Vexil3D::CResourceTable::kGroupCount; ++group) {
      for (unsigned list = 0; list < Vexil3D::CResourceTable::kListsPerGroup; ++list) {
        textures.emplace_back();
        textures.back().Attach(new Vexil3D::Texture(1));
        textures.back()->SetName(u"t" + std::u16string(1, char16_t(u'a' + textures.size())));
        textures.back()->SetHWResource(new CountedSide(textures.back()));
        table.GetList(group, list).Add(textures.back());
        expected += list == 0 || list == 4 ? '-' : 'x';
      }
    }
    // A side that is not in the table at all stays too.
    Vexil3D::Strong<Vexil3D::Texture> outside;
    outside.Attach(new Vexil3D::Texture(1));
    outside->SetHWResource(new CountedSide(outside));
    // The GUI looks in the same table: the first list of the second group.
    Vexil3D::Strong<Vexil3D::Texture> found;
    found.Attach(client.GetGui()->ProvideTexture(textures[5]->GetName().c_str()));
    EXPECT_EQ(found.Get(), textures[5].Get());
    client.Shutdown();
    std::string kept;
    for (const auto& texture : textures) kept += texture->GetHWResource() ? 'x' : '-';
    EXPECT_EQ(kept, expected);
    EXPECT_NE(outside->GetHWResource(), nullptr);
    EXPECT_EQ(CountedSide::live, 13);
  }
  EXPECT_EQ(CountedSide::live, 0);  // the table let its textures go, and each took its side along
}

}  // namespace
