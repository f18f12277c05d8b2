#pragma once
// Whole-file reads with a bound: a FIFO with no writer, a device or a folder is refused
// without waiting on it, and a file larger than asked is refused before it is read.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace pulsewright {

// Reads the regular file `path` of at most `maxBytes` into `bytes`. False with a reason
// ("No such file or directory", "not a regular file", "larger than 64 MB") otherwise.
bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                     std::string* reason);

// Opens `path` for reading if it is a regular file, without waiting on a FIFO or a
// device: the descriptor, with the file's size in `size`, or -1 with the reason.
int openRegularFile(const std::string& path, off_t* size, std::string* reason);

// "larger than 64 MB": the reason a file over `maxBytes` is refused.
std::string sizeLimitReason(std::size_t maxBytes);

}  // namespace pulsewright
