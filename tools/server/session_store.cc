#include "tools/server/session_store.h"

#include <openssl/rand.h>

#include <cstdint>

namespace docsec::server {

SessionStore::SessionStore(Options options, NowFunction now)
    : options_(options), now_(std::move(now)) {}

std::string SessionStore::Open(const std::string& account, int64_t stamp) {
  uint8_t bytes[32];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string token;
  token.reserve(2 * sizeof bytes);
  for (uint8_t b : bytes) {
    token.push_back(kDigits[b >> 4]);
    token.push_back(kDigits[b & 15]);
  }
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessions_.size() >= options_.max_sessions) DropOldestLocked();
  sessions_[token] = Session{account, stamp, now, now};
  return token;
}

bool SessionStore::Touch(const std::string& token, std::string* account, int64_t* stamp) {
  if (token.empty()) return false;
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sessions_.find(token);
  if (it == sessions_.end()) return false;
  Session& session = it->second;
  if (now - session.last_used > options_.idle_timeout || now - session.opened > options_.lifetime) {
    sessions_.erase(it);
    return false;
  }
  session.last_used = now;
  *account = session.account;
  if (stamp != nullptr) *stamp = session.stamp;
  return true;
}

void SessionStore::Revoke(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.erase(token);
}

size_t SessionStore::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

void SessionStore::DropOldestLocked() {
  auto oldest = sessions_.begin();
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (it->second.last_used < oldest->second.last_used) oldest = it;
  }
  if (oldest != sessions_.end()) sessions_.erase(oldest);
}

LoginLimiter::LoginLimiter(Options options, NowFunction now)
    : options_(options), now_(std::move(now)) {}

bool LoginLimiter::Allowed(const std::string& account) {
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(account);
  if (it == entries_.end()) return true;
  const Entry& entry = it->second;
  if (now - entry.last_failure > options_.forget) {
    entries_.erase(it);
    return true;
  }
  return entry.failures < options_.max_failures || now - entry.last_failure >= options_.hold;
}

void LoginLimiter::RecordFailure(const std::string& account) {
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() >= options_.max_tracked && entries_.count(account) == 0) {
    // Make room by forgetting the quiet entries; when none is quiet, the oldest goes.
    for (auto it = entries_.begin(); it != entries_.end();) {
      it = now - it->second.last_failure > options_.forget ? entries_.erase(it) : std::next(it);
    }
    if (entries_.size() >= options_.max_tracked) {
      auto oldest = entries_.begin();
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.last_failure < oldest->second.last_failure) oldest = it;
      }
      entries_.erase(oldest);
    }
  }
  Entry& entry = entries_[account];
  if (entry.failures > 0 && now - entry.last_failure > options_.forget) entry.failures = 0;
  ++entry.failures;
  entry.last_failure = now;
}

void LoginLimiter::RecordSuccess(const std::string& account) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(account);
}

}  // namespace docsec::server
