// svctransport: the server transport. Two entry points carry a request to the management server
// and give back its answer: SvcTransportSend serves data source 1 and SvcTransportSendEx every
// other data source. Both are synchronous.
//
// The entry points carry text, not documents. docsec links this library, and on this platform no
// document object can be shared across a library boundary: a document belongs to the XML facade
// of the library that made it, so handing one over would mean a second copy of the facade (and of
// its parser) in this library. Instead docsec's request channel renders the request document to
// text and parses the answer's text, and the facade has one owner.
//
// The answer's text comes back by value, in a std::string the caller then owns outright: nothing
// needs freeing, and the caller may move the string into its parser, which keeps it and parses it
// in place instead of copying it. std::string already crosses this boundary in the handler's
// signature, so it adds no new type the two libraries must agree on.
//
// Delivery is pluggable, tried in this order:
//  - replay: answers come from a recording made earlier, and nothing is sent anywhere;
//  - in-process: a handler gets the request's text and returns the answer's text (an empty text
//    means no answer); embedded servers and test fixtures install one;
//  - network: an HTTP or HTTPS POST of the request to the configured server, "/svc" for entry
//    point 1 and "/svc/ex" for entry point 2, with certificate verification on unless turned
//    off, connect and whole-request time-outs, and one kept-alive connection per thread. The
//    session token a login's answer carries (header X-Docsec-Session) is kept for the process and
//    sent with every later request.
// With none of them configured, every send gives no answer. Whatever delivers, a recording (when
// configured) gets every exchange: entry point, request, answer and time taken; so does an
// observer (SvcTransportSetObserver), with the failure too.
//
// Configuration comes from SvcTransportConfigure, or, when the host never calls it, from the
// environment on the first send: DOCSEC_SERVER (http://host:port or https://host:port),
// DOCSEC_CA_FILE, DOCSEC_VERIFY_PEER (0 turns verification off), DOCSEC_CONNECT_TIMEOUT_MS,
// DOCSEC_TIMEOUT_MS, DOCSEC_RECORD and DOCSEC_REPLAY; or from the file DOCSEC_TRANSPORT_CONFIG
// names, one "key = value" a line with the keys of SvcTransportConfig.
//
// Thread safety: the entry points may be called from several threads; the handler is then called
// concurrently and must be thread-safe itself. Replacing the handler while sends run is allowed.
#ifndef SVCTRANSPORT_SVCTRANSPORT_H_
#define SVCTRANSPORT_SVCTRANSPORT_H_

#include <functional>
#include <optional>
#include <string>

#if defined(_WIN32)
#if defined(SVCTRANSPORT_BUILDING)
#define SVCTRANSPORT_EXPORT __declspec(dllexport)
#else
#define SVCTRANSPORT_EXPORT __declspec(dllimport)
#endif
#elif defined(SVCTRANSPORT_BUILDING)
#define SVCTRANSPORT_EXPORT __attribute__((visibility("default")))
#else
#define SVCTRANSPORT_EXPORT
#endif

namespace docsec {

// The handler of in-process delivery: gets the entry point (1 or 2) and the request's text and
// returns the answer's text, or an empty text for no answer.
using SvcTransportHandler = std::function<std::string(int entry_point, const std::string& request)>;

// Installs `handler` (an empty function removes it) and returns the previous one.
SVCTRANSPORT_EXPORT SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler);
// The same, naming the server the handler stands for (SvcTransportDestination); the previous
// handler's name goes to `*previous_name` when given, for restoring both. Without a name a
// handler is "in-process".
SVCTRANSPORT_EXPORT SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler,
                                                               const std::string& name,
                                                               std::string* previous_name);
// Where requests go now, as a name that stays the same for the same server: the in-process
// handler's name when one is installed, else the configured server's address (read from the
// environment first when the host configured nothing), else "" (nothing delivers). Data that
// must reach one particular server (operation logs waiting to be sent) is bound to it.
SVCTRANSPORT_EXPORT std::string SvcTransportDestination();

// How requests are delivered when no in-process handler is installed.
struct SvcTransportConfig {
  std::string server;       // "http://host:port" or "https://host:port"; empty: no network
  std::string ca_file;      // PEM file of the certificate authorities to trust; empty: the system's
  bool verify_peer = true;  // check the server's certificate and name (HTTPS)
  long connect_timeout_ms = 5000;
  long timeout_ms = 60000;  // the whole exchange
  std::string record_file;  // append every exchange to this file; empty: no recording
  std::string replay_file;  // answer from this recording instead of delivering; empty: none
};

// Replaces the configuration (and forgets the session token). False with a reason in *error, and
// the previous configuration kept, for a server address that is not http(s)://host[:port], a
// network server in a build without network delivery, or a recording or replay file that cannot
// be opened or read.
SVCTRANSPORT_EXPORT bool SvcTransportConfigure(const SvcTransportConfig& config,
                                               std::string* error);
// Reads the configuration from the environment (or the file it names) as described above and
// applies it. False with a reason when a value is malformed; no variable set is no error.
SVCTRANSPORT_EXPORT bool SvcTransportConfigureFromEnvironment(std::string* error);
// Overrides the fields of *config that the environment (or the file DOCSEC_TRANSPORT_CONFIG
// names) sets, the file's first and then the variables', and leaves every other field as it was;
// nothing is applied to the transport. False with a reason, and *config untouched, when a value is
// malformed or the file cannot be read. A host that layers settings of its own (a console's
// profiles and flags) starts from this so that no variable set by the user is lost.
SVCTRANSPORT_EXPORT bool SvcTransportApplyEnvironment(SvcTransportConfig* config,
                                                      std::string* error);
// The session token the network delivery sends ("" when none); forgetting it ends the session
// on this side.
SVCTRANSPORT_EXPORT std::string SvcTransportSessionToken();
SVCTRANSPORT_EXPORT void SvcTransportForgetSession();
// Sends `token` as the session of later network requests, so that a program started after a
// login (a command-line console, say) goes on with the session another process opened. A later
// login's token replaces it; SvcTransportConfigure forgets it.
SVCTRANSPORT_EXPORT void SvcTransportResumeSession(const std::string& token);

// Entry point 1: sends `request`, the whole request document as text, and returns the answer's
// text, which the caller owns; no value when there was no answer (SvcTransportLastFailure says
// why).
SVCTRANSPORT_EXPORT std::optional<std::string> SvcTransportSend(const std::string& request);
// Entry point 2; same contract as entry point 1.
SVCTRANSPORT_EXPORT std::optional<std::string> SvcTransportSendEx(const std::string& request);

// Why a send gave no answer.
enum class SvcTransportFailureKind {
  kNone = 0,              // the send was answered
  kNotConfigured,         // no server, in-process handler or replay
  kBadConfiguration,      // the environment or the configuration file is malformed
  kNameNotResolved,       // the server's host name does not resolve
  kConnectionRefused,     // nothing listens at the server's address and port
  kConnectTimeout,        // no connection within the connect time-out
  kTlsFailure,            // the TLS handshake failed (not an HTTPS server, no common protocol)
  kCertificateUntrusted,  // the certificate's authority is not trusted (self-signed, unknown)
  kCertificateExpired,    // the certificate is expired or not yet valid
  kCertificateWrongName,  // the certificate is for another name
  kAnswerTimeout,         // connected, but the answer did not come within the time-out
  kConnectionClosed,      // the peer closed the connection without an HTTP answer
  kHttpStatus,            // an HTTP answer other than 200 (http_status)
  kAnswerTooLarge,        // the answer exceeded the transport's limit
  kEmptyAnswer,           // an answer without a body, or an in-process handler's empty text
  kNoReplayMatch,         // the replayed recording holds no matching exchange
  kNetworkError,          // any other failure of the connection (the text names it)
};

struct SvcTransportFailure {
  SvcTransportFailureKind kind = SvcTransportFailureKind::kNone;
  long http_status = 0;  // for kHttpStatus
  std::string text;      // the cause in words, with the peer's or the verifier's own text
};

// How the last send on the calling thread ended: kind kNone when it was answered. Each thread
// has its own, so concurrent sends do not mix their causes.
SVCTRANSPORT_EXPORT SvcTransportFailure SvcTransportLastFailure();
// A short name of `kind` ("connection refused", "certificate not trusted", ...).
SVCTRANSPORT_EXPORT const char* SvcTransportFailureKindName(SvcTransportFailureKind kind);

// One exchange as a recording keeps it, handed to an observer right after it ended. The texts
// are the exchange's own, valid during the call only; they hold whatever the request and the
// answer hold, passwords included, so an observer that shows them masks those itself.
struct SvcTransportExchange {
  int entry_point;
  long milliseconds;
  const std::string& request;
  const std::optional<std::string>& answer;  // no value: no answer (failure says why)
  SvcTransportFailure failure;
};
using SvcTransportObserver = std::function<void(const SvcTransportExchange& exchange)>;
// Installs `observer` (an empty function removes it) and returns the previous one. It is called
// on the sending thread after every exchange, whatever delivered it (replay, in-process handler,
// network), so it must be thread-safe when several threads send. A console's verbose and trace
// output uses it.
SVCTRANSPORT_EXPORT SvcTransportObserver SvcTransportSetObserver(SvcTransportObserver observer);

}  // namespace docsec

#endif  // SVCTRANSPORT_SVCTRANSPORT_H_
