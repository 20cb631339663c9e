// ICMP echo ("ping") over the kinds of ICMP socket the system offers: an unprivileged ICMP
// datagram socket where the system allows it, else a raw ICMP socket when the process is
// privileged. Addresses are IPv4 in network byte order.
//
// Every echo opens and closes its own socket, so echoes may run on several threads at once.
#ifndef DOCSEC_PLATFORM_ICMP_H_
#define DOCSEC_PLATFORM_ICMP_H_

#include <cstdint>

#include "docsec/platform/export.h"

namespace docsec {

enum class IcmpSocketKind { kNone, kDatagram, kRaw };

struct IcmpDetection {
  // The first kind of ICMP socket this process may open and configure; kNone when none.
  IcmpSocketKind kind = IcmpSocketKind::kNone;
  // True when some kind opened but could not be configured for echoes (its time-to-live could not
  // be set), as opposed to no kind opening at all.
  bool opened_but_unusable = false;
};

// Tries the datagram kind, then the raw kind. Opens and closes a socket of each kind tried.
DOCSEC_EXPORT IcmpDetection DetectIcmpSocketKind();

// Sends one echo request with no payload and time-to-live `ttl` to `address` through a new socket
// of `kind`, and waits up to `timeout_ms` for the matching echo reply from that address. True
// exactly when it came; false on time-out, on any error, or for kNone.
DOCSEC_EXPORT bool IcmpEcho(IcmpSocketKind kind, uint32_t address, int ttl, int timeout_ms);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_ICMP_H_
