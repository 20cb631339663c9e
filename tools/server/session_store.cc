#include "tools/server/session_store.h"

#include <openssl/rand.h>

#include <algorithm>
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

namespace {

// Keys of the failure table; the NUL cannot occur in an account name or an address.
std::string PairKey(const std::string& account, const std::string& source) {
  return account + std::string(1, '\0') + source;
}
std::string SourceKey(const std::string& source) { return std::string(1, '\0') + source; }

}  // namespace

bool LoginLimiter::HeldLocked(const std::string& key, int max_failures,
                              ServerClock::time_point now) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  const Entry& entry = it->second;
  if (now - entry.last_failure > options_.forget) {
    entries_.erase(it);
    return false;
  }
  return entry.failures >= max_failures && now - entry.last_failure < options_.hold;
}

bool LoginLimiter::Allowed(const std::string& account, const std::string& source) {
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!source.empty() && HeldLocked(SourceKey(source), options_.max_source_failures, now)) {
    return false;
  }
  return !HeldLocked(PairKey(account, source), options_.max_failures, now);
}

void LoginLimiter::CountLocked(const std::string& key, ServerClock::time_point now) {
  if (entries_.size() >= options_.max_tracked && entries_.count(key) == 0) {
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
  Entry& entry = entries_[key];
  if (entry.failures > 0 && now - entry.last_failure > options_.forget) entry.failures = 0;
  ++entry.failures;
  entry.last_failure = now;
}

void LoginLimiter::RecordFailure(const std::string& account, const std::string& source) {
  ServerClock::time_point now = now_();
  std::lock_guard<std::mutex> lock(mutex_);
  CountLocked(PairKey(account, source), now);
  if (!source.empty()) CountLocked(SourceKey(source), now);
}

void LoginLimiter::RecordSuccess(const std::string& account, const std::string& source) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(PairKey(account, source));
}

bool LoginLimiter::TakeAttempt(const std::string& source) {
  if (source.empty()) return true;
  ServerClock::time_point now = now_();
  const double burst = options_.attempt_burst;
  std::lock_guard<std::mutex> lock(mutex_);
  auto refill = [&](Allowance& allowance) {
    double seconds = std::chrono::duration<double>(now - allowance.refilled).count();
    allowance.tokens = std::min(burst, allowance.tokens + seconds * options_.attempts_per_second);
    allowance.refilled = now;
  };
  auto it = allowances_.find(source);
  if (it == allowances_.end()) {
    if (allowances_.size() >= options_.max_tracked) {
      // A source whose allowance is whole again is no different from one never seen.
      for (auto at = allowances_.begin(); at != allowances_.end();) {
        refill(at->second);
        at = at->second.tokens >= burst ? allowances_.erase(at) : std::next(at);
      }
      if (allowances_.size() >= options_.max_tracked) return false;
    }
    it = allowances_.emplace(source, Allowance{burst, now}).first;
  }
  refill(it->second);
  if (it->second.tokens < 1) return false;
  it->second.tokens -= 1;
  return true;
}

}  // namespace docsec::server
