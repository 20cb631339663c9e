#include "docsec/platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "docsec/platform/internal/socket_common.h"

namespace docsec {
namespace {

using socket_internal::CappedTimeout;
using socket_internal::MillisecondsUntil;

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  return sa;
}

timeval ToTimeval(int ms) {
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

// poll() that resumes after signals, keeping the overall bound.
int PollFor(int fd, short events, int timeout_ms, short* revents) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, timeout_ms);
    if (r >= 0) {
      *revents = p.revents;
      return r;
    }
    if (errno != EINTR) return -1;
    timeout_ms = MillisecondsUntil(deadline);
  }
}

}  // namespace

bool StartSocketLayer() { return true; }
void StopSocketLayer() {}

// ---- TcpSocket ----

TcpSocket::TcpSocket(NativeSocket fd) : fd_(fd) {}

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(other.fd_),
      last_error_(other.last_error_),
      has_deadline_(other.has_deadline_),
      deadline_(other.deadline_) {
  other.fd_ = kNoSocket;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    last_error_ = other.last_error_;
    has_deadline_ = other.has_deadline_;
    deadline_ = other.deadline_;
    other.fd_ = kNoSocket;
  }
  return *this;
}

bool TcpSocket::Open() {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd_ < 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

bool TcpSocket::SetTimeouts(int send_ms, int receive_ms) {
  if (fd_ < 0) return false;
  send_ms = CappedTimeout(send_ms);
  receive_ms = CappedTimeout(receive_ms);
  timeval send_tv = ToTimeval(send_ms);
  timeval recv_tv = ToTimeval(receive_ms);
  if (::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &send_tv, sizeof send_tv) != 0 ||
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &recv_tv, sizeof recv_tv) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

bool TcpSocket::SetNonBlocking(bool on) {
  if (fd_ < 0) return false;
  int flags = ::fcntl(fd_, F_GETFL, 0);
  if (flags < 0) {
    last_error_ = errno;
    return false;
  }
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (::fcntl(fd_, F_SETFL, flags) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

bool TcpSocket::SetNoDelay(bool on) {
  if (fd_ < 0) return false;
  int value = on ? 1 : 0;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) {
    last_error_ = errno;
    return false;
  }
  return true;
}

void TcpSocket::StartConnect(uint32_t address, uint16_t port) {
  if (fd_ < 0) return;
  sockaddr_in sa = MakeAddress(address, port);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) last_error_ = errno;
}

bool TcpSocket::WaitWritable(int timeout_ms) {
  if (fd_ < 0) return false;
  short revents = 0;
  int r = PollFor(fd_, POLLOUT, timeout_ms, &revents);
  if (r <= 0) {
    last_error_ = r == 0 ? ETIMEDOUT : errno;
    return false;
  }
  // A refused or unreachable connection also shows as writable; its error decides.
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  if (error != 0 || (revents & POLLOUT) == 0) {
    last_error_ = error != 0 ? error : ECONNREFUSED;
    return false;
  }
  return true;
}

bool TcpSocket::Pair(TcpSocket* a, TcpSocket* b) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  *a = TcpSocket(fds[0]);
  *b = TcpSocket(fds[1]);
  return true;
}

bool TcpSocket::WaitForDeadline(short events) {
  for (;;) {
    int left = MillisecondsUntil(deadline_);
    if (left == 0) {
      last_error_ = ETIMEDOUT;
      return false;
    }
    short revents = 0;
    int r = PollFor(fd_, events, left, &revents);
    if (r < 0) {
      last_error_ = errno;
      return false;
    }
    // Readiness, an error or a hang-up: the following call reports which.
    if (r > 0) return true;
  }
}

long TcpSocket::Send(const void* data, size_t size, bool more) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
  if (has_deadline_) flags |= MSG_DONTWAIT;
  for (;;) {
    if (has_deadline_ && !WaitForDeadline(POLLOUT)) return -1;
    ssize_t n = ::send(fd_, data, size, flags);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (has_deadline_ && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    last_error_ = errno;
    return -1;
  }
}

long TcpSocket::Receive(void* data, size_t size) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  int flags = has_deadline_ ? MSG_DONTWAIT : 0;
  for (;;) {
    if (has_deadline_ && !WaitForDeadline(POLLIN)) return -1;
    ssize_t n = ::recv(fd_, data, size, flags);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (has_deadline_ && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    last_error_ = errno;
    return -1;
  }
}

long TcpSocket::ReceiveAvailable(void* data, size_t size) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    last_error_ = errno;
    return -1;
  }
}

bool TcpSocket::TimedOut() const {
  return last_error_ == ETIMEDOUT || last_error_ == EAGAIN || last_error_ == EWOULDBLOCK;
}

uint32_t TcpSocket::PeerAddress() const {
  if (fd_ < 0) return 0;
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

void TcpSocket::ShutdownBoth() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpSocket::ShutdownSend() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::Abort() {
  if (fd_ < 0) return;
  linger lg{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  ::close(fd_);
  fd_ = -1;
}

void TcpSocket::Close() {
  if (fd_ < 0) return;
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
  fd_ = -1;
}

// ---- TcpListener ----

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint32_t address, uint16_t port, int backlog, std::string* error) {
  Close();
  auto fail = [&](const char* what) {
    if (error != nullptr) *error = std::string(what) + ": " + std::strerror(errno);
    Close();
    return false;
  };
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd_ < 0) return fail("socket");
  int one = 1;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    return fail("SO_REUSEADDR");
  }
  sockaddr_in sa = MakeAddress(address, port);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return fail("bind");
  if (::listen(fd_, backlog) != 0) return fail("listen");
  // Accept waits in poll(); the descriptor itself never blocks, so a connection that goes away
  // between poll and accept cannot stall the caller.
  int flags = ::fcntl(fd_, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
  return true;
}

uint16_t TcpListener::Port() const {
  if (fd_ < 0) return 0;
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

TcpSocket TcpListener::Accept(int timeout_ms) {
  if (fd_ < 0) return TcpSocket();
  short revents = 0;
  if (PollFor(fd_, POLLIN, timeout_ms, &revents) <= 0) return TcpSocket();
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return TcpSocket();
  TcpSocket socket(fd);
  socket.SetNoDelay(true);
  return socket;
}

void TcpListener::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

namespace {

// Waits on `fds`, then sets (*ready)[i] for each of the first `count` that has an event. False
// when the wait itself failed (nothing is set then).
bool PollReady(std::vector<pollfd>* fds, size_t count, int timeout_ms, std::vector<char>* ready) {
  ready->assign(count, 0);
  int r;
  do {
    r = ::poll(fds->data(), fds->size(), timeout_ms);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return false;
  for (size_t i = 0; i < count; ++i) (*ready)[i] = (*fds)[i].revents != 0;
  return true;
}

}  // namespace

bool WaitForReadable(const std::vector<TcpSocket*>& sockets, const TcpListener* listener,
                     int timeout_ms, std::vector<char>* readable, bool* accept_ready) {
  std::vector<pollfd> fds;
  fds.reserve(sockets.size() + 1);
  for (const TcpSocket* socket : sockets)
    fds.push_back(pollfd{static_cast<int>(socket->fd_), POLLIN, 0});
  if (listener != nullptr) fds.push_back(pollfd{static_cast<int>(listener->fd_), POLLIN, 0});
  *accept_ready = false;
  if (!PollReady(&fds, sockets.size(), timeout_ms, readable)) return false;
  if (listener != nullptr) *accept_ready = fds.back().revents != 0;
  return true;
}

size_t RaiseOpenDescriptorLimit(size_t wanted) {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur =
        limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<size_t>(limit.rlim_cur);
}

bool WaitForWritable(const std::vector<TcpSocket*>& sockets, int timeout_ms,
                     std::vector<char>* ready) {
  std::vector<pollfd> fds;
  fds.reserve(sockets.size());
  for (const TcpSocket* socket : sockets)
    fds.push_back(pollfd{static_cast<int>(socket->fd_), POLLOUT, 0});
  return PollReady(&fds, sockets.size(), timeout_ms, ready);
}

}  // namespace docsec
