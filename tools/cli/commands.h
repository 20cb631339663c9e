// The commands of the docsec console, each family registered by one function.
//
// Adding a command family: write `void RegisterXCommand(CLI::App& app, Context& context)` in a
// file of its own (commands_x.cc), declare it below, and add its name to kRegistrations in cli.cc
// (one line). The function adds its subcommand(s) to `app` with CLI11 and a callback that does
// the work through `context`: Context::User()/Tree() to log in and load, the look-ups to find what
// the user named, Context::output() to print (tables, --json records, progress lines), and CliError
// (Fail, Context::Refused) to end with an exit status. The callback runs after the whole command
// line parsed, on the calling thread; the context outlives it.
#ifndef DOCSEC_TOOLS_CLI_COMMANDS_H_
#define DOCSEC_TOOLS_CLI_COMMANDS_H_

#include <CLI/CLI.hpp>

#include "tools/cli/context.h"

namespace docsec {
class CDOAgentFile;
}

namespace docsec::cli {

// login, logout, passwd.
void RegisterSessionCommands(CLI::App& app, Context& context);
// tree, users, positions, computers.
void RegisterListingCommands(CLI::App& app, Context& context);
// dept, user, computer, position, appoint, revoke, ipseg.
void RegisterChangeCommands(CLI::App& app, Context& context);
// ls, find, encrypt, decrypt, relabel.
void RegisterFileCommands(CLI::App& app, Context& context);
// levels, apps, policy, default-levels, file-auth.
void RegisterPolicyCommands(CLI::App& app, Context& context);
// logs, scanlogs, scan-settings, sysop, outbox.
void RegisterLogCommands(CLI::App& app, Context& context);

// The file or folder at `path` ("C:/docs/a.txt") on a computer whose agent runs; usage error when
// there is none. Owned by the computer's cached remote tree.
CDOAgentFile& FindItem(CDOComputer& computer, const std::string& path);

// Families kept in their own files by their maintainers.
void RegisterProbeCommand(CLI::App& app, Context& context);
void RegisterExplainCommand(CLI::App& app, Context& context);
void RegisterDemoCommand(CLI::App& app, Context& context);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_COMMANDS_H_
