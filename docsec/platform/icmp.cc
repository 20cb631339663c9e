#include "docsec/platform/icmp.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/icmp.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace docsec {
namespace {

// The kinds of ICMP socket, as the method values this side hands out.
enum class IcmpSocketKind : IcmpMethod { kNone = kNoIcmp, kDatagram = 1, kRaw = 2 };

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr size_t kIcmpHeaderSize = 8;
// Receive queue of a raw echo socket, in bytes (the system may cap it).
constexpr int kRawReceiveBuffer = 4 << 20;
// Echoes sent between two readings of the replies when many go out from one socket.
constexpr size_t kEchoBurst = 32;

// Owns one ICMP socket.
class IcmpSocket {
 public:
  explicit IcmpSocket(IcmpSocketKind kind) : kind_(kind) {
    int type = kind == IcmpSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
    if (kind != IcmpSocketKind::kNone) fd_ = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  ~IcmpSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  IcmpSocket(const IcmpSocket&) = delete;
  IcmpSocket& operator=(const IcmpSocket&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  IcmpSocketKind kind() const { return kind_; }

  bool SetTtl(int ttl) { return ::setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0; }

 private:
  IcmpSocketKind kind_;
  int fd_ = -1;
};

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// Identifier and sequence of the next echo: raw sockets see every ICMP message of the host, so
// each echo carries values of its own to recognise its reply.
std::atomic<uint32_t> g_echo_counter{0};

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// An echo request with no payload carrying `id` and `sequence`, checksum included. (The datagram
// kind puts in an identifier of its own and recomputes the checksum.)
void BuildEcho(uint16_t id, uint16_t sequence, uint8_t request[kIcmpHeaderSize]) {
  std::memset(request, 0, kIcmpHeaderSize);
  request[0] = kEchoRequest;
  request[4] = static_cast<uint8_t>(id >> 8);
  request[5] = static_cast<uint8_t>(id);
  request[6] = static_cast<uint8_t>(sequence >> 8);
  request[7] = static_cast<uint8_t>(sequence);
  uint16_t checksum = InternetChecksum(request, kIcmpHeaderSize);
  request[2] = static_cast<uint8_t>(checksum >> 8);
  request[3] = static_cast<uint8_t>(checksum);
}

bool SendEcho(const IcmpSocket& socket, uint32_t address, uint16_t id, uint16_t sequence) {
  uint8_t request[kIcmpHeaderSize];
  BuildEcho(id, sequence, request);
  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  return ::sendto(socket.fd(), request, sizeof request, MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(sizeof request);
}

enum class ReadResult { kReply, kOther, kNothing, kError };

// Takes one waiting message without blocking. kReply with its sender, identifier and sequence
// when it is an echo reply; kOther for any other message; kNothing when none waits.
ReadResult ReadReply(const IcmpSocket& socket, uint32_t* from_address, uint16_t* id,
                     uint16_t* sequence) {
  uint8_t reply[1500];
  sockaddr_in from;
  socklen_t from_len = sizeof from;
  ssize_t n = ::recvfrom(socket.fd(), reply, sizeof reply, MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &from_len);
  if (n < 0) {
    if (errno == EINTR) return ReadResult::kOther;
    return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::kNothing : ReadResult::kError;
  }
  const uint8_t* icmp = reply;
  size_t size = static_cast<size_t>(n);
  if (socket.kind() == IcmpSocketKind::kRaw) {
    // Raw sockets deliver the IP header in front of the message.
    if (size < 20) return ReadResult::kOther;
    size_t header = static_cast<size_t>(reply[0] & 0x0F) * 4;
    if (header < 20 || header > size) return ReadResult::kOther;
    icmp += header;
    size -= header;
  }
  if (size < kIcmpHeaderSize || icmp[0] != kEchoReply || icmp[1] != 0) return ReadResult::kOther;
  *from_address = from.sin_addr.s_addr;
  *id = static_cast<uint16_t>(icmp[4] << 8 | icmp[5]);
  *sequence = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
  return ReadResult::kReply;
}

// A raw socket receives a copy of every ICMP message of the host. With many echoes under way
// (a fleet probed at once) the others' messages fill its queue and push the replies it waits for
// out, so a host that answered would count as silent: the socket takes echo replies only and has
// room for a burst of them.
void PrepareRawSocket(const IcmpSocket& socket) {
#ifdef ICMP_FILTER
  uint32_t only_replies = ~(uint32_t{1} << kEchoReply);
  ::setsockopt(socket.fd(), SOL_RAW, ICMP_FILTER, &only_replies, sizeof only_replies);
#endif
  int room = kRawReceiveBuffer;
  ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
}

}  // namespace

IcmpDetection DetectIcmp() {
  IcmpDetection result;
  for (IcmpSocketKind kind : {IcmpSocketKind::kDatagram, IcmpSocketKind::kRaw}) {
    IcmpSocket socket(kind);
    if (!socket.IsOpen()) {
      result.failure = std::strerror(errno);
      continue;
    }
    if (!socket.SetTtl(255)) {
      result.opened_but_unusable = true;
      result.failure = std::strerror(errno);
      continue;
    }
    result.method = static_cast<IcmpMethod>(kind);
    result.opened_but_unusable = false;
    result.failure.clear();
    return result;
  }
  return result;
}

bool IcmpEcho(IcmpMethod method, uint32_t address, int ttl, int timeout_ms) {
  if (method != static_cast<IcmpMethod>(IcmpSocketKind::kDatagram) &&
      method != static_cast<IcmpMethod>(IcmpSocketKind::kRaw)) {
    return false;
  }
  const IcmpSocketKind kind = static_cast<IcmpSocketKind>(method);
  IcmpSocket socket(kind);
  if (!socket.IsOpen() || !socket.SetTtl(ttl)) return false;
  if (kind == IcmpSocketKind::kRaw) {
    PrepareRawSocket(socket);
    // Only this address's messages, too.
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      return false;
    }
  }
  uint32_t counter = g_echo_counter.fetch_add(1, std::memory_order_relaxed);
  uint16_t id = static_cast<uint16_t>(::getpid() ^ (counter >> 16));
  uint16_t sequence = static_cast<uint16_t>(counter);
  if (!SendEcho(socket, address, id, sequence)) return false;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd p{socket.fd(), POLLIN, 0};
    int r = ::poll(&p, 1, MillisecondsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    uint32_t from = 0;
    uint16_t reply_id = 0, reply_sequence = 0;
    ReadResult read = ReadReply(socket, &from, &reply_id, &reply_sequence);
    if (read == ReadResult::kError) return false;
    if (read != ReadResult::kReply || from != address || reply_sequence != sequence) continue;
    if (kind == IcmpSocketKind::kRaw && reply_id != id) continue;
    return true;
  }
}

void IcmpEchoMany(IcmpMethod method, const std::vector<uint32_t>& addresses, int ttl,
                  int timeout_ms, size_t window, std::vector<char>* answered) {
  answered->assign(addresses.size(), 0);
  if (addresses.empty()) return;
  if (method != static_cast<IcmpMethod>(IcmpSocketKind::kDatagram) &&
      method != static_cast<IcmpMethod>(IcmpSocketKind::kRaw)) {
    return;
  }
  const IcmpSocketKind kind = static_cast<IcmpSocketKind>(method);
  IcmpSocket socket(kind);
  if (!socket.IsOpen() || !socket.SetTtl(ttl)) return;
  if (kind == IcmpSocketKind::kRaw) PrepareRawSocket(socket);
  window = std::max<size_t>(1, window);

  // Each echo has its own sequence number (they wrap after 65,536, when an address would have to
  // appear twice that far apart to be confused); a reply is known by its sender and sequence.
  const uint32_t first =
      g_echo_counter.fetch_add(static_cast<uint32_t>(addresses.size()), std::memory_order_relaxed);
  const uint16_t id = static_cast<uint16_t>(::getpid() ^ (first >> 16));
  auto key = [](uint32_t address, uint16_t sequence) {
    return static_cast<uint64_t>(address) << 16 | sequence;
  };
  using Clock = std::chrono::steady_clock;
  std::unordered_map<uint64_t, size_t> waiting;
  std::deque<std::pair<Clock::time_point, size_t>> deadlines;  // in sending order
  // Takes every reply that waits; replies to echoes already given up on are dropped.
  auto drain = [&] {
    for (;;) {
      uint32_t from = 0;
      uint16_t reply_id = 0, sequence = 0;
      ReadResult read = ReadReply(socket, &from, &reply_id, &sequence);
      if (read == ReadResult::kNothing || read == ReadResult::kError) return;
      if (read != ReadResult::kReply) continue;
      if (kind == IcmpSocketKind::kRaw && reply_id != id) continue;
      auto it = waiting.find(key(from, sequence));
      if (it == waiting.end()) continue;
      (*answered)[it->second] = 1;
      waiting.erase(it);
    }
  };
  size_t next = 0;
  for (;;) {
    for (size_t sent = 0; next < addresses.size() && waiting.size() < window; ++sent) {
      // Replies are taken between bursts, so that they do not pile up past the socket's queue
      // while the requests go out.
      if (sent % kEchoBurst == kEchoBurst - 1) drain();
      const uint16_t sequence = static_cast<uint16_t>(first + next);
      if (SendEcho(socket, addresses[next], id, sequence)) {
        waiting[key(addresses[next], sequence)] = next;
        deadlines.emplace_back(Clock::now() + std::chrono::milliseconds(timeout_ms), next);
      }
      ++next;
    }
    drain();
    const Clock::time_point now = Clock::now();
    while (!deadlines.empty() && deadlines.front().first <= now) {
      const size_t index = deadlines.front().second;
      waiting.erase(key(addresses[index], static_cast<uint16_t>(first + index)));
      deadlines.pop_front();
    }
    if (waiting.empty() && next == addresses.size()) return;
    if (!waiting.empty() && waiting.size() >= window) {
      pollfd p{socket.fd(), POLLIN, 0};
      int r = ::poll(&p, 1, MillisecondsLeft(deadlines.front().first) + 1);
      if (r < 0 && errno != EINTR) return;
    } else if (next == addresses.size()) {
      pollfd p{socket.fd(), POLLIN, 0};
      int r = ::poll(&p, 1, deadlines.empty() ? 0 : MillisecondsLeft(deadlines.front().first) + 1);
      if (r < 0 && errno != EINTR) return;
    }
  }
}

}  // namespace docsec
