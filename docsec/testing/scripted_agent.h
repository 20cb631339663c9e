// ScriptedAgent: a fake agent peer for tests of the agent channel. It listens on a loopback
// address of its own, reads each request packet byte by byte as the wire carries it, and answers as
// told: with a valid reply, or with one of the faults a broken or hostile agent may produce.
//
// Connections are served one after another on a thread of its own. Settings may be changed
// between exchanges; the accessors lock. The destructor stops the peer, ending any connection it
// holds open.
#ifndef DOCSEC_TESTING_SCRIPTED_AGENT_H_
#define DOCSEC_TESTING_SCRIPTED_AGENT_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "docsec/agent/agent_packet.h"
#include "docsec/platform/socket.h"

namespace docsec {
namespace testing {

class ScriptedAgent {
 public:
  enum class Reply {
    kValid,              // a correct packet carrying reply_xml
    kWrongHeadChecksum,  // the head's checksum off by one; only the head is sent, then held open
    kOversizedHead,      // a valid head announcing kAgentMaxBodySize + 1 bytes; held open
    kWrongTrailer,       // head and body correct, the trailer off by one
    kTruncatedHead,      // 10 head bytes, then close
    kTruncatedBody,      // head and half the body, then close
    kTruncatedTrailer,   // head, body and 2 trailer bytes, then close
    kSplitSegments,      // a valid packet sent in pieces of 3 bytes with pauses between them
    kTrickle,            // a valid packet sent one byte every 100 ms, as a peer that stalls
    kNeverAnswer,        // read the request and hold the connection open without answering
    kGarbage,            // 64 random bytes, then close
    kResetWhileReading,  // read 64 KiB of the request, then reset the connection
    kCloseAtOnce,        // close right after accepting, reading nothing
  };

  // What the peer saw of the last connection it served.
  struct Seen {
    int connections = 0;         // connections accepted so far
    int finished = 0;            // connections served to their end and closed
    size_t bytes_received = 0;   // raw bytes read on the last connection
    bool request_valid = false;  // the last request was a complete packet with good checksums
    uint32_t request_kind = 0;   // the kind word of the last request's head
    std::string request_xml;     // the last request's body
  };

  // Listens on `port` of a loopback address free at the time (see free_loopback.h). Check ok()
  // for whether listening worked.
  explicit ScriptedAgent(uint16_t port = AgentPort);
  ~ScriptedAgent();
  ScriptedAgent(const ScriptedAgent&) = delete;
  ScriptedAgent& operator=(const ScriptedAgent&) = delete;

  bool ok() const { return listener_.IsOpen(); }
  const std::string& error() const { return error_; }
  uint32_t address() const { return address_; }

  // The reply to give from now on; `reply_xml` is the body for kinds that carry one.
  void Script(Reply reply, std::string reply_xml = std::string());
  Seen seen() const;
  // Waits up to `timeout_ms` until `count` connections have been served to their end; false on
  // time-out.
  bool WaitFinished(int count, int timeout_ms) const;

  // The encrypted wire form of a packet carrying `body`, as a correct peer sends it.
  static std::string WirePacket(const std::string& body);

 private:
  void Run();
  void Serve(TcpSocket& connection);
  // Reads one request packet from `connection` into seen_; false when it did not come whole.
  bool ReadRequest(TcpSocket& connection, size_t limit);
  // Holds `connection` open until the client closes it or the peer stops.
  void Hold(TcpSocket& connection);
  // Sleeps up to `ms`, waking early when the peer stops; false when stopping.
  bool Pause(int ms);

  uint32_t address_ = 0;
  std::string error_;
  TcpListener listener_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable wake_;
  Reply reply_ = Reply::kValid;
  std::string reply_xml_;
  Seen seen_;
  std::thread thread_;
};

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_SCRIPTED_AGENT_H_
