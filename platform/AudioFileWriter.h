#pragma once
// Writes rendered stereo audio to a file through libsndfile: 16-bit WAV (a name ending in
// .wav or in nothing; RF64 when the data would pass the 4 GB a WAVE header can count),
// or FLAC or Ogg Vorbis when the name ends so; any other ending is refused. The audio
// goes to a temporary file in the same folder, renamed to the name asked for only once it
// is complete: a failed or cancelled render leaves no partial file. The output follows
// the rules of OutputFile (never an input, a device or FIFO written directly).

#include <cstdint>
#include <string>
#include <vector>

#include "fileio/OutputFile.h"

typedef struct sf_private_tag SNDFILE;

namespace pulsewright {

// The libsndfile format for `path` and at most `maxFrames` stereo frames; 0, with the
// reason, when the name's ending is no format written here or the format cannot hold
// that much.
int audioFileFormat(const std::string& path, std::uint64_t maxFrames, std::string* reason);

class AudioFileWriter {
 public:
  AudioFileWriter() = default;
  ~AudioFileWriter() { abort(); }
  AudioFileWriter(const AudioFileWriter&) = delete;
  AudioFileWriter& operator=(const AudioFileWriter&) = delete;

  // False, with the reason in `error`, when the file cannot be made. `maxFrames` bounds
  // what will be written; `inputs` are the files the audio is made from.
  bool open(const std::string& path, int sampleRate, std::uint64_t maxFrames,
            const std::vector<std::string>& inputs, std::string* error);
  // Interleaved stereo frames, full scale 1.0 (clipped beyond).
  bool write(const float* stereo, long frames, std::string* error);
  // Finishes the file and gives it its name.
  bool commit(std::string* error);
  // Removes what was written (nothing happens when nothing is open).
  void abort();

 private:
  SNDFILE* file_ = nullptr;
  OutputFile output_;
};

}  // namespace pulsewright
