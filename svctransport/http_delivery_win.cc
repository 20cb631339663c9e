// The network delivery over WinHTTP, the HTTP client every Windows system carries (libcurl is not
// part of one). One WinHTTP session per configuration pools the kept-alive connections for all
// threads; each send opens a connection and a request handle on it, which are cheap (no socket is
// made unless the pool has none free).
#include "svctransport/http_delivery.h"

#if defined(SVCTRANSPORT_WITH_WINHTTP)

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

namespace docsec::transport_internal {

bool HttpDeliveryAvailable() { return true; }
bool HttpDeliveryReadsCaFile() { return false; }

namespace {

struct Target {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
};

// The address passed ValidServerAddress, so it is ASCII and widens byte by byte.
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool ParseServer(const std::string& server, Target* target) {
  target->secure = server.rfind("https://", 0) == 0;
  std::string rest = server.substr(target->secure ? 8 : 7);
  std::string host = rest;
  std::string port;
  if (!rest.empty() && rest[0] == '[') {  // [IPv6 literal]
    size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      port = rest.substr(close + 2);
    }
  } else if (size_t colon = rest.find(':'); colon != std::string::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (host.empty()) return false;
  unsigned long number = target->secure ? 443 : 80;
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    number = std::stoul(port);
    if (number == 0 || number > 65535) return false;
  }
  target->host = Widen(host);
  target->port = static_cast<INTERNET_PORT>(number);
  return true;
}

// A time-out as WinHTTP takes it: at least 1 ms (0 would mean none at all), at most INT_MAX.
int Milliseconds(long ms) {
  return static_cast<int>(std::min<long>(std::max<long>(ms, 1), std::numeric_limits<int>::max()));
}

struct HandleCloser {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The WinHTTP session of the configuration `generation`; sends still under way with an older one
// keep theirs alive through their shared pointer. Never destroyed, so nothing calls into WinHTTP
// while the process unloads its libraries.
std::shared_ptr<void> SessionFor(const SvcTransportConfig& config, uint64_t generation) {
  static std::mutex* const mutex = new std::mutex();
  static auto* const current = new std::shared_ptr<void>();
  static uint64_t current_generation = 0;
  std::lock_guard<std::mutex> lock(*mutex);
  if (*current && current_generation == generation) return *current;
  HINTERNET session = WinHttpOpen(L"docsec", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) return nullptr;
  // WinHTTP bounds each step rather than the whole exchange: name resolution and connecting get
  // the connect time-out, each send and each wait for answer bytes the whole time-out (the wait
  // for the answer's head is set per request).
  WinHttpSetTimeouts(session, Milliseconds(config.connect_timeout_ms),
                     Milliseconds(config.connect_timeout_ms), Milliseconds(config.timeout_ms),
                     Milliseconds(config.timeout_ms));
  *current = std::shared_ptr<void>(session, HandleCloser());
  current_generation = generation;
  return *current;
}

// The session header of the answer, "" when it has none (or holds more than ASCII).
std::string SessionHeader(HINTERNET request) {
  std::wstring name = Widen(kSessionHeader);
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return "";
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), value.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return "";
  }
  value.resize(bytes / sizeof(wchar_t));
  std::string token;
  for (wchar_t c : value) {
    if (c < 0x21 || c > 0x7e) {
      if (c == L' ' || c == L'\t') continue;
      return "";
    }
    token.push_back(static_cast<char>(c));
  }
  return token;
}

// Records why a WinHTTP call failed, from its error code; `answering` tells whether the request
// was already sent (a time-out then waited for the answer, not for the connection).
void RecordWinHttpFailure(const std::string& url, bool answering) {
  DWORD code = GetLastError();
  std::string number = " (WinHTTP error " + std::to_string(code) + ")";
  switch (code) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      SetFailure(SvcTransportFailureKind::kNameNotResolved, "cannot resolve " + url + number);
      return;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      SetFailure(SvcTransportFailureKind::kConnectionRefused, "cannot connect to " + url + number);
      return;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // what some WinHTTP implementations report instead
      SetFailure(answering ? SvcTransportFailureKind::kAnswerTimeout
                           : SvcTransportFailureKind::kConnectTimeout,
                 (answering ? "no answer from " : "no connection to ") + url + number);
      return;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      SetFailure(SvcTransportFailureKind::kCertificateExpired,
                 url + ": the certificate is expired or not yet valid" + number);
      return;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      SetFailure(SvcTransportFailureKind::kCertificateWrongName,
                 url + ": the certificate is for another name" + number);
      return;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_FAILURE:
      SetFailure(SvcTransportFailureKind::kCertificateUntrusted,
                 url + ": the certificate is not trusted" + number);
      return;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    case WSAECONNRESET:
      SetFailure(SvcTransportFailureKind::kConnectionClosed,
                 url + " closed the connection without an HTTP answer" + number);
      return;
    default: SetFailure(SvcTransportFailureKind::kNetworkError, url + number);
  }
}

}  // namespace

std::optional<std::string> HttpDelivery::Send(int entry_point, const std::string& request) {
  std::string token;
  std::shared_ptr<const Settings> settings = Current(&token);
  if (!settings) {
    SetFailure(SvcTransportFailureKind::kNotConfigured, "no server is configured");
    return std::nullopt;
  }
  const SvcTransportConfig& config = settings->config;
  const std::string& url = config.server;
  Target target;
  if (!ParseServer(config.server, &target) || request.size() > MAXDWORD) {
    SetFailure(SvcTransportFailureKind::kBadConfiguration, "cannot send to " + url);
    return std::nullopt;
  }
  std::shared_ptr<void> session = SessionFor(config, settings->generation);
  if (!session) {
    RecordWinHttpFailure(url, false);
    return std::nullopt;
  }
  Handle connection(WinHttpConnect(session.get(), target.host.c_str(), target.port, 0));
  if (!connection) {
    RecordWinHttpFailure(url, false);
    return std::nullopt;
  }
  Handle exchange(WinHttpOpenRequest(
      connection.get(), L"POST", entry_point == 1 ? L"/svc" : L"/svc/ex", nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange) {
    RecordWinHttpFailure(url, false);
    return std::nullopt;
  }
  // The wait for the answer's head has a time-out of its own (90 s unless set).
  DWORD answer_ms = static_cast<DWORD>(Milliseconds(config.timeout_ms));
  WinHttpSetOption(exchange.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answer_ms,
                   sizeof answer_ms);
  DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(exchange.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects);
  if (target.secure && !config.verify_peer) {
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(exchange.get(), WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
  }
  std::wstring headers = L"Content-Type: application/xml; charset=utf-8\r\n";
  // A token with anything but visible ASCII could smuggle header lines: it is not sent.
  bool plain_token = !token.empty();
  for (char c : token) plain_token = plain_token && c > 0x20 && c < 0x7f;
  if (plain_token) headers += Widen(kSessionHeader) + L": " + Widen(token) + L"\r\n";
  DWORD size = static_cast<DWORD>(request.size());
  if (!WinHttpSendRequest(exchange.get(), headers.c_str(), static_cast<DWORD>(-1),
                          const_cast<char*>(request.data()), size, size, 0)) {
    RecordWinHttpFailure(url, false);
    return std::nullopt;
  }
  if (!WinHttpReceiveResponse(exchange.get(), nullptr)) {
    RecordWinHttpFailure(url, true);
    return std::nullopt;
  }
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (!WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
    RecordWinHttpFailure(url, true);
    return std::nullopt;
  }
  if (status != 200) {
    SetFailure(SvcTransportFailureKind::kHttpStatus,
               url + " answered with HTTP status " + std::to_string(status), status);
    return std::nullopt;
  }
  std::string body;
  constexpr size_t kChunk = 64 * 1024;
  for (;;) {
    size_t used = body.size();
    if (used > kMaxAnswerBytes) break;  // too large: dropped, not held
    body.resize(used + kChunk);
    DWORD read = 0;
    if (!WinHttpReadData(exchange.get(), &body[used], kChunk, &read)) {
      RecordWinHttpFailure(url, true);
      return std::nullopt;
    }
    body.resize(used + read);
    if (read == 0) break;
  }
  if (body.size() > kMaxAnswerBytes) {
    SetFailure(SvcTransportFailureKind::kAnswerTooLarge,
               url + " answered with more than " + std::to_string(kMaxAnswerBytes >> 20) + " MiB");
    return std::nullopt;
  }
  if (body.empty()) {
    SetFailure(SvcTransportFailureKind::kEmptyAnswer, url + " answered with an empty body");
    return std::nullopt;
  }
  KeepSession(settings, SessionHeader(exchange.get()));
  return body;
}

}  // namespace docsec::transport_internal

#endif  // SVCTRANSPORT_WITH_WINHTTP
