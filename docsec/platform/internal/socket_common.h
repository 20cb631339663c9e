// What the POSIX and Windows sockets share below the socket interface: deadline arithmetic and
// the test cap on time-outs. Internal to the library; not installed.
#ifndef DOCSEC_PLATFORM_INTERNAL_SOCKET_COMMON_H_
#define DOCSEC_PLATFORM_INTERNAL_SOCKET_COMMON_H_

#include <chrono>

namespace docsec::socket_internal {

// Milliseconds left until `deadline` (0 once it passed), rounded up so a wait never ends just
// short of it.
int MillisecondsUntil(std::chrono::steady_clock::time_point deadline);
// `ms` cut to the test cap when one is set (SetSocketTimeoutCapForTesting); never negative.
int CappedTimeout(int ms);

}  // namespace docsec::socket_internal

#endif  // DOCSEC_PLATFORM_INTERNAL_SOCKET_COMMON_H_
