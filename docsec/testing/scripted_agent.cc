#include "docsec/testing/scripted_agent.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "docsec/agent/agent_keys.h"
#include "docsec/platform/crypto.h"
#include "docsec/testing/free_loopback.h"

namespace docsec {
namespace testing {
namespace {

constexpr int kAcceptPollMs = 20;

void PutWord(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The three encrypted parts of a packet; `head_delta` and `trailer_delta` spoil the checksums,
// `length_override` announces another length than the body has.
struct WireParts {
  std::string head;
  std::string body;
  std::string trailer;
};

WireParts BuildParts(const std::string& body, uint32_t head_delta, uint32_t trailer_delta,
                     const uint32_t* length_override) {
  uint8_t head[kAgentHeadSize] = {};
  uint32_t length = length_override ? *length_override : static_cast<uint32_t>(body.size());
  PutWord(head + 8, length);
  PutWord(head + 12, HeadChecksum(head) + head_delta);
  std::vector<uint8_t> plain(body.begin(), body.end());
  uint32_t checksum = PacketChecksum(head, plain.data(), plain.size());
  uint8_t trailer[kAgentTrailerSize];
  PutWord(trailer, checksum + trailer_delta);
  EncryptBuffer(head, sizeof head, ChannelKey);
  if (!plain.empty()) EncryptBuffer(plain.data(), plain.size(), ChannelKey);
  EncryptBuffer(trailer, sizeof trailer, ChannelKey);
  WireParts parts;
  parts.head.assign(reinterpret_cast<const char*>(head), sizeof head);
  parts.body.assign(plain.begin(), plain.end());
  parts.trailer.assign(reinterpret_cast<const char*>(trailer), sizeof trailer);
  return parts;
}

}  // namespace

ScriptedAgent::ScriptedAgent(uint16_t port) {
  address_ = StartOnFreeLoopback(
      [&](uint32_t address) { return listener_.Listen(address, port, 16, &error_); }, port);
  if (address_ == 0) {
    if (error_.empty()) error_ = "no free loopback address";
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

ScriptedAgent::~ScriptedAgent() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ScriptedAgent::Script(Reply reply, std::string reply_xml) {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_ = reply;
  reply_xml_ = std::move(reply_xml);
}

ScriptedAgent::Seen ScriptedAgent::seen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

bool ScriptedAgent::WaitFinished(int count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return seen_.finished >= count; });
}

std::string ScriptedAgent::WirePacket(const std::string& body) {
  WireParts parts = BuildParts(body, 0, 0, nullptr);
  return parts.head + parts.body + parts.trailer;
}

void ScriptedAgent::Run() {
  while (!stop_.load()) {
    TcpSocket connection = listener_.Accept(kAcceptPollMs);
    if (!connection.IsOpen()) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++seen_.connections;
      seen_.bytes_received = 0;
      seen_.request_valid = false;
      seen_.request_kind = 0;
      seen_.request_xml.clear();
    }
    // Bounded: a client that stalls cannot hold the peer past the test.
    connection.SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(60));
    Serve(connection);
    connection.Close();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++seen_.finished;
    }
    wake_.notify_all();
  }
}

bool ScriptedAgent::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

bool ScriptedAgent::ReadRequest(TcpSocket& connection, size_t limit) {
  // Raw reads, counted, so tests can tell exactly what the client put on the wire.
  auto read = [&](uint8_t* out, size_t size) {
    size_t got = 0;
    while (got < size) {
      long n = connection.Receive(out + got, size - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.bytes_received += static_cast<size_t>(n);
    }
    return got == size;
  };
  uint8_t head[kAgentHeadSize];
  if (!read(head, std::min(limit, sizeof head))) return false;
  if (limit < sizeof head) return false;
  limit -= sizeof head;
  DecryptBuffer(head, sizeof head, ChannelKey);
  AgentPacket packet;
  packet.ReadHead(head);
  if (HeadChecksum(head) != packet.head_checksum || packet.length > kAgentMaxBodySize) {
    return false;
  }
  std::vector<uint8_t> body(packet.length);
  size_t body_part = std::min<size_t>(limit, body.size());
  if (!read(body.data(), body_part) || body_part < body.size()) return false;
  DecryptBuffer(body.data(), body.size(), ChannelKey);
  uint8_t trailer[kAgentTrailerSize];
  if (!read(trailer, sizeof trailer)) return false;
  DecryptBuffer(trailer, sizeof trailer, ChannelKey);
  uint32_t checksum = static_cast<uint32_t>(trailer[0]) | static_cast<uint32_t>(trailer[1]) << 8 |
                      static_cast<uint32_t>(trailer[2]) << 16 |
                      static_cast<uint32_t>(trailer[3]) << 24;
  std::lock_guard<std::mutex> lock(mutex_);
  seen_.request_kind = packet.kind;
  seen_.request_xml.assign(body.begin(), body.end());
  seen_.request_valid = checksum == PacketChecksum(head, body.data(), body.size());
  return seen_.request_valid;
}

void ScriptedAgent::Hold(TcpSocket& connection) {
  char sink[4096];
  while (!stop_.load()) {
    connection.SetDeadline(std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(kAcceptPollMs));
    long n = connection.Receive(sink, sizeof sink);
    if (n == 0) return;  // the client closed
    if (n < 0 && !connection.TimedOut()) return;
  }
}

void ScriptedAgent::Serve(TcpSocket& connection) {
  Reply reply;
  std::string xml;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reply = reply_;
    xml = reply_xml_;
  }
  if (reply == Reply::kCloseAtOnce) return;
  if (reply == Reply::kResetWhileReading) {
    ReadRequest(connection, 64 * 1024);
    connection.Abort();
    return;
  }
  if (!ReadRequest(connection, SIZE_MAX)) return;

  WireParts parts;
  switch (reply) {
    case Reply::kNeverAnswer: Hold(connection); return;
    case Reply::kWrongHeadChecksum:
      parts = BuildParts(xml, 1, 0, nullptr);
      connection.SendAll(parts.head.data(), parts.head.size());
      Hold(connection);
      return;
    case Reply::kOversizedHead: {
      uint32_t length = kAgentMaxBodySize + 1;
      parts = BuildParts(xml, 0, 0, &length);
      connection.SendAll(parts.head.data(), parts.head.size());
      Hold(connection);
      return;
    }
    case Reply::kWrongTrailer: parts = BuildParts(xml, 0, 1, nullptr); break;
    case Reply::kTruncatedHead:
      parts = BuildParts(xml, 0, 0, nullptr);
      connection.SendAll(parts.head.data(), 10);
      return;
    case Reply::kTruncatedBody:
      parts = BuildParts(xml, 0, 0, nullptr);
      connection.SendAll(parts.head.data(), parts.head.size());
      connection.SendAll(parts.body.data(), parts.body.size() / 2);
      return;
    case Reply::kTruncatedTrailer:
      parts = BuildParts(xml, 0, 0, nullptr);
      connection.SendAll((parts.head + parts.body).data(), parts.head.size() + parts.body.size());
      connection.SendAll(parts.trailer.data(), 2);
      return;
    case Reply::kSplitSegments: {
      std::string wire = WirePacket(xml);
      for (size_t i = 0; i < wire.size(); i += 3) {
        if (!connection.SendAll(wire.data() + i, std::min<size_t>(3, wire.size() - i))) return;
        if (!Pause(2)) return;
      }
      return;
    }
    case Reply::kTrickle: {
      std::string wire = WirePacket(xml);
      for (char byte : wire) {
        if (!connection.SendAll(&byte, 1) || !Pause(100)) return;
      }
      return;
    }
    case Reply::kGarbage: {
      uint8_t noise[64];
      RandomBytes(noise, sizeof noise);
      connection.SendAll(noise, sizeof noise);
      return;
    }
    default: parts = BuildParts(xml, 0, 0, nullptr); break;
  }
  std::string wire = parts.head + parts.body + parts.trailer;
  connection.SendAll(wire.data(), wire.size());
}

}  // namespace testing
}  // namespace docsec
