#include "platform/AudioFileWriter.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

namespace pulsewright {

namespace {

// What a WAVE header's 32-bit sizes can count, less room for the header's own chunks.
constexpr std::uint64_t kWaveDataLimit = 0xFFFFFFFFull - 4096;
// FLAC counts samples in 36 bits.
constexpr std::uint64_t kFlacFrameLimit = (std::uint64_t{1} << 36) - 1;
constexpr std::uint64_t kBytesPerFrame = 4;  // 16-bit stereo

}  // namespace

// An ending that names some other format is refused: a file called "song.mp3" that holds
// a WAVE would be a wrong result, not a choice.
int audioFileFormat(const std::string& path, std::uint64_t maxFrames, std::string* reason) {
  const std::string ending = fileEnding(path);
  if (ending.empty() || ending == "." || ending == ".wav" || ending == ".wave") {
    const int container =
        maxFrames * kBytesPerFrame > kWaveDataLimit ? SF_FORMAT_RF64 : SF_FORMAT_WAV;
    return container | SF_FORMAT_PCM_16;
  }
  if (ending == ".flac") {
    if (maxFrames > kFlacFrameLimit) {
      *reason = "a FLAC file cannot hold " + std::to_string(maxFrames) +
                " frames: name the file .wav or .ogg";
      return 0;
    }
    return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  }
  if (ending == ".ogg" || ending == ".oga") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  *reason = "\"" + ending + "\" is no format written here: name the file .wav, .flac or .ogg";
  return 0;
}

bool AudioFileWriter::open(const std::string& path, int sampleRate, std::uint64_t maxFrames,
                           const std::vector<std::string>& inputs, std::string* error) {
  abort();
  const int format = audioFileFormat(path, maxFrames, error);
  if (format == 0) return false;
  if (!output_.open(path, inputs, error)) return false;
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  info.format = format;
  file_ = sf_open_fd(output_.descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (!file_) {
    *error = sf_strerror(nullptr);
    output_.abort();
    return false;
  }
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
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
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    *error = sf_error_number(closed);
    abort();
    return false;
  }
  return output_.commit(error);
}

void AudioFileWriter::abort() {
  if (file_) sf_close(file_);
  file_ = nullptr;
  output_.abort();
}

}  // namespace pulsewright
