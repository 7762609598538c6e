// Reference counts, weak and strong holders, user data, the pool and the name hash.
#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Arguments.h>
#include <engine/Pool.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>
#include <platform/text.h>

#include "AssertionCapture.h"

using namespace Vexil3D;

namespace {

// Counts destructions so a test can tell "gone once" from "gone twice" or "leaked".
class Tracked : public CBaseObject {
 public:
  explicit Tracked(int* destroyed) : m_pDestroyed(destroyed) {}
  ~Tracked() override {
    if (m_pDestroyed) ++*m_pDestroyed;
  }
  Strong<Tracked> m_Child;
  int m_Payload[8] = {};

 private:
  int* m_pDestroyed;
};

class RecordingUserData : public IUserData {
 public:
  RecordingUserData(std::vector<int>* order, int id, bool keep = false) : m_bKeep(keep), m_pOrder(order), m_iId(id) {}
  ~RecordingUserData() override {
    if (m_pOrder) m_pOrder->push_back(m_iId);
  }
  bool OnLastRelease() override {
    ++m_iAsked;
    return m_bKeep;
  }
  bool m_bKeep;
  int m_iAsked = 0;

 private:
  std::vector<int>* m_pOrder;
  int m_iId;
};

// Runs a step while the object it belongs to is torn down.
class TeardownStep : public IUserData {
 public:
  explicit TeardownStep(std::function<void()> step) : m_Step(std::move(step)) {}
  ~TeardownStep() override { m_Step(); }

 private:
  std::function<void()> m_Step;
};

// A counted object on the stack: deleting it would be caught by the sanitizer build.
class StackCounted : public CRefCounted {
 public:
  void ForceCount(std::int32_t count) { m_iRefCount = count; }
};

}  // namespace

TEST(RefCount, CountsFromOneAndDestroysOnLastRelease) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  EXPECT_EQ((std::tuple{object->GetRefCount(), object->AddRef(), object->Release(), destroyed}),
            (std::tuple{1, 2, 1, 0}));
  EXPECT_EQ((std::tuple{object->Release(), destroyed}), (std::tuple{0, 1}));
  auto* argument = new CArgumentInteger(7);  // a plain counted object
  EXPECT_EQ((std::tuple{argument->AddRef(), argument->Release(), argument->Release()}), (std::tuple{2, 1, 0}));
}

TEST(RefCount, ReleaseAtZeroIsReportedAndChangesNothing) {
  enginetest::AssertionCapture asserts;
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  auto* keeper = new RecordingUserData(nullptr, 3, /*keep=*/true);
  object->SetUserData(2, keeper);

  // Kept alive by its user data, count now 0.
  EXPECT_EQ((std::tuple{object->Release(), object->GetRefCount(), keeper->m_iAsked, asserts.Count()}),
            (std::tuple{0, 0, 1, 0u}));
  EXPECT_EQ((std::tuple{object->Release(), asserts.Count(), asserts.LastNames(u"before > 0")}),
            (std::tuple{0, 1u, true}));  // nothing left to release
  // The lifetime hook is not asked again.
  EXPECT_EQ((std::tuple{object->GetRefCount(), destroyed, keeper->m_iAsked}), (std::tuple{0, 0, 1}));

  EXPECT_EQ((std::tuple{object->AddRef(), object->AddRef(), object->Release()}), (std::tuple{1, 2, 1}));  // revived
  keeper->m_bKeep = false;
  EXPECT_EQ((std::tuple{object->Release(), destroyed}), (std::tuple{0, 1}));

  // A plain object at zero or below is left as it was.
  for (std::int32_t count : {0, -1, -1000}) {
    StackCounted plain;
    plain.ForceCount(count);
    asserts.Clear();
    EXPECT_EQ((std::tuple{plain.Release(), asserts.Count(), plain.GetRefCount()}), (std::tuple{0, 1u, count}));
  }
}

TEST(RefCount, ConcurrentAddAndReleaseDestroyExactlyOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  for (int trial = 0; trial < 20; ++trial) {
    int destroyed = 0;
    auto* object = new Tracked(&destroyed);
    // Each thread owns one reference and lets it go at the end; the creator's goes first.
    for (int i = 0; i < kThreads; ++i) object->AddRef();
    object->Release();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        for (int r = 0; r < kRounds; ++r) object->AddRef(), object->Release();
        object->Release();
      });
    go = true;
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(destroyed, 1) << "trial " << trial;
  }
}

TEST(WeakHolder, ReadsNullAfterTheTargetIsDestroyedAndAlreadyWhileUserDataGoes) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  Weak<Tracked> a(object), b, c(a);
  b = object;
  EXPECT_EQ((std::tuple{object->GetWeakReferenceCount(), a.Get(), c.Get()}), (std::tuple{3u, object, object}));
  bool sawNull = false;
  object->SetUserData(1, new TeardownStep([&] { sawNull = a.Get() == nullptr; }));
  object->Release();
  EXPECT_TRUE(sawNull);
  EXPECT_EQ((std::tuple{destroyed, a.Get(), b.Get(), c.Get()}), (std::tuple{1, nullptr, nullptr, nullptr}));
}

TEST(WeakHolder, PointingAtADyingObjectGivesNull) {
  int destroyed = 0;
  Weak<Tracked> late;
  auto* object = new Tracked(&destroyed);
  object->SetUserData(0, new TeardownStep([&] { late = object; }));
  object->Release();
  EXPECT_EQ((std::tuple{destroyed, late.Get()}), (std::tuple{1, nullptr}));
}

TEST(WeakHolder, DestroyedFirstLeavesTheTargetClean) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  std::uint32_t counts[3] = {};
  {
    Weak<Tracked> a(object);
    auto* b = new Weak<Tracked>(object);
    counts[0] = object->GetWeakReferenceCount();
    delete b;
    counts[1] = object->GetWeakReferenceCount();
  }
  counts[2] = object->GetWeakReferenceCount();
  object->Release();  // the sanitizer build would report a write into a holder that no longer exists
  EXPECT_EQ((std::tuple{counts[0], counts[1], counts[2], destroyed}), (std::tuple{2u, 1u, 0u, 1}));
}

TEST(WeakHolder, RepointingMovesTheAddressBetweenTargets) {
  int destroyed = 0;
  auto* first = new Tracked(&destroyed);
  auto* second = new Tracked(&destroyed);
  Weak<Tracked> weak(first);
  weak = first;  // the same target: nothing changes
  const std::uint32_t same = first->GetWeakReferenceCount();
  weak = second;
  EXPECT_EQ((std::tuple{same, first->GetWeakReferenceCount(), second->GetWeakReferenceCount()}),
            (std::tuple{1u, 0u, 1u}));
  first->Release();
  EXPECT_EQ(weak.Get(), second);
  weak = nullptr;
  EXPECT_EQ(second->GetWeakReferenceCount(), 0u);
  second->Release();
  EXPECT_EQ(destroyed, 2);
}

TEST(Holders, EmptyDereferenceIsReportedAndGivesNull) {
  enginetest::AssertionCapture asserts;
  EXPECT_EQ((std::tuple{Weak<Tracked>().operator->(), asserts.Count(), asserts.LastNames(u"m_pRef")}),
            (std::tuple{nullptr, 1u, true}));
  EXPECT_NE(asserts.Texts().back().find(u"File: include/engine/VexilReference\n"), std::u16string::npos);
  EXPECT_EQ((std::tuple{Strong<Tracked>().operator->(), asserts.Count(), asserts.LastNames(u"m_pRef")}),
            (std::tuple{nullptr, 2u, true}));
  EXPECT_EQ((std::tuple{AutoDelete<Tracked>().operator->(), asserts.LastNames(u"m_pObject")}),
            (std::tuple{nullptr, true}));
}

TEST(StrongHolder, AssigningTheHeldPointerChangesNoCount) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  Strong<Tracked> strong(object);
  object->Release();
  strong = object;
  const int afterSame = object->GetRefCount();
  strong = strong;
  EXPECT_EQ((std::tuple{afterSame, object->GetRefCount()}), (std::tuple{1, 1}));
  strong = nullptr;
  EXPECT_EQ(destroyed, 1);
}

TEST(StrongHolder, NewReferenceIsTakenBeforeTheOldGoes) {
  int destroyed = 0;
  // The parent holds the only reference to the child; the holder the only one to the parent.
  auto* parent = new Tracked(&destroyed);
  auto* child = new Tracked(&destroyed);
  parent->m_Child = child;
  child->Release();
  Strong<Tracked> holder(parent);
  parent->Release();
  ASSERT_EQ(child->GetRefCount(), 1);

  holder = parent->m_Child.Get();  // the parent goes, the child must survive in the holder
  ASSERT_EQ((std::tuple{destroyed, holder.Get(), child->GetRefCount()}), (std::tuple{1, child, 1}));
  holder->m_Payload[0] = 5;  // still a live object (the sanitizer build checks)
  holder = nullptr;
  EXPECT_EQ(destroyed, 2);
}

TEST(StrongHolder, CopiesMovesAndAttachKeepCountsRight) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  Strong<Tracked> a;
  a.Attach(object);  // takes over the maker's reference
  const int attached = object->GetRefCount();
  Strong<Tracked> b(a);
  const int copied = object->GetRefCount();
  Strong<Tracked> c(std::move(b));
  EXPECT_EQ((std::tuple{attached, copied, object->GetRefCount(), b.Get()}), (std::tuple{1, 2, 2, nullptr}));
  Strong<CBaseObject> base(c);
  const int upcast = object->GetRefCount();
  c = std::move(a);
  EXPECT_EQ((std::tuple{upcast, object->GetRefCount()}), (std::tuple{3, 2}));
  base = nullptr;
  c = nullptr;
  EXPECT_EQ(destroyed, 1);
}

// A star dereference of an empty holder asserts before the null reference is used: the Cancel
// that the scripted dialog answers ends the process there.
TEST(HolderDeathTest, EmptyStarDereferenceAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto use = [](const Tracked& object) { std::_Exit(object.GetRefCount() + 2); };
  const auto cancelled = ::testing::ExitedWithCode(1);
  EXPECT_EXIT({ platform::testing::ScriptedDialogs cancel; use(*Strong<Tracked>()); }, cancelled, "");
  EXPECT_EXIT({ platform::testing::ScriptedDialogs cancel; use(*Weak<Tracked>()); }, cancelled, "");
}

TEST(AutoDeleteHolder, DeletesOnResetAndDestruction) {
  int destroyed = 0;
  {
    AutoDelete<Tracked> owner(new Tracked(&destroyed));
    owner.Reset(new Tracked(&destroyed));
    owner = owner.Get();  // the same object: kept
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(UserData, DeletedInPlaceOrderAndFirstPlaceTakenOnce) {
  enginetest::AssertionCapture asserts;
  std::vector<int> order;
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  object->SetUserData(3, new RecordingUserData(&order, 4));
  object->SetUserData(1, new RecordingUserData(&order, 2));
  EXPECT_TRUE(object->AddUserData(new RecordingUserData(&order, 1)));
  object->SetUserData(2, new RecordingUserData(&order, 3));

  RecordingUserData second(nullptr, 99);
  EXPECT_EQ((std::tuple{object->AddUserData(&second), asserts.LastNames(u"!m_pUser")}),
            (std::tuple{false, true}));  // taken: refused, the caller keeps it
  EXPECT_NE(asserts.Texts().back().find(u"File: src/Engine/VexilBase\n"), std::u16string::npos);

  object->Release();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(BaseObject, CreateArgumentHoldsAReference) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  CArgument* argument = object->CreateArgument();
  ASSERT_NE(argument, nullptr);
  EXPECT_EQ((std::tuple{argument->GetType(), argument->ToObject(), object->GetRefCount()}),
            (std::tuple{std::uint8_t(ARGUMENT_OBJECT), object, 2}));
  object->Release();
  const int whileHeld = destroyed;
  argument->Release();
  EXPECT_EQ((std::tuple{whileHeld, destroyed}), (std::tuple{0, 1}));
}


TEST(PoolAllocator, PooledObjectReturnsItsBlockOnLastRelease) {
  int destroyed = 0;
  Pool pool(sizeof(Tracked) + 16, 4);
  auto* a = pool.Construct<Tracked>(&destroyed);
  auto* b = pool.Construct<Tracked>(&destroyed);
  ASSERT_TRUE(a && b);
  EXPECT_EQ((std::tuple{pool.Exists(a), a->GetPool(), pool.GetUsedCount(), pool.GetFirstFreeHint()}),
            (std::tuple{true, &pool, 2u, 2u}));
  Weak<Tracked> watch(a);

  a->Release();
  // The hint moves down to the freed index.
  EXPECT_EQ(
      (std::tuple{destroyed, watch.Get(), pool.GetUsedCount(), pool.GetFirstFreeHint(), pool.GetSlot(0).m_uInUse}),
      (std::tuple{1, nullptr, 1u, 0u, 0}));

  auto* c = pool.Construct<Tracked>(&destroyed);
  EXPECT_EQ(static_cast<void*>(c), static_cast<void*>(a));  // the freed block is reused
  b->Release();
  EXPECT_EQ(pool.GetFirstFreeHint(), 1u);  // down from 2, the next free after the reused block
  c->Release();
  EXPECT_EQ((std::tuple{pool.GetFirstFreeHint(), pool.GetUsedCount(), destroyed}), (std::tuple{0u, 0u, 3}));

  // The hint does not move up on a later free.
  void* blocks[4];
  for (auto& block : blocks) block = pool.New();
  pool.Delete(blocks[1]);
  pool.Delete(blocks[3]);
  EXPECT_EQ(pool.GetFirstFreeHint(), 1u);
  pool.Delete(blocks[0]);
  EXPECT_EQ((std::tuple{pool.GetFirstFreeHint(), pool.GetUsedCount()}), (std::tuple{0u, 1u}));
}

TEST(PoolAllocator, RunsTakeAndReturnSeveralElements) {
  Pool pool(8, 6);
  void* one = pool.New(1);
  void* three = pool.New(3);
  ASSERT_NE(three, nullptr);
  EXPECT_EQ((std::tuple{pool.GetSlot(1).m_iSpan, pool.GetUsedCount(), pool.New(3)}), (std::tuple{3, 4u, nullptr}));
  pool.Delete(three);  // (only two were left for the second run of three)
  EXPECT_EQ(pool.GetUsedCount(), 1u);
  for (std::uint32_t i = 1; i < 4; ++i)
    EXPECT_TRUE(pool.GetSlot(i).m_uInUse == 0 && pool.GetSlot(i).m_iSpan == 0) << i;
  EXPECT_NE(pool.New(5), nullptr);
  EXPECT_EQ((std::tuple{pool.GetUsedCount(), pool.New(1)}), (std::tuple{6u, nullptr}));
  pool.Delete(one);
}

TEST(PoolAllocator, RefusesPointersThatAreNotLiveBlocks) {
  enginetest::AssertionCapture asserts;
  Pool pool(16, 4);
  void* a = pool.New(2);
  void* b = pool.New(1);
  ASSERT_NE(a, nullptr);
  int outside = 0;

  const char16_t* kLive = u"m_pSlots[index].m_uInUse && m_pSlots[index].m_iSpan > 0";
  const struct { const char* what; void* pointer; const char16_t* expression; } cases[] = {
      {"outside the pool", &outside, u"Exists(p)"}, {"null", nullptr, u"Exists(p)"},
      {"not on a block boundary", static_cast<char*>(b) + 4, u"Exists(p)"},
      {"inside a run", static_cast<char*>(a) + 16, kLive}, {"a free block", static_cast<char*>(b) + 16, kLive},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    asserts.Clear();
    pool.Delete(c.pointer);
    EXPECT_EQ((std::tuple{asserts.Count() >= 1u, asserts.LastNames(c.expression), pool.GetUsedCount()}),
              (std::tuple{true, true, 3u}));
  }

  pool.Delete(b);
  asserts.Clear();
  pool.Delete(b);  // twice: refused, the count stays
  EXPECT_EQ((std::tuple{asserts.Count(), pool.GetUsedCount(), pool.GetFirstFreeHint()}), (std::tuple{1u, 2u, 2u}));
  pool.Delete(a);
  EXPECT_EQ(pool.GetUsedCount(), 0u);

  // The report names the file and the function's full signature as the game's build spelled them.
  asserts.Clear();
  EXPECT_EQ(pool.IndexOf(&outside), 0u);
  ASSERT_EQ(asserts.Texts().size(), 1u);
  const std::u16string report = asserts.Texts()[0];
  EXPECT_EQ(report.substr(0, report.find(u"\nLine: ")),
            u"Assertion failed!\n\nFile: src/Engine/Pool\nFunction: unsigned int __thiscall "
            u"Vexil3D::Pool::IndexOf(void *)");
  EXPECT_TRUE(asserts.LastNames(u"Exists(p)"));
}


TEST(NameHash, IsTheCrcOfTheUtf8Form) {
  const struct { const char16_t* name; bool fold; std::uint32_t expected; } cases[] = {
      {u"", false, 0u}, {u"abc", false, 0x352441C2u}, {u"ABC", false, 0xA3830348u}, {u"ABC", true, 0x352441C2u},
      {u"Hello World", false, 0x4A17B156u}, {u"\u00E9/Data.tar", false, 0x3EC65FEFu},
      {u"\u00C9/DATA.TAR", true, GetNameHash(u"\u00C9/data.tar", false)},  // only ASCII folds
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.name));
    EXPECT_EQ(GetNameHash(c.name, kNameHashToTerminator, c.fold), c.expected);
    EXPECT_EQ(GetNameHash(std::u16string_view(c.name), c.fold), c.expected);
  }
  // An empty substring is the empty name; a pointer and a case choice keep the case; a view stops at a zero.
  EXPECT_EQ((std::tuple{GetNameHash(u"abcdef", 3, false), GetNameHash(u"abcdef", 0, false), GetNameHash(u"ABC", false),
                        GetNameHash(std::u16string_view(u"abc\0def", 7), false)}),
            (std::tuple{0x352441C2u, 0u, 0xA3830348u, 0x352441C2u}));

  // A named object keeps the case in its hash.
  Strong<Identifiable> named;
  named.Attach(new Identifiable());
  const std::uint32_t unnamed = named->GetNameHashValue();
  named->SetName(u"ABC");
  EXPECT_EQ((std::tuple{unnamed, named->GetNameHashValue()}), (std::tuple{0u, 0xA3830348u}));
}
