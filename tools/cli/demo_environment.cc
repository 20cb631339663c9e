#include "tools/cli/demo_environment.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "docsec/agent/agent_packet.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "tools/server/embedded.h"

namespace docsec::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kAgents = 3;
constexpr int kComputersWithoutAgent = 2;
// Seeding hashes every demo password; the demo does not need the full cost of a real server's
// hashes, and a login re-hashes with the full cost anyway.
constexpr int kSeedPasswordIterations = 10000;

std::string DemoUuid(int index) {
  char text[40];
  std::snprintf(text, sizeof text, "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e%02d", 60 + index);
  return text;
}

bool WriteFile(const fs::path& path, const std::string& content) {
  std::error_code ignored;
  fs::create_directories(path.parent_path(), ignored);
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out.flush());
}

// True when nothing listens on the agent port at `address` (a bind there succeeds).
bool AgentPortFree(uint32_t address) {
  TcpListener probe;
  return probe.Listen(address, AgentPort, 1, nullptr);
}

}  // namespace

uint32_t StartOnFreeLoopbackAddress(const std::function<bool(uint32_t address)>& start) {
  constexpr unsigned kFirst = 2, kSpan = 253;  // 127.0.0.1 is left to other programs
  static std::atomic<unsigned> next{static_cast<unsigned>(
      getpid() ^ std::chrono::steady_clock::now().time_since_epoch().count())};
  for (int i = 0; i < 60; ++i) {
    // A step prime to the span visits every host before one repeats.
    const unsigned host = kFirst + next.fetch_add(97) % kSpan;
    const uint32_t address = MakeIpv4(127, 0, 0, static_cast<uint8_t>(host));
    if (start(address)) return address;
  }
  return 0;
}

const std::vector<std::pair<std::string, std::string>>& DemoDocuments() {
  static const std::vector<std::pair<std::string, std::string>> kDocuments = {
      {"Projects\\plan.txt",
       "Project plan: move the storage tier to the new cluster in the third quarter.\n"
       "Owner: Platform. Budget approved in March.\n"},
      {"Projects\\budget.csv", "item,amount\nservers,120000\nlicences,18000\ntraining,6500\n"},
      {"Projects\\contacts.txt", "Supplier contacts for the storage tender (internal only).\n"},
      {"Reports\\q1-summary.txt", "First-quarter summary: revenue up 4%, two new customers.\n"}};
  return kDocuments;
}

std::unique_ptr<DemoEnvironment> DemoEnvironment::Create(const std::string& directory, bool keep,
                                                         std::string* error) {
  std::unique_ptr<DemoEnvironment> environment(new DemoEnvironment);
  std::error_code code;
  if (directory.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/docsec-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      *error = "cannot make a temporary folder for the demo";
      return nullptr;
    }
    environment->directory_ = pattern;
  } else {
    if (fs::exists(directory, code) && !fs::is_empty(directory, code)) {
      *error = "the folder " + directory + " is not empty";
      return nullptr;
    }
    fs::create_directories(directory, code);
    if (code) {
      *error = "cannot make the folder " + directory + ": " + code.message();
      return nullptr;
    }
    environment->directory_ = fs::absolute(directory, code).lexically_normal().string();
    while (environment->directory_.size() > 1 && environment->directory_.back() == '/') {
      environment->directory_.pop_back();
    }
  }
  environment->keep_ = keep;
  if (!environment->SetUp(error)) return nullptr;  // the destructor cleans up
  return environment;
}

bool DemoEnvironment::SetUp(std::string* error) {
  server::DemoOptions options;
  for (int i = 0; i < kAgents; ++i) {
    DemoAgent agent;
    agent.name = "demo-pc-" + std::to_string(i + 1);
    agent.uuid = DemoUuid(i + 1);
    agent.files_dir = directory_ + "/" + agent.name + "/files";
    agent.state_dir = directory_ + "/" + agent.name + "/state";
    for (const auto& [path, text] : DemoDocuments()) {
      std::string relative = path;
      for (char& c : relative) {
        if (c == '\\') c = '/';
      }
      if (!WriteFile(fs::path(agent.files_dir) / relative, text)) {
        *error = "cannot write the sample documents in " + agent.files_dir;
        return false;
      }
    }
    std::string reason;
    std::unique_ptr<agent::ReferenceAgent> started;
    const uint32_t address = StartOnFreeLoopbackAddress([&](uint32_t candidate) {
      agent::ReferenceAgentOptions agent_options;
      agent_options.listen_address = FormatIpv4(candidate);
      agent_options.drives = {{"C:", agent.files_dir}};
      agent_options.uuid = agent.uuid;
      agent_options.state_dir = agent.state_dir;
      started = std::make_unique<agent::ReferenceAgent>(agent_options);
      return started->Start(&reason);
    });
    if (address == 0) {
      *error = "cannot start a demo agent on a loopback address: " + reason;
      return false;
    }
    agent.address = FormatIpv4(address);
    running_.push_back(std::move(started));
    options.computers.push_back({agent.uuid, agent.address, agent.name});
    agents_.push_back(std::move(agent));
  }
  for (int i = 0; i < kComputersWithoutAgent; ++i) {
    const uint32_t address = StartOnFreeLoopbackAddress(AgentPortFree);
    if (address == 0) {
      *error = "no free loopback address for the demo";
      return false;
    }
    options.computers.push_back({DemoUuid(kAgents + i + 1), FormatIpv4(address),
                                 "demo-pc-" + std::to_string(kAgents + i + 1)});
  }

  server::ServerOptions server_options;
  server_options.database = database();
  server_options.password_iterations = kSeedPasswordIterations;
  std::unique_ptr<server::Embedded> embedded = server::Embedded::Start(server_options, error);
  if (!embedded) return false;
  return server::SeedDemo(embedded->server(), options, &summary_, error);
}

DemoEnvironment::~DemoEnvironment() {
  for (auto& agent : running_) agent->Stop();
  running_.clear();
  if (!keep_ && !directory_.empty()) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }
}

std::string DemoEnvironment::AgentCommand(size_t index) const {
  const DemoAgent& agent = agents_.at(index);
  return "docsec-agent --listen " + agent.address + " --drive 'C:=" + agent.files_dir +
         "' --uuid " + agent.uuid + " --state-dir '" + agent.state_dir + "'";
}

}  // namespace docsec::cli
