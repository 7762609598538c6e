// Tokenizer for script source held as UTF-16 text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace sq {

// Token kinds. Single-character punctuation uses its character code; everything else starts above 255.
enum Token : int32_t {
  TK_EOF = 0,
  TK_IDENTIFIER = 256,
  TK_STRING_LITERAL,
  TK_INTEGER,
  TK_FLOAT,
  // keywords
  TK_BASE,
  TK_BREAK,
  TK_CASE,
  TK_CATCH,
  TK_CLASS,
  TK_CLONE,
  TK_CONTINUE,
  TK_CONST,
  TK_DEFAULT,
  TK_DELETE,
  TK_ELSE,
  TK_ENUM,
  TK_EXTENDS,
  TK_FOR,
  TK_FOREACH,
  TK_FUNCTION,
  TK_IF,
  TK_IN,
  TK_LOCAL,
  TK_NULL,
  TK_RESUME,
  TK_RETURN,
  TK_SWITCH,
  TK_THIS,
  TK_THROW,
  TK_TRY,
  TK_TYPEOF,
  TK_WHILE,
  TK_YIELD,
  TK_CONSTRUCTOR,
  TK_INSTANCEOF,
  TK_TRUE,
  TK_FALSE,
  TK_STATIC,
  TK_LINE,
  TK_FILE,
  TK_RAWCALL,
  TK_DO,
  // multi-character operators
  TK_EQ,           // ==
  TK_NE,           // !=
  TK_LE,           // <=
  TK_GE,           // >=
  TK_CMP3,         // <=>
  TK_AND,          // &&
  TK_OR,           // ||
  TK_NEWSLOT,      // <-
  TK_PLUSEQ,       // +=
  TK_MINUSEQ,      // -=
  TK_MULEQ,        // *=
  TK_DIVEQ,        // /=
  TK_MODEQ,        // %=
  TK_PLUSPLUS,     // ++
  TK_MINUSMINUS,   // --
  TK_SHL,          // <<
  TK_SHR,          // >>
  TK_USHR,         // >>>
  TK_DOUBLECOLON,  // ::
  TK_VARPARAMS,    // ...
  TK_ATTR_OPEN,    // </
  TK_ATTR_CLOSE,   // />
};

// A lexical error: message plus the position where it was detected.
struct LexError : std::runtime_error {
  std::u16string text;
  int32_t line;
  int32_t column;
  LexError(std::u16string t, int32_t l, int32_t c)
      : std::runtime_error("lex error"), text(std::move(t)), line(l), column(c) {}
};

class Lexer {
 public:
  explicit Lexer(std::u16string source);

  // Reads the next token; returns its kind (also in token()).
  int32_t Next();

  int32_t token() const { return token_; }
  const std::u16string& text() const { return text_; }  // identifiers and string literals
  int32_t intValue() const { return int_; }             // TK_INTEGER (wrapped to 32 bits)
  float floatValue() const { return float_; }           // TK_FLOAT
  int32_t line() const { return tokLine_; }             // line of the current token (1-based)
  int32_t column() const { return tokColumn_; }         // column of the current token (1-based)
  int32_t currentLine() const { return line_; }         // reading position
  int32_t currentColumn() const { return column_; }
  // A line break separates the current token from the previous one.
  bool newlineBefore() const { return newlineBefore_; }

  // Printable form of a token kind, for "expected '...'" messages.
  static std::u16string TokenText(int32_t tok);

 private:
  char16_t Peek(size_t ahead = 0) const { return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : u'\0'; }
  bool AtEnd() const { return pos_ >= src_.size(); }
  char16_t Advance();
  [[noreturn]] void Fail(const std::u16string& msg) const;

  void ReadNumber();
  void ReadString(char16_t delimiter, bool verbatim);
  void ReadIdentifier();
  char16_t ReadEscapeInto(std::u16string& out);

  std::u16string src_;
  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;

  int32_t token_ = TK_EOF;
  std::u16string text_;
  int32_t int_ = 0;
  float float_ = 0.0f;
  int32_t tokLine_ = 1;
  int32_t tokColumn_ = 1;
  bool newlineBefore_ = false;
};

}  // namespace sq
