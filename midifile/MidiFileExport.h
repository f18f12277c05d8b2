#pragma once
// Export MIDI, for the window and `pulsewright-cli export` alike: a compiled song written
// as a Standard MIDI File by the rules of fileio/OutputFile.h (never over an input).

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tablature/CompiledDocument.h"

namespace pulsewright {

struct MidiExportResult {
  enum class Status { kDone, kNothingToPlay, kCannotWrite };
  Status status = Status::kDone;
  std::string message;             // why nothing was written; "" when done
  std::size_t samplesLeftOut = 0;  // sample hits a MIDI file cannot hold
};

// Writes the song of `compiled` into `path`, the drums on `channel` (0-15). `inputs` are
// the files the export read, which the output may not be. A song with nothing to play
// writes nothing. `keepGoing`, when given, is asked before each piece is written: once it
// says no, the export stops and leaves the output as it was (kCannotWrite).
MidiExportResult exportMidiFile(const CompiledDocument& compiled, const std::string& path,
                                int channel, const std::vector<std::string>& inputs,
                                const std::function<bool()>& keepGoing = {});

}  // namespace pulsewright
