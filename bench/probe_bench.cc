// `docsec probe` over 200 computers, run through the console's RunCli as a user runs it: 20 have
// a reference agent on a loopback address, the other 180 sit at loopback addresses where nothing
// listens (the agent's connection is refused at once). The figure is the speed-up of --parallel 32
// over the serial sum, the probes' own times added up (what probing one computer after another
// costs); --parallel 1 runs in the same program as the measured serial wall time. On loopback a
// refused probe takes a fraction of a millisecond, so that fleet measures the prober's overhead;
// the stalled fleet, whose every probe waits 2 s, measures what parallel probing is for.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "docsec/agent/agent_channel.h"
#include "docsec/computers/computer.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/reference_agent.h"
#include "tools/cli/cli.h"
#include "tools/cli/probe.h"
#include "tools/server/demo_data.h"
#include "tools/server/embedded.h"

namespace docsec {
namespace {

constexpr int kComputers = 200;
constexpr int kAgents = 20;
// The stalled fleet: agents that never take the connection (a full accept queue), so each probe
// waits out the 2 s connection time-out, as a computer that is switched off or behind a firewall
// makes it wait.
constexpr int kStalled = 64;

// Peers on loopback addresses for a fleet, and the folder they keep their state in: agents, and
// black holes, listeners whose accept queue is full so that connections get no answer at all
// and each probe waits out the 2 s connection time-out, as a computer that is switched off or
// behind a firewall makes it wait.
class LoopbackPeers {
 public:
  ~LoopbackPeers() {
    agents.clear();
    queued_.clear();
    holes_.clear();
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
  // Makes the folder from a mkdtemp pattern; false when it cannot.
  bool MakeDirectory(std::string pattern) {
    if (mkdtemp(&pattern[0]) == nullptr) return false;
    directory = pattern;
    std::filesystem::create_directories(directory + "/share");
    return true;
  }
  // A black hole at `address`; false when something listens there already.
  bool AddBlackHole(uint32_t address) {
    auto listener = std::make_unique<TcpListener>();
    if (!listener->Listen(address, AgentPort, 0, nullptr)) return false;
    // One connection fills a queue of length 0.
    TcpSocket client;
    if (!client.Connect(address, AgentPort, 200)) return false;
    queued_.push_back(std::move(client));
    holes_.push_back(std::move(listener));
    return true;
  }

  std::string directory;
  std::vector<std::unique_ptr<agent::ReferenceAgent>> agents;

 private:
  std::vector<std::unique_ptr<TcpListener>> holes_;
  std::vector<TcpSocket> queued_;
};

// The organisation, its database and the agents, made once for every benchmark here.
class ProbeFleet {
 public:
  static ProbeFleet& Get() {
    static ProbeFleet fleet(kAgents, kComputers - kAgents, 0);
    return fleet;
  }
  static ProbeFleet& Stalled() {
    static ProbeFleet fleet(0, 0, kStalled);
    return fleet;
  }
  bool ok() const { return ok_; }
  const std::string& database() const { return database_; }

 private:
  ProbeFleet(int agents, int silent, int stalled) {
    if (!peers_.MakeDirectory("/tmp/docsec-probe-bench-XXXXXX")) {
      std::fprintf(stderr, "probe benchmark: no temporary folder\n");
      return;
    }
    const std::string& directory_ = peers_.directory;
    database_ = directory_ + "/docsec.db";
    server::DemoOptions options;
    options.log_count = 0;
    for (int i = 0; i < agents; ++i) {
      std::unique_ptr<agent::ReferenceAgent> started;
      std::string reason;
      char uuid[40];
      std::snprintf(uuid, sizeof uuid, "0b0e0c0d-0000-4000-8000-%012d", i);
      const uint32_t address = testing::StartOnFreeLoopback([&](uint32_t candidate) {
        agent::ReferenceAgentOptions agent_options;
        agent_options.listen_address = FormatIpv4(candidate);
        agent_options.drives = {{"C:", directory_ + "/share"}};
        agent_options.uuid = uuid;
        agent_options.state_dir = directory_ + "/state-" + std::to_string(i);
        started = std::make_unique<agent::ReferenceAgent>(agent_options);
        return started->Start(&reason);
      });
      if (address == 0) {
        std::fprintf(stderr, "probe benchmark: no agent started: %s\n", reason.c_str());
        return;
      }
      peers_.agents.push_back(std::move(started));
      options.computers.push_back({uuid, FormatIpv4(address), "agent-" + std::to_string(i)});
    }
    // The rest on 127.88.x.y, away from the 127.0.0.x that tests use, where nothing listens.
    for (int i = agents, host = 0; i < agents + silent; ++host) {
      const uint32_t address =
          MakeIpv4(127, 88, static_cast<uint8_t>(host / 250), static_cast<uint8_t>(1 + host % 250));
      TcpListener probe;
      if (!probe.Listen(address, AgentPort, 1, nullptr)) continue;
      char uuid[40];
      std::snprintf(uuid, sizeof uuid, "0b0e0c0d-0000-4000-8000-%012d", i);
      options.computers.push_back({uuid, FormatIpv4(address), "silent-" + std::to_string(i)});
      ++i;
    }
    for (int i = 0, host = 0; i < stalled && host < 250; ++host) {
      const uint32_t address = MakeIpv4(127, 89, 0, static_cast<uint8_t>(1 + host));
      if (!peers_.AddBlackHole(address)) continue;
      char uuid[40];
      std::snprintf(uuid, sizeof uuid, "0b0e0c0d-0000-4000-8001-%012d", i);
      options.computers.push_back({uuid, FormatIpv4(address), "stalled-" + std::to_string(i)});
      ++i;
    }
    server::ServerOptions server_options;
    server_options.database = database_;
    server_options.password_iterations = 1000;
    std::string error;
    std::unique_ptr<server::Embedded> embedded = server::Embedded::Start(server_options, &error);
    if (!embedded || !server::SeedDemo(embedded->server(), options, nullptr, &error)) {
      std::fprintf(stderr, "probe benchmark: %s\n", error.c_str());
      return;
    }
    // Every computer approved, so every one is probed.
    embedded->server().storage().Run(
        server::Storage::Access::kWrite, server::Storage::Clock::time_point::max(),
        [](server::Transaction& tx) { tx.Execute("UPDATE computers SET is_approved = 1"); });
    setenv("DOCSEC_BENCH_PASSWORD", "demo-admin", 1);
    ok_ = true;
  }
  LoopbackPeers peers_;
  bool ok_ = false;
  std::string database_;
};

// One `docsec probe --json` run; its report, or null JSON when it failed.
nlohmann::json Probe(const ProbeFleet& fleet, int parallel) {
  std::ostringstream out, err;
  const int status = cli::RunCli(
      {"--embedded", fleet.database(), "--user", "admin", "--password-env", "DOCSEC_BENCH_PASSWORD",
       "--json", "probe", "--parallel", std::to_string(parallel)},
      out, err);
  if (status != 0) return nullptr;
  return nlohmann::json::parse(out.str(), nullptr, false);
}

void RunProbes(benchmark::State& state, const ProbeFleet& fleet) {
  if (!fleet.ok()) {
    state.SkipWithError("the computers could not be set up");
    return;
  }
  const int parallel = static_cast<int>(state.range(0));
  double wall = 0, serial = 0;
  size_t running = 0, probed = 0;
  for (auto _ : state) {
    nlohmann::json report = Probe(fleet, parallel);
    if (report.is_null() || !report.contains("computers")) {
      state.SkipWithError("docsec probe failed");
      return;
    }
    wall += report["wallSeconds"].get<double>();
    serial += report["serialSeconds"].get<double>();
    probed = report["computers"].size();
    running = 0;
    for (const auto& row : report["computers"]) running += row["status"] == "running";
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["computers"] = static_cast<double>(probed);
  state.counters["running"] = static_cast<double>(running);
  state.counters["wall_ms"] = wall / runs * 1000;
  state.counters["serial_sum_ms"] = serial / runs * 1000;
  state.counters["speedup"] = wall > 0 ? serial / wall : 0;
}

void BM_DocsecProbe200(benchmark::State& state) { RunProbes(state, ProbeFleet::Get()); }
BENCHMARK(BM_DocsecProbe200)->Arg(1)->Arg(32)->Iterations(3)->Unit(benchmark::kMillisecond);

// Only in parallel: one after another the stalled fleet takes over two minutes.
void BM_DocsecProbeStalled64(benchmark::State& state) { RunProbes(state, ProbeFleet::Stalled()); }
BENCHMARK(BM_DocsecProbeStalled64)->Arg(32)->Iterations(1)->Unit(benchmark::kMillisecond);

// The fleet: 10,000 computers on loopback addresses 127.131.x.y, away from the ranges above and
// the 127.0.0.x of tests. A reference agent runs on 50 of them; 1,000 (one in ten, spread over
// the fleet) are black holes, listeners whose accept queue is full so that connections get no
// answer at all and each probe waits out the connection bound; nothing listens on the rest, whose
// connections are refused at once. The computers are the library's own objects, probed by the
// console's probe engine without a server. The figure is the wall time against the connection
// bound (bound_ratio, at most 3 wanted).
constexpr int kFleet = 10000;
constexpr int kFleetAgents = 50;
constexpr int kFleetStalled = 1000;

class LargeFleet {
 public:
  static LargeFleet& Get() {
    static LargeFleet fleet;
    return fleet;
  }
  bool ok() const { return ok_; }
  const std::vector<CDOComputer*>& computers() const { return pointers_; }

 private:
  LargeFleet() {
    if (!peers_.MakeDirectory("/tmp/docsec-fleet-bench-XXXXXX")) return;
    const std::string& directory_ = peers_.directory;
    int agents = 0, stalled = 0;
    for (int i = 0, host = 0; i < kFleet && host < 250 * 250; ++host) {
      const uint32_t address = MakeIpv4(127, 131, static_cast<uint8_t>(host / 250),
                                        static_cast<uint8_t>(1 + host % 250));
      char uuid[40];
      std::snprintf(uuid, sizeof uuid, "0f1e2d3c-0000-4000-8000-%012d", i);
      // Agents and black holes spread evenly: every 200th an agent, every 10th a black hole.
      if (i % (kFleet / kFleetAgents) == 0 && agents < kFleetAgents) {
        agent::ReferenceAgentOptions options;
        options.listen_address = FormatIpv4(address);
        options.drives = {{"C:", directory_ + "/share"}};
        options.uuid = uuid;
        options.state_dir = directory_ + "/state-" + std::to_string(i);
        auto started = std::make_unique<agent::ReferenceAgent>(options);
        std::string reason;
        if (!started->Start(&reason)) continue;  // the address is taken: try the next one
        peers_.agents.push_back(std::move(started));
        ++agents;
      } else if (i % (kFleet / kFleetStalled) == 5 && stalled < kFleetStalled) {
        if (!peers_.AddBlackHole(address)) continue;
        ++stalled;
      } else {
        TcpListener probe;
        if (!probe.Listen(address, AgentPort, 1, nullptr)) continue;  // somebody listens there
      }
      auto computer = std::make_unique<CDOComputer>();
      computer->SetIp(FormatIpv4(address).c_str());
      computer->SetUuid(uuid);
      computer->SetIsApproved(true);
      char name[32];
      std::snprintf(name, sizeof name, "fleet-%d", i);
      computer->SetName(name);
      pointers_.push_back(computer.get());
      computers_.push_back(std::move(computer));
      ++i;
    }
    ok_ = pointers_.size() == static_cast<size_t>(kFleet) && agents == kFleetAgents &&
          stalled == kFleetStalled;
    if (!ok_) {
      std::fprintf(stderr, "fleet benchmark: %zu computers, %d agents, %d black holes\n",
                   pointers_.size(), agents, stalled);
    }
  }
  // Declared after the peers, the computers go first.
  LoopbackPeers peers_;
  bool ok_ = false;
  std::vector<std::unique_ptr<CDOComputer>> computers_;
  std::vector<CDOComputer*> pointers_;
};

// Arg: connections at once; 0 is the older engine, one worker a probe from start to end.
void RunFleet(benchmark::State& state) {
  LargeFleet& fleet = LargeFleet::Get();
  if (!fleet.ok()) {
    state.SkipWithError("the fleet could not be set up");
    return;
  }
  if (!GetIcmpService().usable) {
    state.SkipWithError("no ICMP socket may be opened by this process");
    return;
  }
  cli::ProbeOptions options;
  options.parallel = 32;
  options.in_flight = static_cast<size_t>(state.range(0));
  size_t running = 0, refused = 0, timed_out = 0, other = 0;
  double wall = 0;
  std::string other_cause;
  for (auto _ : state) {
    const cli::ProbeReport report = cli::ProbeComputers(fleet.computers(), options);
    wall += report.wall_seconds;
    running = refused = timed_out = other = 0;
    for (const cli::ProbeRow& row : report.rows) {
      if (row.status_code == ConnectionRunning) {
        ++running;
      } else if (row.cause.find("refused the connection") != std::string::npos) {
        ++refused;
      } else if (row.cause.find("did not accept") != std::string::npos) {
        ++timed_out;
      } else {
        ++other;
        other_cause = row.name + " " + row.status + " after " + std::to_string(row.seconds) +
                      " s: " + row.cause;
      }
    }
  }
  if (!other_cause.empty()) {
    std::fprintf(stderr, "fleet benchmark: for example %s\n", other_cause.c_str());
  }
  state.counters["computers"] = kFleet;
  state.counters["running"] = static_cast<double>(running);
  state.counters["refused"] = static_cast<double>(refused);
  state.counters["timed_out"] = static_cast<double>(timed_out);
  state.counters["other"] = static_cast<double>(other);
  state.counters["connect_bound_ms"] = kAgentConnectTimeoutMs;
  // The wall time of one probe of the whole fleet, in connection bounds.
  state.counters["bound_ratio"] =
      wall * 1000 / static_cast<double>(state.iterations()) / kAgentConnectTimeoutMs;
}

void BM_ProbeFleet10000(benchmark::State& state) { RunFleet(state); }
BENCHMARK(BM_ProbeFleet10000)
    ->Arg(1024)
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The older engine over the same fleet, for comparison: over a minute.
void BM_ProbeFleet10000OneProbeAWorker(benchmark::State& state) { RunFleet(state); }
BENCHMARK(BM_ProbeFleet10000OneProbeAWorker)
    ->Arg(0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace docsec
