#pragma once
// pulsewright-cli: compiles and checks tablature from a terminal.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// Largest document or pad-map file read; anything larger is refused.
inline constexpr std::size_t kMaxInputBytes = std::size_t{256} << 20;

// Reads a whole regular file ("-" is standard input). On failure returns false and a
// reason ("No such file or directory", "not a regular file", "larger than ...").
bool readInputBytes(const std::string& path, std::istream& stdinStream, std::string* bytes,
                    std::string* reason);

// Runs one command line (args without the program name); returns the exit status.
int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace pulsewright
