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

using Strings = std::vector<std::string>;

const std::string kCopyMessage = "An attempt was made to copy a string into a buffer too short to hold the string.";
const std::string kBufferMessage =
    "An attempt was made to add a character to a string buffer too short to hold any more characters.";

// Each refused copy leaves the buffer as it was and adds one error (none once the task has already failed).
TEST(CopyStringChecked, RefusedCopiesLeaveTheBufferUntouched) {
  const struct {
    const char* name;
    std::u16string before;  // the buffer's content, unterminated when it fills the capacity
    std::uint32_t capacity;
    const char16_t* source;
    bool append, failedBefore;
  } rows[] = {{"append too long", u"abc", 4, u"def", true, false},
              {"copy too long", u"old", 5, u"12345", false, false},
              {"append to unterminated", u"abcd", 4, u"", true, false},
              {"task failed earlier", u"keep", 8, u"new", false, true},
              {"no capacity", u"xyz", 0, u"", false, false},
              {"capacity of 2^31", u"xyz", 0x80000000u, u"", true, false},
              {"capacity of 2^32 - 1", u"xyz", 0xFFFFFFFFu, u"", false, false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    tTaskContext errors;
    if (r.failedBefore) errors.AddError("earlier");
    char16_t buffer[8] = {};
    std::copy(r.before.begin(), r.before.end(), buffer);
    EXPECT_FALSE(!r.failedBefore && CopyStringChecked(nullptr, buffer, r.capacity, r.source, r.append))
        << "without a task too";
    EXPECT_FALSE(CopyStringChecked(&errors, buffer, r.capacity, r.source, r.append));
    EXPECT_EQ(std::u16string(buffer, r.before.size()), r.before);
    EXPECT_EQ(errors.GetErrors(), r.failedBefore ? Strings{"earlier"} : Strings{kCopyMessage});
  }
}

TEST(CopyStringChecked, CopiesAndAppendsThatFitExactly) {
  tTaskContext errors;
  char16_t buffer[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 6, u"hello", false) && std::u16string(buffer) == u"hello");
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 3, u"a", false) && CopyStringChecked(&errors, buffer, 3, u"b", true) &&
              CopyStringChecked(&errors, buffer, 6, u"", true) && CopyStringChecked(&errors, buffer, 6, nullptr, true));
  EXPECT_EQ(std::u16string(buffer), u"ab");
  EXPECT_TRUE(CopyStringChecked(&errors, buffer, 0x7FFFFFFFu, u"q", false) && std::u16string(buffer) == u"q" &&
              errors.GetErrorCount() == 0)
      << "the largest capacity";

  char bytes[8] = "zz";
  EXPECT_TRUE(CopyStringCheckedA(bytes, 8, "abc", false) && CopyStringCheckedA(bytes, 8, "defg", true));
  EXPECT_STREQ(bytes, "abcdefg");
}

// Overflow of a byte string goes to the application context: fatal, exit code 1.
TEST(CopyStringCheckedADeathTest, OverflowIsFatal) {
  platform::testing::ScriptedDialogs dialogs;
  char buffer[4] = "abc";
  EXPECT_EXIT(CopyStringCheckedA(buffer, 4, "d", true), ::testing::ExitedWithCode(1), "");
}

TEST(WideToUTF8, ConvertsWithTheTerminatorAndReplacesLoneSurrogates) {
  for (const auto& [wide, utf8] : {std::pair<std::u16string, std::string>{u"", ""},
                                   {u"A\u00E9\U0001F600\xD800z", "A\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDz"}}) {
    char* converted = WideToUTF8(wide.c_str());
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(std::string(converted), utf8);
    delete[] converted;
  }
}

// The version comes from RtlGetVersion when the system has it, and then its status decides: a structure of the
// wrong size is refused rather than answered by the older call.
TEST(GetWindowsVersion, RtlGetVersionsStatusDecides) {
  ASSERT_NE(GetModuleHandleW(u"ntdll.dll"), nullptr);
  OSVERSIONINFOW expected{}, info{}, unsized{}, tooSmall{};
  expected.dwOSVersionInfoSize = info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_EQ(RtlGetVersion(&expected), STATUS_SUCCESS);
  ASSERT_TRUE(GetWindowsVersion(&info));
  EXPECT_EQ(
      std::tuple(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.dwPlatformId),
      std::tuple(expected.dwMajorVersion, expected.dwMinorVersion, expected.dwBuildNumber, expected.dwPlatformId));
  tooSmall.dwOSVersionInfoSize = 4;
  EXPECT_EQ((std::tuple{GetWindowsVersion(&unsized), unsized.dwMajorVersion, GetWindowsVersion(&tooSmall),
                        tooSmall.dwMajorVersion, GetWindowsVersion(nullptr)}),
            (std::tuple{true, info.dwMajorVersion, false, 0u, false}));
}

TEST(AppendToStringBuffer, StopsAtTheFirstCharacterThatDoesNotFit) {
  tTaskContext errors;
  char16_t storage[6];
  std::fill(std::begin(storage), std::end(storage), u'#');
  tStringBuffer buffer{storage, 5, 0};
  // Bytes widen one to one.
  EXPECT_EQ((std::tuple{AppendToStringBuffer(&buffer, &errors, u"ab"), AppendToStringBuffer(&buffer, &errors, "c\xE9"),
                        AppendToStringBuffer(&buffer, &errors, u"xyz"), buffer.length}),
            (std::tuple{true, true, false, 5u}));
  EXPECT_EQ(std::u16string(storage, 6), u"abc\u00e9x#") << "never terminated, never written past the capacity";
  EXPECT_TRUE(AppendToStringBuffer(&buffer, &errors, "") && !AppendToStringBuffer(&buffer, &errors, "q"));
  tStringBuffer empty{nullptr, 0, 0};
  EXPECT_FALSE(AppendToStringBuffer(&empty, &errors, u"a") || empty.length != 0);
  EXPECT_EQ(errors.GetErrors(), Strings(3, kBufferMessage));
}

TEST(StringList, AppendsCopiesInOrderAndFreesThem) {
  tTaskContext errors;
  tStringList list{nullptr, nullptr};
  char16_t source[] = u"first";
  EXPECT_TRUE(AppendStringCopy(&list, &errors, source));
  source[0] = u'F';  // the list holds its own copy
  EXPECT_TRUE(AppendStringCopy(&list, &errors, u"second") && AppendStringCopy(&list, &errors, u""));
  // A failed task reports and leaves the list alone.
  errors.AddError("earlier");
  EXPECT_FALSE(AppendStringCopy(&list, &errors, u"dropped"));
  EXPECT_EQ(errors.GetErrors(), (Strings{"earlier", kCopyMessage}));
  std::vector<std::u16string> texts;
  for (tStringListNode* node = list.head; node != nullptr; node = node->next) texts.emplace_back(node->text);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"first", u"second", u""}));
  EXPECT_EQ((std::tuple{list.tail->next, std::u16string(list.tail->text)}), (std::tuple{nullptr, u""}));
  FreeStringList(&list);
  EXPECT_EQ((std::tuple{list.head, list.tail}), (std::tuple{nullptr, nullptr}));
  FreeStringList(&list);
}

TEST(UCS2Units, RoundTripInBothByteOrdersAndWholeUnitsOnly) {
  unsigned char data[8] = {};
  CByteArrayStream* stream = new CByteArrayStream(data, 8);
  EXPECT_TRUE(WriteUCS2Unit(stream, 0x1234, false) && WriteUCS2Unit(stream, 0x1234, true));
  EXPECT_EQ(WriteBytesToStream(stream, "\xFF", 1), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5), "\x34\x12\x12\x34\xFF");
  ASSERT_TRUE(stream->Rewind());
  char16_t units[2] = {};
  EXPECT_TRUE(ReadUCS2Unit(stream, &units[0], false) && ReadUCS2Unit(stream, &units[1], true));
  EXPECT_EQ(std::u16string(units, 2), u"\x1234\x1234");
  ASSERT_TRUE(stream->TruncateAt(5, false));
  EXPECT_EQ((std::tuple{ReadUCS2Unit(stream, &units[0], false), units[0]}), (std::tuple{false, 0x1234}))
      << "one byte left: no unit";
  ASSERT_TRUE(stream->Seek(7, CStream::kSeekBegin));
  EXPECT_EQ((std::tuple{WriteUCS2Unit(stream, 0x4141, false), data[7]}), (std::tuple{false, 0}))
      << "one byte of room: nothing written";
  stream->Release();
}

}  // namespace
