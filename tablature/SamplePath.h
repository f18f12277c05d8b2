#pragma once
// Where a sample file named in a document is read from.

#include <string>

namespace pulsewright {

// A relative `path` is looked for in `documentFolder` first, as a user who keeps the
// samples beside the document expects, then where the program runs; an absolute path, or
// a path with no document folder, is taken as written.
std::string samplePathFrom(const std::string& path, const std::string& documentFolder);

}  // namespace pulsewright
