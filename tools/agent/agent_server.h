// AgentServer: the network side of the reference agent. It accepts connections on the agent
// port, reads one request packet on each, hands the request document to a handler and sends the
// handler's document back as the reply packet, with exactly the library's framing code.
//
// Connections and time:
//   - One thread waits for the request heads of all new connections at once; a connection that
//     has not delivered its 16-byte head within head_timeout_ms is closed. Idle connections
//     therefore hold no worker, and a few seconds is all each one costs.
//   - Each source address may have max_pending_per_source connections waiting for their head;
//     a newer one from the same source takes the place of its oldest idle one, so one host that
//     opens connections and sends nothing cannot crowd out the others, or its own real requests.
//   - Complete heads go to a fixed pool of max_connections workers, at most
//     max_active_per_source of them for one source; the others wait their turn, never refused.
//   - At max_open connections in all, the server stops accepting: new connections wait in the
//     listen backlog instead of being closed.
//   - A worker gives the peer time in proportion to the size it announced to send the body (a
//     base of head_timeout_ms plus the size at min_bytes_per_second), runs the handler without a
//     deadline (the handler bounds its own work), then gives the reply a fresh deadline reckoned
//     the same way. So work done is never lost to a deadline that was meant for the peer.
//   - A packet that is malformed, oversized or truncated only ends its own connection.
//
// Buffers for packets and rendering belong to the workers and keep their storage between
// connections; the most recently idle worker takes the next connection, so a steady stream of
// requests keeps reusing the same warm memory. The handler is called concurrently from several
// workers and must be thread-safe.
#ifndef TOOLS_AGENT_AGENT_SERVER_H_
#define TOOLS_AGENT_AGENT_SERVER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "docsec/agent/agent_packet.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/xml.h"

namespace docsec {
namespace agent {

struct AgentServerOptions {
  std::string listen_address;  // dotted IPv4 text
  uint16_t port = AgentPort;
  int max_connections = 64;  // workers: requests read, handled and answered at once
  int max_active_per_source = 32;
  int max_pending_per_source = 64;       // connections of one source still waiting for their head
  int max_open = 1024;                   // connections held in all, beyond which accepting pauses
  int head_timeout_ms = 5000;            // for the 16-byte head; also the base of every deadline
  int min_bytes_per_second = 64 * 1024;  // the slowest transfer of a body that is waited for
  int backlog = 1024;
};

// Returns the reply document for a request. A null document, a document without root element or
// an exception gives the reply <document><retcode value="1"/></document>. The request document
// is only valid during the call.
using AgentRequestHandler = std::function<XmlDocument(const XmlDocument& request)>;

class AgentServer {
 public:
  // Counters since construction, for monitoring and tests.
  struct Stats {
    uint64_t accepted = 0;   // connections taken on
    uint64_t evicted = 0;    // idle connections closed to make room for their source's newer one
    uint64_t timed_out = 0;  // connections closed because their head did not come in time
    uint64_t served = 0;     // exchanges that sent a reply
    uint64_t failed = 0;     // connections ended by a bad request or a failed receive or send
  };

  AgentServer(AgentServerOptions options, AgentRequestHandler handler);
  ~AgentServer();  // Stop()
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;

  // Binds and starts serving. False, with a reason in `error` when given, when the address is not
  // an IPv4 address or cannot be bound, an option is out of range, or when already started.
  bool Start(std::string* error);
  // Stops accepting, ends the open connections and waits for the workers. Returns within about
  // the poll interval plus the longest running handler. Safe to call twice.
  void Stop();

  Stats stats() const;

 private:
  struct Waiting;  // a connection with its complete head, waiting for a worker
  class Worker;

  void WaitForHeads();
  void RunWorker(Worker* worker);
  // Takes the first waiting connection whose source is below its limit; the caller holds mutex_.
  bool TakeEligibleLocked(std::unique_ptr<Waiting>* out);
  // Hands waiting connections to idle workers, the most recently idle first (its buffers and
  // memory are the warmest); the caller holds mutex_.
  void DispatchLocked();

  const AgentServerOptions options_;
  const AgentRequestHandler handler_;
  TcpListener listener_;
  std::thread head_thread_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::atomic<bool> stopping_{false};
  bool started_ = false;

  mutable std::mutex mutex_;
  std::vector<Worker*> idle_;                     // the most recently idle last
  std::deque<std::unique_ptr<Waiting>> waiting_;  // oldest first
  std::map<uint32_t, int> active_per_source_;
  int active_ = 0;
  int pending_ = 0;  // connections still waiting for their head (mirrored for max_open)
  Stats stats_;
};

}  // namespace agent
}  // namespace docsec

#endif  // TOOLS_AGENT_AGENT_SERVER_H_
