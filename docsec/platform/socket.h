// TCP over IPv4: the connecting socket of the agent channel and the listening socket of agent
// peers. Addresses are 32-bit IPv4 addresses in network byte order (as ParseIpv4 gives them),
// ports are in host byte order.
//
// A TcpSocket owns its descriptor and closes it on destruction. Sends never raise SIGPIPE: a peer
// that went away shows as a failed send. One thread uses a socket at a time, except that
// ShutdownBoth may be called from another thread to wake a thread blocked in Send or Receive.
// Error codes (LastError) are the system's: errno values on POSIX, Winsock codes on Windows.
#ifndef DOCSEC_PLATFORM_SOCKET_H_
#define DOCSEC_PLATFORM_SOCKET_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

// Tests use this to keep a peer that never answers from holding a test for minutes: when `ms` is
// positive, every time-out later set through TcpSocket::SetTimeouts is cut to at most `ms`
// milliseconds; 0 removes the cap. Process-wide.
void SetSocketTimeoutCapForTesting(int ms);
int SocketTimeoutCapForTesting();

class TcpListener;

// The system's handle of a socket: a descriptor on POSIX, a pointer-sized SOCKET on Windows.
using NativeSocket = intptr_t;
constexpr NativeSocket kNoSocket = -1;

// Starts (and stops) the system's socket layer; library start-up calls these in its fixed order.
// Sockets also start it on first use, so that peers and tests work without the library started.
// Calls nest. Thread-safe.
bool StartSocketLayer();
void StopSocketLayer();

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  bool IsOpen() const { return fd_ != kNoSocket; }

  // Creates an IPv4 stream socket; false when the system refuses (the socket stays closed).
  bool Open();
  // Sets the blocking send and receive time-outs (subject to the test cap); false on failure.
  bool SetTimeouts(int send_ms, int receive_ms);
  bool SetNonBlocking(bool on);
  // Disables (true) or enables the coalescing of small segments.
  bool SetNoDelay(bool on);
  // Starts a connection; in non-blocking mode it completes in the background. The result is not
  // reported: WaitWritable tells whether the connection came up.
  void StartConnect(uint32_t address, uint16_t port);
  // Waits up to `timeout_ms` for a started connection. True only when it completed without error
  // (a refused connection fails at once rather than after the time-out).
  bool WaitWritable(int timeout_ms);
  // Two connected stream sockets within this process, for tests and fuzzers that feed a reader
  // exact bytes without a network peer. False when the system refuses.
  static bool Pair(TcpSocket* a, TcpSocket* b);
  // Open + non-blocking connect + wait + back to blocking, with TCP_NODELAY set. For peers and
  // tests; the agent channel runs the steps itself.
  bool Connect(uint32_t address, uint16_t port, int timeout_ms);

  // Bounds every later Send and Receive by an absolute deadline (in addition to the time-outs);
  // past it they fail with a time-out.
  void SetDeadline(std::chrono::steady_clock::time_point deadline);

  // One send call: the count of bytes taken (possibly fewer than `size`), or -1 on failure.
  // `more` tells the system that more data follows at once, so small parts are not sent as
  // segments of their own.
  long Send(const void* data, size_t size, bool more = false);
  // Sends all `size` bytes, looping over partial sends; false on failure or time-out.
  bool SendAll(const void* data, size_t size, bool more = false);
  // One receive call: the count of bytes read, 0 at end of stream, -1 on failure or time-out.
  long Receive(void* data, size_t size);
  // Receives until `size` bytes are in, the stream ends or a receive fails. Returns the count read
  // (== size on success).
  size_t ReceiveAll(void* data, size_t size);
  // Takes what has arrived, without waiting: the count read, 0 at end of stream, -1 on failure
  // or when nothing is there yet (TimedOut() then tells the two apart).
  long ReceiveAvailable(void* data, size_t size);

  // The system error code of the last failed call on this socket (0 when none failed).
  int LastError() const { return last_error_; }
  // True when the last failed call ran out of time (a time-out or the deadline).
  bool TimedOut() const;
  // The peer's IPv4 address in network byte order, 0 when not connected.
  uint32_t PeerAddress() const;

  // Shuts the connection down in both directions without closing the descriptor; safe to call
  // from another thread while one is blocked in Send or Receive, which then return.
  void ShutdownBoth();
  // Ends the sending direction only: the peer sees end of stream, and receiving goes on.
  void ShutdownSend();
  // Closes so that the peer sees a connection reset instead of an orderly end of stream.
  void Abort();
  // Shuts down both directions and closes; the socket becomes closed. Safe on a closed socket.
  void Close();

 private:
  friend class TcpListener;
  friend bool WaitForReadable(const std::vector<TcpSocket*>& sockets, const TcpListener* listener,
                              int timeout_ms, std::vector<char>* readable, bool* accept_ready);
  friend bool WaitForWritable(const std::vector<TcpSocket*>& sockets, int timeout_ms,
                              std::vector<char>* ready);
  explicit TcpSocket(NativeSocket fd);
  // Waits for `events` until the deadline; false (with last_error_ set) when it passed.
  bool WaitForDeadline(short events);

  NativeSocket fd_ = kNoSocket;
  int last_error_ = 0;
  bool has_deadline_ = false;
  std::chrono::steady_clock::time_point deadline_{};

  // The Windows build waits in the library rather than in blocking system calls, so that
  // ShutdownBoth can end a wait from another thread (shutting a socket down does not wake a
  // blocked receive there): the event the system signals for this socket's network events, the
  // event ShutdownBoth signals, the time-outs and the blocking mode the caller chose. Unused on
  // POSIX.
  struct Waits {
    intptr_t network_event = 0;
    intptr_t wake_event = 0;
    int send_ms = 0;
    int receive_ms = 0;
    bool nonblocking = false;
  };
  Waits waits_;
};

// A listening IPv4 socket; the peers' side of the agent channel.
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // Binds to `address`:`port` (SO_REUSEADDR set; port 0 picks a free one) and listens. On failure
  // returns false and, when `error` is given, a readable reason.
  bool Listen(uint32_t address, uint16_t port, int backlog, std::string* error);
  bool IsOpen() const { return fd_ != kNoSocket; }
  // The bound port, host byte order; 0 when not listening.
  uint16_t Port() const;
  // Waits up to `timeout_ms` for a connection and accepts it; a closed socket on time-out or
  // failure. Accepted sockets are blocking, with TCP_NODELAY set.
  TcpSocket Accept(int timeout_ms);
  void Close();

 private:
  friend bool WaitForReadable(const std::vector<TcpSocket*>& sockets, const TcpListener* listener,
                              int timeout_ms, std::vector<char>* readable, bool* accept_ready);
  NativeSocket fd_ = kNoSocket;
};

// Waits up to `timeout_ms` until one of `sockets` has something to read (data, an end of stream
// or an error) or `listener` (may be null) has a connection to accept, for servers that watch
// many connections from one thread. Sets (*readable)[i] for each socket that has, and
// *accept_ready. False when the wait itself failed.
bool WaitForReadable(const std::vector<TcpSocket*>& sockets, const TcpListener* listener,
                     int timeout_ms, std::vector<char>* readable, bool* accept_ready);

// Descriptors: raises the process's limit on open descriptors (sockets included) towards `wanted`,
// no higher than the hard limit the system sets, and returns the limit in force afterwards (which
// may be lower than `wanted`). Systems without such a limit return `wanted`.
size_t RaiseOpenDescriptorLimit(size_t wanted);

// Waits up to `timeout_ms` until one of `sockets` is writable or has failed, for callers that
// start many connections at once and wait for them from one thread. Sets (*ready)[i] for each
// socket that is; WaitWritable(0) on it then tells whether its connection came up. False when the
// wait itself failed.
bool WaitForWritable(const std::vector<TcpSocket*>& sockets, int timeout_ms,
                     std::vector<char>* ready);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_SOCKET_H_
