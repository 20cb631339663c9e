// The parts of TcpSocket that are the same on every system: they are built on the system-specific
// calls of socket.cc and socket_win.cc.
#include <algorithm>
#include <atomic>
#include <climits>

#include "docsec/platform/internal/socket_common.h"
#include "docsec/platform/socket.h"

namespace docsec {
namespace {

std::atomic<int> g_timeout_cap_ms{0};

}  // namespace

namespace socket_internal {

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

int CappedTimeout(int ms) {
  int cap = g_timeout_cap_ms.load();
  if (cap > 0) ms = std::min(ms, cap);
  return std::max(ms, 0);
}

}  // namespace socket_internal

void SetSocketTimeoutCapForTesting(int ms) { g_timeout_cap_ms.store(ms > 0 ? ms : 0); }
int SocketTimeoutCapForTesting() { return g_timeout_cap_ms.load(); }

bool TcpSocket::Connect(uint32_t address, uint16_t port, int timeout_ms) {
  if (!Open() || !SetNonBlocking(true)) return false;
  StartConnect(address, port);
  if (!WaitWritable(timeout_ms) || !SetNonBlocking(false) || !SetNoDelay(true)) {
    Close();
    return false;
  }
  return true;
}

void TcpSocket::SetDeadline(std::chrono::steady_clock::time_point deadline) {
  has_deadline_ = true;
  deadline_ = deadline;
}

bool TcpSocket::SendAll(const void* data, size_t size, bool more) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    long n = Send(p, size, more);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

size_t TcpSocket::ReceiveAll(void* data, size_t size) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < size) {
    long n = Receive(p + got, size - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace docsec
