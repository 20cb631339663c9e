// Agent replies as the library's receiver meets them: the input describes a packet in the clear
// (so that mutations reach past the encryption and the checksums), the harness encrypts it as a
// peer would, cuts it where told, and feeds the bytes to AgentChannel::ReceivePacket; what is
// received goes on to the reply check.
//
// Input: byte 0 flags (bit 0: correct the head checksum, bit 1: correct the packet checksum,
// bit 2: announce the body's real length, bit 3: cut the wire), bytes 1-2 the cut point (little
// endian), bytes 3-18 the plain head, the rest the body followed by a 4-byte trailer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_command.h"
#include "docsec/agent/agent_keys.h"
#include "docsec/agent/agent_packet.h"
#include "docsec/platform/socket.h"

namespace {

using namespace docsec;

// The library's receiving side over one end of a connected pair.
class ReaderChannel : public AgentChannel {
 public:
  explicit ReaderChannel(TcpSocket connected) : AgentChannel(std::move(connected)) {}
};

// Well within the buffer of a local stream socket.
constexpr size_t kWrittenAtOnce = 96 * 1024;

void PutWord(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Wire(const uint8_t* data, size_t size) {
  constexpr size_t kControl = 3;
  if (size < kControl + kAgentHeadSize)
    return std::string(reinterpret_cast<const char*>(data), size);
  const uint8_t flags = data[0];
  const size_t cut = data[1] | static_cast<size_t>(data[2]) << 8;
  uint8_t head[kAgentHeadSize];
  std::memcpy(head, data + kControl, sizeof head);
  std::string body(reinterpret_cast<const char*>(data + kControl + kAgentHeadSize),
                   size - kControl - kAgentHeadSize);
  uint8_t trailer[kAgentTrailerSize] = {};
  if (body.size() >= kAgentTrailerSize) {
    std::memcpy(trailer, body.data() + body.size() - kAgentTrailerSize, kAgentTrailerSize);
    body.resize(body.size() - kAgentTrailerSize);
  }
  if (flags & 4) PutWord(head + 8, static_cast<uint32_t>(body.size()));
  if (flags & 1) PutWord(head + 12, HeadChecksum(head));
  if (flags & 2) {
    PutWord(trailer,
            PacketChecksum(head, reinterpret_cast<const uint8_t*>(body.data()), body.size()));
  }
  EncryptBuffer(head, sizeof head, ChannelKey);
  if (!body.empty()) EncryptBuffer(reinterpret_cast<uint8_t*>(&body[0]), body.size(), ChannelKey);
  EncryptBuffer(trailer, sizeof trailer, ChannelKey);
  std::string wire(reinterpret_cast<const char*>(head), sizeof head);
  wire += body;
  wire.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
  if ((flags & 8) && cut < wire.size()) wire.resize(cut);
  return wire;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string wire = Wire(data, size);
  TcpSocket reader, writer;
  if (!TcpSocket::Pair(&reader, &writer)) return 0;
  // The writer ends its side when done, so a reply shorter than announced ends the receive. What
  // fits the local socket's buffer is written at once; only more needs a thread of its own.
  auto write = [&] {
    writer.SendAll(wire.data(), wire.size());
    writer.ShutdownSend();
  };
  std::thread feed;
  if (wire.size() <= kWrittenAtOnce) {
    write();
  } else {
    feed = std::thread(write);
  }
  {
    ReaderChannel channel(std::move(reader));
    AgentPacket packet;
    XmlDocument reply = XmlDocument::Create();
    if (channel.ReceivePacket(&packet) && channel.DecodeDocument(std::move(packet), reply)) {
      CheckAgentReply(reply);
      XmlElement root = reply.DocumentElement();
      if (root) {
        XmlElement uuid = root.SelectChild("uuid");
        if (uuid) uuid.GetAttribute("value");
      }
    }
  }
  if (feed.joinable()) feed.join();
  return 0;
}
