// EmbeddedServer: the reference management server inside a console's own process, for the
// console's tests. It answers every request the library sends through svctransport (installed as
// its in-process handler while the object lives), from a private in-memory database or a file,
// seeded with the demo organisation when asked: departments several levels deep, users with known
// passwords, computers, policies and logs.
//
// Link docsec::server (find_package(docsec COMPONENTS server)) beside docsec::docsec. The
// server's own storage, HTTP front end and their libraries stay inside libdocsec_server.
//
// Ownership: the object owns the server; the handler that was installed before is restored when
// it dies. Thread safety: requests may come from any thread; Start and destruction from one.
#ifndef DOCSEC_SERVER_EMBEDDED_SERVER_H_
#define DOCSEC_SERVER_EMBEDDED_SERVER_H_

#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32)
#if defined(DOCSEC_SERVER_BUILDING)
#define DOCSEC_SERVER_EXPORT __declspec(dllexport)
#else
#define DOCSEC_SERVER_EXPORT __declspec(dllimport)
#endif
#else
#define DOCSEC_SERVER_EXPORT __attribute__((visibility("default")))
#endif

namespace docsec::server {

struct EmbeddedServerOptions {
  // The database file, created when missing; ":memory:" for a private one that dies with the
  // object.
  std::string database = ":memory:";
  // Seeds the demo organisation. The database must then be new (or hold only what a first start
  // made): seeding into one with data fails.
  bool demo = true;
  // PBKDF2 rounds for the password hashes it stores; 0 keeps the server's default (200,000).
  // Tests that log in often choose fewer (at least 1,000): every login hashes once.
  int password_iterations = 0;
};

// An account a console may log in with: its id, its password and what it may do.
struct EmbeddedAccount {
  std::string id;
  std::string password;
  std::string role;
};

class DOCSEC_SERVER_EXPORT EmbeddedServer {
 public:
  // Opens the database, seeds it when asked and installs the server as svctransport's handler.
  // Null with the reason in *error (when not null) when the database cannot be opened, the
  // options are out of range or the demo cannot be seeded; nothing stays installed then.
  static std::unique_ptr<EmbeddedServer> Start(const EmbeddedServerOptions& options,
                                               std::string* error);
  ~EmbeddedServer();
  EmbeddedServer(const EmbeddedServer&) = delete;
  EmbeddedServer& operator=(const EmbeddedServer&) = delete;

  // The accounts of the demo when seeded; otherwise the "admin" supervisor with the password
  // this start gave it (none when the database already had its accounts).
  const std::vector<EmbeddedAccount>& accounts() const;
  // The enterprise key offline logins receive; empty without the demo.
  const std::string& enterprise_key() const;

 private:
  struct State;
  explicit EmbeddedServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace docsec::server

#endif  // DOCSEC_SERVER_EMBEDDED_SERVER_H_
