// SessionFile: the console session a `docsec login` leaves for later commands. It names the server
// (its URL, or the embedded database's absolute path), how that server is trusted (the CA file,
// or that its certificate is not checked), the account and the session token, and ends
// after kIdle without use or kLifetime after the login, whichever comes first.
//
// The file lives in $XDG_RUNTIME_DIR/docsec (a per-user directory that the system empties at
// logout) or, without it, ~/.cache/docsec; the directory is made 0700 and the file 0600. A file
// that another user owns or could read is refused, because its token would let that user act as
// the account.
//
// Thread safety: one thread at a time; the file is replaced atomically (rename).
#ifndef DOCSEC_TOOLS_CLI_SESSION_FILE_H_
#define DOCSEC_TOOLS_CLI_SESSION_FILE_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace docsec::cli {

struct SavedSession {
  std::string target;     // "embedded:" and an absolute path, or the server URL
  std::string account;    // the account logged in
  std::string token;      // the server's session token
  std::string ca_file;    // absolute path of the authorities trusted for the server; "": system's
  bool insecure = false;  // the server's certificate is not checked
  int64_t opened = 0;     // seconds since the epoch
  int64_t last_used = 0;  // seconds since the epoch
};

class SessionFile {
 public:
  static constexpr std::chrono::seconds kIdle{30 * 60};
  static constexpr std::chrono::seconds kLifetime{12 * 60 * 60};

  // The file at its usual place (see above).
  SessionFile();
  const std::string& path() const { return path_; }

  // Reads the session. False with a reason in *error when there is none, it has expired (the file
  // is then removed) or the file is unsafe or malformed.
  bool Load(SavedSession* session, std::string* error) const;
  // Writes `session` with mode 0600; false with a reason on failure.
  bool Save(const SavedSession& session, std::string* error) const;
  // Removes the file; true when there was one.
  bool Remove() const;

  static int64_t Now();

 private:
  std::string path_;
};

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_SESSION_FILE_H_
