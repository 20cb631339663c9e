// Windows twin of socket.cc, over Winsock 2.
//
// Every socket is non-blocking at the system level and tied to an event the system signals on
// its network events (WSAEventSelect). A call the caller made "blocking" waits for that event
// together with the socket's wake event, so ShutdownBoth on another thread ends the wait at once:
// Winsock does not wake a thread blocked in recv when the socket is shut down. Time-outs and the
// deadline bound the same wait.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

#include "docsec/platform/socket.h"

#include "docsec/platform/internal/socket_common.h"

namespace docsec {
namespace {

using socket_internal::CappedTimeout;
using socket_internal::MillisecondsUntil;

std::mutex& LayerMutex() {
  static std::mutex mutex;
  return mutex;
}
int g_layer_users = 0;
// The start sockets make for themselves; it lasts for the process.
std::once_flag g_implicit_start;

void EnsureSocketLayer() {
  std::call_once(g_implicit_start, [] { StartSocketLayer(); });
}

SOCKET Handle(NativeSocket fd) { return static_cast<SOCKET>(fd); }
HANDLE EventOf(intptr_t event) { return reinterpret_cast<HANDLE>(event); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  return sa;
}

// A new socket, with its network event and wake event. The socket's handle is not inherited by
// child processes.
bool Attach(SOCKET s, NativeSocket* fd, intptr_t* network_event, intptr_t* wake_event) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  WSAEVENT network = WSACreateEvent();
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (network == WSA_INVALID_EVENT || wake == nullptr ||
      WSAEventSelect(s, network, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT | FD_ACCEPT) != 0) {
    if (network != WSA_INVALID_EVENT) WSACloseEvent(network);
    if (wake != nullptr) CloseHandle(wake);
    closesocket(s);
    return false;
  }
  *fd = static_cast<NativeSocket>(s);
  *network_event = reinterpret_cast<intptr_t>(network);
  *wake_event = reinterpret_cast<intptr_t>(wake);
  return true;
}

void Detach(intptr_t* network_event, intptr_t* wake_event) {
  if (*network_event != 0) WSACloseEvent(EventOf(*network_event));
  if (*wake_event != 0) CloseHandle(EventOf(*wake_event));
  *network_event = 0;
  *wake_event = 0;
}

// Waits for readiness of `s` for reading (or writing, or a connection to accept) through
// select(): true when ready or in error, false on time-out or failure (with *error set).
bool SelectFor(SOCKET s, bool write, int timeout_ms, int* error) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval tv;
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  int r = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
  if (r > 0) return true;
  *error = r == 0 ? WSAETIMEDOUT : WSAGetLastError();
  return false;
}

}  // namespace

bool StartSocketLayer() {
  std::lock_guard<std::mutex> lock(LayerMutex());
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  ++g_layer_users;
  return true;
}

void StopSocketLayer() {
  std::lock_guard<std::mutex> lock(LayerMutex());
  if (g_layer_users == 0) return;
  --g_layer_users;
  WSACleanup();
}

// ---- TcpSocket ----

TcpSocket::TcpSocket(NativeSocket fd) {
  if (!Attach(Handle(fd), &fd_, &waits_.network_event, &waits_.wake_event)) fd_ = kNoSocket;
}

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(other.fd_),
      last_error_(other.last_error_),
      has_deadline_(other.has_deadline_),
      deadline_(other.deadline_),
      waits_(other.waits_) {
  other.fd_ = kNoSocket;
  other.waits_ = Waits();
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    last_error_ = other.last_error_;
    has_deadline_ = other.has_deadline_;
    deadline_ = other.deadline_;
    waits_ = other.waits_;
    other.fd_ = kNoSocket;
    other.waits_ = Waits();
  }
  return *this;
}

bool TcpSocket::Open() {
  Close();
  EnsureSocketLayer();
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    last_error_ = WSAGetLastError();
    return false;
  }
  if (!Attach(s, &fd_, &waits_.network_event, &waits_.wake_event)) {
    last_error_ = WSAGetLastError();
    fd_ = kNoSocket;
    return false;
  }
  return true;
}

bool TcpSocket::SetTimeouts(int send_ms, int receive_ms) {
  if (fd_ == kNoSocket) return false;
  send_ms = CappedTimeout(send_ms);
  receive_ms = CappedTimeout(receive_ms);
  waits_.send_ms = send_ms;
  waits_.receive_ms = receive_ms;
  return true;
}

bool TcpSocket::SetNonBlocking(bool on) {
  if (fd_ == kNoSocket) return false;
  waits_.nonblocking = on;
  return true;
}

bool TcpSocket::SetNoDelay(bool on) {
  if (fd_ == kNoSocket) return false;
  BOOL value = on ? TRUE : FALSE;
  if (setsockopt(Handle(fd_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                 sizeof value) != 0) {
    last_error_ = WSAGetLastError();
    return false;
  }
  return true;
}

void TcpSocket::StartConnect(uint32_t address, uint16_t port) {
  if (fd_ == kNoSocket) return;
  sockaddr_in sa = MakeAddress(address, port);
  if (connect(Handle(fd_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    last_error_ = WSAGetLastError();
  }
}

bool TcpSocket::WaitWritable(int timeout_ms) {
  if (fd_ == kNoSocket) return false;
  int error = 0;
  if (!SelectFor(Handle(fd_), true, timeout_ms, &error)) {
    last_error_ = error;
    return false;
  }
  // A refused or unreachable connection shows in the failure set; its error decides.
  int so_error = 0;
  int len = sizeof so_error;
  if (getsockopt(Handle(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) !=
      0) {
    so_error = WSAGetLastError();
  }
  if (so_error != 0) {
    last_error_ = so_error;
    return false;
  }
  // Writable without error may still mean "not yet" when the failure set fired alone.
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(Handle(fd_), &writable);
  timeval zero{0, 0};
  if (select(0, nullptr, &writable, nullptr, &zero) != 1) {
    last_error_ = WSAECONNREFUSED;
    return false;
  }
  return true;
}

bool TcpSocket::Pair(TcpSocket* a, TcpSocket* b) {
  TcpListener listener;
  if (!listener.Listen(htonl(INADDR_LOOPBACK), 0, 1, nullptr)) return false;
  TcpSocket client;
  if (!client.Open() || !client.SetNonBlocking(true)) return false;
  client.StartConnect(htonl(INADDR_LOOPBACK), listener.Port());
  TcpSocket server = listener.Accept(5000);
  if (!server.IsOpen() || !client.WaitWritable(5000) || !client.SetNonBlocking(false)) {
    return false;
  }
  *a = std::move(client);
  *b = std::move(server);
  return true;
}

// Waits until the network event or the wake event fires, or the time-out (the smaller of the
// direction's time-out, when set, and the deadline) passes. `events` (POLLWRNORM or POLLRDNORM)
// picks the direction; every network event of the socket ends the wait and the caller retries.
bool TcpSocket::WaitForDeadline(short events) {
  int limit = INFINITE;
  int own = (events & POLLWRNORM) != 0 ? waits_.send_ms : waits_.receive_ms;
  if (own > 0) limit = own;
  if (has_deadline_) {
    int left = MillisecondsUntil(deadline_);
    if (left == 0) {
      last_error_ = WSAETIMEDOUT;
      return false;
    }
    limit = limit == static_cast<int>(INFINITE) ? left : std::min(limit, left);
  }
  HANDLE handles[2] = {EventOf(waits_.wake_event), EventOf(waits_.network_event)};
  DWORD r = WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(limit));
  if (r == WAIT_OBJECT_0) {
    last_error_ = WSAESHUTDOWN;
    return false;
  }
  if (r == WAIT_OBJECT_0 + 1) {
    // Resets the event; the following call tells what happened.
    WSANETWORKEVENTS happened;
    WSAEnumNetworkEvents(Handle(fd_), EventOf(waits_.network_event), &happened);
    return true;
  }
  last_error_ = r == WAIT_TIMEOUT ? WSAETIMEDOUT : static_cast<int>(GetLastError());
  return false;
}

long TcpSocket::Send(const void* data, size_t size, bool more) {
  // Small parts are coalesced by the caller's own buffering on this system.
  (void)more;
  if (fd_ == kNoSocket) {
    last_error_ = WSAENOTSOCK;
    return -1;
  }
  int length = static_cast<int>(std::min<size_t>(size, INT_MAX));
  for (;;) {
    int n = send(Handle(fd_), static_cast<const char*>(data), length, 0);
    if (n >= 0) return n;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK || waits_.nonblocking) {
      last_error_ = error;
      return -1;
    }
    if (!WaitForDeadline(POLLWRNORM)) return -1;
  }
}

long TcpSocket::Receive(void* data, size_t size) {
  if (fd_ == kNoSocket) {
    last_error_ = WSAENOTSOCK;
    return -1;
  }
  int length = static_cast<int>(std::min<size_t>(size, INT_MAX));
  for (;;) {
    int n = recv(Handle(fd_), static_cast<char*>(data), length, 0);
    if (n >= 0) return n;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK || waits_.nonblocking) {
      last_error_ = error;
      return -1;
    }
    if (!WaitForDeadline(POLLRDNORM)) return -1;
  }
}

long TcpSocket::ReceiveAvailable(void* data, size_t size) {
  if (fd_ == kNoSocket) {
    last_error_ = WSAENOTSOCK;
    return -1;
  }
  int n = recv(Handle(fd_), static_cast<char*>(data),
               static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
  if (n >= 0) return n;
  last_error_ = WSAGetLastError();
  return -1;
}

bool TcpSocket::TimedOut() const {
  return last_error_ == WSAETIMEDOUT || last_error_ == WSAEWOULDBLOCK;
}

uint32_t TcpSocket::PeerAddress() const {
  if (fd_ == kNoSocket) return 0;
  sockaddr_in sa;
  int len = sizeof sa;
  if (getpeername(Handle(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return sa.sin_addr.s_addr;
}

void TcpSocket::ShutdownBoth() {
  if (fd_ == kNoSocket) return;
  shutdown(Handle(fd_), SD_BOTH);
  SetEvent(EventOf(waits_.wake_event));
}

void TcpSocket::ShutdownSend() {
  if (fd_ != kNoSocket) shutdown(Handle(fd_), SD_SEND);
}

void TcpSocket::Abort() {
  if (fd_ == kNoSocket) return;
  linger lg{1, 0};
  setsockopt(Handle(fd_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
  closesocket(Handle(fd_));
  fd_ = kNoSocket;
  Detach(&waits_.network_event, &waits_.wake_event);
}

void TcpSocket::Close() {
  if (fd_ == kNoSocket) return;
  shutdown(Handle(fd_), SD_BOTH);
  closesocket(Handle(fd_));
  fd_ = kNoSocket;
  Detach(&waits_.network_event, &waits_.wake_event);
}

// ---- TcpListener ----

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(uint32_t address, uint16_t port, int backlog, std::string* error) {
  Close();
  EnsureSocketLayer();
  auto fail = [&](const char* what) {
    if (error != nullptr)
      *error = std::string(what) + ": error " + std::to_string(WSAGetLastError());
    Close();
    return false;
  };
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return fail("socket");
  fd_ = static_cast<NativeSocket>(s);
  // Exclusive use: on this system SO_REUSEADDR would let a second listener take the same
  // address and port, which a listener must be refused instead. Where the option is missing the
  // default behaviour is close enough, so its failure is not fatal.
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in sa = MakeAddress(address, port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return fail("bind");
  if (listen(s, backlog) != 0) return fail("listen");
  // Accept waits in select(); the socket itself never blocks, so a connection that goes away
  // between the wait and accept cannot stall the caller.
  u_long nonblocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) return fail("FIONBIO");
  return true;
}

uint16_t TcpListener::Port() const {
  if (fd_ == kNoSocket) return 0;
  sockaddr_in sa;
  int len = sizeof sa;
  if (getsockname(Handle(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

TcpSocket TcpListener::Accept(int timeout_ms) {
  if (fd_ == kNoSocket) return TcpSocket();
  int error = 0;
  if (!SelectFor(Handle(fd_), false, timeout_ms, &error)) return TcpSocket();
  SOCKET s = accept(Handle(fd_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return TcpSocket();
  // The accepted socket inherits the listener's non-blocking mode; it gets its own events and
  // the blocking mode callers expect of a new socket.
  TcpSocket socket(static_cast<NativeSocket>(s));
  socket.SetNoDelay(true);
  return socket;
}

void TcpListener::Close() {
  if (fd_ == kNoSocket) return;
  closesocket(Handle(fd_));
  fd_ = kNoSocket;
}

namespace {

// Waits on `fds`, then sets (*ready)[i] for each of the first `count` that has an event. False
// when the wait itself failed. WSAPoll refuses an empty set, so an empty wait just sleeps.
bool PollReady(std::vector<WSAPOLLFD>* fds, size_t count, int timeout_ms,
               std::vector<char>* ready) {
  ready->assign(count, 0);
  if (fds->empty()) {
    Sleep(static_cast<DWORD>(std::max(timeout_ms, 0)));
    return true;
  }
  int r = WSAPoll(fds->data(), static_cast<ULONG>(fds->size()), timeout_ms);
  if (r < 0) return false;
  for (size_t i = 0; i < count; ++i) (*ready)[i] = (*fds)[i].revents != 0;
  return true;
}

}  // namespace

bool WaitForReadable(const std::vector<TcpSocket*>& sockets, const TcpListener* listener,
                     int timeout_ms, std::vector<char>* readable, bool* accept_ready) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(sockets.size() + 1);
  for (const TcpSocket* socket : sockets) {
    fds.push_back(WSAPOLLFD{Handle(socket->fd_), POLLRDNORM, 0});
  }
  if (listener != nullptr) fds.push_back(WSAPOLLFD{Handle(listener->fd_), POLLRDNORM, 0});
  *accept_ready = false;
  if (!PollReady(&fds, sockets.size(), timeout_ms, readable)) return false;
  if (listener != nullptr && !fds.empty()) *accept_ready = fds.back().revents != 0;
  return true;
}

// Windows sets no per-process limit on sockets of this kind.
size_t RaiseOpenDescriptorLimit(size_t wanted) { return wanted; }

bool WaitForWritable(const std::vector<TcpSocket*>& sockets, int timeout_ms,
                     std::vector<char>* ready) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(sockets.size());
  for (const TcpSocket* socket : sockets) {
    fds.push_back(WSAPOLLFD{Handle(socket->fd_), POLLWRNORM, 0});
  }
  return PollReady(&fds, sockets.size(), timeout_ms, ready);
}

}  // namespace docsec
