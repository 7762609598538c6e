// Tokenizer: literal forms, escapes, comments, positions and lexical errors.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "lexer.h"

namespace {

using sq::Lexer;

std::vector<int32_t> Tokens(const std::u16string& src) {
    Lexer lex(src);
    std::vector<int32_t> out;
    while (lex.Next() != sq::TK_EOF) out.push_back(lex.token());
    return out;
}

int32_t IntOf(const std::u16string& src) {
    Lexer lex(src);
    EXPECT_EQ(lex.Next(), sq::TK_INTEGER) << "source: " << std::string(src.begin(), src.end());
    return lex.intValue();
}

std::u16string StringOf(const std::u16string& src) {
    Lexer lex(src);
    EXPECT_EQ(lex.Next(), sq::TK_STRING_LITERAL);
    return lex.text();
}

std::u16string ErrorOf(const std::u16string& src) {
    Lexer lex(src);
    try {
        while (lex.Next() != sq::TK_EOF) {
        }
    } catch (const sq::LexError& e) {
        return e.text;
    }
    return u"(no error)";
}

struct IntCase {
    const char16_t* src;
    int32_t value;
};

class LexerIntegers : public ::testing::TestWithParam<IntCase> {};

TEST_P(LexerIntegers, ValueWrapsToThirtyTwoBits) { EXPECT_EQ(IntOf(GetParam().src), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Literals, LexerIntegers,
                         ::testing::Values(IntCase{u"0", 0}, IntCase{u"34", 34}, IntCase{u"2147483647", 2147483647},
                                           IntCase{u"2147483648", int32_t(0x80000000u)},
                                           IntCase{u"4294967296", 0}, IntCase{u"0xFFFFFFFF", -1},
                                           IntCase{u"0xff00A120", int32_t(0xFF00A120u)},
                                           IntCase{u"0753", 0753},
                                           IntCase{u"017", 15}, IntCase{u"00", 0}, IntCase{u"'a'", 97},
                                           IntCase{u"'\\n'", 10}, IntCase{u"'\\x41'", 65},
                                           IntCase{u"'\\''", 39}, IntCase{u"'\\0'", 0}));

TEST(Lexer, FloatForms) {
    struct {
        const char16_t* src;
        float value;
    } cases[] = {{u"1.52", 1.52f}, {u"1.e2", 100.0f}, {u"1.e-2", 0.01f}, {u"3.0", 3.0f}, {u"2e3", 2000.0f},
                 {u"0.1", 0.1f}};
    for (const auto& c : cases) {
        Lexer lex(c.src);
        ASSERT_EQ(lex.Next(), sq::TK_FLOAT);
        EXPECT_EQ(std::bit_cast<uint32_t>(lex.floatValue()), std::bit_cast<uint32_t>(c.value));
    }
}

TEST(Lexer, IntegerFollowedByMemberAccessStaysInteger) {
    EXPECT_EQ(Tokens(u"5.tostring()"), (std::vector<int32_t>{sq::TK_INTEGER, '.', sq::TK_IDENTIFIER, '(', ')'}));
    EXPECT_EQ(Tokens(u"1.5.tostring"), (std::vector<int32_t>{sq::TK_FLOAT, '.', sq::TK_IDENTIFIER}));
}

TEST(Lexer, StringEscapes) {
    EXPECT_EQ(StringOf(u"\"a\\tb\\nc\""), u"a\tb\nc");
    EXPECT_EQ(StringOf(u"\"\\\"q\\\\\""), u"\"q\\");
    // \x takes up to four hex digits: one UTF-16 unit
    EXPECT_EQ(StringOf(u"\"\\x41\\x0042x\""), u"ABx");
    EXPECT_EQ(StringOf(u"\"\\x263A\""), std::u16string(1, char16_t(0x263A)));
    EXPECT_EQ(StringOf(u"\"\\x263A1\""), std::u16string(1, char16_t(0x263A)) + u"1");
    EXPECT_EQ(StringOf(u"\"\\u00e9\""), std::u16string(1, char16_t(0xE9)));
    // \U beyond the basic plane becomes a surrogate pair
    EXPECT_EQ(StringOf(u"\"\\U1F600\""), (std::u16string{char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(StringOf(u"\"\\0\"").size(), 1u);
}

TEST(Lexer, VerbatimStrings) {
    EXPECT_EQ(StringOf(u"@\"no \\n escape\""), u"no \\n escape");
    EXPECT_EQ(StringOf(u"@\"say \"\"hi\"\"\""), u"say \"hi\"");
    Lexer lex(u"@\"two\nlines\" x");
    ASSERT_EQ(lex.Next(), sq::TK_STRING_LITERAL);
    EXPECT_EQ(lex.text(), u"two\nlines");
    ASSERT_EQ(lex.Next(), sq::TK_IDENTIFIER);
    EXPECT_EQ(lex.line(), 2);
}

TEST(Lexer, CommentsAndNewlineFlag) {
    Lexer lex(u"a // c1\n# c2\nb /* multi\nline */ c /* same */ d");
    ASSERT_EQ(lex.Next(), sq::TK_IDENTIFIER);
    EXPECT_FALSE(lex.newlineBefore());
    ASSERT_EQ(lex.Next(), sq::TK_IDENTIFIER);
    EXPECT_EQ(lex.text(), u"b");
    EXPECT_TRUE(lex.newlineBefore());
    EXPECT_EQ(lex.line(), 3);
    ASSERT_EQ(lex.Next(), sq::TK_IDENTIFIER);
    EXPECT_EQ(lex.text(), u"c");
    EXPECT_TRUE(lex.newlineBefore());  // the block comment spanned a line break
    ASSERT_EQ(lex.Next(), sq::TK_IDENTIFIER);
    EXPECT_FALSE(lex.newlineBefore());
    EXPECT_EQ(lex.line(), 4);
    EXPECT_EQ(lex.column(), 22);
}

TEST(Lexer, OperatorsAndKeywords) {
    EXPECT_EQ(Tokens(u"<=> <= < <- << >>> >> >= == != && || ++ -- += -= *= /= %= :: ... </ />"),
              (std::vector<int32_t>{sq::TK_CMP3, sq::TK_LE, '<', sq::TK_NEWSLOT, sq::TK_SHL, sq::TK_USHR,
                                    sq::TK_SHR, sq::TK_GE, sq::TK_EQ, sq::TK_NE, sq::TK_AND, sq::TK_OR,
                                    sq::TK_PLUSPLUS, sq::TK_MINUSMINUS, sq::TK_PLUSEQ, sq::TK_MINUSEQ,
                                    sq::TK_MULEQ, sq::TK_DIVEQ, sq::TK_MODEQ, sq::TK_DOUBLECOLON,
                                    sq::TK_VARPARAMS, sq::TK_ATTR_OPEN, sq::TK_ATTR_CLOSE}));
    EXPECT_EQ(Tokens(u"local function foreach instanceof __LINE__ rawcall localx"),
              (std::vector<int32_t>{sq::TK_LOCAL, sq::TK_FUNCTION, sq::TK_FOREACH, sq::TK_INSTANCEOF, sq::TK_LINE,
                                    sq::TK_RAWCALL, sq::TK_IDENTIFIER}));
}

TEST(Lexer, Errors) {
    EXPECT_EQ(ErrorOf(u"\"abc"), u"unfinished string");
    EXPECT_EQ(ErrorOf(u"\"ab\ncd\""), u"newline in a constant");
    EXPECT_EQ(ErrorOf(u"\"\\q\""), u"unrecognised escaper char");
    EXPECT_EQ(ErrorOf(u"\"\\xg\""), u"hexadecimal number expected");
    EXPECT_EQ(ErrorOf(u"''"), u"empty constant");
    EXPECT_EQ(ErrorOf(u"'ab'"), u"constant too long");
    EXPECT_EQ(ErrorOf(u"/* open"), u"missing \"*/\" in comment");
    EXPECT_EQ(ErrorOf(u"089"), u"invalid octal number");
    EXPECT_EQ(ErrorOf(u"0x"), u"expected hex digits after '0x'");
    EXPECT_EQ(ErrorOf(u"0x1FFFFFFFF"), u"too many digits for an Hex number");
    EXPECT_EQ(ErrorOf(u"1e"), u"exponent expected");
    EXPECT_EQ(ErrorOf(u"a $ b"), u"invalid character");
    EXPECT_EQ(ErrorOf(u"12abc"), u"invalid number");
}

TEST(Lexer, ErrorPositionIsWhereReadingStopped) {
    Lexer lex(u"x\n  \"abc\ndef\"");
    lex.Next();
    try {
        lex.Next();
        FAIL() << "expected an error";
    } catch (const sq::LexError& e) {
        EXPECT_EQ(e.line, 2);
        EXPECT_EQ(e.column, 7);
    }
}

}  // namespace
