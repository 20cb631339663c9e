// login, logout, passwd.
#include <unistd.h>

#include "docsec/docsec.h"
#include "svctransport/svctransport.h"
#include "tools/cli/commands.h"
#include "tools/server/result_codes.h"

namespace docsec::cli {

namespace {

void Login(Context& context, std::string account) {
  if (account.empty()) account = context.options().user;
  if (account.empty()) Fail(kExitUsage, "login: name the account (docsec login ID)");
  const std::string password = context.ReadPassword("password for " + account + ": ");
  CDOUser& user = context.Login(account, password);
  SavedSession session;
  session.target = context.target();
  session.account = account;
  session.token = context.SessionToken();
  session.ca_file = context.ca_file();
  session.insecure = context.insecure();
  session.opened = session.last_used = SessionFile::Now();
  std::string error;
  if (!context.session_file().Save(session, &error)) Fail(kExitRefused, error);
  context.output().Report({{"account", account},
                           {"name", TextOf(&user, &CDOUser::GetName)},
                           {"server", session.target},
                           {"idleMinutes", SessionFile::kIdle.count() / 60}},
                          "logged in as " + account + " (" + TextOf(&user, &CDOUser::GetName) +
                              ") on " + session.target + "; the session ends after " +
                              std::to_string(SessionFile::kIdle.count() / 60) + " idle minutes");
}

// Ends the session on the server before forgetting it: a token left alive would still open the
// account to whoever copied it. An embedded server's sessions end with the command that opened
// them, so only the file goes.
void Logout(Context& context) {
  SavedSession saved;
  std::string ignored;
  if (!context.session_file().Load(&saved, &ignored)) {
    context.output().Report({{"loggedOut", false}}, "no session to end");
    return;
  }
  bool ended_before = false;
  // The session's own server, whatever the environment or a profile names now: a token left
  // alive there would outlast the file.
  GlobalOptions& options = context.options();
  if (options.server.empty() && options.embedded.empty()) {
    if (saved.target.rfind(kEmbeddedPrefix, 0) == 0) {
      options.embedded = saved.target.substr(std::string(kEmbeddedPrefix).size());
    } else {
      options.server = saved.target;
    }
  }
  context.Connect();
  if (context.network() && context.target() == saved.target) {
    SvcTransportResumeSession(saved.token);
    GetLastDrmError();  // clears a code left by an earlier request
    if (!CheckAnswerDocument(SendRequestDocument(BuildRequestDocument("Logout"), 1))) {
      // The server no longer knows the session: it is over there already.
      if (GetLastDrmError() != server::kNoSession) context.Refused("ending the session");
      ended_before = true;
    }
    SvcTransportForgetSession();
  }
  context.session_file().Remove();
  context.output().Report(
      {{"loggedOut", true}},
      ended_before ? "logged out (the server had ended the session already)" : "logged out");
}

void ChangePassword(Context& context) {
  if (!context.options().password_env.empty()) {
    Fail(kExitUsage, "passwd reads two passwords: use --password-stdin (one a line) or a terminal");
  }
  CDOUser& user = context.User();
  const std::string old_password =
      context.ReadPassword("current password: ", "the current password");
  const std::string new_password = context.ReadPassword("new password: ", "the new password");
  if (new_password.empty()) Fail(kExitUsage, "passwd: the new password is empty");
  if (!user.ChangePassword(old_password.c_str(), new_password.c_str(), 0)) {
    context.Refused("changing the password");
  }
  // The server ends the session a password change came with and answers with a new one: the
  // saved session must carry it, or the next command would find itself logged out.
  SavedSession saved;
  std::string error;
  if (context.options().user.empty() && context.session_file().Load(&saved, &error) &&
      saved.target == context.target() && !context.SessionToken().empty()) {
    saved.token = context.SessionToken();
    saved.last_used = SessionFile::Now();
    if (!context.session_file().Save(saved, &error)) {
      Fail(kExitPartial, "password changed, but the session could not be kept: " + error);
    }
  }
  context.output().Report({{"account", TextOf(&user, &CDOUser::GetId)}, {"changed", true}},
                          "password changed");
}

}  // namespace

void RegisterSessionCommands(CLI::App& app, Context& context) {
  auto* login = app.add_subcommand("login", "log in and keep the session for later commands");
  auto account = std::make_shared<std::string>();
  login->add_option("ID", *account, "the account (default: --user)");
  login->callback([&context, account] { Login(context, *account); });

  app.add_subcommand("logout", "forget the saved session")->callback([&context] {
    Logout(context);
  });
  app.add_subcommand("passwd", "change your password (current, then new, one a line)")
      ->callback([&context] { ChangePassword(context); });
}

}  // namespace docsec::cli
