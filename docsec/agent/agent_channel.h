// AgentChannel: one exchange with a managed computer's agent over TCP. The library side connects,
// sends one request packet carrying an XML document and receives one reply packet; the agent side
// (tools/agent, AgentPeerChannel) adopts an accepted connection and does the reverse with the
// same framing code. Internal: shared by the library and the reference agent through
// docsec_internal, neither installed nor exported.
//
// A channel is closed when made, open after Connect (or adoption), and closed again by Close or
// destruction. It serves one exchange and belongs to one thread; separate channels are
// independent, so exchanges may run on several threads at once. Diagnostics go to the trace sink
// and decide nothing.
//
// Time: the library's exchange has one deadline for the whole of it, connecting, sending and
// receiving (AgentExchangeDeadlineMs in agent_command.h, 300 seconds unless the host sets
// another), checked before every socket call; within it, connecting gives up after 2 seconds. A
// peer that trickles its reply is therefore cut off at the deadline however steadily it sends,
// and a peer that closes early ends a receive at once. SetSocketTimeoutCapForTesting shortens
// the deadline too.
#ifndef DOCSEC_AGENT_AGENT_CHANNEL_H_
#define DOCSEC_AGENT_AGENT_CHANNEL_H_

#include <chrono>
#include <cstdint>

#include "docsec/agent/agent_command.h"
#include "docsec/agent/agent_packet.h"
#include "docsec/platform/crypto.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/xml.h"

namespace docsec {

constexpr int kAgentConnectTimeoutMs = 2000;
constexpr int kAgentIoTimeoutMs = 300000;
// The packet kind the library's commands pass to Exchange (not put on the wire).
constexpr uint32_t kAgentCommandKind = 6;

class AgentChannel {
 public:
  // A closed channel to `address` (IPv4, network byte order); its port is AgentPort.
  explicit AgentChannel(uint32_t address);
  // A channel over a socket already connected: the agent's side of an accepted connection, or a
  // prober that made many connections at once and now talks over each.
  explicit AgentChannel(TcpSocket connected);
  ~AgentChannel();
  AgentChannel(const AgentChannel&) = delete;
  AgentChannel& operator=(const AgentChannel&) = delete;

  uint32_t address() const { return address_; }
  uint16_t port() const { return port_; }
  bool IsOpen() const { return socket_.IsOpen(); }

  // Opens the connection to the address on `port`: send and receive time-outs of 300 s, then a
  // non-blocking connect given 2 s (or what is left before the deadline, if less) to complete.
  // True when usable; true at once when already open. A failed attempt leaves the channel closed.
  bool Connect(uint16_t port);
  // Shuts the connection down both ways and closes it. Safe when closed.
  void Close();
  // Shuts the connection down both ways without closing it, waking a send or receive blocked on
  // another thread (which then fails). The only call that may come from another thread.
  void Interrupt();

  // Bounds every later connect, send and receive of this channel by an absolute deadline.
  void SetDeadline(std::chrono::steady_clock::time_point deadline);

  // Completes the head (length from `packet->length`, head checksum, packet checksum) and sends
  // head, body and trailer. Fails without sending anything when the length exceeds
  // kAgentMaxBodySize or the body holds fewer bytes than the length; fails when a part could not
  // be sent in full. Encrypts the body in place: afterwards the body holds cipher text.
  bool SendPacket(AgentPacket* packet);
  // Receives one packet into `packet` (an earlier body's storage is reused). True when a complete
  // packet with valid checksums arrived; on failure `packet->status` is 1 and no body is kept. A
  // head that announces more than kAgentMaxBodySize bytes fails before any body byte is read.
  bool ReceivePacket(AgentPacket* packet);

  // Puts the document's whole XML text, UTF-8 without byte-order mark or terminator, into the
  // body (replacing the earlier one, reusing its storage). Fails for a null document or when the
  // text is longer than kAgentMaxBodySize UTF-16 code units.
  bool EncodeDocument(AgentPacket* packet, const XmlDocument& document);
  // Loads the packet's body into `document` as XML. Whether it parses is not examined: text that
  // does not parse leaves the document without root element. Fails only for a null document.
  bool DecodeDocument(const AgentPacket& packet, XmlDocument& document);
  // The same, handing the body over to the document, which parses it in place (the packet is left
  // without body).
  bool DecodeDocument(AgentPacket&& packet, XmlDocument& document);

  // The library's whole exchange: Connect(AgentPort), send `request`, receive the reply into
  // `reply`, all within AgentExchangeDeadlineMs. True on success. `kind` is recorded but not put
  // on the wire (the head's kind goes out as 0). The connection stays open until Close or
  // destruction.
  bool Exchange(uint32_t kind, const XmlDocument& request, XmlDocument& reply);
  // Bounds later Exchanges by `ms` where that is shorter than AgentExchangeDeadlineMs: for
  // questions the agent answers without work of its own, so that a peer that accepts and says
  // nothing does not hold the caller for the bound of a long folder operation. 0: no own bound.
  void BoundExchange(int ms) { exchange_bound_ms_ = ms; }

  // Receives a packet and loads it into `document` (ReceivePacket + DecodeDocument).
  bool ReceiveDocument(XmlDocument& document);

 protected:
  // ReceivePacket in two steps, for a server that waits for many heads at once and hands only
  // complete heads to the threads that read bodies. OpenHead decrypts the 16 `raw` bytes into
  // `plain` and fills the packet's head fields; false when the head checksum is wrong or the
  // length is over kAgentMaxBodySize. ReceiveRest then reads body and trailer after that head.
  static bool OpenHead(const uint8_t raw[kAgentHeadSize], Aes128Ecb& cipher, AgentPacket* packet,
                       uint8_t plain[kAgentHeadSize]);
  bool ReceiveRest(AgentPacket* packet, const uint8_t plain_head[kAgentHeadSize]);

 private:
  // Sends one part in full; returns the count sent (for the trace), -1 when nothing went out.
  long SendPart(const uint8_t* data, size_t size, bool more);

  uint32_t address_ = 0;
  uint16_t port_ = AgentPort;
  bool has_deadline_ = false;
  int exchange_bound_ms_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  TcpSocket socket_;
  Aes128Ecb cipher_;  // ChannelKey, prepared once per channel
};

}  // namespace docsec

#endif  // DOCSEC_AGENT_AGENT_CHANNEL_H_
