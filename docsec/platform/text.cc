#include "docsec/platform/text.h"

#include <cstdint>
#include <cstring>

namespace docsec {

int CopyTextToBuffer(const char* text, size_t size, char* buffer, int buffer_size) {
  if (buffer == nullptr || buffer_size <= 0) return 0;
  if (text == nullptr || size + 1 > static_cast<size_t>(buffer_size)) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, text, size);
  buffer[size] = '\0';
  return static_cast<int>(size);
}

namespace {

// Decodes one UTF-8 sequence at `p` (before `end`); returns the code point or -1 for an invalid
// sequence, and advances `p` by at least one byte.
long DecodeUtf8(const unsigned char*& p, const unsigned char* end) {
  unsigned c = *p++;
  if (c < 0x80) return c;
  int extra;
  unsigned long cp;
  if ((c & 0xE0) == 0xC0) {
    extra = 1;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    cp = c & 0x07;
  } else {
    return -1;
  }
  if (end - p < extra) return -1;
  for (int i = 0; i < extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  static const unsigned long kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  p += extra;
  return static_cast<long>(cp);
}

}  // namespace

long NextCodePoint(const char** p, const char* end) {
  const auto* at = reinterpret_cast<const unsigned char*>(*p);
  long cp = DecodeUtf8(at, reinterpret_cast<const unsigned char*>(end));
  *p = reinterpret_cast<const char*>(at);
  return cp;
}

size_t Utf16Length(const char* text, size_t size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + size;
  size_t units = 0;
  while (p < end) {
    // ASCII runs are the common case; count them without decoding.
    if (*p < 0x80) {
      ++p;
      ++units;
      continue;
    }
    long cp = DecodeUtf8(p, end);
    units += (cp >= 0x10000) ? 2 : 1;
  }
  return units;
}

std::u16string Utf8ToUtf16(const char* text, size_t size) {
  std::u16string out;
  out.reserve(size);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + size;
  while (p < end) {
    long cp = DecodeUtf8(p, end);
    if (cp < 0) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const char16_t* text, size_t size) {
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    unsigned long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < size && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  for (; *a && *b; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

int LeadingDecimal(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Accumulate in 64 bits and stop growing once past the 32-bit range: a longer run of digits
  // only pins the result to the bound.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int>(negative ? -value : value);
}

bool ContainsIgnoreCase(const char* haystack, size_t haystack_size, const char* needle,
                        size_t needle_size) {
  if (needle_size == 0) return true;
  if (needle_size > haystack_size) return false;
  const char first = AsciiLower(needle[0]);
  for (size_t i = 0; i + needle_size <= haystack_size; ++i) {
    if (AsciiLower(haystack[i]) != first) continue;
    size_t k = 1;
    while (k < needle_size && AsciiLower(haystack[i + k]) == AsciiLower(needle[k])) ++k;
    if (k == needle_size) return true;
  }
  return false;
}

}  // namespace docsec
