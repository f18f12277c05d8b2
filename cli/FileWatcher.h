#pragma once
// Tells when a file may have changed on disk. The file's folder is watched rather than the
// file, so an editor that saves by writing a new file and renaming it over the old one is
// seen as well as one that writes in place, and so is a file deleted and written again.
// A symbolic link is followed: the link's folder and the folder of every file it leads to
// are watched, so a save of the file behind the link is seen, and so is the link pointed
// elsewhere. A folder deleted or renamed away is watched again once a folder of its name
// is back.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

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
  // One folder on the way from the path to the file, and the name looked for in it.
  struct Watch {
    std::string folder;
    std::string name;
    int descriptor = -1;  // -1 while the folder is missing
    dev_t device = 0;
    ino_t inode = 0;
    int error = 0;  // why it is missing
  };
  // Brings the watches in line with the links and folders as they now are; true when a
  // folder came back (or a link now leads elsewhere) and the file is there: it may have
  // been written while it was not watched.
  bool rearm(bool initial);
  // Reads what the system has queued; true when any of it is about the file.
  bool drain();

  int fd_ = -1;
  std::string path_;
  std::vector<Watch> watches_;
  std::string error_;
};

}  // namespace pulsewright
