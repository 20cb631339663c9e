// Confirmation for commands that destroy or replace what the server holds (removing users,
// departments, positions, IP segments, computers' approval; replacing a department's policies).
//
// A person at a terminal is asked; a script must say --yes, so that a command line typed into the
// wrong script never removes anything unasked; --dry-run prints what would be sent and sends
// nothing. Thread safety: one thread at a time (reads stdin).
#ifndef DOCSEC_TOOLS_CLI_CONFIRM_H_
#define DOCSEC_TOOLS_CLI_CONFIRM_H_

#include <CLI/CLI.hpp>
#include <string>

#include "tools/cli/context.h"

namespace docsec::cli {

struct Safety {
  bool yes = false;
  bool dry_run = false;
};

// Adds --yes and --dry-run to a destructive command.
void AddSafetyOptions(CLI::App* command, Safety& safety);

// Call after the look-ups and before the first change request. `action` says what the command
// would do ("remove user zed from /Demo Corp/Sales"), `request` the server request it sends
// ("DelUser"). Returns true to go on. Under --dry-run prints the action and the request (a JSON
// record under --json) and returns false: the caller sends nothing. Without --yes: on a terminal
// (stdin and stderr) asks and goes on only on "y" or "yes"; otherwise, or when the answer is no,
// throws CliError with exit 2, nothing sent.
bool Confirm(Context& context, const Safety& safety, const std::string& action,
             const std::string& request);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_CONFIRM_H_
