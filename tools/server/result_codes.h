// The result codes of the reference management server: the number an answer carries in
// <return code="..."/>. 0 is success; every other number names why nothing was done. A failed
// request never changes stored data, whatever its code. The server answers these codes and the
// console explains them from this one list; tools/server/README.md documents it for console
// developers, and the contract test holds the three in step.
//
// Codes are grouped by hundreds: 1xx the request itself, 2xx the session and the caller's rights,
// 3xx the stored data, 5xx the server. 9999 is never used: the library reserves it as "no value".
#ifndef DOCSEC_TOOLS_SERVER_RESULT_CODES_H_
#define DOCSEC_TOOLS_SERVER_RESULT_CODES_H_

#include <stdexcept>
#include <string>

namespace docsec::server {

// Each code once: its name, its number, and the short meaning the console prints beside a refusal
// so that it reads without a manual. The enum and ResultMeaning are both made from this list.
#define DOCSEC_RESULT_CODES(X)                                                                   \
  X(kOk, 0, "success")                                                                           \
  /* The request. */                                                                             \
  X(kUnknownOperation, 101, "unknown operation") /* "service" names nothing in the catalogue */  \
  X(kMalformedDocument, 102, "the request is not a valid document") /* no "service" first */     \
  X(kMissingElement, 103, "an element is missing")                                               \
  X(kMissingAttribute, 104, "an attribute is missing") /* absent or empty */                     \
  X(kBadValue, 105, "a value is not valid") /* not a number, address, date, flag or in range */  \
  X(kRequestTooLarge, 106, "the request is too large") /* the body exceeds the configured cap */ \
  /* The session and the caller's rights. */                                                     \
  X(kNoSession, 201, "no session or it expired; log in again") /* or a forged or revoked one */  \
  X(kBadCredentials, 202, "unknown account or wrong password") /* never told apart */            \
  X(kAccountLocked, 203, "the account is locked")                                                \
  X(kNotConsoleManager, 204, "the account may not use the console")                              \
  X(kTooManyAttempts, 205, "too many failed logins; try later")                                  \
  X(kPermissionDenied, 206, "permission denied") /* outside the caller's departments */          \
  X(kDirectoryNotConfigured, 207, "no directory server configured")                              \
  X(kCertificateNotConfigured, 208, "no certificate check configured")                           \
  X(kCertificateRejected, 209, "the certificate check refused the signed data")                  \
  /* The stored data. */                                                                         \
  X(kNotFound, 301, "not found")                                                                 \
  X(kAlreadyExists, 302, "already exists")                                                       \
  X(kConflict, 303, "still in use, overlapping or a cycle")                                      \
  X(kSystemDefault, 304, "made by the system, cannot be deleted")                                \
  /* The server. Nothing was written. */                                                         \
  X(kStorageError, 501, "the server's database failed") /* or stayed busy */                     \
  X(kTimedOut, 502, "the server timed out")             /* past the request's time limit */      \
  X(kInternalError, 503, "the server failed")

enum ResultCode : int {
#define DOCSEC_RESULT_CODE_ENUM(name, number, meaning) name = number,
  DOCSEC_RESULT_CODES(DOCSEC_RESULT_CODE_ENUM)
#undef DOCSEC_RESULT_CODE_ENUM
};

struct ResultCodeEntry {
  ResultCode code;
  const char* name;     // the enumerator, "kNotFound"
  const char* meaning;  // a short phrase, lower case
};

// Every code, in number order.
inline constexpr ResultCodeEntry kResultCodes[] = {
#define DOCSEC_RESULT_CODE_ENTRY(name, number, meaning) {name, #name, meaning},
    DOCSEC_RESULT_CODES(DOCSEC_RESULT_CODE_ENTRY)
#undef DOCSEC_RESULT_CODE_ENTRY
};

// The meaning of `code`, or null for a number that is no result code.
inline const char* ResultMeaning(long code) {
  for (const ResultCodeEntry& entry : kResultCodes) {
    if (entry.code == code) return entry.meaning;
  }
  return nullptr;
}

// Thrown by operation handlers to refuse a request: the transaction is rolled back and the answer
// carries `code` and `message`. Messages never contain passwords or keys.
class RequestError : public std::runtime_error {
 public:
  RequestError(ResultCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}
  ResultCode code() const { return code_; }

 private:
  ResultCode code_;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_RESULT_CODES_H_
