#include "docsec/platform/host.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace docsec {

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return std::string(name);
}

std::vector<uint32_t> LocalIpv4Addresses() {
  std::vector<uint32_t> others;
  std::vector<uint32_t> loopback;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return others;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if ((it->ifa_flags & IFF_UP) == 0) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
    ((it->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : others).push_back(address);
  }
  ::freeifaddrs(list);
  others.insert(others.end(), loopback.begin(), loopback.end());
  return others;
}

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
  return htonl(host);
}

std::string FormatIpv4(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return std::string(text);
}

}  // namespace docsec
