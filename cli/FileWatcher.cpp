#include "cli/FileWatcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace pulsewright {

FileWatcher::FileWatcher(const std::string& path) {
  const std::filesystem::path file(path);
  name_ = file.filename().string();
  std::string folder = file.parent_path().string();
  if (folder.empty()) folder = ".";
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return;
  }
  const std::uint32_t mask =
      IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF;
  if (::inotify_add_watch(fd_, folder.c_str(), mask) < 0) {
    error_ = folder + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
  }
}

FileWatcher::~FileWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileWatcher::drain() {
  bool touched = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      // The folder itself going counts: the file went with it.
      if ((event->mask & (IN_DELETE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) != 0 ||
          (event->len > 0 && name_ == event->name)) {
        touched = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return touched;
}

bool FileWatcher::wait(std::chrono::milliseconds timeout) {
  if (fd_ < 0) return false;
  pollfd entry{fd_, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return false;
  return drain();
}

}  // namespace pulsewright
