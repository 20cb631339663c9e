// The connection status of many computers at once. A probe of one computer pings it, connects to
// its agent and asks for "GetStatus"; most of its time is waiting (a computer that is switched off
// or behind a firewall holds its probe for the 1 s ping and the 2 s connection bound). Here every
// computer is pinged at once from one socket, then the connections of those that answered are
// made together from one thread, as non-blocking connects watched by one wait, while a few worker
// threads hold the short exchanges. A fleet of thousands with a tenth unreachable so takes about
// one ping time-out and one connection bound.
//
// Ownership: the computers stay the caller's; each one's connection status is set as
// RefreshConnectionStatus sets it, by whichever thread finishes its probe. Thread safety: the
// call blocks its caller until every computer is done; the computers must not be used elsewhere
// meanwhile. The done callback runs on the worker threads, one call at a time.
#ifndef DOCSEC_COMPUTERS_CONNECTION_PROBE_H_
#define DOCSEC_COMPUTERS_CONNECTION_PROBE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "docsec/agent/agent_command.h"
#include "docsec/platform/export.h"

namespace docsec {

class CDOComputer;

struct ConnectionProbeOptions {
  // Sockets open at once (connections being made and exchanges under way); it bounds the
  // descriptors the probe holds. At least 1. Lowered to what the descriptor limit allows.
  size_t in_flight = 1024;
  // Threads that hold the status exchanges, the caller's own thread not counted. At least 1.
  int workers = 16;
  // How long a connected agent has to answer the status question (kAgentStatusAnswerMs by
  // default): one that accepts and says nothing is reported not running after it, and holds a
  // worker no longer.
  int answer_ms = kAgentStatusAnswerMs;
  // After each computer's probe, with its index in the list.
  std::function<void(size_t index)> done;
};

struct ConnectionProbeResult {
  bool probed = false;  // false: not approved, or no usable address or UUID; status untouched
  CEnumComputerConnectionStatus status = ConnectionNotProbed;
  std::string cause;  // why the agent is not running, as the outcome says it; empty if it is
  // The probe's own time: for a computer that did not answer ping, the wait for the pings; else
  // from the start of its connection to the end (its ping took its share of one wait for all).
  double seconds = 0.0;
};

struct ConnectionProbeReport {
  std::vector<ConnectionProbeResult> results;  // one a computer, in the list's order
  size_t in_flight = 0;                        // the bound used
  // Empty, or why the bound is lower than asked (the descriptor limit), in words for a person.
  std::string note;
};

// Probes every computer of `computers` (null entries are passed over as not probed) and sets
// each one's connection status, with the same statuses and causes as RefreshConnectionStatus.
DOCSEC_EXPORT ConnectionProbeReport RefreshConnectionStatuses(
    const std::vector<CDOComputer*>& computers, const ConnectionProbeOptions& options);

}  // namespace docsec

#endif  // DOCSEC_COMPUTERS_CONNECTION_PROBE_H_
