#pragma once
// Writing a whole output file so that a reader never sees half of it and a failed write
// leaves the old file as it was.

#include <string>
#include <string_view>

namespace pulsewright {

// Writes `bytes` to a temporary file beside `path` and renames it over `path`. On
// failure the temporary file is removed, `path` is untouched and *reason says why.
bool writeFileReplacing(const std::string& path, std::string_view bytes, std::string* reason);

}  // namespace pulsewright
