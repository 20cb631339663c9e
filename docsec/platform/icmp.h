// ICMP echo ("ping"). On POSIX over the kinds of ICMP socket the system offers: an unprivileged
// ICMP datagram socket where the system allows it, else a raw ICMP socket when the process is
// privileged. On Windows through the system's echo service in ICMP.DLL, loaded at run time.
// Callers see only whether echoes are possible and an opaque method to send them with.
// Addresses are IPv4 in network byte order.
//
// Every echo opens and closes its own socket or handle, so echoes may run on several threads at
// once.
#ifndef DOCSEC_PLATFORM_ICMP_H_
#define DOCSEC_PLATFORM_ICMP_H_

#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

// How this process sends echoes; the values mean something only to IcmpEcho.
using IcmpMethod = int;
constexpr IcmpMethod kNoIcmp = 0;

struct IcmpDetection {
  // The first way of sending echoes that this process may open and configure; kNoIcmp when none.
  IcmpMethod method = kNoIcmp;
  // True when some way opened but could not be configured for echoes, as opposed to none opening
  // at all.
  bool opened_but_unusable = false;
  // The system's reason when there is no way, for the trace; may be empty.
  std::string failure;

  bool usable() const { return method != kNoIcmp; }
};

// Finds the way echoes go out. POSIX tries the datagram kind, then the raw kind, opening and
// closing a socket of each kind tried; Windows loads the echo service.
IcmpDetection DetectIcmp();

// Sends one echo request with no payload and time-to-live `ttl` to `address` by `method`, and
// waits up to `timeout_ms` for the matching echo reply from that address. True exactly when it
// came; false on time-out, on any error, or for kNoIcmp.
bool IcmpEcho(IcmpMethod method, uint32_t address, int ttl, int timeout_ms);

// Echoes to many addresses from one socket, for probing a fleet: up to `window` requests are
// out at once, each waits up to `timeout_ms` from its own sending, so a thousand silent hosts
// cost about one time-out rather than a thousand. (*answered)[i] is set when addresses[i]
// replied; everything is false for kNoIcmp or when no socket could be opened.
void IcmpEchoMany(IcmpMethod method, const std::vector<uint32_t>& addresses, int ttl,
                  int timeout_ms, size_t window, std::vector<char>* answered);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_ICMP_H_
