// The library's whole exchange with an agent: one deadline over connect, send and receive, and
// the outcome recorded for the console. The agent side has no use for it, so it lives with the
// library's commands rather than with the channel's framing.
#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_command.h"
#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/platform/host.h"
#include "docsec/platform/thread_slot.h"

namespace docsec {
namespace {

std::atomic<int> g_exchange_deadline_ms{kAgentExchangeDeadlineMs};

}  // namespace

void SetAgentExchangeDeadline(int ms) {
  g_exchange_deadline_ms.store(ms > 0 ? ms : kAgentExchangeDeadlineMs);
}

int AgentExchangeDeadlineMs() {
  int ms = g_exchange_deadline_ms.load();
  int cap = SocketTimeoutCapForTesting();
  return cap > 0 ? std::min(ms, cap) : ms;
}

bool AgentChannel::Exchange(uint32_t kind, const XmlDocument& request, XmlDocument& reply) {
  // One bound for the whole exchange: per-call time-outs alone would let a peer that sends a byte
  // now and then hold the caller for as long as it likes.
  const auto started = std::chrono::steady_clock::now();
  int bound_ms = AgentExchangeDeadlineMs();
  if (exchange_bound_ms_ > 0) bound_ms = std::min(bound_ms, exchange_bound_ms_);
  SetDeadline(started + std::chrono::milliseconds(bound_ms));
  auto fail = [&](const std::string& why) {
    SetOutcome(OutcomeSource::kAgent, -1,
               "the agent at " + FormatIpv4(address_) + ":" + std::to_string(AgentPort) + " " + why,
               RequestOperationName(request));
    return false;
  };
  if (!Connect(AgentPort)) {
    // A refused connection fails at once; one that nobody answers waits out the bound.
    const bool at_once = std::chrono::steady_clock::now() - started <
                         std::chrono::milliseconds(kAgentConnectTimeoutMs / 2);
    return fail(at_once ? "refused the connection (nothing listens there)"
                        : "did not accept a connection within " +
                              std::to_string(kAgentConnectTimeoutMs) + " ms");
  }
  // The request's storage is kept per thread: a console that talks to agents in a loop renders
  // into memory it already has. (The reply's storage becomes the reply document's own.)
  AgentPacket& out = PerThread<AgentPacket>();
  AgentPacket in;
  // The kind is the caller's label for the exchange; agents expect 0 in the head.
  (void)kind;
  if (!EncodeDocument(&out, request)) return fail("was not sent a command: it is too large");
  if (!SendPacket(&out)) return fail("did not take the command (connection closed or timed out)");
  if (!ReceivePacket(&in)) {
    const bool timed_out =
        std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(bound_ms);
    return fail(timed_out ? "sent no reply within " + std::to_string(bound_ms) + " ms"
                          : "sent no reply (connection closed, or a damaged packet)");
  }
  if (!DecodeDocument(std::move(in), reply)) return fail("sent a reply that cannot be read");
  SetOutcomeOk(RequestOperationName(request));
  return true;
}

}  // namespace docsec
