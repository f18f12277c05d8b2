#pragma once
// Writes rendered stereo audio to a file through libsndfile: 16-bit WAV (a name ending in
// .wav or in nothing), or FLAC or Ogg Vorbis when the name ends so; any other ending is
// refused. The audio goes to a temporary file in the same folder, renamed to the name
// asked for only once it is complete: a failed or cancelled render leaves no partial file.

#include <string>

typedef struct sf_private_tag SNDFILE;

namespace pulsewright {

class AudioFileWriter {
 public:
  AudioFileWriter() = default;
  ~AudioFileWriter() { abort(); }
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // False, with the system's reason in `error`, when the file cannot be made.
  bool open(const std::string& path, int sampleRate, std::string* error);
  // Interleaved stereo frames, full scale 1.0 (clipped beyond).
  bool write(const float* stereo, long frames, std::string* error);
  // Finishes the file and gives it its name.
  bool commit(std::string* error);
  // Removes what was written (nothing happens when nothing is open).
  void abort();

 private:
  SNDFILE* file_ = nullptr;
  std::string path_;
  std::string temporary_;
};

}  // namespace pulsewright
