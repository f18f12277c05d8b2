#include "cli/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pulsewright {

namespace {

// The mode a new file gets from open(): 0666 less the umask, or the old file's mode.
mode_t modeFor(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return info.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool writeFileReplacing(const std::string& path, std::string_view bytes, std::string* reason) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    *reason = "no file name";
    return false;
  }
  std::string temp = dir + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    *reason = std::strerror(error);
    return false;
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, modeFor(path)) != 0 || ::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    *reason = std::strerror(error);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    *reason = std::strerror(error);
    return false;
  }
  return true;
}

}  // namespace pulsewright
