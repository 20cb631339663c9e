// POSIX side of host.h: the local host's name and addresses.
#include "docsec/platform/host.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>

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

}  // namespace docsec
