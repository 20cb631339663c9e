// Loopback addresses for tests that run network peers, chosen when the test runs. The agent
// protocol has one fixed port (AgentPort), so each peer needs an address of its own: a test asks
// here for a 127.0.0.N on which the port is free at that moment, instead of keeping a list of
// addresses by hand that other tests, or other processes on the host, may be using.
//
// Use:
//   - A peer that binds itself (AgentServer, ReferenceAgent, ScriptedAgent, a TcpListener) is
//     started through StartOnFreeLoopback: the peer's own bind is the probe, so no other process
//     can take the address between the choice and the bind.
//       uint32_t address = StartOnFreeLoopback([&](uint32_t a) { return server.Start(a); });
//       ASSERT_NE(address, 0u);
//   - A client that needs an address where nothing listens takes ProbeFreeLoopback.
//   - Tests that need any TCP port, not the agent port, bind 127.0.0.1 port 0 instead.
//
// Thread-safe. Addresses are in network byte order, as ParseIpv4 gives them.
#ifndef DOCSEC_TESTING_FREE_LOOPBACK_H_
#define DOCSEC_TESTING_FREE_LOOPBACK_H_

#include <cstdint>
#include <functional>

#include "docsec/agent/agent_packet.h"

namespace docsec {
namespace testing {

// Calls `start(address)` for addresses 127.0.0.N (N from 2 to 254, starting at a random one) on
// which `port` looked free to a probing bind, until it returns true, and returns that address.
// `start` makes the peer listen there and returns whether it does; false counts as "address
// taken" and the next one is tried. Returns 0 when no address served within 40 tries.
uint32_t StartOnFreeLoopback(const std::function<bool(uint32_t address)>& start,
                             uint16_t port = AgentPort);

// An address 127.0.0.N on which `port` was free when probed (nothing listened there); 0 when none
// was found. Another process may take it afterwards: for peers, use StartOnFreeLoopback.
uint32_t ProbeFreeLoopback(uint16_t port = AgentPort);

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_FREE_LOOPBACK_H_
