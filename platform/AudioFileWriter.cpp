#include "platform/AudioFileWriter.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pulsewright {

namespace {

// The file's ending, lower case with its dot; "" when the name has none.
std::string endingOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ending = path.substr(dot);
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ending;
}

// 0 for an ending that names some other format: a file called "song.mp3" that holds a
// WAVE would be a wrong result, not a choice.
int formatFor(const std::string& path) {
  const std::string ending = endingOf(path);
  if (ending.empty() || ending == "." || ending == ".wav" || ending == ".wave") {
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  }
  if (ending == ".flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  if (ending == ".ogg" || ending == ".oga") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  return 0;
}

}  // namespace

bool AudioFileWriter::open(const std::string& path, int sampleRate, std::string* error) {
  abort();
  const int format = formatFor(path);
  if (format == 0) {
    *error =
        "\"" + endingOf(path) + "\" is no format written here: name the file .wav, .flac or .ogg";
    return false;
  }
  std::string pattern = path + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0644);
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = format;
  file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  temporary_ = pattern;
  if (!file_) {
    *error = sf_strerror(nullptr);
    ::close(fd);
    ::unlink(temporary_.c_str());
    temporary_.clear();
    return false;
  }
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  path_ = path;
  return true;
}

bool AudioFileWriter::write(const float* stereo, long frames, std::string* error) {
  if (!file_) return false;
  if (sf_writef_float(file_, stereo, frames) != frames) {
    *error = sf_strerror(file_);
    if (error->empty() || *error == "No Error.") *error = std::strerror(errno ? errno : EIO);
    return false;
  }
  return true;
}

bool AudioFileWriter::commit(std::string* error) {
  if (!file_) return false;
  sf_write_sync(file_);
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    *error = sf_error_number(closed);
    abort();
    return false;
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    *error = std::strerror(errno);
    abort();
    return false;
  }
  temporary_.clear();
  return true;
}

void AudioFileWriter::abort() {
  if (file_) sf_close(file_);
  file_ = nullptr;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace pulsewright
