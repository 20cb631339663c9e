// HttpServer: the network side of the reference server. It answers POST /svc (entry point 1) and
// POST /svc/ex (entry point 2) with the request document in the body, over HTTP or, given a
// certificate and key, HTTPS. The session travels in the header X-Docsec-Session: a login's
// answer sets it, every later request carries it; the XML is the same as in-process.
//
// Bodies above the server's size cap are refused (413) as soon as they pass it, whatever their
// transfer encoding, and a connection that stalls past the read or write time-out is closed.
// Each connection is served on a thread of its own, up to a limit: a client that sends its
// request slowly, or nothing at all, holds only its own thread, never another client's answer.
// Ownership: the server given must outlive this object. Thread safety: Start and Stop from one
// thread; requests are served on the connections' threads.
#ifndef DOCSEC_TOOLS_SERVER_HTTP_SERVER_H_
#define DOCSEC_TOOLS_SERVER_HTTP_SERVER_H_

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tools/server/server.h"

namespace httplib {
class Server;
}

namespace docsec::server {

// The header that carries the session token both ways.
constexpr const char* kSessionHeader = "X-Docsec-Session";

struct HttpOptions {
  std::string address = "127.0.0.1";
  int port = 0;  // 0: any free port (see HttpServer::port)
  // Both set: HTTPS with this certificate chain and private key (PEM files).
  std::string tls_cert;
  std::string tls_key;
  std::chrono::seconds read_timeout{30};
  std::chrono::seconds write_timeout{30};
  // An idle kept-alive connection is closed after this long; Stop waits for idle connections
  // as long, so keep it short.
  std::chrono::seconds keep_alive_timeout{5};
  int keep_alive_requests = 10000;  // requests on one connection before it is closed
  // Connections served at once; further ones wait for one of them to end.
  int max_connections = 1000;
};

class HttpServer {
 public:
  HttpServer(Server& server, HttpOptions options);
  ~HttpServer();  // Stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and serves on a thread of its own. False with a reason in *error when the certificate
  // cannot be loaded or the address cannot be bound.
  bool Start(std::string* error);
  // Stops serving and waits for the serving thread. Safe to call twice or before Start.
  void Stop();
  // The bound port, 0 before Start.
  int port() const { return port_; }

 private:
  Server& server_;
  HttpOptions options_;
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_HTTP_SERVER_H_
