// The exit statuses of the docsec console. Scripts branch on them, so the numbers never change.
#ifndef DOCSEC_TOOLS_CLI_EXIT_CODES_H_
#define DOCSEC_TOOLS_CLI_EXIT_CODES_H_

namespace docsec::cli {

enum ExitCode {
  kExitOk = 0,           // everything asked for was done
  kExitRefused = 1,      // the server refused (its code is printed), or the request failed
  kExitUsage = 2,        // the command line was wrong; nothing was sent
  kExitUnreachable = 3,  // the server or a computer's agent did not answer
  kExitPartial = 4,      // some items were done and others failed
};

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_EXIT_CODES_H_
