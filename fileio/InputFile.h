#pragma once
// Whole-file reads with a bound: a FIFO with no writer, a device or a folder is refused
// without waiting on it, and a file larger than asked is refused before it is read.

#include <cstddef>
#include <string>

namespace pulsewright {

// Reads the regular file `path` of at most `maxBytes` into `bytes`. False with a reason
// ("No such file or directory", "not a regular file", "larger than 64 MB") otherwise.
bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                     std::string* reason);

// "larger than 64 MB": the reason a file over `maxBytes` is refused.
std::string sizeLimitReason(std::size_t maxBytes);

}  // namespace pulsewright
