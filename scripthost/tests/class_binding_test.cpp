// Class bindings: refusals of derivation and cloning, instance checks, binding abuse from scripts, instance
// caching with its release hook, and the playing list's linking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

class Bindings : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    environment = MakeEnvironment(u"bindings");
  }
  // The first line of what the script wrote to standard error, or "ok" when it ran.
  std::string Outcome(const std::u16string& code) {
    bool ok = false;
    const std::string errors = RunCapturingErrors(environment, code, &ok);
    return ok ? "ok" : errors.substr(0, errors.find('\n'));
  }
  CScriptEnvironment* environment = nullptr;
};

TEST_F(Bindings, ScriptsCannotDeriveCloneOrRebind) {
  const std::vector<std::pair<const char16_t*, const char*>> cases = {
      {u"class Mine extends Engine.Vec1 {}", "sqvm: this class cannot be inherited."},
      {u"class Mine extends Engine.Vec3 {}", "sqvm: this class cannot be inherited."},
      {u"local v = Engine.Vec3(2); Engine.Record(Engine.Take(v));", "ok"},
      {u"clone Engine.Box(1);", "sqvm: instances of this class cannot be cloned."},
      {u"local a = Engine.Vec1(2); local b = clone a; Engine.Record(Engine.Take(b), Engine.Take(a));", "ok"},
      {u"Engine.Take(null);", "ok"},
      {u"Engine.Take({});", "sqvm: the object is not a class instance."},
      {u"Engine.Take(Engine.Box(1));", "sqvm: invalid type tag."},
      {u"Engine.Take(Engine.Vec1.instance());", "sqvm: the instance is not bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3(1), 5);", "sqvm: the instance is already bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3.instance(), 5);", "sqvm: invalid type tag."},
      {u"class Foo {} Engine.Vec1.constructor.call(Foo(), 5);", "sqvm: invalid type tag."},
      {u"Engine.Box.constructor.call(Engine.Box(1), 2);", "sqvm: the instance is already bound to an object."},
      {u"local a = Engine.Vec3(3); local b = clone a; Engine.Record(Engine.Take(b));", "ok"},
      {u"local b = Engine.Box.instance(); Engine.Box.constructor.call(b, 4); Engine.Record(b.GetValue());", "ok"},
  };
  for (const auto& [code, expected] : cases) {
    SCOPED_TRACE(Narrow(code));
    EXPECT_EQ(Outcome(code), expected);
    EXPECT_EQ(tBox::s_live, 0);
  }
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"float:2", "float:2,float:2", "float:3", "integer:4"}));
}

TEST_F(Bindings, GetInstanceWalksBaseClassesOnly) {
  const HSQUIRRELVM vm = host->GetVM();
  struct Case {
    const char16_t* make;
    ScriptClass asked;
    bool passes;
  };
  const std::vector<Case> cases = {
      {u"Vec3", ScriptClass::Vector1D, true},
      {u"Vec1", ScriptClass::Vector3D, false},
      {u"Vec1", ScriptClass::Vector1D, true},
      {u"Box", ScriptClass::Vector1D, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.make));
    host->GetEngineTable().Push(vm);
    sq_pushstring(vm, c.make, -1);
    sq_get(vm, -2);
    sq_pushroottable(vm);
    sq_pushinteger(vm, 1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(vm, 2, SQTrue, SQTrue)));
    tSquirrelReferenceable* object = nullptr;
    EXPECT_EQ(SQ_SUCCEEDED(CClassBinding::GetInstance(host->GetBinding(c.asked), vm, -1, &object)), c.passes);
    EXPECT_EQ(object != nullptr, c.passes);
    SQUserPointer untyped = &untyped;
    EXPECT_TRUE(SQ_SUCCEEDED(CClassBinding::GetInstance(nullptr, vm, -1, &untyped)));
    EXPECT_NE(untyped, nullptr);
    sq_settop(vm, 0);
  }
}

// PushInstance makes one instance per object and the release hook ends the object with it.
TEST_F(Bindings, InstanceCachingAndReleaseHook) {
  const HSQUIRRELVM vm = host->GetVM();
  auto* box = new tBox(host->GetBinding(ScriptClass::Texture), 9);
  box->PushInstance(vm);
  box->PushInstance(vm);
  HSQOBJECT first, second;
  sq_getstackobj(vm, -2, &first);
  sq_getstackobj(vm, -1, &second);
  EXPECT_EQ(first._unVal.raw, second._unVal.raw);
  EXPECT_EQ(box->GetRefCount(), 2u);
  box->Release();
  EXPECT_EQ(tBox::s_live, 1);
  sq_settop(vm, 0);
  EXPECT_EQ(tBox::s_live, 0);

  box = new tBox(host->GetBinding(ScriptClass::Texture));
  box->PushInstance(vm);
  sq_settop(vm, 0);
  EXPECT_FALSE(box->HasInstance());
  EXPECT_EQ(box->GetRefCount(), 1u);
  box->PushInstance(vm);  // a fresh instance once the first is gone
  EXPECT_TRUE(box->HasInstance());
  sq_settop(vm, 0);
  box->Release();
  EXPECT_EQ(tBox::s_live, 0);
}

TEST(PlayingList, AddPlayingAudioInstanceLinksAfterTheGivenNode) {
  struct Case {
    std::vector<int> after;  // per insertion: index of the earlier node to follow, -1 for the head
    std::vector<int> order;
  };
  const std::vector<Case> cases = {
      {{-1}, {0}},
      {{-1, 0, 1}, {0, 1, 2}},
      {{-1, -1, -1}, {2, 1, 0}},
      {{-1, 0, 0}, {0, 2, 1}},
  };
  for (const Case& c : cases) {
    tList list;
    std::vector<ListNode*> nodes;
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      auto* node = new ListNode{&list, nullptr, nullptr, reinterpret_cast<void*>(i + 1)};
      AddPlayingAudioInstance(node, c.after[i] < 0 ? nullptr : nodes[std::size_t(c.after[i])]);
      nodes.push_back(node);
    }
    std::vector<int> forward, backward;
    for (ListNode* n = list.m_pHead; n != nullptr; n = n->m_pNext) {
      forward.push_back(int(reinterpret_cast<std::uintptr_t>(GetPlayingAudioInstance(n))) - 1);
    }
    for (ListNode* n = list.m_pTail; n != nullptr; n = n->m_pPrevious) {
      backward.insert(backward.begin(), int(reinterpret_cast<std::uintptr_t>(n->m_pRecord)) - 1);
    }
    EXPECT_EQ(forward, c.order);
    EXPECT_EQ(backward, c.order);
    EXPECT_EQ(list.m_Count, c.order.size());
  }
}

}  // namespace
}  // namespace hosttest
