#pragma once
// pulsewright-cli: compiles, checks and plays tablature from a terminal.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// Runs one command line (args without the program name); returns the exit status.
int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace pulsewright
