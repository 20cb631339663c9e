// DemoEnvironment: everything `docsec demo` runs against. A folder holding a server database
// seeded with the demo organisation, and three reference agents on free loopback addresses
// 127.0.0.x, each serving a folder of sample documents as drive C:. Two more computers of the
// demo sit at loopback addresses where nothing listens, so a probe shows every kind of answer.
//
// The database is seeded and closed again: consoles open it themselves (`docsec --embedded
// FILE`). The agents run in this process until the environment dies.
//
// Ownership: the environment owns its agents and, unless kept, its folder, which it removes when
// it dies. Thread safety: one thread at a time; the agents serve on their own threads.
#ifndef DOCSEC_TOOLS_CLI_DEMO_ENVIRONMENT_H_
#define DOCSEC_TOOLS_CLI_DEMO_ENVIRONMENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/agent/reference_agent.h"
#include "tools/server/demo_data.h"

namespace docsec::cli {

struct DemoAgent {
  std::string name;     // the computer's name in the demo organisation
  std::string address;  // dotted 127.0.0.x
  std::string uuid;
  std::string files_dir;  // served as drive C:
  std::string state_dir;  // the agent's identity and file key
};

class DemoEnvironment {
 public:
  // Sets the environment up in `directory` (created; it must be absent or empty), or in a fresh
  // temporary folder when `directory` is empty. With `keep` the folder stays when the environment
  // dies. Null with a one-line reason in *error; nothing is left running then.
  static std::unique_ptr<DemoEnvironment> Create(const std::string& directory, bool keep,
                                                 std::string* error);
  ~DemoEnvironment();
  DemoEnvironment(const DemoEnvironment&) = delete;
  DemoEnvironment& operator=(const DemoEnvironment&) = delete;

  const std::string& directory() const { return directory_; }
  std::string database() const { return directory_ + "/docsec.db"; }
  const std::vector<DemoAgent>& agents() const { return agents_; }
  // The seeded accounts with their passwords, and the organisation's counts.
  const server::DemoSummary& summary() const { return summary_; }
  // The command that starts agent `index` again by hand, serving the same folder with the same
  // identity and key (so files it encrypted stay readable).
  std::string AgentCommand(size_t index) const;

 private:
  DemoEnvironment() = default;
  bool SetUp(std::string* error);

  std::string directory_;
  bool keep_ = false;
  std::vector<DemoAgent> agents_;
  std::vector<std::unique_ptr<agent::ReferenceAgent>> running_;
  server::DemoSummary summary_;
};

// Calls `start(address)` for loopback addresses 127.0.0.N, N from 2 to 254 beginning at a
// varying one, until it gives true, and gives that address (network byte order); 0 after 60
// refusals. `start` binds the peer itself, so no other process can take the address in between.
uint32_t StartOnFreeLoopbackAddress(const std::function<bool(uint32_t address)>& start);

// Text of each sample document the demo agents serve, by path under drive C: ("\" separated).
const std::vector<std::pair<std::string, std::string>>& DemoDocuments();

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_DEMO_ENVIRONMENT_H_
