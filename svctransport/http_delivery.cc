#include "svctransport/http_delivery.h"

#include <atomic>
#include <cctype>
#include <cstdint>

#if defined(SVCTRANSPORT_WITH_CURL)
#include <curl/curl.h>
#endif

namespace docsec::transport_internal {

bool ValidServerAddress(const std::string& server) {
  size_t host = 0;
  if (server.rfind("http://", 0) == 0) {
    host = 7;
  } else if (server.rfind("https://", 0) == 0) {
    host = 8;
  } else {
    return false;
  }
  if (host >= server.size()) return false;
  for (size_t i = host; i < server.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(server[i]);
    if (!std::isalnum(c) && c != '.' && c != '-' && c != ':' && c != '[' && c != ']') return false;
  }
  return true;
}

void HttpDelivery::Configure(const SvcTransportConfig& config) {
  static std::atomic<uint64_t> generations{0};
  auto settings = std::make_shared<Settings>();
  settings->config = config;
  settings->generation = ++generations;
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = config.server.empty() ? nullptr : std::move(settings);
  session_.clear();
}

bool HttpDelivery::configured() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_ != nullptr;
}

std::string HttpDelivery::session() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_;
}

void HttpDelivery::ForgetSession() {
  std::lock_guard<std::mutex> lock(mutex_);
  session_.clear();
}

void HttpDelivery::ResumeSession(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_ = token;
}

std::shared_ptr<const HttpDelivery::Settings> HttpDelivery::Current(std::string* token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *token = session_;
  return settings_;
}

void HttpDelivery::KeepSession(const std::shared_ptr<const Settings>& settings,
                               const std::string& token) {
  if (token.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (settings_ == settings) session_ = token;
}

#if !defined(SVCTRANSPORT_WITH_CURL) && !defined(SVCTRANSPORT_WITH_WINHTTP)

bool HttpDeliveryAvailable() { return false; }
bool HttpDeliveryReadsCaFile() { return false; }

std::optional<std::string> HttpDelivery::Send(int, const std::string&) {
  SetFailure(SvcTransportFailureKind::kNotConfigured, "this build has no network delivery");
  return std::nullopt;
}

#elif defined(SVCTRANSPORT_WITH_CURL)

bool HttpDeliveryAvailable() { return true; }
bool HttpDeliveryReadsCaFile() { return true; }

namespace {

// One easy handle per thread: libcurl keeps the connection of a handle open between requests,
// so a console thread that sends request after request pays for one connection (and one TLS
// handshake). A new configuration gets a new handle, so no connection made under the old trust
// settings is reused.
struct ThreadHandle {
  CURL* curl = nullptr;
  uint64_t generation = 0;
  ~ThreadHandle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

struct Reply {
  std::string body;
  std::string session;
  bool too_large = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  size_t bytes = size * count;
  if (reply->body.size() + bytes > kMaxAnswerBytes) {
    reply->too_large = true;
    return 0;  // ends the transfer
  }
  reply->body.append(data, bytes);
  return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  size_t bytes = size * count;
  std::string line(data, bytes);
  std::string name = std::string(kSessionHeader) + ":";
  if (line.size() > name.size()) {
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(line[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) {
      std::string value = line.substr(name.size());
      size_t first = value.find_first_not_of(" \t");
      size_t last = value.find_last_not_of(" \t\r\n");
      reply->session = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    }
  }
  return bytes;
}

// Records why libcurl's transfer gave no answer. `detail` is libcurl's own text of the failure
// (for a certificate, the verifier's).
void RecordCurlFailure(CURL* curl, CURLcode result, const char* detail, const std::string& url) {
  std::string text = detail[0] != '\0' ? detail : curl_easy_strerror(result);
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
      SetFailure(SvcTransportFailureKind::kNameNotResolved, "cannot resolve " + url + ": " + text);
      return;
    case CURLE_COULDNT_CONNECT:
      SetFailure(SvcTransportFailureKind::kConnectionRefused,
                 "cannot connect to " + url + ": " + text);
      return;
    case CURLE_OPERATION_TIMEDOUT: {
      curl_off_t connected = 0;
      curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connected);
      SetFailure(connected == 0 ? SvcTransportFailureKind::kConnectTimeout
                                : SvcTransportFailureKind::kAnswerTimeout,
                 (connected == 0 ? "no connection to " : "no answer from ") + url + ": " + text);
      return;
    }
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verdict = 0;
      curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verdict);
      // OpenSSL's verdicts 9 and 10: not yet valid, expired; 62: another host. libcurl checks
      // the name itself after OpenSSL's verdict, and says so in its text.
      SvcTransportFailureKind kind = SvcTransportFailureKind::kCertificateUntrusted;
      if (verdict == 9 || verdict == 10) {
        kind = SvcTransportFailureKind::kCertificateExpired;
      } else if (verdict == 62 || text.find("host name") != std::string::npos ||
                 text.find("subject name") != std::string::npos) {
        kind = SvcTransportFailureKind::kCertificateWrongName;
      }
      SetFailure(kind, url + ": " + text);
      return;
    }
    case CURLE_SSL_CONNECT_ERROR:
      SetFailure(SvcTransportFailureKind::kTlsFailure,
                 "TLS handshake with " + url + " failed: " + text);
      return;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
      SetFailure(SvcTransportFailureKind::kConnectionClosed,
                 url + " closed the connection without an HTTP answer (" + text + ")" +
                     (url.rfind("http://", 0) == 0 ? "; is it an HTTPS server?" : ""));
      return;
    default: SetFailure(SvcTransportFailureKind::kNetworkError, url + ": " + text);
  }
}

}  // namespace

std::optional<std::string> HttpDelivery::Send(int entry_point, const std::string& request) {
  static std::once_flag global_init;
  std::call_once(global_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::string token;
  std::shared_ptr<const Settings> settings = Current(&token);
  if (!settings) {
    SetFailure(SvcTransportFailureKind::kNotConfigured, "no server is configured");
    return std::nullopt;
  }
  const SvcTransportConfig& config = settings->config;

  thread_local ThreadHandle handle;
  if (handle.curl == nullptr || handle.generation != settings->generation) {
    if (handle.curl != nullptr) curl_easy_cleanup(handle.curl);
    handle.curl = curl_easy_init();
    handle.generation = settings->generation;
  }
  CURL* curl = handle.curl;
  if (curl == nullptr) {
    SetFailure(SvcTransportFailureKind::kNetworkError, "libcurl could not start a transfer");
    return std::nullopt;
  }

  std::string url = config.server + (entry_point == 1 ? "/svc" : "/svc/ex");
  struct curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-Type: application/xml; charset=utf-8");
  headers = curl_slist_append(headers, "Expect:");
  if (!token.empty()) {
    headers = curl_slist_append(headers, (std::string(kSessionHeader) + ": " + token).c_str());
  }
  Reply reply;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, config.connect_timeout_ms);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, config.timeout_ms);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, config.verify_peer ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, config.verify_peer ? 2L : 0L);
  if (!config.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, config.ca_file.c_str());
  char detail[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  // The handle outlives this call: leave it pointing at nothing of ours.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headers);
  if (reply.too_large) {
    SetFailure(SvcTransportFailureKind::kAnswerTooLarge,
               url + " answered with more than " + std::to_string(kMaxAnswerBytes >> 20) + " MiB");
    return std::nullopt;
  }
  if (result != CURLE_OK) {
    RecordCurlFailure(curl, result, detail, url);
    return std::nullopt;
  }
  if (status != 200) {
    SetFailure(SvcTransportFailureKind::kHttpStatus,
               url + " answered with HTTP status " + std::to_string(status), status);
    return std::nullopt;
  }
  if (reply.body.empty()) {
    SetFailure(SvcTransportFailureKind::kEmptyAnswer, url + " answered with an empty body");
    return std::nullopt;
  }
  KeepSession(settings, reply.session);
  return std::move(reply.body);
}

#endif

}  // namespace docsec::transport_internal
