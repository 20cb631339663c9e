// Embedded: a reference server inside the process, installed as the in-process handler of
// svctransport, so a console or a test talks to a real server without a port. Like the network
// transport, it keeps the session token of the last console login for the whole process and
// sends it with every later request.
//
// Ownership: owns its server. The previous handler is restored when the object dies. Thread
// safety: requests may arrive from any thread.
#ifndef DOCSEC_TOOLS_SERVER_EMBEDDED_H_
#define DOCSEC_TOOLS_SERVER_EMBEDDED_H_

#include <memory>
#include <mutex>
#include <string>

#include "svctransport/svctransport.h"
#include "tools/server/server.h"

namespace docsec::server {

class Embedded {
 public:
  // Opens a server on `options.database` (":memory:" for a private one) and installs it, named
  // "embedded:" and the database's absolute path (see SvcTransportDestination). Null with a
  // reason in *error when the database cannot be opened.
  static std::unique_ptr<Embedded> Start(ServerOptions options, std::string* error);
  ~Embedded();
  Embedded(const Embedded&) = delete;
  Embedded& operator=(const Embedded&) = delete;

  Server& server() { return *server_; }
  // The session token sent with requests ("" before the first console login).
  std::string session() const;
  void set_session(std::string token);

 private:
  Embedded(std::unique_ptr<Server> server, const std::string& name);
  std::string Handle(int entry_point, const std::string& request);

  std::unique_ptr<Server> server_;
  mutable std::mutex mutex_;
  std::string session_;
  SvcTransportHandler previous_;
  std::string previous_name_;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_EMBEDDED_H_
