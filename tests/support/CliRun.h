#pragma once
// Runs pulsewright-cli in this process, as the shell would, and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApp.h"

namespace pulsewright::test {

struct CliRun {
  int status = -1;
  std::string out, err;
};

// `input` is what the program reads as its standard input.
inline CliRun cli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  CliRun r;
  r.status = runCli(args, in, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace pulsewright::test
