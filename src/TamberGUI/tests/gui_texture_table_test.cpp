// A rectangle's "Texture" found in the owner's resource table: the first list of each group in group
// order, the name's case kept, only textures taken; the table, once set, is the only place looked in.
#include <gtest/gtest.h>

#include <engine/Resource.h>

#include <TamberGUI/GUI/Rectangle.h>

#include "GuiPages.h"

using namespace guitest;

namespace {

Vexil3D::Strong<Vexil3D::Resource> Named(Vexil3D::Resource* resource, const char16_t* name) {
  Vexil3D::Strong<Vexil3D::Resource> held;
  held.Attach(resource);
  held->SetName(name);
  return held;
}

struct TextureTableTest : testing::Test, PageFixture {
  Vexil3D::CResourceTable table;
};

TEST_F(TextureTableTest, RectanglesFindTheirTexturesInTheTable) {
  const auto brick = Named(new Vexil3D::Texture(1), u"Brick");
  const auto later = Named(new Vexil3D::Texture(1), u"Brick");   // a later group: never reached
  const auto stone = Named(new Vexil3D::Texture(1), u"Stone");   // only in a second list
  const auto lower = Named(new Vexil3D::Texture(1), u"brick");   // another name: the case is kept
  const auto plain = Named(new Vexil3D::Surface(), u"Surface");  // a surface that is no texture
  table.GetList(1, 0).Add(brick);
  table.GetList(3, 0).Add(later);
  table.GetList(3, 0).Add(lower);
  table.GetList(0, 2).Add(stone);
  table.GetList(0, 0).Add(plain);
  int asked = 0;
  manager.SetTextureProvider([&](const char16_t*) -> Vexil3D::Texture* {
    ++asked;
    return new Vexil3D::Texture(1);
  });
  manager.SetResourceTable(&table);
  ASSERT_TRUE(Load(R"(<Page>
    <Rectangle Name="brick" Texture="Brick" Colour="#ff0000"/>
    <Rectangle Name="lower" Texture="brick"/>
    <Rectangle Name="stone" Texture="Stone"/>
    <Rectangle Name="surface" Texture="Surface"/>
    <Rectangle Name="missing" Texture="Missing"/>
  </Page>)"));
  struct Row {
    const char16_t* name;
    Vexil3D::Resource* texture;
  };
  const Row rows[] = {{u"brick", brick.Get()},
                      {u"lower", lower.Get()},
                      {u"stone", nullptr},
                      {u"surface", nullptr},
                      {u"missing", nullptr}};
  for (const Row& row : rows) {
    SCOPED_TRACE(text::Utf16ToUtf8(row.name));
    auto* rectangle = dynamic_cast<CRectangle*>(Find(row.name));
    ASSERT_NE(rectangle, nullptr);
    EXPECT_EQ(rectangle->GetMaterial()->GetTexture(), row.texture);
  }
  EXPECT_EQ(asked, 0);
  // The material holds one reference besides the table's and this test's; the page gives it back.
  EXPECT_EQ(brick->GetRefCount(), 3);
  manager.Load(nullptr);
  EXPECT_EQ(brick->GetRefCount(), 2);
  for (unsigned group = 0; group < Vexil3D::CResourceTable::kGroupCount; ++group)
    for (unsigned list = 0; list < Vexil3D::CResourceTable::kListsPerGroup; ++list) table.GetList(group, list).Clear();
}

}  // namespace
