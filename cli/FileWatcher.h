#pragma once
// Tells when a file may have changed on disk. The file's folder is watched rather than the
// file, so an editor that saves by writing a new file and renaming it over the old one is
// seen as well as one that writes in place, and so is a file deleted and written again.

#include <chrono>
#include <string>

namespace pulsewright {

class FileWatcher {
 public:
  // Starts watching; error() says why when it cannot.
  explicit FileWatcher(const std::string& path);
  ~FileWatcher();
  FileWatcher(const FileWatcher&) = delete;
  FileWatcher& operator=(const FileWatcher&) = delete;

  // "" while the file is watched.
  const std::string& error() const { return error_; }
  // Waits up to `timeout` for the file to be written, replaced, deleted or to change its
  // permissions; true when it was. Changes that came together count once.
  bool wait(std::chrono::milliseconds timeout);

 private:
  // Reads what the system has queued; true when any of it is about the file.
  bool drain();

  int fd_ = -1;
  std::string name_;
  std::string error_;
};

}  // namespace pulsewright
