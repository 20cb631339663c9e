// ReferenceAgent: the whole reference agent in one object, an AgentService answering requests
// behind an AgentServer listening on the agent port. Tests run it in-process on a loopback
// address of their own; the docsec-agent program runs one until it is told to stop.
//
// Ownership: the agent owns its service and server. The service lives from the first successful
// Start to the agent's destruction, so its counters stay readable after Stop. Thread safety:
// Start and Stop are called from one thread; the accessors may be read from any thread while the
// agent runs.
#ifndef DOCSEC_TOOLS_AGENT_REFERENCE_AGENT_H_
#define DOCSEC_TOOLS_AGENT_REFERENCE_AGENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "docsec/agent/agent_packet.h"
#include "tools/agent/agent_server.h"
#include "tools/agent/agent_service.h"

namespace docsec::agent {

struct ReferenceAgentOptions {
  std::string listen_address;  // dotted IPv4 text
  std::vector<AgentDrive> drives;
  std::string uuid;       // empty: the one kept in state_dir, generated on first start
  std::string state_dir;  // required: keeps the identity and the file key
  uint16_t port = AgentPort;
  int max_connections = 64;
  int head_timeout_ms = AgentServerOptions().head_timeout_ms;
  int work_budget_ms = AgentServiceOptions().work_budget_ms;
  int lock_wait_ms = AgentServiceOptions().lock_wait_ms;
  ReplacementGroup::Limits replacement_limits;
  ItemHook before_item;  // test seam, see AgentServiceOptions
};

class ReferenceAgent {
 public:
  explicit ReferenceAgent(ReferenceAgentOptions options);
  ~ReferenceAgent();  // Stop()
  ReferenceAgent(const ReferenceAgent&) = delete;
  ReferenceAgent& operator=(const ReferenceAgent&) = delete;

  // Opens the drives and the state, then binds and serves. False with a reason in *error when
  // any of it fails or the agent already runs; nothing is left running then.
  bool Start(std::string* error);
  // Stops serving and waits for running exchanges. Safe to call twice or before Start.
  void Stop();

  bool running() const { return server_ != nullptr; }
  const ReferenceAgentOptions& options() const { return options_; }
  // The service, or null before the first successful Start.
  AgentService* service() const { return service_.get(); }
  // The identity; nil before the first successful Start.
  Uuid uuid() const { return service_ ? service_->uuid() : Uuid(); }
  // Counters of the network side; zero when not running.
  AgentServer::Stats stats() const;

 private:
  ReferenceAgentOptions options_;
  std::unique_ptr<AgentService> service_;
  std::unique_ptr<AgentServer> server_;
};

// The docsec-agent command line, read into options.
struct AgentCommandLine {
  ReferenceAgentOptions options;
  bool help = false;     // --help: print the usage and exit
  bool verbose = false;  // --verbose: diagnostics to standard error
};

// Reads the arguments after the program name. False with a one-line reason in *error for an
// unknown option, a missing value, a bad drive or a missing --listen or --drive (unless --help).
// A missing --state-dir is filled in from `default_state_dir`.
bool ParseAgentCommandLine(const std::vector<std::string>& args,
                           const std::string& default_state_dir, AgentCommandLine* command_line,
                           std::string* error);

// The usage text that --help prints.
std::string AgentUsage();

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_REFERENCE_AGENT_H_
