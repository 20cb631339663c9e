// HttpDelivery: the network delivery of svctransport over libcurl. Each thread keeps one easy
// handle, and with it one kept-alive connection, until the configuration changes; the session
// token is shared by the process.
//
// Thread safety: Send may run on many threads at once; Configure may run beside them (sends
// already under way finish with the configuration they started with).
#ifndef SVCTRANSPORT_HTTP_DELIVERY_H_
#define SVCTRANSPORT_HTTP_DELIVERY_H_

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

// True when network delivery was built in.
bool HttpDeliveryAvailable();
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
  struct Settings;
  mutable std::mutex mutex_;
  std::shared_ptr<const Settings> settings_;
  std::string session_;
};

}  // namespace docsec::transport_internal

#endif  // SVCTRANSPORT_HTTP_DELIVERY_H_
