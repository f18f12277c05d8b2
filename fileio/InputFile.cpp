#include "fileio/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pulsewright {

std::string sizeLimitReason(std::size_t maxBytes) {
  if (maxBytes >= (std::size_t{1} << 20)) {
    return "larger than " + std::to_string(maxBytes >> 20) + " MB";
  }
  return "larger than " + std::to_string(maxBytes) + " bytes";
}

int openRegularFile(const std::string& path, off_t* size, std::string* reason) {
  // Non-blocking, so opening a FIFO with no writer returns at once; the type is checked
  // on the opened file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    *reason = std::strerror(errno);
  } else if (!S_ISREG(info.st_mode)) {
    *reason = "not a regular file";
  } else {
    *size = info.st_size;
    return fd;
  }
  ::close(fd);
  return -1;
}

bool readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                     std::string* reason) {
  bytes->clear();
  off_t size = 0;
  const int fd = openRegularFile(path, &size, reason);
  if (fd < 0) return false;
  bool ok = false;
  if (static_cast<std::uintmax_t>(size) > maxBytes) {
    *reason = sizeLimitReason(maxBytes);
  } else {
    ok = true;
    // One byte more than the size, to see a file that grew past the bound meanwhile.
    bytes->resize(static_cast<std::size_t>(size) + 1);
    std::size_t done = 0;
    for (;;) {
      if (done == bytes->size()) {
        if (done > maxBytes) break;
        bytes->resize(std::min(maxBytes + 1, done * 2 + 4096));
      }
      const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *reason = std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes->resize(done);
    if (ok && done > maxBytes) {
      *reason = sizeLimitReason(maxBytes);
      ok = false;
    }
  }
  ::close(fd);
  if (!ok) bytes->clear();
  return ok;
}

}  // namespace pulsewright
