#pragma once
// Writing an output so that it never harms what it should not. Before anything is
// written, an output that is the same file as one of the inputs, a folder, a file the
// user may not write, or a FIFO no program reads is refused with a reason. A character
// device or a FIFO (/dev/null, a pipe) and standard output (/dev/stdout, /dev/fd/N) are
// written directly. A symbolic link is followed and its target replaced. A regular file
// is written under a temporary name beside it, within the folder's name limit, and
// renamed over it once complete, so a reader never sees half of it and a failure leaves
// the old file as it was; it keeps its mode, and a new file gets the umask's.

#include <string>
#include <string_view>
#include <vector>

namespace pulsewright {

class OutputFile {
 public:
  enum class Replace {
    kWhole,    // written aside, renamed into place by commit()
    kInPlace,  // truncated and written where it is, for a log read as it grows
  };

  OutputFile() = default;
  ~OutputFile() { abort(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks `path` and opens where its bytes go. `inputs` are the files the job reads
  // ("" is skipped; "-" is standard input, whatever file it was opened on). False with
  // the reason when refused.
  bool open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason,
            Replace replace = Replace::kWhole);
  // Where the bytes go until commit(): -1 when nothing is open.
  int descriptor() const { return fd_; }
  // The file written to until commit(): the temporary file, or the output itself.
  const std::string& writingPath() const { return writing_; }
  bool write(std::string_view bytes, std::string* reason);
  // Flushes to the disk, closes and gives a temporary file its name.
  bool commit(std::string* reason);
  // Closes and removes a temporary file; the output stays as it was.
  void abort();

 private:
  bool openTemporary(const std::string& target, std::string* reason);

  int fd_ = -1;
  bool temporary_ = false;
  bool keepOwner_ = false;
  unsigned keepMode_ = 0;  // the old file's mode; 0 for a new file
  unsigned owner_ = 0, group_ = 0;
  std::string target_;
  std::string writing_;
};

// Whether two output names end in the same file: through links and other spellings of
// the path (a/../a/x), and through hard links once the file exists. Two outputs of one
// job that are the same file would replace each other.
bool sameOutputFile(const std::string& a, const std::string& b);

// The name's ending, lower case with its dot ("song.WAV" gives ".wav"); "" for none.
std::string fileEnding(const std::string& path);

// Writes `bytes` to `path` by the rules above. False with the reason otherwise.
bool writeOutputFile(const std::string& path, std::string_view bytes,
                     const std::vector<std::string>& inputs, std::string* reason);

}  // namespace pulsewright
