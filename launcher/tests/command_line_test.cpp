// The game's command line: quoting, the blank only before arguments, and the limit.
#include <gtest/gtest.h>

#include <base/TaskContext.h>
#include <launcher/CommandLine.h>

namespace {

struct Line {
  const char* what;
  std::u16string path, arguments, expected;  // expected empty: refused
};

TEST(GameCommandLine, QuotesThePathAndAddsArgumentsWithinTheLimit) {
  const std::u16string longest(kMaxCommandLine - 3, u'p');  // the quotes and the terminator fill the rest
  const Line cases[] = {
      {"no arguments", u"C:\\Games\\quorvant.exe", u"", u"\"C:\\Games\\quorvant.exe\""},
      {"arguments", u"q.exe", u"-level 2", u"\"q.exe\" -level 2"},
      {"path at the limit", longest, u"", u"\"" + longest + u"\""},
      {"path one over", longest + u"p", u"", u""},
      {"arguments over", longest, u"x", u""},
  };
  for (const Line& c : cases) {
    SCOPED_TRACE(c.what);
    tTaskContext errors;
    std::u16string line;
    EXPECT_EQ(BuildGameCommandLine(&errors, c.path, c.arguments, &line), !c.expected.empty());
    EXPECT_EQ(errors.GetErrorCount(), c.expected.empty() ? 1u : 0u);
    if (!c.expected.empty()) {
      EXPECT_EQ(line, c.expected);
    }
  }
}

}  // namespace
