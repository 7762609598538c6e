// Clone, move and toString through a reflected class: results, references and every failure text.
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <engine/Native.h>

using namespace Vexil3D;

namespace {

// A value object whose class's special functions copy, move and print its number.
class Counter : public CBaseObject {
 public:
  explicit Counter(ReflectedClass* cls, int value = 0) : m_iValue(value) { SetReflectedClass(cls); }
  int m_iValue;
};

// The class's clone, move and toString, told apart by their user value.
enum Special { kClone, kMove, kPrint };
bool CounterSpecial(CNativeState* state, int, void* user) {
  CBaseObject *self = nullptr, *source = nullptr;
  if (!state->GetThis(nullptr, &self)) return false;
  int& value = static_cast<Counter*>(self)->m_iValue;
  switch (static_cast<Special>(reinterpret_cast<std::intptr_t>(user))) {
    case kClone: {
      Strong<Counter> copy;
      copy.Attach(new Counter(self->GetReflectedClass(), value));
      return state->ReturnObject(copy);
    }
    case kMove:
      if (!state->CheckObject(self->GetReflectedClass(), 0, false, &source)) return false;
      value = std::exchange(static_cast<Counter*>(source)->m_iValue, 0);
      return true;
    case kPrint: {
      const std::u16string text = u"#" + std::u16string(value, u'x');
      return state->ReturnString(text.c_str(), static_cast<std::uint32_t>(text.size()));
    }
  }
  return false;
}

bool ReturnNothing(CNativeState*, int, void*) { return true; }
bool ReturnNumber(CNativeState* state, int, void*) { return state->ReturnInteger(1); }

TEST(ReflectedClassTest, CloneMoveAndToStringCallTheClass) {
  ReflectedClass cls(u"Counter", nullptr);
  cls.SetClone(&CounterSpecial, reinterpret_cast<void*>(kClone));
  cls.SetMove(&CounterSpecial, reinterpret_cast<void*>(kMove));
  cls.SetToString(&CounterSpecial, reinterpret_cast<void*>(kPrint));
  Strong<Counter> a;
  a.Attach(new Counter(&cls, 3));
  Strong<Counter> b;
  b.Attach(static_cast<Counter*>(ReflectedClass::Clone(a)));
  ASSERT_NE(b.Get(), nullptr);
  EXPECT_EQ((std::tuple{b->m_iValue, b->GetRefCount()}), (std::tuple{3, 1}));
  b->m_iValue = 5;
  EXPECT_TRUE(ReflectedClass::Move(a, b));
  EXPECT_EQ((std::tuple{a->m_iValue, b->m_iValue}), (std::tuple{5, 0}));
  std::uint32_t length = 0;
  std::unique_ptr<char16_t[]> text(ReflectedClass::ToString(a, &length));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ((std::tuple{std::u16string(text.get()), length}), (std::tuple{u"#xxxxx", 6u}));
}

TEST(ReflectedClassTest, FailuresLeaveTheirText) {
  ReflectedClass bare(u"Bare", nullptr);
  ReflectedClass empty(u"Empty", nullptr);
  empty.SetClone(&ReturnNothing, nullptr);
  empty.SetToString(&ReturnNothing, nullptr);
  ReflectedClass numeric(u"Numeric", nullptr);
  numeric.SetClone(&ReturnNumber, nullptr);
  numeric.SetToString(&ReturnNumber, nullptr);
  Counter classless(nullptr), plain(&bare), hollow(&empty), number(&numeric);
  std::uint32_t length = 7;
  const auto clone = [](CBaseObject* object) { return [object] { return ReflectedClass::Clone(object) != nullptr; }; };
  const auto print = [&](CBaseObject* object) {
    return [object, &length] { return ReflectedClass::ToString(object, &length) != nullptr; };
  };
  const auto move = [](CBaseObject* to, CBaseObject* from) { return [=] { return ReflectedClass::Move(to, from); }; };
  const struct {
    std::function<bool()> run;
    const char16_t* text;
  } cases[] = {
      {clone(&classless), u"Class not part of reflection"},  {clone(nullptr), u"Class not part of reflection"},
      {clone(&plain), u"Class is not cloneable"},            {clone(&hollow), u"Clone didn't return anything"},
      {clone(&number), u"Clone didn't return anything"},     {move(&plain, &plain), u"Cannot move to same place"},
      {move(&classless, &plain), u"Class not part of reflection"}, {move(&plain, &hollow), u"Class is not movable"},
      {print(&classless), u"Class not part of reflection"},  {print(&plain), u"Class doesn't implement ToString"},
      {print(&hollow), u"ToString didn't return anything"},  {print(&number), u"ToString didn't return a string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    EXPECT_FALSE(c.run());
    EXPECT_EQ(std::u16string(GetLastErrorText()), c.text);
  }
  EXPECT_EQ(length, 0u);
}

}  // namespace
