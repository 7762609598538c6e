#pragma once
// String library: printf-style formatting, stripping, splitting, escaping, prefix/suffix tests and
// the regular-expression class `regexp`, whose matcher is also available to C code.
#include <squirrel.h>

typedef unsigned int SQRexBool;
typedef struct SQRex SQRex;

typedef struct {
  const SQChar* begin;  // null when the sub-expression took no part in the match
  SQInteger len;
} SQRexMatch;

// Compiles a zero-terminated pattern; null on failure with *error set to a static description.
SQUIRREL_API SQRex* sqstd_rex_compile(const SQChar* pattern, const SQChar** error);
SQUIRREL_API void sqstd_rex_free(SQRex* exp);
// True when the whole zero-terminated text matches.
SQUIRREL_API SQBool sqstd_rex_match(SQRex* exp, const SQChar* text);
// First match in a zero-terminated text / in [text_begin, text_end); an empty text has none. A group
// repeated within a match reports its first pass.
SQUIRREL_API SQBool sqstd_rex_search(SQRex* exp, const SQChar* text, const SQChar** out_begin,
                                     const SQChar** out_end);
SQUIRREL_API SQBool sqstd_rex_searchrange(SQRex* exp, const SQChar* text_begin, const SQChar* text_end,
                                          const SQChar** out_begin, const SQChar** out_end);
// Number of sub-expressions including the whole match (index 0).
SQUIRREL_API SQInteger sqstd_rex_getsubexpcount(SQRex* exp);
// Sub-expression n of the last successful match or search.
SQUIRREL_API SQBool sqstd_rex_getsubexp(SQRex* exp, SQInteger n, SQRexMatch* subexp);

// Formats the format string at nformatstringidx with the values after it; the result lives in the
// VM's scratch pad until the next use of it.
SQUIRREL_API SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen, SQChar** output);

// Registers the library into the table on top of the stack.
SQUIRREL_API SQRESULT sqstd_register_stringlib(HSQUIRRELVM v);
