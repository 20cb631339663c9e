#include "tools/server/embedded.h"

#include <filesystem>

namespace docsec::server {

std::unique_ptr<Embedded> Embedded::Start(ServerOptions options, std::string* error) {
  std::error_code ignored;
  const std::string name =
      "embedded:" + (options.database == ":memory:"
                         ? options.database
                         : std::filesystem::absolute(options.database, ignored).string());
  std::unique_ptr<Server> server = Server::Open(std::move(options), error);
  if (!server) return nullptr;
  return std::unique_ptr<Embedded>(new Embedded(std::move(server), name));
}

Embedded::Embedded(std::unique_ptr<Server> server, const std::string& name)
    : server_(std::move(server)) {
  previous_ = SvcTransportSetHandler(
      [this](int entry_point, const std::string& request) { return Handle(entry_point, request); },
      name, &previous_name_);
}

Embedded::~Embedded() { SvcTransportSetHandler(std::move(previous_), previous_name_, nullptr); }

std::string Embedded::session() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_;
}

void Embedded::set_session(std::string token) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_ = std::move(token);
}

std::string Embedded::Handle(int entry_point, const std::string& request) {
  std::string token = session();
  Response response = server_->Handle({entry_point, request, token});
  if (!response.session.empty()) set_session(response.session);
  return std::move(response.body);
}

}  // namespace docsec::server
