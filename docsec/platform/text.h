// UTF-8 text helpers shared by the value, XML and agent layers. Texts of the API are UTF-8.
#ifndef DOCSEC_PLATFORM_TEXT_H_
#define DOCSEC_PLATFORM_TEXT_H_

#include <cstddef>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

// Copies `size` bytes of `text` into `buffer` of `buffer_size` bytes with a terminating zero and
// returns `size`. When the text and its terminator do not fit, returns 0 and leaves `buffer` as an
// empty string (when buffer_size > 0). A null buffer or a size of 0 returns 0 and writes nothing.
// This is the contract of every text getter: never a byte past buffer_size.
int CopyTextToBuffer(const char* text, size_t size, char* buffer, int buffer_size);

// The number of UTF-16 code units that UTF-8 `text` encodes (invalid bytes count one unit each).
size_t Utf16Length(const char* text, size_t size);

// Decodes the UTF-8 sequence at `*p` (before `end`) and moves `*p` past it. Returns the code
// point, or -1 when the byte at `*p` starts no valid sequence (overlong forms, surrogates and
// values past U+10FFFF included); `*p` then moves on by exactly one byte. `*p` must be before
// `end`.
long NextCodePoint(const char** p, const char* end);

// Conversions between UTF-8 and UTF-16. Invalid input sequences become U+FFFD.
std::u16string Utf8ToUtf16(const char* text, size_t size);
std::string Utf16ToUtf8(const char16_t* text, size_t size);

// Single-byte lower-casing (ASCII letters only; other bytes unchanged).
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool EqualsIgnoreCase(const char* a, const char* b);
// True when `needle` occurs in `haystack` ignoring ASCII letter case; an empty needle always does.
bool ContainsIgnoreCase(const char* haystack, size_t haystack_size, const char* needle,
                        size_t needle_size);

// The decimal number at the start of `text`: leading blanks, an optional sign, then digits up to
// the first non-digit. 0 for null text or text without such digits; values beyond the 32-bit range
// give its nearest bound rather than wrapping.
int LeadingDecimal(const char* text);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_TEXT_H_
