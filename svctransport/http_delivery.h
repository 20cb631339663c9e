// HttpDelivery: the network delivery of svctransport, over libcurl on POSIX systems and WinHTTP on
// Windows. Connections are kept alive between requests (libcurl: one easy handle and connection
// per thread; WinHTTP: the session's own pool) until the configuration changes; the session token
// is shared by the process.
//
// Thread safety: Send may run on many threads at once; Configure may run beside them (sends
// already under way finish with the configuration they started with).
#ifndef SVCTRANSPORT_HTTP_DELIVERY_H_
#define SVCTRANSPORT_HTTP_DELIVERY_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "svctransport/svctransport.h"

namespace docsec::transport_internal {

// The header that carries the session token both ways.
constexpr const char* kSessionHeader = "X-Docsec-Session";
// Answers above this size are dropped (no answer) rather than held in memory.
constexpr size_t kMaxAnswerBytes = size_t{512} << 20;

// Records why the current send on this thread gives no answer (kind kNone: it was answered).
void SetFailure(SvcTransportFailureKind kind, const std::string& text, long http_status = 0);

// True when network delivery was built in.
bool HttpDeliveryAvailable();
// True when the delivery can trust the authorities of a CA file; WinHTTP trusts the system's
// certificate store only.
bool HttpDeliveryReadsCaFile();
// True when `server` reads http://host[:port] or https://host[:port] (no path, no user).
bool ValidServerAddress(const std::string& server);

class HttpDelivery {
 public:
  // Applies `config` (its server must be valid or empty) and forgets the session.
  void Configure(const SvcTransportConfig& config);
  bool configured() const;
  // POSTs `request` to the entry point's path; the answer's body on status 200, else nullopt.
  std::optional<std::string> Send(int entry_point, const std::string& request);

  std::string session() const;
  void ForgetSession();
  // Sends `token` from now on, as if a login had brought it.
  void ResumeSession(const std::string& token);

 private:
  struct Settings {
    SvcTransportConfig config;
    uint64_t generation = 0;  // new for every Configure, so kept connections can be told apart
  };
  // The configuration a send starts with and the session token to send (*token).
  std::shared_ptr<const Settings> Current(std::string* token) const;
  // Keeps the token a login's answer brought, unless the configuration changed meanwhile.
  void KeepSession(const std::shared_ptr<const Settings>& settings, const std::string& token);

  mutable std::mutex mutex_;
  std::shared_ptr<const Settings> settings_;
  std::string session_;
};

}  // namespace docsec::transport_internal

#endif  // SVCTRANSPORT_HTTP_DELIVERY_H_
