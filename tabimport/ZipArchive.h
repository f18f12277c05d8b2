#pragma once
// Reads one file out of a ZIP archive held in memory (stored or deflated), as a
// compressed MusicXML file (.mxl) is one.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pulsewright {

bool looksLikeZipArchive(std::string_view bytes);

// The names of the archive's files, in the order of its central directory; none when
// the bytes are no readable archive (`error` says why).
std::optional<std::vector<std::string>> zipEntryNames(std::string_view archive, std::string* error);

// The contents of the file `name`; none when it is missing, too large (over `maxBytes`)
// or damaged, with `error` saying which.
std::optional<std::string> readZipEntry(std::string_view archive, std::string_view name,
                                        std::size_t maxBytes, std::string* error);

}  // namespace pulsewright
