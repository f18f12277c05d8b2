#include "fileio/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>

namespace pulsewright {

namespace {

constexpr int kMaxLinkHops = 40;

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The descriptor a name for standard output or another open descriptor stands for
// ("/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"); -1 for any other name.
int standardDescriptorOf(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t n = std::strlen(prefix);
    if (path.size() > n && path.size() < n + 6 && path.compare(0, n, prefix) == 0 &&
        std::all_of(path.begin() + static_cast<long>(n), path.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      return std::stoi(path.substr(n));
    }
  }
  return -1;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The input `info` is, or "". "-" is standard input, which the shell may have opened on
// a file (`< song.tab`).
std::string inputMatching(const struct stat& info, const std::vector<std::string>& inputs) {
  if (!S_ISREG(info.st_mode)) return {};
  for (const std::string& input : inputs) {
    if (input.empty()) continue;
    struct stat in {};
    const int got = input == "-" ? ::fstat(STDIN_FILENO, &in) : ::stat(input.c_str(), &in);
    if (got == 0 && sameFile(in, info)) return input;
  }
  return {};
}

std::string sameAsInput(const std::string& input) {
  return "it is the input " + (input == "-" ? std::string("read as standard input") : input) +
         ": writing it would destroy what is being read";
}

std::string randomLetters(std::size_t n) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string s(n, 'x');
  for (char& c : s) c = kLetters[pick(random)];
  return s;
}

// Where the links from `path` lead (the path itself when it is none), as open() follows
// them; "" when a link cannot be read or they go round.
std::string followLinks(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n <= 0) return {};
    link.resize(static_cast<std::size_t>(n));
    target = link.front() == '/' ? link : folderOf(target).append("/").append(link);
  }
  return {};
}

}  // namespace

bool sameOutputFile(const std::string& a, const std::string& b) {
  const std::string targetA = followLinks(a);
  const std::string targetB = followLinks(b);
  if (targetA.empty() || targetB.empty()) return a == b;
  struct stat infoA {};
  struct stat infoB {};
  if (::stat(targetA.c_str(), &infoA) == 0 && ::stat(targetB.c_str(), &infoB) == 0) {
    return sameFile(infoA, infoB);
  }
  std::error_code error;
  const std::filesystem::path canonicalA = std::filesystem::weakly_canonical(targetA, error);
  if (error) return a == b;
  const std::filesystem::path canonicalB = std::filesystem::weakly_canonical(targetB, error);
  if (error) return a == b;
  return canonicalA == canonicalB;
}

bool OutputFile::open(const std::string& path, const std::vector<std::string>& inputs,
                      std::string* reason, Replace replace) {
  abort();
  if (path.empty() || path.back() == '/') {
    *reason = "no file name";
    return false;
  }
  if (const int fd = standardDescriptorOf(path); fd >= 0) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      *reason = std::strerror(errno);
      return false;
    }
    if (const std::string input = inputMatching(info, inputs); !input.empty()) {
      *reason = sameAsInput(input);
      return false;
    }
    // The same open file the shell gave: its position and append mode stay as they are.
    fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0) {
      *reason = std::strerror(errno);
      return false;
    }
    writing_ = target_ = path;
    return true;
  }

  // A symbolic link is followed to what it names, which may not exist yet.
  std::string target = path;
  struct stat info {};
  bool exists = false;
  for (int hops = 0;; ++hops) {
    if (::lstat(target.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        *reason = std::strerror(errno);
        return false;
      }
      break;
    }
    if (!S_ISLNK(info.st_mode)) {
      exists = true;
      break;
    }
    if (hops == kMaxLinkHops) {
      *reason = std::strerror(ELOOP);
      return false;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) {
      *reason = std::strerror(errno);
      return false;
    }
    link.resize(static_cast<std::size_t>(n));
    if (link.front() == '/') {
      target = link;
    } else {
      target = folderOf(target).append("/").append(link);
    }
  }
  target_ = target;

  if (exists) {
    if (S_ISDIR(info.st_mode)) {
      *reason = "a folder, not a file";
      return false;
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
      // Written as it is: a device or a pipe cannot be replaced, only fed. A FIFO that
      // no program reads would block the open for ever.
      fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fd_ < 0) {
        *reason = errno == ENXIO ? "a FIFO that no program is reading" : std::strerror(errno);
        return false;
      }
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
      writing_ = target;
      return true;
    }
    if (!S_ISREG(info.st_mode)) {
      *reason = "not a regular file, a character device or a FIFO";
      return false;
    }
    if (const std::string input = inputMatching(info, inputs); !input.empty()) {
      *reason = sameAsInput(input);
      return false;
    }
    // The owner may write past the mode; a file marked read-only for everyone is not
    // replaced, even by root.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      *reason = std::strerror(errno);
      return false;
    }
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      *reason = std::string(std::strerror(EACCES)) + ": the file is read-only";
      return false;
    }
    keepMode_ = info.st_mode & 07777;
    keepOwner_ = info.st_uid != ::geteuid() || info.st_gid != ::getegid();
    owner_ = info.st_uid;
    group_ = info.st_gid;
  }

  if (replace == Replace::kInPlace) {
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      *reason = std::strerror(errno);
      return false;
    }
    writing_ = target;
    return true;
  }
  return openTemporary(target, reason);
}

bool OutputFile::openTemporary(const std::string& target, std::string* reason) {
  const std::string folder = folderOf(target);
  const std::string name = nameOf(target);
  long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = NAME_MAX;
  // "." + name + "." + 6 letters: the name is shortened to fit the folder's limit.
  const std::size_t keep = std::min(name.size(), static_cast<std::size_t>(std::max(1L, limit - 8)));
  const std::string stem = (folder == "/" ? "/." : folder + "/.") + name.substr(0, keep) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = stem + randomLetters(6);
    // Mode 0666 less the umask, as any new file gets; an old file's mode comes at commit.
    fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      writing_ = candidate;
      temporary_ = true;
      return true;
    }
    if (errno != EEXIST) break;
  }
  *reason = std::strerror(errno);
  return false;
}

bool OutputFile::write(std::string_view bytes, std::string* reason) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *reason = std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool OutputFile::commit(std::string* reason) {
  if (fd_ < 0) {
    *reason = "not open";
    return false;
  }
  auto fail = [&](int error) {
    *reason = std::strerror(error);
    abort();
    return false;
  };
  if (temporary_) {
    if (keepMode_ != 0 && ::fchmod(fd_, keepMode_) != 0) return fail(errno);
    // Root replacing another user's file leaves it theirs; anyone else cannot, and the
    // file becomes theirs as a new one would.
    if (keepOwner_) (void)::fchown(fd_, owner_, group_);
    if (::fsync(fd_) != 0) return fail(errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    const int error = errno;
    if (temporary_) ::unlink(writing_.c_str());
    temporary_ = false;
    *reason = std::strerror(error);
    return false;
  }
  if (temporary_ && ::rename(writing_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    ::unlink(writing_.c_str());
    temporary_ = false;
    *reason = std::strerror(error);
    return false;
  }
  temporary_ = false;
  return true;
}

void OutputFile::abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (temporary_) ::unlink(writing_.c_str());
  temporary_ = false;
  keepMode_ = 0;
  keepOwner_ = false;
}

std::string fileEnding(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ending = path.substr(dot);
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ending;
}

bool writeOutputFile(const std::string& path, std::string_view bytes,
                     const std::vector<std::string>& inputs, std::string* reason) {
  OutputFile file;
  return file.open(path, inputs, reason) && file.write(bytes, reason) && file.commit(reason);
}

}  // namespace pulsewright
