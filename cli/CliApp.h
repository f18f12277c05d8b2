#pragma once
// pulsewright-cli: compiles and checks tablature from a terminal.

#include <iosfwd>

#include "padmap/PadMap.h"
#include <string>
#include <vector>

namespace pulsewright {

// Largest document or pad-map file read; anything larger is refused.
inline constexpr std::size_t kMaxInputBytes = std::size_t{256} << 20;

// Reads a whole regular file ("-" is standard input). On failure returns false and a
// reason ("No such file or directory", "not a regular file", "larger than ...").
bool readInputBytes(const std::string& path, std::istream& stdinStream, std::string* bytes,
                    std::string* reason);

// "--preset 1|2" and "--padmap FILE.drm" at args[*i] (moving *i past its value): true
// when args[*i] is one of them and *padMap was set; false with *error set when it is one
// of them but unusable; false with *error empty when it is another argument.
bool parsePadMapOption(const std::vector<std::string>& args, std::size_t* i, std::istream& in,
                       PadMap* padMap, std::string* error);

// Runs one command line (args without the program name); returns the exit status.
int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace pulsewright
