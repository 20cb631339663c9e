#include "docsec/agent/agent_channel.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "docsec/agent/agent_keys.h"
#include "docsec/platform/text.h"
#include "docsec/platform/trace.h"

namespace docsec {
AgentChannel::AgentChannel(uint32_t address) : address_(address), cipher_(ChannelKey) {}

AgentChannel::AgentChannel(TcpSocket connected)
    : socket_(std::move(connected)), cipher_(ChannelKey) {
  address_ = socket_.PeerAddress();
}

AgentChannel::~AgentChannel() { Close(); }

bool AgentChannel::Connect(uint16_t port) {
  if (socket_.IsOpen()) return true;
  // A failed attempt closes the socket again: left open, it would make the next Connect
  // "succeed" on a socket that is not connected.
  auto fail = [this]() {
    socket_.Close();
    return false;
  };
  if (!socket_.Open()) return false;
  if (!socket_.SetTimeouts(kAgentIoTimeoutMs, kAgentIoTimeoutMs)) return fail();
  if (!socket_.SetNonBlocking(true)) return fail();
  int wait_ms = kAgentConnectTimeoutMs;
  if (has_deadline_) {
    socket_.SetDeadline(deadline_);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    wait_ms = static_cast<int>(std::max<long long>(0, std::min<long long>(wait_ms, left.count())));
  }
  socket_.StartConnect(address_, port);
  if (!socket_.WaitWritable(wait_ms)) return fail();
  if (!socket_.SetNonBlocking(false)) return fail();
  // Head, body and trailer go out as separate sends; small segments must not wait for
  // acknowledgements, or every exchange would stall on delayed acknowledgement.
  socket_.SetNoDelay(true);
  port_ = port;
  return true;
}

void AgentChannel::Close() { socket_.Close(); }

void AgentChannel::Interrupt() { socket_.ShutdownBoth(); }

void AgentChannel::SetDeadline(std::chrono::steady_clock::time_point deadline) {
  has_deadline_ = true;
  deadline_ = deadline;
  socket_.SetDeadline(deadline);
}

long AgentChannel::SendPart(const uint8_t* data, size_t size, bool more) {
  size_t sent = 0;
  while (sent < size) {
    long n = socket_.Send(data + sent, size - sent, more);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  if (sent == 0 && size > 0) return -1;
  return static_cast<long>(sent);
}

bool AgentChannel::SendPacket(AgentPacket* packet) {
  if (packet->length > kAgentMaxBodySize) return false;
  // A body shorter than announced would be read past its end.
  if (packet->body.size() < packet->length) return false;
  if (!cipher_.ok()) return false;

  const size_t length = packet->length;
  uint8_t head[kAgentHeadSize];
  packet->head_checksum = 0;
  packet->WriteHead(head);
  packet->head_checksum = HeadChecksum(head);
  packet->WriteHead(head);
  packet->packet_checksum = PacketChecksum(head, packet->BodyBytes(), length);
  uint8_t trailer[kAgentTrailerSize];
  for (size_t i = 0; i < kAgentTrailerSize; ++i) {
    trailer[i] = static_cast<uint8_t>(packet->packet_checksum >> (8 * i));
  }

  if (!EncryptBuffer(head, sizeof head, cipher_) ||
      (length > 0 && !EncryptBuffer(packet->BodyBytes(), length, cipher_)) ||
      !EncryptBuffer(trailer, sizeof trailer, cipher_)) {
    return false;
  }

  // The parts are handed over as one stream: the system may join them into full segments.
  long n = SendPart(head, sizeof head, true);
  Trace("dataHead Sent:%d", static_cast<int>(n));
  if (n != static_cast<long>(sizeof head)) return false;
  if (length > 0) {
    n = SendPart(packet->BodyBytes(), length, true);
    Trace("dataBody Sent:%d", static_cast<int>(n));
    if (n != static_cast<long>(length)) return false;
  }
  n = SendPart(trailer, sizeof trailer, false);
  Trace("CheckSum Sent:%d", static_cast<int>(n));
  return n == static_cast<long>(sizeof trailer);
}

bool AgentChannel::OpenHead(const uint8_t raw[kAgentHeadSize], Aes128Ecb& cipher,
                            AgentPacket* packet, uint8_t plain[kAgentHeadSize]) {
  std::memcpy(plain, raw, kAgentHeadSize);
  if (!DecryptBuffer(plain, kAgentHeadSize, cipher)) return false;
  packet->ReadHead(plain);
  return HeadChecksum(plain) == packet->head_checksum && packet->length <= kAgentMaxBodySize;
}

bool AgentChannel::ReceivePacket(AgentPacket* packet) {
  // Head: all 16 bytes, or failure. A peer that ends the stream early ends the wait at once.
  uint8_t raw[kAgentHeadSize];
  size_t got = socket_.ReceiveAll(raw, sizeof raw);
  if (got != sizeof raw) {
    Trace("bytesRecv=%d,HeaderSize=%d", static_cast<int>(got), socket_.LastError());
    packet->FreeBody();
    packet->status = 1;
    return false;
  }
  uint8_t plain[kAgentHeadSize];
  if (!cipher_.ok() || !OpenHead(raw, cipher_, packet, plain)) {
    packet->FreeBody();
    packet->status = 1;
    return false;
  }
  return ReceiveRest(packet, plain);
}

bool AgentChannel::ReceiveRest(AgentPacket* packet, const uint8_t plain_head[kAgentHeadSize]) {
  auto fail = [packet]() {
    packet->FreeBody();
    packet->status = 1;
    return false;
  };
  if (!cipher_.ok()) return fail();
  packet->ReadHead(plain_head);
  if (HeadChecksum(plain_head) != packet->head_checksum) return fail();
  if (packet->length > kAgentMaxBodySize) return fail();

  const size_t length = packet->length;
  // Allocated once the head has been checked; a buffer kept from an earlier packet is reused.
  try {
    packet->body.resize(length);
  } catch (const std::bad_alloc&) {
    return fail();
  }
  if (length > 0) {
    if (socket_.ReceiveAll(packet->BodyBytes(), length) != length) return fail();
    if (!DecryptBuffer(packet->BodyBytes(), length, cipher_)) return fail();
  }

  uint8_t trailer[kAgentTrailerSize];
  if (socket_.ReceiveAll(trailer, sizeof trailer) != sizeof trailer) return fail();
  if (!DecryptBuffer(trailer, sizeof trailer, cipher_)) return fail();
  packet->packet_checksum =
      static_cast<uint32_t>(trailer[0]) | static_cast<uint32_t>(trailer[1]) << 8 |
      static_cast<uint32_t>(trailer[2]) << 16 | static_cast<uint32_t>(trailer[3]) << 24;

  uint32_t computed = PacketChecksum(plain_head, packet->BodyBytes(), length);
  Trace("PackageValidate: dwData=%08X", computed);
  Trace("CheckPackageValid: dwNew=%08X, dwData=%08X", computed, packet->packet_checksum);
  if (computed != packet->packet_checksum) return fail();
  return true;
}

bool AgentChannel::EncodeDocument(AgentPacket* packet, const XmlDocument& document) {
  if (!document) return false;
  // Rendered straight into the body, reusing the storage a packet kept from earlier use.
  document.XmlInto(&packet->body);
  // The limit is in UTF-16 code units, as the text is measured on the platform the protocol was
  // made for. A text has at most as many code units as UTF-8 bytes, so only a text of more bytes
  // than the limit needs counting (without converting).
  if (packet->body.size() > kAgentMaxBodySize &&
      Utf16Length(packet->body.data(), packet->body.size()) > kAgentMaxBodySize) {
    packet->FreeBody();
    return false;
  }
  // Longer than kAgentMaxBodySize bytes is possible here (multi-byte characters); SendPacket
  // refuses such a body.
  packet->length =
      packet->body.size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(packet->body.size());
  return true;
}

bool AgentChannel::DecodeDocument(const AgentPacket& packet, XmlDocument& document) {
  if (!document) return false;
  document.LoadXml(packet.body.data(), std::min<size_t>(packet.length, packet.body.size()));
  return true;
}

bool AgentChannel::DecodeDocument(AgentPacket&& packet, XmlDocument& document) {
  if (!document) return false;
  if (packet.body.size() > packet.length) packet.body.resize(packet.length);
  document.LoadXml(std::move(packet.body));
  packet.FreeBody();
  return true;
}

bool AgentChannel::ReceiveDocument(XmlDocument& document) {
  AgentPacket in;
  if (!ReceivePacket(&in)) return false;
  return DecodeDocument(std::move(in), document);
}

}  // namespace docsec
