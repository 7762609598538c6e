// The regexp class and the matcher's C interface: every documented construct, priorities of
// alternatives and closures, captures, compile errors and hostile patterns.
#include <chrono>
#include <string>
#include <vector>

#include "stdlib_fixture.h"

namespace sqstdtest {
namespace {

using StdlibRegexp = StdLib;

struct SearchCase {
  const char* pattern;  // Squirrel verbatim string body
  const char* subject;  // Squirrel string literal body
  const char* expected;  // "begin,end" or "null"
};
std::ostream& operator<<(std::ostream& os, const SearchCase& c) { return os << c.pattern << " in " << c.subject; }

class StdlibRegexpSearch : public StdLib, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(StdlibRegexpSearch, FindsTheLeftmostMatchWithItsPriorities) {
  const SearchCase& c = GetParam();
  std::string code = std::string("local m = regexp(@\"") + c.pattern + "\").search(\"" + c.subject +
                     "\"); print(m ? m.begin + \",\" + m.end : \"null\");";
  EXPECT_EQ(Out(code), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Constructs, StdlibRegexpSearch,
    ::testing::Values(
        SearchCase{"[a-zA-Z]+", "123 Test;", "4,8"}, SearchCase{"abc", "xxabcx", "2,5"},
        SearchCase{"abd", "abcabd", "3,6"}, SearchCase{"x", "abc", "null"}, SearchCase{"", "abc", "0,0"},
        SearchCase{"^ab", "abab", "0,2"}, SearchCase{"^b", "ab", "null"}, SearchCase{"b$", "abab", "3,4"},
        SearchCase{"^$", "", "null"}, SearchCase{"a.c", "a\\nc", "0,3"}, SearchCase{"a|b|c", "zzc", "2,3"},
        SearchCase{"ab|abc", "abc", "0,2"}, SearchCase{"abc|ab", "abc", "0,3"},
        SearchCase{"a*", "aaab", "0,3"}, SearchCase{"a*", "baa", "0,0"}, SearchCase{"a+", "baa", "1,3"},
        SearchCase{"ba?", "baa", "0,2"}, SearchCase{"a{2}", "aaaa", "0,2"}, SearchCase{"a{2,}", "aaaa", "0,4"},
        SearchCase{"a{1,3}", "aaaa", "0,3"}, SearchCase{"a{0}b", "aab", "2,3"}, SearchCase{"x{2,3}", "xyxx", "2,4"},
        SearchCase{"(ab)+", "ababa", "0,4"}, SearchCase{"(?:ab)+c", "abababc", "0,7"},
        SearchCase{"a.*b", "a1b2b3", "0,5"}, SearchCase{"(a|ab)(c|bcd)", "abcd", "0,4"},
        SearchCase{"[^0-9]+", "12ab3", "2,4"}, SearchCase{"[a-c-]+", "x-ab-d", "1,5"},
        SearchCase{"\\d+", "ab123c", "2,5"}, SearchCase{"[\\d-z]+", "a1-zb", "1,4"},
        SearchCase{"\\D+", "12ab3", "2,4"}, SearchCase{"\\w+", "  _a1 ", "2,5"}, SearchCase{"\\W+", "ab, c", "2,4"},
        SearchCase{"\\s+", "a \\t\\nb", "1,4"}, SearchCase{"\\S+", "  ab ", "2,4"},
        SearchCase{"\\a+", "12Ab3", "2,4"}, SearchCase{"\\A+", "ab12c", "2,4"}, SearchCase{"\\x+", "zzBEEFg", "2,6"},
        SearchCase{"\\X+", "ff--0", "2,4"}, SearchCase{"\\c", "ab\\tc", "2,3"}, SearchCase{"\\C+", "\\tab\\t", "1,3"},
        SearchCase{"\\p+", "ab;:c", "2,4"}, SearchCase{"\\P+", ";ab;", "1,3"}, SearchCase{"\\l+", "ABcdE", "2,4"},
        SearchCase{"\\u+", "abCDe", "2,4"}, SearchCase{"\\bcat\\b", "concat cat", "7,10"},
        SearchCase{"\\Bcat", "cat concat", "7,10"}, SearchCase{"\\t", "a\\tb", "1,2"},
        SearchCase{"\\n\\r\\f", "x\\n\\r\\f", "1,4"}, SearchCase{"\\.\\*\\(\\\\", "a.*(\\\\", "1,5"},
        SearchCase{"[\\d_]+", "ab1_2c", "2,5"}, SearchCase{"[\\]]", "a]", "1,2"}, SearchCase{"[\\t]", "a\\t", "1,2"},
        SearchCase{"(a*)*b", "aaab", "0,4"}, SearchCase{"(a|x?)+b", "aab", "0,3"}, SearchCase{"\\u4e2d", "x", "null"},
        SearchCase{"\u4e2d+", "x\u4e2d\u4e2dy", "1,3"}, SearchCase{"[\u00e0-\u00ff]", "caf\u00e9", "3,4"}));

// \m followed by an opening and a closing character: the shortest balanced run from an opening one.
INSTANTIATE_TEST_SUITE_P(
    BalancedRuns, StdlibRegexpSearch,
    ::testing::Values(SearchCase{"\\m()", "x(a,(b),c)y", "1,10"}, SearchCase{"\\m()", "((a)", "1,4"},
                      SearchCase{"\\m()", ")(", "null"}, SearchCase{"\\m()", "(((", "null"},
                      SearchCase{"\\m()", "()()", "0,2"}, SearchCase{"\\m()+", "()(())x", "0,6"},
                      SearchCase{"\\m()*x", "(a)(b)x", "0,7"}, SearchCase{"\\m()*x", "(a(b)x", "2,6"},
                      SearchCase{"a\\m()|a\\m[]", "a[1]a(2)", "0,4"}, SearchCase{"(\\m())", "z(1)", "1,4"},
                      SearchCase{"\\m''", "it 'is' so", "3,7"}, SearchCase{"\\m()b", "(a)c(d)b", "4,8"},
                      SearchCase{"(x|\\m())\\m()", "x()(a)()", "0,3"}, SearchCase{"\\m{}$", "{}{a}", "2,5"},
                      SearchCase{"\\m\\t", "x\\ty\\t", "null"}, SearchCase{"\\m\\t", "a\\\\bt", "1,4"}));

TEST_F(StdlibRegexp, InvalidPatternsAreCompileErrors) {
  const char* patterns[] = {"(ab", "ab)", "[ab", "[]", "[z-a]", "a{", "a{2", "a{3,1}", "a{x}", "\\",
                            "^*", "a{99999}", "(?:"};
  for (const char* p : patterns) {
    std::string code = std::string("try { regexp(@\"") + p + "\"); print(\"compiled\"); } catch (e) { print(typeof e); }";
    EXPECT_EQ(Out(code), "string") << p;
  }
}

TEST_F(StdlibRegexp, ClassPatternWithClosingBracketFirstIsRejected) {
  EXPECT_EQ(Err("regexp(@\"[]a]\");"), "empty character class");
}

TEST_F(StdlibRegexp, SearchFromAStartIndex) {
  EXPECT_EQ(Out(R"~(local r = regexp(@"\d+"); local m = r.search("1 22 333", 2); print(m.begin + "," + m.end);
                   print(" " + (r.search("1 22", 4) == null)); print(" " + regexp("^2").search("1 22", 2).begin);)~"),
            "2,4 true 2");
  EXPECT_EQ(Out(R"~(print((regexp("a").search("abc", 4) == null) + " " + (regexp("c").capture("abc", 9) == null));)~"),
            "true true");
  EXPECT_EQ(Err("regexp(\"a\").capture(\"abc\", -1);"), "invalid starting position");
}

TEST_F(StdlibRegexp, MatchNeedsTheWholeString) {
  EXPECT_EQ(Out(R"~(local r = regexp(@"\d+(\.\d+)?");
                   foreach (s in ["12", "12.5", "12.", "a12", "12a", ""]) print(r.match(s) + " ");)~"),
            "true true false false false false ");
  EXPECT_EQ(Out(R"~(print(regexp("a|ab").match("ab") + " " + regexp("(a|ab)(c|bcd)").match("abcd"));)~"), "true true");
}

TEST_F(StdlibRegexp, CaptureReportsEverySubexpression) {
  EXPECT_EQ(Out(R"~(
    local ex = regexp(@"(\d+) ([a-zA-Z]+)(\p)");
    local string = "stuff 123 Test;";
    local res = ex.capture(string);
    foreach (i, val in res) print(format("match number[%02d] %s\n", i, string.slice(val.begin, val.end)));
    print(ex.subexpcount());)~"),
            "match number[00] 123 Test;\nmatch number[01] 123\nmatch number[02] Test\nmatch number[03] ;\n4");
  EXPECT_EQ(Out(R"~(local c = regexp(@"(a)|(b)").capture("xb");
                   foreach (r in c) print(r.begin + ":" + r.end + " ");)~"),
            "1:2 0:0 1:2 ");
  EXPECT_EQ(Out(R"~(local c = regexp(@"(\w)+").capture("abc"); print(c[1].begin + ":" + c[1].end);)~"), "0:1");
  EXPECT_EQ(Out(R"~(print(regexp("z").capture("abc") == null);)~"), "true");
  EXPECT_EQ(Out(R"~(print(typeof regexp("a") + " " + regexp("(a)(?:b)(c)").subexpcount());)~"), "regexp 3");
}

TEST_F(StdlibRegexp, NullCharactersInSubjectsAreOrdinaryCharacters) {
  EXPECT_EQ(Out(R"~(local s = "a\x0000b"; local m = regexp("b").search(s); print(m.begin + " " + regexp("a.b").match(s));)~"),
            "2 true");
  EXPECT_EQ(Err(R"~(regexp("a\x0000b");)~"), "the pattern contains a null character");
}

TEST_F(StdlibRegexp, HostilePatternsFailCleanly) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "(?:";
  deep += "a";
  deep += std::string(5000, ')');
  EXPECT_EQ(Err("regexp(\"" + deep + "\");"), "expression nested too deeply");
  EXPECT_EQ(Err("regexp(\"" + std::string(3000, 'a').append(std::string(300, '*')) + "\");"),
            "expression nested too deeply");
  EXPECT_EQ(Err(R"~(regexp("(a{1000}){1000}");)~"), "expression too complex");
  EXPECT_EQ(Err(R"~(regexp("a{65535}{65535}");)~"), "expression too complex");
  std::string groups;
  for (int i = 0; i < 200; ++i) groups += "(a)";
  EXPECT_EQ(Err("regexp(\"" + groups + "\");"), "too many capturing groups");
}

TEST_F(StdlibRegexp, BacktrackingBlowUpsStayLinear) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Out(R"~(local s = ""; for (local i = 0; i < 14; ++i) s += s.len() ? s : "a";
                   print(s.len() + " " + (regexp("(a*)*b").search(s) == null) + " " + regexp("(a|aa)+$").match(s) + " ");
                   print(regexp("(x+x+)+y").match("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"));)~"),
            "8192 true true false");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(StdlibRegexp, LongSubjectsNeedNoStack) {
  EXPECT_EQ(Out(R"~(local s = "x"; while (s.len() < 500000) s += s;
                   local m = regexp(".*").search(s); print(m.end + " " + regexp("(.)*").match(s));)~"),
            "524288 true");
}

TEST_F(StdlibRegexp, MethodsCheckTheirInstance) {
  EXPECT_EQ(Err("regexp.search.call({}, \"a\");"), "parameter 0 has an invalid type 'table' ; expected: 'instance'");
  EXPECT_EQ(Err("class R extends regexp { constructor() {} } R().search(\"a\");"), "invalid regexp");
}

// ---- the C interface ----------------------------------------------------------------------------

TEST(StdlibRexApi, CompileSearchAndSubexpressions) {
  const SQChar* error = u"untouched";
  SQRex* rex = sqstd_rex_compile(u"(\\d+)-(\\d+)?x", &error);
  ASSERT_NE(rex, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(sqstd_rex_getsubexpcount(rex), 3);
  const SQChar* text = u"ab 12-x 3-4x";
  const SQChar* b = nullptr;
  const SQChar* e = nullptr;
  ASSERT_TRUE(sqstd_rex_search(rex, text, &b, &e));
  EXPECT_EQ(b - text, 3);
  EXPECT_EQ(e - text, 7);
  SQRexMatch m;
  ASSERT_TRUE(sqstd_rex_getsubexp(rex, 1, &m));
  EXPECT_EQ(std::u16string(m.begin, size_t(m.len)), u"12");
  ASSERT_TRUE(sqstd_rex_getsubexp(rex, 2, &m));
  EXPECT_EQ(m.begin, nullptr);
  EXPECT_EQ(m.len, 0);
  EXPECT_FALSE(sqstd_rex_getsubexp(rex, 3, &m));
  EXPECT_FALSE(sqstd_rex_getsubexp(rex, -1, &m));

  ASSERT_TRUE(sqstd_rex_searchrange(rex, text + 7, text + 12, &b, &e));
  EXPECT_EQ(b - text, 8);
  EXPECT_FALSE(sqstd_rex_searchrange(rex, text + 7, text + 11, &b, &e));

  EXPECT_TRUE(sqstd_rex_match(rex, u"1-2x"));
  EXPECT_FALSE(sqstd_rex_match(rex, u"1-2xx"));
  EXPECT_FALSE(sqstd_rex_match(rex, nullptr));
  EXPECT_FALSE(sqstd_rex_search(rex, nullptr, &b, &e));
  sqstd_rex_free(rex);
}

// A balanced run keeps its state beside the captures: the count of sub-expressions does not show it, and many
// runs alive at once (one from every opening character) stay apart.
TEST(StdlibRexApi, BalancedRunsKeepTheirCapturesAndCount) {
  using Offsets = std::vector<long long>;
  const struct {
    const char16_t* pattern;
    SQInteger count;
    const char16_t* text;
    int begin, end, firstBegin, firstEnd;
  } cases[] = {
      {u"\\m()", 1, u"ab(c(d))e", 2, 8, 2, 8},
      {u"(\\m())(\\w+)", 3, u"-(x(y))tail-", 1, 11, 1, 7},
      {u"(\\m[])+!", 2, u"[a][[b]]!", 0, 9, 0, 3},
      {u"(.)\\m()", 2, u"((((((a)", 4, 8, 4, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.pattern));
    const SQChar* error = u"untouched";
    SQRex* rex = sqstd_rex_compile(c.pattern, &error);
    ASSERT_NE(rex, nullptr);
    EXPECT_EQ(sqstd_rex_getsubexpcount(rex), c.count);
    const SQChar* b = nullptr;
    const SQChar* e = nullptr;
    ASSERT_TRUE(sqstd_rex_search(rex, c.text, &b, &e));
    EXPECT_EQ((Offsets{b - c.text, e - c.text}), (Offsets{c.begin, c.end}));
    SQRexMatch m;
    ASSERT_TRUE(sqstd_rex_getsubexp(rex, c.count > 1 ? 1 : 0, &m));
    EXPECT_EQ((Offsets{m.begin - c.text, m.len}), (Offsets{c.firstBegin, c.firstEnd - c.firstBegin}));
    EXPECT_FALSE(sqstd_rex_getsubexp(rex, c.count, &m));
    sqstd_rex_free(rex);
  }
  for (const char16_t* broken : {u"\\m", u"\\m(", u"a\\m)"}) {
    const SQChar* error = nullptr;
    EXPECT_EQ(sqstd_rex_compile(broken, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(std::u16string(error), u"balanced chars expected");
  }
  // Thousands of runs open at once, one from each opening character, of which only the outermost closes.
  std::u16string deep(3000, u'(');
  deep += u"x" + std::u16string(1500, u')');
  SQRex* rex = sqstd_rex_compile(u"\\m()", nullptr);
  ASSERT_NE(rex, nullptr);
  const SQChar* b = nullptr;
  const SQChar* e = nullptr;
  ASSERT_TRUE(sqstd_rex_search(rex, deep.c_str(), &b, &e));
  EXPECT_EQ((Offsets{b - deep.c_str(), e - deep.c_str()}), (Offsets{1500, 4501}));
  sqstd_rex_free(rex);
}

TEST(StdlibRexApi, CompileErrorsGiveADescription) {
  const SQChar* error = nullptr;
  EXPECT_EQ(sqstd_rex_compile(u"(a", &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(std::u16string(error), u"expected paren");
  EXPECT_EQ(sqstd_rex_compile(nullptr, &error), nullptr);
  EXPECT_EQ(sqstd_rex_compile(u"[", nullptr), nullptr);
  sqstd_rex_free(nullptr);
  EXPECT_EQ(sqstd_rex_getsubexpcount(nullptr), 0);
}

}  // namespace
}  // namespace sqstdtest
