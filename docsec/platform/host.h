// The local host's identity (name and IPv4 addresses) and the text form of IPv4 addresses.
// Addresses are 32-bit values in network byte order. All functions are thread-safe.
#ifndef DOCSEC_PLATFORM_HOST_H_
#define DOCSEC_PLATFORM_HOST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

// The value ParseIpv4 gives for text that is not an address (also the value of 255.255.255.255).
constexpr uint32_t kInvalidIpv4 = 0xFFFFFFFF;

// The local host's name; empty when the system cannot tell it.
DOCSEC_EXPORT std::string LocalHostName();

// The IPv4 addresses of the local host's active interfaces: the others first, then loopback ones,
// each in interface order. Empty when none can be read.
DOCSEC_EXPORT std::vector<uint32_t> LocalIpv4Addresses();

// Reads an IPv4 address the way the classic inet_addr reads it: one to four parts separated by
// dots, each decimal, octal (leading 0) or hexadecimal (leading 0x); the last part fills the
// remaining bytes ("127.1" is 127.0.0.1). Anything else, including empty text, surrounding
// blanks, trailing characters or parts out of range, gives kInvalidIpv4. A null pointer gives
// kInvalidIpv4.
DOCSEC_EXPORT uint32_t ParseIpv4(const char* text);

// Dotted decimal text of an address: "a.b.c.d", one decimal number per byte in wire order.
DOCSEC_EXPORT std::string FormatIpv4(uint32_t address);

// Builds a network-order address from its four bytes in wire order (MakeIpv4(127, 0, 0, 1)).
constexpr uint32_t MakeIpv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  // Network order is the bytes in memory order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(b) << 16) |
         (static_cast<uint32_t>(c) << 8) | static_cast<uint32_t>(d);
#else
  return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
         (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
#endif
}

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_HOST_H_
