// Windows side of host.h: the local host's name and addresses, from the IP helper library.
#include "docsec/platform/host.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <cstdlib>
#include <memory>

namespace docsec {

std::string LocalHostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string();
  return std::string(name, size);
}

std::vector<uint32_t> LocalIpv4Addresses() {
  std::vector<uint32_t> others;
  std::vector<uint32_t> loopback;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list's size is known only after a first try; adapters may come between two calls.
  ULONG size = 16 * 1024;
  std::unique_ptr<char[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.reset(new char[size]);
    result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  if (result != NO_ERROR) return others;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp) continue;
    const bool is_loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* sa = unicast->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) continue;
      uint32_t address = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr;
      (is_loopback ? loopback : others).push_back(address);
    }
  }
  others.insert(others.end(), loopback.begin(), loopback.end());
  return others;
}

}  // namespace docsec
