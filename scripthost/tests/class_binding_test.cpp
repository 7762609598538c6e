// Class bindings: refusals of derivation and cloning, instance checks, binding abuse from scripts, instance
// caching with its release hook, and the playing list's linking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripthost_fixture.h"

namespace hosttest {
namespace {

TEST_F(HostTest, ScriptsCannotDeriveCloneOrRebind) {
  CScriptEnvironment* environment = MakeEnvironment(u"bindings");
  const std::vector<std::pair<const char16_t*, const char*>> cases = {
      {u"class Mine extends Engine.Vec1 {}", "sqvm: this class cannot be inherited."},
      {u"class Mine extends Engine.Vec3 {}", "sqvm: this class cannot be inherited."},
      {u"Engine.Record(Engine.Take(Engine.Vec3(2)), Engine.Take(null));", ""},
      {u"clone Engine.Box(1);", "sqvm: instances of this class cannot be cloned."},
      {u"local a = Engine.Vec1(2); Engine.Record(Engine.Take(clone a), Engine.Take(clone Engine.Vec3(3)));", ""},
      {u"Engine.Take({});", "sqvm: the object is not a class instance."},
      {u"Engine.Take(Engine.Box(1));", "sqvm: invalid type tag."},
      {u"Engine.Take(Engine.Vec1.instance());", "sqvm: the instance is not bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3(1), 5);", "sqvm: the instance is already bound to an object."},
      {u"Engine.Vec1.constructor.call(Engine.Vec3.instance(), 5);", "sqvm: invalid type tag."},
      {u"class Foo {} Engine.Vec1.constructor.call(Foo(), 5);", "sqvm: invalid type tag."},
      {u"Engine.Box.constructor.call(Engine.Box(1), 2);", "sqvm: the instance is already bound to an object."},
      {u"local v = Engine.Vec1.instance(); Engine.Vec1.constructor.call(v, 4); Engine.Record(Engine.Take(v));", ""},
  };
  for (const auto& [code, expected] : cases) {
    const std::string errors = Errors(environment, code);
    EXPECT_EQ(errors.substr(0, errors.find('\n')), expected) << Narrow(code);
    EXPECT_EQ(tBox::s_live, 0) << Narrow(code);
  }
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"float:2,null", "float:2,float:3", "float:4"}));
}

// PushInstance makes one instance per object and the release hook ends the object with it.
TEST_F(HostTest, InstanceCachingAndReleaseHook) {
  const HSQUIRRELVM vm = host->GetVM();
  auto* box = new tBox(host->GetBinding(ScriptClass::Texture), 9);
  box->PushInstance(vm);
  box->PushInstance(vm);
  HSQOBJECT first, second;
  sq_getstackobj(vm, -2, &first);
  sq_getstackobj(vm, -1, &second);
  EXPECT_EQ(first._unVal.raw, second._unVal.raw);
  EXPECT_EQ(box->GetRefCount(), 2u);
  SQUserPointer bound = nullptr;
  EXPECT_TRUE(SQ_SUCCEEDED(CClassBinding::GetInstance(host->GetBinding(ScriptClass::Texture), vm, -1, &bound)));
  EXPECT_EQ(bound, static_cast<tSquirrelReferenceable*>(box));
  box->AddRef();
  box->Release();
  sq_settop(vm, 0);  // the instance goes: its reference and the cache with it
  EXPECT_FALSE(box->HasInstance());
  EXPECT_EQ(box->GetRefCount(), 1u);
  box->PushInstance(vm);  // a fresh instance once the first is gone
  EXPECT_TRUE(box->HasInstance());
  box->Release();
  EXPECT_EQ(tBox::s_live, 1);
  sq_settop(vm, 0);
  EXPECT_EQ(tBox::s_live, 0);
}

TEST(PlayingList, AddPlayingAudioInstanceLinksAfterTheGivenNode) {
  const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases = {
      // per insertion: the earlier node to follow (-1: the head); then the order of the list
      {{-1}, {0}}, {{-1, 0, 1}, {0, 1, 2}}, {{-1, -1, -1}, {2, 1, 0}}, {{-1, 0, 0}, {0, 2, 1}},
  };
  for (const auto& [after, order] : cases) {
    tList list;
    std::vector<ListNode*> nodes;
    for (std::size_t i = 0; i < after.size(); ++i) {
      nodes.push_back(new ListNode{&list, nullptr, nullptr, reinterpret_cast<void*>(i + 1)});
      AddPlayingAudioInstance(nodes.back(), after[i] < 0 ? nullptr : nodes[std::size_t(after[i])]);
    }
    std::vector<int> forward, backward;
    for (ListNode* n = list.m_pHead; n != nullptr; n = n->m_pNext) {
      forward.push_back(int(reinterpret_cast<std::uintptr_t>(GetPlayingAudioInstance(n))) - 1);
    }
    for (ListNode* n = list.m_pTail; n != nullptr; n = n->m_pPrevious) {
      backward.insert(backward.begin(), int(reinterpret_cast<std::uintptr_t>(n->m_pRecord)) - 1);
    }
    EXPECT_EQ(forward, order);
    EXPECT_EQ(backward, order);
    EXPECT_EQ(list.m_Count, order.size());
  }
}

}  // namespace
}  // namespace hosttest
