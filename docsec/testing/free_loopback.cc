#include "docsec/testing/free_loopback.h"

#include <atomic>
#include <chrono>
#include <random>

#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"

namespace docsec {
namespace testing {
namespace {

constexpr int kFirstHost = 2;  // 127.0.0.1 is everybody's: leave it to other programs
constexpr int kLastHost = 254;
constexpr int kMaxTries = 40;

// Successive candidates, spread over the range from a random start so that concurrent test
// processes seldom probe the same address first.
uint8_t NextCandidate() {
  static std::atomic<unsigned> next{[] {
    std::random_device device;
    return static_cast<unsigned>(
        device() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  }()};
  constexpr unsigned kSpan = kLastHost - kFirstHost + 1;
  // A step that is prime to the span visits every host before repeating one.
  return static_cast<uint8_t>(kFirstHost + (next.fetch_add(97) % kSpan));
}

bool PortFree(uint32_t address, uint16_t port) {
  TcpListener probe;
  return probe.Listen(address, port, 1, nullptr);
}

}  // namespace

uint32_t StartOnFreeLoopback(const std::function<bool(uint32_t address)>& start, uint16_t port) {
  for (int i = 0; i < kMaxTries; ++i) {
    uint32_t address = MakeIpv4(127, 0, 0, NextCandidate());
    if (PortFree(address, port) && start(address)) return address;
  }
  return 0;
}

uint32_t ProbeFreeLoopback(uint16_t port) {
  for (int i = 0; i < kMaxTries; ++i) {
    uint32_t address = MakeIpv4(127, 0, 0, NextCandidate());
    if (PortFree(address, port)) return address;
  }
  return 0;
}

}  // namespace testing
}  // namespace docsec
