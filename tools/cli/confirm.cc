#include "tools/cli/confirm.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>

namespace docsec::cli {

void AddSafetyOptions(CLI::App* command, Safety& safety) {
  command->add_flag("-y,--yes", safety.yes, "do it without asking (needed without a terminal)");
  command->add_flag("--dry-run", safety.dry_run, "print what would be sent and send nothing");
}

bool Confirm(Context& context, const Safety& safety, const std::string& action,
             const std::string& request) {
  Output& output = context.output();
  if (safety.dry_run) {
    output.Report({{"dryRun", true}, {"action", action}, {"request", request}},
                  "would " + action + " (request " + request + "); nothing was sent (--dry-run)");
    return false;
  }
  if (safety.yes) return true;
  if (!isatty(STDIN_FILENO) || !context.err_terminal()) {
    Fail(kExitUsage, "refusing to " + action +
                         " without confirmation: no terminal to ask on; "
                         "add --yes to do it (or --dry-run to see what would be sent)");
  }
  output.err() << action << "? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) answer.clear();
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (answer != "y" && answer != "yes") Fail(kExitUsage, "not confirmed; nothing was sent");
  return true;
}

}  // namespace docsec::cli
