// The loopback addresses of the tests that run network peers. Each test listens on 127.0.0.N of
// its own, so ctest may run every test at once without two peers fighting over a port. Every N is
// listed here and nowhere else; add new tests to the end of the list. (ICMP echo tests ping
// 127.0.0.77-81 besides; echoes use no port, so they cannot clash.)
#ifndef DOCSEC_TESTING_LOOPBACK_HOSTS_H_
#define DOCSEC_TESTING_LOOPBACK_HOSTS_H_

#include <cstdint>

#include "docsec/platform/host.h"

namespace docsec {
namespace testing {

enum LoopbackHost : uint8_t {
  // docsec/platform/socket_test.cc
  kHostSocketConnectAndEcho = 20,
  kHostSocketRefused = 21,
  kHostSocketTimeoutCap = 22,
  kHostSocketDeadline = 23,
  kHostSocketShutdownWakes = 24,
  kHostSocketAbortResets = 25,
  kHostSocketNoSigpipe = 26,
  // docsec/agent/agent_channel_test.cc
  kHostChannelRoundTrip = 30,
  kHostChannelZeroBody = 31,
  kHostChannelLimitExact = 32,
  kHostChannelLimitOver = 33,
  kHostChannelLimitMultibyte = 34,
  kHostChannelOversizedReply = 35,
  kHostChannelWrongHeadChecksum = 36,
  kHostChannelWrongTrailer = 37,
  kHostChannelTruncated = 38,
  kHostChannelNeverAnswers = 39,
  kHostChannelGarbage = 40,
  kHostChannelResetDuringSend = 41,
  kHostChannelConnectRefused = 42,
  kHostChannelSplitSegments = 44,
  kHostChannelUnparsableReply = 45,
  // docsec/agent/agent_command_test.cc
  kHostCommandSend = 50,
  kHostCommandProbeRunning = 51,
  kHostCommandProbeResults = 52,
  kHostCommandProbeNoAgent = 53,
  kHostCommandIcmpUnusable = 54,
  kHostCommandPing = 55,
  // tools/agent/agent_server_test.cc
  kHostServerServes = 60,
  kHostServerConcurrent = 61,
  kHostServerCap = 62,
  kHostServerOversized = 63,
  kHostServerMalformed = 64,
  kHostServerDeadline = 65,
  kHostServerStopPrompt = 66,
  kHostServerHandlerFailure = 67,
  kHostServerBusyAddress = 68,
  // bench/agent_bench.cc
  kHostBenchExchange = 90,
  kHostBenchRawEcho = 91,
  // tools/agent/reference_agent_test.cc (and 109 in tools/agent/docsec_agent_program_test.sh)
  kHostAgentStatus = 100,
  kHostAgentIdentity = 101,
  kHostAgentListing = 102,
  kHostAgentSearch = 103,
  kHostAgentFileOps = 104,
  kHostAgentEscapes = 105,
  kHostAgentLongListing = 106,
  kHostAgentConcurrent = 107,
  kHostAgentStartFailures = 108,
  kHostAgentProgram = 109,
};

// 127.0.0.`host` in network byte order.
constexpr uint32_t LoopbackAddress(uint8_t host) { return MakeIpv4(127, 0, 0, host); }

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_LOOPBACK_HOSTS_H_
