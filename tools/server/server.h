// Server: the reference management server without its network side. It takes the text of one
// request (with the session token the transport carried) and gives the text of the answer (with
// a new token when the request was a successful console login). Every request runs in one
// transaction: an answer with a non-zero code means nothing was stored.
//
// Ownership: the server owns its storage and sessions. Thread safety: Handle may be called from
// many threads at once.
#ifndef DOCSEC_TOOLS_SERVER_SERVER_H_
#define DOCSEC_TOOLS_SERVER_SERVER_H_

#include <memory>
#include <string>
#include <string_view>

#include "tools/server/server_options.h"
#include "tools/server/session_store.h"
#include "tools/server/storage.h"

namespace docsec::server {

struct Request {
  int entry_point = 1;           // 1 or 2; both reach the same operations
  std::string_view body;         // the request document's text
  std::string_view session;      // the token the transport carried, or empty
  std::string_view source = {};  // the client's address; empty for callers in this process
};

struct Response {
  std::string body;     // the answer document's text
  std::string session;  // a new session token after a console login, else empty
  int code = 0;         // the result code the answer carries
};

class Server {
 public:
  // Opens the database (creating and migrating it) and, when it holds no department, creates the
  // top department and the "admin" supervisor. Null with a reason in *error on failure.
  static std::unique_ptr<Server> Open(ServerOptions options, std::string* error);
  ~Server();

  Response Handle(const Request& request);
  // A session for `account` as it stands now, opened without a login: for a caller that proved
  // the right to act for it by other means (the owner of an embedded database). "" when there is
  // no such account, the storage fails or no token can be made, with the reason in `*why`.
  std::string OpenSession(const std::string& account, std::string* why);

  // The admin password chosen when this start created the admin account; empty otherwise.
  const std::string& initial_admin_password() const { return initial_admin_password_; }
  const ServerOptions& options() const { return options_; }
  Storage& storage() { return *storage_; }
  SessionStore& sessions() { return *sessions_; }

 private:
  explicit Server(ServerOptions options);
  bool Bootstrap(std::string* error);
  // The answer for a refused request.
  static Response Refusal(int code, const std::string& message);

  ServerOptions options_;
  std::unique_ptr<Storage> storage_;
  std::unique_ptr<SessionStore> sessions_;
  std::unique_ptr<LoginLimiter> limiter_;
  std::string initial_admin_password_;
};

// The text every answer starts with.
constexpr const char* kAnswerProlog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_SERVER_H_
