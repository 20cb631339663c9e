// docsec: the document-security console on the command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/cli/cli.h"

int main(int argc, char** argv) {
  return docsec::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
