#include "tools/cli/context.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "docsec/docsec.h"
#include "svctransport/svctransport.h"
#include "tools/cli/exchange_log.h"
#include "tools/server/embedded.h"
#include "tools/server/result_codes.h"

namespace docsec::cli {

void Fail(ExitCode code, const std::string& message) { throw CliError(code, message); }

namespace {

// The meaning of a server's result code, so a refusal reads without a manual.
std::string CodeMeaning(unsigned long code) {
  const char* meaning = server::ResultMeaning(static_cast<long>(code));
  return meaning == nullptr ? "" : std::string(" (") + meaning + ")";
}

// What a person can do about a transport failure towards `target`, as "; ..." or "".
std::string TransportHint(SvcTransportFailureKind kind, const std::string& target) {
  using Kind = SvcTransportFailureKind;
  const bool https = target.rfind("https://", 0) == 0;
  const std::string rest = target.substr(target.find("://") + 3);
  switch (kind) {
    case Kind::kCertificateUntrusted:
      return "; give --ca-file FILE or set DOCSEC_CA_FILE (the authority that signed the "
             "server's certificate)";
    case Kind::kCertificateWrongName:
      return "; name the server in --server as its certificate does, or give it a certificate "
             "for this name";
    case Kind::kCertificateExpired:
      return "; renew the server's certificate, or check this computer's clock";
    case Kind::kConnectionRefused: return "; is the server running, and on that port?";
    case Kind::kNameNotResolved: return "; check the host name in the server's address";
    case Kind::kConnectTimeout:
      return "; is the address right, and does a firewall let it through? "
             "(DOCSEC_CONNECT_TIMEOUT_MS sets the wait)";
    case Kind::kAnswerTimeout:
      return "; the server is busy or stuck (DOCSEC_TIMEOUT_MS sets the wait)";
    // An HTTPS client at a plain port fails its handshake; a plain client at an HTTPS port gets
    // the connection closed without an answer.
    case Kind::kTlsFailure:
      return https ? "; if the server speaks plain HTTP there, use http://" + rest : "";
    case Kind::kConnectionClosed:
      return https ? "" : "; if the server speaks HTTPS there, use https://" + rest;
    case Kind::kHttpStatus: return "; is that the docsec server's address?";
    default: return "";
  }
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/' || path == ":memory:") return path;
  char* cwd = getcwd(nullptr, 0);
  std::string absolute = cwd != nullptr ? std::string(cwd) + "/" + path : path;
  std::free(cwd);
  return absolute;
}

// Reads one line from the terminal with echo off.
std::string PromptHidden(const std::string& prompt, std::ostream& err) {
  err << prompt << std::flush;
  termios saved{};
  const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  std::getline(std::cin, line);
  if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  err << "\n";
  return line;
}

}  // namespace

void ResultListDeleter::operator()(DataObjectList* list) const {
  if (owns_members) DestructElements(list);
  ShallowDelete(list);
}

std::string PathOf(CDODepartment* department) {
  std::string path = TextOf(department, &CDODepartment::GetFullPath);
  return path.empty() || path[0] == '/' ? path : "/" + path;
}

Context::Context(std::ostream& out, std::ostream& err, bool out_terminal, bool err_terminal)
    : out_(out), err_(err), out_terminal_(out_terminal), err_terminal_(err_terminal) {}

Context::~Context() {
  // The tree and the user go before the server that answered for them.
  tree_.reset();
  user_.reset();
  // The catalogues are class-wide caches: the next run in this process (the demo's tour, say)
  // may talk to another server.
  CDOSecretLevel::ReleaseAllInstance();
  CDOApplication::ReleaseAllInstance();
  embedded_.reset();
  exchange_log_.reset();
}

Output& Context::output() {
  if (!output_) {
    // The format's own layers: --json or --output, DOCSEC_OUTPUT, the profile. A malformed
    // profile is reported by Connect; the error itself must still be printable.
    std::string format = options_.json ? "json" : options_.output;
    const char* variable = std::getenv("DOCSEC_OUTPUT");
    if (format.empty() && variable != nullptr) format = variable;
    if (format.empty()) {
      try {
        format = LoadedProfile().output.value_or("");
      } catch (const CliError&) {
      }
    }
    output_ = std::make_unique<Output>(out_, err_, OutputFormat(format).value_or("") == "json",
                                       DecideColour(options_.colour, out_terminal_), err_terminal_);
  }
  return *output_;
}

const Profile& Context::LoadedProfile() {
  if (!profile_) {
    Profile profile;
    if (!LoadProfile(options_.profile, &profile, &profile_error_)) profile = Profile();
    profile_ = profile;
  }
  if (!profile_error_.empty()) Fail(kExitUsage, profile_error_);
  return *profile_;
}

void Context::Connect() {
  if (!target_.empty()) return;
  if ((options_.verbose || options_.trace) && !exchange_log_) {
    exchange_log_ = std::make_unique<ExchangeLog>(err_, options_.trace);
  }
  if (!options_.server.empty() && !options_.embedded.empty()) {
    Fail(kExitUsage, "--server and --embedded exclude each other");
  }
  const char* output = std::getenv("DOCSEC_OUTPUT");
  if (output != nullptr && *output && !OutputFormat(output)) {
    Fail(kExitUsage, std::string("DOCSEC_OUTPUT must be table or json, not ") + output);
  }
  if (!options_.embedded.empty()) return OpenEmbedded(AbsolutePath(options_.embedded));
  const Profile& profile = LoadedProfile();
  SvcTransportConfig environment;
  std::string error;
  if (!SvcTransportApplyEnvironment(&environment, &error)) {
    Fail(kExitUsage, "the transport settings of the environment: " + error);
  }
  SavedSession saved;
  std::string ignored;
  const bool have_session = session_file_.Load(&saved, &ignored);
  // The server of the first layer that names one.
  std::string server = options_.server;
  if (server.empty()) server = environment.server;
  if (server.empty()) server = profile.server.value_or("");
  if (server.empty() && have_session) server = saved.target;
  if (server.empty()) {
    Fail(kExitUsage, "no server: give --server URL or --embedded DB (or log in first)");
  }
  if (server.rfind(kEmbeddedPrefix, 0) == 0) {
    return OpenEmbedded(server.substr(std::string(kEmbeddedPrefix).size()));
  }
  // The trust a session was opened with belongs to its server, not to whatever is asked now.
  ConfigureNetwork(server, profile, have_session && saved.target == server ? &saved : nullptr);
}

void Context::OpenEmbedded(const std::string& database) {
  if (database.empty()) Fail(kExitUsage, "--embedded needs a database file");
  server::ServerOptions server_options;
  server_options.database = database;
  std::string error;
  embedded_ = server::Embedded::Start(server_options, &error);
  if (!embedded_) Fail(kExitUsage, "cannot open the database " + database + ": " + error);
  target_ = kEmbeddedPrefix + database;
  const std::string& admin = embedded_->server().initial_admin_password();
  if (!admin.empty()) {
    err_ << "docsec: new database " << database << "; the admin password is " << admin << "\n";
  }
}

void Context::ConfigureNetwork(const std::string& url, const Profile& profile,
                               const SavedSession* saved) {
  // Lowest layer first; a layer that names a CA file and says nothing of --insecure asks for the
  // certificate to be checked against it.
  SvcTransportConfig config;
  if (saved != nullptr) {
    config.ca_file = saved->ca_file;
    config.verify_peer = !saved->insecure;
  }
  if (profile.ca_file) {
    config.ca_file = *profile.ca_file;
    config.verify_peer = true;
  }
  if (profile.insecure) config.verify_peer = !*profile.insecure;
  if (profile.connect_timeout_ms) config.connect_timeout_ms = *profile.connect_timeout_ms;
  if (profile.timeout_ms) config.timeout_ms = *profile.timeout_ms;
  const std::string ca_before = config.ca_file;
  std::string error;
  if (!SvcTransportApplyEnvironment(&config, &error)) {
    Fail(kExitUsage, "the transport settings of the environment: " + error);
  }
  if (config.ca_file != ca_before && std::getenv("DOCSEC_VERIFY_PEER") == nullptr) {
    config.verify_peer = true;
  }
  if (!options_.ca_file.empty()) {
    config.ca_file = AbsolutePath(options_.ca_file);
    config.verify_peer = true;
  }
  if (options_.insecure) config.verify_peer = false;
  config.server = url;
  if (!config.ca_file.empty() && access(config.ca_file.c_str(), R_OK) != 0) {
    Fail(kExitUsage, "cannot read the CA file " + config.ca_file + ": " + std::strerror(errno));
  }
  if (!SvcTransportConfigure(config, &error)) Fail(kExitUsage, "the server " + url + ": " + error);
  target_ = url;
  ca_file_ = config.ca_file;
  insecure_ = !config.verify_peer;
  if (insecure_ && url.rfind("https://", 0) == 0) {
    err_ << "docsec: warning: the certificate of " << url
         << " is not checked (--insecure): whoever sits between here and there can read and "
            "change this session\n";
  }
}

std::string Context::ReadPassword(const std::string& prompt, const std::string& what) {
  if (options_.password_stdin) {
    std::string line;
    ++stdin_lines_;
    if (!std::getline(std::cin, line)) {
      Fail(kExitUsage,
           "--password-stdin: no line " + std::to_string(stdin_lines_) + " on stdin for " + what);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  if (!options_.password_env.empty()) {
    const char* value = std::getenv(options_.password_env.c_str());
    if (value == nullptr)
      Fail(kExitUsage, "--password-env: " + options_.password_env + " is unset");
    return value;
  }
  if (isatty(STDIN_FILENO)) return PromptHidden(prompt, err_);
  Fail(kExitUsage, "no password: use --password-stdin or --password-env VAR");
}

CDOUser& Context::Login(const std::string& account, const std::string& password) {
  Connect();
  CDOUser prototype;
  std::unique_ptr<CDOUser> user(prototype.Login(account.c_str(), password.c_str()));
  if (!user) Refused("login as " + account);
  // A tree loaded for the previous user object stays valid: it is owned here, not by the user.
  user_ = std::move(user);
  return *user_;
}

std::string Context::SessionToken() const {
  return embedded_ != nullptr ? embedded_->session() : SvcTransportSessionToken();
}

CDOUser& Context::User() {
  if (user_) return *user_;
  if (!options_.user.empty()) return Login(options_.user, ReadPassword("password: "));
  ResumeSession();
  return *user_;
}

void Context::ResumeSession() {
  SavedSession saved;
  std::string error;
  if (!session_file_.Load(&saved, &error)) Fail(kExitRefused, error);
  Connect();
  if (saved.target != target_) {
    Fail(kExitRefused, "not logged in to " + target_ + " (the session is for " + saved.target +
                           "; run: docsec login)");
  }
  if (embedded_ != nullptr) {
    // An embedded server's sessions die with the process that opened them. The session file,
    // private to this user, stands for the login instead: whoever can open the database file can
    // change it directly anyway, so the file grants nothing the database's permissions do not.
    std::string why;
    const std::string token = embedded_->server().OpenSession(saved.account, &why);
    if (token.empty()) {
      Fail(kExitRefused,
           "cannot resume the session of " + saved.account + ": " + why + " (run: docsec login)");
    }
    embedded_->set_session(token);
  } else {
    SvcTransportResumeSession(saved.token);
  }
  CDOUser prototype;
  std::unique_ptr<CDOUser> user(prototype.ResumeLogin(saved.account.c_str()));
  if (!user) Refused("resuming the session of " + saved.account);
  user_ = std::move(user);
  saved.last_used = SessionFile::Now();
  session_file_.Save(saved, &error);  // a session that cannot be renewed still serves this command
}

CDODepartment& Context::Tree() {
  if (tree_) return *tree_;
  CDOUser& user = User();
  tree_.reset(user.GetAdminedRootDeptpartment());
  if (!tree_) Refused("loading the department tree");
  return *tree_;
}

namespace {

void Walk(CDODepartment* department, const std::function<void(CDODepartment*)>& visit) {
  visit(department);
  for (CDODepartment* child : Members<CDODepartment>(department->GetSubDepartments())) {
    Walk(child, visit);
  }
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

template <class T>
T& Context::PickOne(const std::vector<T*>& found, const std::string& kind,
                    const std::string& name) {
  if (found.empty()) Fail(kExitUsage, "no " + kind + " \"" + name + "\" in the tree");
  if (found.size() > 1) {
    Fail(kExitUsage, std::to_string(found.size()) + " " + kind + "s match \"" + name +
                         "\"; name it by id or path");
  }
  return *found.front();
}
template CDODepartment& Context::PickOne(const std::vector<CDODepartment*>&, const std::string&,
                                         const std::string&);
template CDOComputer& Context::PickOne(const std::vector<CDOComputer*>&, const std::string&,
                                       const std::string&);

CDODepartment& Context::FindDepartment(const std::string& name) {
  return PickOne(MatchDepartments(name), "department", name);
}

std::vector<CDODepartment*> Context::MatchDepartments(const std::string& name) {
  std::vector<CDODepartment*> found;
  const std::string path = !name.empty() && name[0] != '/' ? "/" + name : name;
  Walk(&Tree(), [&](CDODepartment* d) {
    if ((IsNumber(name) && d->GetId() == std::atol(name.c_str())) || PathOf(d) == path ||
        TextOf(d, &CDODepartment::GetName) == name) {
      found.push_back(d);
    }
  });
  return found;
}

CDOUser& Context::FindUser(const std::string& id) {
  std::vector<CDOUser*> found;
  Walk(&Tree(), [&](CDODepartment* d) {
    for (CDOUser* user : Members<CDOUser>(d->GetUsers())) {
      if (TextOf(user, &CDOUser::GetId) == id) found.push_back(user);
    }
  });
  return PickOne(found, "user", id);
}

CDOPosition& Context::FindPosition(const std::string& key) {
  std::string department_key;
  std::string name = key;
  const size_t colon = key.rfind(':');
  if (colon != std::string::npos) {
    department_key = key.substr(0, colon);
    name = key.substr(colon + 1);
  }
  CDODepartment* within = department_key.empty() ? nullptr : &FindDepartment(department_key);
  std::vector<CDOPosition*> found;
  Walk(&Tree(), [&](CDODepartment* d) {
    if (within != nullptr && d != within) return;
    for (CDOPosition* position : Members<CDOPosition>(d->GetPositons())) {
      if ((IsNumber(name) && position->GetPositionId() == std::atol(name.c_str())) ||
          TextOf(position, &CDOPosition::GetPositionName) == name) {
        found.push_back(position);
      }
    }
  });
  return PickOne(found, "position", key);
}

CDOComputer& Context::FindComputer(const std::string& name) {
  return PickOne(MatchComputers(name), "computer", name);
}

std::vector<CDOComputer*> Context::MatchComputers(const std::string& name) {
  std::vector<CDOComputer*> found;
  Walk(&Tree(), [&](CDODepartment* d) {
    for (CDOComputer* computer : Members<CDOComputer>(d->GetComputers())) {
      if (TextOf(computer, &CDOComputer::GetName) == name ||
          TextOf(computer, &CDOComputer::GetIp) == name ||
          TextOf(computer, &CDOComputer::GetUuid) == name) {
        found.push_back(computer);
      }
    }
  });
  return found;
}

CDOSecretLevel& Context::FindLevel(const std::string& name) {
  User();
  DataObjectList* levels = CDOSecretLevel::GetAllInstance();
  if (levels == nullptr) Refused("loading the secret levels");
  std::vector<CDOSecretLevel*> found;
  for (CDOSecretLevel* level : Members<CDOSecretLevel>(levels)) {
    if ((IsNumber(name) && level->GetId() == std::atol(name.c_str())) ||
        TextOf(level, &CDOSecretLevel::GetName) == name) {
      found.push_back(level);
    }
  }
  return PickOne(found, "secret level", name);
}

CDOComputer& Context::ReachComputer(const std::string& name) {
  CDOComputer& computer = FindComputer(name);
  // An agent of a computer not approved is never asked, so "not running" would be a guess.
  if (!computer.GetIsApproved()) {
    Fail(kExitUnreachable,
         "computer " + name + " is not approved (run: docsec computer approve " + name + ")");
  }
  computer.RefreshConnectionStatus();
  switch (computer.GetConnectionStatus()) {
    case ConnectionRunning: return computer;
    case ConnectionPingFailed:
      Fail(kExitUnreachable, "computer " + name + " (" + TextOf(&computer, &CDOComputer::GetIp) +
                                 ") does not answer ping");
    default: {
      // The probe's outcome tells which: nothing listens, no reply, another computer's agent.
      const Outcome outcome = LastOutcome();
      Fail(kExitUnreachable, "computer " + name + ": " +
                                 (outcome.source == OutcomeSource::kAgent
                                      ? outcome.message
                                      : "the agent at " + TextOf(&computer, &CDOComputer::GetIp) +
                                            " is not running or is another computer's"));
    }
  }
}

void Context::Refused(const std::string& what) {
  const unsigned long word = GetLastDrmError();
  const Outcome outcome = LastOutcome();
  if (outcome.source == OutcomeSource::kServer || word != 0) {
    const unsigned long code =
        outcome.source == OutcomeSource::kServer ? static_cast<unsigned long>(outcome.code) : word;
    std::string message =
        what + ": refused by the server, code " + std::to_string(code) + CodeMeaning(code);
    if (outcome.source == OutcomeSource::kServer && !outcome.message.empty()) {
      message += ": " + outcome.message;
    }
    Fail(kExitRefused, message);
  }
  if (outcome.source == OutcomeSource::kTransport) {
    using Kind = SvcTransportFailureKind;
    const auto kind = static_cast<Kind>(outcome.code);
    Fail(kExitUnreachable, what + ": cannot reach " + target_ + ": " +
                               SvcTransportFailureKindName(kind) + " (" + outcome.message + ")" +
                               TransportHint(kind, target_));
  }
  if (outcome.source == OutcomeSource::kLibrary) {
    Fail(kExitRefused, what + ": " + outcome.message);
  }
  // No cause recorded: over the network that means the server is unreachable; an embedded server
  // always answers, so there the library itself gave up.
  if (network()) Fail(kExitUnreachable, what + ": no answer from the server at " + target_);
  Fail(kExitRefused, what + ": failed");
}

}  // namespace docsec::cli
