#include "svctransport/svctransport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "svctransport/http_delivery.h"
#include "svctransport/recording.h"

namespace docsec {
namespace {

using transport_internal::Exchange;
using transport_internal::HttpDelivery;
using transport_internal::Recorder;
using transport_internal::Replayer;

std::mutex g_mutex;
std::shared_ptr<SvcTransportHandler> g_handler;
constexpr char kUnnamedHandler[] = "in-process";
std::string g_handler_name = kUnnamedHandler;
std::string g_server;  // the configured network server
std::shared_ptr<Recorder> g_recorder;
std::shared_ptr<Replayer> g_replayer;
std::shared_ptr<SvcTransportObserver> g_observer;
bool g_configured = false;  // by the host or from the environment

// The failure of the last send on each thread. Plain data only: on Windows a thread_local with
// a destructor inside a DLL corrupts the heap at thread exit, so the text is a bounded array.
struct ThreadFailure {
  SvcTransportFailureKind kind;
  long http_status;
  char text[480];
};
thread_local ThreadFailure t_failure = {SvcTransportFailureKind::kNone, 0, {0}};

// Why the environment could not configure the transport, kept for every later send.
std::string* const g_environment_error = new std::string();  // guarded by g_mutex

HttpDelivery& Network() {
  static HttpDelivery* const network = new HttpDelivery();  // lives as long as the process
  return *network;
}

// Reads the environment before the first delivery, unless the host configured the transport;
// other threads' first sends wait for it, so none of them goes out unconfigured.
void ConfigureOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_configured) return;
    }
    std::string error;
    if (!SvcTransportConfigureFromEnvironment(&error)) {
      std::lock_guard<std::mutex> lock(g_mutex);
      *g_environment_error = error;
    }
  });
}

// The failure of a send that found nothing to deliver through.
void NotConfigured() {
  std::string error;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    error = *g_environment_error;
  }
  if (!error.empty()) {
    transport_internal::SetFailure(SvcTransportFailureKind::kBadConfiguration,
                                   "the transport's configuration is malformed: " + error);
  } else {
    transport_internal::SetFailure(
        SvcTransportFailureKind::kNotConfigured,
        "no server is configured (DOCSEC_SERVER or SvcTransportConfigure)");
  }
}

std::optional<std::string> Deliver(int entry_point, const std::string& request) {
  ConfigureOnce();
  std::shared_ptr<SvcTransportHandler> handler;
  std::shared_ptr<Recorder> recorder;
  std::shared_ptr<Replayer> replayer;
  std::shared_ptr<SvcTransportObserver> observer;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = g_handler;
    recorder = g_recorder;
    replayer = g_replayer;
    observer = g_observer;
  }
  auto start = std::chrono::steady_clock::now();
  std::optional<std::string> answer;
  transport_internal::SetFailure(SvcTransportFailureKind::kNone, "");
  if (replayer) {
    answer = replayer->Answer(entry_point, request);
    if (!answer) {
      transport_internal::SetFailure(SvcTransportFailureKind::kNoReplayMatch,
                                     "the replayed recording has no exchange for this request");
    }
  } else if (handler) {
    std::string text = (*handler)(entry_point, request);
    if (!text.empty()) {
      answer = std::move(text);
    } else {
      transport_internal::SetFailure(SvcTransportFailureKind::kEmptyAnswer,
                                     "the in-process handler gave no answer");
    }
  } else if (!Network().configured()) {
    NotConfigured();
  } else {
    answer = Network().Send(entry_point, request);
  }
  if (!recorder && !observer) return answer;
  const long milliseconds = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - start)
                                                  .count());
  if (recorder) {
    Exchange exchange;
    exchange.entry_point = entry_point;
    exchange.milliseconds = milliseconds;
    exchange.request = request;
    exchange.answer = answer;
    recorder->Append(exchange);
  }
  if (observer) {
    (*observer)(SvcTransportExchange{entry_point, milliseconds, request, answer,
                                     SvcTransportLastFailure()});
  }
  return answer;
}

bool ParseLong(const std::string& text, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < 0) return false;
  *value = parsed;
  return true;
}

// Applies one "key = value" setting; false with a reason for an unknown key or a bad value.
bool ApplySetting(const std::string& key, const std::string& value, SvcTransportConfig* config,
                  std::string* error) {
  if (key == "server") {
    config->server = value;
  } else if (key == "ca_file") {
    config->ca_file = value;
  } else if (key == "verify_peer") {
    if (value != "0" && value != "1") {
      *error = "verify_peer must be 0 or 1";
      return false;
    }
    config->verify_peer = value == "1";
  } else if (key == "connect_timeout_ms" || key == "timeout_ms") {
    long number;
    if (!ParseLong(value, &number)) {
      *error = key + " must be a number of milliseconds";
      return false;
    }
    (key == "timeout_ms" ? config->timeout_ms : config->connect_timeout_ms) = number;
  } else if (key == "record_file") {
    config->record_file = value;
  } else if (key == "replay_file") {
    config->replay_file = value;
  } else {
    *error = "unknown transport setting " + key;
    return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

namespace transport_internal {

void SetFailure(SvcTransportFailureKind kind, const std::string& text, long http_status) {
  t_failure.kind = kind;
  t_failure.http_status = http_status;
  size_t length = std::min(text.size(), sizeof t_failure.text - 1);
  // Cut at a character boundary, never inside a UTF-8 sequence.
  while (length > 0 && length < text.size() &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  text.copy(t_failure.text, length);
  t_failure.text[length] = '\0';
}

}  // namespace transport_internal

SvcTransportFailure SvcTransportLastFailure() {
  SvcTransportFailure failure;
  failure.kind = t_failure.kind;
  failure.http_status = t_failure.http_status;
  failure.text = t_failure.text;
  return failure;
}

const char* SvcTransportFailureKindName(SvcTransportFailureKind kind) {
  switch (kind) {
    case SvcTransportFailureKind::kNone: return "answered";
    case SvcTransportFailureKind::kNotConfigured: return "not configured";
    case SvcTransportFailureKind::kBadConfiguration: return "malformed configuration";
    case SvcTransportFailureKind::kNameNotResolved: return "name not resolved";
    case SvcTransportFailureKind::kConnectionRefused: return "connection refused";
    case SvcTransportFailureKind::kConnectTimeout: return "connect time-out";
    case SvcTransportFailureKind::kTlsFailure: return "TLS handshake failed";
    case SvcTransportFailureKind::kCertificateUntrusted: return "certificate not trusted";
    case SvcTransportFailureKind::kCertificateExpired: return "certificate expired";
    case SvcTransportFailureKind::kCertificateWrongName: return "certificate for another name";
    case SvcTransportFailureKind::kAnswerTimeout: return "answer time-out";
    case SvcTransportFailureKind::kConnectionClosed: return "connection closed without an answer";
    case SvcTransportFailureKind::kHttpStatus: return "HTTP status";
    case SvcTransportFailureKind::kAnswerTooLarge: return "answer too large";
    case SvcTransportFailureKind::kEmptyAnswer: return "empty answer";
    case SvcTransportFailureKind::kNoReplayMatch: return "no matching exchange in the replay";
    case SvcTransportFailureKind::kNetworkError: return "network error";
  }
  return "unknown";
}

SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler) {
  return SvcTransportSetHandler(std::move(handler), kUnnamedHandler, nullptr);
}

SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler, const std::string& name,
                                           std::string* previous_name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SvcTransportHandler> previous = std::move(g_handler);
  if (previous_name != nullptr) *previous_name = g_handler_name;
  if (handler) g_handler = std::make_shared<SvcTransportHandler>(std::move(handler));
  g_handler_name = name.empty() ? kUnnamedHandler : name;
  return previous ? *previous : SvcTransportHandler();
}

SvcTransportObserver SvcTransportSetObserver(SvcTransportObserver observer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SvcTransportObserver> previous = std::move(g_observer);
  if (observer) g_observer = std::make_shared<SvcTransportObserver>(std::move(observer));
  return previous ? *previous : SvcTransportObserver();
}

std::string SvcTransportDestination() {
  ConfigureOnce();
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_handler ? g_handler_name : g_server;
}

bool SvcTransportConfigure(const SvcTransportConfig& config, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (!config.server.empty()) {
    if (!transport_internal::ValidServerAddress(config.server)) {
      *error = "the server must read http://host:port or https://host:port, not " + config.server;
      return false;
    }
    if (!transport_internal::HttpDeliveryAvailable()) {
      *error = "this build of svctransport has no network delivery";
      return false;
    }
    if (!config.ca_file.empty() && !transport_internal::HttpDeliveryReadsCaFile()) {
      *error =
          "a CA file is not read on this system: add the authority to the system's "
          "certificate store instead";
      return false;
    }
  }
  std::shared_ptr<Recorder> recorder;
  if (!config.record_file.empty()) {
    recorder = std::make_shared<Recorder>();
    if (!recorder->Open(config.record_file, error)) return false;
  }
  std::shared_ptr<Replayer> replayer;
  if (!config.replay_file.empty()) {
    replayer = std::make_shared<Replayer>();
    if (!replayer->Load(config.replay_file, error)) return false;
  }
  Network().Configure(config);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_recorder = std::move(recorder);
  g_replayer = std::move(replayer);
  g_server = config.server;
  g_configured = true;
  g_environment_error->clear();
  return true;
}

bool SvcTransportConfigureFromEnvironment(std::string* error) {
  SvcTransportConfig config;
  return SvcTransportApplyEnvironment(&config, error) && SvcTransportConfigure(config, error);
}

bool SvcTransportApplyEnvironment(SvcTransportConfig* out, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  // Filled on a copy, so a malformed value leaves the caller's configuration as it was.
  SvcTransportConfig config = *out;
  if (const char* path = std::getenv("DOCSEC_TRANSPORT_CONFIG"); path != nullptr && *path) {
    std::ifstream file(path);
    if (!file) {
      *error = std::string("cannot read ") + path;
      return false;
    }
    std::string line;
    while (std::getline(file, line)) {
      line = Trim(line);
      if (line.empty() || line[0] == '#') continue;
      size_t equals = line.find('=');
      if (equals == std::string::npos) {
        *error = std::string(path) + ": not a \"key = value\" line: " + line;
        return false;
      }
      if (!ApplySetting(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), &config,
                        error)) {
        return false;
      }
    }
  }
  static const char* const kVariables[][2] = {
      {"DOCSEC_SERVER", "server"},           {"DOCSEC_CA_FILE", "ca_file"},
      {"DOCSEC_VERIFY_PEER", "verify_peer"}, {"DOCSEC_CONNECT_TIMEOUT_MS", "connect_timeout_ms"},
      {"DOCSEC_TIMEOUT_MS", "timeout_ms"},   {"DOCSEC_RECORD", "record_file"},
      {"DOCSEC_REPLAY", "replay_file"}};
  for (const auto& variable : kVariables) {
    const char* value = std::getenv(variable[0]);
    if (value != nullptr && *value && !ApplySetting(variable[1], value, &config, error)) {
      return false;
    }
  }
  *out = std::move(config);
  return true;
}

std::string SvcTransportSessionToken() { return Network().session(); }
void SvcTransportForgetSession() { Network().ForgetSession(); }
void SvcTransportResumeSession(const std::string& token) { Network().ResumeSession(token); }

std::optional<std::string> SvcTransportSend(const std::string& request) {
  return Deliver(1, request);
}
std::optional<std::string> SvcTransportSendEx(const std::string& request) {
  return Deliver(2, request);
}

}  // namespace docsec
