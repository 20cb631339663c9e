// login, logout, passwd.
#include <unistd.h>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"

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

void Logout(Context& context) {
  const bool had = context.session_file().Remove();
  context.output().Report({{"loggedOut", had}}, had ? "logged out" : "no session to end");
}

void ChangePassword(Context& context) {
  if (!context.options().password_env.empty()) {
    Fail(kExitUsage, "passwd reads two passwords: use --password-stdin (one a line) or a terminal");
  }
  CDOUser& user = context.User();
  const std::string old_password = context.ReadPassword("current password: ");
  const std::string new_password = context.ReadPassword("new password: ");
  if (new_password.empty()) Fail(kExitUsage, "passwd: the new password is empty");
  if (!user.ChangePassword(old_password.c_str(), new_password.c_str(), 0)) {
    context.Refused("changing the password");
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
