#include "tools/cli/cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <sstream>

#include "docsec/docsec.h"
#include "tools/cli/commands.h"
#include "tools/cli/context.h"
#include "tools/cli/discover.h"
#include "tools/cli/settings.h"

namespace docsec::cli {

namespace {

using Registration = void (*)(CLI::App&, Context&);

// Every command family; see commands.h for adding one.
constexpr Registration kRegistrations[] = {
    RegisterProbeCommand,    RegisterExplainCommand,  RegisterDemoCommand,
    RegisterSessionCommands, RegisterListingCommands, RegisterChangeCommands,
    RegisterFileCommands,    RegisterPolicyCommands,  RegisterLogCommands,
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  auto* server =
      app.add_option("--server", options.server, "the management server, http(s)://host:port");
  auto* embedded = app.add_option("--embedded", options.embedded,
                                  "run a server in this process on the database file DB");
  server->excludes(embedded);
  app.add_option("--ca-file", options.ca_file,
                 "trust the server's certificate when this PEM file's authority signed it; kept "
                 "with the session");
  app.add_flag("--insecure", options.insecure,
               "do not check the server's certificate (warned on every command); kept with the "
               "session");
  app.add_option("--profile", options.profile, "use this profile of the configuration file");
  app.add_option("--output", options.output, "table or json (--json is --output json)")
      ->check(CLI::IsMember({"table", "json"}));
  app.footer(kSettingsHelp);
  app.add_option("--user", options.user, "log in as this account for this command only");
  auto* from_stdin =
      app.add_flag("--password-stdin", options.password_stdin, "read the password from stdin");
  auto* from_env = app.add_option("--password-env", options.password_env,
                                  "read the password from the environment variable VAR");
  from_stdin->excludes(from_env);
  app.add_flag("--json", options.json, "print results as JSON for scripts");
  app.add_flag(
      "-v,--verbose", options.verbose,
      "print one line per server exchange on stderr: operation, entry point, time, outcome");
  app.add_flag("--trace", options.trace,
               "also print each request and answer on stderr, passwords, keys and random values "
               "masked");
  app.add_option("--color", options.colour, "colour: auto (terminal, no NO_COLOR), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
}

// help [COMMAND...], completion SHELL and --man: the command tree describing itself.
void AddDiscoveryCommands(CLI::App& app, Context& context) {
  auto path = std::make_shared<std::vector<std::string>>();
  auto* help =
      app.add_subcommand("help", "print the help of docsec or of COMMAND (\"help user move\")");
  help->add_option("COMMAND", *path, "a command, with its sub-commands");
  help->callback([&app, &context, path] {
    const CLI::App* command = FindCommand(app, *path);
    if (command == nullptr) {
      std::string typed;
      for (const std::string& word : *path) typed += (typed.empty() ? "" : " ") + word;
      std::vector<std::string> args = *path;
      const std::string hint = UnknownCommandHint(app, args);
      Fail(kExitUsage, hint.empty() ? "no command \"" + typed + "\"" : hint);
    }
    // The formatter, not App::help, which shows the help of the command parsed (this one).
    std::string name = "docsec";
    for (const std::string& word : *path) name += " " + word;
    context.output().out() << command->get_formatter()->make_help(command, name,
                                                                  CLI::AppFormatMode::Normal);
  });

  auto shell = std::make_shared<std::string>();
  auto* completion = app.add_subcommand(
      "completion", "print a completion script: source <(docsec completion bash)");
  completion->add_option("SHELL", *shell, "bash, zsh or fish")
      ->required()
      ->check(CLI::IsMember({"bash", "zsh", "fish"}));
  completion->callback(
      [&app, &context, shell] { context.output().out() << CompletionScript(app, *shell); });

  app.add_flag_callback(
      "--man",
      [&app, &context] {
        context.output().out() << ManPage(app, Version());
        throw CLI::Success();
      },
      "print the manual page (roff) and exit");
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const bool out_terminal = &out == &std::cout && isatty(STDOUT_FILENO);
  const bool err_terminal = &err == &std::cerr && isatty(STDERR_FILENO);
  Context context(out, err, out_terminal, err_terminal);
  CLI::App app{"docsec: the document-security console", "docsec"};
  app.require_subcommand(1);
  app.fallthrough();
  app.set_help_all_flag("--help-all", "print the help of every command");
  app.set_version_flag("--version", std::string("docsec ") + Version(), "print the version");
  AddGlobalOptions(app, context.options());
  for (Registration registration : kRegistrations) registration(app, context);
  AddDiscoveryCommands(app, context);
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "print the summary only, not a line per item");
  // Runs when the whole line parsed, before any command's callback prints.
  app.parse_complete_callback([&context, &quiet] { context.output().set_quiet(quiet); });

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    return kExitOk;
  } catch (const CLI::Success& help) {
    return app.exit(help, out, err);
  } catch (const CLI::ParseError& error) {
    std::ostringstream ignored;
    app.exit(error, ignored, ignored);
    const std::string hint = UnknownCommandHint(app, args);
    context.output().Error(hint.empty() ? error.what() : hint);
    return kExitUsage;
  } catch (const CliError& error) {
    context.output().Error(error.what());
    return error.code();
  } catch (const ComError& error) {
    std::ostringstream text;
    text << "the library failed with code 0x" << std::hex << error.Error();
    context.output().Error(text.str());
    return kExitRefused;
  } catch (const std::exception& error) {
    context.output().Error(error.what());
    return kExitRefused;
  }
}

}  // namespace docsec::cli
