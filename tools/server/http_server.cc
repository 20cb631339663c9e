#include "tools/server/http_server.h"

#include <httplib.h>

namespace docsec::server {

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
  int threads = options_.threads < 1 ? 1 : options_.threads;
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
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
    return [this, entry_point](const httplib::Request& request, httplib::Response& response) {
      Response answer =
          server_.Handle({entry_point, request.body, request.get_header_value(kSessionHeader),
                          request.remote_addr});
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
  if (thread_.joinable()) thread_.join();
  http_.reset();
  port_ = 0;
}

}  // namespace docsec::server
