// Console control events from host signals, and the balance of activation-context cookies.
#include <gtest/gtest.h>

#include <signal.h>

#include <platform/actctx.h>
#include <platform/console.h>
#include <platform/errors.h>
#include <platform/sync.h>

namespace {

HANDLE g_seen = nullptr;
DWORD g_type = 0xFFFF, g_thread = 0;

BOOL Record(DWORD type) {
  g_type = type;
  g_thread = GetCurrentThreadId();
  SetEvent(g_seen);
  return TRUE;
}
BOOL Decline(DWORD) { return FALSE; }

TEST(Console, SignalsBecomeControlEventsOnAThreadOfTheirOwn) {
  g_seen = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(SetConsoleCtrlHandler(Record, TRUE));
  ASSERT_TRUE(SetConsoleCtrlHandler(Decline, TRUE));  // newest first: it declines, Record takes the event
  const std::pair<int, DWORD> cases[] = {{SIGINT, CTRL_C_EVENT}, {SIGHUP, CTRL_CLOSE_EVENT}};
  for (const auto& [signal, type] : cases) {
    SCOPED_TRACE(signal);
    ::raise(signal);
    ASSERT_EQ(WaitForSingleObject(g_seen, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(g_type, type);
    EXPECT_NE(g_thread, GetCurrentThreadId());
  }
  EXPECT_TRUE(SetConsoleCtrlHandler(Decline, FALSE));
  EXPECT_FALSE(SetConsoleCtrlHandler(Decline, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(AttachConsole(ATTACH_PARENT_PROCESS));  // not started by a launcher of this system
  CloseHandle(g_seen);
}

TEST(ActivationContext, CookiesAreDeactivatedNewestFirst) {
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_HMODULE_VALID;
  EXPECT_EQ(CreateActCtxW(&request), INVALID_HANDLE_VALUE);  // no module
  request.hModule = reinterpret_cast<HMODULE>(&request);
  HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE);
  ULONG_PTR outer = 0, inner = 0;
  ASSERT_TRUE(ActivateActCtx(context, &outer));
  ASSERT_TRUE(ActivateActCtx(context, &inner));
  EXPECT_NE(outer, inner);
  EXPECT_FALSE(DeactivateActCtx(0, outer));
  EXPECT_EQ(GetLastError(), ERROR_SXS_INVALID_DEACTIVATION);
  EXPECT_TRUE(DeactivateActCtx(0, inner));
  EXPECT_TRUE(DeactivateActCtx(0, outer));
  EXPECT_FALSE(DeactivateActCtx(0, outer));
  ReleaseActCtx(context);
}

}  // namespace
