#include "docsec/computers/connection_probe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "docsec/agent/agent_channel.h"
#include "docsec/channel/outcome.h"
#include "docsec/computers/computer.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"

namespace docsec {
namespace {

using Clock = std::chrono::steady_clock;

// Descriptors left to the rest of the process (its files, the console's own connections) when
// the bound is cut to the descriptor limit.
constexpr size_t kReservedDescriptors = 256;
// While computers wait for a socket, the wait for connections wakes this often to start theirs.
constexpr int kIntakeMs = 5;
// Echoes out at once while the fleet is pinged.
constexpr size_t kPingWindow = 1024;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The agent channel's connection bound, cut by the exchange deadline when that is shorter.
int ConnectBoundMs() { return std::min(kAgentConnectTimeoutMs, AgentExchangeDeadlineMs()); }

class FleetProbe {
 public:
  FleetProbe(const std::vector<CDOComputer*>& computers, const ConnectionProbeOptions& options,
             ConnectionProbeReport* report)
      : computers_(computers), options_(options), report_(report) {
    report_->results.assign(computers.size(), ConnectionProbeResult());
    targets_.resize(computers.size());
    for (size_t i = 0; i < computers.size(); ++i) {
      Target& target = targets_[i];
      if (computers[i] != nullptr && computers[i]->GetProbeTarget(&target.address, &target.uuid)) {
        to_ping_.push_back(i);
      }
    }
  }

  void Run() {
    if (to_ping_.empty()) return;
    Ping();
    if (to_connect_.empty()) return;
    std::vector<std::thread> threads;
    const size_t wanted =
        std::min(to_connect_.size(), static_cast<size_t>(std::max(1, options_.workers)));
    try {
      for (size_t i = 0; i < wanted; ++i) threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Fewer workers than asked only slow the exchanges down.
    }
    if (threads.empty()) {
      ProbeEachInTurn();
      return;
    }
    Connect();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads) thread.join();
  }

 private:
  struct Target {
    uint32_t address = 0;
    Uuid uuid;
    Clock::time_point started;
  };
  struct Connecting {
    size_t index;
    TcpSocket socket;
    Clock::time_point deadline;
  };

  // Without any thread of its own the answering computers are asked one after another.
  void ProbeEachInTurn() {
    for (size_t i : to_connect_) {
      targets_[i].started = Clock::now();
      Finish(i, ProbeAgent(targets_[i].address, targets_[i].uuid));
    }
    to_connect_.clear();
  }

  // Every computer pinged at once; the ones that answer wait for their connections.
  void Ping() {
    std::vector<uint32_t> addresses;
    addresses.reserve(to_ping_.size());
    const Clock::time_point started = Clock::now();
    for (size_t index : to_ping_) {
      addresses.push_back(targets_[index].address);
      targets_[index].started = started;
    }
    std::vector<char> answered;
    PingHosts(addresses, kPingWindow, &answered);
    for (size_t k = 0; k < to_ping_.size(); ++k) {
      const size_t index = to_ping_[k];
      if (answered[k]) {
        to_connect_.push_back(index);
        continue;
      }
      SetOutcome(OutcomeSource::kAgent, -1,
                 FormatIpv4(targets_[index].address) + " does not answer ping", "GetStatus");
      Finish(index, ConnectionPingFailed);
    }
    to_ping_.clear();
  }

  // A worker: status questions over connections that came up.
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stop_ || !to_ask_.empty(); });
      if (to_ask_.empty()) return;
      std::pair<size_t, TcpSocket> job = std::move(to_ask_.front());
      to_ask_.pop_front();
      lock.unlock();
      Finish(job.first, AskConnectedAgentStatus(std::move(job.second), targets_[job.first].uuid,
                                                options_.answer_ms));
      lock.lock();
      --open_;
      intake_.notify_one();
    }
  }

  // The caller's thread: starts the connections of pinged computers, at most `in_flight` sockets
  // open at once, and waits for them together. A connection that comes up goes to the workers.
  void Connect() {
    const size_t in_flight = report_->in_flight;
    const auto bound = std::chrono::milliseconds(ConnectBoundMs());
    std::vector<Connecting> connecting;
    std::vector<TcpSocket*> sockets;
    std::vector<char> ready;
    std::vector<size_t> starting;
    for (;;) {
      bool more_to_come;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (connecting.empty()) {
          // Nothing to watch: sleep until an exchange frees a socket.
          intake_.wait(lock, [&] { return to_connect_.empty() || open_ < in_flight; });
        }
        while (!to_connect_.empty() && open_ < in_flight) {
          starting.push_back(to_connect_.front());
          to_connect_.pop_front();
          ++open_;
        }
        more_to_come = !to_connect_.empty();
        if (connecting.empty() && starting.empty() && !more_to_come) return;
      }
      for (size_t index : starting) Start(index, bound, &connecting);
      starting.clear();
      if (connecting.empty()) continue;

      Clock::time_point first = connecting.front().deadline;
      sockets.clear();
      for (Connecting& c : connecting) {
        sockets.push_back(&c.socket);
        first = std::min(first, c.deadline);
      }
      int wait_ms = static_cast<int>(std::max<long long>(
          0,
          std::chrono::duration_cast<std::chrono::milliseconds>(first - Clock::now()).count() + 1));
      if (more_to_come) wait_ms = std::min(wait_ms, kIntakeMs);
      if (!WaitForWritable(sockets, wait_ms, &ready)) ready.assign(connecting.size(), 0);
      const Clock::time_point now = Clock::now();
      size_t kept = 0;
      for (size_t i = 0; i < connecting.size(); ++i) {
        Connecting& c = connecting[i];
        if (ready[i]) {
          Connected(std::move(c), bound);
        } else if (now >= c.deadline) {
          Failed(c.index,
                 "did not accept a connection within " + std::to_string(bound.count()) + " ms");
        } else {
          if (kept != i) connecting[kept] = std::move(c);
          ++kept;
        }
      }
      connecting.resize(kept);
    }
  }

  void Start(size_t index, std::chrono::milliseconds bound, std::vector<Connecting>* connecting) {
    TcpSocket socket;
    if (!socket.Open() || !socket.SetNonBlocking(true)) {
      Failed(index, "could not be reached: no socket could be opened (system error " +
                        std::to_string(socket.LastError()) + ")");
      return;
    }
    // The probe's own time runs from here: the pings were all under way together.
    targets_[index].started = Clock::now();
    socket.StartConnect(targets_[index].address, AgentPort);
    connecting->push_back({index, std::move(socket), Clock::now() + bound});
  }

  void Connected(Connecting&& c, std::chrono::milliseconds bound) {
    TcpSocket& socket = c.socket;
    if (!socket.WaitWritable(0)) {
      // Refused at once, or another error before the bound; the channel tells the two apart by
      // the time it took, and so does this.
      const bool at_once = Clock::now() - (c.deadline - bound) < bound / 2;
      Failed(c.index, at_once ? "refused the connection (nothing listens there)"
                              : "did not accept a connection within " +
                                    std::to_string(bound.count()) + " ms");
      return;
    }
    if (!socket.SetNonBlocking(false) ||
        !socket.SetTimeouts(kAgentIoTimeoutMs, kAgentIoTimeoutMs)) {
      Failed(c.index, "could not be reached: the connection could not be set up");
      return;
    }
    // Head, body and trailer go out as separate sends, as on the channel's own connections.
    socket.SetNoDelay(true);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      to_ask_.emplace_back(c.index, std::move(socket));
    }
    work_.notify_one();
  }

  // A connection that did not come up: the agent is not running, for the reason given.
  void Failed(size_t index, const std::string& why) {
    SetOutcome(OutcomeSource::kAgent, -1,
               "the agent at " + FormatIpv4(targets_[index].address) + ":" +
                   std::to_string(AgentPort) + " " + why,
               "GetStatus");
    Finish(index, ConnectionAgentNotRunning);
    std::lock_guard<std::mutex> lock(mutex_);
    --open_;
  }

  // Records the status the calling thread's probe ended with, and its outcome as the cause.
  void Finish(size_t index, CEnumComputerConnectionStatus status) {
    ConnectionProbeResult& result = report_->results[index];
    result.probed = true;
    result.status = status;
    if (status != ConnectionRunning) result.cause = LastOutcome().message;
    result.seconds = Seconds(Clock::now() - targets_[index].started);
    computers_[index]->SetConnectionStatus(status);
    if (options_.done) {
      std::lock_guard<std::mutex> lock(done_mutex_);
      options_.done(index);
    }
  }

  const std::vector<CDOComputer*>& computers_;
  const ConnectionProbeOptions& options_;
  ConnectionProbeReport* report_;
  std::vector<Target> targets_;

  std::mutex mutex_;
  std::condition_variable work_;    // workers: a question to ask, or the end
  std::condition_variable intake_;  // the connecting thread: a socket freed
  std::vector<size_t> to_ping_;
  std::deque<size_t> to_connect_;
  std::deque<std::pair<size_t, TcpSocket>> to_ask_;
  size_t open_ = 0;  // sockets connecting, waiting for a worker or in an exchange
  bool stop_ = false;
  std::mutex done_mutex_;
};

}  // namespace

ConnectionProbeReport RefreshConnectionStatuses(const std::vector<CDOComputer*>& computers,
                                                const ConnectionProbeOptions& options) {
  ConnectionProbeReport report;
  const size_t asked = std::max<size_t>(1, options.in_flight);
  const size_t limit = RaiseOpenDescriptorLimit(asked + kReservedDescriptors);
  report.in_flight = asked;
  if (limit < asked + kReservedDescriptors) {
    report.in_flight = limit > 2 * kReservedDescriptors ? limit - kReservedDescriptors
                                                        : std::max<size_t>(1, limit / 2);
    report.note = "the limit of " + std::to_string(limit) + " open descriptors allows " +
                  std::to_string(report.in_flight) + " connections at once, not " +
                  std::to_string(asked) + " (raise it with ulimit -n)";
  }
  FleetProbe probe(computers, options, &report);
  probe.Run();
  return report;
}

}  // namespace docsec
