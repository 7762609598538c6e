// Key binds: which binds a press or release calls (state x direction x repeat x allow-repeat), binding
// order, binds that change the table from inside a dispatch, nested dispatch and a throwing bind.
#include <optional>
#include <stdexcept>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <platform/text.h>
#include <scripting/KeyBinds.h>

#include "ScriptFixture.h"

using namespace Vexil3D;
using namespace scripting_testing;

namespace {

SDL_Keysym Key(SDL_Keycode sym) {
  SDL_Keysym key{};
  key.sym = sym;
  key.scancode = SDL_SCANCODE_A;
  return key;
}

class KeyBindsTest : public ::testing::Test, public ScriptFixture {
 protected:
  bool Bind(SDL_Keycode key, int keyState, Body body, std::optional<bool> allowRepeat = {},
            CResource* as = nullptr) {
    CArgumentArray arguments;
    arguments.AppendInteger(key);
    arguments.AppendInteger(keyState);
    AppendFunction(arguments, Function(std::move(body)));
    if (allowRepeat) arguments.AppendBoolean(*allowRepeat);
    return CallGlobal(scripting, u"bindKey", as ? as : resource.Get(), arguments);
  }

  CScripting scripting;
  CKeyBinds table{nullptr, &scripting};
  Strong<CResource> resource = Resource(u"r");
  Strong<CResource> other = Resource(u"other");
  std::string trace;
};

TEST_F(KeyBindsTest, StateDirectionRepeatAndAllowRepeat) {
  // One character per (release, press) x (repeat 0, 1) x (allow-repeat no, yes): '1' when called.
  const struct {
    int keyState;
    const char* called;
  } cases[] = {{KEYSTATE_UP, "11010000"}, {KEYSTATE_DOWN, "00001101"}, {KEYSTATE_BOTH, "11011101"}};
  for (const auto& c : cases) {
    for (int combo = 0; combo < 8; ++combo) {
      const bool down = combo & 4, repeat = combo & 2, allow = combo & 1;
      SCOPED_TRACE(testing::Message() << "state " << c.keyState << " combo " << combo);
      int calls = 0;
      ASSERT_TRUE(Bind(SDLK_a, c.keyState, [&](CNativeState*) { ++calls; }, allow));
      EXPECT_EQ(table.Dispatch(Key(SDLK_a), repeat ? 1 : 0, down), c.called[combo] == '1');
      EXPECT_EQ(calls, c.called[combo] == '1' ? 1 : 0);
      table.RemoveKeyBinds(SDLK_a, nullptr);
    }
  }
  EXPECT_FALSE(table.Dispatch(Key(SDLK_b), 0, true));  // no binds: nothing called
}

TEST_F(KeyBindsTest, TheEventCarriesTheRecord) {
  std::vector<std::int64_t> seen;
  Bind(SDLK_RETURN, KEYSTATE_BOTH, [&](CNativeState* state) {
    auto* event = static_cast<CKeyEvent*>(state->GetArgument(0)->ToObject());
    for (const char16_t* name : {u"keyCode", u"scanCode", u"repeat", u"down"}) {
      CNativeState get(&scripting, nullptr, nullptr);
      get.SetThis(event);
      event->GetReflectedClass()->FindProperty(name)->getter.Call(&get, 0);
      std::int64_t value = 0;
      if (get.GetResults().Get(0)->IsBoolean()) value = get.GetResults().Get(0)->ToBoolean();
      else get.GetResults().Get(0)->ToNumber(&value);
      seen.push_back(value);
    }
  }, true);
  table.Dispatch(Key(SDLK_RETURN), 3, true);
  EXPECT_EQ(seen, (std::vector<std::int64_t>{SDLK_RETURN, SDL_SCANCODE_A, 3, 1}));
}

// Three binds on one key, the middle one of another resource, which acts in its first call; two dispatches.
TEST_F(KeyBindsTest, BindsThatChangeTheTableDuringADispatch) {
  enum Action { kUnbindSelf, kUnbindAll, kBindMore, kNested, kUnbindResource };
  const struct {
    Action action;
    const char* trace;
    std::size_t left;
  } cases[] = {
      {kUnbindSelf, "ABC|AC", 2},
      {kUnbindAll, "AB|", 0},       // the later bind is skipped at once
      {kBindMore, "ABC|ABCD", 4},   // the new bind waits for the next dispatch
      {kNested, "ABABCC|ABC", 3},   // the inner dispatch runs all three; the outer goes on after it
      {kUnbindResource, "AB|B", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    trace.clear();
    bool acted = false;
    Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState*) { trace += 'A'; });
    Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState* state) {
      trace += 'B';
      if (std::exchange(acted, true)) return;
      switch (c.action) {
        case kUnbindSelf: EXPECT_EQ(table.RemoveKeyBinds(SDLK_x, state->GetResource()), 1u); break;
        case kUnbindAll: EXPECT_EQ(table.RemoveKeyBinds(SDLK_x, nullptr), 3u); break;
        case kBindMore: Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState*) { trace += 'D'; }); break;
        case kNested: EXPECT_TRUE(table.Dispatch(Key(SDLK_x), 0, true)); break;
        case kUnbindResource: EXPECT_EQ(table.RemoveResourceBinds(resource), 2u); break;
      }
      EXPECT_GE(table.GetIterating(), 1);
    }, {}, other);
    Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState*) { trace += 'C'; });
    table.Dispatch(Key(SDLK_x), 0, true);
    trace += '|';
    table.Dispatch(Key(SDLK_x), 0, true);
    EXPECT_EQ(table.GetIterating(), 0);
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(table.GetCount(), c.left);
    table.RemoveKeyBinds(SDLK_x, nullptr);
  }
}

TEST_F(KeyBindsTest, AThrowingBindLeavesTheCounterAtZero) {
  struct Throwing : CKeyBind {
    Throwing() : CKeyBind(nullptr) {}
    void Call(CBaseObject*, CKeyEvent*) override {
      GetTable()->RemoveKeyBinds(SDLK_z, nullptr);
      throw std::runtime_error("bind failed");
    }
  };
  table.AddKeyBind(new Throwing, SDLK_z, KEYSTATE_DOWN, false);
  EXPECT_THROW(table.Dispatch(Key(SDLK_z), 0, true), std::runtime_error);
  EXPECT_EQ(table.GetIterating(), 0);
  EXPECT_EQ(table.GetCount(), 0u);  // its own removal was carried out on the way out
}

TEST_F(KeyBindsTest, UnbindKeyTakesOnlyTheCallersBinds) {
  table.AddKeyBind(new CScriptKeyBind(nullptr, Function([](CNativeState*) {})), SDLK_q, KEYSTATE_DOWN, false);
  Bind(SDLK_q, KEYSTATE_DOWN, [](CNativeState*) {});
  CArgumentArray arguments;
  arguments.AppendInteger(SDLK_q);
  ASSERT_TRUE(CallGlobal(scripting, u"unbindKey", resource, arguments));
  EXPECT_TRUE(results.Get(0)->ToBoolean());
  ASSERT_TRUE(CallGlobal(scripting, u"unbindKey", nullptr, arguments));
  EXPECT_FALSE(results.Get(0)->ToBoolean());
  EXPECT_EQ(table.GetCount(), 1u);  // the native bind stays
}

// The modifier mask as given, and the default-prevented flag: clear in each new event, set by
// preventDefault, seen by the next bind of the same dispatch.
TEST_F(KeyBindsTest, KeyEventModifiersAndPreventDefault) {
  std::vector<std::int64_t> seen;
  auto read = [&](CKeyEvent* event, const char16_t* member) {
    CArgumentArray out;
    EXPECT_TRUE(CallMember(event, member, nullptr, &out)) << text::Utf16ToUtf8(member);
    std::int64_t value = -1;
    if (out.Get(0) && out.Get(0)->IsBoolean())
      value = out.Get(0)->ToBoolean();
    else if (out.Get(0))
      out.Get(0)->ToNumber(&value);
    return value;
  };
  Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState* state) {
    auto* event = static_cast<CKeyEvent*>(state->GetArgument(0)->ToObject());
    seen.push_back(read(event, u"mod"));
    seen.push_back(read(event, u"isDefaultPrevented"));
    EXPECT_TRUE(CallMember(event, u"preventDefault", nullptr, nullptr));
  });
  Bind(SDLK_x, KEYSTATE_DOWN, [&](CNativeState* state) {
    seen.push_back(read(static_cast<CKeyEvent*>(state->GetArgument(0)->ToObject()), u"isDefaultPrevented"));
  });
  for (const std::uint16_t mod : {std::uint16_t(KMOD_NONE), std::uint16_t(KMOD_LSHIFT | KMOD_RCTRL),
                                  std::uint16_t(KMOD_CAPS | KMOD_NUM | KMOD_LALT)}) {
    SCOPED_TRACE(mod);
    seen.clear();
    SDL_Keysym key = Key(SDLK_x);
    key.mod = mod;
    EXPECT_TRUE(table.Dispatch(key, 0, true));
    EXPECT_EQ(seen, (std::vector<std::int64_t>{mod, 0, 1}));
  }
}

// unbindAllKeys takes every bind of the calling resource on every key, and nothing of anyone else's;
// without a calling resource it takes nothing.
TEST_F(KeyBindsTest, UnbindAllKeysTakesTheCallersBindsOnEveryKey) {
  table.AddKeyBind(new CScriptKeyBind(nullptr, Function([](CNativeState*) {})), SDLK_a, KEYSTATE_DOWN, false);
  for (SDL_Keycode key : {SDLK_a, SDLK_b, SDLK_c}) {
    Bind(key, KEYSTATE_DOWN, [](CNativeState*) {});
    Bind(key, KEYSTATE_UP, [](CNativeState*) {});
    Bind(
        key, KEYSTATE_BOTH, [](CNativeState*) {}, {}, other);
  }
  CArgumentArray none;
  ASSERT_TRUE(CallGlobal(scripting, u"unbindAllKeys", nullptr, none));
  EXPECT_EQ(table.GetCount(), 10u);
  ASSERT_TRUE(CallGlobal(scripting, u"unbindAllKeys", resource, none));
  EXPECT_EQ(results.GetCount(), 0u);  // no result
  EXPECT_EQ(table.GetCount(), 4u);
  int calls = 0;
  Bind(
      SDLK_d, KEYSTATE_DOWN, [&](CNativeState*) { ++calls; }, {}, other);
  EXPECT_TRUE(table.Dispatch(Key(SDLK_b), 0, true));  // other's bind on b is still there
  ASSERT_TRUE(CallGlobal(scripting, u"unbindAllKeys", other, none));
  EXPECT_EQ(table.GetCount(), 1u);  // the native bind stays
  EXPECT_FALSE(table.Dispatch(Key(SDLK_d), 0, true));
  EXPECT_EQ(calls, 0);
}

}  // namespace
