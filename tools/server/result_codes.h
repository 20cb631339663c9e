// The result codes of the reference management server: the number an answer carries in
// <return code="..."/>. 0 is success; every other number names why nothing was done. A failed
// request never changes stored data, whatever its code. The table is documented for console
// developers in tools/server/README.md; keep the two in step.
//
// Codes are grouped by hundreds: 1xx the request itself, 2xx the session and the caller's rights,
// 3xx the stored data, 5xx the server. 9999 is never used: the library reserves it as "no value".
#ifndef DOCSEC_TOOLS_SERVER_RESULT_CODES_H_
#define DOCSEC_TOOLS_SERVER_RESULT_CODES_H_

#include <stdexcept>
#include <string>

namespace docsec::server {

enum ResultCode : int {
  kOk = 0,
  // The request.
  kUnknownOperation = 101,   // the "service" value names no operation of the catalogue
  kMalformedDocument = 102,  // not XML, root not "document", no single leading "service"
  kMissingElement = 103,     // an element the operation needs is absent
  kMissingAttribute = 104,   // an attribute the operation needs is absent or empty
  kBadValue = 105,           // a value that is not a number, address, date, flag or in range
  kRequestTooLarge = 106,    // the body exceeds the configured cap
  // The session and the caller's rights.
  kNoSession = 201,          // no session, or an expired, forged or revoked one
  kBadCredentials = 202,     // unknown account or wrong password (not told apart)
  kAccountLocked = 203,      // the account is locked
  kNotConsoleManager = 204,  // the account may not use the console
  kTooManyAttempts = 205,    // too many failed logins for the account; try again later
  kPermissionDenied = 206,   // outside the departments the caller administers, or supervisor only
  kDirectoryNotConfigured = 207,    // directory-server validation or synchronisation asked for
  kCertificateNotConfigured = 208,  // certificate login without a trusted certificate check
  kCertificateRejected = 209,       // the certificate check refused the signed data
  // The stored data.
  kNotFound = 301,       // the object named does not exist
  kAlreadyExists = 302,  // an object with that key exists
  kConflict = 303,       // still in use, not empty, overlapping, or a cycle in the tree
  kSystemDefault = 304,  // objects created by the system cannot be deleted
  // The server.
  kStorageError = 501,   // the database failed or stayed busy; nothing was written
  kTimedOut = 502,       // the request ran past its time limit; nothing was written
  kInternalError = 503,  // an unexpected failure; nothing was written
};

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
