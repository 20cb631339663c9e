// ServerOptions: everything a reference server is started with. The defaults suit a console
// developer's machine; tests shorten the hash iterations, the limits and the clock.
#ifndef DOCSEC_TOOLS_SERVER_SERVER_OPTIONS_H_
#define DOCSEC_TOOLS_SERVER_SERVER_OPTIONS_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "tools/server/password_hash.h"
#include "tools/server/session_store.h"

namespace docsec::server {

// Decides a certificate login: given the three texts the console sends, gives the account that
// signed them, or "" to refuse.
using CertificateCheck = std::function<std::string(
    const std::string& signed_data, const std::string& certificate, const std::string& signature)>;

struct ServerOptions {
  // The database file; ":memory:" for a private in-memory database.
  std::string database = ":memory:";
  // Connections kept to a file database (readers run beside the one writer).
  int connections = 8;
  // A file database is held by this server alone (see SqliteStorage::Options::exclusive).
  bool exclusive_database = false;
  // synchronous=FULL; false only to measure its cost.
  bool durable_commits = true;
  // PBKDF2 rounds for new password hashes; a login re-hashes a password stored with fewer.
  int password_iterations = kDefaultPasswordIterations;
  // Request bodies above this size are refused unread.
  size_t max_request_bytes = 16u << 20;
  // A request still running after this long is stopped and changes nothing.
  std::chrono::milliseconds request_timeout{30000};
  SessionStore::Options sessions;
  LoginLimiter::Options login_limits;
  // The clock of sessions and login limits; steady_clock::now when empty.
  NowFunction now;
  // Certificate login stays "not configured" while this is empty.
  CertificateCheck certificate_check;
  // The password of the "admin" supervisor made in an empty database; a random one (reported by
  // Server::initial_admin_password) when empty.
  std::string initial_admin_password;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_SERVER_OPTIONS_H_
