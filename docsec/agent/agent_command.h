// Agent commands: the XML document that names a service of a managed computer's agent, its
// sending over the agent channel and the test of the reply's return code; the ICMP ping; and the
// probe that gives a computer its connection status.
//
// The command and reply documents belong to the caller and live for one operation. IcmpService
// is process-wide: filled once by InitializeIcmp at library start-up, read by every ping.
// Everything here may run on several threads at once (one command each); each call blocks for up
// to 1 s (ping), 2 s (connect) and the channel's send and receive time-outs.
#ifndef DOCSEC_AGENT_AGENT_COMMAND_H_
#define DOCSEC_AGENT_AGENT_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "docsec/platform/export.h"
#include "docsec/platform/uuid.h"
#include "docsec/platform/xml.h"

namespace docsec {

class TcpSocket;  // an internal of the library; the calls that take one are not exported

// A computer's agent connection status, as kept per computer.
enum CEnumComputerConnectionStatus {
  ConnectionNotProbed = 0,        // never probed, or the probe could not build its request
  ConnectionPingFailed = 1,       // no answer to an ICMP echo
  ConnectionAgentNotRunning = 2,  // answers ping; the agent did not answer, failed, is not
                                  // running, or reports another identity
  ConnectionRunning = 3,          // "GetStatus" gave retcode 0, status 0 and the expected UUID
};

// The process-wide ICMP record: whether pinging is possible at all. Written by InitializeIcmp /
// ReleaseIcmp, read by PingHost.
struct IcmpService {
  bool usable = false;
};

// A snapshot of the process-wide record.
DOCSEC_EXPORT IcmpService GetIcmpService();

// Library start-up: decides once how the process sends echoes. When no way can be opened, traces
// "Error: Could not load ICMP.DLL"; when one opens but cannot be set up for echoes, "Error: Error
// loading ICMP.DLL"; either is followed by the system's reason when it gave one. Returns the
// usable flag; pings then fail when false.
DOCSEC_EXPORT bool InitializeIcmp();
// Library shut-down: marks ICMP unusable.
DOCSEC_EXPORT void ReleaseIcmp();
#if defined(DOCSEC_BUILDING_LIBRARY) || defined(DOCSEC_STATIC)
// Tests (static builds only, not exported): forces the usable flag off (false) or restores what
// InitializeIcmp found (true).
void SetIcmpUsableForTesting(bool usable);
#endif

// The bound of a status question (GetStatus) once connected: the agent answers it without work of
// its own, so a peer that accepts and says nothing is not running after this.
constexpr int kAgentStatusAnswerMs = 10000;
// The default bound of one whole exchange with an agent (connecting, sending and receiving).
constexpr int kAgentExchangeDeadlineMs = 300000;
// Sets how long one exchange with an agent may take in all, for every exchange from now on; `ms`
// of 0 or less restores the default. Process-wide and thread-safe: a host that needs answers
// sooner (or can wait longer for large folder operations) sets it once at start-up.
DOCSEC_EXPORT void SetAgentExchangeDeadline(int ms);
// The bound in force (shorter under a test's socket time-out cap).
DOCSEC_EXPORT int AgentExchangeDeadlineMs();

// A new command document <?xml version="1.0"?><document><service value="NAME"/></document>, to
// which the caller appends its elements under the root. A null document when the XML document
// cannot be made.
DOCSEC_EXPORT XmlDocument BuildAgentCommand(const char* service);

// Sends `command` to the agent at `address` (IPv4, network byte order) on AgentPort and returns
// the reply document (which may lack a root element when the reply did not parse), or a null
// document when the exchange failed. Never throws.
DOCSEC_EXPORT XmlDocument SendAgentCommand(uint32_t address, const XmlDocument& command);

// True exactly when the reply has a root element whose child "retcode" has a "value" that reads
// as the integer 0. Never throws.
DOCSEC_EXPORT bool CheckAgentReply(const XmlDocument& reply);

// True when `address` answered one ICMP echo (no payload, time-to-live 255) within 1000 ms;
// false at once when ICMP is not usable.
DOCSEC_EXPORT bool PingHost(uint32_t address);

// Pings every address of `addresses` at once, with up to `window` echoes out at a time, each
// given the same 1000 ms; (*answered)[i] tells whether addresses[i] answered. All false at once
// when ICMP is not usable.
void PingHosts(const std::vector<uint32_t>& addresses, size_t window, std::vector<char>* answered);

// Pings `address`, then asks its agent for "GetStatus" and compares the agent's UUID (as a value)
// with `expected`. Every failure after a successful ping gives ConnectionAgentNotRunning.
DOCSEC_EXPORT CEnumComputerConnectionStatus ProbeAgent(uint32_t address, const Uuid& expected);

// ProbeAgent after its ping and its connection, for probers that ping and connect many computers
// at once: asks the agent behind `connected` (a blocking socket connected to its AgentPort) for
// "GetStatus", giving it `answer_ms` in all (shorter only under the exchange deadline).
// ConnectionRunning or ConnectionAgentNotRunning, with the same outcomes.
CEnumComputerConnectionStatus AskConnectedAgentStatus(TcpSocket connected, const Uuid& expected,
                                                      int answer_ms = kAgentStatusAnswerMs);

}  // namespace docsec

#endif  // DOCSEC_AGENT_AGENT_COMMAND_H_
