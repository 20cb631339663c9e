// Context: what every docsec command works with: the global options, the output, the connection
// to the server (an embedded server on a database file, or the network transport), the logged-in
// user and the administered department tree, plus the look-ups of departments, users, positions
// and computers by what a person types.
//
// Commands report failure by throwing CliError with the exit status; RunCli turns it into one line
// on stderr. Refused() builds that error from the server's last-error word.
//
// Ownership: the context owns the embedded server, the logged-in user and the tree; objects the
// look-ups return belong to the tree. Thread safety: one thread at a time, apart from what a
// command itself runs on computers of the tree (separate computers may be probed concurrently).
#ifndef DOCSEC_TOOLS_CLI_CONTEXT_H_
#define DOCSEC_TOOLS_CLI_CONTEXT_H_

#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/cli/exit_codes.h"
#include "tools/cli/output.h"
#include "tools/cli/session_file.h"
#include "tools/cli/settings.h"

namespace docsec {
class CDOComputer;
class CDODepartment;
class CDOPosition;
class CDOSecretLevel;
class CDOUser;
class DataObjectList;
namespace cli {
class ExchangeLog;
}
namespace server {
class Embedded;
}
}  // namespace docsec

namespace docsec::cli {

// How a target names an embedded server: this prefix and the database's absolute path.
inline constexpr char kEmbeddedPrefix[] = "embedded:";

// A failure to report: one line of text and the exit status.
class CliError : public std::runtime_error {
 public:
  CliError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

// Throws CliError(code, message).
[[noreturn]] void Fail(ExitCode code, const std::string& message);

struct GlobalOptions {
  std::string server;     // --server URL
  std::string embedded;   // --embedded DB
  std::string ca_file;    // --ca-file FILE: the authorities that sign the server's certificate
  bool insecure = false;  // --insecure: the server's certificate is not checked
  std::string profile;    // --profile NAME of the configuration file
  std::string output;     // --output table|json
  std::string user;       // --user ID
  bool password_stdin = false;
  std::string password_env;     // --password-env VAR
  bool json = false;            // --json
  bool verbose = false;         // -v: one line per server exchange on stderr
  bool trace = false;           // --trace: and the exchanges' texts, secrets masked
  std::string colour = "auto";  // --color auto|always|never
};

class Context {
 public:
  // `out_terminal` / `err_terminal` tell whether the streams are terminals (colour, progress).
  Context(std::ostream& out, std::ostream& err, bool out_terminal, bool err_terminal);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  GlobalOptions& options() { return options_; }
  // The output, made from the global options on first use (after parsing).
  Output& output();
  bool err_terminal() const { return err_terminal_; }

  // Sets up the connection (once): --embedded opens the database file in this process; otherwise
  // the server and its transport settings are layered as settings.h says (flags, environment,
  // profile, session; the session's CA file and --insecure only for the session's own server).
  // Usage error when no server is named, a setting is malformed or the database cannot be opened.
  // A certificate left unchecked is warned about on stderr. Under -v or --trace the exchanges
  // show on stderr from here on.
  void Connect();
  // How the network server is trusted, as Connect settled it; saved with a login's session.
  const std::string& ca_file() const { return ca_file_; }
  bool insecure() const { return insecure_; }
  // "embedded:" and the absolute database path, or the server URL; "" before Connect.
  const std::string& target() const { return target_; }
  bool network() const { return !target_.empty() && embedded_ == nullptr; }
  server::Embedded* embedded() { return embedded_.get(); }

  // The password from --password-stdin (the next line), --password-env VAR, or a prompt without
  // echo on a terminal; usage error when none of them can give one. `what` names the password in
  // that error ("the new password"), with the stdin line it was expected on.
  std::string ReadPassword(const std::string& prompt, const std::string& what = "the password");
  // Logs in (Connect first); the user stays the context's. Refused when the server says no.
  CDOUser& Login(const std::string& account, const std::string& password);
  // The session token the last login opened ("" when none).
  std::string SessionToken() const;
  // The logged-in user: with --user a login now, otherwise the saved session resumed (and its
  // idle time renewed) as the library's last login user, so operation logs are signed with it.
  // Refused when not logged in.
  CDOUser& User();
  // The department tree the user administers, with users, positions and computers; loaded once.
  CDODepartment& Tree();

  // Look-ups in the tree; usage error (not found, or ambiguous) otherwise.
  // A department by id, full path ("/Top/Sales") or name.
  CDODepartment& FindDepartment(const std::string& name);
  // A user by account id.
  CDOUser& FindUser(const std::string& id);
  // A position by id, "NAME" (unique in the tree) or "DEPT:NAME".
  CDOPosition& FindPosition(const std::string& key);
  // A computer by name, IP address or UUID, not probed.
  CDOComputer& FindComputer(const std::string& name);
  // Every match of FindDepartment's and FindComputer's keys, none or several, for callers that
  // try one kind of name before another.
  std::vector<CDODepartment*> MatchDepartments(const std::string& name);
  std::vector<CDOComputer*> MatchComputers(const std::string& name);
  // One of `found`, named `name`; usage error when there are none or several.
  template <class T>
  static T& PickOne(const std::vector<T*>& found, const std::string& kind, const std::string& name);
  // A secret level of the catalogue by id or name.
  CDOSecretLevel& FindLevel(const std::string& name);
  // FindComputer, then probes its agent; exit 3 when the agent does not answer.
  CDOComputer& ReachComputer(const std::string& name);

  // Throws the error for a failed server request: exit 1 with the server's code, or exit 3 when
  // a network server gave no answer. Reads (and so clears) the last-error word.
  [[noreturn]] void Refused(const std::string& what);

  const SessionFile& session_file() const { return session_file_; }

 private:
  void OpenEmbedded(const std::string& database);
  void ConfigureNetwork(const std::string& url, const Profile& profile, const SavedSession* saved);
  void ResumeSession();
  // The configuration file's profile, read once; usage error when it is malformed.
  const Profile& LoadedProfile();

  std::ostream& out_;
  std::ostream& err_;
  bool out_terminal_;
  bool err_terminal_;
  GlobalOptions options_;
  std::unique_ptr<Output> output_;
  SessionFile session_file_;
  std::string target_;
  std::unique_ptr<server::Embedded> embedded_;
  std::unique_ptr<CDOUser> user_;
  std::string ca_file_;
  bool insecure_ = false;
  std::optional<Profile> profile_;
  std::string profile_error_;
  int stdin_lines_ = 0;  // lines --password-stdin has read
  std::unique_ptr<CDODepartment> tree_;
  std::unique_ptr<ExchangeLog> exchange_log_;
};

// Text helpers over the library's buffer getters, so commands read attributes as std::string.
template <class Object, class Getter>
std::string TextOf(Object* object, Getter getter) {
  char buffer[4096] = "";
  const int n = (object->*getter)(buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}
// The department's full path ("/Top/Sales").
std::string PathOf(CDODepartment* department);
// A search result: server searches give members the caller owns (deleted with the list), local
// searches pointers into the tree (only the list is deleted).
struct ResultListDeleter {
  bool owns_members;
  void operator()(DataObjectList* list) const;
};
using ResultList = std::unique_ptr<DataObjectList, ResultListDeleter>;
inline ResultList ServerResults(DataObjectList* list) { return ResultList(list, {true}); }
inline ResultList TreeResults(DataObjectList* list) { return ResultList(list, {false}); }
// The list's members cast to T (the list stays its owner's).
template <class T>
std::vector<T*> Members(DataObjectList* list);

}  // namespace docsec::cli

#include "docsec/core/data_object_list.h"

namespace docsec::cli {
template <class T>
std::vector<T*> Members(DataObjectList* list) {
  std::vector<T*> members;
  if (list == nullptr) return members;
  for (CDataObject* object : *list) members.push_back(static_cast<T*>(object));
  return members;
}
}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_CONTEXT_H_
