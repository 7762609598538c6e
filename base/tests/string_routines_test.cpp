// String routines: checked copies, UTF-8 conversion, the version query, string buffers and lists, UCS-2 units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <base/Stream.h>
#include <base/StringRoutines.h>
#include <base/TaskContext.h>
#include <platform/modules.h>
#include <platform/os.h>
#include <platform/testing/ScriptedDialogs.h>

namespace {

const std::string kCopyMessage = "An attempt was made to copy a string into a buffer too short to hold the string.";
const std::string kBufferMessage =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";

// Each refused copy leaves the buffer as it was and adds one error (none once the task has already failed).
TEST(CopyStringChecked, RefusedCopiesLeaveTheBufferUntouched) {
  struct Row {
    const char* name;
    std::u16string before;  // the buffer's content, unterminated when it fills the capacity
    std::uint32_t capacity;
    const char16_t* source;
    bool append, failedBefore;
  };
  for (const Row& r : {Row{"append too long", u"abc", 4, u"def", true, false},
                       Row{"copy too long", u"old", 5, u"12345", false, false},
                       Row{"append to unterminated", u"abcd", 4, u"", true, false},
                       Row{"task failed earlier", u"keep", 8, u"new", false, true}}) {
    SCOPED_TRACE(r.name);
    tTaskContext errors;
    if (r.failedBefore) errors.AddError("earlier");
    char16_t buffer[8] = {};
    std::copy(r.before.begin(), r.before.end(), buffer);
    EXPECT_FALSE(CopyStringChecked(&errors, buffer, r.capacity, r.source, r.append));
    EXPECT_EQ(std::u16string(buffer, r.before.size()), r.before);
    EXPECT_EQ(errors.GetErrorCount(), 1u);
    if (!r.failedBefore) {
      EXPECT_EQ(errors.GetErrors(), std::vector<std::string>{kCopyMessage});
    }
  }
}

TEST(CopyStringChecked, CopyAndAppendThatFitExactly) {
  tTaskContext errors;
  char16_t buffer[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 6, u"hello", false));
  EXPECT_EQ(std::u16string(buffer), u"hello");
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 3, u"a", false));
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 3, u"b", true));
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 6, u"", true));
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 6, nullptr, true));
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_EQ(errors.GetErrorCount(), 0u);
}

TEST(CopyStringChecked, InvalidCapacitiesAreRefused) {
  for (std::uint32_t capacity : {0u, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(capacity);
    tTaskContext errors;
    char16_t buffer[4] = u"xyz";
    EXPECT_FALSE(CopyStringChecked(&errors, buffer, capacity, u"", false));
    EXPECT_FALSE(CopyStringChecked(nullptr, buffer, capacity, u"", true));
    EXPECT_EQ(errors.GetErrors(), std::vector<std::string>{kCopyMessage});
    EXPECT_EQ(std::u16string(buffer), u"xyz");
  }
  tTaskContext errors;
  char16_t buffer[4] = u"xyz";
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 0x7FFFFFFFu, u"q", false));
  EXPECT_EQ(std::u16string(buffer), u"q");
}

TEST(CopyStringCheckedA, CopiesAndAppendsBytes) {
  char buffer[8] = "zz";
  EXPECT_TRUE(CopyStringCheckedA(buffer, 8, "abc", false));
  EXPECT_TRUE(CopyStringCheckedA(buffer, 8, "defg", true));
  EXPECT_STREQ(buffer, "abcdefg");
}

// Overflow of a byte string goes to the application context: fatal, exit code 1.
TEST(CopyStringCheckedADeathTest, OverflowIsFatal) {
  EXPECT_EXIT(
      {
        platform::testing::ScriptedDialogs dialogs;
        char buffer[4] = "abc";
        CopyStringCheckedA(buffer, 4, "d", true);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST(WideToUTF8, ConvertsWithTheTerminator) {
  char* empty = WideToUTF8(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  delete[] empty;

  const char16_t text[] = {u'A', 0x00E9, 0xD83D, 0xDE00, 0xD800, u'z', 0};
  char* utf8 = WideToUTF8(text);
  EXPECT_STREQ(utf8, "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDz");
  delete[] utf8;
}

// The version comes from RtlGetVersion when the system has it, and then its status decides: a structure of the
// wrong size is refused rather than answered by the older call.
TEST(GetWindowsVersion, RtlGetVersionsStatusDecides) {
  ASSERT_NE(GetModuleHandleW(u"ntdll.dll"), nullptr);
  OSVERSIONINFOW expected{};
  expected.dwOSVersionInfoSize = sizeof(expected);
  ASSERT_EQ(RtlGetVersion(&expected), STATUS_SUCCESS);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetWindowsVersion(&info));
  EXPECT_EQ(info.dwMajorVersion, expected.dwMajorVersion);
  EXPECT_EQ(info.dwMinorVersion, expected.dwMinorVersion);
  EXPECT_EQ(info.dwBuildNumber, expected.dwBuildNumber);
  EXPECT_EQ(info.dwPlatformId, expected.dwPlatformId);

  OSVERSIONINFOW unsized{};
  EXPECT_TRUE(GetWindowsVersion(&unsized));
  EXPECT_EQ(unsized.dwMajorVersion, info.dwMajorVersion);
  OSVERSIONINFOW tooSmall{};
  tooSmall.dwOSVersionInfoSize = 4;
  EXPECT_FALSE(GetWindowsVersion(&tooSmall));
  EXPECT_EQ(tooSmall.dwMajorVersion, 0u);
  EXPECT_FALSE(GetWindowsVersion(nullptr));
}

TEST(AppendToStringBuffer, StopsAtTheFirstCharacterThatDoesNotFit) {
  tTaskContext errors;
  char16_t storage[6];
  std::fill(std::begin(storage), std::end(storage), u'#');
  tStringBuffer buffer{storage, 5, 0};
  EXPECT_TRUE(AppendToStringBuffer(&buffer, &errors, u"ab"));
  EXPECT_TRUE(AppendToStringBuffer(&buffer, &errors, "c\xE9"));  // bytes widen one to one
  EXPECT_EQ(buffer.length, 4u);
  EXPECT_FALSE(AppendToStringBuffer(&buffer, &errors, u"xyz"));
  EXPECT_EQ(buffer.length, 5u);
  EXPECT_EQ(std::u16string(storage, 5), u"abc\u00e9x");
  EXPECT_EQ(storage[5], u'#');  // never terminated, never written past the capacity
  EXPECT_EQ(errors.GetErrors(), std::vector<std::string>{kBufferMessage});
  EXPECT_TRUE(AppendToStringBuffer(&buffer, &errors, ""));
  EXPECT_FALSE(AppendToStringBuffer(&buffer, &errors, "q"));
  EXPECT_EQ(errors.GetErrorCount(), 2u);
}

TEST(AppendToStringBuffer, ZeroCapacityTakesNothing) {
  tTaskContext errors;
  tStringBuffer buffer{nullptr, 0, 0};
  EXPECT_FALSE(AppendToStringBuffer(&buffer, &errors, u"a"));
  EXPECT_EQ(buffer.length, 0u);
  EXPECT_EQ(errors.GetErrorCount(), 1u);
}

TEST(StringList, AppendsCopiesInOrderAndFreesThem) {
  tTaskContext errors;
  tStringList list{nullptr, nullptr};
  char16_t source[] = u"first";
  EXPECT_TRUE(AppendStringCopy(&list, &errors, source));
  source[0] = u'F';  // the list holds its own copy
  EXPECT_TRUE(AppendStringCopy(&list, &errors, u"second"));
  EXPECT_TRUE(AppendStringCopy(&list, &errors, u""));
  std::vector<std::u16string> texts;
  for (tStringListNode* node = list.head; node != nullptr; node = node->next) texts.emplace_back(node->text);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"first", u"second", u""}));
  EXPECT_EQ(list.tail->next, nullptr);
  FreeStringList(&list);
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, nullptr);
  FreeStringList(&list);
}

TEST(StringList, FailedTaskReportsAndLeavesTheListAlone) {
  tTaskContext errors;
  tStringList list{nullptr, nullptr};
  ASSERT_TRUE(AppendStringCopy(&list, &errors, u"kept"));
  errors.AddError("earlier");
  EXPECT_FALSE(AppendStringCopy(&list, &errors, u"dropped"));
  EXPECT_EQ(errors.GetErrors(), (std::vector<std::string>{"earlier", kCopyMessage}));
  EXPECT_EQ(list.head, list.tail);
  EXPECT_EQ(std::u16string(list.head->text), u"kept");
  FreeStringList(&list);
}

TEST(UCS2Units, RoundTripInBothByteOrders) {
  unsigned char data[8] = {};
  CByteArrayStream* stream = new CByteArrayStream(data, 8);
  EXPECT_TRUE(WriteUCS2Unit(stream, 0x1234, false));
  EXPECT_TRUE(WriteUCS2Unit(stream, 0x1234, true));
  EXPECT_EQ(WriteBytesToStream(stream, "\xFF", 1), 1u);
  EXPECT_EQ(data[0], 0x34);
  EXPECT_EQ(data[1], 0x12);
  EXPECT_EQ(data[2], 0x12);
  EXPECT_EQ(data[3], 0x34);
  ASSERT_TRUE(stream->Rewind());
  char16_t unit = 0;
  EXPECT_TRUE(ReadUCS2Unit(stream, &unit, false));
  EXPECT_EQ(unit, 0x1234);
  EXPECT_TRUE(ReadUCS2Unit(stream, &unit, true));
  EXPECT_EQ(unit, 0x1234);
  ASSERT_TRUE(stream->TruncateAt(5, false));
  unit = 0x7777;
  EXPECT_FALSE(ReadUCS2Unit(stream, &unit, false));  // one byte left: no unit
  EXPECT_EQ(unit, 0x7777);
  ASSERT_TRUE(stream->Seek(7, CStream::kSeekBegin));
  EXPECT_FALSE(WriteUCS2Unit(stream, 0x4141, false));  // one byte of room: nothing written
  EXPECT_EQ(data[7], 0);
  stream->Release();
}

}  // namespace
