#pragma once
// pulsewright-cli import: turns a web drum tab into a tablature document.

#include <iosfwd>
#include <string>
#include <vector>

namespace pulsewright {

// The command's synopsis, after "pulsewright-cli ".
inline constexpr char kImportUsage[] = "import TAB.txt [-o OUT.tab] [--tempo BPM]\n";

// Writes the document to OUT.tab (standard output without -o) and the warnings to `err`.
// Exit status 0, 1 when the tab has no drum tab lines (nothing is written), 2 when the
// arguments, the input or the output fail.
int runImportCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

}  // namespace pulsewright
