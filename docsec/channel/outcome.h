// The outcome of the calling thread's last request: where a failure came from, its code, its
// message and the operation. It stands beside the last-error word, which stays process-wide and
// cleared on read: the outcome belongs to one thread, is replaced by that thread's next request
// and can be read as often as needed. A call that returns 0 or null for a failure leaves the
// cause here; the trace sink also hears one line per failure.
//
// Thread safety: each thread has its own outcome.
#ifndef DOCSEC_CHANNEL_OUTCOME_H_
#define DOCSEC_CHANNEL_OUTCOME_H_

#include <string>

#include "docsec/platform/export.h"

namespace docsec {

enum class OutcomeSource {
  kNone,       // the last request succeeded
  kTransport,  // no answer came (code: the transport's SvcTransportFailureKind)
  kServer,     // the server refused (code: the server's result code)
  kAgent,      // the agent refused or failed (code: its retcode)
  kLibrary,    // the library itself gave up (an answer it could not use, a local limit)
};

struct Outcome {
  OutcomeSource source = OutcomeSource::kNone;
  long code = 0;
  std::string message;    // the server's or transport's text verbatim, or the library's reason
  std::string operation;  // the request's operation name ("AddDepartment", an agent command)

  bool ok() const { return source == OutcomeSource::kNone; }
};

// The calling thread's last outcome.
DOCSEC_EXPORT Outcome LastOutcome();
// One line for people: "AddDepartment refused by the server: code 105: ...".
DOCSEC_EXPORT std::string DescribeOutcome(const Outcome& outcome);
// "transport", "server", "agent", "library" or "none".
DOCSEC_EXPORT const char* OutcomeSourceName(OutcomeSource source);

// Records the calling thread's outcome; a failure also goes to the trace sink. For the library's
// classes and for programs that make requests of their own.
DOCSEC_EXPORT void SetOutcome(OutcomeSource source, long code, const std::string& message,
                              const std::string& operation);
// Records success of `operation`.
DOCSEC_EXPORT void SetOutcomeOk(const std::string& operation);
// Records a failure the library found on its own (source kLibrary, code 0: a missing argument, an
// object the answer does not hold) and returns 0, so that a verb can end with it.
DOCSEC_EXPORT int SetLibraryFailure(const std::string& operation, const std::string& reason);
// The same for a path that reports every failure, exceptions included, as 0: recording the cause
// must not raise another, so one that cannot be recorded is dropped.
int SetLibraryFailureNoThrow(const char* operation, const char* reason) noexcept;

}  // namespace docsec

#endif  // DOCSEC_CHANNEL_OUTCOME_H_
