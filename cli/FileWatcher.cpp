#include "cli/FileWatcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace pulsewright {

namespace {

constexpr int kMaxLinkHops = 40;
// IN_MODIFY as well as IN_CLOSE_WRITE: a save written in pieces is seen piece by piece,
// so that whoever waits for it to settle waits for the last.
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_MOVED_TO |
                                  IN_MOVED_FROM | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF |
                                  IN_MOVE_SELF;

// The folders and names from `path` along the links it leads through, the path's own
// first.
std::vector<std::pair<std::string, std::string>> linkChainOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::vector<std::pair<std::string, std::string>> chain;
  fs::path at(path);
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    std::string folder = at.parent_path().string();
    if (folder.empty()) folder = ".";
    chain.emplace_back(folder, at.filename().string());
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(at, error))) break;
    const fs::path target = fs::read_symlink(at, error);
    if (error) break;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return chain;
}

}  // namespace

FileWatcher::FileWatcher(const std::string& path) : path_(path) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return;
  }
  rearm(true);
  const Watch& own = watches_.front();
  if (own.descriptor < 0) {
    error_ = own.folder + ": " + std::strerror(own.error);
    ::close(fd_);
    fd_ = -1;
  }
}

FileWatcher::~FileWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileWatcher::rearm(bool initial) {
  bool armedAgain = false;
  std::vector<Watch> wanted;
  for (auto& [folderName, name] : linkChainOf(path_)) {
    // A plain name: lambdas below capture it, which they may not do to a binding.
    const std::string folder = folderName;
    Watch watch{folder, name};
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      watch.error = errno;
    } else if (!S_ISDIR(info.st_mode)) {
      watch.error = ENOTDIR;
    } else {
      watch.device = info.st_dev;
      watch.inode = info.st_ino;
      // The same folder as before keeps its watch; one renamed away, or gone and made
      // again, is a new folder.
      const auto kept = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& w) {
        return w.descriptor >= 0 && w.folder == folder && w.device == info.st_dev &&
               w.inode == info.st_ino;
      });
      if (kept != watches_.end()) {
        watch.descriptor = kept->descriptor;
      } else {
        watch.descriptor = ::inotify_add_watch(fd_, folder.c_str(), kEvents);
        if (watch.descriptor < 0) watch.error = errno;
        armedAgain = armedAgain || (watch.descriptor >= 0 && !initial);
      }
    }
    wanted.push_back(std::move(watch));
  }
  // A watch no longer on the way is given up (one that two entries share stays).
  for (const Watch& old : watches_) {
    if (old.descriptor < 0) continue;
    const bool stillWanted = std::any_of(wanted.begin(), wanted.end(), [&](const Watch& w) {
      return w.descriptor == old.descriptor;
    });
    if (!stillWanted) ::inotify_rm_watch(fd_, old.descriptor);
  }
  watches_ = std::move(wanted);
  return armedAgain && ::access(path_.c_str(), F_OK) == 0;
}

bool FileWatcher::drain() {
  bool touched = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_Q_OVERFLOW) != 0) touched = true;
      for (Watch& w : watches_) {
        if (w.descriptor != event->wd) continue;
        // The folder itself going counts: the file went with it.
        if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0 ||
            (event->len > 0 && w.name == event->name)) {
          touched = true;
        }
        // The system dropped the watch (its folder was deleted): a folder made again
        // under the name, even one given the same inode number, is watched anew.
        if ((event->mask & IN_IGNORED) != 0) w.descriptor = -1;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return touched;
}

bool FileWatcher::wait(std::chrono::milliseconds timeout) {
  if (fd_ < 0) return false;
  // Events about other files in the folders (a log written beside the document) wake
  // the wait but do not end it: the whole time is waited unless the file is touched.
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    // A folder that came back, or a link that leads elsewhere now, is watched from here on.
    if (rearm(false)) {
      drain();
      return true;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
    if (drain()) return true;
  }
}

}  // namespace pulsewright
