#include "tools/server/http_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace docsec::server {
namespace {

// The listener's connections, each served on a thread of its own, up to `limit` threads; a
// connection beyond that waits for a thread to come free. A thread left without work for a while
// ends. httplib hands each accepted connection over as one task that serves it to its end, so a
// fixed pool would let a few slow clients hold every thread.
class ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(size_t limit) : limit_(limit) {}

  void enqueue(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(task));
    if (idle_ >= pending_.size()) {
      wake_.notify_one();
    } else if (threads_ < limit_) {
      ++threads_;
      std::thread([this] { Work(); }).detach();
    }
  }

  // Waits until every connection handed over has been served and every thread has ended.
  void shutdown() override {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    ended_.wait(lock, [this] { return threads_ == 0; });
  }

 private:
  static constexpr std::chrono::seconds kIdleEnd{10};

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_;
      wake_.wait_for(lock, kIdleEnd, [this] { return stopping_ || !pending_.empty(); });
      --idle_;
      if (pending_.empty()) break;  // stopping, or idle too long
      std::function<void()> task = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
    --threads_;
    // Told with the lock held: once it is released, shutdown may return and the queue go.
    ended_.notify_all();
  }

  const size_t limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable ended_;
  std::deque<std::function<void()>> pending_;
  size_t threads_ = 0;
  size_t idle_ = 0;
  bool stopping_ = false;
};

// The port and numeric address of a socket's end, as httplib writes them; 0 for a socket that is
// not TCP over IPv4 or IPv6.
int EndOf(int fd, bool peer, std::string* address) {
  sockaddr_storage storage{};
  socklen_t size = sizeof storage;
  auto* any = reinterpret_cast<sockaddr*>(&storage);
  if ((peer ? getpeername(fd, any, &size) : getsockname(fd, any, &size)) != 0) return 0;
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (address != nullptr) inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    if (address != nullptr) *address = text;
    return ntohs(v4->sin_port);
  }
  if (storage.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (address != nullptr) inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    if (address != nullptr) *address = text;
    return ntohs(v6->sin6_port);
  }
  return 0;
}

// Ends the reading side of the connections accepted on `local_port`: all of them, or only the
// one from `peer_address`:`peer_port` when an address is given. httplib gives no handle on its
// connections, so their sockets are found among the process's descriptors by their two ends. A
// connection's thread then sees the end of the stream and ends it once its answer is written.
void StopReading(int local_port, const std::string* peer_address = nullptr, int peer_port = 0) {
  DIR* descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) return;
  while (dirent* entry = readdir(descriptors)) {
    int fd = std::atoi(entry->d_name);
    std::string peer;
    if (fd <= 2 || fd == dirfd(descriptors) || EndOf(fd, false, nullptr) != local_port) continue;
    int port = EndOf(fd, true, &peer);
    if (port == 0) continue;  // the listening socket, or no TCP connection
    if (peer_address != nullptr && (port != peer_port || peer != *peer_address)) continue;
    shutdown(fd, SHUT_RD);
    if (peer_address != nullptr) break;
  }
  closedir(descriptors);
}

// The listening socket httplib keeps to itself.
struct ListeningSocket : httplib::Server {
  static int Of(const httplib::Server& server) { return server.*(&ListeningSocket::svr_sock_); }
};

}  // namespace

HttpServer::HttpServer(Server& server, HttpOptions options)
    : server_(server), options_(std::move(options)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(std::string* error) {
  if (http_) {
    *error = "already serving";
    return false;
  }
  bool tls = !options_.tls_cert.empty() || !options_.tls_key.empty();
  if (tls) {
    if (options_.tls_cert.empty() || options_.tls_key.empty()) {
      *error = "HTTPS needs both a certificate and a key";
      return false;
    }
    auto https =
        std::make_unique<httplib::SSLServer>(options_.tls_cert.c_str(), options_.tls_key.c_str());
    if (!https->is_valid()) {
      *error = "cannot load the certificate " + options_.tls_cert + " or key " + options_.tls_key;
      return false;
    }
    http_ = std::move(https);
  } else {
    http_ = std::make_unique<httplib::Server>();
  }
  size_t connections = options_.max_connections < 1 ? 1 : options_.max_connections;
  http_->new_task_queue = [connections] { return new ConnectionThreads(connections); };
  // Answers go out as headers and body in separate writes; without this the second would wait
  // for the client's delayed acknowledgement of the first.
  http_->set_tcp_nodelay(true);
  // Address reuse lets a restart bind past connections still closing; port reuse (the library's
  // default) would let a second server listen beside this one and take half of its clients.
  http_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  http_->set_payload_max_length(server_.options().max_request_bytes);
  http_->set_read_timeout(options_.read_timeout.count(), 0);
  http_->set_write_timeout(options_.write_timeout.count(), 0);
  http_->set_keep_alive_timeout(options_.keep_alive_timeout.count());
  http_->set_keep_alive_max_count(static_cast<size_t>(options_.keep_alive_requests));
  auto serve = [this](int entry_point) {
    return [this, entry_point](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& read) {
      // The body is taken as it arrives, so the cap holds for chunked bodies too, which httplib
      // would otherwise read whole (a declared length above the cap it refuses itself).
      const size_t cap = server_.options().max_request_bytes;
      std::string body;
      bool too_large = false;
      bool whole = read([&](const char* data, size_t size) {
        too_large = size > cap - body.size();
        if (!too_large) body.append(data, size);
        return !too_large;
      });
      if (!whole) {
        // The rest of the body is still on its way: the connection cannot carry another request.
        response.status = too_large ? 413 : 400;
        response.set_header("Connection", "close");
        // httplib would read on and take the rest of the body for further requests.
        StopReading(port_, &request.remote_addr, request.remote_port);
        response.set_content(too_large ? "the request exceeds " + std::to_string(cap) + " bytes"
                                       : std::string("the request body did not arrive whole"),
                             "text/plain; charset=utf-8");
        return;
      }
      Response answer = server_.Handle(
          {entry_point, body, request.get_header_value(kSessionHeader), request.remote_addr});
      if (!answer.session.empty()) response.set_header(kSessionHeader, answer.session);
      response.set_content(std::move(answer.body), "application/xml; charset=utf-8");
    };
  };
  http_->Post("/svc", serve(1));
  http_->Post("/svc/ex", serve(2));

  port_ = options_.port == 0
              ? http_->bind_to_any_port(options_.address)
              : (http_->bind_to_port(options_.address, options_.port) ? options_.port : -1);
  if (port_ <= 0) {
    *error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
    http_.reset();
    port_ = 0;
    return false;
  }
  // httplib queues only 5 connections that are not yet accepted; a burst of clients beyond that
  // would wait a second for each retried handshake.
  if (listen(ListeningSocket::Of(*http_), SOMAXCONN) != 0) {
    *error = "cannot listen on " + options_.address + ":" + std::to_string(port_);
    http_.reset();
    port_ = 0;
    return false;
  }
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  // A stop issued before the serving loop has begun would be lost, so wait for it to begin.
  for (int i = 0; i < 5000 && !http_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void HttpServer::Stop() {
  if (!http_) return;
  http_->stop();
  // Requests under way are answered; a client still sending its request, or idle, is not waited
  // for (it could hold the stop for as long as it keeps trickling).
  StopReading(port_);
  if (thread_.joinable()) thread_.join();
  http_.reset();
  port_ = 0;
}

}  // namespace docsec::server
