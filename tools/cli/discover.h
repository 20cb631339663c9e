// What makes the console discoverable, all generated from its CLI11 command tree so that a new
// command or option appears everywhere without being written twice: shell completion scripts, the
// manual page, and the "did you mean" suggestion for a mistyped command.
//
// Thread safety: the functions read the tree; one thread at a time.
#ifndef DOCSEC_TOOLS_CLI_DISCOVER_H_
#define DOCSEC_TOOLS_CLI_DISCOVER_H_

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace docsec::cli {

// The completion script for `shell` ("bash", "zsh" or "fish"): it completes command names at every
// level and the options of the command typed so far. "" for another shell.
std::string CompletionScript(const CLI::App& app, const std::string& shell);

// The manual page in roff (man(7)): NAME, SYNOPSIS, DESCRIPTION, OPTIONS, COMMANDS (every command
// with its arguments and options), EXIT STATUS, ENVIRONMENT, FILES.
std::string ManPage(const CLI::App& app, const std::string& version);

// For a command line CLI11 refused: the first word that is not a command where a command is
// expected, with the commands close to it: "unknown command \"tre\"; did you mean tree?" ("" when
// the line has no such word). Options and their values are skipped.
std::string UnknownCommandHint(const CLI::App& app, const std::vector<std::string>& args);

// The commands of `app` (not "help" itself) whose names are within two edits of `word`, or start
// with it, nearest first.
std::vector<std::string> SimilarCommands(const CLI::App& app, const std::string& word);

// The (sub)command that `path` names below `app` ({"user", "remove"}), or null.
const CLI::App* FindCommand(const CLI::App& app, const std::vector<std::string>& path);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_DISCOVER_H_
