#include "tools/agent/agent_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <list>
#include <utility>

#include "docsec/agent/agent_keys.h"
#include "docsec/platform/crypto.h"
#include "docsec/platform/host.h"
#include "tools/agent/agent_peer_channel.h"

namespace docsec {
namespace agent {
namespace {

using Clock = std::chrono::steady_clock;

// The longest the head thread sleeps before it looks at the stop flag and the deadlines again.
constexpr int kPollMs = 50;
// Connections accepted in one round, so that heads already in are read between bursts.
constexpr int kAcceptBurst = 64;

XmlDocument FailureReply() {
  XmlDocument reply = XmlDocument::Create();
  if (reply) {
    reply.CreateDocumentElement("document").AppendElement("retcode").SetAttribute("value", "1");
  }
  return reply;
}

// A connection whose head has not come in whole yet.
struct Pending {
  TcpSocket socket;
  uint32_t source = 0;
  Clock::time_point deadline;
  uint8_t raw[kAgentHeadSize] = {};
  size_t got = 0;
};

enum class HeadRead { kWaiting, kComplete, kEnded };

// Takes what has arrived of the head.
HeadRead ReadHead(Pending* p) {
  while (p->got < kAgentHeadSize) {
    long n = p->socket.ReceiveAvailable(p->raw + p->got, kAgentHeadSize - p->got);
    if (n > 0) {
      p->got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && p->socket.TimedOut()) return HeadRead::kWaiting;
    return HeadRead::kEnded;
  }
  return HeadRead::kComplete;
}

}  // namespace

struct AgentServer::Waiting {
  TcpSocket socket;
  uint32_t source = 0;
  uint32_t length = 0;
  uint8_t plain_head[kAgentHeadSize] = {};
};

class AgentServer::Worker {
 public:
  std::thread thread;
  // Guarded by the server's mutex_: the connection handed over, and the channel being served (for
  // Stop to interrupt).
  std::condition_variable wake;
  std::unique_ptr<Waiting> job;
  AgentChannel* current = nullptr;
  // Kept between connections, so their storage is reused rather than allocated afresh.
  AgentPacket in;
  AgentPacket out;
};

AgentServer::AgentServer(AgentServerOptions options, AgentRequestHandler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {}

AgentServer::~AgentServer() { Stop(); }

bool AgentServer::Start(std::string* error) {
  auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  if (started_) return fail("already started");
  uint32_t address = ParseIpv4(options_.listen_address.c_str());
  if (address == kInvalidIpv4 && options_.listen_address != "255.255.255.255") {
    return fail("not an IPv4 address: \"" + options_.listen_address + "\"");
  }
  if (options_.max_connections < 1 || options_.max_active_per_source < 1 ||
      options_.max_pending_per_source < 1 || options_.max_open < options_.max_connections ||
      options_.head_timeout_ms < 1 || options_.min_bytes_per_second < 1) {
    return fail("connection limits and times must be positive");
  }
  std::string reason;
  if (!listener_.Listen(address, options_.port, options_.backlog, &reason)) {
    return fail(options_.listen_address + ":" + std::to_string(options_.port) + ": " + reason);
  }
  stopping_.store(false);
  started_ = true;
  for (int i = 0; i < options_.max_connections; ++i) {
    workers_.push_back(std::make_unique<Worker>());
    Worker* worker = workers_.back().get();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      idle_.push_back(worker);
    }
    worker->thread = std::thread([this, worker] { RunWorker(worker); });
  }
  head_thread_ = std::thread([this] { WaitForHeads(); });
  return true;
}

void AgentServer::Stop() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
    // Wake every exchange blocked on its peer; each then fails and its worker ends.
    for (auto& worker : workers_) {
      if (worker->current != nullptr) worker->current->Interrupt();
      worker->wake.notify_one();
    }
  }
  if (head_thread_.joinable()) head_thread_.join();
  listener_.Close();
  for (auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  workers_.clear();
  idle_.clear();
  waiting_.clear();
  active_per_source_.clear();
  active_ = 0;
  pending_ = 0;
  started_ = false;
}

AgentServer::Stats AgentServer::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

void AgentServer::WaitForHeads() {
  Aes128Ecb cipher(ChannelKey);
  std::list<Pending> pending;  // oldest first
  std::map<uint32_t, int> pending_per_source;
  auto drop = [&](std::list<Pending>::iterator it) {
    if (--pending_per_source[it->source] == 0) pending_per_source.erase(it->source);
    return pending.erase(it);
  };
  auto count = [&](uint64_t Stats::*counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++(stats_.*counter);
  };
  // A complete head goes to the workers, or ends its connection when it is not a valid head.
  auto complete = [&](std::list<Pending>::iterator it) {
    auto waiting = std::make_unique<Waiting>();
    AgentPacket head;
    if (!AgentPeerChannel::OpenHead(it->raw, cipher, &head, waiting->plain_head)) {
      count(&Stats::failed);
      return drop(it);
    }
    waiting->socket = std::move(it->socket);
    waiting->source = it->source;
    waiting->length = head.length;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.push_back(std::move(waiting));
      DispatchLocked();
    }
    return drop(it);
  };
  // Reads what has come of a head; the iterator after it when the connection left `pending`.
  auto advance = [&](std::list<Pending>::iterator it, bool* left) {
    *left = true;
    switch (ReadHead(&*it)) {
      case HeadRead::kComplete: return complete(it);
      case HeadRead::kEnded: count(&Stats::failed); return drop(it);
      case HeadRead::kWaiting: break;
    }
    *left = false;
    return std::next(it);
  };

  std::vector<TcpSocket*> sockets;
  std::vector<char> readable;
  while (!stopping_.load()) {
    bool may_accept;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_ = static_cast<int>(pending.size());
      may_accept = pending_ + static_cast<int>(waiting_.size()) + active_ < options_.max_open;
    }
    auto now = Clock::now();
    int wait_ms = kPollMs;
    sockets.clear();
    for (Pending& p : pending) {
      sockets.push_back(&p.socket);
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(p.deadline - now).count();
      wait_ms = static_cast<int>(std::max<long long>(0, std::min<long long>(wait_ms, left + 1)));
    }
    bool accept_ready = false;
    if (!WaitForReadable(sockets, may_accept ? &listener_ : nullptr, wait_ms, &readable,
                         &accept_ready)) {
      continue;
    }
    size_t index = 0;
    for (auto it = pending.begin(); it != pending.end(); ++index) {
      bool left = false;
      it = readable[index] ? advance(it, &left) : std::next(it);
    }
    for (int n = 0; accept_ready && n < kAcceptBurst; ++n) {
      TcpSocket socket = listener_.Accept(0);
      if (!socket.IsOpen()) break;
      count(&Stats::accepted);
      uint32_t source = socket.PeerAddress();
      if (pending_per_source[source] >= options_.max_pending_per_source) {
        // The source's oldest connection makes room, unless its head has come in meanwhile.
        for (auto it = pending.begin(); it != pending.end(); ++it) {
          if (it->source != source) continue;
          bool left = false;
          it = advance(it, &left);
          if (!left) {
            drop(std::prev(it));
            count(&Stats::evicted);
          }
          break;
        }
      }
      Pending fresh;
      fresh.socket = std::move(socket);
      fresh.source = source;
      fresh.deadline = Clock::now() + std::chrono::milliseconds(options_.head_timeout_ms);
      pending.push_back(std::move(fresh));
      ++pending_per_source[source];
      bool left = false;
      advance(std::prev(pending.end()), &left);  // the head is often there already
    }
    now = Clock::now();
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->deadline > now) {
        ++it;
        continue;
      }
      count(&Stats::timed_out);
      it = drop(it);
    }
  }
}

bool AgentServer::TakeEligibleLocked(std::unique_ptr<Waiting>* out) {
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    auto active = active_per_source_.find((*it)->source);
    if (active != active_per_source_.end() && active->second >= options_.max_active_per_source) {
      continue;
    }
    *out = std::move(*it);
    waiting_.erase(it);
    return true;
  }
  return false;
}

void AgentServer::DispatchLocked() {
  while (!idle_.empty() && !stopping_.load()) {
    std::unique_ptr<Waiting> job;
    if (!TakeEligibleLocked(&job)) return;
    Worker* worker = idle_.back();
    idle_.pop_back();
    ++active_;
    ++active_per_source_[job->source];
    worker->job = std::move(job);
    worker->wake.notify_one();
  }
}

void AgentServer::RunWorker(Worker* worker) {
  // Time the peer gets to move `bytes`: the head's allowance plus the bytes at the slowest rate
  // still waited for.
  auto peer_time = [this](uint64_t bytes) {
    return std::chrono::milliseconds(options_.head_timeout_ms) +
           std::chrono::milliseconds(bytes * 1000 / options_.min_bytes_per_second);
  };
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    worker->wake.wait(lock, [&] { return stopping_.load() || worker->job != nullptr; });
    if (stopping_.load()) return;
    std::unique_ptr<Waiting> waiting = std::move(worker->job);
    auto channel = std::make_unique<AgentPeerChannel>(std::move(waiting->socket));
    worker->current = channel.get();
    lock.unlock();
    bool sent = false;
    try {
      channel->SetDeadline(Clock::now() + peer_time(waiting->length));
      if (channel->ReceiveRest(&worker->in, waiting->plain_head)) {
        // Parsed in place in the worker's buffer, which is taken back below.
        XmlDocument request = XmlDocument::Create();
        XmlDocument reply;
        if (request.LoadXml(std::move(worker->in.body))) {
          try {
            reply = handler_(request);
          } catch (...) {
            reply = XmlDocument();
          }
        }
        bool encoded = reply && reply.DocumentElement() &&
                       channel->EncodeDocument(&worker->out, reply) &&
                       worker->out.length <= kAgentMaxBodySize;
        if (!encoded) encoded = channel->EncodeDocument(&worker->out, FailureReply());
        // A fresh allowance for the reply: the handler's time was not the peer's.
        channel->SetDeadline(Clock::now() + peer_time(worker->out.length));
        sent = encoded && channel->SendPacket(&worker->out);
        worker->in.body = request.ReleaseText();
      }
    } catch (...) {
      // Out of memory or an XML failure: the connection ends without reply.
      sent = false;
    }
    lock.lock();
    // Counted before the close, which is what the peer sees.
    ++(sent ? stats_.served : stats_.failed);
    worker->current = nullptr;
    channel->Close();  // under the lock: Stop may be interrupting it
    --active_;
    if (--active_per_source_[waiting->source] == 0) active_per_source_.erase(waiting->source);
    idle_.push_back(worker);
    DispatchLocked();
  }
}

}  // namespace agent
}  // namespace docsec
