#pragma once
// Conversions between the GUI's three text forms: UTF-8 (SDL text input), UTF-16 (wide strings
// everywhere else) and UTF-32 (text layout).
//
// Errors: malformed UTF-8 becomes U+FFFD (the platform's code-page rules); code points above
// U+10FFFF become U+FFFD; lone surrogates are kept as they are. Misused pair helpers assert.
// Locking: none (pure functions).
#include <cstdint>
#include <string>

namespace TamberGUI {

// A new zero-terminated wide text (free with delete[]), or null for null input or a failed conversion.
char16_t* UTF8ToUTF16(const char* text);

// Writes the surrogate pair of a code point in 0x10000..0x10FFFF; false (after an assertion, units
// untouched) for any other.
bool encode_utf16_pair(char32_t character, char16_t units[2]);
// The code point of a high and a low surrogate; U+FFFD after an assertion when they are not.
char32_t decode_utf16_pair(const char16_t units[2]);

// Up to the terminating 0: pairs combined, other units (lone surrogates too) copied, CR LF folded to LF.
std::u32string utf16_to_utf32(const char16_t* text);
// Exactly count units (never read beyond): pairs combined, no CR LF folding.
std::u32string utf16_to_utf32_n(const char16_t* text, std::size_t count);
// count code points; with crlf each LF is written as CR LF.
std::u16string utf32_to_utf16(const char32_t* text, std::size_t count, bool crlf);
// UTF8ToUTF16 then utf16_to_utf32; null input gives an empty string.
std::u32string utf8_to_utf32(const char* text);

}  // namespace TamberGUI
