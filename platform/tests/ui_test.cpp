// Movable global memory, the in-process clipboard's Win32 rules, and the screen device context.
#include <platform/ui.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

TEST(GlobalMemory, LockCountsAndSizes) {
  HGLOBAL memory = GlobalAlloc(GHND, 10);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(GlobalSize(memory), 10u);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(memory));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(bytes[i], 0) << i;  // zero-initialised
  EXPECT_EQ(GlobalLock(memory), bytes);
  EXPECT_TRUE(GlobalUnlock(memory));    // still locked once
  EXPECT_FALSE(GlobalUnlock(memory));   // now unlocked
  EXPECT_FALSE(GlobalUnlock(memory));   // nothing to unlock
  EXPECT_EQ(GlobalFree(memory), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GlobalSize(nullptr), 0u);
}

TEST(GlobalMemory, ZeroBytesAndHugeRequests) {
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  GlobalFree(empty);
  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_MAX), nullptr);
}

HGLOBAL TextBlock(const std::u16string& text) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(char16_t));
  auto* out = static_cast<char16_t*>(GlobalLock(memory));
  std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  GlobalUnlock(memory);
  return memory;
}

TEST(Clipboard, DataCallsNeedTheClipboardOpen) {
  HGLOBAL memory = TextBlock(u"closed");
  EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, memory), nullptr);
  EXPECT_EQ(GetClipboardData(CF_UNICODETEXT), nullptr);
  EXPECT_FALSE(EmptyClipboard());
  EXPECT_FALSE(CloseClipboard());
  GlobalFree(memory);
}

TEST(Clipboard, HoldsUnicodeTextOnly) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  HGLOBAL memory = TextBlock(u"held");
  EXPECT_EQ(SetClipboardData(CF_TEXT, memory), nullptr);  // refused: the caller keeps the block
  EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, memory), memory);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GlobalLock(data))), u"held");
  GlobalUnlock(data);
  // Replacing the text frees the block the clipboard held.
  EXPECT_NE(SetClipboardData(CF_UNICODETEXT, TextBlock(u"next")), nullptr);
  EXPECT_TRUE(CloseClipboard());
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)))), u"next");
  GlobalUnlock(GetClipboardData(CF_UNICODETEXT));
  EXPECT_TRUE(EmptyClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  EXPECT_TRUE(CloseClipboard());
}

TEST(Clipboard, OneThreadAtATime) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(OpenClipboard(nullptr));  // the owner may open again
  BOOL otherOpened = TRUE;
  BOOL otherClosed = TRUE;
  std::thread other([&] {
    otherOpened = OpenClipboard(nullptr);
    otherClosed = CloseClipboard();
  });
  other.join();
  EXPECT_FALSE(otherOpened);
  EXPECT_FALSE(otherClosed);
  EXPECT_TRUE(CloseClipboard());
  std::thread after([&] {
    otherOpened = OpenClipboard(nullptr);
    otherClosed = CloseClipboard();
  });
  after.join();
  EXPECT_TRUE(otherOpened);
  EXPECT_TRUE(otherClosed);
}

TEST(ScreenDC, AnswersNinetySixDpiWithoutVideo) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(screen, 12345), 0);
  EXPECT_EQ(GetDeviceCaps(nullptr, LOGPIXELSX), 0);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, nullptr), 0);
}

TEST(KeyState, AllUpWithoutVideo) {
  for (int key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL, VK_NUMLOCK, VK_SCROLL, VK_LWIN, 0x41})
    EXPECT_EQ(GetKeyState(key), 0) << key;
}

}  // namespace
