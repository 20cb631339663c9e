// AgentPeerChannel: the agent's side of the agent channel. It adopts an accepted connection,
// reads a command in two steps (the server waits for many heads at once and hands complete heads
// to the threads that read bodies) and writes the reply (EncodeDocument, SendPacket), with the
// framing the library uses for its side. Only the agent reads commands this way, so this half is
// not in the library.
#ifndef DOCSEC_TOOLS_AGENT_AGENT_PEER_CHANNEL_H_
#define DOCSEC_TOOLS_AGENT_AGENT_PEER_CHANNEL_H_

#include <utility>

#include "docsec/agent/agent_channel.h"

namespace docsec {
namespace agent {

class AgentPeerChannel : public AgentChannel {
 public:
  // A channel over an accepted, connected socket; its address is the peer's.
  explicit AgentPeerChannel(TcpSocket connected) : AgentChannel(std::move(connected)) {}

  // OpenHead decrypts a head read by the caller; ReceiveRest reads body and trailer after it.
  using AgentChannel::OpenHead;
  using AgentChannel::ReceiveRest;
};

}  // namespace agent
}  // namespace docsec

#endif  // DOCSEC_TOOLS_AGENT_AGENT_PEER_CHANNEL_H_
