// The configuration tree under the context: elements own their children.
#include <engine/Config.h>

#include <gtest/gtest.h>

namespace {

using Vexil3D::ConfigElement;
using Vexil3D::ConfigVariable;

class CountedVariable : public ConfigVariable {
 public:
  CountedVariable(ConfigElement* parent, std::u16string name, int* destroyed)
      : ConfigVariable(parent, std::move(name)), m_pDestroyed(destroyed) {}
  ~CountedVariable() override { ++*m_pDestroyed; }

 private:
  int* m_pDestroyed;
};

TEST(ContextConfig, ElementsOwnAndFindTheirChildren) {
  int destroyed = 0;
  {
    ConfigElement root;
    EXPECT_EQ(root.GetParent(), nullptr);
    EXPECT_EQ(root.GetName(), u"");
    auto* video = new ConfigElement(&root, u"video");
    ASSERT_TRUE(root.AddChild(video));
    ASSERT_TRUE(video->AddChild(new CountedVariable(video, u"width", &destroyed)));
    ASSERT_TRUE(root.AddChild(new CountedVariable(&root, u"name", &destroyed)));
    EXPECT_EQ(root.GetChildCount(), 2u);
    EXPECT_EQ(root.FindChild(u"video"), video);
    EXPECT_EQ(video->FindChild(u"width")->GetParent(), video);
    EXPECT_EQ(root.FindChild(u"Video"), nullptr);
    EXPECT_EQ(root.FindChild(u"missing"), nullptr);

    // A taken name or a child of another element stays with the caller.
    CountedVariable duplicate(&root, u"name", &destroyed);
    EXPECT_FALSE(root.AddChild(&duplicate));
    CountedVariable foreign(video, u"other", &destroyed);
    EXPECT_FALSE(root.AddChild(&foreign));
    EXPECT_FALSE(root.AddChild(nullptr));
    EXPECT_FALSE(root.AddChild(&root));
    EXPECT_EQ(destroyed, 0);
  }
  // The two owned variables and the two on the stack.
  EXPECT_EQ(destroyed, 4);
}

}  // namespace
