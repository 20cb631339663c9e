#include "tools/agent/agent_server.h"

#include <chrono>
#include <utility>

#include "docsec/agent/agent_channel.h"
#include "docsec/platform/host.h"

namespace docsec {
namespace agent {
namespace {

// How often the accept loop looks at the stop flag.
constexpr int kAcceptPollMs = 50;

XmlDocument FailureReply() {
  XmlDocument reply = XmlDocument::Create();
  if (reply) {
    reply.CreateDocumentElement("document").AppendElement("retcode").SetAttribute("value", "1");
  }
  return reply;
}

}  // namespace

struct AgentServer::Connection {
  explicit Connection(TcpSocket socket) : channel(std::move(socket)) {}
  AgentChannel channel;
  std::thread thread;
  std::atomic<bool> done{false};
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
  if (options_.max_connections < 1) return fail("max_connections must be at least 1");
  std::string reason;
  if (!listener_.Listen(address, options_.port, 128, &reason)) {
    return fail(options_.listen_address + ":" + std::to_string(options_.port) + ": " + reason);
  }
  stopping_.store(false);
  started_ = true;
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void AgentServer::Stop() {
  if (!started_) return;
  stopping_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  listener_.Close();
  std::list<std::unique_ptr<Connection>> remaining;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    remaining.swap(connections_);
    // Wake every connection blocked on its peer; each then fails its exchange and ends.
    for (auto& c : remaining) c->channel.Interrupt();
  }
  for (auto& c : remaining) {
    if (c->thread.joinable()) c->thread.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = 0;
  started_ = false;
}

AgentServer::Stats AgentServer::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

void AgentServer::ReapLocked() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void AgentServer::AcceptLoop() {
  while (!stopping_.load()) {
    TcpSocket socket = listener_.Accept(kAcceptPollMs);
    std::lock_guard<std::mutex> lock(mutex_);
    ReapLocked();
    if (!socket.IsOpen()) continue;
    if (active_ >= options_.max_connections) {
      ++stats_.refused;
      socket.Close();
      continue;
    }
    ++stats_.accepted;
    ++active_;
    connections_.push_back(std::make_unique<Connection>(std::move(socket)));
    Connection* connection = connections_.back().get();
    connection->thread = std::thread([this, connection] { Serve(connection); });
  }
}

void AgentServer::Serve(Connection* connection) {
  AgentChannel& channel = connection->channel;
  channel.SetDeadline(std::chrono::steady_clock::now() +
                      std::chrono::milliseconds(options_.connection_deadline_ms));
  bool sent = false;
  try {
    XmlDocument request = XmlDocument::Create();
    if (request && channel.ReceiveDocument(request)) {
      XmlDocument reply;
      if (request.DocumentElement()) {
        try {
          reply = handler_(request);
        } catch (...) {
          reply = XmlDocument();
        }
      }
      AgentPacket packet;
      bool encoded = reply && reply.DocumentElement() && channel.EncodeDocument(&packet, reply) &&
                     packet.length <= kAgentMaxBodySize;
      if (!encoded) {
        packet.Clear();
        encoded = channel.EncodeDocument(&packet, FailureReply());
      }
      sent = encoded && channel.SendPacket(&packet);
    }
  } catch (...) {
    // Out of memory or an XML failure: the connection ends without reply.
    sent = false;
  }
  // Closed here rather than when reaped, so the client sees the end at once; under the lock,
  // because Stop may be interrupting this socket from its own thread.
  std::lock_guard<std::mutex> lock(mutex_);
  channel.Close();
  ++(sent ? stats_.served : stats_.failed);
  --active_;
  connection->done.store(true);
}

}  // namespace agent
}  // namespace docsec
