#include "lexer.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace sq {

namespace {

struct Keyword {
  const char16_t* word;
  int32_t token;
};

const Keyword kKeywords[] = {
    {u"base", TK_BASE},
    {u"break", TK_BREAK},
    {u"case", TK_CASE},
    {u"catch", TK_CATCH},
    {u"class", TK_CLASS},
    {u"clone", TK_CLONE},
    {u"continue", TK_CONTINUE},
    {u"const", TK_CONST},
    {u"default", TK_DEFAULT},
    {u"delete", TK_DELETE},
    {u"else", TK_ELSE},
    {u"enum", TK_ENUM},
    {u"extends", TK_EXTENDS},
    {u"for", TK_FOR},
    {u"foreach", TK_FOREACH},
    {u"function", TK_FUNCTION},
    {u"if", TK_IF},
    {u"in", TK_IN},
    {u"local", TK_LOCAL},
    {u"null", TK_NULL},
    {u"resume", TK_RESUME},
    {u"return", TK_RETURN},
    {u"switch", TK_SWITCH},
    {u"this", TK_THIS},
    {u"throw", TK_THROW},
    {u"try", TK_TRY},
    {u"typeof", TK_TYPEOF},
    {u"while", TK_WHILE},
    {u"yield", TK_YIELD},
    {u"constructor", TK_CONSTRUCTOR},
    {u"instanceof", TK_INSTANCEOF},
    {u"true", TK_TRUE},
    {u"false", TK_FALSE},
    {u"static", TK_STATIC},
    {u"__LINE__", TK_LINE},
    {u"__FILE__", TK_FILE},
    {u"rawcall", TK_RAWCALL},
    {u"do", TK_DO},
};

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
int HexValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return c - u'A' + 10;
}

}  // namespace

Lexer::Lexer(std::u16string source) : src_(std::move(source)) {}

char16_t Lexer::Advance() {
  char16_t c = src_[pos_++];
  if (c == u'\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
  return c;
}

void Lexer::Fail(const std::u16string& msg) const { throw LexError(msg, line_, column_); }

std::u16string Lexer::TokenText(int32_t tok) {
  if (tok > 0 && tok < 256) return std::u16string(1, char16_t(tok));
  switch (tok) {
    case TK_EOF:
      return u"end of file";
    case TK_IDENTIFIER:
      return u"IDENTIFIER";
    case TK_STRING_LITERAL:
      return u"STRING_LITERAL";
    case TK_INTEGER:
      return u"INTEGER";
    case TK_FLOAT:
      return u"FLOAT";
    case TK_EQ:
      return u"==";
    case TK_NE:
      return u"!=";
    case TK_LE:
      return u"<=";
    case TK_GE:
      return u">=";
    case TK_CMP3:
      return u"<=>";
    case TK_AND:
      return u"&&";
    case TK_OR:
      return u"||";
    case TK_NEWSLOT:
      return u"<-";
    case TK_PLUSEQ:
      return u"+=";
    case TK_MINUSEQ:
      return u"-=";
    case TK_MULEQ:
      return u"*=";
    case TK_DIVEQ:
      return u"/=";
    case TK_MODEQ:
      return u"%=";
    case TK_PLUSPLUS:
      return u"++";
    case TK_MINUSMINUS:
      return u"--";
    case TK_SHL:
      return u"<<";
    case TK_SHR:
      return u">>";
    case TK_USHR:
      return u">>>";
    case TK_DOUBLECOLON:
      return u"::";
    case TK_VARPARAMS:
      return u"...";
    case TK_ATTR_OPEN:
      return u"</";
    case TK_ATTR_CLOSE:
      return u"/>";
    default:
      break;
  }
  for (const Keyword& k : kKeywords)
    if (k.token == tok) return k.word;
  return u"?";
}

int32_t Lexer::Next() {
  newlineBefore_ = false;
  for (;;) {
    // whitespace and comments
    while (!AtEnd()) {
      char16_t c = Peek();
      if (c == u'\n') {
        newlineBefore_ = true;
        Advance();
      } else if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\f' || c == u'\v') {
        Advance();
      } else if (c == u'#' || (c == u'/' && Peek(1) == u'/')) {
        while (!AtEnd() && Peek() != u'\n') Advance();
      } else if (c == u'/' && Peek(1) == u'*') {
        Advance();
        Advance();
        for (;;) {
          if (AtEnd()) Fail(u"missing \"*/\" in comment");
          if (Peek() == u'*' && Peek(1) == u'/') {
            Advance();
            Advance();
            break;
          }
          if (Peek() == u'\n') newlineBefore_ = true;
          Advance();
        }
      } else {
        break;
      }
    }
    tokLine_ = line_;
    tokColumn_ = column_;
    if (AtEnd()) return token_ = TK_EOF;

    char16_t c = Peek();
    if (IsDigit(c)) {
      ReadNumber();
      return token_;
    }
    if (IsAlpha(c)) {
      ReadIdentifier();
      return token_;
    }
    Advance();
    switch (c) {
      case u'"':
        ReadString(u'"', false);
        return token_;
      case u'\'':
        ReadString(u'\'', false);
        return token_;
      case u'@':
        if (Peek() == u'"') {
          Advance();
          ReadString(u'"', true);
          return token_;
        }
        return token_ = u'@';
      case u'=':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_EQ;
        }
        return token_ = u'=';
      case u'!':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_NE;
        }
        return token_ = u'!';
      case u'<':
        if (Peek() == u'=') {
          Advance();
          if (Peek() == u'>') {
            Advance();
            return token_ = TK_CMP3;
          }
          return token_ = TK_LE;
        }
        if (Peek() == u'-') {
          Advance();
          return token_ = TK_NEWSLOT;
        }
        if (Peek() == u'<') {
          Advance();
          return token_ = TK_SHL;
        }
        if (Peek() == u'/') {
          Advance();
          return token_ = TK_ATTR_OPEN;
        }
        return token_ = u'<';
      case u'>':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_GE;
        }
        if (Peek() == u'>') {
          Advance();
          if (Peek() == u'>') {
            Advance();
            return token_ = TK_USHR;
          }
          return token_ = TK_SHR;
        }
        return token_ = u'>';
      case u'&':
        if (Peek() == u'&') {
          Advance();
          return token_ = TK_AND;
        }
        return token_ = u'&';
      case u'|':
        if (Peek() == u'|') {
          Advance();
          return token_ = TK_OR;
        }
        return token_ = u'|';
      case u'+':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_PLUSEQ;
        }
        if (Peek() == u'+') {
          Advance();
          return token_ = TK_PLUSPLUS;
        }
        return token_ = u'+';
      case u'-':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_MINUSEQ;
        }
        if (Peek() == u'-') {
          Advance();
          return token_ = TK_MINUSMINUS;
        }
        return token_ = u'-';
      case u'*':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_MULEQ;
        }
        return token_ = u'*';
      case u'/':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_DIVEQ;
        }
        if (Peek() == u'>') {
          Advance();
          return token_ = TK_ATTR_CLOSE;
        }
        return token_ = u'/';
      case u'%':
        if (Peek() == u'=') {
          Advance();
          return token_ = TK_MODEQ;
        }
        return token_ = u'%';
      case u':':
        if (Peek() == u':') {
          Advance();
          return token_ = TK_DOUBLECOLON;
        }
        return token_ = u':';
      case u'.':
        if (Peek() == u'.' && Peek(1) == u'.') {
          Advance();
          Advance();
          return token_ = TK_VARPARAMS;
        }
        return token_ = u'.';
      case u'{':
      case u'}':
      case u'(':
      case u')':
      case u'[':
      case u']':
      case u';':
      case u',':
      case u'?':
      case u'^':
      case u'~':
        return token_ = c;
      default:
        break;
    }
    tokColumn_ = column_ - 1;
    Fail(u"invalid character");
  }
}

void Lexer::ReadIdentifier() {
  size_t start = pos_;
  while (!AtEnd() && (IsAlpha(src_[pos_]) || IsDigit(src_[pos_]))) ++pos_;
  column_ += int32_t(pos_ - start);  // identifiers never span lines
  text_.assign(src_, start, pos_ - start);
  static const std::unordered_map<std::u16string_view, int32_t> keywords = [] {
    std::unordered_map<std::u16string_view, int32_t> m;
    for (const Keyword& k : kKeywords) m.emplace(k.word, k.token);
    return m;
  }();
  auto it = keywords.find(std::u16string_view(text_));
  token_ = it != keywords.end() ? it->second : int32_t(TK_IDENTIFIER);
}

void Lexer::ReadNumber() {
  // Integer literals wrap to 32 bits like the arithmetic does.
  uint32_t acc = 0;
  if (Peek() == u'0' && (Peek(1) == u'x' || Peek(1) == u'X')) {
    Advance();
    Advance();
    if (!IsHex(Peek())) Fail(u"expected hex digits after '0x'");
    int digits = 0;
    while (IsHex(Peek())) {
      if (++digits > 8) Fail(u"too many digits for an Hex number");
      acc = acc * 16u + uint32_t(HexValue(Advance()));
    }
    if (IsAlpha(Peek())) Fail(u"invalid hexadecimal number");
    int_ = int32_t(acc);
    token_ = TK_INTEGER;
    return;
  }
  if (Peek() == u'0' && IsDigit(Peek(1))) {
    Advance();
    while (IsDigit(Peek())) {
      char16_t d = Advance();
      if (d > u'7') Fail(u"invalid octal number");
      acc = acc * 8u + uint32_t(d - u'0');
    }
    if (IsAlpha(Peek()) || Peek() == u'.') Fail(u"invalid octal number");
    int_ = int32_t(acc);
    token_ = TK_INTEGER;
    return;
  }
  std::string digits;
  bool isFloat = false;
  while (IsDigit(Peek())) digits.push_back(char(Advance()));
  if (Peek() == u'.' && (IsDigit(Peek(1)) || Peek(1) == u'e' || Peek(1) == u'E')) {
    isFloat = true;
    digits.push_back(char(Advance()));
    while (IsDigit(Peek())) digits.push_back(char(Advance()));
  }
  if (Peek() == u'e' || Peek() == u'E') {
    isFloat = true;
    digits.push_back(char(Advance()));
    if (Peek() == u'+' || Peek() == u'-') digits.push_back(char(Advance()));
    if (!IsDigit(Peek())) Fail(u"exponent expected");
    while (IsDigit(Peek())) digits.push_back(char(Advance()));
  }
  if (IsAlpha(Peek())) Fail(u"invalid number");
  if (isFloat) {
    float_ = float(std::strtod(digits.c_str(), nullptr));
    token_ = TK_FLOAT;
    return;
  }
  for (char d : digits) acc = acc * 10u + uint32_t(d - '0');
  int_ = int32_t(acc);
  token_ = TK_INTEGER;
}

char16_t Lexer::ReadEscapeInto(std::u16string& out) {
  // The backslash has been consumed.
  if (AtEnd()) Fail(u"unfinished string");
  char16_t c = Advance();
  switch (c) {
    case u't':
      out.push_back(u'\t');
      break;
    case u'a':
      out.push_back(u'\a');
      break;
    case u'b':
      out.push_back(u'\b');
      break;
    case u'n':
      out.push_back(u'\n');
      break;
    case u'r':
      out.push_back(u'\r');
      break;
    case u'v':
      out.push_back(u'\v');
      break;
    case u'f':
      out.push_back(u'\f');
      break;
    case u'0':
      out.push_back(u'\0');
      break;
    case u'\\':
      out.push_back(u'\\');
      break;
    case u'"':
      out.push_back(u'"');
      break;
    case u'\'':
      out.push_back(u'\'');
      break;
    case u'x':
    case u'u':
    case u'U': {
      // \x and \u take up to four hex digits (one UTF-16 unit); \U up to eight (a code point).
      int maxDigits = c == u'U' ? 8 : 4;
      if (!IsHex(Peek())) Fail(u"hexadecimal number expected");
      uint32_t v = 0;
      for (int i = 0; i < maxDigits && IsHex(Peek()); ++i) v = v * 16u + uint32_t(HexValue(Advance()));
      if (c == u'U' && v > 0xFFFF) {
        if (v > 0x10FFFF) Fail(u"invalid unicode code point");
        v -= 0x10000;
        out.push_back(char16_t(0xD800 + (v >> 10)));
        out.push_back(char16_t(0xDC00 + (v & 0x3FF)));
      } else {
        out.push_back(char16_t(v));
      }
      break;
    }
    default:
      Fail(u"unrecognised escaper char");
  }
  return out.back();
}

void Lexer::ReadString(char16_t delimiter, bool verbatim) {
  text_.clear();
  for (;;) {
    if (AtEnd()) Fail(u"unfinished string");
    char16_t c = Peek();
    if (c == delimiter) {
      Advance();
      if (verbatim && Peek() == delimiter) {  // "" inside a verbatim string is one quote
        text_.push_back(Advance());
        continue;
      }
      break;
    }
    if (c == u'\n' && !verbatim) Fail(u"newline in a constant");
    if (c == u'\\' && !verbatim) {
      Advance();
      ReadEscapeInto(text_);
      continue;
    }
    text_.push_back(Advance());
  }
  if (delimiter == u'\'') {
    if (text_.empty()) Fail(u"empty constant");
    if (text_.size() > 1) Fail(u"constant too long");
    int_ = int32_t(text_[0]);
    token_ = TK_INTEGER;
    return;
  }
  token_ = TK_STRING_LITERAL;
}

}  // namespace sq
