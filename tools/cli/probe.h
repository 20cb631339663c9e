// Probe: the agent connection status of every computer of a department sub-tree. Each probe
// pings the computer and asks its agent for its status; one that gets no answer waits out the
// ping's and the connection's time-outs (up to 3 s), so probing a few hundred computers one after
// another takes minutes while most of the time is waiting. The probes therefore overlap: many
// connections are made at once from one thread (RefreshConnectionStatuses), while a few workers
// ping and exchange; the older way, one worker a probe from start to end, stays selectable.
//
// Ownership: the computers stay the tree's; each probe touches only its own computer's connection
// status, as separate computers may be probed concurrently. Thread safety: ProbeComputers blocks
// its caller; the progress callback runs on the workers' threads, one call at a time.
#ifndef DOCSEC_TOOLS_CLI_PROBE_H_
#define DOCSEC_TOOLS_CLI_PROBE_H_

#include <functional>
#include <string>
#include <vector>

namespace docsec {
class CDOComputer;
class CDODepartment;
}  // namespace docsec

namespace docsec::cli {

struct ProbeRow {
  std::string name;
  std::string address;
  std::string department_path;
  // "running", "agent not running", "no ping answer", "not approved", "not probed".
  std::string status;
  int status_code = 0;  // the connection status (0 to 3)
  // Why a probed computer is not running, in the probe's words (nothing listens, no reply, the
  // agent answers as another computer); "" when running or not probed.
  std::string cause;
  double seconds = 0.0;  // how long the probe took
};

struct ProbeOptions {
  int parallel = 8;  // workers that ping and exchange; at least 1
  // Connections made at once, which bounds the sockets open at once. 0 probes the older way:
  // each worker takes one computer through ping, connection and exchange before the next.
  size_t in_flight = 1024;
  // After each probe: the row, how many are done and how many there are in all.
  std::function<void(const ProbeRow& row, size_t done, size_t total)> progress;
};

struct ProbeReport {
  std::vector<ProbeRow> rows;   // in tree order, whatever order the probes finished in
  double wall_seconds = 0.0;    // from the first probe's start to the last one's end
  double serial_seconds = 0.0;  // the sum of the probes' own times
  // Empty, or why fewer connections were made at once than asked (the descriptor limit).
  std::string note;
};

// The computers of `top` and every department below it, depth first, own ones first.
std::vector<CDOComputer*> ComputersOfSubTree(CDODepartment* top);

// Probes every computer of `computers` (as RefreshConnectionStatus does; a computer not approved
// is not probed and says so) with `options.parallel` workers and `options.in_flight` connections
// at once.
ProbeReport ProbeComputers(const std::vector<CDOComputer*>& computers, const ProbeOptions& options);

// The word for a connection status (0 to 3).
const char* ConnectionStatusText(int status);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_PROBE_H_
