// String library: format/printf, strip, split, escape, prefix and suffix tests, and the regexp class.
#include <sqstdstring.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "registration.h"
#include "rex_internal.h"

namespace {

constexpr SQChar kFirstPrintable = 0x20;  // printable ASCII: the characters escape() keeps as they are
constexpr SQChar kLastPrintable = 0x7E;

// Precisions beyond this are refused: a script must not make one conversion allocate megabytes. A width
// has two digits at most.
constexpr int kMaxFieldSize = 1024;
constexpr int kMaxWidth = 100;

bool IsBlank(SQChar c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool IsFlag(SQChar c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; }

std::u16string_view StringAt(HSQUIRRELVM v, SQInteger idx) {
  const SQChar* s = u"";
  SQInteger len = 0;
  if (SQ_FAILED(sq_getstringandsize(v, idx, &s, &len))) return std::u16string_view();
  return std::u16string_view(s, size_t(len));
}

void PushString(HSQUIRRELVM v, std::u16string_view s) {
  sq_pushstring(v, s.empty() ? u"" : s.data(), SQInteger(s.size()));
}

void AppendNarrow(std::u16string& out, const std::string& s) {
  for (char c : s) out.push_back(char16_t(static_cast<unsigned char>(c)));
}

void Pad(std::u16string& out, size_t count) { out.append(count, u' '); }

// Appends a piece of text honouring the '-' flag, width and (for strings) precision in UTF-16 units.
void AppendField(std::u16string& out, std::u16string_view text, bool leftAlign, int width) {
  size_t pad = width > 0 && size_t(width) > text.size() ? size_t(width) - text.size() : 0;
  if (!leftAlign) Pad(out, pad);
  out.append(text);
  if (leftAlign) Pad(out, pad);
}

SQRESULT FormatInto(HSQUIRRELVM v, SQInteger formatIdx, std::u16string& out) {
  const SQChar* fmt = nullptr;
  SQInteger fmtLen = 0;
  if (SQ_FAILED(sq_getstringandsize(v, formatIdx, &fmt, &fmtLen)))
    return sq_throwerror(v, u"the format must be a string");
  SQInteger param = formatIdx + 1;
  SQInteger top = sq_gettop(v);
  SQInteger i = 0;
  while (i < fmtLen) {
    SQChar c = fmt[i];
    if (c != u'%') {
      out.push_back(c);
      ++i;
      continue;
    }
    ++i;
    if (i < fmtLen && fmt[i] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    // Repeated flags say nothing more than one of each, so any number is accepted and each kept once.
    std::string flags;
    while (i < fmtLen && IsFlag(fmt[i])) {
      if (flags.find(char(fmt[i])) == std::string::npos) flags.push_back(char(fmt[i]));
      ++i;
    }
    int width = -1, precision = -1;
    if (i < fmtLen && fmt[i] >= u'0' && fmt[i] <= u'9') {
      width = 0;
      while (i < fmtLen && fmt[i] >= u'0' && fmt[i] <= u'9') {
        width = width * 10 + (fmt[i++] - u'0');
        if (width >= kMaxWidth) return sq_throwerror(v, u"width format too long");
      }
    }
    if (i < fmtLen && fmt[i] == u'.') {
      ++i;
      precision = 0;
      while (i < fmtLen && fmt[i] >= u'0' && fmt[i] <= u'9') {
        precision = precision * 10 + (fmt[i++] - u'0');
        if (precision > kMaxFieldSize) return sq_throwerror(v, u"invalid format");
      }
    }
    if (i >= fmtLen) return sq_throwerror(v, u"invalid format");
    SQChar conv = fmt[i++];
    if (param > top) return sq_throwerror(v, u"not enough parameters for the given format string");
    bool leftAlign = flags.find('-') != std::string::npos;
    std::string spec = "%" + flags;
    if (width >= 0) spec += std::to_string(width);
    if (precision >= 0) spec += "." + std::to_string(precision);
    SQObjectType type = sq_gettype(v, param);
    switch (conv) {
      case u'd': case u'i': case u'o': case u'u': case u'x': case u'X': case u'c': {
        SQInteger n = 0;
        if (!(type & SQOBJECT_NUMERIC) && type != OT_BOOL)
          return sq_throwerror(v, u"integer expected for the specified format");
        sq_getinteger(v, param, &n);
        if (conv == u'c') {
          std::u16string ch;
          if (n >= 0 && n <= 0xFFFF) {
            ch.push_back(char16_t(n));
          } else if (n > 0xFFFF && n <= 0x10FFFF) {
            ch.push_back(char16_t(0xD800 + ((n - 0x10000) >> 10)));
            ch.push_back(char16_t(0xDC00 + ((n - 0x10000) & 0x3FF)));
          } else {
            ch.push_back(char16_t(0xFFFD));
          }
          AppendField(out, ch, leftAlign, width);
        } else {
          spec.push_back(char(conv));
          int len = conv == u'd' || conv == u'i' ? std::snprintf(nullptr, 0, spec.c_str(), int(n))
                                                 : std::snprintf(nullptr, 0, spec.c_str(), unsigned(n));
          std::string buf(size_t(len) + 1, '\0');
          if (conv == u'd' || conv == u'i') std::snprintf(buf.data(), buf.size(), spec.c_str(), int(n));
          else std::snprintf(buf.data(), buf.size(), spec.c_str(), unsigned(n));
          buf.resize(size_t(len));
          AppendNarrow(out, buf);
        }
        break;
      }
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': {
        if (!(type & SQOBJECT_NUMERIC)) return sq_throwerror(v, u"float expected for the specified format");
        SQFloat f = 0;
        sq_getfloat(v, param, &f);
        spec.push_back(char(conv));
        int len = std::snprintf(nullptr, 0, spec.c_str(), double(f));
        std::string buf(size_t(len) + 1, '\0');
        std::snprintf(buf.data(), buf.size(), spec.c_str(), double(f));
        buf.resize(size_t(len));
        AppendNarrow(out, buf);
        break;
      }
      case u's': {
        if (type != OT_STRING) return sq_throwerror(v, u"string expected for the specified format");
        std::u16string_view s = StringAt(v, param);
        if (precision >= 0 && size_t(precision) < s.size()) {
          size_t cut = size_t(precision);
          // Never leave half of a surrogate pair behind.
          if (cut > 0 && s[cut - 1] >= 0xD800 && s[cut - 1] <= 0xDBFF) --cut;
          s = s.substr(0, cut);
        }
        AppendField(out, s, leftAlign, width);
        break;
      }
      default:
        return sq_throwerror(v, u"invalid format");
    }
    ++param;
  }
  return SQ_OK;
}

SQInteger Format(HSQUIRRELVM v) {
  SQChar* text = nullptr;
  SQInteger len = 0;
  if (SQ_FAILED(sqstd_format(v, 2, &len, &text))) return SQ_ERROR;
  sq_pushstring(v, text, len);
  return 1;
}

SQInteger Printf(HSQUIRRELVM v) {
  SQChar* text = nullptr;
  SQInteger len = 0;
  if (SQ_FAILED(sqstd_format(v, 2, &len, &text))) return SQ_ERROR;
  if (SQPRINTFUNCTION print = sq_getprintfunc(v)) print(v, u"%s", text);
  return 0;
}

SQInteger Strip(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2);
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  PushString(v, s.substr(b, e - b));
  return 1;
}

SQInteger LStrip(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2);
  size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  PushString(v, s.substr(b));
  return 1;
}

SQInteger RStrip(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2);
  size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  PushString(v, s.substr(0, e));
  return 1;
}

// Pieces between separators; a trailing empty piece is never produced, and skipempty drops the others.
SQInteger Split(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2);
  std::u16string_view separators = StringAt(v, 3);
  SQBool skipEmpty = SQFalse;
  if (sq_gettop(v) >= 4) sq_getbool(v, 4, &skipEmpty);
  if (separators.empty()) return sq_throwerror(v, u"empty separators string");
  sq_newarray(v, 0);
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (separators.find(s[i]) == std::u16string_view::npos) continue;
    if (!skipEmpty || i > start) {
      PushString(v, s.substr(start, i - start));
      sq_arrayappend(v, -2);
    }
    start = i + 1;
  }
  if (start < s.size()) {
    PushString(v, s.substr(start));
    sq_arrayappend(v, -2);
  }
  return 1;
}

// Every character outside printable ASCII becomes a four-digit \x escape, so the result read back as a
// string literal gives the original string exactly.
SQInteger Escape(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2);
  std::u16string out;
  out.reserve(s.size());
  for (SQChar c : s) {
    if (c == u'\\' || c == u'"' || c == u'\'') {
      out.push_back(u'\\');
      out.push_back(c);
    } else if (c < kFirstPrintable || c > kLastPrintable) {
      static const char16_t kHex[] = u"0123456789abcdef";
      out += u"\\x";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  PushString(v, out);
  return 1;
}

SQInteger StartsWith(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2), prefix = StringAt(v, 3);
  sq_pushbool(v, s.substr(0, prefix.size()) == prefix ? SQTrue : SQFalse);
  return 1;
}

SQInteger EndsWith(HSQUIRRELVM v) {
  std::u16string_view s = StringAt(v, 2), suffix = StringAt(v, 3);
  sq_pushbool(v, s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix ? SQTrue : SQFalse);
  return 1;
}

// ---- the regexp class ---------------------------------------------------------------------------

const char kRegexpTypeTag = 0;

SQInteger ReleaseRegexp(SQUserPointer p, SQInteger) {
  sqstd_rex_free(static_cast<SQRex*>(p));
  return 1;
}

SQRex* SelfRegexp(HSQUIRRELVM v) {
  SQUserPointer p = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, 1, &p, const_cast<char*>(&kRegexpTypeTag), SQFalse)) || !p) {
    sq_throwerror(v, u"invalid regexp");
    return nullptr;
  }
  return static_cast<SQRex*>(p);
}

SQInteger RegexpConstructor(HSQUIRRELVM v) {
  const SQChar* pattern = nullptr;
  SQInteger len = 0;
  sq_getstringandsize(v, 2, &pattern, &len);
  if (std::u16string_view(pattern, size_t(len)).find(u'\0') != std::u16string_view::npos)
    return sq_throwerror(v, u"the pattern contains a null character");
  const SQChar* error = nullptr;
  SQRex* rex = sqstd_rex_compile(pattern, &error);
  if (!rex) return sq_throwerror(v, error ? error : u"invalid pattern");
  SQUserPointer old = nullptr;
  if (SQ_SUCCEEDED(sq_getinstanceup(v, 1, &old, nullptr, SQFalse)) && old) sqstd_rex_free(static_cast<SQRex*>(old));
  sq_setinstanceup(v, 1, rex);
  sq_setreleasehook(v, 1, ReleaseRegexp);
  return 0;
}

// Reads the optional start index at idx for a subject of `len` units. A start past the end is kept: the
// search there finds nothing.
bool StartIndex(HSQUIRRELVM v, SQInteger idx, SQInteger len, SQInteger& start) {
  start = 0;
  if (sq_gettop(v) >= idx) sq_getinteger(v, idx, &start);
  if (start > len) start = len;
  if (start < 0) {
    sq_throwerror(v, u"invalid starting position");
    return false;
  }
  return true;
}

void PushRange(HSQUIRRELVM v, SQInteger begin, SQInteger end) {
  sq_newtableex(v, 2);
  sq_pushstring(v, u"begin", -1);
  sq_pushinteger(v, begin);
  sq_rawset(v, -3);
  sq_pushstring(v, u"end", -1);
  sq_pushinteger(v, end);
  sq_rawset(v, -3);
}

SQInteger RegexpSearch(HSQUIRRELVM v) {
  SQRex* rex = SelfRegexp(v);
  if (!rex) return SQ_ERROR;
  std::u16string_view s = StringAt(v, 2);
  SQInteger start;
  if (!StartIndex(v, 3, SQInteger(s.size()), start)) return SQ_ERROR;
  const SQChar* b = nullptr;
  const SQChar* e = nullptr;
  if (sqstd_rex_searchrange(rex, s.data() + start, s.data() + s.size(), &b, &e)) {
    PushRange(v, b - s.data(), e - s.data());
  } else {
    sq_pushnull(v);
  }
  return 1;
}

SQInteger RegexpCapture(HSQUIRRELVM v) {
  SQRex* rex = SelfRegexp(v);
  if (!rex) return SQ_ERROR;
  std::u16string_view s = StringAt(v, 2);
  SQInteger start;
  if (!StartIndex(v, 3, SQInteger(s.size()), start)) return SQ_ERROR;
  if (!sqstd_rex_searchrange(rex, s.data() + start, s.data() + s.size(), nullptr, nullptr)) {
    sq_pushnull(v);
    return 1;
  }
  SQInteger count = sqstd_rex_getsubexpcount(rex);
  sq_newarray(v, 0);
  for (SQInteger n = 0; n < count; ++n) {
    SQRexMatch m;
    sqstd_rex_getsubexp(rex, n, &m);
    // A group that took no part in the match reports 0 for both ends.
    if (m.begin) PushRange(v, m.begin - s.data(), m.begin - s.data() + m.len);
    else PushRange(v, 0, 0);
    sq_arrayappend(v, -2);
  }
  return 1;
}

SQInteger RegexpMatch(HSQUIRRELVM v) {
  SQRex* rex = SelfRegexp(v);
  if (!rex) return SQ_ERROR;
  std::u16string_view s = StringAt(v, 2);
  sq_pushbool(v, sqstd::RexMatchRange(rex, s.data(), s.data() + s.size()));
  return 1;
}

SQInteger RegexpSubExpCount(HSQUIRRELVM v) {
  SQRex* rex = SelfRegexp(v);
  if (!rex) return SQ_ERROR;
  sq_pushinteger(v, sqstd_rex_getsubexpcount(rex));
  return 1;
}

SQInteger RegexpTypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, u"regexp", -1);
  return 1;
}

const SQRegFunction kRegexpMethods[] = {
    {u"constructor", RegexpConstructor, 2, u"xs"},
    {u"search", RegexpSearch, -2, u"xsn"},
    {u"match", RegexpMatch, 2, u"xs"},
    {u"capture", RegexpCapture, -2, u"xsn"},
    {u"subexpcount", RegexpSubExpCount, 1, u"x"},
    {u"_typeof", RegexpTypeOf, 1, u"x"},
    {nullptr, nullptr, 0, nullptr},
};

const SQRegFunction kStringFunctions[] = {
    {u"format", Format, -2, u".s"},
    {u"printf", Printf, -2, u".s"},
    {u"strip", Strip, 2, u".s"},
    {u"lstrip", LStrip, 2, u".s"},
    {u"rstrip", RStrip, 2, u".s"},
    {u"split", Split, -3, u".ssb"},
    {u"escape", Escape, 2, u".s"},
    {u"startswith", StartsWith, 3, u".ss"},
    {u"endswith", EndsWith, 3, u".ss"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen, SQChar** output) {
  if (nformatstringidx < 0) nformatstringidx = sq_gettop(v) + nformatstringidx + 1;
  std::u16string out;
  if (SQ_FAILED(FormatInto(v, nformatstringidx, out))) return SQ_ERROR;
  SQChar* dest = sq_getscratchpad(v, SQInteger((out.size() + 1) * sizeof(SQChar)));
  if (!out.empty()) std::memcpy(dest, out.data(), out.size() * sizeof(SQChar));
  dest[out.size()] = 0;
  if (outlen) *outlen = SQInteger(out.size());
  if (output) *output = dest;
  return SQ_OK;
}

SQRESULT sqstd_register_stringlib(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  if (top < 1 || sq_gettype(v, -1) != OT_TABLE) return sq_throwerror(v, u"a table is expected on top of the stack");
  sq_pushstring(v, u"regexp", -1);  // top+1
  sq_newclass(v, SQFalse);           // top+2
  sq_settypetag(v, -1, const_cast<char*>(&kRegexpTypeTag));
  sq_setreleasehook(v, -1, ReleaseRegexp);
  if (SQ_FAILED(sqstd::RegisterFunctions(v, top + 2, kRegexpMethods)) || SQ_FAILED(sq_newslot(v, top, SQFalse)) ||
      SQ_FAILED(sqstd::RegisterFunctions(v, top, kStringFunctions))) {
    sq_settop(v, top);
    return SQ_ERROR;
  }
  sq_settop(v, top);
  return SQ_OK;
}
