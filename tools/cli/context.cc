#include "tools/cli/context.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
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
    output_ = std::make_unique<Output>(out_, err_, options_.json,
                                       DecideColour(options_.colour, out_terminal_), err_terminal_);
  }
  return *output_;
}

void Context::Connect() {
  if (!target_.empty()) return;
  if ((options_.verbose || options_.trace) && !exchange_log_) {
    exchange_log_ = std::make_unique<ExchangeLog>(err_, options_.trace);
  }
  if (!options_.server.empty() && !options_.embedded.empty()) {
    Fail(kExitUsage, "--server and --embedded exclude each other");
  }
  if (!options_.embedded.empty()) return OpenEmbedded(AbsolutePath(options_.embedded));
  if (!options_.server.empty()) return ConfigureNetwork(options_.server);
  SavedSession saved;
  std::string ignored;
  if (session_file_.Load(&saved, &ignored)) {
    if (saved.target.rfind(kEmbeddedPrefix, 0) == 0) {
      return OpenEmbedded(saved.target.substr(std::string(kEmbeddedPrefix).size()));
    }
    return ConfigureNetwork(saved.target);
  }
  const char* server = std::getenv("DOCSEC_SERVER");
  if (server != nullptr && *server) return ConfigureNetwork(server);
  Fail(kExitUsage, "no server: give --server URL or --embedded DB (or log in first)");
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

void Context::ConfigureNetwork(const std::string& url) {
  SvcTransportConfig config;
  std::string error;
  if (!SvcTransportConfigureFromEnvironment(&error)) Fail(kExitUsage, error);
  config.server = url;
  if (const char* ca = std::getenv("DOCSEC_CA_FILE")) config.ca_file = ca;
  if (!SvcTransportConfigure(config, &error)) Fail(kExitUsage, "--server: " + error);
  target_ = url;
}

std::string Context::ReadPassword(const std::string& prompt) {
  if (options_.password_stdin) {
    std::string line;
    if (!std::getline(std::cin, line)) Fail(kExitUsage, "--password-stdin: nothing on stdin");
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
  fresh_login_ = true;
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
    embedded_->set_session(embedded_->server().OpenSession(saved.account));
  } else {
    SvcTransportResumeSession(saved.token);
  }
  auto user = std::make_unique<CDOUser>();
  user->SetId(saved.account.c_str());
  if (!user->QueryUserDepartment()) Refused("resuming the session of " + saved.account);
  user_ = std::move(user);
  saved.last_used = SessionFile::Now();
  session_file_.Save(saved, &error);  // a session that cannot be renewed still serves this command
}

CDOUser& Context::FreshUser() {
  CDOUser& user = User();
  if (fresh_login_) return user;
  const std::string account = TextOf(&user, &CDOUser::GetId);
  return Login(account, ReadPassword("password for " + account +
                                     " (file changes are logged under a fresh login): "));
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

template <class T>
T& PickOne(const std::vector<T*>& found, const std::string& kind, const std::string& name) {
  if (found.empty()) Fail(kExitUsage, "no " + kind + " \"" + name + "\" in the tree");
  if (found.size() > 1) {
    Fail(kExitUsage, std::to_string(found.size()) + " " + kind + "s match \"" + name +
                         "\"; name it by id or path");
  }
  return *found.front();
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

CDODepartment& Context::FindDepartment(const std::string& name) {
  std::vector<CDODepartment*> found;
  const std::string path = !name.empty() && name[0] != '/' ? "/" + name : name;
  Walk(&Tree(), [&](CDODepartment* d) {
    if ((IsNumber(name) && d->GetId() == std::atol(name.c_str())) || PathOf(d) == path ||
        TextOf(d, &CDODepartment::GetName) == name) {
      found.push_back(d);
    }
  });
  return PickOne(found, "department", name);
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
  return PickOne(found, "computer", name);
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
    std::string hint;
    if (kind == Kind::kCertificateUntrusted || kind == Kind::kCertificateWrongName ||
        kind == Kind::kCertificateExpired) {
      hint = "; give the authority that signed the server's certificate with DOCSEC_CA_FILE";
    } else if (kind == Kind::kConnectionRefused || kind == Kind::kConnectTimeout) {
      hint = "; is the server running at that address?";
    }
    Fail(kExitUnreachable, what + ": cannot reach " + target_ + ": " +
                               SvcTransportFailureKindName(kind) + " (" + outcome.message + ")" +
                               hint);
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
