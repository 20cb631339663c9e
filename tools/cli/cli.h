// The docsec console as a function, so that a program (docsec's own main, the guided demo, tests)
// runs commands in-process and captures what they print.
//
// Thread safety: one call at a time per process: the console configures the process-wide server
// transport and the library's last-error word.
#ifndef DOCSEC_TOOLS_CLI_CLI_H_
#define DOCSEC_TOOLS_CLI_CLI_H_

#include <ostream>
#include <string>
#include <vector>

namespace docsec::cli {

// Runs the console on `args` (without the program name), printing results on `out` and errors on
// `err`, and returns the exit status (tools/cli/exit_codes.h). Never throws: every failure is one
// line on `err`. Colour and progress lines appear only when the streams are std::cout / std::cerr
// on a terminal.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_CLI_H_
