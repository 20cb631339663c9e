#include "docsec/platform/host.h"

#include <cstdio>

namespace docsec {

uint32_t ParseIpv4(const char* text) {
  if (text == nullptr || *text == '\0') return kInvalidIpv4;
  uint32_t parts[4] = {};
  int count = 0;
  const char* p = text;
  for (;;) {
    // One part: 0x hexadecimal, 0 octal, else decimal; at least one digit.
    uint64_t value = 0;
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      base = 16;
      p += 2;
    } else if (p[0] == '0') {
      base = 8;
    }
    const char* start = p;
    for (;; ++p) {
      int digit;
      char c = *p;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        break;
      }
      if (digit >= base) return kInvalidIpv4;
      value = value * base + digit;
      if (value > 0xFFFFFFFFull) return kInvalidIpv4;
    }
    // "0x" alone has no digits; a lone "0" was read as an octal zero.
    if (p == start && base != 8) return kInvalidIpv4;
    parts[count++] = static_cast<uint32_t>(value);
    if (*p == '\0') break;
    if (*p != '.' || count == 4) return kInvalidIpv4;
    ++p;
  }
  // Every part but the last is one byte; the last fills the bytes that remain.
  static const uint32_t kLastMax[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  uint32_t host = 0;
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF) return kInvalidIpv4;
    host |= parts[i] << (24 - 8 * i);
  }
  if (parts[count - 1] > kLastMax[count - 1]) return kInvalidIpv4;
  host |= parts[count - 1];
  return MakeIpv4(static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                  static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host));
}

std::string FormatIpv4(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return std::string(text);
}

}  // namespace docsec
