// AgentServer: the network side of the reference agent. It accepts connections on the agent
// port, reads one request packet on each, hands the request document to a handler and sends the
// handler's document back as the reply packet, with exactly the library's framing code.
//
// Each connection is served on a thread of its own, up to a cap; connections beyond the cap are
// closed at once. Every connection is bounded by a deadline that covers its whole exchange, and
// a packet that is malformed, oversized or truncated only ends its own connection. The handler is
// called concurrently from several threads and must be thread-safe; it should not block for long,
// as Stop waits for running handlers.
#ifndef TOOLS_AGENT_AGENT_SERVER_H_
#define TOOLS_AGENT_AGENT_SERVER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "docsec/agent/agent_packet.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/xml.h"

namespace docsec {
namespace agent {

struct AgentServerOptions {
  std::string listen_address;  // dotted IPv4 text
  uint16_t port = AgentPort;
  int max_connections = 64;            // connections served at once
  int connection_deadline_ms = 30000;  // whole exchange: request, handler, reply
};

// Returns the reply document for a request. A null document, a document without root element or
// an exception gives the reply <document><retcode value="1"/></document>.
using AgentRequestHandler = std::function<XmlDocument(const XmlDocument& request)>;

class AgentServer {
 public:
  // Counters since construction, for monitoring and tests.
  struct Stats {
    uint64_t accepted = 0;  // connections taken on
    uint64_t refused = 0;   // connections closed at once because the cap was reached
    uint64_t served = 0;    // exchanges that sent a reply
    uint64_t failed = 0;    // connections ended by a bad or missing request or a failed send
  };

  AgentServer(AgentServerOptions options, AgentRequestHandler handler);
  ~AgentServer();  // Stop()
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;

  // Binds and starts serving. False, with a reason in `error` when given, when the address is not
  // an IPv4 address or cannot be bound, or when already started.
  bool Start(std::string* error);
  // Stops accepting, ends the open connections and waits for their threads. Returns within about
  // the accept poll interval plus the longest running handler. Safe to call twice.
  void Stop();

  Stats stats() const;

 private:
  struct Connection;
  void AcceptLoop();
  void Serve(Connection* connection);
  // Joins and drops finished connections; the caller holds mutex_.
  void ReapLocked();

  const AgentServerOptions options_;
  const AgentRequestHandler handler_;
  TcpListener listener_;
  std::thread accept_thread_;
  std::atomic<bool> stopping_{false};
  bool started_ = false;

  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  int active_ = 0;
  Stats stats_;
};

}  // namespace agent
}  // namespace docsec

#endif  // TOOLS_AGENT_AGENT_SERVER_H_
