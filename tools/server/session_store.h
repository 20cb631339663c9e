// SessionStore: the console sessions that logins open. A session is a random 256-bit token (64
// hexadecimal digits) naming an account; the transport carries it beside the XML, never in it.
// A session ends after a time without use and, at the latest, a fixed time after the login. The
// account's rights are not kept here: the server reads them again on every request, so a lock or
// a change of rights takes effect at once. Sessions live in memory: a restart logs everyone out.
//
// Thread safety: all members may be called from any thread.
#ifndef DOCSEC_TOOLS_SERVER_SESSION_STORE_H_
#define DOCSEC_TOOLS_SERVER_SESSION_STORE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace docsec::server {

using ServerClock = std::chrono::steady_clock;
// The time source of sessions and login limits; tests pass one they can advance.
using NowFunction = std::function<ServerClock::time_point()>;

class SessionStore {
 public:
  struct Options {
    std::chrono::seconds idle_timeout{30 * 60};
    std::chrono::seconds lifetime{12 * 60 * 60};
    size_t max_sessions = 10000;  // the oldest session is dropped to make room
  };

  SessionStore(Options options, NowFunction now);

  // A new session for `account` as it stands under `stamp` (its users.session_stamp); "" only
  // when the random generator fails.
  std::string Open(const std::string& account, int64_t stamp = 0);
  // The account and stamp of a live session, refreshing its idle time; false for an unknown,
  // forged or expired token (an expired one is forgotten).
  bool Touch(const std::string& token, std::string* account, int64_t* stamp = nullptr);
  void Revoke(const std::string& token);
  size_t size() const;

 private:
  struct Session {
    std::string account;
    int64_t stamp;
    ServerClock::time_point opened;
    ServerClock::time_point last_used;
  };
  void DropOldestLocked();

  const Options options_;
  const NowFunction now_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, Session> sessions_;
};

// LoginLimiter: refuses logins for a while after repeated failures, so that passwords cannot be
// guessed at the speed of the server. Failures are counted per account and source address
// together: a stranger's guesses hold the account for that stranger, not for its owner coming
// from elsewhere. A source that keeps failing over any accounts is held as a whole, and every
// source may start logins only at a bounded rate. The empty source (callers in this process) is
// held per account only and never rate limited.
class LoginLimiter {
 public:
  struct Options {
    int max_failures = 5;                  // failures in a row of one account from one source
    int max_source_failures = 20;          // failures from one source over all accounts
    std::chrono::seconds hold{5 * 60};     // how long each further failure holds it
    std::chrono::seconds forget{15 * 60};  // a quiet time after which the failures are forgotten
    size_t max_tracked = 100000;           // accounts, sources and pairs remembered at once
    double attempts_per_second = 2;        // logins a source may start, on average
    int attempt_burst = 20;                // and at once after a quiet time
  };

  LoginLimiter(Options options, NowFunction now);

  // False while `account` is held for `source`, or `source` is held; such an attempt is not
  // checked and not counted.
  bool Allowed(const std::string& account, const std::string& source);
  void RecordFailure(const std::string& account, const std::string& source);
  void RecordSuccess(const std::string& account, const std::string& source);
  // Takes one login attempt from the allowance of `source`; false when it comes too fast.
  bool TakeAttempt(const std::string& source);

 private:
  struct Entry {
    int failures = 0;
    ServerClock::time_point last_failure;
  };
  struct Allowance {
    double tokens = 0;
    ServerClock::time_point refilled;
  };
  bool HeldLocked(const std::string& key, int max_failures, ServerClock::time_point now);
  void CountLocked(const std::string& key, ServerClock::time_point now);

  const Options options_;
  const NowFunction now_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  std::unordered_map<std::string, Allowance> allowances_;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_SESSION_STORE_H_
