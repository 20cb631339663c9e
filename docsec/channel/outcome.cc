#include "docsec/channel/outcome.h"

#include "docsec/platform/thread_slot.h"
#include "docsec/platform/trace.h"

namespace docsec {

Outcome LastOutcome() { return PerThread<Outcome>(); }

const char* OutcomeSourceName(OutcomeSource source) {
  switch (source) {
    case OutcomeSource::kNone: return "none";
    case OutcomeSource::kTransport: return "transport";
    case OutcomeSource::kServer: return "server";
    case OutcomeSource::kAgent: return "agent";
    case OutcomeSource::kLibrary: return "library";
  }
  return "unknown";
}

std::string DescribeOutcome(const Outcome& outcome) {
  std::string what = outcome.operation.empty() ? "the request" : outcome.operation;
  switch (outcome.source) {
    case OutcomeSource::kNone: return what + " succeeded";
    case OutcomeSource::kTransport: return what + ": no answer from the server: " + outcome.message;
    case OutcomeSource::kServer:
      return what + " refused by the server: code " + std::to_string(outcome.code) +
             (outcome.message.empty() ? "" : ": " + outcome.message);
    case OutcomeSource::kAgent:
      return what + " refused by the agent: retcode " + std::to_string(outcome.code) +
             (outcome.message.empty() ? "" : ": " + outcome.message);
    case OutcomeSource::kLibrary: return what + " failed: " + outcome.message;
  }
  return what;
}

void SetOutcome(OutcomeSource source, long code, const std::string& message,
                const std::string& operation) {
  Outcome& outcome = PerThread<Outcome>();
  outcome.source = source;
  outcome.code = code;
  outcome.message = message;
  outcome.operation = operation;
  if (source != OutcomeSource::kNone) Trace("%s", DescribeOutcome(outcome).c_str());
}

void SetOutcomeOk(const std::string& operation) {
  SetOutcome(OutcomeSource::kNone, 0, std::string(), operation);
}

int SetLibraryFailure(const std::string& operation, const std::string& reason) {
  SetOutcome(OutcomeSource::kLibrary, 0, reason, operation);
  return 0;
}

int SetLibraryFailureNoThrow(const char* operation, const char* reason) noexcept {
  try {
    return SetLibraryFailure(operation, reason);
  } catch (...) {
    return 0;
  }
}

}  // namespace docsec
