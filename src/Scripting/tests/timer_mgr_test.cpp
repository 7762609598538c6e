// Timer table: firing schedules by chosen steps, calls that change the table while a step runs, the
// argument pass-through, the capacity and clearing twice.
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <scripting/TimerMgr.h>

#include "ScriptFixture.h"

using namespace Vexil3D;
using namespace Vexil3D::TimerHandlers;
using namespace scripting_testing;

namespace {

class TimerTest : public ::testing::Test, public ScriptFixture {
 protected:
  // Calls a set function with a recording function, the delay (unless immediate) and the extras.
  CScriptTimer* Set(const char16_t* kind, std::int32_t delay, Body body = {}, std::vector<int> extras = {}) {
    CArgumentArray arguments;
    AppendFunction(arguments, Function(body ? body : [this](CNativeState*) { ++calls; }));
    if (std::u16string(kind) != u"setImmediate") arguments.AppendInteger(delay);
    for (int extra : extras) arguments.AppendInteger(extra);
    EXPECT_TRUE(CallGlobal(scripting, kind, resource, arguments));
    return results.Get(0)->IsObject() ? static_cast<CScriptTimer*>(results.Get(0)->ToObject()) : nullptr;
  }
  bool Clear(CScriptTimer* timer) {
    CArgumentArray arguments;
    arguments.AppendObject(timer);
    EXPECT_TRUE(CallGlobal(scripting, u"clearTimeout", resource, arguments));
    return results.Get(0)->ToBoolean();
  }

  CScripting scripting;
  CTimerMgr table{nullptr, &scripting};
  Strong<CResource> resource = Resource(u"r");
  int calls = 0;
};

TEST_F(TimerTest, FiresByTheStepsGiven) {
  struct Case {
    const char16_t* kind;
    std::int32_t delay;
    std::vector<double> steps;
    std::vector<int> callsAfterEach;
    std::uint32_t left;
  } cases[] = {
      {u"setTimeout", 0, {0.0}, {1}, 0},
      {u"setImmediate", 0, {0.0}, {1}, 0},
      {u"setInterval", 100, {0.25, 0.25, 0.25}, {1, 2, 3}, 1},  // at most once per step
      {u"setTimeout", 100, {0.05, 0.05, 0.2}, {0, 1, 1}, 0},
      {u"setInterval", 100, {0.099, 0.002, 0.099}, {0, 1, 1}, 1},  // the overshoot is dropped
      {u"setTimeout", -1, {1.0e6}, {0}, 1},                        // 2^32 - 1 ms
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.kind, c.kind + std::char_traits<char16_t>::length(c.kind))
                                    << " " << c.delay);
    table.Clear();
    calls = 0;
    Set(c.kind, c.delay);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      table.Step(c.steps[i]);
      EXPECT_EQ(calls, c.callsAfterEach[i]) << "step " << i;
    }
    EXPECT_EQ(table.GetCount(), c.left);
  }
}

TEST_F(TimerTest, CallsThatChangeTheTableWhileAStepRuns) {
  enum Action { kClearSelf, kClearLater, kClearEarlier, kCreate, kStopResource, kClearTable };
  // Three intervals of 0 ms in slots 0 to 2; the middle one acts in its first call; two steps.
  struct Case {
    Action action;
    int calls;
    std::uint32_t left;
  } cases[] = {
      {kClearSelf, 5, 2},     {kClearLater, 4, 2},      {kClearEarlier, 5, 2},
      {kCreate, 7, 3},  // the created immediate waits for the second step, then goes
      {kStopResource, 2, 0}, {kClearTable, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    table.Clear();
    calls = 0;
    CScriptTimer* earlier = Set(u"setInterval", 0);
    CScriptTimer* self = nullptr;
    CScriptTimer* later = nullptr;
    bool acted = false;
    self = Set(u"setInterval", 0, [&](CNativeState*) {
      ++calls;
      if (acted) return;
      acted = true;
      switch (c.action) {
        case kClearSelf: EXPECT_TRUE(table.RemoveTimer(self)); break;
        case kClearLater: EXPECT_TRUE(table.RemoveTimer(later)); break;
        case kClearEarlier: EXPECT_TRUE(table.RemoveTimer(earlier)); break;
        case kCreate: Set(u"setImmediate", 0); EXPECT_EQ(calls, 2); break;
        case kStopResource: EXPECT_EQ(table.RemoveResourceTimers(resource), 3u); break;
        case kClearTable: EXPECT_EQ(table.Clear(), 3u); break;
      }
    });
    later = Set(u"setInterval", 0);
    table.Step(0.0);
    table.Step(0.0);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(table.GetCount(), c.left);
  }
}

TEST_F(TimerTest, ExtraArgumentsReachTheFunctionInOrder) {
  std::vector<int> seen;
  Set(u"setTimeout", 0, [&](CNativeState* state) {
    for (std::uint32_t i = 0; i < state->GetArgumentCount(); ++i) {
      int value = 0;
      state->CheckNumber(static_cast<int>(i), &value);
      seen.push_back(value);
    }
  }, {7, 8, 9});
  table.Step(0.0);
  EXPECT_EQ(seen, (std::vector<int>{7, 8, 9}));
}

// A timer that stands in a table is refused by every table, and nothing changes: not its slot or table,
// not the count, not its references; it fires once a step and removes once. Out of the table it may be
// added again.
TEST_F(TimerTest, AddingATimerThatIsInATableIsRefused) {
  CTimerMgr other{nullptr, nullptr};
  for (CTimerMgr* target : {&table, &other}) {
    SCOPED_TRACE(target == &table ? "same table" : "another table");
    CScriptTimer* timer = table.CreateTimer(resource, Function([this](CNativeState*) { ++calls; }), 0, 0, 0.0);
    ASSERT_TRUE(timer);
    const std::uint32_t slot = timer->GetSlot();
    const int references = timer->GetRefCount();
    calls = 0;
    EXPECT_FALSE(target->AddTimer(timer));
    EXPECT_EQ(
        (std::tuple{timer->GetSlot(), timer->GetTable(), timer->GetRefCount(), table.GetCount(), other.GetCount()}),
        (std::tuple{slot, &table, references, 1u, 0u}));
    table.Step(1.0);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(table.RemoveTimer(timer));
    EXPECT_FALSE(table.RemoveTimer(timer));
    EXPECT_EQ((std::tuple{timer->GetRefCount(), table.GetCount()}), (std::tuple{references - 1, 0u}));
    // Removed, it is a timer like a new one.
    EXPECT_TRUE(target->AddTimer(timer));
    EXPECT_EQ(target->GetCount(), 1u);
    EXPECT_TRUE(target->RemoveTimer(timer));
    timer->Release();
  }
}

TEST_F(TimerTest, CapacityAndSecondClear) {
  Strong<CScriptTimer> first;
  first = Set(u"setTimeout", 1000);
  for (std::uint32_t i = 1; i < CTimerMgr::kCapacity; ++i) Set(u"setTimeout", 1000);
  EXPECT_EQ(Set(u"setTimeout", 1000), nullptr);
  EXPECT_TRUE(Clear(first));
  EXPECT_FALSE(Clear(first));
  EXPECT_EQ(table.GetCount(), CTimerMgr::kCapacity - 1);
  EXPECT_NE(Set(u"setTimeout", 1000), nullptr);  // the freed slot is taken again
  EXPECT_EQ(first->GetSlot(), CScriptTimer::kNoSlot);
}

}  // namespace
